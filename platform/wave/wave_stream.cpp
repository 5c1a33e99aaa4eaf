#include "platform/wave/wave_stream.h"

#include <gst/app/gstappsrc.h>
#include <pthread.h>

#include <QCoreApplication>
#include <QPointer>
#include <QtGlobal>
#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/gst/releaser.h"
#include "platform/wave/logging.h"

namespace wave {

Q_LOGGING_CATEGORY(lcWave, "strobolux.wave")

namespace {

// A header whose data arrives after the device ran dry starts this far ahead of "now", so its
// first samples are not already late when they reach the sink.
constexpr GstClockTime kRestartLead = 30 * GST_MSECOND;

struct PlayedNote {
  std::shared_ptr<WaveOutStream> stream;
  WAVEHDR* header;
  std::uint64_t generation;
};

void CancelWaits(std::vector<gst::ClockIdPtr>& waits) {
  for (const gst::ClockIdPtr& wait : waits) gst_clock_id_unschedule(wait.get());
  waits.clear();
}

GstCaps* CapsFor(const WAVEFORMATEX& format) {
  return gst_caps_new_simple(
      "audio/x-raw", "format", G_TYPE_STRING, format.wBitsPerSample == 8 ? "U8" : "S16LE", "layout",
      G_TYPE_STRING, "interleaved", "rate", G_TYPE_INT, static_cast<int>(format.nSamplesPerSec),
      "channels", G_TYPE_INT, static_cast<int>(format.nChannels), nullptr);
}

// A monotonic system clock's internal time is the steady clock itself. Not so a subclass's
// (an audio sink's clock is one, with its device's time as its own).
bool RunsOnTheSteadyClock(GstClock* clock) {
  if (G_OBJECT_TYPE(clock) != GST_TYPE_SYSTEM_CLOCK) return false;
  GstClockType type = GST_CLOCK_TYPE_REALTIME;
  g_object_get(clock, "clock-type", &type, nullptr);
  return type == GST_CLOCK_TYPE_MONOTONIC;
}

// Bracketing tries: a thread preempted between two reads shows as a wide bracket.
constexpr int kClockReadTries = 8;
constexpr std::int64_t kTightBracketNs = 20'000;

}  // namespace

// The device's clock and the steady clock at one moment. Two reads in a row are not one
// moment: a thread preempted between them would put every instant counted from the pair that
// much off. A monotonic system clock (the system's own, or a sound device's skewed one) is
// read once and both times derived from that reading; another clock is read between two
// steady-clock reads, keeping the narrowest bracket of a few tries.
WaveOutStream::ClockReading WaveOutStream::ReadClock(GstClock* clock) {
  if (RunsOnTheSteadyClock(clock)) {
    const GstClockTime internal = gst_clock_get_internal_time(clock);
    GstClockTime cinternal = 0, cexternal = 0, num = 1, denom = 1;
    gst_clock_get_calibration(clock, &cinternal, &cexternal, &num, &denom);
    return {static_cast<std::int64_t>(gst_clock_adjust_with_calibration(clock, internal, cinternal,
                                                                        cexternal, num, denom)),
            static_cast<std::int64_t>(internal)};
  }
  ClockReading best;
  std::int64_t narrowest = -1;
  for (int i = 0; i < kClockReadTries && (narrowest < 0 || narrowest > kTightBracketNs); ++i) {
    const std::int64_t before = gst::SteadyNowNs();
    const auto time = static_cast<std::int64_t>(gst_clock_get_time(clock));
    const std::int64_t after = gst::SteadyNowNs();
    if (narrowest < 0 || after - before < narrowest) {
      narrowest = after - before;
      best = {time, before + (after - before) / 2};
    }
  }
  return best;
}

namespace {

// Closed streams are taken down here, so that the window never waits for a sink to stop.
gst::Releaser& Releases() {
  static gst::Releaser releaser;
  return releaser;
}

}  // namespace

WaveOutStream::WaveOutStream(QObject* callback, HWAVEOUT id, const WAVEFORMATEX& format)
    : callback_(callback),
      id_(id),
      format_(format),
      chunk_bytes_(std::max<std::uint32_t>(
          format.nBlockAlign,
          format.nAvgBytesPerSec / 100 / format.nBlockAlign * format.nBlockAlign)) {}

std::shared_ptr<WaveOutStream> WaveOutStream::Open(GstElement* sink, const WAVEFORMATEX& format,
                                                   QObject* callback, HWAVEOUT id) {
  // A device closed a moment ago may still be held (a sound card opens only once).
  WaitForReleases();
  std::shared_ptr<WaveOutStream> stream(new WaveOutStream(callback, id, format));
  if (!stream->Start(sink)) {
    stream->Release();
    return nullptr;
  }
  stream->opened_ = true;
  stream->Post(MM_WOM_OPEN, nullptr);
  return stream;
}

bool WaveOutStream::Start(GstElement* sink) {
  pipeline_ = gst::NewPipeline("wave");
  gst::ElementPtr owned_sink = gst::Adopt(sink);
  gst::ElementMaker maker;
  gst::ElementPtr feeder = maker.Make("appsrc");
  gst::ElementPtr converter = maker.Make("audioconvert");
  gst::ElementPtr resampler = maker.Make("audioresample");
  // Each way out says why the device did not start: the caller has only "busy or gone".
  const auto fail = [](const char* why) {
    qCWarning(lcWave) << "the sound device did not start:" << why;
    return false;
  };
  if (!maker.Missing().isEmpty()) {
    qCWarning(lcWave) << maker.Missing();
    return false;
  }
  if (!pipeline_ || !owned_sink) return fail("no pipeline or no sink element");
  GstElement* bin = pipeline_.get();
  appsrc_ = gst::AddToBin(bin, std::move(feeder));
  GstElement* convert = gst::AddToBin(bin, std::move(converter));
  GstElement* resample = gst::AddToBin(bin, std::move(resampler));
  if (!appsrc_ || !convert || !resample || !gst::AddToBin(bin, std::move(owned_sink)))
    return fail("its elements cannot be put into one pipeline");
  // The sink must not wait for a first buffer to reach PLAYING: the clock's base time is
  // needed before anything is queued.
  if (g_object_class_find_property(G_OBJECT_GET_CLASS(sink), "async"))
    g_object_set(sink, "async", FALSE, nullptr);
  const gst::CapsPtr caps(CapsFor(format_));
  g_object_set(appsrc_, "caps", caps.get(), "format", GST_FORMAT_TIME, "is-live", TRUE, "block",
               TRUE, "max-bytes", 4 * static_cast<guint64>(chunk_bytes_), "min-latency",
               static_cast<gint64>(0), nullptr);
  if (!gst_element_link_many(appsrc_, convert, resample, sink, nullptr))
    return fail("its elements cannot be linked");

  // A device that fails while open (unplugged, its server gone) is told to the callback
  // window; the handler holds nothing of the stream, which may be released meanwhile.
  bus_ = std::make_unique<gst::BusWatch>(pipeline_.get(), [callback = QPointer<QObject>(callback_),
                                                           id = id_](const gst::BusNotice& notice) {
    if (notice.kind == gst::BusNotice::Warning)
      qCWarning(lcWave) << notice.source << notice.text << notice.debug;
    if (notice.kind != gst::BusNotice::Error) return;
    qCWarning(lcWave) << "device failed:" << notice.source << notice.text << notice.debug;
    if (callback)
      QCoreApplication::postEvent(callback,
                                  new WaveOutEvent(kDeviceFailed, id, nullptr, notice.text));
  });
  const gst::PadPtr source(gst_element_get_static_pad(appsrc_, "src"));
  gst_pad_add_probe(source.get(), GST_PAD_PROBE_TYPE_BUFFER, &WaveOutStream::DropStale, this,
                    nullptr);

  if (gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
    return fail("it refuses to play");
  GstState state = GST_STATE_NULL;
  const GstStateChangeReturn reached =
      gst_element_get_state(pipeline_.get(), &state, nullptr, 2 * GST_SECOND);
  if (state != GST_STATE_PLAYING) {
    qCWarning(lcWave) << "the sound device did not start: it is"
                      << gst_element_state_get_name(state) << "after two seconds,"
                      << gst_element_state_change_return_get_name(reached);
    return false;
  }
  clock_.reset(gst_element_get_clock(pipeline_.get()));
  if (!clock_) return fail("its pipeline has no clock");
  base_time_ = gst_element_get_base_time(pipeline_.get());
  const gst::QueryPtr query(gst_query_new_latency());
  if (gst_element_query(pipeline_.get(), query.get())) {
    gboolean live = FALSE;
    GstClockTime min_latency = 0;
    gst_query_parse_latency(query.get(), &live, &min_latency, nullptr);
    if (GST_CLOCK_TIME_IS_VALID(min_latency)) latency_ = min_latency;
  }

  feeder_ = std::thread([this] {
    // Named, so that a profile or `top -H` tells the tone's feeding from the window's time.
    pthread_setname_np(pthread_self(), "sound feeder");
    FeedLoop();
  });
  return true;
}

WaveOutStream::~WaveOutStream() {
  Release();
}

GstClockTime WaveOutStream::RunningTimeNow() const {
  const GstClockTime now = gst_clock_get_time(clock_.get());
  return now > base_time_ ? now - base_time_ : 0;
}

GstClockTime WaveOutStream::TimelineAt(std::uint64_t frames) const {
  return timeline_start_ + gst_util_uint64_scale(frames, GST_SECOND, format_.nSamplesPerSec);
}

void WaveOutStream::Retime(GstClockTime now) {
  timeline_origin_ += timeline_frames_;
  timeline_start_ = now + kRestartLead;
  timeline_frames_ = 0;
  timeline_known_ = true;
  retime_ = false;
}

bool WaveOutStream::Timing(ToneTiming* timing) {
  std::lock_guard lock(mutex_);
  if (!clock_ || !timeline_known_ || closed_) return false;
  const ClockReading now = ReadClock(clock_.get());
  timing->steadyNs = now.steadyNs;
  timing->clockNs = now.clockNs;
  const auto before = static_cast<std::int64_t>(
      gst_util_uint64_scale(timeline_origin_, GST_SECOND, format_.nSamplesPerSec));
  timing->firstSampleNs =
      static_cast<std::int64_t>(base_time_ + latency_ + timeline_start_) - before;
  timing->sampleRate = format_.nSamplesPerSec;
  return true;
}

bool WaveOutStream::QueuedLocked(const WAVEHDR* header) const {
  return std::find(pending_.begin(), pending_.end(), header) != pending_.end() ||
         std::find(playing_.begin(), playing_.end(), header) != playing_.end();
}

MMRESULT WaveOutStream::Write(WAVEHDR* header) {
  std::lock_guard lock(mutex_);
  if (closed_) return MMSYSERR_INVALHANDLE;
  if (QueuedLocked(header)) return WAVERR_STILLPLAYING;
  // The first header after a start or a reset fixes the timeline now, so that where its
  // samples play is known as soon as it is queued.
  if (retime_ && pending_.empty() && playing_.empty()) Retime(RunningTimeNow());
  pending_.push_back(header);
  wake_.notify_all();
  return MMSYSERR_NOERROR;
}

bool WaveOutStream::IsQueued(const WAVEHDR* header) {
  std::lock_guard lock(mutex_);
  return QueuedLocked(header);
}

bool WaveOutStream::HasQueued() {
  std::lock_guard lock(mutex_);
  return !pending_.empty() || !playing_.empty();
}

void WaveOutStream::FeedLoop() {
  const std::uint32_t frame_bytes = format_.nBlockAlign;
  for (;;) {
    GstBuffer* buffer = nullptr;
    std::uint64_t generation = 0;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] { return stopping_ || !pending_.empty(); });
      if (stopping_) return;
      WAVEHDR* header = pending_.front();
      generation = generation_;
      const std::uint32_t length = header->dwBufferLength / frame_bytes * frame_bytes;
      if (fed_bytes_ == 0) {
        // A header that comes after the device ran dry starts at "now", not in the past.
        const GstClockTime now = RunningTimeNow();
        if (retime_ || TimelineAt(timeline_frames_) + latency_ < now) Retime(now);
      }
      const std::uint32_t bytes = std::min(chunk_bytes_, length - fed_bytes_);
      if (bytes > 0) {
        buffer = gst_buffer_new_allocate(nullptr, bytes, nullptr);
        gst_buffer_fill(buffer, 0, header->lpData + fed_bytes_, bytes);
        const std::uint64_t frames = bytes / frame_bytes;
        GST_BUFFER_PTS(buffer) = TimelineAt(timeline_frames_);
        GST_BUFFER_DURATION(buffer) =
            TimelineAt(timeline_frames_ + frames) - TimelineAt(timeline_frames_);
        timeline_frames_ += frames;
        fed_bytes_ += bytes;
      }
      if (fed_bytes_ >= length) {
        // Whole header handed over: it is done once its last sample has been played.
        pending_.pop_front();
        playing_.push_back(header);
        fed_bytes_ = 0;
        const GstClockTime end = base_time_ + latency_ + TimelineAt(timeline_frames_);
        gst::ClockIdPtr wait(gst_clock_new_single_shot_id(clock_.get(), end));
        // The clock owns the note until the wait is done or unscheduled.
        auto note =
            std::make_unique<PlayedNote>(PlayedNote{shared_from_this(), header, generation});
        gst_clock_id_wait_async(
            wait.get(), &WaveOutStream::OnClockTime, note.release(),
            [](gpointer data) { std::unique_ptr<PlayedNote>(static_cast<PlayedNote*>(data)); });
        waits_.push_back(std::move(wait));
      }
    }
    if (buffer) {
      GST_BUFFER_OFFSET(buffer) = generation;  // lets the pad probe drop it after a reset
      gst_app_src_push_buffer(GST_APP_SRC(appsrc_), buffer);  // takes the buffer
    }
  }
}

GstPadProbeReturn WaveOutStream::DropStale(GstPad*, GstPadProbeInfo* info, gpointer userData) {
  auto* self = static_cast<WaveOutStream*>(userData);
  GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
  return buffer && GST_BUFFER_OFFSET(buffer) != self->live_generation_.load() ? GST_PAD_PROBE_DROP
                                                                              : GST_PAD_PROBE_OK;
}

gboolean WaveOutStream::OnClockTime(GstClock*, GstClockTime, GstClockID id, gpointer userData) {
  auto* note = static_cast<PlayedNote*>(userData);
  {
    std::lock_guard lock(note->stream->mutex_);
    auto& waits = note->stream->waits_;
    const auto found = std::find_if(waits.begin(), waits.end(),
                                    [id](const gst::ClockIdPtr& wait) { return wait.get() == id; });
    if (found != waits.end()) waits.erase(found);
  }
  note->stream->Played(note->header, note->generation);
  return TRUE;
}

void WaveOutStream::Played(WAVEHDR* header, std::uint64_t generation) {
  std::lock_guard lock(mutex_);
  if (closed_ || generation != generation_) return;
  const auto found = std::find(playing_.begin(), playing_.end(), header);
  if (found == playing_.end()) return;
  playing_.erase(found);
  Post(MM_WOM_DONE, header);
}

void WaveOutStream::Post(std::uint32_t message, WAVEHDR* header) {
  if (callback_) QCoreApplication::postEvent(callback_, new WaveOutEvent(message, id_, header));
}

void WaveOutStream::Reset() {
  if (!appsrc_) return;
  // No flush: a flush would make a file sink truncate what it has written. Samples already
  // handed to the pipeline are dropped at its entry instead; at most the chunk the sink
  // holds (about 10 ms) is still heard.
  std::vector<WAVEHDR*> returned;
  std::vector<gst::ClockIdPtr> waits;
  {
    std::lock_guard lock(mutex_);
    ++generation_;
    live_generation_.store(generation_);
    // Those handed to the device first come back first.
    returned.assign(playing_.begin(), playing_.end());
    returned.insert(returned.end(), pending_.begin(), pending_.end());
    pending_.clear();
    playing_.clear();
    fed_bytes_ = 0;
    retime_ = true;
    // What comes next starts from its own sample 0.
    timeline_origin_ = 0;
    timeline_frames_ = 0;
    waits.swap(waits_);
  }
  CancelWaits(waits);
  for (WAVEHDR* header : returned) Post(MM_WOM_DONE, header);
}

void WaveOutStream::Close() {
  std::vector<gst::ClockIdPtr> waits;
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    closed_ = true;
    stopping_ = true;
    // Nothing handed over is played any more: the device falls silent now, not after the
    // sink has drained (which can take seconds).
    ++generation_;
    live_generation_.store(generation_);
    waits.swap(waits_);
    wake_.notify_all();
  }
  CancelWaits(waits);
  if (opened_) Post(MM_WOM_CLOSE, nullptr);
  Releases().Add([stream = shared_from_this()] { stream->Release(); });
}

void WaveOutStream::WaitForReleases() {
  Releases().WaitIdle();
}

void WaveOutStream::Release() {
  std::vector<gst::ClockIdPtr> waits;
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    stopping_ = true;
    waits.swap(waits_);
    wake_.notify_all();
  }
  CancelWaits(waits);
  if (pipeline_) gst_element_set_state(pipeline_.get(), GST_STATE_NULL);  // unblocks any push
  if (feeder_.joinable()) feeder_.join();
  bus_.reset();
  clock_.reset();
  pipeline_.reset();
  appsrc_ = nullptr;
}

void WaveOutStream::InjectError(const QString& reason) {
  if (!pipeline_) return;
  const gst::ErrorPtr error(g_error_new_literal(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_WRITE,
                                                reason.toUtf8().constData()));
  gst_element_post_message(
      pipeline_.get(), gst_message_new_error(GST_OBJECT(pipeline_.get()), error.get(), nullptr));
}

}  // namespace wave
