#include "platform/gst/image_avi.h"

#include <fcntl.h>
#include <gst/app/gstappsrc.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <string>

#include "platform/gst/gst_util.h"
#include "platform/gst/logging.h"

namespace gst {

namespace {

// Encoding a picture takes milliseconds; the wait allows for a slow disk and a busy machine.
constexpr auto kBaseWait = std::chrono::seconds(10);
constexpr auto kWaitPerPicture = std::chrono::milliseconds(100);
constexpr int kJpegQuality = 90;

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

// The hidden file the muxer writes beside the video's place, removed unless it was named.
class Temporary {
 public:
  Temporary() = default;
  ~Temporary() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  Temporary(const Temporary&) = delete;
  Temporary& operator=(const Temporary&) = delete;

  // A new empty file in the folder of `target` (the rename stays on one file system), with a
  // plain new file's mode; the system's reason when it cannot be made.
  bool Create(const QString& target, QString* why) {
    const QFileInfo info(target);
    folder_ = QFile::encodeName(info.absolutePath()).toStdString();
    static std::atomic<std::uint64_t> serial{0};
    const std::string base =
        folder_ + "/." + QFile::encodeName(info.fileName()).toStdString() + ".part";
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::string candidate =
          base + std::to_string(::getpid()) + "-" + std::to_string(serial++);
      const Descriptor made(
          ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
      if (made.Get() >= 0) {
        path_ = candidate;
        return true;
      }
      if (errno != EEXIST) break;
    }
    *why = qt_error_string(errno);
    return false;
  }

  const std::string& Path() const { return path_; }

  // Brings the data to the disk, names the file `target` and brings the folder's entry there.
  bool Name(const QString& target, QString* why) {
    const std::string named = QFile::encodeName(target).toStdString();
    {
      const Descriptor file(::open(path_.c_str(), O_WRONLY | O_CLOEXEC));
      if (file.Get() < 0 || ::fdatasync(file.Get()) != 0 ||
          ::rename(path_.c_str(), named.c_str()) != 0) {
        *why = qt_error_string(errno);
        return false;
      }
    }
    path_.clear();
    const Descriptor folder(::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.Get() < 0 || ::fsync(folder.Get()) != 0) {
      *why = qt_error_string(errno);
      return false;
    }
    return true;
  }

 private:
  std::string path_;
  std::string folder_;
};

// What the source's streaming thread reads when it wants the next picture. The caller's thread
// does not touch it until the pipeline is stopped, which joins that thread.
struct Feed {
  const std::vector<QImage>* pictures = nullptr;
  std::size_t next = 0;
  int rateNum = 0;
  int rateDen = 1;
  bool ended = false;
};

void NeedData(GstAppSrc* source, guint /*length*/, gpointer data) {
  auto* feed = static_cast<Feed*>(data);
  if (feed->ended) return;
  if (feed->next == feed->pictures->size()) {
    feed->ended = true;
    gst_app_src_end_of_stream(source);
    return;
  }
  // RGBx rows of 4 bytes a pixel are GStreamer's default stride as well as QImage's.
  const QImage picture = (*feed->pictures)[feed->next].convertToFormat(QImage::Format_RGBX8888);
  const auto row = static_cast<gsize>(picture.width()) * 4;
  BufferPtr buffer(gst_buffer_new_allocate(nullptr, row * picture.height(), nullptr));
  GstMapInfo map;
  if (!buffer || !gst_buffer_map(buffer.get(), &map, GST_MAP_WRITE)) return;
  for (int y = 0; y < picture.height(); ++y)
    std::memcpy(map.data + row * y, picture.constScanLine(y), row);
  gst_buffer_unmap(buffer.get(), &map);
  const auto at = [&](std::size_t index) {
    return gst_util_uint64_scale(index, GST_SECOND * static_cast<guint64>(feed->rateDen),
                                 static_cast<guint64>(feed->rateNum));
  };
  GST_BUFFER_PTS(buffer.get()) = at(feed->next);
  GST_BUFFER_DURATION(buffer.get()) = at(feed->next + 1) - at(feed->next);
  ++feed->next;
  gst_app_src_push_buffer(source, buffer.release());  // takes the buffer
}

// Stops the pipeline when it leaves, on every path: the file is closed, and the streaming
// thread no longer reads the feed.
class Stopper {
 public:
  explicit Stopper(GstElement* pipeline) : pipeline_(pipeline) {}
  ~Stopper() { Stop(); }
  Stopper(const Stopper&) = delete;
  Stopper& operator=(const Stopper&) = delete;
  void Stop() {
    if (pipeline_) gst_element_set_state(pipeline_, GST_STATE_NULL);
    pipeline_ = nullptr;
  }

 private:
  GstElement* pipeline_;
};

QString BusError(GstMessage* message) {
  GError* raw = nullptr;
  gst_message_parse_error(message, &raw, nullptr);
  const ErrorPtr owned(raw);
  return ErrorText(owned.get());
}

}  // namespace

bool WriteImageAvi(const QString& path, const std::vector<QImage>& pictures, double framesPerSecond,
                   QString* error) {
  auto fail = [&](const QString& why) {
    const QString text =
        QStringLiteral("не удаётся записать %1: %2").arg(QDir::toNativeSeparators(path), why);
    qCWarning(lcGst) << text;
    if (error) *error = text;
    return false;
  };
  if (pictures.empty()) return fail(QStringLiteral("нет кадров"));
  if (!std::isfinite(framesPerSecond) || framesPerSecond <= 0)
    return fail(QStringLiteral("частота кадров не задана"));
  const QSize size = pictures.front().size();
  for (std::size_t i = 0; i < pictures.size(); ++i) {
    if (pictures[i].isNull()) return fail(QStringLiteral("кадр %1 пуст").arg(i + 1));
    if (pictures[i].size() != size)
      return fail(QStringLiteral("кадр %1 размером %2 × %3, а первый %4 × %5")
                      .arg(i + 1)
                      .arg(pictures[i].width())
                      .arg(pictures[i].height())
                      .arg(size.width())
                      .arg(size.height()));
  }

  Feed feed;
  feed.pictures = &pictures;
  gst_util_double_to_fraction(framesPerSecond, &feed.rateNum, &feed.rateDen);
  if (feed.rateNum <= 0 || feed.rateDen <= 0)
    return fail(QStringLiteral("частота кадров не задана"));

  ElementMaker maker;
  ElementPtr source = maker.Make("appsrc");
  ElementPtr convert = maker.Make("videoconvert");
  ElementPtr encoder = maker.Make("jpegenc");
  ElementPtr mux = maker.Make("avimux");
  ElementPtr sink = maker.Make("filesink");
  if (!maker.Missing().isEmpty()) return fail(maker.Missing());

  Temporary temporary;
  QString why;
  if (!temporary.Create(path, &why)) return fail(why);

  const CapsPtr caps(gst_caps_new_simple(
      "video/x-raw", "format", G_TYPE_STRING, "RGBx", "width", G_TYPE_INT, size.width(), "height",
      G_TYPE_INT, size.height(), "framerate", GST_TYPE_FRACTION, feed.rateNum, feed.rateDen,
      "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr));
  // Two pictures queued at most: the source asks for each when there is room.
  const guint64 frameBytes = static_cast<guint64>(size.width()) * 4 * size.height();
  g_object_set(source.get(), "caps", caps.get(), "format", GST_FORMAT_TIME, "max-bytes",
               2 * frameBytes, nullptr);
  GstAppSrcCallbacks callbacks{};
  callbacks.need_data = NeedData;
  gst_app_src_set_callbacks(GST_APP_SRC(source.get()), &callbacks, &feed, nullptr);
  g_object_set(encoder.get(), "quality", kJpegQuality, nullptr);
  g_object_set(sink.get(), "location", temporary.Path().c_str(), nullptr);

  const ElementPtr pipeline = NewPipeline("image-avi");
  GstElement* bin = pipeline.get();
  GstElement* const parts[] = {AddToBin(bin, std::move(source)), AddToBin(bin, std::move(convert)),
                               AddToBin(bin, std::move(encoder)), AddToBin(bin, std::move(mux)),
                               AddToBin(bin, std::move(sink))};
  for (std::size_t i = 0; i < std::size(parts); ++i)
    if (!parts[i] || (i > 0 && !gst_element_link(parts[i - 1], parts[i])))
      return fail(QStringLiteral("конвейер видео не собран"));

  const BusPtr bus(gst_element_get_bus(bin));
  Stopper stopper(bin);
  if (gst_element_set_state(bin, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
    const MessagePtr message(gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR));
    return fail(message ? BusError(message.get()) : QStringLiteral("конвейер видео не запущен"));
  }
  const auto wait = kBaseWait + kWaitPerPicture * static_cast<std::int64_t>(pictures.size());
  const MessagePtr message(gst_bus_timed_pop_filtered(
      bus.get(), std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count(),
      static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
  if (!message) return fail(QStringLiteral("видео не записано за отведённое время"));
  if (GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_ERROR) return fail(BusError(message.get()));
  stopper.Stop();  // the muxer's index is in the file, which the sink closes now
  if (!temporary.Name(path, &why)) return fail(why);
  return true;
}

}  // namespace gst
