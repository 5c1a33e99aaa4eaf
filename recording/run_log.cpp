#include "recording/run_log.h"

#include <unistd.h>

#include "recording/logging.h"

#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QSaveFile>
#include <QStringList>
#include <algorithm>
#include <cmath>

namespace recording {

Q_LOGGING_CATEGORY(lcRecording, "strobolux.recording")

const QString RunLog::kFileName = QStringLiteral("log.csv");
const QString RunLog::kPlotName = QStringLiteral("phase.png");
// The column names come first, as every CSV reader expects; the numbers use '.' decimals
// whatever the operator's locale (the README describes the columns).
const QString RunLog::kHeader = QStringLiteral(
    "picture,file,due_ms,actual_ms,frame_number,frame_capture_ms,frame_age_ms,"
    "frame_phase_deg,instant_phase_deg,ideal_phase_deg,time_base,save_ms,error,"
    "exposure_mid_ms,exposure_phase_deg,exposure_time_ms,camera_delay_ms,camera_delay_source,"
    "frame_file,frame_rule,phase_error_deg,strobe,strobe_lit,pulse_phase_deg\n");

namespace {

// QString::number formats in the C locale, never the session's.
QString Number(const std::optional<double>& value, int decimals) {
  return value ? QString::number(*value, 'f', decimals) : QString();
}

// A phase in [0, 360) as written: a hair below 360 would round to "360.000".
QString Phase(const std::optional<double>& degrees) {
  if (!degrees) return QString();
  const double rounded = std::round(*degrees * 1000) / 1000;
  return QString::number(rounded >= 360 ? rounded - 360 : rounded, 'f', 3);
}

QString Quoted(QString text) {
  if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
      !text.contains(QLatin1Char('\n')))
    return text;
  text.replace(QLatin1String("\""), QLatin1String("\"\""));
  return QLatin1Char('"') + text + QLatin1Char('"');
}

// Appends and flushes; a failure leaves its trace with the path and the system's reason.
bool AppendText(const QString& path, const QString& text) {
  QFile file(path);
  const QByteArray bytes = text.toUtf8();
  if (file.open(QIODevice::WriteOnly | QIODevice::Append) && file.write(bytes) == bytes.size() &&
      file.flush())
    return true;
  qCWarning(lcRecording).noquote() << "cannot write" << path << "-" << file.errorString();
  return false;
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
                          Phase(row.framePhase),
                          Phase(row.instantPhase),
                          Phase(row.idealPhase),
                          row.timeBase,
                          QString::number(row.saveMs, 'f', 3),
                          Quoted(row.error),
                          Number(row.exposureMidMs, 3),
                          Phase(row.exposurePhase),
                          Number(row.exposureTimeMs, 3),
                          Number(row.cameraDelayMs, 3),
                          row.cameraDelaySource,
                          Quoted(row.frameFile),
                          row.frameRule,
                          Number(row.phaseErrorDeg, 3),
                          row.strobe,
                          row.strobeLit ? QString::number(*row.strobeLit ? 1 : 0) : QString(),
                          Phase(row.pulsePhase)};
  return cells.join(QLatin1Char(','));
}

namespace {

// A row whose exposure's phase is the picture's: the camera's delay was calibrated.
// A strobed picture's phase is its pulse's, whatever the camera's timing.
bool ExposurePhased(const PictureLogRow& row) {
  return (row.strobeLit.value_or(false) && row.pulsePhase) ||
         (row.cameraDelayMs && row.exposurePhase);
}

}  // namespace

std::optional<double> PicturePhase(const PictureLogRow& row) {
  if (row.strobeLit.value_or(false) && row.pulsePhase) return row.pulsePhase;
  return ExposurePhased(row) ? row.exposurePhase : row.framePhase;
}

double PhaseError(double framePhase, double idealPhase) {
  const double error = std::fmod(framePhase - idealPhase, 360.0);  // -360 < error < 360
  if (error > 180) return error - 360;
  if (error <= -180) return error + 360;
  return error;
}

Histogram::Histogram(double low, double high, double bin)
    : low_(low),
      bin_(bin),
      counts_(static_cast<std::size_t>(std::max(1.0, std::ceil((high - low) / bin)))) {}

void Histogram::Add(double value) {
  if (std::isnan(value)) return;
  const double index = std::floor((value - low_) / bin_);
  const double last = static_cast<double>(counts_.size() - 1);
  ++counts_[static_cast<std::size_t>(std::clamp(index, 0.0, last))];
  ++total_;
}

std::optional<double> Histogram::Median() const {
  if (total_ == 0) return std::nullopt;
  const std::uint64_t middle = (total_ + 1) / 2;
  std::uint64_t seen = 0;
  for (std::size_t i = 0; i < counts_.size(); ++i) {
    seen += counts_[i];
    if (seen >= middle) return low_ + (static_cast<double>(i) + 0.5) * bin_;
  }
  return std::nullopt;
}

namespace {

void Merge(ColumnTrace::Column& into, const ColumnTrace::Column& from) {
  if (from.count == 0) return;
  if (into.count == 0) {
    into = from;
    return;
  }
  into.count += from.count;
  into.low = std::min(into.low, from.low);
  into.high = std::max(into.high, from.high);
}

}  // namespace

void ColumnTrace::Add(std::int64_t position, double value) {
  position = std::max<std::int64_t>(position, 1);
  while (position > span_ * kColumns) {
    for (int i = 0; i < kColumns; ++i) {
      Column merged;
      if (2 * i < kColumns) Merge(merged, columns_[2 * i]);
      if (2 * i + 1 < kColumns) Merge(merged, columns_[2 * i + 1]);
      columns_[i] = merged;
    }
    span_ *= 2;
  }
  Merge(columns_[(position - 1) / span_], Column{1, value, value});
  last_ = std::max(last_, position);
}

namespace {

// 0.1° bins over the whole circle, centred on tenths: the median to within 0.05°, far below
// what a frame's timing allows. An exact median would need every picture's error kept until
// the stop, and reading log.csv back would tie the plot to its format and its folder.
constexpr double kErrorBinDeg = 0.1;
// Cameras run between about 1 and 1000 frames a second; 0.1 ms is 0.3% of a 30 fps frame.
constexpr double kLongestFrameMs = 1000;
constexpr double kFrameBinMs = 0.1;

}  // namespace

PhaseHistory::PhaseHistory(std::optional<double> toneHz)
    : tone_hz_(toneHz),
      error_bins_(-180 - kErrorBinDeg / 2, 180 + kErrorBinDeg / 2, kErrorBinDeg),
      frame_interval_bins_(-kFrameBinMs / 2, kLongestFrameMs, kFrameBinMs) {}

void PhaseHistory::Add(const PictureLogRow& row, double secondsSinceBegin) {
  ++rows_seen_;
  const std::optional<double> phase = PicturePhase(row);
  if (phase && row.idealPhase) {
    const double error = PhaseError(*phase, *row.idealPhase);
    ++(ExposurePhased(row) ? exposure_errors_ : capture_errors_);
    if (row.cameraDelayMs) camera_delay_ms_ = row.cameraDelayMs;
    errors_.Add(row.picture, error);
    error_bins_.Add(error);
    if (!largest_ || std::abs(error) > std::abs(*largest_)) largest_ = error;
  } else if (phase) {
    // The Timer 1 mode numbers every picture 0: the time of its row places it, in tenths of a
    // second (its ticks may stop and start again, or fail, so the rows are not evenly spaced).
    timer_phases_.Add(
        1 + std::llround(std::max(0.0, secondsSinceBegin) * PhaseHistory::kTimerStepsPerSecond),
        *phase);
  }
  // Two pictures' frames: the time between their captures over the frames between them is
  // the camera's frame interval. The median over all pairs ignores a pause or a reopened
  // camera (its numbers start again at 1).
  if (row.frameNumber && row.frameCaptureMs) {
    if (last_frame_number_ && *row.frameNumber > *last_frame_number_ &&
        *row.frameCaptureMs > *last_frame_capture_ms_) {
      frame_interval_bins_.Add((*row.frameCaptureMs - *last_frame_capture_ms_) /
                               static_cast<double>(*row.frameNumber - *last_frame_number_));
    }
    last_frame_number_ = row.frameNumber;
    last_frame_capture_ms_ = row.frameCaptureMs;
  }
}

PhaseSummary PhaseHistory::Summary() const {
  PhaseSummary summary;
  summary.pictures = error_bins_.Count();
  summary.medianDeg = error_bins_.Median();
  summary.largestDeg = largest_;
  summary.frameIntervalMs = frame_interval_bins_.Median();
  summary.toneHz = tone_hz_;
  summary.exposurePhase = exposure_errors_ > 0 && capture_errors_ == 0;
  summary.mixedPhases = exposure_errors_ > 0 && capture_errors_ > 0;
  summary.cameraDelayMs = camera_delay_ms_;
  if (summary.frameIntervalMs && tone_hz_ && *tone_hz_ > 0)
    summary.bandDeg = *summary.frameIntervalMs / 2 / 1000 * *tone_hz_ * 360;
  return summary;
}

std::size_t PhaseHistory::RetainedBytes() const {
  return sizeof(*this) + error_bins_.RetainedBytes() + frame_interval_bins_.RetainedBytes();
}

void RunLog::Begin(const QString& folder, std::optional<double> toneHz) {
  folder_ = folder;
  history_ = PhaseHistory(toneHz);
  begun_ = std::chrono::steady_clock::now();
  last_.reset();
  rows_ = 0;
  // A header that cannot be written has left its trace; the rows are tried all the same.
  if (!folder_.isEmpty()) static_cast<void>(AppendText(QDir(folder_).filePath(kFileName), kHeader));
}

bool RunLog::Append(const PictureLogRow& row) {
  last_ = row;
  if (folder_.isEmpty()) return false;
  ++rows_;
  history_.Add(row,
               std::chrono::duration<double>(std::chrono::steady_clock::now() - begun_).count());
  return AppendText(QDir(folder_).filePath(kFileName), FormatLogRow(row) + QLatin1Char('\n'));
}

bool RunLog::Sync() const {
  if (folder_.isEmpty()) return true;
  QFile file(QDir(folder_).filePath(kFileName));
  // Any descriptor of the file brings its data to the disk.
  if (!file.open(QIODevice::ReadOnly)) return !file.exists();
  return ::fdatasync(file.handle()) == 0;
}

bool RunLog::Finish() {
  if (folder_.isEmpty() || history_.Empty() || !QDir(folder_).exists()) return false;
  QSaveFile file(QDir(folder_).filePath(kPlotName));
  if (file.open(QIODevice::WriteOnly) && DrawPhasePlot(history_).save(&file, "PNG") &&
      file.commit())
    return true;
  qCWarning(lcRecording).noquote()
      << "cannot write" << file.fileName() << "-" << file.errorString();
  return false;
}

namespace {

constexpr int kWidth = 800, kHeight = 450, kLeft = 55, kRight = 15, kTop = 50, kBottom = 35;
static_assert(kWidth - kLeft - kRight == ColumnTrace::kColumns,
              "one column of the trace per pixel column of the plot");

QString Degrees(double degrees) {
  const QString number = QString::number(degrees, 'f', 1);
  return (degrees > 0 && number != QLatin1String("0.0") ? QStringLiteral("+") : QString()) +
         number + QChar(0x00B0);
}

// The error axis reaches past the largest error and the band, in steps a reader can halve.
double ErrorAxisLimit(const PhaseSummary& summary) {
  const double needed = std::max(summary.largestDeg ? std::abs(*summary.largestDeg) : 0.0,
                                 summary.bandDeg.value_or(0.0));
  for (double limit : {5.0, 10.0, 15.0, 30.0, 45.0, 90.0})
    if (needed * 1.1 <= limit) return limit;
  return 180;
}

}  // namespace

QRect RunLog::PlotArea() {
  return QRect(kLeft, kTop, kWidth - kLeft - kRight, kHeight - kTop - kBottom);
}

RunLog::PlotTexts RunLog::Texts(const PhaseHistory& history) {
  PlotTexts texts;
  if (history.TimerMode()) {
    const ColumnTrace& trace = history.TimerPhases();
    std::uint64_t pictures = 0;
    for (const ColumnTrace::Column& column : trace.Columns()) pictures += column.count;
    texts.title = QStringLiteral(
        "Режим «Таймер 1»: идеальной фазы нет \u2014 фаза каждой картинки по времени записи");
    texts.summary = QStringLiteral("картинок с фазой: %1; таймер не привязан к тону").arg(pictures);
    return texts;
  }
  const PhaseSummary summary = history.Summary();
  // The title says which phase: a frame's capture time is its arrival, a delay after the light.
  texts.title = summary.exposurePhase
                    ? QStringLiteral(
                          "Ошибка фазы каждой картинки: фаза середины экспозиции \u2212 "
                          "идеальная фаза, в пределах \u00B1180\u00B0")
                : summary.mixedPhases
                    ? QStringLiteral(
                          "Ошибка фазы: середины экспозиции, где задержка камеры измерена, "
                          "иначе прихода кадра \u2212 идеальная фаза")
                    : QStringLiteral(
                          "Ошибка фазы каждой картинки: фаза прихода кадра (задержка камеры не "
                          "измерена) \u2212 идеальная фаза");
  texts.summary =
      QStringLiteral("медиана %1   наибольшая %2   (картинок: %3)")
          .arg(Degrees(summary.medianDeg.value_or(0)), Degrees(summary.largestDeg.value_or(0)))
          .arg(summary.pictures);
  texts.summary += summary.cameraDelayMs ? QStringLiteral("   задержка камеры %1 мс")
                                               .arg(QString::number(*summary.cameraDelayMs, 'f', 1))
                                         : QStringLiteral("   задержка камеры не измерена");
  if (summary.bandDeg) {
    // The band is half a frame interval each way: its label gives that half in ms too.
    texts.summary +=
        QStringLiteral("   голубая полоса \u00B1%1\u00B0 = \u00B1%2 мс (полкадра) при %3 Гц")
            .arg(QString::number(*summary.bandDeg, 'f', 1),
                 QString::number(*summary.frameIntervalMs / 2, 'f', 2),
                 QString::number(*summary.toneHz, 'g', 6));
  } else {
    texts.summary += summary.frameIntervalMs
                         ? QStringLiteral("   полосы нет: частота тона неизвестна")
                         : QStringLiteral("   полосы нет: интервал кадров неизвестен");
  }
  return texts;
}

QImage RunLog::DrawPhasePlot(const PhaseHistory& history) {
  QImage image(kWidth, kHeight, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(12);
  painter.setFont(font);
  const QRectF area(PlotArea());
  const bool timer = history.TimerMode();
  const ColumnTrace& trace = timer ? history.TimerPhases() : history.Errors();
  const PhaseSummary summary = history.Summary();
  const double limit = timer ? 360 : ErrorAxisLimit(summary);
  const double bottom = timer ? 0 : -limit;
  const std::int64_t last = std::max<std::int64_t>(trace.Last(), 1);
  auto x = [&](double position) {
    return area.left() +
           area.width() * (last > 1 ? (position - 1) / static_cast<double>(last - 1) : 0.5);
  };
  auto y = [&](double degrees) {
    return area.bottom() - area.height() * (degrees - bottom) / (limit - bottom);
  };

  if (summary.bandDeg && !timer) {
    const double band = std::min(*summary.bandDeg, limit);
    painter.fillRect(QRectF(QPointF(area.left(), y(band)), QPointF(area.right(), y(-band))),
                     QColor(215, 230, 250));
  }
  const QColor grid(220, 220, 220);
  for (int step = 0; step <= 4; ++step) {
    const double degrees = bottom + (limit - bottom) * step / 4;
    painter.setPen(grid);
    painter.drawLine(QPointF(area.left(), y(degrees)), QPointF(area.right(), y(degrees)));
    painter.setPen(Qt::black);
    painter.drawText(QRectF(0, y(degrees) - 8, kLeft - 6, 16), Qt::AlignRight | Qt::AlignVCenter,
                     timer ? QString::number(degrees) + QChar(0x00B0)
                           : (degrees > 0 ? QStringLiteral("+") : QString()) +
                                 QString::number(degrees, 'g', 4) + QChar(0x00B0));
  }
  painter.setPen(Qt::black);
  if (!timer) painter.drawLine(QPointF(area.left(), y(0)), QPointF(area.right(), y(0)));
  painter.drawRect(area);

  const PlotTexts texts = Texts(history);
  // A long line (a calibrated delay, a band in a long locale) takes a smaller font rather than
  // losing its end past the picture's edge.
  auto line = [&](QFont face, double top, const QString& text) {
    const QRectF box(kLeft / 4.0, top, kWidth - kLeft / 2.0, 18);
    while (face.pixelSize() > 8 &&
           QFontMetricsF(face).horizontalAdvance(text) > box.width() - kRight)
      face.setPixelSize(face.pixelSize() - 1);
    painter.setFont(face);
    painter.drawText(box, Qt::AlignLeft | Qt::AlignVCenter, text);
  };
  QFont bold = font;
  bold.setBold(true);
  line(bold, 4, texts.title);
  line(font, 24, texts.summary);
  painter.setFont(font);
  painter.drawText(
      QRectF(area.left(), area.bottom() + 4, area.width(), kBottom - 4),
      Qt::AlignHCenter | Qt::AlignTop,
      timer
          ? QStringLiteral("время от начала, с (0 \u2026 %1)   \u25CF фаза картинки")
                .arg(QString::number(
                    static_cast<double>(last - 1) / PhaseHistory::kTimerStepsPerSecond, 'f', 1))
          : QStringLiteral("N (1 \u2026 %1)   \u25CF ошибка картинки   \u2014 0\u00B0").arg(last));

  // A column of one value is a dot; one that merged many pictures spans their range.
  const QColor red(200, 0, 0);
  const std::int64_t span = trace.Span();
  for (int i = 0; i < ColumnTrace::kColumns; ++i) {
    const ColumnTrace::Column& column = trace.Columns()[i];
    if (column.count == 0) continue;
    const double at = x(1 + static_cast<double>(i) * span + static_cast<double>(span - 1) / 2);
    if (y(column.low) - y(column.high) < 3) {
      painter.setPen(Qt::NoPen);
      painter.setBrush(red);
      painter.drawEllipse(QPointF(at, y((column.low + column.high) / 2)), 2.5, 2.5);
    } else {
      painter.setPen(QPen(red, 3, Qt::SolidLine, Qt::RoundCap));
      painter.drawLine(QPointF(at, y(column.low)), QPointF(at, y(column.high)));
    }
  }
  return image;
}

}  // namespace recording
