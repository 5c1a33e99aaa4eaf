// The test cameras' scene lit by a strobe: the light channel of a two-channel stream in the
// record of what played, pictures that show the scene at the pulses whatever the exposure and
// delay, dark pictures between pulses, and the built-in sound devices' channel counts.

#include <gst/app/gstappsrc.h>
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cmath>
#include <numbers>
#include <vector>

#include "platform/gst/device_monitor.h"
#include "platform/gst/gst_util.h"
#include "platform/gst/sound_timeline.h"
#include "platform/gst/test_scene.h"
#include "platform/gst/virtual_devices.h"
#include "tests/support/scene_reader.h"

namespace {

using gst::Flash;
using gst::SoundTimeline;
using testing_support::AngleDifference;

constexpr double kPi = std::numbers::pi;
constexpr std::int64_t kMs = 1'000'000;
constexpr int kRate = 48000;
constexpr double kSampleNs = 1e9 / kRate;

// A tone on channel 0 and, on channel 1, a full-scale pulse of 1 ms in every period centred
// (as the mean of its samples' times) at or just after `pulseDegrees`, slightly negative
// between pulses. Interleaved S16LE, or U8 when `eightBit`.
struct StrobeStream {
  std::vector<std::uint8_t> bytes;
  std::vector<double> centres;  // each pulse's middle, in samples
};

StrobeStream MakeStrobe(double frequency, double pulseDegrees, double seconds, bool eightBit) {
  constexpr int kWidth = 48;          // 1 ms
  constexpr double kBetween = -0.05;  // dark: an LED conducts on positive samples only
  StrobeStream stream;
  const auto count = static_cast<std::int64_t>(seconds * kRate);
  const double period = kRate / frequency;
  std::vector<bool> lit(static_cast<std::size_t>(count), false);
  for (int m = 0;; ++m) {
    const double ideal = (pulseDegrees / 360 + m) * period;
    if (ideal >= static_cast<double>(count)) break;
    const auto first = static_cast<std::int64_t>(std::ceil(ideal - (kWidth - 1) / 2.0));
    if (first < 0 || first + kWidth > count) continue;
    for (std::int64_t k = first; k < first + kWidth; ++k) lit[static_cast<std::size_t>(k)] = true;
    stream.centres.push_back(static_cast<double>(first) + (kWidth - 1) / 2.0);
  }
  for (std::int64_t k = 0; k < count; ++k) {
    const double tone = 0.9 * std::sin(2 * kPi * frequency * static_cast<double>(k) / kRate);
    const double light = lit[static_cast<std::size_t>(k)] ? 1.0 : kBetween;
    if (eightBit) {
      stream.bytes.push_back(static_cast<std::uint8_t>(std::lround(128 + 127 * tone)));
      stream.bytes.push_back(static_cast<std::uint8_t>(std::lround(128 + 127 * light)));
    } else {
      for (const double value : {tone, light}) {
        const auto sample =
            static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(32767 * value)));
        stream.bytes.push_back(static_cast<std::uint8_t>(sample & 0xff));
        stream.bytes.push_back(static_cast<std::uint8_t>(sample >> 8));
      }
    }
  }
  return stream;
}

// Plays two-channel bytes into the timeline as the sink does, in buffers of `chunk` samples.
void PlayStrobe(SoundTimeline& timeline, const std::vector<std::uint8_t>& bytes, bool eightBit,
                std::int64_t firstNs, std::size_t chunk = 480) {
  timeline.Restart(kRate);
  const std::size_t frame = eightBit ? 2 : 4;
  for (std::size_t at = 0; at < bytes.size(); at += chunk * frame) {
    const std::size_t size = std::min(chunk * frame, bytes.size() - at);
    const std::vector<float> tone = gst::ChannelZero(bytes.data() + at, size, eightBit, 2);
    const std::vector<float> light = gst::ChannelOneLight(bytes.data() + at, size, eightBit, 2);
    const std::size_t index = at / frame;  // whole frames
    timeline.Append(firstNs + std::llround(static_cast<double>(index) * kSampleNs), kSampleNs, tone,
                    light);
  }
}

double CentreNs(std::int64_t firstNs, double centreSamples) {
  return static_cast<double>(firstNs) + centreSamples * kSampleNs;
}

// ---- The record of the light channel ---------------------------------------------------------

TEST(StrobeTimeline, KeepsEachPulsesLightAndMeanTimeOfS16AndU8Streams) {
  for (const bool eightBit : {false, true}) {
    SCOPED_TRACE(eightBit ? "U8" : "S16LE");
    SoundTimeline timeline(2.0);
    const std::int64_t first = 3'000'000'000;
    const StrobeStream stream = MakeStrobe(50, 90, 1.0, eightBit);
    PlayStrobe(timeline, stream.bytes, eightBit, first);
    const double pulseNs = 48 * kSampleNs;  // full light: negative samples between count 0

    // Whole pulses taken together: one flash each, at the mean of its samples' times.
    std::vector<Flash> flashes;
    ASSERT_TRUE(timeline.LightBetween(first + 100 * kMs, first + 300 * kMs, 1e9, flashes));
    std::vector<double> inside;
    for (const double centre : stream.centres) {
      const double ns = CentreNs(first, centre);
      if (ns > static_cast<double>(first + 100 * kMs) &&
          ns < static_cast<double>(first + 300 * kMs))
        inside.push_back(ns);
    }
    ASSERT_EQ(flashes.size(), inside.size());
    ASSERT_EQ(inside.size(), 10u);
    for (std::size_t i = 0; i < flashes.size(); ++i) {
      EXPECT_NEAR(flashes[i].ns, inside[i], 1) << i;
      EXPECT_NEAR(flashes[i].lightNs, pulseNs, pulseNs * 1e-4) << i;
    }

    // Split into short flashes, a pulse keeps its light and its mean time.
    flashes.clear();
    ASSERT_TRUE(
        timeline.LightBetween(first + 100 * kMs, first + 120 * kMs, 5 * kSampleNs, flashes));
    ASSERT_GE(flashes.size(), 8u);
    double light = 0, weighted = 0;
    for (const Flash& flash : flashes) {
      EXPECT_LE(flash.lightNs, 6 * kSampleNs + 1);
      light += flash.lightNs;
      weighted += flash.lightNs * (flash.ns - inside[0]);
    }
    EXPECT_NEAR(light, pulseNs, pulseNs * 1e-4);
    EXPECT_NEAR(weighted / light, 0, 1);

    // A window that ends at a pulse's middle sees its first half.
    flashes.clear();
    ASSERT_TRUE(timeline.LightBetween(first + 100 * kMs, std::llround(inside[0]), 1e9, flashes));
    ASSERT_EQ(flashes.size(), 1u);
    EXPECT_NEAR(flashes[0].lightNs, pulseNs / 2, kSampleNs);
  }
}

TEST(StrobeTimeline, AMonoStreamOldSoundAndTimesOutsideTheRecordHaveNoLightChannel) {
  SoundTimeline timeline(1.0);
  const std::int64_t first = 3'000'000'000;
  const StrobeStream stream = MakeStrobe(50, 90, 3.0, false);
  PlayStrobe(timeline, stream.bytes, false, first);
  std::vector<Flash> flashes;
  // Bounded: only the last second is kept.
  EXPECT_FALSE(timeline.LightBetween(first + 500 * kMs, first + 600 * kMs, 1e9, flashes));
  EXPECT_TRUE(flashes.empty());
  EXPECT_TRUE(timeline.LightBetween(first + 2500 * kMs, first + 2600 * kMs, 1e9, flashes));
  EXPECT_EQ(flashes.size(), 5u);
  // Just past the record, the buffer under way: the pulses go on a period apart.
  const std::int64_t end = first + 3000 * kMs;
  flashes.clear();
  ASSERT_TRUE(timeline.LightBetween(end, end + 40 * kMs, 1e9, flashes));
  ASSERT_EQ(flashes.size(), 2u);
  EXPECT_NEAR(flashes[0].ns, CentreNs(first, stream.centres.back()) + 20 * kMs, 2000);
  EXPECT_NEAR(flashes[1].ns, CentreNs(first, stream.centres.back()) + 40 * kMs, 2000);
  // Long after it, nothing plays.
  EXPECT_FALSE(timeline.LightBetween(end + 500 * kMs, end + 600 * kMs, 1e9, flashes));

  // A mono stream after it: no light channel, whatever came before.
  timeline.Restart(kRate);
  std::vector<float> tone(kRate / 2);
  for (std::size_t k = 0; k < tone.size(); ++k)
    tone[k] = static_cast<float>(0.9 * std::sin(2 * kPi * 50 * static_cast<double>(k) / kRate));
  timeline.Append(end + 1000 * kMs, kSampleNs, tone);
  flashes.clear();
  EXPECT_FALSE(timeline.LightBetween(end + 1100 * kMs, end + 1200 * kMs, 1e9, flashes));
  EXPECT_TRUE(flashes.empty());
}

// ---- Pictures lit by the strobe --------------------------------------------------------------

const QSize kFrame(320, 240);

struct Picture {
  QImage image;
  double hand;  // degrees
  double lamp;  // 0..1
};

Picture Film(const SoundTimeline& timeline, double exposureMs, double delayMs, std::int64_t frameNs,
             double ambient = 0.02) {
  gst::SceneSettings settings{exposureMs, delayMs, 0, {}};
  settings.ambient = ambient;
  gst::SceneCamera camera(kFrame, settings, 1);
  Picture picture{QImage(kFrame, QImage::Format_Grayscale8), 0, 0};
  picture.image.fill(gst::kSceneBackground);
  camera.DrawFrame(picture.image.bits(), static_cast<int>(picture.image.bytesPerLine()), frameNs,
                   timeline);
  const gst::SceneLayout layout = gst::SceneLayoutFor(kFrame);
  picture.hand =
      testing_support::ReadHandAngle(picture.image, layout.dialCentre, layout.dialRadius);
  picture.lamp = testing_support::ReadLampBrightness(picture.image, layout.lamp);
  return picture;
}

TEST(StrobeScene, TheHandShowsThePulsePhaseWhateverTheExposureDelayAndTone) {
  const std::int64_t first = 4'000'000'000;
  for (const double frequency : {5.0, 50.0}) {
    for (const double pulseDegrees : {0.0, 90.0, 200.0}) {
      SoundTimeline timeline;
      const StrobeStream stream = MakeStrobe(frequency, pulseDegrees, 1.6, false);
      PlayStrobe(timeline, stream.bytes, false, first);
      // Pulses well inside the record, once the tone's period is known.
      const std::vector<double> centres(stream.centres.end() - 4, stream.centres.end() - 1);
      for (const double exposureMs : {5.0, 15.0, 33.0}) {
        for (const double delayMs : {0.0, 150.0}) {
          for (const double centre : centres) {
            // The pulse near the exposure's start, middle and end, always whole inside it.
            for (const double place : {0.7, exposureMs / 2, exposureMs - 0.7}) {
              SCOPED_TRACE(testing::Message()
                           << frequency << " Hz, pulse at " << pulseDegrees << " deg, exposure "
                           << exposureMs << " ms, delay " << delayMs << " ms, pulse " << place
                           << " ms into it");
              const double start = CentreNs(first, centre) - place * 1e6;
              const auto frameNs = std::llround(start + (exposureMs + delayMs) * 1e6);
              const Picture picture = Film(timeline, exposureMs, delayMs, frameNs);
              const double truth = 360.0 * frequency * centre / kRate;
              EXPECT_NEAR(AngleDifference(picture.hand, truth), 0, 1);
              // Fully lit: one pulse lights fully, two (50 Hz in 33 ms) no more.
              EXPECT_NEAR(picture.lamp, 1.0, 0.01);
            }
          }
        }
      }
    }
  }
}

TEST(StrobeScene, BetweenPulsesOnlyTheAmbientLightShowsAndHalfAPulseLightsHalf) {
  const std::int64_t first = 4'000'000'000;
  SoundTimeline timeline;
  constexpr double kFrequency = 5;  // a pulse every 200 ms, at 90 degrees (50 ms into a period)
  const StrobeStream stream = MakeStrobe(kFrequency, 90, 1.6, false);
  PlayStrobe(timeline, stream.bytes, false, first);
  const gst::SceneLayout layout = gst::SceneLayoutFor(kFrame);
  const QPoint face = (layout.dialCentre + QPointF(0, layout.dialRadius * 0.5)).toPoint();
  // A 15 ms exposure around 270 degrees, 100 ms from any pulse.
  const double centre = CentreNs(first, stream.centres[4]);
  const auto darkFrame = std::llround(centre + 100 * kMs + 7.5 * kMs);

  const Picture dim = Film(timeline, 15, 0, darkFrame);
  EXPECT_NEAR(dim.lamp, 0.02, 0.01);
  EXPECT_LE(dim.image.pixel(face) & 0xff, static_cast<unsigned>(gst::kSceneBlack + 6));
  EXPECT_GE(dim.image.pixel(face) & 0xff, static_cast<unsigned>(gst::kSceneBlack + 2));

  // Without ambient light the picture is black all over.
  const Picture black = Film(timeline, 15, 0, darkFrame, 0);
  for (int y = 0; y < kFrame.height(); ++y)
    for (int x = 0; x < kFrame.width(); ++x)
      ASSERT_EQ(black.image.constScanLine(y)[x], gst::kSceneBlack) << x << "," << y;

  // A brighter ambient light shows the scene as it moved over the exposure, that bright.
  const Picture ambient = Film(timeline, 15, 0, darkFrame, 0.4);
  EXPECT_NEAR(ambient.lamp, 0.4, 0.01);
  EXPECT_NEAR(AngleDifference(ambient.hand, 270), 0, 1.5);

  // An exposure that ends at a pulse's middle catches half its light.
  const Picture half = Film(timeline, 15, 0, std::llround(centre));
  EXPECT_NEAR(half.lamp, 0.52, 0.02);
  EXPECT_NEAR(AngleDifference(half.hand, 90), 0, 3);  // the pulse's first half: just before 90
}

// A mono stream lights the scene as before the strobe: the ambient light plays no part.
TEST(StrobeScene, AMonoStreamIsFilmedAsWithoutAStrobe) {
  const std::int64_t first = 4'000'000'000;
  SoundTimeline timeline;
  timeline.Restart(kRate);
  constexpr double kFrequency = 5;
  std::vector<float> tone(kRate);
  for (std::size_t k = 0; k < tone.size(); ++k)
    tone[k] =
        static_cast<float>(0.9 * std::sin(2 * kPi * kFrequency * static_cast<double>(k) / kRate));
  timeline.Append(first, kSampleNs, tone);
  const auto frameNs = first + 550 * kMs;  // exposure middle at 545 ms: 261 degrees
  const Picture plain = Film(timeline, 10, 0, frameNs, 0);
  const Picture ambient = Film(timeline, 10, 0, frameNs, 0.5);
  EXPECT_EQ(plain.image, ambient.image);
  EXPECT_NEAR(AngleDifference(plain.hand, 360 * kFrequency * 0.545), 0, 1);
  EXPECT_NEAR(plain.lamp, 0, 0.01);  // the tone's negative half-wave
  const Picture positive = Film(timeline, 10, 0, first + 255 * kMs, 0);
  EXPECT_GT(positive.lamp, 0.5);  // 90 degrees: the lamp follows the tone
}

// ---- The built-in sound devices --------------------------------------------------------------

std::shared_ptr<GstDevice> FindSoundDevice(const QString& name) {
  for (const gst::KnownDevice& known :
       gst::DeviceMonitor::Instance().Devices(gst::DeviceMonitor::Kind::Sound))
    if (known.name == name) return known.device;
  return nullptr;
}

gst::CapsPtr StereoCaps(int channels) {
  return gst::CapsPtr(gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, "S16LE", "layout",
                                          G_TYPE_STRING, "interleaved", "rate", G_TYPE_INT, kRate,
                                          "channels", G_TYPE_INT, channels, nullptr));
}

TEST(StrobeDevices, AOneChannelDeviceRefusesTwoChannelsAndTheOtherRecordsThePulses) {
  QTemporaryDir dir;
  gst::RegisterVirtualSoundDevice(QStringLiteral("Strobe mono"),
                                  dir.filePath(QStringLiteral("mono.wav")), 1.0, 1);
  gst::RegisterVirtualSoundDevice(QStringLiteral("Strobe stereo"),
                                  dir.filePath(QStringLiteral("stereo.wav")));
  const std::shared_ptr<GstDevice> mono = FindSoundDevice(QStringLiteral("Strobe mono"));
  const std::shared_ptr<GstDevice> stereo = FindSoundDevice(QStringLiteral("Strobe stereo"));
  ASSERT_TRUE(mono && stereo);
  for (const auto& [device, most] : {std::pair{mono.get(), 1}, std::pair{stereo.get(), 2}}) {
    const gst::CapsPtr caps(gst_device_get_caps(device));
    const gst::ElementPtr sink = gst::Adopt(gst_device_create_element(device, nullptr));
    ASSERT_TRUE(caps && sink);
    const gst::PadPtr pad(gst_element_get_static_pad(sink.get(), "sink"));
    for (const int channels : {1, 2}) {
      SCOPED_TRACE(testing::Message() << most << "-channel device, " << channels << " channels");
      EXPECT_EQ(gst_caps_can_intersect(caps.get(), StereoCaps(channels).get()) != FALSE,
                channels <= most);
      EXPECT_EQ(gst_pad_query_accept_caps(pad.get(), StereoCaps(channels).get()) != FALSE,
                channels <= most);
    }
  }

  // Half a second of a 10 Hz tone with a pulse at 90 degrees, played in real time.
  const gst::ElementPtr pipeline = gst::NewPipeline("strobe");
  gst::ElementMaker maker;
  GstElement* source = gst::AddToBin(pipeline.get(), maker.Make("appsrc"));
  GstElement* sink =
      gst::AddToBin(pipeline.get(), gst::Adopt(gst_device_create_element(stereo.get(), nullptr)));
  g_object_set(source, "caps", StereoCaps(2).get(), "format", GST_FORMAT_TIME, nullptr);
  ASSERT_TRUE(gst_element_link(source, sink));
  constexpr double kFrequency = 10;
  const StrobeStream stream = MakeStrobe(kFrequency, 90, 0.5, false);
  constexpr std::size_t kChunk = kRate / 50;
  for (std::size_t at = 0; at * 4 < stream.bytes.size(); at += kChunk) {
    const std::size_t size = std::min(kChunk * 4, stream.bytes.size() - at * 4);
    GstBuffer* buffer = gst_buffer_new_memdup(stream.bytes.data() + at * 4, size);
    GST_BUFFER_PTS(buffer) = gst_util_uint64_scale(at, GST_SECOND, kRate);
    GST_BUFFER_DURATION(buffer) = gst_util_uint64_scale(size / 4, GST_SECOND, kRate);
    gst_app_src_push_buffer(GST_APP_SRC(source), buffer);
  }
  gst_app_src_end_of_stream(GST_APP_SRC(source));
  ASSERT_NE(gst_element_set_state(pipeline.get(), GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
  const gst::BusPtr bus(gst_element_get_bus(pipeline.get()));
  const gst::MessagePtr done(gst_bus_timed_pop_filtered(
      bus.get(), 5 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
  const auto start = static_cast<std::int64_t>(gst_element_get_base_time(pipeline.get()));
  gst_element_set_state(pipeline.get(), GST_STATE_NULL);
  gst::ClearVirtualSoundDevices();
  ASSERT_TRUE(done);
  ASSERT_EQ(GST_MESSAGE_TYPE(done.get()), GST_MESSAGE_EOS);

  std::vector<Flash> flashes;
  ASSERT_TRUE(gst::PlayedSound().LightBetween(start, start + 500 * kMs, 1e9, flashes));
  ASSERT_EQ(flashes.size(), stream.centres.size());
  for (std::size_t i = 0; i < flashes.size(); ++i) {
    // On the pipeline's clock from its start, as the tone's own samples.
    EXPECT_NEAR(flashes[i].ns - static_cast<double>(start), stream.centres[i] * kSampleNs, 1e6)
        << i;
    EXPECT_NEAR(flashes[i].ns - flashes[0].ns, (stream.centres[i] - stream.centres[0]) * kSampleNs,
                1e3)
        << i;
    EXPECT_NEAR(flashes[i].lightNs, 48 * kSampleNs, 1) << i;
    const std::optional<double> phase = gst::PlayedSound().PhaseAt(std::llround(flashes[i].ns));
    ASSERT_TRUE(phase) << i;
    EXPECT_NEAR(AngleDifference(*phase, 90), 0, 0.5) << i;
  }
}

}  // namespace
