// The promotion picture sent to each phone: the campaign's stored picture fitted into
// a 176 x 220 frame, the message and, when the campaign uses coupons, the coupon code
// drawn over it, encoded as JPEG.
#pragma once

#include <optional>

#include <QByteArray>
#include <QColor>
#include <QFont>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

constexpr int PromoWidth = 176;
constexpr int PromoHeight = 220;

// Font style bits as stored with a campaign.
enum : int { PromoStyleBold = 1, PromoStyleItalic = 2, PromoStyleUnderline = 4, PromoStyleStrikeOut = 8 };

// A stored colour: 0x00BBGGRR, or a system colour (0xFF000000 or 0x80000000 with the
// system colour index in the low byte; the default window-text colour is 0xFF000008).
constexpr qint32 PromoDefaultFontColor = static_cast<qint32>(0xFF000008u);

struct TPromoFont {
    QString Name = QStringLiteral("Tahoma");
    int Size = 9;  // points
    int Style = 0; // PromoStyle* bits
    qint32 Color = PromoDefaultFontColor;
};

// What is drawn over the picture. Alignment codes: 0 left/top, 1 centre/middle,
// anything else right/bottom.
struct TPromoText {
    QString Message;
    TPromoFont Font;
    int HAlign = 0;
    int VAlign = 0;
    QString Coupon; // empty: no coupon line
};

// The stored colour as an RGB colour; system colours take the usual desktop defaults
// (window text is black).
QColor TColorToQColor(qint32 color);
// An RGB colour as it is stored (0x00BBGGRR).
qint32 QColorToTColor(const QColor& color);

// The font as drawn on the picture: the size in points at 96 pixels per inch, so a
// 9 pt font is 12 pixels high whatever the screen.
QFont PromoQFont(const TPromoFont& font);

// Where a source picture of w x h lands in the frame (may reach beyond it: a picture
// at least as tall as wide always fills the height and is cut at the sides).
// An empty rectangle for a picture without size.
QRect PromoPictureRect(int w, int h);

// Top-left corners of the message and coupon cells for their measured sizes.
struct TPromoTextLayout {
    QPoint Message;
    QPoint Coupon;
};
TPromoTextLayout PromoTextLayout(QSize message, QSize coupon, int halign, int valign);

// Composes the 176 x 220 picture (needs a QGuiApplication for the text). A null
// source gives a white picture with the text alone.
QImage ComposePromoPicture(const QImage& source, const TPromoText& text);

// Composes the picture from the stored picture bytes (JPEG; empty means none) and
// encodes it. Throws EJpegError when the stored bytes cannot be decoded.
QByteArray RenderPromoPicture(const QByteArray& storedPicture, const TPromoText& text);

// A coupon number as printed and typed: exactly 8 upper-case hexadecimal digits of its
// 32-bit pattern (-1 is "FFFFFFFF").
QString CouponText(qint32 coupon);
// The reverse: hexadecimal digits in either case, at most 8 significant ones (leading
// zeros allowed); nothing else, not even a blank. Anything else gives no value.
std::optional<qint32> ParseCouponText(const QString& text);
