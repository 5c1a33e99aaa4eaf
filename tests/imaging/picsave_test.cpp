#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <QTemporaryDir>

#include "imaging/pic_save.h"
#include "platform/forms/runtime_error.h"
#include "platform/gdi/gdi.h"
#include "platform/gdiplus/gdiplus.h"
#include "tests/imaging/missing_encoders.h"
#include "tests/support/test_support.h"

using imaging::PicSave;

namespace {

using testing_support::FileBytes;

struct Raised {
  int number = 0;
  QString source;
  QString description;
};

Raised RaisedBy(const std::function<void()>& call) {
  try {
    call();
  } catch (const forms::RuntimeError& error) {
    return {error.Number(), error.Source(), error.Description()};
  }
  return {};
}

// Four colour blocks: a picture every encoder can reproduce exactly (GIF included).
std::shared_ptr<gdi::Picture> Blocks(int w, int h) {
  QImage image(w, h, QImage::Format_RGB32);
  const QRgb colors[4] = {qRgb(200, 30, 30), qRgb(30, 200, 30), qRgb(30, 30, 200),
                          qRgb(250, 250, 250)};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) image.setPixel(x, y, colors[(x * 2 / w) + 2 * (y * 2 / h)]);
  return gdi::PictureFromImage(image);
}

// Pixel by pixel, each channel within `tolerance`.
void ExpectSamePixels(const QImage& read, const QImage& expected, int tolerance) {
  ASSERT_EQ(read.size(), expected.size());
  for (int y = 0; y < read.height(); ++y)
    for (int x = 0; x < read.width(); ++x) {
      const QRgb a = read.pixel(x, y), b = expected.pixel(x, y);
      ASSERT_LE(std::abs(qRed(a) - qRed(b)), tolerance) << x << "," << y;
      ASSERT_LE(std::abs(qGreen(a) - qGreen(b)), tolerance) << x << "," << y;
      ASSERT_LE(std::abs(qBlue(a) - qBlue(b)), tolerance) << x << "," << y;
    }
}

class PicSaveTest : public ::testing::Test {
 protected:
  QString Path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
  QStringList Files() const { return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden); }
  QTemporaryDir dir;
};

}  // namespace

TEST_F(PicSaveTest, JpegOfAFrameHasItsSize) {
  PicSave saver;
  saver.SavePicture(Blocks(640, 480), Path("3.jpg"), 1, 70);
  QImageReader reader(Path("3.jpg"));
  EXPECT_EQ(reader.format(), QByteArray("jpeg"));
  EXPECT_EQ(reader.size(), QSize(640, 480));
  // A lower quality gives a smaller file: the parameter reaches the encoder.
  saver.SavePicture(Blocks(640, 480), Path("low.jpg"), 1, 5);
  EXPECT_LT(QFile(Path("low.jpg")).size(), QFile(Path("3.jpg")).size());
  EXPECT_EQ(Files(), (QStringList{QStringLiteral("3.jpg"), QStringLiteral("low.jpg")}));
}

TEST_F(PicSaveTest, PngAndGifReadBackPixelForPixel) {
  PicSave saver;
  const auto picture = Blocks(64, 48);
  saver.SavePicture(picture, Path("a.png"), 2, 50);
  saver.SavePicture(picture, Path("a.gif"), 0, 50);
  const QImage expected = picture->Image();
  // PNG is lossless; a GIF of four colours keeps them exactly.
  ExpectSamePixels(QImage(Path("a.png")), expected, 0);
  ExpectSamePixels(QImage(Path("a.gif")), expected, 0);
  EXPECT_EQ(QImageReader(Path("a.gif")).format(), QByteArray("gif"));
}

TEST_F(PicSaveTest, GifKeepsUpTo256ColoursExactlyAndQuantizesMore) {
  PicSave saver;
  // 256 colours, white and near-white among them, which 5 bits per channel would merge.
  QImage image(32, 8, QImage::Format_RGB32);
  for (int i = 0; i < 256; ++i)
    image.setPixel(i % 32, i / 32, i == 0 ? qRgb(255, 255, 255) : qRgb(i, 255 - i, (i * 7) % 256));
  image.setPixel(1, 0, qRgb(254, 255, 253));
  saver.SavePicture(gdi::PictureFromImage(image), Path("256.gif"), 0, 70);
  ExpectSamePixels(QImage(Path("256.gif")), image, 0);

  // One colour more: the picture is reduced to 256 colours, each close to the original.
  QImage more(33, 8, QImage::Format_RGB32);
  more.fill(qRgb(0, 0, 0));
  QPainter(&more).drawImage(0, 0, image);
  more.setPixel(32, 0, qRgb(10, 20, 30));
  saver.SavePicture(gdi::PictureFromImage(more), Path("257.gif"), 0, 70);
  ExpectSamePixels(QImage(Path("257.gif")), more, 8);
}

TEST_F(PicSaveTest, JpegQualityRangeIsInclusive) {
  PicSave saver;
  saver.SavePicture(Blocks(64, 48), Path("q1.jpg"), 1, 1);
  saver.SavePicture(Blocks(64, 48), Path("q100.jpg"), 1, 100);
  EXPECT_EQ(QImageReader(Path("q1.jpg")).size(), QSize(64, 48));
  EXPECT_LT(QFile(Path("q1.jpg")).size(), QFile(Path("q100.jpg")).size());
}

TEST_F(PicSaveTest, PictureWhoseBitmapIsGoneRaisesTheBitmapError) {
  PicSave saver;
  const auto picture = Blocks(8, 8);
  ASSERT_TRUE(gdi::DeleteObject(picture->Handle()));
  const Raised raised = RaisedBy([&] { saver.SavePicture(picture, Path("gone.jpg"), 1, 70); });
  EXPECT_EQ(static_cast<std::uint32_t>(raised.number), 0x80044848u);
  EXPECT_EQ(raised.source, QStringLiteral("PicSave"));
  EXPECT_EQ(raised.description, QStringLiteral("GdipCreateBitmapFromHBITMAP error 2"));
  EXPECT_TRUE(Files().isEmpty());  // raised before any file was opened
}

TEST_F(PicSaveTest, ArgumentsOutOfRangeRaiseError5) {
  PicSave saver;
  const auto picture = Blocks(8, 8);
  const std::pair<int, int> bad[] = {{0, 0}, {2, 0}, {1, 101}, {3, 70}, {-1, 70}};
  for (const auto& [format, quality] : bad) {
    // Copies of the bindings: clang-tidy's clang 14 cannot capture a structured binding.
    const Raised raised = RaisedBy([&, format = format, quality = quality] {
      saver.SavePicture(picture, Path("x"), format, quality);
    });
    EXPECT_EQ(raised.number, 5) << format << " " << quality;
    EXPECT_EQ(raised.description, forms::StandardDescription(5));
  }
  EXPECT_EQ(RaisedBy([&] { saver.SavePicture(nullptr, Path("x"), 1, 70); }).number, 5);
  EXPECT_TRUE(Files().isEmpty());
}

TEST_F(PicSaveTest, MissingFolderRaisesTheStreamErrorWithItsCode) {
  PicSave saver;
  const Raised raised =
      RaisedBy([&] { saver.SavePicture(Blocks(8, 8), Path("no-such-folder/1.jpg"), 1, 70); });
  EXPECT_EQ(raised.number, imaging::kErrCreateStream);
  EXPECT_EQ(static_cast<std::uint32_t>(raised.number), 0x80044850u);
  EXPECT_EQ(raised.source, QStringLiteral("PicSave"));
  EXPECT_EQ(raised.description, QStringLiteral("SHCreateStreamOnFile error -2147024893"));
}

TEST_F(PicSaveTest, FailuresLeaveTheFileAndTheReasonInTheLog) {
  testing_support::LogRecorder traces;
  PicSave saver;
  const QString path = Path("no-such-folder/1.jpg");
  RaisedBy([&] { saver.SavePicture(Blocks(8, 8), path, 1, 70); });
  EXPECT_EQ(traces.Lines(),
            QStringList{QStringLiteral("strobolux.imaging: cannot save ") + path +
                        QStringLiteral(" - SHCreateStreamOnFile error -2147024893")});
  // A start-up that failed is told once, when it fails.
  testing_support::MissingEncoders() = {gdiplus::kPngEncoderText};
  PicSave failed;
  testing_support::MissingEncoders().clear();
  ASSERT_EQ(traces.Lines().size(), 2);
  EXPECT_TRUE(traces.Lines()[1].startsWith(QStringLiteral("strobolux.imaging: GDI+ did not start")))
      << traces.Lines()[1].toStdString();
}

TEST_F(PicSaveTest, SavingOverAFileReplacesItsContent) {
  PicSave saver;
  QFile old(Path("1.png"));
  ASSERT_TRUE(old.open(QIODevice::WriteOnly));
  old.write(QByteArray(100000, 'x'));
  old.close();
  saver.SavePicture(Blocks(16, 16), Path("1.png"), 2, 70);
  EXPECT_EQ(QImage(Path("1.png")).size(), QSize(16, 16));
  EXPECT_LT(QFile(Path("1.png")).size(), 100000);
  EXPECT_EQ(Files(), QStringList{QStringLiteral("1.png")});
}

TEST_F(PicSaveTest, FailedEncodeLeavesTheOldFileAndNoTemporaryFile) {
  PicSave saver;
  saver.SavePicture(Blocks(16, 16), Path("1.jpg"), 1, 70);
  const QByteArray before = FileBytes(Path("1.jpg"));

  // A picture wider than JPEG can describe.
  const auto tooWide = gdi::PictureFromImage(QImage(70000, 1, QImage::Format_RGB32));
  Raised raised = RaisedBy([&] { saver.SavePicture(tooWide, Path("1.jpg"), 1, 70); });
  EXPECT_EQ(raised.number, imaging::kErrSaveImage);
  EXPECT_EQ(raised.description, QStringLiteral("GdipSaveImageToStream error 1"));
  EXPECT_EQ(FileBytes(Path("1.jpg")), before);

  // The same for a GIF, wider than its screen can be.
  raised = RaisedBy([&] { saver.SavePicture(tooWide, Path("new.gif"), 0, 70); });
  EXPECT_EQ(raised.number, imaging::kErrSaveImage);
  EXPECT_EQ(FileBytes(Path("1.jpg")), before);
  EXPECT_EQ(Files(), QStringList{QStringLiteral("1.jpg")});  // no temporary file, no new.gif
}

TEST_F(PicSaveTest, FailedStartUpRaisesOnEveryCallBeforeAnyArgumentCheck) {
  testing_support::MissingEncoders() = {gdiplus::kPngEncoderText};
  PicSave saver;
  testing_support::MissingEncoders().clear();
  for (int call = 0; call < 2; ++call) {
    const Raised raised = RaisedBy([&] { saver.SavePicture(nullptr, Path("x"), 9, 0); });
    EXPECT_EQ(static_cast<std::uint32_t>(raised.number), 0x80044800u);
    EXPECT_EQ(raised.source, QStringLiteral("PicSave"));
    EXPECT_EQ(raised.description, QStringLiteral("GDI+ failed to start"));
  }
  // Not retried: the encoder is back, the instance still counts as failed.
  EXPECT_EQ(RaisedBy([&] { saver.SavePicture(Blocks(8, 8), Path("y.png"), 2, 70); }).number,
            imaging::kErrGdiplusStart);
}

TEST_F(PicSaveTest, StreamResultCodesComeFromTheSystemError) {
  EXPECT_EQ(static_cast<std::uint32_t>(gdiplus::HResultFromErrno(ENOENT)), 0x80070003u);
  EXPECT_EQ(static_cast<std::uint32_t>(gdiplus::HResultFromErrno(EACCES)), 0x80070005u);
  EXPECT_EQ(static_cast<std::uint32_t>(gdiplus::HResultFromErrno(EROFS)), 0x80070013u);
  EXPECT_EQ(static_cast<std::uint32_t>(gdiplus::HResultFromErrno(ENOSPC)), 0x80070070u);
  EXPECT_EQ(static_cast<std::uint32_t>(gdiplus::HResultFromErrno(EIO)), 0x80004005u);
  // A folder where the file should go.
  QDir(dir.path()).mkdir(QStringLiteral("taken"));
  std::unique_ptr<gdiplus::FileStream> stream;
  EXPECT_EQ(
      static_cast<std::uint32_t>(gdiplus::SHCreateStreamOnFileW(Path("taken"), 0x1011, &stream)),
      0x80070005u);
}
