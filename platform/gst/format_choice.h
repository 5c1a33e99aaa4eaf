#pragma once
// The format a camera opens in: the one the operator last chose for it in a format dialog,
// kept under its identity (CameraIdentity) in the user's settings, or the one the command
// line forces for the process; either only where the camera still offers it. The back ends'
// own defaults apply otherwise.

#include <QString>
#include <optional>

#include "platform/gst/camera_devices.h"

namespace gst {

class CameraPipeline;

// A format and size with one frame rate, as "WxH@FPS/COMPRESSION" writes it.
struct FormatChoice {
  bool jpeg = false;
  QString format;  // a raw pixel format in GStreamer's spelling ("YUY2"); empty for MJPEG
  int width = 0;
  int height = 0;
  double fps = 0;
  // "1280x720@30/mjpeg", "640x480@29.97/YUY2"
  QString Text() const;
};

// Reads "WxH@FPS/COMPRESSION": COMPRESSION is mjpeg or a raw pixel format (case aside), FPS
// may have decimals (29.97). None, with the line to print in `error`, when it is not that.
std::optional<FormatChoice> ParseFormatChoice(const QString& text, QString* error);

// The camera's format that is the choice, its rate first among its rates (a rate matches
// within 0.01 frames a second: 29.97 is 30000/1001); none when the camera does not offer it.
std::optional<CameraFormat> FindFormat(const CameraDevice& camera, const FormatChoice& choice);

// The format and rate the operator chose for this camera, kept for the next time it is
// switched on.
void RememberFormat(const CameraDevice& camera, const CameraFormat& format, const FrameRate& rate);
// The remembered one; none when there is none or it cannot be read (said in the log).
std::optional<FormatChoice> RememberedFormat(const CameraDevice& camera);

// --camera-format: every camera of this process opens in `choice` where it offers it,
// whatever is remembered; nothing is stored. None: the remembered formats again.
void ForceFormat(const std::optional<FormatChoice>& choice);

// What the camera is to open in, its rate first: the forced choice, else the remembered
// one, where the camera offers it; none: the back end's own default.
std::optional<CameraFormat> PreferredFormat(const CameraDevice& camera);

// The format an open camera's source delivers now, from its negotiated caps, with that one
// rate; none before it has negotiated.
std::optional<CameraFormat> DeliveredFormat(const CameraPipeline& camera);

// "MJPEG 1280 x 720 @ 30, 15 fps"
QString DescribeWithRates(const CameraFormat& format);

}  // namespace gst
