#include "platform/gst/test_scene.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>
#include <numbers>
#include <numeric>

namespace gst {
namespace {

std::mutex& SettingsMutex() {
  static std::mutex mutex;
  return mutex;
}
SceneSettings& Settings() {
  static SceneSettings settings;
  return settings;
}
std::atomic<double>& Light() {
  static std::atomic<double> light{1.0};
  return light;
}

// The part of a pixel a shape covers, from the signed distance of the pixel's centre to the
// shape's edge (positive inside): a one-pixel ramp, which is all the smoothing a frame needs.
float Coverage(double inside) {
  return static_cast<float>(std::clamp(inside + 0.5, 0.0, 1.0));
}

// Distance from p to the segment a-b.
double SegmentDistance(double px, double py, double ax, double ay, double bx, double by) {
  const double dx = bx - ax, dy = by - ay;
  const double length2 = dx * dx + dy * dy;
  double along = length2 > 0 ? ((px - ax) * dx + (py - ay) * dy) / length2 : 0.0;
  along = std::clamp(along, 0.0, 1.0);
  const double ex = px - (ax + along * dx), ey = py - (ay + along * dy);
  return std::sqrt(ex * ex + ey * ey);
}

// The hand's and the ticks' geometry, as parts of the dial's radius. The hand ends before the
// ticks begin, so that a reader looking between them sees the hand alone.
constexpr double kHandLength = 0.86;
constexpr double kTickInner = 0.93;
constexpr double kTickOuter = 0.98;
constexpr double kZeroTickInner = 0.93;
constexpr double kHubRadius = 0.07;

double HandHalfWidth(double radius) {
  return std::max(1.5, 0.045 * radius);
}

QRect PixelRect(const QRectF& rect, QSize frame) {
  const QRect rounded(
      static_cast<int>(std::lround(rect.x())), static_cast<int>(std::lround(rect.y())),
      static_cast<int>(std::lround(rect.width())), static_cast<int>(std::lround(rect.height())));
  return rounded.intersected(QRect(QPoint(0, 0), frame));
}

// The space the layout keeps between the scene's parts and around them, frame pixels.
constexpr double kLayoutMargin = 8;

// Ordered-dither thresholds (4 x 4 Bayer, as parts of a level): a patch's level over a block of
// them averages to the exact level, so that its mean is not rounded to a whole level.
constexpr std::array<std::array<double, 4>, 4> kDither{{
    {0.5 / 16, 8.5 / 16, 2.5 / 16, 10.5 / 16},
    {12.5 / 16, 4.5 / 16, 14.5 / 16, 6.5 / 16},
    {3.5 / 16, 11.5 / 16, 1.5 / 16, 9.5 / 16},
    {15.5 / 16, 7.5 / 16, 13.5 / 16, 5.5 / 16},
}};

// A full-scale flash this long inside the exposure lights the scene fully.
constexpr double kFullLightNs = 1e6;
// Lit moments this close in phase are drawn as one at their light-weighted mean: the samples of
// a pulse, and the pulses of a long exposure, would otherwise each draw a hand.
constexpr double kMergeDegrees = 1;

void MergeByPhase(std::vector<ToneMoment>& moments, std::vector<double>& weights) {
  std::vector<std::size_t> order(moments.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  auto key = [&](std::size_t i) { return moments[i].phaseDegrees.value_or(-1.0); };
  std::sort(order.begin(), order.end(),
            [&](std::size_t a, std::size_t b) { return key(a) < key(b); });
  std::vector<ToneMoment> merged;
  std::vector<double> mergedWeights;
  for (std::size_t i = 0; i < order.size();) {
    const double base = key(order[i]);
    const bool phased = moments[order[i]].phaseDegrees.has_value();
    double weight = 0, phase = 0, value = 0, period = 0;
    std::size_t j = i;
    for (; j < order.size(); ++j) {
      const ToneMoment& moment = moments[order[j]];
      if (moment.phaseDegrees.has_value() != phased || key(order[j]) - base >= kMergeDegrees) break;
      const double w = weights[order[j]];
      weight += w;
      phase += w * (key(order[j]) - base);
      value += w * moment.value;
      period += w * moment.periodNs;
    }
    i = j;
    if (!(weight > 0)) continue;
    ToneMoment moment;
    moment.value = value / weight;
    if (phased) moment.phaseDegrees = base + phase / weight;
    moment.periodNs = period / weight;
    merged.push_back(moment);
    mergedWeights.push_back(weight);
  }
  moments = std::move(merged);
  weights = std::move(mergedWeights);
}

}  // namespace

void SetTestSceneSettings(const SceneSettings& settings) {
  std::lock_guard lock(SettingsMutex());
  Settings() = settings;
}

SceneSettings TestSceneSettings() {
  std::lock_guard lock(SettingsMutex());
  return Settings();
}

void SetTestSceneLight(double factor) {
  Light().store(std::max(0.0, factor));
}

double TestSceneLight() {
  return Light().load();
}

SceneLayout SceneLayoutFor(QSize frame) {
  const double width = frame.width(), height = frame.height();
  const double panelWidth = kScenePanel.width(), panelHeight = kScenePanel.height();
  // The frame rows the stamp covers when cropped (its own size) or stretched (scaled with the
  // frame), and the part of the frame the cropped picture shows. The stamp reaches across
  // most of what a large frame shows when cropped, so the scene lies below it.
  const double stampBottom =
      std::max<double>(kSceneStamp.height(), kSceneStamp.height() * height / panelHeight);
  const double visibleWidth = std::min(width, panelWidth);
  const double visibleHeight = std::min(height, panelHeight);
  constexpr double kMargin = kLayoutMargin;
  // Below the stamp, inside what both layouts show: the dial on the left, the lamp above the
  // fringes on the right.
  const double top = stampBottom + kMargin, bottom = visibleHeight - kMargin;
  const double left = kMargin, right = visibleWidth - kMargin;
  const double free = std::max(0.0, bottom - top);
  const double across = std::max(0.0, right - left);
  const double dial = std::min(free, across / 2);
  SceneLayout layout;
  layout.dialCentre = QPointF(left + dial / 2, top + free / 2);
  layout.dialRadius = std::max(0.0, dial / 2 - kMargin / 2);
  const double side = left + dial + kMargin;
  const double sideWidth = std::max(0.0, right - side);
  const double lamp = std::min(sideWidth, free * 0.4);
  layout.lamp = QRectF(side, top, lamp, lamp);
  const double fringesTop = top + lamp + kMargin;
  layout.fringes = QRectF(side, fringesTop, sideWidth, std::max(0.0, bottom - fringesTop));
  layout.fringePeriod = std::max(4.0, sideWidth / 6);
  return layout;
}

std::vector<ResponsePatch> ResponsePatchesFor(QSize frame) {
  struct Response {
    double mean, amplitude, phaseDeg;
  };
  // Amplitudes from large to faint, phases all round, and a steady patch that must read as no
  // response; all within the limited range.
  constexpr std::array<Response, 6> kResponses{{
      {126, 100, 0},
      {126, 60, 90},
      {126, 30, 200},
      {126, 10, 300},
      {80, 40, 45},
      {180, 0, 0},
  }};
  constexpr int kCount = static_cast<int>(kResponses.size());
  // Right of the lamp, in its rows: clear of the dial (left), the fringes (below) and the stamp
  // (above, as for the lamp). The lamp sits in the part a cropped picture shows; the patches
  // may run on past it, in frames wider than the picture.
  const SceneLayout layout = SceneLayoutFor(frame);
  const double left = layout.lamp.right() + kLayoutMargin;
  const double width = frame.width() - kLayoutMargin - left;
  const double top = layout.lamp.top(), height = layout.lamp.height();
  // The grid of square cells holding them all whose cells are largest.
  double cell = 0;
  int columns = 1;
  for (int c = 1; c <= kCount; ++c) {
    const int r = (kCount + c - 1) / c;
    const double size = std::min(width / c, height / r);
    if (size > cell) {
      cell = size;
      columns = c;
    }
  }
  std::vector<ResponsePatch> patches;
  const double side = std::floor(cell * 0.75);  // a gap of a quarter cell between them
  if (!(side >= 4)) return patches;
  for (int i = 0; i < kCount; ++i) {
    const int column = i % columns, row = i / columns;
    const double x = std::round(left + column * cell + (cell - side) / 2);
    const double y = std::round(top + row * cell + (cell - side) / 2);
    const Response& response = kResponses[static_cast<std::size_t>(i)];
    patches.push_back(
        {QRectF(x, y, side, side), response.mean, response.amplitude, response.phaseDeg});
  }
  return patches;
}

int SubExposureCount(double exposureNs, double periodNs) {
  if (!(exposureNs > 0) || !(periodNs > 0)) return 1;
  // Steps no wider than the hand, so that a smear is one band rather than separate hands.
  constexpr double kStepDegrees = 2;
  constexpr int kMost = 48;
  const double sweep = 360.0 * exposureNs / periodNs;
  return static_cast<int>(std::clamp(std::ceil(sweep / kStepDegrees), 1.0, double{kMost}));
}

SceneRenderer::SceneRenderer(QSize frame, bool responsePatches)
    : frame_(frame), layout_(SceneLayoutFor(frame)) {
  if (responsePatches) patches_ = ResponsePatchesFor(frame);
  const double cx = layout_.dialCentre.x(), cy = layout_.dialCentre.y();
  const double radius = layout_.dialRadius;
  const int reach = static_cast<int>(std::ceil(radius)) + 2;
  dial_box_ = QRect(static_cast<int>(std::floor(cx)) - reach,
                    static_cast<int>(std::floor(cy)) - reach, 2 * reach + 1, 2 * reach + 1)
                  .intersected(QRect(QPoint(0, 0), frame));
  if (dial_box_.isEmpty()) dial_box_ = QRect();
  const auto pixels = static_cast<std::size_t>(std::max(0, dial_box_.width())) *
                      static_cast<std::size_t>(std::max(0, dial_box_.height()));
  face_.assign(pixels, kDialFace);
  disc_.assign(pixels, 0);
  cover_.assign(pixels, 0.0f);
  const double rim = std::max(1.0, radius / 60);
  const double tick = std::max(1.0, radius / 45);
  for (int y = 0; y < dial_box_.height(); ++y) {
    for (int x = 0; x < dial_box_.width(); ++x) {
      const double px = dial_box_.x() + x + 0.5, py = dial_box_.y() + y + 0.5;
      const double rho = std::hypot(px - cx, py - cy);
      const float disc = Coverage(radius - rho);
      float dark = std::max(Coverage(rim - std::abs(rho - (radius - rim))),
                            Coverage(kHubRadius * radius - rho));
      for (int mark = 0; mark < 12; ++mark) {
        const double angle = mark * std::numbers::pi / 6;
        const double sx = std::sin(angle), sy = -std::cos(angle);
        const double inner = mark == 0 ? kZeroTickInner : kTickInner;
        const double width = mark == 0 ? 2.5 * tick : (mark % 3 == 0 ? 1.5 * tick : tick);
        dark = std::max(dark, Coverage(width - SegmentDistance(px, py, cx + inner * radius * sx,
                                                               cy + inner * radius * sy,
                                                               cx + kTickOuter * radius * sx,
                                                               cy + kTickOuter * radius * sy)));
      }
      const std::size_t at = static_cast<std::size_t>(y) * dial_box_.width() + x;
      face_[at] =
          static_cast<std::uint8_t>(std::lround(kDialFace + (kDialHand - kDialFace) * dark));
      disc_[at] = static_cast<std::uint8_t>(std::lround(255 * disc));
    }
  }
}

void SceneRenderer::Draw(std::uint8_t* rows, int stride, std::span<const ToneMoment> moments,
                         std::span<const double> weights, std::optional<double> lampLight) {
  if (moments.empty()) return;
  double total = 0;
  for (std::size_t i = 0; i < moments.size() && i < weights.size(); ++i)
    total += std::max(0.0, weights[i]);
  if (!weights.empty() && !(total > 0)) return;
  const double equal = 1.0 / static_cast<double>(moments.size());
  auto weightOf = [&](std::size_t i) {
    if (weights.empty()) return equal;
    return i < weights.size() ? std::max(0.0, weights[i]) / total : 0.0;
  };

  // The dial: the hand's coverage averaged over the moments, laid over the face.
  if (!dial_box_.isEmpty()) {
    std::fill(cover_.begin(), cover_.end(), 0.0f);
    const double cx = layout_.dialCentre.x(), cy = layout_.dialCentre.y();
    const double length = kHandLength * layout_.dialRadius;
    const double half = HandHalfWidth(layout_.dialRadius);
    for (std::size_t i = 0; i < moments.size(); ++i) {
      const ToneMoment& moment = moments[i];
      const auto weight = static_cast<float>(weightOf(i));
      const double angle = moment.phaseDegrees.value_or(0.0) * std::numbers::pi / 180;
      const double ex = cx + length * std::sin(angle), ey = cy - length * std::cos(angle);
      const int x0 =
          std::max(dial_box_.left(), static_cast<int>(std::floor(std::min(cx, ex) - half - 1)));
      const int x1 =
          std::min(dial_box_.right(), static_cast<int>(std::ceil(std::max(cx, ex) + half + 1)));
      const int y0 =
          std::max(dial_box_.top(), static_cast<int>(std::floor(std::min(cy, ey) - half - 1)));
      const int y1 =
          std::min(dial_box_.bottom(), static_cast<int>(std::ceil(std::max(cy, ey) + half + 1)));
      for (int y = y0; y <= y1; ++y) {
        float* cover =
            cover_.data() + static_cast<std::size_t>(y - dial_box_.y()) * dial_box_.width();
        for (int x = x0; x <= x1; ++x) {
          const float c = Coverage(half - SegmentDistance(x + 0.5, y + 0.5, cx, cy, ex, ey));
          cover[x - dial_box_.x()] += c * weight;
        }
      }
    }
    for (int y = 0; y < dial_box_.height(); ++y) {
      const std::size_t at = static_cast<std::size_t>(y) * dial_box_.width();
      std::uint8_t* out =
          rows + static_cast<std::ptrdiff_t>(dial_box_.y() + y) * stride + dial_box_.x();
      for (int x = 0; x < dial_box_.width(); ++x) {
        const int disc = disc_[at + x];
        if (disc == 0) continue;  // the frame's own background shows around the dial
        const float face = face_[at + x];
        const float c = std::min(1.0f, cover_[at + x]);
        const float dial = face + (kDialHand - face) * c;
        out[x] = static_cast<std::uint8_t>(
            std::lround(out[x] + (dial - out[x]) * static_cast<float>(disc) / 255.0f));
      }
    }
  }

  // The lamp: lit by the positive half-wave only, in proportion to it.
  const QRect lamp = PixelRect(layout_.lamp, frame_);
  if (!lamp.isEmpty()) {
    double lit = 0;
    if (lampLight) {
      lit = std::clamp(*lampLight, 0.0, 1.0);
    } else {
      for (std::size_t i = 0; i < moments.size(); ++i)
        lit += std::clamp(moments[i].value, 0.0, 1.0) * weightOf(i);
    }
    const auto level =
        static_cast<std::uint8_t>(std::lround(kLampDark + (kLampLit - kLampDark) * lit));
    for (int y = lamp.top(); y <= lamp.bottom(); ++y)
      std::memset(rows + static_cast<std::ptrdiff_t>(y) * stride + lamp.x(), level,
                  static_cast<std::size_t>(lamp.width()));
  }

  // The fringes: cosine bands along x, moved half a fringe by a full-scale value.
  const QRect band = PixelRect(layout_.fringes, frame_);
  if (!band.isEmpty()) {
    profile_.assign(static_cast<std::size_t>(band.width()), 0.0f);
    const double x0 = layout_.fringes.x();
    for (std::size_t i = 0; i < moments.size(); ++i) {
      const double weight = weightOf(i);
      const double shift = 0.5 * std::clamp(moments[i].value, -1.0, 1.0);
      for (int x = 0; x < band.width(); ++x) {
        const double fringe = (band.x() + x + 0.5 - x0) / layout_.fringePeriod - shift;
        profile_[x] +=
            static_cast<float>(weight * (0.5 + 0.5 * std::cos(2 * std::numbers::pi * fringe)));
      }
    }
    std::uint8_t* first = rows + static_cast<std::ptrdiff_t>(band.top()) * stride + band.x();
    for (int x = 0; x < band.width(); ++x)
      first[x] = static_cast<std::uint8_t>(std::lround(
          kFringeDark + (kFringeBright - kFringeDark) * std::clamp(profile_[x], 0.0f, 1.0f)));
    for (int y = band.top() + 1; y <= band.bottom(); ++y)
      std::memcpy(rows + static_cast<std::ptrdiff_t>(y) * stride + band.x(), first,
                  static_cast<std::size_t>(band.width()));
  }

  // The response patches: the tone's phase at each moment, without its waveform, as the hand
  // shows it; silence leaves a patch at its mean.
  for (const ResponsePatch& patch : patches_) {
    double level = 0;
    for (std::size_t i = 0; i < moments.size(); ++i) {
      const std::optional<double>& phase = moments[i].phaseDegrees;
      const double swing =
          phase ? std::cos((*phase - patch.phaseDeg) * std::numbers::pi / 180) : 0.0;
      level += weightOf(i) * (patch.mean + patch.amplitude * swing);
    }
    const QRect square = PixelRect(patch.rect, frame_);
    for (int y = square.top(); y <= square.bottom(); ++y) {
      std::uint8_t* out = rows + static_cast<std::ptrdiff_t>(y) * stride;
      const auto& thresholds = kDither[static_cast<std::size_t>(y % 4)];
      for (int x = square.left(); x <= square.right(); ++x)
        out[x] = static_cast<std::uint8_t>(std::clamp(
            std::floor(level + thresholds[static_cast<std::size_t>(x % 4)]), 0.0, 255.0));
    }
  }
}

QImage RenderScene(QSize frame, std::span<const ToneMoment> moments, bool responsePatches) {
  QImage image(frame, QImage::Format_Grayscale8);
  image.fill(kSceneBackground);
  SceneRenderer renderer(frame, responsePatches);
  renderer.Draw(image.bits(), static_cast<int>(image.bytesPerLine()), moments);
  return image;
}

void ScaleBrightness(std::uint8_t* rows, int stride, QSize frame, double factor) {
  if (factor == 1) return;  // the picture as drawn, bit for bit
  std::array<std::uint8_t, 256> levels{};
  for (std::size_t level = 0; level < levels.size(); ++level)
    levels[level] = static_cast<std::uint8_t>(std::lround(
        std::clamp(kSceneBlack + (static_cast<double>(level) - kSceneBlack) * factor, 0.0, 255.0)));
  for (int y = 0; y < frame.height(); ++y) {
    std::uint8_t* row = rows + static_cast<std::ptrdiff_t>(y) * stride;
    for (int x = 0; x < frame.width(); ++x) row[x] = levels[row[x]];
  }
}

SceneCamera::SceneCamera(QSize frame, const SceneSettings& settings, std::uint64_t seed)
    : frame_(frame),
      renderer_(frame, settings.responsePatches),
      settings_(settings),
      random_(seed),
      jitter_(0.0, std::max(settings.jitterMs, 1e-9)) {}

void SceneCamera::DrawFrame(std::uint8_t* rows, int stride, std::int64_t frameNs,
                            const SoundTimeline& sound) {
  constexpr double kNsPerMs = 1e6;
  double delayMs = settings_.delayMs;
  // Zero-mean, also at a delay of 0: an exposure may then end just after the timestamp, which
  // the sound record answers as the tone going on.
  if (settings_.jitterMs > 0) delayMs += jitter_(random_);
  const double exposureNs = std::max(0.0, settings_.exposureMs) * kNsPerMs;
  const double end = static_cast<double>(frameNs) - delayMs * kNsPerMs;
  const double start = end - exposureNs;
  const ToneMoment middle = sound.At(std::llround((start + end) / 2));
  // Flashes within a degree of the tone are one: their mean time stays exact, and few to draw.
  const double mergeNs = middle.periodNs > 0 ? middle.periodNs / 360 : 20e3;
  flashes_.clear();
  if (sound.LightBetween(std::llround(start), std::llround(end), mergeNs, flashes_)) {
    DrawStrobed(rows, stride, start, exposureNs, middle, sound);
    return;
  }
  const int count = SubExposureCount(exposureNs, middle.periodNs);
  moments_.resize(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i)
    moments_[static_cast<std::size_t>(i)] =
        sound.At(std::llround(start + (i + 0.5) * exposureNs / count));
  renderer_.Draw(rows, stride, moments_);
  ScaleBrightness(rows, stride, frame_, brightness_);
}

// The scene lit by the strobe's flashes and the ambient light only: a mix of the scene at each
// flash, by its light, and over the exposure, by the ambient light, as bright as their sum.
void SceneCamera::DrawStrobed(std::uint8_t* rows, int stride, double start, double exposureNs,
                              const ToneMoment& middle, const SoundTimeline& sound) {
  const double ambient = std::clamp(settings_.ambient, 0.0, 1.0);
  double flashNs = 0;
  for (const Flash& flash : flashes_) flashNs += flash.lightNs;
  const double flashLight = std::clamp(flashNs / kFullLightNs, 0.0, 1.0 - ambient);
  moments_.clear();
  weights_.clear();
  if (flashLight > 0) {
    for (const Flash& flash : flashes_) {
      moments_.push_back(sound.At(std::llround(flash.ns)));
      weights_.push_back(flashLight * flash.lightNs / flashNs);
    }
  }
  if (ambient > 0) {
    const int count = SubExposureCount(exposureNs, middle.periodNs);
    for (int i = 0; i < count; ++i) {
      moments_.push_back(sound.At(std::llround(start + (i + 0.5) * exposureNs / count)));
      weights_.push_back(ambient / count);
    }
  }
  MergeByPhase(moments_, weights_);
  renderer_.Draw(rows, stride, moments_, weights_, 1.0);
  const double flashBrightness = exposure_scale_ > 0 ? brightness_ / exposure_scale_ : brightness_;
  ScaleBrightness(rows, stride, frame_, (ambient + flashLight) * flashBrightness);
}

}  // namespace gst
