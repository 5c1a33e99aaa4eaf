#pragma once
// The filter-graph back end, as the switching sees it: the camera listing at switch-on, and
// the stop of the graph at switch-off and exit. Until the filter graph exists these steps
// have nothing to act on.

namespace camera {

struct CameraControls;

class DirectShowCapture {
 public:
  explicit DirectShowCapture(const CameraControls& controls) : c_(controls) {}

  // Step 4 of the switch-on: fills Combo2 and writes the status line.
  void ListCameras();
  // Switch-off: stop and hide the preview, disconnect the pin, release the graph.
  void SwitchOff();
  // The exit: stop and hide the preview, nothing released.
  void ShutdownAtExit();

 private:
  [[maybe_unused]] const CameraControls& c_;
};

}  // namespace camera
