#include "analysis/phase_bins.h"

#include <algorithm>
#include <cmath>

namespace analysis {

PhaseBins::PhaseBins(int count, int width, int height, bool stretch)
    : count_(std::clamp(count, kFewest, kMost)),
      width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      stretch_(stretch),
      frames_(static_cast<std::size_t>(count_)),
      sums_(static_cast<std::size_t>(count_) * static_cast<std::size_t>(width_) *
            static_cast<std::size_t>(height_) * 3) {}

int PhaseBins::BinOf(double phaseDeg) const {
  const double width = 360.0 / count_;
  const double turned = std::fmod(std::fmod(phaseDeg + width / 2, 360.0) + 360.0, 360.0);
  return std::min(count_ - 1, static_cast<int>(turned / width));
}

double PhaseBins::PhaseOf(int bin) const {
  return 360.0 * bin / count_;
}

void PhaseBins::Lay(int frameWidth, int frameHeight) {
  frame_width_ = frameWidth;
  frame_height_ = frameHeight;
  // Nearest pixel, as the pictures' stretch takes it: the centre of each picture pixel mapped.
  const auto map = [this](int size, int frame, std::vector<int>& out) {
    out.resize(static_cast<std::size_t>(size));
    for (int i = 0; i < size; ++i) {
      if (stretch_) {
        out[static_cast<std::size_t>(i)] =
            std::min(frame - 1, static_cast<int>((i + 0.5) * frame / size));
      } else {
        out[static_cast<std::size_t>(i)] = i < frame ? i : -1;
      }
    }
  };
  map(width_, frameWidth, columns_);
  map(height_, frameHeight, rows_);
}

bool PhaseBins::Add(const std::uint8_t* rows, int stride, int width, int height, double phaseDeg) {
  if (!rows || width <= 0 || height <= 0 || stride < width * 4 || !std::isfinite(phaseDeg) ||
      width_ == 0 || height_ == 0)
    return false;
  // The bins are means of one scene: a frame of another size (a format changed mid-run) would
  // lay other pixels on them.
  if (frame_width_ < 0) Lay(width, height);
  if (width != frame_width_ || height != frame_height_) return false;
  const int bin = BinOf(phaseDeg);
  ++frames_[static_cast<std::size_t>(bin)];
  const std::size_t picture = static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_);
  std::uint32_t* const sums = sums_.data() + static_cast<std::size_t>(bin) * picture * 3;
  for (int y = 0; y < height_; ++y) {
    const int fy = rows_[static_cast<std::size_t>(y)];
    if (fy < 0) continue;
    const std::uint8_t* line = rows + static_cast<std::ptrdiff_t>(fy) * stride;
    std::uint32_t* out = sums + static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) * 3;
    for (int x = 0; x < width_; ++x, out += 3) {
      const int fx = columns_[static_cast<std::size_t>(x)];
      if (fx < 0) continue;
      const std::uint8_t* p = line + 4 * fx;
      out[0] += p[0];
      out[1] += p[1];
      out[2] += p[2];
    }
  }
  return true;
}

std::int64_t PhaseBins::Frames(int bin) const {
  return bin >= 0 && bin < count_ ? frames_[static_cast<std::size_t>(bin)] : 0;
}

int PhaseBins::EmptyBins() const {
  return static_cast<int>(std::count(frames_.begin(), frames_.end(), 0));
}

std::vector<std::uint32_t> PhaseBins::Mean(int bin, std::uint32_t background) const {
  const std::int64_t n = Frames(bin);
  if (n == 0) return {};
  const std::size_t picture = static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_);
  std::vector<std::uint32_t> out(picture, 0xff000000u | background);
  const std::uint32_t* sums = sums_.data() + static_cast<std::size_t>(bin) * picture * 3;
  const auto mean = [n](std::uint32_t sum) {
    return static_cast<std::uint32_t>((2 * static_cast<std::int64_t>(sum) + n) / (2 * n));
  };
  for (int y = 0; y < height_; ++y) {
    if (frame_height_ < 0 || rows_[static_cast<std::size_t>(y)] < 0) continue;
    for (int x = 0; x < width_; ++x) {
      if (columns_[static_cast<std::size_t>(x)] < 0) continue;
      const std::size_t p = static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
                            static_cast<std::size_t>(x);
      const std::uint32_t* s = sums + 3 * p;
      out[p] = 0xff000000u | mean(s[2]) << 16 | mean(s[1]) << 8 | mean(s[0]);
    }
  }
  return out;
}

std::size_t PhaseBins::RetainedBytes() const {
  return sizeof(*this) + sums_.capacity() * sizeof(std::uint32_t) +
         (columns_.capacity() + rows_.capacity()) * sizeof(int) +
         frames_.capacity() * sizeof(std::int64_t);
}

}  // namespace analysis
