#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <QTimer>
#include <QtEndian>
#include <algorithm>

#include "generator/strobe.h"
#include "platform/gst/virtual_devices.h"
#include "platform/wave/wave_out.h"
#include "tests/support/generator_fixture.h"
#include "tests/support/state_access.h"
#include "tests/support/wav_file.h"

using testing_support::GeneratorFixture;

class StreamingTest : public GeneratorFixture {
 protected:
  // Waits with the events running until the device has played `milliseconds` of the tone into
  // its file, in real time: on a loaded machine that takes longer than the time itself.
  void WaitUntilPlayed(int milliseconds, int channels = 1) {
    // 16-bit samples at 48 kHz.
    const qint64 bytes = 44 + std::int64_t{milliseconds} * 48 * 2 * channels;
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return QFileInfo(WavPath()).size() >= bytes; }, milliseconds + 10000))
        << "the device played less than " << milliseconds << " ms";
  }

  // Plays the tone for `milliseconds` with the events running, then stops it.
  void PlayFor(int milliseconds, int channels = 1) {
    ChooseVirtualDevice();
    QTest::mouseClick(form->Command20, Qt::LeftButton);
    ASSERT_NE(form->Gen().WaveOutHandle, 0u);
    WaitUntilPlayed(milliseconds, channels);
    QTest::mouseClick(form->Command4, Qt::LeftButton);
    wave::WaitForReleases();  // the file is complete
    QTest::qWait(20);
  }

  // Every sample of the file is the synthesized one, buffer after buffer, with nothing
  // missing, repeated or inserted at the boundaries.
  void ExpectContinuousTone(double minimumSeconds) {
    const testing_support::WavContent wav = testing_support::ReadWav(WavPath());
    ASSERT_TRUE(wav.valid);
    EXPECT_EQ(wav.sampleRate, 48000u);
    const std::vector<std::int16_t>& buffer = form->Gen().Buffer1;
    ASSERT_EQ(buffer.size(), 96000u);
    EXPECT_GE(wav.samples.size(), static_cast<size_t>(minimumSeconds * 48000));
    for (size_t k = 0; k < wav.samples.size(); ++k)
      ASSERT_EQ(wav.samples[k], buffer[k % buffer.size()]) << "sample " << k;
  }
};

TEST_F(StreamingTest, HundredHertzSinePlaysContinuouslyAndStopsForGood) {
  form->Text4->setText(QStringLiteral("200"));
  PlayFor(3000);
  EXPECT_TRUE(boxes.Calls().empty());
  // 100 Hz at peak 32767: the buffer holds 200 whole periods of 480 samples.
  EXPECT_EQ(form->Gen().Buffer1[120], 32767);
  EXPECT_EQ(form->Gen().Buffer1[480], 0);
  ExpectContinuousTone(2.8);
  const qint64 size = QFileInfo(WavPath()).size();
  QTest::qWait(300);
  EXPECT_EQ(QFileInfo(WavPath()).size(), size);
}

TEST_F(StreamingTest, OddNumeratorRunsOnWithoutAPhaseJump) {
  form->Text4->setText(QStringLiteral("3"));
  PlayFor(2600);  // past the first buffer boundary at 2 s
  ExpectContinuousTone(2.4);
}

TEST_F(StreamingTest, RepeatedPlayedNoticesQueueEachBufferOnce) {
  ChooseVirtualDevice();
  QTest::mouseClick(form->Command20, Qt::LeftButton);
  const wave::HWAVEOUT handle = form->Gen().WaveOutHandle;
  // Two notices handled in one go, while both buffers are still queued.
  for (int i = 0; i < 2; ++i)
    QCoreApplication::postEvent(
        form.get(),
        new wave::WaveOutEvent(wave::MM_WOM_DONE, handle,
                               &testing_support::WritableState(form->Generator()).Header1));
  QCoreApplication::sendPostedEvents(form.get(), wave::WaveOutEvent::kType);
  EXPECT_EQ(wave::waveOutWrite(handle, &testing_support::WritableState(form->Generator()).Header1,
                               wave::kWaveHdrSize),
            wave::WAVERR_STILLPLAYING);
  EXPECT_EQ(wave::waveOutWrite(handle, &testing_support::WritableState(form->Generator()).Header2,
                               wave::kWaveHdrSize),
            wave::WAVERR_STILLPLAYING);
  WaitUntilPlayed(2300);
  QTest::mouseClick(form->Command4, Qt::LeftButton);
  wave::WaitForReleases();
  ExpectContinuousTone(2.1);
}

// With the strobe the device plays two channels: on the left the tone as it plays alone, on
// the right the pulses where the closed form puts them, in the buffers queued again after the
// first two as well (the instants' pulses, 0.3 s apart, do not repeat with the 2 s buffer).
TEST_F(StreamingTest, StrobePlaysItsPulsesBesideTheUnchangedToneAcrossBuffers) {
  form->Text4->setText(QStringLiteral("10"));  // 5 Hz
  form->Text7->setText(QStringLiteral("3"));   // an instant every 3 / 10 s
  for (const generator::StrobeMode mode :
       {generator::StrobeMode::Instants, generator::StrobeMode::EveryPeriod}) {
    SCOPED_TRACE(static_cast<int>(mode));
    form->Generator().SetStrobe({mode, 2, 0.5});
    // The instants' pulses need the period clock (Timer 1's pictures keep no time with the
    // tone), whose start returns at the stop: the device plays into its third buffer first.
    form->Option5->setChecked(true);
    form->Check2->setChecked(false);
    ChooseVirtualDevice();
    QTimer::singleShot(0, form.get(), [this] {
      WaitUntilPlayed(4600, 2);
      QTest::mouseClick(form->Command4, Qt::LeftButton);
    });
    QTest::mouseClick(form->Command20, Qt::LeftButton);
    wave::WaitForReleases();
    EXPECT_TRUE(boxes.Calls().empty());
    EXPECT_EQ(form->Gen().WaveFormat.nChannels, 2);
    const generator::StrobePlan& plan = form->Generator().StrobeOfRun();
    ASSERT_TRUE(plan.on);
    const testing_support::WavContent wav = testing_support::ReadWav(WavPath());
    ASSERT_TRUE(wav.valid);
    const std::size_t frames = wav.samples.size() / 2;
    ASSERT_GE(frames, 4u * 48000);
    std::vector<std::int16_t> pulses(frames);
    generator::FillStrobe(pulses, 0, plan);
    const std::vector<std::int16_t>& tone = form->Gen().Buffer1;
    int lit = 0;
    for (std::size_t k = 0; k < frames; ++k) {
      ASSERT_EQ(wav.samples[2 * k], tone[k % tone.size()]) << "tone sample " << k;
      ASSERT_EQ(wav.samples[2 * k + 1], pulses[k]) << "pulse sample " << k;
      lit += pulses[k] != 0 ? 1 : 0;
    }
    // 96 samples a pulse, at full level's half; the first one cut at T0 in every period's.
    EXPECT_EQ(*std::max_element(pulses.begin(), pulses.end()), 16384);
    const int expected = mode == generator::StrobeMode::Instants
                             ? static_cast<int>(frames / 14400) * 96
                             : static_cast<int>(frames / 9600) * 96 + 48;
    EXPECT_NEAR(lit, expected, 96);
  }
  // Off again: one channel, as before.
  form->Option6->setChecked(true);
  form->Generator().SetStrobe({});
  PlayFor(300);
  EXPECT_EQ(form->Gen().WaveFormat.nChannels, 1);
  ExpectContinuousTone(0.2);
}

// The stop does not wait for the device to drain (bench_wave_stop has the numbers).
TEST_F(StreamingTest, StopReturnsAtOnceAndTheDeviceOpensAgain) {
  ChooseVirtualDevice();
  for (int round = 0; round < 3; ++round) {
    QTest::mouseClick(form->Command20, Qt::LeftButton);
    ASSERT_NE(form->Gen().WaveOutHandle, 0u);
    WaitUntilPlayed(300);
    QElapsedTimer elapsed;
    elapsed.start();
    QTest::mouseClick(form->Command4, Qt::LeftButton);
    EXPECT_LT(elapsed.elapsed(), 250) << round;  // generous: about 1 ms on its own
    EXPECT_EQ(form->Gen().WaveOutHandle, 0u);
  }
  wave::WaitForReleases();
  ExpectContinuousTone(0.2);
  EXPECT_TRUE(boxes.Calls().empty());
}

TEST_F(StreamingTest, ExitDuringARunStopsTheTone) {
  ChooseVirtualDevice();
  QTest::mouseClick(form->Command20, Qt::LeftButton);
  WaitUntilPlayed(300);
  form->Exit();
  EXPECT_EQ(form->Gen().WaveOutHandle, 0u);
  EXPECT_EQ(form->Gen().StopRequested, 1);
  wave::WaitForReleases();
  const qint64 size = QFileInfo(WavPath()).size();
  QTest::qWait(200);
  EXPECT_EQ(QFileInfo(WavPath()).size(), size);
  ExpectContinuousTone(0.2);
}

TEST_F(StreamingTest, ExitAfterAStopDoesNotStopAgain) {
  ChooseVirtualDevice();
  QTest::mouseClick(form->Command20, Qt::LeftButton);
  QTest::mouseClick(form->Command4, Qt::LeftButton);
  ASSERT_EQ(form->Gen().StopRequested, 1);
  // A device handle the exit would release if it stopped the stream a second time.
  wave::HWAVEOUT handle = 0;
  ASSERT_EQ(wave::waveOutOpen(&handle, form->Combo1->itemData(VirtualRow()).toInt(),
                              &form->Gen().WaveFormat, nullptr, 0, 0),
            wave::MMSYSERR_NOERROR);
  testing_support::WritableState(form->Generator()).WaveOutHandle = handle;
  form->Exit();
  EXPECT_EQ(wave::waveOutClose(handle), wave::MMSYSERR_NOERROR);  // still open
  testing_support::WritableState(form->Generator()).WaveOutHandle = 0;
}

// A device that fails while it plays (unplugged, its server gone) stops the run as the stop
// button does, says why in the device line, and lets a new start open it again once it is
// back; in the clock mode the clock ends too, with no message box.
TEST_F(StreamingTest, ADeviceUnpluggedDuringARunStopsItAndSaysWhy) {
  const QString reason = QString::fromUtf8("устройство вывода звука отключено");
  for (bool clock : {false, true}) {
    SCOPED_TRACE(clock ? "clock mode" : "Timer 1 mode");
    ChooseVirtualDevice();
    int instants = 0;
    if (clock) {
      form->Option5->setChecked(true);
      form->Text4->setText(QStringLiteral("10"));
      form->RecordWith([&](const generator::Instant&) {
        if (++instants == 2) gst::ClearVirtualSoundDevices();
      });
      form->Check2->setChecked(true);
    }
    QElapsedTimer elapsed;
    elapsed.start();
    QTest::mouseClick(form->Command20, Qt::LeftButton);  // in the clock mode: until it ends
    if (!clock) {
      ASSERT_NE(form->Gen().WaveOutHandle, 0u);
      gst::ClearVirtualSoundDevices();
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->Gen().WaveOutHandle == 0u; }, 5000));
    QTest::qWait(20);  // the close notice
    EXPECT_LT(elapsed.elapsed(), 4000);
    EXPECT_EQ(form->Label12->text(), QStringLiteral(" Sound error: ") + reason);
    EXPECT_TRUE(form->Command20->isEnabled());
    EXPECT_FALSE(form->Command4->isEnabled());
    EXPECT_FALSE(form->Timer1->isActive());
    EXPECT_EQ(form->Gen().StopRequested, 1);
    EXPECT_TRUE(boxes.Calls().empty());
    EXPECT_GE(instants, clock ? 2 : 0);
    // Plugged in again and chosen anew, it opens for a new start.
    gst::RegisterVirtualSoundDevice(testing_support::kVirtualName, WavPath());
    form->Generator().FillDeviceList();
    ChooseVirtualDevice();
    form->RecordWith({});
    form->Option6->setChecked(true);
    QTest::mouseClick(form->Command20, Qt::LeftButton);
    EXPECT_NE(form->Gen().WaveOutHandle, 0u);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return form->Label12->text() == QString::fromUtf8("устройство открыто"); }, 2000));
    QTest::mouseClick(form->Command4, Qt::LeftButton);
  }
}

// The stop does not wait for the device to drain, yet the virtual device's file is a
// complete WAV once released: its header gives the sizes any player reads.
TEST_F(StreamingTest, TheWavFileHeaderIsCompleteOnceTheDeviceIsReleased) {
  PlayFor(300);
  QFile file(WavPath());
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray bytes = file.readAll();
  ASSERT_GT(bytes.size(), 44 + 48000 / 10);
  EXPECT_EQ(qFromLittleEndian<quint32>(bytes.constData() + 4), quint32(bytes.size() - 8));
  const int data = bytes.indexOf("data");
  ASSERT_GT(data, 0);
  EXPECT_EQ(qFromLittleEndian<quint32>(bytes.constData() + data + 4),
            quint32(bytes.size() - data - 8));
}
