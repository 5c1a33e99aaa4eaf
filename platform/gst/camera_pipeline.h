#pragma once
// One open camera: `source ! capsfilter ! tee ! leaky queue ! [jpegdec] ! videoconvert !
// BGRx appsink`. The appsink keeps the latest frame in a slot that the preview, the frame
// grab, the BMP save and the clipboard copy all read. Frames and failures reach the GUI
// thread as queued signals; the tee leaves room for a recording branch.

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <QImage>
#include <QObject>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/gst/bus_watch.h"
#include "platform/gst/camera_devices.h"
#include "platform/gst/gst_util.h"

namespace gst {

// One decoded frame, 32-bit BGRx rows as the appsink delivered them; kept mapped while alive.
class CameraFrame : public std::enable_shared_from_this<CameraFrame> {
 public:
  CameraFrame(SamplePtr sample, int width, int height, int stride, std::uint64_t number,
              std::int64_t captureNs, std::int64_t arrivalNs);
  ~CameraFrame();
  CameraFrame(const CameraFrame&) = delete;
  CameraFrame& operator=(const CameraFrame&) = delete;

  int Width() const { return width_; }
  int Height() const { return height_; }
  int Stride() const { return stride_; }
  const std::uint8_t* Bits() const { return map_.data; }
  std::uint64_t Number() const { return number_; }  // 1 for the first frame of an opening
  // Steady-clock nanoseconds: when the camera took it (pipeline clock), and when it arrived.
  std::int64_t CaptureNs() const { return capture_ns_; }
  std::int64_t ArrivalNs() const { return arrival_ns_; }
  // The pixels as an RGB32 image without a copy; the frame lives as long as the image.
  QImage Image() const;
  // The same frame in memory of its own, so that keeping it holds nothing of the camera's
  // pipeline (its buffer pool, and the pool's descriptors).
  std::shared_ptr<const CameraFrame> Detached() const;

 private:
  SamplePtr sample_;
  GstMapInfo map_{};
  int width_, height_, stride_;
  std::uint64_t number_;
  std::int64_t capture_ns_, arrival_ns_;
};
using FramePtr = std::shared_ptr<const CameraFrame>;

class CameraPipeline : public QObject {
  Q_OBJECT

 public:
  explicit CameraPipeline(QObject* parent = nullptr);
  ~CameraPipeline() override;  // the pipeline is at NULL and released before anything else

  // Opens the camera in the format and takes it to `state` (PLAYING: it starts). On failure
  // returns false with GStreamer's reason in `error`; nothing stays open.
  bool Open(const CameraDevice& camera, const CameraFormat& format, QString* error = nullptr,
            GstState state = GST_STATE_PLAYING);
  // Stops and releases the pipeline; the latest frame stays readable, detached from it.
  void Close();
  bool IsOpen() const { return pipeline_ != nullptr; }

  const CameraDevice& Camera() const { return camera_; }
  const CameraFormat& Format() const { return format_; }
  GstElement* Pipeline() const { return pipeline_.get(); }
  GstElement* Source() const { return source_; }

  FramePtr LatestFrame() const;
  // Of the frames that have arrived (the last few are kept), the one whose capture time is
  // nearest `instantNs` (steady clock). When a frame still to come may be nearer, waits for
  // it, but never longer than one frame interval. Null before the first frame.
  FramePtr NearestFrame(std::int64_t instantNs);
  // The frame the grabs read (the clipboard copy, the current image) while it is held instead
  // of the latest one, so that a recording takes the frame it chose. Null: the latest again.
  void HoldFrame(FramePtr frame);
  FramePtr HeldFrame() const;
  // The time between frames, from the capture times of those kept (0 before two arrived).
  std::int64_t FrameIntervalNs() const;
  // Frames delivered since the opening.
  std::uint64_t FrameCount() const { return frames_.load(); }

  // PLAYING / PAUSED / READY on the open pipeline; false when it refuses.
  bool SetState(GstState state);
  // The state reached within the timeout (a live source's NO_PREROLL counts as reached).
  GstState CurrentState(std::int64_t timeoutMs) const;
  // Reconnects in another format: READY, new caps, PLAYING.
  bool ChangeFormat(const CameraFormat& format, QString* error = nullptr);

  // Every frame as the camera delivers it (before decoding), handed to `tap` on a streaming
  // thread; an empty function stops that. The tap branch is always there, so starting and
  // stopping a recording never rebuilds the running pipeline.
  using Tap = std::function<void(GstSample* sample)>;
  void SetTap(Tap tap);

 signals:
  // A new frame is in the slot; several frames between two deliveries come as one signal.
  void FrameArrived();
  // The running camera failed (unplugged, busy, not negotiated): the pipeline is already at
  // NULL and released, the last frame stays.
  void Failed(const QString& reason);
  // The pipeline was released: frames kept elsewhere should be detached from it.
  void Closed();

 private:
  static GstFlowReturn OnNewSample(GstAppSink* sink, gpointer data);
  static GstFlowReturn OnTapSample(GstAppSink* sink, gpointer data);
  void OnBus(const BusNotice& notice);
  QString TakeFirstError();

  ElementPtr pipeline_;
  GstElement* source_ = nullptr;  // owned by the pipeline
  GstElement* chosen_ = nullptr;
  GstElement* tee_ = nullptr;
  std::unique_ptr<BusWatch> bus_;
  CameraDevice camera_;
  CameraFormat format_;

  static constexpr std::size_t kKeptFrames = 4;
  mutable std::mutex slot_mutex_;  // guards the frames, the held frame and first_error_
  std::condition_variable frame_came_;
  std::deque<FramePtr> recent_;  // oldest first; the last is the latest frame
  FramePtr held_;
  QString first_error_;
  std::atomic<std::uint64_t> frames_{0};
  std::atomic<bool> notify_pending_{false};
  std::mutex tap_mutex_;
  Tap tap_;
};

}  // namespace gst
