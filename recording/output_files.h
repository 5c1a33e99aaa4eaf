#pragma once
// Where the program's files go and what they are called: the program folder with its three
// folders, the date and time texts of a naming operation, and the run stamp made of them.

#include <QDateTime>
#include <QString>
#include <cstdint>

namespace recording {

// The folder the program's files go under: the executable's folder unless another was set.
QString ProgramFolder();
// Sets the program folder (empty: the executable's folder again).
void SetProgramFolder(const QString& folder);

// The names of the recording: the date and time texts of the last naming, the run's folder
// and the last file named.
struct NamingState {
  QString DateText;
  QString TimeText;
  QString PictureFolder;
  QString OutputFileName;
};

// Renews DateText ("." replaced by "_") and TimeText (":" replaced by "_") from `now`.
void RenewDateTime(NamingState& names, const QDateTime& now);
// DateText + "_" + TimeText.
QString RunStamp(const NamingState& names);

// program folder/SnapShot/<stamp><extension>, program folder/Video/<stamp> (no extension),
// and PictureFolder/<number><extension>.
QString SnapshotFileName(const NamingState& names, const QString& extension);
QString VideoBaseName(const NamingState& names);
QString PictureFileName(const NamingState& names, std::int32_t number, const QString& extension);

// Renews the date and time, sets PictureFolder to program folder/Risunki/<stamp> and makes
// that one folder. Raises 75 when it cannot be made (Risunki missing, or the folder of a run
// started in the same second already there); PictureFolder keeps the new path even then.
void CreatePictureFolder(NamingState& names, const QDateTime& now);

}  // namespace recording
