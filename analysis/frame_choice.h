#pragma once
// Which camera frame stands for a recording instant. A free-running camera's frames fall where
// they fall: the one nearest an instant in time can be half a frame away from it, a sizeable
// part of a fast tone's period. The frames between one instant and the next often include one
// whose exposure phase is much nearer the wanted one; choosing by phase takes that frame.
//
// Times are milliseconds since T0 on the run's time base, phases degrees of the tone.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace analysis {

// An angle in degrees wrapped to -180 < result <= 180; NaN stays NaN.
double WrapDegrees(double deg);

struct FrameCandidate {
  std::uint64_t number = 0;
  double exposureMidMs = 0;
  double exposurePhaseDeg = 0;
};

struct FrameChoice {
  std::size_t index = 0;     // into the candidates
  double phaseErrorDeg = 0;  // the frame's exposure phase less the ideal, -180 < error <= 180
};

// Among the candidates whose exposure middle lies in [windowStartMs, windowEndMs), the one
// whose exposure phase is nearest idealPhaseDeg; of equally near ones the earlier (by exposure
// middle, then by index). None when the window holds no frame (a camera that stalled).
// Candidates with a time or phase that is not a finite number are passed over.
std::optional<FrameChoice> ChooseByPhase(std::span<const FrameCandidate> frames,
                                         double windowStartMs, double windowEndMs,
                                         double idealPhaseDeg);

// What a camera gives against a tone, for both rules: |phase error| of the picture of each
// instant, taken as the frame nearest the instant in time or by ChooseByPhase over the
// frames from the instant to the next one.
struct PhaseForecast {
  int distinctPhases = 0;      // phases the frames take; 0: they drift over every phase
  double phaseSpacingDeg = 0;  // 360 / distinctPhases; 0 when they drift
  double nearestMedianDeg = 0, nearestWorstDeg = 0;
  double phaseMedianDeg = 0, phaseWorstDeg = 0;  // over the instants whose window holds a frame
};

// Simulated: the tone's phase is 0 at T0 and instant k is at k * pictureIntervalS; frame j
// starts at offset + j / frameRate and its exposure middle is exposureMs / 2 later, the
// camera's start offset taking evenly spaced values over a frame period. The errors are NaN
// when a rate or the interval is not a positive finite number.
PhaseForecast ForecastPhaseErrors(double frameRate, double toneHz, double pictureIntervalS,
                                  double exposureMs = 0);

struct Suggestion {
  double frameRate = 0;
  double pictureIntervalS = 0;
  PhaseForecast forecast;
};

// A set-up that chooses by phase clearly better than the asked one (worst error at most 60 %
// of the asked one's): one of `offeredRates` at the asked interval, or the asked rate with
// another interval of a whole number of tone periods, from half to twice the asked one. The
// best of them (least worst error, then least median; rates before intervals, intervals
// nearer the asked one first); none when nothing is clearly better.
std::optional<Suggestion> SuggestBetter(double frameRate, double toneHz, double pictureIntervalS,
                                        std::span<const double> offeredRates);

}  // namespace analysis
