#pragma once
// A picture box with a persistent image: everything drawn, printed, painted or assigned stays
// in the image, which is what gets shown, copied and saved. Coordinates are in the box's user
// scale (pixels until Scale() is called; y may grow upwards).

#include <QColor>
#include <QFrame>
#include <QImage>

namespace forms {

class PictureBox : public QFrame {
  Q_OBJECT

 public:
  explicit PictureBox(QWidget* parent = nullptr);

  // User scale: the left, top, right and bottom edges of the inner area in user units.
  void Scale(double left, double top, double right, double bottom);
  void ScalePixels();  // back to pixels from the top-left corner
  double ScaleLeft() const { return scale_left_; }
  double ScaleTop() const { return scale_top_; }
  double ScaleWidth() const;
  double ScaleHeight() const;

  QColor BackColor() const { return back_color_; }
  void SetBackColor(const QColor& color);
  QColor ForeColor() const { return fore_color_; }
  void SetForeColor(const QColor& color) { fore_color_ = color; }

  double CurrentX() const { return current_x_; }
  double CurrentY() const { return current_y_; }
  void SetCurrentX(double x) { current_x_ = x; }
  void SetCurrentY(double y) { current_y_ = y; }

  // Clears the image to the background colour; the print position goes to (0, 0).
  void Cls();
  void Line(double x1, double y1, double x2, double y2, const QColor& color);
  void PSet(double x, double y, const QColor& color);
  // Prints at the print position in the box's font (or the given one) and moves to the start
  // of the next line.
  void Print(const QString& text) { Print(text, font()); }
  void Print(const QString& text, const QFont& font);
  // Paints a picture stretched to the rectangle (user units).
  void PaintPicture(const QImage& picture, double x, double y, double width, double height);
  // Assigns a picture: the image is cleared and the picture shown at its own size from the
  // top-left corner.
  void SetPicture(const QImage& picture);
  void Refresh() { update(); }

  // The persistent image, sized to the inner area as it is now.
  const QImage& Image();
  // Pixel position of a point in user units.
  QPointF ToPixels(double x, double y) const;

  // Copies a pixel region of one box's image onto another's (plain source copy).
  static void CopyRegion(PictureBox& source, const QRect& region, PictureBox& target,
                         const QPoint& at);

  // Saves the persistent image as a 24-bit BMP file; the target is replaced only once the
  // whole file is written. Raises 75 (path/file access error) when it cannot be written.
  void SavePicture(const QString& path);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage& Surface();

  QImage image_;
  QColor back_color_;
  QColor fore_color_ = Qt::black;
  double scale_left_ = 0;
  double scale_top_ = 0;
  double scale_width_ = 0;   // 0: pixels
  double scale_height_ = 0;  // 0: pixels
  double current_x_ = 0;
  double current_y_ = 0;
};

}  // namespace forms
