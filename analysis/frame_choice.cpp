#include "analysis/frame_choice.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace analysis {

namespace {

// Errors this close are equal: phases computed from times differ in the last bits.
constexpr double kTieDeg = 1e-9;

// The simulation's size: start offsets spread over a frame period, and enough instants that
// the slow drift of nearly commensurate rates shows, within a budget of frames looked at
// (a few milliseconds) so that a suggestion can try dozens of set-ups before a run.
constexpr int kOffsets = 64;
constexpr int kMinOffsets = 4;
constexpr int kMinInstants = 8;
constexpr int kMaxInstants = 512;
constexpr double kFrameBudget = 1 << 18;
// Windows of hours: their first frames stand for them, so that nothing runs away.
constexpr double kMaxWindowFrames = 1 << 20;

// Rates are commensurate when f / F is p / q within this, q at most kMaxPhases.
constexpr int kMaxPhases = 1000;
constexpr double kCommensurateTolerance = 1e-9;

// A set-up is worth naming when its worst error is at most this part of the asked one's.
constexpr double kClearlyBetter = 0.6;
constexpr int kMaxIntervalsTried = 32;

bool Positive(double value) {
  return std::isfinite(value) && value > 0;
}

double Fraction(double cycles) {
  return cycles - std::floor(cycles);
}

// Distance in degrees between two phases given as fractions of a cycle.
double CycleDistanceDeg(double fromCycles, double toCycles) {
  const double x = Fraction(fromCycles - toCycles);
  return 360 * std::min(x, 1 - x);
}

int DistinctPhases(double frameRate, double toneHz) {
  const double ratio = toneHz / frameRate;
  for (int q = 1; q <= kMaxPhases; ++q) {
    const double p = std::round(ratio * q);
    if (std::abs(p / q - ratio) <= kCommensurateTolerance * ratio) return q;
  }
  return 0;
}

double Median(std::vector<double>& values) {
  if (values.empty()) return std::numeric_limits<double>::quiet_NaN();
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  if (values.size() % 2 != 0) return *middle;
  return (*middle + *std::max_element(values.begin(), middle)) / 2;
}

double Worst(const std::vector<double>& values) {
  if (values.empty()) return std::numeric_limits<double>::quiet_NaN();
  return *std::max_element(values.begin(), values.end());
}

bool Better(const PhaseForecast& a, const PhaseForecast& b) {
  if (a.phaseWorstDeg < b.phaseWorstDeg - kTieDeg) return true;
  if (a.phaseWorstDeg > b.phaseWorstDeg + kTieDeg) return false;
  return a.phaseMedianDeg < b.phaseMedianDeg - kTieDeg;
}

}  // namespace

double WrapDegrees(double deg) {
  const double wrapped = std::fmod(deg, 360.0);  // -360 < wrapped < 360
  if (wrapped > 180) return wrapped - 360;
  if (wrapped <= -180) return wrapped + 360;
  return wrapped;
}

std::optional<FrameChoice> ChooseByPhase(std::span<const FrameCandidate> frames,
                                         double windowStartMs, double windowEndMs,
                                         double idealPhaseDeg) {
  std::optional<FrameChoice> best;
  double bestMs = 0;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const FrameCandidate& frame = frames[i];
    if (!(frame.exposureMidMs >= windowStartMs && frame.exposureMidMs < windowEndMs)) continue;
    const double error = WrapDegrees(frame.exposurePhaseDeg - idealPhaseDeg);
    if (!std::isfinite(error)) continue;
    if (best) {
      const double distance = std::abs(error);
      const double bestDistance = std::abs(best->phaseErrorDeg);
      if (distance > bestDistance + kTieDeg) continue;
      if (distance >= bestDistance - kTieDeg && frame.exposureMidMs >= bestMs) continue;
    }
    best = FrameChoice{i, error};
    bestMs = frame.exposureMidMs;
  }
  return best;
}

PhaseForecast ForecastPhaseErrors(double frameRate, double toneHz, double pictureIntervalS,
                                  double exposureMs) {
  PhaseForecast forecast;
  if (!Positive(frameRate) || !Positive(toneHz) || !Positive(pictureIntervalS) ||
      !std::isfinite(exposureMs)) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    forecast.nearestMedianDeg = forecast.nearestWorstDeg = nan;
    forecast.phaseMedianDeg = forecast.phaseWorstDeg = nan;
    return forecast;
  }
  forecast.distinctPhases = DistinctPhases(frameRate, toneHz);
  if (forecast.distinctPhases > 0) forecast.phaseSpacingDeg = 360.0 / forecast.distinctPhases;

  const double framesPerWindow = pictureIntervalS * frameRate + 1;
  int offsets = kOffsets;
  auto instants = static_cast<int>(kFrameBudget / (offsets * framesPerWindow));
  if (instants < kMinInstants) {
    // Long windows: fewer offsets rather than too few instants.
    offsets =
        std::max(kMinOffsets, static_cast<int>(kFrameBudget / (kMinInstants * framesPerWindow)));
    instants = static_cast<int>(kFrameBudget / (offsets * framesPerWindow));
  }
  instants = std::clamp(instants, 2, kMaxInstants);

  // Tone cycles per frame, reduced: only the fraction moves a frame's phase.
  const double cyclesPerFrame = Fraction(toneHz / frameRate);
  std::vector<double> nearest;
  std::vector<double> byPhase;
  nearest.reserve(static_cast<std::size_t>(offsets) * instants);
  byPhase.reserve(nearest.capacity());
  for (int i = 0; i < offsets; ++i) {
    // The exposure middle of frame 0, seconds; frame j's is j / frameRate later.
    const double firstMid = (i + 0.5) / (offsets * frameRate) + exposureMs / 2000;
    const double firstCycles = toneHz * firstMid;
    const auto cyclesOf = [&](double frame) { return firstCycles + frame * toneHz / frameRate; };
    for (int k = 0; k < instants; ++k) {
      const double instant = k * pictureIntervalS;
      const double ideal = Fraction(toneHz * instant);
      nearest.push_back(
          CycleDistanceDeg(cyclesOf(std::round((instant - firstMid) * frameRate)), ideal));

      const double first = std::ceil((instant - firstMid) * frameRate);
      const double end = std::ceil((instant + pictureIntervalS - firstMid) * frameRate);
      if (first >= end) continue;
      double x = Fraction(cyclesOf(first) - ideal);  // the frame's phase less the ideal
      double best = 1;
      for (auto n = static_cast<std::int64_t>(std::min(end - first, kMaxWindowFrames)); n > 0;
           --n) {
        best = std::min(best, std::min(x, 1 - x));
        x += cyclesPerFrame;
        if (x >= 1) x -= 1;
      }
      byPhase.push_back(360 * best);
    }
  }
  forecast.nearestWorstDeg = Worst(nearest);
  forecast.nearestMedianDeg = Median(nearest);
  forecast.phaseWorstDeg = Worst(byPhase);
  forecast.phaseMedianDeg = Median(byPhase);
  return forecast;
}

std::optional<Suggestion> SuggestBetter(double frameRate, double toneHz, double pictureIntervalS,
                                        std::span<const double> offeredRates) {
  const PhaseForecast asked = ForecastPhaseErrors(frameRate, toneHz, pictureIntervalS);
  if (!std::isfinite(asked.phaseWorstDeg)) return std::nullopt;

  std::optional<Suggestion> best;
  const auto consider = [&](double rate, double interval) {
    const PhaseForecast forecast = ForecastPhaseErrors(rate, toneHz, interval);
    if (!std::isfinite(forecast.phaseWorstDeg)) return;
    if (!best || Better(forecast, best->forecast)) best = Suggestion{rate, interval, forecast};
  };
  for (const double rate : offeredRates) {
    if (!Positive(rate) || std::abs(rate - frameRate) <= kCommensurateTolerance * frameRate) {
      continue;
    }
    consider(rate, pictureIntervalS);
  }

  // Whole numbers of tone periods from half to twice the asked interval, nearest first; a
  // sample of them when there are many.
  const double askedPeriods = pictureIntervalS * toneHz;
  const double low = std::max(1.0, std::ceil(askedPeriods / 2 - 1e-9));
  const double high = std::floor(askedPeriods * 2 + 1e-9);
  std::vector<double> periods;
  if (high >= low) {
    const auto count = static_cast<int>(std::min<double>(high - low + 1, kMaxIntervalsTried));
    for (int i = 0; i < count; ++i) {
      periods.push_back(count == 1 ? low : std::round(low + i * (high - low) / (count - 1)));
    }
  }
  periods.erase(std::unique(periods.begin(), periods.end()), periods.end());  // still ascending
  std::stable_sort(periods.begin(), periods.end(), [&](double a, double b) {
    return std::abs(a - askedPeriods) < std::abs(b - askedPeriods);
  });
  for (const double n : periods) {
    const double interval = n / toneHz;
    if (std::abs(interval - pictureIntervalS) <= kCommensurateTolerance * pictureIntervalS) {
      continue;
    }
    consider(frameRate, interval);
  }

  if (!best || best->forecast.phaseWorstDeg > kClearlyBetter * asked.phaseWorstDeg) {
    return std::nullopt;
  }
  return best;
}

}  // namespace analysis
