#include "platform/gst/test_camera_controls.h"

#include "platform/gst/camera_controls.h"

namespace gst {

std::unique_ptr<CameraControls> TestCameraControlsOf(GstElement*) {
  return nullptr;
}

}  // namespace gst
