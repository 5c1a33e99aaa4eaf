#pragma once
// The main window: every control the operator works with, the subsystems that own the state
// and the handlers, wired once; start-up and exit.

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QWidget>
#include <memory>

#include "app/help_window.h"
#include "camera/camera_control.h"
#include "generator/generator.h"
#include "platform/forms/controls.h"
#include "platform/forms/picture_box.h"
#include "platform/forms/status_line.h"
#include "recording/picture_recorder.h"

namespace app {

class Form1 : public QWidget {
  Q_OBJECT

 public:
  // Builds the controls and runs the loading; the window is not shown.
  explicit Form1(QWidget* parent = nullptr);
  ~Form1() override;

  void Form_Load();
  void Command5_Click();
  void Command16_Click();
  // A calibration of the camera's delay asked for in its properties dialog; the result (or
  // why there is none) in a message box.
  void CalibrateCamera_Click(int seconds);

  // The picture window, owned by the recording.
  recording::Form6& PictureWindow() { return recorder_->PictureWindow(); }
  // The help window if it is open.
  Form2* HelpWindow() const { return form2_; }
  bool Unloaded() const { return unloaded_; }
  generator::Generator& Generator() { return *generator_; }
  camera::CameraControl& Camera() { return *camera_; }
  recording::PictureRecorder& Recorder() { return *recorder_; }
  // State is read through the subsystems that own it.
  const generator::GeneratorState& Gen() const { return generator_->State(); }
  const camera::CameraState& CameraState() const { return camera_->State(); }
  std::int32_t CameraOn() const { return camera_->CameraOn(); }

  // Right column.
  QLabel* Label16;
  QLineEdit* Text2;
  QLabel* Label17;
  QLineEdit* Text3;
  QGroupBox* Frame4;
  QRadioButton* Option7;
  QRadioButton* Option8;
  QPushButton* Command11;
  QPushButton* Command13;
  QPushButton* Command12;
  QPushButton* Command15;
  QPushButton* Command22;
  QLineEdit* Text40;
  QPushButton* Command2;
  QPushButton* Command19;
  QGroupBox* Frame5;
  QRadioButton* Option9;
  QRadioButton* Option10;
  QPushButton* Command24;
  QPushButton* Command1;
  QLabel* Label9;
  QLineEdit* Text13;
  QLabel* Label11;
  QLineEdit* Text1;
  QLabel* Label5;
  QLineEdit* Text8;
  QLabel* Label7;
  QLineEdit* Text10;
  QLabel* Label4;
  forms::ComboBox* Combo2;
  forms::CheckBox* Check3;
  QPushButton* Command5;
  QPushButton* Command16;

  // Bottom panel.
  QLabel* Label10;
  forms::ComboBox* Combo1;
  forms::StatusLabel* Label1;
  forms::StatusLabel* Label12;
  forms::StatusLabel* Label15;
  QGroupBox* Frame1;
  QRadioButton* Option1;
  QRadioButton* Option2;
  QGroupBox* Frame2;
  QRadioButton* Option3;
  QRadioButton* Option4;
  QLabel* Label3;
  QLineEdit* Text5;
  QGroupBox* Frame3;
  QRadioButton* Option5;
  QRadioButton* Option6;
  QPushButton* Command3;
  QLineEdit* Text20;
  QLabel* Label13;
  QLineEdit* Text15;
  forms::CheckBox* Check5;
  QLineEdit* Text22;
  forms::PictureBox* Picture2;
  forms::CheckBox* Check2;
  QLineEdit* Text7;
  QPushButton* Command20;
  QLineEdit* Text4;
  QLabel* Label8;
  QLineEdit* Text27;
  QPushButton* Command4;

  // Camera preview area.
  forms::PictureBox* Picture1;
  forms::Shape* Shape1;
  QLabel* Label2;
  QLabel* Label20;
  QLabel* Label24;

  QTimer* Timer1;
  QTimer* Timer2;

  // The status line (Label1) as the subsystems write it: the window's, the label's child.
  forms::StatusLine* Status;

 protected:
  // The title-bar close runs the exit sequence, so no hidden window or tone outlives it.
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateControls();
  void ConnectHandlers();

  std::unique_ptr<generator::Generator> generator_;
  std::unique_ptr<camera::CameraControl> camera_;
  std::unique_ptr<recording::PictureRecorder> recorder_;
  QPointer<Form2> form2_;
  bool unloaded_ = false;
};

}  // namespace app
