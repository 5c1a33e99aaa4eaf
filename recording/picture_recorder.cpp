#include "recording/picture_recorder.h"

#include "recording/logging.h"

#include <QFile>
#include <QFileInfo>
#include <chrono>

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

void PictureRecorder::Command19_Click() {
  try {
    if (controls_.Check3->isChecked()) controls_.PictureWindow().show();
    RenewDateTime(controls_.Names, time_->Now());
    if (controls_.Option7->isChecked()) {
      FrozenPreview frozen(*controls_.CaptureWindow);
      *controls_.Names.OutputFileName = SnapshotFileName(controls_.Names, kBmp);
      const QByteArray path = QFile::encodeName(*controls_.Names.OutputFileName);
      capture::SendMessageA(*controls_.CaptureWindow, capture::WM_CAP_FILE_SAVEDIBA, 0,
                            reinterpret_cast<capture::LPARAM>(path.constData()));
    }
    if (controls_.Option8->isChecked()) {
      const std::shared_ptr<gdi::Picture> picture = SnapDirectShowFrame(kSnappedAndSaved);
      // A frame that could not be converted is not saved: the panel holds an older picture.
      if (!picture) return;
      if (controls_.Option9->isChecked()) {
        *controls_.Names.OutputFileName = SnapshotFileName(controls_.Names, kBmp);
        controls_.PictureWindow().Picture2->SavePicture(*controls_.Names.OutputFileName);
      }
      if (controls_.Option10->isChecked()) {
        *controls_.Names.OutputFileName = SnapshotFileName(controls_.Names, kJpg);
        imaging::SharedPicSave().SavePicture(picture, *controls_.Names.OutputFileName, kJpegFormat,
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
  if (!controls_.DirectShow) forms::Raise(forms::kObjectVariableNotSet);
  const forms::LongArray frame = controls_.DirectShow->CurrentImage();
  imaging::DirectShowDIB& dib = imaging::SharedDirectShowDIB();
  std::shared_ptr<gdi::Picture> picture = dib.CreatePicture(frame);
  if (!picture) {
    controls_.Label1->setText(QStringLiteral(" Snap failed.  Error: ") + dib.LastDescription);
    return nullptr;
  }
  forms::PictureBox& panel = *controls_.PictureWindow().Picture2;
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

gstutil::CameraPipeline* PictureRecorder::ChooseFrame(PictureLogRow& row) {
  gstutil::CameraPipeline* camera = controls_.Camera ? controls_.Camera() : nullptr;
  if (!camera) return nullptr;
  // Frames are timed on the steady clock, the instant on the time source: placed relative to
  // now, the two agree also when the time source is simulated.
  const std::int64_t localNow = time_->Nanoseconds();
  const std::int64_t steadyNow = gstutil::SteadyNowNs();
  const std::int64_t dueLocal = controls_.Gen->InstantBase == generator::TimeBase::Timer
                                    ? localNow
                                    : controls_.Gen->InstantDueLocalNs;
  const gstutil::FramePtr frame = camera->NearestFrame(steadyNow + (dueLocal - localNow));
  if (!frame) return nullptr;
  camera->HoldFrame(frame);
  row.frameNumber = frame->Number();
  const std::int64_t captureLocal = localNow + (frame->CaptureNs() - steadyNow);
  row.frameAgeMs = static_cast<double>(dueLocal - captureLocal) / 1e6;
  if (controls_.MomentAt) {
    const generator::RunMoment capture = controls_.MomentAt(captureLocal);
    if (controls_.Gen->InstantBase != generator::TimeBase::Timer)
      row.frameCaptureMs = capture.msSinceT0;
    if (capture.hasPhase) row.framePhase = capture.phaseDegrees;
  }
  return camera;
}

void PictureRecorder::RecordPicture() {
  const generator::GeneratorState& gen = *controls_.Gen;
  PictureLogRow row;
  row.picture = gen.PictureNumber;
  row.timeBase = TimeBaseName(gen.InstantBase);
  if (gen.InstantBase != generator::TimeBase::Timer) {
    row.dueMs = gen.InstantDueMs;
    row.actualMs = gen.InstantActualMs;
    row.idealPhase = generator::TonePhaseDegrees(gen, gen.InstantDueMs / 1000);
    if (controls_.MomentAt) {
      const generator::RunMoment due = controls_.MomentAt(gen.InstantDueLocalNs);
      if (due.hasPhase) row.instantPhase = due.phaseDegrees;
    }
  }
  const auto started = std::chrono::steady_clock::now();
  // The row is written whatever happens, and only for the log of this run's own folder.
  auto writeRow = [&] {
    row.saveMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
            .count();
    // A row that cannot be written has left its trace; the picture itself stands, and the
    // run goes on as the window knows it.
    if (!controls_.Names.PictureFolder->isEmpty() &&
        log_.Folder() == *controls_.Names.PictureFolder && !log_.Append(row))
      ++unlogged_rows_;
  };
  try {
    RecordFrame(row);
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

void PictureRecorder::RecordFrame(PictureLogRow& row) {
  Form6& form6 = controls_.PictureWindow();
  forms::PictureBox& text = *form6.Picture1;
  forms::PictureBox& panel = *form6.Picture2;
  text.Cls();
  const QDateTime now = time_->Now();
  controls_.Text2->setText(forms::DisplayDate(now));
  controls_.Text3->setText(forms::DisplayTime(now));
  *controls_.CameraInfo = controls_.Text2->text() + QStringLiteral("  ") + controls_.Text3->text();
  PrintStampLine(text, 0.25, 3, *controls_.CameraInfo);
  *controls_.CameraInfo = QStringLiteral("N=   ") + controls_.Text1->text() +
                          QStringLiteral("       dT= ") + controls_.Text10->text();
  PrintStampLine(text, 0.25, 1.5, *controls_.CameraInfo);
  text.Refresh();
  panel.Cls();
  // Without a run folder of its own a picture would land outside the program's folders.
  if (controls_.Names.PictureFolder->isEmpty()) forms::Raise(forms::kPathFileAccess);
  const std::int32_t number = controls_.Gen->PictureNumber;
  gstutil::CameraPipeline* holding = ChooseFrame(row);
  // The grabs read the chosen frame until the picture is done, also when a step fails.
  const std::unique_ptr<gstutil::CameraPipeline, void (*)(gstutil::CameraPipeline*)> release(
      holding, [](gstutil::CameraPipeline* camera) { camera->HoldFrame(nullptr); });
  auto name = [&](const QString& extension) {
    *controls_.Names.OutputFileName = PictureFileName(controls_.Names, number, extension);
    row.file = QFileInfo(*controls_.Names.OutputFileName).fileName();
    return *controls_.Names.OutputFileName;
  };
  if (controls_.Option7->isChecked()) {
    name(kBmp);
    FrozenPreview frozen(*controls_.CaptureWindow);
    // A frame that could not be copied is not a picture: saving the panel's background under
    // the next number would report a lost picture as taken.
    if (capture::SendMessageA(*controls_.CaptureWindow, capture::WM_CAP_EDIT_COPY, 0, 0) == FALSE)
      forms::Raise(forms::kDeviceUnavailable);
    panel.SetPicture(forms::Clipboard::GetData());
    CopyStamp(form6);
    panel.SavePicture(*controls_.Names.OutputFileName);
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
  RenewDateTime(controls_.Names, time_->Now());
  *controls_.Names.OutputFileName = VideoBaseName(controls_.Names);
  return *controls_.Names.OutputFileName;
}

void PictureRecorder::CreatePictureFolder() {
  // A folder that could not be made is another run's (or none): its log is not this run's.
  log_.Begin(QString());
  recording::CreatePictureFolder(controls_.Names, time_->Now());
  // The tone's frequency turns the camera's frame interval into the plot's band in degrees.
  std::optional<double> toneHz;
  if (controls_.Gen && controls_.Gen->FreqDenominator > 0)
    toneHz = controls_.Gen->FreqNumerator / controls_.Gen->FreqDenominator;
  log_.Begin(*controls_.Names.PictureFolder, toneHz);
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
