#pragma once
// Writing a picture as a 24-bit bottom-up BMP file, the format every picture box and capture
// window saves in. The file appears complete or not at all: it is written under a temporary
// name in the same folder and renamed into place.

#include <QImage>
#include <QString>

namespace forms {

// False when it could not be written, with the system's reason in `why` when given.
[[nodiscard]] bool WriteBmpFile(const QImage& image, const QString& path, QString* why = nullptr);

}  // namespace forms
