// The delay calibration: the time one frame takes by picture size (the calibrator must keep
// up with 1920x1080 at 60 frames/s on one core), then the fitted delay's error and sigma over
// a grid of synthetic lamps: delays, exposures and frame rates, 1 ms of timestamp jitter, 10 s
// of each tone.
//
//   bench_calibration

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>
#include <vector>

#include "analysis/delay_calibration.h"
#include "tests/analysis/lamp_scene.h"

namespace {

using analysis::CalibrationResult;
using analysis::DelayCalibrator;
using analysis_testing::LampCamera;
using analysis_testing::LampScene;

double NowMs() {
  return std::chrono::duration<double, std::milli>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

const char* FailureName(CalibrationResult::Failure failure) {
  switch (failure) {
    case CalibrationResult::Failure::None:
      return "ok";
    case CalibrationResult::Failure::TooFewFrames:
      return "too few frames";
    case CalibrationResult::Failure::Aliased:
      return "aliased";
    case CalibrationResult::Failure::NoResponse:
      return "no response";
    case CalibrationResult::Failure::Inconsistent:
      return "inconsistent";
  }
  return "?";
}

// Frames rendered beforehand, so that only the calibrator is timed.
void TimePerFrame(int width, int height) {
  LampScene scene;
  scene.width = width;
  scene.height = height;
  LampCamera camera(scene);
  camera.StartTone(4.75);
  constexpr int kRendered = 16;
  std::vector<std::vector<std::uint8_t>> pictures;
  std::vector<double> phases;
  for (int i = 0; i < kRendered; ++i) {
    const LampCamera::Frame frame = camera.Next();
    const auto bytes = static_cast<std::size_t>(frame.view.stride) * frame.view.height;
    pictures.emplace_back(frame.view.bgrx, frame.view.bgrx + bytes);
    phases.push_back(frame.tonePhaseDeg);
  }
  DelayCalibrator calibrator({4, 4.75});
  constexpr int kFrames = 600;
  std::vector<double> times;
  for (int i = 0; i < kFrames; ++i) {
    const int k = i % kRendered;
    const double start = NowMs();
    calibrator.Add(i < kFrames / 2 ? 0 : 1, {pictures[k].data(), width, height, width * 4},
                   phases[k]);
    times.push_back(NowMs() - start);
  }
  std::sort(times.begin(), times.end());
  double sum = 0;
  for (const double t : times) sum += t;
  const double finishStart = NowMs();
  const CalibrationResult result = calibrator.Finish(10);
  const double finishMs = NowMs() - finishStart;
  std::printf(
      "%4dx%-4d  per frame: mean %.3f ms, median %.3f ms, 99%% %.3f ms, max %.3f ms"
      " (budget at 60 frames/s: 16.7 ms); finish %.1f ms; retained %zu KiB (%s)\n",
      width, height, sum / kFrames, times[kFrames / 2], times[kFrames * 99 / 100], times.back(),
      finishMs, calibrator.RetainedBytes() / 1024, FailureName(result.failure));
}

}  // namespace

int main() {
  std::printf("Time per frame (600 frames of a lamp scene)\n");
  TimePerFrame(640, 480);
  TimePerFrame(1280, 720);
  TimePerFrame(1920, 1080);

  std::printf(
      "\nFitted delay, 320x240 lamp scene with fringes, 1 ms jitter, noise 3 grey "
      "levels, 10 s per tone, exposure given\n");
  std::printf("%5s %5s %6s %7s  %9s %9s %8s %9s  %s\n", "fps", "exp", "delay", "tones", "error ms",
              "sigma ms", "err/sig", "inverted", "result");
  double worstError = 0, worstRatio = 0, worstSigma = 0;
  int failures = 0;
  for (const double fps : {30.0, 60.0}) {
    for (const double exposureMs : {1.0, 10.0, 33.0}) {
      for (const double delayMs : {0.0, 40.0, 120.0, 200.0, 350.0}) {
        LampScene scene;
        scene.width = 320;
        scene.height = 240;
        scene.framesPerSecond = fps;
        scene.exposureMs = exposureMs;
        scene.delayMs = delayMs;
        scene.jitterMs = 1;
        scene.seed = static_cast<std::uint32_t>(fps * 1000 + exposureMs * 100 + delayMs);
        // Every other case inverted, so both polarities are seen.
        scene.inverted = static_cast<int>(delayMs / 40 + exposureMs) % 2 == 1;
        const auto tones = analysis::CalibrationTones(fps);
        DelayCalibrator calibrator({tones[0], tones[1]});
        LampCamera camera(scene);
        camera.Feed(calibrator, 0, tones[0], 10);
        camera.Feed(calibrator, 1, tones[1], 10);
        const CalibrationResult r = calibrator.Finish(exposureMs);
        const double error = r.delayMs - delayMs;
        const bool ok = r.failure == CalibrationResult::Failure::None;
        if (ok && r.inverted == scene.inverted) {
          worstError = std::max(worstError, std::abs(error));
          worstRatio = std::max(worstRatio, std::abs(error) / r.uncertaintyMs);
          worstSigma = std::max(worstSigma, r.uncertaintyMs);
        } else {
          ++failures;
        }
        std::printf("%5.0f %5.0f %6.0f %3.2f/%3.2f %+9.3f %9.3f %8.2f %5s/%-3s  %s\n", fps,
                    exposureMs, delayMs, tones[0], tones[1], error, r.uncertaintyMs,
                    std::abs(error) / r.uncertaintyMs, r.inverted ? "yes" : "no",
                    scene.inverted ? "yes" : "no", FailureName(r.failure));
      }
    }
  }
  std::printf(
      "worst |error| %.3f ms, worst |error|/sigma %.2f, largest sigma %.3f ms, "
      "failures or wrong polarity %d\n",
      worstError, worstRatio, worstSigma, failures);
  return failures == 0 ? 0 : 1;
}
