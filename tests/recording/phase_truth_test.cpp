// Pictures whose phase is true: the test cameras film a dial whose hand points at the phase of
// the tone the built-in sound device really plays, over each frame's exposure and a known
// delay before its timestamp. Each saved picture's hand is read back and held against its row
// in log.csv, in both back ends and both picture formats, in real time (about 3 s a run).

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <numbers>
#include <span>

#include "platform/gst/camera_delay.h"
#include "platform/gst/camera_pipeline.h"
#include "platform/gst/test_scene.h"
#include "recording/frame_analysis.h"
#include "recording/frame_rule.h"
#include "recording/picture_window.h"
#include "recording/run_log.h"
#include "tests/support/avi_file.h"
#include "tests/support/camera_support.h"
#include "tests/support/recording_fixture.h"
#include "tests/support/scene_reader.h"
#include "tests/support/test_support.h"

namespace {

using testing_support::AngleDifference;
using testing_support::PictureFit;
using testing_support::WaitFor;

constexpr double kToneHz = 5;  // 10/2
constexpr double kDelayMs = 30;
constexpr double kDegreesPerMs = 360 * kToneHz / 1000;

struct Picture {
  double handDeg = 0;
  std::map<QString, QString> row;
  double Column(const char* name) const {
    bool ok = false;
    const double value = QLocale::c().toDouble(row.at(QString::fromLatin1(name)), &ok);
    EXPECT_TRUE(ok) << name;
    return value;
  }
};

// log.csv as column name to text, one map a row.
std::vector<std::map<QString, QString>> ReadLog(const QString& folder) {
  QFile file(QDir(folder).filePath(recording::RunLog::kFileName));
  if (!file.open(QIODevice::ReadOnly)) return {};
  QStringList lines =
      QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  if (lines.isEmpty()) return {};
  const QStringList columns = testing_support::SplitCsvLine(lines.takeFirst());
  std::vector<std::map<QString, QString>> rows;
  for (const QString& line : lines) {
    const QStringList cells = testing_support::SplitCsvLine(line);
    std::map<QString, QString> row;
    for (int i = 0; i < columns.size() && i < cells.size(); ++i) row[columns[i]] = cells[i];
    rows.push_back(std::move(row));
  }
  return rows;
}

class PhaseTruthTest : public testing_support::RecordingWindowFixture {
 protected:
  void SetUp() override {
    gst::SceneSettings scene = saved_;
    scene.delayMs = kDelayMs;
    scene.exposureMs = 4;
    scene.jitterMs = 0.3;
    gst::SetTestSceneSettings(scene);
    testing_support::RecordingWindowFixture::SetUp();
  }
  void TearDown() override {
    if (form) form->Generator().Command4_Click();
    testing_support::RecordingWindowFixture::TearDown();
    gst::SetTestSceneSettings(saved_);
  }

  // Switches the camera on in one back end, off first if it is on.
  void CameraOn(bool filterGraph) {
    if (form->CameraOn() == 1) QTest::mouseClick(form->Command13, Qt::LeftButton);
    if (filterGraph) {
      form->Option8->click();
      QTest::mouseClick(form->Command11, Qt::LeftButton);
      testing_support::ClickListRow(form->Combo2, 0);
    } else {
      QTest::mouseClick(form->Command11, Qt::LeftButton);
    }
    ASSERT_EQ(form->CameraOn(), 1);
    ASSERT_TRUE(
        WaitFor([&] { return testing_support::RecordingCameraDelivers(form->Camera()); }, 5000));
    ChooseVirtualDevice();
  }

  // A clock run at N/2 Hz (5 Hz unless told) with a picture every `nc0` periods of 1 / N s, for
  // about 3 s; each picture's hand read back.
  std::vector<Picture> Run(int nc0, bool filterGraph, bool jpeg, int numerator = 10,
                           int denominator = 2, int ms = 3000) {
    (jpeg ? form->Option10 : form->Option9)->setChecked(true);
    form->Option5->setChecked(true);
    form->Check2->setChecked(true);
    form->Text4->setText(QString::number(numerator));
    form->Text27->setText(QString::number(denominator));
    form->Text7->setText(QString::number(nc0));
    QTimer::singleShot(ms, form->Command4, &QPushButton::click);
    form->Generator().Command20_Click();
    form->Recorder().WaitUntilWritten();
    EXPECT_TRUE(boxes.Calls().empty());
    const QString folder = form->Recorder().Names().PictureFolder;
    const gst::CameraPipeline& camera = form->Camera().RecordingCamera();
    const QSize frame(camera.Format().width, camera.Format().height);
    const QSize panel = form->PictureWindow().Picture2->contentsRect().size();
    // The scene keeps clear of the stamp and inside the panel by copies of their sizes.
    EXPECT_EQ(panel, gst::kScenePanel);
    EXPECT_EQ(recording::kStampRegion.size(), gst::kSceneStamp);
    const QTransform place = testing_support::FrameToPicture(
        frame, panel, filterGraph ? PictureFit::Stretch : PictureFit::Crop);
    const gst::SceneLayout layout = gst::SceneLayoutFor(frame);
    std::vector<Picture> pictures;
    for (const std::map<QString, QString>& row : ReadLog(folder)) {
      const QImage image(QDir(folder).filePath(row.at(QStringLiteral("file"))));
      EXPECT_FALSE(image.isNull()) << row.at(QStringLiteral("file")).toStdString();
      if (image.isNull()) continue;
      pictures.push_back(
          {testing_support::ReadHandAngle(image, place, layout.dialCentre, layout.dialRadius),
           row});
    }
    EXPECT_GE(pictures.size(), 5u);
    return pictures;
  }

  // Where a frame lies on the run's pictures, as Run's pictures lay it.
  QTransform Placement(bool filterGraph) {
    const gst::CameraPipeline& camera = form->Camera().RecordingCamera();
    return testing_support::FrameToPicture(QSize(camera.Format().width, camera.Format().height),
                                           form->PictureWindow().Picture2->contentsRect().size(),
                                           filterGraph ? PictureFit::Stretch : PictureFit::Crop);
  }

  const gst::SceneSettings saved_ = gst::TestSceneSettings();
  testing_support::VirtualCameras cameras_;
};

// With the camera's delay calibrated, the row's exposure phase is the phase the picture shows.
TEST_F(PhaseTruthTest, EachPicturesHandShowsItsRowsExposurePhaseOnceTheDelayIsKnown) {
  for (const auto& [filterGraph, jpeg] : {std::pair{false, false}, {true, false}, {true, true}}) {
    SCOPED_TRACE(filterGraph ? (jpeg ? "filter graph, jpg" : "filter graph, bmp")
                             : "capture window");
    CameraOn(filterGraph);
    if (HasFatalFailure()) return;
    const gst::CameraSetup setup = gst::SetupOf(form->Camera().RecordingCamera());
    ASSERT_TRUE(setup.exposureMs);
    EXPECT_DOUBLE_EQ(*setup.exposureMs, 4);
    ASSERT_TRUE(gst::StoreDelay(setup, {.delayMs = kDelayMs,
                                        .uncertaintyMs = 0.2,
                                        .exposureMs = 4,
                                        .measured = QDateTime::currentDateTimeUtc()}));
    // NC0 = 5: 2.5 tone periods a picture, so the hands alternate by 180°.
    const std::vector<Picture> pictures = Run(5, filterGraph, jpeg);
    for (const Picture& picture : pictures) {
      SCOPED_TRACE(picture.row.at(QStringLiteral("picture")).toStdString());
      EXPECT_EQ(picture.row.at(QStringLiteral("camera_delay_source")),
                QStringLiteral("calibrated"));
      EXPECT_NEAR(picture.Column("camera_delay_ms"), kDelayMs, 1e-9);
      EXPECT_NEAR(picture.Column("exposure_time_ms"), 4, 1e-9);
      EXPECT_NEAR(AngleDifference(picture.handDeg, picture.Column("exposure_phase_deg")), 0, 2);
      // The timestamp's phase is the delay's worth ahead of what the picture shows.
      EXPECT_NEAR(AngleDifference(picture.Column("frame_phase_deg"), picture.handDeg),
                  (kDelayMs + 2) * kDegreesPerMs, 2);
    }
    for (std::size_t i = 1; i < pictures.size(); ++i)
      EXPECT_NEAR(std::abs(AngleDifference(pictures[i].handDeg, pictures[i - 1].handDeg)), 180, 6);
    gst::ForgetDelay(setup);
  }
}

// The camera's delay, as a calibration would have stored it for the set-up now on.
void StoreSceneDelay(const gst::CameraPipeline& camera, double exposureMs) {
  ASSERT_TRUE(gst::StoreDelay(gst::SetupOf(camera), {.delayMs = kDelayMs,
                                                     .uncertaintyMs = 0.2,
                                                     .exposureMs = exposureMs,
                                                     .measured = QDateTime::currentDateTimeUtc()}));
}

// A strobe lights the scene only at its pulses: each picture takes a frame a pulse lit and
// shows the hand at the pulse's phase, in both back ends; every period's pulse at the tone's
// start phase, or each instant's at its own (NC0 = 7 at 7 Hz: 3.5 periods, alternately 0° and
// 180°). At 7 Hz the pulses meet the 30 frames a second at places 4.8 ms apart, so a window
// always has a frame that holds a whole one; an instant's single pulse may fall on the edge
// between two exposures, where no frame holds it whole, or in a frame a loaded machine's camera
// lost: that picture takes the nearest frame and says it was not lit.
TEST_F(PhaseTruthTest, StrobedPicturesShowTheHandAtTheirPulsesPhase) {
  gst::SceneSettings scene = gst::TestSceneSettings();
  scene.exposureMs = 33;  // a whole frame: no pulse falls between two exposures
  gst::SetTestSceneSettings(scene);
  for (const auto& [filterGraph, mode, nc0] :
       {std::tuple{false, generator::StrobeMode::EveryPeriod, 4},
        std::tuple{true, generator::StrobeMode::Instants, 7}}) {
    SCOPED_TRACE(filterGraph ? "filter graph, instants" : "capture window, every period");
    form->Generator().SetStrobe({mode});
    CameraOn(filterGraph);
    if (HasFatalFailure()) return;
    StoreSceneDelay(form->Camera().RecordingCamera(), 33);
    const std::vector<Picture> pictures = Run(nc0, filterGraph, false, 14);
    EXPECT_EQ(form->Gen().WaveFormat.nChannels, 2);
    ASSERT_GE(pictures.size(), 2u);
    std::size_t lit = 0;
    // The last instant may meet the stop, its pulse unplayed.
    for (const Picture& picture : std::span(pictures).first(pictures.size() - 1)) {
      SCOPED_TRACE(picture.row.at(QStringLiteral("picture")).toStdString());
      if (picture.row.at(QStringLiteral("strobe_lit")) != QStringLiteral("1")) {
        EXPECT_EQ(picture.row.at(QStringLiteral("frame_rule")), QStringLiteral("nearest"));
        EXPECT_TRUE(picture.row.at(QStringLiteral("pulse_phase_deg")).isEmpty());
        continue;
      }
      ++lit;
      EXPECT_EQ(picture.row.at(QStringLiteral("frame_rule")), QStringLiteral("strobe"));
      EXPECT_NEAR(AngleDifference(picture.handDeg, picture.Column("pulse_phase_deg")), 0, 1.5);
      // Each pulse is centred on its instant's ideal phase, at most a sample after it.
      EXPECT_NEAR(
          AngleDifference(picture.Column("pulse_phase_deg"), picture.Column("ideal_phase_deg")), 0,
          0.05);
      EXPECT_NEAR(picture.Column("phase_error_deg"), 0, 0.05);
    }
    // Every period's pulse is held by several frames of a window: some picture is lit.
    if (mode == generator::StrobeMode::EveryPeriod) {
      EXPECT_GE(lit, 1u);
    }
    gst::ForgetDelay(gst::SetupOf(form->Camera().RecordingCamera()));
  }
  form->Generator().SetStrobe({});
}

// Chosen by phase, a picture takes the frame of its window whose exposure phase is nearest the
// ideal: at 7 Hz against 30 frames a second the frames step 84°, and the 15 of a 0.5 s window
// take phases 24° apart, so none is more than 12° off (the nearest frame in time may be 42°).
TEST_F(PhaseTruthTest, PicturesChosenByPhaseShowTheHandNearTheIdealPhase) {
  recording::ForceFrameChoice(recording::FrameChoice::Phase);
  const struct Lifted {
    ~Lifted() { recording::ForceFrameChoice(std::nullopt); }
  } lifted;
  for (const bool filterGraph : {false, true}) {
    SCOPED_TRACE(filterGraph ? "filter graph" : "capture window");
    CameraOn(filterGraph);
    if (HasFatalFailure()) break;
    StoreSceneDelay(form->Camera().RecordingCamera(), 4);
    const std::vector<Picture> pictures = Run(7, filterGraph, false, 14);
    gst::ForgetDelay(gst::SetupOf(form->Camera().RecordingCamera()));
    ASSERT_GE(pictures.size(), 2u);
    // The last picture's window may be cut by the stop before any frame: it takes the nearest.
    for (const Picture& picture : std::span(pictures).first(pictures.size() - 1)) {
      SCOPED_TRACE(picture.row.at(QStringLiteral("picture")).toStdString());
      EXPECT_EQ(picture.row.at(QStringLiteral("frame_rule")), QStringLiteral("phase"));
      EXPECT_LE(std::abs(picture.Column("phase_error_deg")), 13);
      // What the row says is what the picture shows.
      EXPECT_NEAR(AngleDifference(picture.handDeg, picture.Column("ideal_phase_deg")),
                  picture.Column("phase_error_deg"), 2.5);
    }
  }
}

// Without a calibration the row says so, and its exposure phase is off by the delay's worth;
// with NC0 a multiple of D every picture shows the hand at one angle.
TEST_F(PhaseTruthTest, WithoutADelayTheRowIsOffByItAndEveryPictureOfOnePhaseAgrees) {
  CameraOn(false);
  const std::vector<Picture> pictures = Run(4, false, false);
  std::vector<double> offsets;
  for (const Picture& picture : pictures) {
    SCOPED_TRACE(picture.row.at(QStringLiteral("picture")).toStdString());
    EXPECT_EQ(picture.row.at(QStringLiteral("camera_delay_source")), QStringLiteral("none"));
    EXPECT_TRUE(picture.row.at(QStringLiteral("camera_delay_ms")).isEmpty());
    EXPECT_NEAR(AngleDifference(picture.Column("exposure_phase_deg"), picture.handDeg),
                kDelayMs * kDegreesPerMs, 2);
    offsets.push_back(AngleDifference(picture.handDeg, pictures.front().handDeg));
  }
  // Instants 0.4 s apart meet the 30 frames a second at the same place: only the jitter
  // (0.3 ms, 0.54°) and the reading differ.
  const auto [low, high] = std::minmax_element(offsets.begin(), offsets.end());
  EXPECT_LT(*high - *low, 4);
}

// A float32 .npy array as the run writes it: its rows, columns and values (none when it is
// not one).
struct Npy {
  int rows = 0, columns = 0;
  std::vector<float> values;
  float At(int x, int y) const { return values[static_cast<std::size_t>(y) * columns + x]; }
};
Npy ReadNpy(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  const QByteArray bytes = file.readAll();
  if (!bytes.startsWith("\x93NUMPY") || bytes.size() < 10) return {};
  const int length = static_cast<std::uint8_t>(bytes[8]) | static_cast<std::uint8_t>(bytes[9]) << 8;
  const QString header = QString::fromLatin1(bytes.mid(10, length));
  const QRegularExpressionMatch shape =
      QRegularExpression(QStringLiteral("'shape': \\((\\d+), (\\d+)\\)")).match(header);
  if (!header.contains(QStringLiteral("'descr': '<f4'")) || !shape.hasMatch()) return {};
  Npy npy{.rows = shape.captured(1).toInt(), .columns = shape.captured(2).toInt(), .values = {}};
  const QByteArray data = bytes.mid(10 + length);
  if (data.size() != qsizetype{4} * npy.rows * npy.columns) return {};
  npy.values.resize(static_cast<std::size_t>(npy.rows) * npy.columns);
  std::memcpy(npy.values.data(), data.constData(), static_cast<std::size_t>(data.size()));
  return npy;
}

// The mean of an array over a rectangle of frame pixels, and the circular mean for phases.
double MeanOver(const Npy& npy, const QRect& rect) {
  double sum = 0;
  for (int y = rect.top(); y <= rect.bottom(); ++y)
    for (int x = rect.left(); x <= rect.right(); ++x) sum += npy.At(x, y);
  return sum / (rect.width() * rect.height());
}
double PhaseOver(const Npy& npy, const QRect& rect) {
  double c = 0, s = 0;
  for (int y = rect.top(); y <= rect.bottom(); ++y)
    for (int x = rect.left(); x <= rect.right(); ++x) {
      c += std::cos(npy.At(x, y) * std::numbers::pi / 180);
      s += std::sin(npy.At(x, y) * std::numbers::pi / 180);
    }
  return std::atan2(s, c) * 180 / std::numbers::pi;
}

// Every frame of a run, not only the pictures': sorted by exposure phase into 36 bins, each
// bin's mean picture shows the hand within half a bin (5°) of the bin's phase; fitted at the
// tone's frequency, each of the scene's response patches shows its own amplitude (within 2 %,
// or half a grey level) and phase (within 2°), in both back ends. 29/4 Hz against 30 frames a
// second: the frames pass 120 phases 3° apart every 4 s.
TEST_F(PhaseTruthTest, EveryFrameSortedByPhaseAndFittedShowsTheScenesTruth) {
  gst::SceneSettings scene = gst::TestSceneSettings();
  scene.responsePatches = true;
  gst::SetTestSceneSettings(scene);
  recording::ForceFrameAnalysis(
      recording::FrameAnalysisSettings{.phaseBins = 36, .binsFps = 12, .lockIn = true});
  const struct Lifted {
    ~Lifted() { recording::ForceFrameAnalysis(std::nullopt); }
  } lifted;
  for (const bool filterGraph : {false, true}) {
    SCOPED_TRACE(filterGraph ? "filter graph" : "capture window");
    CameraOn(filterGraph);
    if (HasFatalFailure()) break;
    StoreSceneDelay(form->Camera().RecordingCamera(), 4);
    Run(8, filterGraph, false, 29, 4, 6000);
    gst::ForgetDelay(gst::SetupOf(form->Camera().RecordingCamera()));
    const std::optional<recording::FrameAnalysisResult>& result =
        form->Recorder().AllFramesResult();
    ASSERT_TRUE(result);
    EXPECT_GT(result->frames, 120);
    EXPECT_TRUE(result->failure.isEmpty()) << result->failure.toStdString();
    const QDir folder(form->Recorder().Names().PictureFolder);

    // A loaded machine's camera loses frames: a bin may stay empty, and says so.
    ASSERT_TRUE(result->binFrames);
    EXPECT_LE(result->emptyBins, 6);
    const gst::CameraPipeline& camera = form->Camera().RecordingCamera();
    const QSize frame(camera.Format().width, camera.Format().height);
    const gst::SceneLayout layout = gst::SceneLayoutFor(frame);
    for (int bin = 0; bin < 36; ++bin) {
      const QString name = QStringLiteral("bins/bin-%1.png").arg(bin, 2, 10, QLatin1Char('0'));
      const QImage picture(folder.filePath(name));
      EXPECT_EQ(picture.isNull(), (*result->binFrames)[static_cast<std::size_t>(bin)] == 0)
          << name.toStdString();
      if (picture.isNull()) continue;
      EXPECT_NEAR(
          AngleDifference(testing_support::ReadHandAngle(picture, Placement(filterGraph),
                                                         layout.dialCentre, layout.dialRadius),
                          10.0 * bin),
          0, 5)
          << name.toStdString();
    }
    EXPECT_TRUE(testing_support::ReadAvi(folder.filePath(QStringLiteral("bins/period.avi"))).valid);

    ASSERT_TRUE(result->mapsWritten);
    const Npy amplitude = ReadNpy(folder.filePath(QStringLiteral("amplitude.npy")));
    const Npy phase = ReadNpy(folder.filePath(QStringLiteral("phase.npy")));
    const Npy offset = ReadNpy(folder.filePath(QStringLiteral("offset.npy")));
    ASSERT_EQ(amplitude.columns, frame.width());
    ASSERT_EQ(amplitude.rows, frame.height());
    ASSERT_EQ(phase.values.size(), amplitude.values.size());
    ASSERT_EQ(offset.values.size(), amplitude.values.size());
    // The camera's levels are the scene's scaled (a raw format's limited range is stretched to
    // full): the scale is read off the mean levels of the darkest and brightest patches.
    const std::vector<gst::ResponsePatch> patches = gst::ResponsePatchesFor(frame);
    ASSERT_GE(patches.size(), 4u);
    const auto inside = [](const gst::ResponsePatch& patch) {
      return patch.rect.toAlignedRect().adjusted(3, 3, -3, -3);
    };
    const auto [darkest, brightest] = std::minmax_element(
        patches.begin(), patches.end(),
        [](const gst::ResponsePatch& a, const gst::ResponsePatch& b) { return a.mean < b.mean; });
    const double scale =
        (MeanOver(offset, inside(*brightest)) - MeanOver(offset, inside(*darkest))) /
        (brightest->mean - darkest->mean);
    EXPECT_GT(scale, 0.95);
    EXPECT_LT(scale, 1.2);
    for (const gst::ResponsePatch& patch : patches) {
      SCOPED_TRACE(patch.phaseDeg);
      const QRect area = inside(patch);
      // A steady patch answers with nothing but noise, and has no phase.
      if (patch.amplitude == 0) {
        EXPECT_LT(MeanOver(amplitude, area), 1);
        continue;
      }
      // The camera's two 8-bit conversions (the scene's grey to limited-range YUY2 and back to
      // full-range BGRx) merge one level in seven: a swing of a few levels sees their local
      // steps, so a small response is held to half a level, a large one to 2 %.
      EXPECT_NEAR(MeanOver(amplitude, area), scale * patch.amplitude,
                  std::max(0.02 * scale * patch.amplitude, 0.6));
      EXPECT_NEAR(AngleDifference(PhaseOver(phase, area), patch.phaseDeg), 0, 2);
    }
  }
}

// A run whose frames cannot resolve the response says why instead of writing maps: 15 Hz
// against 30 frames a second meets the tone at two phases only; 12 bins then get two pictures
// and the rest are said to be empty because the rates are commensurate. A run too short for the
// frames to pass the tone's phases says so. In the Timer 1 mode the frames have no phase at all,
// and under a strobe only its pulses'.
TEST_F(PhaseTruthTest, FramesThatCannotResolveTheResponseSayWhyInsteadOfMaps) {
  recording::ForceFrameAnalysis(
      recording::FrameAnalysisSettings{.phaseBins = 12, .binsFps = 12, .lockIn = true});
  const struct Lifted {
    ~Lifted() { recording::ForceFrameAnalysis(std::nullopt); }
  } lifted;
  CameraOn(false);
  Run(6, false, false, 30, 2, 1500);
  const std::optional<recording::FrameAnalysisResult>& result = form->Recorder().AllFramesResult();
  ASSERT_TRUE(result);
  EXPECT_FALSE(result->mapsWritten);
  ASSERT_TRUE(result->distinctPhases);
  EXPECT_LE(*result->distinctPhases, 2 + 2);  // the jitter may split a phase's whole degrees
  EXPECT_GE(result->emptyBins, 9);
  const QString status = form->Label1->text();
  EXPECT_TRUE(status.contains(QString::fromUtf8("Карты отклика не построены")))
      << status.toStdString();
  EXPECT_TRUE(status.contains(QString::fromUtf8("соизмеримы"))) << status.toStdString();
  const QDir folder(form->Recorder().Names().PictureFolder);
  EXPECT_FALSE(folder.exists(QStringLiteral("amplitude.png")));
  EXPECT_FALSE(folder.exists(QStringLiteral("phase.npy")));
  EXPECT_EQ(
      QDir(folder.filePath(QStringLiteral("bins"))).entryList({QStringLiteral("*.png")}).size(),
      12 - result->emptyBins);

  // 121/8 Hz: the frames step 181.5°, so a run of 0.3 s passes only two arcs of a few
  // degrees — too short, though a long one would meet 240 phases. The stop comes at the third
  // picture (0.3 s after T0), not at a time counted from the click: a start slowed by a busy
  // machine would leave no frame after the first picture.
  form->Text4->setText(QStringLiteral("121"));
  form->Text27->setText(QStringLiteral("8"));
  form->Text7->setText(QStringLiteral("12"));
  const QMetaObject::Connection third =
      QObject::connect(form->Text1, &QLineEdit::textChanged, form.get(), [this](const QString& n) {
        if (n == QStringLiteral("3")) QTimer::singleShot(0, form->Command4, &QPushButton::click);
      });
  form->Generator().Command20_Click();
  QObject::disconnect(third);
  form->Recorder().WaitUntilWritten();
  const std::optional<recording::FrameAnalysisResult>& brief = form->Recorder().AllFramesResult();
  ASSERT_TRUE(brief);
  EXPECT_GT(brief->frames, 3);
  EXPECT_FALSE(brief->mapsWritten);
  EXPECT_TRUE(form->Label1->text().contains(QString::fromUtf8("Запись слишком короткая")))
      << form->Label1->text().toStdString();

  QTest::qWait(1100);  // a run's folder is named by the second it starts in
  form->Option6->setChecked(true);
  form->Text20->setText(QStringLiteral("0.5"));
  QTimer::singleShot(1200, form->Command4, &QPushButton::click);
  form->Generator().Command20_Click();
  EXPECT_TRUE(boxes.Calls().empty()) << boxes.Calls().front().text.toStdString();
  EXPECT_TRUE(form->Generator().RunActive());
  EXPECT_TRUE(form->Label1->text().contains(QString::fromUtf8("В режиме таймера")))
      << form->Label1->text().toStdString();
  WaitFor([&] { return !form->Generator().RunActive(); }, 5000);
  form->Recorder().WaitUntilWritten();
  EXPECT_FALSE(form->Recorder().AllFramesResult());
  EXPECT_FALSE(form->Recorder().AllFramesRefused().isEmpty());

  // A strobe lights each frame at its pulse's phase, not its exposure's: no analysis either.
  QTest::qWait(1100);
  form->Option5->setChecked(true);
  form->Generator().SetStrobe({generator::StrobeMode::EveryPeriod});
  QTimer::singleShot(600, form->Command4, &QPushButton::click);
  form->Generator().Command20_Click();
  form->Generator().SetStrobe({});
  EXPECT_TRUE(boxes.Calls().empty());
  form->Recorder().WaitUntilWritten();
  EXPECT_FALSE(form->Recorder().AllFramesResult());
  EXPECT_TRUE(form->Recorder().AllFramesRefused().contains(QStringLiteral("strobe")))
      << form->Recorder().AllFramesRefused().toStdString();
}

}  // namespace

namespace {

// The plot's longest summary (a calibrated delay, the band in degrees and ms at a tone of many
// digits) stays whole inside the picture.
TEST(PhasePlotTexts, TheLongestSummaryStaysInsideThePicture) {
  recording::PhaseHistory history(123.456789);
  for (int n = 1; n <= 3; ++n) {
    recording::PictureLogRow row;
    row.picture = n;
    row.idealPhase = 0;
    row.exposurePhase = -96.4;
    row.cameraDelayMs = 40;
    row.frameNumber = 12 * n;
    row.frameCaptureMs = 400.0 * n;
    history.Add(row);
  }
  const recording::RunLog::PlotTexts texts = recording::RunLog::Texts(history);
  ASSERT_TRUE(texts.summary.contains(QStringLiteral("задержка камеры 40.0 мс")));
  ASSERT_TRUE(texts.summary.contains(QStringLiteral("123.457 Гц")));
  const QImage plot = recording::RunLog::DrawPhasePlot(history);
  // A text too long for its line is cut at the line's end, 14 px from the picture's edge.
  int inked = 0;
  int rightmost = 0;
  for (int y = 0; y < 44; ++y) {
    for (int x = 0; x < plot.width(); ++x) {
      if (qGray(plot.pixel(x, y)) > 128) continue;
      ++inked;
      rightmost = std::max(rightmost, x);
    }
  }
  EXPECT_LT(rightmost, plot.width() - 20);
  EXPECT_GT(inked, 100);  // the texts are there
}

}  // namespace
