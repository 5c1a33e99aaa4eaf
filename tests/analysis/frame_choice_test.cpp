#include "analysis/frame_choice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <tuple>
#include <vector>

using analysis::ChooseByPhase;
using analysis::ForecastPhaseErrors;
using analysis::FrameCandidate;
using analysis::PhaseForecast;
using analysis::SuggestBetter;
using analysis::WrapDegrees;

namespace {

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

// Frames of a free-running camera against a tone whose phase is 0 at T0: frame j's exposure
// middle at firstMs + j / fps.
std::vector<FrameCandidate> CameraFrames(double fps, double toneHz, double firstMs, int count) {
  std::vector<FrameCandidate> frames;
  for (int j = 0; j < count; ++j) {
    const double ms = firstMs + j * 1000 / fps;
    frames.push_back({static_cast<std::uint64_t>(j), ms, std::fmod(0.36 * toneHz * ms, 360.0)});
  }
  return frames;
}

double MedianOf(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 != 0 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// What ForecastPhaseErrors simulates, done the slow way.
PhaseForecast BruteForce(double fps, double toneHz, double intervalS) {
  constexpr int kStarts = 37;
  constexpr int kInstants = 40;
  const double intervalMs = intervalS * 1000;
  const int count = static_cast<int>((kInstants + 1) * intervalS * fps) + 4;
  std::vector<double> nearest;
  std::vector<double> byPhase;
  for (int i = 0; i < kStarts; ++i) {
    const double firstMs = (i + 0.3) / kStarts * 1000 / fps - 1000 / fps;
    const std::vector<FrameCandidate> frames = CameraFrames(fps, toneHz, firstMs, count);
    for (int k = 0; k < kInstants; ++k) {
      const double instantMs = k * intervalMs;
      const double ideal = std::fmod(0.36 * toneHz * instantMs, 360.0);
      const auto nearer = [&](const FrameCandidate& a, const FrameCandidate& b) {
        return std::abs(a.exposureMidMs - instantMs) < std::abs(b.exposureMidMs - instantMs);
      };
      const FrameCandidate& inTime = *std::min_element(frames.begin(), frames.end(), nearer);
      nearest.push_back(std::abs(WrapDegrees(inTime.exposurePhaseDeg - ideal)));
      const auto choice = ChooseByPhase(frames, instantMs, instantMs + intervalMs, ideal);
      if (choice) byPhase.push_back(std::abs(choice->phaseErrorDeg));
    }
  }
  PhaseForecast forecast;
  forecast.nearestWorstDeg = *std::max_element(nearest.begin(), nearest.end());
  forecast.nearestMedianDeg = MedianOf(nearest);
  forecast.phaseWorstDeg = *std::max_element(byPhase.begin(), byPhase.end());
  forecast.phaseMedianDeg = MedianOf(byPhase);
  return forecast;
}

}  // namespace

TEST(FrameChoiceTest, WrapsDegreesToTheHalfOpenCircle) {
  EXPECT_DOUBLE_EQ(WrapDegrees(180), 180);
  EXPECT_DOUBLE_EQ(WrapDegrees(-180), 180);
  EXPECT_DOUBLE_EQ(WrapDegrees(540), 180);
  EXPECT_DOUBLE_EQ(WrapDegrees(-190), 170);
  EXPECT_DOUBLE_EQ(WrapDegrees(359.5), -0.5);
  EXPECT_DOUBLE_EQ(WrapDegrees(-720.25), -0.25);
  EXPECT_TRUE(std::isnan(WrapDegrees(kNan)));
}

// 30 frames/s against 5 Hz from 7 ms: every frame's phase is 12.6 + 60 j degrees. The window
// [1000, 1200) ms holds frames 30..35 at 12.6, 72.6, ..., 312.6 degrees.
TEST(FrameChoiceTest, CommensurateRatesTakeTheLatticePointNearestTheIdeal) {
  const std::vector<FrameCandidate> frames = CameraFrames(30, 5, 7, 60);
  struct Case {
    double idealDeg;
    std::size_t index;
    double errorDeg;
  };
  const Case cases[] = {{0, 30, 12.6}, {300, 35, 12.6}, {50, 31, 22.6}, {100, 31, -27.4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.idealDeg);
    const auto choice = ChooseByPhase(frames, 1000, 1200, c.idealDeg);
    ASSERT_TRUE(choice);
    EXPECT_EQ(choice->index, c.index);
    EXPECT_NEAR(choice->phaseErrorDeg, c.errorDeg, 1e-6);
  }
}

// 29.97 frames/s against 5 Hz from T0: frame j is at 60.06006 j degrees, so each of the six
// groups of phases creeps by 0.36 degrees every six frames. Over [0, 4 s) the group at 0 ends
// with frame 114 at 6.8468 degrees (19.019019 cycles), and the one at 60 starts at 60.06: an
// ideal of 30 degrees takes frame 114, and one of 5 degrees the frame of the group at 0
// nearest it, frame 84 at 14 * 0.36036 = 5.045 degrees.
TEST(FrameChoiceTest, IncommensurateRatesTakeTheFrameWhosePhaseCreptNearest) {
  const std::vector<FrameCandidate> frames = CameraFrames(29.97, 5, 0, 130);
  auto choice = ChooseByPhase(frames, 0, 4000, 30);
  ASSERT_TRUE(choice);
  EXPECT_EQ(choice->index, 114u);
  EXPECT_NEAR(choice->phaseErrorDeg, 6.846847 - 30, 1e-5);

  choice = ChooseByPhase(frames, 0, 4000, 5);
  ASSERT_TRUE(choice);
  EXPECT_EQ(choice->index, 84u);
  EXPECT_NEAR(choice->phaseErrorDeg, 0.045045, 1e-5);
}

// The window is half open and nothing outside it counts, however near the ideal.
TEST(FrameChoiceTest, OnlyFramesInsideTheWindowCount) {
  const std::vector<FrameCandidate> frames = {
      {10, 99.999, 0}, {11, 100, 170}, {12, 150, 120}, {13, 200, 0}};
  auto choice = ChooseByPhase(frames, 100, 200, 0);
  ASSERT_TRUE(choice);
  EXPECT_EQ(choice->index, 2u);  // 120 degrees off beats 170
  EXPECT_DOUBLE_EQ(choice->phaseErrorDeg, 120);

  choice = ChooseByPhase(frames, 100, 150, 0);  // only the frame at the window's start
  ASSERT_TRUE(choice);
  EXPECT_EQ(choice->index, 1u);
  EXPECT_DOUBLE_EQ(choice->phaseErrorDeg, 170);
}

// A camera that stalled between 100 and 400 ms gives no frame for an instant in that gap;
// frames whose phase is unknown are no frames either.
TEST(FrameChoiceTest, NoFrameWhenTheWindowHoldsNone) {
  const std::vector<FrameCandidate> frames = {
      {1, 66.7, 10}, {2, 100, 20}, {3, 400, 30}, {4, 250, kNan}};
  EXPECT_FALSE(ChooseByPhase(frames, 200, 300, 0));
  EXPECT_FALSE(ChooseByPhase(frames, 101, 400, 0));
  EXPECT_FALSE(ChooseByPhase({}, 0, 1000, 0));
  EXPECT_FALSE(ChooseByPhase(frames, 400, 400, 30));  // an empty window
}

TEST(FrameChoiceTest, TiesGoToTheEarlierFrame) {
  // 10 degrees after and 10 before the ideal; the earlier frame is listed last.
  std::vector<FrameCandidate> frames = {{5, 80, 10}, {4, 40, 350}};
  auto choice = ChooseByPhase(frames, 0, 100, 0);
  ASSERT_TRUE(choice);
  EXPECT_EQ(choice->index, 1u);
  EXPECT_DOUBLE_EQ(choice->phaseErrorDeg, -10);

  // Both sides of 180 degrees away: the earlier again, whichever sign its error has.
  frames = {{6, 20, 90}, {7, 60, 270}};
  choice = ChooseByPhase(frames, 0, 100, 180);
  ASSERT_TRUE(choice);
  EXPECT_EQ(choice->index, 0u);
  EXPECT_DOUBLE_EQ(choice->phaseErrorDeg, -90);

  // Same time and phase: the first listed.
  frames = {{8, 50, 30}, {9, 50, 30}};
  choice = ChooseByPhase(frames, 0, 100, 40);
  ASSERT_TRUE(choice);
  EXPECT_EQ(choice->index, 0u);
}

// Phases just either side of 0/360 are near each other; a plain difference would take the
// frame at 350 for an ideal of 359 over the one at 2.
TEST(FrameChoiceTest, PhasesAroundZeroAreNear) {
  struct Case {
    double idealDeg;
    std::vector<FrameCandidate> frames;
    std::size_t index;
    double errorDeg;
  };
  const Case cases[] = {
      {359, {{0, 10, 350}, {1, 20, 2}}, 1, 3},
      {1, {{0, 10, 10}, {1, 20, 358}}, 1, -3},
      {0, {{0, 10, 181}, {1, 20, 359.75}}, 1, -0.25},
      {-2, {{0, 10, 357}, {1, 20, 5}}, 0, -1},  // an ideal given below zero
      {180, {{0, 10, -175}, {1, 20, 170}}, 0, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.idealDeg);
    const auto choice = ChooseByPhase(c.frames, 0, 100, c.idealDeg);
    ASSERT_TRUE(choice);
    EXPECT_EQ(choice->index, c.index);
    EXPECT_NEAR(choice->phaseErrorDeg, c.errorDeg, 1e-9);
  }
}

TEST(FrameChoiceTest, CountsThePhasesOfCommensurateRates) {
  struct Case {
    double fps, toneHz;
    int phases;
  };
  const Case cases[] = {
      {30, 5, 6},     {60, 5, 12},
      {24, 5, 24},    {30, 50, 3},
      {25, 7, 25},    {30, 15, 2},
      {5, 10, 1},     {30 * (1 + 1e-12), 5, 6},
      {29.97, 5, 0},  {30000.0 / 1001, 5, 0},
      {30, 5.001, 0}, {30, 5 * std::sqrt(2.0), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.fps << " frames/s, " << c.toneHz << " Hz");
    const PhaseForecast f = ForecastPhaseErrors(c.fps, c.toneHz, 1);
    EXPECT_EQ(f.distinctPhases, c.phases);
    EXPECT_DOUBLE_EQ(f.phaseSpacingDeg, c.phases > 0 ? 360.0 / c.phases : 0);
  }
}

// 30 frames/s and 5 Hz: six phases 60 degrees apart. The nearest frame is up to half a frame
// (30 degrees) off, evenly spread; choosing by phase cannot do better, the frames having no
// other phase to offer. 60 frames/s halves both.
TEST(FrameChoiceTest, ForecastOfCommensurateRates) {
  for (const double exposureMs : {0.0, 20.0}) {
    SCOPED_TRACE(exposureMs);
    const PhaseForecast f = ForecastPhaseErrors(30, 5, 4, exposureMs);
    EXPECT_EQ(f.distinctPhases, 6);
    EXPECT_GT(f.nearestWorstDeg, 29);
    EXPECT_LE(f.nearestWorstDeg, 30 + 1e-9);
    EXPECT_NEAR(f.nearestMedianDeg, 15, 0.5);
    EXPECT_GT(f.phaseWorstDeg, 29);
    EXPECT_LE(f.phaseWorstDeg, 30 + 1e-9);
    EXPECT_NEAR(f.phaseMedianDeg, 15, 0.5);
  }
  const PhaseForecast f60 = ForecastPhaseErrors(60, 5, 4);
  EXPECT_NEAR(f60.phaseWorstDeg, 15, 0.5);
  EXPECT_NEAR(f60.phaseMedianDeg, 7.5, 0.5);
  // A tone of 50 Hz: three phases, and the nearest frame anywhere on the circle.
  const PhaseForecast f50 = ForecastPhaseErrors(30, 50, 1);
  EXPECT_NEAR(f50.phaseWorstDeg, 60, 1);
  EXPECT_GT(f50.nearestWorstDeg, 170);
}

// 29.97 frames/s, 5 Hz, a picture every 4 s (20 periods): within a window the six groups of
// phases are 120 / 6 * 0.36 = 7.2 degrees wide, so the ideal falls in a group 7.2 / 60 of the
// time and otherwise up to (60 - 7.2) / 2 = 26.4 degrees from one: P(error <= e) =
// (7.2 + 2 e) / 60, median 11.4. Windows of 28 s make the groups 50.3 degrees wide: worst
// 4.8.
TEST(FrameChoiceTest, ForecastOfSlowlyDriftingRates) {
  const PhaseForecast f = ForecastPhaseErrors(29.97, 5, 4);
  EXPECT_EQ(f.distinctPhases, 0);
  EXPECT_NEAR(f.nearestWorstDeg, 30, 0.5);
  EXPECT_NEAR(f.nearestMedianDeg, 15, 0.5);
  EXPECT_NEAR(f.phaseWorstDeg, 26.4, 0.5);
  EXPECT_NEAR(f.phaseMedianDeg, 11.4, 0.5);

  const PhaseForecast longer = ForecastPhaseErrors(29.97, 5, 28);
  EXPECT_NEAR(longer.phaseWorstDeg, 4.8, 0.3);
  EXPECT_LT(longer.phaseMedianDeg, 0.5);
}

// The forecast against a brute force of its own: camera frames from other start offsets, the
// choice rule on them and the nearest frame found by search. Intervals of a fraction of a
// period move the ideal phase from instant to instant; short windows hold few frames.
TEST(FrameChoiceTest, ForecastAgreesWithABruteForce) {
  struct Case {
    double fps, toneHz, intervalS;
  };
  const Case cases[] = {
      {29.97, 5, 4}, {24, 5, 0.4}, {30, 7, 0.6}, {25, 12, 0.3}, {30, 50, 1}, {29.97, 5, 0.2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.fps << " frames/s, " << c.toneHz << " Hz, every " << c.intervalS << " s");
    const PhaseForecast want = BruteForce(c.fps, c.toneHz, c.intervalS);
    const PhaseForecast got = ForecastPhaseErrors(c.fps, c.toneHz, c.intervalS);
    // Both sample the start offsets: a degree and a half apart at most.
    EXPECT_NEAR(got.nearestWorstDeg, want.nearestWorstDeg, 1.5);
    EXPECT_NEAR(got.nearestMedianDeg, want.nearestMedianDeg, 1.5);
    EXPECT_NEAR(got.phaseWorstDeg, want.phaseWorstDeg, 1.5);
    EXPECT_NEAR(got.phaseMedianDeg, want.phaseMedianDeg, 1.5);
  }
}

TEST(FrameChoiceTest, ForecastOfNoCameraIsNotANumber) {
  for (const auto& [fps, hz, s] : {std::tuple(0.0, 5.0, 4.0), std::tuple(30.0, -5.0, 4.0),
                                   std::tuple(30.0, 5.0, 0.0), std::tuple(kNan, 5.0, 4.0)}) {
    const PhaseForecast f = ForecastPhaseErrors(fps, hz, s);
    EXPECT_TRUE(std::isnan(f.phaseWorstDeg));
    EXPECT_TRUE(std::isnan(f.nearestMedianDeg));
  }
  const double offered[] = {30};
  EXPECT_FALSE(SuggestBetter(0, 5, 4, offered));
}

// The suggestion must be what it claims: an offered rate at the asked interval or the asked
// rate at a whole number of periods from half to twice the asked interval, with the forecast
// it names, clearly better.
TEST(FrameChoiceTest, SuggestsASetUpThatChoosesBetter) {
  const double offered[] = {15, 30, 60, 29.97};
  const auto checkGenuine = [&](double fps, double toneHz, double intervalS,
                                const analysis::Suggestion& s) {
    const PhaseForecast asked = ForecastPhaseErrors(fps, toneHz, intervalS);
    EXPECT_LE(s.forecast.phaseWorstDeg, 0.6 * asked.phaseWorstDeg);
    const PhaseForecast again = ForecastPhaseErrors(s.frameRate, toneHz, s.pictureIntervalS);
    EXPECT_DOUBLE_EQ(again.phaseWorstDeg, s.forecast.phaseWorstDeg);
    EXPECT_DOUBLE_EQ(again.phaseMedianDeg, s.forecast.phaseMedianDeg);
    if (s.frameRate == fps) {
      const double periods = s.pictureIntervalS * toneHz;
      EXPECT_NEAR(periods, std::round(periods), 1e-9);
      EXPECT_GE(s.pictureIntervalS, intervalS / 2 - 1e-9);
      EXPECT_LE(s.pictureIntervalS, intervalS * 2 + 1e-9);
    } else {
      EXPECT_NE(std::find(std::begin(offered), std::end(offered), s.frameRate), std::end(offered));
      EXPECT_DOUBLE_EQ(s.pictureIntervalS, intervalS);
    }
  };

  // Six phases at 30 frames/s whatever the interval: only twelve at 60 do better.
  auto s = SuggestBetter(30, 5, 4, offered);
  ASSERT_TRUE(s);
  checkGenuine(30, 5, 4, *s);
  EXPECT_DOUBLE_EQ(s->frameRate, 60);
  EXPECT_NEAR(s->forecast.phaseWorstDeg, 15, 0.5);

  // With 40 s between pictures the slow drift of 29.97 frames/s covers every phase.
  s = SuggestBetter(30, 5, 40, offered);
  ASSERT_TRUE(s);
  checkGenuine(30, 5, 40, *s);
  EXPECT_DOUBLE_EQ(s->frameRate, 29.97);
  EXPECT_LT(s->forecast.phaseWorstDeg, 1);

  // No other rate offered: a longer interval lets the drift cover more of the circle.
  s = SuggestBetter(29.97, 5, 16, {});
  ASSERT_TRUE(s);
  checkGenuine(29.97, 5, 16, *s);
  EXPECT_GT(s->pictureIntervalS, 16);

  // Twelve phases 30 degrees apart: nothing offered, no interval halves that.
  EXPECT_FALSE(SuggestBetter(60, 5, 4, offered));
}
