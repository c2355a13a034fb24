#include "stddialogs.h"

#include <QColorDialog>
#include <QFileDialog>
#include <QFontDialog>

std::function<QString(QWidget*, const TOpenDialog&)> TOpenDialog::ExecuteHook;
std::function<bool(QWidget*, TPromoFont&)> TFontDialog::ExecuteHook;

bool TOpenDialog::Execute(QWidget* parent) {
    QString chosen;
    if (ExecuteHook) {
        chosen = ExecuteHook(parent, *this);
    } else {
        chosen = QFileDialog::getOpenFileName(parent, Title, QString(), Filters.join(QStringLiteral(";;")));
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
