// Reference renderer, 2D operations: raster operations, colour keys and transparency, brushes,
// monochrome expansion, stretch stepping, clipping by hand; rotation and flips against pixman's
// transforms.
#include "reference.h"
#include "pixman_image.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace galref {
namespace {

// Reads a row of a surface's view as working values.
std::vector<uint32_t> viewRow(const Surface& s, uint32_t y) {
  std::vector<uint32_t> row;
  for (uint32_t x = 0; x < viewWidth(s); ++x) {
    uint32_t mx, my;
    viewToMemory(s, x, y, mx, my);
    row.push_back(readArgb(s, mx, my));
  }
  return row;
}

void fillRow(const Surface& s, uint32_t y, const std::vector<uint32_t>& colours) {
  for (uint32_t x = 0; x < colours.size(); ++x) writeArgb(s, x, y, colours[x]);
}

Source colourSource(const Surface& s, Rect rect) {
  Source source;
  source.type = SourceType::Color;
  source.surface = &s;
  source.rect = rect;
  return source;
}

Raster rops(uint8_t foreground, uint8_t background) {
  Raster raster;
  raster.foregroundRop = foreground;
  raster.backgroundRop = background;
  return raster;
}

TEST(GalRefRop, TruthTableOfCommonCodes) {
  const uint32_t p = 0x12345678, s = 0x0F0F33CC, d = 0xFF00AA55;
  struct Case {
    uint8_t rop;
    uint32_t expected;
  };
  const Case cases[] = {
      {0xCC, s},      {0xF0, p},          {0xAA, d},      {0x66, s ^ d},      {0x5A, p ^ d},
      {0x00, 0},      {0xFF, 0xFFFFFFFF}, {0x33, ~s},     {0x88, s & d},      {0xEE, s | d},
      {0xC0, p & s},  {0xBB, ~s | d},     {0x55, ~d},     {0x0F, ~p},         {0x3C, p ^ s},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(rop3(c.rop, p, s, d), c.expected) << std::hex << int(c.rop);
  }
  // With P = 0xF0.., S = 0xCC.., D = 0xAA.. every byte of the result is the code itself.
  for (int rop = 0; rop < 256; ++rop) {
    EXPECT_EQ(rop3(static_cast<uint8_t>(rop), 0xF0F0F0F0, 0xCCCCCCCC, 0xAAAAAAAA),
              static_cast<uint32_t>(rop) * 0x01010101u);
  }
}

TEST(GalRefRop, UsedInputsFollowTheCode) {
  struct Case {
    uint8_t rop;
    bool pattern, source, destination;
  };
  const Case cases[] = {{0xCC, false, true, false}, {0xF0, true, false, false},
                        {0xAA, false, false, true}, {0x66, false, true, true},
                        {0x5A, true, false, true},  {0x00, false, false, false},
                        {0xC0, true, true, false},  {0x88, false, true, true},
                        {0xB8, true, true, true}};
  for (const Case& c : cases) {
    EXPECT_EQ(ropUsesPattern(c.rop), c.pattern) << std::hex << int(c.rop);
    EXPECT_EQ(ropUsesSource(c.rop), c.source) << std::hex << int(c.rop);
    EXPECT_EQ(ropUsesDestination(c.rop), c.destination) << std::hex << int(c.rop);
  }
}

// Where every channel is stored, the ROP on working values equals the ROP on the target's own
// bits: the driver and the simulator may work either way.
TEST(GalRefRop, AllCodesActOnTheTargetsOwnBits) {
  std::mt19937 random(11);
  for (Format format : {R5G6B5, A4R4G4B4, A1R5G5B5, B4G4R4A4, A8R8G8B8, R8G8B8A8}) {
    const uint32_t pixelMask = formatInfo(format)->bitsPerPixel == 32 ? ~0u : 0xFFFFu;
    for (int rop = 0; rop < 256; ++rop) {
      SurfaceBuffer source(format, 4, 1), target(format, 4, 1);
      source.fillRandom(random);
      target.fillRandom(random);
      const SurfaceBuffer before = target;
      Brush brush;
      brush.type = BrushType::Solid;
      const uint32_t patternRaw = random() & pixelMask;
      brush.colour = rawToArgb(format, patternRaw);
      ASSERT_EQ(blit(colourSource(source.surface, {0, 0, 4, 1}), target.surface, {0, 0, 4, 1},
                     kDefaultClip, brush, rops(static_cast<uint8_t>(rop), 0)),
                Status::Ok);
      for (uint32_t x = 0; x < 4; ++x) {
        const uint32_t expected = rop3(static_cast<uint8_t>(rop), patternRaw, readRaw(source.surface, x, 0),
                                       readRaw(before.surface, x, 0)) & pixelMask;
        ASSERT_EQ(readRaw(target.surface, x, 0), expected)
            << formatName(format) << " rop " << std::hex << rop;
      }
    }
  }
}

TEST(GalRefTransparency, SurfaceTransparencyTranslatesToSourceAndPatternModes) {
  const uint32_t expected[4][2] = {{kOpaque, kOpaque}, {kKeyed, kOpaque}, {kMasked, kOpaque},
                                   {kOpaque, kMasked}};
  for (uint32_t t = 0; t < 4; ++t) {
    uint32_t sourceMode = 9, patternMode = 9;
    ASSERT_TRUE(surfaceTransparency(t, sourceMode, patternMode));
    EXPECT_EQ(sourceMode, expected[t][0]);
    EXPECT_EQ(patternMode, expected[t][1]);
  }
  uint32_t sourceMode, patternMode;
  EXPECT_FALSE(surfaceTransparency(4, sourceMode, patternMode));
}

TEST(GalRefTransparency, SourceKeyLeavesMatchingPixelsToTheBackgroundRop) {
  // R5G6B5 source: magenta is the key, given in the source's own format.
  SurfaceBuffer source(R5G6B5, 4, 1);
  for (uint32_t x = 0; x < 4; ++x) writeRaw(source.surface, x, 0, x % 2 == 0 ? 0xF81F : 0x07E0 + x);
  SurfaceBuffer target(A8R8G8B8, 4, 1);
  fillRow(target.surface, 0, {0x11111111, 0x22222222, 0x33333333, 0x44444444});
  Raster raster = rops(0xCC, 0xAA);
  raster.sourceMode = kKeyed;
  raster.sourceKeyLow = raster.sourceKeyHigh = *colorPackToArgb8(R5G6B5, 0xF81F);
  ASSERT_EQ(blit(colourSource(source.surface, {0, 0, 4, 1}), target.surface, {0, 0, 4, 1},
                 kDefaultClip, Brush{}, raster),
            Status::Ok);
  EXPECT_EQ(viewRow(target.surface, 0),
            (std::vector<uint32_t>{0x11111111, rawToArgb(R5G6B5, 0x07E1), 0x33333333,
                                   rawToArgb(R5G6B5, 0x07E3)}));
}

TEST(GalRefTransparency, SourceKeyRangeHoldsInEveryByte) {
  SurfaceBuffer source(A8R8G8B8, 4, 1);
  fillRow(source.surface, 0, {0x80153030, 0x80303030, 0x00100000, 0xFF2000FF});
  SurfaceBuffer target(A8R8G8B8, 4, 1);
  Raster raster = rops(0xCC, 0xAA);
  raster.sourceMode = kKeyed;
  raster.sourceKeyLow = 0x00100000;
  raster.sourceKeyHigh = 0xFF20FFFF;
  ASSERT_EQ(blit(colourSource(source.surface, {0, 0, 4, 1}), target.surface, {0, 0, 4, 1},
                 kDefaultClip, Brush{}, raster),
            Status::Ok);
  EXPECT_EQ(viewRow(target.surface, 0), (std::vector<uint32_t>{0, 0x80303030, 0, 0}));
}

TEST(GalRefTransparency, DestinationKeyDrawsOnlyOverMatchingPixels) {
  SurfaceBuffer source(A8R8G8B8, 4, 1);
  fillRow(source.surface, 0, {0xFFA00000, 0xFFA10000, 0xFFA20000, 0xFFA30000});
  SurfaceBuffer target(X1R5G5B5, 4, 1);
  for (uint32_t x = 0; x < 4; ++x) writeRaw(target.surface, x, 0, x < 2 ? 0x001F : 0x03E0);
  Raster raster = rops(0xCC, 0xAA);
  raster.destinationMode = kKeyed;
  raster.targetKeyLow = raster.targetKeyHigh = *colorPackToArgb8(X1R5G5B5, 0x001F);
  ASSERT_EQ(blit(colourSource(source.surface, {0, 0, 4, 1}), target.surface, {0, 0, 4, 1},
                 kDefaultClip, Brush{}, raster),
            Status::Ok);
  const uint32_t expected[] = {0x5000, 0x5000, 0x03E0, 0x03E0};  // 0xA0 → 5 bits 10100
  for (uint32_t x = 0; x < 4; ++x) EXPECT_EQ(readRaw(target.surface, x, 0), expected[x]) << x;
}

TEST(GalRefTransparency, MasksAndMonochromeBitsSelectTheBackgroundRop) {
  const uint8_t bits[] = {0b10100000};
  MonoStream mask{bits, 1, 0, 0, 0};
  SurfaceBuffer colours(A8R8G8B8, 4, 1);
  fillRow(colours.surface, 0, {0xFF000001, 0xFF000002, 0xFF000003, 0xFF000004});
  const std::vector<uint32_t> background{0x10, 0x20, 0x30, 0x40};

  // Masked source: mask bit 0 keeps the destination.
  SurfaceBuffer target(A8R8G8B8, 4, 1);
  fillRow(target.surface, 0, background);
  Source masked = colourSource(colours.surface, {0, 0, 4, 1});
  masked.type = SourceType::Masked;
  masked.stream = mask;
  Raster raster = rops(0xCC, 0xAA);
  raster.sourceMode = kMasked;
  ASSERT_EQ(blit(masked, target.surface, {0, 0, 4, 1}, kDefaultClip, Brush{}, raster), Status::Ok);
  EXPECT_EQ(viewRow(target.surface, 0), (std::vector<uint32_t>{0xFF000001, 0x20, 0xFF000003, 0x40}));

  // Monochrome source whose transparent bit value is 1.
  fillRow(target.surface, 0, background);
  MonoStream mono{bits, 1, 0xFFFFFFFF, 0xFF000000, 1};
  ASSERT_EQ(monoBlit(mono, 0, 0, target.surface, {0, 0, 4, 1}, kDefaultClip, Brush{}, raster),
            Status::Ok);
  EXPECT_EQ(viewRow(target.surface, 0), (std::vector<uint32_t>{0x10, 0xFF000000, 0x30, 0xFF000000}));

  // Monochrome brush with pattern masking (surface transparency 3): bit 0 keeps the destination.
  fillRow(target.surface, 0, background);
  Brush brush;
  brush.type = BrushType::Monochrome;
  brush.bits = 0b10100000;  // row 0
  brush.foreground = 0xFFFFFFFF;
  brush.background = 0xFF000000;
  Raster patternMasked = rops(0xF0, 0xAA);
  ASSERT_TRUE(surfaceTransparency(3, patternMasked.sourceMode, patternMasked.patternMode));
  ASSERT_EQ(blit(Source{}, target.surface, {0, 0, 4, 1}, kDefaultClip, brush, patternMasked),
            Status::Ok);
  EXPECT_EQ(viewRow(target.surface, 0), (std::vector<uint32_t>{0xFFFFFFFF, 0x20, 0xFFFFFFFF, 0x40}));
}

TEST(GalRefMono, StreamRowsExpandMostSignificantBitFirst) {
  EXPECT_EQ(monoStreamStride(10, 0), 2u);
  EXPECT_EQ(monoStreamStride(10, 1), 2u);
  EXPECT_EQ(monoStreamStride(17, 1), 4u);
  EXPECT_EQ(monoStreamStride(10, 2), 4u);
  EXPECT_EQ(monoStreamStride(33, 3), 8u);
  // Two rows of 10 pixels, packing 0: 1011000001 and 0100000011.
  const uint8_t bits[] = {0b10110000, 0b01000000, 0b01000000, 0b11000000};
  const uint32_t f = 0xFFFF0000, b = 0xFF0000FF;
  MonoStream stream{bits, monoStreamStride(10, 0), f, b, 0};
  SurfaceBuffer target(A8R8G8B8, 10, 2);
  ASSERT_EQ(monoBlit(stream, 0, 0, target.surface, {0, 0, 10, 2}, kDefaultClip, Brush{},
                     rops(0xCC, 0xCC)),
            Status::Ok);
  EXPECT_EQ(viewRow(target.surface, 0), (std::vector<uint32_t>{f, b, f, f, b, b, b, b, b, f}));
  EXPECT_EQ(viewRow(target.surface, 1), (std::vector<uint32_t>{b, f, b, b, b, b, b, b, f, f}));
  // From stream pixel (6, 1) on: 0011 then past the row's last pixel (padding bits, 0).
  ASSERT_EQ(monoBlit(stream, 6, 1, target.surface, {0, 0, 4, 1}, kDefaultClip, Brush{},
                     rops(0xCC, 0xCC)),
            Status::Ok);
  EXPECT_EQ(viewRow(target.surface, 0), (std::vector<uint32_t>{b, b, f, f, b, b, b, b, b, f}));
}

TEST(GalRefBrush, PatternsRepeatEveryEightPixelsFromTheOrigin) {
  SurfaceBuffer pattern(A8R8G8B8, 8, 8);
  for (uint32_t y = 0; y < 8; ++y) {
    for (uint32_t x = 0; x < 8; ++x) writeArgb(pattern.surface, x, y, argb(0xFF, x, y, 0));
  }
  Brush colour;
  colour.type = BrushType::Color;
  colour.pattern = &pattern.surface;
  colour.originX = 3;
  colour.originY = 5;
  SurfaceBuffer target(R8G8B8A8, 16, 16);
  ASSERT_EQ(blit(Source{}, target.surface, {0, 0, 16, 16}, kDefaultClip, colour, rops(0xF0, 0xF0)),
            Status::Ok);
  EXPECT_EQ(readArgb(target.surface, 10, 4), 0xFF050100u);  // pattern (13 & 7, 9 & 7)
  EXPECT_EQ(readArgb(target.surface, 0, 0), 0xFF030500u);

  Brush mono;
  mono.type = BrushType::Monochrome;
  mono.bits = 0x80ull << 8;  // row 1, leftmost pixel
  mono.foreground = 0xFFFFFFFF;
  mono.originX = 1;
  EXPECT_EQ(brushPixel(mono, 7, 1), 0xFFFFFFFFu);
  EXPECT_EQ(brushPixel(mono, 15, 9), 0xFFFFFFFFu);
  EXPECT_EQ(brushPixel(mono, 0, 1), 0u);
}

TEST(GalRefColour, ColourConvertFlagChoosesWorkingValueOrTargetBits) {
  EXPECT_EQ(colourArgument(false, 0xF800, R5G6B5), 0xFFFF0000u);
  EXPECT_EQ(colourArgument(true, 0x12345678, R5G6B5), 0x12345678u);
}

TEST(GalRefColour, PaletteLoadsStayWithinTheirEntries) {
  uint32_t palette[256] = {};
  const uint32_t entries[3] = {0xF800, 0x07E0, 0x001F};
  ASSERT_TRUE(loadPalette(palette, 254, 2, entries, false, R5G6B5));
  EXPECT_EQ(palette[253], 0u);
  EXPECT_EQ(palette[254], 0xFFFF0000u);
  EXPECT_EQ(palette[255], 0xFF00FF00u);
  ASSERT_TRUE(loadPalette(palette, 0, 1, entries, true, R5G6B5));
  EXPECT_EQ(palette[0], 0xF800u);
  EXPECT_FALSE(loadPalette(palette, 254, 3, entries, false, R5G6B5));
  EXPECT_FALSE(loadPalette(palette, 256, 1, entries, false, R5G6B5));
  EXPECT_FALSE(loadPalette(palette, 0, 257, entries, false, R5G6B5));
  EXPECT_FALSE(loadPalette(palette, 0, 0, entries, false, R5G6B5));
  EXPECT_EQ(palette[253], 0u);
}

TEST(GalRefStretch, FactorsFollowTheStepRule) {
  EXPECT_EQ(stretchFactor(false, 100, 50), 0x20539u);
  EXPECT_EQ(stretchFactor(true, 100, 50), 0x20000u);
  EXPECT_EQ(stretchFactor(false, 1, 5), (1u << 16) / 5);
  EXPECT_EQ(stretchFactor(false, 5, 1), 5u << 16);
  EXPECT_EQ(stretchFactor(false, 0, 5), 0u);
}

TEST(GalRefStretch, RowsStepByTheFactorFromTheRectangleOrigin) {
  SurfaceBuffer source(A8R8G8B8, 10, 1);
  for (uint32_t x = 0; x < 10; ++x) writeArgb(source.surface, x, 0, 0xFF000000 + x);
  struct Case {
    const char* name;
    Rect sourceRect;
    uint32_t width;  // of the destination row
    bool mirror;
    Rect clip;
    std::vector<uint32_t> expected;  // source columns, or ~0 for untouched
  };
  const uint32_t u = ~0u;
  const Case cases[] = {
      // (4 << 16) / 7 = 37449: 0, 0, 1, 1, 2, 2, 3, 3 (the last step falls short of 4).
      {"up 5 to 8", {1, 0, 6, 1}, 8, false, kDefaultClip, {1, 1, 2, 2, 3, 3, 4, 4}},
      // (7 << 16) / 2 = 229376: 0, 3, 7.
      {"down 8 to 3", {0, 0, 8, 1}, 3, false, kDefaultClip, {0, 3, 7}},
      {"mirrored", {1, 0, 6, 1}, 8, true, kDefaultClip, {4, 4, 3, 3, 2, 2, 1, 1}},
      {"clipped", {1, 0, 6, 1}, 8, false, {3, 0, 6, 1}, {u, u, u, 2, 3, 3, u, u}},
  };
  for (const Case& c : cases) {
    SurfaceBuffer target(A8R8G8B8, c.width, 1);
    fillRow(target.surface, 0, std::vector<uint32_t>(c.width, u));
    Raster raster;
    raster.mirrorHorizontal = c.mirror;
    const uint32_t h = stretchFactor(false, static_cast<uint32_t>(c.sourceRect.width()), c.width);
    ASSERT_EQ(stretchBlit(colourSource(source.surface, c.sourceRect), target.surface,
                          {0, 0, static_cast<int32_t>(c.width), 1}, c.clip, Brush{}, raster, h, 0),
              Status::Ok)
        << c.name;
    std::vector<uint32_t> expected;
    for (uint32_t column : c.expected) expected.push_back(column == u ? u : 0xFF000000 + column);
    EXPECT_EQ(viewRow(target.surface, 0), expected) << c.name;
  }
}

// pixman transform taking a target pixel centre to the centre of the source pixel that a source
// of memory size w × h and the given rotation shows there.
pixman_transform_t rotationTransform(uint32_t rotation, uint32_t w, uint32_t h) {
  const pixman_fixed_t one = pixman_fixed_1;
  const pixman_fixed_t fw = pixman_int_to_fixed(static_cast<int>(w));
  const pixman_fixed_t fh = pixman_int_to_fixed(static_cast<int>(h));
  pixman_fixed_t m[3][3] = {{one, 0, 0}, {0, one, 0}, {0, 0, one}};
  switch (rotation) {
    case 1: m[0][0] = 0; m[0][1] = -one; m[0][2] = fw; m[1][0] = one; m[1][1] = 0; break;
    case 2: m[0][0] = -one; m[0][2] = fw; m[1][1] = -one; m[1][2] = fh; break;
    case 3: m[0][0] = 0; m[0][1] = one; m[1][0] = -one; m[1][1] = 0; m[1][2] = fh; break;
    case 4: m[0][0] = -one; m[0][2] = fw; break;
    case 5: m[1][1] = -one; m[1][2] = fh; break;
    default: break;
  }
  pixman_transform_t t;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) t.matrix[r][c] = m[r][c];
  }
  return t;
}

void pixmanTransformedCopy(SurfaceBuffer& from, SurfaceBuffer& to, const pixman_transform_t& t) {
  PixmanImage source(from);
  PixmanImage target(to);
  pixman_image_set_transform(source.image, &t);
  pixman_image_set_filter(source.image, PIXMAN_FILTER_NEAREST, nullptr, 0);
  pixman_image_composite32(PIXMAN_OP_SRC, source.image, nullptr, target.image, 0, 0, 0, 0, 0, 0,
                           static_cast<int>(to.surface.width), static_cast<int>(to.surface.height));
}

TEST(GalRefRotation, RotatedAndFlippedSourcesMatchPixmanTransforms) {
  std::mt19937 random(5);
  for (uint32_t rotation = 0; rotation <= 5; ++rotation) {
    SurfaceBuffer source(A8R8G8B8, 7, 5);
    source.fillRandom(random);
    source.surface.rotation = rotation;
    const uint32_t w = viewWidth(source.surface), h = viewHeight(source.surface);
    SurfaceBuffer expected(A8R8G8B8, w, h), actual(A8R8G8B8, w, h);
    const Rect all{0, 0, static_cast<int32_t>(w), static_cast<int32_t>(h)};
    ASSERT_EQ(blit(colourSource(source.surface, all), expected.surface, all, kDefaultClip, Brush{},
                   Raster{}),
              Status::Ok);
    pixmanTransformedCopy(source, actual, rotationTransform(rotation, 7, 5));
    EXPECT_EQ(compareSurfaces("source rotation " + std::to_string(rotation), expected.surface,
                              actual.surface),
              "");
  }
}

TEST(GalRefRotation, RotatedAndFlippedTargetsMatchPixmanTransforms) {
  std::mt19937 random(6);
  const uint32_t inverse[] = {0, 3, 2, 1, 4, 5};
  for (uint32_t rotation = 0; rotation <= 5; ++rotation) {
    SurfaceBuffer expected(R5G6B5, 6, 4), actual(R5G6B5, 6, 4);
    expected.surface.rotation = rotation;
    const uint32_t w = viewWidth(expected.surface), h = viewHeight(expected.surface);
    SurfaceBuffer source(R5G6B5, w, h);
    source.fillRandom(random);
    const Rect all{0, 0, static_cast<int32_t>(w), static_cast<int32_t>(h)};
    ASSERT_EQ(blit(colourSource(source.surface, all), expected.surface, all, kDefaultClip, Brush{},
                   Raster{}),
              Status::Ok);
    pixmanTransformedCopy(source, actual, rotationTransform(inverse[rotation], w, h));
    expected.surface.rotation = 0;
    EXPECT_EQ(compareSurfaces("target rotation " + std::to_string(rotation), expected.surface,
                              actual.surface),
              "");
  }
}

// A rectangle drawn into a rotated target lands where the engine's rectangle rotation puts it.
TEST(GalRefRotation, DrawnRectangleLandsOnTheRotatedRectangle) {
  const int32_t W = 12, H = 8;  // memory size
  const Rect r{1, 2, 4, 7};      // in the view
  struct Case {
    uint32_t rotation;
    Rect memory;
  };
  const Case cases[] = {
      {0, r},
      {1, {W - r.bottom, r.left, W - r.top, r.right}},
      {2, {W - r.right, H - r.bottom, W - r.left, H - r.top}},
      {3, {r.top, H - r.right, r.bottom, H - r.left}},
      {4, {W - r.right, r.top, W - r.left, r.bottom}},
      {5, {r.left, H - r.bottom, r.right, H - r.top}},
  };
  for (const Case& c : cases) {
    SurfaceBuffer target(A8R8G8B8, 12, 8);
    target.surface.rotation = c.rotation;
    ASSERT_EQ(clear(target.surface, r, kDefaultClip, 0xFFFFFFFF), Status::Ok);
    for (int32_t y = 0; y < H; ++y) {
      for (int32_t x = 0; x < W; ++x) {
        const bool inside = x >= c.memory.left && x < c.memory.right && y >= c.memory.top &&
                            y < c.memory.bottom;
        ASSERT_EQ(readRaw(target.surface, x, y), inside ? 0xFFFFFFFFu : 0u)
            << "rotation " << c.rotation << " at " << x << "," << y;
      }
    }
  }
}

TEST(GalRefClip, NothingOutsideDestinationClipAndTargetChanges) {
  struct Case {
    const char* name;
    Rect rect, clip, written;
  };
  const Case cases[] = {
      {"inside", {2, 1, 5, 3}, kDefaultClip, {2, 1, 5, 3}},
      {"past the target", {6, 4, 100, 100}, kDefaultClip, {6, 4, 8, 6}},
      {"clip cuts", {0, 0, 8, 6}, {3, 2, 4, 5}, {3, 2, 4, 5}},
      {"negative clip counts as 0", {0, 0, 3, 3}, {-5, -5, 2, 2}, {0, 0, 2, 2}},
      {"disjoint clip", {0, 0, 3, 3}, {4, 4, 6, 6}, {0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SurfaceBuffer target(B5G6R5, 8, 6);
    ASSERT_EQ(clear(target.surface, c.rect, c.clip, 0xFFFFFFFF), Status::Ok) << c.name;
    for (int32_t y = 0; y < 6; ++y) {
      for (int32_t x = 0; x < 8; ++x) {
        const bool inside = x >= c.written.left && x < c.written.right && y >= c.written.top &&
                            y < c.written.bottom;
        ASSERT_EQ(readRaw(target.surface, x, y), inside ? 0xFFFFu : 0u) << c.name << " " << x << "," << y;
      }
    }
  }
}

TEST(GalRefClip, BadInputsAreRefusedBeforeAnythingIsWritten) {
  SurfaceBuffer source(A8R8G8B8, 4, 4);
  SurfaceBuffer target(A8R8G8B8, 8, 8);
  const SurfaceBuffer untouched = target;
  struct Case {
    const char* name;
    Status status;
    Status expected;
  };
  Raster copy;
  const Case cases[] = {
      {"empty", clear(target.surface, {2, 2, 2, 4}, kDefaultClip, 1), Status::InvalidRectangle},
      {"reversed", clear(target.surface, {4, 2, 2, 4}, kDefaultClip, 1), Status::InvalidRectangle},
      {"negative", clear(target.surface, {-1, 0, 2, 4}, kDefaultClip, 1), Status::InvalidRectangle},
      {"too far", clear(target.surface, {0, 0, 0x10000, 4}, kDefaultClip, 1), Status::InvalidRectangle},
      {"source too small",
       blit(colourSource(source.surface, {1, 0, 5, 4}), target.surface, {0, 0, 4, 4}, kDefaultClip,
            Brush{}, copy),
       Status::SourceOutside},
      {"stretch past the source",
       stretchBlit(colourSource(source.surface, {0, 0, 4, 4}), target.surface, {0, 0, 8, 8},
                   kDefaultClip, Brush{}, copy, 0x10000, 0x10000),
       Status::SourceOutside},
      {"no source", blit(Source{}, target.surface, {0, 0, 4, 4}, kDefaultClip, Brush{}, copy),
       Status::MissingInput},
      {"no brush",
       blit(Source{}, target.surface, {0, 0, 4, 4}, kDefaultClip, Brush{}, rops(0xF0, 0xF0)),
       Status::MissingInput},
  };
  for (const Case& c : cases) EXPECT_EQ(c.status, c.expected) << c.name;
  EXPECT_EQ(compareSurfaces("refused operations", untouched.surface, target.surface), "");

  SurfaceBuffer indexed(INDEX8, 8, 8), yuv(YUY2, 8, 8);
  EXPECT_EQ(clear(indexed.surface, {0, 0, 1, 1}, kDefaultClip, 1), Status::Unsupported);
  EXPECT_EQ(clear(yuv.surface, {0, 0, 1, 1}, kDefaultClip, 1), Status::Unsupported);
}

}  // namespace
}  // namespace galref
