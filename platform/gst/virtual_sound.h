#pragma once
// The built-in virtual sound output (virtual_devices.h): its device, whose element is a sink
// that plays in real time into a WAV file and records what played for the test cameras' scene.

#include <gst/gst.h>

#include <QString>

namespace gst {

// A new device for the sound output playing into `wavPath` at `rate` times the system clock's
// pace, listed under "Audio/Sink" as `name`; the caller holds its one reference.
GstDevice* NewVirtualSoundDevice(const QString& name, const QString& wavPath, double rate,
                                 int maxChannels);

}  // namespace gst
