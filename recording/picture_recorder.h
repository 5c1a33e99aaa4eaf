#pragma once
// Snapshots and periodic pictures: the snapshot button, the filter-graph frame grab, and the
// recording of one instant: the stamp on the picture window's text panel at once, then the
// frame nearest the instant with the stamp copied on, saved under the run's next name by the
// writer's thread and shown on the picture panel when it is written.

#include <QAbstractButton>
#include <QObject>
#include <QRadioButton>
#include <exception>
#include <memory>
#include <vector>

#include "camera/camera_control.h"
#include "generator/instant.h"
#include "platform/forms/clock.h"
#include "platform/forms/status_line.h"
#include "platform/gdi/gdi.h"
#include "recording/output_files.h"
#include "recording/picture_window.h"
#include "recording/picture_writer.h"
#include "recording/run_log.h"

namespace generator {
class Generator;
}

namespace recording {

// The main-window controls the recording reads and writes, and the camera it takes frames
// from.
struct RecordingControls {
  QAbstractButton* Command19 = nullptr;  // snapshot: the recorder connects it
  QAbstractButton* Check3 = nullptr;     // show the picture window
  QRadioButton* Option7 = nullptr;       // VideoForWindows
  QRadioButton* Option8 = nullptr;       // DirectShow
  QRadioButton* Option9 = nullptr;       // bmp
  QRadioButton* Option10 = nullptr;      // jpg
  forms::StatusLine* Status = nullptr;   // the window's status line, for the pictures' texts
  camera::CameraControl* Camera = nullptr;
};

// The view of a window that holds these controls under the main window's names.
template <class Window>
RecordingControls RecordingControlsOf(Window& w, camera::CameraControl& camera) {
  return {.Command19 = w.Command19,
          .Check3 = w.Check3,
          .Option7 = w.Option7,
          .Option8 = w.Option8,
          .Option9 = w.Option9,
          .Option10 = w.Option10,
          .Status = w.Status,
          .Camera = &camera};
}

// The recording owns the picture window and the names of what it writes. It takes the
// instants of a run as values (Follow connects it to the generator's signals) and reads the
// camera's state through the camera control.
class PictureRecorder : public QObject {
  Q_OBJECT

 public:
  explicit PictureRecorder(const RecordingControls& controls);
  ~PictureRecorder() override;

  // The run's start, instants and end come from the generator's signals; what fails goes back
  // in their outcome.
  void Follow(const generator::Generator& generator);

  // The recording's part of the window's loading: the picture window's panels set up.
  void Load();
  void Command19_Click();
  // The frame of the filter graph as a picture, painted over the picture panel; null when
  // the conversion failed (Label1 then says why). Graph failures raise.
  std::shared_ptr<gdi::Picture> SnapDirectShowFrame(const QString& StatusText);
  // A run begins: the picture window when Check3 is ticked, the run's folder when it records.
  void BeginRun(const generator::RunStart& start);
  // The recording of one instant: its stamp, its name and its place in the writer's queue.
  // What fails before the picture is queued raises to the caller; either way the run's log
  // gets its row. A picture that fails later in the writer is reported by PictureFailed.
  void RecordPicture(const generator::Instant& instant);
  // Makes the run's folder and begins its log; `toneHz` turns the camera's frame interval into
  // the plot's band in degrees.
  void CreatePictureFolder(std::optional<double> toneHz);
  // Renews the date and time and names the next video (OutputFileName, without ".avi").
  QString NameVideo();
  // The run has ended: once its queued pictures are written, its folder gets the phase plot;
  // RunWritten follows.
  void FinishRun();
  // Why the run about to end ends when it is not the operator's stop: "time up" or "signal"
  // (a scripted run's). A failure says itself.
  void NoteEndCause(const QString& how) { end_cause_ = how; }
  // The last run has ended and its pictures, log and plot are not all written yet.
  bool Finishing() const { return finishing_; }
  // Blocks until every picture and snapshot handed over so far is written and shown: for
  // tests and benchmarks (the recorder's end finishes the queue by itself).
  void WaitUntilWritten();
  // The run log's last row (the last picture's phase and lateness); none before the first.
  std::optional<PictureLogRow> LastRow() const { return writer_->LastRow(); }
  std::int64_t LoggedRows() const { return writer_->Rows(); }
  const NamingState& Names() const { return names_; }
  // What a run's pictures take of their camera: the delay stored for its set-up and its
  // exposure time.
  struct CameraTiming {
    QString key;  // the camera and format (with its frame rate) they belong to
    std::optional<double> delayMs;
    std::optional<double> delayUncertaintyMs;
    std::optional<double> exposureMs;
  };
  // What the current or last run's pictures applied; none before its first picture.
  const std::optional<CameraTiming>& AppliedTiming() const { return timing_; }
  // What the status line said at the current or last run's start of the phase error to expect
  // when it chooses frames by phase (empty otherwise).
  const FrameForecastText& FrameChoiceForecastText() const { return forecast_; }
  // What the analysis of the last written run's every frame found; none when it was off.
  const std::optional<FrameAnalysisResult>& AllFramesResult() const { return all_frames_; }
  // Why the current or last run that asked for it has no such analysis (empty: none refused).
  const QString& AllFramesRefused() const { return all_frames_refused_; }
  // The picture window, loaded again should it be gone.
  Form6& PictureWindow();
  // The time source "now" is read from for names and the choice of a frame (the system's
  // unless set): the generator's, as the instants' moments are on it. It must outlive the
  // recorder.
  void SetTimeSource(forms::TimeSource& time) { time_ = &time; }

 signals:
  // The first picture of a run that the writer could not write (once a run): the run must
  // end with the general message, as for a failure at its instant.
  void PictureFailed(const std::exception_ptr& failure);
  // The ended run's last picture is written or failed, its files are on the disk and its plot
  // drawn.
  void RunWritten();
  // The operator chose the strobe of the runs to come (the picture window's dialog): the
  // generator plays it from its next start.
  void StrobeSet(const generator::StrobeSettings& strobe);
  // A picture's instant, as its stamp says it: the date and time boxes show it (they are the
  // generator's). Emitted before the stamp is drawn.
  void StampDated(const QString& date, const QString& time);

 private:
  const CameraTiming& TimingOf(const gst::CameraPipeline& camera);
  // The picture window's strobe and frame dialog: stored, and told.
  void ChooseStrobe();
  // Before a run that chooses its frames by phase: the error to expect, on the status line;
  // before a strobed one, an exposure too short to catch every pulse.
  void SayForecast(const generator::RunStart& start);
  // A run that records, with the analysis of every frame chosen: it follows the camera.
  void StartAllFrames(const generator::RunStart& start);
  // The record of a run starting now (run.json), with what the camera says of itself.
  RunRecord StartRecord(const generator::RunStart& start);
  // Why the run failed, for its record: the first failure this recorder met or was told.
  void NoteFailure(const std::exception_ptr& failure);
  // The camera's capture window (0: none).
  capture::HWND CaptureWindow() const;
  void QueuePicture(const generator::Instant& instant, PictureLogRow& row);
  // The writer's report, on the window's thread.
  void Written(const WriterReport& report);
  // A success (or the analysis's word at a run's end) on the status line, unless it shows a
  // camera error.
  void ShowSuccess(const QString& text);

  RecordingControls controls_;
  forms::TimeSource* time_ = &forms::SystemTime();
  std::unique_ptr<Form6> form6_;
  NamingState names_;
  std::uint64_t run_ = 0;          // counts the runs: a report of an earlier one fails no other
  bool failure_reported_ = false;  // this run's PictureFailed was emitted
  bool finishing_ = false;         // FinishRun was asked and RunWritten not yet emitted
  QString camera_error_;           // the camera error this run's pictures put on the status line
  std::optional<CameraTiming> timing_;
  QString end_cause_;  // NoteEndCause's, for the run that ends next
  // The record of the run that writes a folder: completed at the first picture (T0) and at
  // the end.
  std::optional<RunRecord> record_;
  QString failure_text_;                  // the first failure of this run the recorder knows
  FrameFiles frames_ = FrameFiles::None;  // the camera's own frames this run saves
  RunFrameChoice frame_choice_;           // how this run's pictures choose their frames
  FrameForecastText forecast_;            // said at this run's start
  // This run's pictures whose frame a rule is still choosing: their windows end at its stop.
  std::vector<std::weak_ptr<gst::FrameRequest>> open_choices_;
  // This run's analysis of every frame (none when off), and the last written run's findings.
  std::shared_ptr<FrameAnalysis> analysis_;
  std::optional<FrameAnalysisResult> all_frames_;
  QString all_frames_refused_;
  // Last: its thread ends, the queue written, before the rest goes.
  std::unique_ptr<PictureWriter> writer_;
};

// A moment on the time source and on the steady clock, read together.
struct ClockPair {
  std::int64_t localNs = 0;
  std::int64_t steadyNs = 0;
};
ClockPair ReadClocks(forms::TimeSource& time);

// The two lines of an instant's stamp: its date and time, then its number and T - T0.
QStringList StampLines(const generator::Instant& instant);

// The success text both the snapshot and the periodic recording pass.
inline const QString kSnappedAndSaved = QStringLiteral("Snapped and saved.  Previewing camera");

}  // namespace recording
