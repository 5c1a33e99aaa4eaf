// The timeline an instant carries answers for any moment without the generator.

#include <gtest/gtest.h>

#include "generator/instant.h"

namespace {

generator::ToneTimeline OneHertzTone() {
  generator::ToneTimeline tone;
  tone.base = generator::TimeBase::Tone;
  tone.t0ToneNs = 1'000'000'000;  // T0: the first sample
  // Read at the instant: the tone's clock at 5 s while the time source says 7 s.
  tone.reading = {5'000'000'000, 7'000'000'000, 1'000'000'000, 48000};
  tone.toneAnswered = true;
  tone.freqNumerator = 2;
  tone.freqDenominator = 2;
  return tone;
}

TEST(ToneTimeline, PlacesMomentsOfTheTimeSourceOnTheRunsTimeBaseAndInTheTone) {
  generator::ToneTimeline tone = OneHertzTone();
  EXPECT_DOUBLE_EQ(tone.MsSinceT0(7'000'000'000), 4000);
  EXPECT_DOUBLE_EQ(tone.MsSinceT0(7'250'000'000), 4250);
  EXPECT_NEAR(tone.PhaseAt(7'250'000'000).value_or(-1), 90, 1e-9);  // 4.25 periods
  EXPECT_NEAR(tone.PhaseAt(6'900'000'000).value_or(-1), 324, 1e-9);
  EXPECT_NEAR(tone.IdealPhase(250), 90, 1e-9);

  // Counted on the tick count: T0 on the time source, the tone's phase as before.
  tone.base = generator::TimeBase::TickCount;
  tone.t0LocalNs = 2'000'000'000;
  EXPECT_DOUBLE_EQ(tone.MsSinceT0(3'500'000'000), 1500);
  EXPECT_NEAR(tone.PhaseAt(7'250'000'000).value_or(-1), 90, 1e-9);

  // No phase without a tone that answered, nor for a tone with no period.
  tone.toneAnswered = false;
  EXPECT_FALSE(tone.PhaseAt(7'250'000'000));
  tone = OneHertzTone();
  tone.freqDenominator = 0;
  EXPECT_FALSE(tone.PhaseAt(7'250'000'000));
  EXPECT_DOUBLE_EQ(generator::TonePhaseDegrees(2, 0, 1, 3), 0);
}

}  // namespace
