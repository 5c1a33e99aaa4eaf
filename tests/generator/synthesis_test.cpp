#include <gtest/gtest.h>

#include <cmath>

#include "generator/synthesis.h"
#include "tests/support/test_support.h"

using generator::FillBuffer;
using generator::GeneratorState;
using generator::WaveShape;

namespace {

const WaveShape kSine{true, false, true, false};
const WaveShape kSine270{true, false, false, true};
const WaveShape kTriangle{false, true, true, false};
const WaveShape kTriangle270{false, true, false, true};

// The state a start leaves for the synthesis, buffers sized as the device opening sizes them.
GeneratorState Tone(std::int32_t rate, double numerator, std::int32_t denominator,
                    double amplitudePercent, bool phase270) {
  GeneratorState s;
  s.SampleRate = rate;
  s.FreqNumerator = numerator;
  s.FreqDenominator = denominator;
  s.Omega = numerator * generator::kTwoPi;
  s.AmplitudeFraction = amplitudePercent / 100;
  s.Amplitude = s.AmplitudeFraction * 32767;
  s.Phase = phase270 ? generator::kPhase270 : 0;
  s.BufferLength = rate * denominator;
  s.Buffer1.assign(static_cast<size_t>(s.BufferLength), 0);
  return s;
}

const QString kMessage = QString::fromUtf8("Частота дискретизации не делится на 2 без остатка");

}  // namespace

TEST(FillBuffer, SineWorkedValuesAtDefaultRate) {
  testing_support::MessageBoxRecorder boxes;
  GeneratorState s = Tone(48000, 2, 2, 100, false);
  FillBuffer(s, s.Buffer1, kSine);
  EXPECT_EQ(s.Buffer1[0], 0);
  EXPECT_EQ(s.Buffer1[12000], 32767);
  EXPECT_EQ(s.Buffer1[36000], -32767);
  EXPECT_EQ(s.Buffer1[48000], 0);
  EXPECT_EQ(s.Buffer1[95999], s.Buffer1[47999]);  // two whole periods per buffer

  GeneratorState shifted = Tone(48000, 2, 2, 100, true);
  FillBuffer(shifted, shifted.Buffer1, kSine270);
  EXPECT_EQ(shifted.Buffer1[0], -32767);
  EXPECT_TRUE(boxes.Calls().empty());
}

TEST(FillBuffer, TriangleWorkedValuesAtDefaultRate) {
  testing_support::MessageBoxRecorder boxes;
  GeneratorState s = Tone(48000, 2, 2, 100, false);
  FillBuffer(s, s.Buffer1, kTriangle);
  EXPECT_NEAR(s.TriangleStep, 2.7305833333, 1e-9);
  EXPECT_EQ(s.Buffer1[0], 0);
  EXPECT_EQ(s.Buffer1[11999], 32764);
  EXPECT_EQ(s.Buffer1[12000], 32767);
  EXPECT_EQ(s.Buffer1[35999], -32764);
  EXPECT_EQ(s.Buffer1[36000], -32767);
  EXPECT_EQ(s.Buffer1[47999], -3);
  for (int j = 0; j < 48000; j += 997) EXPECT_EQ(s.Buffer1[48000 + j], s.Buffer1[j]) << j;

  GeneratorState shifted = Tone(48000, 2, 2, 100, true);
  FillBuffer(shifted, shifted.Buffer1, kTriangle270);
  EXPECT_EQ(shifted.Buffer1[0], -32767);
  EXPECT_EQ(shifted.Buffer1[23999], 32764);
  EXPECT_EQ(shifted.Buffer1[24000], 32767);
  EXPECT_EQ(shifted.Buffer1[47999], -32764);
  EXPECT_TRUE(boxes.Calls().empty());
}

TEST(FillBuffer, BothWaveformsStayWithinTheAmplitudeAt11025Hz) {
  testing_support::MessageBoxRecorder boxes;
  for (const WaveShape& shape : {kSine, kSine270, kTriangle, kTriangle270}) {
    GeneratorState s = Tone(11025, 2, 2, 100, shape.phase270);
    ASSERT_EQ(s.BufferLength, 22050);
    s.Buffer1.assign(22050, 12345);  // every sample must be written
    FillBuffer(s, s.Buffer1, shape);
    for (std::int16_t sample : s.Buffer1) ASSERT_LE(std::abs(sample), 32767);
    EXPECT_EQ(std::count(s.Buffer1.begin(), s.Buffer1.end(), 12345), 0);
    EXPECT_EQ(*std::max_element(s.Buffer1.begin(), s.Buffer1.end()), 32767);
  }
  EXPECT_TRUE(boxes.Calls().empty());
}

TEST(FillBuffer, TriangleWhosePeriodIsNotWholeStopsWithTheMessage) {
  testing_support::MessageBoxRecorder boxes;
  GeneratorState triangle = Tone(11025, 4, 2, 100, false);  // 5512.5 samples a period
  FillBuffer(triangle, triangle.Buffer1, kTriangle);
  ASSERT_EQ(boxes.Calls().size(), 1u);
  EXPECT_EQ(boxes.Calls()[0].text, kMessage);
  EXPECT_EQ(boxes.Calls()[0].title, QStringLiteral("FillBuffer"));
  // The first period was written before the copy ran past the end.
  EXPECT_NE(triangle.Buffer1[1000], 0);

  GeneratorState sine = Tone(11025, 4, 2, 100, false);
  FillBuffer(sine, sine.Buffer1, kSine);
  EXPECT_EQ(boxes.Calls().size(), 1u);
}

TEST(FillBuffer, AmplitudeAbove100PercentStopsAtTheFirstOverflowingSample) {
  testing_support::MessageBoxRecorder boxes;
  GeneratorState s = Tone(48000, 2, 2, 101, false);
  FillBuffer(s, s.Buffer1, kSine);
  ASSERT_EQ(boxes.Calls().size(), 1u);
  EXPECT_EQ(boxes.Calls()[0].text, kMessage);
  // Samples before the failing one are kept, the rest keep their old value.
  const double a = s.Amplitude;
  int firstFailing = 0;
  while (std::nearbyint(a * std::sin(s.Omega * firstFailing / 48000.0 / 2)) <= 32767)
    ++firstFailing;
  EXPECT_GT(firstFailing, 0);
  EXPECT_NE(s.Buffer1[static_cast<size_t>(firstFailing - 1)], 0);
  EXPECT_EQ(s.Buffer1[static_cast<size_t>(firstFailing)], 0);

  GeneratorState triangle = Tone(48000, 2, 2, 101, false);
  FillBuffer(triangle, triangle.Buffer1, kTriangle);
  EXPECT_EQ(boxes.Calls().size(), 2u);
}

TEST(FillBuffer, OddNumeratorHoldsWholePeriodsInTheBuffer) {
  GeneratorState s = Tone(48000, 3, 2, 100, false);
  FillBuffer(s, s.Buffer1, kSine);
  // 3 periods in 2 s: the sample after the last one continues the first.
  const double next = s.Amplitude * std::sin(s.Omega * 96000 / 48000.0 / 2);
  EXPECT_NEAR(next, s.Buffer1[0], 1.0);
  EXPECT_EQ(s.Buffer1[32000], 0);  // one period = 32000 samples
}

TEST(FillBuffer, BufferNeverAllocatedShowsTheMessage) {
  testing_support::MessageBoxRecorder boxes;
  GeneratorState s = Tone(48000, 2, 2, 100, false);
  std::vector<std::int16_t> none;
  FillBuffer(s, none, kSine);
  EXPECT_EQ(boxes.Calls().size(), 1u);
}
