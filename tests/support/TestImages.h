// Pictures for the tests of the picture-taking forms. Header only: it needs Qt's GUI module.
#pragma once

#include <QColor>
#include <QImage>

namespace tavtest {

// A picture that changes along both axes, so scaling and cropping show.
inline QImage Gradient(int w, int h) {
    QImage img(w, h, QImage::Format_RGB888);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixelColor(x, y, QColor(x * 255 / w, y * 255 / h, 128));
    return img;
}

} // namespace tavtest
