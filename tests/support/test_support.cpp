#include "tests/support/test_support.h"

#include <QAbstractItemView>
#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QTest>
#include <cstdlib>

namespace testing_support {

MessageBoxRecorder::MessageBoxRecorder() {
  previous_ = forms::SetMessageBoxFunction([this](const QString& text, const QString& title) {
    calls_.push_back({text, title});
  });
}

MessageBoxRecorder::~MessageBoxRecorder() {
  forms::SetMessageBoxFunction(std::move(previous_));
}

namespace {
LogRecorder* current_log = nullptr;
QtMessageHandler previous_log_handler = nullptr;

void RecordLog(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  const QString category = QString::fromLatin1(context.category ? context.category : "");
  if (current_log && category.startsWith(QLatin1String("strobolux."))) {
    current_log->Record(category + QStringLiteral(": ") + text);
    return;
  }
  if (previous_log_handler) previous_log_handler(type, context, text);
}
}  // namespace

LogRecorder::LogRecorder() {
  current_log = this;
  previous_ = qInstallMessageHandler(&RecordLog);
  previous_log_handler = previous_;
}

LogRecorder::~LogRecorder() {
  qInstallMessageHandler(previous_);
  current_log = nullptr;
}

int CountPixels(const QImage& image, const QColor& color) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) count += image.pixelColor(x, y) == color;
  return count;
}

double MeanDifference(const QImage& a, const QImage& b) {
  const QImage x = a.convertToFormat(QImage::Format_RGB888);
  const QImage y = b.convertToFormat(QImage::Format_RGB888);
  if (x.size() != y.size() || x.isNull()) return 255;
  double sum = 0;
  for (int row = 0; row < x.height(); ++row) {
    const uchar* p = x.constScanLine(row);
    const uchar* q = y.constScanLine(row);
    for (int i = 0; i < x.width() * 3; ++i) sum += std::abs(p[i] - q[i]);
  }
  return sum / (x.width() * x.height() * 3.0);
}

void ClickListRow(QComboBox* combo, int row) {
  combo->showPopup();
  QAbstractItemView* list = combo->view();
  const QModelIndex index = combo->model()->index(row, combo->modelColumn());
  list->scrollTo(index);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(index).center());
}

void FlushDeferredDeletes() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

QStringList SplitCsvLine(const QString& line) {
  QStringList cells;
  QString cell;
  bool quoted = false;
  for (int i = 0; i < line.size(); ++i) {
    const QChar c = line[i];
    if (quoted && c == QLatin1Char('"') && i + 1 < line.size() && line[i + 1] == '"') {
      cell += c;
      ++i;
    } else if (c == QLatin1Char('"')) {
      quoted = !quoted;
    } else if (c == QLatin1Char(',') && !quoted) {
      cells << cell;
      cell.clear();
    } else {
      cell += c;
    }
  }
  cells << cell;
  return cells;
}

QByteArray FileBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace testing_support
