#include "platform/gdiplus/encoders.h"

#include <gif_lib.h>
#include <png.h>
#include <turbojpeg.h>

#include <memory>
#include <unordered_map>
#include <vector>

namespace gdiplus {
namespace {

// The largest side each format can describe.
constexpr int kJpegMaxSide = 65500;
constexpr int kGifMaxSide = 65535;

QImage Rgb32(const QImage& image) {
  return image.convertToFormat(QImage::Format_RGB32);
}

struct TjDestroy {
  void operator()(void* handle) const { tjDestroy(handle); }
};

// Fills a colour table with the picture's own colours and points each pixel at its entry.
// False, leaving the outputs unusable, when the picture has more colours than the table holds.
bool IndexExactColors(const std::vector<GifByteType>& red, const std::vector<GifByteType>& green,
                      const std::vector<GifByteType>& blue, std::vector<GifColorType>& colors,
                      std::vector<GifByteType>& indices) {
  std::unordered_map<std::uint32_t, GifByteType> known;
  for (size_t i = 0; i < red.size(); ++i) {
    const std::uint32_t key = (std::uint32_t{red[i]} << 16) | (green[i] << 8) | blue[i];
    auto [entry, added] = known.try_emplace(key, static_cast<GifByteType>(known.size()));
    if (added) {
      if (known.size() > colors.size()) return false;
      colors[entry->second] = GifColorType{red[i], green[i], blue[i]};
    }
    indices[i] = entry->second;
  }
  return true;
}

}  // namespace

std::optional<QByteArray> EncodeJpeg(const QImage& image, int quality) {
  if (image.isNull() || image.width() > kJpegMaxSide || image.height() > kJpegMaxSide)
    return std::nullopt;
  const QImage pixels = Rgb32(image);
  std::unique_ptr<void, TjDestroy> compressor(tjInitCompress());
  if (!compressor) return std::nullopt;
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  // RGB32 lies in memory as B, G, R, X on this little-endian machine.
  const int result = tjCompress2(compressor.get(), pixels.constBits(), pixels.width(),
                                 static_cast<int>(pixels.bytesPerLine()), pixels.height(),
                                 TJPF_BGRX, &jpeg, &size, TJSAMP_420, quality, 0);
  std::unique_ptr<unsigned char, decltype(&tjFree)> owned(jpeg, &tjFree);
  if (result != 0) return std::nullopt;
  return QByteArray(reinterpret_cast<const char*>(jpeg), static_cast<qsizetype>(size));
}

std::optional<QByteArray> EncodePng(const QImage& image, int level) {
  if (image.isNull()) return std::nullopt;
  const bool grey = image.format() == QImage::Format_Grayscale8;
  const QImage pixels = grey ? image : image.convertToFormat(QImage::Format_RGB888);
  QByteArray out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return std::nullopt;
  png_infop info = png_create_info_struct(png);
  struct Cleanup {
    png_structp* png;
    png_infop* info;
    ~Cleanup() { png_destroy_write_struct(png, info); }
  } cleanup{&png, &info};
  if (!info) return std::nullopt;
  // libpng reports errors by jumping back here.
  if (setjmp(png_jmpbuf(png))) return std::nullopt;
  png_set_write_fn(
      png, &out,
      [](png_structp p, png_bytep data, png_size_t length) {
        static_cast<QByteArray*>(png_get_io_ptr(p))
            ->append(reinterpret_cast<const char*>(data), static_cast<qsizetype>(length));
      },
      nullptr);
  png_set_IHDR(png, info, static_cast<png_uint_32>(pixels.width()),
               static_cast<png_uint_32>(pixels.height()), 8,
               grey ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (level >= 0) png_set_compression_level(png, level);
  png_write_info(png, info);
  for (int y = 0; y < pixels.height(); ++y)
    png_write_row(png, const_cast<png_bytep>(pixels.constScanLine(y)));
  png_write_end(png, info);
  return out;
}

std::optional<QByteArray> EncodeGif(const QImage& image) {
  if (image.isNull() || image.width() > kGifMaxSide || image.height() > kGifMaxSide)
    return std::nullopt;
  const QImage pixels = image.convertToFormat(QImage::Format_RGB888);
  const int width = pixels.width();
  const int height = pixels.height();
  const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
  std::vector<GifByteType> red(count), green(count), blue(count), indices(count);
  for (int y = 0; y < height; ++y) {
    const uchar* row = pixels.constScanLine(y);
    for (int x = 0; x < width; ++x) {
      const size_t i = static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x);
      red[i] = row[3 * x];
      green[i] = row[3 * x + 1];
      blue[i] = row[3 * x + 2];
    }
  }
  // GIF holds at most 256 colours. A picture that has no more keeps them exactly; a larger
  // one goes through giflib's median-cut quantizer (which keeps 5 bits per channel).
  std::vector<GifColorType> colors(256);
  if (!IndexExactColors(red, green, blue, colors, indices)) {
    int colorCount = 256;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (GifQuantizeBuffer(static_cast<unsigned>(width), static_cast<unsigned>(height), &colorCount,
                          red.data(), green.data(), blue.data(), indices.data(),
                          colors.data()) == GIF_ERROR) {
      return std::nullopt;
    }
#pragma GCC diagnostic pop
  }
  QByteArray out;
  int error = 0;
  GifFileType* gif = EGifOpen(
      &out,
      [](GifFileType* file, const GifByteType* data, int length) {
        static_cast<QByteArray*>(file->UserData)
            ->append(reinterpret_cast<const char*>(data), length);
        return length;
      },
      &error);
  if (!gif) return std::nullopt;
  ColorMapObject* map = GifMakeMapObject(256, colors.data());
  bool ok = map && EGifPutScreenDesc(gif, width, height, 8, 0, map) == GIF_OK &&
            EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr) == GIF_OK;
  for (int y = 0; ok && y < height; ++y)
    ok = EGifPutLine(gif, indices.data() + static_cast<size_t>(y) * static_cast<size_t>(width),
                     width) == GIF_OK;
  GifFreeMapObject(map);
  if (EGifCloseFile(gif, &error) != GIF_OK) ok = false;
  if (!ok) return std::nullopt;
  return out;
}

}  // namespace gdiplus
