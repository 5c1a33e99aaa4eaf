#include "tests/app/program_run.h"

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>

namespace testing_support {

Finished RunProgram(const QStringList& arguments,
                    const std::vector<std::pair<QString, QString>>& environment, int timeoutMs,
                    const QStringList& command) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const auto& [name, value] : environment) {
    if (value.isNull())
      env.remove(name);
    else
      env.insert(name, value);
  }
  const QStringList program =
      command.isEmpty() ? QStringList{QStringLiteral(STROBOLUX_EXECUTABLE)} : command;
  QProcess process;
  process.setProcessEnvironment(env);
  process.start(program.front(), program.mid(1) + arguments);
  Finished result;
  if (!process.waitForFinished(timeoutMs)) {
    process.kill();
    process.waitForFinished();
    return result;
  }
  result.crashed = process.exitStatus() != QProcess::NormalExit;
  if (!result.crashed) result.status = process.exitCode();
  auto lines = [](const QByteArray& bytes) {
    return QString::fromLocal8Bit(bytes).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  };
  result.out = lines(process.readAllStandardOutput());
  result.err = lines(process.readAllStandardError());
  return result;
}

ProgramFolder::ProgramFolder() {
  for (const char* name : {"Risunki", "SnapShot", "Video"})
    QDir(dir.path()).mkdir(QString::fromLatin1(name));
}

QString Field(const QStringList& lines, const QString& name) {
  for (const QString& line : lines)
    if (line.startsWith(name + QStringLiteral(": "))) return line.mid(name.size() + 2);
  return QString();
}

QStringList Fields(const QStringList& lines, const QString& name) {
  QStringList values;
  for (const QString& line : lines)
    if (line.startsWith(name + QStringLiteral(": "))) values << line.mid(name.size() + 2);
  return values;
}

}  // namespace testing_support
