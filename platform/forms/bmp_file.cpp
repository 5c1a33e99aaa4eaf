#include "platform/forms/bmp_file.h"

#include <QSaveFile>

namespace forms {

bool WriteBmpFile(const QImage& image, const QString& path, QString* why) {
  QSaveFile file(path);
  if (!image.isNull() && file.open(QIODevice::WriteOnly) &&
      image.convertToFormat(QImage::Format_RGB888).save(&file, "BMP") && file.commit())
    return true;
  if (why) *why = image.isNull() ? QStringLiteral("no picture") : file.errorString();
  return false;
}

}  // namespace forms
