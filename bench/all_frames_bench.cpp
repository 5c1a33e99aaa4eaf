// The analysis of every frame, alone: the lock-in fit and the phase bins fed synthetic BGRx
// frames whose response is known, at 640 x 480 @ 30 and 1280 x 720 @ 60 frames a second. Prints
// the share of a core each takes at the camera's rate (the analysis runs on a thread of its own
// beside the camera's) and how far the fitted amplitude and phase are from the truth.
//
// bench_all_frames [SECONDS_OF_FRAMES]   (default 20 s of frames each)

#include <QCoreApplication>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>
#include <vector>

#include "analysis/lock_in.h"
#include "analysis/phase_bins.h"
#include "bench/bench_support.h"

namespace {

// Four regions across the frame: amplitudes 80, 40, 20, 8 grey levels at 0°, 90°, 200°, 300°,
// about a level of 120, Gaussian noise of 2 levels, rounded as a camera rounds.
constexpr double kAmplitude[] = {80, 40, 20, 8};
constexpr double kPhase[] = {0, 90, 200, 300};

struct Case {
  int width, height;
  double fps;
};

void Measure(const Case& c, double seconds, double toneHz, double exposureMs) {
  const int frames = static_cast<int>(seconds * c.fps);
  const double periods = exposureMs * toneHz / 1000;
  const double smear = std::sin(std::numbers::pi * periods) / (std::numbers::pi * periods);
  std::mt19937 random(7);
  std::normal_distribution<double> noise(0, 2);
  // A few frames' worth of noise, reused: drawing it would cost more than the fit.
  std::vector<float> grain(static_cast<std::size_t>(c.width) * c.height * 3);
  for (float& g : grain) g = static_cast<float>(noise(random));
  std::vector<std::uint8_t> frame(static_cast<std::size_t>(c.width) * c.height * 4, 255);
  analysis::LockIn lockIn(c.width, c.height);
  analysis::PhaseBins bins(36, 636, 476, true);
  double lockInCpu = 0, binsCpu = 0;
  for (int k = 0; k < frames; ++k) {
    const double t = k / c.fps;
    // The exposure's middle, at a phase that drifts over the period (a tone not commensurate
    // with the frame rate).
    const double phase = std::fmod(360 * toneHz * t, 360.0);
    double level[4];
    for (int r = 0; r < 4; ++r)
      level[r] =
          120 + smear * kAmplitude[r] * std::cos((phase - kPhase[r]) * std::numbers::pi / 180);
    const std::size_t offset = static_cast<std::size_t>(k % 3) * c.width * c.height;
    for (int y = 0; y < c.height; ++y)
      for (int x = 0; x < c.width; ++x) {
        const std::size_t p = static_cast<std::size_t>(y) * c.width + x;
        const double v = level[4 * x / c.width] + grain[offset + p];
        const auto grey = static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 255.0)));
        frame[4 * p] = frame[4 * p + 1] = frame[4 * p + 2] = grey;
      }
    double before = bench::CpuSeconds(RUSAGE_THREAD);
    lockIn.AddBgrx(frame.data(), 4 * c.width, c.width, c.height, phase, periods);
    double after = bench::CpuSeconds(RUSAGE_THREAD);
    lockInCpu += after - before;
    bins.Add(frame.data(), 4 * c.width, c.width, c.height, phase);
    binsCpu += bench::CpuSeconds(RUSAGE_THREAD) - after;
  }
  double resultCpu = bench::CpuSeconds(RUSAGE_THREAD);
  const std::optional<analysis::LockInMaps> maps = lockIn.Result();
  resultCpu = bench::CpuSeconds(RUSAGE_THREAD) - resultCpu;
  std::printf("%d x %d @ %g, %d frames (%g s), tone %g Hz, exposure %g ms:\n", c.width, c.height,
              c.fps, frames, seconds, toneHz, exposureMs);
  std::printf("  lock-in: %.3f of a core (target <= 0.3 at 1280 x 720 @ 60); %.2f ms a frame\n",
              lockInCpu / seconds, 1000 * lockInCpu / frames);
  std::printf("  phase bins (36 of 636 x 476): %.3f of a core; %.2f ms a frame\n",
              binsCpu / seconds, 1000 * binsCpu / frames);
  std::printf("  maps made in %.0f ms; memory: lock-in %.1f MB, bins %.1f MB\n", 1000 * resultCpu,
              lockIn.RetainedBytes() / 1e6, bins.RetainedBytes() / 1e6);
  if (!maps) {
    std::printf("  no maps: %d distinct phases\n", lockIn.DistinctPhases());
    return;
  }
  for (int r = 0; r < 4; ++r) {
    // The region's middle column, every row: the worst pixel and the mean.
    const int x = (2 * r + 1) * c.width / 8;
    double worstAmplitude = 0, worstPhase = 0, sigma = 0;
    for (int y = 0; y < c.height; ++y) {
      const std::size_t p = static_cast<std::size_t>(y) * c.width + x;
      worstAmplitude =
          std::max(worstAmplitude, std::abs(maps->amplitude[p] - kAmplitude[r]) / kAmplitude[r]);
      worstPhase =
          std::max(worstPhase, std::abs(std::remainder(maps->phaseDeg[p] - kPhase[r], 360.0)));
      sigma += maps->phaseSigmaDeg[p];
    }
    std::printf(
        "  region %g at %g deg: worst pixel amplitude off %.2f %%, phase off %.2f deg (sigma "
        "%.2f deg) (targets 2 %%, 2 deg)\n",
        kAmplitude[r], kPhase[r], 100 * worstAmplitude, worstPhase, sigma / c.height);
  }
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const double seconds = argc > 1 ? std::max(1.0, std::atof(argv[1])) : 20;
  Measure({640, 480, 30}, seconds, 7.25, 10);
  Measure({1280, 720, 60}, seconds, 7.25, 5);
  return 0;
}
