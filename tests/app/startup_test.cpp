// The program as started from a shell: its options, the checks before any window, and the
// scripted demo run through the real window, devices and files.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QtEndian>
#include <algorithm>
#include <cstdlib>

#include "app/startup_options.h"
#include "platform/gst/gst_util.h"
#include "tests/app/program_run.h"
#include "tests/support/avi_file.h"
#include "tests/support/wav_file.h"

namespace {

using testing_support::Field;
using testing_support::Finished;
using testing_support::ProgramFolder;
using testing_support::RunProgram;

// Root writes anywhere, so a check of a folder that cannot be written would pass unseen:
// under root the program runs as "nobody", from a copy in a folder it may read, or from
// `executable` when given.
QStringList Unprivileged(QString executable = QString()) {
  if (executable.isEmpty()) executable = QStringLiteral(STROBOLUX_EXECUTABLE);
  if (geteuid() != 0) return {executable};
  static QTemporaryDir copies;
  QFile::setPermissions(copies.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                           QFile::ReadOther | QFile::ExeOther);
  const QString copy = copies.filePath(QStringLiteral("strobolux"));
  // A sanitizer build's child reads its suppressions at start: from a copy nobody can read.
  static const bool suppressionsCopied = [] {
    QString options = qEnvironmentVariable("LSAN_OPTIONS");
    const QRegularExpression file(QStringLiteral("suppressions=([^:]+)"));
    const QRegularExpressionMatch match = file.match(options);
    if (!match.hasMatch()) return false;
    const QString readable = copies.filePath(QStringLiteral("lsan.supp"));
    QFile::copy(match.captured(1), readable);
    QFile::setPermissions(readable, QFile::ReadOwner | QFile::ReadOther);
    options.replace(match.capturedStart(1), match.capturedLength(1), readable);
    qputenv("LSAN_OPTIONS", options.toLocal8Bit());
    return true;
  }();
  (void)suppressionsCopied;
  if (executable == QLatin1String(STROBOLUX_EXECUTABLE)) {
    if (!QFile::exists(copy)) QFile::copy(executable, copy);
    QFile::setPermissions(copy,
                          QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);
    executable = copy;
  }
  return {QStringLiteral("setpriv"),
          QStringLiteral("--reuid=65534"),
          QStringLiteral("--regid=65534"),
          QStringLiteral("--clear-groups"),
          QStringLiteral("--"),
          executable};
}

// Lets everyone into a scratch folder, so that "nobody" can work in it.
void OpenToAll(const QString& path) {
  QFile::setPermissions(path, QFileDevice::Permissions(0x7777));
}

QString NoValue() {
  return QString();
}

// A display that no X server on this machine answers: neither its socket, its lock file nor
// its abstract socket (which a server whose /tmp is not ours still listens on) exists. Empty
// when every number tried is taken.
QString UnusedDisplay() {
  QFile sockets(QStringLiteral("/proc/net/unix"));
  const QByteArray listening = sockets.open(QIODevice::ReadOnly) ? sockets.readAll() : QByteArray();
  for (int n = 999; n >= 100; --n) {
    const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(n);
    if (QFile::exists(socket) || QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)) ||
        listening.contains(QStringLiteral(" @%1\n").arg(socket).toLatin1()))
      continue;
    return QStringLiteral(":%1").arg(n);
  }
  return QString();
}

// Each argument list is refused with one line that says why.
void ExpectEachRefusedInOneLine(const std::vector<QStringList>& wrong) {
  for (const QStringList& arguments : wrong) {
    SCOPED_TRACE(arguments.join(QLatin1Char(' ')).toStdString());
    QString error;
    EXPECT_FALSE(app::ParseStartupOptions(arguments, QString(), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(error.contains(QLatin1Char('\n')));
  }
}

TEST(StartupOptions, ReadsEveryOptionAndRejectsWhatDoesNotFit) {
  QString error;
  auto options = app::ParseStartupOptions(
      {"--demo-run", "7", "--back-end", "graph", "--format", "jpg", "--program-folder", "/tmp"},
      QStringLiteral("/ignored"), &error);
  ASSERT_TRUE(options) << error.toStdString();
  EXPECT_EQ(options->demoRunSeconds, 7);
  EXPECT_TRUE(options->filterGraph);
  EXPECT_TRUE(options->jpeg);
  EXPECT_FALSE(options->demo);
  EXPECT_EQ(options->programFolder, QStringLiteral("/tmp"));  // the option over the variable

  options = app::ParseStartupOptions({"--demo"}, QStringLiteral("/from/variable"), &error);
  ASSERT_TRUE(options);
  EXPECT_TRUE(options->demo);
  EXPECT_EQ(options->demoRunSeconds, 0);
  EXPECT_EQ(options->programFolder, QStringLiteral("/from/variable"));

  options = app::ParseStartupOptions({"--program-folder", "relative"}, QString(), &error);
  ASSERT_TRUE(options);
  EXPECT_EQ(options->programFolder, QDir::current().filePath(QStringLiteral("relative")));

  options = app::ParseStartupOptions({"--repair-avi", "Video/a.avi"}, QString(), &error);
  ASSERT_TRUE(options) << error.toStdString();
  EXPECT_EQ(options->repairAvi, QStringLiteral("Video/a.avi"));

  const std::vector<QStringList> wrong = {
      {"--demo-run"},
      {"--demo-run", "0"},
      {"--demo-run", "five"},
      {"--demo-run", "5", "--back-end", "dshow"},
      {"--demo-run", "5", "--format", "png"},
      {"--demo-run", "5", "--format", "jpg"},  // the capture window saves BMP only
      {"--back-end", "graph"},                 // only the demo run has a back-end choice
      {"--program-folder"},
      {"--demo", "extra"},
      {"--demo", "--no-such-option"},
      {"--demo", "--"},
      {"-demo"},
      {"--repair-avi", "a.avi", "--demo-run", "5"},  // a command of its own
      {"--repair-avi", "a.avi", "--run", "5"},
  };
  ExpectEachRefusedInOneLine(wrong);
}

// What is wrong is said in the option's own words, also for a value missing at the end, an
// option given twice or one the program does not know.
TEST(StartupOptions, EachWrongArgumentIsNamedInItsOwnWords) {
  const std::vector<std::pair<QStringList, QString>> cases = {
      {{"--run"}, "--run needs a number of seconds (0: until stopped)"},
      {{"--run", "5", "--camera"}, "--camera needs a value"},
      {{"--demo-run"}, "--demo-run needs a number of seconds from 1 to 86400"},
      {{"--demo-run", "5", "--back-end"}, "--back-end is either capture or graph"},
      {{"--program-folder"}, "--program-folder needs a folder"},
      {{"--repair-avi"}, "--repair-avi needs a file"},
      {{"--run", "5", "--shape", "square", "--shape", "sine"},
       "--shape is either sine or triangle"},
      {{"--no-such-option"}, "unknown option \"--no-such-option\"; --help lists the options"},
      {{"-x"}, "unknown option \"-x\"; --help lists the options"},
      {{"--demo", "--"}, "unknown argument \"--\"; --help lists the options"},
  };
  for (const auto& [arguments, text] : cases) {
    SCOPED_TRACE(arguments.join(QLatin1Char(' ')).toStdString());
    QString error;
    EXPECT_FALSE(app::ParseStartupOptions(arguments, QString(), &error));
    EXPECT_EQ(error, text);
  }
  QString error;
  const auto help = app::ParseStartupOptions({"-h"}, QString(), &error);
  ASSERT_TRUE(help) << error.toStdString();
  EXPECT_TRUE(help->help);
}

TEST(StartupOptions, RunOptionsCarryTheTextsForTheWindowAndRefuseWhatItOffersNoButtonFor) {
  QString error;
  auto options = app::ParseStartupOptions(
      {"--run",         "3600",  "--sound-device", "USB",      "--camera",       "C920",
       "--back-end",    "graph", "--format",       "jpg",      "--tone",         "30/2",
       "--amplitude",   "80",    "--shape",        "triangle", "--phase",        "270",
       "--sample-rate", "44100", "--every",        "3",        "--show-pictures"},
      QString(), &error);
  ASSERT_TRUE(options) << error.toStdString();
  ASSERT_TRUE(options->run);
  const app::RunSettings& run = *options->run;
  EXPECT_EQ(run.seconds, 3600);
  EXPECT_EQ(run.soundDevice, QStringLiteral("USB"));
  EXPECT_EQ(run.camera, QStringLiteral("C920"));
  EXPECT_TRUE(options->filterGraph && options->jpeg);
  EXPECT_EQ(run.numerator, QStringLiteral("30"));
  EXPECT_EQ(run.denominator, QStringLiteral("2"));
  EXPECT_EQ(run.amplitude, QStringLiteral("80"));
  EXPECT_EQ(run.triangle, true);
  EXPECT_EQ(run.phase270, true);
  EXPECT_EQ(run.sampleRate, QStringLiteral("44100"));
  EXPECT_EQ(run.every, QStringLiteral("3"));
  EXPECT_TRUE(run.timer.isEmpty());
  EXPECT_TRUE(run.showPictures);

  // What the window would refuse in a box goes on to the window ("1,5/3" included); only
  // what no button or box could take is refused here.
  options = app::ParseStartupOptions({"--run", "0", "--tone", "1,5/3", "--timer", "abc"}, QString(),
                                     &error);
  ASSERT_TRUE(options) << error.toStdString();
  EXPECT_EQ(options->run->seconds, 0);
  EXPECT_EQ(options->run->numerator, QStringLiteral("1,5"));
  EXPECT_EQ(options->run->timer, QStringLiteral("abc"));
  EXPECT_FALSE(options->run->triangle);
  EXPECT_FALSE(options->run->video);
  options = app::ParseStartupOptions({"--run=60", "--video"}, QString(), &error);
  ASSERT_TRUE(options) << error.toStdString();
  EXPECT_TRUE(options->run->video);

  const std::vector<QStringList> wrong = {
      {"--run"},
      {"--run", "-1"},
      {"--run", "soon"},
      {"--run", "5", "--tone", "10"},
      {"--run", "5", "--tone", "/2"},
      {"--run", "5", "--shape", "square"},
      {"--run", "5", "--phase", "90"},
      {"--run", "5", "--every", "2", "--timer", "1"},
      {"--run", "5", "--camera"},
      {"--run", "5", "--demo-run", "5"},
      {"--tone", "10/2"},  // a setting without a run
      {"--show-pictures"},
      {"--video"},
      {"--run", "5", "--video", "--back-end", "graph"},  // the filter graph records no video
      {"--run", "5", "--strobe", "always"},
      {"--run", "5", "--strobe-width", "2"},  // a width without a strobe
      {"--run", "5", "--strobe", "off", "--strobe-width", "2"},
      {"--run", "5", "--strobe", "period", "--strobe-width", "0"},
      {"--run", "5", "--strobe", "period", "--strobe-width", "1,5"},
      {"--run", "5", "--frame-choice", "best"},
      {"--strobe", "period"},  // a setting without a run
      {"--demo", "--scene-ambient", "1.5"},
      {"--demo", "--scene-ambient", "dim"},
      {"--run", "5", "--phase-bins", "1"},
      {"--run", "5", "--phase-bins", "121"},
      {"--run", "5", "--phase-bins", "12", "--bins-fps", "0"},
      {"--run", "5", "--bins-fps", "12"},  // an animation's rate without bins
      {"--lock-in"},                       // a setting without a run
  };
  ExpectEachRefusedInOneLine(wrong);

  options = app::ParseStartupOptions(
      {"--run", "5", "--strobe", "instants", "--strobe-width", "0.5", "--frame-choice", "phase"},
      QString(), &error);
  ASSERT_TRUE(options) << error.toStdString();
  EXPECT_EQ(options->run->strobe, generator::StrobeMode::Instants);
  EXPECT_EQ(options->run->strobeWidthMs, 0.5);
  EXPECT_EQ(options->run->frameChoice, recording::FrameChoice::Phase);

  options = app::ParseStartupOptions(
      {"--run", "5", "--phase-bins", "36", "--bins-fps", "7.5", "--lock-in"}, QString(), &error);
  ASSERT_TRUE(options) << error.toStdString();
  EXPECT_EQ(options->run->phaseBins, 36);
  EXPECT_EQ(options->run->binsFps, 7.5);
  EXPECT_TRUE(options->run->lockIn);
}

TEST(StartupOptions, TheCalibrationTakesTheDeviceOptionsAndTheDemoSceneItsTiming) {
  QString error;
  auto options =
      app::ParseStartupOptions({"--calibrate-camera", "20", "--sound-device", "USB", "--camera",
                                "C920", "--back-end", "graph", "--amplitude", "90"},
                               QString(), &error);
  ASSERT_TRUE(options) << error.toStdString();
  EXPECT_EQ(options->calibrateSeconds, 20);
  ASSERT_TRUE(options->run);
  EXPECT_EQ(options->run->camera, QStringLiteral("C920"));
  EXPECT_EQ(options->run->amplitude, QStringLiteral("90"));
  EXPECT_TRUE(options->filterGraph);

  options = app::ParseStartupOptions(
      {"--demo-run", "5", "--scene-delay", "12.5", "--scene-rate", "60", "--scene-exposure", "0",
       "--scene-jitter", "2", "--scene-ambient", "0.05"},
      QString(), &error);
  ASSERT_TRUE(options) << error.toStdString();
  EXPECT_EQ(options->scene.ambient, 0.05);
  EXPECT_EQ(options->scene.delayMs, 12.5);
  EXPECT_EQ(options->scene.exposureMs, 0.0);
  EXPECT_EQ(options->scene.jitterMs, 2.0);
  EXPECT_EQ(options->scene.rate, 60);

  const std::vector<QStringList> wrong = {
      {"--calibrate-camera", "5"},
      {"--calibrate-camera", "soon"},
      {"--calibrate-camera", "20", "--run", "5"},
      {"--calibrate-camera", "20", "--demo-run", "5"},
      {"--calibrate-camera", "20", "--tone", "10/2"},  // it plays its own tones
      {"--calibrate-camera", "20", "--every", "4"},
      {"--calibrate-camera", "20", "--format", "jpg", "--back-end", "graph"},
      {"--scene-delay", "40"},  // no built-in camera to set
      {"--demo", "--scene-delay", "-1"},
      {"--demo", "--scene-delay", "40,5"},
      {"--demo", "--scene-jitter", "1000"},
      {"--demo", "--scene-rate", "25"},
  };
  ExpectEachRefusedInOneLine(wrong);
}

TEST(StartupChecks, AProgramFolderThatCannotBeUsedStopsTheProgramBeforeAnyWindow) {
  QTemporaryDir scratch;
  OpenToAll(scratch.path());
  const QString missing = scratch.filePath(QStringLiteral("missing"));
  const QString file = scratch.filePath(QStringLiteral("file"));
  {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  }
  const QString readOnly = scratch.filePath(QStringLiteral("read-only"));
  ASSERT_TRUE(QDir(scratch.path()).mkdir(QStringLiteral("read-only")));
  ASSERT_TRUE(QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ExeOwner));
  const std::vector<QString> folders = {missing, file, readOnly};
  // With no display at all: the folder is what it complains about, so it was checked first.
  const std::vector<std::pair<QString, QString>> noDisplay = {
      {"QT_QPA_PLATFORM", NoValue()}, {"DISPLAY", NoValue()}, {"WAYLAND_DISPLAY", NoValue()}};
  for (const QString& folder : folders) {
    SCOPED_TRACE(folder.toStdString());
    Finished viaOption = RunProgram({"--program-folder", folder}, noDisplay, 60000, Unprivileged());
    EXPECT_FALSE(viaOption.crashed);
    EXPECT_EQ(viaOption.status, 1);
    ASSERT_EQ(viaOption.err.size(), 1) << viaOption.err.join('\n').toStdString();
    EXPECT_TRUE(viaOption.err[0].contains(folder)) << viaOption.err[0].toStdString();
    EXPECT_TRUE(viaOption.out.isEmpty());
    auto viaVariable = noDisplay;
    viaVariable.emplace_back(QStringLiteral("STROBOLUX_PROGRAM_FOLDER"), folder);
    Finished fromVariable = RunProgram({}, viaVariable, 60000, Unprivileged());
    EXPECT_EQ(fromVariable.status, 1);
    EXPECT_EQ(fromVariable.err, viaOption.err);
  }
  QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// The folders the pictures, snapshots and videos go into are checked before the run, not
// found wanting at the first picture.
TEST(StartupChecks, AMissingOrReadOnlyRecordingFolderIsNamedBeforeTheRun) {
  for (const char* broken : {"Risunki", "SnapShot", "Video"}) {
    for (const bool readOnly : {false, true}) {
      SCOPED_TRACE(std::string(broken) + (readOnly ? " read-only" : " missing"));
      ProgramFolder folder;
      OpenToAll(folder.Path());
      const QString path = folder.dir.filePath(QString::fromLatin1(broken));
      for (const char* name : {"Risunki", "SnapShot", "Video"})
        OpenToAll(folder.dir.filePath(QString::fromLatin1(name)));
      if (readOnly)
        QFile::setPermissions(
            path, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);
      else
        QDir(path).removeRecursively();
      const Finished run = RunProgram({"--demo-run", "2", "--program-folder", folder.Path()},
                                      {{"QT_QPA_PLATFORM", "offscreen"}}, 60000, Unprivileged());
      EXPECT_FALSE(run.crashed);
      EXPECT_EQ(run.status, 1);
      EXPECT_TRUE(run.out.isEmpty()) << run.out.join('\n').toStdString();  // nothing ran
      ASSERT_EQ(run.err.size(), 1) << run.err.join('\n').toStdString();
      EXPECT_EQ(run.err[0], QStringLiteral("strobolux: folder %1 %2")
                                .arg(path, readOnly ? QStringLiteral("is not writable")
                                                    : QStringLiteral("does not exist")));
      EXPECT_TRUE(QDir(folder.dir.filePath(QStringLiteral("Risunki"))).isEmpty());
    }
  }

  // The window starts all the same, with the line in its log.
  ProgramFolder folder;
  QDir(folder.dir.filePath(QStringLiteral("Video"))).removeRecursively();
  QProcess window;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  window.setProcessEnvironment(environment);
  window.setReadChannel(QProcess::StandardError);
  window.start(QStringLiteral(STROBOLUX_EXECUTABLE), {"--program-folder", folder.Path()});
  QByteArray said;
  QElapsedTimer waited;
  waited.start();
  while (!said.contains('\n') && waited.elapsed() < 30000 && window.state() != QProcess::NotRunning)
    if (window.waitForReadyRead(1000)) said += window.readAll();
  EXPECT_EQ(window.state(), QProcess::Running) << said.toStdString();
  EXPECT_TRUE(said.contains(QFile::encodeName(folder.dir.filePath(QStringLiteral("Video"))) +
                            " does not exist"))
      << said.toStdString();
  window.kill();
  window.waitForFinished();
}

// An installed program (its folder not writable by the user, or under a system prefix) keeps
// the user's recordings in ~/Strobolux, whichever of its names started it.
TEST(StartupChecks, AnInstalledProgramRecordsIntoTheUsersFolder) {
  const QString home = QStringLiteral("/home/someone");
  EXPECT_EQ(app::DefaultProgramFolder(QStringLiteral("/usr/bin"), home),
            QStringLiteral("/home/someone/Strobolux"));
  EXPECT_EQ(app::DefaultProgramFolder(QStringLiteral("/usr/local/bin"), home),
            QStringLiteral("/home/someone/Strobolux"));
  EXPECT_EQ(app::DefaultProgramFolder(QStringLiteral("/opt/strobolux/bin"), home),
            QStringLiteral("/home/someone/Strobolux"));
  EXPECT_EQ(app::DefaultProgramFolder(QStringLiteral("/bin"), home),
            QStringLiteral("/home/someone/Strobolux"));
  EXPECT_EQ(app::DefaultProgramFolder(QStringLiteral("/usr/bin"), QString()), QString());
  QTemporaryDir build;
  EXPECT_EQ(app::DefaultProgramFolder(build.path(), home), build.path());  // a build tree
  // A build tree is one wherever it lies, by its cache beside bin/, even with documents there.
  ASSERT_TRUE(QDir(build.path()).mkpath(QStringLiteral("tree/bin")));
  ASSERT_TRUE(QDir(build.path()).mkpath(QStringLiteral("tree/share/doc/strobolux")));
  QFile cache(build.filePath(QStringLiteral("tree/CMakeCache.txt")));
  ASSERT_TRUE(cache.open(QIODevice::WriteOnly));
  EXPECT_EQ(app::DefaultProgramFolder(build.filePath(QStringLiteral("tree/bin")), home),
            build.filePath(QStringLiteral("tree/bin")));
  // Installed under a prefix of the user's own, such as ~/.local: writable, but installed.
  ASSERT_TRUE(QDir(build.path()).mkpath(QStringLiteral("bin")));
  ASSERT_TRUE(QDir(build.path()).mkpath(QStringLiteral("share/doc/strobolux")));
  EXPECT_EQ(app::DefaultProgramFolder(build.filePath(QStringLiteral("bin")), home),
            QStringLiteral("/home/someone/Strobolux"));

  // The whole way: a copy in a folder the user cannot write, and a home without the folder.
  QTemporaryDir scratch;
  OpenToAll(scratch.path());
  QDir(scratch.path()).mkdir(QStringLiteral("bin"));
  QDir(scratch.path()).mkdir(QStringLiteral("home"));
  const QString bin = scratch.filePath(QStringLiteral("bin"));
  const QString user = scratch.filePath(QStringLiteral("home"));
  OpenToAll(user);
  const QString executable = QDir(bin).filePath(QStringLiteral("strobolux"));
  ASSERT_TRUE(QFile::copy(QStringLiteral(STROBOLUX_EXECUTABLE), executable));
  QFile::setPermissions(bin,
                        QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);
  const Finished help = RunProgram({"--help"}, {{"HOME", user}}, 60000, Unprivileged(executable));
  EXPECT_EQ(help.status, 0);
  EXPECT_FALSE(QDir(user).exists(QStringLiteral("Strobolux")));  // only what records makes it
  const Finished run = RunProgram(
      {"--demo-run", "2"},
      {{"HOME", user}, {"STROBOLUX_PROGRAM_FOLDER", NoValue()}, {"QT_QPA_PLATFORM", "offscreen"}},
      60000, Unprivileged(executable));
  ASSERT_FALSE(run.crashed) << run.err.join('\n').toStdString();
  EXPECT_EQ(run.status, 0) << (run.out + run.err).join('\n').toStdString();
  const QString folder = QDir(user).filePath(QStringLiteral("Strobolux"));
  EXPECT_TRUE(
      Field(run.out, QStringLiteral("run folder")).startsWith(folder + QStringLiteral("/Risunki/")))
      << run.out.join('\n').toStdString();
  EXPECT_GE(Field(run.out, QStringLiteral("pictures written")).toInt(), 2);
  for (const char* name : {"SnapShot", "Video"})
    EXPECT_TRUE(QDir(folder).exists(QString::fromLatin1(name))) << name;
  EXPECT_EQ(QDir(bin).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
            QStringList{QStringLiteral("strobolux")});
  QFile::setPermissions(bin, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST(StartupChecks, VersionAndAnEmptyDeviceListSayWhatTheyFound) {
  const Finished version = RunProgram({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out,
            QStringList{QStringLiteral("strobolux ") + QStringLiteral(STROBOLUX_VERSION)});
  // Without any GStreamer plugin nothing can be found.
  QTemporaryDir registry;
  const Finished none = RunProgram(
      {"--list-devices"}, {{"GST_PLUGIN_SYSTEM_PATH_1_0", registry.path()},
                           {"GST_PLUGIN_PATH_1_0", registry.path()},
                           {"GST_REGISTRY_1_0", registry.filePath(QStringLiteral("r.bin"))}});
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(none.out, (QStringList{QStringLiteral("no sound device found"),
                                   QStringLiteral("no camera found")}));
}

TEST(StartupChecks, ADisplayThatCannotBeOpenedGivesOneLineAndStatusOne) {
  QTemporaryDir runtime;
  // No compositor listens in an empty runtime folder.
  const QString display = UnusedDisplay();
  ASSERT_FALSE(display.isEmpty());
  const std::vector<std::vector<std::pair<QString, QString>>> cases = {
      {{"QT_QPA_PLATFORM", NoValue()}, {"DISPLAY", display}, {"WAYLAND_DISPLAY", NoValue()}},
      {{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", display}, {"WAYLAND_DISPLAY", NoValue()}},
      {{"QT_QPA_PLATFORM", NoValue()},
       {"DISPLAY", NoValue()},
       {"WAYLAND_DISPLAY", "wayland-97"},
       {"XDG_RUNTIME_DIR", runtime.path()}},
      {{"QT_QPA_PLATFORM", NoValue()}, {"DISPLAY", NoValue()}, {"WAYLAND_DISPLAY", NoValue()}},
  };
  for (const auto& environment : cases) {
    SCOPED_TRACE(environment[1].second.toStdString() + environment[2].second.toStdString());
    const Finished run = RunProgram({}, environment);
    EXPECT_FALSE(run.crashed);
    EXPECT_EQ(run.status, 1);
    ASSERT_EQ(run.err.size(), 1) << run.err.join('\n').toStdString();
    EXPECT_TRUE(run.err[0].startsWith(QStringLiteral("strobolux: ")));
  }
}

struct DemoCase {
  const char* name;
  const char* backEnd;
  const char* format;
};

void PrintTo(const DemoCase& demo, std::ostream* os) {
  *os << demo.name;
}

class DemoRunTest : public ::testing::TestWithParam<DemoCase> {};

TEST_P(DemoRunTest, FiveSecondsGiveStampedPicturesAndAnUnbrokenTone) {
  const DemoCase param = GetParam();
  ProgramFolder folder;
  const Finished run = RunProgram({"--demo-run", "5", "--back-end", param.backEnd, "--format",
                                   param.format, "--program-folder", folder.Path()});
  ASSERT_FALSE(run.crashed);
  const std::string output = run.out.join('\n').toStdString();
  ASSERT_EQ(run.status, 0) << output;
  ASSERT_EQ(run.out.size(), 6) << output;  // no message box, no failure line
  // A fresh settings folder: no delay measured for the demo's camera, and the run says so.
  EXPECT_TRUE(Field(run.out, QStringLiteral("camera delay")).startsWith(QStringLiteral("none")))
      << output;

  const QString runFolder = Field(run.out, QStringLiteral("run folder"));
  EXPECT_EQ(Field(run.out, QStringLiteral("log")), runFolder + QStringLiteral("/log.csv"));
  EXPECT_EQ(Field(run.out, QStringLiteral("phase plot")), runFolder + QStringLiteral("/phase.png"));
  EXPECT_TRUE(runFolder.startsWith(folder.Path() + QStringLiteral("/Risunki/"))) << output;
  const int pictures = Field(run.out, QStringLiteral("pictures written")).toInt();
  // 5 s of the 10 Hz clock with a picture every 4 periods: about 12.
  EXPECT_GE(pictures, 10) << output;
  EXPECT_LE(pictures, 13) << output;
  // Every 4 clock periods are 2 periods of the 5 Hz tone: each picture is due on one phase.
  QFile log(runFolder + QStringLiteral("/log.csv"));
  ASSERT_TRUE(log.open(QIODevice::ReadOnly));
  const QList<QByteArray> rows = log.readAll().trimmed().split('\n');
  const int ideal = static_cast<int>(rows.front().split(',').indexOf("ideal_phase_deg"));
  ASSERT_GE(ideal, 0) << rows.front().toStdString();  // the header comes first
  ASSERT_EQ(rows.size(), pictures + 1);
  for (qsizetype r = 2; r < rows.size(); ++r)
    EXPECT_EQ(rows[r].split(',')[ideal], rows[1].split(',')[ideal]) << rows[r].toStdString();
  // The pictures, beside the run's log and phase plot.
  const QStringList files = QDir(runFolder).entryList({QStringLiteral("*.%1").arg(param.format)},
                                                      QDir::Files, QDir::Name);
  EXPECT_EQ(files.size(), pictures);
  EXPECT_TRUE(QFile::exists(runFolder + QStringLiteral("/log.csv")));
  QImage previousStamp;
  for (int n = 1; n <= pictures; ++n) {
    const QImage picture(runFolder + QStringLiteral("/%1.%2").arg(n).arg(param.format));
    ASSERT_FALSE(picture.isNull()) << n;
    ASSERT_GE(picture.width(), 200);
    ASSERT_GE(picture.height(), 50);
    // Each stamp carries its own number and time, so no two neighbours are alike.
    const QImage stamp = picture.copy(0, 0, 200, 50).convertToFormat(QImage::Format_RGB888);
    if (n > 1) {
      EXPECT_NE(stamp, previousStamp) << "stamp " << n;
    }
    previousStamp = stamp;
  }

  const QRegularExpression wavLine(QStringLiteral("^(.+), ([0-9.]+) s$"));
  const auto match = wavLine.match(Field(run.out, QStringLiteral("tone WAV")));
  ASSERT_TRUE(match.hasMatch()) << output;
  EXPECT_EQ(match.captured(1), folder.dir.filePath(QStringLiteral("strobolux-demo-tone.wav")));
  const testing_support::WavContent wav = testing_support::ReadWav(match.captured(1));
  ASSERT_TRUE(wav.valid);
  ASSERT_EQ(wav.sampleRate, 48000u);
  const double seconds = static_cast<double>(wav.samples.size()) / wav.sampleRate;
  EXPECT_NEAR(match.captured(2).toDouble(), seconds, 0.01);
  EXPECT_GT(seconds, 4.0);
  EXPECT_LT(seconds, 8.0);
  // The 10/2 Hz tone: one period is 9600 samples, repeated without a gap or a jump, at full
  // amplitude, rising through zero five times a second.
  constexpr size_t kPeriod = 9600;
  int peak = 0, rising = 0;
  for (size_t k = 0; k < wav.samples.size(); ++k) {
    peak = std::max(peak, std::abs(static_cast<int>(wav.samples[k])));
    if (k > 0 && wav.samples[k - 1] < 0 && wav.samples[k] >= 0) ++rising;
    if (k + kPeriod < wav.samples.size()) {
      ASSERT_LE(std::abs(wav.samples[k] - wav.samples[k + kPeriod]), 1) << "sample " << k;
    }
  }
  EXPECT_GT(peak, 30000);
  EXPECT_NEAR(rising, 5 * seconds, 2);
}

INSTANTIATE_TEST_SUITE_P(BackEnds, DemoRunTest,
                         ::testing::Values(DemoCase{"CaptureBmp", "capture", "bmp"},
                                           DemoCase{"GraphBmp", "graph", "bmp"},
                                           DemoCase{"GraphJpg", "graph", "jpg"}),
                         [](const auto& info) { return std::string(info.param.name); });

// A demo run killed while the tone plays never closes the sound device: its tone WAV must be
// readable as it is left, its header claiming about all but the last second that played and
// nothing that is not in the file.
// The demo camera's delay measured from the command line, then applied by the next run of the
// same camera and format, and by no run of another format.
TEST(DemoRun, ACalibrationFromTheCommandLineIsAppliedToTheNextRunOfItsCamera) {
  ProgramFolder folder;
  const QTemporaryDir config;
  const std::vector<std::pair<QString, QString>> environment{
      {QStringLiteral("XDG_CONFIG_HOME"), config.path()}};
  const Finished calibration =
      RunProgram({"--demo", "--calibrate-camera", "6", "--scene-delay", "70", "--sound-device",
                  "Встроенный", "--camera", "Test camera YUY2", "--program-folder", folder.Path()},
                 environment);
  ASSERT_FALSE(calibration.crashed);
  const std::string told = calibration.out.join('\n').toStdString();
  ASSERT_EQ(calibration.status, 0) << told << calibration.err.join('\n').toStdString();
  const QString measured = Field(calibration.out, QStringLiteral("camera delay"));
  ASSERT_TRUE(measured.startsWith(QStringLiteral("Задержка камеры "))) << told;
  const double delay = QLocale::c().toDouble(measured.section(QLatin1Char(' '), 2, 2));
  EXPECT_NEAR(delay, 70, 2) << told;

  const Finished run = RunProgram(
      {"--demo-run", "3", "--scene-delay", "70", "--program-folder", folder.Path()}, environment);
  ASSERT_EQ(run.status, 0) << run.out.join('\n').toStdString();
  EXPECT_EQ(Field(run.out, QStringLiteral("camera delay")),
            QStringLiteral("%1 ms (calibrated)").arg(delay, 0, 'f', 1));
  // The same camera at 15 frames a second is another set-up: nothing measured for it.
  const Finished other = RunProgram(
      {"--demo-run", "3", "--scene-rate", "15", "--program-folder", folder.Path()}, environment);
  ASSERT_EQ(other.status, 0) << other.out.join('\n').toStdString();
  EXPECT_TRUE(Field(other.out, QStringLiteral("camera delay")).startsWith(QStringLiteral("none")));
}

// Nothing in front of the camera follows a silent tone: nothing is stored, and the status says so.
TEST(DemoRun, ACalibrationThatFindsNoLightFailsWithItsReason) {
  ProgramFolder folder;
  const Finished calibration =
      RunProgram({"--demo", "--calibrate-camera", "6", "--amplitude", "0", "--sound-device",
                  "Встроенный", "--camera", "Test camera YUY2", "--program-folder", folder.Path()});
  ASSERT_FALSE(calibration.crashed);
  EXPECT_EQ(calibration.status, 1);
  EXPECT_TRUE(Field(calibration.out, QStringLiteral("camera delay"))
                  .contains(QStringLiteral("нет области")))
      << calibration.out.join('\n').toStdString();
}

TEST(DemoRun, AKilledRunLeavesAToneWavWhoseHeaderFitsTheFile) {
  ProgramFolder folder;
  const QString wavPath = folder.dir.filePath(QStringLiteral("strobolux-demo-tone.wav"));
  QProcess process;
  process.start(QStringLiteral(STROBOLUX_EXECUTABLE),
                {"--demo-run", "60", "--program-folder", folder.Path()});
  ASSERT_TRUE(process.waitForStarted());
  // The demo's tone is 48 kHz 16-bit mono; the kill comes once 3 s of it are in the file.
  constexpr qint64 kBytesPerSecond = 96000;
  constexpr qint64 kPlayed = 44 + 3 * kBytesPerSecond;
  QElapsedTimer waited;
  waited.start();
  while (QFileInfo(wavPath).size() < kPlayed && process.state() == QProcess::Running &&
         waited.elapsed() < 60000)
    QThread::msleep(50);
  const qint64 sizeAtKill = QFileInfo(wavPath).size();
  process.kill();
  ASSERT_TRUE(process.waitForFinished());
  ASSERT_GE(sizeAtKill, kPlayed) << "the tone never played 3 s; the program said: "
                                 << process.readAllStandardOutput().toStdString();

  QFile file(wavPath);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray bytes = file.readAll();
  const testing_support::WavSizes sizes = testing_support::ReadWavSizes(bytes);
  ASSERT_TRUE(sizes.found);
  EXPECT_EQ(testing_support::ReadWav(wavPath).sampleRate, 48000u);
  EXPECT_LE(sizes.dataSize, bytes.size() - sizes.dataOffset);
  EXPECT_EQ(sizes.riffSize, sizes.dataOffset + sizes.dataSize - 8);
  EXPECT_GE(sizes.dataSize, kBytesPerSecond);
  // What the header claims is the tone at full amplitude.
  int peak = 0;
  const qint64 claimed = std::min<qint64>(sizes.dataSize, bytes.size() - sizes.dataOffset) / 2;
  for (qint64 k = 0; k < claimed; ++k)
    peak = std::max(peak, std::abs(static_cast<int>(qFromLittleEndian<qint16>(
                              bytes.constData() + sizes.dataOffset + 2 * k))));
  EXPECT_GT(peak, 30000);
}

// The main job from the command line, on the built-in devices: the window's own checks refuse
// a setting with its message and status 2 before any tone or run folder.
TEST(Run, SetsTheWindowAsAnOperatorWouldAndRefusesWhatTheWindowRefuses) {
  ProgramFolder folder;
  const QStringList common = {"--demo", "--program-folder", folder.Path(), "--sound-device",
                              QStringLiteral("Встроенный")};
  const Finished run =
      RunProgram(QStringList{"--run", "3", "--camera", "MJPEG", "--back-end", "graph", "--format",
                             "jpg", "--tone", "10/2", "--every", "4"} +
                 common);
  ASSERT_FALSE(run.crashed);
  ASSERT_EQ(run.status, 0) << (run.out + run.err).join('\n').toStdString();
  const QString runFolder = Field(run.out, QStringLiteral("run folder"));
  const int pictures = Field(run.out, QStringLiteral("pictures written")).toInt();
  EXPECT_GE(pictures, 6);
  EXPECT_LE(pictures, 8);
  EXPECT_EQ(QDir(runFolder).entryList({QStringLiteral("*.jpg")}, QDir::Files).size(), pictures);

  const std::vector<std::pair<QStringList, QString>> refused = {
      {{"--tone", "1/2"}, QStringLiteral("Частота не может быть задана меньше 2 Гц")},
      {{"--tone", "10/3"},
       QStringLiteral("Знаменатель у частоты не может быть меньше 2 и должен быть кратен 2")},
      {{"--every", "0"}, QStringLiteral("NC0 не может быть меньше 1")},
  };
  for (const auto& [settings, message] : refused) {
    SCOPED_TRACE(settings.join(QLatin1Char(' ')).toStdString());
    const Finished no = RunProgram(QStringList{"--run", "3"} + settings + common);
    EXPECT_EQ(no.status, 2);
    EXPECT_EQ(no.err, QStringList{QStringLiteral("strobolux: ") + message});
    EXPECT_TRUE(no.out.isEmpty());
  }
  const Finished unknown = RunProgram({"--run", "3", "--demo", "--program-folder", folder.Path(),
                                       "--sound-device", "no such device"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_EQ(QDir(folder.dir.filePath(QStringLiteral("Risunki")))
                .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                .size(),
            1);  // only the good run's
}

// Each back end and format; and the tone's settings as the tone itself shows them, played by
// the built-in device into its WAV file.
TEST(Run, EachBackEndAndFormatAndTheTonesSettingsReachTheWindow) {
  for (const DemoCase& run :
       {DemoCase{"CaptureBmp", "capture", "bmp"}, DemoCase{"GraphBmp", "graph", "bmp"}}) {
    SCOPED_TRACE(run.name);
    ProgramFolder folder;
    const Finished done =
        RunProgram({"--run", "3", "--demo", "--program-folder", folder.Path(), "--sound-device",
                    QStringLiteral("Встроенный"), "--back-end", run.backEnd, "--format", run.format,
                    "--tone", "10/2", "--every", "4"});
    ASSERT_EQ(done.status, 0) << (done.out + done.err).join('\n').toStdString();
    const QString runFolder = Field(done.out, QStringLiteral("run folder"));
    const int pictures = Field(done.out, QStringLiteral("pictures written")).toInt();
    EXPECT_GE(pictures, 6);
    EXPECT_EQ(QDir(runFolder).entryList({QStringLiteral("*.bmp")}, QDir::Files).size(), pictures);
    EXPECT_EQ(Field(done.out, QStringLiteral("log")), runFolder + QStringLiteral("/log.csv"));
    EXPECT_EQ(Field(done.out, QStringLiteral("phase plot")),
              runFolder + QStringLiteral("/phase.png"));
  }

  ProgramFolder folder;
  const Finished done = RunProgram({"--run",
                                    "2",
                                    "--demo",
                                    "--program-folder",
                                    folder.Path(),
                                    "--sound-device",
                                    QStringLiteral("Встроенный"),
                                    "--tone",
                                    "20/2",
                                    "--amplitude",
                                    "50",
                                    "--shape",
                                    "triangle",
                                    "--phase",
                                    "270",
                                    "--sample-rate",
                                    "44100",
                                    "--timer",
                                    "1",
                                    "--show-pictures"});
  ASSERT_EQ(done.status, 0) << (done.out + done.err).join('\n').toStdString();
  // The Timer 1 mode renews one picture.
  EXPECT_EQ(QDir(Field(done.out, QStringLiteral("run folder")))
                .entryList({QStringLiteral("*.bmp")}, QDir::Files),
            QStringList{QStringLiteral("0.bmp")});
  const testing_support::WavContent wav =
      testing_support::ReadWav(folder.dir.filePath(QStringLiteral("strobolux-demo-tone.wav")));
  ASSERT_TRUE(wav.valid);
  EXPECT_EQ(wav.sampleRate, 44100u);
  ASSERT_GT(wav.samples.size(), 44100u);
  int peak = 0;
  for (const std::int16_t s : wav.samples) peak = std::max(peak, std::abs(int{s}));
  EXPECT_NEAR(peak, 16384, 400);  // half the full scale
  // Starting at 270°, at its lowest; a triangle rises straight from there: an eighth of a
  // period on it is half way up (a sine would still be at -0.71 of its amplitude).
  constexpr size_t kPeriod = 4410;  // 10 Hz at 44100 Hz
  EXPECT_LT(wav.samples[0], -16000);
  EXPECT_NEAR(wav.samples[kPeriod / 8], -8192, 300);
}

// A run until stopped, on the built-in devices, in a program folder of its own.
struct RunningProgram {
  ProgramFolder folder;
  QProcess process;
  explicit RunningProgram(const QStringList& extra = {}) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(STROBOLUX_EXECUTABLE),
                  QStringList{"--run", "0", "--demo", "--program-folder", folder.Path(),
                              "--sound-device", QStringLiteral("Встроенный")} +
                      extra);
  }
  // Waits until the run has written `pictures` pictures; their folder, or empty.
  QString WaitForPictures(int pictures) {
    const QDir base(folder.dir.filePath(QStringLiteral("Risunki")));
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 30000) {
      const QStringList runs = base.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
      if (runs.size() == 1) {
        QString run = base.filePath(runs[0]);
        if (QDir(run).entryList({QStringLiteral("*.bmp")}, QDir::Files).size() >= pictures)
          return run;
      }
      QThread::msleep(50);
    }
    return QString();
  }
};

// Every file of a stopped run is whole: pictures that load, one log row each, and nothing
// left under a temporary name.
// Without `withPlot` the plot may be there or not (a stop cut short).
void ExpectAWholeRunFolder(const QString& run, bool withPlot) {
  const QStringList pictures = QDir(run).entryList({QStringLiteral("*.bmp")}, QDir::Files);
  for (const QString& name : pictures)
    EXPECT_FALSE(QImage(QDir(run).filePath(name)).isNull()) << name.toStdString();
  QFile log(QDir(run).filePath(QStringLiteral("log.csv")));
  ASSERT_TRUE(log.open(QIODevice::ReadOnly));
  EXPECT_EQ(log.readAll().trimmed().split('\n').size(), pictures.size() + 1);
  QStringList expected = pictures;
  expected << QStringLiteral("log.csv") << QStringLiteral("run.json");
  if (withPlot) expected << QStringLiteral("phase.png");
  expected.sort();
  QStringList found = QDir(run).entryList(QDir::Files | QDir::Hidden, QDir::Name);
  if (!withPlot) found.removeAll(QStringLiteral("phase.png"));
  EXPECT_EQ(found, expected);
}

QJsonObject RunRecordOf(const QString& run) {
  QFile file(QDir(run).filePath(QStringLiteral("run.json")));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QJsonDocument::fromJson(file.readAll()).object();
}

// Frames chosen by phase: the run's first line says what error to expect, each row says which
// rule took its frame and the error it had, and the record says the choice.
TEST(Run, FramesChosenByPhaseAreSaidBeforeTheRunAndInEachRow) {
  ProgramFolder folder;
  const Finished done =
      RunProgram({"--run", "3", "--demo", "--program-folder", folder.Path(), "--back-end", "graph",
                  "--tone", "10/2", "--every", "2", "--frame-choice", "phase"});
  ASSERT_EQ(done.status, 0) << (done.out + done.err).join('\n').toStdString();
  ASSERT_FALSE(done.out.isEmpty());
  // 30 frames a second against 5 Hz: six phases 60° apart, at most 30° off.
  EXPECT_TRUE(done.out.front().startsWith(QStringLiteral("frame by phase: phase error about")))
      << done.out.front().toStdString();
  EXPECT_TRUE(done.out.front().contains(QStringLiteral("6 phases 60.0° apart")))
      << done.out.front().toStdString();
  const QString run = Field(done.out, QStringLiteral("run folder"));
  EXPECT_EQ(RunRecordOf(run)[QStringLiteral("settings")].toObject()[QStringLiteral("frame_choice")],
            QStringLiteral("phase"));
  QFile log(QDir(run).filePath(QStringLiteral("log.csv")));
  ASSERT_TRUE(log.open(QIODevice::ReadOnly));
  const QStringList lines = QString::fromUtf8(log.readAll()).split('\n', Qt::SkipEmptyParts);
  const QStringList header = lines.front().split(',');
  const auto rule = header.indexOf(QStringLiteral("frame_rule"));
  const auto error = header.indexOf(QStringLiteral("phase_error_deg"));
  ASSERT_GE(rule, 0);
  ASSERT_GE(lines.size(), 6);
  // The last picture's window may be cut by the stop before any frame: it takes the nearest.
  for (const QString& line : lines.mid(1, lines.size() - 2)) {
    const QStringList cells = line.split(',');
    EXPECT_EQ(cells.value(rule), QStringLiteral("phase")) << line.toStdString();
    bool number = false;
    EXPECT_LE(std::abs(cells.value(error).toDouble(&number)), 31) << line.toStdString();
    EXPECT_TRUE(number) << line.toStdString();
  }
}

// A program killed outright leaves the record of its start, whole: settings, devices, T0.
TEST(Run, AKilledRunLeavesTheRecordOfItsStart) {
  RunningProgram running({"--tone", "10/2", "--every", "2"});
  const QString run = running.WaitForPictures(2);
  ASSERT_FALSE(run.isEmpty());
  running.process.kill();
  ASSERT_TRUE(running.process.waitForFinished(30000));
  const QJsonObject record = RunRecordOf(run);
  ASSERT_FALSE(record.isEmpty());
  EXPECT_TRUE(record[QStringLiteral("end")].isNull());
  EXPECT_FALSE(record[QStringLiteral("t0")].toString().isEmpty());
  EXPECT_EQ(record[QStringLiteral("settings")][QStringLiteral("tone_hz")].toDouble(), 5.0);
  EXPECT_EQ(record[QStringLiteral("settings")][QStringLiteral("every_periods")].toInt(), 2);
  EXPECT_TRUE(
      record[QStringLiteral("sound_device")].toString().contains(QStringLiteral("Встроенный")));
  EXPECT_GT(
      record[QStringLiteral("camera")][QStringLiteral("format")][QStringLiteral("width")].toInt(),
      0);
}

TEST(Run, SigintOrSigtermStopsItAsTheStopButtonDoesAndASecondSigintAtOnce) {
  for (const bool video : {false, true}) {
    for (const int signal : {SIGINT, SIGTERM}) {
      SCOPED_TRACE(std::string(signal == SIGINT ? "SIGINT" : "SIGTERM") +
                   (video ? " during a video" : ""));
      RunningProgram running(video ? QStringList{"--video"} : QStringList{});
      const QString run = running.WaitForPictures(3);
      ASSERT_FALSE(run.isEmpty());
      ::kill(static_cast<pid_t>(running.process.processId()), signal);
      ASSERT_TRUE(running.process.waitForFinished(30000));
      EXPECT_EQ(running.process.exitStatus(), QProcess::NormalExit);
      EXPECT_EQ(running.process.exitCode(), 0);
      EXPECT_TRUE(running.process.readAllStandardError().contains("stopping at the next picture"));
      const QStringList out = QString::fromLocal8Bit(running.process.readAllStandardOutput())
                                  .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
      EXPECT_EQ(Field(out, QStringLiteral("run folder")), run) << out.join('\n').toStdString();
      ExpectAWholeRunFolder(run, true);
      const QJsonObject record = RunRecordOf(run);
      EXPECT_EQ(record[QStringLiteral("end")][QStringLiteral("how")].toString(),
                QStringLiteral("signal"));
      EXPECT_GE(record[QStringLiteral("pictures")][QStringLiteral("written")].toInt(), 3);
      const QStringList videos =
          QDir(running.folder.dir.filePath(QStringLiteral("Video"))).entryList(QDir::Files);
      if (!video) {
        EXPECT_TRUE(videos.isEmpty());
        continue;
      }
      // The one video of the run, stopped by its own button: whole, with its index.
      ASSERT_EQ(videos.size(), 1);
      const QString path = running.folder.dir.filePath(QStringLiteral("Video/") + videos[0]);
      EXPECT_EQ(Field(out, QStringLiteral("video")), path);
      const testing_support::AviInfo avi = testing_support::ReadAvi(path);
      EXPECT_TRUE(avi.valid);
      EXPECT_TRUE(avi.hasIndex);
      EXPECT_EQ(avi.audioStreams, 0);
      EXPECT_GE(avi.Seconds(), 1.5);
    }
  }
  // Two at once: the second ends the stop at once, and what was written stays whole.
  RunningProgram running;
  const QString run = running.WaitForPictures(3);
  ASSERT_FALSE(run.isEmpty());
  const auto pid = static_cast<pid_t>(running.process.processId());
  ::kill(pid, SIGINT);
  QThread::msleep(20);  // two at once would be one: signals of a kind do not queue
  ::kill(pid, SIGINT);
  ASSERT_TRUE(running.process.waitForFinished(30000));
  EXPECT_EQ(running.process.exitCode(), 130);
  ExpectAWholeRunFolder(run, false);
}

// A run that analyses every frame and is stopped by a signal still writes what its frames
// gave: the bins' pictures and period, the maps and their arrays, and says so in run.json and
// its summary. 29/4 Hz against 30 frames a second: the frames pass 120 phases, 12 bins fill.
TEST(Run, StoppedByASignalItsEveryFrameAnalysisIsWritten) {
  RunningProgram running(
      {"--tone", "29/4", "--every", "2", "--phase-bins", "12", "--bins-fps", "6", "--lock-in"});
  const QString run = running.WaitForPictures(30);  // 2 s: about 60 frames
  ASSERT_FALSE(run.isEmpty());
  ::kill(static_cast<pid_t>(running.process.processId()), SIGTERM);
  ASSERT_TRUE(running.process.waitForFinished(30000));
  EXPECT_EQ(running.process.exitCode(), 0) << running.process.readAllStandardError().toStdString();
  const QString out = QString::fromLocal8Bit(running.process.readAllStandardOutput());
  EXPECT_TRUE(out.contains(QStringLiteral("phase bins: 12 bins, 0 empty, written in bins/")))
      << out.toStdString();
  EXPECT_TRUE(out.contains(QStringLiteral("lock-in maps: written"))) << out.toStdString();
  const QDir dir(run);
  for (const char* name : {"amplitude.png", "phase-map.png", "amplitude.npy", "phase.npy",
                           "offset.npy", "amplitude-sigma.npy", "phase-sigma.npy"})
    EXPECT_TRUE(dir.exists(QLatin1String(name))) << name;
  const QStringList bins =
      QDir(dir.filePath(QStringLiteral("bins"))).entryList({QStringLiteral("bin-*.png")});
  EXPECT_EQ(bins.size(), 12);
  const testing_support::AviInfo avi =
      testing_support::ReadAvi(dir.filePath(QStringLiteral("bins/period.avi")));
  EXPECT_TRUE(avi.valid);
  EXPECT_EQ(avi.totalFrames, 12u);
  EXPECT_NEAR(avi.microSecPerFrame, 1e6 / 6, 1);
  // Nothing left under a temporary name.
  EXPECT_TRUE(dir.entryList({QStringLiteral(".*")}, QDir::Files | QDir::Hidden).isEmpty());
  const QJsonObject record = RunRecordOf(run);
  EXPECT_EQ(record[QStringLiteral("end")][QStringLiteral("how")].toString(),
            QStringLiteral("signal"));
  const QJsonObject settings = record[QStringLiteral("settings")].toObject();
  EXPECT_EQ(settings[QStringLiteral("phase_bins")].toInt(), 12);
  EXPECT_EQ(settings[QStringLiteral("phase_bins_fps")].toDouble(), 6);
  EXPECT_TRUE(settings[QStringLiteral("lock_in")].toBool());
  const QJsonObject all = record[QStringLiteral("all_frames")].toObject();
  EXPECT_GT(all[QStringLiteral("frames")].toInt(), 30);
  EXPECT_EQ(all[QStringLiteral("phase_bins")][QStringLiteral("empty")].toInt(), 0);
  EXPECT_TRUE(all[QStringLiteral("lock_in")][QStringLiteral("written")].toBool());
  EXPECT_GT(all[QStringLiteral("lock_in")][QStringLiteral("distinct_phases")].toInt(), 30);
}

// What GStreamer's own AVI reader makes of a file: the video frames it delivers and their rate.
struct Demuxed {
  bool ended = false;  // the whole file was read, without an error
  int frames = 0;
  int rateNum = 0;
  int rateDen = 0;
};

Demuxed Demux(const QString& path) {
  gst::EnsureInitialized();
  Demuxed result;
  GError* raw = nullptr;
  const gst::ElementPtr pipeline(gst::Adopt(gst_parse_launch(
      "filesrc name=file ! avidemux name=demux demux.video_0 ! fakesink name=sink sync=false",
      &raw)));
  const gst::ErrorPtr error(raw);
  if (!pipeline) return result;
  const gst::ElementPtr file(gst_bin_get_by_name(GST_BIN(pipeline.get()), "file"));
  g_object_set(file.get(), "location", QFile::encodeName(path).constData(), nullptr);
  const gst::ElementPtr sink(gst_bin_get_by_name(GST_BIN(pipeline.get()), "sink"));
  const gst::PadPtr pad(gst_element_get_static_pad(sink.get(), "sink"));
  gst_pad_add_probe(
      pad.get(),
      static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
      [](GstPad*, GstPadProbeInfo* info, gpointer data) {
        auto* demuxed = static_cast<Demuxed*>(data);
        if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER) {
          ++demuxed->frames;
        } else if (GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
                   GST_EVENT_TYPE(event) == GST_EVENT_CAPS) {
          GstCaps* caps = nullptr;
          gst_event_parse_caps(event, &caps);
          gst_structure_get_fraction(gst_caps_get_structure(caps, 0), "framerate",
                                     &demuxed->rateNum, &demuxed->rateDen);
        }
        return GST_PAD_PROBE_OK;
      },
      &result, nullptr);
  gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
  const gst::BusPtr bus(gst_element_get_bus(pipeline.get()));
  const gst::MessagePtr end(
      gst_bus_timed_pop_filtered(bus.get(), 30 * GST_SECOND,
                                 static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
  result.ended = end && GST_MESSAGE_TYPE(end.get()) == GST_MESSAGE_EOS;
  gst_element_set_state(pipeline.get(), GST_STATE_NULL);
  return result;
}

// A recording killed with the program (kill -9, as a power cut leaves it) has its frames
// back after --repair-avi, as GStreamer's AVI reader finds them; the start-up repairs such a
// file in Video/ by itself.
TEST(VideoRepair, AVideoKilledWithTheProgramIsRepairedWithTheFramesItHad) {
  RunningProgram running({"--video"});
  ASSERT_TRUE(running.process.waitForStarted());
  const QDir videos(running.folder.dir.filePath(QStringLiteral("Video")));
  QString path;
  QElapsedTimer waited;
  waited.start();
  // The recording has begun when its first frame follows the header.
  while (waited.elapsed() < 30000 && running.process.state() == QProcess::Running) {
    const QStringList files = videos.entryList({QStringLiteral("*.avi")}, QDir::Files);
    if (!files.isEmpty() && QFileInfo(videos.filePath(files[0])).size() > 4096) {
      path = videos.filePath(files[0]);
      break;
    }
    QThread::msleep(20);
  }
  ASSERT_FALSE(path.isEmpty()) << running.process.readAllStandardError().toStdString();
  QElapsedTimer recording;
  recording.start();
  QThread::msleep(3000);
  running.process.kill();
  const double recordedSeconds = recording.elapsed() / 1000.0;
  ASSERT_TRUE(running.process.waitForFinished(10000));
  ASSERT_EQ(running.process.exitStatus(), QProcess::CrashExit);

  const testing_support::AviInfo killed = testing_support::ReadAvi(path);
  ASSERT_TRUE(killed.valid);
  EXPECT_EQ(killed.totalFrames, 0u);  // what the end of the stream would have set
  EXPECT_EQ(killed.idx1Entries, 0u);
  ASSERT_GT(killed.microSecPerFrame, 0u);
  const double rate = 1e6 / killed.microSecPerFrame;
  // A copy that the start-up finds an hour later, untouched since.
  const QString older = videos.filePath(QStringLiteral("older.avi"));
  ASSERT_TRUE(QFile::copy(path, older));
  {
    QFile file(older);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(-3600),
                                 QFileDevice::FileModificationTime));
  }

  const Finished repair = RunProgram({"--repair-avi", path});
  ASSERT_EQ(repair.status, 0) << (repair.out + repair.err).join('\n').toStdString();
  ASSERT_EQ(repair.out.size(), 1);
  const QRegularExpressionMatch said =
      QRegularExpression(QStringLiteral("^repaired (.+): (\\d+) frames kept")).match(repair.out[0]);
  ASSERT_TRUE(said.hasMatch()) << repair.out[0].toStdString();
  EXPECT_EQ(said.captured(1), path);
  const int kept = said.captured(2).toInt();
  // The frames of about 3 s at the recorded rate, less what was not on the disk yet.
  EXPECT_GE(kept, static_cast<int>(1.5 * rate));
  EXPECT_LE(kept, static_cast<int>((recordedSeconds + 1.0) * rate) + 1);

  const Demuxed played = Demux(path);
  EXPECT_TRUE(played.ended);
  EXPECT_EQ(played.frames, kept);
  ASSERT_GT(played.rateDen, 0);
  EXPECT_NEAR(static_cast<double>(played.rateNum) / played.rateDen, rate, 1e-3);
  const testing_support::AviInfo repaired = testing_support::ReadAvi(path);
  EXPECT_EQ(repaired.totalFrames, static_cast<std::uint32_t>(kept));
  EXPECT_EQ(repaired.idx1Entries, static_cast<std::uint32_t>(kept));
  EXPECT_EQ(repaired.microSecPerFrame, killed.microSecPerFrame);

  // Sound now: left alone.
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray bytes = file.readAll();
  const Finished again = RunProgram({"--repair-avi", path});
  EXPECT_EQ(again.status, 0);
  EXPECT_EQ(again.out, QStringList{path + QStringLiteral(" needs no repair")});
  QFile same(path);
  ASSERT_TRUE(same.open(QIODevice::ReadOnly));
  EXPECT_EQ(same.readAll(), bytes);
  const Finished missing = RunProgram({"--repair-avi", path + QStringLiteral(".gone")});
  EXPECT_EQ(missing.status, 1);
  ASSERT_EQ(missing.err.size(), 1);
  EXPECT_TRUE(missing.err[0].startsWith(QStringLiteral("strobolux: cannot repair ")));

  // The start-up repairs the older copy before the window shows, and says so.
  const Finished start = RunProgram({"--demo-run", "1", "--program-folder", running.folder.Path()});
  EXPECT_EQ(start.status, 0) << (start.out + start.err).join('\n').toStdString();
  QString sameRepair = repair.out[0];
  sameRepair.replace(path, older);
  EXPECT_TRUE(start.err.contains(QStringLiteral("strobolux: ") + sameRepair))
      << start.err.join('\n').toStdString();
  const testing_support::AviInfo startUp = testing_support::ReadAvi(older);
  EXPECT_EQ(startUp.idx1Entries, static_cast<std::uint32_t>(kept));
  EXPECT_EQ(Demux(older).frames, kept);
}

// A run the window cannot go on with ends by itself: here the run folder goes away under it,
// the next picture cannot be saved, and the window's box ends the run with status 1.
TEST(Run, AMessageBoxDuringTheRunEndsItWithStatusOne) {
  RunningProgram running;
  const QString run = running.WaitForPictures(2);
  ASSERT_FALSE(run.isEmpty());
  ASSERT_TRUE(QDir(run).removeRecursively());
  ASSERT_TRUE(running.process.waitForFinished(30000));
  EXPECT_EQ(running.process.exitCode(), 1);
  const QString out = QString::fromLocal8Bit(running.process.readAllStandardOutput());
  EXPECT_TRUE(out.contains(QStringLiteral("message box: ") +
                           QString::fromUtf8("Ошибка в работе программы")))
      << out.toStdString();
}

TEST(Run, ProgressIsALineEveryTenSecondsOnAPipeAndOneRewrittenEverySecondOnATerminal) {
  ProgramFolder folder;
  const QStringList arguments = {"--run",
                                 "12",
                                 "--demo",
                                 "--program-folder",
                                 folder.Path(),
                                 "--sound-device",
                                 QStringLiteral("Встроенный")};
  const Finished piped = RunProgram(arguments, {{"QT_QPA_PLATFORM", "offscreen"}});
  ASSERT_EQ(piped.status, 0) << piped.err.join('\n').toStdString();
  ASSERT_GE(piped.out.size(), 3);
  // One progress line at 10 s (shown at the clock's next instant, a second or two later under
  // load), then the summary.
  EXPECT_TRUE(
      piped.out[0].contains(QRegularExpression(QStringLiteral("^1[0-2] s / 12 s  pictures "))))
      << piped.out[0].toStdString();
  EXPECT_TRUE(piped.out[0].contains(QStringLiteral("free "))) << piped.out[0].toStdString();
  EXPECT_TRUE(piped.out[1].startsWith(QStringLiteral("run folder: ")));

  // On a terminal (script(1) gives the program one): the line is rewritten in place.
  QProcess terminal;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  terminal.setProcessEnvironment(environment);
  QStringList quoted;
  for (const QString& argument :
       QStringList{QStringLiteral(STROBOLUX_EXECUTABLE), "--run", "3", "--demo", "--program-folder",
                   folder.Path(), "--sound-device", "Test output"})
    quoted << QStringLiteral("'%1'").arg(argument);
  terminal.start(QStringLiteral("script"),
                 {"-qec",
                  quoted.join(QLatin1Char(' '))
                      .replace(QStringLiteral("'Test output'"), QStringLiteral("'Встроенный'")),
                  "/dev/null"});
  ASSERT_TRUE(terminal.waitForFinished(60000));
  EXPECT_EQ(terminal.exitCode(), 0);
  const QByteArray screen = terminal.readAllStandardOutput();
  EXPECT_GE(screen.count("\r3 s / 3 s") + screen.count("\r2 s / 3 s") + screen.count("\r1 s / 3 s"),
            2)
      << screen.toStdString();
  EXPECT_GE(screen.count("\033[K"), 2);
}

TEST(DemoDevices, ListedOnlyWithDemoAndAfterTheRealOnes) {
  ProgramFolder folder;
  const Finished plain = RunProgram({"--list-devices", "--program-folder", folder.Path()});
  ASSERT_EQ(plain.status, 0);
  EXPECT_FALSE(plain.out.join('\n').contains(QStringLiteral("strobolux-demo-tone.wav")));
  EXPECT_FALSE(plain.out.join('\n').contains(QStringLiteral("Test camera")));

  const Finished demo = RunProgram({"--list-devices", "--demo", "--program-folder", folder.Path()});
  ASSERT_EQ(demo.status, 0);
  // Whatever real devices this machine has come first, in the same order.
  QStringList expected =
      plain.out.filter(QRegularExpression(QStringLiteral("^(sound device|camera): ")));
  const qsizetype cameras = expected.indexOf(QRegularExpression(QStringLiteral("^camera: ")));
  expected.insert(cameras < 0 ? expected.size() : cameras,
                  QStringLiteral("sound device: Встроенный выход в файл strobolux-demo-tone.wav"));
  expected << QStringLiteral("camera: Test camera YUY2")
           << QStringLiteral("camera: Test camera MJPEG");
  EXPECT_EQ(demo.out, expected);
}

TEST(DemoRun, RunsOffscreenWhenTheNamedDisplayCannotBeOpened) {
  ProgramFolder folder;
  const QString display = UnusedDisplay();
  ASSERT_FALSE(display.isEmpty());
  const Finished run = RunProgram(
      {"--demo-run", "1", "--program-folder", folder.Path()},
      {{"QT_QPA_PLATFORM", NoValue()}, {"DISPLAY", display}, {"WAYLAND_DISPLAY", NoValue()}});
  EXPECT_FALSE(run.crashed);
  EXPECT_EQ(run.status, 0) << run.out.join('\n').toStdString() << run.err.join('\n').toStdString();
  EXPECT_TRUE(Field(run.out, QStringLiteral("run folder")).startsWith(folder.Path()));
}

}  // namespace
