#pragma once
// One capture window: a camera preview with a driver that can be connected and disconnected.

#include <QString>
#include <functional>

#include "platform/capture/capture.h"
#include "platform/gst/camera_pipeline.h"
#include "platform/gst/camera_preview.h"
#include "platform/gst/video_recorder.h"

namespace capture {

class CaptureWindow : public gst::CameraPreview {
  Q_OBJECT

 public:
  explicit CaptureWindow(QWidget* parent);
  ~CaptureWindow() override;

  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void SetErrorHandler(std::function<void(const QString&)> handler) {
    error_handler_ = std::move(handler);
  }
  void SetResumeHandler(std::function<void()> handler) { resume_handler_ = std::move(handler); }
  void SetRecordingErrorHandler(std::function<void(const QString&)> handler) {
    recording_error_handler_ = std::move(handler);
  }
  void SetFinishErrorHandler(std::function<void(const QString&)> handler) {
    finish_error_handler_ = std::move(handler);
  }

  bool Connected() const { return pipeline_.IsOpen(); }
  gst::CameraPipeline& Pipeline() { return pipeline_; }
  gst::VideoRecorder& Recorder() { return recorder_; }
  // The compressor the next recording uses.
  bool MotionJpeg() const { return motion_jpeg_; }
  int Quality() const { return quality_; }
  // The frame a save or copy takes: the newest while previewing, else the one on screen.
  gst::FramePtr FrameBuffer() const;

 private:
  BOOL Connect(WPARAM index);
  BOOL Disconnect();
  BOOL SaveDib(LPARAM path);
  BOOL CopyToClipboard();
  BOOL FormatDialog();
  BOOL SourceDialog();
  BOOL CompressionDialog();
  BOOL StartSequence();
  BOOL StopSequence();
  // The settings the driver reports for the camera as it is connected now.
  CAPTUREPARMS DriverParameters() const;
  void OnFailed(const QString& reason);
  void OnRecordingFailed(const QString& reason);
  void OnFinishFailed(const QString& reason);

  gst::CameraPipeline pipeline_;
  gst::VideoRecorder recorder_;  // declared after the camera it records: ends first
  std::function<void(const QString&)> error_handler_;
  std::function<void()> resume_handler_;
  std::function<void(const QString&)> recording_error_handler_;
  std::function<void(const QString&)> finish_error_handler_;
  CAPTUREPARMS parameters_{};
  QString capture_file_;
  bool motion_jpeg_ = false;
  int quality_ = 85;
};

}  // namespace capture
