#pragma once
// Exposure, gain and white balance held through a run: what the automatic modes reached at the
// run's start is set by hand, and the operator's modes come back at its end.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <utility>
#include <vector>

namespace gst {

class CameraControls;

// The operator's choice on the properties page, kept in the user's settings.
bool ExposureLockChosen();
void ChooseExposureLock(bool on);
// --lock-exposure: chosen for this process whatever the settings say; nothing is stored.
void ForceExposureLock();

// The lock of one run, on the V4L2 controls (V4L2 ids) of a camera.
class ExposureLock {
 public:
  // Reads the values the automatic modes reached, switches the automatic modes and exposure
  // priority off, and sets those values by hand. Returns what could not be locked, as Russian
  // texts (empty: all held). A lock still held is restored first.
  QStringList Lock(CameraControls& controls);
  // Restores the automatic modes (and priority) the operator had; nothing when not locked.
  void Restore(CameraControls& controls);
  bool Locked() const { return locked_; }
  ~ExposureLock();
  ExposureLock() = default;
  ExposureLock(const ExposureLock&) = delete;
  ExposureLock& operator=(const ExposureLock&) = delete;

 private:
  bool locked_ = false;
  std::vector<std::pair<std::uint32_t, int>> switched_;  // control and its value, in order
};

// What the lock cannot hold on this camera, as Russian texts (what the properties page says).
QStringList UnlockableParts(CameraControls& controls);

// Whether an automatic mode holds this control now: the exposure time while automatic
// exposure is on, the gain under automatic gain, the colour temperature under automatic white
// balance.
bool HeldByAutomaticMode(CameraControls& controls, std::uint32_t id);

// Whether a run's lock holds this control now (a mode it switched off, a value it set): a
// camera opened again during the run keeps it rather than a stored value.
bool HeldForRun(std::uint32_t id);

}  // namespace gst
