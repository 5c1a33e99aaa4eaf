#include "tests/support/camera_support.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include "platform/gst/virtual_devices.h"

namespace testing_support {

VirtualCameras::VirtualCameras() {
  gst::RegisterVirtualCameras();
}

VirtualCameras::~VirtualCameras() {
  gst::ClearVirtualCameras();
}

const gst::CameraDevice* FindCamera(const std::vector<gst::CameraDevice>& cameras,
                                    const char* name) {
  for (const gst::CameraDevice& camera : cameras)
    if (camera.name == QLatin1String(name)) return &camera;
  return nullptr;
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
  QElapsedTimer timer;
  timer.start();
  while (!condition()) {
    if (timer.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(2);
  }
  return true;
}

void RunEventsFor(int ms) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
}

gst::FramePtr SyntheticFrame(const QImage& image, std::uint64_t number, std::int64_t captureNs) {
  const QImage rgb32 = image.convertToFormat(QImage::Format_RGB32);
  const auto bytes = static_cast<gsize>(rgb32.sizeInBytes());
  gst::BufferPtr buffer(gst_buffer_new_allocate(nullptr, bytes, nullptr));
  gst_buffer_fill(buffer.get(), 0, rgb32.constBits(), bytes);
  gst::CapsPtr caps(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx", "width",
                                        G_TYPE_INT, rgb32.width(), "height", G_TYPE_INT,
                                        rgb32.height(), nullptr));
  gst::SamplePtr sample(gst_sample_new(buffer.get(), caps.get(), nullptr, nullptr));
  return std::make_shared<const gst::CameraFrame>(std::move(sample), rgb32.width(), rgb32.height(),
                                                  static_cast<int>(rgb32.bytesPerLine()), number,
                                                  captureNs, captureNs);
}

CameraStall::CameraStall(gst::CameraPipeline& camera) {
  pad_ = camera.Source() ? gst_element_get_static_pad(camera.Source(), "src") : nullptr;
  if (!pad_) return;
  probe_ = gst_pad_add_probe(
      pad_, GST_PAD_PROBE_TYPE_BUFFER,
      [](GstPad*, GstPadProbeInfo*, gpointer) { return GST_PAD_PROBE_DROP; }, nullptr, nullptr);
}

CameraStall::~CameraStall() {
  if (!pad_) return;
  gst_pad_remove_probe(pad_, probe_);
  gst_object_unref(pad_);
}

double Luminance(const QImage& image) {
  const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
  double sum = 0;
  for (int y = 0; y < grey.height(); ++y) {
    const uchar* line = grey.constScanLine(y);
    for (int x = 0; x < grey.width(); ++x) sum += line[x];
  }
  return sum / (grey.width() * grey.height());
}

}  // namespace testing_support
