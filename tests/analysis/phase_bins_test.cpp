// Frames sorted by phase into bins: which bin a phase falls in, how a frame is laid on the
// bins' pictures, and each bin's mean.

#include "analysis/phase_bins.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

using analysis::PhaseBins;

namespace {

// A BGRx frame of one colour, with rows padded past the pixels.
std::vector<std::uint8_t> Frame(int width, int height, int stride, std::uint8_t b, std::uint8_t g,
                                std::uint8_t r) {
  std::vector<std::uint8_t> rows(static_cast<std::size_t>(stride) * height, 0xee);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = rows.data() + y * stride + 4 * x;
      p[0] = b;
      p[1] = g;
      p[2] = r;
      p[3] = 0xff;
    }
  return rows;
}

}  // namespace

// Bin k holds the phases within half a bin of k·360/K, whatever turn a phase is given in.
TEST(PhaseBins, EachBinHoldsThePhasesWithinHalfABinOfItsOwn) {
  const PhaseBins bins(36, 4, 4, true);
  EXPECT_EQ(bins.BinOf(0), 0);
  EXPECT_EQ(bins.BinOf(4.99), 0);
  EXPECT_EQ(bins.BinOf(-4.99), 0);
  EXPECT_EQ(bins.BinOf(355.01), 0);
  EXPECT_EQ(bins.BinOf(5), 1);
  EXPECT_EQ(bins.BinOf(10), 1);
  EXPECT_EQ(bins.BinOf(354.99), 35);
  EXPECT_EQ(bins.BinOf(720 + 90), 9);
  EXPECT_EQ(bins.BinOf(-90), 27);
  EXPECT_DOUBLE_EQ(bins.PhaseOf(9), 90);
  EXPECT_EQ(PhaseBins(1, 4, 4, true).Count(), PhaseBins::kFewest);
  EXPECT_EQ(PhaseBins(100000, 1, 1, true).Count(), PhaseBins::kMost);
}

// A bin's mean rounds the mean of its frames, colour by colour; an empty bin has none; a
// frame of another size than the first, or without a phase, is refused.
TEST(PhaseBins, ABinsPictureIsTheMeanOfItsFrames) {
  PhaseBins bins(4, 3, 2, true);
  const auto a = Frame(6, 4, 32, 10, 100, 200);
  const auto b = Frame(6, 4, 32, 21, 111, 255);
  EXPECT_TRUE(bins.Add(a.data(), 32, 6, 4, 91));
  EXPECT_TRUE(bins.Add(b.data(), 32, 6, 4, 89));
  EXPECT_TRUE(bins.Add(a.data(), 32, 6, 4, 0));
  const auto other = Frame(5, 4, 32, 0, 0, 0);
  EXPECT_FALSE(bins.Add(other.data(), 32, 5, 4, 90));
  EXPECT_FALSE(bins.Add(a.data(), 32, 6, 4, std::nan("")));
  EXPECT_EQ(bins.Frames(1), 2);
  EXPECT_EQ(bins.Frames(0), 1);
  EXPECT_EQ(bins.EmptyBins(), 2);
  EXPECT_TRUE(bins.Mean(2, 0xffffff).empty());
  const std::vector<std::uint32_t> mean = bins.Mean(1, 0xffffff);
  ASSERT_EQ(mean.size(), 6u);
  // (10 + 21) / 2 = 15.5 -> 16; (100 + 111) / 2 = 105.5 -> 106; (200 + 255) / 2 = 227.5 -> 228.
  for (const std::uint32_t pixel : mean) EXPECT_EQ(pixel, 0xffe46a10u);
}

// At its own size a frame covers the picture from the top left corner, the rest is the
// background; stretched, each picture pixel takes the frame pixel under its centre.
TEST(PhaseBins, AFrameIsLaidOnThePictureAsTheRunsPicturesLayIt) {
  // A 4 x 2 frame whose pixel (x, y) has blue 10x + y.
  std::vector<std::uint8_t> rows(2 * 16);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) rows[y * 16 + 4 * x] = static_cast<std::uint8_t>(10 * x + y);
  PhaseBins cropped(2, 6, 3, false);
  ASSERT_TRUE(cropped.Add(rows.data(), 16, 4, 2, 0));
  const std::vector<std::uint32_t> crop = cropped.Mean(0, 0x123456);
  EXPECT_EQ(crop[0 * 6 + 3] & 0xff, 30u);
  EXPECT_EQ(crop[1 * 6 + 2] & 0xff, 21u);
  EXPECT_EQ(crop[0 * 6 + 4], 0xff123456u);
  EXPECT_EQ(crop[2 * 6 + 0], 0xff123456u);
  PhaseBins stretched(2, 2, 4, true);
  ASSERT_TRUE(stretched.Add(rows.data(), 16, 4, 2, 0));
  const std::vector<std::uint32_t> stretch = stretched.Mean(0, 0);
  // Columns 0 and 1 take frame columns 1 and 3; rows 0..3 take frame rows 0, 0, 1, 1.
  EXPECT_EQ(stretch[0] & 0xff, 10u);
  EXPECT_EQ(stretch[1] & 0xff, 30u);
  EXPECT_EQ(stretch[3 * 2 + 1] & 0xff, 31u);
}
