#include "platform/gst/exposure_lock.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <optional>

#include "platform/gst/camera_controls.h"
#include "platform/gst/user_settings.h"

namespace gst {

namespace {

bool forced = false;
// The controls the lock of the running run holds (one run at a time; the window's thread).
std::vector<std::uint32_t> held_for_run;

// One thing the lock holds: an automatic mode (a menu or a switch) and the value it sets.
struct Part {
  const char* name;
  std::uint32_t automatic;
  std::uint32_t value;
  const char* missing;  // why it cannot be held without the value's control
};
constexpr Part kParts[] = {
    {"экспозиция", V4L2_CID_EXPOSURE_AUTO, V4L2_CID_EXPOSURE_ABSOLUTE,
     "нет управления временем экспозиции"},
    {"усиление", V4L2_CID_AUTOGAIN, V4L2_CID_GAIN, "нет управления усилением"},
    {"баланс белого", V4L2_CID_AUTO_WHITE_BALANCE, V4L2_CID_WHITE_BALANCE_TEMPERATURE,
     "нет управления цветовой температурой"},
};

QString Text(const Part& part, const char* why) {
  return QString::fromUtf8(part.name) + QStringLiteral(": ") + QString::fromUtf8(why);
}

const ControlInfo* Find(const std::vector<ControlInfo>& controls, std::uint32_t id) {
  const auto found = std::find_if(controls.begin(), controls.end(),
                                  [id](const ControlInfo& info) { return info.id == id; });
  return found == controls.end() ? nullptr : &*found;
}

// The setting of an automatic control that leaves its value to the operator. Shutter priority
// holds the exposure time as well (only an iris stays automatic), for a menu without manual.
std::optional<int> ManualSetting(const ControlInfo& mode) {
  if (mode.type == ControlInfo::Boolean) return 0;
  if (mode.type != ControlInfo::Menu) return std::nullopt;
  for (const int setting : {V4L2_EXPOSURE_MANUAL, V4L2_EXPOSURE_SHUTTER_PRIORITY})
    if (std::any_of(mode.menu.begin(), mode.menu.end(),
                    [setting](const auto& item) { return item.first == setting; }))
      return setting;
  return std::nullopt;
}

// Whether the camera chooses the value in this setting of its automatic control.
bool Automatic(const ControlInfo& mode, int setting) {
  if (mode.type == ControlInfo::Boolean) return setting != 0;
  return setting != V4L2_EXPOSURE_MANUAL && setting != V4L2_EXPOSURE_SHUTTER_PRIORITY;
}

}  // namespace

bool ExposureLockChosen() {
  return forced || UserSettings().value(QStringLiteral("camera/lock-exposure"), false).toBool();
}

void ChooseExposureLock(bool on) {
  UserSettings().setValue(QStringLiteral("camera/lock-exposure"), on);
}

void ForceExposureLock() {
  forced = true;
}

QStringList ExposureLock::Lock(CameraControls& controls) {
  if (locked_) Restore(controls);
  locked_ = true;
  QStringList failed;
  const std::vector<ControlInfo> list = controls.List();
  // First every value as the automatic modes reached it: switching one mode off may move
  // another's value (the exposure time under priority, the gain with the exposure).
  struct Held {
    const Part* part;
    const ControlInfo* mode;  // null: nothing automatic to switch off
    int setting;              // the mode's setting now
    int manual;               // the mode's setting by hand
    std::uint32_t value;
    int reached;
  };
  std::vector<Held> held;
  for (const Part& part : kParts) {
    const ControlInfo* value = Find(list, part.value);
    const ControlInfo* mode = Find(list, part.automatic);
    if (!value) {
      failed << Text(part, part.missing);
      continue;
    }
    const std::optional<int> reached = controls.Get(part.value);
    const std::optional<int> setting = mode ? controls.Get(mode->id) : std::nullopt;
    if (!reached || (mode && !setting)) {
      failed << Text(part, "значение не читается");
      continue;
    }
    Held one{&part, nullptr, 0, 0, part.value, *reached};
    if (mode && Automatic(*mode, *setting)) {
      const std::optional<int> manual = ManualSetting(*mode);
      if (!manual) {
        failed << Text(part, "нет ручного режима");
        continue;
      }
      one.mode = mode;
      one.setting = *setting;
      one.manual = *manual;
    }
    held.push_back(one);
  }
  // Exposure priority lets automatic exposure stretch the frame interval.
  if (Find(list, V4L2_CID_EXPOSURE_AUTO_PRIORITY)) {
    const std::optional<int> priority = controls.Get(V4L2_CID_EXPOSURE_AUTO_PRIORITY);
    if (priority && *priority != 0) {
      if (controls.Set(V4L2_CID_EXPOSURE_AUTO_PRIORITY, 0))
        switched_.emplace_back(V4L2_CID_EXPOSURE_AUTO_PRIORITY, *priority);
      else
        failed << QStringLiteral("частота кадров: камера не выключает приоритет экспозиции");
    }
  }
  for (const Held& one : held) {
    if (one.mode) {
      if (!controls.Set(one.mode->id, one.manual)) {
        failed << Text(*one.part, "камера не выключает автоматический режим");
        continue;
      }
      switched_.emplace_back(one.mode->id, one.setting);
    }
    // V4L2 takes the value only once its automatic mode is off.
    if (!controls.Set(one.value, one.reached))
      failed << Text(*one.part, "камера не принимает значение");
    else
      held_for_run.push_back(one.value);
  }
  for (const auto& [id, setting] : switched_) held_for_run.push_back(id);
  return failed;
}

ExposureLock::~ExposureLock() {
  if (locked_) held_for_run.clear();
}

bool HeldForRun(std::uint32_t id) {
  return std::find(held_for_run.begin(), held_for_run.end(), id) != held_for_run.end();
}

void ExposureLock::Restore(CameraControls& controls) {
  if (!locked_) return;
  // The modes back in the reverse order: exposure before its priority.
  for (auto entry = switched_.rbegin(); entry != switched_.rend(); ++entry)
    controls.Set(entry->first, entry->second);
  switched_.clear();
  held_for_run.clear();
  locked_ = false;
}

QStringList UnlockableParts(CameraControls& controls) {
  QStringList parts;
  const std::vector<ControlInfo> list = controls.List();
  for (const Part& part : kParts) {
    const ControlInfo* mode = Find(list, part.automatic);
    if (!Find(list, part.value))
      parts << Text(part, part.missing);
    else if (mode && !ManualSetting(*mode))
      parts << Text(part, "нет ручного режима");
  }
  return parts;
}

bool HeldByAutomaticMode(CameraControls& controls, std::uint32_t id) {
  for (const Part& part : kParts) {
    if (part.value != id) continue;
    const std::vector<ControlInfo> list = controls.List();
    const ControlInfo* mode = Find(list, part.automatic);
    if (!mode) return false;
    const std::optional<int> setting = controls.Get(mode->id);
    return setting && Automatic(*mode, *setting);
  }
  return false;
}

}  // namespace gst
