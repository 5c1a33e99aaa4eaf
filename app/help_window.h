#pragma once
// The help and about window: the Russian description of the program's operation and the
// maker's contact lines. It deletes itself when closed and is built anew at every opening.

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>

namespace app {

class Form2 : public QWidget {
  Q_OBJECT

 public:
  explicit Form2(QWidget* parent = nullptr);

  void Form_Load();
  void Command1_Click();

  // The text as assembled, with CR LF line breaks.
  const QString& HelpText() const { return help_text_; }

  QPlainTextEdit* Text1;
  QPushButton* Command1;
  QLabel* Label2;
  QLabel* Label1;

 private:
  QString help_text_;
};

// The description exactly as the window shows it, CR LF line breaks included.
QString BuildHelpText();

}  // namespace app
