#include "platform/gst/exposure_lock.h"

#include "platform/gst/user_settings.h"

namespace gst {

namespace {

bool forced = false;

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

}  // namespace gst
