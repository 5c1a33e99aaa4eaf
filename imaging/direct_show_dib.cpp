#include "imaging/direct_show_dib.h"

#include <cstring>

#include "imaging/logging.h"
#include "platform/forms/runtime_error.h"

namespace imaging {

Q_LOGGING_CATEGORY(lcImaging, "strobolux.imaging")

namespace {

// The caller has only the report fields: the log keeps each failure with its reason.
void LogConversionFailure(const QString& description) {
  qCWarning(lcImaging).noquote() << "converting the frame into a picture failed:" << description;
}

}  // namespace

QString FailureText(const QString& prefix, std::int32_t code) {
  return prefix +
         QStringLiteral("%1")
             .arg(static_cast<std::uint32_t>(code), 8, 16, QLatin1Char('0'))
             .toUpper() +
         QStringLiteral(" (") + QString::number(code) + QStringLiteral(")");
}

DirectShowDIB::DirectShowDIB() {
  gdi::CLSIDFromString(QString::fromLatin1(gdi::kIPictureText), &iid_picture_);
}

DirectShowDIB& SharedDirectShowDIB() {
  static DirectShowDIB instance;
  return instance;
}

std::shared_ptr<gdi::Picture> DirectShowDIB::CreatePicture(const forms::LongArray& LongDIB) {
  std::shared_ptr<gdi::Picture> result;
  const gdi::HDC dc = gdi::CreateCompatibleDC(0);
  if (dc == 0) {
    LastError = static_cast<std::int32_t>(gdi::GetLastError());
    LastDescription = FailureText(QStringLiteral("CreateCompatibleDC error 0x"), LastError);
    LogConversionFailure(LastDescription);
    return result;
  }
  const auto outOfRange = [dc] {
    gdi::DeleteDC(dc);
    forms::Raise(forms::kSubscriptOutOfRange);
  };
  const std::vector<std::int32_t>& elements = LongDIB.Elements;
  const auto size = static_cast<std::int64_t>(elements.size());
  if (LongDIB.Dimensions != 1 || size < 10) outOfRange();

  gdi::BITMAPINFOHEADER header;
  std::memcpy(&header, elements.data(), sizeof header);
  const std::int32_t lineCount = header.biHeight;
  std::int64_t pixelOffset =
      static_cast<std::int64_t>(header.biClrUsed) + static_cast<std::int32_t>(header.biSize) / 4;
  // Bit-field masks after a 40-byte header lie before the rows, not in them.
  if (header.biCompression == gdi::BI_BITFIELDS && header.biSize == 40) pixelOffset += 3;
  const std::uint32_t mode = header.biClrUsed != 0 ? gdi::DIB_PAL_COLORS : gdi::DIB_RGB_COLORS;
  if (pixelOffset < 0 || pixelOffset >= size) outOfRange();
  // Every row the header promises must be in the array.
  const std::int64_t pixelBytes = (size - pixelOffset) * 4;
  if (const auto needed = gdi::DibPixelBytes(header); needed && *needed > pixelBytes) outOfRange();

  const auto* bytes = reinterpret_cast<const std::uint8_t*>(elements.data());
  const auto infoBytes = static_cast<std::size_t>(pixelOffset * 4);
  void* sectionBits = nullptr;
  const gdi::HBITMAP section =
      gdi::CreateDIBSection(dc, bytes, infoBytes, mode, &sectionBits, nullptr, 0);
  if (section == 0) {
    LastError = static_cast<std::int32_t>(gdi::GetLastError());
    LastDescription = FailureText(QStringLiteral("CreateDIBSection error 0x"), LastError);
    LogConversionFailure(LastDescription);
    gdi::DeleteDC(dc);
    return result;
  }
  gdi::GdiFlush();
  if (gdi::SetDIBits(dc, section, 0, static_cast<std::uint32_t>(lineCount), bytes + infoBytes,
                     static_cast<std::size_t>(pixelBytes), bytes, infoBytes, mode) == 0) {
    LastError = static_cast<std::int32_t>(gdi::GetLastError());
    LastDescription = FailureText(QStringLiteral("SetDIBits error 0x"), LastError);
    LogConversionFailure(LastDescription);
    gdi::DeleteObject(section);
    gdi::DeleteDC(dc);
    return result;
  }
  gdi::PICTDESC description;
  description.cbSizeofstruct = sizeof(gdi::PICTDESC);
  description.picType = gdi::PICTYPE_BITMAP;
  description.hbitmap = section;
  description.hpal = 0;
  LastError = gdi::OleCreatePictureIndirect(&description, iid_picture_, true, &result);
  if (LastError == 0) {
    LastDescription.clear();
    gdi::DeleteDC(dc);
    return result;  // the bitmap now belongs to the picture
  }
  gdi::DeleteObject(section);
  LastDescription = FailureText(QStringLiteral("OleCreatePictureIndirect error 0x"), LastError);
  LogConversionFailure(LastDescription);
  gdi::DeleteDC(dc);
  return nullptr;
}

}  // namespace imaging
