// The stamped picture as a value: the same pixels and the same file bytes as the picture panel
// composed and saved them, for both back ends and both formats, without any window.

#include <gtest/gtest.h>

#include <QPainter>
#include <QTemporaryDir>

#include "imaging/pic_save.h"
#include "platform/forms/bmp_file.h"
#include "platform/forms/picture_box.h"
#include "platform/gdi/gdi.h"
#include "recording/picture_window.h"
#include "recording/stamped_picture.h"
#include "tests/support/test_support.h"

namespace {

using recording::Backend;
using recording::PictureFormat;
using recording::PictureLayout;
using testing_support::FileBytes;

// Every pixel differs from its neighbours, so a stretch that picks the wrong source pixel shows.
QImage Pattern(QSize size) {
  QImage image(size, QImage::Format_RGB32);
  for (int y = 0; y < size.height(); ++y)
    for (int x = 0; x < size.width(); ++x)
      image.setPixel(x, y, qRgb((x * 7 + y) & 255, (y * 5 + x * 3) & 255, ((x + y) * 3) & 255));
  return image;
}

QImage Stamp() {
  QImage stamp(recording::kStampRegion.size(), QImage::Format_RGB32);
  stamp.fill(Qt::white);
  QPainter painter(&stamp);
  painter.fillRect(10, 10, 120, 12, Qt::black);
  painter.fillRect(10, 30, 170, 12, QColor(20, 40, 60));
  return stamp;
}

QImage Rgb(const QImage& image) {
  return image.convertToFormat(QImage::Format_RGB888);
}

// The picture panel as the picture window has it, and the stamp on its text panel: composed
// the way the window's panels do, to compare with.
struct Panels {
  forms::PictureBox text;
  forms::PictureBox panel;
  Panels() {
    text.resize(recording::kStampRegion.width() + 2 * text.frameWidth(),
                recording::kStampRegion.height() + 2 * text.frameWidth());
    panel.resize(640, 480);
  }
  const QImage& Compose(const QImage& frame, Backend backend) {
    text.SetPicture(Stamp());
    panel.Cls();
    if (backend == Backend::CaptureWindow)
      panel.SetPicture(frame);
    else
      panel.PaintPicture(frame, panel.ScaleLeft(), panel.ScaleTop(), panel.ScaleWidth(),
                         panel.ScaleHeight());
    forms::PictureBox::CopyRegion(text, recording::kStampRegion, panel, QPoint(0, 0));
    return panel.Image();
  }
};

TEST(StampedPicture, IsWhatThePanelsComposedAndSavedForEachBackEndFrameSizeAndFormat) {
  QTemporaryDir folder;
  Panels panels;
  for (Backend backend : {Backend::CaptureWindow, Backend::FilterGraph}) {
    for (QSize size : {QSize(320, 240), QSize(640, 480), QSize(1280, 720)}) {
      SCOPED_TRACE(testing::Message() << (backend == Backend::CaptureWindow ? "capture " : "graph ")
                                      << size.width() << "x" << size.height());
      const QImage frame = Pattern(size);
      const QImage expected = panels.Compose(frame, backend);
      for (PictureFormat format : {PictureFormat::Bmp, PictureFormat::Jpeg}) {
        const PictureLayout layout{backend, format, expected.size(), panels.panel.BackColor()};
        const recording::StampedPicture picture =
            recording::MakeStampedPicture(frame, Stamp(), layout);
        ASSERT_EQ(picture.image.size(), QSize(636, 476));
        EXPECT_EQ(Rgb(picture.image), Rgb(expected));
        ASSERT_TRUE(picture.file);
        // The file is byte for byte what the panel's save gave.
        const QString path = folder.filePath(QStringLiteral("panel"));
        if (format == PictureFormat::Bmp) {
          ASSERT_TRUE(forms::WriteBmpFile(expected, path));
        } else {
          imaging::SharedPicSave().SavePicture(gdi::PictureFromImage(expected), path, 1,
                                               recording::kJpegQuality);
        }
        EXPECT_EQ(*picture.file, FileBytes(path));
      }
    }
  }
}

TEST(StampedPicture, LaysTheFrameAsEachBackEndDoesUnderAnUnscaledStamp) {
  const QColor background(10, 200, 30);
  const QSize panel(636, 476);
  const QImage small = Pattern(QSize(320, 240));
  const QImage capture =
      recording::MakeStampedPicture(small, Stamp(),
                                    {Backend::CaptureWindow, PictureFormat::Bmp, panel, background})
          .image;
  // At its own size in the top left corner; the rest is the panel's background.
  EXPECT_EQ(capture.pixel(300, 220), small.pixel(300, 220));
  EXPECT_EQ(capture.pixel(319, 239), small.pixel(319, 239));
  EXPECT_EQ(capture.pixel(320, 100), background.rgb());
  EXPECT_EQ(capture.pixel(635, 475), background.rgb());
  EXPECT_EQ(Rgb(capture.copy(recording::kStampRegion)), Rgb(Stamp()));
  // Larger than the panel: cut at its edges.
  const QImage large = Pattern(QSize(1920, 1080));
  const QImage cut =
      recording::MakeStampedPicture(large, Stamp(),
                                    {Backend::CaptureWindow, PictureFormat::Bmp, panel, background})
          .image;
  EXPECT_EQ(cut.pixel(635, 475), large.pixel(635, 475));

  // Stretched over the whole panel: the corners are the frame's corners.
  const QImage stretched =
      recording::MakeStampedPicture(small, Stamp(),
                                    {Backend::FilterGraph, PictureFormat::Bmp, panel, background})
          .image;
  EXPECT_EQ(stretched.pixel(635, 475), small.pixel(319, 239));
  EXPECT_EQ(stretched.pixel(0, 475), small.pixel(0, 239));
  EXPECT_EQ(Rgb(stretched.copy(recording::kStampRegion)), Rgb(Stamp()));

  // A picture no encoder takes has no file; the writer reports it.
  EXPECT_FALSE(recording::EncodePicture(QImage(), PictureFormat::Bmp));
  EXPECT_FALSE(
      recording::EncodePicture(QImage(70000, 1, QImage::Format_RGB32), PictureFormat::Jpeg));
}

}  // namespace
