#include "app/startup_options.h"

#include "platform/gst/camera_devices.h"
#include "platform/wave/wave_out.h"

#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>
#include <cstring>

namespace app {
namespace {

QString Env(const char* name) {
  return qEnvironmentVariable(name);
}

// Whether something accepts a connection on this Unix socket.
bool SocketAnswers(const QString& path) {
  const QByteArray native = QFile::encodeName(path);
  sockaddr_un address{};
  if (native.isEmpty() || static_cast<size_t>(native.size()) >= sizeof(address.sun_path))
    return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, native.constData(), static_cast<size_t>(native.size()));
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool answered =
      ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
  ::close(fd);
  return answered;
}

// Opens and closes the X display as Qt would, authorisation included. libX11 is loaded only
// for this question; without it the local socket of a ":N" display is tried instead.
bool XDisplayOpens(const QString& display) {
  struct Library {
    void* handle = dlopen("libX11.so.6", RTLD_LAZY | RTLD_LOCAL);
    ~Library() {
      if (handle) dlclose(handle);
    }
  } x11;
  if (x11.handle) {
    using Open = void* (*)(const char*);
    using Close = int (*)(void*);
    auto open = reinterpret_cast<Open>(dlsym(x11.handle, "XOpenDisplay"));
    auto close = reinterpret_cast<Close>(dlsym(x11.handle, "XCloseDisplay"));
    if (open && close) {
      void* connection = open(display.toLocal8Bit().constData());
      if (!connection) return false;
      close(connection);
      return true;
    }
  }
  if (!display.startsWith(QLatin1Char(':'))) return true;  // a remote one: let Qt try it
  const QString number = display.mid(1).section(QLatin1Char('.'), 0, 0);
  return SocketAnswers(QStringLiteral("/tmp/.X11-unix/X") + number);
}

QString WaylandSocket(const QString& name) {
  if (QDir::isAbsolutePath(name)) return name;
  const QString runtime = Env("XDG_RUNTIME_DIR");
  return runtime.isEmpty() ? QString() : QDir(runtime).filePath(name);
}

}  // namespace

std::optional<StartupOptions> ParseStartupOptions(const QStringList& arguments,
                                                  const QString& programFolderVariable,
                                                  QString* error) {
  StartupOptions options;
  options.programFolder = programFolderVariable;
  bool backEndGiven = false, formatGiven = false;
  auto fail = [&](const QString& text) -> std::optional<StartupOptions> {
    *error = text;
    return std::nullopt;
  };
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    const QString& argument = arguments[i];
    auto value = [&]() -> std::optional<QString> {
      if (i + 1 >= arguments.size()) return std::nullopt;
      return arguments[++i];
    };
    if (argument == QLatin1String("--demo")) {
      options.demo = true;
    } else if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
      options.help = true;
    } else if (argument == QLatin1String("--list-devices")) {
      options.listDevices = true;
    } else if (argument == QLatin1String("--check-display")) {
      options.checkDisplay = true;
    } else if (argument == QLatin1String("--demo-run")) {
      const std::optional<QString> text = value();
      bool number = false;
      const int seconds = text ? text->toInt(&number) : 0;
      if (!number || seconds < 1 || seconds > 86400)
        return fail(QStringLiteral("--demo-run needs a number of seconds from 1 to 86400"));
      options.demoRunSeconds = seconds;
    } else if (argument == QLatin1String("--back-end") || argument == QLatin1String("--format")) {
      // Each takes one of two words; the second one switches the option on.
      const bool backEnd = argument == QLatin1String("--back-end");
      const QLatin1String off(backEnd ? "capture" : "bmp"), on(backEnd ? "graph" : "jpg");
      const std::optional<QString> text = value();
      if (!text || (*text != off && *text != on))
        return fail(QStringLiteral("%1 is either %2 or %3").arg(argument, off, on));
      (backEnd ? options.filterGraph : options.jpeg) = *text == on;
      (backEnd ? backEndGiven : formatGiven) = true;
    } else if (argument == QLatin1String("--program-folder")) {
      const std::optional<QString> text = value();
      if (!text || text->isEmpty()) return fail(QStringLiteral("--program-folder needs a folder"));
      options.programFolder = *text;
    } else {
      return fail(
          QStringLiteral("unknown argument \"%1\"; --help lists the options").arg(argument));
    }
  }
  if ((backEndGiven || formatGiven) && options.demoRunSeconds == 0)
    return fail(QStringLiteral("--back-end and --format belong to --demo-run"));
  // The capture window saves its frames as BMP only.
  if (options.jpeg && !options.filterGraph)
    return fail(QStringLiteral("--format jpg needs --back-end graph"));
  if (!options.programFolder.isEmpty())
    options.programFolder = QFileInfo(options.programFolder).absoluteFilePath();
  return options;
}

QString UsageText() {
  return QStringLiteral(
      "usage: strobolux [--demo] [--program-folder DIR]\n"
      "       strobolux --demo-run SECONDS [--back-end capture|graph] [--format bmp|jpg]\n"
      "                 [--program-folder DIR]\n"
      "  --demo            list the built-in sound device (a WAV file in the program folder)\n"
      "                    and two test cameras after the real devices\n"
      "  --demo-run N      work the window as an operator would for N seconds: tone 10/2 Hz,\n"
      "                    a stamped picture every 5 periods; print what was written\n"
      "  --list-devices    print the sound devices and cameras found\n"
      "  --check-display   exit with status 0 when a window can be shown, else say why\n"
      "  --program-folder  where Risunki/, SnapShot/ and Video/ are (default: the\n"
      "                    executable's folder; also STROBOLUX_PROGRAM_FOLDER)\n");
}

QStringList DeviceLines() {
  QStringList lines;
  const auto count = static_cast<int>(wave::waveOutGetNumDevs());
  for (int device = 0; device < count; ++device) {
    wave::WAVEOUTCAPS caps;
    if (wave::waveOutGetDevCaps(device, &caps) == wave::MMSYSERR_NOERROR)
      lines << QStringLiteral("sound device: ") + caps.szPname;
  }
  for (const gstutil::CameraDevice& camera : gstutil::ListCameras())
    lines << QStringLiteral("camera: ") + camera.name;
  return lines;
}

QString ProgramFolderProblem(const QString& folder) {
  const QFileInfo info(folder);
  if (!info.exists()) return QStringLiteral("program folder %1 does not exist").arg(folder);
  if (!info.isDir()) return QStringLiteral("program folder %1 is not a folder").arg(folder);
  // Asking for the permission bits is not enough (root, read-only mounts): try a file.
  QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".strobolux-XXXXXX")));
  if (!probe.open()) return QStringLiteral("program folder %1 is not writable").arg(folder);
  return QString();
}

QString DisplayProblem() {
  const QString platform = Env("QT_QPA_PLATFORM").section(QLatin1Char(':'), 0, 0);
  const bool wantX = platform.isEmpty() || platform == QLatin1String("xcb");
  const bool wantWayland = platform.isEmpty() || platform.startsWith(QLatin1String("wayland"));
  if (!wantX && !wantWayland) return QString();  // offscreen, vnc, …: no display needed
  const QString x = wantX ? Env("DISPLAY") : QString();
  const QString wayland = wantWayland ? Env("WAYLAND_DISPLAY") : QString();
  if (x.isEmpty() && wayland.isEmpty()) {
    return QStringLiteral(
        "no display found (DISPLAY and WAYLAND_DISPLAY are unset); start it from a desktop "
        "session or under Xvfb, or try --demo-run SECONDS, which needs none");
  }
  if (!wayland.isEmpty() && SocketAnswers(WaylandSocket(wayland))) return QString();
  if (!x.isEmpty() && XDisplayOpens(x)) return QString();
  QStringList failed;
  if (!x.isEmpty()) failed << QStringLiteral("X display \"%1\" (DISPLAY)").arg(x);
  if (!wayland.isEmpty())
    failed << QStringLiteral("Wayland display \"%1\" (WAYLAND_DISPLAY)").arg(wayland);
  return QStringLiteral(
             "cannot open the %1; is the display server running and open to this "
             "user? --demo-run SECONDS needs no display")
      .arg(failed.join(QStringLiteral(" nor the ")));
}

}  // namespace app
