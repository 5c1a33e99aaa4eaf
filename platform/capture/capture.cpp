#include "platform/capture/capture.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QPointer>
#include <algorithm>
#include <cstring>
#include <map>

#include "platform/capture/capture_window.h"
#include "platform/forms/bmp_file.h"
#include "platform/gst/camera_devices.h"

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

// The cameras that can be drivers: those with a raw format, at most ten.
std::vector<gstutil::CameraDevice> Drivers() {
  std::vector<gstutil::CameraDevice> drivers;
  for (gstutil::CameraDevice& camera : gstutil::ListCameras()) {
    if (drivers.size() == kMaxDrivers) break;
    if (camera.HasRaw()) drivers.push_back(std::move(camera));
  }
  return drivers;
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
  const std::vector<gstutil::CameraDevice> drivers = Drivers();
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

QWidget* WindowOf(HWND window) {
  return Find(window);
}

// ---- CaptureWindow ------------------------------------------------------------------------

CaptureWindow::CaptureWindow(QWidget* parent) : gstutil::CameraPreview(parent) {
  connect(&pipeline_, &gstutil::CameraPipeline::Failed, this, &CaptureWindow::OnFailed);
}

CaptureWindow::~CaptureWindow() {
  pipeline_.Close();
}

gstutil::FramePtr CaptureWindow::FrameBuffer() const {
  // A frame a recording chose goes before whatever the preview shows.
  if (gstutil::FramePtr held = pipeline_.HeldFrame()) return held;
  if (Live() && pipeline_.IsOpen()) {
    if (gstutil::FramePtr latest = pipeline_.LatestFrame()) return latest;
  }
  return Shown();
}

LRESULT CaptureWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
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
    default:
      return 0;
  }
}

BOOL CaptureWindow::Connect(WPARAM index) {
  Disconnect();
  const std::vector<gstutil::CameraDevice> drivers = Drivers();
  if (index >= drivers.size()) return FALSE;
  const gstutil::CameraDevice& camera = drivers[index];
  const gstutil::CameraFormat* format = camera.Find(true, 640, 480);
  if (!format) format = camera.FirstRaw();
  QString error;
  if (!pipeline_.Open(camera, *format, &error)) {
    OnFailed(error);
    return FALSE;
  }
  Clear();
  SetSource(&pipeline_);
  return TRUE;
}

BOOL CaptureWindow::Disconnect() {
  if (!Connected()) return FALSE;
  pipeline_.Close();
  return TRUE;
}

BOOL CaptureWindow::SaveDib(LPARAM path) {
  const auto* bytes = reinterpret_cast<const char*>(path);
  const gstutil::FramePtr frame = Connected() ? FrameBuffer() : nullptr;
  if (!bytes || !frame) return FALSE;
  return forms::WriteBmpFile(frame->Image(), QFile::decodeName(bytes)) ? TRUE : FALSE;
}

BOOL CaptureWindow::CopyToClipboard() {
  const gstutil::FramePtr frame = Connected() ? FrameBuffer() : nullptr;
  if (!frame) return FALSE;
  // A copy of its own: the clipboard must not hold the camera's buffer.
  QGuiApplication::clipboard()->setImage(frame->Image().copy());
  return TRUE;
}

void CaptureWindow::OnFailed(const QString& reason) {
  qCWarning(lcCapture) << "capture driver failed:" << reason;
  if (error_handler_) error_handler_(reason);
}

}  // namespace capture
