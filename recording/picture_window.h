#pragma once
// The picture window: a text panel for the information stamp above a picture panel on which
// every periodic picture and DirectShow snapshot is composed before it is saved.

#include <QWidget>

#include "platform/forms/picture_box.h"

namespace recording {

class Form6 : public QWidget {
  Q_OBJECT

 public:
  explicit Form6(QWidget* parent = nullptr);

  forms::PictureBox* Picture1;  // text panel
  forms::PictureBox* Picture2;  // picture panel

 protected:
  // Closing only hides the window: the panels keep their settings and their last picture.
  void closeEvent(QCloseEvent* event) override;
};

}  // namespace recording
