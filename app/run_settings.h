#pragma once
// A scripted run's settings put into the main window the way an operator types and clicks
// them, before anything starts.

#include <QString>
#include <QStringList>
#include <optional>
#include <utility>
#include <vector>

#include "app/startup_options.h"
#include "platform/gst/camera_controls.h"

namespace app {

class Form1;

// The index of `name` among `names`, or else of the one name that contains it (case aside);
// -1, with the line to print in `why`, when there is none or more than one. `what` names the
// kind of device for that line.
int FindName(const QStringList& names, const QString& name, const QString& what, QString* why);

// Chooses the sound device, types the tone, the recording mode and its period, ticks the
// recording and the picture window's check box, each through its control, and asks the start's
// own check whether it takes them. Returns the window's refusal (its message box text or its
// status line), or why a device name fits no device; empty when all is taken. Nothing starts:
// no tone, no camera, no run folder.
QString ApplyRunSettings(Form1& form, const RunSettings& run);

// --control NAME=VALUE, each in turn: NAME is a control's key (gst::ControlKey; its name
// serves too), VALUE a number within the control's range or, for a menu, an entry's number
// or name. Each is set and read back. Empty when all took; otherwise the line that says which
// was refused and why, those before it staying set. `applied` gets "key = value" for each
// as read back.
QString ApplyCameraControls(gst::CameraControls& controls,
                            const std::vector<std::pair<QString, QString>>& settings,
                            QStringList* applied);

// The --list-controls line of a control: "brightness: integer -64..64, step 1, default 0,
// now 10"; a menu lists its entries ("menu 1 = Manual Mode, 3 = Aperture Priority Mode").
QString ControlLine(const gst::ControlInfo& info, std::optional<int> now);

}  // namespace app
