#pragma once
// Files that appear only complete and reach the disk in groups. Each file is written under a
// temporary name beside its place and renamed into place at once, so a killed program leaves
// no partial picture under a picture's name; its data and its folder reach the disk at the
// next Sync, which the writer runs at least once a second and at the end of a run, instead of
// one stall per file.

#include <QByteArray>
#include <QString>
#include <set>
#include <string>
#include <vector>

namespace recording {

class DurableFiles {
 public:
  DurableFiles() = default;
  ~DurableFiles();  // syncs what is still pending
  DurableFiles(const DurableFiles&) = delete;
  DurableFiles& operator=(const DurableFiles&) = delete;

  // Writes `bytes` as `path`; false with the system's reason when it could not, and then
  // nothing is left behind (an older file of that name stays as it was).
  [[nodiscard]] bool Write(const QString& path, const QByteArray& bytes, QString* why);
  // Brings the files written since the last sync, and their folders' entries, to the disk;
  // false with the reason when any could not be.
  [[nodiscard]] bool Sync(QString* why);
  bool Pending() const { return !files_.empty(); }

 private:
  class Descriptor {
   public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(Descriptor&& other) noexcept : fd_(other.Release()) {}
    Descriptor& operator=(Descriptor&&) = delete;
    ~Descriptor();
    int Get() const { return fd_; }
    int Release() {
      const int fd = fd_;
      fd_ = -1;
      return fd;
    }

   private:
    int fd_;
  };

  std::vector<Descriptor> files_;  // written and renamed, not yet synced
  std::set<std::string> folders_;  // their folders
};

}  // namespace recording
