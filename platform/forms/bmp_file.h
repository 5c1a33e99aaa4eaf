#pragma once
// Writing a picture as a 24-bit bottom-up BMP file, the format every picture box and capture
// window saves in. The file appears complete or not at all: it is written under a temporary
// name in the same folder and renamed into place.

#include <QImage>
#include <QString>

namespace forms {

bool WriteBmpFile(const QImage& image, const QString& path);

}  // namespace forms
