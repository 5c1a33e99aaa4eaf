#pragma once
// A main window whose audio list holds a virtual sound device writing into a temporary WAV,
// in the Timer 1 mode, with a temporary program folder holding Risunki/, SnapShot/ and
// Video/, so that no test writes beside the executable or meets another test's folders.

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <memory>

#include "app/main_window.h"
#include "tests/support/test_support.h"

namespace testing_support {

class GeneratorFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The list row of the virtual device, or -1.
  int VirtualRow() const;
  // Clicks the virtual device's row in the open list, as the operator would.
  void ChooseVirtualDevice();
  QString WavPath() const { return dir_.filePath(QStringLiteral("tone.wav")); }
  QString ProgramFolder() const { return dir_.path(); }

  MessageBoxRecorder boxes;
  std::unique_ptr<app::Form1> form;

 private:
  QTemporaryDir dir_;
};

}  // namespace testing_support
