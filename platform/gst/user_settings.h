#pragma once
// The user's settings file (~/.config/Strobolux/strobolux.conf, or under XDG_CONFIG_HOME).

#include <QSettings>
#include <QUrl>

namespace gst {

inline QSettings UserSettings() {
  return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Strobolux"),
                   QStringLiteral("strobolux"));
}

// A name (a camera's identity, a format) as one part of a settings key: percent-encoded, as
// QSettings reads '/' and '\' in a key as groups; spaces stay readable.
inline QString SettingsKeyPart(const QString& text) {
  return QString::fromLatin1(QUrl::toPercentEncoding(text, " "));
}

}  // namespace gst
