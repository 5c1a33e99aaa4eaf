#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QMetaObject>
#include <QTest>

#include "platform/forms/clock.h"
#include "platform/forms/runtime_error.h"
#include "platform/wave/wave_out.h"
#include "tests/support/generator_fixture.h"
#include "tests/support/simulated_time.h"
#include "tests/support/wav_file.h"

using testing_support::GeneratorFixture;
using testing_support::ScopedLocale;
using testing_support::SimulatedTime;
using testing_support::Str;

namespace {

const QString kError = Str("Ошибка в работе программы");

// What the recording saw at each instant.
struct Instant {
  double atMs;
  int pictureNumber;
  QString text1;
  QString text10;
  bool timer2Active;
  bool timer1Active;
};

}  // namespace

class PeriodClockTest : public GeneratorFixture {
 protected:
  void SetUp() override {
    GeneratorFixture::SetUp();
    form->Option5->setChecked(true);
    form->Check2->setChecked(true);
    UseTime(SimulatedTime(3600 * 1000 * SimulatedTime::kMs));
    ChooseVirtualDevice();
  }

  void UseTime(SimulatedTime time) {
    sim = std::make_unique<SimulatedTime>(std::move(time));
    form->Generator().SetTimeSource(*sim);
  }

  // The recording double: notes the instant, may take time, may act on the window.
  void RecordWith(const std::function<void(int call)>& during = {}) {
    form->RecordWith([this, during](const generator::Instant& instant) {
      // The value handed on is what the window shows at that instant.
      EXPECT_EQ(instant.number, form->Gen().PictureNumber);
      EXPECT_EQ(instant.numberText, form->Text1->text());
      EXPECT_EQ(instant.sinceT0Text, form->Text10->text());
      EXPECT_EQ(instant.dateTime, sim->Now());
      instants.push_back({sim->ElapsedMs(), instant.number, instant.numberText, instant.sinceT0Text,
                          form->Timer2->isActive(), form->Timer1->isActive()});
      if (during) during(static_cast<int>(instants.size()));
    });
  }

  // A click the operator makes now; like any click it waits for the window's events to run.
  void ClickLater(QAbstractButton* button) {
    QMetaObject::invokeMethod(button, &QAbstractButton::click, Qt::QueuedConnection);
  }

  // The window's exit, as the operator's click on it would run it.
  void ExitLater() {
    QMetaObject::invokeMethod(
        form.get(), [this] { form->Exit(); }, Qt::QueuedConnection);
  }

  void StopAfter(int calls) {
    RecordWith([this, calls](int call) {
      if (call == calls) ClickLater(form->Command4);
    });
  }

  void Start() { form->Generator().Command20_Click(); }

  std::unique_ptr<SimulatedTime> sim;
  std::vector<Instant> instants;
};

TEST_F(PeriodClockTest, DefaultsRecordOncePerSecondWithNumberAndElapsedTime) {
  ScopedLocale c(QLocale::c());
  StopAfter(3);
  Start();
  ASSERT_EQ(instants.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_DOUBLE_EQ(instants[i].atMs, 1000.0 * (i + 1));
    EXPECT_EQ(instants[i].pictureNumber, i + 1);
    EXPECT_EQ(instants[i].text1, QString::number(i + 1));
    EXPECT_EQ(instants[i].text10, QString::number(i + 1));
    EXPECT_FALSE(instants[i].timer2Active);
  }
  EXPECT_TRUE(boxes.Calls().empty());
  // The stop ran at the third instant and the clock returned at the end of that pass.
  EXPECT_DOUBLE_EQ(sim->ElapsedMs(), 3000);
  EXPECT_EQ(form->Gen().StopRequested, 1);
  EXPECT_EQ(form->Gen().WaveOutHandle, 0u);
  EXPECT_TRUE(form->Timer2->isActive());
  EXPECT_EQ(form->Text8->text(), QStringLiteral("01:00:00:000"));  // T0 = tick 3 600 000
  // The waiting sleeps instead of spinning: a few sleeps per period, not thousands.
  EXPECT_LT(sim->Sleeps(), 3 * 2 * 30);
}

// The first instant at 1000.5 s (NC0 = 2001 periods of 0.5 s): no digit groups, the
// locale's decimal separator. Runs in the session's locale (C, en_US and ru_RU by ctest) and
// in the English and Russian ones set here.
TEST_F(PeriodClockTest, ElapsedTimeAboveAThousandSecondsShowsInTheLocale) {
  const QLocale session;
  for (const QLocale& locale : {session, QLocale(QLocale::English, QLocale::UnitedStates),
                                QLocale(QLocale::Russian, QLocale::Russia)}) {
    SCOPED_TRACE(locale.name().toStdString());
    ScopedLocale scoped(locale);
    instants.clear();
    UseTime(SimulatedTime(3600 * 1000 * SimulatedTime::kMs));
    ChooseVirtualDevice();
    form->Text7->setText(QStringLiteral("2001"));
    StopAfter(1);
    Start();
    ASSERT_EQ(instants.size(), 1u);
    EXPECT_EQ(instants[0].text10, "1000" + locale.decimalPoint() + "5");
    EXPECT_EQ(form->Text10->text(), instants[0].text10);
  }
}

TEST_F(PeriodClockTest, SlowRecordingIsCaughtUpWithoutSkippingANumber) {
  // The first recording takes 2.5 clock periods (1.25 s).
  RecordWith([this](int call) {
    if (call == 1) sim->Advance(1250 * SimulatedTime::kMs);
    if (call == 3) ClickLater(form->Command4);
  });
  Start();
  ASSERT_EQ(instants.size(), 3u);
  EXPECT_DOUBLE_EQ(instants[0].atMs, 1000);
  EXPECT_DOUBLE_EQ(instants[1].atMs, 2250);  // overdue: half a period late, at once
  EXPECT_DOUBLE_EQ(instants[2].atMs, 3000);  // back on schedule
  EXPECT_EQ(instants[1].pictureNumber, 2);
  EXPECT_EQ(instants[2].pictureNumber, 3);
}

TEST_F(PeriodClockTest, StopClickedBetweenInstantsTakesEffectAtTheNextOne) {
  RecordWith();
  sim->At(1500, [this] { ClickLater(form->Command4); });
  Start();
  ASSERT_EQ(instants.size(), 2u);
  EXPECT_DOUBLE_EQ(instants[1].atMs, 2000);
  EXPECT_DOUBLE_EQ(sim->ElapsedMs(), 2000);
  EXPECT_TRUE(form->Command20->isEnabled());
  EXPECT_EQ(form->Gen().WaveOutHandle, 0u);
}

// Stop and start clicked at one instant: the running clock ends first, then the new run
// begins with its own T0 and numbers. Then stop, Option6 and start: Timer1 alone drives the
// third run.
TEST_F(PeriodClockTest, StartClickedAtAnInstantWaitsUntilTheRunningClockHasEnded) {
  RecordWith([this](int call) {
    if (call == 2) {
      ClickLater(form->Command4);
      ClickLater(form->Command20);
    }
    if (call == 5) {
      ClickLater(form->Command4);
      ClickLater(form->Option6);
      ClickLater(form->Command20);
    }
    if (call == 8) ClickLater(form->Command4);  // ends a clock gone astray
  });
  Start();
  std::vector<double> at;
  std::vector<int> numbers;
  for (const Instant& instant : instants) {
    at.push_back(instant.atMs);
    numbers.push_back(instant.pictureNumber);
    EXPECT_FALSE(instant.timer1Active);
  }
  EXPECT_EQ(at, (std::vector<double>{1000, 2000, 3000, 4000, 5000}));
  EXPECT_EQ(numbers, (std::vector<int>{1, 2, 1, 2, 3}));
  EXPECT_EQ(form->Text8->text(), QStringLiteral("01:00:02:000"));  // the second run's T0
  EXPECT_TRUE(form->Timer1->isActive());
  EXPECT_EQ(form->Timer1->interval(), 20000);
  EXPECT_EQ(form->Gen().StopRequested, 0);
  EXPECT_EQ(form->Gen().PictureNumber, 0);
  EXPECT_NE(form->Gen().WaveOutHandle, 0u);
  EXPECT_FALSE(form->Command20->isEnabled());
  EXPECT_TRUE(boxes.Calls().empty());
  form->Generator().Command4_Click();
}

TEST_F(PeriodClockTest, ExitAfterAWaitingStartStartsNothing) {
  form->show();
  RecordWith([this](int call) {
    if (call != 2) return;
    ClickLater(form->Command4);
    ClickLater(form->Command20);
    ExitLater();
  });
  Start();
  EXPECT_EQ(instants.size(), 2u);
  EXPECT_TRUE(form->Unloaded());
  EXPECT_EQ(form->Gen().WaveOutHandle, 0u);
  EXPECT_FALSE(form->Timer1->isActive());
}

TEST_F(PeriodClockTest, RecordingOffStillCountsAndShowsTheInstants) {
  form->Check2->setChecked(false);
  RecordWith();
  sim->At(2500, [this] { ClickLater(form->Command4); });
  Start();
  EXPECT_TRUE(instants.empty());
  EXPECT_EQ(form->Gen().PictureNumber, 3);
  EXPECT_EQ(form->Text1->text(), QStringLiteral("3"));
}

TEST_F(PeriodClockTest, ElapsedTimeStaysRightAcrossTheTickCountWrapAndSignChange) {
  for (const std::int64_t startMs :
       {(std::int64_t{1} << 32) - 1500, (std::int64_t{1} << 31) - 1500}) {
    SCOPED_TRACE(startMs);
    instants.clear();
    UseTime(SimulatedTime(startMs * SimulatedTime::kMs));
    ChooseVirtualDevice();
    StopAfter(3);
    Start();
    ASSERT_EQ(instants.size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_DOUBLE_EQ(instants[i].atMs, 1000.0 * (i + 1));
    EXPECT_DOUBLE_EQ(form->Gen().TickStart,
                     static_cast<std::int32_t>(static_cast<std::uint32_t>(startMs)));
  }
  EXPECT_EQ(form->Text8->text(), QStringLiteral("20:31:22:148"));  // 2^31 - 1500 ms of a day
}

TEST_F(PeriodClockTest, OverflowingPeriodCountEndsTheStartWhileTheToneGoesOn) {
  ScopedLocale c(QLocale::c());
  form->Text4->setText(QStringLiteral("10000000"));  // 0.1 µs clock periods
  RecordWith();
  // Past 214.7 s the whole periods no longer fit in 32 bits.
  sim->At(1, [this] { sim->Advance(300LL * 1000 * SimulatedTime::kMs); });
  Start();
  ASSERT_EQ(boxes.Calls().size(), 1u);
  EXPECT_EQ(boxes.Calls()[0].text, kError);
  EXPECT_NE(form->Gen().WaveOutHandle, 0u);  // still playing
  EXPECT_FALSE(form->Timer2->isActive());
  form->Generator().Command4_Click();
}

TEST_F(PeriodClockTest, NC0BelowOneIsRejectedBeforeAnythingStarts) {
  for (const char* text : {"0", "-3"}) {
    form->Text7->setText(QString::fromLatin1(text));
    Start();
  }
  ASSERT_EQ(boxes.Calls().size(), 2u);
  EXPECT_EQ(boxes.Calls()[0].text, Str("NC0 не может быть меньше 1"));
  EXPECT_EQ(boxes.Calls()[0].title, QStringLiteral("Strobolux"));
  EXPECT_EQ(form->Gen().WaveOutHandle, 0u);
  EXPECT_EQ(form->Label15->text(), QStringLiteral("Label15"));
  EXPECT_TRUE(form->Command20->isEnabled());
}

TEST_F(PeriodClockTest, DeviceThatDoesNotOpenRunsNoClock) {
  RecordWith();
  sim->At(5000, [this] { ClickLater(form->Command4); });  // ends a clock that should not run
  form->Combo1->setCurrentIndex(-1);
  Start();
  ASSERT_EQ(boxes.Calls().size(), 1u);
  EXPECT_EQ(boxes.Calls()[0].text, kError);
  EXPECT_TRUE(instants.empty());
  EXPECT_DOUBLE_EQ(sim->ElapsedMs(), 0);
  EXPECT_EQ(form->Text8->text(), QStringLiteral("0"));
  EXPECT_TRUE(form->Timer2->isActive());
  EXPECT_FALSE(form->Timer1->isActive());
}

TEST_F(PeriodClockTest, ExitAtAnInstantEndsTheClockAndUnloadsTheWindows) {
  form->show();
  RecordWith([this](int call) {
    if (call == 2) ExitLater();
  });
  Start();
  EXPECT_EQ(instants.size(), 2u);
  EXPECT_TRUE(form->Unloaded());
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(form->Gen().WaveOutHandle, 0u);
}

TEST_F(PeriodClockTest, DateAndTimeDisplayFollowsTheTimeSource) {
  form->Generator().Timer2_Timer();
  const QDateTime now = sim->Now();
  EXPECT_EQ(form->Text2->text(), forms::DisplayDate(now));
  EXPECT_EQ(form->Text3->text(), forms::DisplayTime(now));
  EXPECT_NE(form->Text2->text(), QStringLiteral("Text2"));
}

class TimerModeTest : public GeneratorFixture {};

// An instant is a synchronous call: a receiver connected otherwise than directly has not
// answered when the signal returns (queued, it never runs: its outcome would be gone). The
// generator finds it and logs it, instead of losing that receiver's part in silence.
TEST_F(TimerModeTest, AReceiverThatDidNotAnswerTheInstantIsLoggedAsAFaultOfItsConnection) {
  int recordings = 0;
  form->RecordWith([&](const generator::Instant&) { ++recordings; });
  ChooseVirtualDevice();
  testing_support::LogRecorder traces;
  form->Generator().Command20_Click();
  QTest::mouseClick(form->Command3, Qt::LeftButton);  // 20 ms
  ASSERT_TRUE(QTest::qWaitFor([&] { return recordings >= 2; }, 5000));
  EXPECT_TRUE(traces.Lines().filter(QStringLiteral("did not answer")).isEmpty());

  const QMetaObject::Connection late = QObject::connect(
      &form->Generator(), &generator::Generator::PictureDue, form.get(),
      [](const generator::Instant&, generator::Outcome&) {}, Qt::QueuedConnection);
  const int before = recordings;
  ASSERT_TRUE(QTest::qWaitFor([&] { return recordings >= before + 2; }, 5000));
  QObject::disconnect(late);
  form->Generator().Command4_Click();
  const QStringList faults = traces.Lines().filter(QStringLiteral("did not answer"));
  ASSERT_GE(faults.size(), 2);
  EXPECT_TRUE(faults[0].startsWith(QStringLiteral("strobolux.generator: signal PictureDue(")))
      << faults[0].toStdString();
}

TEST_F(TimerModeTest, IntervalComesFromText20AndCommand3AppliesMilliseconds) {
  int recordings = 0;
  form->RecordWith([&](const generator::Instant&) { ++recordings; });
  ChooseVirtualDevice();
  EXPECT_TRUE(form->Command3->isEnabled());  // Option6 is the mode
  form->Generator().Command20_Click();
  EXPECT_TRUE(form->Timer1->isActive());
  EXPECT_EQ(form->Timer1->interval(), 20000);
  EXPECT_TRUE(form->Timer2->isActive());
  EXPECT_EQ(form->Gen().PictureNumber, 0);

  // The same 20, applied by the button, is taken as milliseconds, at once.
  QTest::mouseClick(form->Command3, Qt::LeftButton);
  EXPECT_EQ(form->Timer1->interval(), 20);
  // Four ticks come within 80 ms of an idle machine's time; a loaded one may take longer, an
  // interval left at 20 s never gets there.
  EXPECT_TRUE(QTest::qWaitFor([&] { return recordings >= 4; }, 5000));
  EXPECT_EQ(form->Gen().PictureNumber, 0);  // the number stays 0 in this mode

  for (const char* text : {"0", "-5", "abc", "3000000000"}) {
    form->Text20->setText(QString::fromLatin1(text));
    QTest::mouseClick(form->Command3, Qt::LeftButton);
    EXPECT_EQ(form->Timer1->interval(), 20) << text;
  }
  EXPECT_EQ(boxes.Calls().size(), 4u);
  EXPECT_EQ(boxes.Calls().back().text, kError);

  QTest::mouseClick(form->Command4, Qt::LeftButton);
  EXPECT_FALSE(form->Timer1->isActive());
  const int after = recordings;
  QTest::qWait(60);
  EXPECT_EQ(recordings, after);
}

TEST_F(TimerModeTest, IntervalTheTimerCannotTakeFailsTheStartAfterTheToneStarted) {
  ScopedLocale c(QLocale::c());
  ChooseVirtualDevice();
  for (const char* text : {"0.0001", "2147484"}) {
    form->Text20->setText(QString::fromLatin1(text));
    form->Command20->setEnabled(true);
    form->Generator().Command20_Click();
    EXPECT_FALSE(form->Timer1->isActive()) << text;
    EXPECT_NE(form->Gen().WaveOutHandle, 0u) << text;
    form->Generator().Command4_Click();
  }
  EXPECT_EQ(boxes.Calls().size(), 2u);
  EXPECT_EQ(boxes.Calls()[0].text, kError);
}

TEST_F(TimerModeTest, OptionButtonsSwitchTheIntervalButton) {
  form->Option5->setChecked(true);
  EXPECT_FALSE(form->Command3->isEnabled());
  form->Option6->setChecked(true);
  EXPECT_TRUE(form->Command3->isEnabled());
}

TEST_F(TimerModeTest, FailingRecordingIsReportedOnceAndStopsTheTimerWhileTheToneGoesOn) {
  ChooseVirtualDevice();
  form->Generator().Command20_Click();
  ASSERT_TRUE(form->Timer1->isActive());
  form->RecordWith([](const generator::Instant&) { forms::Raise(forms::kPathFileAccess); });
  form->Generator().Timer1_Timer();
  ASSERT_EQ(boxes.Calls().size(), 1u);
  EXPECT_EQ(boxes.Calls()[0].text, kError);
  EXPECT_FALSE(form->Timer1->isActive());
  EXPECT_NE(form->Gen().WaveOutHandle, 0u);  // the tone plays on
  form->Generator().Command4_Click();
}

// Real time: the instants come every 5 s, longer than both queued buffers together (4 s),
// so the tone only runs on if the played notices are handled between the instants.
TEST_F(GeneratorFixture, ClockKeepsTheToneContinuousBetweenDistantInstants) {
  form->Option5->setChecked(true);
  form->Check2->setChecked(true);
  form->Text7->setText(QStringLiteral("10"));
  std::vector<double> at;
  std::vector<generator::Instant> instants;
  QElapsedTimer elapsed;
  form->RecordWith([&](const generator::Instant& instant) {
    at.push_back(elapsed.elapsed());
    instants.push_back(instant);
    QMetaObject::invokeMethod(form->Command4, &QPushButton::click, Qt::QueuedConnection);
  });
  ChooseVirtualDevice();
  elapsed.start();
  form->Generator().Command20_Click();
  ASSERT_EQ(at.size(), 1u);
  // Due 5 s after T0 and never before (how late a loaded machine lets it come is its own).
  EXPECT_DOUBLE_EQ(instants[0].dueMs, 5000);
  EXPECT_GE(instants[0].actualMs, instants[0].dueMs);
  EXPECT_GE(at[0], 5000);
  wave::WaitForReleases();
  const testing_support::WavContent wav = testing_support::ReadWav(WavPath());
  ASSERT_TRUE(wav.valid);
  EXPECT_GE(wav.samples.size(), static_cast<size_t>(4.8 * 48000));
  const std::vector<std::int16_t>& buffer = form->Gen().Buffer1;
  for (size_t k = 0; k < wav.samples.size(); ++k)
    ASSERT_EQ(wav.samples[k], buffer[k % buffer.size()]) << "sample " << k;
}
