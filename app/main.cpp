#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "app/app_style.h"
#include "app/main_window.h"
#include "platform/forms/application.h"

namespace {

// Qt aborts with a long plugin message when there is no display; say it in one line instead.
bool HaveDisplay() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform && *platform) return true;
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x11 && *x11) || (wayland && *wayland);
}

}  // namespace

int main(int argc, char* argv[]) {
  if (!HaveDisplay()) {
    std::fputs(
        "strobolux: no display found (DISPLAY and WAYLAND_DISPLAY are unset); "
        "start it from a desktop session or under Xvfb.\n",
        stderr);
    return 1;
  }
  forms::Application application(argc, argv);
  application.setQuitOnLastWindowClosed(false);  // the exit button ends the program
  app::ApplyApplicationStyle(application);
  app::Form1 form1;
  form1.show();
  return application.exec();
}
