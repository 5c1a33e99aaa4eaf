#pragma once
// Each pixel's response at the tone's frequency, from every frame of a run: lock-in imaging
// with a free-running camera. A frame exposed around phase φ (its exposure's middle) over a
// fraction T of the tone's period sees I = offset + s (a cos φ + b sin φ), where the smear of
// the exposure, a box average of the sine, scales the response by s = sin(πT) / (πT). The
// three unknowns of each pixel are fitted by least squares over all frames; the phases need
// not be even, but at least three distinct ones are needed to tell them apart.
//
// The sums are kept per pixel (four doubles), so memory is bounded by the frame's size,
// never by the run's length. Pure arithmetic, no threads of its own: the caller feeds it from
// whichever thread takes the frames.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace analysis {

// The fitted response; phases in degrees, 0..360: the pixel is brightest at that phase of
// the tone. Sigmas are one standard deviation, from the scatter of each pixel's frames about
// its fit (NaN when three frames leave no freedom to estimate it).
struct LockInMaps {
  int width = 0;
  int height = 0;
  std::vector<float> amplitude;       // grey levels, corrected for the smear
  std::vector<float> phaseDeg;        // 0..360
  std::vector<float> offset;          // the mean level
  std::vector<float> amplitudeSigma;  // grey levels
  std::vector<float> phaseSigmaDeg;   // degrees; 180 where the amplitude is lost in noise
  std::size_t frames = 0;
  int distinctPhases = 0;
};

// Why a fit gives no maps.
enum class LockInRefusal {
  None,
  NoFrames,
  // Fewer than three distinct phases, or phases bunched so that sine and cosine cannot be told
  // apart (two phases with a little jitter, or a short run over a small arc).
  FewPhases,
  // Exposures over (about) whole periods of the tone average the response away.
  Smeared,
};

class LockIn {
 public:
  // Degrees a phase is rounded to when the distinct phases are counted.
  static constexpr int kPhaseBins = 360;
  // The least spread of the frames' phases a fit takes: the smaller over the larger variance
  // of (cos φ, sin φ) along their principal axes (1: even over the circle; 0: one line).
  static constexpr double kLeastSpread = 0.1;
  // The least response an exposure may keep (|sin(πT) / (πT)|) for its frames to count.
  static constexpr double kLeastSmear = 0.2;

  LockIn(int width, int height);

  // One grey frame of the size given (8-bit rows `stride` bytes apart), exposed around the
  // tone's phase `phaseDeg` for `exposurePeriods` of its period (0: an instant).
  // A frame of another size, whose phase is not a number, or whose exposure keeps less than
  // kLeastSmear of the response (counted as smeared) is refused (false).
  bool Add(const std::uint8_t* rows, int stride, int width, int height, double phaseDeg,
           double exposurePeriods);
  // The same for a 32-bit BGRx frame (as the camera delivers it), fitted on its luma
  // (BT.601 weights), so that no grey copy of the frame is made.
  bool AddBgrx(const std::uint8_t* rows, int stride, int width, int height, double phaseDeg,
               double exposurePeriods);

  std::size_t Frames() const { return frames_; }
  // Frames refused because their exposure kept too little of the response.
  std::size_t Smeared() const { return smeared_; }
  // Whole degrees among the frames' phases (smeared ones included).
  int DistinctPhases() const;
  // Why there are no maps (None: there are).
  LockInRefusal Refusal() const;
  // The maps; none when Refusal says why.
  std::optional<LockInMaps> Result() const;
  // Bytes held: the per-pixel sums.
  std::size_t RetainedBytes() const;

 private:
  // The frame's weights (1, s cos φ, s sin φ) into the fit's matrix; none for a refused frame
  // (one whose exposure averages the response away is counted as smeared).
  std::optional<std::array<double, 2>> Weigh(const std::uint8_t* rows, int stride, int width,
                                             int height, int bytesPerPixel, double phaseDeg,
                                             double exposurePeriods);
  template <class Grey>
  void Accumulate(const std::uint8_t* rows, int stride, std::array<double, 2> weights, Grey grey);

  int width_, height_;
  std::size_t frames_ = 0;
  std::size_t smeared_ = 0;
  // Per pixel: sum of I, I·s·cos φ, I·s·sin φ and I².
  std::vector<double> sum_i_, sum_ic_, sum_is_, sum_ii_;
  // The fit's matrix: sums of products of 1, s·cos φ and s·sin φ over the frames.
  double m_[3][3] = {};
  std::vector<bool> phases_seen_;
};

}  // namespace analysis
