#pragma once
// One period of the optics seen at many phases (equivalent-time sampling): every frame of a run
// sorted by its exposure phase into bins, each bin the mean of its frames. Bin k is centred on
// the phase k·360/K and holds the phases within half a bin of it.
//
// The bins are pictures of a fixed size (a run's picture), each frame laid on it as the run's
// pictures lay it: from the top left corner at its own size, or stretched to the nearest
// pixel. Sums are kept per bin and pixel (three 32-bit channels), so memory is K times the
// picture, never the run's length. Pure arithmetic, no threads of its own.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace analysis {

class PhaseBins {
 public:
  static constexpr int kFewest = 2;
  static constexpr int kMost = 120;

  // `count` bins (clamped to kFewest..kMost) of pictures `width` x `height`; frames stretched
  // over them or laid at their own size from the top left corner.
  PhaseBins(int count, int width, int height, bool stretch);

  int Count() const { return count_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  // The bin a phase (degrees, any value) falls into, and a bin's own phase (0..360).
  int BinOf(double phaseDeg) const;
  double PhaseOf(int bin) const;

  // One 32-bit BGRx frame (rows `stride` bytes apart) exposed around `phaseDeg`. A phase that
  // is not a number, or a frame of another size than the first, is refused (false).
  bool Add(const std::uint8_t* rows, int stride, int width, int height, double phaseDeg);

  std::int64_t Frames(int bin) const;
  // The bins that got no frame.
  int EmptyBins() const;
  // A bin's mean as 32-bit BGRx rows of the picture's width (0xff in the fourth byte);
  // `background` (0xRRGGBB) where no frame pixel lies; empty for an empty bin.
  std::vector<std::uint32_t> Mean(int bin, std::uint32_t background) const;
  std::size_t RetainedBytes() const;

 private:
  void Lay(int frameWidth, int frameHeight);

  int count_, width_, height_;
  bool stretch_;
  // The frame size the maps were made for, and for each picture column and row the frame's
  // (-1: outside the frame).
  int frame_width_ = -1, frame_height_ = -1;
  std::vector<int> columns_, rows_;
  std::vector<std::int64_t> frames_;
  std::vector<std::uint32_t> sums_;  // bin, row, column, channel (B, G, R)
};

}  // namespace analysis
