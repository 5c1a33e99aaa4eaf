#include <gtest/gtest.h>

#include "platform/forms/application.h"

#include "app/app_style.h"
#include "tests/support/gst_leak_check.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Tests never need a display, also when run by hand or listed at discovery time.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  forms::Application application(argc, argv);
  application.setQuitOnLastWindowClosed(false);
  app::ApplyApplicationStyle(application);
  testing_support::BeginGstLeakCheck();
  const int status = RUN_ALL_TESTS();
  return status != 0 ? status : testing_support::EndGstLeakCheck();
}
