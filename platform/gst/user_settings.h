#pragma once
// The user's settings file (~/.config/Strobolux/strobolux.conf, or under XDG_CONFIG_HOME).

#include <QSettings>

namespace gst {

inline QSettings UserSettings() {
  return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Strobolux"),
                   QStringLiteral("strobolux"));
}

}  // namespace gst
