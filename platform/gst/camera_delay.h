#pragma once
// The camera's delay: from the end of a frame's exposure to the frame's timestamp. A webcam
// stamps a frame when it arrives, tens of milliseconds after the light that made it; a
// calibration measures the delay, which the user's settings keep per camera, format and
// exposure, so that every later run of the same set-up can place each frame's exposure on the
// tone.

#include <QDateTime>
#include <QString>
#include <optional>

namespace gst {

struct CameraDevice;
struct CameraFormat;
class CameraPipeline;

struct CameraDelay {
  double delayMs = 0;
  double uncertaintyMs = 0;  // one standard deviation
  double exposureMs = 0;     // the exposure time the calibration assumed (0: unknown)
  QDateTime measured;        // when (UTC)
};

// Where a stored delay belongs: the camera, its format (media, pixel format, size and the
// frame rate in use) and its exposure ("auto" when the camera chooses it). The three texts are
// the stored keys, the same in every locale; `shown` says the same to the operator.
struct CameraSetup {
  QString camera;
  QString format;
  QString exposure;
  QString shown;
  // The exposure time in ms when the camera's exposure is manual and known.
  std::optional<double> exposureMs;
};

// The set-up of a camera in a format with the exposure it reports now.
CameraSetup SetupOf(const CameraDevice& camera, const CameraFormat& format,
                    std::optional<double> exposureMs);
// The set-up of an open camera, its exposure read from its controls.
CameraSetup SetupOf(const CameraPipeline& pipeline);

// The delay stored for this set-up, if any. A settings file that cannot be read, or a stored
// value that makes no sense, counts as none (traced under the camera's category).
std::optional<CameraDelay> StoredDelay(const CameraSetup& setup);
// Keeps the delay for this set-up in the user's settings; false, traced, when they cannot be
// written.
bool StoreDelay(const CameraSetup& setup, const CameraDelay& delay);
// Forgets the delay of this set-up.
void ForgetDelay(const CameraSetup& setup);

}  // namespace gst
