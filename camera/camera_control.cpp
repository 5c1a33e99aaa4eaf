#include "camera/camera_control.h"

#include "camera/logging.h"
#include "platform/forms/message_box.h"
#include "platform/forms/runtime_error.h"

namespace camera {

Q_LOGGING_CATEGORY(lcCameraControl, "strobolux.camera")

namespace {

const QString kTitle = QStringLiteral("WebCam");

}  // namespace

void ReportCameraFailure(const char* where, const std::exception& error) {
  forms::LogFailure(lcCameraControl(), where, error);
  forms::MsgBox(QStringLiteral("Ошибка в работе программы"), kTitle);
}

QString CameraErrorText(const QString& reason) {
  return QStringLiteral(" Camera error: ") + reason;
}

QString VideoErrorText(const QString& reason) {
  return QStringLiteral(" Video capture failed: ") + reason;
}

void ClearFailureText(QLabel& status, bool camera, bool video) {
  const QString& text = status.text();
  if ((camera && text.startsWith(CameraErrorText(QString()))) ||
      (video && text.startsWith(VideoErrorText(QString()))))
    status.clear();
}

CameraControl::CameraControl(CameraControls controls)
    : c_(std::move(controls)), vfw_(c_), directshow_(c_) {}

void CameraControl::Option7_Click() {
  c_.Command1->setEnabled(true);
  c_.Command22->setEnabled(true);
  c_.Command24->setEnabled(true);
  c_.Option10->setChecked(false);
  c_.Option10->setEnabled(false);
  c_.Option9->setChecked(true);
  c_.Combo2->setEnabled(false);
  c_.Shape1->setVisible(false);
}

void CameraControl::Option8_Click() {
  c_.Command1->setEnabled(false);
  c_.Command22->setEnabled(false);
  c_.Command24->setEnabled(false);
  c_.Option10->setChecked(true);
  c_.Option10->setEnabled(true);
  c_.Combo2->setEnabled(true);
  c_.Combo2->setEditText(QStringLiteral("нажмите Включить вэбкамеру"));
  c_.Shape1->setVisible(true);
}

void CameraControl::Command11_Click() {
  try {
    if (*c_.CameraOn == 1) {
      forms::MsgBox(QStringLiteral("Отключите уже включенную камеру"), kTitle);
      return;
    }
    if (c_.Option7->isChecked()) vfw_.SwitchOn();
    if (c_.Option8->isChecked()) directshow_.ListCameras();
  } catch (const forms::RuntimeError& error) {
    ReportCameraFailure("the camera's switch-on", error);
  }
}

void CameraControl::Command13_Click() {
  if (c_.Option7->isChecked()) vfw_.Disconnect();
  if (c_.Option8->isChecked()) directshow_.SwitchOff();
  *c_.CameraOn = 0;
}

void CameraControl::ShutdownAtExit() {
  if (*c_.CameraOn != 1) return;
  if (c_.Option7->isChecked()) vfw_.Disconnect();
  if (c_.Option8->isChecked()) directshow_.ShutdownAtExit();
}

}  // namespace camera
