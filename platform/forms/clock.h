#pragma once
// Time as the handlers see it: a millisecond tick count and the system's rendering of "now".

#include <QDateTime>
#include <QString>
#include <cstdint>

namespace forms {

// Where the program's time comes from, so that tests can drive the clocks with simulated
// time. Nanoseconds() is monotonic and counts from system start, like the tick count.
class TimeSource {
 public:
  virtual ~TimeSource() = default;
  virtual std::int64_t Nanoseconds() = 0;
  // Blocks until Nanoseconds() has reached `deadline`.
  virtual void SleepUntil(std::int64_t deadline) = 0;
  virtual QDateTime Now() = 0;

  // The millisecond tick count: wraps at 2^32 and turns negative as a signed value after
  // 24.8 days, as the system's did.
  std::uint32_t TickCount() { return static_cast<std::uint32_t>(Nanoseconds() / 1000000); }
};

// The real clocks of the machine.
TimeSource& SystemTime();

// Milliseconds since system start, monotonic; wraps like a 32-bit tick counter.
std::uint32_t GetTickCount();

// The date and the time as the system's regional settings render them for display.
QString DisplayDate(const QDateTime& moment);
QString DisplayTime(const QDateTime& moment);

// The date and the time for file and folder names: "dd.MM.yyyy" and "HH:mm:ss" (24-hour).
QString FileDate(const QDateTime& moment);
QString FileTime(const QDateTime& moment);

}  // namespace forms
