#include "tests/support/generator_window.h"

namespace testing_support {
namespace {

template <class Control>
Control* Make(QWidget* parent, const char* name, const char* text, int width, int height) {
  auto* control = new Control(parent);  // owned by its container
  control->setObjectName(QString::fromLatin1(name));
  if constexpr (std::is_base_of_v<forms::ComboBox, Control>) {
    control->setEditText(QString::fromUtf8(text));
  } else if constexpr (std::is_base_of_v<QLabel, Control> ||
                       std::is_base_of_v<QLineEdit, Control> ||
                       std::is_base_of_v<QAbstractButton, Control>) {
    control->setText(QString::fromUtf8(text));
  }
  control->resize(width, height);
  return control;
}

// Option buttons of one group: a frame of their own, the first one checked.
std::pair<QRadioButton*, QRadioButton*> Pair(QWidget* parent, const char* first,
                                             const char* second) {
  auto* frame = new QGroupBox(parent);
  auto* a = Make<QRadioButton>(frame, first, first, 80, 18);
  auto* b = Make<QRadioButton>(frame, second, second, 80, 18);
  a->setChecked(true);
  return {a, b};
}

}  // namespace

GeneratorWindow::GeneratorWindow() {
  QWidget* w = this;
  // The texts the main window starts with.
  Combo1 =
      Make<forms::ComboBox>(w, "Combo1", "                            из этого списка", 290, 21);
  Text15 = Make<QLineEdit>(w, "Text15", "48000", 54, 20);
  Text4 = Make<QLineEdit>(w, "Text4", "2", 30, 18);
  Text27 = Make<QLineEdit>(w, "Text27", "2", 30, 18);
  Text5 = Make<QLineEdit>(w, "Text5", "100", 50, 20);
  Text7 = Make<QLineEdit>(w, "Text7", "2", 30, 18);
  Text22 = Make<QLineEdit>(w, "Text22", "1", 28, 20);
  Text20 = Make<QLineEdit>(w, "Text20", "20", 22, 20);
  Text1 = Make<QLineEdit>(w, "Text1", "0", 58, 20);
  Text8 = Make<QLineEdit>(w, "Text8", "0", 112, 20);
  Text10 = Make<QLineEdit>(w, "Text10", "0", 76, 20);
  Text2 = Make<QLineEdit>(w, "Text2", "Text2", 92, 20);
  Text3 = Make<QLineEdit>(w, "Text3", "Text3", 92, 20);
  std::tie(Option1, Option2) = Pair(w, "Option1", "Option2");
  std::tie(Option3, Option4) = Pair(w, "Option3", "Option4");
  std::tie(Option5, Option6) = Pair(w, "Option5", "Option6");
  Check2 = Make<forms::CheckBox>(w, "Check2", "Check2", 334, 16);
  Check3 = Make<forms::CheckBox>(w, "Check3", "Check3", 134, 50);
  Check5 = Make<forms::CheckBox>(w, "Check5", "Check5", 166, 25);
  Command20 = Make<QPushButton>(w, "Command20", "Command20", 214, 18);
  Command4 = Make<QPushButton>(w, "Command4", "Command4", 146, 18);
  Command3 = Make<QPushButton>(w, "Command3", "Command3", 224, 20);
  Label1 = Make<forms::StatusLabel>(w, "Label1", "Label1", 354, 16);
  Status = new forms::StatusLine(*Label1);  // owned by the label
  Label12 = Make<forms::StatusLabel>(w, "Label12", "Label12", 354, 16);
  Label15 = Make<forms::StatusLabel>(w, "Label15", "Label15", 354, 16);
  Picture2 = Make<forms::PictureBox>(w, "Picture2", "", 332, 69);
  Timer1 = new QTimer(this);
  Timer2 = new QTimer(this);
  Timer2->setInterval(1000);
  Command20->setEnabled(false);  // until an audio device row is chosen

  generator_ = std::make_unique<generator::Generator>(generator::GeneratorControlsOf(*this));
  generator_->Load(this);
}

QMetaObject::Connection OnPictureDue(generator::Generator& generator, QObject* context,
                                     std::function<void(const generator::Instant&)> record) {
  return QObject::connect(
      &generator, &generator::Generator::PictureDue, context,
      [record = std::move(record)](const generator::Instant& instant, generator::Outcome& outcome) {
        outcome.Run([&] { record(instant); });
      });
}

void GeneratorWindow::RecordWith(std::function<void(const generator::Instant&)> record) {
  disconnect(recording_);
  if (record) recording_ = OnPictureDue(*generator_, this, std::move(record));
}

void GeneratorWindow::Exit() {
  UnloadSubsystems();
  unloaded_ = true;
  hide();
}

// The device is released while the window still exists to receive its last notices.
GeneratorWindow::~GeneratorWindow() {
  generator_.reset();
}

}  // namespace testing_support
