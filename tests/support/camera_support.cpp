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

}  // namespace testing_support
