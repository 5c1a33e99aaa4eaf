#pragma once
// One open camera: `source ! capsfilter ! [jpegdec] ! tee ! leaky queue ! appsink`. An MJPEG
// frame is decoded once, for the preview, the pictures and a recording alike. The appsink keeps
// the latest frames in a slot that the preview, the frame requests, the frame grab, the BMP
// save and the clipboard copy all read; each frame is turned into BGRx rows only when one of
// them reads it, so a 60 frames/s camera costs no conversion for the frames nobody takes.
// Frames and failures reach the GUI thread as queued signals; the tee leaves room for a
// recording branch.

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <QImage>
#include <QObject>
#include <QString>
#include <QTimer>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/gst/bus_watch.h"
#include "platform/gst/camera_devices.h"
#include "platform/gst/gst_util.h"

namespace gst {

class FrameConverter;

// One decoded frame as 32-bit BGRx rows, kept mapped while alive. A frame of the camera's
// pipeline comes in the camera's own pixel format and is converted when first read (Bits,
// Image, Detached, Prepare), by whichever thread reads it first, into memory of its own.
class CameraFrame : public std::enable_shared_from_this<CameraFrame> {
 public:
  // A frame whose sample holds BGRx rows already.
  CameraFrame(SamplePtr sample, int width, int height, int stride, std::uint64_t number,
              std::int64_t captureNs, std::int64_t arrivalNs);
  // A frame in the format `converter` converts from, converted when first read.
  CameraFrame(SamplePtr sample, std::shared_ptr<FrameConverter> converter, std::uint64_t number,
              std::int64_t captureNs, std::int64_t arrivalNs);
  ~CameraFrame();
  CameraFrame(const CameraFrame&) = delete;
  CameraFrame& operator=(const CameraFrame&) = delete;

  int Width() const { return width_; }
  int Height() const { return height_; }
  int Stride() const { return stride_; }  // of the BGRx rows
  const std::uint8_t* Bits() const {
    Prepare();
    return map_.data;
  }
  // Converts it now if it is not yet; the rows then stay, in memory of its own.
  void Prepare() const;
  // Its BGRx rows exist (it was read, or delivered so).
  bool Prepared() const { return prepared_.load(std::memory_order_acquire); }
  std::uint64_t Number() const { return number_; }  // 1 for the first frame of an opening
  // Steady-clock nanoseconds: when the camera took it (pipeline clock), and when it arrived.
  std::int64_t CaptureNs() const { return capture_ns_; }
  std::int64_t ArrivalNs() const { return arrival_ns_; }
  // The pixels as an RGB32 image without a copy; the frame lives as long as the image.
  QImage Image() const;
  // The same frame in memory of its own, so that keeping it holds nothing of the camera's
  // pipeline (its buffer pool, and the pool's descriptors). A converted frame is its own
  // already: no copy is made.
  std::shared_ptr<const CameraFrame> Detached() const;

 private:
  void Convert() const;

  // Until the first read, the camera's sample and the converter; then the BGRx rows. The
  // conversion runs once (convert_once_) and is what makes them readable.
  mutable SamplePtr sample_;
  mutable std::shared_ptr<FrameConverter> converter_;
  mutable GstMapInfo map_{};
  mutable std::once_flag convert_once_;
  mutable std::atomic<bool> prepared_{true};
  mutable bool own_memory_ = false;  // the rows were converted into a buffer of the frame's own
  int width_, height_, stride_;
  std::uint64_t number_;
  std::int64_t capture_ns_, arrival_ns_;
};
using FramePtr = std::shared_ptr<const CameraFrame>;

// Another choice than the frame nearest in time: among the frames whose exposure middle
// (capture time less `exposureLeadNs`) lies in [windowStartNs, windowEndNs) (steady clock),
// the one `cost` rates lowest (none: not a candidate; of equal ones the earlier). The choice is
// made when a frame whose exposure middle is at or after the window's end arrives, or at once
// on the first candidate with `firstWins`. Without any candidate the answer is the frame
// nearest the instant after all.
struct FrameRule {
  std::int64_t exposureLeadNs = 0;
  std::int64_t windowStartNs = 0;
  std::int64_t windowEndNs = 0;
  std::function<std::optional<double>(std::int64_t exposureMidNs)> cost;
  bool firstWins = false;
};

// A frame asked for one moment (steady clock). It is answered with the frame captured nearest
// that moment as soon as that is known, when the first frame captured after it arrives, so the
// one who waits for it may come much later without the camera keeping frames for it (or by
// its rule, when it has one). The answer is copied into memory of its own (Detach) by the
// camera's streaming thread, or by the waiter: a waiting picture holds nothing of the camera's
// pipeline, and the window never copies. A rule's best frame so far is copied as it is found,
// so that a long window holds none of the camera's buffers either.
class FrameRequest {
 public:
  explicit FrameRequest(std::int64_t instantNs) : instant_ns_(instantNs) {}
  FrameRequest(std::int64_t instantNs, FrameRule rule)
      : instant_ns_(instantNs), rule_(std::move(rule)) {}
  // Waits until the request is answered or the steady clock reaches `deadlineNs`, then gives
  // the nearest frame offered so far, in memory of its own: null when the camera gave none.
  FramePtr Wait(std::int64_t deadlineNs);
  bool Answered() const;
  std::int64_t InstantNs() const { return instant_ns_; }
  bool HasRule() const { return rule_.has_value(); }
  // Whether the answer is the rule's choice (false: the nearest frame, for want of a candidate
  // or without a rule); its cost then.
  bool ChosenByRule() const;
  std::optional<double> ChosenCost() const;

  // What whoever delivers the frames (the camera pipeline; a test's own frames) calls: a
  // frame arrived, in capture order; true once the request is answered.
  bool Offer(const FramePtr& frame);
  // The scene stopped at `endNs` (steady clock; the run ended): a rule's window ends there, so
  // that no frame exposed after it is chosen.
  void EndWindowAt(std::int64_t endNs);
  // A frame kept since the last call that still belongs to the camera's pipeline: the caller
  // copies it with Detach, outside the camera's locks.
  bool TakeCopyDue();
  // No frame will come any more (the camera closed): the nearest so far is the answer.
  void Close();
  // Copies the answer into memory of its own, outside any lock of the camera's.
  void Detach();

 private:
  // The answer so far: the rule's best, else the nearest.
  const FramePtr& AnswerLocked() const { return best_ ? best_ : nearest_; }

  const std::int64_t instant_ns_;
  std::optional<FrameRule> rule_;
  mutable std::mutex mutex_;
  std::condition_variable answered_cv_;
  FramePtr nearest_;
  FramePtr best_;  // the rule's
  std::optional<double> best_cost_;
  bool answered_ = false;
  bool detached_ = false;  // the answer so far is a copy of its own
  bool copy_due_ = false;
};

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

  // What the camera did not take of its stored picture controls (stored_controls.h) at its last
  // opening, for the status line ("не применены: Gain"); empty when it took them all.
  const QString& ControlsNotice() const { return controls_notice_; }

  const CameraDevice& Camera() const { return camera_; }
  const CameraFormat& Format() const { return format_; }
  GstElement* Pipeline() const { return pipeline_.get(); }
  GstElement* Source() const { return source_; }

  FramePtr LatestFrame() const;
  // The latest frame converted already, for a preview that must not convert on the window's
  // thread: one at most every SetPreviewEvery's interval is converted for it as it arrives.
  FramePtr LatestPreparedFrame() const;
  // How often the preview shows a frame (0: every frame; negative: none is wanted). The frames
  // it will show are converted by the streaming thread; the others only when something reads
  // them.
  void SetPreviewEvery(std::int64_t intervalNs);
  // The frame captured nearest `instantNs` (steady clock), from the frames of this opening
  // kept (the last few) and those still to come: answered at once when a kept frame was
  // captured after the instant, else by the first frame that is. Never blocks. A frame of an
  // earlier opening (another camera or format) is never the answer.
  // With a rule, the frame it chooses (FrameRule).
  std::shared_ptr<FrameRequest> RequestFrame(std::int64_t instantNs,
                                             std::optional<FrameRule> rule = std::nullopt);
  // The time between frames, from the capture times of those kept (0 before two arrived).
  std::int64_t FrameIntervalNs() const;
  // Frames a second: the format's rate, else what the kept frames show (0 when neither says).
  double FramesPerSecond() const;
  // Frames delivered since the opening (a change of format is a new opening).
  std::uint64_t FrameCount() const { return frames_.load(); }
  // Of them, those turned into BGRx rows so far, by any reader.
  std::uint64_t FramesConverted() const { return converted_->load(); }
  // A playing camera that gave no frame for this long is frozen until its next frame.
  static constexpr std::int64_t kFrozenAfterNs = 1'000'000'000;
  bool IsFrozen() const { return frozen_; }

  // PLAYING / PAUSED / READY on the open pipeline; false when it refuses.
  bool SetState(GstState state);
  // The state reached within the timeout (a live source's NO_PREROLL counts as reached).
  GstState CurrentState(std::int64_t timeoutMs) const;
  // Reconnects in another format: READY, new caps, PLAYING.
  bool ChangeFormat(const CameraFormat& format, QString* error = nullptr);

  // Every frame as the camera delivers it (raw: an MJPEG camera's decoded), handed to `tap` on a
  // streaming thread; an empty function stops that. The tap branch is always there, so starting and
  // stopping a recording never rebuilds the running pipeline.
  using Tap = std::function<void(GstSample* sample)>;
  void SetTap(Tap tap);
  // Every decoded frame, handed to `observer` on the streaming thread as it arrives (an empty
  // function stops that): for work that needs each frame, not only the latest. A slow
  // observer costs frames (the preview's queue drops them), never the window's time.
  using FrameObserver = std::function<void(const FramePtr& frame)>;
  void SetFrameObserver(FrameObserver observer);

 signals:
  // A new frame is in the slot; several frames between two deliveries come as one signal.
  void FrameArrived();
  // The running camera failed (unplugged, busy, not negotiated): the pipeline is already at
  // NULL and released, the last frame stays.
  void Failed(const QString& reason);
  // The pipeline was released: frames kept elsewhere should be detached from it.
  void Closed();
  // The camera plays but has given no frame for kFrozenAfterNs (it stays open); Resumed when
  // its frames come again.
  void Frozen(const QString& reason);
  void Resumed();

 private:
  static GstFlowReturn OnNewSample(GstAppSink* sink, gpointer data);
  static GstFlowReturn OnTapSample(GstAppSink* sink, gpointer data);
  void OnBus(const BusNotice& notice);
  QString TakeFirstError();
  // The steps of Open. A failure's reason may be empty: the bus's first error, if any, is it.
  struct OpeningElements;
  void BeginOpening(const CameraDevice& camera, const CameraFormat& format);
  bool FailOpening(const QString& reason, QString* error);
  std::optional<QString> MakeElements(OpeningElements& elements);
  void ConfigureFrames(const OpeningElements& elements);
  void ConfigureTap(const OpeningElements& elements);
  std::optional<QString> LinkElements(const OpeningElements& elements);
  void WatchBus();
  // Watches for frames while the pipeline plays (`playing`), from now.
  void Watch(bool playing);
  void CheckFrozen();

  ElementPtr pipeline_;
  GstElement* source_ = nullptr;  // owned by the pipeline
  GstElement* chosen_ = nullptr;
  GstElement* tee_ = nullptr;
  std::unique_ptr<BusWatch> bus_;
  CameraDevice camera_;
  CameraFormat format_;
  QString controls_notice_;

  static constexpr std::size_t kKeptFrames = 4;
  mutable std::mutex slot_mutex_;  // guards the frames, the waiting requests and first_error_
  std::deque<FramePtr> recent_;    // oldest first; the last is the latest frame
  bool kept_current_ = false;      // recent_ holds frames of this opening
  // Requests still to be answered, and answered ones still to be detached; a request nobody
  // waits for any more is dropped.
  std::vector<std::weak_ptr<FrameRequest>> waiting_;
  std::vector<std::weak_ptr<FrameRequest>> to_detach_;
  QString first_error_;
  std::atomic<std::uint64_t> frames_{0};
  // Shared with the frames, which may be converted after the pipeline is gone.
  std::shared_ptr<std::atomic<std::uint64_t>> converted_ =
      std::make_shared<std::atomic<std::uint64_t>>(0);
  std::shared_ptr<FrameConverter> converter_;  // the streaming thread's, for the current caps
  FramePtr latest_prepared_;                   // guarded by slot_mutex_
  std::int64_t last_prepared_ns_ = 0;          // the streaming thread's
  std::atomic<std::int64_t> preview_every_ns_{-1};
  std::atomic<std::int64_t> last_arrival_ns_{0};  // of this opening's latest frame
  std::int64_t watched_since_ns_ = 0;
  bool frozen_ = false;
  QTimer watchdog_;
  std::atomic<bool> notify_pending_{false};
  std::mutex tap_mutex_;
  Tap tap_;
  std::mutex observer_mutex_;
  FrameObserver observer_;
};

}  // namespace gst
