#pragma once
// The picture controls of a built-in test camera, under the ids and names a V4L2 webcam gives
// them, so that everything that steers a real camera's controls steers these the same way.

#include <gst/gst.h>

#include <memory>

namespace gst {

class CameraControls;

// The controls of a test camera's source element (or of a bin holding it); null when the
// element is no test camera.
std::unique_ptr<CameraControls> TestCameraControlsOf(GstElement* source);

}  // namespace gst
