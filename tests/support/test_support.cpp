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

int CountPixels(const QImage& image, const QColor& color) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) count += image.pixelColor(x, y) == color;
  return count;
}

void FlushDeferredDeletes() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace testing_support
