#pragma once
// Saves a picture object as a GIF, JPEG or PNG file through the GDI+ encoders, raising
// numbered errors with the source "PicSave".

#include <QString>
#include <cstdint>
#include <memory>

#include "platform/gdi/gdi.h"
#include "platform/gdiplus/gdiplus.h"

namespace imaging {

// Error numbers: the object-error base 0x80040000 plus the class's own codes.
inline constexpr std::int32_t kErrGdiplusStart = static_cast<std::int32_t>(0x80044800);
inline constexpr std::int32_t kErrCreateBitmap = static_cast<std::int32_t>(0x80044848);
inline constexpr std::int32_t kErrCreateStream = static_cast<std::int32_t>(0x80044850);
inline constexpr std::int32_t kErrSaveImage = static_cast<std::int32_t>(0x80044858);

class PicSave {
 public:
  PicSave();   // starts GDI+
  ~PicSave();  // shuts it down
  PicSave(const PicSave&) = delete;
  PicSave& operator=(const PicSave&) = delete;

  // Format 0 GIF, 1 JPEG (with JpegQualityPct), 2 PNG. The file is replaced only when the
  // whole picture was written.
  void SavePicture(const std::shared_ptr<gdi::Picture>& StdPicture, const QString& FileName,
                   std::int32_t Format, std::int32_t JpegQualityPct);

 private:
  gdi::GUID gif_encoder_;
  gdi::GUID jpeg_encoder_;
  gdi::GUID png_encoder_;
  gdi::GUID quality_parameter_;
  gdiplus::GdiplusStartupInput startup_input_;
  std::uintptr_t token_ = 0;
};

// The one instance of the program, made on first use.
PicSave& SharedPicSave();

}  // namespace imaging
