#pragma once
// The bitmap operations the picture conversion calls: memory device contexts, DIB sections,
// the pixel copy, picture objects and GUID parsing, with a per-thread last-error code.

#include <QImage>
#include <QString>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/gdi/dib_pixels.h"

namespace gdi {

using HDC = std::uint32_t;      // 0: none
using HBITMAP = std::uint32_t;  // 0: none
using HPALETTE = std::uint32_t;
using HRESULT = std::int32_t;

inline constexpr std::uint32_t DIB_RGB_COLORS = 0;
inline constexpr std::uint32_t DIB_PAL_COLORS = 1;
inline constexpr std::uint32_t ERROR_INVALID_PARAMETER = 87;
inline constexpr std::uint32_t ERROR_INVALID_HANDLE = 6;
inline constexpr std::uint32_t ERROR_NOT_ENOUGH_MEMORY = 8;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057);
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002);
inline constexpr HRESULT CO_E_CLASSSTRING = static_cast<HRESULT>(0x800401F3);

struct GUID {
  std::array<std::uint8_t, 16> bytes{};
  bool operator==(const GUID&) const = default;
};

// Parses "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
HRESULT CLSIDFromString(const QString& text, GUID* guid);

std::uint32_t GetLastError();
void SetLastError(std::uint32_t code);

HDC CreateCompatibleDC(HDC reference);
bool DeleteDC(HDC dc);

// `info` holds the header and its colour table or masks (infoBytes long). The section's
// pixels are not handed out: `bits` receives null.
HBITMAP CreateDIBSection(HDC dc, const void* info, std::size_t infoBytes, std::uint32_t usage,
                         void** bits, void* section, std::uint32_t offset);
bool GdiFlush();
// Copies `lines` rows from `bits` (bitsBytes long) into the section; the rows found, or 0.
int SetDIBits(HDC dc, HBITMAP bitmap, std::uint32_t start, std::uint32_t lines, const void* bits,
              std::size_t bitsBytes, const void* info, std::size_t infoBytes, std::uint32_t usage);
bool DeleteObject(HBITMAP bitmap);

// The pixels of a live bitmap (a null image for an unknown handle).
QImage BitmapImage(HBITMAP bitmap);

// Device contexts and bitmaps alive now; tests count them to find leaks.
std::size_t LiveObjectCount();

// A picture object of bitmap type. With ownership it deletes its bitmap when the last
// reference goes.
class Picture {
 public:
  Picture(HBITMAP bitmap, HPALETTE palette, bool owns);
  ~Picture();
  Picture(const Picture&) = delete;
  Picture& operator=(const Picture&) = delete;

  HBITMAP Handle() const { return bitmap_; }
  HPALETTE hPal() const { return palette_; }
  QImage Image() const { return BitmapImage(bitmap_); }

 private:
  HBITMAP bitmap_;
  HPALETTE palette_;
  bool owns_;
};

struct PICTDESC {
  std::uint32_t cbSizeofstruct = 0;
  std::uint32_t picType = 0;
  HBITMAP hbitmap = 0;
  HPALETTE hpal = 0;
};
inline constexpr std::uint32_t PICTYPE_BITMAP = 1;

// The picture interface identifier the picture creation answers to.
inline constexpr const char* kIPictureText = "{7BF80980-BF32-101A-8BBB-00AA00300CAB}";

HRESULT OleCreatePictureIndirect(const PICTDESC* description, const GUID& iid, bool own,
                                 std::shared_ptr<Picture>* picture);

// A picture of a plain image (a picture box's persistent image, a clipboard frame).
std::shared_ptr<Picture> PictureFromImage(const QImage& image);

}  // namespace gdi
