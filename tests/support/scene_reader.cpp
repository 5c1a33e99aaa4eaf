#include "tests/support/scene_reader.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace testing_support {
namespace {

// Bilinear grey level at a point of a grey image (pixel centres at half-integers).
double GreyAt(const QImage& grey, QPointF at) {
  const double x = std::clamp(at.x() - 0.5, 0.0, grey.width() - 1.0);
  const double y = std::clamp(at.y() - 0.5, 0.0, grey.height() - 1.0);
  const int x0 = static_cast<int>(x), y0 = static_cast<int>(y);
  const int x1 = std::min(x0 + 1, grey.width() - 1), y1 = std::min(y0 + 1, grey.height() - 1);
  const double fx = x - x0, fy = y - y0;
  auto pixel = [&grey](int px, int py) { return static_cast<double>(grey.constScanLine(py)[px]); };
  const double top = pixel(x0, y0) + fx * (pixel(x1, y0) - pixel(x0, y0));
  const double bottom = pixel(x0, y1) + fx * (pixel(x1, y1) - pixel(x0, y1));
  return top + fy * (bottom - top);
}

}  // namespace

QTransform FrameToPicture(QSize frame, QSize panel, PictureFit fit) {
  if (fit == PictureFit::Crop || frame.isEmpty()) return {};
  return QTransform::fromScale(double(panel.width()) / frame.width(),
                               double(panel.height()) / frame.height());
}

gst::SceneLayout LayoutInPicture(const gst::SceneLayout& layout, const QTransform& frameToPicture) {
  gst::SceneLayout mapped = layout;
  mapped.dialCentre = frameToPicture.map(layout.dialCentre);
  mapped.dialRadius =
      layout.dialRadius * std::min(std::abs(frameToPicture.m11()), std::abs(frameToPicture.m22()));
  mapped.lamp = frameToPicture.mapRect(layout.lamp);
  mapped.fringes = frameToPicture.mapRect(layout.fringes);
  mapped.fringePeriod = layout.fringePeriod * std::abs(frameToPicture.m11());
  return mapped;
}

double ReadHandAngle(const QImage& picture, QPointF centre, double radius) {
  return ReadHandAngle(picture, QTransform(), centre, radius);
}

double ReadHandAngle(const QImage& picture, const QTransform& frameToPicture, QPointF centre,
                     double radius) {
  const QImage grey = picture.convertToFormat(QImage::Format_Grayscale8);
  constexpr int kAngles = 1440;
  constexpr int kRadii = 24;
  struct Sample {
    double angle, grey;
  };
  std::vector<Sample> samples;
  samples.reserve(std::size_t{kAngles} * kRadii);
  for (int r = 0; r < kRadii; ++r) {
    const double rho = radius * (0.35 + 0.5 * (r + 0.5) / kRadii);
    for (int a = 0; a < kAngles; ++a) {
      const double angle = 2 * std::numbers::pi * a / kAngles;
      const QPointF at(centre.x() + rho * std::sin(angle), centre.y() - rho * std::cos(angle));
      samples.push_back({angle, GreyAt(grey, frameToPicture.map(at))});
    }
  }
  // The face is what most of the ring shows; only what is clearly darker than it counts, so
  // that compression noise on the face weighs nothing.
  std::vector<double> levels;
  levels.reserve(samples.size());
  for (const Sample& s : samples) levels.push_back(s.grey);
  const auto high = levels.begin() + static_cast<std::ptrdiff_t>(levels.size() * 9 / 10);
  std::nth_element(levels.begin(), high, levels.end());
  const double face = *high;
  const double darkest = *std::min_element(levels.begin(), levels.end());
  const double threshold = std::max(4.0, 0.15 * (face - darkest));
  double sx = 0, sy = 0;
  for (const Sample& s : samples) {
    const double weight = std::max(0.0, face - s.grey - threshold);
    sx += weight * std::sin(s.angle);
    sy += weight * std::cos(s.angle);
  }
  const double degrees = std::atan2(sx, sy) * 180 / std::numbers::pi;
  return degrees < 0 ? degrees + 360 : degrees;
}

double ReadLampBrightness(const QImage& picture, QRectF lamp) {
  const QImage grey = picture.convertToFormat(QImage::Format_Grayscale8);
  const QRectF middle = lamp.adjusted(lamp.width() * 0.2, lamp.height() * 0.2, -lamp.width() * 0.2,
                                      -lamp.height() * 0.2);
  const QRect pixels = middle.toRect().intersected(grey.rect());
  if (pixels.isEmpty()) return 0;
  double sum = 0;
  for (int y = pixels.top(); y <= pixels.bottom(); ++y)
    for (int x = pixels.left(); x <= pixels.right(); ++x) sum += grey.constScanLine(y)[x];
  const double mean = sum / (double(pixels.width()) * pixels.height());
  return (mean - gst::kLampDark) / (gst::kLampLit - gst::kLampDark);
}

double AngleDifference(double a, double b) {
  double d = std::fmod(a - b, 360.0);
  if (d > 180) d -= 360;
  if (d < -180) d += 360;
  return d;
}

}  // namespace testing_support
