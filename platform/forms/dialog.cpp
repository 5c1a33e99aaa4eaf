#include "platform/forms/dialog.h"

namespace forms {
namespace {

int RunModal(QDialog& dialog) {
  return dialog.exec();
}

DialogFunction& Current() {
  static DialogFunction current = RunModal;
  return current;
}

}  // namespace

int ShowDialog(QDialog& dialog) {
  const DialogFunction show = Current();  // a copy: the dialog may replace the function
  return show(dialog);
}

DialogFunction SetDialogFunction(DialogFunction replacement) {
  DialogFunction previous = std::move(Current());
  Current() = replacement ? std::move(replacement) : DialogFunction(RunModal);
  return previous;
}

}  // namespace forms
