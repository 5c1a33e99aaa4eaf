#pragma once
// Controls whose behaviour the toolkit's own widgets lack: check boxes and option buttons
// whose caption wraps onto further lines like the original's, and the outline shape.

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QRadioButton>

namespace forms {

// Paints its caption word-wrapped beside the indicator, so a narrow control shows it whole.
class CheckBox : public QCheckBox {
  Q_OBJECT
 public:
  using QCheckBox::QCheckBox;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
};

// A drop-down list with an edit field whose Click comes only from choosing a row of the open
// list (with the mouse, or with the arrow keys and Enter). Typing a row's text and pressing
// Enter, or leaving the field, emits activated() but chooses nothing; the wheel and the arrow
// keys over the closed list change nothing, so the row shown is always the one chosen. Texts
// the program puts in the field show from their first character.
class ComboBox : public QComboBox {
  Q_OBJECT
 public:
  explicit ComboBox(QWidget* parent = nullptr);

 signals:
  void Click(int row);

 protected:
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private slots:
  void RowChosen(const QModelIndex& index);
};

// A status line: its text stays on one line. One longer than the label is cut short with an
// ellipsis and shown whole in the label's tooltip, never cut off unmarked.
class StatusLabel : public QLabel {
  Q_OBJECT
 public:
  explicit StatusLabel(QWidget* parent = nullptr);
  // Whether the whole text fits in the label.
  bool Fits() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;
};

// A rectangle outline that lets clicks through to what lies below it.
class Shape : public QWidget {
  Q_OBJECT
 public:
  explicit Shape(QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// The rectangle a caption needs inside `width` pixels when it wraps at blanks.
QRect WrappedCaptionRect(const QFont& font, const QString& text, int width);

}  // namespace forms
