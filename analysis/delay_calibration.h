#pragma once
// The camera's delay fitted from frames of a light that follows the tone (an LED on the sound
// card's output, or the experiment's own light, possibly inverted). A frame's timestamp is its
// arrival, a delay d after its exposure of length e ended; the light's fundamental then sits
// at the exposure's middle, tau = d + e/2 before the timestamp:
//   brightness ~ a + A sin(phi_t - 360 f tau) + harmonics,
// with phi_t the tone's phase (degrees) at the timestamp and A < 0 for an inverted light.
// tau is known only modulo a tone period, so the calibration plays two tones one after the
// other (segments 0 and 1); together they unfold tau and tell the polarity.
//
// Memory is bounded by the picture size: the picture is cut into blocks, and per block and
// segment only the sums of a least-squares fit of the block's mean luma against
// [1, sin h phi, cos h phi], h = 1..3, are kept.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace analysis {

// A BGRx picture (4 bytes a pixel: blue, green, red, unused) the caller owns.
struct FrameView {
  const std::uint8_t* bgrx = nullptr;
  int width = 0;
  int height = 0;
  int stride = 0;  // bytes from one row to the next
};

struct PixelRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

// One tone's fit over the chosen region.
struct SegmentFit {
  double toneHz = 0;
  std::size_t frames = 0;
  double amplitude = 0;      // of the fundamental, grey levels
  double phaseDeg = 0;       // brightness ~ a + amplitude sin(phi_t + phaseDeg)
  double phaseSigmaDeg = 0;  // one sigma
  double lagModuloMs = 0;    // tau modulo the tone's period, for the polarity found
  double lagSigmaMs = 0;
};

struct CalibrationResult {
  enum class Failure {
    None,
    TooFewFrames,  // a segment has fewer than 30 frames
    Aliased,       // the frames' phases do not cover the tone's period (tone and frame rate)
    NoResponse,    // no part of the picture follows the tone
    Inconsistent,  // the segments agree on no delay with either polarity
  };
  Failure failure = Failure::None;
  double delayMs = 0;            // d = tau - e/2
  double uncertaintyMs = 0;      // one sigma
  double exposureAssumedMs = 0;  // e used above; 0 when unknown (then d is tau)
  double lagMs = 0;              // tau
  bool inverted = false;         // the light is dark while the tone is positive
  PixelRect region;              // bounding box of the blocks used, frame pixels
  int blocks = 0;
  std::size_t ignoredFrames = 0;  // of another size than the first, or empty
  std::vector<SegmentFit> segments;
};

// The phase of one segment's fundamental as the fit gives it.
struct SegmentPhase {
  double toneHz = 0;
  double phaseDeg = 0;
  double sigmaDeg = 0;
};

struct UnfoldedLag {
  bool consistent = false;
  bool inverted = false;
  double lagMs = 0;  // tau, between kMinLagMs and kMaxLagMs
  double sigmaMs = 0;
};

// The lags searched: a little below zero for noise, up to a second of delay plus half a long
// exposure.
inline constexpr double kMinLagMs = -20;
inline constexpr double kMaxLagMs = 1100;

// tau from the segments' phases: the one lag, with one polarity, that every segment agrees
// with within a few sigma (plus a millisecond for what the fit does not see). Not consistent
// when none or more than one does. One segment alone gives tau modulo its period and
// assumes a light that is not inverted.
UnfoldedLag UnfoldLag(std::span<const SegmentPhase> segments);

// The two tones (Hz, each a whole number of quarter-hertz: N/4 with the generator's even
// denominator) for a camera of this frame rate (the nearest of 12, 15, 20, 24, 25, 30, 50
// and 60 frames/s); see the definition for why.
std::array<double, 2> CalibrationTones(double framesPerSecond);

class DelayCalibrator {
 public:
  // One tone per segment (one or more); throws std::invalid_argument for none or one <= 0.
  explicit DelayCalibrator(const std::vector<double>& toneHz);

  // One frame of `segment` (throws std::out_of_range for another); `tonePhaseDeg` is the
  // tone's phase at the frame's timestamp. The first frame sets the picture size; a frame
  // of another size is ignored and counted.
  void Add(int segment, const FrameView& frame, double tonePhaseDeg);

  // The fit of the frames so far; frames may still be added afterwards. `exposureMs` is the
  // exposure time when known.
  CalibrationResult Finish(std::optional<double> exposureMs) const;

  // What the calibrator holds: bounded by the picture size, whatever the number of frames.
  std::size_t RetainedBytes() const;

 private:
  static constexpr int kTerms = 7;  // 1, then sin and cos of the three harmonics
  struct Segment {
    double hz = 0;
    std::size_t frames = 0;
    std::array<double, kTerms * kTerms> normal{};  // sum of x x^T, shared by all blocks
    std::vector<double> sums;  // per block: sum of x y (kTerms), then sum of y^2
  };

  void Setup(int width, int height);
  void BlockMeans(const FrameView& frame);

  std::vector<Segment> segments_;
  int width_ = 0;
  int height_ = 0;
  int blocks_x_ = 0;
  int blocks_y_ = 0;
  std::vector<float> offsets_;  // each block's first mean: keeps the sums of squares small
  std::vector<float> means_;    // the current frame's block means
  std::vector<float> samples_;  // samples a block's mean averages
  std::vector<std::uint32_t> row_sums_;
  std::size_t ignored_ = 0;
};

}  // namespace analysis
