// Lock-in maps from synthetic frames whose every pixel's response is known.

#include "analysis/lock_in.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

using analysis::LockIn;
using analysis::LockInMaps;

namespace {

constexpr int kWidth = 40;
constexpr int kHeight = 30;

// The left half answers with amplitude 40 at 30°, the right half with 20 at 250°, about a
// level of 100; a box exposure over `periods` of the tone smears it; Gaussian noise of `noise`
// grey levels, rounded to whole levels as a camera gives them.
struct Scene {
  double noise = 0;
  std::mt19937 random{12345};

  static double Amplitude(int x) { return x < kWidth / 2 ? 40 : 20; }
  static double PhaseDeg(int x) { return x < kWidth / 2 ? 30 : 250; }

  std::vector<std::uint8_t> Frame(double phaseDeg, double periods) {
    std::normal_distribution<double> jitter(0, noise > 0 ? noise : 1);
    const double smear =
        periods > 0 ? std::sin(std::numbers::pi * periods) / (std::numbers::pi * periods) : 1;
    std::vector<std::uint8_t> rows(kWidth * kHeight);
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) {
        const double response =
            smear * Amplitude(x) * std::cos((phaseDeg - PhaseDeg(x)) * std::numbers::pi / 180);
        const double value = 100 + response + (noise > 0 ? jitter(random) : 0);
        rows[y * kWidth + x] =
            static_cast<std::uint8_t>(std::lround(std::clamp(value, 0.0, 255.0)));
      }
    }
    return rows;
  }
};

double AngleOff(double a, double b) {
  return std::remainder(a - b, 360.0);
}

}  // namespace

// A camera at 30 frames a second against 7 Hz: each frame 84° on, 30 phases 12° apart; 10 ms
// exposures (0.07 of a period), then half a period, whose smear keeps only 64 % of the
// response. Amplitude within 2 % and phase within 2° of the truth, the sigmas the scatter
// the noise gives.
TEST(LockIn, FindsEachRegionsAmplitudeAndPhaseThroughNoiseAndSmear) {
  for (const double periods : {0.07, 0.5}) {
    SCOPED_TRACE(periods);
    Scene scene{.noise = 3};
    LockIn lockIn(kWidth, kHeight);
    for (int k = 0; k < 600; ++k) {
      const double phase = std::fmod(k * 84.0 + 5, 360.0);
      const std::vector<std::uint8_t> frame = scene.Frame(phase, periods);
      ASSERT_TRUE(lockIn.Add(frame.data(), kWidth, kWidth, kHeight, phase, periods));
    }
    EXPECT_EQ(lockIn.DistinctPhases(), 30);
    const std::optional<LockInMaps> maps = lockIn.Result();
    ASSERT_TRUE(maps);
    EXPECT_EQ(maps->frames, 600u);
    for (const int x : {3, kWidth - 4}) {
      SCOPED_TRACE(x);
      double amplitude = 0, sumSq = 0, sigma = 0;
      for (int y = 0; y < kHeight; ++y) {
        const auto p = static_cast<std::size_t>(y) * kWidth + static_cast<std::size_t>(x);
        amplitude += maps->amplitude[p];
        sumSq += maps->amplitude[p] * maps->amplitude[p];
        sigma += maps->amplitudeSigma[p];
        EXPECT_NEAR(maps->amplitude[p], Scene::Amplitude(x), 0.02 * Scene::Amplitude(x) + 1.5);
        EXPECT_NEAR(AngleOff(maps->phaseDeg[p], Scene::PhaseDeg(x)), 0,
                    2 + 3 * maps->phaseSigmaDeg[p]);
        EXPECT_NEAR(maps->offset[p], 100, 1);
      }
      amplitude /= kHeight;
      sigma /= kHeight;
      EXPECT_NEAR(amplitude, Scene::Amplitude(x), 0.02 * Scene::Amplitude(x));
      // The pixels scatter about as much as each says it is uncertain.
      const double spread = std::sqrt(std::max(0.0, sumSq / kHeight - amplitude * amplitude));
      EXPECT_GT(sigma, 0.5 * spread);
      EXPECT_LT(sigma, 2.0 * spread + 0.05);
    }
  }
}

// Two phases cannot tell a response's amplitude from its phase: 30 frames a second against
// 15 Hz meet the tone at 0° and 180° only. A third phase, exactly placed and without noise,
// gives the response exactly.
TEST(LockIn, FewerThanThreePhasesGiveNoMapsAndThreeGiveTheTruth) {
  Scene scene;
  LockIn two(kWidth, kHeight);
  EXPECT_FALSE(two.Result());  // nothing yet
  for (int k = 0; k < 100; ++k) {
    const double phase = k % 2 ? 180 : 0;
    const std::vector<std::uint8_t> frame = scene.Frame(phase, 0);
    two.Add(frame.data(), kWidth, kWidth, kHeight, phase, 0);
  }
  EXPECT_EQ(two.DistinctPhases(), 2);
  EXPECT_FALSE(two.Result());
  EXPECT_EQ(two.Refusal(), analysis::LockInRefusal::FewPhases);

  // A real camera's timestamps jitter: the same two phases then take several whole degrees
  // each, yet still cannot tell sine from cosine. Nor can frames over a small arc.
  LockIn jittered(kWidth, kHeight);
  LockIn arc(kWidth, kHeight);
  for (int k = 0; k < 100; ++k) {
    const double phase = (k % 2 ? 180 : 0) + (k % 5 - 2) * 0.8;
    const std::vector<std::uint8_t> frame = scene.Frame(phase, 0);
    jittered.Add(frame.data(), kWidth, kWidth, kHeight, phase, 0);
    const double near = 0.3 * k;  // 0..30°
    const std::vector<std::uint8_t> arcFrame = scene.Frame(near, 0);
    arc.Add(arcFrame.data(), kWidth, kWidth, kHeight, near, 0);
  }
  EXPECT_GE(jittered.DistinctPhases(), 3);
  EXPECT_EQ(jittered.Refusal(), analysis::LockInRefusal::FewPhases);
  EXPECT_GE(arc.DistinctPhases(), 3);
  EXPECT_EQ(arc.Refusal(), analysis::LockInRefusal::FewPhases);

  // An exposure of a whole period averages the response away: its frames are refused.
  LockIn smeared(kWidth, kHeight);
  for (const double phase : {0.0, 120.0, 240.0}) {
    const std::vector<std::uint8_t> frame = scene.Frame(phase, 0);
    EXPECT_FALSE(smeared.Add(frame.data(), kWidth, kWidth, kHeight, phase, 1.0));
  }
  EXPECT_EQ(smeared.Smeared(), 3u);
  EXPECT_EQ(smeared.DistinctPhases(), 3);  // the phases they took, said with the refusal
  EXPECT_EQ(smeared.Refusal(), analysis::LockInRefusal::Smeared);
  EXPECT_EQ(LockIn(kWidth, kHeight).Refusal(), analysis::LockInRefusal::NoFrames);

  LockIn three(kWidth, kHeight);
  for (const double phase : {0.0, 120.0, 240.0}) {
    const std::vector<std::uint8_t> frame = scene.Frame(phase, 0);
    three.Add(frame.data(), kWidth, kWidth, kHeight, phase, 0);
  }
  EXPECT_EQ(three.Refusal(), analysis::LockInRefusal::None);
  const std::optional<LockInMaps> maps = three.Result();
  ASSERT_TRUE(maps);
  // Rounding to whole grey levels is the only error.
  EXPECT_NEAR(maps->amplitude[0], 40, 0.5);
  EXPECT_NEAR(AngleOff(maps->phaseDeg[0], 30), 0, 1);
  EXPECT_NEAR(maps->amplitude[kWidth - 1], 20, 0.5);
  EXPECT_NEAR(AngleOff(maps->phaseDeg[kWidth - 1], 250), 0, 1.5);
  EXPECT_TRUE(std::isnan(maps->amplitudeSigma[0]));  // three frames leave no freedom
}

// Frames of another size or without a phase are refused; the memory held is the frame's size,
// however many frames were added.
TEST(LockIn, RefusesWhatItCannotPlaceAndHoldsTheSameMemoryForAnyNumberOfFrames) {
  Scene scene;
  LockIn lockIn(kWidth, kHeight);
  const std::vector<std::uint8_t> frame = scene.Frame(0, 0);
  EXPECT_FALSE(lockIn.Add(frame.data(), kWidth, kWidth - 1, kHeight, 0, 0));
  EXPECT_FALSE(lockIn.Add(frame.data(), kWidth, kWidth, kHeight, NAN, 0));
  EXPECT_FALSE(lockIn.Add(nullptr, kWidth, kWidth, kHeight, 0, 0));
  EXPECT_EQ(lockIn.Frames(), 0u);
  ASSERT_TRUE(lockIn.Add(frame.data(), kWidth, kWidth, kHeight, 0, 0));
  const std::size_t first = lockIn.RetainedBytes();
  EXPECT_GE(first, 4u * kWidth * kHeight * sizeof(double));
  for (int k = 1; k < 2000; ++k) lockIn.Add(frame.data(), kWidth, kWidth, kHeight, k * 7.0, 0.1);
  EXPECT_EQ(lockIn.RetainedBytes(), first);
  // A phase beyond a turn, or negative, counts as its place on the circle.
  LockIn wrapped(kWidth, kHeight);
  for (const double phase : {-90.0, 270.0, 630.0})
    wrapped.Add(frame.data(), kWidth, kWidth, kHeight, phase, 0);
  EXPECT_EQ(wrapped.DistinctPhases(), 1);
}

// A camera's BGRx frame is fitted on its luma: a response in the green channel alone shows
// with green's weight (150/256), one in blue alone with blue's (29/256), at its own phase.
TEST(LockIn, AColourFrameIsFittedOnItsLuma) {
  for (const int channel : {0, 1}) {
    SCOPED_TRACE(channel == 0 ? "blue" : "green");
    LockIn lockIn(kWidth, kHeight);
    for (int k = 0; k < 12; ++k) {
      const double phase = 30.0 * k;
      std::vector<std::uint8_t> frame(4 * kWidth * kHeight, 120);
      const auto level = static_cast<std::uint8_t>(
          std::lround(120 + 100 * std::cos((phase - 200) * std::numbers::pi / 180)));
      for (int p = 0; p < kWidth * kHeight; ++p) frame[4 * p + channel] = level;
      ASSERT_TRUE(lockIn.AddBgrx(frame.data(), 4 * kWidth, kWidth, kHeight, phase, 0));
    }
    EXPECT_FALSE(lockIn.AddBgrx(nullptr, 4 * kWidth, kWidth, kHeight, 0, 0));
    const std::optional<LockInMaps> maps = lockIn.Result();
    ASSERT_TRUE(maps);
    EXPECT_NEAR(maps->amplitude[5], 100.0 * (channel == 0 ? 29 : 150) / 256, 1);
    EXPECT_NEAR(AngleOff(maps->phaseDeg[5], 200), 0, channel == 0 ? 3 : 1);
  }
}
