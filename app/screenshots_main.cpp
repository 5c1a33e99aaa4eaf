// Shows the main window and the help window on the current display and saves what they look
// like as PNG files into the folder given as the only argument; then switches the YUY2 test
// camera on in the capture-window back end and saves the main window with its preview.
//
// With --stamp FILE it saves instead the stamp of the longest values a day-long run reaches,
// picture 99 999 at T - T0 = 99 999.999 s, drawn into the picture window's text panel as an
// instant draws it, in the session's locale (scripts/doc_pictures.sh shows it per locale).

#include <QApplication>
#include <QDir>
#include <QLocale>
#include <QTimer>
#include <cstdio>

#include "app/app_style.h"
#include "app/main_window.h"
#include "platform/gst/virtual_devices.h"

namespace {

int SaveLongestStamp(const QString& file) {
  app::Form1 form1;
  generator::Instant instant;
  instant.number = 99999;
  instant.numberText = QStringLiteral("99999");
  // As the clock writes T - T0 into its box: the locale's decimal separator, no grouping.
  QLocale locale;
  locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
  instant.sinceT0Text = locale.toString(99999.999, 'g', 15);
  // A fixed moment late in a day, so that the picture does not change from one making to the
  // next.
  instant.dateTime = QDateTime(QDate(2026, 12, 28), QTime(23, 58, 58));
  forms::PictureBox& text = *form1.PictureWindow().Picture1;
  text.Cls();
  const QStringList lines = recording::StampLines(instant);
  recording::PrintStampLine(text, 0.25, 3, lines[0]);
  recording::PrintStampLine(text, 0.25, 1.5, lines[1]);
  const bool saved = text.Image().copy(recording::kStampRegion).save(file);
  std::printf("stamp %s: %s | %s\n", saved ? "saved" : "NOT saved", qPrintable(lines[0]),
              qPrintable(lines[1]));
  form1.Command16_Click();
  return saved ? 0 : 1;
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  app::ApplyApplicationStyle(application);
  gst::RegisterVirtualCameras();
  const QStringList arguments = QApplication::arguments();
  if (arguments.size() == 3 && arguments[1] == QStringLiteral("--stamp"))
    return SaveLongestStamp(arguments[2]);
  const QDir target(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
  app::Form1 form1;
  form1.show();
  form1.Command5_Click();
  int status = 0;
  auto save = [&](QWidget* window, const char* name) {
    const bool saved = window && window->grab().save(target.filePath(QString::fromLatin1(name)));
    if (!saved) status = 1;
  };
  // Let the window system map and paint both windows first.
  QTimer::singleShot(1500, [&] {
    save(&form1, "main-window.png");
    save(form1.HelpWindow(), "help-window.png");
    form1.Camera().Command11_Click();
    QTimer::singleShot(1500, [&] {
      save(&form1, "main-window-camera.png");
      std::printf("main window %dx%d, screenshots %s in %s\n", form1.width(), form1.height(),
                  status == 0 ? "saved" : "NOT saved", qPrintable(target.absolutePath()));
      form1.Command16_Click();
    });
  });
  application.exec();
  return status;
}
