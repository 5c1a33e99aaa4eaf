#pragma once
// Which camera frame a periodic picture takes, and the strobe that may light it: the
// operator's choices (kept in the user's settings, or forced for a scripted run), the run's
// rule for each instant, and what a picture's row says of it.

#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "generator/instant.h"
#include "generator/strobe.h"

namespace gst {
class CameraPipeline;
class CameraFrame;
class FrameRequest;
}  // namespace gst

namespace recording {

struct FrameTiming;
struct PictureLogRow;

// The frame nearest the instant in time (the original's choice), or the frame whose exposure
// phase is nearest the instant's ideal phase among those up to the next instant.
enum class FrameChoice { Nearest, Phase };

// "nearest" / "phase"; "off" / "period" / "instants": the settings', the command line's and
// run.json's words.
QString FrameChoiceName(FrameChoice choice);
std::optional<FrameChoice> ParseFrameChoice(const QString& text);
QString StrobeModeName(generator::StrobeMode mode);
std::optional<generator::StrobeMode> ParseStrobeMode(const QString& text);

// The operator's choices (the dialog), kept in the user's settings; a forced one (the command
// line) holds for this process whatever the settings say, and nothing is stored.
FrameChoice FrameChoiceChosen();
void ChooseFrameChoice(FrameChoice choice);
void ForceFrameChoice(std::optional<FrameChoice> choice);  // none: the settings' again
generator::StrobeSettings StrobeChosen();
void ChooseStrobe(const generator::StrobeSettings& settings);
void ForceStrobe(const generator::StrobeSettings& settings);

// "фаза", "фазы" or "фаз": the word after a count of phases.
QString RussianPhases(int count);

// What a run chooses its pictures' frames by, fixed at its start.
struct RunFrameChoice {
  FrameChoice choice = FrameChoice::Nearest;
  generator::StrobeMode strobeMode = generator::StrobeMode::Off;
  generator::StrobePlan strobe;  // the pulses on the tone's samples (off: none)
  std::int32_t sampleRate = 0;
  double intervalMs = 0;  // between two instants of the period clock; 0 in the Timer 1 mode
};
RunFrameChoice RunFrameChoiceOf(const generator::RunStart& start, FrameChoice choice);

// The frame request of a picture due at `dueSteadyNs` (steady clock): the nearest frame in time,
// or the run's rule — with a strobe, the first frame whose exposure held a whole pulse among
// those from the instant to the next one; by phase, the one nearest the ideal phase there.
// `timing` places frames on the run's tone; `frameIntervalNs` stands in for an unknown exposure.
std::shared_ptr<gst::FrameRequest> RequestPictureFrame(gst::CameraPipeline& camera,
                                                       const RunFrameChoice& run,
                                                       const FrameTiming& timing, double idealPhase,
                                                       std::int64_t dueSteadyNs,
                                                       std::int64_t frameIntervalNs);
// The latest a request's frame can be due: the end of its window (steady clock).
std::int64_t ChoiceEndNs(const RunFrameChoice& run, const FrameTiming& timing,
                         std::int64_t dueSteadyNs);

// The row's frame_rule, phase_error_deg, strobe, strobe_lit and pulse_phase_deg for the frame
// taken (after NoteFrame has filled the frame's own columns).
void NoteChoice(const RunFrameChoice& run, const gst::FrameRequest& request,
                const gst::CameraFrame& frame, const FrameTiming& timing,
                std::int64_t frameIntervalNs, PictureLogRow& row);

// Before a run that chooses by phase: the phase error to expect from the camera's frame rate
// against the tone, for both rules, and a frame rate (of `offeredRates`) or picture interval
// that would do better, as the status line says it and as a scripted run prints it; empty when
// it cannot be told (an unknown rate).
struct FrameForecastText {
  QString status;  // Russian, for the status line
  QString line;    // for a scripted run's output
};
FrameForecastText FrameChoiceForecast(double frameRate, double toneHz, double intervalS,
                                      double exposureMs, std::span<const double> offeredRates);
// Before a strobed run: an exposure clearly shorter than the frame interval leaves gaps a
// pulse may fall into, so some pictures may hold none; and without the camera's delay the
// frame a pulse lit is judged by the frames' arrival. Empty when neither holds.
FrameForecastText StrobeForecast(double frameRate, double exposureMs, bool delayKnown);

}  // namespace recording
