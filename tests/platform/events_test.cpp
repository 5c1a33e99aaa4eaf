#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>
#include <vector>

#include "platform/forms/events.h"
#include "platform/forms/runtime_error.h"
#include "tests/support/test_support.h"

namespace {

const QEvent::Type kNotification = static_cast<QEvent::Type>(QEvent::User + 0x3BD);

}  // namespace

TEST(WindowProc, NewProcedureSeesEventsFirstAndChainsToThePreviousOne) {
  QWidget window;
  std::vector<std::string> seen;
  forms::WindowProc first = forms::SetWindowProc(&window, [&](QObject*, QEvent* event) {
    if (event->type() == kNotification) seen.push_back("first");
    return false;
  });
  EXPECT_FALSE(first);  // nothing was installed before: the toolkit's own handling

  forms::WindowProc previous;
  previous = forms::SetWindowProc(&window, [&](QObject* target, QEvent* event) {
    if (event->type() == kNotification) seen.push_back("second");
    return forms::CallWindowProc(previous, target, event);
  });
  ASSERT_TRUE(previous);

  QCoreApplication::postEvent(&window, new QEvent(kNotification));
  forms::DoEvents();
  EXPECT_EQ(seen, (std::vector<std::string>{"second", "first"}));
}

TEST(WindowProc, ConsumedEventsDoNotReachTheWindow) {
  struct Counting : QWidget {
    int custom = 0;
    bool event(QEvent* e) override {
      if (e->type() == kNotification) ++custom;
      return QWidget::event(e);
    }
  } window;
  forms::SetWindowProc(&window,
                       [](QObject*, QEvent* event) { return event->type() == kNotification; });
  QCoreApplication::postEvent(&window, new QEvent(kNotification));
  QCoreApplication::postEvent(&window, new QEvent(QEvent::User));
  forms::DoEvents();
  EXPECT_EQ(window.custom, 0);

  forms::SetWindowProc(&window, {});
  QCoreApplication::postEvent(&window, new QEvent(kNotification));
  forms::DoEvents();
  EXPECT_EQ(window.custom, 1);
}

TEST(LastResortCatch, UntrappedErrorIsReportedAndTheProgramGoesOn) {
  testing_support::MessageBoxRecorder boxes;
  QObject target;
  QObject::connect(&target, &QObject::objectNameChanged, [] { forms::Raise(forms::kOverflow); });
  QMetaObject::invokeMethod(
      &target, [&] { target.setObjectName(QStringLiteral("x")); }, Qt::QueuedConnection);
  forms::DoEvents();
  ASSERT_EQ(boxes.Calls().size(), 1u);
  EXPECT_TRUE(boxes.Calls()[0].text.startsWith(QString::fromUtf8("Ошибка в работе программы")));
  EXPECT_TRUE(boxes.Calls()[0].text.contains(QStringLiteral("Overflow")));
  EXPECT_EQ(boxes.Calls()[0].title, QStringLiteral("Strobolux"));
}
