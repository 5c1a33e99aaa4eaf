#pragma once
// What the benches on the built-in camera share: folders of their own (pictures, and the
// settings where delays are stored, never the user's), the built-in sound device "bench",
// message boxes on stderr, the capture window's camera switched on, and a clock run.

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <exception>

#include "app/main_window.h"
#include "bench/bench_support.h"
#include "platform/forms/message_box.h"
#include "platform/gst/test_scene.h"
#include "platform/gst/virtual_devices.h"
#include "recording/output_files.h"

namespace bench {

class SceneBenchFolders {
 public:
  SceneBenchFolders() {
    for (const char* folder : {"Risunki", "SnapShot", "Video"})
      QDir(program_.path()).mkdir(QString::fromLatin1(folder));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_.path()));
    recording::SetProgramFolder(program_.path());
    gst::RegisterVirtualSoundDevice(QStringLiteral("bench"),
                                    program_.filePath(QStringLiteral("tone.wav")));
    forms::SetMessageBoxFunction([](const QString& text, const QString&) {
      std::fprintf(stderr, "message: %s\n", qPrintable(text));
    });
  }
  ~SceneBenchFolders() {
    recording::SetProgramFolder(QString());
    gst::ClearVirtualCameras();
    gst::ClearVirtualSoundDevices();
  }
  SceneBenchFolders(const SceneBenchFolders&) = delete;
  SceneBenchFolders& operator=(const SceneBenchFolders&) = delete;

 private:
  QTemporaryDir program_;
  QTemporaryDir config_;
};

// Whether the camera a picture takes its frame from has frames yet (it raises until it has).
inline bool PicturesHaveFrames(app::Form1& form) {
  try {
    return form.Camera().RecordingCamera().FrameCount() >= 3;
  } catch (const std::exception&) {
    return false;
  }
}

// The capture window's camera on, filming the scene with these settings, and the sound
// device "bench" chosen; waits (at most 10 s) for the camera's first frames, which a busy
// machine's test camera may take more than a second to give.
inline void SwitchOnSceneCamera(app::Form1& form, const gst::SceneSettings& scene) {
  gst::SetTestSceneSettings(scene);
  gst::RegisterVirtualCameras();  // the cameras offer the scene's frame rates
  form.Camera().Command11_Click();
  const int row = form.Combo1->findText(QStringLiteral("bench"));
  form.Combo1->setCurrentIndex(row);
  form.Generator().Combo1_Click(row);
  for (int waited = 0; waited < 10000 && !PicturesHaveFrames(form); waited += 100)
    RunEventsFor(100);
}

// A clock run at N/2 Hz with a picture every NC0 clock periods, stopped after `seconds`;
// returns when its pictures are written, with their folder.
inline QString RunClock(app::Form1& form, int numerator, int nc0, int seconds) {
  form.Option5->setChecked(true);
  form.Check2->setChecked(true);
  form.Text4->setText(QString::number(numerator));
  form.Text27->setText(QStringLiteral("2"));
  form.Text7->setText(QString::number(nc0));
  QTimer::singleShot(seconds * 1000, form.Command4, &QPushButton::click);
  form.Generator().Command20_Click();
  form.Recorder().WaitUntilWritten();
  return form.Recorder().Names().PictureFolder;
}

}  // namespace bench
