#pragma once
// One capture window: a camera preview with a driver that can be connected and disconnected.

#include <QString>
#include <functional>

#include "platform/capture/capture.h"
#include "platform/gst/camera_pipeline.h"
#include "platform/gst/camera_preview.h"

namespace capture {

class CaptureWindow : public gstutil::CameraPreview {
  Q_OBJECT

 public:
  explicit CaptureWindow(QWidget* parent);
  ~CaptureWindow() override;

  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void SetErrorHandler(std::function<void(const QString&)> handler) {
    error_handler_ = std::move(handler);
  }

  bool Connected() const { return pipeline_.IsOpen(); }
  gstutil::CameraPipeline& Pipeline() { return pipeline_; }
  // The frame a save or copy takes: the newest while previewing, else the one on screen.
  gstutil::FramePtr FrameBuffer() const;

 private:
  BOOL Connect(WPARAM index);
  BOOL Disconnect();
  BOOL SaveDib(LPARAM path);
  BOOL CopyToClipboard();
  void OnFailed(const QString& reason);

  gstutil::CameraPipeline pipeline_;
  std::function<void(const QString&)> error_handler_;
};

}  // namespace capture
