#pragma once
// The generator's window with the camera's and the recording's controls added and the three
// subsystems on them, wired by the main window's own wiring: the recording's and the camera's
// tests run without the application.

#include <QPushButton>
#include <QRadioButton>
#include <memory>

#include "camera/camera_control.h"
#include "recording/picture_recorder.h"
#include "tests/support/generator_window.h"

namespace testing_support {

class RecordingWindow : public GeneratorWindow {
 public:
  RecordingWindow();
  ~RecordingWindow() override;

  camera::CameraControl& Camera() { return *camera_; }
  recording::PictureRecorder& Recorder() { return *recorder_; }
  const camera::CameraState& CameraState() const { return camera_->State(); }
  std::int32_t CameraOn() const { return camera_->CameraOn(); }
  recording::Form6& PictureWindow() { return recorder_->PictureWindow(); }

  QRadioButton* Option7;
  QRadioButton* Option8;
  QRadioButton* Option9;
  QRadioButton* Option10;
  QPushButton* Command11;
  QPushButton* Command13;
  QPushButton* Command12;
  QPushButton* Command15;
  QPushButton* Command22;
  QPushButton* Command2;
  QPushButton* Command19;
  QPushButton* Command24;
  QPushButton* Command1;
  QLineEdit* Text40;
  forms::ComboBox* Combo2;
  forms::PictureBox* Picture1;
  forms::Shape* Shape1;

 protected:
  void UnloadSubsystems() override;

 private:
  std::unique_ptr<camera::CameraControl> camera_;
  std::unique_ptr<recording::PictureRecorder> recorder_;
};

}  // namespace testing_support
