#include "platform/gst/video_recorder.h"

#include <gst/app/gstappsrc.h>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/gst/logging.h"
#include "platform/gst/releaser.h"

namespace gst {

namespace {

// How long a stopped recording may take to bring its end of stream into the file.
constexpr auto kEndOfStreamWait = std::chrono::seconds(5);

QString IndexMissing() {
  return QStringLiteral("не записан индекс видеофайла");
}

// Finished recordings are taken down here: after a failure the streaming thread may still be
// stuck in the sink, and the window must not wait for it.
Releaser& Releases() {
  static Releaser releaser;
  return releaser;
}

// How a recording's stream ended, as its bus told it on the posting thread: for the waits that
// cannot run the event loop (the recorder's end, a start into a file still finishing).
struct StreamEnd {
  std::mutex mutex;
  std::condition_variable changed;
  bool ended = false;
  bool complete = false;  // the end of stream reached the file
  QString error;
};

// Says why a recording did not start, in the log with what GStreamer said (`cause`) if it did.
bool FailStart(const QString& reason, QString* error, const QString& cause = {}) {
  if (cause.isEmpty())
    qCWarning(lcGst) << "recording did not start:" << reason;
  else
    qCWarning(lcGst) << "recording did not start:" << reason << "-" << cause;
  if (error) *error = reason;
  return false;
}

// The recording's elements: the tap gives raw frames (an MJPEG camera's are decoded once, by
// the camera's pipeline), and the file gets the rate 1 000 000 / interval, kept exact as a
// fraction.
QString RecordingDescription(const RecordingSettings& settings) {
  const int rate_num = 1000000;
  const int rate_den = static_cast<int>(settings.microSecPerFrame);
  return QStringLiteral(
             "appsrc name=rec_source format=time ! videorate name=rec_rate ! "
             "video/x-raw,framerate=%1/%2 ! videoconvert name=rec_convert ! %3 "
             "avimux name=rec_mux ! filesink name=rec_file async=false")
      .arg(rate_num)
      .arg(rate_den)
      .arg(settings.motionJpeg
               ? QStringLiteral("jpegenc name=rec_encoder quality=%1 !").arg(settings.quality)
               : QStringLiteral("video/x-raw,format={YUY2,I420,BGR,BGRx,UYVY} !"));
}

}  // namespace

struct VideoRecorder::Counters {
  std::atomic<std::uint64_t> in{0};
  std::atomic<std::uint64_t> written{0};
};

struct VideoRecorder::Session {
  Session() = default;
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  // A pipeline still held here has no stream going any more (it failed, ended or never
  // started), so taking it down is quick.
  ~Session() {
    bus.reset();
    if (pipeline) gst_element_set_state(pipeline.get(), GST_STATE_NULL);
  }

  // Until the stream ended or the finish's time is up, without the event loop; true if ended.
  bool AwaitEnd() {
    std::unique_lock lock(end->mutex);
    return end->changed.wait_until(lock, deadline, [&] { return end->ended; });
  }
  // Empty when the file is complete; else why it is not.
  QString Failure() {
    std::lock_guard lock(end->mutex);
    if (end->complete) return {};
    return end->ended ? IndexMissing() + QStringLiteral(": ") + end->error : IndexMissing();
  }

  std::uint64_t serial = 0;
  QString path;  // absolute
  ElementPtr pipeline;
  GstElement* appsrc = nullptr;  // owned by the pipeline
  std::unique_ptr<BusWatch> bus;
  std::shared_ptr<Counters> counters = std::make_shared<Counters>();
  std::shared_ptr<StreamEnd> end = std::make_shared<StreamEnd>();
  GstClockTime first_pts = GST_CLOCK_TIME_NONE;    // touched by the tap's thread only
  std::chrono::steady_clock::time_point deadline;  // of the finish, set by the stop
};

VideoRecorder::VideoRecorder(QObject* parent) : QObject(parent) {
  EnsureInitialized();
}

VideoRecorder::~VideoRecorder() {
  Stop();
  // The program is ending: each file gets the rest of its time to be finished here.
  for (const std::unique_ptr<Session>& session : finishing_) {
    const bool ended = session->AwaitEnd();
    if (!session->Failure().isEmpty())
      qCWarning(lcGst) << "the recording of" << session->path
                       << "was not finished; its index may be missing";
    session->bus.reset();
    // A stream still going may be stuck in its sink: it is taken down behind, as after a
    // finish that took too long. An ended one goes with its session.
    if (!ended)
      Releases().Add([pipeline = Share(session->pipeline.release())] {
        gst_element_set_state(pipeline.get(), GST_STATE_NULL);
      });
  }
  finishing_.clear();
}

GstElement* VideoRecorder::Pipeline() const {
  return recording_ ? recording_->pipeline.get() : nullptr;
}

std::uint64_t VideoRecorder::FramesIn() const {
  return counters_ ? counters_->in.load() : 0;
}

std::uint64_t VideoRecorder::FramesWritten() const {
  return counters_ ? counters_->written.load() : 0;
}

bool VideoRecorder::Start(CameraPipeline& camera, const RecordingSettings& settings,
                          QString* error) {
  Stop();
  if (!camera.IsOpen()) return FailStart(QStringLiteral("камера не подключена"), error);
  if (settings.microSecPerFrame <= 0)
    return FailStart(QStringLiteral("не задан интервал между кадрами"), error);
  const QString path = QFileInfo(settings.path).absoluteFilePath();
  AwaitFinishOf(path);

  GError* raw_error = nullptr;
  GstElement* bin = gst_parse_bin_from_description(
      RecordingDescription(settings).toUtf8().constData(), FALSE, &raw_error);
  ErrorPtr parse_error(raw_error);
  if (!bin) return FailStart(ErrorText(parse_error.get()), error);
  std::unique_ptr<Session> session = MakeSession(bin, path, settings);
  WatchSession(*session);
  // The file is opened here: a missing folder fails now, not later.
  if (gst_element_set_state(session->pipeline.get(), GST_STATE_PLAYING) ==
      GST_STATE_CHANGE_FAILURE) {
    QString cause;
    {
      std::lock_guard lock(session->end->mutex);
      cause = session->end->error;
    }
    return FailStart(QStringLiteral("не удаётся записать %1").arg(settings.path), error, cause);
  }
  counters_ = session->counters;
  recording_ = std::move(session);
  camera_ = &camera;
  TapCamera(camera);
  return true;
}

void VideoRecorder::AwaitFinishOf(const QString& path) {
  // Two sinks must never write one file: a recording of the same name still finishing ends
  // first, within what is left of its time.
  std::vector<std::uint64_t> same_file;
  for (const std::unique_ptr<Session>& finishing : finishing_)
    if (finishing->path == path) same_file.push_back(finishing->serial);
  for (const std::uint64_t serial : same_file) {
    if (Session* finishing = FindFinishing(serial)) {
      finishing->AwaitEnd();
      EndFinish(finishing, finishing->Failure());
    }
  }
}

std::unique_ptr<VideoRecorder::Session> VideoRecorder::MakeSession(
    GstElement* bin, const QString& path, const RecordingSettings& settings) {
  auto session = std::make_unique<Session>();
  session->serial = next_serial_++;
  session->path = path;
  session->pipeline = NewPipeline("recording");
  gst_bin_add(GST_BIN(session->pipeline.get()), bin);
  // The bin keeps the source.
  session->appsrc = ElementPtr(gst_bin_get_by_name(GST_BIN(bin), "rec_source")).get();
  const ElementPtr file(gst_bin_get_by_name(GST_BIN(bin), "rec_file"));
  g_object_set(file.get(), "location", QFile::encodeName(settings.path).constData(), nullptr);
  // Frames reaching the muxer are the frames of the file. The count belongs to this recording
  // alone: frames of one still finishing must not add to the next one's.
  const ElementPtr mux(gst_bin_get_by_name(GST_BIN(bin), "rec_mux"));
  const PadPtr written(gst_element_get_static_pad(mux.get(), "video_0"));
  if (written) {
    using Count = std::shared_ptr<Counters>;
    gst_pad_add_probe(
        written.get(), GST_PAD_PROBE_TYPE_BUFFER,
        [](GstPad*, GstPadProbeInfo*, gpointer data) {
          ++(*static_cast<Count*>(data))->written;
          return GST_PAD_PROBE_OK;
        },
        std::make_unique<Count>(session->counters).release(),
        [](gpointer data) { const std::unique_ptr<Count> owned(static_cast<Count*>(data)); });
  }
  // A recording never holds more than a second of frames in memory.
  g_object_set(session->appsrc, "max-buffers", guint64{30}, "block", FALSE, nullptr);
  gst_util_set_object_arg(G_OBJECT(session->appsrc), "leaky-type", "downstream");
  return session;
}

void VideoRecorder::WatchSession(Session& session) {
  session.bus = std::make_unique<BusWatch>(
      session.pipeline.get(),
      [this, serial = session.serial](const BusNotice& notice) { OnNotice(serial, notice); },
      [end = session.end](GstMessage* message) {
        const GstMessageType type = GST_MESSAGE_TYPE(message);
        if (type != GST_MESSAGE_EOS && type != GST_MESSAGE_ERROR) return;
        QString text;
        if (type == GST_MESSAGE_ERROR) {
          GError* raw = nullptr;
          gst_message_parse_error(message, &raw, nullptr);
          const ErrorPtr owned(raw);
          text = ErrorText(owned.get());
        }
        std::lock_guard lock(end->mutex);
        if (end->ended) return;
        end->ended = true;
        end->complete = type == GST_MESSAGE_EOS;
        end->error = text;
        end->changed.notify_all();
      });
}

void VideoRecorder::TapCamera(CameraPipeline& camera) {
  Session* tapped = recording_.get();  // outlives the tap: the stop removes the tap first
  camera.SetTap([tapped](GstSample* sample) {
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    if (!buffer) return;
    if (tapped->counters->in++ == 0)
      gst_app_src_set_caps(GST_APP_SRC(tapped->appsrc), gst_sample_get_caps(sample));
    // The file's time starts with its first frame.
    GstBuffer* copy = gst_buffer_copy(buffer);
    if (GST_BUFFER_PTS_IS_VALID(buffer)) {
      if (!GST_CLOCK_TIME_IS_VALID(tapped->first_pts)) tapped->first_pts = GST_BUFFER_PTS(buffer);
      GST_BUFFER_PTS(copy) = GST_BUFFER_PTS(buffer) - tapped->first_pts;
      GST_BUFFER_DTS(copy) = GST_CLOCK_TIME_NONE;
    }
    gst_app_src_push_buffer(GST_APP_SRC(tapped->appsrc), copy);  // takes the copy
  });
}

void VideoRecorder::Stop() {
  if (!recording_) return;
  // The tap is removed under the camera's lock: no frame follows the end of stream.
  if (camera_) camera_->SetTap({});
  camera_ = nullptr;
  Session* session = recording_.get();
  session->deadline = std::chrono::steady_clock::now() + kEndOfStreamWait;
  finishing_.push_back(std::move(recording_));
  // A coarse timer may fire 5 % early: the limit is the one the destruction waits for.
  QTimer::singleShot(kEndOfStreamWait, Qt::PreciseTimer, this, [this, serial = session->serial] {
    Session* late = FindFinishing(serial);
    if (!late) return;
    // The end of stream may have reached the file just now, its notice still on its way to
    // this thread: the bus's own word on the posting thread decides.
    const QString failure = late->Failure();
    if (!failure.isEmpty())
      qCWarning(lcGst) << "the recording of" << late->path << "did not finish in time";
    EndFinish(late, failure);
  });
  // The muxer writes its index when the end of stream reaches it; the bus says when the file
  // has it.
  gst_app_src_end_of_stream(GST_APP_SRC(session->appsrc));
}

void VideoRecorder::OnNotice(std::uint64_t serial, const BusNotice& notice) {
  if (recording_ && recording_->serial == serial) {
    if (notice.kind != BusNotice::Error) return;
    qCWarning(lcGst) << "recording failed:" << notice.source << notice.text << notice.debug;
    ReleaseRecording();
    emit Failed(notice.text);
    return;
  }
  Session* session = FindFinishing(serial);
  if (!session) return;
  if (notice.kind == BusNotice::EndOfStream) {
    EndFinish(session, {});
  } else if (notice.kind == BusNotice::Error) {
    qCWarning(lcGst) << "the recording of" << session->path
                     << "failed while finishing:" << notice.source << notice.text << notice.debug;
    EndFinish(session, IndexMissing() + QStringLiteral(": ") + notice.text);
  }
}

VideoRecorder::Session* VideoRecorder::FindFinishing(std::uint64_t serial) const {
  for (const std::unique_ptr<Session>& session : finishing_)
    if (session->serial == serial) return session.get();
  return nullptr;
}

void VideoRecorder::EndFinish(Session* session, const QString& failure) {
  const auto found =
      std::find_if(finishing_.begin(), finishing_.end(),
                   [&](const std::unique_ptr<Session>& s) { return s.get() == session; });
  if (found == finishing_.end()) return;
  const std::unique_ptr<Session> ended = std::move(*found);
  finishing_.erase(found);
  ended->bus.reset();  // nothing more of it reaches the recorder
  // Queued, so that a caller in the middle of something (a start clearing old failure texts)
  // is done before the report; posted before the release's, so that it precedes Finished().
  if (!failure.isEmpty())
    QMetaObject::invokeMethod(
        this, [this, failure] { emit FinishFailed(failure); }, Qt::QueuedConnection);
  ++releasing_;
  Releases().Add([pipeline = Share(ended->pipeline.release()),
                  recorder = QPointer<VideoRecorder>(this)]() mutable {
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    pipeline.reset();
    if (QCoreApplication* application = QCoreApplication::instance())
      QMetaObject::invokeMethod(
          application,
          [recorder] {
            if (recorder) recorder->OnReleased();
          },
          Qt::QueuedConnection);
  });
}

void WaitForVideoReleases() {
  Releases().WaitIdle();
}

void VideoRecorder::OnReleased() {
  if (releasing_ > 0) --releasing_;
  if (!Finishing()) emit Finished();
}

void VideoRecorder::ReleaseRecording() {
  if (camera_) camera_->SetTap({});
  camera_ = nullptr;
  recording_.reset();  // its stream failed: the pipeline is taken down at once
}

}  // namespace gst
