#include "platform/capture/capture.h"

#include <QFile>
#include <QPointer>
#include <algorithm>
#include <cstring>
#include <map>
#include <optional>

#include "platform/capture/capture_window.h"
#include "platform/capture/logging.h"
#include "platform/forms/application.h"
#include "platform/forms/bmp_file.h"
#include "platform/forms/clipboard.h"
#include "platform/gst/camera_devices.h"
#include "platform/gst/format_choice.h"

namespace capture {

Q_LOGGING_CATEGORY(lcCapture, "strobolux.capture")

namespace {

constexpr UINT kMaxDrivers = 10;

// Windows live with their Qt parent; the table only finds them, and forgets the dead.
std::map<HWND, QPointer<CaptureWindow>>& Windows() {
  static std::map<HWND, QPointer<CaptureWindow>> windows;
  return windows;
}

CaptureWindow* Find(HWND handle) {
  if (handle == 0) return nullptr;
  auto& windows = Windows();
  const auto found = windows.find(handle);
  if (found == windows.end()) return nullptr;
  if (!found->second) {
    windows.erase(found);
    return nullptr;
  }
  return found->second.data();
}

// The cameras that can be drivers: those with a format the camera pipeline opens (raw, or
// JPEG it decodes, as a webcam's driver does), at most ten.
std::vector<gst::CameraDevice> Drivers() {
  std::vector<gst::CameraDevice> drivers;
  for (gst::CameraDevice& camera : gst::ListCameras()) {
    if (drivers.size() == kMaxDrivers) break;
    if (camera.HasOpenable()) drivers.push_back(std::move(camera));
  }
  return drivers;
}

// The format a camera connects in when nothing is remembered or forced for it: raw 640 x 480,
// else JPEG 640 x 480, else the first raw one, else the first JPEG one, at its default rate.
std::optional<gst::CameraFormat> DefaultFormat(const gst::CameraDevice& camera) {
  const gst::CameraFormat* format = camera.Find(true, 640, 480);
  if (!format) format = camera.Find(false, 640, 480);
  if (!format) format = camera.FirstRaw();
  if (!format) format = camera.FirstJpeg();
  if (!format) return std::nullopt;
  return format->AtDefaultRate();
}

// Copies UTF-8 text into a byte buffer, cut at a character boundary to fit with its zero.
void CopyText(const QString& text, char* buffer, int size) {
  if (!buffer || size <= 0) return;
  const QByteArray bytes = text.toUtf8();
  int length = std::min<int>(bytes.size(), size - 1);
  while (length > 0 && length < bytes.size() && (bytes[length] & 0xC0) == 0x80) --length;
  std::memcpy(buffer, bytes.constData(), static_cast<std::size_t>(length));
  buffer[length] = '\0';
}

}  // namespace

BOOL capGetDriverDescriptionA(UINT index, char* name, int nameSize, char* version,
                              int versionSize) {
  if (index >= kMaxDrivers) return FALSE;
  const std::vector<gst::CameraDevice> drivers = Drivers();
  if (index >= drivers.size()) return FALSE;
  CopyText(drivers[index].name, name, nameSize);
  CopyText(drivers[index].version, version, versionSize);
  return TRUE;
}

HWND capCreateCaptureWindowA(const char* title, std::uint32_t style, int x, int y, int width,
                             int height, QWidget* parent, int) {
  if (!parent || width <= 0 || height <= 0) return 0;
  static HWND next = 0x10;
  auto* window = new CaptureWindow(parent);  // owned by its parent
  window->setWindowTitle(QString::fromLocal8Bit(title ? title : ""));
  // Coordinates are in the parent's client area, inside any frame it draws.
  window->setGeometry(QRect(parent->contentsRect().topLeft() + QPoint(x, y), QSize(width, height)));
  if (style & WS_VISIBLE) {
    window->show();
    window->raise();  // a later window lies on top of the earlier ones
  }
  const HWND handle = next++;
  Windows()[handle] = window;
  return handle;
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  CaptureWindow* target = Find(window);
  return target ? target->Handle(message, wParam, lParam) : 0;
}

void SetErrorHandler(HWND window, std::function<void(const QString&)> handler) {
  if (CaptureWindow* target = Find(window)) target->SetErrorHandler(std::move(handler));
}

void SetResumeHandler(HWND window, std::function<void()> handler) {
  if (CaptureWindow* target = Find(window)) target->SetResumeHandler(std::move(handler));
}

void SetRecordingErrorHandler(HWND window, std::function<void(const QString&)> handler) {
  if (CaptureWindow* target = Find(window)) target->SetRecordingErrorHandler(std::move(handler));
}

void SetFinishErrorHandler(HWND window, std::function<void(const QString&)> handler) {
  if (CaptureWindow* target = Find(window)) target->SetFinishErrorHandler(std::move(handler));
}

QWidget* WindowOf(HWND window) {
  return Find(window);
}

gst::CameraPipeline* CameraOf(HWND window) {
  CaptureWindow* found = Find(window);
  return found ? &found->Pipeline() : nullptr;
}

// ---- CaptureWindow ------------------------------------------------------------------------

CaptureWindow::CaptureWindow(QWidget* parent) : gst::CameraPreview(parent) {
  connect(&pipeline_, &gst::CameraPipeline::Failed, this, &CaptureWindow::OnFailed);
  // A frozen camera stays connected, its recording too: only the status changes.
  connect(&pipeline_, &gst::CameraPipeline::Frozen, this, [this](const QString& reason) {
    if (error_handler_) error_handler_(reason);
  });
  connect(&pipeline_, &gst::CameraPipeline::Resumed, this, [this] {
    if (resume_handler_) resume_handler_();
  });
  connect(&recorder_, &gst::VideoRecorder::Failed, this, &CaptureWindow::OnRecordingFailed);
  connect(&recorder_, &gst::VideoRecorder::FinishFailed, this, &CaptureWindow::OnFinishFailed);
  parameters_ = DriverParameters();
}

CaptureWindow::~CaptureWindow() {
  // A file still being written gets its end of stream before the camera goes; the recorder's
  // own end waits until the file has its index.
  recorder_.Stop();
  pipeline_.Close();
}

gst::FramePtr CaptureWindow::FrameBuffer() const {
  if (Live() && pipeline_.IsOpen()) {
    if (gst::FramePtr latest = pipeline_.LatestFrame()) return latest;
  }
  return Shown();
}

LRESULT CaptureWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  forms::AssertWindowThread("CaptureWindow::Handle");
  switch (message) {
    case WM_CAP_DRIVER_CONNECT:
      return Connect(wParam);
    case WM_CAP_DRIVER_DISCONNECT:
      return Disconnect();
    case WM_CAP_SET_PREVIEW:
      if (!Connected()) return FALSE;
      SetLive(wParam != 0);
      return TRUE;
    case WM_CAP_SET_PREVIEWRATE:
      SetInterval(static_cast<int>(static_cast<std::intptr_t>(wParam)));
      return TRUE;
    case WM_CAP_FILE_SAVEDIBA:
      return SaveDib(lParam);
    case WM_CAP_EDIT_COPY:
      return CopyToClipboard();
    case WM_CAP_DLG_VIDEOFORMAT: {
      if (!FormatDialog()) return FALSE;
      // The operator's choice is the camera's format from now on, also at its next switch-on.
      const gst::CameraFormat& chosen = pipeline_.Format();
      if (Connected() && !chosen.rates.empty())
        gst::RememberFormat(pipeline_.Camera(), chosen, chosen.rates.front());
      return TRUE;
    }
    case WM_CAP_DLG_VIDEOSOURCE:
      return SourceDialog();
    case WM_CAP_DLG_VIDEOCOMPRESSION:
      return CompressionDialog();
    case WM_CAP_FILE_SET_CAPTURE_FILEA:
      if (!lParam) return FALSE;
      capture_file_ = QFile::decodeName(reinterpret_cast<const char*>(lParam));
      return TRUE;
    case WM_CAP_GET_SEQUENCE_SETUP:
      if (!lParam || wParam < sizeof(CAPTUREPARMS)) return FALSE;
      std::memcpy(reinterpret_cast<void*>(lParam), &parameters_, sizeof parameters_);
      return TRUE;
    case WM_CAP_SET_SEQUENCE_SETUP:
      if (!lParam || wParam < sizeof(CAPTUREPARMS)) return FALSE;
      std::memcpy(&parameters_, reinterpret_cast<const void*>(lParam), sizeof parameters_);
      return TRUE;
    case WM_CAP_SEQUENCE:
      return StartSequence();
    case WM_CAP_STOP:
      return StopSequence();
    default:
      return 0;
  }
}

CAPTUREPARMS CaptureWindow::DriverParameters() const {
  CAPTUREPARMS p{};
  p.dwRequestMicroSecPerFrame = 66667;  // 15 frames a second until a camera says otherwise
  if (pipeline_.IsOpen() && !pipeline_.Format().rates.empty()) {
    if (const long long interval = pipeline_.Format().rates.front().MicroSecondsPerFrame())
      p.dwRequestMicroSecPerFrame = static_cast<DWORD>(interval);
  }
  p.wPercentDropForError = 10;
  p.dwIndexSize = 34952;
  p.wNumVideoRequested = 32;
  p.fCaptureAudio = FALSE;  // this driver has no sound input
  p.vKeyAbort = 0x1B;       // Esc
  p.fAbortLeftMouse = TRUE;
  p.fAbortRightMouse = TRUE;
  p.wStepCaptureAverageFrames = 3;
  return p;
}

BOOL CaptureWindow::Connect(WPARAM index) {
  Disconnect();
  const std::vector<gst::CameraDevice> drivers = Drivers();
  if (index >= drivers.size()) return FALSE;
  const gst::CameraDevice& camera = drivers[index];
  // The format remembered for the camera or forced for the run, whatever its compression;
  // else the window's own default.
  std::optional<gst::CameraFormat> format = gst::PreferredFormat(camera);
  if (!format) format = DefaultFormat(camera);
  if (!format) return FALSE;
  QString error;
  if (!pipeline_.Open(camera, *format, &error)) {
    OnFailed(error);
    return FALSE;
  }
  Clear();
  SetSource(&pipeline_);
  parameters_ = DriverParameters();
  return TRUE;
}

BOOL CaptureWindow::Disconnect() {
  if (!Connected()) return FALSE;
  recorder_.Stop();  // the file ends with the camera's last frame and finishes behind
  pipeline_.Close();
  return TRUE;
}

BOOL CaptureWindow::StartSequence() {
  QString reason;
  if (!Connected()) {
    reason = QStringLiteral("камера не подключена");
  } else {
    gst::RecordingSettings settings;
    settings.path = capture_file_;
    settings.motionJpeg = motion_jpeg_;
    settings.quality = quality_;
    settings.microSecPerFrame = parameters_.dwRequestMicroSecPerFrame;
    // With fYield clear the library would hold the caller until the capture ends; here
    // the capture always runs beside the window, which is what every caller wants.
    if (settings.path.isEmpty())
      reason = QStringLiteral("не задан файл записи");
    else if (recorder_.Start(pipeline_, settings, &reason))
      return TRUE;
  }
  OnRecordingFailed(reason);
  return FALSE;
}

BOOL CaptureWindow::StopSequence() {
  if (!recorder_.Recording()) return FALSE;
  recorder_.Stop();
  return TRUE;
}

void CaptureWindow::OnRecordingFailed(const QString& reason) {
  forms::AssertWindowThread("CaptureWindow::OnRecordingFailed");
  qCWarning(lcCapture) << "video capture failed:" << reason;
  if (recording_error_handler_) recording_error_handler_(reason);
}

void CaptureWindow::OnFinishFailed(const QString& reason) {
  forms::AssertWindowThread("CaptureWindow::OnFinishFailed");
  qCWarning(lcCapture) << "video file not finished:" << reason;
  if (finish_error_handler_) finish_error_handler_(reason);
}

BOOL CaptureWindow::SaveDib(LPARAM path) {
  const auto* bytes = reinterpret_cast<const char*>(path);
  const gst::FramePtr frame = Connected() ? FrameBuffer() : nullptr;
  if (!bytes || !frame) return FALSE;
  const QString file = QFile::decodeName(bytes);
  QString why;
  if (forms::WriteBmpFile(frame->Image(), file, &why)) return TRUE;
  qCWarning(lcCapture).noquote() << "cannot write" << file << "-" << why;
  return FALSE;
}

BOOL CaptureWindow::CopyToClipboard() {
  const gst::FramePtr frame = Connected() ? FrameBuffer() : nullptr;
  if (!frame) return FALSE;
  forms::Clipboard::SetData(frame->Image());
  return TRUE;
}

void CaptureWindow::OnFailed(const QString& reason) {
  forms::AssertWindowThread("CaptureWindow::OnFailed");
  qCWarning(lcCapture) << "capture driver failed:" << reason;
  if (error_handler_) error_handler_(reason);
  // A recording gets no more frames: its file is finished behind with what it has, index and
  // all, and the recording says it ended.
  if (recorder_.Recording()) {
    recorder_.Stop();
    OnRecordingFailed(reason);
  }
}

}  // namespace capture
