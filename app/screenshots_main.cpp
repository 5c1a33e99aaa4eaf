// Shows the main window and the help window on the current display and saves what they look
// like as PNG files into the folder given as the only argument; then switches the YUY2 test
// camera on in the capture-window back end and saves the main window with its preview.

#include <QApplication>
#include <QDir>
#include <QTimer>
#include <cstdio>

#include "app/app_style.h"
#include "app/main_window.h"
#include "platform/gst/virtual_devices.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  app::ApplyApplicationStyle(application);
  gst::RegisterVirtualCameras();
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
