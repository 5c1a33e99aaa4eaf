#pragma once
// A short video made of pictures already in memory (the phase bins' animation of one period):
// `appsrc ! videoconvert ! jpegenc ! avimux ! filesink`, run to its end on the calling thread.
// No event loop is needed: the wait is on the pipeline's own bus, so a worker thread calls it.

#include <QImage>
#include <QString>
#include <vector>

namespace gst {

// Writes `pictures` in order as an MJPEG AVI of `framesPerSecond`. All pictures must be of
// one size (otherwise nothing is written and `error` says so). The file appears under its
// name only once it is complete and on the disk; on failure nothing is left, and `error`
// names the path and the reason (also logged). Blocks until the file is written or a time
// that grows with the number of pictures is up.
bool WriteImageAvi(const QString& path, const std::vector<QImage>& pictures, double framesPerSecond,
                   QString* error);

}  // namespace gst
