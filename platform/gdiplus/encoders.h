#pragma once
// The image encoders behind the GDI+ stand-in: JPEG (TurboJPEG), PNG (libpng), GIF (giflib).
// Each returns the whole file in memory, or nothing when it cannot encode the image.

#include <QByteArray>
#include <QImage>
#include <optional>

namespace gdiplus {

std::optional<QByteArray> EncodeJpeg(const QImage& image, int quality);
std::optional<QByteArray> EncodePng(const QImage& image);
std::optional<QByteArray> EncodeGif(const QImage& image);

}  // namespace gdiplus
