#pragma once
// The strobe channel: short pulses beside the tone, placed on the tone's own sample clock, so
// that an LED driven by them lights the scene at the same phase of the tone however long the
// run. Pure arithmetic on sample indices; the stream and the devices carry what it writes.

#include <cstdint>
#include <optional>
#include <span>

namespace generator {

enum class StrobeMode { Off, EveryPeriod, Instants };

struct StrobeSettings {
  StrobeMode mode = StrobeMode::Off;
  double widthMs = 1;
  double level = 1;  // fraction of full scale, 0..1
};

// Where the pulses fall, in samples from the stream's sample 0 (T0 = the tone's first sample):
// the first pulse's ideal moment (not yet rounded), the spacing, the width in whole samples (at
// least 1) and the sample value. Pulse m's ideal moment is firstSample + m * spacingSamples.
// Its light is centred there: it lasts widthSamples samples, and the middle of those samples
// (first + (width - 1) / 2) is the first half-sample position at or after the moment, so the
// light's mean time is never before the phase and less than a sample after it. A camera
// integrating the pulse sees the scene at the phase, however wide the pulse.
struct StrobePlan {
  double firstSample = 0;
  double spacingSamples = 0;
  std::int64_t widthSamples = 0;
  std::int16_t value = 0;
  bool on = false;
};

// EveryPeriod: a pulse at the start of every tone period of D / N s, where the tone is at its
// start phase (0° or 270°). That is the ideal phase of every recording instant when D = 1:
// instant k lies k * NC0 whole tone periods after T0, and ToneTimeline::IdealPhase there is the
// start phase. When D > 1 the instants lie k * NC0 clock periods of 1 / N s after T0, i.e.
// k * NC0 / D tone periods, so their ideal phases step through start phase + j * 360° / D.
// EveryPeriod still lights once per tone period, at the start phase: a stroboscope must light
// one phase to freeze the motion, and several pulses a period would show the scene at several
// phases in one exposure. Instants is the mode that lights each instant at its own phase.
// Instants: a pulse at every recording instant, k * NC0 / N s after T0 for k = 1, 2, ... (the
// clock takes no picture at T0 itself, so there is no pulse there).
// Refused, with on = false and no pulses: mode Off; sampleRate <= 0; freqNumerator not a
// positive finite number; freqDenominator <= 0; nc0 < 1; widthMs not positive; level
// outside 0..1 (or not a number); a width (rounded to whole samples, at least 1) not below
// the spacing rounded down, which would leave no dark sample between two pulses; a spacing too
// large to count samples in exactly (> 2^52). The width is widthMs at the sample rate, rounded to
// the nearest whole sample; the value is level * 32767, rounded (positive pulses: the driver stage
// conducts on them).
StrobePlan PlanStrobe(const StrobeSettings& settings, std::int32_t sampleRate, double freqNumerator,
                      std::int32_t freqDenominator, std::int32_t nc0);

// Writes the pulse channel for the stream's samples [firstSample, firstSample + out.size()):
// plan.value inside a pulse, 0 elsewhere (all 0 for a plan that is off, and before sample 0).
// Pulse m starts at ceil(plan.firstSample + m * plan.spacingSamples - (width - 1) / 2) (sample 0
// when that lies before it), worked out from m alone in long double, never by stepping from pulse
// to pulse, so a window an hour into the run gets the samples the closed form gives, and buffer
// boundaries change nothing. A moment that lies within a rounding error (1e-12 of its size) above a
// whole sample starts on that sample: the double spacing is a hair off the true ratio, and such a
// moment is meant to be exactly on it.
void FillStrobe(std::span<std::int16_t> out, std::int64_t firstSample, const StrobePlan& plan);

// The middle of the pulse whose ideal moment is nearest `sample` (a stream position, in
// samples), as FillStrobe places it: the moment its light is centred on. None for a plan that
// is off or a position that is not a number.
std::optional<double> PulseCentreNear(const StrobePlan& plan, double sample);

// Two channels interleaved, left = the tone as it is, right = the pulses:
// out[2i] = tone[i], out[2i + 1] = pulses[i]. Sizes should match (out.size() ==
// 2 * tone.size() == 2 * pulses.size()); otherwise the frames all three can hold are written
// and the rest of out is zeroed, so a mismatch plays silence rather than stale samples.
void Interleave(std::span<const std::int16_t> tone, std::span<const std::int16_t> pulses,
                std::span<std::int16_t> out);

}  // namespace generator
