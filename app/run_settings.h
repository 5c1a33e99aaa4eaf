#pragma once
// A scripted run's settings put into the main window the way an operator types and clicks
// them, before anything starts.

#include <QString>
#include <QStringList>

#include "app/startup_options.h"

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

}  // namespace app
