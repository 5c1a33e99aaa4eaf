// The window's part of recording one instant at 640 x 480 for each back end and format
// (median, p99): the stamp, the name, the frame request and the queueing; the picture itself
// is written by the writer's thread (bench_picture_path times that). Beside it, a bare frame
// copy + tjCompress2 (quality 70) + file write on the window's thread, as it once was.
//   Usage: bench_recording [pictures]   (default 100 per case)

#include <turbojpeg.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <vector>

#include "app/main_window.h"
#include "bench/bench_support.h"
#include "platform/forms/message_box.h"
#include "platform/gst/virtual_devices.h"
#include "recording/output_files.h"

namespace {

void Report(const char* name, const std::vector<double>& ms) {
  const double p99 = bench::Percentile(ms, 0.99);
  std::printf("  %-28s median %6.2f ms  p99 %6.2f ms  -> at most %.0f pictures/s\n", name,
              bench::Percentile(ms, 0.5), p99, 1000.0 / p99);
}

// The filter-graph JPEG picture done by hand: copy the frame, compress, write the file.
std::vector<double> Bare(app::Form1& form, const QString& folder, int pictures) {
  tjhandle compressor = tjInitCompress();
  std::vector<double> ms;
  for (int i = 0; i < pictures; ++i) {
    bench::RunEventsFor(15);
    const double t = bench::NowMs();
    const QImage frame = form.CameraState().FilterGraph->Camera()->LatestFrame()->Image().copy();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    tjCompress2(compressor, frame.constBits(), frame.width(),
                static_cast<int>(frame.bytesPerLine()), frame.height(), TJPF_BGRX, &jpeg, &size,
                TJSAMP_420, 70, TJFLAG_FASTDCT);
    QSaveFile file(folder + QStringLiteral("/bare.jpg"));
    file.open(QIODevice::WriteOnly);
    file.write(reinterpret_cast<const char*>(jpeg), static_cast<qint64>(size));
    file.commit();
    tjFree(jpeg);
    ms.push_back(bench::NowMs() - t);
  }
  tjDestroy(compressor);
  return ms;
}

}  // namespace

int main(int argc, char* argv[]) {
  bench::UseOffscreenWithoutDisplay();
  QApplication application(argc, argv);
  const int pictures = argc > 1 ? std::max(5, std::atoi(argv[1])) : 100;
  QTemporaryDir program;
  for (const char* folder : {"Risunki", "SnapShot", "Video"})
    QDir(program.path()).mkdir(QString::fromLatin1(folder));
  recording::SetProgramFolder(program.path());
  gst::RegisterVirtualCameras();
  forms::SetMessageBoxFunction([](const QString& text, const QString&) {
    std::fprintf(stderr, "message: %s\n", qPrintable(text));
  });

  std::printf(
      "RecordPicture (the window's part) at 640 x 480 from the test cameras, %d pictures "
      "a case\n",
      pictures);
  struct Case {
    const char* name;
    bool graph;
    bool jpeg;
  };
  for (const Case& c :
       {Case{"capture window, bmp", false, false}, Case{"filter graph, bmp", true, false},
        Case{"filter graph, jpg", true, true}}) {
    app::Form1 form;
    if (c.graph) {
      form.Option8->click();
      form.Camera().Command11_Click();
      form.Camera().DirectShow().BuildCameraGraph(1);  // the MJPEG camera
      (c.jpeg ? form.Option10 : form.Option9)->setChecked(true);
    } else {
      form.Camera().Command11_Click();
    }
    bench::RunEventsFor(500);
    form.Recorder().CreatePictureFolder(std::nullopt);
    std::vector<double> ms;
    for (int i = 1; i <= pictures; ++i) {
      bench::RunEventsFor(15);  // the camera moves on between pictures
      // An instant long past: a kept frame at once, no wait for a coming one, so that the
      // figures are the recording's and not the camera's frame interval.
      generator::Instant instant;
      instant.base = generator::TimeBase::TickCount;
      instant.number = i;
      instant.numberText = QString::number(i);
      instant.dateTime = QDateTime::currentDateTime();
      const double t = bench::NowMs();
      form.Recorder().RecordPicture(instant);
      ms.push_back(bench::NowMs() - t);
    }
    form.Recorder().WaitUntilWritten();
    Report(c.name, ms);
    if (c.jpeg) {
      std::vector<double> snap;
      for (int i = 0; i < pictures; ++i) {
        bench::RunEventsFor(15);
        const double t = bench::NowMs();
        form.Recorder().SnapDirectShowFrame(recording::kSnappedAndSaved);
        snap.push_back(bench::NowMs() - t);
      }
      Report("a snapshot's SnapDirectShowFrame", snap);
      const std::vector<double> bare = Bare(form, form.Recorder().Names().PictureFolder, pictures);
      Report("bare copy + tjCompress2 + write", bare);
    }
    form.Camera().Command13_Click();
    QDir(program.path() + QStringLiteral("/Risunki")).removeRecursively();
    QDir(program.path()).mkdir(QStringLiteral("Risunki"));
  }
  recording::SetProgramFolder(QString());
  gst::ClearVirtualCameras();
  return 0;
}
