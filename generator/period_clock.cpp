// The recording clock: the period clock counted on the tone's clock (or the tick count), the
// Timer 1 mode and the date and time display.

#include <QCoreApplication>
#include <QScopedValueRollback>
#include <algorithm>
#include <cmath>
#include <utility>

#include "generator/generator.h"
#include "platform/forms/application.h"
#include "platform/forms/conversions.h"
#include "platform/forms/events.h"
#include "platform/forms/runtime_error.h"

namespace generator {
namespace {

constexpr std::int64_t kMillisecond = 1000000;
// The longest the clock sleeps between passes, so that played-buffer notices are handled on
// time even when the next period is far away.
constexpr std::int64_t kLongestSleep = 20 * kMillisecond;
const char* const kPictureDue = SIGNAL(PictureDue(generator::Instant, generator::Outcome&));

// Whole clock periods since T0, as a 32-bit count. A period that ends exactly on a tick is
// counted on that tick: 1 / FreqNumerator is inexact in binary, and 15 / 1000 / 0.005 comes
// out as 2.9999999999999996, which would put such instants a whole tick late.
std::int32_t WholePeriods(std::int64_t elapsedMs, double clockPeriod) {
  const double periods = std::trunc(forms::Divide(elapsedMs / 1000.0, clockPeriod) * (1 + 1e-12));
  if (!(periods >= INT32_MIN && periods <= INT32_MAX)) forms::Raise(forms::kOverflow);
  return static_cast<std::int32_t>(periods);
}

// T0 read as a time of day: hours, minutes and seconds modulo one day, then milliseconds.
QString FormatT0(std::int32_t tick) {
  constexpr std::int64_t kDay = 86400000;
  const std::int64_t ms = ((static_cast<std::int64_t>(tick) % kDay) + kDay) % kDay;
  return QStringLiteral("%1:%2:%3:%4")
      .arg(ms / 3600000, 2, 10, QLatin1Char('0'))
      .arg(ms / 60000 % 60, 2, 10, QLatin1Char('0'))
      .arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'))
      .arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

// A timer interval in milliseconds as the timer accepts it.
int TimerInterval(double milliseconds) {
  const std::int32_t interval = forms::CLng(milliseconds);
  if (interval < 1) forms::Raise(forms::kInvalidProcedureCall);
  return interval;
}

}  // namespace

bool Generator::TimerMode() const {
  return !controls_.Option5->isChecked() && controls_.Option6->isChecked();
}

int Generator::Timer1Interval() const {
  return TimerInterval(forms::CDbl(controls_.Text20->text()) * 1000);
}

void Generator::EnterRecordingMode() {
  if (TimerMode()) {
    controls_.Timer1->setInterval(Timer1Interval());
    controls_.Timer1->start();
    return;
  }
  RunClock();
}

void Generator::BeginTimeBase() {
  ToneReading reading;
  if (preferred_base_ == TimeBase::Tone && tone_clock_ &&
      tone_clock_->Read(state_.WaveOutHandle, &reading)) {
    // T0 is the moment the tone's first sample plays, so that an instant's place in the
    // period is the tone's phase.
    base_ = TimeBase::Tone;
    last_reading_ = reading;
    t0_tone_ns_ = reading.firstSampleNs;
    t0_local_ns_ = reading.localNs + (reading.firstSampleNs - reading.clockNs);
    return;
  }
  base_ = TimeBase::TickCount;
  t0_local_ns_ = time_->Nanoseconds();
}

std::int64_t Generator::ElapsedNs(std::int64_t* localNs) {
  if (base_ == TimeBase::Tone) {
    ToneReading reading;
    if (tone_clock_ && tone_clock_->Read(state_.WaveOutHandle, &reading)) {
      last_reading_ = reading;
      *localNs = reading.localNs;
      return reading.clockNs - t0_tone_ns_;
    }
    // The device stopped answering (it failed or closed; the run is ending): carry the
    // tone's clock on at the time source's pace.
    *localNs = time_->Nanoseconds();
    return last_reading_.clockNs + (*localNs - last_reading_.localNs) - t0_tone_ns_;
  }
  *localNs = time_->Nanoseconds();
  return *localNs - t0_local_ns_;
}

std::int64_t Generator::LocalAt(std::int64_t sinceT0Ns) const {
  if (base_ == TimeBase::Tone)
    return last_reading_.localNs + (t0_tone_ns_ + sinceT0Ns - last_reading_.clockNs);
  return t0_local_ns_ + sinceT0Ns;
}

ToneTimeline Generator::Timeline() const {
  ToneTimeline timeline;
  timeline.base = base_;
  timeline.t0LocalNs = t0_local_ns_;
  timeline.t0ToneNs = t0_tone_ns_;
  ToneReading reading;
  timeline.toneAnswered = tone_clock_ && tone_clock_->Read(state_.WaveOutHandle, &reading);
  timeline.reading = timeline.toneAnswered ? reading : last_reading_;
  timeline.freqNumerator = state_.FreqNumerator;
  timeline.freqDenominator = state_.FreqDenominator;
  timeline.phase = state_.Phase;
  return timeline;
}

Instant Generator::MakeInstant(TimeBase base, double dueMs, double actualMs,
                               std::int64_t dueLocalNs) const {
  Instant instant;
  instant.number = state_.PictureNumber;
  instant.numberText = controls_.Text1->text();
  instant.sinceT0Text = controls_.Text10->text();
  instant.dateTime = time_->Now();
  instant.base = base;
  instant.dueMs = dueMs;
  instant.actualMs = actualMs;
  instant.dueLocalNs = dueLocalNs;
  instant.tone = Timeline();
  instant.tone.base = base;
  return instant;
}

void Generator::RunClock() {
  const QScopedValueRollback running(clock_running_, true);
  recording_failure_ = nullptr;
  if (controls_.Timer1->isActive()) controls_.Timer1->stop();
  // Elapsed time is counted in 64 bits, so it stays right across the 32-bit tick count's wrap
  // and sign change; the tick fields keep their original meaning. It is counted on the
  // tone's clock when the tone has one, else on the time source.
  BeginTimeBase();
  const auto tickStart =
      static_cast<std::int32_t>(static_cast<std::uint32_t>(t0_local_ns_ / kMillisecond));
  state_.TickStart = tickStart;
  state_.TickLast = state_.TickStart;
  controls_.Text8->setText(FormatT0(tickStart));
  controls_.Timer2->stop();
  for (;;) {
    // The tone must never pause: its buffers are re-queued at every pass, while all other
    // window events wait for the next recording instant.
    if (state_.CallbackWindow)
      QCoreApplication::sendPostedEvents(state_.CallbackWindow, wave::WaveOutEvent::kType);
    std::int64_t localNs = 0;
    const std::int64_t elapsedNs = ElapsedNs(&localNs);
    const std::int64_t elapsedMs = elapsedNs / kMillisecond;
    state_.TickNow = state_.TickStart + static_cast<double>(elapsedMs);
    const std::int32_t k = state_.PictureNumber;
    const std::int32_t l = state_.NC0;
    const std::int32_t m = state_.PeriodsInGroup;
    const std::int32_t f = WholePeriods(elapsedMs, state_.ClockPeriod);
    if (f >= forms::ToLong(forms::ToLong(static_cast<std::int64_t>(l) * k) +
                           static_cast<std::int64_t>(m) + 1))
      state_.PeriodsInGroup = m + 1;
    if (state_.PeriodsInGroup == l) {
      state_.PeriodsInGroup = 0;
      state_.PictureNumber = forms::ToLong(static_cast<std::int64_t>(k) + 1);
      controls_.Text1->setText(QString::number(state_.PictureNumber));
      controls_.Text10->setText(forms::FormatGeneral((state_.TickNow - state_.TickStart) / 1000));
      if (controls_.Check2->isChecked()) {
        const double dueMs =
            static_cast<double>(l) * state_.PictureNumber * state_.ClockPeriod * 1000;
        Outcome recorded;
        emit PictureDue(MakeInstant(base_, dueMs, static_cast<double>(elapsedNs) / kMillisecond,
                                    LocalAt(std::llround(dueMs * kMillisecond))),
                        recorded);
        Raise(recorded, kPictureDue);
      }
      state_.TickLast = state_.TickNow;
      forms::DoEvents();
    }
    if (recording_failure_) std::rethrow_exception(std::exchange(recording_failure_, nullptr));
    if (state_.StopRequested == 1) return;
    WaitForNextPass(elapsedMs);
  }
}

void Generator::WaitForNextPass(std::int64_t elapsedMs) {
  // The next period is complete at (counted + 1) clock periods after T0; a pass still
  // catching up on missed periods goes on at once.
  const double counted =
      static_cast<double>(state_.NC0) * state_.PictureNumber + state_.PeriodsInGroup;
  const double dueMs = (counted + 1) * state_.ClockPeriod * 1000;
  if (elapsedMs >= dueMs) return;
  // Wake at the tick-count step that completes it (the next step when rounding put the due
  // time a hair past a whole millisecond), but not later than the longest sleep. The time
  // source sleeps: the step is placed on it from the time base's reading now.
  const auto stepMs = static_cast<std::int64_t>(std::ceil(dueMs * (1 - 1e-12)));
  const std::int64_t wakeMs = std::max<std::int64_t>(elapsedMs + 1, stepMs);
  std::int64_t now = 0;
  const std::int64_t elapsedNs = ElapsedNs(&now);
  time_->SleepUntil(std::min(now + (wakeMs * kMillisecond - elapsedNs), now + kLongestSleep));
}

void Generator::Timer1_Timer() {
  // A failed recording is reported once and ends the recording, as in the clock mode; the
  // tone plays on. The timer stops first: a message box lets further ticks run.
  try {
    Outcome recorded;
    emit PictureDue(MakeInstant(TimeBase::Timer, 0, 0, time_->Nanoseconds()), recorded);
    Raise(recorded, kPictureDue);
  } catch (const std::exception& error) {
    // Not only the program's own errors: an allocation or library failure while saving
    // must not end the program either.
    controls_.Timer1->stop();
    ReportFailure("Timer 1's picture", error);
  }
}

void Generator::FailRecording(const std::exception_ptr& failure) {
  forms::AssertWindowThread("Generator::FailRecording");
  if (!failure) return;
  if (clock_running_) {
    if (!recording_failure_) recording_failure_ = failure;
    return;
  }
  if (controls_.Timer1->isActive()) controls_.Timer1->stop();
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& error) {
    ReportFailure("a picture of the run", error);
  }
}

void Generator::Timer2_Timer() {
  const QDateTime now = time_->Now();
  ShowDateTime(forms::DisplayDate(now), forms::DisplayTime(now));
}

void Generator::ShowDateTime(const QString& date, const QString& time) {
  controls_.Text2->setText(date);
  controls_.Text3->setText(time);
}

void Generator::PauseDateDisplay() {
  controls_.Timer2->stop();
}

void Generator::EndClockForVideo() {
  RequestStop();
  controls_.Timer1->stop();
}

void Generator::ResumeDateDisplay() {
  controls_.Timer2->start();
}

void Generator::Option5_Click() {
  controls_.Command3->setEnabled(false);
}

void Generator::Option6_Click() {
  controls_.Command3->setEnabled(true);
}

void Generator::Command3_Click() {
  try {
    controls_.Timer1->setInterval(TimerInterval(forms::CLng(controls_.Text20->text())));
  } catch (const forms::RuntimeError& error) {
    ReportFailure("Timer 1's interval", error);
  }
}

}  // namespace generator
