#pragma once
// Event plumbing of the window toolkit: letting pending events run, and replacing a window's
// procedure with a handler that sees each of its events first and chains to the one before.

#include <QObject>
#include <functional>

class QEvent;
class QWidget;

namespace forms {

// Lets every pending window event run (timers, clicks, posted notifications).
void DoEvents();

// A window procedure: returns true when it consumed the event. The window's own procedure
// (the toolkit's default handling) is an empty WindowProc, which consumes nothing.
using WindowProc = std::function<bool(QObject* window, QEvent* event)>;

// Installs `proc` as the window's procedure and returns the procedure it replaces.
WindowProc SetWindowProc(QWidget* window, WindowProc proc);

// Calls a previous procedure for an event; an empty one lets the toolkit handle it.
bool CallWindowProc(const WindowProc& previous, QObject* window, QEvent* event);

}  // namespace forms
