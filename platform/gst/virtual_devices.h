#pragma once
// Built-in virtual devices for the demo run and the tests. They are listed by the same device
// monitor as real hardware, so enumeration and pipelines run the program's real code.

#include <QString>

namespace gst {

// Makes the built-in devices' provider known to GStreamer, listing nothing until devices are
// registered. The device monitor chooses its providers when it is made, so it calls this first.
void EnsureVirtualDeviceProvider();

// A sound output that plays in real time into a WAV file: each opening of the device starts
// the file anew. Listed under "Audio/Sink" with the given display name. A `rate` other than 1
// makes it play that much faster than the system clock (1.0005: 0.05 % fast), as a sound
// card's own crystal does: its pipeline then runs on a clock of the device's own. What it plays
// is also recorded for the test cameras' scene (PlayedSound in sound_timeline.h). It takes one
// or two channels; `maxChannels` 1 makes a device that refuses two (its caps and its sink's
// say channels=1), as a card with a mono output does.
void RegisterVirtualSoundDevice(const QString& name, const QString& wavPath, double rate = 1.0,
                                int maxChannels = 2);

// How often the virtual devices were probed or their provider started: the running device
// monitor does it once, and answers listings from what it knows.
int VirtualDeviceProbes();

// Removes every virtual sound device registered so far.
void ClearVirtualSoundDevices();

// The two test cameras, listed under "Video/Source" after any real camera, offering what USB
// webcams do: "Test camera YUY2" (YUY2 at 640 x 480 and 320 x 240 at 60, 30, 29.97 and 15
// fps, at 1280 x 720 at 10 and 5, at 1920 x 1080 at 5) and "Test camera MJPEG" (JPEG at
// 640 x 480, 320 x 240, 1280 x 720 and 1920 x 1080, plus YUY2 640 x 480, each at 60, 30, 29.97
// and 15 fps). When TestSceneSettings() names rates, every format and size offers just those.
// They show the scene of test_scene.h, in step with what the built-in sound output plays.
// Registering twice lists them once.
void RegisterVirtualCameras();
// A third test camera, "Test camera MJPEG only": the JPEG formats of the MJPEG camera and
// nothing raw, as some webcams are; listed after the other two. Clearing clears it too.
void RegisterVirtualMjpegOnlyCamera();
void ClearVirtualCameras();

inline constexpr const char* kTestCameraYuy2 = "Test camera YUY2";
inline constexpr const char* kTestCameraMjpeg = "Test camera MJPEG";
inline constexpr const char* kTestCameraMjpegOnly = "Test camera MJPEG only";
// The driver text the test cameras report.
inline constexpr const char* kTestCameraDriver = "Strobolux test camera driver 1.0";

}  // namespace gst
