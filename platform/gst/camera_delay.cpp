#include "platform/gst/camera_delay.h"

#include <QSettings>
#include <cmath>

#include "platform/gst/camera_controls.h"
#include "platform/gst/camera_devices.h"
#include "platform/gst/camera_pipeline.h"
#include "platform/gst/logging.h"
#include "platform/gst/user_settings.h"

namespace gst {

namespace {

// One settings group per set-up.
QString GroupOf(const CameraSetup& setup) {
  return QStringLiteral("camera-delay/%1/%2/%3")
      .arg(SettingsKeyPart(setup.camera), SettingsKeyPart(setup.format),
           SettingsKeyPart(setup.exposure));
}

bool Readable(const QSettings& settings) {
  if (settings.status() == QSettings::NoError) return true;
  qCWarning(lcGst).noquote() << "the settings file" << settings.fileName()
                             << "cannot be read; no camera delay is used";
  return false;
}

}  // namespace

CameraSetup SetupOf(const CameraDevice& camera, const CameraFormat& format,
                    std::optional<double> exposureMs) {
  CameraSetup setup;
  // The device node tells two cameras of one model apart; a virtual camera has none.
  setup.camera =
      camera.path.isEmpty() ? camera.name : camera.name + QStringLiteral(" @ ") + camera.path;
  setup.format = format.Describe();
  if (!format.rates.empty())
    setup.format += QStringLiteral(" @ %1 fps").arg(format.rates.front().PerSecond(), 0, 'g', 6);
  setup.exposureMs = exposureMs;
  setup.exposure =
      exposureMs ? QStringLiteral("%1 ms").arg(*exposureMs, 0, 'f', 1) : QStringLiteral("auto");
  setup.shown = camera.name + QStringLiteral(", ") + setup.format;
  return setup;
}

CameraSetup SetupOf(const CameraPipeline& pipeline) {
  return SetupOf(pipeline.Camera(), pipeline.Format(), ManualExposureMs(pipeline));
}

std::optional<CameraDelay> StoredDelay(const CameraSetup& setup) {
  QSettings settings = UserSettings();
  if (!Readable(settings)) return std::nullopt;
  settings.beginGroup(GroupOf(setup));
  if (!settings.contains(QStringLiteral("delay-ms"))) return std::nullopt;
  bool ok = false, okUncertainty = false, okExposure = false;
  CameraDelay delay;
  delay.delayMs = settings.value(QStringLiteral("delay-ms")).toDouble(&ok);
  delay.uncertaintyMs = settings.value(QStringLiteral("uncertainty-ms")).toDouble(&okUncertainty);
  delay.exposureMs = settings.value(QStringLiteral("exposure-ms")).toDouble(&okExposure);
  delay.measured = settings.value(QStringLiteral("measured")).toDateTime();
  // A hand-edited or damaged entry is no delay at all rather than a wrong phase.
  if (!ok || !okUncertainty || !okExposure || !std::isfinite(delay.delayMs) ||
      std::abs(delay.delayMs) > 10'000 || !(delay.uncertaintyMs >= 0)) {
    qCWarning(lcGst).noquote() << "the stored camera delay of" << setup.camera << setup.format
                               << setup.exposure
                               << "is not a number of milliseconds; it is not used";
    return std::nullopt;
  }
  return delay;
}

bool StoreDelay(const CameraSetup& setup, const CameraDelay& delay) {
  QSettings settings = UserSettings();
  settings.beginGroup(GroupOf(setup));
  settings.setValue(QStringLiteral("camera"), setup.camera);
  settings.setValue(QStringLiteral("format"), setup.format);
  settings.setValue(QStringLiteral("exposure"), setup.exposure);
  settings.setValue(QStringLiteral("delay-ms"), delay.delayMs);
  settings.setValue(QStringLiteral("uncertainty-ms"), delay.uncertaintyMs);
  settings.setValue(QStringLiteral("exposure-ms"), delay.exposureMs);
  settings.setValue(QStringLiteral("measured"), delay.measured);
  settings.endGroup();
  settings.sync();
  if (settings.status() == QSettings::NoError) return true;
  qCWarning(lcGst).noquote() << "the camera delay cannot be written into" << settings.fileName();
  return false;
}

void ForgetDelay(const CameraSetup& setup) {
  QSettings settings = UserSettings();
  settings.remove(GroupOf(setup));
  settings.sync();
}

}  // namespace gst
