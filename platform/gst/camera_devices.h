#pragma once
// The cameras GStreamer's device monitor lists under "Video/Source", with the formats each
// offers. Real V4L2 cameras and the built-in virtual ones come through the same listing.

#include <gst/gst.h>

#include <QString>
#include <memory>
#include <vector>

namespace gst {

struct FrameRate {
  int numerator = 0;
  int denominator = 1;
  double PerSecond() const { return denominator ? double(numerator) / denominator : 0.0; }
  // Microseconds between frames, rounded to the nearest; 0 for no rate.
  long long MicroSecondsPerFrame() const {
    return numerator > 0 ? (1000000LL * denominator + numerator / 2) / numerator : 0;
  }
  bool operator==(const FrameRate&) const = default;
};

// One format and size of a camera, with the frame rates it offers at that size.
struct CameraFormat {
  QString media;   // "video/x-raw" or "image/jpeg"
  QString format;  // raw pixel format such as "YUY2"; empty for JPEG
  int width = 0;
  int height = 0;
  std::vector<FrameRate> rates;  // highest first

  bool IsRaw() const { return media == QLatin1String("video/x-raw"); }
  // The same format and size, whatever the rates.
  bool SameFormatAs(const CameraFormat& other) const {
    return media == other.media && format == other.format && width == other.width &&
           height == other.height;
  }
  bool IsJpeg() const { return media == QLatin1String("image/jpeg"); }
  // "YUY2 640 x 480" / "MJPEG 640 x 480"
  QString Describe() const;
  // Caps for this format at the given rate (no rate: the first one).
  GstCaps* MakeCaps(const FrameRate* rate = nullptr) const;
  // The same format with the rate a back end opens it at when nothing is chosen moved first:
  // the highest not above 30 frames a second (the lowest when all are above), as a webcam
  // driver's default is 30 fps. The other rates keep their order.
  CameraFormat AtDefaultRate() const;
};

struct CameraDevice {
  QString name;     // display name
  QString path;     // device node, e.g. /dev/video0; empty for virtual cameras
  QString driver;   // driver name
  QString version;  // driver text: name and version for V4L2
  std::vector<CameraFormat> formats;
  std::shared_ptr<GstDevice> device;
  bool viaPipeWire = false;  // served by the PipeWire server: no V4L2 node of its own to steer

  bool HasRaw() const;
  // Has a format the camera pipeline opens: raw, or JPEG that it decodes.
  bool HasOpenable() const;
  // The first format that matches, or null.
  const CameraFormat* Find(bool raw, int width, int height) const;
  const CameraFormat* FirstRaw() const;
  const CameraFormat* FirstJpeg() const;
};

// Every camera the device monitor knows, one row per camera, in its order.
std::vector<CameraDevice> ListCameras();

// The formats a set of caps describes: one entry per media type, pixel format and size.
std::vector<CameraFormat> FormatsOf(const GstCaps* caps);

}  // namespace gst
