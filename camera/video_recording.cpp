// Video recording with the capture window: start and stop.

#include <QCoreApplication>
#include <QFile>

#include "camera/camera_control.h"
#include "camera/logging.h"

namespace camera {

void CameraControl::Command24_Click(const QString& videoBase) {
  emit VideoStarting();
  const QByteArray file = QFile::encodeName(videoBase + QStringLiteral(".avi"));
  capture::SendMessageA(state_.CaptureWindow, capture::WM_CAP_FILE_SET_CAPTURE_FILEA, 0,
                        reinterpret_cast<capture::LPARAM>(file.constData()));
  capture::CAPTUREPARMS parameters{};
  capture::SendMessageA(state_.CaptureWindow, capture::WM_CAP_GET_SEQUENCE_SETUP,
                        sizeof(capture::CAPTUREPARMS),
                        reinterpret_cast<capture::LPARAM>(&parameters));
  parameters.fYield = 1;
  parameters.fCaptureAudio = 0;
  capture::SendMessageA(state_.CaptureWindow, capture::WM_CAP_SET_SEQUENCE_SETUP,
                        sizeof(capture::CAPTUREPARMS),
                        reinterpret_cast<capture::LPARAM>(&parameters));
  if (capture::SendMessageA(state_.CaptureWindow, capture::WM_CAP_SEQUENCE, 0, 0))
    ClearFailureText(*controls_.Status, false, true);
  // Without any capture window nothing could even report the failure.
  if (!capture::WindowOf(state_.CaptureWindow)) {
    qCWarning(lcCameraControl) << "video recording not started: no capture window";
    controls_.Status->Say(VideoErrorText(QStringLiteral("камера не включена")));
  }
  QCoreApplication::processEvents();
}

void CameraControl::Command1_Click() {
  emit ClockStopRequested();
  capture::SendMessageA(state_.CaptureWindow, capture::WM_CAP_STOP, 0, 0);
  emit VideoStopped();
  QCoreApplication::processEvents();
}

}  // namespace camera
