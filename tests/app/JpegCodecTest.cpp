#include <gtest/gtest.h>

#include <random>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "jpegcodec.h"

extern "C" {
#include <jpeglib.h>
#include <jerror.h>
}

namespace {

QImage TestPattern(int w, int h) {
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, x < w / 2 ? (y < h / 2 ? qRgb(255, 0, 0) : qRgb(0, 0, 255)) : qRgb(0, 200, 0));
    return img;
}

struct Segment {
    int marker;
    QByteArray body;
};

// The marker segments before the entropy-coded data.
std::vector<Segment> HeaderSegments(const QByteArray& jpeg) {
    std::vector<Segment> out;
    int i = 2;
    while (i + 4 <= jpeg.size() && uchar(jpeg[i]) == 0xFF) {
        int marker = uchar(jpeg[i + 1]);
        int len = (uchar(jpeg[i + 2]) << 8) | uchar(jpeg[i + 3]);
        out.push_back({marker, jpeg.mid(i + 4, len - 2)});
        if (marker == 0xDA)
            break;
        i += 2 + len;
    }
    return out;
}

void ExpectJpegError(const QByteArray& bytes, int code) {
    try {
        DecodeJpeg(bytes);
        ADD_FAILURE() << "no error";
    } catch (const EJpegError& e) {
        EXPECT_EQ(e.Code(), code);
        EXPECT_EQ(std::string(e.what()), "JPEG error #" + std::to_string(code));
    }
}

} // namespace

TEST(JpegCodec, EncodesBaselineRgbAtQuality90AndRoundTrips) {
    const QImage source = TestPattern(64, 48);
    const QByteArray jpeg = EncodeJpeg(source);
    ASSERT_GT(jpeg.size(), 4);
    EXPECT_EQ(uchar(jpeg[0]), 0xFF);
    EXPECT_EQ(uchar(jpeg[1]), 0xD8);

    bool sof0 = false;
    std::vector<QByteArray> tables;
    for (const auto& s : HeaderSegments(jpeg)) {
        EXPECT_NE(s.marker, 0xC2) << "progressive";
        if (s.marker == 0xC0) {
            sof0 = true;
            EXPECT_EQ(uchar(s.body[0]), 8);                            // 8 bits per sample
            EXPECT_EQ((uchar(s.body[1]) << 8) | uchar(s.body[2]), 48); // height
            EXPECT_EQ((uchar(s.body[3]) << 8) | uchar(s.body[4]), 64); // width
            EXPECT_EQ(uchar(s.body[5]), 3);                            // components
        }
        if (s.marker == 0xDB)
            for (int i = 0; i + 65 <= s.body.size(); i += 65)
                tables.push_back(s.body.mid(i, 65));
    }
    EXPECT_TRUE(sof0);
    // Quality 90 scales the standard luminance table by 20 %: 16 11 12 14 ... 99 in
    // zig-zag order become 3 2 2 3 ... 20.
    ASSERT_FALSE(tables.empty());
    const QByteArray& luma = tables[0];
    EXPECT_EQ(uchar(luma[0]), 0); // 8-bit entries, table 0
    EXPECT_EQ(uchar(luma[1]), 3);
    EXPECT_EQ(uchar(luma[2]), 2);
    EXPECT_EQ(uchar(luma[3]), 2);
    EXPECT_EQ(uchar(luma[4]), 3);
    EXPECT_EQ(uchar(luma[64]), 20);

    const QImage back = DecodeJpeg(jpeg);
    ASSERT_EQ(back.size(), source.size());
    EXPECT_EQ(back.format(), QImage::Format_RGB888);
    for (QPoint p : {QPoint(8, 8), QPoint(8, 40), QPoint(56, 24)}) {
        QColor a = source.pixelColor(p), b = back.pixelColor(p);
        EXPECT_NEAR(a.red(), b.red(), 8);
        EXPECT_NEAR(a.green(), b.green(), 8);
        EXPECT_NEAR(a.blue(), b.blue(), 8);
    }

    // Transparency is laid over white, not black.
    QImage clear(16, 16, QImage::Format_ARGB32);
    clear.fill(Qt::transparent);
    EXPECT_GT(DecodeJpeg(EncodeJpeg(clear)).pixelColor(8, 8).lightness(), 245);

    try {
        EncodeJpeg(QImage());
        ADD_FAILURE() << "an empty image encoded";
    } catch (const EJpegError& e) {
        EXPECT_EQ(e.Code(), JERR_EMPTY_IMAGE);
    }
}

TEST(JpegCodec, BadInputGivesJpegErrorNeverACrash) {
    ExpectJpegError(QByteArray(), JERR_INPUT_EMPTY);
    ExpectJpegError(QByteArray("hello, world"), JERR_NO_SOI);

    const QByteArray good = EncodeJpeg(TestPattern(40, 30));
    // Only the start of the picture: the header is complete but no scan data follows.
    QByteArray header;
    for (const auto& s : HeaderSegments(good))
        if (s.marker != 0xDA)
            header += QByteArray("\xFF", 1) + char(s.marker) + char((s.body.size() + 2) >> 8) +
                      char((s.body.size() + 2) & 0xFF) + s.body;
    ExpectJpegError(QByteArray("\xFF\xD8", 2) + header, JERR_SOF_NO_SOS);
    ExpectJpegError(QByteArray("\xFF\xD8\xFF\xD9", 4), JERR_NO_IMAGE);

    // A picture cut short in its scan data decodes as far as it goes, as the library allows.
    QImage noise(200, 150, QImage::Format_RGB32);
    std::mt19937 pixels(3);
    for (int y = 0; y < noise.height(); ++y)
        for (int x = 0; x < noise.width(); ++x)
            noise.setPixel(x, y, pixels());
    const QByteArray big = EncodeJpeg(noise);
    EXPECT_EQ(DecodeJpeg(big.left(big.size() * 2 / 3)).size(), QSize(200, 150));

    // An absurd size in the frame header is refused before anything is allocated.
    QByteArray huge = good;
    int sof = huge.indexOf(QByteArray("\xFF\xC0", 2));
    ASSERT_GT(sof, 0);
    huge[sof + 5] = char(0xFF), huge[sof + 6] = char(0xF0); // height 65520
    huge[sof + 7] = char(0xFF), huge[sof + 8] = char(0xF0); // width 65520
    ExpectJpegError(huge, JERR_IMAGE_TOO_BIG);

    std::mt19937 rng(7);
    for (int round = 0; round < 300; ++round) {
        QByteArray bad = good;
        int flips = 1 + int(rng() % 6);
        for (int f = 0; f < flips; ++f)
            bad[int(rng() % unsigned(bad.size()))] = char(rng());
        if (round % 3 == 0)
            bad.truncate(int(rng() % unsigned(bad.size())));
        try {
            QImage img = DecodeJpeg(bad);
            EXPECT_FALSE(img.isNull());
        } catch (const EJpegError& e) {
            EXPECT_EQ(QByteArray(e.what()).left(12), "JPEG error #");
        }
    }
}

TEST(JpegCodec, LoadsBitmapFilesByExtensionAndEverythingElseAsJpeg) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QImage pattern = TestPattern(20, 10);
    const QString bmp = dir.filePath("picture.BmP");
    ASSERT_TRUE(pattern.save(bmp, "BMP"));
    QImage loaded = LoadPictureFile(bmp);
    ASSERT_EQ(loaded.size(), QSize(20, 10));
    EXPECT_EQ(loaded.pixelColor(2, 2), QColor(255, 0, 0));

    const QString jpg = dir.filePath("photo.jpeg");
    {
        QFile f(jpg);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(EncodeJpeg(pattern));
    }
    EXPECT_EQ(LoadPictureFile(jpg).size(), QSize(20, 10));

    // A PNG is read as JPEG and fails; a JPEG named .bmp is not a valid bitmap.
    const QString png = dir.filePath("picture.png");
    ASSERT_TRUE(pattern.save(png, "PNG"));
    EXPECT_THROW(LoadPictureFile(png), EJpegError);
    QFile::copy(jpg, dir.filePath("fake.bmp"));
    try {
        LoadPictureFile(dir.filePath("fake.bmp"));
        ADD_FAILURE() << "no error";
    } catch (const EJpegError&) {
        ADD_FAILURE() << "read as JPEG";
    } catch (const vcl::Exception& e) {
        EXPECT_EQ(std::string(e.what()), "Bitmap image is not valid");
    }
    EXPECT_THROW(LoadPictureFile(dir.filePath("missing.jpg")), vcl::Exception);
}
