#pragma once
// What every frame of a run says, beside the pictures at its instants: the frames sorted by
// their exposure phase into bins (one period of the motion at many phases), and each pixel's
// response at the tone's frequency (lock-in maps). The camera's streaming thread hands each
// frame over; a thread of the analysis's own adds it to the sums, so neither the window nor the
// camera waits for it, and memory is bounded by the frame's and the picture's size. The run's
// end writes what the sums hold into its folder, on the picture writer's thread.

#include <QColor>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace gst {
class CameraPipeline;
}

namespace recording {

struct FrameTiming;

// The operator's choice (the picture window's dialog, kept in the user's settings; or forced
// for a scripted run).
struct FrameAnalysisSettings {
  static constexpr double kDefaultBinsFps = 12;
  int phaseBins = 0;                 // 0: off; else the number of bins
  double binsFps = kDefaultBinsFps;  // the period's animation
  bool lockIn = false;
  bool On() const { return phaseBins > 0 || lockIn; }
};
FrameAnalysisSettings FrameAnalysisChosen();
void ChooseFrameAnalysis(const FrameAnalysisSettings& settings);
void ForceFrameAnalysis(const std::optional<FrameAnalysisSettings>& settings);

// What the analysis of a run found and wrote, for its record and the operator.
struct FrameAnalysisResult {
  std::int64_t frames = 0;   // analysed
  std::int64_t dropped = 0;  // handed over while the analysis was still busy with earlier ones
  std::int64_t beforeFirstInstant = 0;  // the tone's timeline reaches the analysis with it
  std::int64_t outside = 0;      // before the tone's first sample, after its stop, of another size
  bool exposureUnknown = false;  // the camera did not say: taken as an instant, no smear corrected
  // Phase bins (none when off): frames in each bin, and whether the pictures were written.
  std::optional<std::vector<std::int64_t>> binFrames;
  int emptyBins = 0;
  bool binsWritten = false;
  // Lock-in (none when off): the distinct whole degrees the frames took, whether the maps were
  // written.
  std::optional<int> distinctPhases;
  bool mapsWritten = false;
  QStringList files;  // written, relative to the run's folder
  // What the operator is told (empty bins and why, maps not made and why, files that could not
  // be written): Russian for the status line, English for a scripted run's output.
  QString note;
  QString line;
  QString failure;  // a file that could not be written, with the reason
};

// The run's facts the analysis needs.
struct FrameAnalysisSetup {
  FrameAnalysisSettings settings;
  double toneHz = 0;
  double frameRate = 0;         // the camera's, frames a second (0: unknown)
  double pictureIntervalS = 0;  // between two instants
  QSize picture;                // the run's pictures' size
  bool stretch = true;          // frames stretched over the picture, or laid at their own size
  QColor background = Qt::white;
};

class FrameAnalysis {
 public:
  // Frames waiting for the analysis's thread; more are counted as dropped, so that a slow
  // analysis never holds more of the camera's buffers than this.
  static constexpr std::size_t kMostWaiting = 4;

  explicit FrameAnalysis(const FrameAnalysisSetup& setup);
  ~FrameAnalysis();
  FrameAnalysis(const FrameAnalysis&) = delete;
  FrameAnalysis& operator=(const FrameAnalysis&) = delete;

  // On the window's thread: every frame of `camera` from now on; the tone's timeline and the
  // camera's delay and exposure as the latest instant placed them; the tone's stop, after which
  // no frame counts and the camera is let go.
  void Observe(gst::CameraPipeline& camera);
  void Follow(const FrameTiming& timing);
  void Stop(std::int64_t stoppedSteadyNs);

  // On the writer's thread, once Stop was called: waits for the frames handed over, then writes
  // the bins and maps into `folder`.
  FrameAnalysisResult Finish(const QString& folder);

 private:
  struct Shared;
  std::shared_ptr<Shared> shared_;
  QPointer<gst::CameraPipeline> camera_;
  std::thread thread_;
};

}  // namespace recording
