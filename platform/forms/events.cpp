#include "platform/forms/events.h"

#include <QCoreApplication>
#include <QWidget>

namespace forms {
namespace {

// Sits on the window as its first event filter and hands each event to the installed
// procedure. It is a child of the window, so it goes with it.
class WindowProcHook : public QObject {
 public:
  explicit WindowProcHook(QWidget* window) : QObject(window) {
    setObjectName(QStringLiteral("WindowProcHook"));
    window->installEventFilter(this);
  }

  WindowProc proc;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != parent() || !proc) return false;
    // A copy keeps the procedure alive if it replaces itself while running.
    const WindowProc current = proc;
    return current(watched, event);
  }
};

}  // namespace

void DoEvents() {
  QCoreApplication::processEvents();
}

WindowProc SetWindowProc(QWidget* window, WindowProc proc) {
  auto* hook = window->findChild<WindowProcHook*>(QStringLiteral("WindowProcHook"),
                                                  Qt::FindDirectChildrenOnly);
  if (!hook) hook = new WindowProcHook(window);  // owned by the window
  WindowProc previous = std::move(hook->proc);
  hook->proc = std::move(proc);
  return previous;
}

bool CallWindowProc(const WindowProc& previous, QObject* window, QEvent* event) {
  return previous ? previous(window, event) : false;
}

}  // namespace forms
