#include <QApplication>
#include <QDir>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "app/app_style.h"
#include "app/demo_run.h"
#include "app/logging.h"
#include "app/main_window.h"
#include "app/startup_options.h"
#include "platform/forms/application.h"
#include "platform/wave/wave_out.h"
#include "recording/output_files.h"

namespace {

void PrintLine(const QString& text) {
  std::fprintf(stderr, "strobolux: %s\n", text.toLocal8Bit().constData());
}

// A run a script operates (a calibration too), which needs no display.
bool ScriptedRun(const app::StartupOptions& options) {
  return options.demoRunSeconds > 0 || options.run;
}

// The run the options ask for, to its end; returns the exit status.
int Run(const app::StartupOptions& options) {
  if (ScriptedRun(options)) {
    app::DemoRunSettings settings;
    settings.seconds = options.demoRunSeconds;
    settings.calibrateSeconds = options.calibrateSeconds;
    settings.filterGraph = options.filterGraph;
    settings.jpeg = options.jpeg;
    settings.run = options.run;
    const app::DemoRunSummary summary = app::RunDemo(settings);
    // A setting the window refused: its text, and nothing was started.
    if (!summary.refused.isEmpty()) {
      PrintLine(summary.refused);
      return 2;
    }
    for (const QString& line : app::SummaryLines(summary))
      std::printf("%s\n", line.toLocal8Bit().constData());
    return summary.Succeeded() ? 0 : 1;
  }
  app::Form1 form1;
  form1.show();
  return QApplication::exec();
}

// The arguments after the program name.
QStringList Arguments(int argc, char* argv[]) {
  QStringList arguments;
  for (int i = 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  return arguments;
}

// --help, --version and --repair-avi, which end before anything else is looked at: the exit
// status, or none when the options ask for none of them.
std::optional<int> RunCommand(const app::StartupOptions& options) {
  if (options.help) {
    std::fputs(app::UsageText().toLocal8Bit().constData(), stdout);
    return 0;
  }
  if (options.version) {
    std::printf("%s\n", app::VersionText().toLocal8Bit().constData());
    return 0;
  }
  if (!options.repairAvi.isEmpty()) {
    QString line;
    const bool sound = app::RepairAviFile(options.repairAvi, &line);
    if (sound)
      std::printf("%s\n", line.toLocal8Bit().constData());
    else
      PrintLine(line);
    return sound ? 0 : 1;
  }
  return std::nullopt;
}

// --list-devices and --list-controls: the lines printed; returns the exit status.
int ListDevices(const app::StartupOptions& options, const QString& programFolder, int& argc,
                char* argv[]) {
  const QCoreApplication core(argc, argv);  // the program folder names the demo's WAV file
  if (!programFolder.isEmpty()) recording::SetProgramFolder(programFolder);
  if (options.demo) app::RegisterDemoDevices(options.scene);
  if (options.listControls) {
    const app::ControlListing listing = app::ListControls(options.listControlsCamera);
    for (const QString& line : listing.lines) std::printf("%s\n", line.toLocal8Bit().constData());
    if (!listing.error.isEmpty()) PrintLine(listing.error);
    return listing.status;
  }
  for (const QString& line : app::DeviceLines(options.listFormats))
    std::printf("%s\n", line.toLocal8Bit().constData());
  return 0;
}

// --check-display: says why no window could be shown; returns the exit status.
int CheckDisplay() {
  const QString problem = app::DisplayProblem();
  if (!problem.isEmpty()) PrintLine(problem);
  return problem.isEmpty() ? 0 : 1;
}

// The program folder made where the default one is missing, and checked: true when the
// program can record into it; otherwise the line is printed.
bool ProgramFolderReady(const app::StartupOptions& options, const QString& programFolder,
                        bool folderNamed) {
  if (programFolder.isEmpty()) {
    PrintLine(QStringLiteral("no home folder to record into; name one with --program-folder"));
    return false;
  }
  if (!folderNamed) {
    const QString problem = app::MakeProgramFolders(programFolder);
    if (!problem.isEmpty()) {
      PrintLine(problem);
      return false;
    }
  }
  if (const QString problem = app::ProgramFolderProblem(programFolder); !problem.isEmpty()) {
    PrintLine(problem);
    return false;
  }
  // A folder the pictures, snapshots or videos cannot go into would show only as the general
  // message at the first picture: a scripted run stops here; the window starts, as it always
  // does, with the line in its log.
  if (const QString problem = app::RecordingFoldersProblem(programFolder); !problem.isEmpty()) {
    if (ScriptedRun(options)) {
      PrintLine(problem);
      return false;
    }
    qCWarning(app::lcApp).noquote() << problem;
  }
  return true;
}

// Qt aborts with a long plugin message when it cannot open the display; say it in one line
// instead. The demo run needs no display and draws offscreen without one. False when the
// program cannot go on; the line is printed.
bool DisplayReady(const app::StartupOptions& options) {
  const QString displayProblem = app::DisplayProblem();
  if (!displayProblem.isEmpty()) {
    if (!ScriptedRun(options)) {
      PrintLine(displayProblem);
      return false;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  return true;
}

// The application object around the run the options ask for; returns the exit status.
int RunApplication(const app::StartupOptions& options, const QString& programFolder, int& argc,
                   char* argv[]) {
  app::EnsureRuntimeFolder();
  forms::Application application(argc, argv);
  application.setQuitOnLastWindowClosed(false);  // the exit button ends the program
  app::ApplyApplicationStyle(application);
  recording::SetProgramFolder(programFolder);
  if (options.demo || options.demoRunSeconds > 0) app::RegisterDemoDevices(options.scene);
  // Videos a power cut or a kill left without their index play again before the window
  // offers to record more.
  for (const QString& line : app::RepairVideoFolder(programFolder)) PrintLine(line);
  const int status = Run(options);
  // Everything of the program is closed by now: the window and its pipelines, the pictures,
  // the run log. The tone's device and the last video's pipeline may still be taken down in
  // the background, and a video's release calls back into the application object. (The
  // device monitor runs on: see DeviceMonitor::Instance.)
  app::WaitForVideoReleases();
  wave::WaitForReleases();
  if (forms::Application::TeardownIsFaulty()) forms::Application::EndWithoutTeardown(status);
  return status;
}

}  // namespace

int main(int argc, char* argv[]) {
  QString error;
  const std::optional<app::StartupOptions> options = app::ParseStartupOptions(
      Arguments(argc, argv), qEnvironmentVariable("STROBOLUX_PROGRAM_FOLDER"), &error);
  if (!options) {
    PrintLine(error);
    return 2;  // a wrong option, as scripts tell it from a failed run
  }
  if (const std::optional<int> status = RunCommand(*options)) return *status;
  // Named by the operator, the folder must be there; the default one is the user's own or
  // a build tree's, and only what records makes it.
  const bool folderNamed = !options->programFolder.isEmpty();
  const QString programFolder =
      folderNamed ? options->programFolder
                  : app::DefaultProgramFolder(app::ExecutableFolder(), app::HomeFolder());
  if (options->listDevices || options->listControls)
    return ListDevices(*options, programFolder, argc, argv);
  if (options->checkDisplay) return CheckDisplay();
  if (!ProgramFolderReady(*options, programFolder, folderNamed)) return 1;
  if (!DisplayReady(*options)) return 1;
  return RunApplication(*options, programFolder, argc, argv);
}
