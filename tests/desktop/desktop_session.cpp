#include "tests/desktop/desktop_session.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QThread>
#include <csignal>
#include <functional>

namespace testing_support {
namespace {

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer elapsed;
  elapsed.start();
  while (!done()) {
    if (elapsed.elapsed() > timeoutMs) return false;
    QThread::msleep(20);
  }
  return true;
}

}  // namespace

DesktopSession::DesktopSession() {
  // The session's own runtime, state and configuration folders: nothing of the machine's
  // desktop (or of another test) is met, and nothing is left behind.
  QFile::setPermissions(runtime_.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  qputenv("XDG_RUNTIME_DIR", runtime_.path().toUtf8());
  qputenv("PIPEWIRE_RUNTIME_DIR", runtime_.path().toUtf8());
  qputenv("XDG_STATE_HOME", (runtime_.path() + QStringLiteral("/state")).toUtf8());
  qputenv("XDG_CONFIG_HOME", (runtime_.path() + QStringLiteral("/config")).toUtf8());
  qputenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + runtime_.path() + "/bus").toUtf8());
  qunsetenv("PULSE_SERVER");
  qunsetenv("WAYLAND_DISPLAY");
}

DesktopSession::~DesktopSession() {
  for (auto it = daemons_.rbegin(); it != daemons_.rend(); ++it) {
    QProcess& process = **it;
    if (process.state() == QProcess::NotRunning) continue;
    process.terminate();
    if (!process.waitForFinished(3000)) {
      process.kill();
      process.waitForFinished(3000);
    }
  }
}

bool DesktopSession::Fail(const QString& why) {
  if (problem_.isEmpty()) problem_ = why;
  return false;
}

QProcess* DesktopSession::Launch(const QString& program, const QStringList& arguments) {
  if (QStandardPaths::findExecutable(program).isEmpty()) {
    Fail(QStringLiteral("%1 is not installed (scripts/test.sh installs it)").arg(program));
    return nullptr;
  }
  auto process = std::make_unique<QProcess>();
  process->setProcessChannelMode(QProcess::MergedChannels);
  process->setStandardOutputFile(runtime_.filePath(program + QStringLiteral(".log")),
                                 QIODevice::Append);
  process->start(program, arguments);
  if (!process->waitForStarted(5000)) {
    Fail(QStringLiteral("%1 did not start: %2").arg(program, process->errorString()));
    return nullptr;
  }
  daemons_.push_back(std::move(process));
  return daemons_.back().get();
}

QString DesktopSession::Run(const QString& program, const QStringList& arguments, int* status,
                            int timeoutMs) const {
  QProcess process;
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(program, arguments);
  const bool ended = process.waitForStarted(5000) && process.waitForFinished(timeoutMs);
  if (!ended) process.kill();
  if (status)
    *status = ended && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  return QString::fromUtf8(process.readAll());
}

bool DesktopSession::WaitForPulse() {
  return WaitUntil(
      [&] {
        int status = -1;
        Run(QStringLiteral("pactl"), {QStringLiteral("info")}, &status, 2000);
        return status == 0;
      },
      10000);
}

bool DesktopSession::StartSoundServer() {
  sound_server_.clear();
  QProcess* pipewire = Launch(QStringLiteral("pipewire"), {});
  if (!pipewire) return false;
  if (!WaitUntil([&] { return QFile::exists(runtime_.filePath(QStringLiteral("pipewire-0"))); },
                 5000))
    return Fail(QStringLiteral("pipewire made no socket; see %1").arg(runtime_.path()));
  QProcess* session_manager = Launch(QStringLiteral("wireplumber"), {});
  QProcess* pulse = session_manager ? Launch(QStringLiteral("pipewire-pulse"), {}) : nullptr;
  if (!pulse) return false;
  sound_server_ = {pipewire, session_manager, pulse};
  if (WaitForPulse()) return true;
  // Once seen on a loaded machine: pipewire-pulse up before the server took its clients.
  pulse->terminate();
  pulse->waitForFinished(3000);
  pulse = Launch(QStringLiteral("pipewire-pulse"), {});
  if (!pulse) return false;
  sound_server_.back() = pulse;
  if (!WaitForPulse()) return Fail(QStringLiteral("pipewire-pulse does not answer pactl"));
  return true;
}

void DesktopSession::StopSoundServer() {
  for (auto it = sound_server_.rbegin(); it != sound_server_.rend(); ++it) {
    (*it)->terminate();
    (*it)->waitForFinished(3000);
  }
  sound_server_.clear();
  sink_module_.clear();
}

bool DesktopSession::StartSound() {
  if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
    return Fail(QStringLiteral("dbus-daemon is not installed"));
  if (!Launch(
          QStringLiteral("dbus-daemon"),
          {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
           QStringLiteral("--address=unix:path=") + runtime_.filePath(QStringLiteral("bus"))}))
    return false;
  if (!WaitUntil([&] { return QFile::exists(runtime_.filePath(QStringLiteral("bus"))); }, 5000))
    return Fail(QStringLiteral("the session bus did not start"));
  return StartSoundServer() && LoadSink();
}

bool DesktopSession::LoadSink() {
  int status = -1;
  const QString module = Run(QStringLiteral("pactl"),
                             {QStringLiteral("load-module"), QStringLiteral("module-null-sink"),
                              QStringLiteral("sink_name=") + QString::fromLatin1(kLabSink)},
                             &status)
                             .trimmed();
  if (status != 0) return Fail(QStringLiteral("pactl could not load a null sink: ") + module);
  sink_module_ = module;
  // WirePlumber takes a moment to publish the sink to PipeWire's clients.
  const bool listed = WaitUntil(
      [&] {
        return Run(QStringLiteral("pactl"),
                   {QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sinks")})
            .contains(QString::fromLatin1(kLabSink));
      },
      5000);
  return listed || Fail(QStringLiteral("the null sink does not appear"));
}

bool DesktopSession::UnloadSink() {
  if (sink_module_.isEmpty()) return false;
  int status = -1;
  Run(QStringLiteral("pactl"), {QStringLiteral("unload-module"), sink_module_}, &status);
  sink_module_.clear();
  return status == 0;
}

bool DesktopSession::StartCamera() {
  // pw-cli holds the node for as long as it runs, as a camera application would.
  camera_ = Launch(QStringLiteral("pw-cli"), {});
  if (!camera_) return false;
  const QString command =
      QStringLiteral(
          "create-node spa-node-factory { factory.name=videotestsrc "
          "library.name=videotestsrc/libspa-videotestsrc node.name=strobolux-lab-camera "
          "node.description=\"%1\" media.class=Video/Source }\n")
          .arg(QString::fromUtf8(kPipeWireCamera));
  camera_->write(command.toUtf8());
  camera_->waitForBytesWritten(2000);
  const bool there = WaitUntil(
      [&] {
        return Run(QStringLiteral("pw-cli"), {QStringLiteral("ls"), QStringLiteral("Node")})
            .contains(QStringLiteral("strobolux-lab-camera"));
      },
      5000);
  return there || Fail(QStringLiteral("the PipeWire camera node did not appear"));
}

void DesktopSession::StopCamera() {
  if (!camera_) return;
  camera_->kill();  // the providing process ends without a word, as a crashed one would
  camera_->waitForFinished(3000);
  camera_ = nullptr;
}

bool DesktopSession::StartWayland() {
  wayland_ = QStringLiteral("wayland-strobolux");
  if (!Launch(
          QStringLiteral("weston"),
          {QStringLiteral("--backend=headless-backend.so"), QStringLiteral("--socket=") + wayland_,
           QStringLiteral("--idle-time=0"), QStringLiteral("--no-config")}))
    return false;
  // The socket comes first; the compositor is ready once it starts its shell client.
  QFile log(runtime_.filePath(QStringLiteral("weston.log")));
  const bool ready = WaitUntil(
      [&] {
        if (!QFile::exists(runtime_.filePath(wayland_)) || !log.open(QIODevice::ReadOnly))
          return false;
        const bool shell = log.readAll().contains("weston-desktop-shell");
        log.close();
        return shell;
      },
      10000);
  if (!ready) return Fail(QStringLiteral("weston did not become ready"));
  qputenv("WAYLAND_DISPLAY", wayland_.toUtf8());
  return true;
}

}  // namespace testing_support
