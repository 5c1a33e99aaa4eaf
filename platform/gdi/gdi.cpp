#include "platform/gdi/gdi.h"

#include <QRegularExpression>
#include <map>
#include <mutex>
#include <set>

namespace gdi {
namespace {

thread_local std::uint32_t last_error = 0;

struct Bitmap {
  gdi::DibInfo info;  // header only; the info pointer is not kept
  QImage pixels;
};

struct Objects {
  std::mutex mutex;
  std::uint32_t next = 0x1000;
  std::set<HDC> dcs;
  std::map<HBITMAP, std::shared_ptr<Bitmap>> bitmaps;
};

Objects& Live() {
  static Objects objects;
  return objects;
}

std::shared_ptr<Bitmap> FindBitmap(HBITMAP handle) {
  std::lock_guard lock(Live().mutex);
  const auto found = Live().bitmaps.find(handle);
  return found == Live().bitmaps.end() ? nullptr : found->second;
}

bool IsDC(HDC dc) {
  std::lock_guard lock(Live().mutex);
  return Live().dcs.count(dc) != 0;
}

HBITMAP AddBitmap(std::shared_ptr<Bitmap> bitmap) {
  std::lock_guard lock(Live().mutex);
  const HBITMAP handle = Live().next++;
  Live().bitmaps[handle] = std::move(bitmap);
  return handle;
}

}  // namespace

HRESULT CLSIDFromString(const QString& text, GUID* guid) {
  static const QRegularExpression form(
      QStringLiteral("^\\{([0-9A-Fa-f]{8})-([0-9A-Fa-f]{4})-([0-9A-Fa-f]{4})-([0-9A-Fa-f]{4})-([0-"
                     "9A-Fa-f]{12})\\}$"));
  const QRegularExpressionMatch match = form.match(text);
  if (!guid || !match.hasMatch()) return CO_E_CLASSSTRING;
  // The first three groups are stored little-endian, the last two byte by byte.
  const std::uint32_t data1 = match.captured(1).toUInt(nullptr, 16);
  const std::uint16_t data2 = static_cast<std::uint16_t>(match.captured(2).toUInt(nullptr, 16));
  const std::uint16_t data3 = static_cast<std::uint16_t>(match.captured(3).toUInt(nullptr, 16));
  const QByteArray tail = QByteArray::fromHex((match.captured(4) + match.captured(5)).toLatin1());
  GUID result;
  for (int i = 0; i < 4; ++i) result.bytes[i] = static_cast<std::uint8_t>(data1 >> (8 * i));
  for (int i = 0; i < 2; ++i) result.bytes[4 + i] = static_cast<std::uint8_t>(data2 >> (8 * i));
  for (int i = 0; i < 2; ++i) result.bytes[6 + i] = static_cast<std::uint8_t>(data3 >> (8 * i));
  for (int i = 0; i < 8; ++i) result.bytes[8 + i] = static_cast<std::uint8_t>(tail[i]);
  *guid = result;
  return S_OK;
}

std::uint32_t GetLastError() {
  return last_error;
}
void SetLastError(std::uint32_t code) {
  last_error = code;
}

HDC CreateCompatibleDC(HDC reference) {
  if (reference != 0 && !IsDC(reference)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  std::lock_guard lock(Live().mutex);
  const HDC dc = Live().next++;
  Live().dcs.insert(dc);
  return dc;
}

bool DeleteDC(HDC dc) {
  std::lock_guard lock(Live().mutex);
  return Live().dcs.erase(dc) != 0;
}

HBITMAP CreateDIBSection(HDC dc, const void* info, std::size_t infoBytes, std::uint32_t usage,
                         void** bits, void*, std::uint32_t) {
  if (bits) *bits = nullptr;
  const std::optional<DibInfo> parsed = ParseDibInfo(info, infoBytes);
  if ((dc != 0 && !IsDC(dc)) || !parsed || usage > DIB_PAL_COLORS) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  auto bitmap = std::make_shared<Bitmap>();
  bitmap->info = *parsed;
  bitmap->info.info = nullptr;
  bitmap->info.infoBytes = 0;
  bitmap->pixels =
      QImage(parsed->header.biWidth, std::abs(parsed->header.biHeight), QImage::Format_RGB32);
  if (bitmap->pixels.isNull()) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  bitmap->pixels.fill(Qt::black);
  return AddBitmap(std::move(bitmap));
}

bool GdiFlush() {
  return true;
}

int SetDIBits(HDC dc, HBITMAP handle, std::uint32_t start, std::uint32_t lines, const void* bits,
              std::size_t bitsBytes, const void* info, std::size_t infoBytes, std::uint32_t usage) {
  const std::shared_ptr<Bitmap> bitmap = FindBitmap(handle);
  const std::optional<DibInfo> parsed = ParseDibInfo(info, infoBytes);
  // A top-down bitmap's negative height arrives here as a line count; its magnitude counts.
  const std::int64_t count = std::abs(static_cast<std::int64_t>(static_cast<std::int32_t>(lines)));
  if ((dc != 0 && !IsDC(dc)) || !bitmap || !parsed || usage > DIB_PAL_COLORS || start != 0 ||
      parsed->header.biWidth != bitmap->pixels.width() ||
      std::abs(parsed->header.biHeight) != bitmap->pixels.height()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const int copied =
      ReadDibPixels(*parsed, static_cast<const std::uint8_t*>(bits), bitsBytes,
                    static_cast<int>(std::min<std::int64_t>(count, INT32_MAX)), bitmap->pixels);
  if (copied == 0) SetLastError(ERROR_INVALID_PARAMETER);
  return copied;
}

bool DeleteObject(HBITMAP bitmap) {
  std::lock_guard lock(Live().mutex);
  return Live().bitmaps.erase(bitmap) != 0;
}

QImage BitmapImage(HBITMAP handle) {
  const std::shared_ptr<Bitmap> bitmap = FindBitmap(handle);
  return bitmap ? bitmap->pixels : QImage();
}

std::size_t LiveObjectCount() {
  std::lock_guard lock(Live().mutex);
  return Live().dcs.size() + Live().bitmaps.size();
}

Picture::Picture(HBITMAP bitmap, HPALETTE palette, bool owns)
    : bitmap_(bitmap), palette_(palette), owns_(owns) {}

Picture::~Picture() {
  if (owns_) DeleteObject(bitmap_);
}

HRESULT OleCreatePictureIndirect(const PICTDESC* description, const GUID& iid, bool own,
                                 std::shared_ptr<Picture>* picture) {
  if (!picture) return E_INVALIDARG;
  *picture = nullptr;
  static const GUID ipicture = [] {
    GUID parsed;
    CLSIDFromString(QString::fromLatin1(kIPictureText), &parsed);
    return parsed;
  }();
  if (!(iid == ipicture)) return E_NOINTERFACE;
  if (!description || description->cbSizeofstruct != sizeof(PICTDESC) ||
      description->picType != PICTYPE_BITMAP || !FindBitmap(description->hbitmap)) {
    return E_INVALIDARG;
  }
  *picture = std::make_shared<Picture>(description->hbitmap, description->hpal, own);
  return S_OK;
}

std::shared_ptr<Picture> PictureFromImage(const QImage& image) {
  if (image.isNull()) return nullptr;
  auto bitmap = std::make_shared<Bitmap>();
  bitmap->info.header =
      BITMAPINFOHEADER{40, image.width(), -image.height(), 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  bitmap->pixels = image.convertToFormat(QImage::Format_RGB32);
  return std::make_shared<Picture>(AddBitmap(std::move(bitmap)), 0, true);
}

}  // namespace gdi
