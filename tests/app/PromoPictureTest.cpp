#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFontMetrics>

#include "jpegcodec.h"
#include "promopicture.h"

namespace {

// Text drawing needs a GUI application; share one with the other GUI tests.
void EnsureGuiApp() {
    if (!QCoreApplication::instance()) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "test_app";
        static char* argv[] = {name, nullptr};
        new QApplication(argc, argv);
    }
}

QImage Solid(int w, int h, QColor c) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(c);
    return img;
}

bool IsWhite(QRgb p) {
    return qRed(p) > 250 && qGreen(p) > 250 && qBlue(p) > 250;
}

// The bounding box of everything that is not white.
QRect Ink(const QImage& img) {
    QRect box;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (!IsWhite(img.pixel(x, y)))
                box |= QRect(x, y, 1, 1);
    return box;
}

} // namespace

TEST(PromoPicture, PictureAndTextGeometry) {
    EXPECT_EQ(PromoPictureRect(352, 200), QRect(0, 60, 176, 100));
    EXPECT_EQ(PromoPictureRect(300, 300), QRect(-22, 0, 220, 220));
    EXPECT_EQ(PromoPictureRect(100, 300), QRect(51, 0, 73, 220));
    EXPECT_EQ(PromoPictureRect(64, 6).height(), 16); // 16.5 rounds to even
    EXPECT_EQ(PromoPictureRect(20, 10), QRect(0, 66, 176, 88));
    EXPECT_TRUE(PromoPictureRect(0, 10).isNull());

    auto l = PromoTextLayout(QSize(50, 20), QSize(30, 14), 1, 1);
    EXPECT_EQ(l.Message, QPoint(63, 90));
    EXPECT_EQ(l.Coupon, QPoint(73, 115));
    l = PromoTextLayout(QSize(), QSize(30, 14), 0, 0);
    EXPECT_EQ(l.Coupon, QPoint(0, 5));
    l = PromoTextLayout(QSize(50, 20), QSize(30, 14), 2, 2);
    EXPECT_EQ(l.Message, QPoint(126, 181));
    EXPECT_EQ(l.Coupon, QPoint(146, 206));
    l = PromoTextLayout(QSize(181, 20), QSize(), 1, 7); // unknown codes act as right/bottom
    EXPECT_EQ(l.Message, QPoint(-2, 195));
}

TEST(PromoPicture, CouponTextsAndColours) {
    EXPECT_EQ(CouponText(0x1A2B), "00001A2B");
    EXPECT_EQ(CouponText(-1), "FFFFFFFF");
    EXPECT_EQ(CouponText(INT32_MIN), "80000000");
    for (qint32 v : {0, 1, 0x1A2B, -1, INT32_MIN, INT32_MAX, -123456})
        EXPECT_EQ(ParseCouponText(CouponText(v)), v);
    EXPECT_EQ(ParseCouponText("1a2b"), 0x1A2B);
    EXPECT_EQ(ParseCouponText("0000000000001A2B"), 0x1A2B);
    for (const char* bad : {"", "   ", " 1A2B", "1A2B ", "123456789", "12 34", "G1", "0x12", "-1"})
        EXPECT_FALSE(ParseCouponText(bad).has_value()) << bad;

    EXPECT_EQ(TColorToQColor(PromoDefaultFontColor), QColor(Qt::black));
    EXPECT_EQ(TColorToQColor(qint32(0x80000008u)), QColor(Qt::black));
    EXPECT_EQ(TColorToQColor(qint32(0xFF000005u)), QColor(Qt::white));
    EXPECT_EQ(TColorToQColor(qint32(0xFF0000FEu)), QColor(Qt::black)); // unknown index
    EXPECT_EQ(TColorToQColor(0x000000FF), QColor(255, 0, 0));
    EXPECT_EQ(TColorToQColor(0x00FF0000), QColor(0, 0, 255));
    EXPECT_EQ(QColorToTColor(QColor(1, 2, 3)), 0x00030201);

    TPromoFont font;
    font.Size = 9;
    font.Style = PromoStyleBold | PromoStyleUnderline;
    QFont f = PromoQFont(font);
    EXPECT_EQ(f.pixelSize(), 12);
    EXPECT_TRUE(f.bold() && f.underline() && !f.italic() && !f.strikeOut());
    font.Size = 0;
    EXPECT_EQ(PromoQFont(font).pixelSize(), 12);
    font.Size = 2000000000;
    EXPECT_LE(PromoQFont(font).pixelSize(), 1000);
}

TEST(PromoPicture, ComposesTextAtTheNinePositions) {
    EnsureGuiApp();
    TPromoText text;
    text.Message = "Sale!";
    text.Font.Name = "DejaVu Sans";
    text.Font.Size = 12;
    text.Font.Color = 0x000000FF;
    const QFontMetrics fm(PromoQFont(text.Font));
    const QSize m(fm.horizontalAdvance(text.Message), fm.height());
    for (int h = 0; h < 3; ++h)
        for (int v = 0; v < 3; ++v) {
            text.HAlign = h;
            text.VAlign = v;
            QImage img = ComposePromoPicture(QImage(), text);
            ASSERT_EQ(img.size(), QSize(176, 220));
            QRect cell(PromoTextLayout(m, QSize(), h, v).Message, m);
            QRect ink = Ink(img);
            ASSERT_FALSE(ink.isEmpty());
            EXPECT_TRUE(cell.adjusted(-1, -1, 1, 1).contains(ink)) << h << v;
            EXPECT_GT(ink.width(), m.width() / 2) << h << v;
            bool red = false; // the font colour 0x000000FF is pure red
            for (int y = ink.top(); y <= ink.bottom() && !red; ++y)
                for (int x = ink.left(); x <= ink.right() && !red; ++x) {
                    QColor c = img.pixelColor(x, y);
                    red = c.red() > 200 && c.green() < 60 && c.blue() < 60;
                }
            EXPECT_TRUE(red) << h << v;
        }
}

TEST(PromoPicture, CouponLineAndPictureFitting) {
    EnsureGuiApp();
    TPromoText text;
    text.Font.Name = "DejaVu Sans";
    text.VAlign = 2;
    text.HAlign = 1;
    const QFontMetrics fm(PromoQFont(text.Font));

    // No message: only the coupon, on the last rows.
    text.Coupon = CouponText(0x00C0FFEE);
    QRect ink = Ink(ComposePromoPicture(QImage(), text));
    EXPECT_GE(ink.top(), 220 - fm.height());
    EXPECT_LE(ink.bottom(), 219);
    text.Coupon.clear();
    EXPECT_TRUE(Ink(ComposePromoPicture(QImage(), text)).isEmpty());

    // Landscape: the full width, centred vertically, white above and below.
    QImage img = ComposePromoPicture(Solid(352, 200, Qt::red), text);
    EXPECT_EQ(img.pixelColor(88, 61), QColor(Qt::red));
    EXPECT_EQ(img.pixelColor(88, 158), QColor(Qt::red));
    EXPECT_TRUE(IsWhite(img.pixel(88, 58)));
    EXPECT_TRUE(IsWhite(img.pixel(88, 161)));
    // Square: the full height, cut at the sides.
    img = ComposePromoPicture(Solid(300, 300, Qt::blue), text);
    EXPECT_EQ(Ink(img), QRect(0, 0, 176, 220));
    // Narrow portrait: a centred column 73 wide.
    img = ComposePromoPicture(Solid(100, 300, Qt::green), text);
    EXPECT_EQ(Ink(img), QRect(51, 0, 73, 220));
    // A small picture is enlarged.
    EXPECT_EQ(Ink(ComposePromoPicture(Solid(20, 10, Qt::black), text)), QRect(0, 66, 176, 88));
}

TEST(PromoPicture, RendersTheSentJpeg) {
    EnsureGuiApp();
    QImage photo(300, 200, QImage::Format_RGB32);
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 300; ++x)
            photo.setPixel(x, y, qRgb(x * 255 / 300, y * 255 / 200, 160));
    TPromoText text;
    text.Message = "Coffee -20%";
    text.Font.Name = "DejaVu Sans";
    text.Font.Size = 14;
    text.Font.Style = PromoStyleBold;
    text.Font.Color = 0x00FFFFFF;
    text.HAlign = 1;
    text.VAlign = 1;
    text.Coupon = CouponText(0x1A2B);

    const QByteArray jpeg = RenderPromoPicture(EncodeJpeg(photo), text);
    ASSERT_GT(jpeg.size(), 4);
    EXPECT_GE(jpeg.indexOf(QByteArray("\xFF\xC0", 2)), 0);
    EXPECT_LT(jpeg.indexOf(QByteArray("\xFF\xC2", 2)), 0);
    const QImage sent = DecodeJpeg(jpeg);
    EXPECT_EQ(sent.size(), QSize(176, 220));
    EXPECT_TRUE(IsWhite(sent.pixel(88, 5)));    // margin above the landscape picture
    EXPECT_FALSE(IsWhite(sent.pixel(88, 160))); // the picture
    const QString sample = QDir::current().filePath("promo-sample.png");
    EXPECT_TRUE(sent.save(sample, "PNG"));
    std::printf("sample picture: %s\n", qPrintable(sample));

    // No stored picture: white with the text; an undecodable one is an error.
    EXPECT_EQ(DecodeJpeg(RenderPromoPicture(QByteArray(), text)).size(), QSize(176, 220));
    EXPECT_THROW(RenderPromoPicture(QByteArray("not a picture"), text), EJpegError);
}
