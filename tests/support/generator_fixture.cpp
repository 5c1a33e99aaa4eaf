#include "tests/support/generator_fixture.h"

#include <QDir>

#include "platform/gst/virtual_devices.h"

namespace testing_support {

const QString kVirtualName = QStringLiteral("Виртуальный выход");

void DeviceFixture::SetUp() {
  ASSERT_TRUE(dir_.isValid());
  for (const char* folder : {"Risunki", "SnapShot", "Video"})
    ASSERT_TRUE(QDir(dir_.path()).mkdir(QString::fromLatin1(folder)));
  gst::ClearVirtualSoundDevices();
  gst::RegisterVirtualSoundDevice(kVirtualName, WavPath());
}

void DeviceFixture::TearDown() {
  gst::ClearVirtualSoundDevices();
  FlushDeferredDeletes();
}

}  // namespace testing_support
