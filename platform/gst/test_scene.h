#pragma once
// What the built-in test cameras film: an optical set-up driven by the built-in sound output.
// A dial whose hand points at the tone's phase (0 degrees up, clockwise), a lamp lit like an
// LED on the output (brightness proportional to the positive half-wave, dark otherwise), and
// interference fringes from a mirror on a piezo (shifted by half a fringe at full scale), each
// integrated over the frame's exposure. So a picture shows the phase it was taken at, and a
// test can read it back.
// While the sound output plays two channels, channel 1 drives a strobe LED and the scene is
// lit by it alone, beside a dim ambient light: a picture then shows the scene at the strobe's
// flashes inside its exposure, and is nearly black when none falls there.
// On request, a few patches beside the lamp glow with the tone at known amplitudes and phases:
// a truth for reading each pixel's response at the tone's frequency.

#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QSize>
#include <cstdint>
#include <optional>
#include <random>
#include <span>
#include <vector>

#include "platform/gst/sound_timeline.h"

namespace gst {

struct SceneSettings {
  double exposureMs = 10;
  double delayMs = 0;   // from the end of the exposure to the frame's timestamp
  double jitterMs = 0;  // spread (standard deviation) of a random extra delay, zero-mean
  // The frame rates (frames a second) every format of the test cameras offers; empty: each
  // format's own, as a webcam's (RegisterVirtualCameras). Read when the cameras are registered.
  std::vector<int> rates;
  // The light that reaches the scene besides a strobe's, as a fraction of full light, spread
  // evenly over the exposure. Only a scene lit by a strobe is dimmed to it.
  double ambient = 0.02;
  // Draws the response patches (ResponsePatchesFor), a truth for a lock-in reading of every
  // frame. Off by default: frames without them stay exactly as they were. Read when a camera is
  // made.
  bool responsePatches = false;
};

// The settings a test camera takes when it is made, for the whole process.
void SetTestSceneSettings(const SceneSettings& settings);
SceneSettings TestSceneSettings();

// How brightly the scene is lit, for the whole process: a scale of its brightness (1: as
// drawn; 2: twice as bright, as a test "brightens the scene"). Read at each frame; negative
// values count as 0.
void SetTestSceneLight(double factor);
double TestSceneLight();

// Where the scene lies in a frame, in frame pixels. It stays whole, legible and clear of the
// picture stamp in the saved picture both when the frame is cropped to the picture panel from
// the top left corner and when it is stretched over the panel.
struct SceneLayout {
  QPointF dialCentre;
  double dialRadius = 0;
  QRectF lamp;
  QRectF fringes;
  double fringePeriod = 0;  // pixels along x
};
SceneLayout SceneLayoutFor(QSize frame);

// The picture panel (the picture window's 640 x 480 panel inside its 2-pixel border) and the
// stamp over its top left corner, which the layout keeps clear of.
inline constexpr QSize kScenePanel(636, 476);
inline constexpr QSize kSceneStamp(200, 50);

// A patch whose brightness follows the tone's phase (as the dial hand shows it, 0 up,
// clockwise): mean + amplitude * cos(tone phase - phaseDeg) grey levels, brightest when the
// tone is at phaseDeg, integrated over the exposure as the rest of the scene is. So a box
// exposure of a fraction T of the tone's period shows amplitude * sin(pi T) / (pi T) around the
// phase at the exposure's middle; where nothing plays (no phase) the patch rests at its mean.
// Under a strobe a patch, like the hand, shows its levels at the flashes, weighed by their
// light, mixed by its share with the ambient light's mean over the exposure; the whole frame is
// then dimmed to the light that fell. The levels are for the scene as drawn
// (brightness and light 1); a camera's brightness scale k, which scales the whole frame above
// black, makes it kSceneBlack + (mean - kSceneBlack) * k and amplitude * k.
// Each patch's level over its rectangle is dithered so that its mean is the level to within
// about 1/32 of a grey level, not rounded to a whole level.
struct ResponsePatch {
  QRectF rect;  // frame pixels, on whole pixels
  double mean = 0;
  double amplitude = 0;
  double phaseDeg = 0;
};
// The patches of a frame size: squares right of the lamp, in the lamp's rows, clear of the dial,
// lamp, fringes and the picture stamp in both layouts, growing with the frame (sides of 17
// pixels at 320 x 240, 40 at 640 x 480, about 100 at 1280 x 720 and 1920 x 1080, where they run
// on past what a cropped picture shows). Their levels stay within 16..235; one is steady
// (amplitude 0). Empty when the frame has no room for them.
std::vector<ResponsePatch> ResponsePatchesFor(QSize frame);

// Grey levels of the scene's parts. The frames are limited-range grey: 16 is black.
inline constexpr int kSceneBlack = 16;
inline constexpr int kSceneBackground = 40;
inline constexpr int kDialFace = 230;
inline constexpr int kDialHand = 16;
inline constexpr int kLampDark = 16;
inline constexpr int kLampLit = 250;
inline constexpr int kFringeDark = 24;
inline constexpr int kFringeBright = 232;

// Sub-exposures an exposure is integrated from: enough that the hand moves a few degrees from
// one to the next, few enough to stay cheap.
int SubExposureCount(double exposureNs, double periodNs);

// Draws the scene of one frame size onto 8-bit grey rows.
class SceneRenderer {
 public:
  // `responsePatches`: draw the response patches too.
  explicit SceneRenderer(QSize frame, bool responsePatches = false);
  const SceneLayout& Layout() const { return layout_; }
  // Draws the dial, lamp, fringes and any response patches (only their regions) as exposed over
  // these moments, each weighing the same, or its share of `weights` (one for each moment) when
  // given. `lampLight`, when given, is the lamp's light 0..1 in place of the tone's positive
  // half-wave: the strobe LED's.
  void Draw(std::uint8_t* rows, int stride, std::span<const ToneMoment> moments,
            std::span<const double> weights = {}, std::optional<double> lampLight = {});

 private:
  QSize frame_;
  SceneLayout layout_;
  QRect dial_box_;                  // the dial's square, inside the frame
  std::vector<std::uint8_t> face_;  // the dial without its hand, dial_box_ sized
  std::vector<std::uint8_t> disc_;  // how much of each pixel the dial covers, 0..255
  std::vector<float> cover_;        // the hand's mean coverage, dial_box_ sized
  std::vector<float> profile_;      // the fringes' mean brightness along x
  std::vector<ResponsePatch> patches_;
};

// A whole frame (background and scene) as a grey image.
QImage RenderScene(QSize frame, std::span<const ToneMoment> moments, bool responsePatches = false);

// Scales the brightness of every pixel of 8-bit grey rows (its level above black) by
// `factor`, clipped at 255; nothing to do at 1.
void ScaleBrightness(std::uint8_t* rows, int stride, QSize frame, double factor);

// The scene as one camera stream films it: each frame's exposure ends `delay` plus a random
// jitter before its timestamp; the tone is what the sound record says.
class SceneCamera {
 public:
  SceneCamera(QSize frame, const SceneSettings& settings, std::uint64_t seed);
  // The exposure of the frames drawn from now on (the camera's controls change it while it
  // streams).
  void SetExposureMs(double exposureMs) { settings_.exposureMs = exposureMs; }
  // The brightness scale of the frames drawn from now on: the whole frame (background and
  // scene) is scaled by it and clipped at white.
  // `exposureScale` is the part of it the exposure's length makes, which a strobe's flashes do
  // not follow: a pulse gives its light whole to any exposure that holds it.
  void SetBrightness(double factor, double exposureScale = 1) {
    brightness_ = factor;
    exposure_scale_ = exposureScale;
  }
  // Draws the frame timestamped `frameNs` (steady clock) onto rows holding the background.
  // While the stream playing at the exposure has a light channel, the scene is lit by it and the
  // ambient light alone: a full-scale flash of 1 ms inside the exposure lights it fully.
  void DrawFrame(std::uint8_t* rows, int stride, std::int64_t frameNs, const SoundTimeline& sound);

 private:
  void DrawStrobed(std::uint8_t* rows, int stride, double start, double exposureNs,
                   const ToneMoment& middle, const SoundTimeline& sound);

  QSize frame_;
  SceneRenderer renderer_;
  SceneSettings settings_;
  double brightness_ = 1;
  double exposure_scale_ = 1;
  std::mt19937_64 random_;
  std::normal_distribution<double> jitter_;
  std::vector<ToneMoment> moments_;
  std::vector<double> weights_;
  std::vector<Flash> flashes_;
};

}  // namespace gst
