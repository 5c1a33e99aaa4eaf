#include "recording/output_files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <filesystem>
#include <system_error>

#include "platform/forms/clock.h"
#include "platform/forms/runtime_error.h"

namespace recording {
namespace {

// The folder literals, with the host's separator in place of the original's "\".
const QString kSep = QDir::separator();

QString Under(const char* folder) {
  return ProgramFolder() + kSep + QString::fromLatin1(folder) + kSep;
}

QString& ChosenFolder() {
  static QString folder;
  return folder;
}

}  // namespace

QString ProgramFolder() {
  const QString& chosen = ChosenFolder();
  return QDir::toNativeSeparators(chosen.isEmpty() ? QCoreApplication::applicationDirPath()
                                                   : chosen);
}

void SetProgramFolder(const QString& folder) {
  ChosenFolder() = QDir::cleanPath(folder);
}

void RenewDateTime(NamingState& names, const QDateTime& now) {
  names.DateText = forms::FileDate(now).replace(QLatin1Char('.'), QLatin1Char('_'));
  names.TimeText = forms::FileTime(now).replace(QLatin1Char(':'), QLatin1Char('_'));
}

QString RunStamp(const NamingState& names) {
  return names.DateText + QLatin1Char('_') + names.TimeText;
}

QString SnapshotFileName(const NamingState& names, const QString& extension) {
  return Under("SnapShot") + RunStamp(names) + extension;
}

QString VideoBaseName(const NamingState& names) {
  return Under("Video") + RunStamp(names);
}

QString PictureFileName(const NamingState& names, std::int32_t number, const QString& extension) {
  return names.PictureFolder + kSep + QString::number(number) + extension;
}

void CreatePictureFolder(NamingState& names, const QDateTime& now) {
  RenewDateTime(names, now);
  names.PictureFolder = Under("Risunki") + RunStamp(names);
  // One level only: the base folder must be there, and a folder already there is a failure.
  std::error_code why;
  if (!std::filesystem::create_directory(QFile::encodeName(names.PictureFolder).toStdString(), why))
    forms::Raise(forms::kPathFileAccess, forms::kDefaultErrorSource,
                 forms::StandardDescription(forms::kPathFileAccess) + QStringLiteral(": ") +
                     names.PictureFolder + QStringLiteral(": ") +
                     (why ? QString::fromLocal8Bit(why.message()) : QStringLiteral("it exists")));
}

}  // namespace recording
