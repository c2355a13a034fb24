// The platform's standard dialogs as the editors use them: a file-open dialog and a
// font dialog with a colour step. Both run through a replaceable hook, so tests answer
// them without showing anything.
#pragma once

#include "promopicture.h"

#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

class TOpenDialog {
public:
    QString Title;
    // Each entry "Description (patterns)", the patterns separated by ";", in the order shown.
    QStringList Filters;
    // The chosen file's full path after Execute returned true.
    QString FileName;

    // Shows the dialog; false when the user cancelled.
    bool Execute(QWidget* parent);

    // When set, answers instead of the platform dialog: returns the chosen path or an
    // empty string for Cancel.
    static std::function<QString(QWidget* parent, const TOpenDialog& dialog)> ExecuteHook;
};

class TFontDialog {
public:
    // In: the font to start from. Out (after Execute returned true): the chosen one.
    // A colour the user did not change keeps its stored value, system colours included.
    TPromoFont Font;

    bool Execute(QWidget* parent);

    // When set, answers instead of the platform dialogs: may change the font and
    // returns whether the user confirmed.
    static std::function<bool(QWidget* parent, TPromoFont& font)> ExecuteHook;
};

// The font as the preview shows it: the face, the size in points (no pixel
// conversion: the preview shows the font at its real size) and the style bits.
QFont PreviewQFont(const TPromoFont& font);
