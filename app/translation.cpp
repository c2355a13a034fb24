#include "translation.h"

#include <sys/stat.h>

#include "dbsettings.h"
#include "vcl/IniFiles.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QWidget>

#include <filesystem>
#include <system_error>

namespace {

bool NeedsQuotes(const std::u16string& v) {
    if (v.empty())
        return false;
    if (v.front() <= u' ' || v.back() <= u' ')
        return true;
    return v.size() >= 2 && v.front() == v.back() && (v.front() == u'"' || v.front() == u'\'');
}

// One open language file and section, shared by all lookups of one form.
class TLangFile {
public:
    TLangFile(const QString& fileName, const QString& language)
        : ini_(fileName.toStdU16String()), section_(language.toStdU16String()) {}

    QString Lookup(const QString& key, const QString& defaultText) {
        if (key.isEmpty())
            return defaultText;
        std::u16string k = key.toStdU16String();
        std::u16string stored = ini_.ReadString(section_, k, u"");
        if (!stored.empty())
            return QString::fromStdU16String(stored);
        std::u16string value = defaultText.toStdU16String();
        // Profile reads trim blanks and strip one pair of quotes; quote such texts so
        // that a caption ending in a blank reads back with it.
        if (NeedsQuotes(value))
            value = u"\"" + value + u"\"";
        try {
            ini_.WriteString(section_, k, value);
        } catch (const std::exception&) {
            // A read-only or unusable file leaves the built-in text in use.
        }
        return defaultText;
    }

private:
    vcl::TIniFile ini_;
    std::u16string section_;
};

// The main menu's headers (menu items without an action of their own) are numbered
// over the whole tree in pre-order; separators and action items take no number.
void TranslateMenuItem(TLangFile& lang, const QString& base, QAction* item, int& counter) {
    if (item->isSeparator())
        return;
    QMenu* menu = item->menu();
    if (!menu)
        return; // bound to an action, which is translated by itself
    item->setText(lang.Lookup(base + QLatin1Char('_') + QString::number(counter++), item->text()));
    for (QAction* child : menu->actions())
        TranslateMenuItem(lang, base, child, counter);
}

// Parts that compound widgets make for themselves (a tab bar's scroll buttons, a combo
// box's pop-up, a list's header) are not the form's own components.
bool IsInternal(QObject* obj, QWidget* form) {
    for (QObject* p = obj->parent(); p && p != form; p = p->parent())
        if (qobject_cast<QTabBar*>(p) || qobject_cast<QComboBox*>(p) || qobject_cast<QAbstractSpinBox*>(p) ||
            qobject_cast<QAbstractItemView*>(p) || qobject_cast<QMenuBar*>(p) || qobject_cast<QToolBar*>(p) ||
            qobject_cast<QStatusBar*>(p))
            return true;
    return false;
}

bool IsSkipped(QObject* obj) {
    return qobject_cast<QMenu*>(obj) || qobject_cast<QToolBar*>(obj) || qobject_cast<QTabWidget*>(obj) ||
           qobject_cast<QStackedWidget*>(obj);
}

void TranslateComponent(TLangFile& lang, QWidget* form, const QString& formName, QObject* obj) {
    const QString base = formName + QLatin1Char('_') + obj->objectName();
    auto numbered = [&base](int i) { return base + QLatin1Char('_') + QString::number(i); };

    if (auto* bar = qobject_cast<QMenuBar*>(obj)) {
        auto* mainWindow = qobject_cast<QMainWindow*>(form);
        if (!mainWindow || mainWindow->menuWidget() != bar)
            return;
        const QString menuBase = formName + QStringLiteral("_ActionManager");
        int counter = 0;
        for (QAction* item : bar->actions())
            TranslateMenuItem(lang, menuBase, item, counter);
        return;
    }
    if (IsSkipped(obj))
        return;
    if (auto* action = qobject_cast<QAction*>(obj)) {
        if (action->menu() || action->isSeparator())
            return;
        action->setText(lang.Lookup(base, action->text()));
        QString hint = lang.Lookup(base + QStringLiteral("_Hint"), action->statusTip());
        action->setStatusTip(hint);
        if (!hint.isEmpty())
            action->setToolTip(hint);
        return;
    }
    if (auto* tree = qobject_cast<QTreeWidget*>(obj)) {
        QTreeWidgetItem* header = tree->headerItem();
        for (int i = 0; header && i < tree->columnCount(); ++i)
            header->setText(i, lang.Lookup(numbered(i), header->text(i)));
        return;
    }
    if (auto* table = qobject_cast<QTableWidget*>(obj)) {
        for (int i = 0; i < table->columnCount(); ++i)
            if (QTableWidgetItem* item = table->horizontalHeaderItem(i))
                item->setText(lang.Lookup(numbered(i), item->text()));
        return;
    }
    if (auto* combo = qobject_cast<QComboBox*>(obj)) {
        if (combo->objectName() == QLatin1String("cbLanguage"))
            return; // its items are the language names themselves
        for (int i = 0; i < combo->count(); ++i)
            combo->setItemText(i, lang.Lookup(numbered(i), combo->itemText(i)));
        return;
    }
    if (qobject_cast<QCheckBox*>(obj) || qobject_cast<QRadioButton*>(obj)) {
        auto* button = static_cast<QAbstractButton*>(obj);
        if (!button->text().isEmpty())
            button->setText(lang.Lookup(base, button->text()));
        return;
    }
    if (auto* button = qobject_cast<QAbstractButton*>(obj)) {
        auto* tool = qobject_cast<QToolButton*>(obj);
        if (tool && tool->defaultAction())
            return; // takes caption and hint from its translated action
        button->setText(lang.Lookup(base, button->text()));
        button->setToolTip(lang.Lookup(base + QStringLiteral("_Hint"), button->toolTip()));
        return;
    }
    if (auto* label = qobject_cast<QLabel*>(obj)) {
        if (!label->text().isEmpty())
            label->setText(lang.Lookup(base, label->text()));
        return;
    }
    if (auto* group = qobject_cast<QGroupBox*>(obj)) {
        if (!group->title().isEmpty())
            group->setTitle(lang.Lookup(base, group->title()));
        return;
    }
}

} // namespace

TTranslator::TTranslator(QString fileName, QString languageName) : fileName_(std::move(fileName)) {
    SetLanguageName(languageName);
}

QString TTranslator::DefaultFileName() {
    QString dir = QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QDir::currentPath();
    return QDir(dir).filePath(QStringLiteral("langs.dat"));
}

QString TTranslator::FileName() const {
    return fileName_.isEmpty() ? DefaultFileName() : fileName_;
}

void TTranslator::SetLanguageName(const QString& name) {
    languageName_ = name.trimmed().isEmpty() ? QString::fromLatin1(DefaultLanguage) : name;
}

bool TTranslator::LoadLanguageName() {
    TConnectionSettings settings = ReadConnectionSettings();
    if (!settings.hasLanguage)
        return false;
    SetLanguageName(settings.language);
    return true;
}

TTranslator::TFileStamp TTranslator::Stamp() const {
    TFileStamp stamp;
    stamp.FileName = FileName();
    stamp.Language = languageName_;
    const QByteArray path = QFile::encodeName(stamp.FileName);
    struct stat st {};
    if (::stat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return stamp;
    stamp.Exists = true;
    stamp.Size = qint64(st.st_size);
    stamp.Modified = std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    stamp.Changed = std::int64_t(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    stamp.Inode = std::uint64_t(st.st_ino);
    return stamp;
}

QString TTranslator::TranslateText(const QString& key, const QString& defaultText) const {
    if (key.isEmpty())
        return defaultText;
    std::lock_guard lock(cacheMutex_);
    // Any change of the file, its name or the language (an editor, another station) is
    // read afresh; the entry is keyed by the default too, which is stored when missing.
    const QString cacheKey = key + QChar(0) + defaultText;
    if (TFileStamp now = Stamp(); !(now == cacheStamp_)) {
        cache_.clear();
        cacheStamp_ = std::move(now);
    } else if (auto it = cache_.constFind(cacheKey); it != cache_.constEnd()) {
        return *it;
    }
    QString text;
    {
        TLangFile lang(FileName(), languageName_);
        text = lang.Lookup(key, defaultText);
    }
    // The lookup may have stored the default: take the file as it is now.
    if (TFileStamp now = Stamp(); !(now == cacheStamp_)) {
        cache_.clear();
        cacheStamp_ = std::move(now);
    }
    // A file that is missing and could not be written gives no stable stamp: no caching.
    if (cacheStamp_.Exists)
        cache_.insert(cacheKey, text);
    return text;
}

void TTranslator::TranslateForm(QWidget* form) const {
    if (!form || form->objectName().isEmpty())
        return;
    const QString formName = form->objectName();
    TLangFile lang(FileName(), languageName_);
    form->setWindowTitle(lang.Lookup(formName + QStringLiteral("_Caption"), form->windowTitle()));
    const QList<QObject*> parts = form->findChildren<QObject*>();
    for (QObject* obj : parts) {
        const QString name = obj->objectName();
        if (qobject_cast<QMenuBar*>(obj)) {
            TranslateComponent(lang, form, formName, obj); // named or not, the main menu counts
            continue;
        }
        if (name.isEmpty() || name.startsWith(QLatin1String("qt_")) || IsInternal(obj, form))
            continue;
        TranslateComponent(lang, form, formName, obj);
    }
}

QStringList TTranslator::Languages() const {
    QStringList result;
    for (const auto& s : vcl::TIniFile(FileName().toStdU16String()).ReadSections())
        result << QString::fromStdU16String(s);
    return result;
}

TTranslator& Translator() {
    static TTranslator translator;
    return translator;
}

QString TranslateText(const QString& key, const QString& defaultText) {
    return Translator().TranslateText(key, defaultText);
}

QString TranslateText(const StrKey& key) {
    return Translator().Text(key);
}

void TranslateForm(QWidget* form) {
    Translator().TranslateForm(form);
}
