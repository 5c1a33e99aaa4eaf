#pragma once
// The fixture's folders and virtual sound device around the whole main window, whose
// program folder is the fixture's.

#include "app/main_window.h"
#include "recording/output_files.h"
#include "tests/support/generator_fixture.h"

namespace testing_support {

class MainWindowFixture : public WindowFixture<app::Form1> {
 protected:
  void SetUp() override {
    DeviceFixture::SetUp();
    if (HasFatalFailure()) return;
    recording::SetProgramFolder(ProgramFolder());
    WindowFixture::MakeWindow();
  }
  void TearDown() override {
    WindowFixture::TearDown();
    recording::SetProgramFolder(QString());
  }
};

}  // namespace testing_support
