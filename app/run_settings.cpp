#include "app/run_settings.h"

#include <QLocale>

#include "app/main_window.h"
#include "platform/forms/message_box.h"
#include "platform/gst/camera_devices.h"

namespace app {
namespace {

QStringList ComboTexts(const QComboBox& combo) {
  QStringList texts;
  for (int i = 0; i < combo.count(); ++i) texts << combo.itemText(i);
  return texts;
}

QString SetControls(Form1& form, const RunSettings& run, QStringList& shown) {
  QString why;
  if (!run.sampleRate.isEmpty()) form.Text15->setText(run.sampleRate);
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
  if (form.Label1->text() == QStringLiteral("формат этим устройством не поддерживается"))
    return form.Label1->text();

  if (!run.camera.isEmpty()) {
    QStringList cameras;
    for (const gst::CameraDevice& camera : gst::ListCameras()) cameras << camera.name;
    if (FindName(cameras, run.camera, QStringLiteral("camera"), &why) < 0) return why;
  }

  if (!run.numerator.isEmpty()) form.Text4->setText(run.numerator);
  if (!run.denominator.isEmpty()) form.Text27->setText(run.denominator);
  if (!run.amplitude.isEmpty()) form.Text5->setText(run.amplitude);
  if (run.triangle) (*run.triangle ? form.Option2 : form.Option1)->click();
  if (run.phase270) (*run.phase270 ? form.Option4 : form.Option3)->click();
  form.Check2->setChecked(true);
  form.Check3->setChecked(run.showPictures);
  if (!run.timer.isEmpty()) {
    form.Option6->click();
    form.Text20->setText(run.timer);
  } else {
    form.Option5->click();
    if (!run.every.isEmpty()) form.Text7->setText(run.every);
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

}  // namespace

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
