#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <utility>
#include <vector>

#include "analysis/delay_calibration.h"
#include "tests/analysis/lamp_scene.h"

using analysis::CalibrationResult;
using analysis::DelayCalibrator;
using analysis_testing::LampCamera;
using analysis_testing::LampScene;
using Failure = CalibrationResult::Failure;

namespace {

constexpr double kSegmentSeconds = 10;

CalibrationResult Calibrate(const LampScene& scene, std::optional<double> exposureMs,
                            double seconds = kSegmentSeconds) {
  const auto tones = analysis::CalibrationTones(scene.framesPerSecond);
  DelayCalibrator calibrator({tones[0], tones[1]});
  LampCamera camera(scene);
  camera.Feed(calibrator, 0, tones[0], seconds);
  camera.Feed(calibrator, 1, tones[1], seconds);
  return calibrator.Finish(exposureMs);
}

}  // namespace

// The lamp's delay, with a band next to it following the tone at another phase, and fringes
// further off; one of their columns follows the tone 15 degrees from the lamp, which would
// pull the answer if it were taken in.
TEST(DelayCalibrationTest, FindsTheLampsDelayBesideFringes) {
  struct Case {
    double fps, delayMs, exposureMs;
    bool inverted, exposureKnown;
    int rowPadding = 0;
  };
  const Case cases[] = {
      {30, 35, 10, false, true},     {30, 120, 33, true, true},  {60, 350, 1, false, true},
      {15, 700, 20, true, true, 36}, {60, 80, 16, false, false}, {30, 1000, 5, true, true},
      {25, 60, 40, false, true},     {24, 250, 20, true, true},  {20, 90, 50, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.fps << " frames/s, delay " << c.delayMs << " ms, exposure "
                                    << c.exposureMs << " ms" << (c.inverted ? ", inverted" : "")
                                    << (c.exposureKnown ? "" : ", exposure unknown"));
    LampScene scene;
    scene.framesPerSecond = c.fps;
    scene.delayMs = c.delayMs;
    scene.exposureMs = c.exposureMs;
    scene.inverted = c.inverted;
    scene.rowPadding = c.rowPadding;
    scene.seed = static_cast<std::uint32_t>(c.delayMs);
    const CalibrationResult r =
        Calibrate(scene, c.exposureKnown ? std::optional(c.exposureMs) : std::nullopt);
    ASSERT_EQ(r.failure, Failure::None);
    // Without the exposure the delay is the lag to the exposure's middle.
    const double truth = c.exposureKnown ? c.delayMs : c.delayMs + c.exposureMs / 2;
    EXPECT_NEAR(r.delayMs, truth, 1);
    EXPECT_GT(r.uncertaintyMs, 0);
    EXPECT_LE(std::abs(r.delayMs - truth), 4 * r.uncertaintyMs) << r.uncertaintyMs;
    EXPECT_NEAR(r.lagMs, c.delayMs + c.exposureMs / 2, 1);
    EXPECT_EQ(r.exposureAssumedMs, c.exposureKnown ? c.exposureMs : 0);
    EXPECT_EQ(r.inverted, c.inverted);
    // The lamp's blocks, within a block of its edges; none of the band's or the fringes'.
    LampCamera camera(scene);
    const analysis::PixelRect lamp = camera.Lamp();
    EXPECT_LE(r.region.x, lamp.x);
    EXPECT_LE(r.region.y, lamp.y);
    EXPECT_GE(r.region.x + r.region.width, lamp.x + lamp.width);
    EXPECT_GE(r.region.y + r.region.height, lamp.y + lamp.height);
    EXPECT_LE(r.region.x + r.region.width, camera.Band().x);
    EXPECT_GT(r.region.x, lamp.x - 16);
    EXPECT_GT(r.region.y, lamp.y - 16);
    ASSERT_EQ(r.segments.size(), 2U);
    for (const analysis::SegmentFit& s : r.segments) {
      EXPECT_EQ(s.frames, static_cast<std::size_t>(std::lround(kSegmentSeconds * c.fps)));
      // The lamp's 150 grey levels: half of it in the fundamental, less what the exposure
      // averages away; the blocks at its edges see less of it.
      EXPECT_GT(s.amplitude, 25);
      EXPECT_LT(s.amplitude, 76);
      // Each segment's lag modulo its period says the same.
      const double period = 1000 / s.toneHz;
      const double modulo = std::fmod(c.delayMs + c.exposureMs / 2, period);
      const double off = std::remainder(s.lagModuloMs - modulo, period);
      EXPECT_LT(std::abs(off), 1.5);
      EXPECT_LE(std::abs(off), 4 * s.lagSigmaMs);
    }
  }
}

// A single tone gives the lag modulo its period, for a light that is not inverted.
TEST(DelayCalibrationTest, OneToneGivesTheLagWithinItsPeriod) {
  for (const double delayMs : {150.0, 300.0}) {
    SCOPED_TRACE(delayMs);
    LampScene scene;
    scene.delayMs = delayMs;
    DelayCalibrator calibrator({4.75});
    LampCamera camera(scene);
    camera.Feed(calibrator, 0, 4.75, kSegmentSeconds);
    const CalibrationResult r = calibrator.Finish(10);
    ASSERT_EQ(r.failure, Failure::None);
    const double lag = std::fmod(delayMs + 5, 1000 / 4.75);
    EXPECT_NEAR(r.lagMs, lag, 1);
    EXPECT_NEAR(r.delayMs, lag - 5, 1);
    EXPECT_FALSE(r.inverted);
  }
}

// Nothing that follows the tone: a black picture, a still one, a still one with sensor noise,
// one whose level jumps from frame to frame (an automatic exposure hunting).
TEST(DelayCalibrationTest, ScenesThatDoNotFollowTheToneGiveNoResponse) {
  {
    DelayCalibrator calibrator({4, 4.75});
    const std::vector<std::uint8_t> black(64 * 48 * 4, 0);
    for (int segment = 0; segment < 2; ++segment)
      for (int i = 0; i < 100; ++i)
        calibrator.Add(segment, {black.data(), 64, 48, 64 * 4}, i * 47.0);
    EXPECT_EQ(calibrator.Finish(10).failure, Failure::NoResponse);
  }
  for (const auto& [noise, flicker] : {std::pair{0.0, 0.0}, {3.0, 0.0}, {3.0, 20.0}}) {
    SCOPED_TRACE(testing::Message() << "noise " << noise << ", flicker " << flicker);
    LampScene scene;
    scene.followsTone = false;
    scene.noise = noise;
    scene.flicker = flicker;
    const CalibrationResult r = Calibrate(scene, 10);
    EXPECT_EQ(r.failure, Failure::NoResponse);
    EXPECT_EQ(r.delayMs, 0);
    EXPECT_EQ(r.blocks, 0);
  }
}

TEST(DelayCalibrationTest, TooFewFramesOrPhasesThatRepeat) {
  LampScene scene;
  // A second of each tone is too short; so is an empty second segment.
  EXPECT_EQ(Calibrate(scene, 10, 0.5).failure, Failure::TooFewFrames);
  {
    DelayCalibrator calibrator({4, 4.75});
    LampCamera camera(scene);
    camera.Feed(calibrator, 0, 4, kSegmentSeconds);
    EXPECT_EQ(calibrator.Finish(10).failure, Failure::TooFewFrames);
  }
  // A 5 Hz tone at 30 frames/s without jitter: the frames see six phases only, too few to
  // tell three harmonics apart.
  scene.jitterMs = 0;
  DelayCalibrator calibrator({5, 4.75});
  LampCamera camera(scene);
  camera.Feed(calibrator, 0, 5, kSegmentSeconds);
  camera.Feed(calibrator, 1, 4.75, kSegmentSeconds);
  EXPECT_EQ(calibrator.Finish(10).failure, Failure::Aliased);
}

// What the calibrator keeps does not grow with the frames; a frame of another size is
// counted and changes nothing.
TEST(DelayCalibrationTest, MemoryBoundedByThePicture) {
  LampScene scene;
  DelayCalibrator calibrator({4, 4.75});
  LampCamera camera(scene);
  camera.Feed(calibrator, 0, 4, 1);
  const std::size_t early = calibrator.RetainedBytes();
  // Eight sums for each 16 x 16 block in each segment, and a little per block besides.
  EXPECT_LT(early, 2 * 80 * 8 * sizeof(double) + 80 * 64 + 1024);
  camera.Feed(calibrator, 0, 4, kSegmentSeconds - 1);
  camera.Feed(calibrator, 1, 4.75, kSegmentSeconds);
  EXPECT_EQ(calibrator.RetainedBytes(), early);

  const CalibrationResult before = calibrator.Finish(10);
  const std::vector<std::uint8_t> other(32 * 32 * 4, 255);
  for (int i = 0; i < 5; ++i) calibrator.Add(1, {other.data(), 32, 32, 32 * 4}, i * 90.0);
  calibrator.Add(1, {nullptr, 160, 120, 640}, 0);
  const CalibrationResult after = calibrator.Finish(10);
  EXPECT_EQ(after.ignoredFrames, 6U);
  EXPECT_EQ(after.segments[1].frames, before.segments[1].frames);
  EXPECT_EQ(after.delayMs, before.delayMs);
  EXPECT_EQ(calibrator.RetainedBytes(), early);
}

// The tones chosen for each frame rate place every lag searched with either polarity,
// also when the two phases are off by 3 degrees in opposite directions; with one phase off
// by 15 degrees (30 sigmas) they agree on no lag.
TEST(DelayCalibrationTest, TonesUnfoldEveryLagAndPolarity) {
  for (const double fps : {12.0, 15.0, 20.0, 24.0, 25.0, 30.0, 50.0, 60.0}) {
    const auto tones = analysis::CalibrationTones(fps);
    SCOPED_TRACE(testing::Message() << tones[0] << " and " << tones[1] << " Hz");
    int wrong = 0, agreed = 0;
    // (Up to a little below the end, which the phases' errors may push it over.)
    for (int lag = 0; lag <= analysis::kMaxLagMs - 5; ++lag) {
      for (const bool inverted : {false, true}) {
        const auto phase = [&](int s) {
          return (inverted ? 180 : 0) - 360 * tones[s] * lag / 1000.0;
        };
        const analysis::SegmentPhase phases[] = {{tones[0], phase(0) + 3, 1},
                                                 {tones[1], phase(1) - 3, 1}};
        const analysis::UnfoldedLag u = analysis::UnfoldLag(phases);
        if (!u.consistent || u.inverted != inverted || std::abs(u.lagMs - lag) > 3) ++wrong;
        for (const double off : {-15, 15}) {
          const analysis::SegmentPhase apart[] = {{tones[0], phase(0), 0.5},
                                                  {tones[1], phase(1) + off, 0.5}};
          if (analysis::UnfoldLag(apart).consistent) ++agreed;
        }
      }
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(agreed, 0);
    // Phases too uncertain to single out one lag.
    const analysis::SegmentPhase vague[] = {{tones[0], 100, 20}, {tones[1], 200, 20}};
    EXPECT_FALSE(analysis::UnfoldLag(vague).consistent);
  }
}
