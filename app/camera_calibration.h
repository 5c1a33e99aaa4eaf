#pragma once
// The camera's delay measured: the camera looks at a light that follows the tone (an LED on
// the sound output, or the experiment's own light) while the tone plays at two frequencies,
// half the time each; every frame is analysed off the window's thread against the tone's phase
// at its timestamp, and the delay found is stored for the camera, its format and exposure.

#include <QString>
#include <optional>

#include "platform/gst/camera_delay.h"

namespace app {

class Form1;

struct CalibrationOutcome {
  bool stored = false;
  gst::CameraSetup setup;
  std::optional<gst::CameraDelay> delay;  // what was measured (stored when `stored`)
  int frames = 0;                         // frames analysed
  // What the operator is told, in Russian: the delay with its uncertainty and the exposure
  // it assumed, or why there is none.
  QString message;
};

// Works the window's generator and camera through their controls, as an operator would: the
// camera must be on. The window's tone settings are put back afterwards. `seconds` is the
// whole calibration (at least 6). Runs the event loop; the tone's start and stop are the
// window's own, so their failures show as they always do.
CalibrationOutcome CalibrateCamera(Form1& form, int seconds);

// The message of a delay: "Задержка камеры 40,2 ± 0,3 мс …" in the given locale's numbers.
QString DelayMessage(const gst::CameraSetup& setup, const gst::CameraDelay& delay);

}  // namespace app
