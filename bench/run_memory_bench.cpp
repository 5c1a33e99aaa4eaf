// Memory over a long recording run: the filter-graph JPEG back end on the MJPEG test camera,
// tone 30/2 Hz with NC0 = 1 (30 pictures a second) on the virtual sound device, through the
// main window's own start and stop. Prints the resident size once a minute and, at the end,
// how much it grew after the first minute.
//   Usage: bench_run_memory [minutes]   (default 30)

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

#include "app/main_window.h"
#include "bench/bench_support.h"
#include "platform/forms/message_box.h"
#include "recording/output_files.h"

namespace {

// Resident set size in MB, from /proc/self/status.
double RssMb() {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) return 0;
  for (const QByteArray& line : status.readAll().split('\n')) {
    if (line.startsWith("VmRSS:"))
      return line.mid(6).trimmed().split(' ').front().toDouble() / 1024;
  }
  return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  bench::UseOffscreenWithoutDisplay();
  QApplication application(argc, argv);
  const int minutes = argc > 1 ? std::max(2, std::atoi(argv[1])) : 30;
  QTemporaryDir program;
  for (const char* folder : {"Risunki", "SnapShot", "Video"})
    QDir(program.path()).mkdir(QString::fromLatin1(folder));
  recording::SetProgramFolder(program.path());
  gst::RegisterVirtualCameras();
  bench::VirtualSoundDevice(program.filePath(QStringLiteral("tone.wav")));
  int messages = 0;
  forms::SetMessageBoxFunction([&messages](const QString& text, const QString&) {
    ++messages;
    std::fprintf(stderr, "message: %s\n", qPrintable(text));
  });

  app::Form1 form;
  const int soundRow = form.Combo1->findText(QStringLiteral("bench"));
  form.Combo1->setCurrentIndex(soundRow);
  emit form.Combo1->Click(soundRow);
  form.Option8->click();
  form.Camera().Command11_Click();
  form.Camera().DirectShow().BuildCameraGraph(1);  // the MJPEG camera
  form.Option10->setChecked(true);
  bench::RunEventsFor(500);
  form.Option5->click();
  form.Check2->setChecked(true);
  form.Text4->setText(QStringLiteral("30"));
  form.Text27->setText(QStringLiteral("2"));
  form.Text7->setText(QStringLiteral("1"));

  std::printf("filter graph, jpg, 30 pictures/s for %d min; RSS each minute:\n", minutes);
  std::fflush(stdout);
  double afterFirstMinute = 0;
  double last = 0;
  int minute = 0;
  QTimer every;
  QObject::connect(&every, &QTimer::timeout, [&] {
    ++minute;
    last = RssMb();
    if (minute == 1) afterFirstMinute = last;
    std::printf("  %3d min  %7.1f MB  picture %d\n", minute, last, form.Gen().PictureNumber);
    std::fflush(stdout);
    if (minute == minutes) form.Command4->click();
  });
  every.start(60 * 1000);
  form.Command20->click();  // the clock mode returns after the stop
  const int pictures = form.Gen().PictureNumber;
  std::printf("pictures %d, messages %d; RSS grew %.1f MB after the first minute\n", pictures,
              messages, last - afterFirstMinute);
  std::printf("  target: less than 2 MB\n");
  form.Camera().Command13_Click();
  recording::SetProgramFolder(QString());
  return 0;
}
