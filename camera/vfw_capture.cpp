#include "camera/vfw_capture.h"

#include <array>
#include <cmath>

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
  *c_.CameraInfo = DriverList();
  c_.Picture1->Print(*c_.CameraInfo);
  // A window left connected by an earlier switch-on (the back end was changed before the
  // switch-off) would hold the camera: the new window could not open it.
  capture::SendMessageA(*c_.CaptureWindow, capture::WM_CAP_DRIVER_DISCONNECT, 0, 0);
  const int width = static_cast<int>(std::lround(c_.Picture1->width()));
  const int height = static_cast<int>(std::lround(c_.Picture1->height()));
  *c_.CaptureWindow = capture::capCreateCaptureWindowA("Take a Camera Shot",
                                                       capture::WS_CHILD | capture::WS_VISIBLE, 0,
                                                       0, width, height, c_.Picture1, 0);
  if (*c_.CaptureWindow == 0) return;
  QLabel* status = c_.Label1;
  QTimer* clock = c_.Timer2;
  capture::SetErrorHandler(*c_.CaptureWindow, [status](const QString& reason) {
    status->setText(CameraErrorText(reason));
  });
  // A recording that ended by itself ends as the stop button ends it: the date and time
  // display, stopped for the recording, runs again.
  capture::SetRecordingErrorHandler(*c_.CaptureWindow, [status, clock](const QString& reason) {
    status->setText(VideoErrorText(reason));
    clock->start();
  });
  if (capture::SendMessageA(*c_.CaptureWindow, capture::WM_CAP_DRIVER_CONNECT, 0, 0))
    ClearFailureText(*status, true, true);
  capture::SendMessageA(*c_.CaptureWindow, capture::WM_CAP_SET_PREVIEWRATE, 33, 0);
  capture::SendMessageA(*c_.CaptureWindow, capture::WM_CAP_SET_PREVIEW,
                        static_cast<capture::WPARAM>(-1), 0);
  *c_.CameraOn = 1;
}

void VfwCapture::Disconnect() {
  *c_.LastCapResult = static_cast<std::int32_t>(
      capture::SendMessageA(*c_.CaptureWindow, capture::WM_CAP_DRIVER_DISCONNECT, 0, 0));
}

}  // namespace camera
