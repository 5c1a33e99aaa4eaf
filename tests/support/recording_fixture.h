#pragma once
// The fixture's folders and virtual sound device around a window that records: the program
// folder is the fixture's. RecordingWindowFixture: the subsystems without the application.

#include <exception>

#include "camera/camera_control.h"
#include "platform/gst/camera_pipeline.h"
#include "recording/output_files.h"
#include "tests/support/generator_fixture.h"
#include "tests/support/recording_window.h"

namespace testing_support {

// Whether the camera a picture takes its frame from has frames yet (it raises until it has).
inline bool RecordingCameraDelivers(const camera::CameraControl& camera) {
  try {
    return camera.RecordingCamera().FrameCount() >= 3;
  } catch (const std::exception&) {
    return false;
  }
}

template <class Window>
class RecordingFixture : public WindowFixture<Window> {
 protected:
  void SetUp() override {
    DeviceFixture::SetUp();
    if (this->HasFatalFailure()) return;
    recording::SetProgramFolder(this->ProgramFolder());
    this->MakeWindow();
  }
  void TearDown() override {
    WindowFixture<Window>::TearDown();
    recording::SetProgramFolder(QString());
  }
};

using RecordingWindowFixture = RecordingFixture<RecordingWindow>;

}  // namespace testing_support
