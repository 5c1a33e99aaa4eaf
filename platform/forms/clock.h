#pragma once
// Time as the handlers see it: a millisecond tick count and the system's rendering of "now".

#include <QDateTime>
#include <QString>
#include <cstdint>

namespace forms {

// Milliseconds since an arbitrary start, monotonic; wraps like a 32-bit tick counter.
std::uint32_t GetTickCount();

// The date and the time as the system's regional settings render them for display.
QString DisplayDate(const QDateTime& moment);
QString DisplayTime(const QDateTime& moment);

// The date and the time for file and folder names: "dd.MM.yyyy" and "HH:mm:ss" (24-hour).
QString FileDate(const QDateTime& moment);
QString FileTime(const QDateTime& moment);

}  // namespace forms
