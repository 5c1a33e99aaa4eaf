#pragma once
// The picture controls the operator set, remembered per camera (CameraIdentity) in the user's
// settings and applied again whenever that camera opens.

#include <QString>
#include <QStringList>

namespace gst {

class CameraControls;

// What applying a camera's stored controls left out.
struct AppliedControls {
  QStringList skipped;      // the controls whose stored value was not applied, by name
  bool unreadable = false;  // the settings file could not be read: nothing was applied
  // What the status line says of it ("не применены: Gain"); empty when nothing was left out.
  QString Notice() const;
};

// Remembers one control's value (`key`: ControlKey of its name) for the camera.
void StoreControl(const QString& identity, const QString& key, int value);
// Forgets every value stored for the camera.
void ForgetControls(const QString& identity);
// Sets the values stored for the camera: automatic modes (menus and switches) first, as a
// camera refuses a value its automatic mode holds, then the plain values. A value the camera
// refuses, one that is no number and one of a control it no longer has are left out, traced
// under the camera's category; a value held by an automatic mode the operator chose is left
// to it, quietly.
AppliedControls ApplyStoredControls(const QString& identity, CameraControls& controls);

}  // namespace gst
