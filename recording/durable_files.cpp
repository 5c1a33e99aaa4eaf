#include "recording/durable_files.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <atomic>
#include <cerrno>
#include <cstdint>

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

// ".<name>.part<pid>-<serial>": the process that wrote it is in the name.
const QRegularExpression& TemporaryName() {
  static const QRegularExpression pattern(QStringLiteral(R"(^\..+\.part(\d+)-\d+$)"));
  return pattern;
}

bool SyncFolder(const std::string& folder, QString* why) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const bool synced = fd >= 0 && ::fsync(fd) == 0;
  const int error = errno;
  if (fd >= 0) ::close(fd);
  if (!synced && why) *why = Reason(error);
  return synced;
}

}  // namespace

DurableFiles::Descriptor::~Descriptor() {
  Reset(-1);
}

void DurableFiles::Descriptor::Reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

DurableFiles::~DurableFiles() {
  QString why;
  static_cast<void>(Commit(&why));  // the writer commits at each run's end; this is the rest
}

bool DurableFiles::WriteTemporary(const QString& path, const QByteArray& bytes, File* file,
                                  QString* why) {
  const QFileInfo target(path);
  file->path = QFile::encodeName(path).toStdString();
  file->folder = QFile::encodeName(target.absolutePath()).toStdString();
  // A hidden name in the same folder, so the rename stays on one file system; the mode of a
  // plain new file (0666 less the umask), which mkstemp's 0600 would not give.
  static std::atomic<std::uint64_t> serial{0};
  const std::string base =
      file->folder + "/." + QFile::encodeName(target.fileName()).toStdString() + ".part";
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    file->temporary = base + std::to_string(::getpid()) + "-" + std::to_string(serial++);
    fd = ::open(file->temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  Descriptor opened(fd);
  if (opened.Get() < 0) {
    if (why) *why = Reason(errno);
    return false;
  }
  if (!WriteAll(opened.Get(), bytes)) {
    if (why) *why = Reason(errno);
    ::unlink(file->temporary.c_str());
    return false;
  }
  file->descriptor = Descriptor(opened.Release());
  return true;
}

bool DurableFiles::Write(const QString& path, const QByteArray& bytes, QString* why) {
  File file{Descriptor(-1), {}, {}, {}};
  if (!WriteTemporary(path, bytes, &file, why)) return false;
  files_.push_back(std::move(file));
  return true;
}

std::vector<DurableFiles::Outcome> DurableFiles::Commit(QString* folderWhy) {
  std::vector<Outcome> outcomes(files_.size());
  // The data of all first, then the names: a name never holds less than its whole file.
  for (std::size_t i = 0; i < files_.size(); ++i)
    if (::fdatasync(files_[i].descriptor.Get()) != 0)
      outcomes[i] = {Outcome::Kind::Failed, Reason(errno)};
  std::set<std::string> folders;
  bool failed = false;
  for (std::size_t i = 0; i < files_.size(); ++i) {
    File& file = files_[i];
    if (failed) {
      outcomes[i].kind = Outcome::Kind::Dropped;
    } else if (outcomes[i].kind == Outcome::Kind::Named &&
               ::rename(file.temporary.c_str(), file.path.c_str()) != 0) {
      outcomes[i] = {Outcome::Kind::Failed, Reason(errno)};
    }
    failed = failed || outcomes[i].kind != Outcome::Kind::Named;
    if (outcomes[i].kind == Outcome::Kind::Named)
      folders.insert(file.folder);
    else
      ::unlink(file.temporary.c_str());
  }
  files_.clear();
  bool synced = true;
  for (const std::string& folder : folders)
    synced = SyncFolder(folder, synced ? folderWhy : nullptr) && synced;
  if (synced && folderWhy) folderWhy->clear();
  return outcomes;
}

bool DurableFiles::WriteNow(const QString& path, const QByteArray& bytes, QString* why) {
  File file{Descriptor(-1), {}, {}, {}};
  if (!WriteTemporary(path, bytes, &file, why)) return false;
  if (::fdatasync(file.descriptor.Get()) != 0 ||
      ::rename(file.temporary.c_str(), file.path.c_str()) != 0) {
    if (why) *why = Reason(errno);
    ::unlink(file.temporary.c_str());
    return false;
  }
  return SyncFolder(file.folder, why);
}

int DurableFiles::RemoveStale(const QString& folder) {
  const QDir dir(folder);
  int removed = 0;
  for (const QString& name :
       dir.entryList({QStringLiteral(".*.part*")}, QDir::Files | QDir::Hidden | QDir::System)) {
    const QRegularExpressionMatch match = TemporaryName().match(name);
    if (!match.hasMatch()) continue;
    bool number = false;
    const qint64 pid = match.captured(1).toLongLong(&number);
    // A process that still runs may be writing it: this one, or another copy of the program.
    if (!number || pid == ::getpid() || (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) == 0) ||
        (pid > 0 && errno == EPERM))
      continue;
    if (QFile::remove(dir.filePath(name))) ++removed;
  }
  return removed;
}

}  // namespace recording
