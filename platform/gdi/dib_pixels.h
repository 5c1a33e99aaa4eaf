#pragma once
// Reading the pixels of a device-independent bitmap: every layout a camera or a bitmap file
// delivers behind a BITMAPINFOHEADER (or a V4/V5 header).

#include <QImage>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace gdi {

#pragma pack(push, 1)
struct BITMAPINFOHEADER {
  std::uint32_t biSize;
  std::int32_t biWidth;
  std::int32_t biHeight;
  std::uint16_t biPlanes;
  std::uint16_t biBitCount;
  std::uint32_t biCompression;
  std::uint32_t biSizeImage;
  std::int32_t biXPelsPerMeter;
  std::int32_t biYPelsPerMeter;
  std::uint32_t biClrUsed;
  std::uint32_t biClrImportant;
};
#pragma pack(pop)
static_assert(sizeof(BITMAPINFOHEADER) == 40);

inline constexpr std::uint32_t BI_RGB = 0;
inline constexpr std::uint32_t BI_RLE8 = 1;
inline constexpr std::uint32_t BI_RLE4 = 2;
inline constexpr std::uint32_t BI_BITFIELDS = 3;

// The largest bitmap accepted, in pixels (a 8192 x 4096 frame).
inline constexpr std::int64_t kMaxPixels = std::int64_t{1} << 25;

// The header and its colour table or bit-field masks, as they stand in memory.
struct DibInfo {
  BITMAPINFOHEADER header;
  const std::uint8_t* info;  // from the header's first byte
  std::size_t infoBytes;
};

// Reads and checks a header: null when this layer cannot take it.
std::optional<DibInfo> ParseDibInfo(const void* info, std::size_t infoBytes);

// Bytes of one uncompressed row (padded to 4 bytes) and of all rows; null for compressed.
std::optional<std::int64_t> DibPixelBytes(const BITMAPINFOHEADER& header);

// Converts `lines` rows from `bits` into `target` (width x |height|, RGB32, top row first).
// Returns the number of rows copied; 0 when the data is short or malformed.
int ReadDibPixels(const DibInfo& info, const std::uint8_t* bits, std::size_t bitsBytes, int lines,
                  QImage& target);

}  // namespace gdi
