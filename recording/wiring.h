#pragma once
// How the three subsystems of a window tell each other things: the one wiring of the main
// window, which the tests' windows of the subsystems use as well. What flows between them
// goes up as signals to the one that owns what the signal changes: the generator's timers,
// date and time boxes and signal panel, the recording's runs.

#include <QAbstractButton>

#include "camera/camera_control.h"
#include "generator/generator.h"
#include "recording/picture_recorder.h"

namespace recording {

// Connects `camera` and `recorder` to `generator` and to each other; `videoStart` (Command24)
// starts a video named by the recording's names at the click. Call once, after all three are
// made and before LoadSubsystems.
void WireSubsystems(generator::Generator& generator, camera::CameraControl& camera,
                    PictureRecorder& recorder, QAbstractButton& videoStart);

// The camera's and the recording's part of the window's loading (the generator loads with the
// window that notices its device).
void LoadSubsystems(camera::CameraControl& camera, PictureRecorder& recorder);

// The subsystems' part of the window's exit: the tone stops, then a camera that is on lets go.
void UnloadSubsystems(generator::Generator& generator, camera::CameraControl& camera);

}  // namespace recording
