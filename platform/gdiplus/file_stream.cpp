#include "platform/gdiplus/file_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFileInfo>
#include <cerrno>
#include <cstdio>

namespace gdiplus {

gdi::HRESULT HResultFromErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return HRESULT_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
      return HRESULT_ACCESS_DENIED;
    case EROFS:
      return HRESULT_WRITE_PROTECT;
    case ENOSPC:
    case EDQUOT:
      return HRESULT_DISK_FULL;
    default:
      return E_FAIL;
  }
}

FileStream::FileStream(QString target, QString temporary, int fd)
    : target_(std::move(target)), temporary_(std::move(temporary)), fd_(fd) {}

FileStream::~FileStream() {
  Discard();
}

void FileStream::Discard() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
  ::unlink(QFile::encodeName(temporary_).constData());
}

gdi::HRESULT FileStream::Write(const void* data, std::size_t bytes) {
  if (fd_ < 0) return E_FAIL;
  const auto* at = static_cast<const char*>(data);
  while (bytes > 0) {
    const ssize_t written = ::write(fd_, at, bytes);
    if (written < 0) {
      if (errno == EINTR) continue;
      return HResultFromErrno(errno);
    }
    at += written;
    bytes -= static_cast<std::size_t>(written);
  }
  return gdi::S_OK;
}

gdi::HRESULT FileStream::Commit() {
  if (fd_ < 0) return E_FAIL;
  const bool closed = ::close(fd_) == 0;
  const int closeError = errno;
  fd_ = -1;
  const QByteArray temporary = QFile::encodeName(temporary_);
  if (!closed) {
    ::unlink(temporary.constData());
    return HResultFromErrno(closeError);
  }
  if (::rename(temporary.constData(), QFile::encodeName(target_).constData()) != 0) {
    const int error = errno;
    ::unlink(temporary.constData());
    return HResultFromErrno(error);
  }
  return gdi::S_OK;
}

gdi::HRESULT SHCreateStreamOnFileW(const QString& path, std::uint32_t mode,
                                   std::unique_ptr<FileStream>* stream) {
  if (!stream) return static_cast<gdi::HRESULT>(0x80070057);
  stream->reset();
  if (mode != (STGM_CREATE | STGM_SHARE_EXCLUSIVE | STGM_WRITE) || path.isEmpty())
    return static_cast<gdi::HRESULT>(0x80070057);
  const QFileInfo target(path);
  if (target.isDir()) return HRESULT_ACCESS_DENIED;
  // The temporary file sits in the target's folder, so that the rename replaces the target
  // in one step and a missing folder or a read-only one shows here.
  QByteArray pattern = QFile::encodeName(target.absolutePath() + QStringLiteral("/.") +
                                         target.fileName() + QStringLiteral(".XXXXXX"));
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) return HResultFromErrno(errno);
  // mkstemp makes the file private; give it the permissions a new file normally gets.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  stream->reset(new FileStream(target.absoluteFilePath(), QFile::decodeName(pattern), fd));
  return gdi::S_OK;
}

}  // namespace gdiplus
