#pragma once
// Tests set up conditions a run would have made (a device the window still holds, a marker
// value) in a subsystem's state, which the program itself only reads.

#include "camera/camera_control.h"
#include "generator/generator.h"

namespace camera {
struct CameraTestAccess {
  static CameraState& State(CameraControl& camera) { return camera.state_; }
};
}  // namespace camera

namespace generator {
struct GeneratorTestAccess {
  static GeneratorState& State(Generator& generator) { return generator.state_; }
};
}  // namespace generator

namespace testing_support {

inline camera::CameraState& WritableState(camera::CameraControl& camera) {
  return camera::CameraTestAccess::State(camera);
}
inline generator::GeneratorState& WritableState(generator::Generator& generator) {
  return generator::GeneratorTestAccess::State(generator);
}

}  // namespace testing_support
