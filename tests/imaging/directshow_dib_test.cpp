#include <gtest/gtest.h>

#include <QImage>

#include "imaging/direct_show_dib.h"
#include "platform/forms/runtime_error.h"
#include "platform/gdi/gdi.h"
#include "tests/imaging/dib_builder.h"
#include "tests/support/test_support.h"

using imaging::DirectShowDIB;
using testing_support::Header;
using testing_support::Pack;
using testing_support::Stride;

namespace {

// A w x h picture whose pixel (x, y), counted from the top, has a colour of its own.
QRgb Expected(int x, int y) {
  return qRgb((x * 37) & 0xFF, (y * 53) & 0xFF, (x + y) & 0xFF);
}

// The rows of that picture in a 24- or 32-bit DIB, bottom-up unless topDown.
std::vector<std::uint8_t> TrueColorRows(int w, int h, int bits, bool topDown) {
  const int stride = Stride(w, bits);
  std::vector<std::uint8_t> rows(static_cast<size_t>(stride * h), 0);
  for (int r = 0; r < h; ++r) {
    const int y = topDown ? r : h - 1 - r;
    for (int x = 0; x < w; ++x) {
      std::uint8_t* p = rows.data() + r * stride + x * (bits / 8);
      p[0] = static_cast<std::uint8_t>(qBlue(Expected(x, y)));
      p[1] = static_cast<std::uint8_t>(qGreen(Expected(x, y)));
      p[2] = static_cast<std::uint8_t>(qRed(Expected(x, y)));
    }
  }
  return rows;
}

void ExpectPicture(const std::shared_ptr<gdi::Picture>& picture, int w, int h,
                   const std::function<QRgb(int, int)>& expected) {
  ASSERT_NE(picture, nullptr);
  const QImage image = picture->Image();
  ASSERT_EQ(image.size(), QSize(w, h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      ASSERT_EQ(image.pixel(x, y), expected(x, y) | 0xFF000000u) << x << "," << y;
}

int NumberOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const forms::RuntimeError& error) {
    return error.Number();
  }
  return 0;
}

}  // namespace

TEST(DirectShowDIB, TwentyFourBitFrameBecomesAPictureOfItsSize) {
  DirectShowDIB dib;
  const auto live = gdi::LiveObjectCount();
  {
    const auto picture =
        dib.CreatePicture(Pack(Header(7, 5, 24), {}, TrueColorRows(7, 5, 24, false)));
    ExpectPicture(picture, 7, 5, Expected);
    EXPECT_EQ(picture->hPal(), 0u);
    EXPECT_EQ(dib.LastError, 0);
    EXPECT_TRUE(dib.LastDescription.isEmpty());
    EXPECT_EQ(gdi::LiveObjectCount(), live + 1);  // the bitmap, owned by the picture
  }
  EXPECT_EQ(gdi::LiveObjectCount(), live);  // gone with the last reference
}

TEST(DirectShowDIB, ThirtyTwoBitTopDownAndNonZeroLowerBound) {
  DirectShowDIB dib;
  ExpectPicture(dib.CreatePicture(Pack(Header(6, 4, 32), {}, TrueColorRows(6, 4, 32, false))), 6, 4,
                Expected);
  ExpectPicture(dib.CreatePicture(Pack(Header(6, -4, 24), {}, TrueColorRows(6, 4, 24, true))), 6, 4,
                Expected);
  ExpectPicture(dib.CreatePicture(Pack(Header(3, 3, 24), {}, TrueColorRows(3, 3, 24, false), -7)),
                3, 3, Expected);
}

TEST(DirectShowDIB, PaletteImagesUseTheTableAsColoursWhateverTheMode) {
  DirectShowDIB dib;
  // 256 entries: the rows start at element 10 + 256 = 266, and the mode is "palette".
  std::vector<std::uint32_t> table(256);
  for (std::uint32_t i = 0; i < 256; ++i) table[i] = (i << 16) | ((255 - i) << 8) | (i / 2);
  const int w = 5, h = 3;
  std::vector<std::uint8_t> rows(static_cast<size_t>(Stride(w, 8) * h));
  for (int r = 0; r < h; ++r)
    for (int x = 0; x < w; ++x)
      rows[static_cast<size_t>(r) * static_cast<size_t>(Stride(w, 8)) + static_cast<size_t>(x)] =
          static_cast<std::uint8_t>(x * 40 + r);
  const forms::LongArray packed = Pack(Header(w, h, 8, gdi::BI_RGB, 256), table, rows);
  ASSERT_EQ(packed.Elements[266] & 0xFF, 0);  // first row, first pixel: index 0
  ExpectPicture(dib.CreatePicture(packed), w, h, [&](int x, int y) {
    const std::uint32_t i = static_cast<std::uint32_t>(x * 40 + (h - 1 - y));
    return qRgb(static_cast<int>(i), static_cast<int>(255 - i), static_cast<int>(i / 2));
  });
}

TEST(DirectShowDIB, SixteenBitFieldsAndFourBitRunLengths) {
  DirectShowDIB dib;
  // 5-6-5 with the masks after the 40-byte header: the rows begin after them.
  const int w = 4, h = 2;
  std::vector<std::uint8_t> rows(static_cast<size_t>(Stride(w, 16) * h));
  const std::uint16_t pure[4] = {0xF800, 0x07E0, 0x001F, 0xFFFF};
  for (int r = 0; r < h; ++r)
    for (int x = 0; x < w; ++x) {
      rows[static_cast<size_t>(r) * static_cast<size_t>(Stride(w, 16)) +
           2 * static_cast<size_t>(x)] = pure[x] & 0xFF;
      rows[static_cast<size_t>(r) * static_cast<size_t>(Stride(w, 16)) +
           2 * static_cast<size_t>(x) + 1] = pure[x] >> 8;
    }
  const QRgb colors[4] = {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255), qRgb(255, 255, 255)};
  ExpectPicture(
      dib.CreatePicture(Pack(Header(w, h, 16, gdi::BI_BITFIELDS), {0xF800, 0x07E0, 0x001F}, rows)),
      w, h, [&](int x, int) { return colors[x]; });

  // RLE4, 16 colours: a run of 6 alternating 1/2, end of line, an absolute run 3,4,5, end.
  std::vector<std::uint32_t> table(16);
  for (std::uint32_t i = 0; i < 16; ++i) table[i] = i * 0x101010;
  const std::vector<std::uint8_t> rle = {6, 0x12, 0, 0, 0, 3, 0x34, 0x50, 0, 1};
  const auto picture = dib.CreatePicture(Pack(Header(6, 2, 4, gdi::BI_RLE4, 16), table, rle));
  ASSERT_NE(picture, nullptr) << dib.LastDescription.toStdString();
  const QImage image = picture->Image();
  const auto grey = [](int i) { return qRgb(i * 16, i * 16, i * 16); };
  EXPECT_EQ(image.pixel(0, 1), grey(1));  // bottom row first
  EXPECT_EQ(image.pixel(1, 1), grey(2));
  EXPECT_EQ(image.pixel(5, 1), grey(2));
  EXPECT_EQ(image.pixel(0, 0), grey(3));
  EXPECT_EQ(image.pixel(2, 0), grey(5));
  EXPECT_EQ(image.pixel(4, 0), qRgb(0, 0, 0));  // never written
}

TEST(DirectShowDIB, HeaderSizeIsDividedWithTruncation) {
  DirectShowDIB dib;
  gdi::BITMAPINFOHEADER header = Header(2, 2, 24);
  header.biSize = 42;  // 10 header elements: the rows start at element 10
  forms::LongArray packed = Pack(Header(2, 2, 24), {}, TrueColorRows(2, 2, 24, false));
  std::memcpy(packed.Elements.data(), &header, sizeof header);
  ExpectPicture(dib.CreatePicture(packed), 2, 2, Expected);
}

TEST(DirectShowDIB, FailuresAreReportedWithTheirTextAndLeaveNothingBehind) {
  DirectShowDIB dib;
  const auto live = gdi::LiveObjectCount();
  // A bit count the section cannot take.
  EXPECT_EQ(dib.CreatePicture(Pack(Header(4, 4, 3), {}, std::vector<std::uint8_t>(64))), nullptr);
  EXPECT_EQ(dib.LastError, 87);
  EXPECT_EQ(dib.LastDescription, QStringLiteral("CreateDIBSection error 0x00000057 (87)"));
  // A run-length bitmap that stops before its end mark: the pixel copy fails.
  std::vector<std::uint32_t> table(256);
  EXPECT_EQ(dib.CreatePicture(Pack(Header(4, 4, 8, gdi::BI_RLE8, 256), table, {4, 1, 0})), nullptr);
  EXPECT_EQ(dib.LastDescription, QStringLiteral("SetDIBits error 0x00000057 (87)"));
  EXPECT_EQ(gdi::LiveObjectCount(), live);
  // A success afterwards clears the report.
  EXPECT_NE(dib.CreatePicture(Pack(Header(1, 1, 24), {}, TrueColorRows(1, 1, 24, false))), nullptr);
  EXPECT_EQ(dib.LastError, 0);
  EXPECT_TRUE(dib.LastDescription.isEmpty());
}

TEST(DirectShowDIB, FailuresLeaveTheirReasonInTheLogAndSuccessesNothing) {
  DirectShowDIB dib;
  testing_support::LogRecorder traces;
  EXPECT_EQ(dib.CreatePicture(Pack(Header(4, 4, 3), {}, std::vector<std::uint8_t>(64))), nullptr);
  EXPECT_NE(dib.CreatePicture(Pack(Header(1, 1, 24), {}, TrueColorRows(1, 1, 24, false))), nullptr);
  EXPECT_EQ(traces.Lines(), QStringList{QStringLiteral(
                                "strobolux.imaging: converting the frame into a picture failed: "
                                "CreateDIBSection error 0x00000057 (87)")});
}

TEST(DirectShowDIB, FailureTextsShowTheBitPatternAndTheSignedValue) {
  EXPECT_EQ(imaging::FailureText(QStringLiteral("CreateDIBSection error 0x"), 8),
            QStringLiteral("CreateDIBSection error 0x00000008 (8)"));
  EXPECT_EQ(
      imaging::FailureText(QStringLiteral("OleCreatePictureIndirect error 0x"), gdi::E_INVALIDARG),
      QStringLiteral("OleCreatePictureIndirect error 0x80070057 (-2147024809)"));
}

TEST(DirectShowDIB, ArraysItCannotReadRaiseOutOfRangeAndKeepTheReport) {
  DirectShowDIB dib;
  dib.CreatePicture(Pack(Header(4, 4, 3), {}, std::vector<std::uint8_t>(64)));  // a report
  const QString report = dib.LastDescription;
  const auto live = gdi::LiveObjectCount();

  forms::LongArray unallocated;
  unallocated.Dimensions = 0;
  forms::LongArray twoDimensional = Pack(Header(1, 1, 24), {}, TrueColorRows(1, 1, 24, false));
  twoDimensional.Dimensions = 2;
  forms::LongArray headerOnly;
  headerOnly.Elements.resize(5);
  forms::LongArray shortRows = Pack(Header(64, 64, 24), {}, TrueColorRows(64, 63, 24, false));
  forms::LongArray tableBeyondEnd = Pack(Header(2, 2, 8, gdi::BI_RGB, 200), {}, {});
  // Rows whose byte count does not even fit in 64 bits.
  forms::LongArray hugeRows =
      Pack(Header(2000000000, 2000000000, 32), {}, std::vector<std::uint8_t>(16));

  for (const forms::LongArray* array :
       {&unallocated, &twoDimensional, &headerOnly, &shortRows, &tableBeyondEnd, &hugeRows}) {
    EXPECT_EQ(NumberOf([&] { dib.CreatePicture(*array); }), forms::kSubscriptOutOfRange);
    EXPECT_EQ(dib.LastError, 87);
    EXPECT_EQ(dib.LastDescription, report);
    EXPECT_EQ(gdi::LiveObjectCount(), live);
  }
}

TEST(Gdi, PictureCreationChecksItsDescription) {
  gdi::GUID ipicture;
  ASSERT_EQ(gdi::CLSIDFromString(QString::fromLatin1(gdi::kIPictureText), &ipicture), gdi::S_OK);
  EXPECT_EQ(ipicture.bytes[0], 0x80);  // first group stored little-endian
  EXPECT_EQ(ipicture.bytes[3], 0x7B);
  EXPECT_EQ(ipicture.bytes[15], 0xAB);
  gdi::GUID other;
  EXPECT_EQ(gdi::CLSIDFromString(QStringLiteral("{nonsense}"), &other), gdi::CO_E_CLASSSTRING);

  std::shared_ptr<gdi::Picture> picture;
  gdi::PICTDESC description{16, gdi::PICTYPE_BITMAP, 0, 0};  // no bitmap
  EXPECT_EQ(gdi::OleCreatePictureIndirect(&description, ipicture, true, &picture),
            gdi::E_INVALIDARG);
  EXPECT_EQ(picture, nullptr);
}

// Small bitmaps of every row layout, each against the pixels it must give.
TEST(DirectShowDIB, EveryRowLayoutGivesItsKnownPixels) {
  DirectShowDIB dib;
  const QRgb black = qRgb(0, 0, 0);
  std::vector<std::uint32_t> greys(16);
  for (std::uint32_t i = 0; i < 16; ++i) greys[i] = i * 0x101010;
  const auto grey = [](int i) { return qRgb(i * 16, i * 16, i * 16); };
  {
    SCOPED_TRACE("1 bit: the first pixel is the byte's top bit, rows run on into a second byte");
    const std::vector<std::uint8_t> rows = {0b10110000, 0b01000000, 0, 0};
    const int bits[10] = {1, 0, 1, 1, 0, 0, 0, 0, 0, 1};
    ExpectPicture(dib.CreatePicture(Pack(Header(10, 1, 1, gdi::BI_RGB, 2), {0, 0xFFFFFF}, rows)),
                  10, 1, [&](int x, int) { return bits[x] ? qRgb(255, 255, 255) : black; });
  }
  {
    SCOPED_TRACE("4 bits: the high nibble first");
    const std::vector<std::uint8_t> rows = {0x12, 0x30, 0, 0};
    ExpectPicture(dib.CreatePicture(Pack(Header(3, 1, 4, gdi::BI_RGB, 16), greys, rows)), 3, 1,
                  [&](int x, int) { return grey(x + 1); });
  }
  {
    SCOPED_TRACE("16 bits without masks: 5-5-5, the top bit unused, channels widened by repeating");
    const std::uint16_t pixels[4] = {0x7FFF, 0x0421, 0x1084, 0x8000};
    std::vector<std::uint8_t> rows;
    for (std::uint16_t p : pixels) rows.insert(rows.end(), {std::uint8_t(p), std::uint8_t(p >> 8)});
    const QRgb expected[4] = {qRgb(255, 255, 255), qRgb(8, 8, 8), qRgb(33, 33, 33), black};
    ExpectPicture(dib.CreatePicture(Pack(Header(4, 1, 16), {}, rows)), 4, 1,
                  [&](int x, int) { return expected[x]; });
  }
  {
    SCOPED_TRACE("32 bits with masks in an unusual order");
    const std::vector<std::uint8_t> rows = {0x11, 0x22, 0x33, 0x00, 0xFF, 0x00, 0x80, 0x00};
    const QRgb expected[2] = {qRgb(0x11, 0x22, 0x33), qRgb(0xFF, 0x00, 0x80)};
    ExpectPicture(dib.CreatePicture(Pack(Header(2, 1, 32, gdi::BI_BITFIELDS),
                                         {0x000000FF, 0x0000FF00, 0x00FF0000}, rows)),
                  2, 1, [&](int x, int) { return expected[x]; });
  }
  {
    SCOPED_TRACE("a 124-byte header holding its 5-6-5 masks; the rows start right after it");
    gdi::BITMAPINFOHEADER header = Header(3, 1, 16, gdi::BI_BITFIELDS);
    header.biSize = 124;
    // Red 5-bit 4, green 6-bit 32, blue 5-bit 31.
    const std::uint16_t pixels[3] = {4 << 11, 32 << 5, 31};
    std::vector<std::uint8_t> rows;
    for (std::uint16_t p : pixels) rows.insert(rows.end(), {std::uint8_t(p), std::uint8_t(p >> 8)});
    forms::LongArray packed = Pack(header, {}, rows);
    packed.Elements[10] = 0xF800;
    packed.Elements[11] = 0x07E0;
    packed.Elements[12] = 0x001F;
    const QRgb expected[3] = {qRgb(33, 0, 0), qRgb(0, 130, 0), qRgb(0, 0, 255)};
    ExpectPicture(dib.CreatePicture(packed), 3, 1, [&](int x, int) { return expected[x]; });
  }
  {
    SCOPED_TRACE("RLE8: an odd absolute run with its padding, then a delta");
    // Bottom row: 1, 2, 3 absolute; next row: one 4, then a delta of (2, 1) to the top row's
    // column 3, where a 5 goes.
    const std::vector<std::uint8_t> rle = {0, 3, 1, 2, 3, 0, 0, 0, 1, 4, 0, 2, 2, 1, 1, 5, 0, 1};
    const QRgb rows[3][4] = {{black, black, black, grey(5)},
                             {grey(4), black, black, black},
                             {grey(1), grey(2), grey(3), black}};
    ExpectPicture(dib.CreatePicture(Pack(Header(4, 3, 8, gdi::BI_RLE8, 16), greys, rle)), 4, 3,
                  [&](int x, int y) { return rows[y][x]; });
  }
  {
    SCOPED_TRACE("runs past the row end are cut at the row's end");
    const std::vector<std::uint8_t> rle8 = {5, 1, 200, 7, 0, 0, 1, 2, 0, 2, 9, 0, 3, 4, 0, 1};
    const QRgb rows8[2][2] = {{grey(2), black}, {grey(1), grey(1)}};
    ExpectPicture(dib.CreatePicture(Pack(Header(2, 2, 8, gdi::BI_RLE8, 16), greys, rle8)), 2, 2,
                  [&](int x, int y) { return rows8[y][x]; });
    const std::vector<std::uint8_t> rle4 = {7, 0x12, 0, 5, 0x34, 0x56, 0x70, 0, 0, 1};
    ExpectPicture(dib.CreatePicture(Pack(Header(3, 1, 4, gdi::BI_RLE4, 16), greys, rle4)), 3, 1,
                  [&](int x, int) { return grey(x % 2 == 0 ? 1 : 2); });
  }
  {
    SCOPED_TRACE(
        "8 bits without a colour table count are refused: the table they imply is missing");
    EXPECT_EQ(dib.CreatePicture(Pack(Header(2, 2, 8), {}, std::vector<std::uint8_t>(8))), nullptr);
    EXPECT_EQ(dib.LastDescription, QStringLiteral("CreateDIBSection error 0x00000057 (87)"));
  }
}

// About 17 MB of long runs on one row: the column would pass 2^31 if it kept counting.
TEST(DirectShowDIB, EndlessRunsOnARowNeverWriteOutsideThePicture) {
  DirectShowDIB dib;
  std::vector<std::uint8_t> rle = {1, 1};
  const std::size_t runs = 8'500'000;  // 255 pixels each
  rle.reserve(2 * runs + 4);
  for (std::size_t i = 0; i < runs; ++i) rle.insert(rle.end(), {255, 0});
  rle.insert(rle.end(), {0, 1});
  const auto picture =
      dib.CreatePicture(Pack(Header(1, 1, 8, gdi::BI_RLE8, 2), {0x000000, 0xFFFFFF}, rle));
  ExpectPicture(picture, 1, 1, [](int, int) { return qRgb(255, 255, 255); });
}
