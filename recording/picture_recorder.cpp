#include "recording/picture_recorder.h"

#include "recording/logging.h"

#include <QFile>
#include <QFileInfo>
#include <chrono>

#include "generator/generator.h"
#include "imaging/DirectShowDIB.h"
#include "imaging/PicSave.h"
#include "platform/capture/capture.h"
#include "platform/forms/clipboard.h"
#include "platform/forms/message_box.h"
#include "platform/forms/runtime_error.h"
#include "platform/gst/camera_pipeline.h"

namespace recording {
namespace {

const QString kBmp = QStringLiteral(".bmp");
const QString kJpg = QStringLiteral(".jpg");
constexpr std::int32_t kJpegFormat = 1;
constexpr std::int32_t kJpegQuality = 70;

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

}  // namespace

QStringList StampLines(const generator::Instant& instant) {
  return {forms::DisplayDate(instant.dateTime) + QStringLiteral("  ") +
              forms::DisplayTime(instant.dateTime),
          QStringLiteral("N=   ") + instant.numberText + QStringLiteral("       dT= ") +
              instant.sinceT0Text};
}

PictureRecorder::PictureRecorder(const RecordingControls& controls) : controls_(controls) {
  connect(controls_.Command19, &QAbstractButton::clicked, this, [this] { Command19_Click(); });
}

PictureRecorder::~PictureRecorder() = default;

Form6& PictureRecorder::PictureWindow() {
  if (!form6_) form6_ = std::make_unique<Form6>();
  return *form6_;
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
  connect(&generator, &generator::Generator::RunEnded, this, [this] {
    try {
      FinishRun();
    } catch (const std::exception& error) {
      // The run has ended either way; only its plot is missing.
      forms::LogFailure(lcRecording(), "the end of the run", error);
    }
  });
}

void PictureRecorder::BeginRun(const generator::RunStart& start) {
  if (controls_.Check3->isChecked()) PictureWindow().show();
  if (start.recordPictures) CreatePictureFolder(start.toneHz);
}

capture::HWND PictureRecorder::CaptureWindow() const {
  return controls_.Camera ? controls_.Camera->State().CaptureWindow : 0;
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
      if (controls_.Option9->isChecked()) {
        names_.OutputFileName = SnapshotFileName(names_, kBmp);
        PictureWindow().Picture2->SavePicture(names_.OutputFileName);
      }
      if (controls_.Option10->isChecked()) {
        names_.OutputFileName = SnapshotFileName(names_, kJpg);
        imaging::SharedPicSave().SavePicture(picture, names_.OutputFileName, kJpegFormat,
                                             kJpegQuality);
      }
    }
  } catch (const std::exception& error) {
    // Any failure of the save, not only the program's own errors, is the operator's message.
    forms::LogFailure(lcRecording(), "the snapshot", error);
    forms::MsgBox(QStringLiteral("Ошибка записи картинки в файл"), QStringLiteral("WebCam"));
  }
}

std::shared_ptr<gdi::Picture> PictureRecorder::SnapDirectShowFrame(const QString& StatusText) {
  if (!controls_.Camera) forms::Raise(forms::kObjectVariableNotSet);
  const forms::LongArray frame = controls_.Camera->CurrentImage();
  imaging::DirectShowDIB& dib = imaging::SharedDirectShowDIB();
  std::shared_ptr<gdi::Picture> picture = dib.CreatePicture(frame);
  if (!picture) {
    controls_.Label1->setText(QStringLiteral(" Snap failed.  Error: ") + dib.LastDescription);
    return nullptr;
  }
  forms::PictureBox& panel = *PictureWindow().Picture2;
  panel.PaintPicture(picture->Image(), panel.ScaleLeft(), panel.ScaleTop(), panel.ScaleWidth(),
                     panel.ScaleHeight());
  controls_.Label1->setText(QStringLiteral(" ") + StatusText);
  return picture;
}

void PictureRecorder::CopyStamp(Form6& form6) {
  forms::PictureBox::CopyRegion(*form6.Picture1, kStampRegion, *form6.Picture2, QPoint(0, 0));
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

gst::CameraPipeline* PictureRecorder::ChooseFrame(const generator::Instant& instant,
                                                  PictureLogRow& row) {
  gst::CameraPipeline* camera = controls_.Camera ? controls_.Camera->OpenCamera() : nullptr;
  if (!camera) return nullptr;
  // Frames are timed on the steady clock, the instant on the time source: placed relative to
  // now, the two agree also when the time source is simulated.
  const bool timer = instant.base == generator::TimeBase::Timer;
  const std::int64_t localNow = time_->Nanoseconds();
  const std::int64_t steadyNow = gst::SteadyNowNs();
  const std::int64_t dueLocal = timer ? localNow : instant.dueLocalNs;
  const gst::FramePtr frame = camera->NearestFrame(steadyNow + (dueLocal - localNow));
  if (!frame) return nullptr;
  camera->HoldFrame(frame);
  row.frameNumber = frame->Number();
  const std::int64_t captureLocal = localNow + (frame->CaptureNs() - steadyNow);
  row.frameAgeMs = static_cast<double>(dueLocal - captureLocal) / 1e6;
  if (!timer) row.frameCaptureMs = instant.tone.MsSinceT0(captureLocal);
  if (const std::optional<double> phase = instant.tone.PhaseAt(captureLocal))
    row.framePhase = *phase;
  return camera;
}

void PictureRecorder::RecordPicture(const generator::Instant& instant) {
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
  const auto started = std::chrono::steady_clock::now();
  // The row is written whatever happens, and only for the log of this run's own folder.
  auto writeRow = [&] {
    row.saveMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
            .count();
    // A row that cannot be written has left its trace; the picture itself stands, and the
    // run goes on as the window knows it.
    if (!names_.PictureFolder.isEmpty() && log_.Folder() == names_.PictureFolder &&
        !log_.Append(row))
      ++unlogged_rows_;
  };
  try {
    RecordFrame(instant, row);
  } catch (const forms::RuntimeError& error) {
    row.error = error.Description().isEmpty() ? forms::StandardDescription(error.Number())
                                              : error.Description();
    writeRow();
    throw;
  } catch (const std::exception& error) {
    row.error = QString::fromLocal8Bit(error.what());
    writeRow();
    throw;
  }
  writeRow();
}

void PictureRecorder::RecordFrame(const generator::Instant& instant, PictureLogRow& row) {
  Form6& form6 = PictureWindow();
  forms::PictureBox& text = *form6.Picture1;
  forms::PictureBox& panel = *form6.Picture2;
  text.Cls();
  controls_.Text2->setText(forms::DisplayDate(instant.dateTime));
  controls_.Text3->setText(forms::DisplayTime(instant.dateTime));
  const QStringList lines = StampLines(instant);
  PrintStampLine(text, 0.25, 3, lines[0]);
  PrintStampLine(text, 0.25, 1.5, lines[1]);
  text.Refresh();
  panel.Cls();
  // Without a run folder of its own a picture would land outside the program's folders.
  if (names_.PictureFolder.isEmpty()) forms::Raise(forms::kPathFileAccess);
  gst::CameraPipeline* holding = ChooseFrame(instant, row);
  // The grabs read the chosen frame until the picture is done, also when a step fails.
  const std::unique_ptr<gst::CameraPipeline, void (*)(gst::CameraPipeline*)> release(
      holding, [](gst::CameraPipeline* camera) { camera->HoldFrame(nullptr); });
  auto name = [&](const QString& extension) {
    names_.OutputFileName = PictureFileName(names_, instant.number, extension);
    row.file = QFileInfo(names_.OutputFileName).fileName();
    return names_.OutputFileName;
  };
  if (controls_.Option7->isChecked()) {
    name(kBmp);
    FrozenPreview frozen(CaptureWindow());
    // A frame that could not be copied is not a picture: saving the panel's background under
    // the next number would report a lost picture as taken.
    if (capture::SendMessageA(CaptureWindow(), capture::WM_CAP_EDIT_COPY, 0, 0) == FALSE)
      forms::Raise(forms::kDeviceUnavailable);
    panel.SetPicture(forms::Clipboard::GetData());
    CopyStamp(form6);
    panel.SavePicture(names_.OutputFileName);
  }
  if (controls_.Option8->isChecked()) {
    SnapDirectShowFrame(kSnappedAndSaved);
    CopyStamp(form6);
    if (controls_.Option9->isChecked()) panel.SavePicture(name(kBmp));
    if (controls_.Option10->isChecked()) {
      imaging::SharedPicSave().SavePicture(gdi::PictureFromImage(panel.Image()), name(kJpg),
                                           kJpegFormat, kJpegQuality);
    }
  }
}

QString PictureRecorder::NameVideo() {
  RenewDateTime(names_, time_->Now());
  names_.OutputFileName = VideoBaseName(names_);
  return names_.OutputFileName;
}

void PictureRecorder::CreatePictureFolder(std::optional<double> toneHz) {
  // A folder that could not be made is another run's (or none): its log is not this run's.
  log_.Begin(QString());
  recording::CreatePictureFolder(names_, time_->Now());
  log_.Begin(names_.PictureFolder, toneHz);
}

void PictureRecorder::FinishRun() {
  if (!log_.Finish() && !log_.History().Empty())
    qCWarning(lcRecording).noquote() << "the run in" << log_.Folder() << "has no phase plot";
  if (unlogged_rows_ > 0)
    qCWarning(lcRecording).noquote()
        << unlogged_rows_ << "pictures of the run in" << log_.Folder() << "have no row in its log";
  unlogged_rows_ = 0;
}

}  // namespace recording
