#pragma once
// The built-in test cameras (virtual_devices.h): the formats and rates each offers and its
// device, whose element is a test camera source (test_camera.h).

#include <gst/gst.h>

namespace gst {

enum class VirtualCameraKind { Yuy2, Mjpeg, MjpegOnly };

// A new device for a test camera of this kind, listed under "Video/Source" as `name`; the
// caller holds its one reference.
GstDevice* NewVirtualCamera(const char* name, VirtualCameraKind kind);

}  // namespace gst
