// The period clock on the tone's clock: instants counted on a sound device that runs off the
// system's rate stay in phase with the tone, those counted on the tick count drift; and the
// skewed virtual sound device really runs its stream on a clock of that rate.

#include <gtest/gtest.h>

#include <QTest>
#include <cmath>

#include "generator/tone_clock.h"
#include "platform/gst/virtual_devices.h"
#include "platform/wave/wave_out.h"
#include "tests/support/generator_fixture.h"
#include "tests/support/simulated_time.h"

using testing_support::GeneratorFixture;
using testing_support::SimulatedTime;

namespace {

constexpr double kSkew = 1.0005;

// A sound device's clock on simulated time: it runs `rate` times as fast as the time source
// and played its sample 0 at the moment it was made.
class SkewedToneClock final : public generator::ToneClock {
 public:
  SkewedToneClock(SimulatedTime& time, double rate, std::uint32_t sampleRate)
      : time_(time), rate_(rate), sample_rate_(sampleRate), origin_(time.Nanoseconds()) {}
  bool Read(wave::HWAVEOUT, generator::ToneReading* reading) override {
    const std::int64_t local = time_.Nanoseconds();
    reading->localNs = local;
    reading->clockNs = origin_ + std::llround(static_cast<double>(local - origin_) * rate_);
    reading->firstSampleNs = origin_;
    reading->sampleRate = sample_rate_;
    return true;
  }

 private:
  SimulatedTime& time_;
  double rate_;
  std::uint32_t sample_rate_;
  std::int64_t origin_;
};

// Where an instant falls in the tone, as a time offset from the phase the settings imply, in
// ms of tone within (-half period, +half period].
double PhaseErrorMs(double measured, double ideal, double tonePeriodMs) {
  double difference = std::fmod(measured - ideal, 360.0);
  if (difference > 180) difference -= 360;
  if (difference <= -180) difference += 360;
  return difference / 360 * tonePeriodMs;
}

class ToneClockTest : public GeneratorFixture {
 protected:
  struct Seen {
    double dueMs;
    double phase;
  };

  // 2000 clock periods of 50 ms (tone 20/4 Hz: a period of 200 ms), NC0 = 1, on simulated
  // time with a tone clock 1.0005 times as fast. The phase is read at each instant.
  std::vector<Seen> Run(generator::TimeBase base) {
    sim_ = std::make_unique<SimulatedTime>(3600 * 1000 * SimulatedTime::kMs);
    tone_ = std::make_unique<SkewedToneClock>(*sim_, kSkew, 48000);
    form->Generator().SetTimeSource(*sim_);
    form->Generator().SetToneClock(tone_.get());
    form->Generator().SetPreferredTimeBase(base);
    ChooseVirtualDevice();
    form->Option5->setChecked(true);
    form->Check2->setChecked(true);
    form->Text4->setText(QStringLiteral("20"));
    form->Text27->setText(QStringLiteral("4"));
    form->Text7->setText(QStringLiteral("1"));
    std::vector<Seen> seen;
    form->RecordWith([&](const generator::Instant& instant) {
      // The phase now, from the timeline the instant carries.
      const std::optional<double> now = instant.tone.PhaseAt(sim_->Nanoseconds());
      EXPECT_TRUE(now.has_value());
      EXPECT_EQ(instant.base, base);
      seen.push_back({instant.dueMs, now.value_or(-1)});
      if (seen.size() == 2000)
        QMetaObject::invokeMethod(form->Command4, &QPushButton::click, Qt::QueuedConnection);
    });
    form->Generator().Command20_Click();
    EXPECT_TRUE(boxes.Calls().empty());
    return seen;
  }

  std::unique_ptr<SimulatedTime> sim_;
  std::unique_ptr<SkewedToneClock> tone_;
};

TEST_F(ToneClockTest, InstantsOnTheToneClockKeepTheirPhaseWhileTheTickCountDrifts) {
  constexpr double kTonePeriodMs = 200;
  // One sample period plus the clock's millisecond.
  constexpr double kTolerance = 1.0 + 1000.0 / 48000;

  const std::vector<Seen> tone = Run(generator::TimeBase::Tone);
  ASSERT_EQ(tone.size(), 2000u);
  double worst = 0;
  for (const Seen& s : tone) {
    const double ideal = std::fmod(360.0 * 5 * s.dueMs / 1000, 360.0);  // 5 Hz from phase 0
    worst = std::max(worst, std::abs(PhaseErrorMs(s.phase, ideal, kTonePeriodMs)));
  }
  EXPECT_LE(worst, kTolerance);
  // Counted on the faster clock, the 2000th instant comes that much earlier on the time
  // source: 100 s / 1.0005.
  EXPECT_NEAR(sim_->ElapsedMs(), 100000 / kSkew, 2);
  EXPECT_EQ(form->Text8->text(), QStringLiteral("01:00:00:000"));  // T0: the first sample

  // The same run counted on the tick count: the tone runs ahead by 0.05 % of the elapsed
  // time, 50 ms (a quarter of the tone's period) after 100 s.
  const std::vector<Seen> tick = Run(generator::TimeBase::TickCount);
  ASSERT_EQ(tick.size(), 2000u);
  for (size_t i : {size_t{499}, size_t{999}, size_t{1999}}) {
    SCOPED_TRACE(i);
    const double ideal = std::fmod(360.0 * 5 * tick[i].dueMs / 1000, 360.0);
    const double expected = tick[i].dueMs * (kSkew - 1);
    EXPECT_NEAR(PhaseErrorMs(tick[i].phase, ideal, kTonePeriodMs), expected, kTolerance);
  }
  EXPECT_NEAR(sim_->ElapsedMs(), 100000, 2);
}

// Real time, short: a device registered 1.0005 times as fast runs its stream on a clock of
// that rate (the tone's clock against the steady clock), one of the system's rate does not;
// and the clock counts on that device's clock.
TEST_F(GeneratorFixture, SkewedVirtualDeviceRunsItsStreamOnAFasterClock) {
  const QString skewedName = QStringLiteral("Skewed output");
  gst::RegisterVirtualSoundDevice(skewedName, ProgramFolder() + QStringLiteral("/skew.wav"), kSkew);
  form->Generator().FillDeviceList();
  for (const QString& name : {skewedName, QStringLiteral("Виртуальный выход")}) {
    SCOPED_TRACE(name.toStdString());
    const int row = form->Combo1->findText(name);
    ASSERT_GE(row, 0);
    testing_support::ClickListRow(form->Combo1, row);
    form->Generator().Command20_Click();  // Timer 1 mode: returns with the tone playing
    ASSERT_NE(form->Gen().WaveOutHandle, 0u);
    wave::ToneTiming first, last;
    ASSERT_TRUE(wave::waveOutGetToneTiming(form->Gen().WaveOutHandle, &first));
    QTest::qWait(1500);
    ASSERT_TRUE(wave::waveOutGetToneTiming(form->Gen().WaveOutHandle, &last));
    const double rate = static_cast<double>(last.clockNs - first.clockNs) /
                        static_cast<double>(last.steadyNs - first.steadyNs);
    EXPECT_NEAR(rate, name == skewedName ? kSkew : 1.0, 0.0001);
    EXPECT_EQ(last.firstSampleNs, first.firstSampleNs);  // one unbroken timeline
    EXPECT_EQ(last.sampleRate, 48000u);
    form->Generator().Command4_Click();
    EXPECT_FALSE(wave::waveOutGetToneTiming(form->Gen().WaveOutHandle, &last));
  }
  wave::WaitForReleases();  // both WAV files complete before the folder goes
}

}  // namespace
