#pragma once
// run.json in a run's folder: how the run was taken (the window's settings, the devices, the
// camera's format and controls, the camera's delay applied, T0) and how it ended. Written
// when the run starts, again when T0 is known, and completed at its end, each time whole on
// the disk: a killed program leaves the start's record.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "generator/instant.h"
#include "recording/frame_analysis.h"
#include "recording/frame_files.h"
#include "recording/frame_rule.h"

namespace recording {

using ControlList = std::vector<std::pair<QString, int>>;  // control key and value

struct RunRecord {
  static constexpr const char* kFileName = "run.json";

  std::uint64_t run = 0;
  generator::RunSettings settings;
  double toneHz = 0;
  bool filterGraph = false;
  bool jpeg = false;
  FrameFiles frames = FrameFiles::None;
  FrameChoice frameChoice = FrameChoice::Nearest;  // the strobe is in the settings
  FrameAnalysisSettings allFrames;                 // what every frame of the run is analysed for
  std::optional<QDateTime> t0;                     // the wall clock's, with the zone it was read in

  struct Camera {
    QString name;
    QString identity;
    QString media;        // "video/x-raw" or "image/jpeg"
    QString pixelFormat;  // empty for JPEG
    int width = 0;
    int height = 0;
    double fps = 0;
    ControlList controlsStart;
    std::optional<ControlList> controlsEnd;
    bool locked = false;
    QStringList notLocked;  // what the lock could not hold
  };
  std::optional<Camera> camera;  // none when no camera was on

  std::optional<double> delayMs;
  std::optional<double> delayUncertaintyMs;

  struct End {
    QString how;  // "stop", "time up", "signal" or "failure"
    QString failure;
    QDateTime at;
  };
  std::optional<End> end;  // none while the run goes on
  // What the analysis of every frame found; none while the run goes on or when it was off.
  std::optional<FrameAnalysisResult> allFramesResult;
  QString allFramesRefused;  // why a run that asked for it had none (the Timer 1 mode)
  std::int64_t written = 0;
  std::int64_t notWritten = 0;

  QByteArray ToJson() const;
};

}  // namespace recording
