#pragma once
// A widget that shows a camera's latest frame: at most once per preview interval (0: every
// frame), never faster than frames arrive. While frozen it keeps showing the frame it last
// showed, and that frame is what it hands out.

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <cstdint>

#include "platform/gst/camera_pipeline.h"

namespace gst {

class CameraPreview : public QWidget {
  Q_OBJECT

 public:
  explicit CameraPreview(QWidget* parent = nullptr);

  // The camera whose frames are shown; null shows nothing new (the last frame stays).
  void SetSource(CameraPipeline* pipeline);
  CameraPipeline* Source() const { return source_; }
  // Milliseconds between shown frames; 0 or less shows every frame.
  void SetInterval(int ms);
  int Interval() const { return interval_ms_; }
  // On: follows the camera. Off: freezes on the latest frame, which stays shown.
  void SetLive(bool live);
  bool Live() const { return live_; }
  // Stretch the frame over the whole widget (a video window) or show it at its own size in
  // the top-left corner (a capture window).
  void SetStretch(bool stretch) { stretch_ = stretch; }

  // The frame on screen, or null before the first.
  FramePtr Shown() const { return shown_; }
  // Frames shown since the widget was made.
  std::uint64_t ShownCount() const { return shown_count_; }
  // Forgets the shown frame (a new camera connected).
  void Clear();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void OnFrame();
  // The newest frame (converted here if it is not yet), or the latest one the camera prepared
  // for the preview.
  void ShowLatest(bool newest = false);
  // Tells the camera which frames the preview will show, so that it prepares them.
  void TellSource();

  QPointer<CameraPipeline> source_;
  QMetaObject::Connection connections_[2];
  FramePtr shown_;
  QElapsedTimer since_shown_;
  QTimer pending_;
  int interval_ms_ = 0;
  bool live_ = false;
  bool stretch_ = false;
  std::uint64_t shown_count_ = 0;
};

}  // namespace gst
