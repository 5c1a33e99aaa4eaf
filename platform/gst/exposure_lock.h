#pragma once
// Exposure, gain and white balance held through a run: what the automatic modes reached at the
// run's start is set by hand, and the operator's modes come back at its end.

#include <QString>
#include <QStringList>

namespace gst {

class CameraControls;

// The operator's choice on the properties page, kept in the user's settings.
bool ExposureLockChosen();
void ChooseExposureLock(bool on);
// --lock-exposure: chosen for this process whatever the settings say; nothing is stored.
void ForceExposureLock();

}  // namespace gst
