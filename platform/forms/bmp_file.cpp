#include "platform/forms/bmp_file.h"

#include <QSaveFile>

namespace forms {

bool WriteBmpFile(const QImage& image, const QString& path) {
  if (image.isNull()) return false;
  QSaveFile file(path);
  const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
  return file.open(QIODevice::WriteOnly) && rgb.save(&file, "BMP") && file.commit();
}

}  // namespace forms
