#include "recording/run_log.h"

#include <QDir>
#include <QFile>
#include <QPainter>
#include <QSaveFile>
#include <QStringList>
#include <algorithm>
#include <cmath>

namespace recording {

const QString RunLog::kFileName = QStringLiteral("log.csv");
const QString RunLog::kPlotName = QStringLiteral("phase.png");
// CSV readers expect '.' decimals whatever the operator's locale: the first line says so.
const QString RunLog::kHeader = QStringLiteral(
    "# Strobolux picture log. Numbers use '.' as the decimal point (C locale); times are ms "
    "since T0 on the run's time base.\n"
    "picture,file,due_ms,actual_ms,frame_number,frame_capture_ms,frame_age_ms,"
    "frame_phase_deg,instant_phase_deg,ideal_phase_deg,time_base,save_ms,error\n");

namespace {

// QString::number formats in the C locale, never the session's.
QString Number(const std::optional<double>& value, int decimals) {
  return value ? QString::number(*value, 'f', decimals) : QString();
}

QString Quoted(QString text) {
  if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
      !text.contains(QLatin1Char('\n')))
    return text;
  text.replace(QLatin1String("\""), QLatin1String("\"\""));
  return QLatin1Char('"') + text + QLatin1Char('"');
}

bool AppendText(const QString& path, const QString& text) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) return false;
  const QByteArray bytes = text.toUtf8();
  const bool written = file.write(bytes) == bytes.size();
  return file.flush() && written;
}

}  // namespace

QString FormatLogRow(const PictureLogRow& row) {
  const QStringList cells{QString::number(row.picture),
                          Quoted(row.file),
                          Number(row.dueMs, 3),
                          Number(row.actualMs, 3),
                          row.frameNumber ? QString::number(*row.frameNumber) : QString(),
                          Number(row.frameCaptureMs, 3),
                          Number(row.frameAgeMs, 3),
                          Number(row.framePhase, 3),
                          Number(row.instantPhase, 3),
                          Number(row.idealPhase, 3),
                          row.timeBase,
                          QString::number(row.saveMs, 'f', 3),
                          Quoted(row.error)};
  return cells.join(QLatin1Char(','));
}

void RunLog::Begin(const QString& folder) {
  folder_ = folder;
  rows_.clear();
  if (!folder_.isEmpty()) AppendText(QDir(folder_).filePath(kFileName), kHeader);
}

bool RunLog::Append(const PictureLogRow& row) {
  if (folder_.isEmpty()) return false;
  rows_.push_back(row);
  return AppendText(QDir(folder_).filePath(kFileName), FormatLogRow(row) + QLatin1Char('\n'));
}

bool RunLog::Finish() {
  const bool anyPhase = std::any_of(rows_.begin(), rows_.end(),
                                    [](const PictureLogRow& row) { return row.framePhase; });
  if (folder_.isEmpty() || !anyPhase || !QDir(folder_).exists()) return false;
  QSaveFile file(QDir(folder_).filePath(kPlotName));
  if (!file.open(QIODevice::WriteOnly)) return false;
  return DrawPhasePlot(rows_).save(&file, "PNG") && file.commit();
}

QImage RunLog::DrawPhasePlot(const std::vector<PictureLogRow>& rows) {
  constexpr int kWidth = 800, kHeight = 400, kLeft = 50, kRight = 15, kTop = 15, kBottom = 35;
  QImage image(kWidth, kHeight, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF area(kLeft, kTop, kWidth - kLeft - kRight, kHeight - kTop - kBottom);
  std::int32_t last = 1;
  for (const PictureLogRow& row : rows) last = std::max(last, row.picture);
  auto x = [&](double picture) {
    return area.left() + area.width() * (last > 1 ? (picture - 1) / (last - 1) : 0.5);
  };
  auto y = [&](double degrees) { return area.bottom() - area.height() * degrees / 360; };

  painter.setPen(QColor(220, 220, 220));
  for (int degrees = 0; degrees <= 360; degrees += 90) {
    painter.drawLine(QPointF(area.left(), y(degrees)), QPointF(area.right(), y(degrees)));
    painter.setPen(Qt::black);
    painter.drawText(QRectF(0, y(degrees) - 8, kLeft - 6, 16), Qt::AlignRight | Qt::AlignVCenter,
                     QString::number(degrees) + QChar(0x00B0));
    painter.setPen(QColor(220, 220, 220));
  }
  painter.setPen(Qt::black);
  painter.drawRect(area);
  painter.drawText(QRectF(area.left(), area.bottom() + 4, area.width(), kBottom - 4),
                   Qt::AlignHCenter | Qt::AlignTop,
                   QStringLiteral("N (1 … %1)   ● phase of the picture   — ideal phase").arg(last));

  // The ideal phase as a line through the pictures; a wrap past 360° starts a new segment.
  painter.setPen(QPen(QColor(0, 120, 0), 1.5));
  const PictureLogRow* previous = nullptr;
  for (const PictureLogRow& row : rows) {
    if (!row.idealPhase) continue;
    if (previous && std::abs(*row.idealPhase - *previous->idealPhase) < 180)
      painter.drawLine(QPointF(x(previous->picture), y(*previous->idealPhase)),
                       QPointF(x(row.picture), y(*row.idealPhase)));
    else
      painter.drawPoint(QPointF(x(row.picture), y(*row.idealPhase)));
    previous = &row;
  }
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(200, 0, 0));
  for (const PictureLogRow& row : rows) {
    if (row.framePhase) painter.drawEllipse(QPointF(x(row.picture), y(*row.framePhase)), 2.5, 2.5);
  }
  return image;
}

}  // namespace recording
