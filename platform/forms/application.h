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
};

}  // namespace forms
