// Reference renderer, pixel formats: the format table's layouts, conversions between formats and
// fills checked against pixman wherever pixman knows the format, colour-key repacking and YUV
// reads checked by hand and against pixman.
#include "formats.h"
#include "reference.h"
#include "pixman_image.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace galref {
namespace {

TEST(GalRefFormats, ChannelsAndPaddingCoverEachRgbPixelExactlyOnce) {
  for (const FormatInfo& info : allFormats()) {
    if (info.kind != FormatKind::Rgb) continue;
    uint32_t covered = info.paddingMask;
    for (Channel c : {info.a, info.r, info.g, info.b}) {
      if (c.bits == 0) continue;
      const uint32_t mask = ((1u << c.bits) - 1) << c.shift;
      EXPECT_EQ(covered & mask, 0u) << info.name << " overlaps";
      covered |= mask;
    }
    const uint32_t all = info.bitsPerPixel == 32 ? 0xFFFFFFFFu : (1u << info.bitsPerPixel) - 1;
    EXPECT_EQ(covered, all) << info.name;
  }
}

TEST(GalRefFormats, EveryRawPixelSurvivesTheWorkingValue) {
  std::mt19937 random(7);
  for (const FormatInfo& info : allFormats()) {
    if (info.kind != FormatKind::Rgb) continue;
    for (int n = 0; n < 4096; ++n) {
      const uint32_t raw = info.bitsPerPixel == 32 ? random() : n % (1u << info.bitsPerPixel);
      EXPECT_EQ(argbToRaw(info.format, rawToArgb(info.format, raw)), raw & ~info.paddingMask)
          << info.name << " raw 0x" << std::hex << raw;
    }
  }
}

TEST(GalRefFormats, ChannelsWidenByRepeatingBitsAndNarrowByTruncating) {
  EXPECT_EQ(rawToArgb(R5G6B5, 0xFFFF), 0xFFFFFFFFu);
  EXPECT_EQ(rawToArgb(R5G6B5, 0x8410), 0xFF848284u);  // 10000 100000 10000
  EXPECT_EQ(rawToArgb(A1R5G5B5, 0x7FFF), 0x00FFFFFFu);
  EXPECT_EQ(rawToArgb(R4G4B4A4, 0x1234), 0x44112233u);
  EXPECT_EQ(rawToArgb(A8, 0x80), 0x80000000u);
  EXPECT_EQ(rawToArgb(R8, 0x80), 0xFF800000u);
  EXPECT_EQ(rawToArgb(RG16, 0x1234), 0xFF341200u);
  EXPECT_EQ(argbToRaw(B5G5R5X1, 0xFFFFFFFF), 0xFFFEu);
  EXPECT_EQ(argbToRaw(R5G6B5, 0xFF0F0F0F), 0x0861u);
  uint32_t palette[256] = {};
  palette[2] = 0x80123456;
  EXPECT_EQ(rawToArgb(INDEX8, 2, palette), 0x80123456u);
}

TEST(GalRefFormats, NamesReadFromTheMostSignificantBitDown) {
  // Opaque red and opaque blue in each format's own bits.
  struct Case {
    Format format;
    uint32_t red, blue;
  };
  const Case cases[] = {
      {R4G4B4A4, 0xF00F, 0x00FF}, {R5G5B5A1, 0xF801, 0x003F}, {B4G4R4A4, 0x00FF, 0xF00F},
      {B5G5R5A1, 0x003F, 0xF801}, {R5G5B5X1, 0xF800, 0x003E}, {R4G4B4X4, 0xF000, 0x00F0},
      {B4G4R4X4, 0x00F0, 0xF000}, {B5G5R5X1, 0x003E, 0xF800}, {A4B4G4R4, 0xF00F, 0xFF00},
      {X4B4G4R4, 0x000F, 0x0F00}, {A1B5G5R5, 0x801F, 0xFC00}, {X1B5G5R5, 0x001F, 0x7C00},
      {B5G6R5, 0x001F, 0xF800},   {R8G8B8X8, 0xFF000000, 0x0000FF00},
      {B8G8R8X8, 0x0000FF00, 0xFF000000}, {B8G8R8A8, 0x0000FFFF, 0xFF0000FF},
      {R8, 0xFF, 0x00},           {RG16, 0x00FF, 0x0000},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(argbToRaw(c.format, 0xFFFF0000), c.red) << formatName(c.format);
    EXPECT_EQ(argbToRaw(c.format, 0xFF0000FF), c.blue) << formatName(c.format);
  }
}

// A format pixman lacks keeps exactly what its pixman twin of the same channel widths keeps.
TEST(GalRefFormats, FormatsPixmanLacksKeepWhatTheirPixmanTwinsKeep) {
  const Format twins[][2] = {
      {R4G4B4A4, A4R4G4B4}, {B4G4R4A4, A4B4G4R4}, {R5G5B5A1, A1R5G5B5}, {B5G5R5A1, A1B5G5R5},
      {R4G4B4X4, X4R4G4B4}, {B4G4R4X4, X4B4G4R4}, {R5G5B5X1, X1R5G5B5}, {B5G5R5X1, X1B5G5R5},
  };
  std::mt19937 random(4);
  SurfaceBuffer original(A8R8G8B8, 8, 4);
  original.fillRandom(random);
  const Rect all{0, 0, 8, 4};
  auto copy = [&all](const Surface& from, const Surface& to) {
    Source s;
    s.type = SourceType::Color;
    s.surface = &from;
    s.rect = all;
    return blit(s, to, all, kDefaultClip, Brush{}, Raster{});
  };
  for (const auto& twin : twins) {
    SurfaceBuffer through(twin[0], 8, 4), expected(A8R8G8B8, 8, 4);
    ASSERT_EQ(copy(original.surface, through.surface), Status::Ok);
    ASSERT_EQ(copy(through.surface, expected.surface), Status::Ok);
    SurfaceBuffer pixTwin(twin[1], 8, 4), actual(A8R8G8B8, 8, 4);
    PixmanImage pixOriginal(original), pixThrough(pixTwin), pixBack(actual);
    pixman_image_composite32(PIXMAN_OP_SRC, pixOriginal.image, nullptr, pixThrough.image, 0, 0, 0,
                             0, 0, 0, 8, 4);
    pixman_image_composite32(PIXMAN_OP_SRC, pixThrough.image, nullptr, pixBack.image, 0, 0, 0, 0,
                             0, 0, 8, 4);
    EXPECT_EQ(compareSurfaces("copy through " + formatName(twin[0]), expected.surface, actual.surface), "");
  }
}

TEST(GalRefFormats, ColorKeysMoveEachChannelToTheLowBitsOfItsByte) {
  struct Case {
    uint32_t format, key;
    std::optional<uint32_t> lanes;
  };
  const Case cases[] = {
      {R5G6B5, 0xFFFF, 0xFF1F3F1F},        {R5G6B5, 0x0821, 0xFF010101},
      {A1R5G5B5, 0x8421, 0x01010101},     {X1R5G5B5, 0x8421, 0xFF010101},
      {A4R4G4B4, 0x1234, 0x01020304},     {R4G4B4A4, 0x1234, 0x04010203},
      {B5G6R5, 0xF800, 0xFF00001F},        {A8R8G8B8, 0x11223344, 0x11223344},
      {R8G8B8A8, 0x11223344, 0x44112233}, {X8R8G8B8, 0x11223344, 0xFF223344},
      {A8, 0x80, 0x80000000},              {INDEX8, 0x1F5, 0x1F5},
      {YUY2, 0x1234, std::nullopt},       {210, 0x1234, std::nullopt},
      {1700, 0, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(colorPackToArgb8(c.format, c.key), c.lanes) << formatName(c.format);
  }
}

// Formats that both the reference and pixman know, for the blit and fill comparisons.
const Format kPixmanFormats[] = {
    A8R8G8B8, X8R8G8B8, A8B8G8R8, X8B8G8R8, B8G8R8A8, B8G8R8X8, R8G8B8A8, R8G8B8X8,
    R5G6B5,   B5G6R5,   A1R5G5B5, X1R5G5B5, A1B5G5R5, X1B5G5R5, A4R4G4B4, X4R4G4B4,
    A4B4G4R4, X4B4G4R4, A8,
};

TEST(GalRefFormats, CopyBetweenFormatsMatchesPixman) {
  constexpr uint32_t kW = 20, kH = 7;
  std::mt19937 random(1);
  std::vector<uint32_t> palette(256);
  for (uint32_t& entry : palette) entry = random();
  std::vector<Format> sources(std::begin(kPixmanFormats), std::end(kPixmanFormats));
  sources.push_back(INDEX8);
  for (Format from : sources) {
    SurfaceBuffer source(from, kW, kH);
    source.fillRandom(random);
    source.surface.palette = palette.data();
    PixmanImage pixSource(source, palette.data());
    for (Format to : kPixmanFormats) {
      SurfaceBuffer expected(to, kW, kH);
      SurfaceBuffer actual(to, kW, kH);
      Source s;
      s.type = SourceType::Color;
      s.surface = &source.surface;
      s.rect = {0, 0, static_cast<int32_t>(kW), static_cast<int32_t>(kH)};
      ASSERT_EQ(blit(s, expected.surface, {0, 0, kW, kH}, kDefaultClip, Brush{}, Raster{}),
                Status::Ok);
      PixmanImage pixTarget(actual);
      pixman_image_composite32(PIXMAN_OP_SRC, pixSource.image, nullptr, pixTarget.image, 0, 0, 0,
                               0, 0, 0, kW, kH);
      EXPECT_EQ(compareSurfaces("copy from " + formatName(from), expected.surface, actual.surface),
                "");
    }
  }
}

TEST(GalRefFormats, ClearMatchesPixmanFillInsideTheClip) {
  std::mt19937 random(2);
  const Rect rect{3, 2, 17, 9};
  const Rect clip{5, 0, 30, 6};
  for (Format format : kPixmanFormats) {
    const uint32_t colour = random();
    SurfaceBuffer expected(format, 20, 10);
    expected.fillRandom(random);
    SurfaceBuffer actual = expected;
    ASSERT_EQ(clear(expected.surface, rect, clip, colour), Status::Ok);
    PixmanImage pixTarget(actual);
    const pixman_color_t c{static_cast<uint16_t>(redOf(colour) * 0x101),
                           static_cast<uint16_t>(greenOf(colour) * 0x101),
                           static_cast<uint16_t>(blueOf(colour) * 0x101),
                           static_cast<uint16_t>(alphaOf(colour) * 0x101)};
    const pixman_rectangle16_t r{5, 2, 12, 4};  // rect ∩ clip
    pixman_image_fill_rectangles(PIXMAN_OP_SRC, pixTarget.image, &c, 1, &r);
    EXPECT_EQ(compareSurfaces("clear", expected.surface, actual.surface), "");
  }
}

TEST(GalRefFormats, PackedAndPlanarYuvReadLikePixmanWithinOne) {
  constexpr uint32_t kW = 16, kH = 6;
  std::mt19937 random(3);
  for (Format format : {YUY2, YV12}) {
    SurfaceBuffer source(format, kW, kH);
    source.fillRandom(random);
    SurfaceBuffer expected(A8R8G8B8, kW, kH);
    SurfaceBuffer actual(A8R8G8B8, kW, kH);
    for (uint32_t y = 0; y < kH; ++y) {
      for (uint32_t x = 0; x < kW; ++x) writeArgb(expected.surface, x, y, readArgb(source.surface, x, y));
    }
    PixmanImage pixSource(source);
    PixmanImage pixTarget(actual);
    pixman_image_composite32(PIXMAN_OP_SRC, pixSource.image, nullptr, pixTarget.image, 0, 0, 0, 0,
                             0, 0, kW, kH);
    EXPECT_EQ(compareSurfaces(std::string("read ") + formatName(format), expected.surface,
                              actual.surface, 1),
              "");
  }
}

TEST(GalRefFormats, AllYuvLayoutsReadTheSameSamples) {
  // One 4 × 2 picture with distinct samples: Y = 20 + 10 × index; U, V per 2 × 2 (or 2 × 1) block.
  const uint8_t luma[2][4] = {{20, 30, 40, 50}, {60, 70, 80, 90}};
  const uint8_t u[2][2] = {{100, 110}, {120, 130}};  // [row][pair]; 4:2:0 uses row 0
  const uint8_t v[2][2] = {{140, 150}, {160, 170}};
  struct Layout {
    Format format;
    std::vector<uint8_t> planes[3];
    uint32_t strides[3];
    bool subsampledRows;
  };
  const Layout layouts[] = {
      {YUY2, {{20, 100, 30, 140, 40, 110, 50, 150, 60, 120, 70, 160, 80, 130, 90, 170}}, {8}, false},
      {UYVY, {{100, 20, 140, 30, 110, 40, 150, 50, 120, 60, 160, 70, 130, 80, 170, 90}}, {8}, false},
      {YVYU, {{20, 140, 30, 100, 40, 150, 50, 110, 60, 160, 70, 120, 80, 170, 90, 130}}, {8}, false},
      {VYUY, {{140, 20, 100, 30, 150, 40, 110, 50, 160, 60, 120, 70, 170, 80, 130, 90}}, {8}, false},
      {YV12, {{20, 30, 40, 50, 60, 70, 80, 90}, {140, 150}, {100, 110}}, {4, 2, 2}, true},
      {I420, {{20, 30, 40, 50, 60, 70, 80, 90}, {100, 110}, {140, 150}}, {4, 2, 2}, true},
      {NV12, {{20, 30, 40, 50, 60, 70, 80, 90}, {100, 140, 110, 150}}, {4, 4}, true},
      {NV21, {{20, 30, 40, 50, 60, 70, 80, 90}, {140, 100, 150, 110}}, {4, 4}, true},
      {NV16, {{20, 30, 40, 50, 60, 70, 80, 90}, {100, 140, 110, 150, 120, 160, 130, 170}}, {4, 4}, false},
      {NV61, {{20, 30, 40, 50, 60, 70, 80, 90}, {140, 100, 150, 110, 160, 120, 170, 130}}, {4, 4}, false},
  };
  for (const Layout& layout : layouts) {
    Layout copy = layout;
    Surface s;
    s.format = layout.format;
    s.width = 4;
    s.height = 2;
    for (int p = 0; p < 3; ++p) {
      s.planes[p] = copy.planes[p].data();
      s.strides[p] = copy.strides[p];
    }
    for (uint32_t y = 0; y < 2; ++y) {
      for (uint32_t x = 0; x < 4; ++x) {
        const uint32_t row = layout.subsampledRows ? 0 : y;
        EXPECT_EQ(readArgb(s, x, y), yuvToArgb(luma[y][x], u[row][x / 2], v[row][x / 2], YuvMode::Bt601))
            << formatName(layout.format) << " pixel " << x << "," << y;
      }
    }
  }
}

TEST(GalRefFormats, YuvModesUseTheirOwnCoefficients) {
  EXPECT_EQ(yuvToArgb(16, 128, 128, YuvMode::Bt601), 0xFF000000u);
  EXPECT_EQ(yuvToArgb(235, 128, 128, YuvMode::Bt709), 0xFFFFFFFFu);
  // Y 128, U 64, V 192 by hand: 1.164 × 112 + 1.596 × 64 = 232.5 and so on.
  EXPECT_EQ(yuvToArgb(128, 64, 192, YuvMode::Bt601), 0xFFE96701u);
  EXPECT_EQ(yuvToArgb(128, 64, 192, YuvMode::Bt709), 0xFFF56E00u);
}

TEST(GalRefFormats, CompareNamesOperationFormatAndFirstDifferingPixel) {
  SurfaceBuffer a(X1R5G5B5, 4, 3);
  SurfaceBuffer b(X1R5G5B5, 4, 3);
  writeRaw(a.surface, 1, 1, 0x8000);  // padding bit only
  EXPECT_EQ(compareSurfaces("blit", a.surface, b.surface), "");
  writeRaw(a.surface, 2, 1, 0x001F);
  writeRaw(a.surface, 3, 2, 0x001F);
  EXPECT_EQ(compareSurfaces("blit", a.surface, b.surface),
            "blit X1R5G5B5: first differing pixel (2, 1): expected 0x001F, got 0x0000 "
            "(2 pixels differ)");
  SurfaceBuffer c(R5G6B5, 4, 3);
  EXPECT_NE(compareSurfaces("blit", a.surface, c.surface).find("differ in kind"), std::string::npos);
}

}  // namespace
}  // namespace galref
