#include "imaging/pic_save.h"

#include "imaging/logging.h"
#include "platform/forms/runtime_error.h"

namespace imaging {
namespace {

const QString kSource = QStringLiteral("PicSave");

// Raises the numbered error for a file that was not saved, which the log keeps with its path.
[[noreturn]] void RaiseWithCode(std::int32_t number, const char* text, std::int32_t code,
                                const QString& path) {
  const QString description = QString::fromLatin1(text) + QString::number(code);
  qCWarning(lcImaging).noquote() << "cannot save" << path << "-" << description;
  forms::Raise(number, kSource, description);
}

}  // namespace

PicSave::PicSave() {
  gdi::CLSIDFromString(QString::fromLatin1(gdiplus::kGifEncoderText), &gif_encoder_);
  gdi::CLSIDFromString(QString::fromLatin1(gdiplus::kJpegEncoderText), &jpeg_encoder_);
  gdi::CLSIDFromString(QString::fromLatin1(gdiplus::kPngEncoderText), &png_encoder_);
  gdi::CLSIDFromString(QString::fromLatin1(gdiplus::kEncoderQualityText), &quality_parameter_);
  startup_input_.GdiplusVersion = 1;
  if (const gdiplus::Status started = gdiplus::GdiplusStartup(&token_, &startup_input_, nullptr);
      started != gdiplus::Ok) {
    // Told here with its status; each save then raises "GDI+ failed to start".
    qCWarning(lcImaging) << "GDI+ did not start: status" << static_cast<int>(started);
    token_ = 0;
  }
}

PicSave::~PicSave() {
  if (token_ != 0) gdiplus::GdiplusShutdown(token_);
}

PicSave& SharedPicSave() {
  static PicSave instance;
  return instance;
}

void PicSave::SavePicture(const std::shared_ptr<gdi::Picture>& StdPicture, const QString& FileName,
                          std::int32_t Format, std::int32_t JpegQualityPct) {
  if (token_ == 0) forms::Raise(kErrGdiplusStart, kSource, QStringLiteral("GDI+ failed to start"));
  if (!StdPicture || Format < 0 || Format > 2 || JpegQualityPct < 1 || JpegQualityPct > 100)
    forms::Raise(forms::kInvalidProcedureCall);

  std::unique_ptr<gdiplus::GpImage> image;
  const gdiplus::Status created =
      gdiplus::GdipCreateBitmapFromHBITMAP(StdPicture->Handle(), StdPicture->hPal(), &image);
  if (created != gdiplus::Ok)
    RaiseWithCode(kErrCreateBitmap, "GdipCreateBitmapFromHBITMAP error ", created, FileName);

  std::unique_ptr<gdiplus::FileStream> stream;  // released on every way out
  const gdi::HRESULT opened = gdiplus::SHCreateStreamOnFileW(
      FileName, gdiplus::STGM_CREATE | gdiplus::STGM_SHARE_EXCLUSIVE | gdiplus::STGM_WRITE,
      &stream);
  if (opened != gdi::S_OK) {
    gdiplus::GdipDisposeImage(image);
    RaiseWithCode(kErrCreateStream, "SHCreateStreamOnFile error ", opened, FileName);
  }

  const gdi::GUID* encoder = Format == 0   ? &gif_encoder_
                             : Format == 1 ? &jpeg_encoder_
                                           : &png_encoder_;
  gdiplus::EncoderParameters parameters;
  const gdiplus::EncoderParameters* chosen = nullptr;
  if (Format == 1) {
    parameters.Count = 1;
    parameters.Parameter[0].Guid = quality_parameter_;
    parameters.Parameter[0].NumberOfValues = 1;
    parameters.Parameter[0].Type = gdiplus::EncoderParameterValueTypeLong;
    parameters.Parameter[0].Value = &JpegQualityPct;
    chosen = &parameters;
  }
  gdiplus::Status saved =
      gdiplus::GdipSaveImageToStream(image.get(), stream.get(), encoder, chosen);
  // Only a complete picture replaces the file.
  if (saved == gdiplus::Ok && stream->Commit() != gdi::S_OK) saved = gdiplus::Win32Error;
  if (saved != gdiplus::Ok) {
    gdiplus::GdipDisposeImage(image);
    RaiseWithCode(kErrSaveImage, "GdipSaveImageToStream error ", saved, FileName);
  }
  gdiplus::GdipDisposeImage(image);
}

}  // namespace imaging
