#include "platform/forms/controls.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QToolTip>
#include <QWheelEvent>

namespace forms {

void CheckBox::paintEvent(QPaintEvent*) {
  QStylePainter painter(this);
  QStyleOptionButton option;
  initStyleOption(&option);
  const QRect indicator = style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, this);
  QStyleOptionButton indicatorOption = option;
  indicatorOption.rect = indicator;
  painter.drawPrimitive(QStyle::PE_IndicatorCheckBox, indicatorOption);
  const QRect textRect = rect().adjusted(indicator.right() + 5, 0, 0, 0);
  painter.drawItemText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap, palette(),
                       isEnabled(), text(), QPalette::WindowText);
}

ComboBox::ComboBox(QWidget* parent) : QComboBox(parent) {
  // The open list reports the row it chose through its container's itemSelected signal, the
  // one source of activated() that is a choice from the list. Connected after the combo box's
  // own handling of it, so the row is current when Click is emitted.
  [[maybe_unused]] const bool connected =
      connect(view()->parentWidget(), SIGNAL(itemSelected(QModelIndex)), this,
              SLOT(RowChosen(QModelIndex)));
  Q_ASSERT(connected);
  setEditable(true);
  // Typing in the edit field must not add rows; only a click on a row has an effect.
  setInsertPolicy(QComboBox::NoInsert);
  // A text set by the program (not typed) would otherwise show scrolled to its end, its
  // start cut off in a narrow field.
  connect(lineEdit(), &QLineEdit::textChanged, this, [this] {
    if (!lineEdit()->isModified()) lineEdit()->setCursorPosition(0);
  });
  // The same text set again changes nothing but the cursor, which goes to the end; outside
  // the operator's editing it goes back to the start.
  connect(lineEdit(), &QLineEdit::cursorPositionChanged, this, [this] {
    if (!lineEdit()->isModified() && !lineEdit()->hasFocus()) lineEdit()->setCursorPosition(0);
  });
}

void ComboBox::RowChosen(const QModelIndex& index) {
  emit Click(index.row());
}

void ComboBox::wheelEvent(QWheelEvent* event) {
  event->ignore();  // to the window beneath, as over any other still control
}

void ComboBox::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
      // Alt+Down opens the list, as F4 does; the rest would step the shown row.
      if (!(event->modifiers() & Qt::AltModifier)) {
        event->accept();
        return;
      }
      break;
    default:
      break;
  }
  QComboBox::keyPressEvent(event);
}

StatusLabel::StatusLabel(QWidget* parent) : QLabel(parent) {
  setWordWrap(false);
}

bool StatusLabel::Fits() const {
  return fontMetrics().horizontalAdvance(text()) <= contentsRect().width();
}

void StatusLabel::paintEvent(QPaintEvent* event) {
  if (Fits()) {
    QLabel::paintEvent(event);
    return;
  }
  QPainter painter(this);
  const QRect room = contentsRect();
  painter.drawText(room, int(alignment()),
                   fontMetrics().elidedText(text(), Qt::ElideRight, room.width()));
}

bool StatusLabel::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip && toolTip().isEmpty()) {
    if (Fits())
      QToolTip::hideText();
    else
      QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), text(), this);
    return true;
  }
  return QLabel::event(event);
}

Shape::Shape(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
}

void Shape::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setPen(QPen(Qt::black, 1));
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

QRect WrappedCaptionRect(const QFont& font, const QString& text, int width) {
  return QFontMetrics(font).boundingRect(QRect(0, 0, width, 10000),
                                         Qt::AlignLeft | Qt::TextWordWrap, text);
}

}  // namespace forms
