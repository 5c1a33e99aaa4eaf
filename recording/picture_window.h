#pragma once
// The picture window: a text panel for the information stamp above a picture panel on which
// every periodic picture and DirectShow snapshot is composed before it is saved.

#include <QAction>
#include <QRect>
#include <QWidget>

#include "platform/forms/picture_box.h"

namespace recording {

// The information stamp: this region of the text panel's image is copied, unscaled, onto the
// same region of the picture.
inline constexpr QRect kStampRegion(0, 0, 200, 50);

class Form6 : public QWidget {
  Q_OBJECT

 public:
  explicit Form6(QWidget* parent = nullptr);

  forms::PictureBox* Picture1;  // text panel
  forms::PictureBox* Picture2;  // picture panel
  // The window's menu (right click): the camera's own frames saved beside the pictures, and
  // whether in grey; the choice is kept in the user's settings.
  QAction* SaveFrames;
  QAction* GreyFrames;
  // The strobe and the rule a picture's frame is chosen by (the recorder shows its dialog).
  QAction* StrobeAndFrame;

 protected:
  // Closing only hides the window: the panels keep their settings and their last picture.
  void closeEvent(QCloseEvent* event) override;
};

// Prints one line of the stamp at (x, y) of the text panel's user scale, in the panel's font
// where the line fits inside the stamp and in the largest smaller size that fits otherwise.
void PrintStampLine(forms::PictureBox& panel, double x, double y, const QString& line);

}  // namespace recording
