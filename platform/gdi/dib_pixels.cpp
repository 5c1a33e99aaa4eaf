#include "platform/gdi/dib_pixels.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

namespace gdi {
namespace {

constexpr std::uint32_t kMaxHeaderBytes = 4096;

int Bits(std::uint16_t bitCount) {
  return bitCount;
}

std::int64_t Stride(const BITMAPINFOHEADER& h) {
  return (static_cast<std::int64_t>(h.biWidth) * Bits(h.biBitCount) + 31) / 32 * 4;
}

// Colour-table entries a header implies for an indexed bitmap.
std::uint32_t TableEntries(const BITMAPINFOHEADER& h) {
  if (h.biBitCount > 8) return 0;
  return h.biClrUsed != 0 ? h.biClrUsed : (1u << h.biBitCount);
}

// One colour channel of a bit-field mask.
struct Channel {
  std::uint32_t mask = 0;
  int shift = 0;
  int bits = 0;

  explicit Channel(std::uint32_t m) : mask(m) {
    if (m != 0) {
      shift = std::countr_zero(m);
      bits = std::bit_width(m >> shift);
    }
  }
  // The channel as 8 bits. A narrower one repeats its bits to fill them, as the reference
  // decoders do (5-bit 4 is 33, 6-bit 32 is 130), so its full value is 255; a wider one
  // keeps its top 8 bits.
  int Value(std::uint32_t pixel) const {
    if (bits == 0) return 0;
    const std::uint32_t value = (pixel & mask) >> shift;
    if (bits >= 8) return static_cast<int>(value >> (bits - 8));
    std::uint32_t widened = 0;
    for (int filled = 0; filled < 8; filled += bits) widened |= (value << (8 - bits)) >> filled;
    return static_cast<int>(widened);
  }
};

struct Palette {
  std::vector<QRgb> colors;
  QRgb At(std::uint32_t index) const {
    // An index past the table shows black rather than reading past it.
    return index < colors.size() ? colors[index] : qRgb(0, 0, 0);
  }
};

Palette ReadPalette(const DibInfo& info) {
  Palette palette;
  const std::uint32_t entries = TableEntries(info.header);
  // The table is read as RGB colours, whatever colour-use mode the caller passed.
  const std::uint8_t* table = info.info + info.header.biSize;
  for (std::uint32_t i = 0; i < entries; ++i) {
    const std::uint8_t* quad = table + 4 * i;
    palette.colors.push_back(qRgb(quad[2], quad[1], quad[0]));
  }
  return palette;
}

void ReadMasks(const DibInfo& info, std::uint32_t masks[3]) {
  std::memcpy(masks, info.info + 40, 12);
}

void ConvertRow(const DibInfo& info, const Palette& palette, const Channel* channels,
                const std::uint8_t* row, QRgb* out) {
  const BITMAPINFOHEADER& h = info.header;
  const int width = h.biWidth;
  switch (h.biBitCount) {
    case 1:
    case 4:
    case 8: {
      const int bits = h.biBitCount;
      const int perByte = 8 / bits;
      const std::uint32_t indexMask = (1u << bits) - 1;
      for (int x = 0; x < width; ++x) {
        const int shift = 8 - bits * (x % perByte + 1);
        out[x] = palette.At((row[x / perByte] >> shift) & indexMask);
      }
      break;
    }
    case 16:
      for (int x = 0; x < width; ++x) {
        const std::uint32_t v = row[2 * x] | (row[2 * x + 1] << 8);
        out[x] = qRgb(channels[0].Value(v), channels[1].Value(v), channels[2].Value(v));
      }
      break;
    case 24:
      for (int x = 0; x < width; ++x) out[x] = qRgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
      break;
    case 32:
      if (h.biCompression == BI_BITFIELDS) {
        for (int x = 0; x < width; ++x) {
          std::uint32_t v;
          std::memcpy(&v, row + 4 * x, 4);
          out[x] = qRgb(channels[0].Value(v), channels[1].Value(v), channels[2].Value(v));
        }
      } else {
        for (int x = 0; x < width; ++x) out[x] = qRgb(row[4 * x + 2], row[4 * x + 1], row[4 * x]);
      }
      break;
    default:
      break;
  }
}

// Run-length decoding of 8- and 4-bit rows, bottom-up. False for data that ends without its
// end-of-bitmap mark. Pixels past the end of a row are dropped and the column stays at the
// row's end, so no run or delta, however long, can move it outside the image.
bool DecodeRle(const DibInfo& info, const Palette& palette, const std::uint8_t* data,
               std::size_t size, QImage& target) {
  const bool four = info.header.biCompression == BI_RLE4;
  const int width = info.header.biWidth;
  const int height = info.header.biHeight;
  int x = 0;
  int y = 0;  // rows counted from the bottom
  // Writes `count` pixels from the column on; pixel i has the colour index(i).
  const auto put = [&](int count, const auto& index) {
    const int room = std::min(count, width - x);
    QRgb* row = reinterpret_cast<QRgb*>(target.scanLine(height - 1 - y));
    for (int i = 0; i < room; ++i) row[x + i] = palette.At(index(i));
    x += room;
  };
  std::size_t at = 0;
  while (at + 2 <= size) {
    const std::uint8_t count = data[at];
    const std::uint8_t value = data[at + 1];
    at += 2;
    if (count > 0) {
      put(count, [&](int i) { return four ? (i % 2 == 0 ? value >> 4 : value & 0x0F) : value; });
      continue;
    }
    switch (value) {
      case 0:  // end of line
        x = 0;
        ++y;
        break;
      case 1:  // end of bitmap
        return true;
      case 2:  // delta
        if (at + 2 > size) return false;
        x = std::min(width, x + data[at]);
        y += data[at + 1];
        at += 2;
        break;
      default: {  // absolute run of `value` pixels, padded to a 16-bit boundary
        const std::size_t bytes = four ? (value + 1u) / 2u : value;
        if (at + bytes > size) return false;
        const std::uint8_t* run = data + at;
        put(value, [&](int i) {
          return four ? (i % 2 == 0 ? run[i / 2] >> 4 : run[i / 2] & 0x0F) : run[i];
        });
        at += bytes + (bytes & 1u);
        break;
      }
    }
    if (y >= height) return true;
  }
  return false;
}

}  // namespace

std::optional<DibInfo> ParseDibInfo(const void* info, std::size_t infoBytes) {
  if (!info || infoBytes < sizeof(BITMAPINFOHEADER)) return std::nullopt;
  DibInfo result{{}, static_cast<const std::uint8_t*>(info), infoBytes};
  BITMAPINFOHEADER& h = result.header;
  std::memcpy(&h, info, sizeof h);
  // Header sizes other than the known ones are read as a BITMAPINFOHEADER; whatever follows
  // the header (colour table, masks) must lie inside `info`.
  if (h.biSize < 40 || h.biSize > kMaxHeaderBytes) return std::nullopt;
  if (h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == INT32_MIN || h.biPlanes != 1)
    return std::nullopt;
  const std::int64_t pixels = static_cast<std::int64_t>(h.biWidth) * std::abs(h.biHeight);
  if (pixels > kMaxPixels) return std::nullopt;
  switch (h.biBitCount) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
      break;
    default:
      return std::nullopt;
  }
  switch (h.biCompression) {
    case BI_RGB:
      break;
    case BI_RLE8:
      if (h.biBitCount != 8 || h.biHeight < 0) return std::nullopt;
      break;
    case BI_RLE4:
      if (h.biBitCount != 4 || h.biHeight < 0) return std::nullopt;
      break;
    case BI_BITFIELDS:
      if (h.biBitCount != 16 && h.biBitCount != 32) return std::nullopt;
      // The masks follow a 40-byte header, or are part of a larger one.
      if (infoBytes < 52) return std::nullopt;
      break;
    default:
      return std::nullopt;
  }
  if (h.biBitCount <= 8) {
    if (h.biClrUsed > (1u << h.biBitCount)) return std::nullopt;
    if (h.biSize + 4ull * TableEntries(h) > infoBytes) return std::nullopt;
  }
  return result;
}

std::optional<std::int64_t> DibPixelBytes(const BITMAPINFOHEADER& header) {
  // Called before the header was checked: anything odd is left to the header check.
  if (header.biCompression != BI_RGB && header.biCompression != BI_BITFIELDS) return std::nullopt;
  if (header.biWidth <= 0 || header.biBitCount == 0 || header.biBitCount > 32) return std::nullopt;
  std::int64_t bytes = 0;
  if (__builtin_mul_overflow(Stride(header), std::abs(static_cast<std::int64_t>(header.biHeight)),
                             &bytes)) {
    return INT64_MAX;  // more than any array holds
  }
  return bytes;
}

int ReadDibPixels(const DibInfo& info, const std::uint8_t* bits, std::size_t bitsBytes, int lines,
                  QImage& target) {
  const BITMAPINFOHEADER& h = info.header;
  const int height = std::abs(h.biHeight);
  if (!bits || lines <= 0 || target.width() != h.biWidth || target.height() != height) return 0;
  lines = std::min(lines, height);
  const Palette palette = ReadPalette(info);
  if (h.biCompression == BI_RLE8 || h.biCompression == BI_RLE4) {
    target.fill(Qt::black);
    return DecodeRle(info, palette, bits, bitsBytes, target) ? lines : 0;
  }
  std::uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};  // 16-bit without masks: 5-5-5
  if (h.biCompression == BI_BITFIELDS) ReadMasks(info, masks);
  const Channel channels[3] = {Channel(masks[0]), Channel(masks[1]), Channel(masks[2])};
  const std::int64_t stride = Stride(h);
  if (static_cast<std::int64_t>(bitsBytes) < stride * lines) return 0;
  const bool bottomUp = h.biHeight > 0;
  for (int r = 0; r < lines; ++r) {
    const int y = bottomUp ? height - 1 - r : r;
    ConvertRow(info, palette, channels, bits + stride * r,
               reinterpret_cast<QRgb*>(target.scanLine(y)));
  }
  return lines;
}

}  // namespace gdi
