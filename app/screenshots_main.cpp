// Shows the main window and the help window on the current display and saves what they look
// like as PNG files into the folder given as the only argument.

#include <QApplication>
#include <QDir>
#include <QTimer>
#include <cstdio>

#include "app/app_style.h"
#include "app/main_window.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  app::ApplyApplicationStyle(application);
  const QDir target(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
  app::Form1 form1;
  form1.show();
  form1.Command5_Click();
  int status = 0;
  // Let the window system map and paint both windows first.
  QTimer::singleShot(1500, [&] {
    const bool mainSaved = form1.grab().save(target.filePath(QStringLiteral("main-window.png")));
    const bool helpSaved =
        form1.HelpWindow() &&
        form1.HelpWindow()->grab().save(target.filePath(QStringLiteral("help-window.png")));
    status = mainSaved && helpSaved ? 0 : 1;
    std::printf("main window %dx%d, screenshots %s in %s\n", form1.width(), form1.height(),
                status == 0 ? "saved" : "NOT saved", qPrintable(target.absolutePath()));
    form1.Command16_Click();
  });
  application.exec();
  return status;
}
