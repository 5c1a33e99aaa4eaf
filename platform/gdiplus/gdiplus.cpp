#include "platform/gdiplus/gdiplus.h"

#include <optional>

#include "platform/gdiplus/encoders.h"

namespace gdiplus {
namespace {

enum class Format { Gif, Jpeg, Png };

std::uintptr_t next_token = 1;

gdi::GUID Parse(const char* text) {
  gdi::GUID guid;
  gdi::CLSIDFromString(QString::fromLatin1(text), &guid);
  return guid;
}

const char* EncoderText(Format format) {
  switch (format) {
    case Format::Gif:
      return kGifEncoderText;
    case Format::Jpeg:
      return kJpegEncoderText;
    case Format::Png:
      return kPngEncoderText;
  }
  return "";
}

std::optional<Format> FormatOf(const gdi::GUID& encoder) {
  static const gdi::GUID gif = Parse(kGifEncoderText);
  static const gdi::GUID jpeg = Parse(kJpegEncoderText);
  static const gdi::GUID png = Parse(kPngEncoderText);
  if (encoder == gif) return Format::Gif;
  if (encoder == jpeg) return Format::Jpeg;
  if (encoder == png) return Format::Png;
  return std::nullopt;
}

// The JPEG quality from the parameter block: 75 without one, as GDI+ does.
std::optional<int> JpegQuality(const EncoderParameters* parameters) {
  if (!parameters || parameters->Count == 0) return 75;
  if (parameters->Count != 1) return std::nullopt;
  const EncoderParameter& quality = parameters->Parameter[0];
  static const gdi::GUID qualityGuid = Parse(kEncoderQualityText);
  if (!(quality.Guid == qualityGuid) || quality.NumberOfValues != 1 ||
      quality.Type != EncoderParameterValueTypeLong || !quality.Value) {
    return std::nullopt;
  }
  const auto value = *static_cast<const std::uint32_t*>(quality.Value);
  if (value > 100) return std::nullopt;
  return static_cast<int>(value);
}

}  // namespace

Status GdiplusStartup(std::uintptr_t* token, const GdiplusStartupInput* input, void*) {
  if (!token) return InvalidParameter;
  *token = 0;
  if (!input || input->GdiplusVersion != 1) return InvalidParameter;
  for (const Format format : {Format::Gif, Format::Jpeg, Format::Png})
    if (!EncoderInstalled(EncoderText(format))) return FileNotFound;
  *token = next_token++;
  return Ok;
}

void GdiplusShutdown(std::uintptr_t) {}

Status GdipCreateBitmapFromHBITMAP(gdi::HBITMAP bitmap, gdi::HPALETTE,
                                   std::unique_ptr<GpImage>* image) {
  if (!image) return InvalidParameter;
  QImage pixels = gdi::BitmapImage(bitmap);
  if (pixels.isNull()) return InvalidParameter;
  *image = std::make_unique<GpImage>(GpImage{std::move(pixels)});
  return Ok;
}

Status GdipSaveImageToStream(const GpImage* image, FileStream* stream, const gdi::GUID* encoder,
                             const EncoderParameters* parameters) {
  if (!image || !stream || !encoder) return InvalidParameter;
  const std::optional<Format> format = FormatOf(*encoder);
  if (!format || !EncoderInstalled(EncoderText(*format))) return FileNotFound;
  std::optional<QByteArray> bytes;
  switch (*format) {
    case Format::Jpeg: {
      const std::optional<int> quality = JpegQuality(parameters);
      if (!quality) return InvalidParameter;
      bytes = EncodeJpeg(image->pixels, *quality);
      break;
    }
    case Format::Png:
      bytes = EncodePng(image->pixels);
      break;
    case Format::Gif:
      bytes = EncodeGif(image->pixels);
      break;
  }
  if (!bytes) return GenericError;
  return stream->Write(bytes->constData(), static_cast<std::size_t>(bytes->size())) == gdi::S_OK
             ? Ok
             : Win32Error;
}

Status GdipDisposeImage(std::unique_ptr<GpImage>& image) {
  if (!image) return InvalidParameter;
  image.reset();
  return Ok;
}

}  // namespace gdiplus
