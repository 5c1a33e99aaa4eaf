#include "platform/gst/camera_pipeline.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/forms/application.h"
#include "platform/gst/camera_controls.h"
#include "platform/gst/camera_identity.h"
#include "platform/gst/device_monitor.h"
#include "platform/gst/logging.h"
#include "platform/gst/stored_controls.h"

namespace gst {

namespace {

// A PipeWire camera stream is linked by the session manager only when it says what it is
// (WirePlumber refuses a stream without a media type, and the stream then waits unconnected
// with no error). Its buffers belong to the server's pool: copies let the kept frames outlive
// them without starving the camera.
void PrepareSource(GstElement* source) {
  GObjectClass* klass = G_OBJECT_GET_CLASS(source);
  if (!g_object_class_find_property(klass, "stream-properties")) return;
  const StructurePtr properties(gst_structure_new("props", "media.type", G_TYPE_STRING, "Video",
                                                  "media.category", G_TYPE_STRING, "Capture",
                                                  "media.role", G_TYPE_STRING, "Camera", nullptr));
  g_object_set(source, "stream-properties", properties.get(), nullptr);
  if (g_object_class_find_property(klass, "always-copy"))
    g_object_set(source, "always-copy", TRUE, nullptr);
}

}  // namespace

// ---- FrameConverter -------------------------------------------------------------------------

// Turns frames of one raw format and size into BGRx rows of the same size, with the settings
// the videoconvert element would use. One converter is shared by the frames of an opening,
// which may be read on several threads: one conversion at a time.
class FrameConverter {
 public:
  FrameConverter(const GstVideoInfo& from, std::shared_ptr<std::atomic<std::uint64_t>> count)
      : from_(from), count_(std::move(count)) {
    gst_video_info_set_format(&to_, GST_VIDEO_FORMAT_BGRx, GST_VIDEO_INFO_WIDTH(&from),
                              GST_VIDEO_INFO_HEIGHT(&from));
    // Only the pixels change: the converter refuses another rate, aspect or interlacing.
    GST_VIDEO_INFO_FPS_N(&to_) = GST_VIDEO_INFO_FPS_N(&from);
    GST_VIDEO_INFO_FPS_D(&to_) = GST_VIDEO_INFO_FPS_D(&from);
    GST_VIDEO_INFO_PAR_N(&to_) = GST_VIDEO_INFO_PAR_N(&from);
    GST_VIDEO_INFO_PAR_D(&to_) = GST_VIDEO_INFO_PAR_D(&from);
    GST_VIDEO_INFO_INTERLACE_MODE(&to_) = GST_VIDEO_INFO_INTERLACE_MODE(&from);
    to_caps_.reset(gst_video_info_to_caps(&to_));
    converter_.reset(gst_video_converter_new(&from_, &to_, nullptr));
  }
  bool Valid() const { return converter_ != nullptr && to_caps_ != nullptr; }
  bool Matches(const GstVideoInfo& info) const { return gst_video_info_is_equal(&info, &from_); }
  const GstVideoInfo& To() const { return to_; }

  // The sample's frame in BGRx rows, in a sample of its own (black where it cannot be read).
  SamplePtr Convert(GstSample* sample) {
    BufferPtr out(gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(&to_), nullptr));
    GstVideoFrame target;
    if (!gst_video_frame_map(&target, &to_, out.get(), GST_MAP_WRITE)) return nullptr;
    GstVideoFrame source;
    GstBuffer* in = sample ? gst_sample_get_buffer(sample) : nullptr;
    if (in && gst_video_frame_map(&source, &from_, in, GST_MAP_READ)) {
      {
        std::lock_guard lock(mutex_);
        gst_video_converter_frame(converter_.get(), &source, &target);
      }
      gst_video_frame_unmap(&source);
    } else {
      std::memset(GST_VIDEO_FRAME_PLANE_DATA(&target, 0), 0, GST_VIDEO_INFO_SIZE(&to_));
    }
    gst_video_frame_unmap(&target);
    if (in) gst_buffer_copy_into(out.get(), in, GST_BUFFER_COPY_TIMESTAMPS, 0, -1);
    ++*count_;
    return SamplePtr(gst_sample_new(out.get(), to_caps_.get(), nullptr, nullptr));
  }

 private:
  struct ConverterFree {
    void operator()(GstVideoConverter* converter) const { gst_video_converter_free(converter); }
  };
  GstVideoInfo from_;
  GstVideoInfo to_{};
  CapsPtr to_caps_;
  std::shared_ptr<std::atomic<std::uint64_t>> count_;
  std::mutex mutex_;
  std::unique_ptr<GstVideoConverter, ConverterFree> converter_;
};

// ---- CameraFrame ----------------------------------------------------------------------------

CameraFrame::CameraFrame(SamplePtr sample, int width, int height, int stride, std::uint64_t number,
                         std::int64_t captureNs, std::int64_t arrivalNs)
    : sample_(std::move(sample)),
      width_(width),
      height_(height),
      stride_(stride),
      number_(number),
      capture_ns_(captureNs),
      arrival_ns_(arrivalNs) {
  GstBuffer* buffer = gst_sample_get_buffer(sample_.get());
  if (!buffer || !gst_buffer_map(buffer, &map_, GST_MAP_READ)) {
    map_ = GstMapInfo{};
    width_ = height_ = stride_ = 0;
  }
}

CameraFrame::CameraFrame(SamplePtr sample, std::shared_ptr<FrameConverter> converter,
                         std::uint64_t number, std::int64_t captureNs, std::int64_t arrivalNs)
    : sample_(std::move(sample)),
      converter_(std::move(converter)),
      prepared_(false),
      width_(GST_VIDEO_INFO_WIDTH(&converter_->To())),
      height_(GST_VIDEO_INFO_HEIGHT(&converter_->To())),
      stride_(GST_VIDEO_INFO_PLANE_STRIDE(&converter_->To(), 0)),
      number_(number),
      capture_ns_(captureNs),
      arrival_ns_(arrivalNs) {}

CameraFrame::~CameraFrame() {
  if (map_.data) gst_buffer_unmap(gst_sample_get_buffer(sample_.get()), &map_);
}

void CameraFrame::Prepare() const {
  if (!Prepared()) std::call_once(convert_once_, [this] { Convert(); });
}

void CameraFrame::Convert() const {
  SamplePtr converted = converter_->Convert(sample_.get());
  converter_.reset();
  // The camera's buffer goes back to it now; the rows are the frame's own.
  sample_ = std::move(converted);
  GstBuffer* buffer = sample_ ? gst_sample_get_buffer(sample_.get()) : nullptr;
  if (!buffer || !gst_buffer_map(buffer, &map_, GST_MAP_READ)) map_ = GstMapInfo{};
  own_memory_ = true;
  prepared_.store(true, std::memory_order_release);
}

QImage CameraFrame::Image() const {
  Prepare();
  if (!map_.data) return {};
  // The image holds a reference to the frame until the image and its copies are gone.
  auto keep = std::make_unique<FramePtr>(shared_from_this());
  QImage image(
      map_.data, width_, height_, stride_, QImage::Format_RGB32,
      [](void* info) { std::unique_ptr<FramePtr>(static_cast<FramePtr*>(info)); }, keep.get());
  static_cast<void>(keep.release());  // now owned by the image's cleanup
  return image;
}

std::shared_ptr<const CameraFrame> CameraFrame::Detached() const {
  Prepare();
  if (own_memory_) return shared_from_this();
  GstBuffer* buffer = gst_sample_get_buffer(sample_.get());
  if (!buffer) return shared_from_this();
  BufferPtr copy(gst_buffer_copy_deep(buffer));
  SamplePtr sample(
      gst_sample_new(copy.get(), gst_sample_get_caps(sample_.get()), nullptr, nullptr));
  auto detached = std::make_shared<CameraFrame>(std::move(sample), width_, height_, stride_,
                                                number_, capture_ns_, arrival_ns_);
  detached->own_memory_ = true;
  return detached;
}

// ---- CameraPipeline ---------------------------------------------------------------------

CameraPipeline::CameraPipeline(QObject* parent) : QObject(parent) {
  EnsureInitialized();
  watchdog_.setInterval(200);
  connect(&watchdog_, &QTimer::timeout, this, &CameraPipeline::CheckFrozen);
  // A PipeWire camera whose node goes away leaves its source waiting without an error.
  connect(&DeviceMonitor::Instance(), &DeviceMonitor::DeviceRemoved, this,
          [this](const void* device) {
            forms::AssertWindowThread("CameraPipeline device removed");
            if (!pipeline_ || device != camera_.device.get()) return;
            qCWarning(lcGst) << "camera removed:" << camera_.name;
            Close();
            emit Failed(QString::fromUtf8("камера отключена"));
          });
}

CameraPipeline::~CameraPipeline() {
  try {
    Close();
  } catch (const std::exception& failure) {
    // Nothing may leave a destructor; the streaming threads are stopped by then.
    qCWarning(lcGst) << "closing the camera" << camera_.name << "failed:" << failure.what();
  } catch (...) {
    qCWarning(lcGst) << "closing the camera" << camera_.name << "failed: an unknown exception";
  }
}

// The elements of an opening that the pipeline does not keep a pointer to, all owned by it.
struct CameraPipeline::OpeningElements {
  GstElement* decoder = nullptr;  // an MJPEG camera's only
  GstElement* queue = nullptr;
  GstElement* sink = nullptr;
  GstElement* tapQueue = nullptr;
  GstElement* tap = nullptr;
};

bool CameraPipeline::Open(const CameraDevice& camera, const CameraFormat& format, QString* error,
                          GstState state) {
  Close();
  BeginOpening(camera, format);
  if (!camera.device) return FailOpening(QStringLiteral("камера не найдена"), error);
  OpeningElements elements;
  if (const std::optional<QString> problem = MakeElements(elements))
    return FailOpening(*problem, error);
  ConfigureFrames(elements);
  ConfigureTap(elements);
  if (const std::optional<QString> problem = LinkElements(elements))
    return FailOpening(*problem, error);
  WatchBus();
  if (gst_element_set_state(pipeline_.get(), state) == GST_STATE_CHANGE_FAILURE)
    return FailOpening(QString(), error);
  Watch(state == GST_STATE_PLAYING);
  // What the operator set for this camera before, in both back ends and after a replug; what
  // it refuses is only told, never a reason not to open.
  if (const std::unique_ptr<CameraControls> controls = ControlsOf(*this))
    controls_notice_ = ApplyStoredControls(CameraIdentity(camera_), *controls).Notice();
  return true;
}

void CameraPipeline::BeginOpening(const CameraDevice& camera, const CameraFormat& format) {
  camera_ = camera;
  format_ = format;
  controls_notice_.clear();
  frames_ = 0;
  converted_ = std::make_shared<std::atomic<std::uint64_t>>(0);
  converter_.reset();
  last_arrival_ns_ = 0;
  std::lock_guard lock(slot_mutex_);
  first_error_.clear();
  kept_current_ = false;
}

bool CameraPipeline::FailOpening(const QString& reason, QString* error) {
  const QString text = reason.isEmpty() ? TakeFirstError() : reason;
  qCWarning(lcGst) << "cannot open" << camera_.name << format_.Describe() << ":" << text;
  Close();
  if (error) *error = text.isEmpty() ? QStringLiteral("камера не запустилась") : text;
  return false;
}

std::optional<QString> CameraPipeline::MakeElements(OpeningElements& elements) {
  pipeline_ = NewPipeline("camera");
  ElementMaker maker;
  ElementPtr source = Adopt(gst_device_create_element(camera_.device.get(), "source"));
  ElementPtr chosen = maker.Make("capsfilter", "chosen");
  ElementPtr decoder = format_.IsJpeg() ? maker.Make("jpegdec", "decoder") : nullptr;
  ElementPtr tee = maker.Make("tee", "split");
  ElementPtr queue = maker.Make("queue", "preview_queue");
  ElementPtr sink = maker.Make("appsink", "frames");
  ElementPtr tap_queue = maker.Make("queue", "tap_queue");
  ElementPtr tap = maker.Make("appsink", "tap");
  if (!pipeline_ || !maker.Missing().isEmpty()) return maker.Missing();
  if (!source) return QStringLiteral("камера не даёт элемента GStreamer");
  GstElement* bin = pipeline_.get();
  source_ = AddToBin(bin, std::move(source));
  chosen_ = AddToBin(bin, std::move(chosen));
  elements.decoder = decoder ? AddToBin(bin, std::move(decoder)) : nullptr;
  tee_ = AddToBin(bin, std::move(tee));
  elements.queue = AddToBin(bin, std::move(queue));
  elements.sink = AddToBin(bin, std::move(sink));
  elements.tapQueue = AddToBin(bin, std::move(tap_queue));
  elements.tap = AddToBin(bin, std::move(tap));
  if (!source_ || !chosen_ || !tee_ || !elements.queue || (format_.IsJpeg() && !elements.decoder) ||
      !elements.sink || !elements.tapQueue || !elements.tap)
    return QStringLiteral("не удаётся собрать конвейер камеры");
  return std::nullopt;
}

void CameraPipeline::ConfigureFrames(const OpeningElements& elements) {
  // Frame times are read as steady-clock times; a source that offers a clock of its own
  // (PipeWire's) must not become the pipeline's.
  const ClockPtr system(gst_system_clock_obtain());
  gst_pipeline_use_clock(GST_PIPELINE(pipeline_.get()), system.get());
  PrepareSource(source_);
  CapsPtr caps(format_.MakeCaps());
  g_object_set(chosen_, "caps", caps.get(), nullptr);
  // The frames' side may stall for a moment (a busy machine): the frames of that moment wait
  // for it, as a picture may need the one nearest its instant, but never more than a quarter
  // of a second of them; older ones are dropped, so the preview never lags further behind.
  gst_util_set_object_arg(G_OBJECT(elements.queue), "leaky", "downstream");
  g_object_set(elements.queue, "max-size-buffers", 16u, "max-size-bytes", 0u, "max-size-time",
               guint64{250} * GST_MSECOND, nullptr);
  // Frames in the camera's (or the decoder's) own raw format, in plain memory: each is
  // converted to BGRx only when read.
  CapsPtr raw_caps(gst_caps_from_string("video/x-raw"));
  g_object_set(elements.sink, "caps", raw_caps.get(), "max-buffers", 1u, "drop", TRUE, "sync",
               FALSE, "emit-signals", FALSE, nullptr);
  GstAppSinkCallbacks callbacks{};
  callbacks.new_sample = &CameraPipeline::OnNewSample;
  gst_app_sink_set_callbacks(GST_APP_SINK(elements.sink), &callbacks, this, nullptr);
}

void CameraPipeline::ConfigureTap(const OpeningElements& elements) {
  // The tap: every frame, in its own thread, never holding up the camera (a recording that
  // falls a second behind loses frames rather than stalling the preview).
  gst_util_set_object_arg(G_OBJECT(elements.tapQueue), "leaky", "downstream");
  g_object_set(elements.tapQueue, "max-size-buffers", 30u, "max-size-bytes", 0u, "max-size-time",
               guint64{0}, nullptr);
  g_object_set(elements.tap, "sync", FALSE, "emit-signals", FALSE, nullptr);
  GstAppSinkCallbacks tap_callbacks{};
  tap_callbacks.new_sample = &CameraPipeline::OnTapSample;
  gst_app_sink_set_callbacks(GST_APP_SINK(elements.tap), &tap_callbacks, this, nullptr);
}

std::optional<QString> CameraPipeline::LinkElements(const OpeningElements& elements) {
  if (!gst_element_link_many(tee_, elements.tapQueue, elements.tap, nullptr))
    return QStringLiteral("не удаётся подключить запись к камере");
  GstElement* chain[] = {source_, chosen_, elements.decoder, tee_, elements.queue, elements.sink};
  GstElement* previous = nullptr;
  for (GstElement* element : chain) {
    if (!element) continue;
    if (previous && !gst_element_link(previous, element))
      return QStringLiteral("не удаётся соединить %1 с %2")
          .arg(GST_ELEMENT_NAME(previous), GST_ELEMENT_NAME(element));
    previous = element;
  }
  return std::nullopt;
}

void CameraPipeline::WatchBus() {
  bus_ = std::make_unique<BusWatch>(
      pipeline_.get(), [this](const BusNotice& notice) { OnBus(notice); },
      [this](GstMessage* message) {
        if (GST_MESSAGE_TYPE(message) != GST_MESSAGE_ERROR) return;
        GError* raw = nullptr;
        gst_message_parse_error(message, &raw, nullptr);
        ErrorPtr owned(raw);
        std::lock_guard lock(slot_mutex_);
        if (first_error_.isEmpty()) first_error_ = ErrorText(owned.get());
      });
}

void CameraPipeline::Watch(bool playing) {
  watched_since_ns_ = SteadyNowNs();
  // A camera not asked to play is not watched; one found frozen stays so until its next frame.
  if (playing)
    watchdog_.start();
  else
    watchdog_.stop();
}

void CameraPipeline::CheckFrozen() {
  if (!pipeline_ || frozen_) return;
  const std::int64_t since = std::max(last_arrival_ns_.load(), watched_since_ns_);
  if (SteadyNowNs() - since < kFrozenAfterNs) return;
  frozen_ = true;
  qCWarning(lcGst) << "camera frozen:" << camera_.name << "gave no frame for a second";
  emit Frozen(QString::fromUtf8("камера не даёт кадров больше секунды"));
}

void CameraPipeline::Close() {
  if (!pipeline_) return;
  watchdog_.stop();
  frozen_ = false;
  if (source_) gst_element_set_locked_state(source_, FALSE);  // it goes to NULL with the rest
  // NULL stops the streaming threads first: no callback runs after this line.
  gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
  bus_.reset();
  pipeline_.reset();
  source_ = chosen_ = tee_ = nullptr;
  std::vector<std::weak_ptr<FrameRequest>> waiting;
  {
    std::lock_guard lock(slot_mutex_);
    // Only the latest frame stays, in memory of its own.
    FramePtr latest = recent_.empty() ? nullptr : recent_.back()->Detached();
    recent_.clear();
    if (latest) recent_.push_back(latest);
    latest_prepared_ = std::move(latest);
    waiting.swap(waiting_);
    waiting.insert(waiting.end(), to_detach_.begin(), to_detach_.end());
    to_detach_.clear();
  }
  // No frame comes any more: each open request has its answer.
  for (const std::weak_ptr<FrameRequest>& open : waiting)
    if (const std::shared_ptr<FrameRequest> request = open.lock()) request->Close();
  emit Closed();
}

QString CameraPipeline::TakeFirstError() {
  std::lock_guard lock(slot_mutex_);
  return std::exchange(first_error_, QString());
}

FramePtr CameraPipeline::LatestFrame() const {
  std::lock_guard lock(slot_mutex_);
  return recent_.empty() ? nullptr : recent_.back();
}

void CameraPipeline::SetPreviewEvery(std::int64_t intervalNs) {
  preview_every_ns_ = intervalNs;
}

FramePtr CameraPipeline::LatestPreparedFrame() const {
  std::lock_guard lock(slot_mutex_);
  return latest_prepared_;
}

namespace {

std::int64_t IntervalOf(const std::deque<FramePtr>& frames) {
  if (frames.size() < 2) return 0;
  const std::int64_t span = frames.back()->CaptureNs() - frames.front()->CaptureNs();
  return std::max<std::int64_t>(span / static_cast<std::int64_t>(frames.size() - 1), 0);
}

}  // namespace

double CameraPipeline::FramesPerSecond() const {
  if (!format_.rates.empty()) return format_.rates.front().PerSecond();
  const std::int64_t interval = FrameIntervalNs();
  return interval > 0 ? 1e9 / static_cast<double>(interval) : 0;
}

std::int64_t CameraPipeline::FrameIntervalNs() const {
  std::lock_guard lock(slot_mutex_);
  return IntervalOf(recent_);
}

std::shared_ptr<FrameRequest> CameraPipeline::RequestFrame(std::int64_t instantNs,
                                                           std::optional<FrameRule> rule) {
  auto request = rule ? std::make_shared<FrameRequest>(instantNs, std::move(*rule))
                      : std::make_shared<FrameRequest>(instantNs);
  std::lock_guard lock(slot_mutex_);
  bool answered = false;
  // Until this opening's first frame, the one kept is of an earlier opening.
  if (kept_current_)
    for (const FramePtr& frame : recent_) answered = request->Offer(frame) || answered;
  // What it keeps is copied by the streaming thread at its next frame.
  if (answered || request->TakeCopyDue()) to_detach_.push_back(request);
  if (answered) return request;
  if (pipeline_)
    waiting_.push_back(request);
  else
    request->Close();  // nothing more will come
  return request;
}

// ---- FrameRequest -----------------------------------------------------------------------

bool FrameRequest::Offer(const FramePtr& frame) {
  std::lock_guard lock(mutex_);
  if (answered_) return true;
  const FramePtr before = AnswerLocked();
  // The nearest is settled by the first frame captured at or after the instant: frames come in
  // capture order, none after it can be nearer.
  // Once a rule has a candidate the nearest can no longer be the answer: it is not kept.
  const bool nearestSettled = nearest_ && nearest_->CaptureNs() >= instant_ns_;
  if (!best_ && !nearestSettled &&
      (!nearest_ || std::llabs(frame->CaptureNs() - instant_ns_) <
                        std::llabs(nearest_->CaptureNs() - instant_ns_)))
    nearest_ = frame;
  if (!rule_) {
    answered_ = frame->CaptureNs() >= instant_ns_;
  } else {
    const std::int64_t middle = frame->CaptureNs() - rule_->exposureLeadNs;
    if (middle >= rule_->windowStartNs && middle < rule_->windowEndNs) {
      const std::optional<double> cost = rule_->cost ? rule_->cost(middle) : std::nullopt;
      if (cost && std::isfinite(*cost) && (!best_cost_ || *cost < *best_cost_)) {
        best_ = frame;
        best_cost_ = cost;
        nearest_.reset();
        if (rule_->firstWins) answered_ = true;
      }
    }
    if (middle >= rule_->windowEndNs) answered_ = true;
  }
  if (AnswerLocked() != before) {
    detached_ = false;
    // A rule's choice may wait for a whole window: what it keeps is copied now.
    copy_due_ = rule_.has_value();
  }
  if (answered_) answered_cv_.notify_all();
  return answered_;
}

void FrameRequest::EndWindowAt(std::int64_t endNs) {
  std::lock_guard lock(mutex_);
  if (rule_) rule_->windowEndNs = std::min(rule_->windowEndNs, endNs);
}

bool FrameRequest::TakeCopyDue() {
  std::lock_guard lock(mutex_);
  return std::exchange(copy_due_, false);
}

bool FrameRequest::ChosenByRule() const {
  std::lock_guard lock(mutex_);
  return best_ != nullptr;
}

std::optional<double> FrameRequest::ChosenCost() const {
  std::lock_guard lock(mutex_);
  return best_cost_;
}

void FrameRequest::Close() {
  {
    std::lock_guard lock(mutex_);
    answered_ = true;
    answered_cv_.notify_all();
  }
  Detach();
}

void FrameRequest::Detach() {
  FramePtr frame;
  {
    std::lock_guard lock(mutex_);
    if (detached_ || !AnswerLocked()) return;
    frame = AnswerLocked();
  }
  FramePtr copy = frame->Detached();  // the copy, outside every lock
  std::lock_guard lock(mutex_);
  // A better frame that came meanwhile is copied at its own turn.
  if (detached_ || AnswerLocked() != frame) return;
  (best_ ? best_ : nearest_) = std::move(copy);
  detached_ = true;
}

FramePtr FrameRequest::Wait(std::int64_t deadlineNs) {
  {
    std::unique_lock lock(mutex_);
    const auto deadline =
        std::chrono::steady_clock::time_point(std::chrono::nanoseconds(deadlineNs));
    // A camera that stalled past the deadline: the nearest frame it gave is the answer.
    answered_cv_.wait_until(lock, deadline, [this] { return answered_; });
    answered_ = true;
  }
  Detach();
  std::lock_guard lock(mutex_);
  return AnswerLocked();
}

bool FrameRequest::Answered() const {
  std::lock_guard lock(mutex_);
  return answered_;
}

bool CameraPipeline::SetState(GstState state) {
  if (!pipeline_) return false;
  // A PipeWire stream paused and played again at once may never deliver again: while the rest
  // pauses its source plays on, and the preview's leaky queue drops what it brings.
  gst_element_set_locked_state(source_, camera_.viaPipeWire && state == GST_STATE_PAUSED);
  const bool set = gst_element_set_state(pipeline_.get(), state) != GST_STATE_CHANGE_FAILURE;
  Watch(set && state == GST_STATE_PLAYING);
  return set;
}

GstState CameraPipeline::CurrentState(std::int64_t timeoutMs) const {
  if (!pipeline_) return GST_STATE_NULL;
  GstState state = GST_STATE_VOID_PENDING;
  GstState pending = GST_STATE_VOID_PENDING;
  const GstStateChangeReturn result = gst_element_get_state(
      pipeline_.get(), &state, &pending,
      static_cast<GstClockTime>(std::max<std::int64_t>(timeoutMs, 0)) * GST_MSECOND);
  if (result == GST_STATE_CHANGE_FAILURE) return GST_STATE_VOID_PENDING;
  // A live source never prerolls: once asked, the pending state is as good as reached.
  if (result == GST_STATE_CHANGE_NO_PREROLL && pending != GST_STATE_VOID_PENDING) return pending;
  return state;
}

bool CameraPipeline::ChangeFormat(const CameraFormat& format, QString* error) {
  if (!pipeline_) return false;
  if (format.IsJpeg() != format_.IsJpeg()) return Open(camera_, format, error);
  gst_element_set_state(pipeline_.get(), GST_STATE_READY);
  format_ = format;
  // The streaming thread is stopped at READY: the next frame is the first of a new opening.
  frames_ = 0;
  converted_ = std::make_shared<std::atomic<std::uint64_t>>(0);
  converter_.reset();
  last_arrival_ns_ = 0;
  std::vector<std::weak_ptr<FrameRequest>> open;
  {
    std::lock_guard lock(slot_mutex_);
    kept_current_ = false;
    open.swap(waiting_);
    open.insert(open.end(), to_detach_.begin(), to_detach_.end());
    to_detach_.clear();
  }
  // The new format's frames are of another opening: an open request has its answer from the
  // old one's.
  for (const std::weak_ptr<FrameRequest>& waiting : open)
    if (const std::shared_ptr<FrameRequest> request = waiting.lock()) request->Close();
  CapsPtr caps(format.MakeCaps());
  g_object_set(chosen_, "caps", caps.get(), nullptr);
  if (gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
    const QString reason = TakeFirstError();
    qCWarning(lcGst) << "cannot change" << camera_.name << "to" << format.Describe() << ":"
                     << reason;
    if (error) *error = reason;
    Close();
    return false;
  }
  Watch(true);
  return true;
}

GstFlowReturn CameraPipeline::OnNewSample(GstAppSink* sink, gpointer data) {
  auto* self = static_cast<CameraPipeline*>(data);
  SamplePtr sample(gst_app_sink_pull_sample(sink));
  if (!sample) return GST_FLOW_OK;
  GstVideoInfo info;
  GstCaps* caps = gst_sample_get_caps(sample.get());
  if (!caps || !gst_video_info_from_caps(&info, caps)) return GST_FLOW_OK;
  GstBuffer* buffer = gst_sample_get_buffer(sample.get());
  if (!buffer) return GST_FLOW_OK;
  if (!self->converter_ || !self->converter_->Matches(info)) {
    self->converter_ = std::make_shared<FrameConverter>(info, self->converted_);
    if (!self->converter_->Valid())
      qCWarning(lcGst) << "cannot convert the camera's frames:" << self->camera_.name
                       << gst_video_format_to_string(GST_VIDEO_INFO_FORMAT(&info));
  }
  if (!self->converter_->Valid()) return GST_FLOW_OK;
  const std::int64_t arrival = SteadyNowNs();
  // The pipeline runs on the system's monotonic clock, the steady clock's own time base.
  std::int64_t capture = arrival;
  // No frame is taken after it arrived: a source that kept playing through a pause stamps
  // against the base time before it, and the new one would put its frames later.
  if (GST_BUFFER_PTS_IS_VALID(buffer))
    capture =
        std::min(arrival, static_cast<std::int64_t>(gst_element_get_base_time(GST_ELEMENT(sink)) +
                                                    GST_BUFFER_PTS(buffer)));
  const std::uint64_t number = ++self->frames_;
  self->last_arrival_ns_ = arrival;
  std::vector<std::weak_ptr<FrameRequest>> answered;
  auto frame = std::make_shared<const CameraFrame>(std::move(sample), self->converter_, number,
                                                   capture, arrival);
  // The preview's frames are converted here, never on the window's thread; at 60 frames a
  // second and a preview of 30, every other frame.
  const std::int64_t every = self->preview_every_ns_.load();
  const bool for_preview = every >= 0 && (number == 1 || capture - self->last_prepared_ns_ >=
                                                             every - self->FrameIntervalNs() / 2);
  if (for_preview) {
    frame->Prepare();
    self->last_prepared_ns_ = capture;
  }
  {
    std::lock_guard lock(self->slot_mutex_);
    // The first frame of an opening starts the kept frames anew: the last one of an earlier
    // opening stays only until then.
    if (!self->kept_current_) self->recent_.clear();
    self->kept_current_ = true;
    self->recent_.push_back(frame);
    while (self->recent_.size() > kKeptFrames) self->recent_.pop_front();
    if (for_preview) self->latest_prepared_ = frame;
    std::erase_if(self->waiting_, [&](const std::weak_ptr<FrameRequest>& waiting) {
      const std::shared_ptr<FrameRequest> request = waiting.lock();
      if (request && !request->Offer(frame)) {
        if (request->TakeCopyDue()) self->to_detach_.push_back(request);
        return false;
      }
      if (request) self->to_detach_.push_back(request);
      return true;
    });
    answered.swap(self->to_detach_);
  }
  // The answers are copied here, not under the slot's lock that the window's thread takes.
  for (const std::weak_ptr<FrameRequest>& request : answered)
    if (const std::shared_ptr<FrameRequest> locked = request.lock()) locked->Detach();
  {
    std::lock_guard lock(self->observer_mutex_);
    if (self->observer_) self->observer_(frame);
  }
  if (!self->notify_pending_.exchange(true)) {
    QMetaObject::invokeMethod(
        self,
        [self] {
          self->notify_pending_ = false;
          if (self->frozen_ && self->pipeline_) {
            self->frozen_ = false;
            qCInfo(lcGst) << "camera resumed:" << self->camera_.name;
            emit self->Resumed();
          }
          emit self->FrameArrived();
        },
        Qt::QueuedConnection);
  }
  return GST_FLOW_OK;
}

void CameraPipeline::SetTap(Tap tap) {
  std::lock_guard lock(tap_mutex_);
  tap_ = std::move(tap);
}

void CameraPipeline::SetFrameObserver(FrameObserver observer) {
  std::lock_guard lock(observer_mutex_);
  observer_ = std::move(observer);
}

GstFlowReturn CameraPipeline::OnTapSample(GstAppSink* sink, gpointer data) {
  auto* self = static_cast<CameraPipeline*>(data);
  SamplePtr sample(gst_app_sink_pull_sample(sink));
  std::lock_guard lock(self->tap_mutex_);
  if (sample && self->tap_) self->tap_(sample.get());
  return GST_FLOW_OK;
}

void CameraPipeline::OnBus(const BusNotice& notice) {
  forms::AssertWindowThread("CameraPipeline::OnBus");
  if (notice.kind == BusNotice::Warning) {
    qCWarning(lcGst) << notice.source << notice.text << notice.debug;
    return;
  }
  if (notice.kind != BusNotice::Error || !pipeline_) return;
  qCWarning(lcGst) << "camera failed:" << notice.source << notice.text << notice.debug;
  Close();
  emit Failed(notice.text);
}

}  // namespace gst
