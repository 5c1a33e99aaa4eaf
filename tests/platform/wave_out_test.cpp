#include <gst/base/gstbasesink.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <thread>

#include "platform/gst/gst_util.h"
#include "platform/gst/virtual_devices.h"
#include "platform/wave/wave_out.h"
#include "platform/wave/wave_stream.h"
#include "tests/support/wav_file.h"

using namespace wave;

namespace {

WAVEFORMATEX Pcm16Mono(std::uint32_t rate) {
  WAVEFORMATEX format;
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = 1;
  format.nSamplesPerSec = rate;
  format.nAvgBytesPerSec = rate * 2;
  format.nBlockAlign = 2;
  format.wBitsPerSample = 16;
  format.cbSize = 18;
  return format;
}

int DeviceNumber(const QString& name) {
  const int count = static_cast<int>(waveOutGetNumDevs());
  for (int d = 0; d < count; ++d) {
    WAVEOUTCAPS caps;
    if (waveOutGetDevCaps(d, &caps) == MMSYSERR_NOERROR && caps.szPname == name) return d;
  }
  return -2;
}

// Collects the notifications and, like the generator, re-queues both headers on each DONE.
class Receiver : public QObject {
 public:
  HWAVEOUT handle = 0;
  WAVEHDR* first = nullptr;
  WAVEHDR* second = nullptr;
  bool requeue = true;
  std::vector<std::uint32_t> messages;
  std::vector<WAVEHDR*> done;
  std::vector<std::int64_t> doneAtNs;  // steady clock, when each was handled

  bool event(QEvent* e) override {
    if (e->type() != WaveOutEvent::kType) return QObject::event(e);
    auto* notice = static_cast<WaveOutEvent*>(e);
    messages.push_back(notice->Message());
    if (notice->Message() == MM_WOM_DONE) {
      done.push_back(notice->Header());
      doneAtNs.push_back(gst::SteadyNowNs());
      if (requeue) {
        waveOutWrite(handle, first, kWaveHdrSize);
        waveOutWrite(handle, second, kWaveHdrSize);
      }
    }
    return true;
  }
};

void WaitFor(int milliseconds) {
  QTest::qWait(milliseconds);
}

std::vector<std::int16_t> Ramp(std::int16_t from) {
  std::vector<std::int16_t> samples(2000);
  std::iota(samples.begin(), samples.end(), from);
  return samples;
}

// A system clock that holds the thread reading it right after it took its time, when that
// thread asked for it: what a reader preempted between two clock reads sees.
thread_local int stalls_left = 0;
constexpr auto kStall = std::chrono::milliseconds(50);

struct StallingClock {
  GstSystemClock parent;
};
struct StallingClockClass {
  GstSystemClockClass parent_class;
};
G_DEFINE_TYPE(StallingClock, stalling_clock, GST_TYPE_SYSTEM_CLOCK)

GstClockTime StallingInternalTime(GstClock* clock) {
  const GstClockTime time = GST_CLOCK_CLASS(stalling_clock_parent_class)->get_internal_time(clock);
  if (stalls_left > 0) {
    --stalls_left;
    std::this_thread::sleep_for(kStall);
  }
  return time;
}
void stalling_clock_class_init(StallingClockClass* klass) {
  GST_CLOCK_CLASS(klass)->get_internal_time = StallingInternalTime;
}
void stalling_clock_init(StallingClock*) {}

// A sound sink that plays nothing and gives the pipeline its clock. It does not wait on that
// clock: a reading of a clock never goes back behind the latest one any thread took, so a
// thread waiting on it meanwhile would hide the stalled reader's lateness.
GstClock* given_clock = nullptr;
struct ClockedSink {
  GstBaseSink parent;
};
struct ClockedSinkClass {
  GstBaseSinkClass parent_class;
};
G_DEFINE_TYPE(ClockedSink, clocked_sink, GST_TYPE_BASE_SINK)

GstClock* ClockedSinkProvideClock(GstElement*) {
  return given_clock ? GST_CLOCK(gst_object_ref(given_clock)) : nullptr;
}
GstFlowReturn ClockedSinkRender(GstBaseSink*, GstBuffer*) {
  return GST_FLOW_OK;
}
void clocked_sink_class_init(ClockedSinkClass* klass) {
  static GstStaticPadTemplate sink_template = GST_STATIC_PAD_TEMPLATE(
      "sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS("audio/x-raw, format=(string)S16LE"));
  auto* element = GST_ELEMENT_CLASS(klass);
  gst_element_class_add_static_pad_template(element, &sink_template);
  gst_element_class_set_static_metadata(element, "Clocked sink", "Sink/Audio", "Plays nothing",
                                        "Strobolux");
  element->provide_clock = ClockedSinkProvideClock;
  GST_BASE_SINK_CLASS(klass)->render = ClockedSinkRender;
}
void clocked_sink_init(ClockedSink* self) {
  gst_base_sink_set_sync(GST_BASE_SINK(self), FALSE);
  gst_base_sink_set_async_enabled(GST_BASE_SINK(self), FALSE);
  GST_OBJECT_FLAG_SET(self, GST_ELEMENT_FLAG_PROVIDE_CLOCK);
}

class WaveOutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    gst::ClearVirtualSoundDevices();
    gst::RegisterVirtualSoundDevice(QStringLiteral("Test output A"), dir.filePath("a.wav"));
    gst::RegisterVirtualSoundDevice(QStringLiteral("Test output B"), dir.filePath("b.wav"));
  }
  void TearDown() override { gst::ClearVirtualSoundDevices(); }
  QTemporaryDir dir;
};

// Test output A opened with the receiver as its window, and two 0.25 s buffers of 16-bit mono
// at 8 kHz with distinct ramps, so that order and continuity show in the file.
class WaveOutRampsTest : public WaveOutTest {
 protected:
  static constexpr std::uint32_t kRate = 8000;

  void SetUp() override {
    WaveOutTest::SetUp();
    if (HasFatalFailure()) return;
    const int device = DeviceNumber(QStringLiteral("Test output A"));
    ASSERT_GE(device, 0);
    const WAVEFORMATEX format = Pcm16Mono(kRate);
    if (waveOutOpen(&receiver.handle, device, &format, &receiver, -1, CALLBACK_WINDOW) ==
        MMSYSERR_NOERROR)
      handle = receiver.handle;
    ASSERT_NE(handle, 0u);
    receiver.first = &h1;
    receiver.second = &h2;
  }

  // The sample at `index` of a file the ramps played in turn: h1, h2, h1, ...
  std::int16_t RampSample(std::int64_t index) const {
    const auto position = static_cast<size_t>(index % 4000);
    return position < 2000 ? one[position] : two[position - 2000];
  }

  std::vector<std::int16_t> one = Ramp(0);
  std::vector<std::int16_t> two = Ramp(10000);
  WAVEHDR h1{reinterpret_cast<char*>(one.data()), 4000, 0};
  WAVEHDR h2{reinterpret_cast<char*>(two.data()), 4000, 0};
  Receiver receiver;
  HWAVEOUT handle = 0;
};

}  // namespace

TEST_F(WaveOutTest, ListsDevicesWithFullNamesAndAnswersFormatQueries) {
  const int a = DeviceNumber(QStringLiteral("Test output A"));
  const int b = DeviceNumber(QStringLiteral("Test output B"));
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  EXPECT_EQ(b, a + 1);  // in the order the devices were found
  WAVEOUTCAPS mapper;
  EXPECT_EQ(waveOutGetDevCaps(WAVE_MAPPER, &mapper), MMSYSERR_NOERROR);
  EXPECT_FALSE(mapper.szPname.isEmpty());
  WAVEOUTCAPS none;
  EXPECT_EQ(waveOutGetDevCaps(static_cast<int>(waveOutGetNumDevs()), &none), MMSYSERR_BADDEVICEID);

  const WAVEFORMATEX good = Pcm16Mono(44100);
  EXPECT_EQ(waveOutOpen(nullptr, a, &good, nullptr, 0, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
  WAVEFORMATEX notPcm = good;
  notPcm.wFormatTag = 2;
  EXPECT_EQ(waveOutOpen(nullptr, a, &notPcm, nullptr, 0, WAVE_FORMAT_QUERY), WAVERR_BADFORMAT);
  WAVEFORMATEX inconsistent = good;
  inconsistent.nAvgBytesPerSec = 1234;
  EXPECT_EQ(waveOutOpen(nullptr, a, &inconsistent, nullptr, 0, WAVE_FORMAT_QUERY),
            WAVERR_BADFORMAT);
  EXPECT_EQ(waveOutOpen(nullptr, 999, &good, nullptr, 0, WAVE_FORMAT_QUERY), MMSYSERR_BADDEVICEID);
}

TEST_F(WaveOutTest, NoDeviceAtAllLeavesNothingToMapTo) {
  gst::ClearVirtualSoundDevices();
  if (waveOutGetNumDevs() != 0) GTEST_SKIP() << "this machine has a real sound output";
  WAVEOUTCAPS caps;
  EXPECT_EQ(waveOutGetDevCaps(WAVE_MAPPER, &caps), MMSYSERR_BADDEVICEID);
  const WAVEFORMATEX format = Pcm16Mono(48000);
  HWAVEOUT handle = 0;
  EXPECT_NE(waveOutOpen(&handle, WAVE_MAPPER, &format, nullptr, 0, CALLBACK_WINDOW),
            MMSYSERR_NOERROR);
}

TEST_F(WaveOutTest, CallsWithoutAnOpenDeviceFailHarmlessly) {
  WAVEHDR header;
  std::vector<std::int16_t> data(100);
  header.lpData = reinterpret_cast<char*>(data.data());
  header.dwBufferLength = 200;
  EXPECT_EQ(waveOutReset(0), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(waveOutUnprepareHeader(0, &header, kWaveHdrSize), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(waveOutPrepareHeader(0, &header, kWaveHdrSize), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(waveOutWrite(0, &header, kWaveHdrSize), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(waveOutClose(0), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(header.dwFlags, 0u);
}

TEST_F(WaveOutRampsTest, QueuesHeadersInOrderAndRequeuesThemWithoutGaps) {
  EXPECT_EQ(waveOutWrite(handle, &h1, kWaveHdrSize), WAVERR_UNPREPARED);
  EXPECT_EQ(waveOutPrepareHeader(handle, &h1, kWaveHdrSize), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutPrepareHeader(handle, &h2, kWaveHdrSize), MMSYSERR_NOERROR);
  const std::int64_t writtenNs = gst::SteadyNowNs();
  EXPECT_EQ(waveOutWrite(handle, &h1, kWaveHdrSize), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutWrite(handle, &h2, kWaveHdrSize), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutWrite(handle, &h1, kWaveHdrSize), WAVERR_STILLPLAYING);
  EXPECT_EQ(waveOutUnprepareHeader(handle, &h1, kWaveHdrSize), WAVERR_STILLPLAYING);
  EXPECT_EQ(waveOutClose(handle), WAVERR_STILLPLAYING);

  WaitFor(1400);
  // Played in real time, on the device's clock (here the system's, the steady clock): every
  // buffer whose last sample the device has played comes back, however late the window gets
  // to it; the two queued at first play without the window's help.
  ToneTiming timing;
  ASSERT_TRUE(waveOutGetToneTiming(handle, &timing));
  const std::int64_t position = (timing.clockNs - timing.firstSampleNs) * kRate / 1'000'000'000;
  const auto ended = static_cast<size_t>(std::max<std::int64_t>(position / 2000, 2));
  QTRY_VERIFY_WITH_TIMEOUT(receiver.done.size() >= ended, 10000);
  const size_t doneBeforeReset = receiver.done.size();
  // Never more than the time allows: the n-th comes back a quarter second after the one before
  // it at the earliest, whenever the window got to it.
  for (size_t i = 0; i < doneBeforeReset; ++i)
    EXPECT_GE(receiver.doneAtNs[i] - writtenNs, static_cast<std::int64_t>(i + 1) * 250'000'000)
        << i;
  // Buffers come back in the order they were queued, alternating.
  for (size_t i = 0; i < doneBeforeReset; ++i)
    EXPECT_EQ(receiver.done[i], i % 2 == 0 ? &h1 : &h2) << i;

  receiver.requeue = false;
  ToneTiming beforeReset, afterReset;
  ASSERT_TRUE(waveOutGetToneTiming(handle, &beforeReset));
  EXPECT_EQ(waveOutReset(handle), MMSYSERR_NOERROR);
  ASSERT_TRUE(waveOutGetToneTiming(handle, &afterReset));
  // Where the device was when it stopped, in samples of the timeline before the reset.
  const std::int64_t stoppedAt =
      (afterReset.clockNs - beforeReset.firstSampleNs) * kRate / 1'000'000'000;
  WaitFor(50);
  // The reset returns both queued buffers as done, and both may now be unprepared.
  EXPECT_EQ(receiver.done.size(), doneBeforeReset + 2);
  EXPECT_EQ(waveOutUnprepareHeader(handle, &h1, kWaveHdrSize), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutUnprepareHeader(handle, &h2, kWaveHdrSize), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutWrite(handle, &h1, kWaveHdrSize), WAVERR_UNPREPARED);
  EXPECT_EQ(waveOutClose(handle), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutReset(handle), MMSYSERR_INVALHANDLE);
  wave::WaitForReleases();  // the file is complete
  WaitFor(20);
  ASSERT_FALSE(receiver.messages.empty());
  EXPECT_EQ(receiver.messages.front(), MM_WOM_OPEN);
  EXPECT_EQ(receiver.messages.back(), MM_WOM_CLOSE);

  const QString path = dir.filePath("a.wav");
  const qint64 sizeAtClose = QFileInfo(path).size();
  WaitFor(300);
  EXPECT_EQ(QFileInfo(path).size(), sizeAtClose);  // nothing plays after the stop

  const testing_support::WavContent wav = testing_support::ReadWav(path);
  ASSERT_TRUE(wav.valid);
  EXPECT_EQ(wav.sampleRate, kRate);
  // Every sample continues the h1, h2, h1, ... sequence: no gap, no repeat, no loss; what
  // was still queued at the reset never plays (the device stops within a buffer).
  ASSERT_GE(wav.samples.size(), 2000u * doneBeforeReset);
  EXPECT_LE(static_cast<std::int64_t>(wav.samples.size()), stoppedAt + 2000);
  for (size_t i = 0; i < wav.samples.size(); ++i)
    ASSERT_EQ(wav.samples[i], RampSample(static_cast<std::int64_t>(i))) << "sample " << i;
}

TEST_F(WaveOutTest, SecondOpenOfTheSameDeviceAfterClose) {
  const int device = DeviceNumber(QStringLiteral("Test output B"));
  ASSERT_GE(device, 0);
  const WAVEFORMATEX format = Pcm16Mono(11025);
  for (int round = 0; round < 2; ++round) {
    Receiver receiver;
    HWAVEOUT handle = 0;
    ASSERT_EQ(waveOutOpen(&handle, device, &format, &receiver, -1, CALLBACK_WINDOW),
              MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutClose(handle), MMSYSERR_NOERROR);
    WaitFor(10);
    EXPECT_EQ(receiver.messages, (std::vector<std::uint32_t>{MM_WOM_OPEN, MM_WOM_CLOSE}));
  }
}

// A sink that holds on to what it was given (here a slow element in its streaming thread; a
// sound server draining its buffer does the same): the close silences the stream and
// returns at once, the release goes on behind it, and the next open waits for it.
TEST_F(WaveOutTest, CloseReturnsAtOnceWhileASlowSinkIsReleasedBehindIt) {
  GError* error = nullptr;
  GstElement* sink = gst_parse_bin_from_description(
      "identity sleep-time=1000000 ! fakesink sync=true async=false", TRUE, &error);
  ASSERT_NE(sink, nullptr) << (error ? error->message : "");
  Receiver receiver;
  const std::shared_ptr<WaveOutStream> stream =
      WaveOutStream::Open(sink, Pcm16Mono(8000), &receiver, 1000);
  ASSERT_NE(stream, nullptr);
  std::vector<std::int16_t> samples(8000, 1000);
  WAVEHDR header{reinterpret_cast<char*>(samples.data()), 16000, WHDR_PREPARED};
  ASSERT_EQ(stream->Write(&header), MMSYSERR_NOERROR);
  WaitFor(200);  // the first chunk is in the slow element for another 0.8 s

  QElapsedTimer elapsed;
  elapsed.start();
  stream->Reset();
  stream->Close();
  const qint64 stopMs = elapsed.elapsed();
  EXPECT_LT(stopMs, 200);  // generous; draining first took about 800 ms
  EXPECT_EQ(stream->Write(&header), MMSYSERR_INVALHANDLE);
  WaitFor(10);
  EXPECT_EQ(receiver.messages.back(), MM_WOM_CLOSE);

  // Opening the device again waits until the slow one has let go.
  const int device = DeviceNumber(QStringLiteral("Test output A"));
  HWAVEOUT handle = 0;
  elapsed.restart();
  const WAVEFORMATEX format = Pcm16Mono(8000);
  ASSERT_EQ(waveOutOpen(&handle, device, &format, nullptr, 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
  EXPECT_GT(elapsed.elapsed() + stopMs, 500);
  EXPECT_EQ(waveOutClose(handle), MMSYSERR_NOERROR);
}

// A run that is killed never closes the device: what its WAV file holds then must be readable
// as it is. The header follows the samples while they play, never claiming more than the file
// holds, and is exact once the device is closed.
TEST_F(WaveOutRampsTest, TheHeaderOfAPlayingFileClaimsOnlySamplesAlreadyInIt) {
  ASSERT_EQ(waveOutPrepareHeader(handle, &h1, kWaveHdrSize), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutPrepareHeader(handle, &h2, kWaveHdrSize), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutWrite(handle, &h1, kWaveHdrSize), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutWrite(handle, &h2, kWaveHdrSize), MMSYSERR_NOERROR);
  // Until two seconds have played (the window requeues the buffers when it gets to it).
  const QString path = dir.filePath("a.wav");
  QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(path).size() > 4 * static_cast<qint64>(kRate) + 44, 20000);

  // What a kill would leave now: the file as it is while it plays.
  QByteArray bytes;
  {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    bytes = file.readAll();
  }
  const testing_support::WavSizes playing = testing_support::ReadWavSizes(bytes);
  ASSERT_TRUE(playing.found);
  EXPECT_LE(playing.dataSize, bytes.size() - playing.dataOffset);
  EXPECT_EQ(playing.riffSize, playing.dataOffset + playing.dataSize - 8);
  // The header follows within a second of samples (and the chunk or two written while the
  // file was read).
  EXPECT_GE(playing.dataSize + 2 * kRate + 1000, bytes.size() - playing.dataOffset)
      << "more than a second of the samples in the file is not claimed";
  EXPECT_GE(playing.dataSize, 2 * kRate) << "less than a second of the 2 s played is claimed";
  // What is claimed is the tone itself, from its start.
  const qint64 claimed = std::min<qint64>(playing.dataSize, bytes.size() - playing.dataOffset) / 2;
  for (qint64 i = 0; i < claimed; ++i) {
    std::int16_t sample = 0;
    std::memcpy(&sample, bytes.constData() + playing.dataOffset + 2 * i, 2);
    ASSERT_EQ(sample, RampSample(i)) << "sample " << i;
  }

  receiver.requeue = false;
  EXPECT_EQ(waveOutReset(handle), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutClose(handle), MMSYSERR_NOERROR);
  wave::WaitForReleases();
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray closed = file.readAll();
  const testing_support::WavSizes closedSizes = testing_support::ReadWavSizes(closed);
  ASSERT_TRUE(closedSizes.found);
  EXPECT_EQ(closedSizes.dataSize, closed.size() - closedSizes.dataOffset);
  EXPECT_EQ(closedSizes.riffSize, closed.size() - 8);
  EXPECT_GE(closedSizes.dataSize, playing.dataSize);
}

// The tone's timing pairs the device's clock with the steady clock; a reader preempted between
// reading the one and the other must not put the pair apart (the generator counts every
// instant from such a pair). On the system's monotonic clock, the steady clock itself, the two
// are the same moment to the nanosecond; on another clock (here a system clock's subclass, as
// an audio sink's is) a reader held up right after reading it does not shift the pair either.
TEST(WaveOutTiming, TheDeviceAndSteadyClocksAreReadAtOneMoment) {
  gst::EnsureInitialized();
  const gst::ClockPtr system(gst_system_clock_obtain());
  const gst::ClockPtr stallingMonotonic(GST_CLOCK(gst_object_ref_sink(
      g_object_new(stalling_clock_get_type(), "clock-type", GST_CLOCK_TYPE_MONOTONIC, nullptr))));
  const gst::ClockPtr stallingRealtime(GST_CLOCK(gst_object_ref_sink(
      g_object_new(stalling_clock_get_type(), "clock-type", GST_CLOCK_TYPE_REALTIME, nullptr))));
  for (GstClock* clock : {system.get(), stallingMonotonic.get(), stallingRealtime.get()}) {
    SCOPED_TRACE(clock == system.get() ? "system clock" : GST_OBJECT_NAME(clock));
    given_clock = clock;
    const std::shared_ptr<WaveOutStream> stream = WaveOutStream::Open(
        GST_ELEMENT(g_object_new(clocked_sink_get_type(), nullptr)), Pcm16Mono(8000), nullptr, 1);
    ASSERT_NE(stream, nullptr);
    std::vector<std::int16_t> samples(16000, 1000);
    WAVEHDR header{reinterpret_cast<char*>(samples.data()), 32000, WHDR_PREPARED};
    ASSERT_EQ(stream->Write(&header), MMSYSERR_NOERROR);
    ToneTiming first, second;
    ASSERT_TRUE(stream->Timing(&first));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (clock != system.get()) stalls_left = 1;
    ASSERT_TRUE(stream->Timing(&second));
    EXPECT_EQ(stalls_left, 0) << "the stream does not run on the sink's clock";
    stalls_left = 0;
    if (clock == system.get()) {
      EXPECT_EQ(first.clockNs, first.steadyNs);
      EXPECT_EQ(second.clockNs, second.steadyNs);
    }
    // Both clocks run at the same rate: what one advanced, the other did too.
    const std::int64_t apart =
        (second.clockNs - first.clockNs) - (second.steadyNs - first.steadyNs);
    EXPECT_LT(std::llabs(apart), 2'000'000) << "the pair is " << apart << " ns apart";
    stream->Reset();
    stream->Close();
    WaveOutStream::WaitForReleases();
    given_clock = nullptr;
  }
}
