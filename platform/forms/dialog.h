#pragma once
// The one way a modal dialog is shown: it returns when the operator has closed it, with
// QDialog::Accepted for OK. Tests replace the function and answer the dialog themselves.

#include <QDialog>
#include <functional>

namespace forms {

using DialogFunction = std::function<int(QDialog& dialog)>;

int ShowDialog(QDialog& dialog);

// Installs a replacement and returns the one it replaces; an empty function restores the
// real modal loop.
DialogFunction SetDialogFunction(DialogFunction replacement);

}  // namespace forms
