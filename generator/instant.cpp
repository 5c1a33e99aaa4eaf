#include "generator/instant.h"

#include <cmath>

#include "generator/generator_state.h"

namespace generator {
namespace {

constexpr double kMillisecond = 1e6;

}  // namespace

double TonePhaseDegrees(double numerator, std::int32_t denominator, double phase, double seconds) {
  if (denominator <= 0) return 0;
  const double cycles = numerator / denominator * seconds + phase / kTwoPi;
  const double degrees = (cycles - std::floor(cycles)) * 360;
  return degrees >= 360 ? 0 : degrees;
}

double ToneTimeline::MsSinceT0(std::int64_t localNs) const {
  if (base == TimeBase::Tone) {
    const std::int64_t clock = reading.clockNs + (localNs - reading.localNs);
    return static_cast<double>(clock - t0ToneNs) / kMillisecond;
  }
  return static_cast<double>(localNs - t0LocalNs) / kMillisecond;
}

std::optional<double> ToneTimeline::SampleAt(std::int64_t localNs) const {
  if (!toneAnswered || reading.sampleRate == 0) return std::nullopt;
  const std::int64_t clock = reading.clockNs + (localNs - reading.localNs);
  return static_cast<double>(clock - reading.firstSampleNs) * reading.sampleRate / 1e9;
}

std::optional<double> ToneTimeline::PhaseAt(std::int64_t localNs) const {
  if (freqDenominator <= 0) return std::nullopt;
  // The sample the device plays at that moment, and the tone's phase at that sample.
  const std::optional<double> position = SampleAt(localNs);
  if (!position) return std::nullopt;
  return TonePhaseDegrees(freqNumerator, freqDenominator, phase, *position / reading.sampleRate);
}

double ToneTimeline::IdealPhase(double msSinceT0) const {
  return TonePhaseDegrees(freqNumerator, freqDenominator, phase, msSinceT0 / 1000);
}

}  // namespace generator
