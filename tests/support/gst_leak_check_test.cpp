// The leak check of the test processes finds an element left alive, and only that.

#include <gst/gst.h>
#include <gtest/gtest.h>

#include "tests/support/gst_leak_check.h"

TEST(GstLeakCheck, FindsAnElementLeftAliveAndNotOneReleased) {
  ASSERT_TRUE(g_getenv("GST_TRACERS")) << "runs with the leak tracer on";
  testing_support::BeginGstLeakCheck();
  GstElement* kept = GST_ELEMENT(gst_object_ref_sink(gst_element_factory_make("fakesink", "kept")));
  ASSERT_NE(kept, nullptr);
  testing::internal::CaptureStderr();
  EXPECT_EQ(testing_support::EndGstLeakCheck(), 1);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("GStreamer leak: GstFakeSink at 0x"),
            std::string::npos);
  gst_object_unref(kept);
  EXPECT_EQ(testing_support::EndGstLeakCheck(), 0);
}
