// Which provider serves a device that two of them report, on the reports a desktop gives.

#include <gtest/gtest.h>

#include "platform/gst/device_monitor.h"

namespace {

using gst::DeviceReport;
using gst::ListedDevice;
using Api = DeviceReport::Api;

DeviceReport Report(Api api, const char* name, const char* serial = "", const char* node = "",
                    const char* v4l2 = "") {
  return {api, QString::fromUtf8(name), QString::fromLatin1(serial), QString::fromLatin1(node),
          QString::fromLatin1(v4l2)};
}

std::vector<std::pair<std::size_t, QString>> Rows(const std::vector<ListedDevice>& listed) {
  std::vector<std::pair<std::size_t, QString>> rows;
  rows.reserve(listed.size());
  for (const ListedDevice& row : listed) rows.emplace_back(row.report, row.name);
  return rows;
}

TEST(OnePerDevice, ASinkOfPulseAndPipeWireIsServedByPulseAndOtherSinksStay) {
  const std::vector<DeviceReport> reports = {
      Report(Api::PipeWire, "labsink Audio/Sink sink", "45", "labsink"),
      Report(Api::Pulse, "labsink Audio/Sink sink", "45", "labsink"),
      Report(Api::Pulse, "Наушники", "", "headphones"),  // on PipeWire only through pulse
      Report(Api::PipeWire, "HDMI", "60", "hdmi"),       // PipeWire alone
      Report(Api::Other, "Встроенный выход"),
  };
  const std::vector<std::pair<std::size_t, QString>> expected = {
      {1, QStringLiteral("labsink Audio/Sink sink")},
      {2, QString::fromUtf8("Наушники")},
      {3, QStringLiteral("HDMI")},
      {4, QString::fromUtf8("Встроенный выход")}};
  EXPECT_EQ(Rows(gst::OnePerDevice(reports)), expected);
  // Matched by node name alone too (a server that passes no serial on).
  EXPECT_EQ(Rows(gst::OnePerDevice(
                {Report(Api::Pulse, "a", "", "sink-a"), Report(Api::PipeWire, "a", "", "sink-a")})),
            (std::vector<std::pair<std::size_t, QString>>{{0, QStringLiteral("a")}}));
}

TEST(OnePerDevice, AWebcamOfV4l2AndPipeWireIsServedByV4l2UnderTheDesktopsName) {
  const std::vector<DeviceReport> reports = {
      Report(Api::V4l2, "HD Webcam C525", "", "", "/dev/video0"),
      Report(Api::V4l2, "USB Microscope", "", "", "/dev/video2"),
      Report(Api::PipeWire, "HD Webcam C525 (V4L2)", "70", "v4l2_input.usb", "/dev/video0"),
      Report(Api::PipeWire, "Virtual camera", "71", "virtual"),
      Report(Api::Other, "Test camera YUY2"),
  };
  const std::vector<std::pair<std::size_t, QString>> expected = {
      {0, QStringLiteral("HD Webcam C525 (V4L2)")},
      {1, QStringLiteral("USB Microscope")},
      {3, QStringLiteral("Virtual camera")},
      {4, QStringLiteral("Test camera YUY2")}};
  EXPECT_EQ(Rows(gst::OnePerDevice(reports)), expected);
}

TEST(OnePerDevice, EmptyKeysNeverMatch) {
  const std::vector<DeviceReport> reports = {Report(Api::Pulse, "a"), Report(Api::PipeWire, "a"),
                                             Report(Api::V4l2, "c"), Report(Api::PipeWire, "c")};
  EXPECT_EQ(gst::OnePerDevice(reports).size(), 4u);
}

}  // namespace

namespace {

// Every message the providers post is read and let go at once: none piles up, and a removal's
// message does not keep its device alive.
TEST(DeviceMonitorBus, EachMessageIsReleasedOnceRead) {
  gst::EnsureInitialized();
  // Listing starts the monitor: its bus takes messages from then on.
  static_cast<void>(gst::DeviceMonitor::Instance().Devices(gst::DeviceMonitor::Kind::Camera));
  const gst::BusPtr bus = gst::DeviceMonitor::Instance().Bus();
  ASSERT_TRUE(bus);
  bool released = false;
  GstMessage* message =
      gst_message_new_application(nullptr, gst_structure_new_empty("strobolux-test"));
  gst_mini_object_weak_ref(
      GST_MINI_OBJECT(message),
      [](gpointer data, GstMiniObject*) { *static_cast<bool*>(data) = true; }, &released);
  ASSERT_TRUE(gst_bus_post(bus.get(), message));  // the bus's synchronous handler reads it here
  EXPECT_TRUE(released);
  EXPECT_EQ(gst_bus_have_pending(bus.get()), FALSE);
}

}  // namespace
