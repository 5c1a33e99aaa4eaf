#include "camera/vfw_capture.h"

#include <array>
#include <cmath>

#include <QPointer>

#include "camera/camera_control.h"

namespace camera {
namespace {

const QString kCrLf = QStringLiteral("\r\n");
constexpr int kDescriptionSize = 80;

}  // namespace

QString VfwCapture::DriverList() {
  QString info = QStringLiteral(" Найден стандартный драйвер видеозазвата   ") + kCrLf + kCrLf;
  for (capture::UINT index = 0;; ++index) {
    std::array<char, kDescriptionSize> name{};
    std::array<char, kDescriptionSize> version{};
    if (!capture::capGetDriverDescriptionA(index, name.data(), kDescriptionSize, version.data(),
                                           kDescriptionSize))
      break;
    info += QString::fromUtf8(name.data()).trimmed() + QStringLiteral("   -   ") +
            QString::fromUtf8(version.data()).trimmed() + kCrLf;
  }
  return info;
}

void VfwCapture::SwitchOn() {
  state_.CameraInfo = DriverList();
  controls_.Picture1->Print(state_.CameraInfo);
  // A window left connected by an earlier switch-on (the back end was changed before the
  // switch-off) would hold the camera: the new window could not open it.
  capture::SendMessageA(state_.CaptureWindow, capture::WM_CAP_DRIVER_DISCONNECT, 0, 0);
  const int width = static_cast<int>(std::lround(controls_.Picture1->width()));
  const int height = static_cast<int>(std::lround(controls_.Picture1->height()));
  state_.CaptureWindow = capture::capCreateCaptureWindowA(
      "Take a Camera Shot", capture::WS_CHILD | capture::WS_VISIBLE, 0, 0, width, height,
      controls_.Picture1, 0);
  if (state_.CaptureWindow == 0) return;
  // The capture window logs what it reports. Its handlers may outlive the window that holds
  // the status line.
  const QPointer<forms::StatusLine> status = controls_.Status;
  const QPointer<CameraControl> owner = &owner_;
  capture::SetErrorHandler(state_.CaptureWindow, [status](const QString& reason) {
    if (status) status->Say(CameraErrorText(reason));
  });
  capture::SetResumeHandler(state_.CaptureWindow, [status] {
    if (status) ClearFailureText(*status, true, false);
  });
  // A recording that ended by itself ends as the stop button ends it: the date and time
  // display, stopped for the recording, runs again.
  capture::SetRecordingErrorHandler(state_.CaptureWindow, [status, owner](const QString& reason) {
    if (status) status->Say(VideoErrorText(reason));
    if (owner) emit owner->VideoStopped();
  });
  // A file that could not be finished is told after its stop, perhaps during a new recording
  // that keeps the display stopped: the text only.
  capture::SetFinishErrorHandler(state_.CaptureWindow, [status](const QString& reason) {
    if (status) status->Say(VideoErrorText(reason));
  });
  forms::StatusLine& line = *controls_.Status;
  if (capture::SendMessageA(state_.CaptureWindow, capture::WM_CAP_DRIVER_CONNECT, 0, 0)) {
    ClearFailureText(line, true, true);
    // The switch-on has no text of its own: what the camera did not take of its remembered
    // controls is the status line's, and an earlier switch-on's word of it goes.
    const gst::CameraPipeline* camera = capture::CameraOf(state_.CaptureWindow);
    const QString notice = camera ? camera->ControlsNotice() : QString();
    if (notice.isEmpty())
      ClearControlsNotice(line);
    else
      line.Say(ControlsNoticeText(notice));
  }
  capture::SendMessageA(state_.CaptureWindow, capture::WM_CAP_SET_PREVIEWRATE, 33, 0);
  capture::SendMessageA(state_.CaptureWindow, capture::WM_CAP_SET_PREVIEW,
                        static_cast<capture::WPARAM>(-1), 0);
  state_.CameraOn = 1;
}

void VfwCapture::Disconnect() {
  state_.LastCapResult = static_cast<std::int32_t>(
      capture::SendMessageA(state_.CaptureWindow, capture::WM_CAP_DRIVER_DISCONNECT, 0, 0));
}

}  // namespace camera
