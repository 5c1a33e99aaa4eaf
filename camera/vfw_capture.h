#pragma once
// The capture-window back end: the driver list shown at switch-on, the capture window over
// the preview area, and the capture messages sent to it.

#include <QString>
#include <cstdint>

#include "platform/capture/capture.h"

namespace camera {

class CameraControl;
struct CameraControls;
struct CameraState;

class VfwCapture {
 public:
  // `owner` tells the rest of the program what the capture window reports on its own.
  VfwCapture(const CameraControls& controls, CameraState& state, CameraControl& owner)
      : controls_(controls), state_(state), owner_(owner) {}

  // The switch-on: driver list into CameraInfo, printed on Picture1; a new capture window
  // over Picture1, connected to driver 0 and previewing every 33 ms; CameraOn = 1.
  void SwitchOn();
  // WM_CAP_DRIVER_DISCONNECT to the capture window, its result into LastCapResult.
  void Disconnect();

  // The driver list text: the heading, an empty line and one line per driver.
  static QString DriverList();

 private:
  const CameraControls& controls_;
  CameraState& state_;
  CameraControl& owner_;
};

}  // namespace camera
