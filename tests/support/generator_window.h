#pragma once
// A window with only the controls the generator works with, named and sized as on the main
// window, and the generator on them: the generator's tests run without the application.

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

#include "generator/generator.h"
#include "platform/forms/controls.h"
#include "platform/forms/picture_box.h"
#include "platform/forms/status_line.h"

namespace testing_support {

// Each picture `generator` says is due goes to `record` (living as long as `context`); what
// it throws goes back in the signal's outcome, as the recording's own receiver does it.
QMetaObject::Connection OnPictureDue(generator::Generator& generator, QObject* context,
                                     std::function<void(const generator::Instant&)> record);

class GeneratorWindow : public QWidget {
 public:
  GeneratorWindow();
  ~GeneratorWindow() override;

  generator::Generator& Generator() { return *generator_; }
  const generator::GeneratorState& Gen() const { return generator_->State(); }

  // Each picture due goes to `record`, in place of the recording; what it throws goes back to
  // the generator as a failed recording. An empty one takes nothing.
  void RecordWith(std::function<void(const generator::Instant&)> record);
  // The subsystems' part of the window's exit, and the window hidden.
  void Exit();
  bool Unloaded() const { return unloaded_; }

  forms::ComboBox* Combo1;
  QLineEdit* Text15;
  QLineEdit* Text4;
  QLineEdit* Text27;
  QLineEdit* Text5;
  QLineEdit* Text7;
  QLineEdit* Text22;
  QLineEdit* Text20;
  QLineEdit* Text1;
  QLineEdit* Text8;
  QLineEdit* Text10;
  QLineEdit* Text2;
  QLineEdit* Text3;
  QRadioButton* Option1;
  QRadioButton* Option2;
  QRadioButton* Option3;
  QRadioButton* Option4;
  QRadioButton* Option5;
  QRadioButton* Option6;
  forms::CheckBox* Check2;
  forms::CheckBox* Check3;
  forms::CheckBox* Check5;
  QPushButton* Command20;
  QPushButton* Command4;
  QPushButton* Command3;
  forms::StatusLabel* Label1;
  forms::StatusLabel* Label12;
  forms::StatusLabel* Label15;
  forms::PictureBox* Picture2;
  QTimer* Timer1;
  QTimer* Timer2;
  forms::StatusLine* Status;

 protected:
  // The generator's part of the exit; a window with more subsystems unloads them all.
  virtual void UnloadSubsystems() { generator_->Unload(); }

 private:
  std::unique_ptr<generator::Generator> generator_;
  QMetaObject::Connection recording_;
  bool unloaded_ = false;
};

}  // namespace testing_support
