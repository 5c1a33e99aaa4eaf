// The test cameras' scene: the record of what the built-in sound output played, the scene drawn
// from it and its placement in saved pictures, and a camera filming it while a tone plays.

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gtest/gtest.h>

#include <QBuffer>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <vector>

#include "platform/gst/camera_pipeline.h"
#include "platform/gst/device_monitor.h"
#include "platform/gst/gst_util.h"
#include "platform/gst/sound_timeline.h"
#include "platform/gst/test_scene.h"
#include "platform/gst/virtual_devices.h"
#include "tests/support/camera_support.h"
#include "tests/support/scene_reader.h"

namespace {

using gst::SoundTimeline;
using gst::ToneMoment;
using testing_support::AngleDifference;
using testing_support::PictureFit;

constexpr double kPi = std::numbers::pi;
constexpr std::int64_t kMs = 1'000'000;

// The program's tone: rising zero crossing at phase 0 for both shapes.
double Tone(bool triangle, double phaseDegrees) {
  const double x = phaseDegrees * kPi / 180;
  return triangle ? 2 / kPi * std::asin(std::sin(x)) : std::sin(x);
}

// `seconds` of a tone as interleaved S16LE (two channels, the second a different signal) or
// U8 mono bytes.
std::vector<std::uint8_t> ToneBytes(bool triangle, bool eightBit, double frequency,
                                    double startPhase, int rate, double seconds, double amplitude) {
  const auto count = static_cast<std::size_t>(seconds * rate);
  std::vector<std::uint8_t> bytes;
  for (std::size_t k = 0; k < count; ++k) {
    const double value =
        amplitude * Tone(triangle, startPhase + 360.0 * frequency * static_cast<double>(k) / rate);
    if (eightBit) {
      bytes.push_back(static_cast<std::uint8_t>(std::lround(128 + 127 * value)));
    } else {
      const auto sample =
          static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(32767 * value)));
      bytes.push_back(static_cast<std::uint8_t>(sample & 0xff));
      bytes.push_back(static_cast<std::uint8_t>(sample >> 8));
      bytes.push_back(0x55);  // channel 1: not the tone
      bytes.push_back(0x7f);
    }
  }
  return bytes;
}

// Plays the bytes into the timeline in buffers of `chunk` samples, the first at `firstNs`.
void Play(SoundTimeline& timeline, const std::vector<std::uint8_t>& bytes, bool eightBit,
          std::int64_t firstNs, double sampleNs, std::size_t chunk) {
  const std::size_t frame = eightBit ? 1 : 4;
  for (std::size_t at = 0; at < bytes.size(); at += chunk * frame) {
    const std::size_t size = std::min(chunk * frame, bytes.size() - at);
    const std::vector<float> samples =
        gst::ChannelZero(bytes.data() + at, size, eightBit, eightBit ? 1 : 2);
    const std::size_t index = at / frame;  // whole frames
    timeline.Append(firstNs + std::llround(static_cast<double>(index) * sampleNs), sampleNs,
                    samples);
  }
}

TEST(SoundTimeline, GivesTheToneValueAndPhaseOfEachShapeStartPhaseAndClockRate) {
  struct Case {
    bool triangle, eightBit;
    double frequency, startPhase, skew;
  };
  for (const Case& c :
       {Case{false, false, 50, 0, 1}, Case{false, false, 7.3, 270, 1}, Case{true, true, 20, 90, 1},
        Case{true, false, 13, 123, 1.0005}, Case{false, false, 31, 270, 0.999}}) {
    SCOPED_TRACE(testing::Message() << (c.triangle ? "triangle " : "sine ") << c.frequency
                                    << " Hz from " << c.startPhase << " deg, rate " << c.skew);
    constexpr int kRate = 8000;
    SoundTimeline timeline(2.0);
    timeline.Restart(kRate);
    const double sampleNs = 1e9 / kRate / c.skew;  // a fast device plays its samples sooner
    const std::int64_t first = 5'000'000'000;
    Play(timeline, ToneBytes(c.triangle, c.eightBit, c.frequency, c.startPhase, kRate, 1.5, 0.8),
         c.eightBit, first, sampleNs, 160);
    const double tolerance = c.eightBit ? 0.6 : 0.05;
    for (int step = 0; step < 40; ++step) {
      const double at = 0.0003 + 0.0371 * step;
      const auto ns = first + static_cast<std::int64_t>(at * 1e9);
      const double k = static_cast<double>(ns - first) / sampleNs;
      const double expected = c.startPhase + 360.0 * c.frequency * k / kRate;
      const std::optional<double> phase = timeline.PhaseAt(ns);
      ASSERT_TRUE(phase) << at;
      EXPECT_NEAR(AngleDifference(*phase, expected), 0, tolerance) << at;
      EXPECT_NEAR(timeline.ValueAt(ns), 0.8 * Tone(c.triangle, expected), 0.01) << at;
    }
    // Nothing played before the first sample, nor long after the last.
    EXPECT_FALSE(timeline.PhaseAt(first - 10 * kMs));
    EXPECT_EQ(timeline.ValueAt(first - 10 * kMs), 0.0);
    EXPECT_FALSE(timeline.PhaseAt(first + 2000 * kMs));
    EXPECT_EQ(timeline.ValueAt(first + 2000 * kMs), 0.0);
  }
}

TEST(SoundTimeline, SilenceAStopAndOldSoundHaveNoPhase) {
  constexpr int kRate = 8000;
  constexpr double kSampleNs = 1e9 / kRate;
  SoundTimeline timeline(1.0);
  timeline.Restart(kRate);
  const std::int64_t first = 1'000'000'000;
  Play(timeline, ToneBytes(false, false, 10, 0, kRate, 0.5, 0.8), false, first, kSampleNs, 80);
  Play(timeline, std::vector<std::uint8_t>(kRate * 2, 0), false, first + 500 * kMs, kSampleNs, 80);
  // The tone's last period goes on a little way into the silence, then the phase is gone.
  EXPECT_TRUE(timeline.PhaseAt(first + 450 * kMs));
  EXPECT_TRUE(timeline.PhaseAt(first + 520 * kMs));
  EXPECT_FALSE(timeline.PhaseAt(first + 700 * kMs));
  EXPECT_NEAR(timeline.ValueAt(first + 800 * kMs), 0.0, 1e-9);

  // Twenty seconds later only the last second is kept: the start is forgotten.
  Play(timeline, ToneBytes(false, false, 10, 0, kRate, 20, 0.8), false, first + 1000 * kMs,
       kSampleNs, 80);
  EXPECT_FALSE(timeline.PhaseAt(first + 1500 * kMs));
  EXPECT_EQ(timeline.ValueAt(first + 1500 * kMs), 0.0);
  ASSERT_TRUE(timeline.PhaseAt(first + 20'900 * kMs));
  EXPECT_NEAR(AngleDifference(*timeline.PhaseAt(first + 20'925 * kMs), 360.0 * 10 * 19.925), 0,
              0.05);
  // Just past the last recorded sample the tone counts as still playing (the next buffer is on
  // its way): its phase and its waveform go on, a period later.
  const gst::ToneMoment past = timeline.At(first + 21'010 * kMs);
  ASSERT_TRUE(past.phaseDegrees);
  EXPECT_NEAR(past.value, timeline.ValueAt(first + 20'910 * kMs), 1e-6);
  EXPECT_GT(std::abs(past.value), 0.3);  // 36° past a crossing: well off zero
}

// A sound card's own clock runs at its own rate: its times are placed on the steady clock with
// that rate undone. (1.5 times as fast, so that a rate left in shows at once.)
TEST(SoundTimeline, TimesOfASkewedClockArePlacedOnTheSteadyClock) {
  gst::EnsureInitialized();
  const gst::ClockPtr skewed(GST_CLOCK(gst_object_ref_sink(
      g_object_new(GST_TYPE_SYSTEM_CLOCK, "clock-type", GST_CLOCK_TYPE_MONOTONIC, nullptr))));
  const GstClockTime origin = gst_clock_get_internal_time(skewed.get());
  gst_clock_set_calibration(skewed.get(), origin, origin + 7 * GST_SECOND, 3, 2);
  const gst::ClockPtr system(gst_system_clock_obtain());
  for (GstClock* clock : {skewed.get(), system.get()}) {
    for (int i = 0; i < 3; ++i) {
      QTest::qWait(20);
      const std::int64_t before = gst::SteadyNowNs();
      const GstClockTime clockNow = gst_clock_get_time(clock);
      const std::int64_t after = gst::SteadyNowNs();
      const std::int64_t placed = gst::ClockTimeToSteadyNs(clock, clockNow);
      EXPECT_GE(placed, before - 10'000);
      EXPECT_LE(placed, after + 10'000);
      const double rate = clock == skewed.get() ? 1.5 : 1.0;
      EXPECT_NEAR(
          static_cast<double>(gst::ClockTimeToSteadyNs(clock, clockNow + 150 * kMs) - placed),
          150 * kMs / rate, 1000);
    }
  }
}

// ---- The scene and its placement ------------------------------------------------------------

const QSize kFrameSizes[] = {{320, 240}, {640, 480}, {1280, 720}, {1920, 1080}};

// The saved picture of a frame, composed as the picture writer does (nearest pixel when
// stretched), with a stamp over the corner.
QImage SavedPicture(const QImage& frame, PictureFit fit, bool jpeg) {
  QImage picture(gst::kScenePanel, QImage::Format_RGB32);
  picture.fill(Qt::white);
  {
    QPainter painter(&picture);
    if (fit == PictureFit::Crop)
      painter.drawImage(0, 0, frame);
    else
      painter.drawImage(QRectF(QPointF(0, 0), QSizeF(picture.size())), frame);
    painter.fillRect(QRect(QPoint(0, 0), gst::kSceneStamp), Qt::black);
  }
  if (!jpeg) return picture;
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  picture.save(&buffer, "JPEG", 70);
  return QImage::fromData(bytes, "JPEG");
}

TEST(TestScene, EveryFrameSizeShowsTheWholeSceneClearOfTheStampInBothLayouts) {
  const QRectF stamp(QPointF(0, 0), QSizeF(gst::kSceneStamp));
  const QRectF panel(QPointF(0, 0), QSizeF(gst::kScenePanel));
  for (const QSize frame : kFrameSizes) {
    const gst::SceneLayout layout = gst::SceneLayoutFor(frame);
    for (const PictureFit fit : {PictureFit::Crop, PictureFit::Stretch}) {
      SCOPED_TRACE(testing::Message() << frame.width() << "x" << frame.height()
                                      << (fit == PictureFit::Crop ? " cropped" : " stretched"));
      const QTransform transform = testing_support::FrameToPicture(frame, gst::kScenePanel, fit);
      const gst::SceneLayout shown = testing_support::LayoutInPicture(layout, transform);
      const QRectF frameInPicture = transform.mapRect(QRectF(QPointF(0, 0), QSizeF(frame)));
      const QRectF dial = transform.mapRect(
          QRectF(layout.dialCentre - QPointF(layout.dialRadius, layout.dialRadius),
                 QSizeF(2 * layout.dialRadius, 2 * layout.dialRadius)));
      for (const QRectF& part : {dial, shown.lamp, shown.fringes}) {
        EXPECT_FALSE(part.isEmpty());
        EXPECT_TRUE(panel.contains(part) && frameInPicture.contains(part));
        EXPECT_FALSE(part.intersects(stamp));
      }
      EXPECT_GE(shown.dialRadius, 40);
      EXPECT_GE(shown.lamp.width(), 20);
      EXPECT_GE(shown.fringePeriod, 8);
      EXPECT_FALSE(dial.intersects(shown.lamp) || dial.intersects(shown.fringes) ||
                   shown.lamp.intersects(shown.fringes));
    }
  }
}

TEST(TestScene, TheHandReadsBackAllRoundInEverySizeLayoutAndJpeg) {
  for (const QSize frame : {QSize(320, 240), QSize(1920, 1080)}) {
    const gst::SceneLayout layout = gst::SceneLayoutFor(frame);
    for (int step = 0; step < 25; ++step) {
      const double angle = 1.3 + 14.9 * step;
      const std::vector<ToneMoment> moment{{0, angle, 1e9}};
      const QImage rendered = gst::RenderScene(frame, moment);
      EXPECT_NEAR(AngleDifference(testing_support::ReadHandAngle(rendered, layout.dialCentre,
                                                                 layout.dialRadius),
                                  angle),
                  0, 1)
          << frame.width() << " frame at " << angle;
      for (const PictureFit fit : {PictureFit::Crop, PictureFit::Stretch}) {
        const QImage picture = SavedPicture(rendered, fit, true);
        const QTransform transform = testing_support::FrameToPicture(frame, picture.size(), fit);
        EXPECT_NEAR(AngleDifference(testing_support::ReadHandAngle(
                                        picture, transform, layout.dialCentre, layout.dialRadius),
                                    angle),
                    0, 1)
            << frame.width() << (fit == PictureFit::Crop ? " cropped" : " stretched") << " at "
            << angle;
      }
    }
  }
}

// The lamp follows the positive half-wave only, the fringes move half a fringe at full scale,
// and a moving hand smears symmetrically about its mean: each averaged over the exposure.
TEST(TestScene, TheExposureAveragesLampFringesAndHand) {
  const QSize frame(640, 480);
  const gst::SceneLayout layout = gst::SceneLayoutFor(frame);
  auto lamp = [&](std::vector<ToneMoment> moments) {
    return testing_support::ReadLampBrightness(gst::RenderScene(frame, moments), layout.lamp);
  };
  EXPECT_NEAR(lamp({{0.6, 90.0, 1e9}}), 0.6, 0.01);
  EXPECT_NEAR(lamp({{-0.8, 270.0, 1e9}}), 0.0, 0.01);
  EXPECT_NEAR(lamp({{1.0, 90.0, 1e9}, {-1.0, 270.0, 1e9}}), 0.5, 0.01);

  // The fringes' position: the phase of the band's profile at the fringe frequency.
  auto fringeDegrees = [&](double value) {
    const QImage image = gst::RenderScene(frame, std::vector<ToneMoment>{{value, {}, 0}});
    const int row = static_cast<int>(layout.fringes.center().y());
    double re = 0, im = 0;
    for (int x = static_cast<int>(layout.fringes.left()) + 1;
         x < static_cast<int>(layout.fringes.right()) - 1; ++x) {
      const double angle = 2 * kPi * (x + 0.5 - layout.fringes.left()) / layout.fringePeriod;
      re += image.constScanLine(row)[x] * std::cos(angle);
      im += image.constScanLine(row)[x] * std::sin(angle);
    }
    return std::atan2(im, re) * 180 / kPi;
  };
  const double rest = fringeDegrees(0);
  EXPECT_NEAR(AngleDifference(fringeDegrees(0.5), rest), 90, 3);
  EXPECT_NEAR(AngleDifference(fringeDegrees(-0.25), rest), -45, 3);

  // A hand swept evenly over 60 degrees reads at the sweep's middle, and is fainter.
  std::vector<ToneMoment> sweep;
  sweep.reserve(12);
  for (int i = 0; i < 12; ++i) sweep.push_back({0, 200 + 60 * (i + 0.5) / 12, 1e9});
  const QImage smeared = gst::RenderScene(frame, sweep);
  EXPECT_NEAR(
      AngleDifference(testing_support::ReadHandAngle(SavedPicture(smeared, PictureFit::Crop, true),
                                                     layout.dialCentre, layout.dialRadius),
                      230),
      0, 1);
  const QPoint middle =
      (layout.dialCentre +
       0.6 * layout.dialRadius * QPointF(std::sin(230 * kPi / 180), -std::cos(230 * kPi / 180)))
          .toPoint();
  const int grey = smeared.constScanLine(middle.y())[middle.x()];
  EXPECT_GT(grey, gst::kDialHand + 40);
  EXPECT_LT(grey, gst::kDialFace - 20);
}

// A timeline playing a known tone from `firstNs`.
void PlayTone(SoundTimeline& timeline, double frequency, std::int64_t firstNs, double seconds) {
  constexpr int kRate = 8000;
  timeline.Restart(kRate);
  Play(timeline, ToneBytes(false, false, frequency, 0, kRate, seconds, 0.9), false, firstNs,
       1e9 / kRate, 80);
}

TEST(TestScene, ACameraShowsThePhaseAtTheMiddleOfEachExposureBeforeItsDelay) {
  SoundTimeline timeline;
  constexpr double kFrequency = 3.1;
  const std::int64_t first = 2'000'000'000;
  PlayTone(timeline, kFrequency, first, 2);
  const QSize size(640, 480);
  const gst::SceneLayout layout = gst::SceneLayoutFor(size);
  const gst::SceneSettings settings{8, 40, 0, {}};
  gst::SceneCamera camera(size, settings, 1);
  QImage frame(size, QImage::Format_Grayscale8);
  for (std::int64_t at = first + 300 * kMs; at < first + 1800 * kMs; at += 97 * kMs) {
    camera.DrawFrame(frame.bits(), static_cast<int>(frame.bytesPerLine()), at, timeline);
    const double expected = 360.0 * kFrequency * static_cast<double>(at - 44 * kMs - first) / 1e9;
    EXPECT_NEAR(
        AngleDifference(testing_support::ReadHandAngle(frame, layout.dialCentre, layout.dialRadius),
                        expected),
        0, 1)
        << at;
  }
  // Before the tone, the hand rests at 0.
  frame.fill(0);
  camera.DrawFrame(frame.bits(), static_cast<int>(frame.bytesPerLine()), first - 500 * kMs,
                   timeline);
  EXPECT_NEAR(AngleDifference(
                  testing_support::ReadHandAngle(frame, layout.dialCentre, layout.dialRadius), 0),
              0, 1);
}

TEST(TestScene, JitterIsZeroMeanWithTheSpreadAskedAndRepeatsWithItsSeed) {
  SoundTimeline timeline;
  constexpr double kFrequency = 2;  // 0.72 degrees per ms
  const std::int64_t first = 2'000'000'000;
  PlayTone(timeline, kFrequency, first, 2);
  const QSize size(320, 240);
  const gst::SceneLayout layout = gst::SceneLayoutFor(size);
  const gst::SceneSettings settings{0, 0, 5, {}};
  auto errors = [&](std::uint64_t seed) {
    gst::SceneCamera camera(size, settings, seed);
    QImage frame(size, QImage::Format_Grayscale8);
    std::vector<double> ms;
    for (int i = 0; i < 60; ++i) {
      const std::int64_t at = first + 300 * kMs + i * 23 * kMs;
      camera.DrawFrame(frame.bits(), static_cast<int>(frame.bytesPerLine()), at, timeline);
      const double expected = 360.0 * kFrequency * static_cast<double>(at - first) / 1e9;
      const double read =
          testing_support::ReadHandAngle(frame, layout.dialCentre, layout.dialRadius);
      ms.push_back(-AngleDifference(read, expected) / (0.36 * kFrequency));
    }
    return ms;
  };
  const std::vector<double> one = errors(7);
  double mean = 0, square = 0;
  for (double e : one) mean += e / one.size();
  for (double e : one) square += (e - mean) * (e - mean) / (one.size() - 1);
  EXPECT_NEAR(mean, 0, 2.0);  // 60 draws of spread 5: the mean's own spread is 0.65
  EXPECT_NEAR(std::sqrt(square), 5, 1.5);
  const std::vector<double> again = errors(7);
  for (std::size_t i = 0; i < one.size(); ++i) EXPECT_NEAR(again[i], one[i], 0.2) << i;
  const std::vector<double> other = errors(8);
  EXPECT_GT(std::abs(other[0] - one[0]) + std::abs(other[1] - one[1]), 0.2);
}

// ---- Response patches: a truth for a lock-in reading of the frames ----------------------------

// The mean grey level over a rectangle of whole pixels.
double MeanLevel(const QImage& image, const QRectF& rect) {
  const QRect pixels = rect.toRect();
  double sum = 0;
  for (int y = pixels.top(); y <= pixels.bottom(); ++y)
    for (int x = pixels.left(); x <= pixels.right(); ++x) sum += image.constScanLine(y)[x];
  return sum / (static_cast<double>(pixels.width()) * pixels.height());
}

struct CosineFit {
  double mean = 0, amplitude = 0, phaseDeg = 0;
};

// Least squares of mean + a cos(phase - p) through (phase, value) pairs, phases in degrees.
CosineFit FitCosine(const std::vector<double>& phasesDeg, const std::vector<double>& values) {
  // Normal equations of value = m + c cos + s sin, solved by Cramer's rule.
  double n[3][3] = {}, r[3] = {};
  for (std::size_t k = 0; k < values.size(); ++k) {
    const double basis[3] = {1, std::cos(phasesDeg[k] * kPi / 180),
                             std::sin(phasesDeg[k] * kPi / 180)};
    for (int i = 0; i < 3; ++i) {
      r[i] += basis[i] * values[k];
      for (int j = 0; j < 3; ++j) n[i][j] += basis[i] * basis[j];
    }
  }
  auto det = [](const double m[3][3]) {
    return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
           m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
           m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
  };
  double solved[3];
  for (int column = 0; column < 3; ++column) {
    double m[3][3];
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) m[i][j] = j == column ? r[i] : n[i][j];
    solved[column] = det(m) / det(n);
  }
  return {solved[0], std::hypot(solved[1], solved[2]),
          std::atan2(solved[2], solved[1]) * 180 / kPi};
}

TEST(ResponsePatches, LieClearOfTheSceneAndTheStampInBothLayoutsAndGrowWithTheFrame) {
  const QRectF stamp(QPointF(0, 0), QSizeF(gst::kSceneStamp));
  double previousSide = 0;
  for (const QSize frame : kFrameSizes) {
    SCOPED_TRACE(testing::Message() << frame.width() << "x" << frame.height());
    const gst::SceneLayout layout = gst::SceneLayoutFor(frame);
    const QRectF dial(layout.dialCentre - QPointF(layout.dialRadius, layout.dialRadius),
                      QSizeF(2 * layout.dialRadius, 2 * layout.dialRadius));
    const std::vector<gst::ResponsePatch> patches = gst::ResponsePatchesFor(frame);
    ASSERT_GE(patches.size(), 4u);
    const double side = patches.front().rect.width();
    EXPECT_GE(side, frame.width() >= 640 ? 32 : 16);
    EXPECT_GT(side, previousSide);
    previousSide = side;
    for (std::size_t i = 0; i < patches.size(); ++i) {
      const QRectF& rect = patches[i].rect;
      SCOPED_TRACE(testing::Message() << "patch " << i);
      EXPECT_EQ(QRectF(rect.toRect()), rect);  // whole pixels: its rectangle is what is drawn
      EXPECT_EQ(rect.width(), side);
      EXPECT_EQ(rect.height(), side);
      EXPECT_TRUE(QRectF(QPointF(0, 0), QSizeF(frame)).contains(rect));
      EXPECT_GE(patches[i].mean - patches[i].amplitude, 16);
      EXPECT_LE(patches[i].mean + patches[i].amplitude, 235);
      for (const QRectF& part : {dial, layout.lamp, layout.fringes})
        EXPECT_FALSE(rect.intersects(part));
      for (std::size_t j = i + 1; j < patches.size(); ++j)
        EXPECT_FALSE(rect.intersects(patches[j].rect)) << j;
      for (const PictureFit fit : {PictureFit::Crop, PictureFit::Stretch})
        EXPECT_FALSE(testing_support::FrameToPicture(frame, gst::kScenePanel, fit)
                         .mapRect(rect)
                         .intersects(stamp))
            << (fit == PictureFit::Crop ? "cropped" : "stretched");
    }
  }
}

// Drawn only when asked, only over their squares, at the weighted mean over the exposure's
// moments of each one's level, and at their means in silence.
TEST(ResponsePatches, AreDrawnOnlyWhenAskedOverTheirSquaresAtTheMomentsMeanLevel) {
  const QSize size(640, 480);
  const std::vector<gst::ResponsePatch> patches = gst::ResponsePatchesFor(size);
  const std::vector<ToneMoment> moment{{0.3, 123.0, 1e9}};
  const QImage off = gst::RenderScene(size, moment);
  const QImage on = gst::RenderScene(size, moment, true);
  EXPECT_EQ(off, gst::RenderScene(size, moment, false));
  for (int y = 0; y < size.height(); ++y) {
    for (int x = 0; x < size.width(); ++x) {
      const auto patch = std::find_if(
          patches.begin(), patches.end(),
          [&](const gst::ResponsePatch& p) { return p.rect.contains(QPointF(x + 0.5, y + 0.5)); });
      if (patch == patches.end())
        ASSERT_EQ(on.constScanLine(y)[x], off.constScanLine(y)[x]) << x << "," << y;
      else
        ASSERT_EQ(off.constScanLine(y)[x], gst::kSceneBackground) << x << "," << y;
    }
  }

  // Weights as a strobe's flashes and the ambient light give them, and a silent moment.
  gst::SceneRenderer renderer(size, true);
  const std::vector<ToneMoment> moments{{0.5, 30.0, 1e9}, {-0.5, 150.0, 1e9}, {0, {}, 0}};
  const std::vector<double> weights{3, 1, 2};
  QImage weighted(size, QImage::Format_Grayscale8);
  weighted.fill(gst::kSceneBackground);
  renderer.Draw(weighted.bits(), static_cast<int>(weighted.bytesPerLine()), moments, weights);
  for (const gst::ResponsePatch& patch : patches) {
    auto level = [&](double phase) { return std::cos((phase - patch.phaseDeg) * kPi / 180); };
    EXPECT_NEAR(MeanLevel(on, patch.rect), patch.mean + patch.amplitude * level(123), 0.04);
    EXPECT_NEAR(MeanLevel(weighted, patch.rect),
                patch.mean + patch.amplitude * (3 * level(30) + level(150)) / 6, 0.04);
  }
}

// A camera's frames over many tone phases: a fit of each patch's mean level finds its mean,
// amplitude and phase, the amplitude smeared by sin(pi T) / (pi T) over an exposure of a
// fraction T of the period, the phase that at the exposure's middle.
TEST(ResponsePatches, AFitOverTonePhasesRecoversEachAmplitudeAndPhaseWithTheExposuresSmear) {
  SoundTimeline timeline;
  constexpr double kFrequency = 3.1;
  const std::int64_t first = 2'000'000'000;
  PlayTone(timeline, kFrequency, first, 2.5);
  for (const QSize size : {QSize(320, 240), QSize(640, 480)}) {
    const std::vector<gst::ResponsePatch> patches = gst::ResponsePatchesFor(size);
    for (const double exposureMs : {0.0, 100.0}) {
      SCOPED_TRACE(testing::Message() << size.width() << " frame, exposure " << exposureMs);
      gst::SceneSettings settings{exposureMs, 0, 0, {}};
      settings.responsePatches = true;
      gst::SceneCamera camera(size, settings, 1);
      QImage frame(size, QImage::Format_Grayscale8);
      std::vector<double> phases;
      std::vector<std::vector<double>> levels(patches.size());
      for (int k = 0; k < 120; ++k) {
        const std::int64_t at = first + 500 * kMs + k * 13 * kMs;
        frame.fill(gst::kSceneBackground);
        camera.DrawFrame(frame.bits(), static_cast<int>(frame.bytesPerLine()), at, timeline);
        phases.push_back(360.0 * kFrequency *
                         (static_cast<double>(at - first) - exposureMs / 2 * 1e6) / 1e9);
        for (std::size_t i = 0; i < patches.size(); ++i)
          levels[i].push_back(MeanLevel(frame, patches[i].rect));
      }
      const double part = kPi * kFrequency * exposureMs / 1000;
      const double smear = part > 0 ? std::sin(part) / part : 1.0;
      for (std::size_t i = 0; i < patches.size(); ++i) {
        const gst::ResponsePatch& patch = patches[i];
        const CosineFit fit = FitCosine(phases, levels[i]);
        EXPECT_NEAR(fit.mean, patch.mean, 0.05) << i;
        if (patch.amplitude == 0) {
          EXPECT_NEAR(fit.amplitude, 0, 0.02) << i;
          continue;
        }
        EXPECT_NEAR(fit.amplitude, patch.amplitude * smear, 0.01 * patch.amplitude * smear) << i;
        EXPECT_NEAR(AngleDifference(fit.phaseDeg, patch.phaseDeg), 0, 1) << i;
      }
    }
  }
}

// ---- A camera filming while the built-in sound output plays ----------------------------------

// The settings every test camera takes, for the lifetime of the object.
class SceneSettingsScope {
 public:
  explicit SceneSettingsScope(const gst::SceneSettings& settings)
      : saved_(gst::TestSceneSettings()) {
    gst::SetTestSceneSettings(settings);
  }
  ~SceneSettingsScope() { gst::SetTestSceneSettings(saved_); }
  SceneSettingsScope(const SceneSettingsScope&) = delete;
  SceneSettingsScope& operator=(const SceneSettingsScope&) = delete;

 private:
  gst::SceneSettings saved_;
};

// The demo names the one rate its cameras run at.
TEST(TestScene, TheCamerasOfferTheRatesTheSettingsName) {
  gst::SceneSettings settings = gst::TestSceneSettings();
  settings.rates = {15, 60, 0};
  const SceneSettingsScope scope(settings);
  testing_support::VirtualCameras cameras;
  const std::vector<gst::CameraDevice> list = gst::ListCameras();
  const auto* camera = testing_support::FindCamera(list, gst::kTestCameraMjpeg);
  ASSERT_TRUE(camera);
  ASSERT_FALSE(camera->formats.empty());
  for (const gst::CameraFormat& format : camera->formats)
    EXPECT_EQ(format.rates, (std::vector<gst::FrameRate>{{60, 1}, {15, 1}}));
}

// A webcam's 29.97 is 30000/1001 exactly: the test cameras stamp each frame that far from the
// last, its duration reaching the next one's stamp, at 60 too, in JPEG and raw alike.
TEST(TestScene, TheCamerasStampFramesAtFractionalAndHighRatesExactly) {
  testing_support::VirtualCameras cameras;
  const std::vector<gst::CameraDevice> list = gst::ListCameras();
  const auto* camera = testing_support::FindCamera(list, gst::kTestCameraMjpeg);
  ASSERT_TRUE(camera);
  struct Case {
    bool raw;
    int width, height;
    gst::FrameRate rate;
  };
  for (const Case& c : {Case{false, 320, 240, {30000, 1001}}, Case{true, 640, 480, {60, 1}},
                        Case{true, 640, 480, {30000, 1001}}}) {
    SCOPED_TRACE(testing::Message()
                 << (c.raw ? "raw " : "jpeg ") << c.rate.numerator << "/" << c.rate.denominator);
    const gst::CameraFormat* format = camera->Find(c.raw, c.width, c.height);
    ASSERT_TRUE(format);
    const gst::ElementPtr pipeline = gst::NewPipeline("stamps");
    GstElement* source = gst::AddToBin(
        pipeline.get(), gst::Adopt(gst_device_create_element(camera->device.get(), nullptr)));
    GstElement* filter =
        gst::AddToBin(pipeline.get(), gst::Adopt(gst_element_factory_make("capsfilter", nullptr)));
    GstElement* sink =
        gst::AddToBin(pipeline.get(), gst::Adopt(gst_element_factory_make("appsink", nullptr)));
    ASSERT_TRUE(source && filter && sink);
    const gst::CapsPtr caps(format->MakeCaps(&c.rate));
    g_object_set(filter, "caps", caps.get(), nullptr);
    g_object_set(sink, "sync", FALSE, nullptr);
    ASSERT_TRUE(gst_element_link_many(source, filter, sink, nullptr));
    ASSERT_NE(gst_element_set_state(pipeline.get(), GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    std::vector<GstClockTime> stamps, durations;
    for (int i = 0; i < 5; ++i) {
      const gst::SamplePtr sample(gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 5 * GST_SECOND));
      if (!sample) break;
      const GstBuffer* buffer = gst_sample_get_buffer(sample.get());
      stamps.push_back(GST_BUFFER_PTS(buffer));
      durations.push_back(GST_BUFFER_DURATION(buffer));
    }
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    ASSERT_EQ(stamps.size(), 5u);
    const auto interval = [&](std::size_t frames) {
      return gst_util_uint64_scale(frames, GST_SECOND * static_cast<guint64>(c.rate.denominator),
                                   static_cast<guint64>(c.rate.numerator));
    };
    for (std::size_t i = 1; i < stamps.size(); ++i) {
      ASSERT_TRUE(GST_CLOCK_TIME_IS_VALID(stamps[i]) && GST_CLOCK_TIME_IS_VALID(durations[i - 1]));
      EXPECT_EQ(stamps[i - 1] + durations[i - 1], stamps[i]) << i;
      // Every frame on the rate's grid: no rounding that adds up.
      EXPECT_LE(std::llabs(static_cast<long long>(stamps[i] - stamps[0]) -
                           static_cast<long long>(interval(i))),
                1)
          << i;
    }
  }
}

// The test cameras take the setting when they are made: with it their frames hold the patches
// (at their means while nothing plays), without it the background.
TEST(ResponsePatches, TheTestCamerasDrawThemOnlyWhenTheSettingsAskForThem) {
  testing_support::VirtualCameras cameras;
  const std::vector<gst::CameraDevice> list = gst::ListCameras();
  const auto* yuy2 = testing_support::FindCamera(list, gst::kTestCameraYuy2);
  ASSERT_TRUE(yuy2);
  const QSize size(320, 240);
  const QRectF background(0, size.height() - 6, 8, 4);  // below the scene
  for (const bool on : {false, true}) {
    gst::SceneSettings settings = gst::TestSceneSettings();
    settings.responsePatches = on;
    const SceneSettingsScope scope(settings);
    gst::CameraPipeline camera;
    ASSERT_TRUE(camera.Open(*yuy2, *yuy2->Find(true, size.width(), size.height())));
    ASSERT_TRUE(testing_support::WaitFor([&] { return camera.FrameCount() >= 2; }, 5000));
    const QImage image = camera.LatestFrame()->Image().convertToFormat(QImage::Format_Grayscale8);
    const double ground = MeanLevel(image, background);
    for (const gst::ResponsePatch& patch : gst::ResponsePatchesFor(size)) {
      const double level = MeanLevel(image, patch.rect);
      if (on)
        EXPECT_GT(std::abs(level - ground), 20) << patch.mean;
      else
        EXPECT_NEAR(level, ground, 2) << patch.mean;
    }
  }
}

// `appsrc ! the built-in sound output "Scene tone"`, playing a sine from phase 0.
class TonePlayer {
 public:
  TonePlayer(double frequency, double seconds) {
    for (const gst::KnownDevice& known :
         gst::DeviceMonitor::Instance().Devices(gst::DeviceMonitor::Kind::Sound))
      if (known.name == QLatin1String("Scene tone"))
        sink_ = gst::Adopt(gst_device_create_element(known.device.get(), nullptr));
    if (!sink_) return;
    pipeline_ = gst::NewPipeline("tone");
    gst::ElementMaker maker;
    GstElement* source = gst::AddToBin(pipeline_.get(), maker.Make("appsrc"));
    GstElement* sink = gst::AddToBin(pipeline_.get(), std::move(sink_));
    constexpr int kRate = 48000;
    const gst::CapsPtr caps(gst_caps_new_simple(
        "audio/x-raw", "format", G_TYPE_STRING, "S16LE", "layout", G_TYPE_STRING, "interleaved",
        "rate", G_TYPE_INT, kRate, "channels", G_TYPE_INT, 1, nullptr));
    g_object_set(source, "caps", caps.get(), "format", GST_FORMAT_TIME, nullptr);
    if (!gst_element_link(source, sink)) return;
    constexpr int kChunk = kRate / 20;
    const auto total = static_cast<int>(seconds * kRate);
    for (int at = 0; at < total; at += kChunk) {
      GstBuffer* buffer = gst_buffer_new_allocate(nullptr, kChunk * 2, nullptr);
      GstMapInfo map;
      gst_buffer_map(buffer, &map, GST_MAP_WRITE);
      auto* samples = reinterpret_cast<std::int16_t*>(map.data);
      for (int i = 0; i < kChunk; ++i)
        samples[i] = static_cast<std::int16_t>(
            std::lround(30000 * std::sin(2 * kPi * frequency * (at + i) / kRate)));
      gst_buffer_unmap(buffer, &map);
      GST_BUFFER_PTS(buffer) = gst_util_uint64_scale(at, GST_SECOND, kRate);
      GST_BUFFER_DURATION(buffer) = gst_util_uint64_scale(kChunk, GST_SECOND, kRate);
      gst_app_src_push_buffer(GST_APP_SRC(source), buffer);
    }
    gst_app_src_end_of_stream(GST_APP_SRC(source));
    playing_ =
        gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
    gst_element_get_state(pipeline_.get(), nullptr, nullptr, GST_SECOND);
  }
  ~TonePlayer() {
    if (pipeline_) gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
  }
  TonePlayer(const TonePlayer&) = delete;
  TonePlayer& operator=(const TonePlayer&) = delete;

  bool Playing() const { return playing_; }
  // When the first sample played: the pipeline runs on the system clock, the steady clock.
  std::int64_t StartNs() const {
    return static_cast<std::int64_t>(gst_element_get_base_time(pipeline_.get()));
  }

 private:
  gst::ElementPtr sink_;
  gst::ElementPtr pipeline_;
  bool playing_ = false;
};

struct FilmedFrame {
  gst::FramePtr frame;
  double expectedDegrees;
};

// Reads the hand on each of a few frames of each camera and compares it with the phase at the
// middle of the frame's exposure, `delay` before its capture time.
TEST(SceneInStep, TheTestCamerasShowTheToneOfTheBuiltInSoundOutputAtTheirExposure) {
  // Registered before the cameras open: a new device lists every virtual device anew, which
  // an open camera takes as its removal.
  QTemporaryDir dir;
  gst::RegisterVirtualSoundDevice(QStringLiteral("Scene tone"),
                                  dir.filePath(QStringLiteral("tone.wav")));
  testing_support::VirtualCameras cameras;
  const std::vector<gst::CameraDevice> list = gst::ListCameras();
  const auto* yuy2 = testing_support::FindCamera(list, gst::kTestCameraYuy2);
  const auto* mjpeg = testing_support::FindCamera(list, gst::kTestCameraMjpeg);
  ASSERT_TRUE(yuy2 && mjpeg);
  constexpr double kExposureMs = 1;
  const SceneSettingsScope settings({kExposureMs, 0, 0, {}});

  // Without a tone the hand rests at 0.
  {
    gst::CameraPipeline idle;
    ASSERT_TRUE(idle.Open(*yuy2, *yuy2->Find(true, 320, 240)));
    ASSERT_TRUE(testing_support::WaitFor([&] { return idle.FrameCount() >= 2; }, 5000));
    const gst::SceneLayout layout = gst::SceneLayoutFor(QSize(320, 240));
    EXPECT_NEAR(
        AngleDifference(testing_support::ReadHandAngle(idle.LatestFrame()->Image(),
                                                       layout.dialCentre, layout.dialRadius),
                        0),
        0, 2);
  }

  constexpr double kFrequency = 7.3;
  const TonePlayer tone(kFrequency, 3);
  ASSERT_TRUE(tone.Playing());
  // Delay 0 on the YUY2 camera, 40 ms on the MJPEG one (its frames pass through JPEG).
  struct Filming {
    const gst::CameraDevice* device;
    const gst::CameraFormat* format;
    double delayMs;
    std::unique_ptr<gst::CameraPipeline> pipeline = std::make_unique<gst::CameraPipeline>();
    std::vector<FilmedFrame> frames = {};
  };
  Filming films[] = {{yuy2, yuy2->Find(true, 640, 480), 0},
                     {mjpeg, mjpeg->Find(false, 640, 480), 40}};
  for (Filming& film : films) {
    ASSERT_TRUE(film.format);
    QString error;
    ASSERT_TRUE(film.pipeline->Open(*film.device, *film.format, &error, GST_STATE_READY))
        << error.toStdString();
    g_object_set(film.pipeline->Source(), "delay-ms", film.delayMs, nullptr);
    ASSERT_TRUE(film.pipeline->SetState(GST_STATE_PLAYING));
  }
  const std::int64_t start = tone.StartNs();
  auto expected = [&](const gst::FramePtr& frame, double delayMs) {
    const double at = static_cast<double>(frame->CaptureNs()) - (delayMs + kExposureMs / 2) * 1e6;
    return 360.0 * kFrequency * (at - static_cast<double>(start)) / 1e9;
  };
  ASSERT_TRUE(testing_support::WaitFor(
      [&] {
        for (Filming& film : films) {
          const gst::FramePtr latest = film.pipeline->LatestFrame();
          // Frames exposed while the tone plays, once two rising zero crossings gave its period.
          if (!latest || latest->CaptureNs() < start + 400 * kMs ||
              (!film.frames.empty() && film.frames.back().frame->Number() == latest->Number()))
            continue;
          if (film.frames.size() < 8)
            film.frames.push_back({latest->Detached(), expected(latest, film.delayMs)});
        }
        return films[0].frames.size() >= 8 && films[1].frames.size() >= 8;
      },
      4000));
  const gst::SceneLayout layout = gst::SceneLayoutFor(QSize(640, 480));
  for (const Filming& film : films) {
    for (const FilmedFrame& filmed : film.frames) {
      ASSERT_LT(filmed.frame->CaptureNs(), start + 2900 * kMs);
      EXPECT_NEAR(AngleDifference(testing_support::ReadHandAngle(
                                      filmed.frame->Image(), layout.dialCentre, layout.dialRadius),
                                  filmed.expectedDegrees),
                  0, 2)
          << film.device->name.toStdString() << " frame " << filmed.frame->Number();
    }
  }
  gst::ClearVirtualSoundDevices();
}

// The exposure set while the camera films: the hand reads at the middle of the new exposure.
// The scene is dimmed as the exposure grows, so that the picture stays as bright.
TEST(SceneInStep, AnExposureSetWhileFilmingTakesEffectAtOnce) {
  QTemporaryDir dir;
  gst::RegisterVirtualSoundDevice(QStringLiteral("Scene tone"),
                                  dir.filePath(QStringLiteral("tone.wav")));
  testing_support::VirtualCameras cameras;
  const std::vector<gst::CameraDevice> list = gst::ListCameras();
  const auto* yuy2 = testing_support::FindCamera(list, gst::kTestCameraYuy2);
  ASSERT_TRUE(yuy2);
  const SceneSettingsScope settings({2, 0, 0, {}});
  gst::CameraPipeline camera;
  ASSERT_TRUE(camera.Open(*yuy2, *yuy2->Find(true, 320, 240)));
  constexpr double kFrequency = 7.3;
  const TonePlayer tone(kFrequency, 3);
  ASSERT_TRUE(tone.Playing());
  const gst::SceneLayout layout = gst::SceneLayoutFor(QSize(320, 240));
  // The hand on frames captured after `fromNs`, less the phase at the middle of `exposureMs`.
  auto errors = [&](std::int64_t fromNs, double exposureMs) {
    std::vector<double> found;
    std::uint64_t last = 0;
    testing_support::WaitFor(
        [&] {
          const gst::FramePtr frame = camera.LatestFrame();
          if (!frame || frame->Number() == last || frame->CaptureNs() < fromNs) return false;
          last = frame->Number();
          const double at =
              static_cast<double>(frame->CaptureNs() - tone.StartNs()) - exposureMs / 2 * 1e6;
          found.push_back(AngleDifference(
              testing_support::ReadHandAngle(frame->Image(), layout.dialCentre, layout.dialRadius),
              360.0 * kFrequency * at / 1e9));
          return found.size() >= 4;
        },
        3000);
    return found;
  };
  const std::vector<double> before = errors(tone.StartNs() + 400 * kMs, 2);
  constexpr double kLongMs = 30;
  g_object_set(camera.Source(), "exposure-ms", kLongMs, nullptr);
  gst::SetTestSceneLight(2 / kLongMs);
  const std::int64_t changed = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count();
  const std::vector<double> after = errors(changed + 100 * kMs, kLongMs);
  gst::SetTestSceneLight(1);
  gst::ClearVirtualSoundDevices();
  ASSERT_EQ(before.size(), 4u);
  ASSERT_EQ(after.size(), 4u);
  for (const double error : before) EXPECT_NEAR(error, 0, 2);
  for (const double error : after) EXPECT_NEAR(error, 0, 3);
}

}  // namespace
