// The capture driver's dialogs: video format, video source and video compression. Each is
// modal over the window the capture window lies in and returns TRUE on OK.

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <array>

#include "platform/capture/capture_window.h"
#include "platform/forms/dialog.h"
#include "platform/gst/controls_page.h"
#include "platform/gst/delay_page.h"
#include "platform/gst/format_dialog.h"

namespace capture {

BOOL CaptureWindow::FormatDialog() {
  if (!Connected()) return FALSE;
  // Every format the camera lists (raw and MJPEG, which the camera pipeline decodes as a
  // webcam's driver would).
  const gst::CameraFormat current = pipeline_.Format();
  const gst::FrameRate* rate = current.rates.empty() ? nullptr : &current.rates.front();
  gst::FormatDialog dialog(QStringLiteral("Формат видео"), pipeline_.Camera().formats, &current,
                           rate, window());
  if (forms::ShowDialog(dialog) != QDialog::Accepted || !dialog.Chosen()) return FALSE;
  gst::CameraFormat chosen = *dialog.Chosen();
  const gst::FrameRate chosen_rate = *dialog.ChosenRate();
  // OK on what runs already changes nothing: a recording goes on.
  if (chosen.SameFormatAs(current) && rate && chosen_rate == *rate) return TRUE;
  chosen.rates.erase(std::remove(chosen.rates.begin(), chosen.rates.end(), chosen_rate),
                     chosen.rates.end());
  chosen.rates.insert(chosen.rates.begin(), chosen_rate);
  // A file keeps one format from start to end: the recording ends here (its file is
  // finished behind, index and all) and says why.
  const bool recording = recorder_.Recording();
  recorder_.Stop();
  if (recording) OnRecordingFailed(QStringLiteral("изменён формат изображения"));
  QString error;
  if (!pipeline_.ChangeFormat(chosen, &error)) {
    OnFailed(error);
    return FALSE;
  }
  parameters_.dwRequestMicroSecPerFrame = DriverParameters().dwRequestMicroSecPerFrame;
  return TRUE;
}

BOOL CaptureWindow::SourceDialog() {
  if (!Connected()) return FALSE;
  QDialog dialog(window());
  dialog.setWindowTitle(QStringLiteral("Источник видео"));
  auto* layout = new QVBoxLayout(&dialog);
  auto* cameras = new QComboBox(&dialog);
  cameras->setObjectName(QStringLiteral("Camera"));
  int index = 0;
  for (std::array<char, 80> name{}, version{};
       capGetDriverDescriptionA(static_cast<UINT>(index), name.data(), 80, version.data(), 80);
       ++index) {
    cameras->addItem(QString::fromUtf8(name.data()));
    if (QString::fromUtf8(name.data()) == pipeline_.Camera().name) cameras->setCurrentIndex(index);
  }
  auto* form = new QFormLayout();
  form->addRow(QStringLiteral("Камера"), cameras);
  layout->addLayout(form);
  const int connected = cameras->currentIndex();
  auto* pages = new QTabWidget(&dialog);
  pages->addTab(new gst::ControlsPage(gst::ControlsOf(pipeline_), &pipeline_.Camera(), true, pages),
                QStringLiteral("Изображение"));
  pages->addTab(new gst::DelayPage(&pipeline_, pages), QStringLiteral("Задержка камеры"));
  layout->addWidget(pages);
  gst::AddDialogButtons(dialog, *layout);
  if (forms::ShowDialog(dialog) != QDialog::Accepted) return FALSE;
  // Another camera: connected in its place, the preview as it was.
  if (cameras->currentIndex() != connected) {
    const bool live = Live();
    // The recording belongs to the camera it started with: it ends, its file finished behind.
    if (recorder_.Recording()) {
      recorder_.Stop();
      OnRecordingFailed(QStringLiteral("выбрана другая камера"));
    }
    if (!Connect(static_cast<WPARAM>(cameras->currentIndex()))) return FALSE;
    SetLive(live);
  }
  return TRUE;
}

BOOL CaptureWindow::CompressionDialog() {
  if (!Connected()) return FALSE;
  QDialog dialog(window());
  dialog.setWindowTitle(QStringLiteral("Сжатие видео"));
  auto* layout = new QVBoxLayout(&dialog);
  auto* form = new QFormLayout();
  auto* compressor = new QComboBox(&dialog);
  compressor->setObjectName(QStringLiteral("Compressor"));
  compressor->addItem(QString::fromUtf8(kFullFrames));
  compressor->addItem(QString::fromLatin1(kMotionJpeg));
  compressor->setCurrentIndex(motion_jpeg_ ? 1 : 0);
  auto* quality = new QSpinBox(&dialog);
  quality->setObjectName(QStringLiteral("Quality"));
  quality->setRange(1, 100);
  quality->setValue(quality_);
  quality->setEnabled(motion_jpeg_);
  QObject::connect(compressor, &QComboBox::currentIndexChanged, quality,
                   [quality](int row) { quality->setEnabled(row == 1); });
  form->addRow(QStringLiteral("Сжатие"), compressor);
  form->addRow(QStringLiteral("Качество"), quality);
  layout->addLayout(form);
  gst::AddDialogButtons(dialog, *layout);
  if (forms::ShowDialog(dialog) != QDialog::Accepted) return FALSE;
  motion_jpeg_ = compressor->currentIndex() == 1;
  quality_ = quality->value();
  return TRUE;
}

}  // namespace capture
