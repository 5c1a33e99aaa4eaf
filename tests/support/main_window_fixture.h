#pragma once
// The fixture's folders and virtual sound device around the whole main window.

#include "app/main_window.h"
#include "tests/support/recording_fixture.h"

namespace testing_support {

using MainWindowFixture = RecordingFixture<app::Form1>;

}  // namespace testing_support
