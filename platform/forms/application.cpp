#include "platform/forms/application.h"

#include <QVersionNumber>
#include <cstdio>
#include <cstdlib>

#include "platform/forms/message_box.h"
#include "platform/forms/runtime_error.h"

namespace forms {

bool Application::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    // No handler caught it: the trace first, then the general message with what it was.
    static const QLoggingCategory category("strobolux.forms");
    LogFailure(category, "an event without a failure trap", error);
    const auto* own = dynamic_cast<const RuntimeError*>(&error);
    const QString detail = own ? QStringLiteral("%1: %2").arg(own->Number()).arg(own->Description())
                               : QString::fromLocal8Bit(error.what());
    MsgBox(QString::fromUtf8("Ошибка в работе программы") + QStringLiteral("\n\n") + detail,
           QStringLiteral("Strobolux"));
  }
  return false;
}

bool Application::TeardownIsFaulty() {
  return QGuiApplication::platformName().startsWith(QLatin1String("wayland")) &&
         QVersionNumber::fromString(QString::fromLatin1(qVersion())) < QVersionNumber(6, 5);
}

void Application::EndWithoutTeardown(int status) {
  std::fflush(nullptr);
  std::_Exit(status);
}

}  // namespace forms
