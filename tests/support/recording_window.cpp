#include "tests/support/recording_window.h"

#include <QGroupBox>

#include "recording/wiring.h"

namespace testing_support {
namespace {

QPushButton* Button(QWidget* parent, const char* name) {
  auto* button = new QPushButton(QString::fromLatin1(name), parent);  // owned by the window
  button->setObjectName(QString::fromLatin1(name));
  return button;
}

QRadioButton* Option(QWidget* frame, const char* name) {
  auto* option = new QRadioButton(QString::fromLatin1(name), frame);  // owned by its frame
  option->setObjectName(QString::fromLatin1(name));
  return option;
}

}  // namespace

RecordingWindow::RecordingWindow() {
  // The main window's starting state: capture window and BMP chosen, JPEG not yet offered.
  auto* backEnds = new QGroupBox(this);
  Option7 = Option(backEnds, "Option7");
  Option8 = Option(backEnds, "Option8");
  auto* formats = new QGroupBox(this);
  Option9 = Option(formats, "Option9");
  Option10 = Option(formats, "Option10");
  Option7->setChecked(true);
  Option9->setChecked(true);
  Command11 = Button(this, "Command11");
  Command13 = Button(this, "Command13");
  Command12 = Button(this, "Command12");
  Command15 = Button(this, "Command15");
  Command22 = Button(this, "Command22");
  Command2 = Button(this, "Command2");
  Command19 = Button(this, "Command19");
  Command24 = Button(this, "Command24");
  Command1 = Button(this, "Command1");
  Text40 = new QLineEdit(QStringLiteral("24"), this);
  Combo2 = new forms::ComboBox(this);
  Picture1 = new forms::PictureBox(this);
  Picture1->resize(640, 480);
  Shape1 = new forms::Shape(Picture1);

  camera_ = std::make_unique<camera::CameraControl>(camera::CameraControlsOf(*this));
  recorder_ =
      std::make_unique<recording::PictureRecorder>(recording::RecordingControlsOf(*this, *camera_));
  // The main window's own wiring and loading (the generator has loaded with this window).
  recording::WireSubsystems(Generator(), *camera_, *recorder_, *Command24);
  recording::LoadSubsystems(*camera_, *recorder_);
}

void RecordingWindow::UnloadSubsystems() {
  recording::UnloadSubsystems(Generator(), *camera_);
}

// The recording and the camera go while the window that holds their controls still exists.
RecordingWindow::~RecordingWindow() {
  recorder_.reset();
  camera_.reset();
}

}  // namespace testing_support
