#include "platform/forms/clock.h"

#include <QLocale>
#include <QRegularExpression>
#include <chrono>

namespace forms {

std::uint32_t GetTickCount() {
  const auto since = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<std::uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
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
