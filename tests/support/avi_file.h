#pragma once
// Reads what the tests check of an AVI file: the main header, the streams and the index.

#include <QString>
#include <cstdint>

namespace testing_support {

struct AviInfo {
  bool valid = false;
  std::uint32_t microSecPerFrame = 0;
  std::uint32_t totalFrames = 0;
  int videoStreams = 0;
  int audioStreams = 0;
  QString videoHandler;           // the video stream's compressor code ("MJPG"), empty for none
  bool hasIndex = false;          // an idx1 chunk or an OpenDML index
  std::uint32_t idx1Entries = 0;  // of the idx1 chunk, which the muxer writes last
  int width = 0;
  int height = 0;
  double Seconds() const { return totalFrames * (microSecPerFrame / 1e6); }
};

AviInfo ReadAvi(const QString& path);

}  // namespace testing_support
