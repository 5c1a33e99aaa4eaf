#include "platform/gst/video_recorder.h"

#include <gst/app/gstappsrc.h>

#include <QFile>
#include <QLoggingCategory>
#include <chrono>

namespace gst {

Q_DECLARE_LOGGING_CATEGORY(lcCamera)

namespace {

constexpr auto kEndOfStreamWait = std::chrono::seconds(5);

}  // namespace

VideoRecorder::VideoRecorder(QObject* parent) : QObject(parent) {
  EnsureInitialized();
}

VideoRecorder::~VideoRecorder() {
  Stop();
}

bool VideoRecorder::Start(CameraPipeline& camera, const RecordingSettings& settings,
                          QString* error) {
  Stop();
  auto fail = [&](const QString& reason) {
    qCWarning(lcCamera) << "recording did not start:" << reason;
    Release();
    if (error) *error = reason;
    return false;
  };
  if (!camera.IsOpen()) return fail(QStringLiteral("камера не подключена"));
  if (settings.microSecPerFrame <= 0)
    return fail(QStringLiteral("не задан интервал между кадрами"));
  const bool jpeg_source = camera.Format().IsJpeg();
  // The frame rate the file gets: 1 000 000 / interval, kept exact as a fraction.
  const int rate_num = 1000000;
  const int rate_den = static_cast<int>(settings.microSecPerFrame);
  const QString description =
      QStringLiteral(
          "appsrc name=rec_source format=time ! %1 videorate name=rec_rate ! "
          "video/x-raw,framerate=%2/%3 ! videoconvert name=rec_convert ! %4 "
          "avimux name=rec_mux ! filesink name=rec_file async=false")
          .arg(jpeg_source ? QStringLiteral("jpegdec name=rec_decoder !") : QString())
          .arg(rate_num)
          .arg(rate_den)
          .arg(settings.motionJpeg
                   ? QStringLiteral("jpegenc name=rec_encoder quality=%1 !").arg(settings.quality)
                   : QStringLiteral("video/x-raw,format={YUY2,I420,BGR,BGRx,UYVY} !"));
  GError* raw_error = nullptr;
  GstElement* bin =
      gst_parse_bin_from_description(description.toUtf8().constData(), FALSE, &raw_error);
  ErrorPtr parse_error(raw_error);
  if (!bin) return fail(ErrorText(parse_error.get()));
  pipeline_ = NewPipeline("recording");
  gst_bin_add(GST_BIN(pipeline_.get()), bin);
  appsrc_ = ElementPtr(gst_bin_get_by_name(GST_BIN(bin), "rec_source")).get();  // the bin keeps it
  const ElementPtr file(gst_bin_get_by_name(GST_BIN(bin), "rec_file"));
  g_object_set(file.get(), "location", QFile::encodeName(settings.path).constData(), nullptr);
  // Frames reaching the muxer are the frames of the file.
  const ElementPtr mux(gst_bin_get_by_name(GST_BIN(bin), "rec_mux"));
  const PadPtr written(gst_element_get_static_pad(mux.get(), "video_0"));
  if (written) {
    gst_pad_add_probe(
        written.get(), GST_PAD_PROBE_TYPE_BUFFER,
        [](GstPad*, GstPadProbeInfo*, gpointer data) {
          ++static_cast<VideoRecorder*>(data)->frames_written_;
          return GST_PAD_PROBE_OK;
        },
        this, nullptr);
  }
  // A recording never holds more than a second of frames in memory.
  g_object_set(appsrc_, "max-buffers", guint64{30}, "block", FALSE, nullptr);
  gst_util_set_object_arg(G_OBJECT(appsrc_), "leaky-type", "downstream");
  {
    std::lock_guard lock(mutex_);
    eos_ = false;
  }
  frames_in_ = 0;
  frames_written_ = 0;
  first_pts_ = GST_CLOCK_TIME_NONE;
  bus_ = std::make_unique<BusWatch>(
      pipeline_.get(),
      [this](const BusNotice& notice) {
        if (notice.kind != BusNotice::Error || !pipeline_) return;
        qCWarning(lcCamera) << "recording failed:" << notice.source << notice.text << notice.debug;
        Release();
        emit Failed(notice.text);
      },
      [this](GstMessage* message) {
        if (GST_MESSAGE_TYPE(message) != GST_MESSAGE_EOS) return;
        std::lock_guard lock(mutex_);
        eos_ = true;
        eos_seen_.notify_all();
      });
  // The file is opened here: a missing folder fails now, not later.
  if (gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
    QString reason = QStringLiteral("не удаётся записать %1").arg(settings.path);
    return fail(reason);
  }
  camera_ = &camera;
  GstElement* source = appsrc_;
  camera.SetTap([this, source](GstSample* sample) {
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    if (!buffer) return;
    if (frames_in_++ == 0) gst_app_src_set_caps(GST_APP_SRC(source), gst_sample_get_caps(sample));
    // The file's time starts with its first frame.
    GstBuffer* copy = gst_buffer_copy(buffer);
    if (GST_BUFFER_PTS_IS_VALID(buffer)) {
      if (!GST_CLOCK_TIME_IS_VALID(first_pts_)) first_pts_ = GST_BUFFER_PTS(buffer);
      GST_BUFFER_PTS(copy) = GST_BUFFER_PTS(buffer) - first_pts_;
      GST_BUFFER_DTS(copy) = GST_CLOCK_TIME_NONE;
    }
    gst_app_src_push_buffer(GST_APP_SRC(source), copy);  // takes the copy
  });
  return true;
}

void VideoRecorder::Stop() {
  if (!pipeline_) return;
  if (camera_) camera_->SetTap({});
  camera_ = nullptr;
  gst_app_src_end_of_stream(GST_APP_SRC(appsrc_));
  {
    // The muxer writes its index at the end of the stream: wait until the file sink has it.
    std::unique_lock lock(mutex_);
    if (!eos_seen_.wait_for(lock, kEndOfStreamWait, [&] { return eos_; }))
      qCWarning(lcCamera) << "the recording did not finish in time; its index may be missing";
  }
  Release();
}

void VideoRecorder::Release() {
  if (camera_) camera_->SetTap({});
  camera_ = nullptr;
  if (!pipeline_) return;
  gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
  bus_.reset();
  pipeline_.reset();
  appsrc_ = nullptr;
}

}  // namespace gst
