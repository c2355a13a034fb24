#include "stddialogs.h"

#include <QColorDialog>
#include <QFileDialog>
#include <QFontDialog>
#include <QRegularExpression>

std::function<QString(QWidget*, const TOpenDialog&)> TOpenDialog::ExecuteHook;
std::function<bool(QWidget*, TPromoFont&)> TFontDialog::ExecuteHook;

namespace {

// Qt reads a filter's patterns from its last parentheses and splits them at blanks, so a
// list separated by ";" would be one pattern that matches nothing. Each filter keeps its
// description as written (the dialog shows only that) and gets the patterns Qt can read
// appended; "*.*" means every file, also one without a dot.
QStringList QtNameFilters(const QStringList& filters) {
    static const QRegularExpression described(QStringLiteral("^(.*)\\(([^()]*)\\)\\s*$"));
    QStringList result;
    for (const QString& filter : filters) {
        const QRegularExpressionMatch m = described.match(filter);
        QStringList patterns;
        for (const QString& p : (m.hasMatch() ? m.captured(2) : filter).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QString pattern = p.trimmed();
            if (!pattern.isEmpty())
                patterns << (pattern == QLatin1String("*.*") ? QStringLiteral("*") : pattern);
        }
        result << filter + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return result;
}

} // namespace

bool TOpenDialog::Execute(QWidget* parent) {
    QString chosen;
    if (ExecuteHook) {
        chosen = ExecuteHook(parent, *this);
    } else {
        QFileDialog dialog(parent, Title);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
        // The list shows each description alone, without the patterns appended for Qt.
        dialog.setOption(QFileDialog::HideNameFilterDetails);
        dialog.setNameFilters(QtNameFilters(Filters));
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            chosen = dialog.selectedFiles().constFirst();
    }
    if (chosen.isEmpty())
        return false;
    FileName = chosen;
    return true;
}

QFont PreviewQFont(const TPromoFont& font) {
    QFont f(font.Name);
    f.setPointSize(font.Size > 0 ? font.Size : 9);
    f.setBold(font.Style & PromoStyleBold);
    f.setItalic(font.Style & PromoStyleItalic);
    f.setUnderline(font.Style & PromoStyleUnderline);
    f.setStrikeOut(font.Style & PromoStyleStrikeOut);
    return f;
}

bool TFontDialog::Execute(QWidget* parent) {
    if (ExecuteHook)
        return ExecuteHook(parent, Font);
    bool ok = false;
    const QFont chosen = QFontDialog::getFont(&ok, PreviewQFont(Font), parent);
    if (!ok)
        return false;
    TPromoFont result = Font;
    // The family stays as the user picked it, even when the platform substitutes another face.
    result.Name = chosen.family();
    if (chosen.pointSize() > 0)
        result.Size = chosen.pointSize();
    result.Style = (chosen.bold() ? PromoStyleBold : 0) | (chosen.italic() ? PromoStyleItalic : 0) |
                   (chosen.underline() ? PromoStyleUnderline : 0) | (chosen.strikeOut() ? PromoStyleStrikeOut : 0);
    // The platform's font dialog has no colour; a second step asks for it. Cancelling
    // that step keeps the colour as it was.
    const QColor start = TColorToQColor(Font.Color);
    const QColor colour = QColorDialog::getColor(start, parent);
    if (colour.isValid() && colour != start)
        result.Color = QColorToTColor(colour);
    Font = result;
    return true;
}
