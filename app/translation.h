// Localisation through the language file "langs.dat": one section per language, keys
// for the run-time texts (STR_...) and for the forms' captions, hints, columns and items.
//
// Lookups follow the file as it is (a changed file is read afresh); a key that is missing or empty in the current
// language is written back with its built-in text, so running the program once in a new
// language fills that section for a translator. A file that cannot be written only
// means the built-in texts are used; nothing is ever shown to the user from here.
#pragma once

#include "strings.h"
#include "vcl/SysUtils.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <mutex>

class QWidget;

class TTranslator {
public:
    static constexpr const char* DefaultLanguage = "English";

    // An empty file name means "langs.dat" beside the executable.
    explicit TTranslator(QString fileName = QString(), QString languageName = QString::fromLatin1(DefaultLanguage));

    QString FileName() const;
    void SetFileName(const QString& fileName) { fileName_ = fileName; }
    static QString DefaultFileName();

    QString LanguageName() const { return languageName_; }
    // An empty name keeps the default language: an empty section name cannot be stored.
    void SetLanguageName(const QString& name);
    // Takes the registry's "Language" value when it exists; true when it did.
    bool LoadLanguageName();

    // The current language's text for key; an empty key gives the default unchanged.
    QString TranslateText(const QString& key, const QString& defaultText) const;
    QString Text(const StrKey& key) const {
        return TranslateText(QString::fromUtf8(key.key), QString::fromUtf8(key.text));
    }

    // Translates a form in place. Keys are "<form>_Caption" for its title and
    // "<form>_<object name>" for its parts, "_<n>" added per column or item and "_Hint" for
    // hints. Covered: actions (text; hint = status tip), push and tool buttons without a
    // default action (text and tool tip), tree and table header columns, combo-box items
    // (not those of "cbLanguage"), and any label, check box, radio button or group box
    // with a non-empty text. Menus, menu bars, tool bars, tab pages and stacked pages
    // keep their designed texts, except that the main window's menu-bar headers are
    // numbered in pre-order as "<form>_ActionManager_<n>".
    void TranslateForm(QWidget* form) const;

    // The language sections of the file, in file order.
    QStringList Languages() const;

private:
    // What the language file looked like when the cached texts were read from it.
    struct TFileStamp {
        QString FileName;
        QString Language;
        bool Exists = false;
        qint64 Size = 0;
        std::int64_t Modified = 0;
        // Writes replace the file, so a new inode tells an edit apart even within one tick of
        // the file system's clock.
        std::uint64_t Inode = 0;
        std::int64_t Changed = 0;
        bool operator==(const TFileStamp&) const = default;
    };
    TFileStamp Stamp() const;

    QString fileName_;
    QString languageName_;
    // Texts already read: the station shows a status text per device, and reading the
    // whole file for each would cost more than the device's database work.
    mutable std::mutex cacheMutex_;
    mutable TFileStamp cacheStamp_;
    mutable QHash<QString, QString> cache_;
};

// The program's one translator.
TTranslator& Translator();
QString TranslateText(const QString& key, const QString& defaultText);
QString TranslateText(const StrKey& key);
void TranslateForm(QWidget* form);

// Substitutes %s, %d and their kin in a (translated) text without ever trusting it as a
// format: a directive without a fitting argument stays as written, "%n" does nothing.
namespace detail {
inline vcl::FormatArg ToFormatArg(const QString& s) {
    return s.toStdU16String();
}
template <typename T> vcl::FormatArg ToFormatArg(const T& v) {
    return vcl::detail::ToArg(v);
}
} // namespace detail

template <typename... Args> QString FormatText(const QString& format, const Args&... args) {
    return QString::fromStdU16String(
        vcl::FormatV(format.toStdU16String(), std::vector<vcl::FormatArg>{detail::ToFormatArg(args)...}));
}
