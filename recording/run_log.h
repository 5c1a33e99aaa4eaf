#pragma once
// The run folder's record of its pictures: log.csv, one row per picture written and flushed
// as the picture is saved (a failed one too), and at the end of the run phase.png, each
// picture's phase error (its phase less the ideal phase) against its number, or in the Timer 1
// mode (no ideal phase) its phase against its row in the log. The plot's data has a fixed size
// however long the run: a three-day run must not hold its pictures in memory.

#include <QImage>
#include <QRect>
#include <QString>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace recording {

struct PictureLogRow {
  std::int32_t picture = 0;
  QString file;                 // the file's name in the run folder
  std::optional<double> dueMs;  // since T0; none in the Timer 1 mode
  std::optional<double> actualMs;
  std::optional<std::uint64_t> frameNumber;
  std::optional<double> frameCaptureMs;  // since T0
  std::optional<double> frameAgeMs;      // due instant less capture time
  std::optional<double> framePhase;      // tone phase at the frame's capture, degrees
  std::optional<double> instantPhase;    // tone phase at the due instant
  std::optional<double> idealPhase;      // what the settings imply at the due instant
  QString timeBase;                      // "tone", "tick" or "timer"
  // The middle of the frame's exposure (capture time less the camera's delay and half the
  // exposure time) since T0, and the tone's phase then: the picture's phase when the delay is
  // known.
  std::optional<double> exposureMidMs;
  std::optional<double> exposurePhase;
  std::optional<double> exposureTimeMs;  // from the camera's manual exposure; none when unknown
  std::optional<double> cameraDelayMs;   // the delay applied; none when not calibrated
  QString cameraDelaySource;             // "calibrated" or "none"
  double saveMs = 0;
  QString error;      // empty when the picture was saved
  QString frameFile;  // the camera's own frame saved beside it, in the run folder; empty: none
  // Which frame was taken: "nearest" (in time), "phase" (its exposure phase nearest the ideal
  // among the frames up to the next instant) or "strobe" (its exposure held a pulse); and the
  // picture's phase less the ideal one.
  QString frameRule;
  std::optional<double> phaseErrorDeg;
  QString strobe;                    // "off", "period" or "instants"
  std::optional<bool> strobeLit;     // with a strobe: whether a pulse lit the picture
  std::optional<double> pulsePhase;  // the pulse's phase, the picture's when it lit it
};

// The phase error a picture had, wrapped to -180 < error <= 180 degrees.
double PhaseError(double framePhase, double idealPhase);

// Counts of values in equal bins between two bounds (values outside count in the end bins):
// a median to within half a bin in a fixed size, whatever the number of values.
class Histogram {
 public:
  Histogram(double low, double high, double bin);
  void Add(double value);
  std::uint64_t Count() const { return total_; }
  // The middle value's bin centre (the lower middle one for an even count).
  std::optional<double> Median() const;
  std::size_t RetainedBytes() const { return counts_.capacity() * sizeof(std::uint64_t); }

 private:
  double low_;
  double bin_;
  std::vector<std::uint64_t> counts_;
  std::uint64_t total_ = 0;
};

// Values against a position 1, 2, 3 ... (a picture's number, a row's order) in a fixed number
// of columns, one per pixel column of the plot: each column keeps the count and the range of
// its values. When a position passes the last column, neighbouring columns merge and each
// covers twice as many positions.
class ColumnTrace {
 public:
  static constexpr int kColumns = 730;
  struct Column {
    std::uint64_t count = 0;
    double low = 0;
    double high = 0;
  };

  void Add(std::int64_t position, double value);  // positions below 1 count as 1
  bool Empty() const { return last_ == 0; }
  std::int64_t Last() const { return last_; }  // the highest position seen
  std::int64_t Span() const { return span_; }  // positions per column
  // Column i holds positions 1 + i * Span() ... (i + 1) * Span().
  const std::array<Column, kColumns>& Columns() const { return columns_; }

 private:
  std::array<Column, kColumns> columns_{};
  std::int64_t span_ = 1;
  std::int64_t last_ = 0;
};

// The phase a row's picture shows: the exposure's when the camera's delay is known, else the
// frame's capture phase.
std::optional<double> PicturePhase(const PictureLogRow& row);

// What phase.png says in words: the error's median and largest value and the band of ± half a
// frame interval that choosing the nearest frame allows, in degrees of the tone.
struct PhaseSummary {
  std::uint64_t pictures = 0;  // pictures with a phase and an ideal phase
  // Which phase the errors are of: the exposure's (a calibrated camera delay) for every
  // picture, the capture's for every picture, or some of each (the camera or its format
  // changed during the run).
  bool exposurePhase = false;
  bool mixedPhases = false;
  std::optional<double> cameraDelayMs;  // the delay the last picture with one applied
  std::optional<double> medianDeg;      // to within 0.05° (half a histogram bin)
  std::optional<double> largestDeg;     // the error furthest from 0, with its sign
  std::optional<double> frameIntervalMs;
  std::optional<double> toneHz;
  std::optional<double> bandDeg;  // half the frame interval in degrees of the tone
};

// The run's pictures as the plot needs them, in a size that does not grow with their number.
class PhaseHistory {
 public:
  // The tone's frequency (periods a second) turns the frame interval into degrees; without it
  // the plot has no band.
  explicit PhaseHistory(std::optional<double> toneHz = std::nullopt);
  // `secondsSinceBegin` places a Timer 1 row, whose picture number is always 0.
  void Add(const PictureLogRow& row, double secondsSinceBegin = 0);

  // True when no picture had a phase: there is nothing to plot.
  bool Empty() const { return errors_.Empty() && timer_phases_.Empty(); }
  // Without any ideal phase (the Timer 1 mode) the plot shows the phases themselves.
  bool TimerMode() const { return errors_.Empty(); }
  const ColumnTrace& Errors() const { return errors_; }  // by picture number
  // By time since the log began, in steps of 1 / kTimerStepsPerSecond from position 1.
  const ColumnTrace& TimerPhases() const { return timer_phases_; }
  static constexpr int kTimerStepsPerSecond = 10;
  PhaseSummary Summary() const;
  // The bytes this object holds, itself and on the heap.
  std::size_t RetainedBytes() const;

 private:
  std::optional<double> tone_hz_;
  ColumnTrace errors_;
  ColumnTrace timer_phases_;
  Histogram error_bins_;
  Histogram frame_interval_bins_;
  std::optional<double> largest_;
  std::uint64_t exposure_errors_ = 0;  // errors of the exposure's phase
  std::uint64_t capture_errors_ = 0;   // and of the capture's
  std::optional<double> camera_delay_ms_;
  std::int64_t rows_seen_ = 0;
  std::optional<std::uint64_t> last_frame_number_;
  std::optional<double> last_frame_capture_ms_;
};

class RunLog {
 public:
  static const QString kFileName;  // log.csv
  static const QString kPlotName;  // phase.png
  static const QString kHeader;    // the column names, with units

  // Starts the log of a new run folder (its header is written at once); the tone's frequency
  // gives the plot its band of ± half a frame interval.
  void Begin(const QString& folder, std::optional<double> toneHz = std::nullopt);
  // Appends and flushes one row; false when the file cannot be written (its trace is left
  // under the recording's category with the path and the reason).
  [[nodiscard]] bool Append(const PictureLogRow& row);
  // Brings the rows appended so far to the disk; true too when there is no log.
  [[nodiscard]] bool Sync() const;
  // Writes phase.png for the run's pictures that have a phase; false when there are none or
  // the file cannot be written (traced likewise). The log stays open for more rows (a Timer 1
  // run goes on).
  [[nodiscard]] bool Finish();
  const QString& Folder() const { return folder_; }
  const PhaseHistory& History() const { return history_; }
  // The row appended last, for a progress line; none before the first.
  const std::optional<PictureLogRow>& LastRow() const { return last_; }
  // The rows appended since Begin: one per instant, a renewed picture of the Timer 1 mode too.
  std::int64_t Rows() const { return rows_; }

  // The plot itself, 800 x 450: the phase error against picture number with the zero line and
  // the band of ± half a frame interval, or in the Timer 1 mode the phase (0..360°) against
  // the row in the log; a title and the summary above.
  static QImage DrawPhasePlot(const PhaseHistory& history);
  // Where DrawPhasePlot puts the data: one pixel column per ColumnTrace column.
  static QRect PlotArea();
  struct PlotTexts {
    QString title;
    QString summary;
  };
  static PlotTexts Texts(const PhaseHistory& history);

 private:
  QString folder_;
  PhaseHistory history_;
  std::chrono::steady_clock::time_point begun_;
  std::optional<PictureLogRow> last_;
  std::int64_t rows_ = 0;
};

// One row as log.csv holds it (no line end); numbers in the C locale.
QString FormatLogRow(const PictureLogRow& row);

}  // namespace recording
