#include "tests/analysis/lamp_scene.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace analysis_testing {

namespace {

constexpr double kTwoPi = 2 * std::numbers::pi;

// An antiderivative of max(0, sin x).
double HalfWaveIntegral(double x) {
  const double periods = std::floor(x / kTwoPi);
  const double y = x - periods * kTwoPi;
  return 2 * periods + (y < std::numbers::pi ? 1 - std::cos(y) : 2);
}

std::uint8_t Grey(double value) {
  return static_cast<std::uint8_t>(std::clamp(std::lround(value), 0L, 255L));
}

}  // namespace

LampCamera::LampCamera(const LampScene& scene)
    : scene_(scene),
      lamp_{scene.width * 20 / 160, scene.height * 20 / 120, scene.width * 48 / 160,
            scene.height * 32 / 120},
      fringes_{scene.width * 96 / 160, 0, scene.width - scene.width * 96 / 160, scene.height},
      band_{scene.width * 80 / 160, 0, scene.width * 16 / 160, scene.height},
      random_(scene.seed),
      stride_(scene.width * 4 + scene.rowPadding),
      pixels_(static_cast<std::size_t>(stride_) * scene.height, 255) {
  // Noise from a table, read from a random place each frame: cheap enough for big pictures.
  noise_.assign(1 << 16, 0.0F);
  if (scene.noise > 0) {
    std::normal_distribution<float> normal(0, static_cast<float>(scene.noise));
    for (float& n : noise_) n = normal(random_);
  }
}

void LampCamera::StartTone(double hz) {
  hz_ = hz;
  tone_start_s_ = static_cast<double>(frame_) / scene_.framesPerSecond;
  tone_phase_deg_ = std::uniform_real_distribution<double>(0, 360)(random_);
}

LampCamera::Frame LampCamera::Next() {
  const double endS = static_cast<double>(frame_++) / scene_.framesPerSecond;
  const double exposureS = scene_.exposureMs / 1000;
  const double jitterS = scene_.jitterMs > 0
                             ? std::normal_distribution<double>(0, scene_.jitterMs / 1000)(random_)
                             : 0;
  const double stampS = endS + scene_.delayMs / 1000 + jitterS;
  const double start = tone_phase_deg_ / 360 * kTwoPi;
  const double x1 = start + (scene_.followsTone ? kTwoPi * hz_ * (endS - tone_start_s_) : 1.0);
  const double x0 = x1 - kTwoPi * hz_ * exposureS;
  // The exposure's averages of max(0, sin) and of sin at a fringe's phase.
  const double halfWave = x1 - x0 > 1e-12
                              ? (HalfWaveIntegral(x1) - HalfWaveIntegral(x0)) / (x1 - x0)
                              : std::max(0.0, std::sin(x1));
  const double lamp = scene_.inverted ? 1 - halfWave : halfWave;
  const auto fringe = [&](double shift) {
    return x1 - x0 > 1e-12 ? (std::cos(x0 + shift) - std::cos(x1 + shift)) / (x1 - x0)
                           : std::sin(x1 + shift);
  };
  // Per fringe column, its level before noise.
  std::vector<double> fringeLevel(fringes_.width);
  const double wavelength = scene_.width * 48.0 / 160;
  for (int c = 0; c < fringes_.width; ++c)
    fringeLevel[c] = 110 + 40 * fringe(kTwoPi * c / wavelength - 37.5 / 360 * kTwoPi);

  std::size_t n = std::uniform_int_distribution<std::size_t>(0, noise_.size() - 1)(random_);
  const auto noise = [&] {
    n = (n + 1) & (noise_.size() - 1);
    return noise_[n];
  };
  const double shift =
      scene_.flicker > 0 ? std::normal_distribution<double>(0, scene_.flicker)(random_) : 0;
  const double lampLevel = 20 + 150 * lamp + shift;
  const double bandLevel = 110 + 40 * fringe(120 / 360.0 * kTwoPi) + shift;
  for (int y = 0; y < scene_.height; ++y) {
    std::uint8_t* p = &pixels_[static_cast<std::size_t>(y) * stride_];
    const bool lampRow = y >= lamp_.y && y < lamp_.y + lamp_.height;
    for (int x = 0; x < scene_.width; ++x, p += 4) {
      double level = 60 + shift;
      if (lampRow && x >= lamp_.x && x < lamp_.x + lamp_.width)
        level = lampLevel;
      else if (scene_.fringes && x >= fringes_.x)
        level = fringeLevel[x - fringes_.x] + shift;
      else if (scene_.fringes && x >= band_.x && x < band_.x + band_.width)
        level = bandLevel;
      const std::uint8_t grey = Grey(level + noise());
      p[0] = p[1] = p[2] = grey;
      p[3] = 255;
    }
  }
  const double phase = tone_phase_deg_ + 360 * hz_ * (stampS - tone_start_s_);
  return {{pixels_.data(), scene_.width, scene_.height, stride_},
          std::fmod(std::fmod(phase, 360) + 360, 360)};
}

void LampCamera::Feed(analysis::DelayCalibrator& calibrator, int segment, double hz,
                      double seconds) {
  StartTone(hz);
  const auto frames = std::lround(seconds * scene_.framesPerSecond);
  for (long i = 0; i < frames; ++i) {
    const Frame frame = Next();
    calibrator.Add(segment, frame.view, frame.tonePhaseDeg);
  }
}

}  // namespace analysis_testing
