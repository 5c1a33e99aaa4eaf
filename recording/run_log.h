#pragma once
// The run folder's record of its pictures: log.csv, one row per picture written and flushed
// as the picture is saved (a failed one too), and at the end of the run phase.png, the tone's
// phase of each picture against its number beside the phase the settings imply.

#include <QImage>
#include <QString>
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
  double saveMs = 0;
  QString error;  // empty when the picture was saved
};

class RunLog {
 public:
  static const QString kFileName;  // log.csv
  static const QString kPlotName;  // phase.png
  static const QString kHeader;    // the column names, with units

  // Starts the log of a new run folder (its header is written at once).
  void Begin(const QString& folder);
  // Appends and flushes one row; false when the file cannot be written.
  bool Append(const PictureLogRow& row);
  // Writes phase.png for the run's pictures that have a phase; false when there are none or
  // the file cannot be written. The log stays open for more rows (a Timer 1 run goes on).
  bool Finish();
  const QString& Folder() const { return folder_; }

  // The plot itself: phase (0..360°) against picture number, the ideal phase as a line.
  static QImage DrawPhasePlot(const std::vector<PictureLogRow>& rows);

 private:
  QString folder_;
  std::vector<PictureLogRow> rows_;
};

// One row as log.csv holds it (no line end); numbers in the C locale.
QString FormatLogRow(const PictureLogRow& row);

}  // namespace recording
