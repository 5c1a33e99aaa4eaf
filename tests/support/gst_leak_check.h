#pragma once
// GStreamer's leak tracer, when the environment turns it on (GST_TRACERS, best with
// leaks(filters="GstElement,GstPad") to keep its cost down), as a check of
// the test process: every element and pad made while the tests ran must be gone when they end
// (a leaked pipeline or bin is found through its elements). Each test runs in its own process,
// so a leak is that test's.

namespace testing_support {

// With the tracer on, initialises GStreamer (the tracer is made then) and starts its tracking;
// nothing when it is off.
void BeginGstLeakCheck();
// 0 when no element or pad made since the start outlived the tests (waiting up to five
// seconds for the releases that run behind them, such as the sound devices'); else 1, with
// each leaked object's type and address on stderr.
int EndGstLeakCheck();

}  // namespace testing_support
