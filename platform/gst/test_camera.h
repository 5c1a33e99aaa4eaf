#pragma once
// The picture source of the built-in test cameras: the scene of test_scene.h, in step with
// what the built-in sound output plays, with the frame number written on it, producing
// whatever format and size the element downstream asks for (raw or JPEG), as a real camera
// driver does. Brightness, contrast, hue and saturation are reachable through GstColorBalance
// on the element inside it. Its properties "exposure-ms", "delay-ms" and "jitter-ms" (see
// SceneSettings) start from TestSceneSettings(); the delay and jitter are read when it starts
// streaming.
//
// Like a webcam it has exposure, gain and white balance controls, read at each frame, so they
// act while it streams:
//   "exposure-ms" (double, ms): the exposure time; the scene is integrated over it. With
//       automatic exposure on it reads the time automatic exposure reached and ignores writes.
//   "exposure-auto" (boolean, FALSE): automatic exposure. It aims at the picture brightness of
//       the configured exposure (TestSceneSettings().exposureMs when streaming started) under
//       the scene light and gain, settling over a few frames, within 0.1 ms and the frame
//       interval.
//   "exposure-priority" (boolean, FALSE): automatic exposure may go beyond the frame interval
//       (up to 200 ms); the frames are then spaced by the exposure, the others dropped.
//   "configured-exposure-ms" (double, read only): that configured exposure.
//   "gain" (int 0..100, 0): brightness times TestCameraGainFactor(gain).
//   "white-balance-auto" (boolean, TRUE), "white-balance-temperature" (int 2800..6500 K, 4600):
//       the scene is grey and lit at 4600 K. A temperature set by hand other than that tints a
//       colour picture: red times kelvin / 4600, blue times 4600 / kelvin (a camera assuming a
//       warmer light turns the scene blue). Grey formats stay grey.
// The frame's brightness (background and scene, before the colour balance; the grey levels
// above black, see ScaleBrightness) is scaled by
// exposure / configured exposure * TestSceneLight() * gain factor, clipped at white; with
// nothing changed that is 1 and the frame is exactly as drawn.

#include <gst/gst.h>

namespace gst {

inline constexpr int kTestCameraMaxGain = 100;
inline constexpr int kTestCameraWarmestK = 2800;
inline constexpr int kTestCameraColdestK = 6500;
inline constexpr int kTestCameraNeutralK = 4600;

// The brightness scale of a gain: 1 + gain / 25 (5 at the top).
double TestCameraGainFactor(int gain);

// Whether the element is a test camera's source element.
bool IsTestCameraSource(GstElement* element);

// A new source element; `jpegByDefault` decides the format when nothing downstream says.
GstElement* MakeTestCameraSource(bool jpegByDefault, const char* name);

}  // namespace gst
