#pragma once
// The picture source of the built-in test cameras: the scene of test_scene.h, in step with
// what the built-in sound output plays, with the frame number written on it, producing
// whatever format and size the element downstream asks for (raw or JPEG), as a real camera
// driver does. Brightness, contrast, hue and saturation are reachable through GstColorBalance
// on the element inside it. Its properties "exposure-ms", "delay-ms" and "jitter-ms" (see
// SceneSettings) start from TestSceneSettings() and are read when it starts streaming.

#include <gst/gst.h>

namespace gst {

// A new source element; `jpegByDefault` decides the format when nothing downstream says.
GstElement* MakeTestCameraSource(bool jpegByDefault, const char* name);

}  // namespace gst
