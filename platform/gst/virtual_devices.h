#pragma once
// Built-in virtual devices for the demo run and the tests. They are listed by the same device
// monitor as real hardware, so enumeration and pipelines run the program's real code.

#include <QString>

namespace gstutil {

// A sound output that plays in real time into a WAV file: each opening of the device starts
// the file anew. Listed under "Audio/Sink" with the given display name.
void RegisterVirtualSoundDevice(const QString& name, const QString& wavPath);

// How often the virtual devices were probed: every listing of devices probes them, so tests
// count listings with it.
int VirtualDeviceProbes();

// Removes every virtual sound device registered so far.
void ClearVirtualSoundDevices();

}  // namespace gstutil
