#include "platform/forms/clock.h"

#include <QLocale>
#include <QRegularExpression>
#include <chrono>
#include <thread>

namespace forms {

namespace {

class SystemTimeSource final : public TimeSource {
 public:
  std::int64_t Nanoseconds() override {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  void SleepUntil(std::int64_t deadline) override {
    std::this_thread::sleep_until(
        std::chrono::steady_clock::time_point(std::chrono::nanoseconds(deadline)));
  }
  QDateTime Now() override { return QDateTime::currentDateTime(); }
};

}  // namespace

TimeSource& SystemTime() {
  static SystemTimeSource source;
  return source;
}

std::uint32_t GetTickCount() {
  return SystemTime().TickCount();
}

QString DisplayDate(const QDateTime& moment) {
  return QLocale::system().toString(moment.date(), QLocale::ShortFormat);
}

QString DisplayTime(const QDateTime& moment) {
  // The long format carries seconds but also the time zone, which a clock display omits.
  QString format = QLocale::system().timeFormat(QLocale::LongFormat);
  format.remove(QRegularExpression(QStringLiteral("\\s*\\(?t+\\)?")));
  return QLocale::system().toString(moment.time(), format.trimmed());
}

QString FileDate(const QDateTime& moment) {
  return moment.date().toString(QStringLiteral("dd.MM.yyyy"));
}

QString FileTime(const QDateTime& moment) {
  return moment.time().toString(QStringLiteral("HH:mm:ss"));
}

}  // namespace forms
