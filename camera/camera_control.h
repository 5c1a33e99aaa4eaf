#pragma once
// Camera back-end choice and switching: the two option handlers, switch-on, switch-off and
// the camera shutdown of the exit. Each operation reads Option7 / Option8 when it runs and
// takes the branch of the back end selected then.

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <exception>
#include <functional>

#include "camera/directshow_capture.h"
#include "camera/vfw_capture.h"
#include "platform/forms/controls.h"
#include "platform/forms/picture_box.h"

namespace camera {

// The main-window controls and fields the camera reads and writes.
struct CameraControls {
  QWidget* MainWindow = nullptr;
  QRadioButton* Option7 = nullptr;   // VideoForWindows
  QRadioButton* Option8 = nullptr;   // DirectShow
  QRadioButton* Option9 = nullptr;   // bmp
  QRadioButton* Option10 = nullptr;  // jpg
  QPushButton* Command1 = nullptr;   // stop video recording
  QPushButton* Command22 = nullptr;  // frame rate
  QPushButton* Command24 = nullptr;  // start video recording
  QComboBox* Combo2 = nullptr;       // DirectShow camera list
  QLabel* Label1 = nullptr;          // camera status
  QLineEdit* Text40 = nullptr;       // frames per second of the preview
  QTimer* Timer1 = nullptr;          // Timer 1 picture recording
  QTimer* Timer2 = nullptr;          // date and time display
  forms::Shape* Shape1 = nullptr;
  forms::PictureBox* Picture1 = nullptr;  // preview area, parent of the capture window
  forms::PictureBox* Picture2 = nullptr;  // DirectShow camera information
  // The camera's own state, set by CameraControl to its member.
  std::int32_t* CameraOn = nullptr;
  // Main-window fields.
  QString* CameraInfo = nullptr;
  std::int32_t* LastCapResult = nullptr;
  capture::HWND* CaptureWindow = nullptr;
  std::shared_ptr<graph::DeviceCollection>* VideoDevices = nullptr;
  std::shared_ptr<graph::FilgraphManager>* FilterGraph = nullptr;
  std::shared_ptr<graph::IFilterInfo>* CaptureFilter = nullptr;
  std::shared_ptr<graph::IPinInfo>* CapturePin = nullptr;
  std::shared_ptr<graph::IVideoWindow>* VideoWindow = nullptr;
  std::shared_ptr<graph::IBasicVideo>* BasicVideo = nullptr;
  std::int32_t* StopRequested = nullptr;  // of the generator: ends a running period clock
  // Renews the date and time texts and names the next video: its path without ".avi".
  std::function<QString()> NameVideo;
};

// The status-line text of a camera that failed while on.
QString CameraErrorText(const QString& reason);
// The trace of a failure caught in `where`, then the one message of a failed camera command:
// "Ошибка в работе программы", title "WebCam".
void ReportCameraFailure(const char* where, const std::exception& error);
// The status-line text of a video recording that could not start or failed.
QString VideoErrorText(const QString& reason);
// A success ends what an earlier failure said: the status line loses a failure text of the
// kinds given (CameraErrorText, VideoErrorText); any other text stays.
void ClearFailureText(QLabel& status, bool camera, bool video);

class CameraControl {
 public:
  explicit CameraControl(CameraControls controls);
  CameraControl(const CameraControl&) = delete;
  CameraControl& operator=(const CameraControl&) = delete;

  void Option7_Click();
  void Option8_Click();
  void Command11_Click();
  void Command13_Click();
  void Combo2_Click() { directshow_.Combo2_Click(); }

  // Camera settings.
  void Command12_Click();
  void Command15_Click();
  void Command22_Click();
  void Command2_Click();
  // Video recording.
  void Command24_Click();
  void Command1_Click();
  // The camera step of the exit: only when a camera is on.
  void ShutdownAtExit();

  VfwCapture& Vfw() { return vfw_; }
  DirectShowCapture& DirectShow() { return directshow_; }
  // 1 while a camera is switched on and previewing: only this subsystem changes it.
  std::int32_t CameraOn() const { return camera_on_; }
  // The pipeline of the camera that is on, with the chosen back end; null when none is.
  gstutil::CameraPipeline* OpenCamera() const;

 private:
  std::int32_t camera_on_ = 0;  // before controls_, which points to it
  CameraControls controls_;
  VfwCapture vfw_;
  DirectShowCapture directshow_;
};

}  // namespace camera
