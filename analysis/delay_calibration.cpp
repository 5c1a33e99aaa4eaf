#include "analysis/delay_calibration.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <numbers>
#include <stdexcept>
#include <utility>

namespace analysis {

namespace {

constexpr int kTerms = 7;
constexpr int kSums = kTerms + 1;  // the right-hand side, then the sum of squares
constexpr int kBlockSize = 16;     // pixels
constexpr int kSampleStep = 2;     // every other pixel of every other row: a quarter of them
constexpr std::size_t kMinFrames = 30;
// A block follows the tone when its fundamental stands this many sigmas above the noise and
// above a floor that a flat picture (no noise, no response) cannot pass.
constexpr double kSignificance = 8;
constexpr double kMinAmplitude = 0.5;  // grey levels
// Blocks joined to the strongest one: its neighbours, theirs and so on, whose phase is this
// close to its own in every segment. Fringes elsewhere follow the tone at other phases; a
// rolling shutter turns the phase slowly down the picture.
constexpr double kPhaseToleranceDeg = 30;
// Segments agree when their lags differ by at most this many sigmas, where each sigma has
// this much added for what the fit does not see (the light's harmonics the fit leaves out,
// the sound output's own phase).
constexpr double kAgreeSigmas = 4;
constexpr double kSystematicMs = 1;
constexpr double kDegPerRad = 180 / std::numbers::pi;

double Wrap360(double deg) {
  const double wrapped = std::fmod(deg, 360.0);
  return wrapped < 0 ? wrapped + 360 : wrapped;
}

double Wrap180(double deg) {
  const double wrapped = Wrap360(deg);
  return wrapped > 180 ? wrapped - 360 : wrapped;
}

// The fit's terms at the tone's phase.
std::array<double, kTerms> Terms(double phaseDeg) {
  const double x = phaseDeg / kDegPerRad;
  return {1,
          std::sin(x),
          std::cos(x),
          std::sin(2 * x),
          std::cos(2 * x),
          std::sin(3 * x),
          std::cos(3 * x)};
}

// Cholesky factor of the normal matrix, lower triangle; none when a pivot is too small for
// a fit (the frames' phases repeat a few values only).
std::optional<std::array<double, kTerms * kTerms>> Cholesky(
    const std::array<double, kTerms * kTerms>& normal, double frames) {
  std::array<double, kTerms * kTerms> l{};
  for (int j = 0; j < kTerms; ++j) {
    double d = normal[j * kTerms + j];
    for (int k = 0; k < j; ++k) d -= l[j * kTerms + k] * l[j * kTerms + k];
    // Terms over phases spread around the circle give pivots near frames / 2.
    if (!(d > 1e-3 * frames)) return std::nullopt;
    l[j * kTerms + j] = std::sqrt(d);
    for (int i = j + 1; i < kTerms; ++i) {
      double s = normal[i * kTerms + j];
      for (int k = 0; k < j; ++k) s -= l[i * kTerms + k] * l[j * kTerms + k];
      l[i * kTerms + j] = s / l[j * kTerms + j];
    }
  }
  return l;
}

std::array<double, kTerms> Solve(const std::array<double, kTerms * kTerms>& l, const double* b) {
  std::array<double, kTerms> y{};
  for (int i = 0; i < kTerms; ++i) {
    double s = b[i];
    for (int k = 0; k < i; ++k) s -= l[i * kTerms + k] * y[k];
    y[i] = s / l[i * kTerms + i];
  }
  for (int i = kTerms - 1; i >= 0; --i) {
    double s = y[i];
    for (int k = i + 1; k < kTerms; ++k) s -= l[k * kTerms + i] * y[k];
    y[i] = s / l[i * kTerms + i];
  }
  return y;
}

struct BlockFit {
  bool responds = false;
  double amplitude = 0;
  double phaseDeg = 0;
  double phaseSigmaDeg = 0;
};

// Each block's fundamental in one segment.
std::vector<BlockFit> FitBlocks(const std::array<double, kTerms * kTerms>& l,
                                const std::vector<double>& sums, std::size_t frames) {
  // The covariance of the fundamental's sine and cosine coefficients, per unit of noise
  // variance: those entries of the normal matrix's inverse.
  std::array<double, kTerms> e1{}, e2{};
  e1[1] = 1;
  e2[2] = 1;
  const auto inv1 = Solve(l, e1.data());
  const auto inv2 = Solve(l, e2.data());
  const double vss = inv1[1], vcc = inv2[2], vsc = inv1[2];
  const auto dof = static_cast<double>(frames - kTerms);

  std::vector<BlockFit> fits(sums.size() / kSums);
  for (std::size_t b = 0; b < fits.size(); ++b) {
    const double* r = &sums[b * kSums];
    const auto c = Solve(l, r);
    double explained = 0;
    for (int i = 0; i < kTerms; ++i) explained += c[i] * r[i];
    const double variance = std::max(0.0, r[kTerms] - explained) / dof;
    const double s = c[1], co = c[2];
    const double amplitude = std::hypot(s, co);
    const double noise = std::sqrt(variance * (vss + vcc) / 2);
    BlockFit& fit = fits[b];
    fit.amplitude = amplitude;
    fit.responds = amplitude >= kMinAmplitude && amplitude > kSignificance * noise;
    if (!fit.responds) continue;
    // s sin(phi) + co cos(phi) = amplitude sin(phi + phase); the phase's error is the
    // coefficients' error across the direction (s, co).
    fit.phaseDeg = std::atan2(co, s) * kDegPerRad;
    const double ts = -co / amplitude, tc = s / amplitude;
    const double across = variance * (ts * ts * vss + 2 * ts * tc * vsc + tc * tc * vcc);
    // A noiseless synthetic picture fits exactly; keep the weights finite.
    fit.phaseSigmaDeg = std::max(std::sqrt(across) / amplitude * kDegPerRad, 1e-6);
  }
  return fits;
}

}  // namespace

UnfoldedLag UnfoldLag(std::span<const SegmentPhase> segments) {
  UnfoldedLag best;
  if (segments.empty()) return best;
  const std::size_t n = segments.size();
  std::vector<double> periods(n), sigmas(n), lags(n);
  for (std::size_t s = 0; s < n; ++s) {
    periods[s] = 1000 / segments[s].toneHz;
    // A phase fitted without noise still gets a finite weight.
    sigmas[s] = std::max(segments[s].sigmaDeg, 1e-6) / 360 * periods[s];
  }
  if (n == 1) {
    // Nothing to unfold with, nor to tell the polarity by.
    return {true, false, Wrap360(-segments[0].phaseDeg) / 360 * periods[0], sigmas[0]};
  }
  double bestChi2 = 0;
  bool found = false;
  int agreeing = 0;
  for (const bool inverted : {false, true}) {
    std::vector<double> modulo(n);
    for (std::size_t s = 0; s < n; ++s)
      modulo[s] = Wrap360((inverted ? 180 : 0) - segments[s].phaseDeg) / 360 * periods[s];
    // Each of the first segment's periods in range, with the nearest lag of every other.
    const int lastPeriod = static_cast<int>(std::ceil(kMaxLagMs / periods[0])) + 1;
    for (int k = -1; k <= lastPeriod; ++k) {
      const double candidate = modulo[0] + k * periods[0];
      double weighted = 0, weights = 0, weightedEff = 0, weightsEff = 0;
      for (std::size_t s = 0; s < n; ++s) {
        lags[s] = modulo[s] + std::round((candidate - modulo[s]) / periods[s]) * periods[s];
        const double w = 1 / (sigmas[s] * sigmas[s]);
        const double wEff = 1 / (sigmas[s] * sigmas[s] + kSystematicMs * kSystematicMs);
        weighted += w * lags[s];
        weights += w;
        weightedEff += wEff * lags[s];
        weightsEff += wEff;
      }
      const double lag = weighted / weights;
      if (lag < kMinLagMs || lag > kMaxLagMs) continue;
      const double lagEff = weightedEff / weightsEff;
      double chi2 = 0;
      for (std::size_t s = 0; s < n; ++s) {
        const double d = lags[s] - lagEff;
        chi2 += d * d / (sigmas[s] * sigmas[s] + kSystematicMs * kSystematicMs);
      }
      // The sum of n squared normal errors about their mean has n - 1 degrees of freedom.
      if (chi2 <= kAgreeSigmas * kAgreeSigmas * static_cast<double>(n - 1)) ++agreeing;
      if (!found || chi2 < bestChi2) {
        found = true;
        bestChi2 = chi2;
        best = {false, inverted, lag, 1 / std::sqrt(weights)};
      }
    }
  }
  best.consistent = found && agreeing == 1 &&
                    bestChi2 <= kAgreeSigmas * kAgreeSigmas * static_cast<double>(n - 1);
  return best;
}

// The tones are N/4 Hz: the generator takes N over an even denominator, and quarter-hertz
// steps are fine enough. The choice, for each common frame rate F:
// - Precision grows with the higher tone, but both tones together must place tau within
//   0..1100 ms and tell the polarity with a wide margin. Each lag and polarity is a line on
//   the torus of the two phases; the more periods the range spans, the closer its wrong
//   neighbours come. Among the pairs that keep every wrong lag or polarity at least 20
//   degrees of phase away (the root of the sum of the squares of the two phases' errors;
//   22 at 30 to 60 frames/s, 26 at 15, where a calibration's phase sigma is a fraction of a
//   degree), the one with the highest tone.
// - f/F is a fraction with a denominator of at least 15, so the frames' phases take at least
//   15 values and the fit's harmonics 2 and 3 stay apart from the fundamental; the light's
//   harmonics up to the 8th fall at least 0.03 cycles a frame from it, also 1 % off the
//   nominal frame rate; so does the flicker of 50 and 60 Hz mains lamps (100 and 120 Hz).
//   (4 Hz at 20 or 24 frames/s would see 5 or 6 phases only: hence a table.)
// - The tones stay below F / 3.75: an exposure of a whole frame keeps at least 88 % of the
//   fundamental (sinc of pi f e), and the fundamental's phase stays at the exposure's middle.
// - Tones of a few hertz pass an AC-coupled sound output with a phase lead of
//   atan(fc / f) for its high-pass corner fc, which the fit cannot tell from the camera's
//   delay: outputs with a corner well below 1 Hz (or a DC-coupled driver) serve best.
// Below 12 frames/s no pair meets all of this; such a camera gets the 12 frames/s pair.
std::array<double, 2> CalibrationTones(double framesPerSecond) {
  struct Pair {
    double fps;
    std::array<double, 2> hz;
  };
  static constexpr Pair kPairs[] = {
      {12, {2.25, 2.75}}, {15, {3.25, 4.0}}, {20, {3.0, 5.25}}, {24, {2.25, 3.25}},
      {25, {3.0, 3.75}},  {30, {4.0, 4.75}}, {50, {4.0, 4.75}}, {60, {4.0, 4.75}},
  };
  // The nearest rate by ratio (29.97 is 30).
  const Pair* nearest = &kPairs[0];
  for (const Pair& pair : kPairs) {
    if (std::abs(std::log(framesPerSecond / pair.fps)) <
        std::abs(std::log(framesPerSecond / nearest->fps)))
      nearest = &pair;
  }
  return nearest->hz;
}

DelayCalibrator::DelayCalibrator(const std::vector<double>& toneHz) {
  if (toneHz.empty()) throw std::invalid_argument("no calibration tone");
  for (const double hz : toneHz) {
    if (!(hz > 0)) throw std::invalid_argument("calibration tone not above 0 Hz");
    segments_.push_back(Segment{hz, 0, {}, {}});
  }
}

void DelayCalibrator::Setup(int width, int height) {
  width_ = width;
  height_ = height;
  blocks_x_ = (width + kBlockSize - 1) / kBlockSize;
  blocks_y_ = (height + kBlockSize - 1) / kBlockSize;
  const std::size_t blocks = static_cast<std::size_t>(blocks_x_) * blocks_y_;
  for (Segment& segment : segments_) segment.sums.assign(blocks * kSums, 0.0);
  offsets_.assign(blocks, 0.0F);
  means_.assign(blocks, 0.0F);
  row_sums_.assign(blocks_x_, 0);
  samples_.resize(blocks);
  // Samples at even coordinates; an edge block may be narrower or lower.
  const auto sampled = [](int extent) { return (extent + kSampleStep - 1) / kSampleStep; };
  for (int by = 0; by < blocks_y_; ++by)
    for (int bx = 0; bx < blocks_x_; ++bx)
      samples_[by * blocks_x_ + bx] =
          static_cast<float>(sampled(std::min(kBlockSize, width - bx * kBlockSize)) *
                             sampled(std::min(kBlockSize, height - by * kBlockSize)));
}

void DelayCalibrator::BlockMeans(const FrameView& frame) {
  static_assert(kBlockSize % kSampleStep == 0);
  for (int by = 0; by < blocks_y_; ++by) {
    std::fill(row_sums_.begin(), row_sums_.end(), 0);
    const int rowEnd = std::min(height_, (by + 1) * kBlockSize);
    for (int y = by * kBlockSize; y < rowEnd; y += kSampleStep) {
      const std::uint8_t* row = frame.bgrx + static_cast<std::ptrdiff_t>(y) * frame.stride;
      for (int bx = 0; bx < blocks_x_; ++bx) {
        const int xEnd = std::min(width_, (bx + 1) * kBlockSize);
        std::uint32_t sum = 0;
        for (int x = bx * kBlockSize; x < xEnd; x += kSampleStep) {
          const std::uint8_t* p = row + 4 * x;
          // Luma, BT.601 weights in 256ths.
          sum += 29U * p[0] + 150U * p[1] + 77U * p[2];
        }
        row_sums_[bx] += sum;
      }
    }
    for (int bx = 0; bx < blocks_x_; ++bx) {
      const int b = by * blocks_x_ + bx;
      means_[b] = static_cast<float>(row_sums_[bx]) / (256.0F * samples_[b]);
    }
  }
}

void DelayCalibrator::Add(int segment, const FrameView& frame, double tonePhaseDeg) {
  if (segment < 0 || segment >= static_cast<int>(segments_.size()))
    throw std::out_of_range("no such calibration segment");
  if (frame.bgrx == nullptr || frame.width <= 0 || frame.height <= 0 ||
      frame.stride < 4 * frame.width) {
    ++ignored_;
    return;
  }
  const bool first = width_ == 0;
  if (first) {
    Setup(frame.width, frame.height);
  } else if (frame.width != width_ || frame.height != height_) {
    ++ignored_;
    return;
  }
  BlockMeans(frame);
  if (first) offsets_ = means_;

  Segment& s = segments_[segment];
  const auto x = Terms(tonePhaseDeg);
  for (int i = 0; i < kTerms; ++i)
    for (int j = 0; j < kTerms; ++j) s.normal[i * kTerms + j] += x[i] * x[j];
  ++s.frames;
  double* sums = s.sums.data();
  for (std::size_t b = 0; b < means_.size(); ++b, sums += kSums) {
    const double y = means_[b] - offsets_[b];
    for (int i = 0; i < kTerms; ++i) sums[i] += x[i] * y;
    sums[kTerms] += y * y;
  }
}

CalibrationResult DelayCalibrator::Finish(std::optional<double> exposureMs) const {
  using Failure = CalibrationResult::Failure;
  CalibrationResult result;
  result.ignoredFrames = ignored_;
  result.exposureAssumedMs = exposureMs.value_or(0);
  for (const Segment& s : segments_) result.segments.push_back({s.hz, s.frames});
  for (const Segment& s : segments_) {
    if (s.frames < kMinFrames) {
      result.failure = Failure::TooFewFrames;
      return result;
    }
  }

  std::vector<std::vector<BlockFit>> fits;
  for (const Segment& s : segments_) {
    const auto l = Cholesky(s.normal, static_cast<double>(s.frames));
    if (!l) {
      result.failure = Failure::Aliased;
      return result;
    }
    fits.push_back(FitBlocks(*l, s.sums, s.frames));
  }

  // The strongest block that follows the tone in every segment.
  const int blocks = blocks_x_ * blocks_y_;
  const auto respondsAll = [&](int b) {
    return std::all_of(fits.begin(), fits.end(), [b](const auto& f) { return f[b].responds; });
  };
  int strongest = -1;
  double strongestAmplitude = 0;
  for (int b = 0; b < blocks; ++b) {
    if (!respondsAll(b)) continue;
    double amplitude = fits[0][b].amplitude;
    for (const auto& f : fits) amplitude = std::min(amplitude, f[b].amplitude);
    if (amplitude > strongestAmplitude) {
      strongestAmplitude = amplitude;
      strongest = b;
    }
  }
  if (strongest < 0) {
    result.failure = Failure::NoResponse;
    return result;
  }

  // The blocks joined to it that follow the tone at its phase.
  std::vector<bool> taken(blocks, false);
  std::deque<int> queue{strongest};
  taken[strongest] = true;
  std::vector<int> region;
  while (!queue.empty()) {
    const int b = queue.front();
    queue.pop_front();
    region.push_back(b);
    const int bx = b % blocks_x_, by = b / blocks_x_;
    const std::array<std::pair<int, int>, 4> neighbours{
        {{bx - 1, by}, {bx + 1, by}, {bx, by - 1}, {bx, by + 1}}};
    for (const auto& [nx, ny] : neighbours) {
      if (nx < 0 || ny < 0 || nx >= blocks_x_ || ny >= blocks_y_) continue;
      const int nb = ny * blocks_x_ + nx;
      if (taken[nb] || !respondsAll(nb)) continue;
      const bool agrees = std::all_of(fits.begin(), fits.end(), [&](const auto& f) {
        return std::abs(Wrap180(f[nb].phaseDeg - f[strongest].phaseDeg)) <= kPhaseToleranceDeg;
      });
      if (!agrees) continue;
      taken[nb] = true;
      queue.push_back(nb);
    }
  }
  int x0 = width_, y0 = height_, x1 = 0, y1 = 0;
  for (const int b : region) {
    const int bx = b % blocks_x_, by = b / blocks_x_;
    x0 = std::min(x0, bx * kBlockSize);
    y0 = std::min(y0, by * kBlockSize);
    x1 = std::max(x1, std::min(width_, (bx + 1) * kBlockSize));
    y1 = std::max(y1, std::min(height_, (by + 1) * kBlockSize));
  }
  result.region = {x0, y0, x1 - x0, y1 - y0};
  result.blocks = static_cast<int>(region.size());

  // Per segment the region's phase, inverse-variance weighted. The blocks share the frames'
  // timing errors, so their errors are not independent: the sigma is the weighted mean of
  // theirs, the bound for errors that move together.
  std::vector<SegmentPhase> phases;
  for (std::size_t s = 0; s < fits.size(); ++s) {
    double c = 0, sn = 0, weights = 0, sigma = 0, amplitude = 0;
    for (const int b : region) {
      const BlockFit& f = fits[s][b];
      const double w = 1 / (f.phaseSigmaDeg * f.phaseSigmaDeg);
      c += w * std::cos(f.phaseDeg / kDegPerRad);
      sn += w * std::sin(f.phaseDeg / kDegPerRad);
      weights += w;
      sigma += w * f.phaseSigmaDeg;
      amplitude += w * f.amplitude;
    }
    SegmentFit& out = result.segments[s];
    out.amplitude = amplitude / weights;
    out.phaseDeg = std::atan2(sn, c) * kDegPerRad;
    out.phaseSigmaDeg = sigma / weights;
    phases.push_back({out.toneHz, out.phaseDeg, out.phaseSigmaDeg});
  }

  const UnfoldedLag lag = UnfoldLag(phases);
  result.inverted = lag.inverted;
  for (SegmentFit& out : result.segments) {
    const double period = 1000 / out.toneHz;
    out.lagModuloMs = Wrap360((lag.inverted ? 180 : 0) - out.phaseDeg) / 360 * period;
    out.lagSigmaMs = out.phaseSigmaDeg / 360 * period;
  }
  if (!lag.consistent) {
    result.failure = Failure::Inconsistent;
    return result;
  }
  result.lagMs = lag.lagMs;
  result.uncertaintyMs = lag.sigmaMs;
  result.delayMs = lag.lagMs - result.exposureAssumedMs / 2;
  return result;
}

std::size_t DelayCalibrator::RetainedBytes() const {
  std::size_t bytes = sizeof(*this) + segments_.capacity() * sizeof(Segment);
  for (const Segment& s : segments_) bytes += s.sums.capacity() * sizeof(double);
  bytes += (offsets_.capacity() + means_.capacity() + samples_.capacity()) * sizeof(float);
  bytes += row_sums_.capacity() * sizeof(std::uint32_t);
  return bytes;
}

}  // namespace analysis
