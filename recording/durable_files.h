#pragma once
// Files that appear under their names only once their data is on the disk, and reach it in
// groups. Each file is written under a hidden temporary name beside its place; a Commit, which
// the writer runs about once a second and at the end of a run, brings the group's data to the
// disk, then names the files and brings their folder's entries there. A power cut leaves no
// empty or partial picture under a picture's name; a kill leaves temporary files that
// RemoveStale takes away later.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <set>
#include <string>
#include <vector>

namespace recording {

class DurableFiles {
 public:
  DurableFiles() = default;
  ~DurableFiles();  // commits what is still pending
  DurableFiles(const DurableFiles&) = delete;
  DurableFiles& operator=(const DurableFiles&) = delete;

  // Writes `bytes` to go under `path` at the next Commit; false with the system's reason when
  // it could not, and then nothing is left behind.
  [[nodiscard]] bool Write(const QString& path, const QByteArray& bytes, QString* why);

  // What became of each file written since the last commit, in the order of the writes.
  struct Outcome {
    enum class Kind { Named, Failed, Dropped } kind = Kind::Named;
    QString why;  // Failed: the system's reason
  };
  // Brings the pending files' data to the disk, then names them in order until one cannot be
  // (Failed); those after it are removed unnamed (Dropped), so that a group never leaves a
  // gap. Then the folders' entries go to the disk: when that fails, `folderWhy` says why and
  // the named files may not survive a power cut.
  std::vector<Outcome> Commit(QString* folderWhy);

  // One file written, synced, named and its folder synced before it returns.
  [[nodiscard]] static bool WriteNow(const QString& path, const QByteArray& bytes, QString* why);
  // Removes the temporary files of this program that a killed process left in `folder`
  // (those of a process still running stay); the number removed.
  static int RemoveStale(const QString& folder);

 private:
  class Descriptor {
   public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(Descriptor&& other) noexcept : fd_(other.Release()) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
      if (this != &other) Reset(other.Release());
      return *this;
    }
    ~Descriptor();
    int Get() const { return fd_; }
    void Reset(int fd);
    int Release() {
      const int fd = fd_;
      fd_ = -1;
      return fd;
    }

   private:
    int fd_;
  };
  struct File {
    Descriptor descriptor;
    std::string temporary;
    std::string path;
    std::string folder;
  };
  static bool WriteTemporary(const QString& path, const QByteArray& bytes, File* file,
                             QString* why);

  std::vector<File> files_;  // written, not yet named
};

}  // namespace recording
