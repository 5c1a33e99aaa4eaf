#include "tests/support/test_support.h"

#include <QCoreApplication>
#include <QEvent>

namespace testing_support {

MessageBoxRecorder::MessageBoxRecorder() {
  previous_ = forms::SetMessageBoxFunction([this](const QString& text, const QString& title) {
    calls_.push_back({text, title});
  });
}

MessageBoxRecorder::~MessageBoxRecorder() {
  forms::SetMessageBoxFunction(std::move(previous_));
}

void FlushDeferredDeletes() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace testing_support
