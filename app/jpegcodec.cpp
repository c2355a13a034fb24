#include "jpegcodec.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <QFile>
#include <QFileInfo>
#include <QPainter>

// clang-format off
extern "C" {
#include <jpeglib.h>
#include <jerror.h>
}
// clang-format on

EJpegError::EJpegError(int code) : vcl::Exception(vcl::Format(u"JPEG error #%d", code)), code_(code) {}

// The library reports a fatal error by calling error_exit, which must not return. We
// leave it with longjmp. Every function holding a setjmp below owns only plain C
// state, so the jump never passes over a C++ object with a destructor; the error code
// is turned into an exception by the caller, outside that region.
namespace {

const int kQuality = 90;
// Decoding refuses pictures beyond this many pixels (about 200 MB as RGB).
const unsigned long long kMaxPixels = 64ull * 1024 * 1024;

struct ErrorMgr {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    int code;
};

void OnErrorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorMgr*>(cinfo->err);
    err->code = cinfo->err->msg_code;
    std::longjmp(err->jump, 1);
}

// Warnings (a truncated picture, for instance) are not fatal and go nowhere.
void OnOutputMessage(j_common_ptr) {}

void InitErrors(ErrorMgr* err) {
    jpeg_std_error(&err->pub);
    err->pub.error_exit = OnErrorExit;
    err->pub.output_message = OnOutputMessage;
    err->code = 0;
}

void Fail(j_common_ptr cinfo, int code) {
    cinfo->err->msg_code = code;
    (*cinfo->err->error_exit)(cinfo);
}

// ---- in-memory destination: a malloc'ed buffer that doubles as it fills

struct DestMgr {
    jpeg_destination_mgr pub;
    JOCTET* buffer;
    size_t capacity;
    size_t length;
};

void DestInit(j_compress_ptr cinfo) {
    auto* d = reinterpret_cast<DestMgr*>(cinfo->dest);
    d->capacity = 64 * 1024;
    d->buffer = static_cast<JOCTET*>(std::malloc(d->capacity));
    if (!d->buffer)
        Fail(reinterpret_cast<j_common_ptr>(cinfo), JERR_OUT_OF_MEMORY);
    d->pub.next_output_byte = d->buffer;
    d->pub.free_in_buffer = d->capacity;
}

boolean DestEmpty(j_compress_ptr cinfo) {
    auto* d = reinterpret_cast<DestMgr*>(cinfo->dest);
    size_t grown = d->capacity * 2;
    auto* bigger = static_cast<JOCTET*>(std::realloc(d->buffer, grown));
    if (!bigger)
        Fail(reinterpret_cast<j_common_ptr>(cinfo), JERR_OUT_OF_MEMORY);
    d->buffer = bigger;
    d->pub.next_output_byte = bigger + d->capacity;
    d->pub.free_in_buffer = grown - d->capacity;
    d->capacity = grown;
    return TRUE;
}

void DestTerm(j_compress_ptr cinfo) {
    auto* d = reinterpret_cast<DestMgr*>(cinfo->dest);
    d->length = d->capacity - d->pub.free_in_buffer;
}

struct EncodeJob {
    jpeg_compress_struct cinfo;
    ErrorMgr err;
    DestMgr dest;
    const unsigned char* pixels; // RGB rows
    size_t stride;
    unsigned width, height;
};

// Returns 0 or the library's message code. On success job->dest holds the bytes; the
// caller frees dest.buffer in every case.
int RunEncode(EncodeJob* job) {
    InitErrors(&job->err);
    job->cinfo.err = &job->err.pub;
    if (setjmp(job->err.jump)) {
        jpeg_destroy_compress(&job->cinfo);
        return job->err.code ? job->err.code : -1;
    }
    jpeg_create_compress(&job->cinfo);
    job->dest.pub.init_destination = DestInit;
    job->dest.pub.empty_output_buffer = DestEmpty;
    job->dest.pub.term_destination = DestTerm;
    job->cinfo.dest = &job->dest.pub;
    job->cinfo.image_width = job->width;
    job->cinfo.image_height = job->height;
    job->cinfo.input_components = 3;
    job->cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&job->cinfo);
    jpeg_set_quality(&job->cinfo, kQuality, TRUE);
    jpeg_start_compress(&job->cinfo, TRUE);
    while (job->cinfo.next_scanline < job->cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(job->pixels + job->cinfo.next_scanline * job->stride);
        jpeg_write_scanlines(&job->cinfo, &row, 1);
    }
    jpeg_finish_compress(&job->cinfo);
    jpeg_destroy_compress(&job->cinfo);
    return 0;
}

// ---- in-memory source over the caller's bytes

struct SourceMgr {
    jpeg_source_mgr pub;
};

const JOCTET kFakeEoi[2] = {0xFF, JPEG_EOI};

void SrcInit(j_decompress_ptr) {}

// The data ran out: end the picture as the library expects, with a warning.
boolean SrcFill(j_decompress_ptr cinfo) {
    WARNMS(cinfo, JWRN_JPEG_EOF);
    cinfo->src->next_input_byte = kFakeEoi;
    cinfo->src->bytes_in_buffer = 2;
    return TRUE;
}

void SrcSkip(j_decompress_ptr cinfo, long count) {
    if (count <= 0)
        return;
    auto n = static_cast<size_t>(count);
    while (n > cinfo->src->bytes_in_buffer) {
        n -= cinfo->src->bytes_in_buffer;
        SrcFill(cinfo);
    }
    cinfo->src->next_input_byte += n;
    cinfo->src->bytes_in_buffer -= n;
}

void SrcTerm(j_decompress_ptr) {}

struct DecodeJob {
    jpeg_decompress_struct cinfo;
    ErrorMgr err;
    SourceMgr src;
    const unsigned char* data;
    size_t size;
    bool cmyk;
    bool inverted; // Adobe CMYK stores inverted values
    unsigned width, height;
};

// Reads the header and starts decompression. Returns 0 or the message code; after a
// failure the job is already destroyed.
int StartDecode(DecodeJob* job) {
    InitErrors(&job->err);
    job->cinfo.err = &job->err.pub;
    if (setjmp(job->err.jump)) {
        jpeg_destroy_decompress(&job->cinfo);
        return job->err.code ? job->err.code : -1;
    }
    jpeg_create_decompress(&job->cinfo);
    if (!job->data || job->size == 0)
        Fail(reinterpret_cast<j_common_ptr>(&job->cinfo), JERR_INPUT_EMPTY);
    job->src.pub.init_source = SrcInit;
    job->src.pub.fill_input_buffer = SrcFill;
    job->src.pub.skip_input_data = SrcSkip;
    job->src.pub.resync_to_restart = jpeg_resync_to_restart;
    job->src.pub.term_source = SrcTerm;
    job->src.pub.next_input_byte = job->data;
    job->src.pub.bytes_in_buffer = job->size;
    job->cinfo.src = &job->src.pub;
    jpeg_read_header(&job->cinfo, TRUE);
    job->cmyk = job->cinfo.jpeg_color_space == JCS_CMYK || job->cinfo.jpeg_color_space == JCS_YCCK;
    job->inverted = job->cmyk && job->cinfo.saw_Adobe_marker;
    job->cinfo.out_color_space = job->cmyk ? JCS_CMYK : JCS_RGB;
    if (static_cast<unsigned long long>(job->cinfo.image_width) * job->cinfo.image_height > kMaxPixels)
        Fail(reinterpret_cast<j_common_ptr>(&job->cinfo), JERR_IMAGE_TOO_BIG);
    jpeg_start_decompress(&job->cinfo);
    job->width = job->cinfo.output_width;
    job->height = job->cinfo.output_height;
    return 0;
}

// Decodes every row into pixels (RGB, stride bytes per row) and ends the job.
int FinishDecode(DecodeJob* job, unsigned char* pixels, size_t stride) {
    if (setjmp(job->err.jump)) {
        jpeg_destroy_decompress(&job->cinfo);
        return job->err.code ? job->err.code : -1;
    }
    JSAMPARRAY cmykRow = nullptr;
    if (job->cmyk)
        cmykRow = (*job->cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&job->cinfo), JPOOL_IMAGE,
                                                  job->width * 4, 1);
    while (job->cinfo.output_scanline < job->cinfo.output_height) {
        unsigned char* out = pixels + job->cinfo.output_scanline * stride;
        if (!job->cmyk) {
            JSAMPROW row = out;
            jpeg_read_scanlines(&job->cinfo, &row, 1);
            continue;
        }
        jpeg_read_scanlines(&job->cinfo, cmykRow, 1);
        const unsigned char* in = cmykRow[0];
        for (unsigned x = 0; x < job->width; ++x, in += 4, out += 3) {
            unsigned c = in[0], m = in[1], y = in[2], k = in[3];
            if (!job->inverted) {
                c = 255 - c;
                m = 255 - m;
                y = 255 - y;
                k = 255 - k;
            }
            out[0] = static_cast<unsigned char>(c * k / 255);
            out[1] = static_cast<unsigned char>(m * k / 255);
            out[2] = static_cast<unsigned char>(y * k / 255);
        }
    }
    jpeg_finish_decompress(&job->cinfo);
    jpeg_destroy_decompress(&job->cinfo);
    return 0;
}

QImage ToRgb888(const QImage& image) {
    if (!image.hasAlphaChannel())
        return image.convertToFormat(QImage::Format_RGB888);
    QImage flat(image.size(), QImage::Format_RGB888);
    flat.fill(Qt::white);
    QPainter p(&flat);
    p.drawImage(0, 0, image);
    p.end();
    return flat;
}

} // namespace

QByteArray EncodeJpeg(const QImage& image) {
    QImage rgb = image.isNull() ? QImage() : ToRgb888(image);
    if (!image.isNull() && rgb.isNull())
        throw EJpegError(JERR_OUT_OF_MEMORY);
    EncodeJob job{};
    job.pixels = rgb.constBits();
    job.stride = static_cast<size_t>(rgb.bytesPerLine());
    job.width = static_cast<unsigned>(rgb.width());
    job.height = static_cast<unsigned>(rgb.height());
    int code = RunEncode(&job);
    QByteArray out;
    if (code == 0)
        out = QByteArray(reinterpret_cast<const char*>(job.dest.buffer), static_cast<qsizetype>(job.dest.length));
    std::free(job.dest.buffer);
    if (code != 0)
        throw EJpegError(code);
    return out;
}

QImage DecodeJpeg(const QByteArray& data) {
    DecodeJob job{};
    job.data = reinterpret_cast<const unsigned char*>(data.constData());
    job.size = static_cast<size_t>(data.size());
    if (int code = StartDecode(&job))
        throw EJpegError(code);
    QImage image(static_cast<int>(job.width), static_cast<int>(job.height), QImage::Format_RGB888);
    if (image.isNull()) {
        jpeg_destroy_decompress(&job.cinfo);
        throw EJpegError(JERR_OUT_OF_MEMORY);
    }
    if (int code = FinishDecode(&job, image.bits(), static_cast<size_t>(image.bytesPerLine())))
        throw EJpegError(code);
    return image;
}

QImage LoadPictureFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw vcl::Exception(
            vcl::Format(u"Cannot open file \"%s\". %s", path.toStdU16String(), file.errorString().toStdU16String()));
    QByteArray bytes = file.readAll();
    if (QFileInfo(path).suffix().compare(QLatin1String("bmp"), Qt::CaseInsensitive) == 0) {
        QImage image = QImage::fromData(bytes, "BMP");
        if (image.isNull())
            throw vcl::Exception(u"Bitmap image is not valid");
        return image;
    }
    return DecodeJpeg(bytes);
}
