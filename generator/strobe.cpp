#include "generator/strobe.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <optional>

namespace generator {
namespace {

constexpr double kFullScale = 32767;
// Beyond this a spacing in samples no longer holds its fraction in a double.
constexpr double kLongestSpacing = 4503599627370496.0;  // 2^52
// Pulse numbers and sample positions stay well inside 64 bits below this.
constexpr long double kLargestIndex = 4.0e18L;
// A moment this close above a whole sample (relative to its size) is on it: the rounding of
// the spacing to a double, not a true offset.
constexpr long double kSnap = 1e-12L;

// The first sample at or after the moment `x` (in samples).
long double StartOf(long double x) {
  return std::ceil(x - std::fabs(x) * kSnap);
}

// Pulse m's first sample: its light's middle (the middle of its samples) is on the first
// half-sample position at or after its moment, so the light is centred on the phase.
long double PulseStart(const StrobePlan& plan, std::int64_t m) {
  const long double lead = static_cast<long double>(plan.widthSamples - 1) / 2;
  return StartOf(static_cast<long double>(plan.firstSample) +
                 static_cast<long double>(m) * static_cast<long double>(plan.spacingSamples) -
                 lead);
}

bool Refused(const StrobeSettings& settings, std::int32_t sampleRate, double freqNumerator,
             std::int32_t freqDenominator, std::int32_t nc0) {
  return settings.mode == StrobeMode::Off || sampleRate <= 0 || !std::isfinite(freqNumerator) ||
         freqNumerator <= 0 || freqDenominator <= 0 || nc0 < 1 || !(settings.widthMs > 0) ||
         !(settings.level >= 0 && settings.level <= 1);
}

}  // namespace

StrobePlan PlanStrobe(const StrobeSettings& settings, std::int32_t sampleRate, double freqNumerator,
                      std::int32_t freqDenominator, std::int32_t nc0) {
  if (Refused(settings, sampleRate, freqNumerator, freqDenominator, nc0)) return {};
  const double rate = sampleRate;
  // A tone period is D / N s; the clock counts periods of 1 / N s and an instant every NC0.
  const double spacing = settings.mode == StrobeMode::EveryPeriod
                             ? rate * freqDenominator / freqNumerator
                             : rate * nc0 / freqNumerator;
  if (!(spacing <= kLongestSpacing)) return {};
  // The width is compared as a double first, so that a huge one is refused before it is
  // turned into an integer. A pulse must leave at least one dark sample before the next.
  const double width = std::max(1.0, std::round(settings.widthMs * rate / 1000));
  if (!(width < std::floor(spacing))) return {};
  StrobePlan plan;
  plan.firstSample = settings.mode == StrobeMode::EveryPeriod ? 0 : spacing;
  plan.spacingSamples = spacing;
  plan.widthSamples = static_cast<std::int64_t>(width);
  plan.value = static_cast<std::int16_t>(std::lround(settings.level * kFullScale));
  plan.on = true;
  return plan;
}

void FillStrobe(std::span<std::int16_t> out, std::int64_t firstSample, const StrobePlan& plan) {
  std::fill(out.begin(), out.end(), std::int16_t{0});
  // A plan not made by PlanStrobe is checked as well: nothing is written for one that could
  // not be counted.
  if (!plan.on || out.empty() || plan.widthSamples < 1 || !std::isfinite(plan.firstSample) ||
      plan.firstSample < 0 || !(plan.spacingSamples >= 1 && plan.spacingSamples <= kLongestSpacing))
    return;
  const long double first = plan.firstSample;
  const long double spacing = plan.spacingSamples;
  const auto width = static_cast<long double>(plan.widthSamples);
  const auto begin = static_cast<long double>(firstSample);
  const long double end = begin + static_cast<long double>(out.size());
  // The pulse that may still be lit at `begin` started less than a spacing plus a width
  // before it: start one pulse earlier than that estimate and walk forward.
  const long double estimate = std::floor((begin - width - first) / spacing) - 1;
  if (estimate > kLargestIndex) return;
  for (auto m = static_cast<std::int64_t>(std::max<long double>(0, estimate));; ++m) {
    const long double start = PulseStart(plan, m);
    if (start >= end || start > kLargestIndex) break;
    const long double stop = start + width;
    if (stop <= begin) continue;
    // The pulse centred on T0 is lit only from sample 0 on.
    const auto from = static_cast<std::size_t>(std::max({start, begin, 0.0L}) - begin);
    const auto to = static_cast<std::size_t>(std::min(stop, end) - begin);
    if (from < to)
      std::fill(out.begin() + static_cast<std::ptrdiff_t>(from),
                out.begin() + static_cast<std::ptrdiff_t>(to), plan.value);
  }
}

std::optional<double> PulseCentreNear(const StrobePlan& plan, double sample) {
  if (!plan.on || !std::isfinite(sample) || !(plan.spacingSamples >= 1)) return std::nullopt;
  const double m = std::max(0.0, std::round((sample - plan.firstSample) / plan.spacingSamples));
  if (m > static_cast<double>(kLargestIndex) / plan.spacingSamples) return std::nullopt;
  const long double start = PulseStart(plan, static_cast<std::int64_t>(m));
  return static_cast<double>(start + static_cast<long double>(plan.widthSamples - 1) / 2);
}

void Interleave(std::span<const std::int16_t> tone, std::span<const std::int16_t> pulses,
                std::span<std::int16_t> out) {
  const std::size_t frames = std::min({tone.size(), pulses.size(), out.size() / 2});
  for (std::size_t i = 0; i < frames; ++i) {
    out[2 * i] = tone[i];
    out[2 * i + 1] = pulses[i];
  }
  std::fill(out.begin() + static_cast<std::ptrdiff_t>(2 * frames), out.end(), std::int16_t{0});
}

}  // namespace generator
