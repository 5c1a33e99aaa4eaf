#pragma once
// GStreamer's leak tracer as a check of the test process (on unless GST_TRACERS says
// otherwise; leaks(filters="GstElement,GstPad") keeps its cost down): every element and pad made
// while the tests ran must be gone when they end (a leaked pipeline or bin is found through its
// elements). Each test runs in its own process, so a leak is that test's.

namespace testing_support {

// Turns the tracer on unless GST_TRACERS is set, initialises GStreamer (the tracer is made
// then) and starts its tracking; nothing when the tracer is off.
void BeginGstLeakCheck();
// Objects of the GStreamer type `typeName` or one derived from it (elements and pads only)
// made since the check began and not yet finalized; -1 when the tracer is off.
int LiveGstObjects(const char* typeName);
// 0 when no element or pad made since the start outlived the tests (waiting up to five
// seconds for the releases that run behind them, such as the sound devices'); else 1, with
// each leaked object's type and address on stderr.
int EndGstLeakCheck();

}  // namespace testing_support
