#pragma once
// A window whose audio list holds a virtual sound device writing into a temporary WAV, in the
// Timer 1 mode, with a temporary program folder holding Risunki/, SnapShot/ and Video/, so
// that no test writes beside the executable or meets another test's folders. The window is
// the generator's own (GeneratorFixture) or the whole main window (MainWindowFixture).

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <memory>

#include "tests/support/generator_window.h"
#include "tests/support/test_support.h"

namespace testing_support {

extern const QString kVirtualName;

// The folders and the device, made before the window and gone after it.
class DeviceFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  QString WavPath() const { return dir_.filePath(QStringLiteral("tone.wav")); }
  QString ProgramFolder() const { return dir_.path(); }

  MessageBoxRecorder boxes;

 private:
  QTemporaryDir dir_;
};

template <class Window>
class WindowFixture : public DeviceFixture {
 protected:
  void SetUp() override {
    DeviceFixture::SetUp();
    if (!HasFatalFailure()) MakeWindow();
  }
  void MakeWindow() {
    form = std::make_unique<Window>();
    // The start returns at once in the Timer 1 mode (its first tick is 20 s away); the tests
    // of the period clock choose the clock mode themselves.
    form->Option6->setChecked(true);
  }
  void TearDown() override {
    form.reset();
    DeviceFixture::TearDown();
  }

  // The list row of the virtual device, or -1.
  int VirtualRow() const { return form->Combo1->findText(kVirtualName); }
  // Clicks the virtual device's row in the open list, as the operator would.
  void ChooseVirtualDevice() {
    const int row = VirtualRow();
    ASSERT_GE(row, 0);
    ClickListRow(form->Combo1, row);
  }

  std::unique_ptr<Window> form;
};

using GeneratorFixture = WindowFixture<GeneratorWindow>;

}  // namespace testing_support
