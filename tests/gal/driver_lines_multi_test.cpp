// The 2D driver's lines and multi-source blits end to end (engine, command stream, simulated 2D
// core, video memory): lines in every direction, clipped, with a colour or the engine's brush,
// equal the reference renderer's; a multi-source blit equals the same sources blitted one by
// one, through the driver and in the reference.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "gal_surface.h"
#include "gpu_sim_fixture.h"
#include "reference.h"
#include "video_surface.h"

namespace {

using veld::test::GpuSimulator;
using veld::test::VideoSurface;

using veld::test::toRect;
gco2D engine() { return veld::test::threadEngine(); }

class DriverLines : public veld::test::GpuTest {};

TEST_F(DriverLines, LinesInEveryDirectionMatchTheReference) {
    // Start and end points: the eight octants, the axes, diagonals, a single point (nothing
    // drawn), lines crossing the clip and the target's edge.
    const std::vector<galref::Rect> lines = {
        {2, 3, 40, 10},  {40, 10, 2, 3},  {5, 2, 12, 35},  {12, 35, 5, 2},   {30, 4, 3, 20},
        {3, 20, 30, 4},  {8, 38, 14, 1},  {14, 1, 8, 38},  {0, 0, 47, 0},    {20, 39, 20, 0},
        {1, 1, 30, 30},  {30, 1, 1, 30},  {9, 9, 9, 9},    {0, 30, 47, 33},  {40, 0, 47, 39},
        {3, 7, 60, 16},
    };
    struct Case {
        uint32_t format, rotation;
        uint8_t rop;
        bool brush;  // the engine's monochrome brush; else a colour line
        galref::Rect clip;
    };
    const Case cases[] = {
        {212, 0, 0xF0, false, galref::kDefaultClip}, {209, 0, 0x5A, false, {4, 3, 35, 33}},
        {212, 1, 0xF0, true, galref::kDefaultClip},  {206, 2, 0xA0, true, {0, 5, 44, 30}},
    };
    std::mt19937 random(51);
    const uint64_t faults = GpuSimulator::counter("faults");
    gco2D e = engine();
    constexpr uint64_t kBits = 0xF0E1D2C3B4A59687ull;
    for (const Case& c : cases) {
        VideoSurface target(48, 40, c.format, random);
        std::vector<uint8_t> expected(target.memory, target.memory + size_t(target.stride) * target.height);
        const galref::Surface want = target.view(expected.data(), c.rotation);
        ASSERT_EQ(gco2D_SetCurrentSourceIndex(e, 0), gcvSTATUS_OK);
        const gcsRECT clip = toRect(c.clip);
        ASSERT_EQ(gco2D_SetClipping(e, &clip), gcvSTATUS_OK);
        ASSERT_EQ(gcoSURF_Set2DTarget(target.surface, c.rotation), gcvSTATUS_OK);
        std::vector<gcsRECT> driverLines;
        for (const galref::Rect& l : lines) driverLines.push_back(toRect(l));
        galref::Brush brush;
        if (c.brush) {
            ASSERT_EQ(gco2D_LoadMonochromeBrush(e, 3, 5, 1, 0xFFFF8000u, 0x800040FFu, kBits, 0), gcvSTATUS_OK);
            ASSERT_EQ(gco2D_Line(e, uint32_t(driverLines.size()), driverLines.data(), nullptr, c.rop, c.rop,
                                 c.format),
                      gcvSTATUS_OK);
            brush.type = galref::BrushType::Monochrome;
            brush.originX = 3;
            brush.originY = 5;
            brush.foreground = 0xFFFF8000u;
            brush.background = 0x800040FFu;
            brush.bits = kBits;
        } else {
            ASSERT_EQ(gco2D_ColorLine(e, uint32_t(driverLines.size()), driverLines.data(), 0xC0336699u, c.rop,
                                      c.rop, c.format),
                      gcvSTATUS_OK);
            brush.type = galref::BrushType::Solid;
            brush.colour = 0xC0336699u;
        }
        ASSERT_EQ(gcoHAL_Commit(nullptr, 1), gcvSTATUS_OK);
        for (const galref::Rect& l : lines) ASSERT_EQ(galref::line(want, l, c.clip, brush, c.rop), galref::Status::Ok);
        EXPECT_EQ(galref::compareSurfaces("lines in " + galref::formatName(c.format) + " rotation " +
                                              std::to_string(c.rotation),
                                          want, target.view(target.memory, c.rotation)),
                  "");
    }
    EXPECT_EQ(GpuSimulator::counter("faults"), faults);
}

TEST_F(DriverLines, LinesThatWouldReadASourceOrLeaveTheRangeAreRefused) {
    gco2D e = engine();
    const gcsRECT fine{0, 0, 5, 5}, outside{0, 0, 0x10000, 5}, negative{-1, 0, 5, 5};
    EXPECT_EQ(gco2D_ColorLine(e, 1, &fine, 0, 0xCC, 0xCC, 212), gcvSTATUS_NOT_SUPPORTED);
    EXPECT_EQ(gco2D_Line(e, 1, &fine, nullptr, 0x66, 0x66, 212), gcvSTATUS_NOT_SUPPORTED);
    EXPECT_EQ(gco2D_ColorLine(e, 0, &fine, 0, 0xF0, 0xF0, 212), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gco2D_ColorLine(e, 1, nullptr, 0, 0xF0, 0xF0, 212), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gco2D_ColorLine(e, 1, &outside, 0, 0xF0, 0xF0, 212), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gco2D_ColorLine(e, 1, &negative, 0, 0xF0, 0xF0, 212), gcvSTATUS_INVALID_ARGUMENT);
}

// One source of a multi-source blit, in the engine's and the reference's terms.
struct MultiSource {
    uint32_t format, rotation;
    galref::Rect rect;
    uint8_t foreground, background;
    int porterDuff;  // -1: ROPs only
    bool keyed;
};

class DriverMultiSource : public veld::test::GpuTest {
protected:
    // The engine outlives the test: later tests find no blending and source 0 current.
    void TearDown() override {
        gco2D e = engine();
        for (uint32_t i = 0; i < 8; ++i) {
            gco2D_SetCurrentSourceIndex(e, i);
            gco2D_DisableAlphaBlend(e);
        }
        gco2D_SetCurrentSourceIndex(e, 0);
    }
    // Sets source `index` of the engine; returns the reference's view of its surface.
    void setSource(gco2D e, uint32_t index, const MultiSource& m, const VideoSurface& s, const gcsRECT& clip) {
        ASSERT_EQ(gco2D_SetCurrentSourceIndex(e, index), gcvSTATUS_OK);
        ASSERT_EQ(gco2D_SetColorSourceEx(e, s.address, uint32_t(s.stride), m.format, m.rotation, s.width, s.height,
                                         0, m.keyed ? 1 : 0, 0),
                  gcvSTATUS_OK);
        const gcsRECT r = toRect(m.rect);
        ASSERT_EQ(gco2D_SetSource(e, &r), gcvSTATUS_OK);
        ASSERT_EQ(gco2D_SetClipping(e, &clip), gcvSTATUS_OK);
        ASSERT_EQ(gco2D_SetROP(e, m.foreground, m.background), gcvSTATUS_OK);
        ASSERT_EQ(gco2D_SetBitBlitMirror(e, 0, 0), gcvSTATUS_OK);
        ASSERT_EQ(gco2D_SetPixelMultiplyModeAdvanced(e, 0, 0, 0, 0), gcvSTATUS_OK);
        if (m.porterDuff >= 0) {
            ASSERT_EQ(gco2D_SetPorterDuffBlending(e, uint32_t(m.porterDuff)), gcvSTATUS_OK);
        } else {
            ASSERT_EQ(gco2D_DisableAlphaBlend(e), gcvSTATUS_OK);
        }
    }
};

TEST_F(DriverMultiSource, EqualsTheSourcesBlittedOneByOne) {
    std::mt19937 random(61);
    const uint64_t faults = GpuSimulator::counter("faults");
    gco2D e = engine();
    const std::vector<MultiSource> sources = {
        {212, 0, {1, 2, 21, 16}, 0xCC, 0xCC, 2, false},     // SrcOver
        {209, 0, {10, 5, 30, 19}, 0x66, 0xF0, -1, true},    // XOR with the target; keyed pixels take the brush
        {206, 1, {3, 0, 23, 14}, 0xCC, 0xCC, 10, false},    // Add, from a quarter-turned source
        {212, 0, {20, 20, 40, 34}, 0xCC, 0xCC, 8, false},   // SrcAtop
    };
    const uint32_t mask = 0b1011;  // source 2 stays out
    const std::vector<galref::Rect> dests = {{2, 3, 22, 17}, {25, 20, 45, 34}};
    const galref::Rect clip{0, 4, 44, 40};
    const gcsRECT clipRect = toRect(clip);

    VideoSurface together(48, 40, 212, random), oneByOne(48, 40, 212, random);
    std::memcpy(oneByOne.memory, together.memory, size_t(together.stride) * together.height);
    std::vector<uint8_t> expected(together.memory, together.memory + size_t(together.stride) * together.height);
    std::vector<std::unique_ptr<VideoSurface>> surfaces;
    for (const MultiSource& m : sources) surfaces.push_back(std::make_unique<VideoSurface>(48, 40, m.format, random));
    ASSERT_EQ(gco2D_LoadSolidBrush(e, 212, 1, 0xFF20E040u, 0), gcvSTATUS_OK);
    std::vector<gcsRECT> destRects;
    for (const galref::Rect& d : dests) destRects.push_back(toRect(d));

    // All of them in one operation.
    ASSERT_EQ(gcoSURF_Set2DTarget(together.surface, 0), gcvSTATUS_OK);
    for (uint32_t i = 0; i < sources.size(); ++i) setSource(e, i, sources[i], *surfaces[i], clipRect);
    ASSERT_EQ(gco2D_MultiSourceBlit(e, mask, destRects.data(), uint32_t(destRects.size())), gcvSTATUS_OK);
    ASSERT_EQ(gcoHAL_Commit(nullptr, 1), gcvSTATUS_OK);

    // One by one through the driver, and in the reference.
    ASSERT_EQ(gcoSURF_Set2DTarget(oneByOne.surface, 0), gcvSTATUS_OK);
    const galref::Surface want = together.view(expected.data(), 0);
    galref::Brush brush;
    brush.type = galref::BrushType::Solid;
    brush.colour = 0xFF20E040u;
    for (uint32_t i = 0; i < sources.size(); ++i) {
        if (!(mask >> i & 1u)) continue;
        const MultiSource& m = sources[i];
        ASSERT_EQ(gco2D_SetCurrentSourceIndex(e, i), gcvSTATUS_OK);
        ASSERT_EQ(gco2D_Blit(e, uint32_t(destRects.size()), destRects.data(), m.foreground, m.background, 212),
                  gcvSTATUS_OK);
        const galref::Surface sourceRef = surfaces[i]->view(surfaces[i]->memory, m.rotation);
        galref::Source from;
        from.type = galref::SourceType::Color;
        from.surface = &sourceRef;
        from.rect = m.rect;
        galref::Raster raster;
        raster.foregroundRop = m.foreground;
        raster.backgroundRop = m.background;
        if (m.keyed) {
            raster.sourceMode = galref::kKeyed;
            raster.sourceKeyLow = raster.sourceKeyHigh = galref::colorPackToArgb8(m.format, 0).value_or(0);
        }
        if (m.porterDuff >= 0) {
            galref::Blend blend;
            galref::porterDuff(uint32_t(m.porterDuff), blend);
            raster.blend = blend;
        }
        for (const galref::Rect& d : dests) ASSERT_EQ(galref::blit(from, want, d, clip, brush, raster), galref::Status::Ok);
    }
    ASSERT_EQ(gcoHAL_Commit(nullptr, 1), gcvSTATUS_OK);
    EXPECT_EQ(galref::compareSurfaces("multi-source against one by one", together.view(oneByOne.memory, 0),
                                      together.view(together.memory, 0)),
              "");
    EXPECT_EQ(galref::compareSurfaces("multi-source against the reference", want, together.view(together.memory, 0)),
              "");
    EXPECT_EQ(GpuSimulator::counter("faults"), faults);
}

TEST_F(DriverMultiSource, SourcesThatCannotTakePartAreRefused) {
    std::mt19937 random(62);
    gco2D e = engine();
    VideoSurface target(48, 40, 212, random), source(48, 40, 212, random);
    ASSERT_EQ(gcoSURF_Set2DTarget(target.surface, 0), gcvSTATUS_OK);
    const gcsRECT clip{0, 0, 48, 40};
    setSource(e, 0, {212, 0, {0, 0, 10, 10}, 0xCC, 0xCC, -1, false}, source, clip);
    const gcsRECT one[] = {{0, 0, 10, 10}}, two[] = {{0, 0, 10, 10}, {5, 5, 20, 20}},
                  larger[] = {{0, 0, 12, 12}, {5, 5, 17, 17}};
    EXPECT_EQ(gco2D_MultiSourceBlit(e, 0, one, 1), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gco2D_MultiSourceBlit(e, 0x100, one, 1), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gco2D_MultiSourceBlit(e, 1, nullptr, 1), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gco2D_MultiSourceBlit(e, 1, one, 0), gcvSTATUS_INVALID_ARGUMENT);
    // Several destinations all have the sources' size.
    EXPECT_EQ(gco2D_MultiSourceBlit(e, 1, two, 2), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gco2D_MultiSourceBlit(e, 1, larger, 2), gcvSTATUS_INVALID_ARGUMENT);
    // A source rectangle past its surface.
    setSource(e, 0, {212, 0, {40, 0, 50, 10}, 0xCC, 0xCC, -1, false}, source, clip);
    EXPECT_EQ(gco2D_MultiSourceBlit(e, 1, one, 1), gcvSTATUS_INVALID_ARGUMENT);
    // A slot never set, and a monochrome source (its stream comes with its own blit).
    setSource(e, 0, {212, 0, {0, 0, 10, 10}, 0xCC, 0xCC, -1, false}, source, clip);
    EXPECT_EQ(gco2D_MultiSourceBlit(e, 0b11000001, one, 1), gcvSTATUS_INVALID_ARGUMENT);
    ASSERT_EQ(gco2D_SetCurrentSourceIndex(e, 5), gcvSTATUS_OK);
    ASSERT_EQ(gco2D_SetMonochromeSource(e, 1, 0, 0, 0, 0, 0xFFFFFFFFu, 0), gcvSTATUS_OK);
    EXPECT_EQ(gco2D_MultiSourceBlit(e, 0b100001, one, 1), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gco2D_MultiSourceBlit(e, 1, one, 1), gcvSTATUS_OK);
    EXPECT_EQ(gcoHAL_Commit(nullptr, 1), gcvSTATUS_OK);
}

}  // namespace
