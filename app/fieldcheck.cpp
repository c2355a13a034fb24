#include "fieldcheck.h"

#include "msgbox.h"
#include "strings.h"
#include "translation.h"

#include <QLabel>
#include <QLineEdit>

#include <limits>

std::optional<int> WholeNumber(const QString& text) {
    if (text.isEmpty())
        return std::nullopt;
    qint64 value = 0;
    for (QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        value = value * 10 + (c.unicode() - '0');
        if (value > std::numeric_limits<int>::max())
            return std::nullopt;
    }
    return static_cast<int>(value);
}

QString FieldCaption(const QLabel* label) {
    QString caption;
    const QString text = label->text();
    for (qsizetype i = 0; i < text.size(); ++i) {
        // "&&" shows one "&"; a single one only marks the accelerator.
        if (text[i] == QLatin1Char('&') && ++i >= text.size())
            break;
        caption += text[i];
    }
    return caption;
}

QString FieldCaption(const QLineEdit* edit) {
    for (const QLabel* label : edit->window()->findChildren<QLabel*>())
        if (label->buddy() == edit)
            return FieldCaption(label);
    return edit->objectName();
}

bool CheckWholeNumber(QWidget* owner, const QLineEdit* edit, const QString& caption, int min, int max) {
    const std::optional<int> value = WholeNumber(edit->text());
    if (value && *value >= min && *value <= max)
        return true;
    ErrorOK(owner, FormatText(TranslateText(STR_VALUE_RANGE), caption, min, max));
    return false;
}

bool CheckNotEmpty(QWidget* owner, const QLineEdit* edit, const QString& caption) {
    // Blanks alone are no value either; the database would refuse them with its own text.
    if (!edit->text().trimmed().isEmpty())
        return true;
    ErrorOK(owner, FormatText(TranslateText(STR_VALUE_REQUIRED), caption));
    return false;
}
