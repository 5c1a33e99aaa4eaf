#include "recording/wiring.h"

#include "recording/frame_rule.h"

namespace recording {

void WireSubsystems(generator::Generator& generator, camera::CameraControl& camera,
                    PictureRecorder& recorder, QAbstractButton& videoStart) {
  using camera::CameraControl;
  using generator::Generator;
  // The recording follows the generator's runs; a picture the writer could not write ends
  // the run's recording.
  recorder.Follow(generator);
  QObject::connect(&recorder, &PictureRecorder::PictureFailed, &generator,
                   &Generator::FailRecording);
  // The strobe is the generator's to play; the picture window's dialog chooses it.
  generator.SetStrobe(StrobeChosen());
  QObject::connect(&recorder, &PictureRecorder::StrobeSet, &generator, &Generator::SetStrobe);
  // The date and time boxes are the generator's: a picture's stamp shows there at its instant.
  QObject::connect(&recorder, &PictureRecorder::StampDated, &generator, &Generator::ShowDateTime);
  // A video recording pauses the date and time display; its stop ends a running period clock.
  QObject::connect(&camera, &CameraControl::VideoStarting, &generator,
                   &Generator::PauseDateDisplay);
  QObject::connect(&camera, &CameraControl::ClockStopRequested, &generator,
                   &Generator::EndClockForVideo);
  QObject::connect(&camera, &CameraControl::VideoStopped, &generator,
                   &Generator::ResumeDateDisplay);
  QObject::connect(&camera, &CameraControl::CameraInfoShown, &generator,
                   &Generator::PrintOnSignalPanel);
  // The video's name comes from the recording's names, handed down with the click.
  QObject::connect(&videoStart, &QAbstractButton::clicked, &recorder,
                   [cam = &camera, rec = &recorder] { cam->Command24_Click(rec->NameVideo()); });
}

void LoadSubsystems(camera::CameraControl& camera, PictureRecorder& recorder) {
  recorder.Load();
  camera.Load();
}

void UnloadSubsystems(generator::Generator& generator, camera::CameraControl& camera) {
  generator.Unload();
  camera.ShutdownAtExit();
}

}  // namespace recording
