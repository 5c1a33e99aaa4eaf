#pragma once
// The GDI+ operations the picture saving calls: start-up and shut-down, an image from a
// picture's handles, saving it to a stream with the GIF, JPEG or PNG encoder, disposal.

#include <QImage>
#include <cstdint>
#include <memory>

#include "platform/gdi/gdi.h"
#include "platform/gdiplus/file_stream.h"

namespace gdiplus {

enum Status : std::int32_t {
  Ok = 0,
  GenericError = 1,
  InvalidParameter = 2,
  OutOfMemory = 3,
  Win32Error = 7,
  FileNotFound = 10,
  UnknownImageFormat = 13,
};

struct GdiplusStartupInput {
  std::uint32_t GdiplusVersion = 1;
  void* DebugEventCallback = nullptr;
  bool SuppressBackgroundThread = false;
  bool SuppressExternalCodecs = false;
};

inline constexpr const char* kGifEncoderText = "{557CF402-1A04-11D3-9A73-0000F81EF32E}";
inline constexpr const char* kJpegEncoderText = "{557CF401-1A04-11D3-9A73-0000F81EF32E}";
inline constexpr const char* kPngEncoderText = "{557CF406-1A04-11D3-9A73-0000F81EF32E}";
inline constexpr const char* kEncoderQualityText = "{1D5BE4B5-FA4A-452D-9CDD-5DB35105E7EB}";
inline constexpr std::uint32_t EncoderParameterValueTypeLong = 4;

struct EncoderParameter {
  gdi::GUID Guid;
  std::uint32_t NumberOfValues = 0;
  std::uint32_t Type = 0;
  const void* Value = nullptr;
};

struct EncoderParameters {
  std::uint32_t Count = 0;
  EncoderParameter Parameter[1];
};

// A GDI+ image: the pixels of the bitmap it was made from.
struct GpImage {
  QImage pixels;
};

// Fails (and leaves the token 0) when one of the three encoders is missing.
Status GdiplusStartup(std::uintptr_t* token, const GdiplusStartupInput* input, void* output);
void GdiplusShutdown(std::uintptr_t token);

Status GdipCreateBitmapFromHBITMAP(gdi::HBITMAP bitmap, gdi::HPALETTE palette,
                                   std::unique_ptr<GpImage>* image);
Status GdipSaveImageToStream(const GpImage* image, FileStream* stream, const gdi::GUID* encoder,
                             const EncoderParameters* parameters);
Status GdipDisposeImage(std::unique_ptr<GpImage>& image);

}  // namespace gdiplus
