#pragma once
// Shared helpers of the test suites: a recording message box and a locale switch.

#include <QByteArray>
#include <QColor>
#include <QComboBox>
#include <QImage>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <utility>
#include <vector>

#include "platform/forms/message_box.h"

namespace testing_support {

// A text as the program shows it, written in the test's source as UTF-8.
inline QString Str(const char* utf8) {
  return QString::fromUtf8(utf8);
}

// Replaces the message box for the lifetime of the object and records every call.
class MessageBoxRecorder {
 public:
  MessageBoxRecorder();
  ~MessageBoxRecorder();
  MessageBoxRecorder(const MessageBoxRecorder&) = delete;
  MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

  struct Shown {
    QString text;
    QString title;
  };
  const std::vector<Shown>& Calls() const { return calls_; }

 private:
  std::vector<Shown> calls_;
  forms::MessageBoxFunction previous_;
};

// Records the log messages of the program's categories ("strobolux.*") for the lifetime of
// the object, each as "category: text"; others go on to the previous handler.
class LogRecorder {
 public:
  LogRecorder();
  ~LogRecorder();
  LogRecorder(const LogRecorder&) = delete;
  LogRecorder& operator=(const LogRecorder&) = delete;
  const QStringList& Lines() const { return lines_; }
  void Record(const QString& line) { lines_ << line; }

 private:
  QStringList lines_;
  QtMessageHandler previous_ = nullptr;
};

// Sets the default locale for the lifetime of the object.
class ScopedLocale {
 public:
  explicit ScopedLocale(const QLocale& locale) : previous_(QLocale()) {
    QLocale::setDefault(locale);
  }
  ~ScopedLocale() { QLocale::setDefault(previous_); }

 private:
  QLocale previous_;
};

// How many pixels of an image have exactly this colour.
int CountPixels(const QImage& image, const QColor& color);

// Mean absolute difference of two images of one size, per channel (0..255); 255 for sizes
// that differ.
double MeanDifference(const QImage& a, const QImage& b);

// Opens the list of a combo box and clicks one of its rows with the mouse.
void ClickListRow(QComboBox* combo, int row);

// One CSV line's cells, with "..." cells holding commas and doubled quotes.
QStringList SplitCsvLine(const QString& line);

// The whole of a file; empty when it cannot be read.
QByteArray FileBytes(const QString& path);

// Lets deferred deletions run, as returning to the event loop would.
void FlushDeferredDeletes();

}  // namespace testing_support
