// CPU of the camera preview and the age of the latest frame, beside a bare appsink pipeline
// on the same test camera; then the preview while an AVI is recorded, uncompressed and in
// Motion JPEG, with the frames that did not reach the file.
//   Usage: bench_camera [seconds]   (default 20 for each of the four runs)
// Runs on the offscreen platform unless a display is named.

#include <gst/app/gstappsink.h>
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "bench/bench_support.h"
#include "platform/gst/camera_devices.h"
#include "platform/gst/camera_pipeline.h"
#include "platform/gst/camera_preview.h"
#include "platform/gst/video_recorder.h"
#include "platform/gst/virtual_devices.h"

namespace {

// source ! capsfilter ! videoconvert ! BGRx appsink, samples pulled and dropped.
double BareCpuPercent(const gst::CameraDevice& camera, const gst::CameraFormat& format,
                      int seconds) {
  gst::ElementPtr pipeline = gst::NewPipeline("bare");
  GstElement* source = gst_device_create_element(camera.device.get(), nullptr);
  GstElement* caps = gst_element_factory_make("capsfilter", nullptr);
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
  gst_element_link_many(source, caps, convert, bgrx, sink, nullptr);
  gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
  bench::RunEventsFor(1000);
  const double cpu0 = bench::CpuSeconds();
  bench::RunEventsFor(seconds * 1000);
  const double cpu = bench::CpuSeconds() - cpu0;
  gst_element_set_state(pipeline.get(), GST_STATE_NULL);
  return 100.0 * cpu / seconds;
}

}  // namespace

int main(int argc, char* argv[]) {
  bench::UseOffscreenWithoutDisplay();
  QApplication application(argc, argv);
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  gst::RegisterVirtualCameras();
  const std::vector<gst::CameraDevice> cameras = gst::ListCameras();
  const gst::CameraDevice* camera = nullptr;
  for (const auto& c : cameras)
    if (c.name == QLatin1String(gst::kTestCameraYuy2)) camera = &c;
  if (!camera) {
    std::fprintf(stderr, "no test camera\n");
    return 1;
  }
  const gst::CameraFormat* format = camera->Find(true, 640, 480);

  const double bare = BareCpuPercent(*camera, *format, seconds);

  gst::CameraPipeline pipeline;
  gst::CameraPreview preview;
  preview.resize(640, 480);
  preview.SetSource(&pipeline);
  preview.SetInterval(33);
  preview.SetLive(true);
  preview.show();
  QString error;
  if (!pipeline.Open(*camera, *format, &error)) {
    std::fprintf(stderr, "camera did not open: %s\n", qPrintable(error));
    return 1;
  }
  bench::RunEventsFor(1000);
  std::vector<double> arrival_age_ms, capture_age_ms;
  const std::uint64_t shown0 = preview.ShownCount();
  const std::uint64_t frames0 = pipeline.FrameCount();
  const double cpu0 = bench::CpuSeconds();
  bench::RunEventsFor(
      seconds * 1000,
      [&] {
        const gst::FramePtr frame = pipeline.LatestFrame();
        if (!frame) return;
        const auto now = static_cast<std::int64_t>(bench::NowMs() * 1e6);
        arrival_age_ms.push_back((now - frame->ArrivalNs()) / 1e6);
        capture_age_ms.push_back((now - frame->CaptureNs()) / 1e6);
      },
      37);  // not a multiple of the frame interval, so reads fall all over it
  const double cpu = bench::CpuSeconds() - cpu0;
  const double frames = double(pipeline.FrameCount() - frames0);
  const double shown = double(preview.ShownCount() - shown0);

  // The same preview while an AVI is recorded from the camera's tap, in each compression.
  QTemporaryDir folder;
  struct Recorded {
    const char* name;
    double cpu;
    std::uint64_t in, written;
  };
  std::vector<Recorded> recorded;
  for (bool motion_jpeg : {false, true}) {
    gst::VideoRecorder recorder;
    gst::RecordingSettings settings;
    settings.path =
        folder.filePath(motion_jpeg ? QStringLiteral("mjpeg.avi") : QStringLiteral("raw.avi"));
    settings.motionJpeg = motion_jpeg;
    if (!recorder.Start(pipeline, settings, &error)) {
      std::fprintf(stderr, "recording did not start: %s\n", qPrintable(error));
      return 1;
    }
    const double start = bench::CpuSeconds();
    bench::RunEventsFor(seconds * 1000);
    const double used = bench::CpuSeconds() - start;
    recorder.Stop();
    // Frames still on their way reach the file while it finishes.
    QEventLoop finishing;
    QObject::connect(&recorder, &gst::VideoRecorder::Finished, &finishing, &QEventLoop::quit);
    if (recorder.Finishing()) finishing.exec();
    recorded.push_back({motion_jpeg ? "Motion JPEG" : "uncompressed", 100.0 * used / seconds,
                        recorder.FramesIn(), recorder.FramesWritten()});
  }
  pipeline.Close();

  std::printf("test camera YUY2 640 x 480 at 30 fps, %d s each\n", seconds);
  std::printf("  bare appsink pipeline:            CPU %.1f %% of one core\n", bare);
  std::printf("  camera pipeline + preview (33 ms): CPU %.1f %% of one core  (target <= 8 %%)\n",
              100.0 * cpu / seconds);
  std::printf("  so the preview's own share:        %.1f %% of one core\n",
              100.0 * cpu / seconds - bare);
  std::printf("  frames arrived %.1f/s, shown %.1f/s\n", frames / seconds, shown / seconds);
  std::printf(
      "  age of the latest frame when read, since arrival: median %.1f ms, p99 %.1f ms, "
      "max %.1f ms\n",
      bench::Percentile(arrival_age_ms, 0.5), bench::Percentile(arrival_age_ms, 0.99),
      bench::Percentile(arrival_age_ms, 1.0));
  std::printf(
      "  age since capture: median %.1f ms, p99 %.1f ms (target <= one frame interval, "
      "33.3 ms)\n",
      bench::Percentile(capture_age_ms, 0.5), bench::Percentile(capture_age_ms, 0.99));
  for (const Recorded& r : recorded) {
    std::printf(
        "  preview + %-12s recording:  CPU %.1f %% of one core; frames from the camera "
        "%llu, in the file %llu (%llu dropped; %d expected at 30 fps)\n",
        r.name, r.cpu, static_cast<unsigned long long>(r.in),
        static_cast<unsigned long long>(r.written),
        static_cast<unsigned long long>(r.in - std::min(r.in, r.written)), 30 * seconds);
  }
  gst::ClearVirtualCameras();
  return 0;
}
