#pragma once
// The filter-graph back end: the camera listing into Combo2, the graph of the chosen camera
// with its preview window over the preview area, the stop-and-hide, and the current frame
// as a packed bitmap.

#include <cstdint>

#include "platform/forms/basic_array.h"
#include "platform/graph/graph.h"
#include "platform/graph/video_devices.h"

namespace camera {

class CameraControl;
struct CameraControls;
struct CameraState;

class DirectShowCapture {
 public:
  // `owner` tells the rest of the program what the graph shows of the camera.
  DirectShowCapture(const CameraControls& controls, CameraState& state, CameraControl& owner)
      : controls_(controls), state_(state), owner_(owner) {}

  // Step 4 of the switch-on: fills Combo2 and writes the status line.
  void ListCameras();
  void Combo2_Click();
  void BuildCameraGraph(std::int16_t row);
  void StartPreview();
  // After a new pin format: one more "AVI Decompressor", the pin rendered, the preview
  // started; a failure shows in the status line and leaves no graph.
  void RenderAndPreview();
  // Stop the graph and hide and detach its window.
  void StopAndHide();
  // Switch-off: stop and hide, disconnect the pin, release the graph.
  void SwitchOff();
  // The exit: stop and hide, nothing released.
  void ShutdownAtExit();
  // The current frame: pause, wait until paused (2 s at most), read the packed bitmap, run
  // again. Raises a run-time error when the graph does not pause or has no frame; the graph
  // runs again in any case.
  forms::LongArray CurrentImage();

 private:
  void AddDecompressorRenderAndPreview();
  // A graph that failed, or that a new choice replaces, stops and goes.
  void ReleaseGraph();
  void ShowFailure(const QString& reason);

  const CameraControls& controls_;
  CameraState& state_;
  CameraControl& owner_;
  bool previewing_ = false;  // this back end's preview ran and set CameraOn
};

}  // namespace camera
