#pragma once
// The writer of a run's pictures, on a thread of its own: the clock and the window hand it
// each picture as values and never wait for it. In picture order it waits for the picture's
// frame, refuses one captured too far from the instant, composes the stamped picture, encodes
// it and writes it under a temporary name. About once a second the written pictures' data goes
// to the disk, then they get their names, their rows go into the run's log and the log to the
// disk; only then is each picture reported done, back through a function. The first picture of
// a run that cannot be written fails the run: the pictures queued after it are not written and
// their rows say so. A snapshot goes through the same queue, in order with the pictures, and
// reaches the disk at once; its failure is its own.

#include <QImage>
#include <QString>
#include <QStringList>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "generator/instant.h"
#include "recording/durable_files.h"
#include "recording/frame_files.h"
#include "recording/frame_rule.h"
#include "recording/run_log.h"
#include "recording/run_record.h"
#include "recording/stamped_picture.h"

namespace gst {
class FrameRequest;
class CameraFrame;
}  // namespace gst

namespace recording {

// Where a frame's capture lies on the instant's time base.
struct FrameTiming {
  std::int64_t steadyToLocalNs = 0;  // a steady-clock moment plus this is on the time source
  std::int64_t dueLocalNs = 0;       // the due instant on the time source
  bool timer = false;                // the Timer 1 mode: no time base since T0
  generator::ToneTimeline tone;
  // The camera's delay from the exposure's end to the frame's timestamp (none: not
  // calibrated) and its exposure time (none: unknown).
  std::optional<double> cameraDelayMs;
  std::optional<double> exposureMs;
};

// Where the light a frame shows came from, on the time source: its exposure, which ended the
// camera's delay (0 when not calibrated) before the frame's timestamp `captureNs` (steady
// clock) and lasted its exposure time (0 when unknown).
struct ExposureSpan {
  std::int64_t startLocalNs = 0;
  std::int64_t middleLocalNs = 0;
  std::int64_t endLocalNs = 0;
};
ExposureSpan ExposureOf(std::int64_t captureNs, const FrameTiming& timing);

// The frame's number, capture time, age at the due instant and tone phase, and its exposure's
// middle and phase, into the row.
void NoteFrame(const gst::CameraFrame& frame, const FrameTiming& timing, PictureLogRow& row);

// What a failure says in a log row: a program error's description, a library's what().
QString FailureText(const std::exception_ptr& failure);

// One picture of a run, as the instant left it.
struct PictureJob {
  QString path;           // the file
  QString runFolder;      // the folder whose log gets the row
  std::uint64_t run = 0;  // which run of the recorder it belongs to
  std::shared_ptr<gst::FrameRequest> frame;
  std::int64_t frameDeadlineNs = 0;  // how long a stalled camera is waited for (steady clock)
  std::int64_t frameIntervalNs = 0;  // the camera's, when the picture was asked (0: unknown)
  std::int64_t frameBytes = 0;       // the frame's size in memory, for the queue's limit
  FrameTiming timing;
  QImage stamp;
  PictureLayout layout;
  // The camera's own frame beside the picture, unstamped and lossless, when asked for.
  FrameFiles frames = FrameFiles::None;
  QString framePath;
  RunFrameChoice choice;      // how the frame was chosen, for the row
  PictureLogRow row;          // as far as the instant knows it
  std::int64_t queuedNs = 0;  // steady clock, when the instant handed it over
};

// What the writer reports for each picture and snapshot, and for a run's end.
struct WriterReport {
  enum class Kind { Picture, Snapshot, RunFinished };
  Kind kind = Kind::Picture;
  std::int32_t number = 0;
  QString path;
  std::uint64_t run = 0;  // the run a picture belongs to
  QImage image;           // the picture as saved (a picture that was written)
  Backend backend = Backend::FilterGraph;
  std::exception_ptr failure;  // why it was not written; null when it was
  QString cameraError;         // the camera gave no frame near the instant: why, in Russian
  // RunFinished: what the analysis of every frame found and wrote, when it was on.
  std::optional<FrameAnalysisResult> analysis;
};

// A frame further than this from its picture's instant shows another moment: the picture
// fails as for a camera that gives no frame. Two frame intervals, and never less than 100 ms.
std::int64_t FarthestFrameNs(std::int64_t frameIntervalNs);

class PictureWriter {
 public:
  // Pictures older than this, still queued, mean the disk does not keep up.
  static constexpr std::int64_t kQueueSpanNs = 2'000'000'000;
  // And frames waiting in memory never take more than this.
  static constexpr std::int64_t kQueueBytes = 256LL << 20;
  // Written files reach the disk at least this often.
  static constexpr std::int64_t kSyncIntervalNs = 1'000'000'000;

  // `report` is called on the writer's thread.
  explicit PictureWriter(std::function<void(WriterReport)> report);
  // Writes what is queued, syncs and ends the thread.
  ~PictureWriter();
  PictureWriter(const PictureWriter&) = delete;
  PictureWriter& operator=(const PictureWriter&) = delete;

  // Run `run` of the caller begins, with its log in `folder` (its header line; none when
  // empty) and its record (run.json) when given, after what is queued before it. Temporary
  // files a killed program left in the folder are removed.
  void BeginRun(const QString& folder, std::optional<double> toneHz, std::uint64_t run = 0,
                std::optional<RunRecord> record = std::nullopt);
  // The run's record as it stands now (T0 learnt), written again at once; the counts of
  // pictures are the writer's.
  void UpdateRecord(RunRecord record);
  // Removes the temporary files a killed program left in these folders and the folders in
  // them, on the writer's thread.
  void RemoveStaleFiles(const QStringList& folders);
  // Queues a picture. Returns the reason when the queue is at its limit instead; the picture
  // is then not queued.
  std::optional<QString> Submit(PictureJob job);
  // The row of a picture that failed before it reached the writer, in order with the others.
  void SubmitRow(const QString& runFolder, const PictureLogRow& row);
  // A snapshot, composed already.
  void SubmitSnapshot(const QString& path, const QImage& picture, PictureFormat format);
  // The run has ended: after its queued pictures, its files are synced, its log gets the
  // phase plot and its record its end (`record`, when given, with the writer's counts and
  // the run's failure added); a RunFinished report follows, with a failure when the plot, a
  // row, the log's sync or the record could not be written and nothing of the run had failed
  // before.
  // The analysis of the run's every frame, when given, writes its files first (into the run's
  // folder) and its findings go into the record.
  void FinishRun(std::optional<RunRecord> record = std::nullopt,
                 std::shared_ptr<FrameAnalysis> analysis = nullptr);
  // Blocks until everything queued so far is done and on the disk under its name (tests and
  // benchmarks; the destructor finishes the queue by itself).
  void WaitUntilIdle();

  std::optional<PictureLogRow> LastRow() const;
  std::int64_t Rows() const;

 private:
  struct Task;
  // A picture or row written, waiting for the next commit to be named and logged.
  struct Written {
    QString runFolder;
    PictureLogRow row;
    std::optional<WriterReport> report;
    int files = 0;           // files waiting for their names: the picture, then its frame
    QString framePath = {};  // the frame's file, when it waits too
  };
  void Run();
  void Enqueue(std::unique_ptr<Task> task);
  void Do(Task& task);
  void WritePicture(PictureJob& job);
  void WriteSnapshot(Task& task);
  void Append(const QString& runFolder, const PictureLogRow& row);
  void EndRun();
  void FailRun(std::exception_ptr failure, std::int32_t number);
  // run.json of the current run, whole on the disk; false, traced, when it could not be.
  bool WriteRecord();
  // Names and logs what was written, once a second or `now`.
  void CommitIfDue(bool now);

  std::function<void(WriterReport)> report_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::unique_ptr<Task>> queue_;
  std::int64_t queued_bytes_ = 0;
  bool busy_ = false;
  bool ending_ = false;
  bool flush_ = false;  // commit now: someone waits for the files
  // The last row and the count, for the window's progress (under the mutex).
  std::optional<PictureLogRow> last_row_;
  std::int64_t rows_ = 0;
  // The writer's thread only.
  RunLog log_;
  std::uint64_t current_run_ = 0;
  std::exception_ptr run_failure_;  // the first picture of this run that was not written
  std::int32_t failed_number_ = 0;
  std::int64_t unlogged_rows_ = 0;
  QString log_unsynced_;                         // why the log may not be on the disk
  std::optional<RunRecord> record_;              // the current run's, with its folder's log
  std::optional<FrameAnalysisResult> analysis_;  // the ending run's, for its report
  std::int64_t pictures_written_ = 0;
  std::int64_t pictures_not_written_ = 0;
  std::int64_t last_sync_ns_ = 0;
  DurableFiles files_;
  std::vector<Written> written_;  // in order, since the last commit
  std::thread thread_;            // last: started once everything above exists
};

}  // namespace recording
