#include "recording/stamped_picture.h"

#include <QBuffer>
#include <QPainter>

#include "platform/gdiplus/encoders.h"

namespace recording {

StampedPicture MakeStampedPicture(const QImage& frame, const QImage& stamp,
                                  const PictureLayout& layout) {
  StampedPicture result;
  QImage& image = result.image;
  image = QImage(layout.panel.expandedTo(QSize(1, 1)), QImage::Format_RGB32);
  // A stretched frame covers every pixel; only a frame at its own size may leave room.
  if (layout.backend == Backend::CaptureWindow || frame.isNull()) image.fill(layout.background);
  {
    QPainter painter(&image);
    // Nearest pixel, as a stretched blit does by default: smoothing would cost about 3 ms a
    // picture at 640 x 480 and change what the files always held.
    if (!frame.isNull()) {
      if (layout.backend == Backend::CaptureWindow)
        painter.drawImage(0, 0, frame);
      else
        painter.drawImage(QRectF(QPointF(0, 0), QSizeF(image.size())), frame);
    }
    // The stamp replaces what lies under it, as the panels' region copy does.
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(QPoint(0, 0), stamp);
  }
  result.file = EncodePicture(image, layout.format);
  return result;
}

std::optional<QByteArray> EncodePicture(const QImage& picture, PictureFormat format) {
  if (picture.isNull()) return std::nullopt;
  if (format == PictureFormat::Jpeg) return gdiplus::EncodeJpeg(picture, kJpegQuality);
  QByteArray bytes;
  // The whole file at once: 24-bit rows padded to 4 bytes after the two headers.
  bytes.reserve(54 + qsizetype{(picture.width() * 3 + 3) & ~3} * picture.height());
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  // Qt's BMP writer writes 24 bits a pixel from RGB32 rows: no conversion of our own first.
  if (!picture.convertToFormat(QImage::Format_RGB32).save(&buffer, "BMP")) return std::nullopt;
  return bytes;
}

std::optional<QByteArray> EncodeFrameFile(const QImage& frame, bool grey) {
  if (frame.isNull()) return std::nullopt;
  // The fastest deflate: a frame a picture is lossless at any level, and the writer keeps pace
  // with the camera.
  return gdiplus::EncodePng(grey ? frame.convertToFormat(QImage::Format_Grayscale8) : frame, 1);
}

}  // namespace recording
