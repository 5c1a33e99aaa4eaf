#include "platform/forms/message_box.h"

#include <QAbstractButton>
#include <QMessageBox>

namespace forms {
namespace {

void ShowModal(const QString& text, const QString& title) {
  QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok);
  box.button(QMessageBox::Ok)->setText(QStringLiteral("ОК"));  // no Qt translation is loaded
  box.exec();
}

MessageBoxFunction& Current() {
  static MessageBoxFunction current = ShowModal;
  return current;
}

}  // namespace

void MsgBox(const QString& text, const QString& title) {
  // A copy, so that a handler replacing the function from inside a box stays safe.
  const MessageBoxFunction show = Current();
  show(text, title);
}

MessageBoxFunction SetMessageBoxFunction(MessageBoxFunction replacement) {
  MessageBoxFunction previous = std::move(Current());
  Current() = replacement ? std::move(replacement) : MessageBoxFunction(ShowModal);
  return previous;
}

}  // namespace forms
