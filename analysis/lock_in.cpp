#include "analysis/lock_in.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace analysis {

namespace {

// sin(πT) / (πT): the response a box exposure over the fraction T of a period keeps.
double Smear(double periods) {
  const double x = std::numbers::pi * periods;
  return std::abs(x) < 1e-9 ? 1.0 : std::sin(x) / x;
}

using Matrix = std::array<std::array<double, 3>, 3>;

// The inverse of a symmetric 3 x 3 matrix; none when it is singular (relative to its size).
std::optional<Matrix> Inverse(const double (&m)[3][3]) {
  const double c00 = m[1][1] * m[2][2] - m[1][2] * m[2][1];
  const double c01 = m[1][2] * m[2][0] - m[1][0] * m[2][2];
  const double c02 = m[1][0] * m[2][1] - m[1][1] * m[2][0];
  const double det = m[0][0] * c00 + m[0][1] * c01 + m[0][2] * c02;
  const double scale = std::abs(m[0][0] * m[1][1] * m[2][2]);
  if (!(scale > 0) || !(std::abs(det) > 1e-9 * scale)) return std::nullopt;
  Matrix inv;
  inv[0][0] = c00 / det;
  inv[0][1] = (m[0][2] * m[2][1] - m[0][1] * m[2][2]) / det;
  inv[0][2] = (m[0][1] * m[1][2] - m[0][2] * m[1][1]) / det;
  inv[1][0] = c01 / det;
  inv[1][1] = (m[0][0] * m[2][2] - m[0][2] * m[2][0]) / det;
  inv[1][2] = (m[0][2] * m[1][0] - m[0][0] * m[1][2]) / det;
  inv[2][0] = c02 / det;
  inv[2][1] = (m[0][1] * m[2][0] - m[0][0] * m[2][1]) / det;
  inv[2][2] = (m[0][0] * m[1][1] - m[0][1] * m[1][0]) / det;
  return inv;
}

}  // namespace

LockIn::LockIn(int width, int height)
    : width_(width > 0 ? width : 0),
      height_(height > 0 ? height : 0),
      sum_i_(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_)),
      sum_ic_(sum_i_.size()),
      sum_is_(sum_i_.size()),
      sum_ii_(sum_i_.size()),
      phases_seen_(kPhaseBins) {}

std::optional<std::array<double, 2>> LockIn::Weigh(const std::uint8_t* rows, int stride, int width,
                                                   int height, int bytesPerPixel, double phaseDeg,
                                                   double exposurePeriods) {
  if (!rows || width != width_ || height != height_ || stride < width * bytesPerPixel ||
      width_ == 0 || !std::isfinite(phaseDeg) || !std::isfinite(exposurePeriods))
    return std::nullopt;
  // The phases the frames took, whether or not their exposure leaves a response to fit.
  const long whole = std::lround(std::fmod(std::fmod(phaseDeg, 360.0) + 360.0, 360.0));
  phases_seen_[static_cast<std::size_t>(whole % kPhaseBins)] = true;
  // Beyond a period the box's response changes sign (the phase turns over) and fades: a frame
  // that keeps too little of it would only add noise, divided up.
  const double s = Smear(std::max(exposurePeriods, 0.0));
  if (std::abs(s) < kLeastSmear) {
    ++smeared_;
    return std::nullopt;
  }
  const double phase = phaseDeg * std::numbers::pi / 180;
  const double c = s * std::cos(phase);
  const double sn = s * std::sin(phase);
  const double row[3] = {1, c, sn};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) m_[i][j] += row[i] * row[j];
  ++frames_;
  return std::array<double, 2>{c, sn};
}

template <class Grey>
void LockIn::Accumulate(const std::uint8_t* rows, int stride, std::array<double, 2> weights,
                        Grey grey) {
  const auto [c, sn] = weights;
  for (int y = 0; y < height_; ++y) {
    const std::uint8_t* line = rows + static_cast<std::ptrdiff_t>(y) * stride;
    const std::size_t base = static_cast<std::size_t>(y) * static_cast<std::size_t>(width_);
    double* const si = sum_i_.data() + base;
    double* const sc = sum_ic_.data() + base;
    double* const ss = sum_is_.data() + base;
    double* const sq = sum_ii_.data() + base;
    for (int x = 0; x < width_; ++x) {
      const double v = grey(line, x);
      si[x] += v;
      sc[x] += v * c;
      ss[x] += v * sn;
      sq[x] += v * v;
    }
  }
}

bool LockIn::Add(const std::uint8_t* rows, int stride, int width, int height, double phaseDeg,
                 double exposurePeriods) {
  const auto weights = Weigh(rows, stride, width, height, 1, phaseDeg, exposurePeriods);
  if (!weights) return false;
  Accumulate(rows, stride, *weights, [](const std::uint8_t* line, int x) { return line[x]; });
  return true;
}

bool LockIn::AddBgrx(const std::uint8_t* rows, int stride, int width, int height, double phaseDeg,
                     double exposurePeriods) {
  const auto weights = Weigh(rows, stride, width, height, 4, phaseDeg, exposurePeriods);
  if (!weights) return false;
  Accumulate(rows, stride, *weights, [](const std::uint8_t* line, int x) {
    const std::uint8_t* p = line + 4 * x;
    return (29 * p[0] + 150 * p[1] + 77 * p[2] + 128) >> 8;
  });
  return true;
}

int LockIn::DistinctPhases() const {
  int count = 0;
  for (const bool seen : phases_seen_) count += seen ? 1 : 0;
  return count;
}

LockInRefusal LockIn::Refusal() const {
  if (frames_ == 0) return smeared_ > 0 ? LockInRefusal::Smeared : LockInRefusal::NoFrames;
  // Phases of smeared frames count above but not in the fit: the fit's own frames decide.
  if (DistinctPhases() < 3) return LockInRefusal::FewPhases;
  // The covariance of the weights (s cos φ, s sin φ) over the frames, and how round it is.
  const double n = m_[0][0];
  const double cc = m_[1][1] / n - (m_[0][1] / n) * (m_[0][1] / n);
  const double ss = m_[2][2] / n - (m_[0][2] / n) * (m_[0][2] / n);
  const double cs = m_[1][2] / n - (m_[0][1] / n) * (m_[0][2] / n);
  const double half = (cc + ss) / 2;
  const double radius = std::hypot((cc - ss) / 2, cs);
  if (!(half - radius >= kLeastSpread * (half + radius))) return LockInRefusal::FewPhases;
  if (!Inverse(m_)) return LockInRefusal::FewPhases;
  return LockInRefusal::None;
}

std::optional<LockInMaps> LockIn::Result() const {
  if (Refusal() != LockInRefusal::None) return std::nullopt;
  const int distinct = DistinctPhases();
  const std::optional<Matrix> inverse = Inverse(m_);
  if (!inverse) return std::nullopt;
  const Matrix& v = *inverse;
  LockInMaps maps;
  maps.width = width_;
  maps.height = height_;
  maps.frames = frames_;
  maps.distinctPhases = distinct;
  const std::size_t pixels = sum_i_.size();
  maps.amplitude.resize(pixels);
  maps.phaseDeg.resize(pixels);
  maps.offset.resize(pixels);
  maps.amplitudeSigma.resize(pixels);
  maps.phaseSigmaDeg.resize(pixels);
  const double freedom = static_cast<double>(frames_) - 3;
  for (std::size_t p = 0; p < pixels; ++p) {
    const double y[3] = {sum_i_[p], sum_ic_[p], sum_is_[p]};
    double beta[3];
    for (int i = 0; i < 3; ++i) beta[i] = v[i][0] * y[0] + v[i][1] * y[1] + v[i][2] * y[2];
    const double a = beta[1];
    const double b = beta[2];
    const double amplitude = std::hypot(a, b);
    double phase = std::atan2(b, a) * 180 / std::numbers::pi;
    if (phase < 0) phase += 360;
    maps.offset[p] = static_cast<float>(beta[0]);
    maps.amplitude[p] = static_cast<float>(amplitude);
    maps.phaseDeg[p] = static_cast<float>(phase >= 360 ? 0 : phase);
    // The residual sum of squares of a least-squares fit: Σ I² less β·Xᵀy.
    if (freedom > 0) {
      const double residual =
          std::max(0.0, sum_ii_[p] - (beta[0] * y[0] + beta[1] * y[1] + beta[2] * y[2]));
      const double variance = residual / freedom;
      // The amplitude's variance along its own direction, and across it for the phase.
      const double ca = amplitude > 0 ? a / amplitude : 1;
      const double cb = amplitude > 0 ? b / amplitude : 0;
      const double along =
          variance * (ca * ca * v[1][1] + 2 * ca * cb * v[1][2] + cb * cb * v[2][2]);
      const double across =
          variance * (cb * cb * v[1][1] - 2 * ca * cb * v[1][2] + ca * ca * v[2][2]);
      maps.amplitudeSigma[p] = static_cast<float>(std::sqrt(std::max(0.0, along)));
      const double phaseSigma =
          amplitude > 0 ? std::sqrt(std::max(0.0, across)) / amplitude : INFINITY;
      maps.phaseSigmaDeg[p] =
          static_cast<float>(std::min(180.0, phaseSigma * 180 / std::numbers::pi));
    } else {
      maps.amplitudeSigma[p] = NAN;
      maps.phaseSigmaDeg[p] = NAN;
    }
  }
  return maps;
}

std::size_t LockIn::RetainedBytes() const {
  return sizeof(*this) + 4 * sum_i_.capacity() * sizeof(double) + phases_seen_.capacity() / 8;
}

}  // namespace analysis
