#include "recording/picture_writer.h"

#include "recording/logging.h"

#include <pthread.h>

#include <QDir>

#include "platform/forms/runtime_error.h"
#include "platform/gst/camera_pipeline.h"
#include "platform/gst/gst_util.h"

namespace recording {
namespace {

// A picture that could not be written: the error a save of the panel raised, with the path and
// the system's reason.
std::exception_ptr NotWritten(const QString& path, const QString& why) {
  return std::make_exception_ptr(
      forms::RuntimeError(forms::kPathFileAccess, forms::kDefaultErrorSource,
                          forms::StandardDescription(forms::kPathFileAccess) +
                              QStringLiteral(": ") + path + QStringLiteral(": ") + why));
}

double MsSince(std::int64_t steadyNs) {
  return static_cast<double>(gst::SteadyNowNs() - steadyNs) / 1e6;
}

// A camera that gave no frame near the instant: the capture failed as a grab without a frame
// does (68), and the status line tells the operator why.
[[noreturn]] void NoFrame(const QString& reason) {
  forms::Raise(
      forms::kDeviceUnavailable, forms::kDefaultErrorSource,
      forms::StandardDescription(forms::kDeviceUnavailable) + QStringLiteral(": ") + reason);
}

}  // namespace

std::int64_t FarthestFrameNs(std::int64_t frameIntervalNs) {
  return std::max<std::int64_t>(2 * frameIntervalNs, 100'000'000);
}

QString FailureText(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const forms::RuntimeError& error) {
    return error.Description().isEmpty() ? forms::StandardDescription(error.Number())
                                         : error.Description();
  } catch (const std::exception& error) {
    return QString::fromLocal8Bit(error.what());
  } catch (...) {
    return QStringLiteral("unknown failure");
  }
}

ExposureSpan ExposureOf(std::int64_t captureNs, const FrameTiming& timing) {
  const std::int64_t captureLocal = captureNs + timing.steadyToLocalNs;
  const double delayMs = timing.cameraDelayMs.value_or(0);
  const double exposureMs = timing.exposureMs.value_or(0);
  return {.startLocalNs = captureLocal - std::llround((delayMs + exposureMs) * 1e6),
          .middleLocalNs = captureLocal - std::llround((delayMs + exposureMs / 2) * 1e6),
          .endLocalNs = captureLocal - std::llround(delayMs * 1e6)};
}

void NoteFrame(const gst::CameraFrame& frame, const FrameTiming& timing, PictureLogRow& row) {
  row.frameNumber = frame.Number();
  const std::int64_t captureLocal = frame.CaptureNs() + timing.steadyToLocalNs;
  row.frameAgeMs = static_cast<double>(timing.dueLocalNs - captureLocal) / 1e6;
  if (!timing.timer) row.frameCaptureMs = timing.tone.MsSinceT0(captureLocal);
  if (const std::optional<double> phase = timing.tone.PhaseAt(captureLocal))
    row.framePhase = *phase;
  // Without a calibration the delay counts as 0 and the source says so.
  row.exposureTimeMs = timing.exposureMs;
  row.cameraDelayMs = timing.cameraDelayMs;
  row.cameraDelaySource =
      timing.cameraDelayMs ? QStringLiteral("calibrated") : QStringLiteral("none");
  const std::int64_t exposureMidLocal = ExposureOf(frame.CaptureNs(), timing).middleLocalNs;
  if (!timing.timer) row.exposureMidMs = timing.tone.MsSinceT0(exposureMidLocal);
  if (const std::optional<double> phase = timing.tone.PhaseAt(exposureMidLocal))
    row.exposurePhase = *phase;
}

struct PictureWriter::Task {
  enum class Kind { Begin, Picture, Row, Snapshot, Finish, Clean, Record } kind;
  PictureJob job;  // Picture; Row uses its row and runFolder
  QString folder;  // Begin
  std::optional<double> toneHz;
  std::uint64_t run = 0;
  QStringList folders;  // Clean
  QString path;         // Snapshot
  QImage picture;
  PictureFormat format = PictureFormat::Bmp;
  std::optional<RunRecord> record;          // Begin, Record, Finish
  std::shared_ptr<FrameAnalysis> analysis;  // Finish
};

PictureWriter::PictureWriter(std::function<void(WriterReport)> report)
    : report_(std::move(report)) {
  last_sync_ns_ = gst::SteadyNowNs();
  thread_ = std::thread([this] {
    // Named, so that a profile or `top -H` tells its time from the camera's and the window's.
    pthread_setname_np(pthread_self(), "picture writer");
    Run();
  });
}

PictureWriter::~PictureWriter() {
  {
    std::lock_guard lock(mutex_);
    ending_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void PictureWriter::Enqueue(std::unique_ptr<Task> task) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(task));
  }
  changed_.notify_all();
}

void PictureWriter::BeginRun(const QString& folder, std::optional<double> toneHz, std::uint64_t run,
                             std::optional<RunRecord> record) {
  auto task = std::make_unique<Task>();
  task->kind = Task::Kind::Begin;
  task->folder = folder;
  task->toneHz = toneHz;
  task->run = run;
  task->record = std::move(record);
  Enqueue(std::move(task));
}

void PictureWriter::UpdateRecord(RunRecord record) {
  auto task = std::make_unique<Task>();
  task->kind = Task::Kind::Record;
  task->record = std::move(record);
  Enqueue(std::move(task));
}

void PictureWriter::RemoveStaleFiles(const QStringList& folders) {
  auto task = std::make_unique<Task>();
  task->kind = Task::Kind::Clean;
  task->folders = folders;
  Enqueue(std::move(task));
}

std::optional<QString> PictureWriter::Submit(PictureJob job) {
  auto task = std::make_unique<Task>();
  task->kind = Task::Kind::Picture;
  {
    std::lock_guard lock(mutex_);
    for (const std::unique_ptr<Task>& queued : queue_) {
      if (queued->kind != Task::Kind::Picture) continue;
      // The oldest picture still waiting tells how far the disk is behind.
      if (job.queuedNs - queued->job.queuedNs > kQueueSpanNs)
        return QStringLiteral("the disk did not keep up: pictures waited more than %1 s")
            .arg(kQueueSpanNs / 1'000'000'000);
      break;
    }
    if (queued_bytes_ + job.frameBytes > kQueueBytes)
      return QStringLiteral("the disk did not keep up: the waiting pictures filled %1 MB")
          .arg(kQueueBytes >> 20);
    queued_bytes_ += job.frameBytes;
    task->job = std::move(job);
    queue_.push_back(std::move(task));
  }
  changed_.notify_all();
  return std::nullopt;
}

void PictureWriter::SubmitRow(const QString& runFolder, const PictureLogRow& row) {
  auto task = std::make_unique<Task>();
  task->kind = Task::Kind::Row;
  task->job.runFolder = runFolder;
  task->job.row = row;
  Enqueue(std::move(task));
}

void PictureWriter::SubmitSnapshot(const QString& path, const QImage& picture,
                                   PictureFormat format) {
  auto task = std::make_unique<Task>();
  task->kind = Task::Kind::Snapshot;
  task->path = path;
  task->picture = picture;
  task->format = format;
  Enqueue(std::move(task));
}

void PictureWriter::FinishRun(std::optional<RunRecord> record,
                              std::shared_ptr<FrameAnalysis> analysis) {
  auto task = std::make_unique<Task>();
  task->kind = Task::Kind::Finish;
  task->record = std::move(record);
  task->analysis = std::move(analysis);
  Enqueue(std::move(task));
}

void PictureWriter::WaitUntilIdle() {
  std::unique_lock lock(mutex_);
  flush_ = true;
  changed_.notify_all();
  changed_.wait(lock, [this] { return queue_.empty() && !busy_ && !flush_; });
}

std::optional<PictureLogRow> PictureWriter::LastRow() const {
  std::lock_guard lock(mutex_);
  return last_row_;
}

std::int64_t PictureWriter::Rows() const {
  std::lock_guard lock(mutex_);
  return rows_;
}

void PictureWriter::Run() {
  for (;;) {
    std::unique_ptr<Task> task;
    bool flush = false;
    {
      std::unique_lock lock(mutex_);
      busy_ = false;
      changed_.notify_all();
      // Asleep while there is nothing to do, but awake for the next commit when files wait
      // for one.
      const auto due = std::chrono::steady_clock::time_point(
          std::chrono::nanoseconds(last_sync_ns_ + kSyncIntervalNs));
      auto work = [this] { return !queue_.empty() || ending_ || flush_; };
      if (!written_.empty())
        changed_.wait_until(lock, due, work);
      else
        changed_.wait(lock, work);
      if (!queue_.empty()) {
        task = std::move(queue_.front());
        queue_.pop_front();
        busy_ = true;
      } else if (flush_) {
        flush = true;
        flush_ = false;
        busy_ = true;
      } else if (ending_) {
        break;
      }
    }
    // Nothing may leave the thread: what the steps did not catch (an allocation) is traced
    // and the queue goes on.
    try {
      if (task) Do(*task);
      CommitIfDue(flush);
    } catch (const std::exception& error) {
      forms::LogFailure(lcRecording(), "the picture writer", error);
    } catch (...) {
      qCWarning(lcRecording) << "the picture writer met an unknown failure";
    }
  }
  CommitIfDue(true);
}

void PictureWriter::Do(Task& task) {
  switch (task.kind) {
    case Task::Kind::Begin:
      // What the last run wrote is named and logged under that run first.
      CommitIfDue(true);
      current_run_ = task.run;
      run_failure_ = nullptr;
      failed_number_ = 0;
      unlogged_rows_ = 0;
      log_unsynced_.clear();
      if (!task.folder.isEmpty()) static_cast<void>(DurableFiles::RemoveStale(task.folder));
      log_.Begin(task.folder, task.toneHz);
      pictures_written_ = pictures_not_written_ = 0;
      record_ = task.folder.isEmpty() ? std::nullopt : std::move(task.record);
      static_cast<void>(WriteRecord());
      {
        std::lock_guard lock(mutex_);
        last_row_.reset();
        rows_ = 0;
      }
      break;
    case Task::Kind::Picture: {
      // Its frame counts as waiting until the picture is done, whatever becomes of it.
      struct Uncount {
        PictureWriter& writer;
        std::int64_t bytes;
        ~Uncount() {
          std::lock_guard lock(writer.mutex_);
          writer.queued_bytes_ -= bytes;
        }
      } uncount{*this, task.job.frameBytes};
      WritePicture(task.job);
      break;
    }
    case Task::Kind::Row:
      written_.push_back(
          {.runFolder = task.job.runFolder, .row = task.job.row, .report = std::nullopt});
      break;
    case Task::Kind::Snapshot:
      WriteSnapshot(task);
      break;
    case Task::Kind::Finish:
      // The recorder's last word on the run, for the run whose log is open.
      if (record_ && task.record) record_ = std::move(task.record);
      if (task.analysis) {
        // After the run's last picture: the frames' files are the run's last but its record.
        FrameAnalysisResult result = task.analysis->Finish(log_.Folder());
        if (record_) record_->allFramesResult = result;
        analysis_ = std::move(result);
      }
      EndRun();
      break;
    case Task::Kind::Record:
      if (record_ && task.record) {
        record_ = std::move(task.record);
        static_cast<void>(WriteRecord());
      }
      break;
    case Task::Kind::Clean:
      for (const QString& top : task.folders) {
        QStringList folders{top};
        for (const QString& sub : QDir(top).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
          folders << QDir(top).filePath(sub);
        for (const QString& folder : folders)
          if (const int removed = DurableFiles::RemoveStale(folder))
            qCInfo(lcRecording).noquote()
                << "removed" << removed << "temporary files a killed writer left in" << folder;
      }
      break;
  }
}

void PictureWriter::WritePicture(PictureJob& job) {
  Written written{.runFolder = job.runFolder, .row = job.row, .report = std::nullopt};
  PictureLogRow& row = written.row;
  WriterReport report;
  report.number = row.picture;
  report.path = job.path;
  report.run = job.run;
  report.backend = job.layout.backend;
  if (run_failure_) {
    // Nothing of a failed run is written after its first failure: no gap a reader would
    // take for a lost frame, and the row says why.
    row.error = QStringLiteral("not written: picture %1 of the run could not be written")
                    .arg(failed_number_);
    row.file.clear();
    row.frameFile.clear();
  } else {
    try {
      const gst::FramePtr frame = job.frame ? job.frame->Wait(job.frameDeadlineNs) : nullptr;
      if (!frame) {
        report.cameraError = QStringLiteral("камера не дала ни одного кадра");
        NoFrame(report.cameraError);
      }
      NoteFrame(*frame, job.timing, row);
      NoteChoice(job.choice, *job.frame, *frame, job.timing, job.frameIntervalNs, row);
      // A frame of another moment (a camera that stalled, or one still starting after a
      // switch) would show the optics at a phase the row does not state. A rule's choice lies
      // within the window it was chosen from.
      const std::int64_t offNs = std::llabs(frame->CaptureNs() - job.frame->InstantNs());
      if (!job.frame->ChosenByRule() && offNs > FarthestFrameNs(job.frameIntervalNs)) {
        report.cameraError =
            QStringLiteral("нет кадра ближе %1 мс к моменту снимка").arg(offNs / 1'000'000);
        NoFrame(report.cameraError);
      }
      StampedPicture picture = MakeStampedPicture(frame->Image(), job.stamp, job.layout);
      if (!picture.file)
        forms::Raise(forms::kPathFileAccess, forms::kDefaultErrorSource,
                     QStringLiteral("the picture could not be encoded: ") + job.path);
      QString why;
      if (!files_.Write(job.path, *picture.file, &why))
        std::rethrow_exception(NotWritten(job.path, why));
      report.image = std::move(picture.image);
      written.files = 1;
      if (job.frames != FrameFiles::None) {
        const std::optional<QByteArray> png =
            EncodeFrameFile(frame->Image(), job.frames == FrameFiles::Grey);
        if (!png)
          forms::Raise(forms::kPathFileAccess, forms::kDefaultErrorSource,
                       QStringLiteral("the frame could not be encoded: ") + job.framePath);
        if (!files_.Write(job.framePath, *png, &why))
          std::rethrow_exception(NotWritten(job.framePath, why));
        written.files = 2;
        written.framePath = job.framePath;
      }
    } catch (...) {
      report.failure = std::current_exception();
      FailRun(report.failure, row.picture);
      row.error = FailureText(report.failure);
      // A picture written whose frame failed is still named: only the frame is missing.
      if (written.files == 0) row.file.clear();
      row.frameFile.clear();
    }
    written.report = std::move(report);
  }
  row.saveMs = MsSince(job.queuedNs);
  // A failure is told at once; the file and its row wait for the next commit, in order.
  if (written.report && written.report->failure) report_(*written.report);
  if (written.report && written.report->failure) written.report.reset();
  // Only the newest picture is shown: an older one waiting for its name lets its image go.
  if (written.report && !written.report->image.isNull())
    for (Written& older : written_)
      if (older.report) older.report->image = QImage();
  written_.push_back(std::move(written));
}

void PictureWriter::FailRun(std::exception_ptr failure, std::int32_t number) {
  if (run_failure_) return;
  run_failure_ = std::move(failure);
  failed_number_ = number;
}

void PictureWriter::WriteSnapshot(Task& task) {
  // The pictures before it go first, so that reports keep their order; the snapshot reaches
  // the disk by itself, and its failure is its own.
  CommitIfDue(true);
  WriterReport report;
  report.kind = WriterReport::Kind::Snapshot;
  report.path = task.path;
  try {
    const std::optional<QByteArray> bytes = EncodePicture(task.picture, task.format);
    QString why = QStringLiteral("the picture could not be encoded");
    if (!bytes || !DurableFiles::WriteNow(task.path, *bytes, &why))
      report.failure = NotWritten(task.path, why);
  } catch (...) {
    report.failure = std::current_exception();  // an allocation: the snapshot's own failure
  }
  report_(std::move(report));
}

void PictureWriter::Append(const QString& runFolder, const PictureLogRow& row) {
  // Only the log of the picture's own run folder: a row of an earlier run stays out of a
  // later run's log.
  bool logged = false;
  if (!runFolder.isEmpty() && log_.Folder() == runFolder) {
    logged = log_.Append(row);
    if (!logged) ++unlogged_rows_;
    ++(row.error.isEmpty() ? pictures_written_ : pictures_not_written_);
  }
  std::lock_guard lock(mutex_);
  last_row_ = row;
  if (logged) ++rows_;
}

void PictureWriter::EndRun() {
  CommitIfDue(true);
  WriterReport report;
  report.kind = WriterReport::Kind::RunFinished;
  report.run = current_run_;
  report.analysis = std::move(analysis_);
  analysis_.reset();
  // What the end leaves unwritten fails the run as a picture would, once: a scripted run
  // tells it by its status.
  QString unwritten;
  if (unlogged_rows_ > 0)
    unwritten = QStringLiteral("%1 pictures have no row in the log").arg(unlogged_rows_);
  else
    unwritten = log_unsynced_;
  // The plot, texts and all, is drawn here: Qt 6 renders fonts on any thread into an image.
  if (!log_.Finish() && !log_.History().Empty() && unwritten.isEmpty())
    unwritten = QStringLiteral("the phase plot could not be written");
  if (unwritten.isEmpty() && report.analysis && !report.analysis->failure.isEmpty())
    unwritten = report.analysis->failure;
  unlogged_rows_ = 0;
  log_unsynced_.clear();
  if (record_) {
    if (!record_->end)
      record_->end = RunRecord::End{.how = QStringLiteral("stop"), .failure = {}, .at = {}};
    if (record_->end->at.isNull()) record_->end->at = QDateTime::currentDateTime();
    // The run's own failure says how it ended, whatever ended it then.
    if (record_->end->failure.isEmpty() && (run_failure_ || !unwritten.isEmpty())) {
      record_->end->how = QStringLiteral("failure");
      record_->end->failure = run_failure_ ? FailureText(run_failure_) : unwritten;
    }
    if (!WriteRecord() && unwritten.isEmpty())
      unwritten = QStringLiteral("the run's record could not be written");
    record_.reset();
  }
  if (!unwritten.isEmpty()) {
    qCWarning(lcRecording).noquote()
        << "the run in" << log_.Folder() << "ended badly:" << unwritten;
    if (!run_failure_) report.failure = NotWritten(log_.Folder(), unwritten);
  }
  report_(std::move(report));
}

bool PictureWriter::WriteRecord() {
  if (!record_ || log_.Folder().isEmpty()) return true;
  record_->written = pictures_written_;
  record_->notWritten = pictures_not_written_;
  const QString path = QDir(log_.Folder()).filePath(QString::fromLatin1(RunRecord::kFileName));
  QString why;
  if (DurableFiles::WriteNow(path, record_->ToJson(), &why)) return true;
  qCWarning(lcRecording).noquote() << "the run's record" << path << "could not be written:" << why;
  return false;
}

void PictureWriter::CommitIfDue(bool now) {
  const std::int64_t at = gst::SteadyNowNs();
  if (written_.empty() || (!now && at - last_sync_ns_ < kSyncIntervalNs)) return;
  last_sync_ns_ = at;
  QString folderWhy;
  const std::vector<DurableFiles::Outcome> outcomes = files_.Commit(&folderWhy);
  std::vector<Written> written;
  written.swap(written_);
  std::size_t next = 0;
  std::int32_t firstFailed = 0;
  // Only the newest picture named is shown.
  const Written* newest = nullptr;
  for (Written& item : written) {
    if (item.files == 0) continue;
    // The picture's own outcome, then its frame's: the first that is not named is the item's.
    const DurableFiles::Outcome& picture = outcomes.at(next++);
    const DurableFiles::Outcome* failed =
        picture.kind == DurableFiles::Outcome::Kind::Named ? nullptr : &picture;
    if (item.files == 2) {
      const DurableFiles::Outcome& frame = outcomes.at(next++);
      if (frame.kind != DurableFiles::Outcome::Kind::Named) {
        item.row.frameFile.clear();
        if (!failed) failed = &frame;
      }
    }
    if (picture.kind != DurableFiles::Outcome::Kind::Named) item.row.file.clear();
    if (!failed) {
      if (item.report) newest = &item;
      continue;
    }
    if (!item.report) continue;  // failed already at its writing, and told then
    if (failed->kind == DurableFiles::Outcome::Kind::Failed) {
      firstFailed = item.row.picture;
      // The file whose name failed: the frame's when the picture was named.
      item.report->failure =
          NotWritten(failed == &picture ? item.report->path : item.framePath, failed->why);
      item.report->image = QImage();
      item.row.error = FailureText(item.report->failure);
      FailRun(item.report->failure, item.row.picture);
    } else {
      item.row.error = QStringLiteral("not written: picture %1 of the run could not be written")
                           .arg(firstFailed);
      item.report.reset();
    }
  }
  for (Written& item : written) {
    Append(item.runFolder, item.row);
    if (!item.report) continue;
    if (&item != newest) item.report->image = QImage();
    report_(std::move(*item.report));
  }
  if (!log_.Sync()) {
    qCWarning(lcRecording).noquote() << "the log in" << log_.Folder() << "may not be on the disk";
    log_unsynced_ = QStringLiteral("the log could not be brought to the disk");
  }
  if (folderWhy.isEmpty()) return;
  // Pictures reported written may be lost: the run fails as for a picture not written.
  qCWarning(lcRecording).noquote()
      << "written pictures may not have reached the disk:" << folderWhy;
  if (!run_failure_) {
    WriterReport report;
    report.number = written.back().row.picture;
    report.run = current_run_;
    report.failure = NotWritten(log_.Folder(), folderWhy);
    FailRun(report.failure, report.number);
    report_(std::move(report));
  }
}

}  // namespace recording
