// The cost of one promotion picture per device, step by step: decoding the stored
// picture (once per cycle), composing the frame with message and coupon, encoding it;
// beside them libjpeg-turbo encoding the same 176 x 220 pixels directly, which is the
// floor for the encode step.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

#include "QtTestApp.h"
#include "jpegcodec.h"
#include "promopicture.h"

namespace {

// A photo-like stored picture (gradients and fine detail, so the codec has work to do).
QByteArray StoredPicture(int w, int h) {
    QImage img(w, h, QImage::Format_RGB888);
    unsigned seed = 12345;
    for (int y = 0; y < h; ++y) {
        uchar* line = img.scanLine(y);
        for (int x = 0; x < w; ++x) {
            seed = seed * 1103515245u + 12345u;
            const int noise = int(seed >> 27); // 0..31
            line[3 * x] = uchar((x * 255 / w + noise) & 0xFF);
            line[3 * x + 1] = uchar((y * 255 / h + noise) & 0xFF);
            line[3 * x + 2] = uchar(((x + y) * 127 / (w + h) + 64 + noise) & 0xFF);
        }
    }
    return EncodeJpeg(img);
}

TPromoText Text() {
    TPromoText t;
    t.Message = QStringLiteral("Coffee -20% today");
    t.Font = {QStringLiteral("DejaVu Sans"), 12, PromoStyleBold, 0x00FFFFFF};
    t.HAlign = 1;
    t.VAlign = 2;
    t.Coupon = CouponText(0x1A2B3C4D);
    return t;
}

const QByteArray& Stored(int which) {
    static const QByteArray small = StoredPicture(640, 480);
    static const QByteArray large = StoredPicture(1600, 1200);
    return which ? large : small;
}

void Label(benchmark::State& state) {
    state.SetLabel(state.range(0) ? "stored 1600x1200" : "stored 640x480");
}

void BM_Decode(benchmark::State& state) {
    const QByteArray& stored = Stored(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(DecodeJpeg(stored));
    Label(state);
}

void BM_Compose(benchmark::State& state) {
    const QImage source = DecodeJpeg(Stored(int(state.range(0))));
    const TPromoText text = Text();
    for (auto _ : state)
        benchmark::DoNotOptimize(ComposePromoPicture(source, text));
    Label(state);
}

void BM_Encode(benchmark::State& state) {
    const QImage frame = ComposePromoPicture(DecodeJpeg(Stored(0)), Text());
    for (auto _ : state)
        benchmark::DoNotOptimize(EncodeJpeg(frame));
}

// libjpeg-turbo alone on the same frame, already in RGB: quality 90, baseline.
void BM_LibjpegTurboEncode(benchmark::State& state) {
    const QImage rgb = ComposePromoPicture(DecodeJpeg(Stored(0)), Text()).convertToFormat(QImage::Format_RGB888);
    for (auto _ : state) {
        jpeg_compress_struct cinfo;
        jpeg_error_mgr jerr;
        cinfo.err = jpeg_std_error(&jerr);
        jpeg_create_compress(&cinfo);
        unsigned char* out = nullptr;
        unsigned long size = 0;
        jpeg_mem_dest(&cinfo, &out, &size);
        cinfo.image_width = JDIMENSION(rgb.width());
        cinfo.image_height = JDIMENSION(rgb.height());
        cinfo.input_components = 3;
        cinfo.in_color_space = JCS_RGB;
        jpeg_set_defaults(&cinfo);
        jpeg_set_quality(&cinfo, 90, TRUE);
        jpeg_start_compress(&cinfo, TRUE);
        while (cinfo.next_scanline < cinfo.image_height) {
            JSAMPROW row = const_cast<JSAMPROW>(rgb.constScanLine(int(cinfo.next_scanline)));
            jpeg_write_scanlines(&cinfo, &row, 1);
        }
        jpeg_finish_compress(&cinfo);
        jpeg_destroy_compress(&cinfo);
        benchmark::DoNotOptimize(size);
        std::free(out);
    }
}

// What each device costs within a cycle (the picture decoded once before), and what
// it would cost when decoding for every device.
void BM_PerDeviceCached(benchmark::State& state) {
    const QImage source = DecodeJpeg(Stored(int(state.range(0))));
    const TPromoText text = Text();
    for (auto _ : state)
        benchmark::DoNotOptimize(EncodeJpeg(ComposePromoPicture(source, text)));
    Label(state);
}

void BM_PerDeviceDecodingEachTime(benchmark::State& state) {
    const QByteArray& stored = Stored(int(state.range(0)));
    const TPromoText text = Text();
    for (auto _ : state)
        benchmark::DoNotOptimize(RenderPromoPicture(stored, text));
    Label(state);
}

BENCHMARK(BM_Decode)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Compose)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Encode)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LibjpegTurboEncode)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PerDeviceCached)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PerDeviceDecodingEachTime)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    EnsureQApplication(); // text needs a GUI application (offscreen)
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
