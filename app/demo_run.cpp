#include "app/demo_run.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QTimer>

#include "app/main_window.h"
#include "platform/forms/dialog.h"
#include "platform/forms/message_box.h"
#include "platform/gst/virtual_devices.h"
#include "platform/wave/wav_file.h"
#include "platform/wave/wave_out.h"
#include "recording/output_files.h"

namespace app {
namespace {

const char* const kWavName = "strobolux-demo-tone.wav";

// Lets the window work for a while, as an operator's pause would.
void Pause(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// Chooses a row of a combo box the way a click on its list does.
void ChooseRow(forms::ComboBox* combo, int row) {
  combo->setCurrentIndex(row);
  emit combo->Click(row);
}

// The script; every step goes through the control or handler the operator would use.
void Operate(Form1& form, const DemoRunSettings& settings, DemoRunSummary& summary) {
  auto stop = [&](const QString& why) {
    summary.failure = why;
    form.Command16->click();
  };
  const int soundRow = form.Combo1->findText(DemoSoundDeviceName());
  if (soundRow < 0) return stop(QStringLiteral("the built-in sound device is not listed"));
  ChooseRow(form.Combo1, soundRow);
  (settings.filterGraph ? form.Option8 : form.Option7)->click();
  form.Command11->click();
  // The built-in camera, also where real cameras are listed before it.
  const QString camera = QString::fromLatin1(gstutil::kTestCameraYuy2);
  if (!settings.filterGraph && form.CameraOn == 1) {
    // The capture window connects the first camera; its source dialog chooses another.
    const forms::DialogFunction previous = forms::SetDialogFunction([&](QDialog& dialog) {
      auto* cameras = dialog.findChild<QComboBox*>(QStringLiteral("Camera"));
      const int row = cameras ? cameras->findText(camera) : -1;
      if (row < 0 || row == cameras->currentIndex()) return int(QDialog::Rejected);
      cameras->setCurrentIndex(row);
      return int(QDialog::Accepted);
    });
    form.Command15->click();
    forms::SetDialogFunction(previous);
  }
  if (settings.filterGraph) {
    const int cameraRow = form.Combo2->findText(camera);
    if (cameraRow < 0) return stop(QStringLiteral("the built-in camera is not listed"));
    ChooseRow(form.Combo2, cameraRow);
    QRadioButton* format = settings.jpeg ? form.Option10 : form.Option9;
    format->click();
    if (!format->isChecked()) return stop(QStringLiteral("the picture format cannot be chosen"));
  }
  if (form.CameraOn != 1) return stop(QStringLiteral("the camera did not switch on"));
  Pause(500);  // the first frames arrive
  form.Option5->click();
  form.Check2->setChecked(true);
  form.Check3->setChecked(true);
  form.Text4->setText(QStringLiteral("10"));
  form.Text27->setText(QStringLiteral("2"));  // the shortest buffer the generator takes
  form.Text7->setText(QStringLiteral("4"));   // two tone periods: every picture on one phase
  if (!form.Command20->isEnabled()) return stop(QStringLiteral("the tone cannot be started"));
  // In the clock mode the start returns only after the stop.
  QTimer::singleShot(settings.seconds * 1000, form.Command4, &QPushButton::click);
  form.Command20->click();
  summary.runFolder = form.PictureFolder;
  Pause(200);
  form.Command16->click();
}

int CountPictures(const QString& folder, bool jpeg) {
  if (folder.isEmpty()) return 0;
  const QString pattern = jpeg ? QStringLiteral("*.jpg") : QStringLiteral("*.bmp");
  return static_cast<int>(QDir(folder).entryList({pattern}, QDir::Files).size());
}

}  // namespace

QString DemoSoundDeviceName() {
  return QStringLiteral("Встроенный выход в файл ") + QString::fromLatin1(kWavName);
}

QString DemoWavPath() {
  return QDir(recording::ProgramFolder()).filePath(QString::fromLatin1(kWavName));
}

void RegisterDemoDevices() {
  gstutil::RegisterVirtualSoundDevice(DemoSoundDeviceName(), DemoWavPath());
  gstutil::RegisterVirtualCameras();
}

DemoRunSummary RunDemo(const DemoRunSettings& settings) {
  DemoRunSummary summary;
  QStringList shown;
  const forms::MessageBoxFunction previous = forms::SetMessageBoxFunction(
      [&shown](const QString& text, const QString&) { shown << text; });
  {
    Form1 form;
    form.show();
    QTimer::singleShot(0, &form, [&] { Operate(form, settings, summary); });
    QApplication::exec();  // the exit button ends it
  }
  // The device writes the WAV's sizes when it is released, behind the stop.
  wave::WaitForReleases();
  forms::SetMessageBoxFunction(previous);
  summary.messages = shown;
  summary.pictures = CountPictures(summary.runFolder, settings.jpeg);
  summary.wavPath = DemoWavPath();
  const wave::WavContent wav = wave::ReadWav(summary.wavPath);
  if (wav.valid && wav.sampleRate > 0)
    summary.wavSeconds = static_cast<double>(wav.samples.size()) / wav.sampleRate;
  return summary;
}

QStringList SummaryLines(const DemoRunSummary& summary) {
  QStringList lines;
  lines << QStringLiteral("run folder: %1")
               .arg(summary.runFolder.isEmpty() ? QStringLiteral("(none)")
                                                : QDir::toNativeSeparators(summary.runFolder));
  lines << QStringLiteral("pictures written: %1").arg(summary.pictures);
  lines << QStringLiteral("tone WAV: %1, %2 s")
               .arg(QDir::toNativeSeparators(summary.wavPath))
               .arg(summary.wavSeconds, 0, 'f', 2);
  for (const QString& text : summary.messages) lines << QStringLiteral("message box: ") + text;
  if (!summary.failure.isEmpty()) lines << QStringLiteral("demo run failed: ") + summary.failure;
  return lines;
}

}  // namespace app
