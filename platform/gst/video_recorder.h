#pragma once
// An AVI recording of a camera while it previews: the camera's tap feeds a pipeline of its
// own, `appsrc ! [jpegdec] ! videorate ! videoconvert ! [jpegenc] ! avimux ! filesink`, so
// that a file that cannot be written never disturbs the camera.

#include <QObject>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/gst/bus_watch.h"
#include "platform/gst/camera_pipeline.h"
#include "platform/gst/gst_util.h"

namespace gst {

struct RecordingSettings {
  QString path;                           // the AVI file
  bool motionJpeg = false;                // otherwise full frames, uncompressed
  int quality = 85;                       // JPEG quality, 1-100
  std::int64_t microSecPerFrame = 33333;  // the frame interval written and kept
};

class VideoRecorder : public QObject {
  Q_OBJECT

 public:
  explicit VideoRecorder(QObject* parent = nullptr);
  ~VideoRecorder() override;  // finishes a recording still going on

  // Starts recording what `camera` delivers. False, with the reason, when the file cannot be
  // opened or the pipeline does not start; nothing is left behind then.
  bool Start(CameraPipeline& camera, const RecordingSettings& settings, QString* error = nullptr);
  // Ends the stream, waits until the file is complete (index written) and releases it.
  void Stop();
  bool Recording() const { return pipeline_ != nullptr; }
  GstElement* Pipeline() const { return pipeline_.get(); }

  // Frames the camera handed over, and frames that reached the file, in this recording.
  std::uint64_t FramesIn() const { return frames_in_.load(); }
  std::uint64_t FramesWritten() const { return frames_written_.load(); }

 signals:
  // The recording failed while running (disk full, file gone): it is stopped already.
  void Failed(const QString& reason);

 private:
  void Release();

  ElementPtr pipeline_;
  GstElement* appsrc_ = nullptr;  // owned by the pipeline
  CameraPipeline* camera_ = nullptr;
  std::unique_ptr<BusWatch> bus_;
  std::mutex mutex_;
  std::condition_variable eos_seen_;
  bool eos_ = false;
  std::atomic<std::uint64_t> frames_in_{0};
  std::atomic<std::uint64_t> frames_written_{0};
  GstClockTime first_pts_ = GST_CLOCK_TIME_NONE;  // touched by the tap's thread only
};

}  // namespace gst
