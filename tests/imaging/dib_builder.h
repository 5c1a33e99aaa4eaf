#pragma once
// Builds packed bitmaps (header, colour table or masks, rows) as the camera delivers them.

#include <cstring>
#include <vector>

#include "platform/forms/basic_array.h"
#include "platform/gdi/dib_pixels.h"

namespace testing_support {

inline gdi::BITMAPINFOHEADER Header(int width, int height, int bits,
                                    std::uint32_t compression = gdi::BI_RGB,
                                    std::uint32_t colorsUsed = 0) {
  return {40, width, height,     1, static_cast<std::uint16_t>(bits), compression, 0,
          0,  0,     colorsUsed, 0};
}

inline int Stride(int width, int bits) {
  return (width * bits + 31) / 32 * 4;
}

// Header, then `extra` 32-bit entries (colour table or masks), then the row bytes.
inline forms::LongArray Pack(const gdi::BITMAPINFOHEADER& header,
                             const std::vector<std::uint32_t>& extra,
                             const std::vector<std::uint8_t>& rows, std::int32_t lowerBound = 0) {
  std::vector<std::uint8_t> bytes(sizeof header);
  std::memcpy(bytes.data(), &header, sizeof header);
  bytes.resize(header.biSize, 0);
  for (std::uint32_t entry : extra)
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(entry >> (8 * i)));
  bytes.insert(bytes.end(), rows.begin(), rows.end());
  bytes.resize((bytes.size() + 3) / 4 * 4, 0);
  forms::LongArray array;
  array.LowerBound = lowerBound;
  array.Elements.resize(bytes.size() / 4);
  std::memcpy(array.Elements.data(), bytes.data(), bytes.size());
  return array;
}

}  // namespace testing_support
