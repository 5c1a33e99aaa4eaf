// The strobe's pulse train, checked against positions worked out in exact integers and against
// the tone's phase on the same sample clock.

#include "generator/strobe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "generator/instant.h"
#include "generator/synthesis.h"
#include "tests/support/test_support.h"

using generator::FillStrobe;
using generator::PlanStrobe;
using generator::StrobeMode;
using generator::StrobePlan;
using generator::StrobeSettings;

namespace {

// Pulses spaced p / q samples apart, the first `skip` spacings after sample 0, as exact
// integers: pulse m's light is centred on the first half sample at or after (m + skip) * p / q,
// so it starts at ceil((m + skip) * p / q - (width - 1) / 2), and not before sample 0.
struct ExactTrain {
  std::int64_t p = 1;
  std::int64_t q = 1;
  std::int64_t skip = 0;
  std::int64_t width = 1;
  std::int16_t value = 0;

  std::int64_t Start(std::int64_t m) const {
    const std::int64_t num = 2 * (m + skip) * p - (width - 1) * q;
    const std::int64_t den = 2 * q;
    return num >= 0 ? (num + den - 1) / den : -((-num) / den);
  }

  std::vector<std::int16_t> Window(std::int64_t begin, std::int64_t length) const {
    std::vector<std::int16_t> samples(static_cast<size_t>(length), 0);
    const std::int64_t lowest = (begin - width) * q / p - skip - 2;
    for (std::int64_t m = std::max<std::int64_t>(0, lowest); Start(m) < begin + length; ++m) {
      for (std::int64_t s = Start(m); s < Start(m) + width; ++s) {
        if (s >= 0 && s >= begin && s < begin + length)
          samples[static_cast<size_t>(s - begin)] = value;
      }
    }
    return samples;
  }
};

std::vector<std::int16_t> Fill(std::int64_t begin, std::int64_t length, const StrobePlan& plan) {
  std::vector<std::int16_t> samples(static_cast<size_t>(length), -1);
  FillStrobe(samples, begin, plan);
  return samples;
}

// The first sample of every pulse in a filled window.
std::vector<std::int64_t> Starts(const std::vector<std::int16_t>& samples, std::int64_t begin) {
  std::vector<std::int64_t> starts;
  for (size_t i = 0; i < samples.size(); ++i) {
    if (samples[i] != 0 && (i == 0 || samples[i - 1] == 0))
      starts.push_back(begin + static_cast<std::int64_t>(i));
  }
  return starts;
}

// The middle of the pulse that starts at `start`.
double Centre(std::int64_t start, const StrobePlan& plan) {
  return static_cast<double>(start) + static_cast<double>(plan.widthSamples - 1) / 2;
}

// The tone's phase at a stream position (samples), less `idealDeg`, wrapped into [-180, 180).
double PhaseAfter(double sample, std::int32_t rate, double numerator, std::int32_t denominator,
                  double phase, double idealDeg) {
  const double deg = generator::TonePhaseDegrees(numerator, denominator, phase, sample / rate);
  return std::remainder(deg - idealDeg, 360.0);
}

}  // namespace

TEST(PlanStrobe, DefaultsAreOneMillisecondAtFullScaleAndBadInputsPlanNoPulses) {
  const StrobeSettings defaults;
  EXPECT_EQ(defaults.mode, StrobeMode::Off);
  EXPECT_FALSE(PlanStrobe(defaults, 48000, 5, 1, 1).on);

  const StrobeSettings period{StrobeMode::EveryPeriod};
  const StrobePlan plan = PlanStrobe(period, 48000, 5, 1, 1);
  ASSERT_TRUE(plan.on);
  EXPECT_EQ(plan.widthSamples, 48);
  EXPECT_EQ(plan.value, 32767);
  EXPECT_EQ(PlanStrobe(period, 44100, 5, 1, 1).widthSamples, 44);  // 44.1 samples
  EXPECT_EQ(PlanStrobe({StrobeMode::EveryPeriod, 0.001}, 8000, 5, 1, 1).widthSamples, 1);
  EXPECT_EQ(PlanStrobe({StrobeMode::EveryPeriod, 1, 0.5}, 48000, 5, 1, 1).value, 16384);
  EXPECT_EQ(PlanStrobe({StrobeMode::EveryPeriod, 1, 0}, 48000, 5, 1, 1).value, 0);

  // A pulse must leave a dark sample: a 1 kHz tone at 48 kHz has 48 samples a period.
  EXPECT_FALSE(PlanStrobe({StrobeMode::EveryPeriod, 1}, 48000, 1000, 1, 1).on);
  EXPECT_TRUE(PlanStrobe({StrobeMode::EveryPeriod, 0.98}, 48000, 1000, 1, 1).on);  // 47
  // The instants are NC0 clock periods apart, so the same width fits between them.
  EXPECT_TRUE(PlanStrobe({StrobeMode::Instants, 1}, 48000, 1000, 1, 2).on);

  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Bad {
    StrobeSettings settings;
    std::int32_t rate;
    double numerator;
    std::int32_t denominator;
    std::int32_t nc0;
  };
  for (const Bad& bad : {
           Bad{period, 0, 5, 1, 1},
           Bad{period, -48000, 5, 1, 1},
           Bad{period, 48000, 0, 1, 1},
           Bad{period, 48000, -5, 1, 1},
           Bad{period, 48000, nan, 1, 1},
           Bad{period, 48000, inf, 1, 1},
           Bad{period, 48000, 1e-300, 1, 1},  // a spacing beyond counting
           Bad{period, 48000, 5, 0, 1},
           Bad{period, 48000, 5, -2, 1},
           Bad{{StrobeMode::Instants}, 48000, 5, 1, 0},
           Bad{{StrobeMode::EveryPeriod, 0}, 48000, 5, 1, 1},
           Bad{{StrobeMode::EveryPeriod, -1}, 48000, 5, 1, 1},
           Bad{{StrobeMode::EveryPeriod, nan}, 48000, 5, 1, 1},
           Bad{{StrobeMode::EveryPeriod, 1e300}, 48000, 5, 1, 1},
           Bad{{StrobeMode::EveryPeriod, 1, 1.01}, 48000, 5, 1, 1},
           Bad{{StrobeMode::EveryPeriod, 1, -0.1}, 48000, 5, 1, 1},
           Bad{{StrobeMode::EveryPeriod, 1, nan}, 48000, 5, 1, 1},
       }) {
    const StrobePlan refused =
        PlanStrobe(bad.settings, bad.rate, bad.numerator, bad.denominator, bad.nc0);
    EXPECT_FALSE(refused.on) << bad.rate << ' ' << bad.numerator << ' ' << bad.denominator << ' '
                             << bad.nc0 << ' ' << bad.settings.widthMs << ' ' << bad.settings.level;
    // Whatever it holds, filling from it writes silence over what was there.
    EXPECT_EQ(Fill(0, 1000, refused), std::vector<std::int16_t>(1000, 0));
  }
}

TEST(FillStrobe, PulseTrainSampleBySampleOnWholeAndFractionalSpacings) {
  // 7 Hz at 44.1 kHz: 6300 samples a period. 7 Hz at 48 kHz and 13 Hz at 44.1 kHz: 6857 1/7
  // and 3392 4/13, which a double holds a hair below and a hair above the true ratio; every
  // seventh (thirteenth) pulse falls exactly on a sample, the others after their moment.
  const StrobeSettings settings{StrobeMode::EveryPeriod, 2, 0.25};
  for (const auto& [rate, hz] : {std::pair{44100, 7}, std::pair{48000, 7}, std::pair{44100, 13}}) {
    const StrobePlan plan = PlanStrobe(settings, rate, hz, 1, 1);
    ASSERT_TRUE(plan.on);
    const ExactTrain exact{rate, hz, 0, rate / 500, 8192};
    EXPECT_EQ(plan.widthSamples, exact.width);
    EXPECT_EQ(plan.value, exact.value);
    const std::vector<std::int16_t> filled = Fill(0, 3 * rate, plan);
    EXPECT_EQ(filled, exact.Window(0, 3 * rate)) << rate << ' ' << hz;
    // The pulse centred on the window's end has begun in it.
    EXPECT_EQ(Starts(filled, 0).size(), static_cast<size_t>(3 * hz + 1));
  }
  // Windows that start before sample 0 are dark there.
  const StrobePlan plan = PlanStrobe(settings, 48000, 7, 1, 1);
  const std::vector<std::int16_t> early = Fill(-500, 1000, plan);
  EXPECT_EQ(early, (ExactTrain{48000, 7, 0, 96, 8192}.Window(-500, 1000)));
  EXPECT_EQ(Starts(early, -500), std::vector<std::int64_t>{0});
}

TEST(FillStrobe, EachPulseIsCentredOnTheFirstHalfSampleAtOrAfterTheStartPhase) {
  struct Tone {
    std::int32_t rate;
    double numerator;
    std::int32_t denominator;
    double phase;
  };
  for (const Tone& tone : {Tone{48000, 7, 1, 0}, Tone{44100, 7, 3, generator::kPhase270},
                           Tone{22050, 50, 1, 0}, Tone{48000, 2.5, 1, generator::kPhase270}}) {
    const double ideal = tone.phase == 0 ? 0 : 270;
    const double step = 360 * tone.numerator / tone.denominator / tone.rate;
    const StrobePlan plan =
        PlanStrobe({StrobeMode::EveryPeriod}, tone.rate, tone.numerator, tone.denominator, 5);
    ASSERT_TRUE(plan.on);
    const std::int64_t length = std::int64_t{4} * tone.rate * tone.denominator;
    const std::vector<std::int64_t> starts = Starts(Fill(0, length, plan), 0);
    ASSERT_GE(starts.size(), 4u);
    for (const std::int64_t s : starts) {
      if (s == 0) continue;  // the pulse centred on T0, cut at sample 0
      const double centre = Centre(s, plan);
      const double after =
          PhaseAfter(centre, tone.rate, tone.numerator, tone.denominator, tone.phase, ideal);
      EXPECT_GE(after, -1e-6) << s;  // never before the phase
      EXPECT_LT(after, step) << s;   // and less than a sample after it
      EXPECT_LT(
          PhaseAfter(centre - 1, tone.rate, tone.numerator, tone.denominator, tone.phase, ideal),
          -1e-9)
          << s;
      EXPECT_DOUBLE_EQ(*generator::PulseCentreNear(plan, centre + 0.3 * plan.spacingSamples),
                       centre);
    }
  }

  // The synthesized sine crosses zero upward on each one-sample pulse: it is at most one
  // sample's rise above zero there, and not above zero on the sample before. The buffer of D
  // seconds plays over and over.
  testing_support::MessageBoxRecorder boxes;
  generator::GeneratorState s;
  s.SampleRate = 48000;
  s.FreqNumerator = 7;
  s.FreqDenominator = 1;
  s.Omega = 7 * generator::kTwoPi;
  s.Amplitude = 32767;
  s.BufferLength = 48000;
  s.Buffer1.assign(48000, 0);
  generator::FillBuffer(s, s.Buffer1, generator::WaveShape{});
  ASSERT_TRUE(boxes.Calls().empty());
  const auto sine = [&s](std::int64_t sample) { return s.Buffer1[sample % 48000]; };
  const double rise = 32767 * std::sin(generator::kTwoPi * 7 / 48000);
  const StrobePlan plan = PlanStrobe({StrobeMode::EveryPeriod, 0.001}, 48000, 7, 1, 1);
  ASSERT_EQ(plan.widthSamples, 1);
  for (const std::int64_t start : Starts(Fill(0, 3 * 48000, plan), 0)) {
    EXPECT_GE(sine(start), 0) << start;
    EXPECT_LE(sine(start), std::ceil(rise)) << start;
    if (start > 0) {
      EXPECT_LE(sine(start - 1), 0) << start;
    }
  }
}

TEST(FillStrobe, InstantsAreLitAtTheirIdealPhaseEveryNc0ClockPeriods) {
  // A 2.5 Hz tone, NC0 = 3, written as 2.5 / 1 and as 5 / 2: the clock counts periods of
  // 1 / N s, so the instants are 1.2 s apart in the first and 0.6 s in the second, where they
  // fall alternately at 0° and 180° of the tone.
  struct Case {
    double numerator;
    std::int32_t denominator;
    double phase;
    ExactTrain exact;
  };
  for (const Case& c : {Case{2.5, 1, 0, {57600, 1, 1, 48, 32767}},
                        Case{5, 2, generator::kPhase270, {144000, 5, 1, 48, 32767}}}) {
    const StrobePlan plan =
        PlanStrobe({StrobeMode::Instants}, 48000, c.numerator, c.denominator, 3);
    ASSERT_TRUE(plan.on);
    const std::int64_t length = 10 * 48000;
    const std::vector<std::int16_t> filled = Fill(0, length, plan);
    EXPECT_EQ(filled, c.exact.Window(0, length)) << c.numerator;
    generator::ToneTimeline timeline;
    timeline.freqNumerator = c.numerator;
    timeline.freqDenominator = c.denominator;
    timeline.phase = c.phase;
    const std::vector<std::int64_t> starts = Starts(filled, 0);
    ASSERT_EQ(starts.size(), static_cast<size_t>(10 / (3 / c.numerator)));
    std::vector<double> ideals;
    for (size_t i = 0; i < starts.size(); ++i) {
      // Picture k = i + 1 is due k * NC0 / N s after T0; none is taken at T0.
      const double dueMs = static_cast<double>(i + 1) * 3 / c.numerator * 1000;
      const double ideal = timeline.IdealPhase(dueMs);
      ideals.push_back(ideal);
      const double after =
          PhaseAfter(Centre(starts[i], plan), 48000, c.numerator, c.denominator, c.phase, ideal);
      EXPECT_GE(after, -1e-6) << i;
      EXPECT_LT(after, 360 * c.numerator / c.denominator / 48000) << i;
    }
    if (c.denominator == 2) {
      EXPECT_NEAR(ideals[0], 90, 1e-6);  // 270° + 1.5 periods
      EXPECT_NEAR(ideals[1], 270, 1e-6);
    }
  }
}

TEST(FillStrobe, AnHourIntoTheRunPulsesAreWhereTheClosedFormPutsThem) {
  // 7 Hz at 48 kHz: a spacing a double cannot hold exactly, so stepping from pulse to pulse
  // would drift; a window near the end of an hour, and of ten days, is checked alone.
  const StrobePlan plan = PlanStrobe({StrobeMode::EveryPeriod}, 48000, 7, 1, 1);
  const ExactTrain exact{48000, 7, 0, 48, 32767};
  for (const std::int64_t end : {std::int64_t{3600} * 48000, std::int64_t{240} * 3600 * 48000}) {
    const std::int64_t begin = end - 20000;
    const std::vector<std::int16_t> filled = Fill(begin, 20000, plan);
    EXPECT_EQ(filled, exact.Window(begin, 20000)) << end;
    const std::vector<std::int64_t> starts = Starts(filled, begin);
    ASSERT_FALSE(starts.empty());
    for (const std::int64_t s : starts) {
      const double after = PhaseAfter(Centre(s, plan), 48000, 7, 1, 0, 0);
      EXPECT_GE(after, -1e-6) << s;
      EXPECT_LT(after, 360.0 * 7 / 48000) << s;
    }
  }
  // Pulse 25200 is due exactly on the first sample of the second hour: its 48 samples start
  // 23 before it, so that their middle is half a sample after it.
  EXPECT_EQ(Fill(std::int64_t{3600} * 48000 - 24, 3, plan),
            (std::vector<std::int16_t>{0, 32767, 32767}));
  EXPECT_DOUBLE_EQ(*generator::PulseCentreNear(plan, 3600.0 * 48000), 3600.0 * 48000 + 0.5);
}

TEST(FillStrobe, BuffersThatSplitAPulseGiveTheSamplesOfOneLongFill) {
  const StrobePlan plan = PlanStrobe({StrobeMode::EveryPeriod, 3}, 48000, 7, 1, 1);
  const std::int64_t length = 2 * 48000;
  const std::vector<std::int16_t> whole = Fill(0, length, plan);
  // Pieces of uneven sizes: boundaries inside the second pulse (6786 .. 6929), around its
  // last sample and around the third pulse's first (13643).
  std::vector<std::int16_t> pieces;
  std::int64_t at = 0;
  for (const std::int64_t cut : {6000, 6800, 6929, 6930, 6931, 13643, 13644, 50000}) {
    const std::vector<std::int16_t> piece = Fill(at, cut - at, plan);
    pieces.insert(pieces.end(), piece.begin(), piece.end());
    at = cut;
  }
  while (at < length) {
    const std::int64_t size = std::min<std::int64_t>(997, length - at);
    const std::vector<std::int16_t> piece = Fill(at, size, plan);
    pieces.insert(pieces.end(), piece.begin(), piece.end());
    at += size;
  }
  EXPECT_EQ(pieces, whole);
  EXPECT_EQ(whole[6929], 32767);
  EXPECT_EQ(whole[6930], 0);
}

TEST(Interleave, PutsTheToneLeftAndThePulsesRightAndSilencesWhatDoesNotMatch) {
  const std::vector<std::int16_t> tone{1, -2, 3};
  const std::vector<std::int16_t> pulses{10, 0, 30};
  std::vector<std::int16_t> out(6, 99);
  generator::Interleave(tone, pulses, out);
  EXPECT_EQ(out, (std::vector<std::int16_t>{1, 10, -2, 0, 3, 30}));

  std::vector<std::int16_t> longer(8, 99);
  generator::Interleave(tone, std::vector<std::int16_t>{10, 0}, longer);
  EXPECT_EQ(longer, (std::vector<std::int16_t>{1, 10, -2, 0, 0, 0, 0, 0}));
}
