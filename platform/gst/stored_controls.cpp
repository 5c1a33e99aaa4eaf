#include "platform/gst/stored_controls.h"

#include <QSettings>
#include <algorithm>
#include <map>
#include <vector>

#include "platform/gst/camera_controls.h"
#include "platform/gst/exposure_lock.h"
#include "platform/gst/logging.h"
#include "platform/gst/user_settings.h"

namespace gst {

namespace {

// One settings group per camera.
QString GroupOf(const QString& identity) {
  return QStringLiteral("camera-controls/") + SettingsKeyPart(identity);
}

bool IsMode(const ControlInfo& info) {
  return info.type == ControlInfo::Boolean || info.type == ControlInfo::Menu;
}

}  // namespace

QString AppliedControls::Notice() const {
  if (unreadable) return QStringLiteral("файл настроек не читается");
  if (skipped.isEmpty()) return {};
  // V4L2 names hold commas ("Exposure Time, Absolute").
  return QStringLiteral("не применены: ") + skipped.join(QStringLiteral("; "));
}

void StoreControl(const QString& identity, const QString& key, int value) {
  if (identity.isEmpty() || key.isEmpty()) return;
  QSettings settings = UserSettings();
  settings.beginGroup(GroupOf(identity));
  settings.setValue(key, value);
  settings.endGroup();
  settings.sync();
  if (settings.status() != QSettings::NoError)
    qCWarning(lcGst).noquote() << "the camera's control" << key << "cannot be kept in"
                               << settings.fileName();
}

void ForgetControls(const QString& identity) {
  if (identity.isEmpty()) return;
  QSettings settings = UserSettings();
  settings.remove(GroupOf(identity));
  settings.sync();
}

AppliedControls ApplyStoredControls(const QString& identity, CameraControls& controls) {
  AppliedControls applied;
  if (identity.isEmpty()) return applied;
  QSettings settings = UserSettings();
  if (settings.status() != QSettings::NoError) {
    qCWarning(lcGst).noquote() << "the settings file" << settings.fileName()
                               << "cannot be read; the stored controls of" << identity
                               << "are not applied";
    applied.unreadable = true;
    return applied;
  }
  settings.beginGroup(GroupOf(identity));
  const QStringList keys = settings.childKeys();
  if (keys.isEmpty()) return applied;

  std::map<QString, ControlInfo> byKey;
  for (ControlInfo& info : controls.List())
    if (info.type != ControlInfo::Button) byKey.emplace(ControlKey(info.name), std::move(info));
  struct Stored {
    ControlInfo info;
    int value = 0;
  };
  std::vector<Stored> modes, values;
  for (const QString& key : keys) {
    const auto found = byKey.find(key);
    if (found == byKey.end()) {
      qCWarning(lcGst).noquote() << "the stored control" << key << "of" << identity
                                 << "is not one the camera has; it is not applied";
      applied.skipped << key;
      continue;
    }
    // A camera opened again during a run whose lock holds this control keeps what it holds.
    if (HeldForRun(found->second.id)) {
      qCInfo(lcGst).noquote() << "the stored control" << key << "of" << identity
                              << "is left as the run's lock holds it";
      continue;
    }
    bool number = false;
    const int value = settings.value(key).toInt(&number);
    if (!number) {
      qCWarning(lcGst).noquote() << "the stored control" << key << "of" << identity
                                 << "is not a number; it is not applied";
      applied.skipped << found->second.name;
      continue;
    }
    (IsMode(found->second) ? modes : values).push_back({found->second, value});
  }
  // The settings keep their keys sorted: the camera's own order puts related controls as the
  // driver expects them.
  const auto cameraOrder = [](const Stored& a, const Stored& b) { return a.info.id < b.info.id; };
  std::stable_sort(modes.begin(), modes.end(), cameraOrder);
  std::stable_sort(values.begin(), values.end(), cameraOrder);
  for (const Stored& stored : modes)
    if (!controls.Set(stored.info.id, stored.value)) {
      qCWarning(lcGst).noquote() << "the camera" << identity << "refuses the stored value"
                                 << stored.value << "of" << stored.info.name;
      applied.skipped << stored.info.name;
    }
  std::map<std::uint32_t, bool> inactive;
  if (!values.empty())
    for (const ControlInfo& info : controls.List()) inactive[info.id] = info.inactive;
  for (const Stored& stored : values) {
    if (controls.Set(stored.info.id, stored.value)) continue;
    if (inactive[stored.info.id] || HeldByAutomaticMode(controls, stored.info.id)) {
      qCInfo(lcGst).noquote() << "the stored value of" << stored.info.name << "of" << identity
                              << "is left to the camera's automatic mode";
      continue;
    }
    qCWarning(lcGst).noquote() << "the camera" << identity << "refuses the stored value"
                               << stored.value << "of" << stored.info.name;
    applied.skipped << stored.info.name;
  }
  return applied;
}

}  // namespace gst
