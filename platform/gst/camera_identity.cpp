#include "platform/gst/camera_identity.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstring>

#include "platform/gst/camera_devices.h"

namespace gst {

namespace {

QString BusInfoOf(const QString& path) {
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return {};
  v4l2_capability capability{};
  const bool asked = ::ioctl(fd, VIDIOC_QUERYCAP, &capability) == 0;
  ::close(fd);
  if (!asked) return {};
  const auto* text = reinterpret_cast<const char*>(capability.bus_info);
  return QString::fromUtf8(text, static_cast<int>(strnlen(text, sizeof capability.bus_info)));
}

// A USB camera's serial number is a file of the USB device, one or two folders above the
// node's interface in sysfs.
QString SerialOf(const QString& path) {
  const QString node = QFileInfo(path).canonicalFilePath();
  if (node.isEmpty()) return {};
  // The folders above the interface are the real ones, not those above the link's name.
  const QString interface =
      QFileInfo(QStringLiteral("/sys/class/video4linux/%1/device").arg(QFileInfo(node).fileName()))
          .canonicalFilePath();
  if (interface.isEmpty()) return {};
  QDir device(interface);
  for (int up = 0; up < 3; ++up) {
    QFile serial(device.filePath(QStringLiteral("serial")));
    if (serial.open(QIODevice::ReadOnly)) return QString::fromUtf8(serial.readAll()).trimmed();
    if (!device.cdUp()) break;
  }
  return {};
}

}  // namespace

QString JoinIdentity(const QString& name, const QString& path, const QString& busInfo,
                     const QString& serial) {
  if (path.isEmpty()) return name;
  if (busInfo.isEmpty()) return name + QStringLiteral(" @ ") + path;
  QString identity = QStringLiteral("%1 [%2]").arg(name, busInfo);
  if (!serial.isEmpty()) identity += QStringLiteral(" #") + serial;
  return identity;
}

QString CameraIdentity(const CameraDevice& camera) {
  if (camera.path.isEmpty()) return camera.name;
  return JoinIdentity(camera.name, camera.path, BusInfoOf(camera.path), SerialOf(camera.path));
}

}  // namespace gst
