#pragma once
// The one message box of the program: text, title and an OK button. Tests replace the
// function and record what would have been shown.

#include <QString>
#include <functional>

namespace forms {

using MessageBoxFunction = std::function<void(const QString& text, const QString& title)>;

void MsgBox(const QString& text, const QString& title);

// Installs a replacement and returns the one it replaces; an empty function restores the
// real message box.
MessageBoxFunction SetMessageBoxFunction(MessageBoxFunction replacement);

}  // namespace forms
