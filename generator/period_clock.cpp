// The recording clock: the period clock counted against the tick count, the Timer 1 mode and
// the date and time display.

#include <QCoreApplication>
#include <QScopedValueRollback>
#include <algorithm>
#include <cmath>

#include "generator/generator.h"
#include "platform/forms/conversions.h"
#include "platform/forms/events.h"
#include "platform/forms/runtime_error.h"

namespace generator {
namespace {

constexpr std::int64_t kMillisecond = 1000000;
// The longest the clock sleeps between passes, so that played-buffer notices are handled on
// time even when the next period is far away.
constexpr std::int64_t kLongestSleep = 20 * kMillisecond;

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

void Generator::EnterRecordingMode() {
  if (!c_.Option5->isChecked() && c_.Option6->isChecked()) {
    c_.Timer1->setInterval(TimerInterval(forms::CDbl(c_.Text20->text()) * 1000));
    c_.Timer1->start();
    return;
  }
  RunClock();
}

void Generator::RunClock() {
  const QScopedValueRollback running(clock_running_, true);
  if (c_.Timer1->isActive()) c_.Timer1->stop();
  // Elapsed time is counted on the 64-bit monotonic clock, so it stays right across the
  // 32-bit tick count's wrap and sign change; the tick fields keep their original meaning.
  const std::int64_t startNs = time_->Nanoseconds();
  const auto tickStart =
      static_cast<std::int32_t>(static_cast<std::uint32_t>(startNs / kMillisecond));
  s_.TickStart = tickStart;
  s_.TickLast = s_.TickStart;
  c_.Text8->setText(FormatT0(tickStart));
  c_.Timer2->stop();
  for (;;) {
    // The tone must never pause: its buffers are re-queued at every pass, while all other
    // window events wait for the next recording instant.
    if (s_.CallbackWindow)
      QCoreApplication::sendPostedEvents(s_.CallbackWindow, wave::WaveOutEvent::kType);
    const std::int64_t elapsedMs = (time_->Nanoseconds() - startNs) / kMillisecond;
    s_.TickNow = s_.TickStart + static_cast<double>(elapsedMs);
    const std::int32_t k = s_.PictureNumber;
    const std::int32_t l = s_.NC0;
    const std::int32_t m = s_.PeriodsInGroup;
    const std::int32_t f = WholePeriods(elapsedMs, s_.ClockPeriod);
    if (f >= forms::ToLong(forms::ToLong(static_cast<std::int64_t>(l) * k) +
                           static_cast<std::int64_t>(m) + 1))
      s_.PeriodsInGroup = m + 1;
    if (s_.PeriodsInGroup == l) {
      s_.PeriodsInGroup = 0;
      s_.PictureNumber = forms::ToLong(static_cast<std::int64_t>(k) + 1);
      c_.Text1->setText(QString::number(s_.PictureNumber));
      c_.Text10->setText(forms::FormatGeneral((s_.TickNow - s_.TickStart) / 1000));
      if (c_.Check2->isChecked() && c_.RecordPicture) c_.RecordPicture();
      s_.TickLast = s_.TickNow;
      forms::DoEvents();
    }
    if (s_.StopRequested == 1) return;
    WaitForNextPass(startNs, elapsedMs);
  }
}

void Generator::WaitForNextPass(std::int64_t startNs, std::int64_t elapsedMs) {
  // The next period is complete at (counted + 1) clock periods after T0; a pass still
  // catching up on missed periods goes on at once.
  const double counted = static_cast<double>(s_.NC0) * s_.PictureNumber + s_.PeriodsInGroup;
  const double dueMs = (counted + 1) * s_.ClockPeriod * 1000;
  if (elapsedMs >= dueMs) return;
  // Wake at the tick-count step that completes it (the next step when rounding put the due
  // time a hair past a whole millisecond), but not later than the longest sleep.
  const auto stepMs = static_cast<std::int64_t>(std::ceil(dueMs * (1 - 1e-12)));
  const std::int64_t wakeMs = std::max<std::int64_t>(elapsedMs + 1, stepMs);
  const std::int64_t now = time_->Nanoseconds();
  time_->SleepUntil(std::min(startNs + wakeMs * kMillisecond, now + kLongestSleep));
}

void Generator::Timer1_Timer() {
  // A failed recording is reported once and ends the recording, as in the clock mode; the
  // tone plays on. The timer stops first: a message box lets further ticks run.
  try {
    if (c_.RecordPicture) c_.RecordPicture();
  } catch (const forms::RuntimeError&) {
    c_.Timer1->stop();
    ReportFailure();
  }
}

void Generator::Timer2_Timer() {
  const QDateTime now = time_->Now();
  c_.Text2->setText(forms::DisplayDate(now));
  c_.Text3->setText(forms::DisplayTime(now));
}

void Generator::Option5_Click() {
  c_.Command3->setEnabled(false);
}

void Generator::Option6_Click() {
  c_.Command3->setEnabled(true);
}

void Generator::Command3_Click() {
  try {
    c_.Timer1->setInterval(TimerInterval(forms::CLng(c_.Text20->text())));
  } catch (const forms::RuntimeError&) {
    ReportFailure();
  }
}

}  // namespace generator
