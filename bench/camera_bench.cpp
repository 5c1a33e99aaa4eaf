// CPU of the camera preview and the age of the latest frame, beside a bare appsink pipeline
// on the same test camera; then the preview while an AVI is recorded, uncompressed and in
// Motion JPEG, with the frames that did not reach the file.
// With "fps=60" the test cameras offer 60 frames a second only, and each of them (MJPEG and
// YUY2) runs at 1280 x 720: the preview showing every frame stretched over 640 x 480 (as the
// filter graph's video window shows them) beside a bare `source ! capsfilter ! [jpegdec] !
// videoconvert ! BGRx appsink`, then an AVI of each compression whose frames are counted in
// the file by the bench's own reading of its chunks, beside the frames the camera delivered.
//   Usage: bench_camera [seconds] [fps=60]   (default 20 s for each of the four runs; with
//   fps=60, 60 s for each of the four AVI runs and at most 20 s for each preview run)
// The AVI files go to a temporary folder and are deleted once counted; an uncompressed run
// that the disk has no room for is shortened, or skipped, with a note.
// Runs on the offscreen platform unless a display is named.

#include <gst/app/gstappsink.h>
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "bench/bench_support.h"
#include "platform/gst/camera_devices.h"
#include "platform/gst/camera_pipeline.h"
#include "platform/gst/camera_preview.h"
#include "platform/gst/video_recorder.h"
#include "platform/gst/virtual_devices.h"

namespace {

// A 640 x 480 preview of the pipeline, live: every frame stretched over it (the filter graph's
// video window) or one every `intervalMs` at the frame's own size (the capture window).
void ShowPreview(gst::CameraPreview& preview, gst::CameraPipeline& pipeline, int intervalMs,
                 bool stretch) {
  preview.resize(640, 480);
  preview.SetSource(&pipeline);
  preview.SetInterval(intervalMs);
  preview.SetStretch(stretch);
  preview.SetLive(true);
  preview.show();
}

// source ! capsfilter ! [jpegdec] ! videoconvert ! BGRx appsink, samples pulled and dropped:
// the camera pipeline's own work without its tee, queue, frame slot and preview.
double BareCpuPercent(const gst::CameraDevice& camera, const gst::CameraFormat& format,
                      int seconds) {
  gst::ElementPtr pipeline = gst::NewPipeline("bare");
  GstElement* source = gst_device_create_element(camera.device.get(), nullptr);
  GstElement* caps = gst_element_factory_make("capsfilter", nullptr);
  GstElement* decode = format.IsJpeg() ? gst_element_factory_make("jpegdec", nullptr) : nullptr;
  GstElement* convert = gst_element_factory_make("videoconvert", nullptr);
  GstElement* bgrx = gst_element_factory_make("capsfilter", nullptr);
  GstElement* sink = gst_element_factory_make("appsink", nullptr);
  gst::CapsPtr chosen(format.MakeCaps());
  gst::CapsPtr raw(gst_caps_from_string("video/x-raw,format=BGRx"));
  g_object_set(caps, "caps", chosen.get(), nullptr);
  g_object_set(bgrx, "caps", raw.get(), nullptr);
  g_object_set(sink, "max-buffers", 1u, "drop", TRUE, "sync", FALSE, nullptr);
  GstAppSinkCallbacks callbacks{};
  callbacks.new_sample = [](GstAppSink* s, gpointer) {
    gst::SamplePtr sample(gst_app_sink_pull_sample(s));
    return GST_FLOW_OK;
  };
  gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, nullptr, nullptr);
  gst_bin_add_many(GST_BIN(pipeline.get()), source, caps, convert, bgrx, sink, nullptr);
  if (decode) {
    gst_bin_add(GST_BIN(pipeline.get()), decode);
    gst_element_link_many(source, caps, decode, convert, bgrx, sink, nullptr);
  } else {
    gst_element_link_many(source, caps, convert, bgrx, sink, nullptr);
  }
  gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
  bench::RunEventsFor(1000);
  const double cpu0 = bench::CpuSeconds();
  bench::RunEventsFor(seconds * 1000);
  const double cpu = bench::CpuSeconds() - cpu0;
  gst_element_set_state(pipeline.get(), GST_STATE_NULL);
  return 100.0 * cpu / seconds;
}

struct PreviewFigures {
  double cpuPercent = 0;  // of one core, the whole process
  double arrivedPerSecond = 0;
  double shownPerSecond = 0;
  std::vector<double> arrivalAgeMs, captureAgeMs;  // of the latest frame when read
};

// The open camera with its preview for `seconds`, the latest frame's age read every 37 ms (not
// a multiple of a frame interval, so reads fall all over it).
PreviewFigures MeasurePreview(const gst::CameraPipeline& pipeline,
                              const gst::CameraPreview& preview, int seconds) {
  PreviewFigures figures;
  const std::uint64_t shown0 = preview.ShownCount();
  const std::uint64_t frames0 = pipeline.FrameCount();
  const double cpu0 = bench::CpuSeconds();
  bench::RunEventsFor(
      seconds * 1000,
      [&] {
        const gst::FramePtr frame = pipeline.LatestFrame();
        if (!frame) return;
        const auto now = static_cast<std::int64_t>(bench::NowMs() * 1e6);
        figures.arrivalAgeMs.push_back(static_cast<double>(now - frame->ArrivalNs()) / 1e6);
        figures.captureAgeMs.push_back(static_cast<double>(now - frame->CaptureNs()) / 1e6);
      },
      37);
  figures.cpuPercent = 100.0 * (bench::CpuSeconds() - cpu0) / seconds;
  figures.arrivedPerSecond = static_cast<double>(pipeline.FrameCount() - frames0) / seconds;
  figures.shownPerSecond = static_cast<double>(preview.ShownCount() - shown0) / seconds;
  return figures;
}

void PrintAges(const PreviewFigures& f, double intervalMs) {
  std::printf("  frames arrived %.1f/s, shown %.1f/s\n", f.arrivedPerSecond, f.shownPerSecond);
  if (f.captureAgeMs.empty()) return;
  std::printf(
      "  age of the latest frame when read, since arrival: median %.1f ms, p99 %.1f ms, "
      "max %.1f ms\n",
      bench::Percentile(f.arrivalAgeMs, 0.5), bench::Percentile(f.arrivalAgeMs, 0.99),
      bench::Percentile(f.arrivalAgeMs, 1.0));
  std::printf(
      "  age since capture: median %.1f ms, p99 %.1f ms (target <= one frame interval, "
      "%.1f ms)\n",
      bench::Percentile(f.captureAgeMs, 0.5), bench::Percentile(f.captureAgeMs, 0.99), intervalMs);
}

// The video frames of an AVI file, counted from its chunks alone: the '00dc' and '00db' chunks
// of every 'movi' list, in the first RIFF ('AVI ') and in any OpenDML extension ('AVIX') of a
// file past 1 GB. Neither the index nor GStreamer is asked: the count stands apart from what
// wrote the file. `complete` false: the chunks ran past the file's end (a truncated file) or the
// file is no RIFF.
struct AviCount {
  std::uint64_t frames = 0;
  bool complete = false;
};

bool WalkChunks(QFile& file, qint64 begin, qint64 end, bool inMovi, AviCount& count) {
  std::array<char, 12> head{};
  qint64 at = begin;
  while (at + 8 <= end) {
    if (!file.seek(at) || file.read(head.data(), 12) < 8) return false;
    const std::uint32_t size = static_cast<std::uint8_t>(head[4]) |
                               static_cast<std::uint32_t>(static_cast<std::uint8_t>(head[5])) << 8 |
                               static_cast<std::uint32_t>(static_cast<std::uint8_t>(head[6]))
                                   << 16 |
                               static_cast<std::uint32_t>(static_cast<std::uint8_t>(head[7])) << 24;
    const qint64 next = at + 8 + size + (size & 1);  // chunks are padded to an even size
    if (at + 8 + static_cast<qint64>(size) > end) return false;
    const bool list =
        std::memcmp(head.data(), "RIFF", 4) == 0 || std::memcmp(head.data(), "LIST", 4) == 0;
    if (list && size >= 4) {
      const bool movi = inMovi || std::memcmp(head.data() + 8, "movi", 4) == 0;
      if (!WalkChunks(file, at + 12, at + 8 + size, movi, count)) return false;
    } else if (inMovi && (std::memcmp(head.data(), "00dc", 4) == 0 ||
                          std::memcmp(head.data(), "00db", 4) == 0)) {
      ++count.frames;
    }
    at = next;
  }
  return true;
}

AviCount CountAviFrames(const QString& path) {
  AviCount count;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly) || file.peek(4) != "RIFF") return count;
  count.complete = WalkChunks(file, 0, file.size(), false, count);
  return count;
}

struct Recorded {
  QString name;
  int seconds = 0;
  double cpuPercent = 0;
  std::uint64_t delivered = 0;  // by the camera while the recording ran (its FrameCount)
  std::uint64_t in = 0, written = 0;
  std::optional<AviCount> inFile;  // by the bench's own reading of the file
  double megabytes = 0;
};

// The preview while the camera's tap records an AVI for `seconds`; the file is counted and
// deleted.
Recorded Record(gst::CameraPipeline& pipeline, const gst::RecordingSettings& settings,
                int seconds) {
  Recorded r;
  r.name = settings.motionJpeg ? QStringLiteral("Motion JPEG") : QStringLiteral("uncompressed");
  r.seconds = seconds;
  gst::VideoRecorder recorder;
  QString error;
  const std::uint64_t frames0 = pipeline.FrameCount();
  if (!recorder.Start(pipeline, settings, &error)) {
    std::fprintf(stderr, "recording did not start: %s\n", qPrintable(error));
    return r;
  }
  const double start = bench::CpuSeconds();
  bench::RunEventsFor(seconds * 1000);
  r.cpuPercent = 100.0 * (bench::CpuSeconds() - start) / seconds;
  recorder.Stop();
  r.delivered = pipeline.FrameCount() - frames0;
  // Frames still on their way reach the file while it finishes.
  QEventLoop finishing;
  QObject::connect(&recorder, &gst::VideoRecorder::Finished, &finishing, &QEventLoop::quit);
  if (recorder.Finishing()) finishing.exec();
  r.in = recorder.FramesIn();
  r.written = recorder.FramesWritten();
  r.inFile = CountAviFrames(settings.path);
  r.megabytes = static_cast<double>(QFile(settings.path).size()) / 1e6;
  QFile::remove(settings.path);
  return r;
}

void PrintRecorded(const Recorded& r, double fps) {
  const long long fileFrames = r.inFile ? static_cast<long long>(r.inFile->frames) : -1;
  std::printf(
      "  preview + %-12s AVI, %d s: CPU %.1f %% of one core; frames delivered by the camera %llu "
      "(%.0f expected at %g fps), taken by the recorder %llu, reached the muxer %llu, in the "
      "file %lld%s: %lld dropped (target 0); file %.0f MB, %.1f MB/s\n",
      qPrintable(r.name), r.seconds, r.cpuPercent, static_cast<unsigned long long>(r.delivered),
      fps * r.seconds, fps, static_cast<unsigned long long>(r.in),
      static_cast<unsigned long long>(r.written), fileFrames,
      r.inFile && !r.inFile->complete ? " (file cut short or unreadable)" : "",
      static_cast<long long>(r.in) - fileFrames, r.megabytes,
      r.seconds ? r.megabytes / r.seconds : 0.0);
}

const gst::CameraDevice* FindCamera(const std::vector<gst::CameraDevice>& cameras,
                                    const char* name) {
  for (const auto& c : cameras)
    if (c.name == QLatin1String(name)) return &c;
  return nullptr;
}

// The microseconds a frame the program asks of the recorder for this format, as the capture
// window works it out from the camera's rate.
std::int64_t MicroSecPerFrame(const gst::CameraFormat& format) {
  const long long interval = format.rates.empty() ? 0 : format.rates.front().MicroSecondsPerFrame();
  return interval > 0 ? interval : 33333;
}

// The seconds an uncompressed recording of `bytesPerSecond` may run with room left on the disk
// (1 GB kept free), at most `seconds`.
int SecondsTheDiskHolds(const QString& folder, double bytesPerSecond, int seconds) {
  const double room = static_cast<double>(QStorageInfo(folder).bytesAvailable()) - 1e9;
  return std::min(seconds, std::max(0, static_cast<int>(room / bytesPerSecond)));
}

// At 60 frames a second: each test camera at 1280 x 720, its preview beside the bare pipeline,
// then its AVIs.
int Run60(int seconds) {
  const int previewSeconds = std::min(seconds, 20);
  const std::vector<gst::CameraDevice> cameras = gst::ListCameras();
  QTemporaryDir folder;
  std::printf("test cameras at 60 fps, 1280 x 720: previews %d s, AVIs %d s each\n", previewSeconds,
              seconds);
  for (const char* name : {gst::kTestCameraMjpeg, gst::kTestCameraYuy2}) {
    const gst::CameraDevice* camera = FindCamera(cameras, name);
    const bool jpeg = std::strcmp(name, gst::kTestCameraMjpeg) == 0;
    const gst::CameraFormat* found = camera ? camera->Find(!jpeg, 1280, 720) : nullptr;
    if (!found) {
      std::printf("%s: no 1280 x 720\n", name);
      continue;
    }
    const gst::CameraFormat at60 = bench::AtRate(*found, 60);
    const gst::CameraFormat* format = &at60;
    const double fps = format->rates.empty() ? 0 : format->rates.front().PerSecond();
    std::printf("%s, %s at %g fps\n", name, qPrintable(format->Describe()), fps);
    std::fflush(stdout);
    const double bare = BareCpuPercent(*camera, *format, previewSeconds);
    gst::CameraPipeline pipeline;
    gst::CameraPreview preview;
    ShowPreview(preview, pipeline, 0, true);
    QString error;
    if (!pipeline.Open(*camera, *format, &error)) {
      std::printf("  the camera did not open: %s\n", qPrintable(error));
      continue;
    }
    bench::RunEventsFor(1000);
    const PreviewFigures shown = MeasurePreview(pipeline, preview, previewSeconds);
    std::printf(
        "  camera pipeline + preview (every frame, stretched over 640 x 480): CPU %.1f %% of one "
        "core beside the bare %s pipeline's %.1f %%: %.2f x (target <= 1.1 x)\n",
        shown.cpuPercent, jpeg ? "jpegdec" : "appsink", bare,
        bare > 0 ? shown.cpuPercent / bare : 0.0);
    PrintAges(shown, fps > 0 ? 1000.0 / fps : 0);
    std::fflush(stdout);
    for (const bool motionJpeg : {false, true}) {
      gst::RecordingSettings settings;
      settings.path = folder.filePath(QStringLiteral("recording.avi"));
      settings.motionJpeg = motionJpeg;
      settings.microSecPerFrame = MicroSecPerFrame(*format);
      int runSeconds = seconds;
      if (!motionJpeg) {
        // Full frames of at most 2 bytes a pixel (YUY2; I420 from a JPEG camera is less).
        const double bytesPerSecond = 2.0 * format->width * format->height * fps;
        runSeconds = SecondsTheDiskHolds(folder.path(), bytesPerSecond, seconds);
        if (runSeconds < 5) {
          std::printf("  uncompressed AVI skipped: the disk has no room for 5 s at %.0f MB/s\n",
                      bytesPerSecond / 1e6);
          continue;
        }
        if (runSeconds < seconds)
          std::printf("  uncompressed AVI shortened to %d s: the disk has no room for more\n",
                      runSeconds);
      }
      PrintRecorded(Record(pipeline, settings, runSeconds), fps);
      std::fflush(stdout);
    }
    pipeline.Close();
  }
  return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  bench::UseOffscreenWithoutDisplay();
  QApplication application(argc, argv);
  const bool at60 = bench::FpsArgument(argc, argv) == 60;
  const int seconds = bench::SecondsArgument(argc, argv, at60 ? 60 : 20, 1);
  bench::RegisterTestCameras(at60 ? 60 : 0);
  if (at60) {
    const int status = Run60(seconds);
    gst::ClearVirtualCameras();
    return status;
  }
  const std::vector<gst::CameraDevice> cameras = gst::ListCameras();
  const gst::CameraDevice* camera = FindCamera(cameras, gst::kTestCameraYuy2);
  if (!camera) {
    std::fprintf(stderr, "no test camera\n");
    return 1;
  }
  const gst::CameraFormat* found = camera->Find(true, 640, 480);
  if (!found) {
    std::fprintf(stderr, "no 640 x 480\n");
    return 1;
  }
  const gst::CameraFormat format = bench::AtRate(*found, 30);
  const double fps = format.rates.empty() ? 30 : format.rates.front().PerSecond();

  const double bare = BareCpuPercent(*camera, format, seconds);

  gst::CameraPipeline pipeline;
  gst::CameraPreview preview;
  ShowPreview(preview, pipeline, 33, false);
  QString error;
  if (!pipeline.Open(*camera, format, &error)) {
    std::fprintf(stderr, "camera did not open: %s\n", qPrintable(error));
    return 1;
  }
  bench::RunEventsFor(1000);
  const PreviewFigures shown = MeasurePreview(pipeline, preview, seconds);

  // The same preview while an AVI is recorded from the camera's tap, in each compression.
  QTemporaryDir folder;
  std::vector<Recorded> recorded;
  for (const bool motionJpeg : {false, true}) {
    gst::RecordingSettings settings;
    settings.path = folder.filePath(QStringLiteral("recording.avi"));
    settings.motionJpeg = motionJpeg;
    recorded.push_back(Record(pipeline, settings, seconds));
  }
  pipeline.Close();

  std::printf("test camera YUY2 640 x 480 at %g fps, %d s each\n", fps, seconds);
  std::printf("  bare appsink pipeline:            CPU %.1f %% of one core\n", bare);
  std::printf("  camera pipeline + preview (33 ms): CPU %.1f %% of one core  (target <= 8 %%)\n",
              shown.cpuPercent);
  std::printf("  so the preview's own share:        %.1f %% of one core\n",
              shown.cpuPercent - bare);
  PrintAges(shown, 1000.0 / fps);
  for (const Recorded& r : recorded) PrintRecorded(r, fps);
  gst::ClearVirtualCameras();
  return 0;
}
