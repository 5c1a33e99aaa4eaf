#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolTip>

#include "app/help_window.h"
#include "app/main_window.h"
#include "platform/forms/dialog.h"
#include "platform/gst/virtual_devices.h"
#include "platform/wave/wave_out.h"
#include "recording/frame_rule.h"
#include "recording/picture_window.h"
#include "recording/strobe_dialog.h"
#include "tests/support/camera_support.h"
#include "tests/support/main_window_fixture.h"
#include "tests/support/state_access.h"
#include "tests/support/test_support.h"

using app::Form1;

namespace {

enum class Kind { Label, Text, Frame, Option, Check, Button, Combo, Picture, Shape };

struct ControlRow {
  const char* name;
  Kind kind;
  const char* text;    // caption or default text, exactly
  const char* parent;  // containing frame; "" for the window itself
  bool enabled;
  bool selected;  // option buttons and check boxes
};

// The control table of the main window as the operator finds it after start-up.
const ControlRow kControls[] = {
    {"Label16", Kind::Label, "Дата", "", true, false},
    {"Text2", Kind::Text, "Text2", "", true, false},
    {"Label17", Kind::Label, "Время", "", true, false},
    {"Text3", Kind::Text, "Text3", "", true, false},
    {"Frame4", Kind::Frame, "использовать", "", true, false},
    {"Option7", Kind::Option, "VideoForWindows", "Frame4", true, true},
    {"Option8", Kind::Option, "DirectShow", "Frame4", true, false},
    {"Command11", Kind::Button, "Включить вэбкамеру", "", true, false},
    {"Command13", Kind::Button, "Выключить вэбкамеру", "", true, false},
    {"Command12", Kind::Button, " формат изображения", "", true, false},
    {"Command15", Kind::Button, "свойства изображения", "", true, false},
    {"Command22", Kind::Button, "частота кадров", "", true, false},
    {"Text40", Kind::Text, "24", "", true, false},
    {"Command2", Kind::Button, "Задать сжатие видео", "", true, false},
    {"Command19", Kind::Button, "Сделать снимок в", "", true, false},
    {"Frame5", Kind::Frame, "           формате", "", true, false},
    {"Option9", Kind::Option, "bmp", "Frame5", true, true},
    {"Option10", Kind::Option, "jpg", "Frame5", false, false},
    {"Command24", Kind::Button, "Начать запись видео", "", true, false},
    {"Command1", Kind::Button, "Остановить запись", "", true, false},
    {"Label9", Kind::Label, "№ периода", "", true, false},
    {"Text13", Kind::Text, "0", "", true, false},
    {"Label11", Kind::Label, "№ картиноки", "", true, false},
    {"Text1", Kind::Text, "0", "", true, false},
    {"Label5", Kind::Label, "T0", "", true, false},
    {"Text8", Kind::Text, "0", "", true, false},
    {"Label7", Kind::Label, " T-T0, с", "", true, false},
    {"Text10", Kind::Text, "0", "", true, false},
    {"Label4", Kind::Label, "список найденных видеокамер", "", true, false},
    {"Combo2", Kind::Combo, "Combo2", "", false, false},
    {"Check3", Kind::Check, "при записи картинок показывать форму 6", "", true, false},
    {"Command5", Kind::Button, "Описание", "", true, false},
    {"Command16", Kind::Button, "Выход", "", true, false},
    {"Label10", Kind::Label, "выберете аудиоустройство для генератора звука", "", true, false},
    {"Combo1", Kind::Combo, "                            из этого списка", "", true, false},
    {"Label1", Kind::Label, "Label1", "", true, false},
    {"Label12", Kind::Label, "Label12", "", true, false},
    {"Label15", Kind::Label, "Label15", "", true, false},
    {"Frame1", Kind::Frame, "вид сигнала ", "", true, false},
    {"Option1", Kind::Option, "синусоида ", "Frame1", true, true},
    {"Option2", Kind::Option, "треугольный", "Frame1", true, false},
    {"Frame2", Kind::Frame, "фаза", "Frame1", true, false},
    {"Option3", Kind::Option, "0", "Frame2", true, true},
    {"Option4", Kind::Option, "270", "Frame2", true, false},
    {"Label3", Kind::Label, "Задать амплитуду сигнала, %", "", true, false},
    {"Text5", Kind::Text, "100", "", true, false},
    {"Frame3", Kind::Frame, "период записи картинорк по", "", true, false},
    {"Option5", Kind::Option, "GetTickCount", "Frame3", true, true},
    {"Option6", Kind::Option, "Таймер 1", "Frame3", true, false},
    {"Command3", Kind::Button, "Задать интервал таймеру генератора, с", "", false, false},
    {"Text20", Kind::Text, "20", "", true, false},
    {"Label13", Kind::Label, "задать частоту дискретизации 11025 - 22050 - 44100 - 48000, Гц =", "",
     true, false},
    {"Text15", Kind::Text, "48000", "", true, false},
    {"Check5", Kind::Check, "+ рисовать форму сигнала с MT, с/см=", "", true, false},
    {"Text22", Kind::Text, "1", "", true, false},
    {"Picture2", Kind::Picture, "", "", true, false},
    {"Check2", Kind::Check, "делать запись картинок через NC0 периодов генератора=", "", true,
     false},
    {"Text7", Kind::Text, "2", "", true, false},
    {"Command20", Kind::Button, "Включить генератор с частотой, Гц", "", false, false},
    {"Text4", Kind::Text, "2", "", true, false},
    {"Label8", Kind::Label, " /", "", true, false},
    {"Text27", Kind::Text, "2", "", true, false},
    {"Command4", Kind::Button, "Выключить генератор", "", true, false},
    {"Picture1", Kind::Picture, "", "", true, false},
    {"Shape1", Kind::Shape, "", "Picture1", true, false},
    {"Label2", Kind::Label, "Label2", "Picture1", true, false},
    {"Label20", Kind::Label, "Label20", "Picture1", true, false},
    {"Label24", Kind::Label, "Label24", "Picture1", true, false},
};

QString TextOf(QWidget* control) {
  if (auto* label = qobject_cast<QLabel*>(control)) return label->text();
  if (auto* edit = qobject_cast<QLineEdit*>(control)) return edit->text();
  if (auto* frame = qobject_cast<QGroupBox*>(control)) return frame->title();
  if (auto* button = qobject_cast<QAbstractButton*>(control)) return button->text();
  if (auto* combo = qobject_cast<QComboBox*>(control)) return combo->currentText();
  return {};
}

bool IsKind(QWidget* control, Kind kind) {
  switch (kind) {
    case Kind::Label:
      return qobject_cast<QLabel*>(control);
    case Kind::Text:
      return qobject_cast<QLineEdit*>(control);
    case Kind::Frame:
      return qobject_cast<QGroupBox*>(control);
    case Kind::Option:
      return qobject_cast<QRadioButton*>(control);
    case Kind::Check:
      return qobject_cast<QCheckBox*>(control);
    case Kind::Button:
      return qobject_cast<QPushButton*>(control);
    case Kind::Combo:
      return qobject_cast<QComboBox*>(control) && static_cast<QComboBox*>(control)->isEditable();
    case Kind::Picture:
      return qobject_cast<forms::PictureBox*>(control);
    case Kind::Shape:
      return qobject_cast<forms::Shape*>(control);
  }
  return false;
}

// Whether the caption shows whole inside the control's rectangle.
bool CaptionFits(QWidget* control, Kind kind) {
  const QString text = TextOf(control);
  const QFontMetrics metrics(control->font());
  const int width = control->width();
  const int height = control->height();
  const int advance = metrics.horizontalAdvance(text);
  switch (kind) {
    case Kind::Label:
      return forms::WrappedCaptionRect(control->font(), text, width).height() <= height;
    case Kind::Check:
      return forms::WrappedCaptionRect(control->font(), text, width - 20).height() <= height;
    case Kind::Text:
      return advance + 6 <= width;
    case Kind::Frame:
      return advance + 12 <= width;
    case Kind::Option:
      return advance + 22 <= width && metrics.height() <= height;
    case Kind::Button:
      return advance + 8 <= width && metrics.height() + 4 <= height;
    case Kind::Combo:
      return advance + 24 <= width;
    default:
      return true;
  }
}

class MainWindowTest : public ::testing::Test {
 protected:
  void TearDown() override { testing_support::FlushDeferredDeletes(); }
  testing_support::MessageBoxRecorder boxes;
};

}  // namespace

TEST_F(MainWindowTest, ControlTableAfterStartUp) {
  Form1 form;
  EXPECT_EQ(form.windowTitle(),
            QString::fromUtf8(
                "Strobolux     form1    Запись картинок в эксперименте Майкельсона-Морли "));
  EXPECT_EQ(form.size(), QSize(793, 671));
  const QRect client(0, 0, 793, 671);

  for (const ControlRow& row : kControls) {
    SCOPED_TRACE(row.name);
    auto* control = form.findChild<QWidget*>(QString::fromLatin1(row.name));
    ASSERT_NE(control, nullptr);
    EXPECT_TRUE(IsKind(control, row.kind));
    EXPECT_EQ(TextOf(control), QString::fromUtf8(row.text));
    const QString parent =
        control->parentWidget() == &form ? QString() : control->parentWidget()->objectName();
    EXPECT_EQ(parent, QString::fromLatin1(row.parent));
    EXPECT_EQ(control->isEnabled(), row.enabled);
    EXPECT_FALSE(control->isHidden());
    if (auto* button = qobject_cast<QAbstractButton*>(control);
        button && (row.kind == Kind::Option || row.kind == Kind::Check)) {
      EXPECT_EQ(button->isChecked(), row.selected);
    }
    const QRect onWindow(control->mapTo(&form, QPoint(0, 0)), control->size());
    EXPECT_TRUE(client.contains(onWindow)) << onWindow.x() << "," << onWindow.y();
    if (control->width() > 1) {
      EXPECT_TRUE(CaptionFits(control, row.kind))
          << "advance " << QFontMetrics(control->font()).horizontalAdvance(TextOf(control))
          << " in " << control->width() << "x" << control->height() << ", wrapped height "
          << forms::WrappedCaptionRect(control->font(), TextOf(control), control->width() - 20)
                 .height();
    }
  }
}

TEST_F(MainWindowTest, NoTwoControlsOfOneContainerOverlap) {
  Form1 form;
  std::map<QWidget*, std::vector<QWidget*>> byContainer;
  for (const ControlRow& row : kControls) {
    auto* control = form.findChild<QWidget*>(QString::fromLatin1(row.name));
    byContainer[control->parentWidget()].push_back(control);
  }
  for (const auto& [container, controls] : byContainer) {
    for (size_t i = 0; i < controls.size(); ++i)
      for (size_t j = i + 1; j < controls.size(); ++j)
        EXPECT_FALSE(controls[i]->geometry().intersects(controls[j]->geometry()))
            << controls[i]->objectName().toStdString() << " overlaps "
            << controls[j]->objectName().toStdString();
  }
  // The preview area reaches down to the bottom panel, which starts below it.
  EXPECT_EQ(form.Picture1->geometry(), QRect(8, 0, 640, 480));
  EXPECT_EQ(form.Picture2->geometry(), QRect(456, 600, 332, 69));
  EXPECT_EQ(form.Command5->y(), 576);
  EXPECT_EQ(form.Command16->y(), 576);
}

TEST_F(MainWindowTest, LoadingSetsPanelsTimersAndFields) {
  Form1 form;
  EXPECT_EQ(form.Picture1->size(), QSize(640, 480));
  recording::Form6& form6 = form.PictureWindow();
  EXPECT_FALSE(form6.isVisible());
  EXPECT_EQ(form6.windowTitle(), QStringLiteral("Strobolux   Form6"));
  EXPECT_EQ(form6.Picture2->size(), QSize(640, 480));
  EXPECT_DOUBLE_EQ(form6.Picture1->ScaleLeft(), 0);
  EXPECT_DOUBLE_EQ(form6.Picture1->ScaleTop(), 3);
  EXPECT_DOUBLE_EQ(form6.Picture1->ScaleWidth(), 10);
  EXPECT_DOUBLE_EQ(form6.Picture1->ScaleHeight(), -3);
  // The text panel's image is the stamp itself, inside its two-pixel frame.
  EXPECT_EQ(form6.Picture1->Image().size(), recording::kStampRegion.size());
  EXPECT_EQ(form6.Picture1->geometry(), QRect(0, 0, 204, 54));
  EXPECT_EQ(form6.Picture2->pos(), QPoint(0, 56));

  EXPECT_FALSE(form.Timer1->isActive());
  EXPECT_TRUE(form.Timer2->isActive());
  EXPECT_EQ(form.Timer2->interval(), 1000);
  EXPECT_EQ(form.CameraOn(), 0);
  EXPECT_EQ(form.Gen().PictureNumber, 0);
  EXPECT_EQ(form.Gen().StopRequested, 0);
  // Options are exclusive within their own frame only; the phase frame lies inside the shape
  // frame, and a click on a checked button keeps it checked.
  form.Option4->click();
  EXPECT_TRUE(form.Option4->isChecked());
  EXPECT_FALSE(form.Option3->isChecked());
  EXPECT_TRUE(form.Option1->isChecked());
  form.show();
  for (QRadioButton* option : {form.Option1, form.Option4, form.Option2, form.Option2}) {
    QTest::mouseClick(option, Qt::LeftButton, {}, QPoint(6, 9));
    EXPECT_TRUE(option->isChecked()) << option->objectName().toStdString();
  }
  EXPECT_FALSE(form.Option1->isChecked());
  EXPECT_TRUE(form.Option4->isChecked());
  EXPECT_FALSE(form.Option3->isChecked());
  EXPECT_TRUE(boxes.Calls().empty());
}

TEST_F(MainWindowTest, DescriptionButtonShowsOneHelpWindow) {
  Form1 form;
  form.show();
  QTest::mouseClick(form.Command5, Qt::LeftButton);
  app::Form2* first = form.HelpWindow();
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(first->isVisible());
  QTest::mouseClick(form.Command5, Qt::LeftButton);
  EXPECT_EQ(form.HelpWindow(), first);
  int helpWindows = 0;
  for (QWidget* window : QApplication::topLevelWidgets())
    helpWindows += qobject_cast<app::Form2*>(window) != nullptr && window->isVisible();
  EXPECT_EQ(helpWindows, 1);
  EXPECT_TRUE(form.isEnabled());  // modeless: the main window stays usable
}

TEST_F(MainWindowTest, ExitRightAfterStartUpUnloadsEveryWindow) {
  Form1 form;
  form.show();
  form.Command5_Click();
  QTest::mouseClick(form.Command16, Qt::LeftButton);
  testing_support::FlushDeferredDeletes();
  EXPECT_TRUE(form.Unloaded());
  EXPECT_EQ(form.Gen().StopRequested, 1);
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(form.HelpWindow(), nullptr);
  EXPECT_FALSE(form.PictureWindow().isVisible());
  EXPECT_TRUE(boxes.Calls().empty());
}

TEST_F(MainWindowTest, ExitWithTheGraphOptionButNoVideoWindowSkipsTheCameraShutdown) {
  testing_support::VirtualCameras cameras;
  Form1 form;
  QTest::mouseClick(form.Command11, Qt::LeftButton);  // a capture-window camera on
  ASSERT_EQ(form.CameraOn(), 1);
  form.Option8->click();  // the other back end, with no graph chosen
  testing_support::WritableState(form.Camera()).LastCapResult = 77;
  form.PictureWindow().show();
  form.Command16_Click();
  EXPECT_TRUE(form.Unloaded());
  EXPECT_FALSE(form.PictureWindow().isVisible());
  EXPECT_EQ(form.CameraState().LastCapResult, 77);  // no disconnect went to the capture window
  EXPECT_TRUE(boxes.Calls().empty());
}

TEST_F(MainWindowTest, TitleBarCloseRunsTheExitSequence) {
  Form1 form;
  form.show();
  form.PictureWindow().show();
  EXPECT_TRUE(form.close());
  EXPECT_TRUE(form.Unloaded());
  EXPECT_EQ(form.Gen().StopRequested, 1);
  EXPECT_FALSE(form.PictureWindow().isVisible());
}

// Every text the program writes into its three status lines, with the camera texts still to
// come; a reason where one is added is a real GStreamer message of the kind.
const char* const kStatusTexts[] = {
    "формат этим устройством поддерживается",
    "формат этим устройством не поддерживается",
    "устройство открыто",
    "устройство закрыто",
    "звуковой поток запущен",
    " Snapped and saved.  Previewing camera",
    " Previewing camera",
    " Ready for camera selection",
    " No cameras found!",
    " Couldn't find capture pin!",
    " Camera error: Device '/dev/video0' is busy",
    " Sound error: Failed to connect: Connection refused",
    " Video capture failed: No space left on the resource.",
    " Video capture failed: не записан индекс видеофайла",
    " Snap failed.  Error: CreateDIBSection error 0x00000057 (87)",
};

TEST_F(MainWindowTest, StatusLinesShowEveryTextWholeOnOneLineOverFreeSpace) {
  Form1 form;
  const QRect client(0, 0, 793, 671);
  for (forms::StatusLabel* label : {form.Label1, form.Label12, form.Label15}) {
    SCOPED_TRACE(label->objectName().toStdString());
    EXPECT_TRUE(client.contains(label->geometry()));
    EXPECT_FALSE(label->wordWrap());
    // No other control lies in its room, whatever the text.
    for (QWidget* other : form.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      if (other == label) continue;
      EXPECT_FALSE(label->geometry().intersects(other->geometry()))
          << other->objectName().toStdString();
    }
    const QFontMetrics metrics(label->font());
    for (const char* text : kStatusTexts) {
      label->setText(QString::fromUtf8(text));
      EXPECT_TRUE(label->Fits()) << text;
      EXPECT_LE(metrics.horizontalAdvance(label->text()), label->contentsRect().width()) << text;
      EXPECT_LE(metrics.height(), label->contentsRect().height()) << text;
    }
  }
}

TEST_F(MainWindowTest, StatusTextTooLongForItsLineIsElidedAndWholeInTheTooltip) {
  Form1 form;
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  const QString text = QString::fromUtf8(
      " Video capture failed: Could not open file \"/home/operator/Video/12.03.2026 "
      "14-05-09.avi\" for writing.");
  form.Label1->setText(text);
  ASSERT_FALSE(form.Label1->Fits());
  // The line ends in an ellipsis drawn inside the label, its first words as usual.
  const QImage drawn = form.Label1->grab().toImage().convertToFormat(QImage::Format_RGB32);
  QLabel plain;
  plain.setFont(form.Label1->font());
  plain.setAlignment(form.Label1->alignment());
  plain.setText(QFontMetrics(plain.font())
                    .elidedText(text, Qt::ElideRight, form.Label1->contentsRect().width()));
  plain.resize(form.Label1->size());
  EXPECT_EQ(drawn, plain.grab().toImage().convertToFormat(QImage::Format_RGB32));
  QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), form.Label1->mapToGlobal(QPoint(5, 5)));
  QCoreApplication::sendEvent(form.Label1, &help);
  EXPECT_EQ(QToolTip::text(), text);
}

// One device monitor runs for the program's life: listings and switch-ons are answered from
// what it knows, and devices registered later reach it as hot-plugged hardware would.
TEST_F(MainWindowTest, ListingsAreAnsweredByTheRunningMonitorWithoutProbing) {
  QTemporaryDir dir;
  gst::ClearVirtualSoundDevices();
  gst::RegisterVirtualSoundDevice(QString::fromUtf8("Выход А"), dir.filePath("a.wav"));
  const int devices = static_cast<int>(wave::waveOutGetNumDevs());
  const int start = gst::VirtualDeviceProbes();
  {
    Form1 form;
    EXPECT_EQ(form.Combo1->count(), devices + 1);  // the default output first
    for (int i = 0; i < 3; ++i) {
      QTest::mouseClick(form.Command11, Qt::LeftButton);
      QTest::mouseClick(form.Command13, Qt::LeftButton);
    }
    gst::RegisterVirtualSoundDevice(QString::fromUtf8("Выход Б"), dir.filePath("b.wav"));
    EXPECT_EQ(static_cast<int>(wave::waveOutGetNumDevs()), devices + 1);
    EXPECT_EQ(gst::VirtualDeviceProbes(), start);
  }
  gst::ClearVirtualSoundDevices();
  EXPECT_EQ(static_cast<int>(wave::waveOutGetNumDevs()), devices - 1);
}

// The picture window's strobe dialog: what the operator sets is kept, the generator plays it
// from its next start, a window opened later starts with it; a cancel changes nothing.
TEST_F(MainWindowTest, TheStrobeDialogKeepsItsChoiceAndTheToneFollowsIt) {
  const auto answer = [](bool accept) {
    return forms::SetDialogFunction([accept](QDialog& dialog) {
      auto& strobe = dynamic_cast<recording::StrobeDialog&>(dialog);
      if (accept) {
        EXPECT_TRUE(strobe.StrobeOff->isChecked());
        EXPECT_FALSE(strobe.Width->isEnabled());
        strobe.StrobeInstants->click();
        EXPECT_TRUE(strobe.Width->isEnabled());
        strobe.Width->setValue(2.5);
        strobe.Level->setValue(40);
        strobe.ByPhase->click();
        return int(QDialog::Accepted);
      }
      EXPECT_TRUE(strobe.StrobeInstants->isChecked());
      EXPECT_TRUE(strobe.ByPhase->isChecked());
      strobe.StrobeOff->click();
      return int(QDialog::Rejected);
    });
  };
  {
    Form1 form;
    EXPECT_EQ(form.Generator().Strobe().mode, generator::StrobeMode::Off);
    forms::DialogFunction previous = answer(true);
    form.Recorder().PictureWindow().StrobeAndFrame->trigger();
    forms::SetDialogFunction(previous);
    const generator::StrobeSettings kept = recording::StrobeChosen();
    EXPECT_EQ(kept.mode, generator::StrobeMode::Instants);
    EXPECT_DOUBLE_EQ(kept.widthMs, 2.5);
    EXPECT_DOUBLE_EQ(kept.level, 0.4);
    EXPECT_EQ(recording::FrameChoiceChosen(), recording::FrameChoice::Phase);
    EXPECT_EQ(form.Generator().Strobe().mode, generator::StrobeMode::Instants);
    previous = answer(false);
    form.Recorder().PictureWindow().StrobeAndFrame->trigger();
    forms::SetDialogFunction(previous);
    EXPECT_EQ(form.Generator().Strobe().mode, generator::StrobeMode::Instants);
    EXPECT_EQ(recording::StrobeChosen().mode, generator::StrobeMode::Instants);
  }
  Form1 again;
  EXPECT_EQ(again.Generator().Strobe().mode, generator::StrobeMode::Instants);
  EXPECT_DOUBLE_EQ(again.Generator().Strobe().widthMs, 2.5);
}

TEST_F(MainWindowTest, DateAndTimeBoxesShowTheirNamesUntilTheFirstTick) {
  Form1 form;
  EXPECT_EQ(form.Text2->text(), QStringLiteral("Text2"));
  EXPECT_EQ(form.Text3->text(), QStringLiteral("Text3"));
}

// The exit clicked while the period clock runs (2/2 Hz, NC0 = 2: an instant a second, real
// time): the clock takes the click at its next instant and returns at the end of that pass;
// the tone has stopped, the windows are hidden and stay until the event loop has returned.
class MainWindowClockTest : public testing_support::MainWindowFixture {};

TEST_F(MainWindowClockTest, ExitDuringTheClockEndsItAtTheNextInstantAndUnloads) {
  ChooseVirtualDevice();
  form->Option5->setChecked(true);
  form->show();
  QTimer::singleShot(300, form->Command16, &QPushButton::click);
  QElapsedTimer elapsed;
  elapsed.start();
  form->Generator().Command20_Click();  // returns when the clock has ended
  EXPECT_LT(elapsed.elapsed(), 3000);
  EXPECT_TRUE(form->Unloaded());
  EXPECT_FALSE(form->isVisible());
  EXPECT_FALSE(form->PictureWindow().isVisible());
  EXPECT_EQ(form->Gen().WaveOutHandle, 0u);
  EXPECT_EQ(form->Gen().StopRequested, 1);
  EXPECT_TRUE(boxes.Calls().empty());
}
