#pragma once
// Camera back-end choice and switching: the two option handlers, switch-on, switch-off and
// the camera shutdown of the exit. Each operation reads Option7 / Option8 when it runs and
// takes the branch of the back end selected then.

#include <QComboBox>
#include <QLineEdit>
#include <QObject>
#include <QPushButton>
#include <QRadioButton>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <exception>
#include <memory>

#include "camera/directshow_capture.h"
#include "camera/vfw_capture.h"
#include "platform/forms/controls.h"
#include "platform/forms/picture_box.h"
#include "platform/forms/status_line.h"

namespace gst {
class CameraControls;
class ExposureLock;
}  // namespace gst

namespace camera {

// The main-window controls the camera reads and writes; it connects its handlers to them.
struct CameraControls {
  QWidget* MainWindow = nullptr;
  QRadioButton* Option7 = nullptr;    // VideoForWindows
  QRadioButton* Option8 = nullptr;    // DirectShow
  QRadioButton* Option9 = nullptr;    // bmp
  QRadioButton* Option10 = nullptr;   // jpg
  QPushButton* Command11 = nullptr;   // switch on
  QPushButton* Command13 = nullptr;   // switch off
  QPushButton* Command12 = nullptr;   // format
  QPushButton* Command15 = nullptr;   // picture properties
  QPushButton* Command2 = nullptr;    // video compression
  QPushButton* Command1 = nullptr;    // stop video recording
  QPushButton* Command22 = nullptr;   // frame rate
  QPushButton* Command24 = nullptr;   // start video recording (its holder connects it: the
                                      // video's name comes with the click)
  forms::ComboBox* Combo2 = nullptr;  // DirectShow camera list
  QLineEdit* Text40 = nullptr;        // frames per second of the preview
  forms::Shape* Shape1 = nullptr;
  forms::PictureBox* Picture1 = nullptr;  // preview area, parent of the capture window
  forms::StatusLine* Status = nullptr;    // the window's status line, for the camera's texts
};

// The view of a window that holds these controls under the main window's names.
template <class Window>
CameraControls CameraControlsOf(Window& w) {
  return {.MainWindow = &w,
          .Option7 = w.Option7,
          .Option8 = w.Option8,
          .Option9 = w.Option9,
          .Option10 = w.Option10,
          .Command11 = w.Command11,
          .Command13 = w.Command13,
          .Command12 = w.Command12,
          .Command15 = w.Command15,
          .Command2 = w.Command2,
          .Command1 = w.Command1,
          .Command22 = w.Command22,
          .Command24 = w.Command24,
          .Combo2 = w.Combo2,
          .Text40 = w.Text40,
          .Shape1 = w.Shape1,
          .Picture1 = w.Picture1,
          .Status = w.Status};
}

// The camera's state: only this subsystem changes it; the rest of the program reads it
// through CameraControl::State.
struct CameraState {
  std::int32_t CameraOn = 0;  // 1 while a camera is switched on and previewing
  QString CameraInfo;         // the driver list or the chosen camera's pins, as printed
  std::int32_t LastCapResult = 0;
  capture::HWND CaptureWindow = 0;
  std::shared_ptr<graph::DeviceCollection> VideoDevices;
  // Declared so that the window and the pin go before the graph they belong to.
  std::shared_ptr<graph::FilgraphManager> FilterGraph;
  std::shared_ptr<graph::IFilterInfo> CaptureFilter;
  std::shared_ptr<graph::IPinInfo> CapturePin;
  std::shared_ptr<graph::IBasicVideo> BasicVideo;
  std::shared_ptr<graph::IVideoWindow> VideoWindow;
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
void ClearFailureText(forms::StatusLine& status, bool camera, bool video);
// The status-line words of a switch-on whose camera did not take all of its remembered picture
// controls (CameraPipeline::ControlsNotice): " Настройки камеры: " and the notice; empty for an
// empty notice.
QString ControlsNoticeText(const QString& notice);
// The status line loses such words of an earlier switch-on; any other text stays.
void ClearControlsNotice(forms::StatusLine& status);

class CameraControl : public QObject {
  Q_OBJECT

 public:
  explicit CameraControl(const CameraControls& controls);
  // The graph's window and pin go first, then the graph, while the back ends their handlers
  // refer to still exist.
  ~CameraControl() override;

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
  // Video recording into `videoBase` + ".avi", named when the button was clicked.
  void Command24_Click(const QString& videoBase);
  void Command1_Click();
  // The camera step of the exit: only when a camera is on.
  void ShutdownAtExit();
  // The camera's part of the window's loading: the graph's camera list and JPEG wait for the
  // DirectShow back end.
  void Load();

  DirectShowCapture& DirectShow() { return directshow_; }
  // The filter graph's current frame as a packed bitmap (DirectShowCapture::CurrentImage).
  forms::LongArray CurrentImage() { return directshow_.CurrentImage(); }
  const CameraState& State() const { return state_; }
  std::int32_t CameraOn() const { return state_.CameraOn; }
  // The camera a periodic picture takes its frame from, with the chosen back end. Where that
  // back end's grab would find no frame it raises that grab's error: 68 for the capture
  // window's copy, the graph's for its current image.
  gst::CameraPipeline& RecordingCamera() const;

  // A run's start: when the operator chose to hold the exposure (gst::ExposureLockChosen) and a
  // camera is on, its exposure, gain and white balance are held as its automatic modes reached
  // them (gst::ExposureLock) until EndRunLock. Returns what could not be held, in Russian;
  // empty when all is held or nothing was to be.
  QStringList LockForRun();
  // A run's end: the operator's automatic modes come back; nothing without a lock.
  void EndRunLock();
  // A run's lock is held.
  bool RunLocked() const { return run_lock_ != nullptr; }
  // The open camera of the chosen back end, whether or not it delivers; null when none.
  gst::CameraPipeline* OpenCamera() const;

 signals:
  // The video stop also ends a running period clock and Timer 1's pictures; emitted first.
  void ClockStopRequested();
  // A video recording is about to start (the date and time display pauses for it), and one
  // has stopped, by the stop button or by itself (the display runs again).
  void VideoStarting();
  void VideoStopped();
  // The camera's information as printed on the signal panel (the graph's chosen camera and
  // its pins), whose owner prints it.
  void CameraInfoShown(const QString& info);

 private:
  friend struct CameraTestAccess;  // defined by the tests only

  CameraState state_;  // before the back ends, which refer to it
  CameraControls controls_;
  VfwCapture vfw_;
  DirectShowCapture directshow_;
  // The run's lock and the controls it holds, kept until the run ends: the camera may be
  // switched off before.
  std::unique_ptr<gst::CameraControls> run_controls_;
  std::unique_ptr<gst::ExposureLock> run_lock_;
};

}  // namespace camera
