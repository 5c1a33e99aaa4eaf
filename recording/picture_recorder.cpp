#include "recording/picture_recorder.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>

#include "imaging/DirectShowDIB.h"
#include "imaging/PicSave.h"
#include "platform/capture/capture.h"
#include "platform/forms/message_box.h"
#include "platform/forms/runtime_error.h"

namespace recording {
namespace {

const QString kBmp = QStringLiteral(".bmp");
const QString kJpg = QStringLiteral(".jpg");
constexpr std::int32_t kJpegFormat = 1;
constexpr std::int32_t kJpegQuality = 70;
const QRect kStamp(0, 0, 200, 50);

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
    if (c_.Check3->isChecked()) c_.Form6().show();
    RenewDateTime(c_.Names, time_->Now());
    if (c_.Option7->isChecked()) {
      FrozenPreview frozen(*c_.CaptureWindow);
      *c_.Names.OutputFileName = SnapshotFileName(c_.Names, kBmp);
      const QByteArray path = QFile::encodeName(*c_.Names.OutputFileName);
      capture::SendMessageA(*c_.CaptureWindow, capture::WM_CAP_FILE_SAVEDIBA, 0,
                            reinterpret_cast<capture::LPARAM>(path.constData()));
    }
    if (c_.Option8->isChecked()) {
      const std::shared_ptr<gdi::Picture> picture = SnapDirectShowFrame(kSnappedAndSaved);
      // A frame that could not be converted is not saved: the panel holds an older picture.
      if (!picture) return;
      if (c_.Option9->isChecked()) {
        *c_.Names.OutputFileName = SnapshotFileName(c_.Names, kBmp);
        c_.Form6().Picture2->SavePicture(*c_.Names.OutputFileName);
      }
      if (c_.Option10->isChecked()) {
        *c_.Names.OutputFileName = SnapshotFileName(c_.Names, kJpg);
        imaging::SharedPicSave().SavePicture(picture, *c_.Names.OutputFileName, kJpegFormat,
                                             kJpegQuality);
      }
    }
  } catch (const forms::RuntimeError&) {
    forms::MsgBox(QStringLiteral("Ошибка записи картинки в файл"), QStringLiteral("WebCam"));
  }
}

std::shared_ptr<gdi::Picture> PictureRecorder::SnapDirectShowFrame(const QString& StatusText) {
  if (!c_.DirectShow) forms::Raise(forms::kObjectVariableNotSet);
  const forms::LongArray frame = c_.DirectShow->CurrentImage();
  imaging::DirectShowDIB& dib = imaging::SharedDirectShowDIB();
  std::shared_ptr<gdi::Picture> picture = dib.CreatePicture(frame);
  if (!picture) {
    c_.Label1->setText(QStringLiteral(" Snap failed.  Error: ") + dib.LastDescription);
    return nullptr;
  }
  forms::PictureBox& panel = *c_.Form6().Picture2;
  panel.PaintPicture(picture->Image(), panel.ScaleLeft(), panel.ScaleTop(), panel.ScaleWidth(),
                     panel.ScaleHeight());
  c_.Label1->setText(QStringLiteral(" ") + StatusText);
  return picture;
}

void PictureRecorder::CopyStamp(Form6& form6) {
  forms::PictureBox::CopyRegion(*form6.Picture1, kStamp, *form6.Picture2, QPoint(0, 0));
}

void PictureRecorder::RecordPicture() {
  Form6& form6 = c_.Form6();
  forms::PictureBox& text = *form6.Picture1;
  forms::PictureBox& panel = *form6.Picture2;
  text.Cls();
  const QDateTime now = time_->Now();
  c_.Text2->setText(forms::DisplayDate(now));
  c_.Text3->setText(forms::DisplayTime(now));
  *c_.CameraInfo = c_.Text2->text() + QStringLiteral("  ") + c_.Text3->text();
  text.SetCurrentX(0.25);
  text.SetCurrentY(3);
  text.Print(*c_.CameraInfo);
  *c_.CameraInfo = QStringLiteral("N=   ") + c_.Text1->text() + QStringLiteral("       dT= ") +
                   c_.Text10->text();
  text.SetCurrentX(0.25);
  text.SetCurrentY(1.5);
  text.Print(*c_.CameraInfo);
  text.Refresh();
  panel.Cls();
  // Without a run folder of its own a picture would land outside the program's folders.
  if (c_.Names.PictureFolder->isEmpty()) forms::Raise(forms::kPathFileAccess);
  const std::int32_t number = c_.Gen->PictureNumber;
  if (c_.Option7->isChecked()) {
    *c_.Names.OutputFileName = PictureFileName(c_.Names, number, kBmp);
    FrozenPreview frozen(*c_.CaptureWindow);
    capture::SendMessageA(*c_.CaptureWindow, capture::WM_CAP_EDIT_COPY, 0, 0);
    panel.SetPicture(QGuiApplication::clipboard()->image());
    CopyStamp(form6);
    panel.SavePicture(*c_.Names.OutputFileName);
  }
  if (c_.Option8->isChecked()) {
    SnapDirectShowFrame(kSnappedAndSaved);
    CopyStamp(form6);
    if (c_.Option9->isChecked()) {
      *c_.Names.OutputFileName = PictureFileName(c_.Names, number, kBmp);
      panel.SavePicture(*c_.Names.OutputFileName);
    }
    if (c_.Option10->isChecked()) {
      *c_.Names.OutputFileName = PictureFileName(c_.Names, number, kJpg);
      imaging::SharedPicSave().SavePicture(gdi::PictureFromImage(panel.Image()),
                                           *c_.Names.OutputFileName, kJpegFormat, kJpegQuality);
    }
  }
}

QString PictureRecorder::NameVideo() {
  RenewDateTime(c_.Names, time_->Now());
  *c_.Names.OutputFileName = VideoBaseName(c_.Names);
  return *c_.Names.OutputFileName;
}

void PictureRecorder::CreatePictureFolder() {
  recording::CreatePictureFolder(c_.Names, time_->Now());
}

}  // namespace recording
