#include "promopicture.h"

#include <algorithm>
#include <cmath>

#include <QFontMetrics>
#include <QPainter>

#include "jpegcodec.h"

namespace {

// Default desktop colours (0xRRGGBB) by system colour index.
const quint32 kSystemColors[] = {
    0xC8C8C8, // scroll bar
    0x000000, // desktop
    0x99B4D1, // active caption
    0xBFCDDB, // inactive caption
    0xF0F0F0, // menu
    0xFFFFFF, // window
    0x646464, // window frame
    0x000000, // menu text
    0x000000, // window text
    0x000000, // caption text
    0xB4B4B4, // active border
    0xF4F7FC, // inactive border
    0xABABAB, // application workspace
    0x3399FF, // highlight
    0xFFFFFF, // highlight text
    0xF0F0F0, // button face
    0xA0A0A0, // button shadow
    0x6D6D6D, // grey text
    0x000000, // button text
    0x434E54, // inactive caption text
    0xFFFFFF, // button highlight
    0x696969, // 3D dark shadow
    0xE3E3E3, // 3D light
    0x000000, // info text
    0xFFFFE1, // info background
    0xB5B5B5, // (unused)
    0x0066CC, // hot light
    0xB9D1EA, // gradient active caption
    0xD7E4F2, // gradient inactive caption
    0x3399FF, // menu highlight
    0xF0F0F0, // menu bar
};

const int kTextBottom = 215; // the last rows are a margin under the message
const int kCouponGap = 5;
const int kDefaultPoints = 9;
const int kMaxPixelSize = 1000; // far beyond the frame; keeps nonsense sizes cheap

} // namespace

QColor TColorToQColor(qint32 color) {
    auto c = static_cast<quint32>(color);
    quint32 high = c >> 24;
    if (high == 0xFF || high == 0x80) {
        quint32 index = c & 0xFF;
        quint32 rgb = index < std::size(kSystemColors) ? kSystemColors[index] : 0x000000;
        return QColor(static_cast<QRgb>(rgb));
    }
    // The "none" and "default" values and any other flag byte: window text.
    if (c == 0x1FFFFFFF || c == 0x20000000)
        return QColor(Qt::black);
    return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF), static_cast<int>((c >> 16) & 0xFF));
}

qint32 QColorToTColor(const QColor& color) {
    QColor rgb = color.toRgb();
    return static_cast<qint32>(static_cast<quint32>(rgb.red()) | (static_cast<quint32>(rgb.green()) << 8) |
                               (static_cast<quint32>(rgb.blue()) << 16));
}

QFont PromoQFont(const TPromoFont& font) {
    QFont f;
    if (!font.Name.isEmpty())
        f.setFamily(font.Name);
    int points = font.Size > 0 ? font.Size : kDefaultPoints;
    // Points to pixels at 96 per inch, rounded.
    long long pixels = (static_cast<long long>(points) * 96 + 36) / 72;
    f.setPixelSize(static_cast<int>(std::clamp<long long>(pixels, 1, kMaxPixelSize)));
    f.setBold(font.Style & PromoStyleBold);
    f.setItalic(font.Style & PromoStyleItalic);
    f.setUnderline(font.Style & PromoStyleUnderline);
    f.setStrikeOut(font.Style & PromoStyleStrikeOut);
    return f;
}

QRect PromoPictureRect(int w, int h) {
    if (w <= 0 || h <= 0)
        return QRect();
    double k = h < w ? double(PromoWidth) / w : double(PromoHeight) / h;
    // nearbyint rounds ties to even in the default rounding mode.
    int w2 = static_cast<int>(std::nearbyint(w * k));
    int h2 = static_cast<int>(std::nearbyint(h * k));
    return QRect((PromoWidth - w2) / 2, (PromoHeight - h2) / 2, w2, h2);
}

TPromoTextLayout PromoTextLayout(QSize message, QSize coupon, int halign, int valign) {
    // An absent text measures 0 x 0 (a default QSize is -1 x -1).
    const int mw = std::max(0, message.width()), mh = std::max(0, message.height());
    const int cw = std::max(0, coupon.width()), ch = std::max(0, coupon.height());
    TPromoTextLayout l;
    switch (halign) {
    case 0:
        l.Message.setX(0);
        l.Coupon.setX(0);
        break;
    case 1:
        l.Message.setX((PromoWidth - mw) / 2);
        l.Coupon.setX((PromoWidth - cw) / 2);
        break;
    default:
        l.Message.setX(PromoWidth - mw);
        l.Coupon.setX(PromoWidth - cw);
        break;
    }
    switch (valign) {
    case 0:
        l.Message.setY(0);
        l.Coupon.setY(mh + kCouponGap);
        break;
    case 1:
        l.Message.setY((kTextBottom - mh - ch) / 2);
        l.Coupon.setY(l.Message.y() + mh + kCouponGap);
        break;
    default:
        l.Message.setY(kTextBottom - mh - ch);
        l.Coupon.setY(PromoHeight - ch);
        break;
    }
    return l;
}

QImage ComposePromoPicture(const QImage& source, const TPromoText& text) {
    QImage canvas(PromoWidth, PromoHeight, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    QRect target = source.isNull() ? QRect() : PromoPictureRect(source.width(), source.height());
    if (!target.isEmpty()) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(target, source);
    }

    painter.setFont(PromoQFont(text.Font));
    painter.setPen(TColorToQColor(text.Font.Color));
    painter.setBrush(Qt::NoBrush);
    const QFontMetrics fm = painter.fontMetrics();
    auto measure = [&](const QString& s) {
        return s.isEmpty() ? QSize(0, 0) : QSize(fm.horizontalAdvance(s), fm.height());
    };
    const TPromoTextLayout at = PromoTextLayout(measure(text.Message), measure(text.Coupon), text.HAlign, text.VAlign);
    // Positions are the top-left of each text cell; one line each, no wrapping.
    if (!text.Message.isEmpty())
        painter.drawText(at.Message + QPoint(0, fm.ascent()), text.Message);
    if (!text.Coupon.isEmpty())
        painter.drawText(at.Coupon + QPoint(0, fm.ascent()), text.Coupon);
    painter.end();
    return canvas;
}

QByteArray RenderPromoPicture(const QByteArray& storedPicture, const TPromoText& text) {
    QImage source = storedPicture.isEmpty() ? QImage() : DecodeJpeg(storedPicture);
    return EncodeJpeg(ComposePromoPicture(source, text));
}

QString CouponText(qint32 coupon) {
    return QStringLiteral("%1").arg(static_cast<quint32>(coupon), 8, 16, QLatin1Char('0')).toUpper();
}

std::optional<qint32> ParseCouponText(const QString& text) {
    // Exactly what the station prints, give or take case and leading zeros: a blank, a
    // sign or a "0x" is a typing error, not a code.
    if (text.isEmpty())
        return std::nullopt;
    quint32 value = 0;
    int significant = 0;
    for (QChar ch : text) {
        int d;
        char16_t c = ch.unicode();
        if (c >= u'0' && c <= u'9')
            d = c - u'0';
        else if (c >= u'A' && c <= u'F')
            d = c - u'A' + 10;
        else if (c >= u'a' && c <= u'f')
            d = c - u'a' + 10;
        else
            return std::nullopt;
        if (significant > 0 || d != 0)
            ++significant;
        if (significant > 8)
            return std::nullopt;
        value = (value << 4) | static_cast<quint32>(d);
    }
    return static_cast<qint32>(value);
}
