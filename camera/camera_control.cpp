#include "camera/camera_control.h"

#include "camera/logging.h"
#include "platform/forms/message_box.h"
#include "platform/forms/runtime_error.h"
#include "platform/gst/camera_controls.h"
#include "platform/gst/exposure_lock.h"

namespace camera {

Q_LOGGING_CATEGORY(lcCameraControl, "strobolux.camera")

namespace {

const QString kTitle = QStringLiteral("WebCam");
const QString kControlsNotice = QStringLiteral(" Настройки камеры: ");

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

void ClearFailureText(forms::StatusLine& status, bool camera, bool video) {
  if (camera) status.ClearIfStartsWith(CameraErrorText(QString()));
  if (video) status.ClearIfStartsWith(VideoErrorText(QString()));
}

QString ControlsNoticeText(const QString& notice) {
  return notice.isEmpty() ? QString() : kControlsNotice + notice;
}

void ClearControlsNotice(forms::StatusLine& status) {
  status.ClearIfStartsWith(kControlsNotice);
}

CameraControl::CameraControl(const CameraControls& controls)
    : controls_(controls), vfw_(controls_, state_, *this), directshow_(controls_, state_, *this) {
  const CameraControls& c = controls_;
  connect(c.Option7, &QRadioButton::toggled, this, [this](bool on) {
    if (on) Option7_Click();
  });
  connect(c.Option8, &QRadioButton::toggled, this, [this](bool on) {
    if (on) Option8_Click();
  });
  connect(c.Command11, &QPushButton::clicked, this, &CameraControl::Command11_Click);
  connect(c.Command13, &QPushButton::clicked, this, &CameraControl::Command13_Click);
  connect(c.Combo2, &forms::ComboBox::Click, this, [this](int) { Combo2_Click(); });
  connect(c.Command12, &QPushButton::clicked, this, &CameraControl::Command12_Click);
  connect(c.Command15, &QPushButton::clicked, this, &CameraControl::Command15_Click);
  connect(c.Command22, &QPushButton::clicked, this, &CameraControl::Command22_Click);
  connect(c.Command2, &QPushButton::clicked, this, &CameraControl::Command2_Click);
  connect(c.Command1, &QPushButton::clicked, this, &CameraControl::Command1_Click);
}

void CameraControl::Option7_Click() {
  controls_.Command1->setEnabled(true);
  controls_.Command22->setEnabled(true);
  controls_.Command24->setEnabled(true);
  controls_.Option10->setChecked(false);
  controls_.Option10->setEnabled(false);
  controls_.Option9->setChecked(true);
  controls_.Combo2->setEnabled(false);
  controls_.Shape1->setVisible(false);
}

void CameraControl::Option8_Click() {
  controls_.Command1->setEnabled(false);
  controls_.Command22->setEnabled(false);
  controls_.Command24->setEnabled(false);
  controls_.Option10->setChecked(true);
  controls_.Option10->setEnabled(true);
  controls_.Combo2->setEnabled(true);
  controls_.Combo2->setEditText(QStringLiteral("нажмите Включить вэбкамеру"));
  controls_.Shape1->setVisible(true);
}

CameraControl::~CameraControl() {
  // A run cut short by the exit leaves the camera as the operator had it.
  EndRunLock();
  state_.VideoWindow.reset();
  state_.BasicVideo.reset();
  state_.CapturePin.reset();
  state_.CaptureFilter.reset();
  state_.FilterGraph.reset();
}

gst::CameraPipeline& CameraControl::RecordingCamera() const {
  // A camera that failed keeps its last frame for the preview, not for new pictures; nor is a
  // frame of an earlier opening (another camera or format) one of this camera, nor a frozen
  // camera's last one a picture of now.
  auto delivering = [](const gst::CameraPipeline* camera) {
    return camera && camera->IsOpen() && camera->FrameCount() > 0 && !camera->IsFrozen();
  };
  if (controls_.Option7->isChecked()) {
    gst::CameraPipeline* camera = capture::CameraOf(state_.CaptureWindow);
    if (!delivering(camera)) forms::Raise(forms::kDeviceUnavailable);
    return *camera;
  }
  if (!state_.FilterGraph || !state_.BasicVideo) forms::Raise(forms::kObjectVariableNotSet);
  gst::CameraPipeline* camera = state_.FilterGraph->Camera();
  if (!delivering(camera))
    graph::Fail(graph::VFW_E_WRONG_STATE, QStringLiteral("нет текущего кадра"));
  return *camera;
}

gst::CameraPipeline* CameraControl::OpenCamera() const {
  gst::CameraPipeline* camera = nullptr;
  if (controls_.Option7->isChecked())
    camera = capture::CameraOf(state_.CaptureWindow);
  else if (state_.FilterGraph)
    camera = state_.FilterGraph->Camera();
  return camera && camera->IsOpen() ? camera : nullptr;
}

QStringList CameraControl::LockForRun() {
  EndRunLock();
  if (!gst::ExposureLockChosen() || state_.CameraOn != 1) return {};
  const gst::CameraPipeline* camera = OpenCamera();
  if (!camera) return {};
  run_controls_ = gst::ControlsOf(*camera);
  if (!run_controls_) return {QStringLiteral("у камеры нет настроек изображения")};
  run_lock_ = std::make_unique<gst::ExposureLock>();
  QStringList failed = run_lock_->Lock(*run_controls_);
  if (!failed.isEmpty())
    qCWarning(lcCameraControl).noquote()
        << "the camera's exposure is not held whole:" << failed.join(QStringLiteral("; "));
  return failed;
}

void CameraControl::EndRunLock() {
  if (run_lock_ && run_controls_) run_lock_->Restore(*run_controls_);
  run_lock_.reset();
  run_controls_.reset();
}

void CameraControl::Command11_Click() {
  try {
    if (state_.CameraOn == 1) {
      forms::MsgBox(QStringLiteral("Отключите уже включенную камеру"), kTitle);
      return;
    }
    if (controls_.Option7->isChecked()) vfw_.SwitchOn();
    if (controls_.Option8->isChecked()) directshow_.ListCameras();
  } catch (const forms::RuntimeError& error) {
    ReportCameraFailure("the camera's switch-on", error);
  }
}

void CameraControl::Command13_Click() {
  if (controls_.Option7->isChecked()) vfw_.Disconnect();
  if (controls_.Option8->isChecked()) directshow_.SwitchOff();
  state_.CameraOn = 0;
}

void CameraControl::Load() {
  controls_.Combo2->setEnabled(false);
  controls_.Option10->setChecked(false);
  controls_.Option10->setEnabled(false);
}

void CameraControl::ShutdownAtExit() {
  if (state_.CameraOn != 1) return;
  if (controls_.Option7->isChecked()) vfw_.Disconnect();
  if (controls_.Option8->isChecked()) directshow_.ShutdownAtExit();
}

}  // namespace camera
