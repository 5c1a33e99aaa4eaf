#include "platform/forms/picture_box.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QRegularExpression>

#include "platform/forms/bmp_file.h"
#include "platform/forms/runtime_error.h"

namespace forms {

PictureBox::PictureBox(QWidget* parent) : QFrame(parent) {
  // A fixed single 3-D border, two pixels wide, around the inner drawing area.
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setLineWidth(2);
  back_color_ = palette().color(QPalette::Button);
}

void PictureBox::Scale(double left, double top, double right, double bottom) {
  scale_left_ = left;
  scale_top_ = top;
  scale_width_ = right - left;
  scale_height_ = bottom - top;
  current_x_ = left;
  current_y_ = top;
}

void PictureBox::ScalePixels() {
  scale_left_ = scale_top_ = scale_width_ = scale_height_ = 0;
  current_x_ = current_y_ = 0;
}

double PictureBox::ScaleWidth() const {
  return scale_width_ != 0 ? scale_width_ : contentsRect().width();
}

double PictureBox::ScaleHeight() const {
  return scale_height_ != 0 ? scale_height_ : contentsRect().height();
}

void PictureBox::SetBackColor(const QColor& color) {
  back_color_ = color;
  Cls();
}

QPointF PictureBox::ToPixels(double x, double y) const {
  const QRect inner = contentsRect();
  return {(x - scale_left_) * inner.width() / ScaleWidth(),
          (y - scale_top_) * inner.height() / ScaleHeight()};
}

QImage& PictureBox::Surface() {
  // A box that was never shown has had no resize event: follow the geometry on every use.
  const QSize inner = contentsRect().size().expandedTo(QSize(1, 1));
  if (image_.size() != inner) {
    QImage resized(inner, QImage::Format_RGB32);
    resized.fill(back_color_);
    if (!image_.isNull()) {
      QPainter painter(&resized);
      painter.drawImage(0, 0, image_);
    }
    image_ = std::move(resized);
  }
  return image_;
}

const QImage& PictureBox::Image() {
  return Surface();
}

void PictureBox::Cls() {
  Surface().fill(back_color_);
  current_x_ = 0;
  current_y_ = 0;
  update();
}

void PictureBox::Line(double x1, double y1, double x2, double y2, const QColor& color) {
  QPainter painter(&Surface());
  painter.setPen(QPen(color, 0));
  painter.drawLine(ToPixels(x1, y1), ToPixels(x2, y2));
  current_x_ = x2;
  current_y_ = y2;
  update();
}

void PictureBox::PSet(double x, double y, const QColor& color) {
  const QPointF at = ToPixels(x, y);
  const QPoint pixel(static_cast<int>(std::floor(at.x())), static_cast<int>(std::floor(at.y())));
  if (Surface().rect().contains(pixel)) image_.setPixelColor(pixel, color);
  current_x_ = x;
  current_y_ = y;
  update();
}

void PictureBox::Print(const QString& text, const QFont& font) {
  const QFontMetricsF metrics(font);
  // Line breaks inside the text (CR LF, or a lone CR or LF) start new lines, as in print
  // output; after the text the position moves to the start of the next line.
  static const QRegularExpression kBreak(QStringLiteral("\r\n|\r|\n"));
  const double line_step = metrics.lineSpacing() * ScaleHeight() / contentsRect().height();
  {
    QPainter painter(&Surface());
    painter.setFont(font);
    painter.setPen(fore_color_);
    bool first = true;
    for (const QString& line : text.split(kBreak)) {
      if (!first) {
        current_x_ = scale_left_;
        current_y_ += line_step;
      }
      first = false;
      const QPointF at = ToPixels(current_x_, current_y_);
      painter.drawText(QPointF(at.x(), at.y() + metrics.ascent()), line);
    }
  }
  current_x_ = scale_left_;
  current_y_ += line_step;
  update();
}

void PictureBox::PaintPicture(const QImage& picture, double x, double y, double width,
                              double height) {
  const QPointF from = ToPixels(x, y);
  const QPointF to = ToPixels(x + width, y + height);
  // Nearest pixel, as a stretched blit does by default; smoothing would cost a frame's worth
  // of time (about 3 ms at 640 x 480) at every picture.
  QPainter painter(&Surface());
  painter.drawImage(QRectF(from, to).normalized(), picture);
  update();
}

void PictureBox::SetPicture(const QImage& picture) {
  // A picture of the image's own size and format is the image: shared, not drawn.
  if (picture.size() == Surface().size() && picture.format() == image_.format()) {
    image_ = picture;
    update();
    return;
  }
  Surface().fill(back_color_);
  if (!picture.isNull()) {
    QPainter painter(&image_);
    painter.drawImage(0, 0, picture);
  }
  update();
}

void PictureBox::CopyRegion(PictureBox& source, const QRect& region, PictureBox& target,
                            const QPoint& at) {
  const QImage piece = source.Surface().copy(region);
  QPainter painter(&target.Surface());
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  painter.drawImage(at, piece);
  painter.end();
  target.update();
}

void PictureBox::SavePicture(const QString& path) {
  QString why;
  if (!WriteBmpFile(Surface(), path, &why))
    Raise(kPathFileAccess, kDefaultErrorSource,
          StandardDescription(kPathFileAccess) + QStringLiteral(": ") + path +
              QStringLiteral(": ") + why);
}

void PictureBox::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  QPainter painter(this);
  painter.drawImage(contentsRect().topLeft(), Surface());
}

}  // namespace forms
