// Reference renderer, filter blits: box and windowed-sinc kernels by hand and by their sums, the
// upload words, user kernels, and filtered rows computed by hand.
#include "filter.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace galref {
namespace {

using Taps = std::array<int16_t, kFilterTaps>;

TEST(GalRefFilter, BoxKernelsSpreadOneOverTheKernelSize) {
  struct Case {
    uint32_t size;
    Taps taps;
  };
  const Case cases[] = {
      {1, {0, 0, 0, 0, 16384, 0, 0, 0, 0}},
      {3, {0, 0, 0, 5461, 5461, 5461, 0, 0, 0}},
      {9, {1820, 1820, 1820, 1820, 1820, 1820, 1820, 1820, 1820}},
  };
  for (const Case& c : cases) {
    FilterKernel kernel;
    ASSERT_TRUE(filterKernel(kBoxFilter, c.size, 10, 5, kernel));
    for (const Taps& phase : kernel) EXPECT_EQ(phase, c.taps) << "size " << c.size;
  }
}

TEST(GalRefFilter, SincKernelOfThreeTapsByHand) {
  FilterKernel kernel;
  ASSERT_TRUE(filterKernel(kSincFilter, 3, 100, 100, kernel));
  // Phase 0: distances -0.5, 0.5, 1.5; the third is outside the window, the others equal.
  EXPECT_EQ(kernel[0], (Taps{0, 0, 0, 8192, 8192, 0, 0, 0, 0}));
  // Phase 8: distances -0.75 and 0.25 weigh 0.0901 and 0.8106: 1638 and 14745, plus the
  // missing 1 on the middle tap.
  EXPECT_EQ(kernel[8], (Taps{0, 0, 0, 1638, 14746, 0, 0, 0, 0}));
  EXPECT_EQ(kernel[16], (Taps{0, 0, 0, 0, 16384, 0, 0, 0, 0}));
}

TEST(GalRefFilter, EverySincPhaseSumsToOne) {
  const uint32_t sizes[][2] = {{100, 100}, {200, 100}, {100, 300}, {300, 100}, {1920, 720}};
  for (uint32_t n = 1; n <= 9; n += 2) {
    for (const auto& size : sizes) {
      FilterKernel kernel;
      ASSERT_TRUE(filterKernel(kSincFilter, n, size[0], size[1], kernel));
      for (uint32_t p = 0; p < kFilterPhases; ++p) {
        int16_t sum = 0;
        for (int16_t c : kernel[p]) sum = static_cast<int16_t>(sum + c);
        EXPECT_EQ(sum, 16384) << "size " << n << " scale " << size[0] << ":" << size[1] << " phase " << p;
        for (uint32_t t = 0; t < kFilterTaps; ++t) {
          if (t < (9 - n) / 2 || t >= (9 - n) / 2 + n) {
            EXPECT_EQ(kernel[p][t], 0);
          }
        }
      }
    }
  }
}

TEST(GalRefFilter, OnlyOddSizesUpToNineAndKnownTypes) {
  FilterKernel kernel;
  for (uint32_t size : {0u, 2u, 8u, 11u}) EXPECT_FALSE(filterKernel(kSincFilter, size, 4, 2, kernel));
  EXPECT_FALSE(filterKernel(kUserFilter, 3, 4, 2, kernel));
  EXPECT_FALSE(filterKernel(3, 3, 4, 2, kernel));
}

TEST(GalRefFilter, KernelsTravelTwoCoefficientsPerWord) {
  std::array<uint8_t, 306> bytes{};
  for (uint32_t k = 0; k < 153; ++k) {
    const uint16_t value = static_cast<uint16_t>(static_cast<int16_t>(k) - 76);
    bytes[2 * k] = static_cast<uint8_t>(value);
    bytes[2 * k + 1] = static_cast<uint8_t>(value >> 8);
  }
  const FilterKernel kernel = userFilterKernel(bytes);
  EXPECT_EQ(kernel[0][0], -76);
  EXPECT_EQ(kernel[1][0], 9 - 76);
  EXPECT_EQ(kernel[16][8], 76);
  const auto words = filterKernelWords(kernel, false);
  EXPECT_EQ(words[0], 0xFFB5FFB4u);  // -75 high, -76 low
  EXPECT_EQ(words[76], 0x0000004Cu);  // the last coefficient alone
  EXPECT_EQ(filterKernelWords(kernel, true)[0], 0xFFB4FFB5u);
}

// Filters one row of grey values with the horizontal kernel; the vertical one is the identity.
std::vector<uint32_t> filterRow(const std::vector<uint8_t>& values, uint32_t width,
                                const FilterKernel& horizontal) {
  SurfaceBuffer source(R8, static_cast<uint32_t>(values.size()), 1);
  for (uint32_t x = 0; x < values.size(); ++x) writeRaw(source.surface, x, 0, values[x]);
  SurfaceBuffer target(R8, width, 1);
  FilterKernel identity;
  EXPECT_TRUE(filterKernel(kBoxFilter, 1, 1, 1, identity));
  const Rect destination{0, 0, static_cast<int32_t>(width), 1};
  EXPECT_EQ(filterBlit(source.surface, {0, 0, static_cast<int32_t>(values.size()), 1},
                       target.surface, destination, destination, horizontal, identity),
            Status::Ok);
  std::vector<uint32_t> row;
  for (uint32_t x = 0; x < width; ++x) row.push_back(readRaw(target.surface, x, 0));
  return row;
}

TEST(GalRefFilter, FilteredRowsByHand) {
  FilterKernel box3, box1, sinc3;
  ASSERT_TRUE(filterKernel(kBoxFilter, 3, 4, 4, box3));
  ASSERT_TRUE(filterKernel(kBoxFilter, 1, 8, 4, box1));
  ASSERT_TRUE(filterKernel(kSincFilter, 3, 2, 4, sinc3));
  // 5461 × (0 + 0 + 30) + 8192 >> 14 = 10 at the clamped left edge, and so on.
  EXPECT_EQ(filterRow({0, 30, 60, 90}, 4, box3), (std::vector<uint32_t>{10, 30, 60, 80}));
  // 8 to 4 steps by (7 << 16) / 3 from pixel 0: samples at 0, 2.33, 4.67, 7 → nearest 0, 2, 5, 7.
  EXPECT_EQ(filterRow({0, 10, 20, 30, 40, 50, 60, 70}, 4, box1),
            (std::vector<uint32_t>{0, 20, 50, 70}));
  // 2 to 4: samples at 0, 1/3, 2/3, 1. At 1/3 the mirrored phase 5 weighs pixel 0 by 12857 and
  // pixel 1 by 3527; at 2/3 phase 5 itself weighs them the other way round.
  EXPECT_EQ(filterRow({0, 100}, 4, sinc3), (std::vector<uint32_t>{0, 22, 78, 100}));
}

TEST(GalRefFilter, EqualSizesWithSincAreACopy) {
  SurfaceBuffer source(A8R8G8B8, 12, 9), target(A8R8G8B8, 12, 9), copy(A8R8G8B8, 12, 9);
  std::mt19937 random(31);
  source.fillRandom(random);
  FilterKernel kernel;
  ASSERT_TRUE(filterKernel(kSincFilter, 9, 12, 12, kernel));
  const Rect all{0, 0, 12, 9};
  ASSERT_EQ(filterBlit(source.surface, all, target.surface, all, all, kernel, kernel), Status::Ok);
  Source s;
  s.type = SourceType::Color;
  s.surface = &source.surface;
  s.rect = all;
  ASSERT_EQ(blit(s, copy.surface, all, kDefaultClip, Brush{}, Raster{}), Status::Ok);
  EXPECT_EQ(compareSurfaces("filter blit 1:1", copy.surface, target.surface), "");
}

TEST(GalRefFilter, SubRectangleBoundsTheWrites) {
  SurfaceBuffer source(A8R8G8B8, 4, 4), target(A8R8G8B8, 8, 8);
  for (uint32_t y = 0; y < 4; ++y) {
    for (uint32_t x = 0; x < 4; ++x) writeArgb(source.surface, x, y, 0xFFFFFFFF);
  }
  FilterKernel kernel;
  ASSERT_TRUE(filterKernel(kBoxFilter, 1, 4, 8, kernel));
  ASSERT_EQ(filterBlit(source.surface, {0, 0, 4, 4}, target.surface, {2, 2, 8, 8}, {1, 0, 3, 2},
                       kernel, kernel),
            Status::Ok);
  for (uint32_t y = 0; y < 8; ++y) {
    for (uint32_t x = 0; x < 8; ++x) {
      const bool inside = x >= 3 && x < 5 && y >= 2 && y < 4;
      EXPECT_EQ(readRaw(target.surface, x, y), inside ? 0xFFFFFFFFu : 0u) << x << "," << y;
    }
  }
  EXPECT_EQ(filterBlit(source.surface, {0, 0, 5, 4}, target.surface, {0, 0, 8, 8}, {0, 0, 8, 8},
                       kernel, kernel),
            Status::SourceOutside);
  EXPECT_EQ(filterBlit(source.surface, {0, 0, 4, 4}, target.surface, {0, 0, 32768, 8},
                       {0, 0, 8, 8}, kernel, kernel),
            Status::InvalidRectangle);
}

}  // namespace
}  // namespace galref
