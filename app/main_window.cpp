#include "app/main_window.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QCoreApplication>

#include "app/camera_calibration.h"
#include "app/help_window.h"
#include "platform/forms/message_box.h"
#include "platform/gst/delay_page.h"
#include "recording/picture_window.h"
#include "recording/wiring.h"

namespace app {
namespace {

template <class Control>
Control* Make(QWidget* parent, const char* name, const QString& text, int x, int y, int width,
              int height) {
  auto* control = new Control(parent);  // owned by its container
  control->setObjectName(QString::fromLatin1(name));
  if constexpr (std::is_base_of_v<QGroupBox, Control>) {
    control->setTitle(text);
  } else if constexpr (std::is_base_of_v<forms::ComboBox, Control>) {
    control->setEditText(text);
  } else if constexpr (std::is_base_of_v<QLabel, Control>) {
    control->setText(text);
    control->setWordWrap(!std::is_base_of_v<forms::StatusLabel, Control>);
    control->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  } else if constexpr (std::is_base_of_v<QLineEdit, Control> ||
                       std::is_base_of_v<QAbstractButton, Control>) {
    control->setText(text);
  }
  control->setGeometry(x, y, width, height);
  return control;
}

QString Str(const char* utf8) {
  return QString::fromUtf8(utf8);
}

}  // namespace

Form1::Form1(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(Str("Strobolux     form1    Запись картинок в эксперименте Майкельсона-Морли "));
  setFixedSize(793, 671);
  CreateControls();
  generator_ = std::make_unique<generator::Generator>(generator::GeneratorControlsOf(*this));
  camera_ = std::make_unique<camera::CameraControl>(camera::CameraControlsOf(*this));
  recorder_ =
      std::make_unique<recording::PictureRecorder>(recording::RecordingControlsOf(*this, *camera_));
  ConnectHandlers();
  Form_Load();
}

// The device is released while the window still exists to receive its last notices; the
// camera graph and its window go while this window, their owner, still exists.
Form1::~Form1() {
  recorder_.reset();
  generator_.reset();
  camera_.reset();
}

void Form1::ConnectHandlers() {
  // What the subsystems tell each other goes up as signals, wired as in the tests' windows.
  recording::WireSubsystems(*generator_, *camera_, *recorder_, *Command24);
  // A calibration asked for in a camera's properties plays the tone: the window runs it.
  connect(&gst::CalibrationRequests::Instance(), &gst::CalibrationRequests::Requested, this,
          &Form1::CalibrateCamera_Click);
  connect(Command5, &QPushButton::clicked, this, &Form1::Command5_Click);
  connect(Command16, &QPushButton::clicked, this, &Form1::Command16_Click);
}

void Form1::CreateControls() {
  QWidget* w = this;
  // Right column, x 656-790.
  Label16 = Make<QLabel>(w, "Label16", Str("Дата"), 656, 5, 40, 16);
  Text2 = Make<QLineEdit>(w, "Text2", Str("Text2"), 698, 2, 92, 20);
  Label17 = Make<QLabel>(w, "Label17", Str("Время"), 656, 27, 40, 16);
  Text3 = Make<QLineEdit>(w, "Text3", Str("Text3"), 698, 24, 92, 20);
  Frame4 = Make<QGroupBox>(w, "Frame4", Str("использовать"), 656, 46, 134, 56);
  Option7 = Make<QRadioButton>(Frame4, "Option7", Str("VideoForWindows"), 6, 16, 124, 18);
  Option8 = Make<QRadioButton>(Frame4, "Option8", Str("DirectShow"), 6, 34, 124, 18);
  Command11 = Make<QPushButton>(w, "Command11", Str("Включить вэбкамеру"), 656, 106, 134, 22);
  Command13 = Make<QPushButton>(w, "Command13", Str("Выключить вэбкамеру"), 656, 130, 134, 22);
  Command12 = Make<QPushButton>(w, "Command12", Str(" формат изображения"), 656, 154, 134, 22);
  Command15 = Make<QPushButton>(w, "Command15", Str("свойства изображения"), 656, 178, 134, 22);
  Command22 = Make<QPushButton>(w, "Command22", Str("частота кадров"), 656, 202, 100, 22);
  Text40 = Make<QLineEdit>(w, "Text40", Str("24"), 758, 202, 32, 22);
  Command2 = Make<QPushButton>(w, "Command2", Str("Задать сжатие видео"), 656, 226, 134, 22);
  Command19 = Make<QPushButton>(w, "Command19", Str("Сделать снимок в"), 656, 252, 134, 22);
  Frame5 = Make<QGroupBox>(w, "Frame5", Str("           формате"), 656, 276, 134, 40);
  Option9 = Make<QRadioButton>(Frame5, "Option9", Str("bmp"), 8, 17, 56, 18);
  Option10 = Make<QRadioButton>(Frame5, "Option10", Str("jpg"), 70, 17, 56, 18);
  Command24 = Make<QPushButton>(w, "Command24", Str("Начать запись видео"), 656, 320, 134, 22);
  Command1 = Make<QPushButton>(w, "Command1", Str("Остановить запись"), 656, 344, 134, 22);
  Label9 = Make<QLabel>(w, "Label9", Str("№ периода"), 656, 373, 74, 16);
  Text13 = Make<QLineEdit>(w, "Text13", Str("0"), 732, 370, 58, 20);
  Label11 = Make<QLabel>(w, "Label11", Str("№ картиноки"), 656, 395, 74, 16);
  Text1 = Make<QLineEdit>(w, "Text1", Str("0"), 732, 392, 58, 20);
  Label5 = Make<QLabel>(w, "Label5", Str("T0"), 656, 417, 20, 16);
  Text8 = Make<QLineEdit>(w, "Text8", Str("0"), 678, 414, 112, 20);
  Label7 = Make<QLabel>(w, "Label7", Str(" T-T0, с"), 656, 439, 56, 16);
  Text10 = Make<QLineEdit>(w, "Text10", Str("0"), 714, 436, 76, 20);
  Label4 = Make<QLabel>(w, "Label4", Str("список найденных видеокамер"), 656, 460, 134, 30);
  Combo2 = Make<forms::ComboBox>(w, "Combo2", Str("Combo2"), 656, 491, 134, 22);
  Check3 = Make<forms::CheckBox>(w, "Check3", Str("при записи картинок показывать форму 6"), 656,
                                 518, 134, 50);
  Command5 = Make<QPushButton>(w, "Command5", Str("Описание"), 656, 576, 66, 22);
  Command16 = Make<QPushButton>(w, "Command16", Str("Выход"), 724, 576, 66, 22);

  // Bottom panel, y 480-665, x 8-530; Picture2 reaches into the right column.
  Label10 = Make<QLabel>(w, "Label10", Str("выберете аудиоустройство для генератора звука"), 8, 486,
                         290, 16);
  Combo1 = Make<forms::ComboBox>(w, "Combo1", Str("                            из этого списка"), 8,
                                 503, 290, 21);
  // The status lines reach right to the right column, over the free space below the preview,
  // so that the longest status text reads whole on one line.
  Label1 = Make<forms::StatusLabel>(w, "Label1", Str("Label1"), 302, 486, 354, 16);
  Status = new forms::StatusLine(*Label1);  // owned by the label
  Label12 = Make<forms::StatusLabel>(w, "Label12", Str("Label12"), 302, 503, 354, 16);
  Label15 = Make<forms::StatusLabel>(w, "Label15", Str("Label15"), 302, 520, 354, 16);
  Frame1 = Make<QGroupBox>(w, "Frame1", Str("вид сигнала "), 8, 527, 290, 40);
  Option1 = Make<QRadioButton>(Frame1, "Option1", Str("синусоида "), 6, 17, 84, 18);
  Option2 = Make<QRadioButton>(Frame1, "Option2", Str("треугольный"), 90, 17, 94, 18);
  Frame2 = Make<QGroupBox>(Frame1, "Frame2", Str("фаза"), 188, 2, 98, 36);
  Option3 = Make<QRadioButton>(Frame2, "Option3", Str("0"), 6, 16, 36, 18);
  Option4 = Make<QRadioButton>(Frame2, "Option4", Str("270"), 46, 16, 48, 18);
  Label3 = Make<QLabel>(w, "Label3", Str("Задать амплитуду сигнала, %"), 302, 541, 176, 16);
  Text5 = Make<QLineEdit>(w, "Text5", Str("100"), 480, 538, 50, 20);
  Frame3 = Make<QGroupBox>(w, "Frame3", Str("период записи картинорк по"), 8, 569, 200, 38);
  Option5 = Make<QRadioButton>(Frame3, "Option5", Str("GetTickCount"), 6, 17, 100, 18);
  Option6 = Make<QRadioButton>(Frame3, "Option6", Str("Таймер 1"), 110, 17, 86, 18);
  Label13 = Make<QLabel>(w, "Label13",
                         Str("задать частоту дискретизации 11025 - 22050 - 44100 - 48000, Гц ="),
                         214, 568, 258, 31);
  Text15 = Make<QLineEdit>(w, "Text15", Str("48000"), 476, 572, 54, 20);
  Command3 = Make<QPushButton>(w, "Command3", Str("Задать интервал таймеру генератора, с"), 8, 610,
                               224, 20);
  Text20 = Make<QLineEdit>(w, "Text20", Str("20"), 234, 610, 22, 20);
  Check5 = Make<forms::CheckBox>(w, "Check5", Str("+ рисовать форму сигнала с MT, с/см="), 258, 603,
                                 166, 25);
  Text22 = Make<QLineEdit>(w, "Text22", Str("1"), 426, 606, 28, 20);
  Picture2 = Make<forms::PictureBox>(w, "Picture2", QString(), 456, 600, 332, 69);
  Check2 = Make<forms::CheckBox>(
      w, "Check2", Str("делать запись картинок через NC0 периодов генератора="), 8, 630, 334, 16);
  Text7 = Make<QLineEdit>(w, "Text7", Str("2"), 344, 629, 30, 18);
  Command20 =
      Make<QPushButton>(w, "Command20", Str("Включить генератор с частотой, Гц"), 8, 647, 214, 18);
  Text4 = Make<QLineEdit>(w, "Text4", Str("2"), 224, 647, 30, 18);
  Label8 = Make<QLabel>(w, "Label8", Str(" /"), 256, 649, 14, 14);
  Text27 = Make<QLineEdit>(w, "Text27", Str("2"), 270, 647, 30, 18);
  Command4 = Make<QPushButton>(w, "Command4", Str("Выключить генератор"), 304, 647, 146, 18);

  // Camera preview area; the capture window of a camera becomes its child.
  Picture1 = Make<forms::PictureBox>(w, "Picture1", QString(), 8, 0, 644, 484);
  Shape1 = Make<forms::Shape>(Picture1, "Shape1", QString(), 8, 0, 393, 281);
  Label2 = Make<QLabel>(Picture1, "Label2", Str("Label2"), 640, 8, 1, 17);
  Label20 = Make<QLabel>(Picture1, "Label20", Str("Label20"), 640, 120, 1, 17);
  Label24 = Make<QLabel>(Picture1, "Label24", Str("Label24"), 640, 240, 1, 17);

  Command20->setEnabled(false);  // until an audio device row is chosen

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer2 = new QTimer(this);
  Timer2->setObjectName(QStringLiteral("Timer2"));
  Timer2->setInterval(1000);

  // Qt groups a frame's option buttons with those of any frame inside it, so that the checked
  // phase would let the checked shape be clicked off. Each pair is a group of its own.
  for (auto [first, second] : {std::pair{Option1, Option2}, std::pair{Option3, Option4}}) {
    auto* pair = new QButtonGroup(this);
    pair->addButton(first);
    pair->addButton(second);
  }

  Option7->setChecked(true);
  Option9->setChecked(true);
  Option1->setChecked(true);
  Option3->setChecked(true);
  Option5->setChecked(true);
}

void Form1::CalibrateCamera_Click(int seconds) {
  if (unloaded_) return;
  const QString title = QStringLiteral("Strobolux");
  if (generator_->RunActive()) {
    forms::MsgBox(QStringLiteral("Задержку камеры можно измерить, когда генератор выключен."),
                  title);
    return;
  }
  const CalibrationOutcome outcome = CalibrateCamera(*this, seconds);
  if (!unloaded_) forms::MsgBox(outcome.message, title);
}

void Form1::Form_Load() {
  Picture1->resize(640, 480);
  Picture1->Refresh();
  generator_->Load(this);
  recording::LoadSubsystems(*camera_, *recorder_);
}

void Form1::Command5_Click() {
  if (!form2_) {
    form2_ = new Form2();  // deletes itself when closed
  }
  form2_->show();
  form2_->raise();
  form2_->activateWindow();
}

void Form1::Command16_Click() {
  recording::UnloadSubsystems(*generator_, *camera_);
  // Unload: hide now, destroy after the event loop has returned, so that a handler still
  // on the stack (the period clock) never touches a deleted window.
  unloaded_ = true;
  hide();
  if (form2_) form2_->close();
  PictureWindow().hide();
  QCoreApplication::exit(0);
}

void Form1::closeEvent(QCloseEvent* event) {
  if (!unloaded_) Command16_Click();
  event->accept();
}

}  // namespace app
