#include "app/run_settings.h"

#include <QLocale>
#include <algorithm>

#include "app/main_window.h"
#include "platform/forms/message_box.h"
#include "platform/gst/camera_devices.h"
#include "platform/gst/exposure_lock.h"

namespace app {
namespace {

QStringList ComboTexts(const QComboBox& combo) {
  QStringList texts;
  for (int i = 0; i < combo.count(); ++i) texts << combo.itemText(i);
  return texts;
}

// A number as the operator would type it into the window's box: the command line writes its
// decimals with '.' in every locale, the window reads its boxes in the session's locale (a
// Russian session takes "0,5", not "0.5"). Anything else is typed as given, for the window to
// answer as it would.
QString AsTyped(const QString& text) {
  bool number = false;
  const double value = QLocale::c().toDouble(text.trimmed(), &number);
  if (!number || !text.contains(QLatin1Char('.'))) return text;
  QLocale session;
  session.setNumberOptions(QLocale::OmitGroupSeparator);
  return session.toString(value, 'g', QLocale::FloatingPointShortest);
}

QString SetControls(Form1& form, const RunSettings& run, QStringList& shown) {
  QString why;
  if (!run.sampleRate.isEmpty()) form.Text15->setText(AsTyped(run.sampleRate));
  const int soundRow = run.soundDevice.isEmpty()
                           ? 0  // the desktop's default output
                           : FindName(ComboTexts(*form.Combo1), run.soundDevice,
                                      QStringLiteral("sound device"), &why);
  if (soundRow < 0 || soundRow >= form.Combo1->count())
    return why.isEmpty() ? QStringLiteral("no sound device found") : why;
  form.Combo1->setCurrentIndex(soundRow);
  emit form.Combo1->Click(soundRow);
  // The window answers a sound device with a message box (a rate that is no number) or, in
  // its status line, with whether the device takes the format.
  if (!shown.isEmpty()) return shown.last();
  if (form.Label1->text().startsWith(QStringLiteral("формат этим устройством не поддерживается")))
    return form.Label1->text();

  if (!run.camera.isEmpty()) {
    QStringList cameras;
    for (const gst::CameraDevice& camera : gst::ListCameras()) cameras << camera.name;
    if (FindName(cameras, run.camera, QStringLiteral("camera"), &why) < 0) return why;
  }

  if (!run.numerator.isEmpty()) form.Text4->setText(AsTyped(run.numerator));
  if (!run.denominator.isEmpty()) form.Text27->setText(AsTyped(run.denominator));
  if (!run.amplitude.isEmpty()) form.Text5->setText(AsTyped(run.amplitude));
  if (run.triangle) (*run.triangle ? form.Option2 : form.Option1)->click();
  if (run.phase270) (*run.phase270 ? form.Option4 : form.Option3)->click();
  form.Check2->setChecked(true);
  form.Check3->setChecked(run.showPictures);
  if (!run.timer.isEmpty()) {
    form.Option6->click();
    form.Text20->setText(AsTyped(run.timer));
  } else {
    form.Option5->click();
    if (!run.every.isEmpty()) form.Text7->setText(AsTyped(run.every));
  }
  return form.Generator().SettingsRefusal();
}

// The window refuses an amplitude past 100 % with its wave fill's catch-all text only: a script
// is told the option and the reason first.
QString AmplitudeReason(const QString& amplitude) {
  bool number = false;
  const double percent = QLocale::c().toDouble(
      QString(amplitude).replace(QLatin1Char(','), QLatin1Char('.')).trimmed(), &number);
  if (!number || percent <= 100) return {};
  return QStringLiteral("--amplitude %1: above 100 %, the samples would overflow").arg(amplitude);
}

QString TypeText(const gst::ControlInfo& info) {
  switch (info.type) {
    case gst::ControlInfo::Integer:
      return QStringLiteral("integer %1..%2, step %3")
          .arg(info.minimum)
          .arg(info.maximum)
          .arg(info.step);
    case gst::ControlInfo::Boolean:
      return QStringLiteral("boolean");
    case gst::ControlInfo::Menu: {
      QStringList entries;
      for (const auto& [value, name] : info.menu)
        entries << QStringLiteral("%1 = %2").arg(value).arg(name);
      return QStringLiteral("menu ") + entries.join(QStringLiteral(", "));
    }
    case gst::ControlInfo::Button:
      return QStringLiteral("button");
  }
  return {};
}

// The number a control's value stands for; none, with the reason, when it stands for none
// the control takes.
std::optional<int> ControlNumber(const gst::ControlInfo& info, const QString& text, QString* why) {
  bool number = false;
  const int value = text.toInt(&number);
  if (info.type == gst::ControlInfo::Menu) {
    for (const auto& [entry, name] : info.menu) {
      if ((number && entry == value) || name.compare(text, Qt::CaseInsensitive) == 0 ||
          gst::ControlKey(name) == gst::ControlKey(text))
        return entry;
    }
    QStringList entries;
    for (const auto& [entry, name] : info.menu)
      entries << QStringLiteral("%1 (%2)").arg(entry).arg(name);
    *why = QStringLiteral("no such entry; the entries are ") + entries.join(QStringLiteral(", "));
    return std::nullopt;
  }
  if (!number) {
    *why = QStringLiteral("not a whole number");
    return std::nullopt;
  }
  if (value < info.minimum || value > info.maximum) {
    *why = QStringLiteral("outside its range %1..%2").arg(info.minimum).arg(info.maximum);
    return std::nullopt;
  }
  return value;
}

}  // namespace

QString ApplyCameraControls(gst::CameraControls& controls,
                            const std::vector<std::pair<QString, QString>>& settings,
                            QStringList* applied) {
  const std::vector<gst::ControlInfo> known = controls.List();
  struct Setting {
    QString option;
    QString key;
    std::uint32_t id = 0;
    int value = 0;
  };
  // Every name and value is checked before any is set: a refusal leaves the camera as it was.
  std::vector<Setting> checked;
  for (const auto& [name, text] : settings) {
    const QString option = QStringLiteral("--control %1=%2: ").arg(name, text);
    const QString key = gst::ControlKey(name);
    const auto info = std::find_if(known.begin(), known.end(), [&](const gst::ControlInfo& c) {
      return gst::ControlKey(c.name) == key;
    });
    if (info == known.end())
      return option + QStringLiteral("the camera has no such control; --list-controls lists them");
    if (info->type == gst::ControlInfo::Button)
      return option + QStringLiteral("a button, which holds no value");
    QString why;
    const std::optional<int> value = ControlNumber(*info, text, &why);
    if (!value) return option + why;
    checked.push_back({option, key, info->id, *value});
  }
  // What the camera itself refuses is known only by trying: the values set before it are put
  // back.
  std::vector<std::pair<std::uint32_t, int>> before;
  const auto refuse = [&](const QString& why) {
    for (auto it = before.rbegin(); it != before.rend(); ++it) controls.Set(it->first, it->second);
    if (applied) applied->clear();
    return why;
  };
  for (const Setting& setting : checked) {
    if (const std::optional<int> was = controls.Get(setting.id))
      before.emplace_back(setting.id, *was);
    if (!controls.Set(setting.id, setting.value))
      return refuse(setting.option +
                    (gst::HeldByAutomaticMode(controls, setting.id)
                         ? QStringLiteral("its automatic mode holds it; set that mode to manual "
                                          "first (an earlier --control)")
                         : QStringLiteral("the camera refuses it")));
    // A camera may take a value and keep another (a step, an automatic mode holding it).
    const std::optional<int> now = controls.Get(setting.id);
    if (!now)
      return refuse(setting.option + QStringLiteral("the camera does not say what it holds now"));
    if (*now != setting.value)
      return refuse(setting.option + QStringLiteral("the camera holds %1 instead").arg(*now));
    if (applied) *applied << QStringLiteral("%1 = %2").arg(setting.key).arg(*now);
  }
  return {};
}

QString ControlLine(const gst::ControlInfo& info, std::optional<int> now) {
  QString line = gst::ControlKey(info.name) + QStringLiteral(": ") + TypeText(info);
  if (info.type == gst::ControlInfo::Button) return line;
  line += QStringLiteral(", default %1").arg(info.defaultValue);
  line += now ? QStringLiteral(", now %1").arg(*now) : QStringLiteral(", now unreadable");
  return line;
}

int FindName(const QStringList& names, const QString& name, const QString& what, QString* why) {
  const auto exact = names.indexOf(name);
  if (exact >= 0) return static_cast<int>(exact);
  QStringList matches;
  int found = -1;
  for (int i = 0; i < names.size(); ++i) {
    if (!names[i].contains(name, Qt::CaseInsensitive)) continue;
    matches << names[i];
    found = i;
  }
  if (matches.size() == 1) return found;
  *why = matches.isEmpty()
             ? QStringLiteral("no %1 matches \"%2\"; --list-devices shows them").arg(what, name)
             : QStringLiteral("\"%1\" matches several %2s: %3")
                   .arg(name, what, matches.join(QStringLiteral(", ")));
  return -1;
}

QString ApplyRunSettings(Form1& form, const RunSettings& run) {
  // A refusal is told by the message box it brings; those boxes are the answer, not shown.
  QStringList shown;
  const forms::MessageBoxFunction previous = forms::SetMessageBoxFunction(
      [&shown](const QString& text, const QString&) { shown << text; });
  QString refusal = SetControls(form, run, shown);
  forms::SetMessageBoxFunction(previous);
  if (const QString reason = AmplitudeReason(run.amplitude);
      !refusal.isEmpty() && !reason.isEmpty())
    return reason + QStringLiteral("; the window says: ") + refusal;
  return refusal;
}

}  // namespace app
