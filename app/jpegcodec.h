// The application's JPEG codec: in-memory encoding and decoding of pictures.
// Pictures are written as baseline JPEG, 24-bit colour, quality 90.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include "vcl/SysUtils.h"

// A failure reported by the JPEG library; the message is "JPEG error #<code>".
class EJpegError : public vcl::Exception {
public:
    explicit EJpegError(int code);
    int Code() const { return code_; }

private:
    int code_;
};

// Encodes the image (any format; transparency is laid over white). Throws EJpegError,
// for example for an empty image.
QByteArray EncodeJpeg(const QImage& image);

// Decodes JPEG bytes into an RGB888 image. Throws EJpegError for bytes that are not
// a decodable JPEG picture (an empty buffer included) or a picture too large to hold.
QImage DecodeJpeg(const QByteArray& data);

// Reads a picture file chosen by the operator: a ".bmp" file (extension in any case)
// as a bitmap, every other file as JPEG. Throws vcl::Exception when the file cannot
// be read or is not a valid bitmap, EJpegError when it is not a valid JPEG picture.
QImage LoadPictureFile(const QString& path);
