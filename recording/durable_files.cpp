#include "recording/durable_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>

namespace recording {
namespace {

QString Reason(int error) {
  return qt_error_string(error);
}

bool WriteAll(int fd, const QByteArray& bytes) {
  const char* data = bytes.constData();
  qsizetype left = bytes.size();
  while (left > 0) {
    const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    left -= written;
  }
  return true;
}

}  // namespace

DurableFiles::Descriptor::~Descriptor() {
  if (fd_ >= 0) ::close(fd_);
}

DurableFiles::~DurableFiles() {
  QString why;
  static_cast<void>(Sync(&why));  // the writer syncs at each run's end; this is the rest
}

bool DurableFiles::Write(const QString& path, const QByteArray& bytes, QString* why) {
  const QFileInfo target(path);
  const std::string folder = QFile::encodeName(target.absolutePath()).toStdString();
  // A hidden name in the same folder, so the rename stays on one file system; the mode of a
  // plain new file (0666 less the umask), which mkstemp's 0600 would not give.
  static std::atomic<std::uint64_t> serial{0};
  const std::string base =
      folder + "/." + QFile::encodeName(target.fileName()).toStdString() + ".part";
  std::string temporary;
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    temporary = base + std::to_string(::getpid()) + "-" + std::to_string(serial++);
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  Descriptor file(fd);
  if (file.Get() < 0) {
    if (why) *why = Reason(errno);
    return false;
  }
  if (!WriteAll(file.Get(), bytes) ||
      ::rename(temporary.c_str(), QFile::encodeName(path).constData()) != 0) {
    if (why) *why = Reason(errno);
    ::unlink(temporary.c_str());
    return false;
  }
  files_.push_back(std::move(file));
  folders_.insert(folder);
  return true;
}

bool DurableFiles::Sync(QString* why) {
  bool synced = true;
  auto failed = [&](int error) {
    if (synced && why) *why = Reason(error);
    synced = false;
  };
  for (const Descriptor& file : files_)
    if (::fdatasync(file.Get()) != 0) failed(errno);
  files_.clear();
  for (const std::string& folder : folders_) {
    Descriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.Get() < 0 || ::fsync(directory.Get()) != 0) failed(errno);
  }
  folders_.clear();
  return synced;
}

}  // namespace recording
