#pragma once
// A file opened for writing as a stream: the bytes go to a temporary file beside the target,
// which replaces the target only on Commit(); a stream released without it leaves the target
// as it was and no temporary file behind.

#include <QString>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/gdi/gdi.h"

namespace gdiplus {

inline constexpr std::uint32_t STGM_WRITE = 0x00000001;
inline constexpr std::uint32_t STGM_SHARE_EXCLUSIVE = 0x00000010;
inline constexpr std::uint32_t STGM_CREATE = 0x00001000;

// Result codes of the stream, from the system error.
inline constexpr gdi::HRESULT E_FAIL = static_cast<gdi::HRESULT>(0x80004005);
inline constexpr gdi::HRESULT HRESULT_PATH_NOT_FOUND = static_cast<gdi::HRESULT>(0x80070003);
inline constexpr gdi::HRESULT HRESULT_ACCESS_DENIED = static_cast<gdi::HRESULT>(0x80070005);
inline constexpr gdi::HRESULT HRESULT_WRITE_PROTECT = static_cast<gdi::HRESULT>(0x80070013);
inline constexpr gdi::HRESULT HRESULT_DISK_FULL = static_cast<gdi::HRESULT>(0x80070070);

gdi::HRESULT HResultFromErrno(int error);

class FileStream {
 public:
  ~FileStream();  // discards what was not committed
  FileStream(const FileStream&) = delete;
  FileStream& operator=(const FileStream&) = delete;

  gdi::HRESULT Write(const void* data, std::size_t bytes);
  // Makes the written bytes the target's content.
  gdi::HRESULT Commit();

 private:
  friend gdi::HRESULT SHCreateStreamOnFileW(const QString&, std::uint32_t,
                                            std::unique_ptr<FileStream>*);
  FileStream(QString target, QString temporary, int fd);
  void Discard();

  QString target_;
  QString temporary_;
  int fd_;
};

// Mode 0x1011 (create or truncate, exclusive, write) is the one mode offered.
gdi::HRESULT SHCreateStreamOnFileW(const QString& path, std::uint32_t mode,
                                   std::unique_ptr<FileStream>* stream);

}  // namespace gdiplus
