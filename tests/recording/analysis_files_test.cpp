// The files of the analysis of every frame: the maps as NumPy arrays read back byte by byte, the
// map pictures sampled inside the map, the phase bins' stamps and their animation read back.

#include <gtest/gtest.h>

#include <QColor>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>

#include "analysis/lock_in.h"
#include "platform/gst/image_avi.h"
#include "recording/analysis_files.h"
#include "tests/support/avi_file.h"
#include "tests/support/test_support.h"

namespace {

using testing_support::FileBytes;
using testing_support::ScopedLocale;

// Every entry of the folder, hidden ones too: a temporary file left behind shows here.
QStringList Entries(const QString& folder) {
  return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                QDir::NoDotAndDotDot);
}

TEST(AnalysisNpy, ReadsBackByteExactlyWithTheHeaderNumPyExpects) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  // Shapes whose header lengths differ, so that the padding is not right by chance; values
  // that a conversion through double or text would change.
  const std::vector<std::pair<int, int>> shapes = {{5, 3}, {1, 1}, {1000, 7}, {4, 12345}};
  for (const auto& [width, height] : shapes) {
    std::vector<float> values(static_cast<std::size_t>(width) * height);
    for (std::size_t i = 0; i < values.size(); ++i) values[i] = static_cast<float>(i) * 0.37F - 3;
    values[0] = -0.0F;
    values.back() = std::numeric_limits<float>::quiet_NaN();
    if (values.size() > 2) {
      values[1] = std::numeric_limits<float>::denorm_min();
      values[2] = -std::numeric_limits<float>::infinity();
    }
    const QString path = dir.filePath(QStringLiteral("map.npy"));
    QString error;
    ASSERT_TRUE(recording::WriteNpy(path, values, width, height, &error)) << error.toStdString();
    const QByteArray bytes = FileBytes(path);
    SCOPED_TRACE(testing::Message() << width << " x " << height);
    ASSERT_GE(bytes.size(), 10);
    EXPECT_EQ(bytes.left(8), QByteArray("\x93NUMPY\x01\x00", 8));
    const int length = qFromLittleEndian<quint16>(bytes.constData() + 8);
    EXPECT_EQ((10 + length) % 64, 0);
    const QByteArray header = bytes.mid(10, length);
    const QByteArray dict = "{'descr': '<f4', 'fortran_order': False, 'shape': (" +
                            QByteArray::number(height) + ", " + QByteArray::number(width) + "), }";
    EXPECT_TRUE(header.startsWith(dict)) << header.toStdString();
    EXPECT_TRUE(header.endsWith('\n'));
    EXPECT_EQ(header.mid(dict.size(), header.size() - dict.size() - 1).count(' '),
              header.size() - dict.size() - 1);
    const QByteArray data = bytes.mid(10 + length);
    ASSERT_EQ(static_cast<std::size_t>(data.size()), values.size() * 4);
    for (std::size_t i = 0; i < values.size(); ++i) {
      const auto stored = qFromLittleEndian<quint32>(data.constData() + i * 4);
      quint32 expected = 0;
      std::memcpy(&expected, &values[i], 4);
      ASSERT_EQ(stored, expected) << "value " << i;
    }
    // Each write replaced the one before; no temporary file stays.
    EXPECT_EQ(Entries(dir.path()), QStringList{QStringLiteral("map.npy")});
  }
}

TEST(AnalysisNpy, AFileThatCannotBeWrittenIsRefusedWithItsPathAndReasonAndLeavesNothing) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::vector<float> values(6, 1.0F);
  testing_support::LogRecorder log;
  QString error;

  // A folder that is a file (root may write anywhere else).
  QFile plain(dir.filePath(QStringLiteral("plain")));
  ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
  plain.close();
  const QString inFile = dir.filePath(QStringLiteral("plain/map.npy"));
  EXPECT_FALSE(recording::WriteNpy(inFile, values, 3, 2, &error));
  EXPECT_TRUE(error.contains(inFile)) << error.toStdString();
  EXPECT_TRUE(error.contains(qt_error_string(ENOTDIR))) << error.toStdString();
  EXPECT_TRUE(log.Lines().filter(QStringLiteral("strobolux.recording")).filter(inFile).size() == 1)
      << log.Lines().join('\n').toStdString();

  // The data is written, but the name is a folder's: the temporary file goes again.
  const QString taken = dir.filePath(QStringLiteral("taken.npy"));
  ASSERT_TRUE(QDir().mkdir(taken));
  error.clear();
  EXPECT_FALSE(recording::WriteNpy(taken, values, 3, 2, &error));
  EXPECT_TRUE(error.contains(taken)) << error.toStdString();

  // An array that is not of the shape said.
  error.clear();
  const QString wrong = dir.filePath(QStringLiteral("wrong.npy"));
  EXPECT_FALSE(recording::WriteNpy(wrong, values, 4, 2, &error));
  EXPECT_TRUE(error.contains(wrong)) << error.toStdString();

  EXPECT_EQ(Entries(dir.path()),
            (QStringList{QStringLiteral("plain"), QStringLiteral("taken.npy")}));
  EXPECT_TRUE(QDir(taken).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
}

// A map 40 x 30 (not square, so rows and columns cannot be swapped unseen): the left half
// bright at 90°, the right half at 270° with an amplitude of 5 against a sigma of 4 (below
// 3 sigma: noise).
analysis::LockInMaps HalvesMaps() {
  analysis::LockInMaps maps;
  maps.width = 40;
  maps.height = 30;
  const std::size_t pixels = 40 * 30;
  maps.amplitude.resize(pixels);
  maps.phaseDeg.resize(pixels);
  maps.offset.assign(pixels, 100);
  maps.amplitudeSigma.assign(pixels, 4);
  maps.phaseSigmaDeg.assign(pixels, 5);
  for (int y = 0; y < maps.height; ++y) {
    for (int x = 0; x < maps.width; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * maps.width + x;
      const bool left = x < maps.width / 2;
      maps.amplitude[i] = left ? 50 : 5;
      maps.phaseDeg[i] = left ? 90 : 270;
    }
  }
  maps.frames = 600;
  maps.distinctPhases = 200;
  return maps;
}

// The picture's colour at the middle of the left or the right half of the map.
QColor Sample(const QImage& image, const analysis::LockInMaps& maps, bool left, int row = -1) {
  const QRect area = recording::MapArea(maps.width, maps.height);
  const double scale = static_cast<double>(area.width()) / maps.width;
  const double x = (left ? maps.width / 4.0 : maps.width * 3 / 4.0) + 0.5;
  const double y = (row < 0 ? maps.height / 2.0 : row) + 0.5;
  return image.pixelColor(area.left() + static_cast<int>(x * scale),
                          area.top() + static_cast<int>(y * scale));
}

bool Grey(const QColor& colour) {
  return colour.red() == colour.green() && colour.green() == colour.blue() && colour.red() < 128;
}

void ExpectRoomAroundTheMap(const QImage& image, const analysis::LockInMaps& maps) {
  const QRect area = recording::MapArea(maps.width, maps.height);
  EXPECT_GE(area.width(), maps.width);
  EXPECT_EQ(area.width() * maps.height, area.height() * maps.width);  // square pixels
  EXPECT_GT(area.top(), 0);                                           // the title above
  EXPECT_GT(image.width(), area.right() + 1);                         // the legend beside
  EXPECT_GT(image.height(), area.bottom() + 1);                       // the caption below
}

TEST(AnalysisMapPictures, PhaseIsTheHueAndNoiseIsGrey) {
  analysis::LockInMaps maps = HalvesMaps();
  const QImage image = recording::PhaseMapImage(maps, QStringLiteral("Фаза на 12,5 Гц"));
  ASSERT_FALSE(image.isNull());
  ExpectRoomAroundTheMap(image, maps);
  for (const int row : {0, maps.height / 2, maps.height - 1}) {
    const QColor left = Sample(image, maps, true, row);
    EXPECT_NEAR(left.hsvHueF() * 360, 90, 1) << left.name().toStdString();
    EXPECT_EQ(left.hsvSaturation(), 255);
    EXPECT_EQ(left.value(), 255);
    EXPECT_TRUE(Grey(Sample(image, maps, false, row)))
        << Sample(image, maps, false, row).name().toStdString();
  }

  // Without an estimate of the noise only the rounding's floor masks.
  maps.amplitudeSigma.assign(maps.amplitudeSigma.size(), std::numeric_limits<float>::quiet_NaN());
  const QImage unmasked = recording::PhaseMapImage(maps, QStringLiteral("Фаза"));
  const QColor right = Sample(unmasked, maps, false);
  EXPECT_NEAR(right.hsvHueF() * 360, 270, 1) << right.name().toStdString();
  EXPECT_EQ(right.hsvSaturation(), 255);

  // A pixel that never changed has no scatter at all: its phase is the rounding's, grey, as is
  // a response below three times what rounding 600 frames to whole levels leaves (0.017).
  analysis::LockInMaps still = HalvesMaps();
  for (std::size_t i = 0; i < still.amplitude.size(); ++i) {
    const bool left = i % static_cast<std::size_t>(still.width) < 20;
    still.amplitude[i] = left ? 0.0F : 0.04F;
    still.amplitudeSigma[i] = 0;
  }
  const QImage stillImage = recording::PhaseMapImage(still, QStringLiteral("Фаза"));
  EXPECT_TRUE(Grey(Sample(stillImage, still, true)));
  EXPECT_TRUE(Grey(Sample(stillImage, still, false)));

  // A phase past a turn or below zero is the same hue.
  std::replace(maps.phaseDeg.begin(), maps.phaseDeg.end(), 90.0F, 450.0F);
  std::replace(maps.phaseDeg.begin(), maps.phaseDeg.end(), 270.0F, -90.0F);
  const QImage wrapped = recording::PhaseMapImage(maps, QStringLiteral("Фаза"));
  EXPECT_NEAR(Sample(wrapped, maps, true).hsvHueF() * 360, 90, 1);
  EXPECT_NEAR(Sample(wrapped, maps, false).hsvHueF() * 360, 270, 1);
}

TEST(AnalysisMapPictures, AmplitudeScaleReachesItsTopBelowAFewHotPixels) {
  analysis::LockInMaps maps = HalvesMaps();
  // Two hot pixels in 1200 and one that is not a number: the 99.5th percentile is still 50.
  maps.amplitude[0] = 1e6F;
  maps.amplitude[maps.width - 1] = 1e6F;
  maps.amplitude[static_cast<std::size_t>(maps.height - 1) * maps.width + maps.width - 1] =
      std::numeric_limits<float>::quiet_NaN();
  const QImage image = recording::AmplitudeMapImage(maps, QStringLiteral("Амплитуда"));
  ASSERT_FALSE(image.isNull());
  ExpectRoomAroundTheMap(image, maps);
  const QRect area = recording::MapArea(maps.width, maps.height);
  const QColor hot = image.pixelColor(area.topLeft());
  const QColor left = Sample(image, maps, true);
  const QColor right = Sample(image, maps, false);
  EXPECT_EQ(left, hot) << "50 is the top of the scale, as the hot pixels above it";
  EXPECT_GT(left.lightness(), right.lightness() + 60);
  EXPECT_NE(right, hot);
  EXPECT_TRUE(Grey(image.pixelColor(area.bottomRight()))) << "not a number";

  // The scale follows the data: the same map ten times brighter is the same picture's map.
  for (float& value : maps.amplitude) value *= 10;
  const QImage brighter = recording::AmplitudeMapImage(maps, QStringLiteral("Амплитуда"));
  EXPECT_EQ(Sample(brighter, maps, true), left);
  EXPECT_EQ(Sample(brighter, maps, false), right);

  EXPECT_TRUE(recording::AmplitudeMapImage(analysis::LockInMaps{}, QString()).isNull());
  EXPECT_TRUE(recording::PhaseMapImage(analysis::LockInMaps{}, QString()).isNull());
}

TEST(AnalysisBinStampLocale, ThePhaseReadsInTheLocaleWithinOneTurn) {
  {
    const ScopedLocale russian(QLocale(QLocale::Russian, QLocale::Russia));
    EXPECT_EQ(recording::BinStampText(12.5, 57), QStringLiteral("Фаза 12,5°\nКадров: 57"));
    EXPECT_EQ(recording::BinStampText(359.97, 3), QStringLiteral("Фаза 0,0°\nКадров: 3"));
    EXPECT_EQ(recording::BinStampText(-90, 3), QStringLiteral("Фаза 270,0°\nКадров: 3"));
    EXPECT_EQ(recording::BinStampText(-0.0, 3), QStringLiteral("Фаза 0,0°\nКадров: 3"));
    EXPECT_EQ(recording::BinStampText(732.5, 3), QStringLiteral("Фаза 12,5°\nКадров: 3"));
  }
  {
    const ScopedLocale english(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(recording::BinStampText(12.5, 57), QStringLiteral("Фаза 12.5°\nКадров: 57"));
  }
  // The session's own locale when none is set.
  EXPECT_TRUE(recording::BinStampText(12.5, 57).startsWith(
      QStringLiteral("Фаза 12") + QLocale::system().decimalPoint() + QStringLiteral("5°")));
}

TEST(AnalysisBinStampLocale, TheStampIsABoxInTheCornerOfACopy) {
  QImage mean(320, 240, QImage::Format_Grayscale8);
  mean.fill(0);
  const QImage stamped = recording::StampBinPicture(mean, 12.5, 57);
  ASSERT_EQ(stamped.size(), mean.size());
  EXPECT_EQ(mean.pixelColor(1, 1), QColor(Qt::black)) << "the mean picture stays as it was";
  EXPECT_EQ(stamped.pixelColor(1, 1), QColor(Qt::white));
  // Small: the rest of the picture is untouched.
  EXPECT_EQ(stamped.pixelColor(160, 120), QColor(Qt::black));
  EXPECT_EQ(stamped.pixelColor(319, 0), QColor(Qt::black));
  EXPECT_EQ(stamped.pixelColor(0, 239), QColor(Qt::black));
  EXPECT_TRUE(recording::StampBinPicture(QImage(), 0, 0).isNull());
}

// The JPEG pictures of the AVI's video chunks, in the file's order (GStreamer's muxer names
// them "00db", others "00dc").
std::vector<QImage> VideoFrames(const QByteArray& avi) {
  std::vector<QImage> frames;
  for (qsizetype at = avi.indexOf("00d"); at >= 0 && at + 8 <= avi.size();
       at = avi.indexOf("00d", at + 4)) {
    if (avi[at + 3] != 'b' && avi[at + 3] != 'c') continue;
    const auto size = qFromLittleEndian<quint32>(avi.constData() + at + 4);
    const QByteArray data = avi.mid(at + 8, size);
    // The index's entries carry the same code followed by flags, not a picture.
    if (data.startsWith("\xFF\xD8")) frames.push_back(QImage::fromData(data, "JPG"));
  }
  return frames;
}

TEST(AnalysisAnimation, PicturesMakeAnMjpegAviOfTheirRateInTheirOrder) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::vector<QColor> colours = {QColor(220, 30, 30), QColor(30, 200, 40),
                                       QColor(40, 50, 210), QColor(240, 240, 240)};
  std::vector<QImage> pictures;
  for (const QColor& colour : colours) {
    QImage picture(96, 64, QImage::Format_RGB32);
    picture.fill(colour);
    pictures.push_back(recording::StampBinPicture(picture, 12.5, 57));
  }
  const QString path = dir.filePath(QStringLiteral("bins.avi"));
  QString error;
  ASSERT_TRUE(gst::WriteImageAvi(path, pictures, 12.5, &error)) << error.toStdString();
  const testing_support::AviInfo info = testing_support::ReadAvi(path);
  ASSERT_TRUE(info.valid);
  EXPECT_EQ(info.totalFrames, 4U);
  EXPECT_EQ(info.width, 96);
  EXPECT_EQ(info.height, 64);
  EXPECT_EQ(info.videoHandler, QStringLiteral("MJPG"));
  EXPECT_EQ(info.microSecPerFrame, 80000U);
  EXPECT_TRUE(info.hasIndex);
  const std::vector<QImage> frames = VideoFrames(FileBytes(path));
  ASSERT_EQ(frames.size(), colours.size());
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const QColor seen = frames[i].pixelColor(70, 50);  // away from the stamp
    EXPECT_NEAR(seen.red(), colours[i].red(), 12) << "frame " << i;
    EXPECT_NEAR(seen.green(), colours[i].green(), 12) << "frame " << i;
    EXPECT_NEAR(seen.blue(), colours[i].blue(), 12) << "frame " << i;
  }
  EXPECT_EQ(Entries(dir.path()), QStringList{QStringLiteral("bins.avi")});
}

TEST(AnalysisAnimation, PicturesOfTwoSizesOrANameTakenAreRefusedAndLeaveNothing) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QImage small(64, 48, QImage::Format_RGB32);
  small.fill(Qt::gray);
  QImage taller(64, 50, QImage::Format_RGB32);
  taller.fill(Qt::gray);
  const QString path = dir.filePath(QStringLiteral("bins.avi"));
  QString error;
  EXPECT_FALSE(gst::WriteImageAvi(path, {small, small, taller}, 10, &error));
  EXPECT_TRUE(error.contains(path)) << error.toStdString();
  EXPECT_TRUE(error.contains(QStringLiteral("64 × 50"))) << error.toStdString();
  error.clear();
  EXPECT_FALSE(gst::WriteImageAvi(path, {}, 10, &error));
  EXPECT_FALSE(error.isEmpty());
  EXPECT_TRUE(Entries(dir.path()).isEmpty()) << Entries(dir.path()).join(' ').toStdString();

  // Written whole, then the name is a folder's: the temporary file goes again.
  ASSERT_TRUE(QDir().mkdir(path));
  error.clear();
  EXPECT_FALSE(gst::WriteImageAvi(path, {small, small}, 10, &error));
  EXPECT_TRUE(error.contains(path)) << error.toStdString();
  EXPECT_EQ(Entries(dir.path()), QStringList{QStringLiteral("bins.avi")});
}

}  // namespace
