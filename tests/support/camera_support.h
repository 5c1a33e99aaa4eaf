#pragma once
// Helpers of the camera tests: the test cameras for the lifetime of an object, finding a
// camera by name, and waiting with the event loop running.

#include <QImage>
#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/gst/camera_devices.h"
#include "platform/gst/camera_pipeline.h"

namespace testing_support {

class VirtualCameras {
 public:
  VirtualCameras();
  ~VirtualCameras();
  VirtualCameras(const VirtualCameras&) = delete;
  VirtualCameras& operator=(const VirtualCameras&) = delete;
};

const gst::CameraDevice* FindCamera(const std::vector<gst::CameraDevice>& cameras,
                                    const char* name);

// Runs the event loop until the condition holds or the time is up; true when it held.
bool WaitFor(const std::function<bool()>& condition, int timeoutMs);

// A frame as a camera pipeline delivers it (BGRx rows in a GStreamer sample), made of an
// image: for code that takes frames without a camera.
gst::FramePtr SyntheticFrame(const QImage& image, std::uint64_t number, std::int64_t captureNs);

// Runs the event loop for this long.
void RunEventsFor(int ms);

// Mean luminance of a picture, 0..255.
double Luminance(const QImage& image);

// A camera that stops delivering without an error, for the lifetime of an object: its source
// goes on, but no frame of it passes on into the pipeline.
class CameraStall {
 public:
  explicit CameraStall(gst::CameraPipeline& camera);
  ~CameraStall();
  CameraStall(const CameraStall&) = delete;
  CameraStall& operator=(const CameraStall&) = delete;

 private:
  GstPad* pad_ = nullptr;
  gulong probe_ = 0;
};

}  // namespace testing_support
