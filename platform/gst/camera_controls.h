#pragma once
// A camera's picture controls (brightness, contrast, exposure, ...) behind one interface:
// V4L2 control ioctls on the device node of a real camera, GstColorBalance for cameras that
// have no node (the test cameras).

#include <gst/gst.h>
#include <gst/video/colorbalance.h>

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "platform/gst/gst_util.h"

namespace gst {

class CameraPipeline;

struct ControlInfo {
  enum Type { Integer, Boolean, Menu, Button };
  std::uint32_t id = 0;
  QString name;
  Type type = Integer;
  int minimum = 0;
  int maximum = 0;
  int step = 1;
  int defaultValue = 0;
  std::vector<std::pair<int, QString>> menu;  // value and its name
  // An automatic mode holds it now (V4L2's exposure time while automatic exposure is on): the
  // camera may refuse a value.
  bool inactive = false;
};

class CameraControls {
 public:
  virtual ~CameraControls() = default;
  virtual std::vector<ControlInfo> List() = 0;
  virtual std::optional<int> Get(std::uint32_t id) = 0;
  // Takes effect at once; false when the camera refuses the value.
  virtual bool Set(std::uint32_t id, int value) = 0;
};

// V4L2 controls. The ioctl is a parameter so that the control logic can be tried without a
// camera; the real one works on a descriptor of its own for the device node.
class V4l2Controls : public CameraControls {
 public:
  using Ioctl = std::function<int(unsigned long request, void* argument)>;
  explicit V4l2Controls(Ioctl ioctl) : ioctl_(std::move(ioctl)) {}
  // Opens the node; null when it cannot be opened.
  static std::unique_ptr<V4l2Controls> Open(const QString& devicePath);

  std::vector<ControlInfo> List() override;
  std::optional<int> Get(std::uint32_t id) override;
  bool Set(std::uint32_t id, int value) override;

  // The exposure time the camera holds, in ms: known when its exposure is set by hand (the
  // automatic exposure control is at manual or shutter priority, or there is none) and it
  // has an absolute exposure control; none otherwise.
  std::optional<double> ManualExposureMs();

 private:
  // The device node, closed with the last copy of the ioctl that uses it.
  struct Node {
    int fd = -1;
    ~Node();
  };
  Ioctl ioctl_;
  std::shared_ptr<Node> node_;
};

// GstColorBalance channels of an element (or of the element inside a bin that has them).
class ColorBalanceControls : public CameraControls {
 public:
  explicit ColorBalanceControls(GstElement* element);
  bool Valid() const { return balance_ != nullptr; }

  std::vector<ControlInfo> List() override;
  std::optional<int> Get(std::uint32_t id) override;
  bool Set(std::uint32_t id, int value) override;

 private:
  GstColorBalanceChannel* Channel(std::uint32_t id) const;
  ElementPtr balance_;
};

// A control's name as the command line writes it: lower case, each run of other characters
// one '_' ("Exposure Time, Absolute" -> "exposure_time_absolute").
QString ControlKey(const QString& name);

// Every control's value now, by ControlKey, in the camera's order (buttons left out; a
// control that cannot be read is left out).
std::vector<std::pair<QString, int>> ControlValues(CameraControls& controls);

// The controls of an open camera: V4L2 when it has a device node; otherwise a test camera's
// V4L2-style controls (TestCameraControlsOf), else its colour balance; null when it has none.
std::unique_ptr<CameraControls> ControlsOf(const CameraPipeline& camera);

// The exposure time of an open camera in ms, when it is known: a V4L2 camera's manual exposure
// (V4l2Controls::ManualExposureMs), a test camera's "exposure-ms" unless its "exposure-auto"
// is on; none otherwise.
std::optional<double> ManualExposureMs(const CameraPipeline& camera);

}  // namespace gst
