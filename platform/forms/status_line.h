#pragma once
// The window's status line: one label that the generator, the camera and the recording all
// tell the operator things on. The window that holds the label owns this object, and the
// subsystems write the label only through it, so that what the operator sees there is said
// in one place: each text replaces the one before, in the order the subsystems say them.

#include <QLabel>
#include <QObject>
#include <QString>

namespace forms {

class StatusLine : public QObject {
  Q_OBJECT

 public:
  // `label` belongs to the window; this object is its child there.
  explicit StatusLine(QLabel& label);

  // What the line says now (whoever said it last).
  QString Text() const;
  // The line says `text` in place of what it said.
  void Say(const QString& text);
  // The line is cleared when it says `text` exactly: a later text of another kind stays.
  void ClearIfSaying(const QString& text);
  // The line is cleared when it begins with `prefix`; any other text stays.
  void ClearIfStartsWith(const QString& prefix);

 private:
  QLabel& label_;  // its parent: this object goes with it
};

}  // namespace forms
