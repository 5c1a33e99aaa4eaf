#pragma once
// The application object with the last-resort catch: a run-time error that no handler
// trapped is reported in a message box and the program keeps running.

#include <QApplication>

namespace forms {

class Application : public QApplication {
  Q_OBJECT
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override;

  // True on a platform whose teardown in the application object's destructor is faulty:
  // Qt 6.4's Wayland display destroys an event queue after freeing the connection it
  // belongs to (reads of freed memory, at times a heap abort at exit).
  static bool TeardownIsFaulty();
  // Ends the process with `status` without that teardown, once the program has closed
  // everything of its own: the output is flushed, the compositor sees the connection close.
  [[noreturn]] static void EndWithoutTeardown(int status);
};

// Checks that a handler meant for the window's thread runs on it: widgets and per-window state
// are touched only there. Off it, a critical log line in every build and an assertion in a debug
// one. Nothing is checked before the application exists.
void AssertWindowThread(const char* where);

}  // namespace forms
