#include "platform/gst/camera_controls.h"

#include <fcntl.h>
#include <gst/video/colorbalance.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QFile>
#include <cmath>
#include <cstring>

#include "platform/gst/camera_pipeline.h"
#include "platform/gst/gst_util.h"
#include "platform/gst/test_camera_controls.h"

namespace gst {

// ---- V4L2 -----------------------------------------------------------------------------------

std::unique_ptr<V4l2Controls> V4l2Controls::Open(const QString& devicePath) {
  const int fd = ::open(QFile::encodeName(devicePath).constData(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return nullptr;
  auto node = std::make_shared<V4l2Controls::Node>();
  node->fd = fd;
  auto controls = std::make_unique<V4l2Controls>([node](unsigned long request, void* argument) {
    int result;
    do result = ::ioctl(node->fd, request, argument);
    while (result < 0 && errno == EINTR);
    return result;
  });
  controls->node_ = node;
  return controls;
}

std::vector<ControlInfo> V4l2Controls::List() {
  std::vector<ControlInfo> controls;
  v4l2_query_ext_ctrl query{};
  query.id = V4L2_CTRL_FLAG_NEXT_CTRL;
  while (ioctl_(VIDIOC_QUERY_EXT_CTRL, &query) == 0) {
    const std::uint32_t id = query.id;
    query.id = id | V4L2_CTRL_FLAG_NEXT_CTRL;
    if (query.flags & (V4L2_CTRL_FLAG_DISABLED | V4L2_CTRL_FLAG_READ_ONLY)) continue;
    ControlInfo info;
    info.id = id;
    info.name =
        QString::fromUtf8(query.name, static_cast<int>(strnlen(query.name, sizeof query.name)));
    info.minimum = static_cast<int>(query.minimum);
    info.maximum = static_cast<int>(query.maximum);
    info.step = std::max<int>(1, static_cast<int>(query.step));
    info.defaultValue = static_cast<int>(query.default_value);
    info.inactive = (query.flags & V4L2_CTRL_FLAG_INACTIVE) != 0;
    switch (query.type) {
      case V4L2_CTRL_TYPE_INTEGER:
        info.type = ControlInfo::Integer;
        break;
      case V4L2_CTRL_TYPE_BOOLEAN:
        info.type = ControlInfo::Boolean;
        break;
      case V4L2_CTRL_TYPE_BUTTON:
        info.type = ControlInfo::Button;
        break;
      case V4L2_CTRL_TYPE_MENU:
      case V4L2_CTRL_TYPE_INTEGER_MENU:
        info.type = ControlInfo::Menu;
        for (int index = info.minimum; index <= info.maximum; ++index) {
          v4l2_querymenu item{};
          item.id = id;
          item.index = static_cast<std::uint32_t>(index);
          if (ioctl_(VIDIOC_QUERYMENU, &item) != 0) continue;  // holes are allowed
          info.menu.emplace_back(index,
                                 query.type == V4L2_CTRL_TYPE_MENU
                                     ? QString::fromUtf8(reinterpret_cast<const char*>(item.name))
                                     : QString::number(item.value));
        }
        break;
      default:
        continue;  // classes, strings and compound controls are not picture settings
    }
    controls.push_back(std::move(info));
  }
  return controls;
}

std::optional<int> V4l2Controls::Get(std::uint32_t id) {
  v4l2_control control{};
  control.id = id;
  if (ioctl_(VIDIOC_G_CTRL, &control) != 0) return std::nullopt;
  return control.value;
}

bool V4l2Controls::Set(std::uint32_t id, int value) {
  v4l2_control control{};
  control.id = id;
  control.value = value;
  return ioctl_(VIDIOC_S_CTRL, &control) == 0;
}

std::optional<double> V4l2Controls::ManualExposureMs() {
  // A camera without the automatic control is always exposed by hand. Shutter priority fixes
  // the time too; only the iris is automatic then.
  const std::optional<int> mode = Get(V4L2_CID_EXPOSURE_AUTO);
  if (mode && *mode != V4L2_EXPOSURE_MANUAL && *mode != V4L2_EXPOSURE_SHUTTER_PRIORITY)
    return std::nullopt;
  const std::optional<int> time = Get(V4L2_CID_EXPOSURE_ABSOLUTE);
  if (!time) return std::nullopt;
  return *time / 10.0;  // units of 100 us
}

// ---- GstColorBalance -----------------------------------------------------------------------

V4l2Controls::Node::~Node() {
  if (fd >= 0) ::close(fd);
}

ColorBalanceControls::ColorBalanceControls(GstElement* element) {
  if (!element) return;
  if (GST_IS_COLOR_BALANCE(element))
    balance_.reset(GST_ELEMENT(gst_object_ref(element)));
  else if (GST_IS_BIN(element))
    balance_.reset(gst_bin_get_by_interface(GST_BIN(element), GST_TYPE_COLOR_BALANCE));
}

GstColorBalanceChannel* ColorBalanceControls::Channel(std::uint32_t id) const {
  if (!balance_) return nullptr;
  const GList* channels = gst_color_balance_list_channels(GST_COLOR_BALANCE(balance_.get()));
  std::uint32_t index = 0;
  for (const GList* item = channels; item; item = item->next, ++index)
    if (index == id) return GST_COLOR_BALANCE_CHANNEL(item->data);
  return nullptr;
}

std::vector<ControlInfo> ColorBalanceControls::List() {
  std::vector<ControlInfo> controls;
  if (!balance_) return controls;
  const GList* channels = gst_color_balance_list_channels(GST_COLOR_BALANCE(balance_.get()));
  std::uint32_t index = 0;
  for (const GList* item = channels; item; item = item->next, ++index) {
    auto* channel = GST_COLOR_BALANCE_CHANNEL(item->data);
    ControlInfo info;
    info.id = index;
    QString name = QString::fromUtf8(channel->label);
    // "BRIGHTNESS" reads better as "Brightness".
    if (name == name.toUpper()) name = name.left(1) + name.mid(1).toLower();
    info.name = name;
    info.minimum = channel->min_value;
    info.maximum = channel->max_value;
    info.defaultValue = (channel->min_value + channel->max_value) / 2;
    controls.push_back(std::move(info));
  }
  return controls;
}

std::optional<int> ColorBalanceControls::Get(std::uint32_t id) {
  GstColorBalanceChannel* channel = Channel(id);
  if (!channel) return std::nullopt;
  // videobalance keeps each value as a double (value / 1000, plus 1 for contrast and
  // saturation) and truncates it when read back, so 7 read back as 6: it is read from its
  // property and rounded.
  GstElementFactory* factory = gst_element_get_factory(balance_.get());
  const QString label = QString::fromUtf8(channel->label).toLower();
  if (factory && g_strcmp0(GST_OBJECT_NAME(factory), "videobalance") == 0 &&
      g_object_class_find_property(G_OBJECT_GET_CLASS(balance_.get()),
                                   label.toUtf8().constData())) {
    gdouble value = 0;
    g_object_get(balance_.get(), label.toUtf8().constData(), &value, nullptr);
    const bool aroundOne =
        label == QLatin1String("contrast") || label == QLatin1String("saturation");
    return static_cast<int>(std::lround((aroundOne ? value - 1 : value) * 1000));
  }
  return gst_color_balance_get_value(GST_COLOR_BALANCE(balance_.get()), channel);
}

bool ColorBalanceControls::Set(std::uint32_t id, int value) {
  GstColorBalanceChannel* channel = Channel(id);
  if (!channel || value < channel->min_value || value > channel->max_value) return false;
  gst_color_balance_set_value(GST_COLOR_BALANCE(balance_.get()), channel, value);
  return true;
}

QString ControlKey(const QString& name) {
  QString key;
  bool gap = false;
  for (const QChar c : name.toLower()) {
    if (c.isLetterOrNumber()) {
      if (gap && !key.isEmpty()) key += QLatin1Char('_');
      key += c;
      gap = false;
    } else {
      gap = true;
    }
  }
  return key;
}

std::vector<std::pair<QString, int>> ControlValues(CameraControls& controls) {
  std::vector<std::pair<QString, int>> values;
  for (const ControlInfo& info : controls.List()) {
    if (info.type == ControlInfo::Button) continue;
    if (const std::optional<int> value = controls.Get(info.id))
      values.emplace_back(ControlKey(info.name), *value);
  }
  return values;
}

std::unique_ptr<CameraControls> ControlsOf(const CameraPipeline& camera) {
  if (!camera.Camera().path.isEmpty()) {
    if (auto v4l2 = V4l2Controls::Open(camera.Camera().path)) return v4l2;
  } else if (camera.Source()) {
    if (auto test = TestCameraControlsOf(camera.Source())) return test;
  }
  auto balance = std::make_unique<ColorBalanceControls>(camera.Source());
  if (balance->Valid()) return balance;
  return nullptr;
}

std::optional<double> ManualExposureMs(const CameraPipeline& camera) {
  if (!camera.Camera().path.isEmpty()) {
    if (auto v4l2 = V4l2Controls::Open(camera.Camera().path)) return v4l2->ManualExposureMs();
    return std::nullopt;
  }
  GstElement* source = camera.Source();
  if (!source || !g_object_class_find_property(G_OBJECT_GET_CLASS(source), "exposure-ms"))
    return std::nullopt;
  // While the test camera chooses its exposure itself, as a webcam's automatic mode does, its
  // time is not one to calibrate against.
  if (g_object_class_find_property(G_OBJECT_GET_CLASS(source), "exposure-auto")) {
    gboolean automatic = FALSE;
    g_object_get(source, "exposure-auto", &automatic, nullptr);
    if (automatic) return std::nullopt;
  }
  gdouble exposure = 0;
  g_object_get(source, "exposure-ms", &exposure, nullptr);
  return exposure;
}

}  // namespace gst
