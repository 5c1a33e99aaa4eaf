#pragma once
// A synthetic camera looking at a lamp that follows the tone (brightness max(0, sin) of the
// tone, averaged over each frame's exposure; or its inverse) and, apart from it, fringes that
// follow the tone at other phases; between them a band that follows it 120 degrees ahead of
// the lamp, one block from the lamp's edge. Frames end their exposures at a steady rate; a frame's
// timestamp is the exposure's end plus the camera's delay and a random jitter. Shared by the
// calibration's tests and its bench.

#include <cstdint>
#include <random>
#include <vector>

#include "analysis/delay_calibration.h"

namespace analysis_testing {

struct LampScene {
  int width = 160;
  int height = 120;
  double framesPerSecond = 30;
  double delayMs = 0;
  double exposureMs = 10;
  double jitterMs = 1;  // standard deviation of the timestamps
  double noise = 3;     // grey levels, standard deviation per pixel
  double flicker = 0;   // grey levels, standard deviation of the whole picture's level
  bool inverted = false;
  bool followsTone = true;  // off: the lamp and the fringes stand still
  bool fringes = true;      // the fringes and the band
  int rowPadding = 0;       // bytes after each row's pixels
  std::uint32_t seed = 1;
};

class LampCamera {
 public:
  explicit LampCamera(const LampScene& scene);

  // The next frame while the tone `hz` plays: the picture and the tone's phase at the
  // frame's timestamp. A new tone starts at the current time, at an arbitrary phase.
  struct Frame {
    analysis::FrameView view;
    double tonePhaseDeg = 0;
  };
  void StartTone(double hz);
  Frame Next();

  // `seconds` of frames of tone `hz` handed to the calibrator as `segment`.
  void Feed(analysis::DelayCalibrator& calibrator, int segment, double hz, double seconds);

  const analysis::PixelRect& Lamp() const { return lamp_; }
  const analysis::PixelRect& Fringes() const { return fringes_; }
  const analysis::PixelRect& Band() const { return band_; }

 private:
  LampScene scene_;
  analysis::PixelRect lamp_;
  analysis::PixelRect fringes_;
  analysis::PixelRect band_;
  std::mt19937 random_;
  int stride_ = 0;
  std::vector<std::uint8_t> pixels_;
  std::vector<float> noise_;
  double hz_ = 1;
  double tone_start_s_ = 0;
  double tone_phase_deg_ = 0;
  std::int64_t frame_ = 0;
};

}  // namespace analysis_testing
