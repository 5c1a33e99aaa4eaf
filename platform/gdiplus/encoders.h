#pragma once
// The image encoders behind the GDI+ stand-in: JPEG (TurboJPEG), PNG (libpng), GIF (giflib).
// Each returns the whole file in memory, or nothing when it cannot encode the image.

#include <QByteArray>
#include <QImage>
#include <optional>

namespace gdiplus {

std::optional<QByteArray> EncodeJpeg(const QImage& image, int quality);
// An 8-bit grey image stays grey, anything else is RGB; `level` is zlib's (-1: libpng's own).
std::optional<QByteArray> EncodePng(const QImage& image, int level = -1);
std::optional<QByteArray> EncodeGif(const QImage& image);

// Whether the system has the encoder of that CLSID text: here all three always are. It is
// alone in installed_encoders.cpp, so that a test can link its own answer in its place, as a
// system that lacks one would give.
bool EncoderInstalled(const char* encoderText);

}  // namespace gdiplus
