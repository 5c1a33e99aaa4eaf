#include "recording/picture_recorder.h"

#include "platform/forms/application.h"
#include "platform/forms/dialog.h"
#include "platform/gst/gst_util.h"
#include "recording/logging.h"
#include "recording/strobe_dialog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cmath>
#include <limits>

#include "generator/generator.h"
#include "imaging/direct_show_dib.h"
#include "platform/capture/capture.h"
#include "platform/forms/message_box.h"
#include "platform/forms/runtime_error.h"
#include "platform/gst/camera_controls.h"
#include "platform/gst/camera_delay.h"
#include "platform/gst/camera_identity.h"
#include "platform/gst/camera_pipeline.h"
#include "platform/gst/exposure_lock.h"

namespace recording {
namespace {

const QString kBmp = QStringLiteral(".bmp");
const QString kJpg = QStringLiteral(".jpg");
// A camera that stalls is waited for this long past the instant before its nearest frame so far
// is taken: the writer's wait, never the clock's.
constexpr std::int64_t kLongestFrameWaitNs = 500'000'000;

// Stops a capture window's preview and runs it again on leaving, also when a step between
// fails: the preview never stays frozen.
class FrozenPreview {
 public:
  explicit FrozenPreview(capture::HWND window) : window_(window) {
    capture::SendMessageA(window_, capture::WM_CAP_SET_PREVIEW, 0, 0);
  }
  ~FrozenPreview() {
    capture::SendMessageA(window_, capture::WM_CAP_SET_PREVIEW, static_cast<capture::WPARAM>(-1),
                          0);
  }
  FrozenPreview(const FrozenPreview&) = delete;
  FrozenPreview& operator=(const FrozenPreview&) = delete;

 private:
  capture::HWND window_;
};

// The trace of a failure the writer reported.
void LogReportedFailure(const char* where, const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& error) {
    forms::LogFailure(lcRecording(), where, error);
  } catch (...) {
    qCWarning(lcRecording) << where << "failed:" << FailureText(failure);
  }
}

// The one message of a snapshot that was not saved.
void ReportSnapshotFailure() {
  forms::MsgBox(QStringLiteral("Ошибка записи картинки в файл"), QStringLiteral("WebCam"));
}

}  // namespace

ClockPair ReadClocks(forms::TimeSource& time) {
  // Read between two steady-clock reads, the tightest of a few tries: a pause between two
  // plain reads would place every frame that much off its instant.
  ClockPair pair;
  std::int64_t narrowest = std::numeric_limits<std::int64_t>::max();
  for (int i = 0; i < 8 && narrowest > 20'000; ++i) {
    const std::int64_t before = gst::SteadyNowNs();
    const std::int64_t local = time.Nanoseconds();
    const std::int64_t after = gst::SteadyNowNs();
    if (after - before >= narrowest) continue;
    narrowest = after - before;
    pair = {.localNs = local, .steadyNs = before + narrowest / 2};
  }
  return pair;
}

QStringList StampLines(const generator::Instant& instant) {
  return {forms::DisplayDate(instant.dateTime) + QStringLiteral("  ") +
              forms::DisplayTime(instant.dateTime),
          QStringLiteral("N=   ") + instant.numberText + QStringLiteral("       dT= ") +
              instant.sinceT0Text};
}

PictureRecorder::PictureRecorder(const RecordingControls& controls)
    : controls_(controls), writer_(std::make_unique<PictureWriter>([this](WriterReport report) {
        // The writer's thread: the report is shown on the window's.
        QMetaObject::invokeMethod(
            this, [this, report = std::move(report)] { Written(report); }, Qt::QueuedConnection);
      })) {
  connect(controls_.Command19, &QAbstractButton::clicked, this, [this] { Command19_Click(); });
  // A program killed while writing left hidden temporary files beside its pictures.
  writer_->RemoveStaleFiles({ProgramFolder() + QStringLiteral("/SnapShot"),
                             ProgramFolder() + QStringLiteral("/Risunki")});
}

PictureRecorder::~PictureRecorder() = default;

Form6& PictureRecorder::PictureWindow() {
  if (!form6_) {
    form6_ = std::make_unique<Form6>();
    connect(form6_->StrobeAndFrame, &QAction::triggered, this, &PictureRecorder::ChooseStrobe);
  }
  return *form6_;
}

void PictureRecorder::ChooseStrobe() {
  StrobeDialog dialog(recording::StrobeChosen(), FrameChoiceChosen(), FrameAnalysisChosen(),
                      form6_.get());
  if (forms::ShowDialog(dialog) != QDialog::Accepted) return;
  recording::ChooseStrobe(dialog.Strobe());
  ChooseFrameChoice(dialog.Choice());
  ChooseFrameAnalysis(dialog.Analysis());
  emit StrobeSet(recording::StrobeChosen());
}

void PictureRecorder::Follow(const generator::Generator& generator) {
  // Nothing is thrown through a signal: a failure goes back in the signal's outcome, and the
  // generator ends its start or clock with the general message as for a failure of its own.
  connect(&generator, &generator::Generator::RunStarting, this,
          [this](const generator::RunStart& start, generator::Outcome& outcome) {
            outcome.Run([&] { BeginRun(start); });
          });
  connect(&generator, &generator::Generator::PictureDue, this,
          [this](const generator::Instant& instant, generator::Outcome& outcome) {
            outcome.Run([&] { RecordPicture(instant); });
          });
  connect(&generator, &generator::Generator::RunEnded, this, [this, &generator] {
    // A run its sound device or its own start ended failed, whatever its pictures did.
    if (!generator.EndFailure().isEmpty() && failure_text_.isEmpty())
      failure_text_ = generator.EndFailure();
    FinishRun();
  });
}

void PictureRecorder::BeginRun(const generator::RunStart& start) {
  forms::AssertWindowThread("PictureRecorder::BeginRun");
  ++run_;
  failure_reported_ = false;
  finishing_ = false;
  // What an earlier run's pictures said of the camera is no news of it now.
  if (!camera_error_.isEmpty()) controls_.Status->ClearIfSaying(camera_error_);
  camera_error_.clear();
  timing_.reset();
  end_cause_.clear();
  failure_text_.clear();
  record_.reset();
  // The writer's run ends here too, whether or not this one records: an earlier failure
  // skips nothing of it.
  writer_->BeginRun(QString(), std::nullopt, run_);
  if (controls_.Check3->isChecked()) PictureWindow().show();
  frames_ = FrameFilesChosen();  // for the whole run, as its record says
  frame_choice_ = RunFrameChoiceOf(start, FrameChoiceChosen());
  forecast_ = {};
  analysis_.reset();
  all_frames_refused_.clear();
  // The record reads the controls as the operator left them; the exposure is held from here
  // to the run's end when the operator chose so, and the record's end shows the values held.
  if (start.recordPictures) record_ = StartRecord(start);
  const QStringList notLocked = controls_.Camera ? controls_.Camera->LockForRun() : QStringList();
  if (!start.recordPictures) return;
  try {
    if (record_->camera) {
      record_->camera->locked = controls_.Camera->RunLocked();
      record_->camera->notLocked = notLocked;
      // The delay and exposure of the set-up the run takes its pictures with: the lock may
      // have made an automatic exposure a known one.
      if (const gst::CameraPipeline* camera = controls_.Camera->OpenCamera()) {
        const CameraTiming& timing = TimingOf(*camera);
        record_->delayMs = timing.delayMs;
        record_->delayUncertaintyMs = timing.delayUncertaintyMs;
      }
    }
    CreatePictureFolder(start.toneHz);
    SayForecast(start);
    StartAllFrames(start);
  } catch (...) {
    // The run does not start: the operator's modes come back at once.
    if (controls_.Camera) controls_.Camera->EndRunLock();
    throw;
  }
}

void PictureRecorder::SayForecast(const generator::RunStart& start) {
  if (frame_choice_.intervalMs <= 0 || !controls_.Camera) return;
  const bool strobed = frame_choice_.strobe.on;
  if (!strobed && frame_choice_.choice != FrameChoice::Phase) return;
  const gst::CameraPipeline* camera = controls_.Camera->OpenCamera();
  if (!camera || camera->Format().rates.empty()) return;
  const double frameRate = camera->Format().rates.front().PerSecond();
  const CameraTiming& timing = TimingOf(*camera);
  const double exposureMs = timing.exposureMs.value_or(0);
  if (strobed) {
    forecast_ = StrobeForecast(frameRate, exposureMs, timing.delayMs.has_value());
  } else {
    std::vector<double> offered;
    for (const gst::CameraFormat& format : camera->Camera().formats)
      if (format.SameFormatAs(camera->Format()))
        for (const gst::FrameRate& rate : format.rates) offered.push_back(rate.PerSecond());
    forecast_ = FrameChoiceForecast(frameRate, start.toneHz, frame_choice_.intervalMs / 1000,
                                    exposureMs, offered);
  }
  if (forecast_.status.isEmpty()) return;
  qCInfo(lcRecording).noquote() << forecast_.line;
  controls_.Status->Say(forecast_.status);
}

void PictureRecorder::StartAllFrames(const generator::RunStart& start) {
  const FrameAnalysisSettings chosen = FrameAnalysisChosen();
  if (!chosen.On()) return;
  // The Timer 1 mode keeps no time since T0: a frame has no phase to be sorted by. A strobe
  // lights each frame at its pulse's phase, not its exposure's.
  const bool timer = frame_choice_.intervalMs <= 0;
  if (timer || frame_choice_.strobe.on) {
    const QString why = timer ? QString::fromUtf8(
                                    "В режиме таймера у кадров нет фазы тона: анализ всех кадров "
                                    "для этой записи выключен.")
                              : QString::fromUtf8(
                                    "Со стробоскопом кадры показывают фазу вспышки, а не "
                                    "экспозиции: анализ всех кадров для этой записи выключен.");
    all_frames_refused_ = timer ? QStringLiteral("the timer mode gives the frames no phase")
                                : QStringLiteral(
                                      "the strobe lights the frames at its pulses' "
                                      "phase, not their exposure's");
    qCInfo(lcRecording).noquote() << "all frames: not analysed:" << all_frames_refused_;
    if (record_) {
      record_->allFramesRefused = all_frames_refused_;
      writer_->UpdateRecord(*record_);
    }
    controls_.Status->Say(QStringLiteral(" ") + why);
    return;
  }
  gst::CameraPipeline* camera = controls_.Camera ? controls_.Camera->OpenCamera() : nullptr;
  if (!camera) return;  // its first picture fails the run
  FrameAnalysisSetup setup;
  setup.settings = chosen;
  setup.toneHz = start.toneHz;
  setup.frameRate = camera->FramesPerSecond();
  setup.pictureIntervalS = frame_choice_.intervalMs / 1000;
  forms::PictureBox& panel = *PictureWindow().Picture2;
  setup.picture = panel.Image().size();
  setup.stretch = !controls_.Option7->isChecked();
  setup.background = panel.BackColor();
  analysis_ = std::make_shared<FrameAnalysis>(setup);
  analysis_->Observe(*camera);
}

RunRecord PictureRecorder::StartRecord(const generator::RunStart& start) {
  RunRecord record;
  record.run = run_;
  record.settings = start.settings;
  record.toneHz = start.toneHz;
  record.filterGraph = controls_.Option8->isChecked();
  record.jpeg = record.filterGraph && controls_.Option10->isChecked();
  record.frames = frames_;
  record.frameChoice = frame_choice_.choice;
  record.allFrames = FrameAnalysisChosen();
  // The camera that is on, whether or not it delivers yet: its first picture says if not.
  const gst::CameraPipeline* camera =
      controls_.Camera && controls_.Camera->CameraOn() ? controls_.Camera->OpenCamera() : nullptr;
  if (!camera) return record;
  RunRecord::Camera part;
  part.name = camera->Camera().name;
  part.identity = gst::CameraIdentity(camera->Camera());
  const gst::CameraFormat& format = camera->Format();
  part.media = format.media;
  part.pixelFormat = format.format;
  part.width = format.width;
  part.height = format.height;
  if (!format.rates.empty()) part.fps = format.rates.front().PerSecond();
  if (const std::unique_ptr<gst::CameraControls> controls = gst::ControlsOf(*camera))
    part.controlsStart = gst::ControlValues(*controls);
  record.camera = std::move(part);
  return record;
}

void PictureRecorder::NoteFailure(const std::exception_ptr& failure) {
  if (failure_text_.isEmpty()) failure_text_ = FailureText(failure);
}

const PictureRecorder::CameraTiming& PictureRecorder::TimingOf(const gst::CameraPipeline& camera) {
  // The settings and the camera's controls are read at a run's first picture (BeginRun forgets
  // the last run's), and again when the camera or its format changes under it; the set-up's
  // own texts name the camera and format without asking the camera anything.
  const gst::CameraSetup named = gst::SetupOf(camera.Camera(), camera.Format(), std::nullopt);
  const QString key = named.camera + QLatin1Char('\n') + named.format;
  if (timing_ && timing_->key == key) return *timing_;
  const gst::CameraSetup setup = gst::SetupOf(camera);
  CameraTiming timing{.key = key,
                      .delayMs = std::nullopt,
                      .delayUncertaintyMs = std::nullopt,
                      .exposureMs = setup.exposureMs};
  if (const std::optional<gst::CameraDelay> stored = gst::StoredDelay(setup)) {
    timing.delayMs = stored->delayMs;
    timing.delayUncertaintyMs = stored->uncertaintyMs;
    qCInfo(lcRecording).noquote() << "camera delay" << stored->delayMs << "ms applied for"
                                  << setup.camera << setup.format << setup.exposure;
  }
  timing_ = timing;
  return *timing_;
}

void PictureRecorder::ShowSuccess(const QString& text) {
  // A picture answered from what a camera gave before it failed says nothing of the camera
  // now: the camera's error stays on the status line.
  if (!controls_.Status->Text().startsWith(camera::CameraErrorText(QString())))
    controls_.Status->Say(QStringLiteral(" ") + text);
}

capture::HWND PictureRecorder::CaptureWindow() const {
  return controls_.Camera ? controls_.Camera->State().CaptureWindow : 0;
}

void PictureRecorder::Load() {
  Form6& form6 = PictureWindow();
  form6.Picture1->Scale(0, 3, 10, 0);
  form6.Picture2->resize(640, 480);
  form6.Picture2->Refresh();
}

void PictureRecorder::Command19_Click() {
  try {
    if (controls_.Check3->isChecked()) PictureWindow().show();
    RenewDateTime(names_, time_->Now());
    if (controls_.Option7->isChecked()) {
      FrozenPreview frozen(CaptureWindow());
      names_.OutputFileName = SnapshotFileName(names_, kBmp);
      const QByteArray path = QFile::encodeName(names_.OutputFileName);
      capture::SendMessageA(CaptureWindow(), capture::WM_CAP_FILE_SAVEDIBA, 0,
                            reinterpret_cast<capture::LPARAM>(path.constData()));
    }
    if (controls_.Option8->isChecked()) {
      const std::shared_ptr<gdi::Picture> picture = SnapDirectShowFrame(kSnappedAndSaved);
      // A frame that could not be converted is not saved: the panel holds an older picture.
      if (!picture) return;
      // Written by the writer, in order with a run's pictures: the BMP is the panel, the JPEG
      // the frame at its own size.
      if (controls_.Option9->isChecked()) {
        names_.OutputFileName = SnapshotFileName(names_, kBmp);
        writer_->SubmitSnapshot(names_.OutputFileName, PictureWindow().Picture2->Image(),
                                PictureFormat::Bmp);
      }
      if (controls_.Option10->isChecked()) {
        names_.OutputFileName = SnapshotFileName(names_, kJpg);
        writer_->SubmitSnapshot(names_.OutputFileName, picture->Image(), PictureFormat::Jpeg);
      }
    }
  } catch (const std::exception& error) {
    // Any failure of the save, not only the program's own errors, is the operator's message.
    forms::LogFailure(lcRecording(), "the snapshot", error);
    ReportSnapshotFailure();
  }
}

std::shared_ptr<gdi::Picture> PictureRecorder::SnapDirectShowFrame(const QString& StatusText) {
  if (!controls_.Camera) forms::Raise(forms::kObjectVariableNotSet);
  // A frozen camera's last frame, or an earlier opening's, is no picture of now.
  static_cast<void>(controls_.Camera->RecordingCamera());
  const forms::LongArray frame = controls_.Camera->CurrentImage();
  imaging::DirectShowDIB& dib = imaging::SharedDirectShowDIB();
  std::shared_ptr<gdi::Picture> picture = dib.CreatePicture(frame);
  if (!picture) {
    qCWarning(lcRecording).noquote() << "snapshot failed: the graph's frame could not be made a "
                                        "picture:"
                                     << dib.LastDescription;
    controls_.Status->Say(QStringLiteral(" Snap failed.  Error: ") + dib.LastDescription);
    return nullptr;
  }
  forms::PictureBox& panel = *PictureWindow().Picture2;
  panel.PaintPicture(picture->Image(), panel.ScaleLeft(), panel.ScaleTop(), panel.ScaleWidth(),
                     panel.ScaleHeight());
  ShowSuccess(StatusText);
  return picture;
}

namespace {

QString TimeBaseName(generator::TimeBase base) {
  switch (base) {
    case generator::TimeBase::Tone:
      return QStringLiteral("tone");
    case generator::TimeBase::TickCount:
      return QStringLiteral("tick");
    case generator::TimeBase::Timer:
      return QStringLiteral("timer");
  }
  return {};
}

}  // namespace

void PictureRecorder::RecordPicture(const generator::Instant& instant) {
  forms::AssertWindowThread("PictureRecorder::RecordPicture");
  PictureLogRow row;
  row.picture = instant.number;
  row.timeBase = TimeBaseName(instant.base);
  if (instant.base != generator::TimeBase::Timer) {
    row.dueMs = instant.dueMs;
    row.actualMs = instant.actualMs;
    row.idealPhase = instant.tone.IdealPhase(instant.dueMs);
    if (const std::optional<double> phase = instant.tone.PhaseAt(instant.dueLocalNs))
      row.instantPhase = *phase;
  }
  const QString runFolder = names_.PictureFolder;
  // A picture that fails here still gets its row, in order with the queued ones.
  try {
    // T0 on the wall clock, learnt at the run's first picture: the moment the clock took it
    // less the time since T0 then. The Timer 1 mode has no T0.
    if (record_ && !record_->t0 && instant.base != generator::TimeBase::Timer) {
      record_->t0 = instant.dateTime.addMSecs(-std::llround(instant.actualMs));
      writer_->UpdateRecord(*record_);
    }
    QueuePicture(instant, row);
  } catch (...) {
    row.error = FailureText(std::current_exception());
    NoteFailure(std::current_exception());
    writer_->SubmitRow(runFolder, row);
    // The run ends with this failure: a picture of it that fails later is not told again.
    failure_reported_ = true;
    throw;
  }
}

void PictureRecorder::QueuePicture(const generator::Instant& instant, PictureLogRow& row) {
  Form6& form6 = PictureWindow();
  forms::PictureBox& text = *form6.Picture1;
  text.Cls();
  emit StampDated(forms::DisplayDate(instant.dateTime), forms::DisplayTime(instant.dateTime));
  const QStringList lines = StampLines(instant);
  PrintStampLine(text, 0.25, 3, lines[0]);
  PrintStampLine(text, 0.25, 1.5, lines[1]);
  text.Refresh();
  // Without a run folder of its own a picture would land outside the program's folders.
  if (names_.PictureFolder.isEmpty()) forms::Raise(forms::kPathFileAccess);
  if (!controls_.Camera) forms::Raise(forms::kObjectVariableNotSet);
  gst::CameraPipeline& camera = controls_.Camera->RecordingCamera();

  PictureJob job;
  const bool captureWindow = controls_.Option7->isChecked();
  job.layout.backend = captureWindow ? Backend::CaptureWindow : Backend::FilterGraph;
  job.layout.format =
      !captureWindow && controls_.Option10->isChecked() ? PictureFormat::Jpeg : PictureFormat::Bmp;
  forms::PictureBox& panel = *form6.Picture2;
  job.layout.panel = panel.Image().size();
  job.layout.background = panel.BackColor();
  job.stamp = text.Image().copy(kStampRegion);
  names_.OutputFileName = PictureFileName(names_, instant.number,
                                          job.layout.format == PictureFormat::Jpeg ? kJpg : kBmp);
  job.path = names_.OutputFileName;
  job.runFolder = names_.PictureFolder;
  job.run = run_;
  row.file = QFileInfo(job.path).fileName();
  job.frames = frames_;
  if (job.frames != FrameFiles::None) {
    // Beside its picture and sorted with it: "00012.jpg", "00012.frame.png".
    const QFileInfo picture(job.path);
    job.framePath =
        picture.dir().filePath(picture.completeBaseName() + QStringLiteral(".frame.png"));
    row.frameFile = QFileInfo(job.framePath).fileName();
  }

  // Frames are timed on the steady clock, the instant on the time source: placed relative to
  // now, the two agree also when the time source is simulated.
  const ClockPair now = ReadClocks(*time_);
  const std::int64_t localNow = now.localNs;
  const std::int64_t steadyNow = now.steadyNs;
  job.timing.timer = instant.base == generator::TimeBase::Timer;
  job.timing.dueLocalNs = job.timing.timer ? localNow : instant.dueLocalNs;
  job.timing.steadyToLocalNs = localNow - steadyNow;
  job.timing.tone = instant.tone;
  const CameraTiming& cameraTiming = TimingOf(camera);
  job.timing.cameraDelayMs = cameraTiming.delayMs;
  job.timing.exposureMs = cameraTiming.exposureMs;
  const std::int64_t dueSteady = job.timing.dueLocalNs - job.timing.steadyToLocalNs;
  job.frameIntervalNs = camera.FrameIntervalNs();
  job.choice = frame_choice_;
  if (analysis_) analysis_->Follow(job.timing);
  job.frame = RequestPictureFrame(camera, job.choice, job.timing, row.idealPhase.value_or(0),
                                  dueSteady, job.frameIntervalNs);
  job.frameDeadlineNs =
      std::max(ChoiceEndNs(job.choice, job.timing, dueSteady), steadyNow) + kLongestFrameWaitNs;
  if (job.frame->HasRule()) {
    std::erase_if(open_choices_, [](const std::weak_ptr<gst::FrameRequest>& open) {
      const std::shared_ptr<gst::FrameRequest> request = open.lock();
      return !request || request->Answered();
    });
    open_choices_.push_back(job.frame);
  }
  if (const gst::FramePtr latest = camera.LatestFrame())
    job.frameBytes = std::int64_t{latest->Width()} * latest->Height() * 4;
  job.row = row;
  job.queuedNs = steadyNow;
  if (const std::optional<QString> refusal = writer_->Submit(std::move(job)))
    forms::Raise(forms::kOutOfMemory, forms::kDefaultErrorSource, *refusal);
}

void PictureRecorder::Written(const WriterReport& report) {
  forms::AssertWindowThread("PictureRecorder::Written");  // the writer's report, queued
  switch (report.kind) {
    case WriterReport::Kind::Picture:
      if (report.failure) {
        // A picture of a run that has ended and been followed by another fails only its own
        // run: its trace and its log rows say so, the new run goes on.
        if (report.run != run_) {
          LogReportedFailure("a picture of an earlier run", report.failure);
          return;
        }
        NoteFailure(report.failure);
        if (failure_reported_) return;
        failure_reported_ = true;
        // A camera that gave no frame near the instant fails as one that failed outright.
        if (!report.cameraError.isEmpty()) {
          camera_error_ = camera::CameraErrorText(report.cameraError);
          controls_.Status->Say(camera_error_);
        }
        emit PictureFailed(report.failure);
        return;
      }
      if (!report.image.isNull()) PictureWindow().Picture2->SetPicture(report.image);
      if (report.backend == Backend::FilterGraph) ShowSuccess(kSnappedAndSaved);
      return;
    case WriterReport::Kind::Snapshot:
      if (!report.failure) return;
      LogReportedFailure("the snapshot", report.failure);
      ReportSnapshotFailure();
      return;
    case WriterReport::Kind::RunFinished:
      if (report.run != run_) return;
      all_frames_ = report.analysis;
      // Bins left empty, maps that could not be made: the operator learns why and what helps.
      if (all_frames_ && !all_frames_->note.isEmpty()) ShowSuccess(all_frames_->note);
      if (report.failure && !failure_reported_) {
        failure_reported_ = true;
        emit PictureFailed(report.failure);
      }
      if (finishing_) {
        finishing_ = false;
        emit RunWritten();
      }
      return;
  }
}

void PictureRecorder::WaitUntilWritten() {
  writer_->WaitUntilIdle();
  // The reports it posted are shown before this returns.
  QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

QString PictureRecorder::NameVideo() {
  RenewDateTime(names_, time_->Now());
  names_.OutputFileName = VideoBaseName(names_);
  return names_.OutputFileName;
}

void PictureRecorder::CreatePictureFolder(std::optional<double> toneHz) {
  // A folder that could not be made is another run's (or none): its log is not this run's.
  writer_->BeginRun(QString(), std::nullopt, run_);
  recording::CreatePictureFolder(names_, time_->Now());
  writer_->BeginRun(names_.PictureFolder, toneHz, run_, record_);
}

void PictureRecorder::FinishRun() {
  finishing_ = true;
  // The tone has stopped: a frame exposed from now on shows the optics at rest, not at a phase.
  const std::int64_t stopped = gst::SteadyNowNs();
  for (const std::weak_ptr<gst::FrameRequest>& open : open_choices_)
    if (const std::shared_ptr<gst::FrameRequest> request = open.lock())
      request->EndWindowAt(stopped);
  open_choices_.clear();
  if (analysis_) analysis_->Stop(stopped);
  std::optional<RunRecord> record;
  if (record_) {
    record = std::move(record_);
    record_.reset();
    RunRecord::End end{.how = end_cause_.isEmpty() ? QStringLiteral("stop") : end_cause_,
                       .failure = QString(),
                       .at = QDateTime::currentDateTime()};
    if (!failure_text_.isEmpty()) {
      end.how = QStringLiteral("failure");
      end.failure = failure_text_;
    }
    record->end = end;
    if (record->camera && controls_.Camera) {
      try {
        const gst::CameraPipeline* camera = controls_.Camera->OpenCamera();
        if (const std::unique_ptr<gst::CameraControls> controls =
                camera ? gst::ControlsOf(*camera) : nullptr)
          record->camera->controlsEnd = gst::ControlValues(*controls);
      } catch (const std::exception& error) {
        // A camera that cannot be asked has no values to give at the end.
        forms::LogFailure(lcRecording(), "reading the camera's controls at the run's end", error);
      }
    }
  }
  end_cause_.clear();
  if (controls_.Camera) controls_.Camera->EndRunLock();
  writer_->FinishRun(std::move(record), std::move(analysis_));
  analysis_.reset();
}

}  // namespace recording
