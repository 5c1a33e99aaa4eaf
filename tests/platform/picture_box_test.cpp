#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>

#include "platform/forms/picture_box.h"
#include "platform/forms/runtime_error.h"
#include "tests/support/test_support.h"

using forms::PictureBox;
using testing_support::CountPixels;

namespace {

// A box whose inner drawing area is exactly `width` x `height` pixels.
std::unique_ptr<PictureBox> MakeBox(int width, int height) {
  auto box = std::make_unique<PictureBox>();
  box->resize(width + 4, height + 4);  // two-pixel border on each side
  box->SetBackColor(Qt::white);
  return box;
}

}  // namespace

TEST(PictureBox, ImageFollowsTheInnerAreaWithoutBeingShown) {
  auto box = MakeBox(100, 50);
  EXPECT_EQ(box->Image().size(), QSize(100, 50));
  box->PSet(10, 10, Qt::red);
  box->resize(204, 104);
  EXPECT_EQ(box->Image().size(), QSize(200, 100));
  EXPECT_EQ(box->Image().pixelColor(10, 10), QColor(Qt::red));  // content kept on growth
  EXPECT_EQ(box->Image().pixelColor(150, 80), QColor(Qt::white));
}

TEST(PictureBox, UserScaleWithUpwardYAxisMapsToPixels) {
  auto box = MakeBox(100, 30);
  box->Scale(0, 3, 10, 0);  // y grows upwards from 0 at the bottom to 3 at the top
  EXPECT_DOUBLE_EQ(box->ScaleWidth(), 10);
  EXPECT_DOUBLE_EQ(box->ScaleHeight(), -3);
  EXPECT_EQ(box->ToPixels(0, 3), QPointF(0, 0));
  EXPECT_EQ(box->ToPixels(10, 0), QPointF(100, 30));
  EXPECT_EQ(box->ToPixels(2.5, 1.5), QPointF(25, 15));

  box->PSet(5.05, 2.95, Qt::blue);  // near the top: pixel row 0
  EXPECT_EQ(box->Image().pixelColor(50, 0), QColor(Qt::blue));
  box->PSet(0.05, 0.05, Qt::red);  // near the bottom-left corner
  EXPECT_EQ(box->Image().pixelColor(0, 29), QColor(Qt::red));
  EXPECT_EQ(CountPixels(box->Image(), Qt::red), 1);
  // Points outside the scale are clipped, not wrapped.
  box->PSet(-1, 5, Qt::green);
  EXPECT_EQ(CountPixels(box->Image(), Qt::green), 0);
}

TEST(PictureBox, LinesAndClearing) {
  auto box = MakeBox(80, 80);
  box->Scale(0, 4, 4, -4);                 // the signal grid's scale
  box->Line(0, 0, 4, 0, QColor(1, 0, 0));  // horizontal axis through the middle row
  for (int x = 0; x < 80; ++x) EXPECT_EQ(box->Image().pixelColor(x, 40), QColor(1, 0, 0)) << x;
  box->Line(2, 4, 2, -4, Qt::gray);  // vertical line through the middle column
  EXPECT_EQ(box->Image().pixelColor(40, 10), QColor(Qt::gray));
  EXPECT_EQ(box->CurrentX(), 2);
  EXPECT_EQ(box->CurrentY(), -4);

  box->Cls();
  EXPECT_EQ(CountPixels(box->Image(), Qt::white), 80 * 80);
  box->SetBackColor(Qt::black);
  EXPECT_EQ(CountPixels(box->Image(), Qt::black), 80 * 80);
}

TEST(PictureBox, PrintWritesTextAndMovesToTheNextLine) {
  auto box = MakeBox(200, 60);
  box->Scale(0, 3, 10, 0);
  box->SetCurrentX(0.25);
  box->SetCurrentY(3);
  box->Print(QStringLiteral("N=   1"));
  // Ink only in the top line, starting right of x = 0.25 units (5 pixels).
  const QImage image = box->Image();
  int inkTop = image.height(), inkLeft = image.width();
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (image.pixelColor(x, y) != QColor(Qt::white)) {
        inkTop = std::min(inkTop, y);
        inkLeft = std::min(inkLeft, x);
      }
  EXPECT_GE(inkLeft, 5);
  EXPECT_LT(inkTop, 20);
  EXPECT_EQ(box->CurrentX(), 0);
  EXPECT_LT(box->CurrentY(), 3);  // one line further down the upward scale
  EXPECT_GT(box->CurrentY(), 1.5);
}

TEST(PictureBox, PaintsStretchedAndAssignsAtOwnSize) {
  auto box = MakeBox(40, 20);
  QImage picture(2, 1, QImage::Format_RGB32);
  picture.setPixelColor(0, 0, Qt::red);
  picture.setPixelColor(1, 0, Qt::blue);
  box->PaintPicture(picture, 0, 0, 40, 20);
  EXPECT_EQ(box->Image().pixelColor(5, 10), QColor(Qt::red));
  EXPECT_EQ(box->Image().pixelColor(35, 10), QColor(Qt::blue));

  box->SetPicture(picture);
  EXPECT_EQ(box->Image().pixelColor(0, 0), QColor(Qt::red));
  EXPECT_EQ(box->Image().pixelColor(1, 0), QColor(Qt::blue));
  EXPECT_EQ(box->Image().pixelColor(2, 0), QColor(Qt::white));
  EXPECT_EQ(box->Image().pixelColor(0, 1), QColor(Qt::white));
}

TEST(PictureBox, CopiesARegionOntoAnotherBox) {
  auto source = MakeBox(30, 30);
  auto target = MakeBox(30, 30);
  source->SetBackColor(Qt::green);
  source->PSet(1, 1, Qt::red);
  target->SetBackColor(Qt::blue);
  forms::PictureBox::CopyRegion(*source, QRect(0, 0, 20, 10), *target, QPoint(0, 0));
  EXPECT_EQ(target->Image().pixelColor(1, 1), QColor(Qt::red));
  EXPECT_EQ(target->Image().pixelColor(19, 9), QColor(Qt::green));
  EXPECT_EQ(target->Image().pixelColor(20, 9), QColor(Qt::blue));
  EXPECT_EQ(target->Image().pixelColor(19, 10), QColor(Qt::blue));
}

TEST(PictureBox, SavesATwentyFourBitBmpAndReportsFailure) {
  QTemporaryDir dir;
  auto box = MakeBox(64, 48);
  box->PSet(3, 4, Qt::red);
  const QString path = dir.filePath(QStringLiteral("1.bmp"));
  box->SavePicture(path);

  QImageReader reader(path);
  EXPECT_EQ(reader.format(), QByteArray("bmp"));
  const QImage saved = reader.read();
  EXPECT_EQ(saved.size(), QSize(64, 48));
  EXPECT_EQ(saved.pixelColor(3, 4), QColor(Qt::red));
  EXPECT_EQ(saved.pixelColor(0, 0), QColor(Qt::white));
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray header = file.read(30);
  EXPECT_EQ(header.left(2), QByteArray("BM"));
  EXPECT_EQ(static_cast<unsigned char>(header[28]), 24);  // bits per pixel

  // A missing folder raises the file-access error and leaves nothing behind.
  const QString missing = dir.filePath(QStringLiteral("no-such-folder/2.bmp"));
  try {
    box->SavePicture(missing);
    FAIL() << "no error raised";
  } catch (const forms::RuntimeError& error) {
    EXPECT_EQ(error.Number(), forms::kPathFileAccess);
  }
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("1.bmp")});
}
