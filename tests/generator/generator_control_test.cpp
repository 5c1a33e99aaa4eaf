#include <gtest/gtest.h>

#include <QTest>

#include "platform/gst/virtual_devices.h"
#include "recording/picture_window.h"
#include "tests/support/generator_fixture.h"
#include "tests/support/state_access.h"

using testing_support::GeneratorFixture;
using testing_support::ScopedLocale;
using testing_support::Str;

namespace {

const QString kError = Str("Ошибка в работе программы");
const QString kBelow2Hz = Str("Частота не может быть задана меньше 2 Гц");
const QString kDenominator =
    Str("Знаменатель у частоты не может быть меньше 2 и должен быть кратен 2");

}  // namespace

class GeneratorControlTest : public GeneratorFixture {
 protected:
  void Start() { QTest::mouseClick(form->Command20, Qt::LeftButton); }
  void Stop() { QTest::mouseClick(form->Command4, Qt::LeftButton); }
  std::vector<QString> Texts() const {
    std::vector<QString> texts;
    for (const auto& call : boxes.Calls()) texts.push_back(call.text);
    return texts;
  }
};

TEST_F(GeneratorControlTest, DeviceListStartsWithTheDefaultOutputAndKeepsDeviceNumbers) {
  ASSERT_GE(form->Combo1->count(), 2);
  EXPECT_EQ(form->Combo1->itemData(0).toInt(), -1);
  EXPECT_EQ(form->Combo1->itemData(VirtualRow()).toInt(), VirtualRow() - 1);
  // No row is chosen yet: the list shows its prompt and the start waits for a choice.
  EXPECT_EQ(form->Combo1->currentIndex(), -1);
  EXPECT_EQ(form->Combo1->currentText(), Str("                            из этого списка"));
  EXPECT_FALSE(form->Command20->isEnabled());
}

TEST_F(GeneratorControlTest, OnlyAClickOnAListRowChoosesTheDevice) {
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  QLineEdit* field = form->Combo1->lineEdit();
  const QString name = form->Combo1->itemText(VirtualRow());
  // The device's name typed into the field, then Enter.
  field->setFocus();
  field->setText(name);
  QTest::keyClick(field, Qt::Key_Return);
  // Typed again, then the field left for another control.
  form->Combo1->setEditText(QStringLiteral("x"));
  field->setText(name);
  form->Text15->setFocus();
  QTest::qWait(10);
  ASSERT_FALSE(field->hasFocus());
  EXPECT_EQ(form->Label1->text(), QStringLiteral("Label1"));
  EXPECT_EQ(form->Gen().SampleRate, 0);
  EXPECT_FALSE(form->Command20->isEnabled());
  EXPECT_TRUE(boxes.Calls().empty());

  testing_support::ClickListRow(form->Combo1, VirtualRow());
  EXPECT_EQ(form->Combo1->currentIndex(), VirtualRow());
  EXPECT_EQ(form->Gen().SampleRate, 48000);
  EXPECT_EQ(form->Label1->text(), Str("формат этим устройством поддерживается"));
  EXPECT_TRUE(form->Command20->isEnabled());
}

TEST_F(GeneratorControlTest, RowClickSetsTheFormatAndEnablesTheStart) {
  form->Text15->setText(QStringLiteral("44100"));
  ChooseVirtualDevice();
  const wave::WAVEFORMATEX& format = form->Gen().WaveFormat;
  EXPECT_EQ(form->Gen().SampleRate, 44100);
  EXPECT_EQ(format.wFormatTag, 1);
  EXPECT_EQ(format.nChannels, 1);
  EXPECT_EQ(format.nSamplesPerSec, 44100u);
  EXPECT_EQ(format.nAvgBytesPerSec, 88200u);
  EXPECT_EQ(format.nBlockAlign, 2);
  EXPECT_EQ(format.wBitsPerSample, 16);
  EXPECT_EQ(format.cbSize, 18);
  EXPECT_EQ(form->Label1->text(), Str("формат этим устройством поддерживается"));
  EXPECT_TRUE(form->Command20->isEnabled());
  EXPECT_TRUE(boxes.Calls().empty());
}

TEST_F(GeneratorControlTest, BadSampleRateIsReportedAndChangesNothing) {
  ChooseVirtualDevice();
  form->Command20->setEnabled(false);
  ScopedLocale c(QLocale::c());
  for (const char* text : {"abc", "0", "-8000", "44100.5", "134217728", "1e12"}) {
    form->Text15->setText(QString::fromLatin1(text));
    ChooseVirtualDevice();
    EXPECT_EQ(form->Gen().SampleRate, 48000) << text;
    EXPECT_EQ(form->Gen().WaveFormat.nAvgBytesPerSec, 96000u) << text;
    EXPECT_FALSE(form->Command20->isEnabled()) << text;
  }
  EXPECT_EQ(boxes.Calls().size(), 6u);
  EXPECT_EQ(boxes.Calls().back().text, kError);
  EXPECT_EQ(boxes.Calls().back().title, QStringLiteral("Strobolux"));
  form->Text15->setText(QStringLiteral("134217727"));  // the largest rate whose byte rate fits
  ChooseVirtualDevice();
  EXPECT_EQ(form->Gen().SampleRate, 134217727);
}

TEST_F(GeneratorControlTest, StartValidatesNumeratorAndDenominator) {
  ScopedLocale russian(QLocale(QLocale::Russian, QLocale::Russia));
  ChooseVirtualDevice();
  form->Text4->setText(QStringLiteral("1,5"));
  Start();
  form->Text4->setText(QStringLiteral("0"));
  Start();
  form->Text4->setText(QStringLiteral("2"));
  form->Text27->setText(QStringLiteral("1"));
  Start();
  form->Text27->setText(QStringLiteral("3"));
  Start();
  EXPECT_EQ(Texts(), (std::vector<QString>{kBelow2Hz, kError, kDenominator, kDenominator}));
  for (const auto& call : boxes.Calls()) EXPECT_EQ(call.title, QStringLiteral("Strobolux"));
  // Steps before the checks have already run; nothing else has.
  EXPECT_EQ(form->Gen().FreqDenominator, 3);
  EXPECT_EQ(form->Gen().WaveOutHandle, 0u);
  EXPECT_TRUE(form->Command20->isEnabled());

  form->Text27->setText(QStringLiteral("2,5"));  // read as 2 (ties to even)
  Start();
  EXPECT_EQ(boxes.Calls().size(), 4u);
  EXPECT_EQ(form->Gen().FreqDenominator, 2);
  EXPECT_NE(form->Gen().WaveOutHandle, 0u);
  Stop();
}

TEST_F(GeneratorControlTest, InfiniteFrequencyIsNotANumberAndOpensNothing) {
  ScopedLocale english(QLocale(QLocale::English, QLocale::UnitedStates));
  ChooseVirtualDevice();
  form->Text4->setText(QStringLiteral("inf"));
  Start();
  EXPECT_EQ(Texts(), std::vector<QString>{kError});
  EXPECT_EQ(form->Gen().WaveOutHandle, 0u);
  EXPECT_EQ(form->Label15->text(), QStringLiteral("Label15"));
  EXPECT_TRUE(form->Command20->isEnabled());
}

TEST_F(GeneratorControlTest, DefaultsStartA1HzSineAndTheStopReleasesTheDevice) {
  ChooseVirtualDevice();
  Start();
  EXPECT_TRUE(boxes.Calls().empty());
  EXPECT_DOUBLE_EQ(form->Gen().Omega, 12.56637061435916);
  EXPECT_DOUBLE_EQ(form->Gen().ClockPeriod, 0.5);
  EXPECT_DOUBLE_EQ(form->Gen().Amplitude, 32767);
  EXPECT_DOUBLE_EQ(form->Gen().Phase, 0);
  EXPECT_EQ(form->Gen().NC0, 2);
  EXPECT_EQ(form->Gen().BufferLength, 96000);
  EXPECT_EQ(form->Gen().Buffer1.size(), 96000u);
  EXPECT_EQ(form->Gen().Header1.dwBufferLength, 192000u);  // the whole buffer is played
  EXPECT_EQ(form->Gen().Buffer1, form->Gen().Buffer2);
  EXPECT_EQ(form->Gen().StopRequested, 0);
  EXPECT_FALSE(form->Command20->isEnabled());
  EXPECT_TRUE(form->Command4->isEnabled());
  EXPECT_EQ(form->Label15->text(), Str("звуковой поток запущен"));
  QTest::qWait(50);
  EXPECT_EQ(form->Label12->text(), Str("устройство открыто"));

  // A row click during the run answers but does not enable a second start.
  ChooseVirtualDevice();
  EXPECT_FALSE(form->Command20->isEnabled());

  form->Timer2->stop();
  Stop();
  EXPECT_EQ(form->Gen().StopRequested, 1);
  EXPECT_TRUE(form->Command20->isEnabled());
  EXPECT_FALSE(form->Command4->isEnabled());
  EXPECT_FALSE(form->Timer1->isActive());
  EXPECT_TRUE(form->Timer2->isActive());
  EXPECT_EQ(form->Gen().WaveOutHandle, 0u);
  QTest::qWait(50);
  EXPECT_EQ(form->Label12->text(), Str("устройство закрыто"));
}

TEST_F(GeneratorControlTest, PhaseOf270StartsAtTheNegativePeak) {
  ChooseVirtualDevice();
  form->Option4->setChecked(true);
  Start();
  EXPECT_DOUBLE_EQ(form->Gen().Phase, 4.712388980384685);
  EXPECT_EQ(form->Gen().Buffer1[0], -32767);
  Stop();
}

TEST_F(GeneratorControlTest, SecondStartRereadsSettingsButNotTheSampleRate) {
  ChooseVirtualDevice();
  Start();
  testing_support::WritableState(form->Generator()).PictureNumber =
      7;  // as a clock would have advanced it
  Stop();
  form->Text15->setText(QStringLiteral("22050"));
  form->Text4->setText(QStringLiteral("4"));
  form->Text5->setText(QStringLiteral("50"));
  Start();
  EXPECT_TRUE(boxes.Calls().empty());
  EXPECT_EQ(form->Gen().SampleRate, 48000);
  EXPECT_EQ(form->Gen().BufferLength, 96000);
  EXPECT_DOUBLE_EQ(form->Gen().FreqNumerator, 4);
  EXPECT_DOUBLE_EQ(form->Gen().Amplitude, 0.5 * 32767);
  EXPECT_EQ(form->Gen().PictureNumber, 0);
  EXPECT_NE(form->Gen().WaveOutHandle, 0u);  // the same device opened again
  Stop();
}

TEST_F(GeneratorControlTest, ZeroDrawingScaleFailsBeforeAnyBufferIsSubmitted) {
  ChooseVirtualDevice();
  form->Check5->setChecked(true);
  form->Text22->setText(QStringLiteral("0"));
  Start();
  EXPECT_EQ(Texts(), std::vector<QString>{kError});
  // The device is open, nothing is queued, the buttons are as they were.
  EXPECT_NE(form->Gen().WaveOutHandle, 0u);
  EXPECT_EQ(wave::waveOutClose(form->Gen().WaveOutHandle), wave::MMSYSERR_NOERROR);
  testing_support::WritableState(form->Generator()).WaveOutHandle = 0;
  EXPECT_TRUE(form->Command20->isEnabled());
}

TEST_F(GeneratorControlTest, DeviceThatDoesNotOpenEndsTheStartWithTheGeneralMessage) {
  ChooseVirtualDevice();
  form->Combo1->setCurrentIndex(-1);  // a device number that does not open
  Start();
  EXPECT_EQ(Texts(), std::vector<QString>{kError});
  EXPECT_EQ(boxes.Calls()[0].title, QStringLiteral("Strobolux"));
  // Nothing was sized, nothing runs, and the start may be tried again.
  EXPECT_EQ(form->Gen().WaveOutHandle, 0u);
  EXPECT_EQ(form->Gen().BufferLength, 0);
  EXPECT_TRUE(form->Gen().Buffer1.empty());
  EXPECT_FALSE(form->Timer1->isActive());
  EXPECT_EQ(form->Label15->text(), QStringLiteral("Label15"));
  EXPECT_TRUE(form->Command20->isEnabled());

  // After a run, the buffers of that run stay as they were.
  ChooseVirtualDevice();
  Start();
  Stop();
  const std::vector<std::int16_t> played = form->Gen().Buffer1;
  form->Text27->setText(QStringLiteral("4"));
  form->Combo1->setCurrentIndex(-1);
  Start();
  EXPECT_EQ(Texts(), (std::vector<QString>{kError, kError}));
  EXPECT_EQ(form->Gen().BufferLength, 96000);
  EXPECT_EQ(form->Gen().Buffer1, played);
  EXPECT_FALSE(form->Timer1->isActive());
}

// The strobe needs a second channel: the row's format check asks for two and says why it is
// refused, and the start is refused before anything opens; a pulse that fills the space
// between two is refused too. The strobe off, the same device plays as before.
TEST_F(GeneratorControlTest, AStrobeOnADeviceOfOneChannelIsRefusedBeforeAnythingOpens) {
  const QString mono = Str("Один канал");
  form.reset();
  gst::RegisterVirtualSoundDevice(mono, ProgramFolder() + QStringLiteral("/mono.wav"), 1.0, 1);
  MakeWindow();
  form->Generator().SetStrobe({generator::StrobeMode::EveryPeriod});
  testing_support::ClickListRow(form->Combo1, form->Combo1->findText(mono));
  EXPECT_EQ(form->Gen().WaveFormat.nChannels, 2);
  EXPECT_EQ(form->Label1->text(),
            Str("формат этим устройством не поддерживается (два канала: тон и стробоскоп)"));
  EXPECT_EQ(form->Generator().SettingsRefusal(),
            Str("Звуковое устройство не принимает два канала: стробоскопу нужен второй канал"));
  Start();
  EXPECT_EQ(Texts(), std::vector<QString>{Str(
                         "Звуковое устройство не принимает два канала: стробоскопу нужен второй "
                         "канал")});
  EXPECT_EQ(form->Gen().WaveOutHandle, 0u);
  EXPECT_EQ(form->Gen().BufferLength, 0);

  form->Generator().SetStrobe({});
  EXPECT_EQ(form->Gen().WaveFormat.nChannels, 1);
  testing_support::ClickListRow(form->Combo1, form->Combo1->findText(mono));
  EXPECT_EQ(form->Label1->text(), Str("формат этим устройством поддерживается"));
  Start();
  EXPECT_NE(form->Gen().WaveOutHandle, 0u);
  Stop();

  // Timer 1's pictures keep no time with the tone: no pulse could light them.
  ChooseVirtualDevice();
  ASSERT_TRUE(form->Option6->isChecked());
  form->Generator().SetStrobe({generator::StrobeMode::Instants});
  EXPECT_EQ(form->Generator().SettingsRefusal(),
            Str("Вспышки в моменты снимков невозможны в режиме таймера 1: выберите вспышку в "
                "каждом периоде"));

  // 1 kHz has 48 samples a period at 48 kHz: a 1 ms pulse leaves no dark sample.
  ChooseVirtualDevice();
  form->Generator().SetStrobe({generator::StrobeMode::EveryPeriod, 1});
  form->Text4->setText(QStringLiteral("2000"));
  EXPECT_TRUE(form->Generator().SettingsRefusal().startsWith(Str("Стробоскоп: импульс")));
}

TEST_F(GeneratorControlTest, BufferLongerThanAToneNeedsIsRefusedBeforeTheDeviceOpens) {
  // Rate x denominator beyond 2^31 (the overflow path), then beyond 2^26 samples (1400 at
  // 48 kHz is about 23 minutes), then the 30000 that would have asked for 2 x 2.9 GB.
  const std::pair<const char*, const char*> cases[] = {
      {"134217727", "100"}, {"48000", "1400"}, {"48000", "30000"}};
  size_t refused = 0;
  for (const auto& [rate, denominator] : cases) {
    SCOPED_TRACE(denominator);
    form->Text15->setText(QString::fromLatin1(rate));
    ChooseVirtualDevice();
    form->Text27->setText(QString::fromLatin1(denominator));
    Start();
    ASSERT_EQ(Texts(), std::vector<QString>(++refused, kError));
    ASSERT_EQ(form->Gen().WaveOutHandle, 0u);
    EXPECT_TRUE(form->Gen().Buffer1.empty());
    EXPECT_EQ(form->Label15->text(), QStringLiteral("Label15"));
  }
  // The device was left closed: a buffer that fits starts as usual.
  form->Text27->setText(QStringLiteral("2"));
  Start();
  EXPECT_EQ(boxes.Calls().size(), 3u);
  EXPECT_NE(form->Gen().WaveOutHandle, 0u);
  Stop();
}

TEST_F(GeneratorControlTest, DrawingShowsTheGridTheAxesAndBothBuffers) {
  ChooseVirtualDevice();
  form->Check5->setChecked(true);
  Start();
  Stop();
  const QImage image = form->Picture2->Image();
  const QColor grey(200, 200, 200), axis(1, 0, 0), red(255, 0, 0), blue(0, 0, 255);
  forms::PictureBox& box = *form->Picture2;
  // Vertical grid lines at x = 1, 2, 3 and the axis at x = 0 (x = 4 is the right edge).
  for (int x = 1; x <= 3; ++x) {
    const int column = static_cast<int>(box.ToPixels(x, 0).x());
    EXPECT_EQ(image.pixelColor(column, 2), grey) << "x=" << x;
  }
  EXPECT_EQ(image.pixelColor(0, 2), axis);
  // Horizontal grid lines at every whole y but 0, which is the axis.
  for (int y = -3; y <= 4; ++y) {
    const int row = static_cast<int>(box.ToPixels(0, y).y());
    EXPECT_EQ(image.pixelColor(image.width() - 2, row), y == 0 ? axis : grey) << "y=" << y;
  }
  // Buffer 1 in red from x = 0; buffer 2 the same curve in blue, 0.1 unit further right.
  EXPECT_GT(testing_support::CountPixels(image, red), 50);
  EXPECT_GT(testing_support::CountPixels(image, blue), 50);
  const int shift = static_cast<int>(box.ToPixels(0.1, 0).x());
  int redLeft = image.width(), blueLeft = image.width();
  for (int x = 0; x < image.width(); ++x)
    for (int y = 0; y < image.height(); ++y) {
      if (image.pixelColor(x, y) == red) redLeft = std::min(redLeft, x);
      if (image.pixelColor(x, y) == blue) blueLeft = std::min(blueLeft, x);
    }
  EXPECT_LE(redLeft, 1);
  EXPECT_NEAR(blueLeft, shift, 1);
}
