#pragma once
// A file system of a few megabytes mounted over a folder for the lifetime of an object: a disk
// that really fills up in the middle of a run. Mounting takes root (or a namespace of one's
// own); without it Mounted() is false and the test skips.

#include <sys/mount.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <cerrno>
#include <cstring>

namespace testing_support {

class SmallDisk {
 public:
  SmallDisk(const QString& folder, int megabytes) : folder_(QFile::encodeName(folder)) {
    QDir().mkpath(folder);
    const QByteArray options = "size=" + QByteArray::number(megabytes) + "m";
    if (::mount("strobolux-test", folder_.constData(), "tmpfs", 0, options.constData()) == 0)
      mounted_ = true;
    else
      why_ = QString::fromLocal8Bit(std::strerror(errno));
  }
  ~SmallDisk() {
    if (mounted_) ::umount2(folder_.constData(), MNT_DETACH);
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  bool Mounted() const { return mounted_; }
  const QString& Why() const { return why_; }

 private:
  QByteArray folder_;
  bool mounted_ = false;
  QString why_;
};

}  // namespace testing_support
