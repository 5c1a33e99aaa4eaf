// The filter-graph frame grab on the YUY2 test camera at 640 x 480: GetCurrentImage (count
// and copy), CreatePicture of the packed bitmap, the time from Pause to the paused state, and
// the age of the frame at the grab.   Usage: bench_graph [grabs]   (default 200)

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "bench/bench_support.h"
#include "imaging/direct_show_dib.h"
#include "platform/graph/graph.h"
#include "platform/graph/video_devices.h"
#include "platform/gst/virtual_devices.h"

namespace {

void Print(const char* what, const std::vector<double>& values) {
  std::printf("  %-34s median %7.3f ms  p99 %7.3f ms  max %7.3f ms\n", what,
              bench::Percentile(values, 0.5), bench::Percentile(values, 0.99),
              bench::Percentile(values, 1.0));
}

}  // namespace

int main(int argc, char* argv[]) {
  bench::UseOffscreenWithoutDisplay();
  QApplication application(argc, argv);
  const int grabs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
  gst::RegisterVirtualCameras();
  const auto devices =
      graph::VideoDeviceEnumerator().Devices(QString::fromLatin1(graph::kVideoInputDeviceCategory));
  std::shared_ptr<graph::CaptureDevice> device;
  for (std::int32_t i = 0; i < devices->DeviceCount(); ++i)
    if (devices->DeviceItem(i)->DeviceName() == QLatin1String(gst::kTestCameraYuy2))
      device = devices->DeviceItem(i);
  auto g = std::make_shared<graph::FilgraphManager>();
  auto filter = device->AddToGraph(*g);
  filter->Pins().front()->Render();
  g->Run();
  bench::RunEventsFor(1000);

  std::vector<double> pause_ms, image_ms, picture_ms, age_ms, run_ms;
  imaging::DirectShowDIB dib;
  for (int i = 0; i < grabs; ++i) {
    bench::RunEventsFor(40 + i % 23);  // grabs fall anywhere in the frame interval
    double t = bench::NowMs();
    g->Pause();
    std::int32_t state = graph::State_Running;
    do g->GetState(64, &state);
    while (state != graph::State_Paused && state != graph::State_Stopped);
    pause_ms.push_back(bench::NowMs() - t);
    const gst::FramePtr frame = g->Camera()->LatestFrame();
    age_ms.push_back(bench::NowMs() - frame->ArrivalNs() / 1e6);
    t = bench::NowMs();
    std::int32_t size = 0;
    g->GetCurrentImage(&size, nullptr);
    forms::LongArray image;
    image.Elements.resize(size / 4);
    g->GetCurrentImage(&size, image.Elements.data());
    image_ms.push_back(bench::NowMs() - t);
    t = bench::NowMs();
    g->Run();
    run_ms.push_back(bench::NowMs() - t);
    t = bench::NowMs();
    const auto picture = dib.CreatePicture(image);
    picture_ms.push_back(bench::NowMs() - t);
    if (!picture) {
      std::fprintf(stderr, "conversion failed: %s\n", qPrintable(dib.LastDescription));
      return 1;
    }
  }
  std::printf("filter-graph grab, test camera YUY2 640 x 480 at 30 fps, %d grabs\n", grabs);
  Print("Pause to paused state", pause_ms);
  Print("GetCurrentImage (count + copy)", image_ms);
  Print("Run again", run_ms);
  Print("CreatePicture of the bitmap", picture_ms);
  Print("frame age at the grab (arrival)", age_ms);
  g.reset();
  gst::ClearVirtualCameras();
  return 0;
}
