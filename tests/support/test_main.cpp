#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

#include "platform/forms/application.h"

#include "app/app_style.h"
#include "tests/support/gst_leak_check.h"

namespace {

// Each test starts with no settings: what one stored (a camera's delay, controls, format)
// must not steer the next when a suite runs in one process.
class FreshSettings : public ::testing::EmptyTestEventListener {
 public:
  explicit FreshSettings(QString folder) : folder_(std::move(folder)) {}
  void OnTestStart(const ::testing::TestInfo&) override {
    QDir(folder_).removeRecursively();
    QDir().mkpath(folder_);
  }

 private:
  QString folder_;
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Tests never need a display, also when run by hand or listed at discovery time.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // Settings a test stores (a camera's delay) go to a folder of its own, never the user's;
  // the programs a test starts inherit it.
  const QTemporaryDir config;
  if (!config.isValid()) {
    std::fprintf(stderr, "no private settings folder: %s\n", qPrintable(config.errorString()));
    return 1;
  }
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
  ::testing::UnitTest::GetInstance()->listeners().Append(new FreshSettings(config.path()));
  forms::Application application(argc, argv);
  application.setQuitOnLastWindowClosed(false);
  app::ApplyApplicationStyle(application);
  testing_support::BeginGstLeakCheck();
  const int status = RUN_ALL_TESTS();
  return status != 0 ? status : testing_support::EndGstLeakCheck();
}
