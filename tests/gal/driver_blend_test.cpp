// The 2D driver's blending, lines and multi-source blits end to end: settings go through the
// engine (Porter-Duff rules, alpha modes, global alpha and colours, colour and multiply modes,
// brushes), the command stream and the simulated 2D core into video memory. Porter-Duff on
// premultiplied A8R8G8B8 must equal pixman's result exactly; everything else equals the
// reference renderer; a multi-source blit equals its sources blitted one by one.
#include <gtest/gtest.h>
#include <pixman.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "gal_states.h"
#include "gal_surface.h"
#include "gpu_sim_fixture.h"
#include "reference.h"
#include "video_surface.h"

namespace {

using veld::test::GpuSimulator;
using veld::test::VideoSurface;

using veld::test::toRect;
gco2D engine() { return veld::test::threadEngine(); }

// Premultiplied A8R8G8B8 pixels (no colour above its alpha), opaque and clear ones often.
void premultiply(VideoSurface& s, std::mt19937& random) {
    for (uint32_t y = 0; y < s.height; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(s.memory + size_t(y) * uint32_t(s.stride));
        for (uint32_t x = 0; x < s.width; ++x) {
            const uint32_t pick = random() % 256;
            const uint32_t a = pick < 40 ? 0 : pick > 200 ? 255 : pick;
            row[x] = a << 24 | (random() % (a + 1)) << 16 | (random() % (a + 1)) << 8 | random() % (a + 1);
        }
    }
}

pixman_image_t* pixmanImage(const VideoSurface& s, uint8_t* memory) {
    return pixman_image_create_bits(PIXMAN_a8r8g8b8, int(s.width), int(s.height),
                                    reinterpret_cast<uint32_t*>(memory), s.stride);
}

constexpr pixman_op_t kPixmanRules[12] = {
    PIXMAN_OP_CLEAR, PIXMAN_OP_SRC,  PIXMAN_OP_OVER,         PIXMAN_OP_OVER_REVERSE,
    PIXMAN_OP_IN,    PIXMAN_OP_IN_REVERSE, PIXMAN_OP_OUT,    PIXMAN_OP_OUT_REVERSE,
    PIXMAN_OP_ATOP,  PIXMAN_OP_ATOP_REVERSE, PIXMAN_OP_ADD,  PIXMAN_OP_XOR,
};

class DriverBlend : public veld::test::GpuTest {
protected:
    // The engine outlives the test: later tests find no blending and no multiply modes.
    void TearDown() override {
        gco2D e = engine();
        gco2D_SetCurrentSourceIndex(e, 0);
        gco2D_DisableAlphaBlend(e);
        gco2D_SetPixelMultiplyModeAdvanced(e, 0, 0, 0, 0);
    }
};

TEST_F(DriverBlend, PorterDuffOnPremultipliedColourMatchesPixman) {
    std::mt19937 random(41);
    const uint64_t faults = GpuSimulator::counter("faults");
    gco2D e = engine();
    const galref::Rect dest{3, 2, 45, 37};
    for (uint32_t rule = 0; rule < 12; ++rule) {
        VideoSurface target(48, 40, 212, random), source(48, 40, 212, random);
        premultiply(target, random);
        premultiply(source, random);
        std::vector<uint8_t> expected(target.memory, target.memory + size_t(target.stride) * target.height);
        pixman_image_t* pixSource = pixmanImage(source, source.memory);
        pixman_image_t* pixTarget = pixmanImage(target, expected.data());
        pixman_image_composite32(kPixmanRules[rule], pixSource, nullptr, pixTarget, 1, 2, 0, 0, dest.left,
                                 dest.top, dest.width(), dest.height());
        pixman_image_unref(pixSource);
        pixman_image_unref(pixTarget);

        ASSERT_EQ(gco2D_SetCurrentSourceIndex(e, 0), gcvSTATUS_OK);
        ASSERT_EQ(gco2D_SetClipping(e, nullptr), gcvSTATUS_OK);
        ASSERT_EQ(gcoSURF_Set2DTarget(target.surface, 0), gcvSTATUS_OK);
        ASSERT_EQ(gco2D_SetColorSourceEx(e, source.address, uint32_t(source.stride), 212, 0, source.width,
                                         source.height, 0, 0, 0),
                  gcvSTATUS_OK);
        const gcsRECT src{1, 2, 1 + dest.width(), 2 + dest.height()};
        ASSERT_EQ(gco2D_SetSource(e, &src), gcvSTATUS_OK);
        ASSERT_EQ(gco2D_SetPixelMultiplyModeAdvanced(e, 0, 0, 0, 0), gcvSTATUS_OK);
        ASSERT_EQ(gco2D_SetPorterDuffBlending(e, rule), gcvSTATUS_OK);
        // The ROPs ignore the source: blending reads it all the same.
        const gcsRECT d = toRect(dest);
        ASSERT_EQ(gco2D_Blit(e, 1, &d, 0xAA, 0xAA, 212), gcvSTATUS_OK);
        ASSERT_EQ(gcoHAL_Commit(nullptr, 1), gcvSTATUS_OK);
        ASSERT_EQ(gco2D_DisableAlphaBlend(e), gcvSTATUS_OK);
        const galref::Surface want = target.view(expected.data(), 0);
        EXPECT_EQ(galref::compareSurfaces("Porter-Duff rule " + std::to_string(rule), want,
                                          target.view(target.memory, 0)),
                  "");
    }
    EXPECT_EQ(GpuSimulator::counter("faults"), faults);
}

// Blending the reference defines and pixman does not: straight colour through the colour and
// multiply modes, alpha and global-alpha modes, global colours, other formats, rotation,
// stretching, and a keyed source whose transparent pixels take a pattern ROP instead.
struct BlendCase {
    const char* name;
    std::function<gceSTATUS(gco2D)> settings;  // through the engine
    galref::Blend blend;                       // the same in the reference's terms
    uint32_t targetFormat = 212, sourceFormat = 212, targetRotation = 0;
    bool stretch = false, keyed = false;
};

galref::Blend rule(uint32_t porterDuff, const std::function<void(galref::Blend&)>& change = {}) {
    galref::Blend b;
    galref::porterDuff(porterDuff, b);
    if (change) change(b);
    return b;
}

TEST_F(DriverBlend, ModesFormatsAndPatternsMatchTheReference) {
    const std::vector<BlendCase> cases = {
        {"straight source over premultiplied target",
         [](gco2D e) { return gco2D_EnableAlphaBlend(e, 0xFF, 0xFF, 0, 0, 0, 0, 1, 3, 1, 0); },
         rule(2, [](galref::Blend& b) { b.sourcePremultiply = true; })},
        {"straight over straight under a scaled global alpha",
         [](gco2D e) { return gco2D_EnableAlphaBlend(e, 0x90, 0xFF, 0, 0, 2, 0, 1, 3, 1, 1); },
         rule(2, [](galref::Blend& b) {
             b.sourceAlpha = 0x90;
             b.sourceGlobalAlphaMode = 2;
             b.sourcePremultiply = b.targetPremultiply = true;
             b.globalColorMultiply = 1;
         })},
        {"straight source with the global alpha in place of its own",
         [](gco2D e) { return gco2D_EnableAlphaBlend(e, 0x60, 0xFF, 0, 0, 1, 0, 1, 3, 1, 0); },
         rule(2, [](galref::Blend& b) {
             b.sourceAlpha = 0x60;
             b.sourceGlobalAlphaMode = 1;
             b.globalColorMultiply = 1;
         })},
        {"straight target only",
         [](gco2D e) { return gco2D_EnableAlphaBlend(e, 0xFF, 0xFF, 0, 0, 0, 0, 1, 3, 0, 1); },
         rule(2, [](galref::Blend& b) { b.targetPremultiply = true; })},
        {"inverse alphas and target global alpha, DstAtop factors",
         [](gco2D e) { return gco2D_EnableAlphaBlend(e, 0x33, 0xC8, 1, 1, 0, 2, 3, 2, 0, 0); },
         rule(9, [](galref::Blend& b) {
             b.sourceAlpha = 0x33;
             b.targetAlpha = 0xC8;
             b.sourceAlphaMode = b.targetAlphaMode = 1;
             b.targetGlobalAlphaMode = 2;
         })},
        {"global colour multiply and demultiply",
         [](gco2D e) {
             gceSTATUS s = gco2D_SetSourceGlobalColorAdvanced(e, 0xFF40C080u);
             if (s == gcvSTATUS_OK) s = gco2D_SetPorterDuffBlending(e, 2);
             return s == gcvSTATUS_OK ? gco2D_SetPixelMultiplyModeAdvanced(e, 1, 0, 2, 1) : s;
         },
         rule(2, [](galref::Blend& b) {
             b.sourcePremultiply = b.targetDemultiply = true;
             b.globalColorMultiply = 2;
             b.sourceGlobalColour = 0xFF40C080u;
         })},
        {"SrcOver into R5G6B5 from A4R4G4B4", [](gco2D e) { return gco2D_SetPorterDuffBlending(e, 2); },
         rule(2), 209, 206},
        {"Xor into a quarter-turned A1R5G5B5", [](gco2D e) { return gco2D_SetPorterDuffBlending(e, 11); },
         rule(11), 207, 212, 1},
        {"stretched Add into X8R8G8B8", [](gco2D e) { return gco2D_SetPorterDuffBlending(e, 10); }, rule(10),
         211, 212, 0, true},
        {"keyed source: its transparent pixels take the brush", [](gco2D e) { return gco2D_SetPorterDuffBlending(e, 2); },
         rule(2), 212, 209, 0, false, true},
    };
    std::mt19937 random(43);
    const uint64_t faults = GpuSimulator::counter("faults");
    gco2D e = engine();
    const galref::Rect dest{3, 2, 37, 30}, clip{5, 0, 40, 26};
    for (const BlendCase& c : cases) {
        VideoSurface target(48, 40, c.targetFormat, random), source(48, 40, c.sourceFormat, random);
        std::vector<uint8_t> expected(target.memory, target.memory + size_t(target.stride) * target.height);
        const galref::Rect src = c.stretch ? galref::Rect{2, 1, 20, 33} : galref::Rect{1, 2, 35, 30};
        ASSERT_EQ(gco2D_SetCurrentSourceIndex(e, 0), gcvSTATUS_OK);
        const gcsRECT clipRect = toRect(clip), s = toRect(src), d = toRect(dest);
        ASSERT_EQ(gco2D_SetClipping(e, &clipRect), gcvSTATUS_OK);
        ASSERT_EQ(gcoSURF_Set2DTarget(target.surface, c.targetRotation), gcvSTATUS_OK);
        // A keyed R5G6B5 source: its pure black pixels are transparent.
        ASSERT_EQ(gco2D_SetColorSourceEx(e, source.address, uint32_t(source.stride), c.sourceFormat, 0,
                                         source.width, source.height, 0, c.keyed ? 1 : 0, 0),
                  gcvSTATUS_OK);
        if (c.keyed)
            for (uint32_t i = 0; i < uint32_t(source.stride) * source.height; i += 6)
                source.memory[i] = source.memory[i + 1] = 0;
        ASSERT_EQ(gco2D_SetSource(e, &s), gcvSTATUS_OK);
        ASSERT_EQ(gco2D_LoadMonochromeBrush(e, 1, 2, 1, 0xFF00FF00u, 0xFF0000FFu, 0x0123456789ABCDEFull, 0),
                  gcvSTATUS_OK);
        ASSERT_EQ(gco2D_SetPixelMultiplyModeAdvanced(e, 0, 0, 0, 0), gcvSTATUS_OK);
        ASSERT_EQ(c.settings(e), gcvSTATUS_OK) << c.name;
        const uint8_t background = c.keyed ? 0xF0 : 0xCC;
        if (c.stretch) {
            ASSERT_EQ(gco2D_SetStretchRectFactors(e, &s, &d), gcvSTATUS_OK);
            ASSERT_EQ(gco2D_StretchBlit(e, 1, &d, 0xCC, background, c.targetFormat), gcvSTATUS_OK);
        } else {
            ASSERT_EQ(gco2D_Blit(e, 1, &d, 0xCC, background, c.targetFormat), gcvSTATUS_OK);
        }
        ASSERT_EQ(gcoHAL_Commit(nullptr, 1), gcvSTATUS_OK);
        ASSERT_EQ(gco2D_DisableAlphaBlend(e), gcvSTATUS_OK);

        const galref::Surface want = target.view(expected.data(), c.targetRotation);
        const galref::Surface sourceRef = source.view(source.memory, 0);
        galref::Source from;
        from.type = galref::SourceType::Color;
        from.surface = &sourceRef;
        from.rect = src;
        galref::Brush brush;
        brush.type = galref::BrushType::Monochrome;
        brush.originX = 1;
        brush.originY = 2;
        brush.foreground = 0xFF00FF00u;
        brush.background = 0xFF0000FFu;
        brush.bits = 0x0123456789ABCDEFull;
        galref::Raster raster;
        raster.backgroundRop = background;
        raster.blend = c.blend;
        if (c.keyed) {
            raster.sourceMode = galref::kKeyed;
            raster.sourceKeyLow = raster.sourceKeyHigh = galref::colorPackToArgb8(c.sourceFormat, 0).value_or(0);
        }
        const galref::Status status =
            c.stretch ? galref::stretchBlit(from, want, dest, clip, brush, raster,
                                            galref::stretchFactor(false, uint32_t(src.width()), uint32_t(dest.width())),
                                            galref::stretchFactor(false, uint32_t(src.height()), uint32_t(dest.height())))
                      : galref::blit(from, want, dest, clip, brush, raster);
        ASSERT_EQ(status, galref::Status::Ok) << c.name;
        EXPECT_EQ(galref::compareSurfaces(c.name, want, target.view(target.memory, c.targetRotation)), "");
    }
    EXPECT_EQ(GpuSimulator::counter("faults"), faults);
}

TEST_F(DriverBlend, ColourModesTheChipCannotCombineAreRefused) {
    gco2D e = engine();
    ASSERT_EQ(gco2D_SetCurrentSourceIndex(e, 0), gcvSTATUS_OK);
    // A straight source cannot also invert its alpha; a straight target takes no alpha modes.
    EXPECT_EQ(gco2D_EnableAlphaBlend(e, 0xFF, 0xFF, 1, 0, 0, 0, 1, 3, 1, 0), gcvSTATUS_NOT_SUPPORTED);
    EXPECT_EQ(gco2D_EnableAlphaBlend(e, 0xFF, 0xFF, 0, 0, 0, 2, 1, 3, 0, 1), gcvSTATUS_NOT_SUPPORTED);
    EXPECT_EQ(gco2D_SetPorterDuffBlending(e, 12), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gco2D_DisableAlphaBlend(e), gcvSTATUS_OK);
}

}  // namespace
