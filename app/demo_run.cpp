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

// The row whose text is `name`, or else the one row that contains it (case aside); -1 and the
// reason when there is none or more than one.
int FindRow(const QComboBox& list, const QString& name, const QString& what, QString* why) {
  const int exact = list.findText(name);
  if (exact >= 0) return exact;
  QStringList matches;
  int row = -1;
  for (int i = 0; i < list.count(); ++i) {
    if (!list.itemText(i).contains(name, Qt::CaseInsensitive)) continue;
    matches << list.itemText(i);
    row = i;
  }
  if (matches.size() == 1) return row;
  *why = matches.isEmpty()
             ? QStringLiteral("no %1 matches \"%2\"; --list-devices shows them").arg(what, name)
             : QStringLiteral("\"%1\" matches several %2s: %3")
                   .arg(name, what, matches.join(QStringLiteral(", ")));
  return -1;
}

// The demo's settings, as an operator would set them for the built-in devices.
RunSettings DemoSettings(int seconds) {
  RunSettings run;
  run.seconds = seconds;
  run.soundDevice = DemoSoundDeviceName();
  run.camera = QString::fromLatin1(gstutil::kTestCameraYuy2);
  run.numerator = QStringLiteral("10");
  run.denominator = QStringLiteral("2");  // the shortest buffer the generator takes
  run.every = QStringLiteral("4");        // two tone periods: every picture on one phase
  run.showPictures = true;
  return run;
}

// The script; every step goes through the control or handler the operator would use.
void Operate(Form1& form, const DemoRunSettings& settings, DemoRunSummary& summary) {
  const RunSettings run = settings.run ? *settings.run : DemoSettings(settings.seconds);
  auto stop = [&](const QString& why) {
    summary.failure = why;
    form.Command16->click();
  };
  auto refuse = [&](const QString& why) {
    summary.refused = why;
    form.Command16->click();
  };
  QString why;
  if (!run.sampleRate.isEmpty()) form.Text15->setText(run.sampleRate);
  const int soundRow = run.soundDevice.isEmpty() ? 0  // the desktop's default output
                                                 : FindRow(*form.Combo1, run.soundDevice,
                                                           QStringLiteral("sound device"), &why);
  if (soundRow < 0 || soundRow >= form.Combo1->count())
    return refuse(why.isEmpty() ? QStringLiteral("no sound device found") : why);
  const qsizetype shown = summary.messages.size();
  ChooseRow(form.Combo1, soundRow);
  // The window answers a sound device with a message box (a rate that is no number) or, in
  // its status line, with whether the device takes the format.
  if (summary.messages.size() > shown) return refuse(summary.messages.takeLast());
  if (form.Label1->text() == QStringLiteral("формат этим устройством не поддерживается"))
    return refuse(form.Label1->text());
  (settings.filterGraph ? form.Option8 : form.Option7)->click();
  form.Command11->click();
  const QString camera = run.camera;
  if (!settings.filterGraph && form.CameraOn == 1 && !camera.isEmpty()) {
    // The capture window connects the first camera; its source dialog chooses another.
    const forms::DialogFunction previous = forms::SetDialogFunction([&](QDialog& dialog) {
      auto* cameras = dialog.findChild<QComboBox*>(QStringLiteral("Camera"));
      const int row = cameras ? FindRow(*cameras, camera, QStringLiteral("camera"), &why) : -1;
      if (row < 0 || row == cameras->currentIndex()) return int(QDialog::Rejected);
      cameras->setCurrentIndex(row);
      return int(QDialog::Accepted);
    });
    form.Command15->click();
    forms::SetDialogFunction(previous);
    if (!why.isEmpty()) return refuse(why);
  }
  if (settings.filterGraph) {
    const int cameraRow =
        camera.isEmpty() ? 0 : FindRow(*form.Combo2, camera, QStringLiteral("camera"), &why);
    if (cameraRow < 0 || cameraRow >= form.Combo2->count())
      return refuse(why.isEmpty() ? QStringLiteral("no camera found") : why);
    ChooseRow(form.Combo2, cameraRow);
    QRadioButton* format = settings.jpeg ? form.Option10 : form.Option9;
    format->click();
    if (!format->isChecked()) return stop(QStringLiteral("the picture format cannot be chosen"));
  }
  if (form.CameraOn != 1) return stop(QStringLiteral("the camera did not switch on"));
  Pause(500);  // the first frames arrive
  form.Check2->setChecked(true);
  form.Check3->setChecked(run.showPictures);
  if (!run.numerator.isEmpty()) form.Text4->setText(run.numerator);
  if (!run.denominator.isEmpty()) form.Text27->setText(run.denominator);
  if (!run.amplitude.isEmpty()) form.Text5->setText(run.amplitude);
  if (run.triangle) (*run.triangle ? form.Option2 : form.Option1)->click();
  if (run.phase270) (*run.phase270 ? form.Option4 : form.Option3)->click();
  if (!run.timer.isEmpty()) {
    form.Option6->click();
    form.Text20->setText(run.timer);
    const qsizetype before = summary.messages.size();
    form.Command3->click();
    if (summary.messages.size() > before) return refuse(summary.messages.takeLast());
  } else {
    form.Option5->click();
    if (!run.every.isEmpty()) form.Text7->setText(run.every);
  }
  if (!form.Command20->isEnabled()) return stop(QStringLiteral("the tone cannot be started"));
  // In the clock mode the start returns only after the stop; 0 seconds: until stopped.
  if (run.seconds > 0) QTimer::singleShot(run.seconds * 1000, form.Command4, &QPushButton::click);
  const qsizetype before = summary.messages.size();
  form.Command20->click();
  // A setting the start refused: its message, no tone, no run folder.
  if (summary.messages.size() > before && form.Gen.WaveOutHandle == 0 &&
      form.PictureFolder.isEmpty())
    return refuse(summary.messages.takeLast());
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
  // Recorded as they come: the script tells a refused setting by the box it brought.
  const forms::MessageBoxFunction previous = forms::SetMessageBoxFunction(
      [&summary](const QString& text, const QString&) { summary.messages << text; });
  {
    Form1 form;
    form.show();
    QTimer::singleShot(0, &form, [&] { Operate(form, settings, summary); });
    QApplication::exec();  // the exit button ends it
  }
  // The device writes the WAV's sizes when it is released, behind the stop.
  wave::WaitForReleases();
  forms::SetMessageBoxFunction(previous);
  summary.pictures = CountPictures(summary.runFolder, settings.jpeg);
  if (settings.run) return summary;  // a real sound device leaves no file to read
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
  if (!summary.wavPath.isEmpty()) {
    lines << QStringLiteral("tone WAV: %1, %2 s")
                 .arg(QDir::toNativeSeparators(summary.wavPath))
                 .arg(summary.wavSeconds, 0, 'f', 2);
  }
  for (const QString& text : summary.messages) lines << QStringLiteral("message box: ") + text;
  if (!summary.failure.isEmpty()) lines << QStringLiteral("demo run failed: ") + summary.failure;
  return lines;
}

}  // namespace app
