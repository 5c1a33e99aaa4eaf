#include "tests/support/generator_fixture.h"

#include <QDir>

#include "platform/gst/virtual_devices.h"
#include "recording/output_files.h"

namespace testing_support {

const QString kVirtualName = QStringLiteral("Виртуальный выход");

void GeneratorFixture::SetUp() {
  ASSERT_TRUE(dir_.isValid());
  for (const char* folder : {"Risunki", "SnapShot", "Video"})
    ASSERT_TRUE(QDir(dir_.path()).mkdir(QString::fromLatin1(folder)));
  recording::SetProgramFolder(dir_.path());
  gstutil::ClearVirtualSoundDevices();
  gstutil::RegisterVirtualSoundDevice(kVirtualName, WavPath());
  form = std::make_unique<app::Form1>();
  // The start returns at once in the Timer 1 mode (its first tick is 20 s away); the tests of
  // the period clock choose the clock mode themselves.
  form->Option6->setChecked(true);
}

void GeneratorFixture::TearDown() {
  form.reset();
  recording::SetProgramFolder(QString());
  gstutil::ClearVirtualSoundDevices();
  FlushDeferredDeletes();
}

int GeneratorFixture::VirtualRow() const {
  return form->Combo1->findText(kVirtualName);
}

void GeneratorFixture::ChooseVirtualDevice() {
  const int row = VirtualRow();
  ASSERT_GE(row, 0);
  ClickListRow(form->Combo1, row);
}

}  // namespace testing_support
