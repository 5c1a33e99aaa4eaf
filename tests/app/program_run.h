#pragma once
// The program started as a shell would start it, for the tests of its command line: its exit
// status and the lines it printed.

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <utility>
#include <vector>

namespace testing_support {

struct Finished {
  int status = -1;  // -1: it did not end by itself in time, or crashed
  bool crashed = false;
  QStringList out;
  QStringList err;
};

// Runs the program with these arguments; `environment` changes are applied on top of ours
// (a null value removes the variable). `command` is the program and its first arguments
// (empty: the built program itself).
Finished RunProgram(const QStringList& arguments,
                    const std::vector<std::pair<QString, QString>>& environment = {},
                    int timeoutMs = 60000, const QStringList& command = {});

// A program folder with its three recording folders, as the build puts them beside the
// executable.
struct ProgramFolder {
  ProgramFolder();
  QString Path() const { return dir.path(); }
  QTemporaryDir dir;
};

// The value of the first "name: value" line, as the run's summary prints it; empty if none.
QString Field(const QStringList& lines, const QString& name);

// The values of every "name: value" line of that name, in order.
QStringList Fields(const QStringList& lines, const QString& name);

}  // namespace testing_support
