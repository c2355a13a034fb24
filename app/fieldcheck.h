// Checks of what the operator typed against what the database takes, made before a dialog
// saves: a refusal names the field and what it takes, where the database's own error would
// quote a column or a conversion the operator never sees.
#pragma once

#include <QString>

#include <optional>

class QLabel;
class QLineEdit;
class QWidget;

// Plain decimal digits (leading zeros allowed) as a number: no sign, no blanks, nothing
// beyond what an int holds.
std::optional<int> WholeNumber(const QString& text);

// A field's name as its label shows it, without the accelerator's "&".
QString FieldCaption(const QLabel* label);
// The same for the label that names edit (its buddy); the edit's object name without one.
QString FieldCaption(const QLineEdit* edit);

// True when edit holds a whole number from min to max; otherwise tells the user which field
// takes what and returns false.
bool CheckWholeNumber(QWidget* owner, const QLineEdit* edit, const QString& caption, int min, int max);
// True when edit holds more than blanks; otherwise tells the user which field needs a value.
bool CheckNotEmpty(QWidget* owner, const QLineEdit* edit, const QString& caption);
