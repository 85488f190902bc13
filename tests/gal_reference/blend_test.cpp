// Reference renderer, alpha blending: the twelve Porter-Duff rules and global alpha against
// pixman on premultiplied colour, straight colour through the multiply modes, and the alpha,
// global-alpha and multiply modes by hand.
#include "blend.h"
#include "pixman_image.h"
#include "reference.h"

#include <gtest/gtest.h>

#include <random>

namespace galref {
namespace {

constexpr uint32_t kW = 16, kH = 4;
constexpr Rect kAll{0, 0, kW, kH};

// Random premultiplied pixels: no colour channel above the alpha.
void fillPremultiplied(SurfaceBuffer& buffer, std::mt19937& random) {
  for (uint32_t y = 0; y < buffer.surface.height; ++y) {
    for (uint32_t x = 0; x < buffer.surface.width; ++x) {
      const uint32_t a = random() % 256;
      // Opaque and clear pixels often, as real pictures have them.
      const uint32_t alpha = a < 40 ? 0 : a > 200 ? 255 : a;
      writeArgb(buffer.surface, x, y,
                argb(alpha, random() % (alpha + 1), random() % (alpha + 1), random() % (alpha + 1)));
    }
  }
}

// A straight-colour A8R8G8B8 buffer with each colour multiplied by its alpha.
SurfaceBuffer premultipliedCopy(const SurfaceBuffer& straight) {
  SurfaceBuffer out = straight;
  for (uint32_t y = 0; y < kH; ++y) {
    for (uint32_t x = 0; x < kW; ++x) {
      const uint32_t c = readArgb(straight.surface, x, y);
      const uint32_t a = alphaOf(c);
      writeArgb(out.surface, x, y,
                argb(a, mul255(redOf(c), a), mul255(greenOf(c), a), mul255(blueOf(c), a)));
    }
  }
  return out;
}

Source whole(const Surface& s) {
  Source source;
  source.type = SourceType::Color;
  source.surface = &s;
  source.rect = kAll;
  return source;
}

Raster blending(const Blend& blend) {
  Raster raster;
  raster.blend = blend;
  return raster;
}

constexpr pixman_op_t kPixmanRules[12] = {
    PIXMAN_OP_CLEAR, PIXMAN_OP_SRC,     PIXMAN_OP_OVER,     PIXMAN_OP_OVER_REVERSE,
    PIXMAN_OP_IN,    PIXMAN_OP_IN_REVERSE, PIXMAN_OP_OUT,   PIXMAN_OP_OUT_REVERSE,
    PIXMAN_OP_ATOP,  PIXMAN_OP_ATOP_REVERSE, PIXMAN_OP_ADD, PIXMAN_OP_XOR,
};

TEST(GalRefBlend, PorterDuffRulesSetTheirFactorModes) {
  Blend blend;
  ASSERT_TRUE(porterDuff(2, blend));
  EXPECT_EQ(blend.sourceFactorMode, kOne);
  EXPECT_EQ(blend.targetFactorMode, kInverse);
  ASSERT_TRUE(porterDuff(5, blend));  // DstIn
  EXPECT_EQ(blend.sourceFactorMode, kZero);
  EXPECT_EQ(blend.targetFactorMode, kStraight);
  EXPECT_FALSE(porterDuff(12, blend));
}

TEST(GalRefBlend, PorterDuffOnPremultipliedColourMatchesPixman) {
  std::mt19937 random(21);
  for (uint32_t rule = 0; rule < 12; ++rule) {
    for (Format format : {A8R8G8B8, X8R8G8B8, R5G6B5, A4R4G4B4, A8}) {
      SurfaceBuffer source(A8R8G8B8, kW, kH);
      fillPremultiplied(source, random);
      SurfaceBuffer expected(format, kW, kH);
      if (format == A8R8G8B8) {
        fillPremultiplied(expected, random);
      } else {
        expected.fillRandom(random);
      }
      SurfaceBuffer actual = expected;
      Blend blend;
      ASSERT_TRUE(porterDuff(rule, blend));
      ASSERT_EQ(blit(whole(source.surface), expected.surface, kAll, kDefaultClip, Brush{},
                     blending(blend)),
                Status::Ok);
      PixmanImage pixSource(source), pixTarget(actual);
      pixman_image_composite32(kPixmanRules[rule], pixSource.image, nullptr, pixTarget.image, 0, 0,
                               0, 0, 0, 0, kW, kH);
      EXPECT_EQ(compareSurfaces("Porter-Duff rule " + std::to_string(rule), expected.surface,
                                actual.surface),
                "");
    }
  }
}

TEST(GalRefBlend, ScaledGlobalAlphaMatchesAPixmanSolidMask) {
  std::mt19937 random(22);
  for (uint8_t global : {0x00, 0x40, 0x80, 0xFF}) {
    SurfaceBuffer source(A8R8G8B8, kW, kH), expected(A8R8G8B8, kW, kH);
    fillPremultiplied(source, random);
    fillPremultiplied(expected, random);
    SurfaceBuffer actual = expected;
    Blend blend;
    ASSERT_TRUE(porterDuff(2, blend));
    blend.sourceAlpha = global;
    blend.sourceGlobalAlphaMode = 2;
    blend.globalColorMultiply = 1;
    ASSERT_EQ(blit(whole(source.surface), expected.surface, kAll, kDefaultClip, Brush{},
                   blending(blend)),
              Status::Ok);
    const pixman_color_t maskColour{0, 0, 0, static_cast<uint16_t>(global * 0x101)};
    pixman_image_t* mask = pixman_image_create_solid_fill(&maskColour);
    PixmanImage pixSource(source), pixTarget(actual);
    pixman_image_composite32(PIXMAN_OP_OVER, pixSource.image, mask, pixTarget.image, 0, 0, 0, 0,
                             0, 0, kW, kH);
    pixman_image_unref(mask);
    EXPECT_EQ(compareSurfaces("SrcOver with global alpha " + std::to_string(global),
                              expected.surface, actual.surface),
              "");
  }
}

// Straight colour under a scaled global alpha (what the engine's colour mode 1 with global
// alpha mode 2 sets: source premultiply and global-colour multiply 1) is multiplied by the
// pixel's alpha and by the global alpha once each: pixman's OVER of the premultiplied source
// through a solid mask of the global alpha.
TEST(GalRefBlend, StraightSourceUnderScaledGlobalAlphaMatchesPixmanWithASolidMask) {
  std::mt19937 random(24);
  SurfaceBuffer straight(A8R8G8B8, kW, kH);
  straight.fillRandom(random);
  SurfaceBuffer premultiplied = premultipliedCopy(straight);
  for (uint8_t global : {0x00, 0x80, 0xFF}) {
    SurfaceBuffer expected(A8R8G8B8, kW, kH);
    fillPremultiplied(expected, random);
    SurfaceBuffer actual = expected;
    Blend blend;
    ASSERT_TRUE(porterDuff(2, blend));
    blend.sourcePremultiply = true;
    blend.globalColorMultiply = 1;
    blend.sourceGlobalAlphaMode = 2;
    blend.sourceAlpha = global;
    ASSERT_EQ(blit(whole(straight.surface), expected.surface, kAll, kDefaultClip, Brush{},
                   blending(blend)),
              Status::Ok);
    const pixman_color_t maskColour{0, 0, 0, static_cast<uint16_t>(global * 0x101)};
    pixman_image_t* mask = pixman_image_create_solid_fill(&maskColour);
    PixmanImage pixSource(premultiplied), pixTarget(actual);
    pixman_image_composite32(PIXMAN_OP_OVER, pixSource.image, mask, pixTarget.image, 0, 0, 0, 0,
                             0, 0, kW, kH);
    pixman_image_unref(mask);
    EXPECT_EQ(compareSurfaces("straight SrcOver, global alpha " + std::to_string(global),
                              expected.surface, actual.surface),
              "");
  }
}

TEST(GalRefBlend, StraightSourceWithPremultiplyMatchesPixmanOnThePremultipliedSource) {
  std::mt19937 random(23);
  SurfaceBuffer straight(A8R8G8B8, kW, kH);
  straight.fillRandom(random);
  SurfaceBuffer premultiplied = premultipliedCopy(straight);
  SurfaceBuffer expected(A8R8G8B8, kW, kH);
  fillPremultiplied(expected, random);
  SurfaceBuffer actual = expected;
  Blend blend;
  ASSERT_TRUE(porterDuff(2, blend));
  blend.sourcePremultiply = true;
  ASSERT_EQ(blit(whole(straight.surface), expected.surface, kAll, kDefaultClip, Brush{},
                 blending(blend)),
            Status::Ok);
  PixmanImage pixSource(premultiplied), pixTarget(actual);
  pixman_image_composite32(PIXMAN_OP_OVER, pixSource.image, nullptr, pixTarget.image, 0, 0, 0, 0,
                           0, 0, kW, kH);
  EXPECT_EQ(compareSurfaces("SrcOver of straight colour", expected.surface, actual.surface), "");
}

TEST(GalRefBlend, ModesByHand) {
  struct Case {
    const char* name;
    uint32_t rule;
    Blend changes;
    uint32_t source, target, expected;
  };
  auto with = [](auto change) {
    Blend b;
    change(b);
    return b;
  };
  const Case cases[] = {
      // as = 0x80; colour (128, 64, 32); target factor 127 on black, alpha 0x80 + 0x7F.
      {"premultiply then SrcOver", 2, with([](Blend& b) { b.sourcePremultiply = true; }),
       0x80FF8040, 0xFF000000, 0xFF804020},
      {"premultiply then demultiply", 1,
       with([](Blend& b) { b.sourcePremultiply = b.targetDemultiply = true; }), 0x80FF8040, 0,
       0x80FF8040},
      {"inverse source alpha", 2, with([](Blend& b) { b.sourceAlphaMode = 1; }), 0x00112233,
       0xFFFFFFFF, 0xFF112233},
      {"global alpha replaces the pixel's", 1,
       with([](Blend& b) { b.sourceGlobalAlphaMode = 1; b.sourceAlpha = 0x40; }), 0xFF112233, 0,
       0x40112233},
      {"global colour multiply", 1,
       with([](Blend& b) { b.globalColorMultiply = 2; b.sourceGlobalColour = 0xFF804020; }),
       0xFFFFFFFF, 0, 0xFF804020},
      // DstIn with a target premultiply: target colour × its alpha × source alpha.
      {"target premultiply", 5, with([](Blend& b) { b.targetPremultiply = true; }), 0x80000000,
       0x80FF0000, 0x40400000},
  };
  for (const Case& c : cases) {
    Blend blend = c.changes;
    const Blend settings = c.changes;
    ASSERT_TRUE(porterDuff(c.rule, blend));
    blend.sourceAlphaMode = settings.sourceAlphaMode;
    blend.sourceGlobalAlphaMode = settings.sourceGlobalAlphaMode;
    EXPECT_EQ(blendPixel(blend, c.source, c.target), c.expected) << c.name;
  }
}

TEST(GalRefBlend, TransparentPixelsStillTakeTheBackgroundRop) {
  SurfaceBuffer source(A8R8G8B8, 2, 1), target(A8R8G8B8, 2, 1);
  writeArgb(source.surface, 0, 0, 0xFF00FF00);  // the key
  writeArgb(source.surface, 1, 0, 0xFF0000FF);
  writeArgb(target.surface, 0, 0, 0xFF123456);
  writeArgb(target.surface, 1, 0, 0xFF123456);
  Blend blend;
  ASSERT_TRUE(porterDuff(2, blend));
  Raster raster = blending(blend);
  raster.backgroundRop = 0xAA;
  raster.sourceMode = kKeyed;
  raster.sourceKeyLow = raster.sourceKeyHigh = 0xFF00FF00;
  Source s = whole(source.surface);
  s.rect = {0, 0, 2, 1};
  ASSERT_EQ(blit(s, target.surface, {0, 0, 2, 1}, kDefaultClip, Brush{}, raster), Status::Ok);
  EXPECT_EQ(readArgb(target.surface, 0, 0), 0xFF123456u);
  EXPECT_EQ(readArgb(target.surface, 1, 0), 0xFF0000FFu);
}

}  // namespace
}  // namespace galref
