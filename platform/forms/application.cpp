#include "platform/forms/application.h"

#include <QThread>
#include <QVersionNumber>
#include <cstdio>
#include <cstdlib>

#include "platform/forms/logging.h"
#include "platform/forms/message_box.h"
#include "platform/forms/runtime_error.h"

namespace forms {

Q_LOGGING_CATEGORY(lcForms, "strobolux.forms")

bool Application::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    // No handler caught it: the trace first, then the general message with what it was.
    LogFailure(lcForms(), "an event without a failure trap", error);
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

void AssertWindowThread(const char* where) {
  const QCoreApplication* application = QCoreApplication::instance();
  if (!application || QThread::currentThread() == application->thread()) return;
  // Not only in debug builds: a handler off the window's thread races with it.
  qCCritical(lcForms) << where << "ran off the window's thread";
  Q_ASSERT_X(false, where, "not on the window's thread");
}

}  // namespace forms
