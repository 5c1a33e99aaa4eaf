#pragma once
// Who a camera is, in a way that survives a replug into the same port and a restart, and tells
// two cameras of one model apart: the key its remembered format and controls are kept under.

#include <QString>

namespace gst {

struct CameraDevice;

// A V4L2 camera: its name with the driver's bus info, and its serial number where the camera
// has one ("HD Webcam [usb-0000:00:14.0-2] #A1B2"); a node that cannot be asked: its name
// and path; a camera without a node (the built-in ones, PipeWire's): its name.
QString CameraIdentity(const CameraDevice& camera);

// The parts CameraIdentity joins; `busInfo` and `serial` may be empty.
QString JoinIdentity(const QString& name, const QString& path, const QString& busInfo,
                     const QString& serial);

}  // namespace gst
