#pragma once
// A private desktop session as a Debian 12 desktop runs it: a session bus, the PipeWire
// server with WirePlumber and pipewire-pulse, a null sink "labsink", a camera node served by
// PipeWire (its providing process a pw-cli that holds a video test source), and a headless
// weston for Wayland. Everything lives in a runtime folder of its own and ends with the
// session; this process's environment points at it, so GStreamer and Qt find it as they
// would on a desktop. A part that cannot start leaves Problem() saying why.

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <vector>

namespace testing_support {

inline constexpr const char* kLabSink = "labsink";
// What pipewire-pulse and PipeWire name the null sink, as the desktop shows it.
inline constexpr const char* kLabSinkName = "labsink Audio/Sink sink";
inline constexpr const char* kPipeWireCamera = "Лабораторная камера PipeWire";

class DesktopSession {
 public:
  DesktopSession();
  ~DesktopSession();
  DesktopSession(const DesktopSession&) = delete;
  DesktopSession& operator=(const DesktopSession&) = delete;

  // Each returns false with Problem() set when its part cannot start.
  bool StartSound();    // bus, PipeWire, WirePlumber, pipewire-pulse and the null sink
  bool StartCamera();   // the camera node's providing process; waits until the node is there
  bool StartWayland();  // headless weston; sets WAYLAND_DISPLAY in this environment
  QString Problem() const { return problem_; }

  void StopCamera();  // the providing process ends: the node goes away
  bool UnloadSink();
  bool LoadSink();
  void StopSoundServer();  // PipeWire, WirePlumber and pipewire-pulse end
  bool StartSoundServer();

  QString WaylandDisplay() const { return wayland_; }
  // The output of a command run in the session (its exit status in `status`).
  QString Run(const QString& program, const QStringList& arguments, int* status = nullptr,
              int timeoutMs = 10000) const;

 private:
  QProcess* Launch(const QString& program, const QStringList& arguments);
  bool Fail(const QString& why);
  bool WaitForPulse();

  QTemporaryDir runtime_;
  QString problem_;
  QString wayland_;
  QString sink_module_;
  std::vector<std::unique_ptr<QProcess>> daemons_;  // in start order; ended in reverse
  std::vector<QProcess*> sound_server_;             // of daemons_
  QProcess* camera_ = nullptr;                      // of daemons_
};

}  // namespace testing_support
