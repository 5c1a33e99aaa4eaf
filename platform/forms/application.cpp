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
  } catch (const RuntimeError& error) {
    MsgBox(QString::fromUtf8("Ошибка в работе программы") +
               QStringLiteral("\n\n%1: %2").arg(error.Number()).arg(error.Description()),
           QStringLiteral("Strobolux"));
  } catch (const std::exception& error) {
    MsgBox(QString::fromUtf8("Ошибка в работе программы") + QStringLiteral("\n\n") +
               QString::fromLocal8Bit(error.what()),
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
