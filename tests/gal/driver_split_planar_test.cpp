// Split filter blits, planar YUV targets and the monochrome blit from memory, end to end: the
// driver's engine, the command stream and the simulated 2D core against the reference renderer
// (tests/gal_reference). A split filter blit must give the pixels of the plain two passes with
// less work (one draw instead of two, or fewer source rows); planar YUV targets must hold, within one step per sample, the luma of
// each drawn pixel and the average chroma of each sample's drawn pixels; gco2D_MonoBlitEx must
// draw its stream's bits from (x, y) on into every rectangle through the two ROPs.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "filter.h"
#include "gal_states.h"
#include "gal_surface.h"
#include "gpu_sim_fixture.h"
#include "reference.h"
#include "video_surface.h"
#include "yuv_target.h"

namespace {

using veld::test::GpuSimulator;
using veld::test::PlanarSurface;

gcsRECT rect(const galref::Rect& r) { return gcsRECT{r.left, r.top, r.right, r.bottom}; }

class DriverSplitPlanar : public veld::test::GpuTest {
protected:
    gco2D engine() {
        gco2D e = nullptr;
        EXPECT_EQ(gcoHAL_Get2DEngine(nullptr, &e), gcvSTATUS_OK);
        EXPECT_EQ(gco2D_SetCurrentSourceIndex(e, 0), gcvSTATUS_OK);
        EXPECT_EQ(gco2D_DisableAlphaBlend(e), gcvSTATUS_OK);
        EXPECT_EQ(gco2D_SetTransparencyAdvanced(e, 0, 0, 0), gcvSTATUS_OK);
        EXPECT_EQ(gco2D_SetBitBlitMirror(e, 0, 0), gcvSTATUS_OK);
        EXPECT_EQ(gco2D_SetClipping(e, nullptr), gcvSTATUS_OK);
        EXPECT_EQ(gco2D_SetYUVColorMode(e, 0), gcvSTATUS_OK);
        EXPECT_EQ(gco2D_SetYUVColorMode(e, 0x80000000u), gcvSTATUS_OK);
        return e;
    }
};

// ---- Split filter blits ---------------------------------------------------------------------

struct SplitCase {
    uint32_t sourceFormat;
    galref::Rect source, dest, sub;
    uint32_t type, kernelH, kernelV;
    uint32_t draws;     // 1: one pass straight into the target; 2 per stripe: both passes
    bool fewerRows;     // the horizontal pass over the rows the vertical taps reach only
    uint32_t width = 64, height = 48;  // of both surfaces
};

TEST_F(DriverSplitPlanar, SplitFilterBlitsEqualTheTwoPassReferenceWithLessWork) {
    std::mt19937 random(53);
    gco2D e = engine();
    const uint64_t faults = GpuSimulator::counter("faults");
    const SplitCase cases[] = {
        // Equal heights: the horizontal pass alone (sinc at scale 1 has a unit last phase).
        {212, {0, 0, 64, 40}, {2, 3, 42, 43}, {0, 0, 40, 40}, 0, 5, 5, 1, false},
        {212, {5, 2, 60, 38}, {0, 1, 31, 37}, {3, 4, 27, 30}, 0, 9, 7, 1, false},
        // Equal widths: the vertical pass alone, from a sub-rectangle's columns.
        {212, {2, 3, 50, 43}, {1, 1, 49, 21}, {5, 2, 40, 19}, 0, 7, 5, 1, false},
        {209, {0, 0, 33, 48}, {10, 0, 43, 30}, {0, 0, 33, 30}, 1, 1, 3, 1, false},
        // Multi-plane and packed YUV sources.
        {504, {0, 0, 64, 48}, {0, 0, 40, 48}, {1, 3, 39, 45}, 0, 5, 5, 1, false},
        {502, {4, 2, 36, 46}, {0, 0, 32, 24}, {0, 0, 32, 24}, 0, 3, 5, 1, false},
        {503, {0, 0, 64, 40}, {0, 2, 30, 42}, {2, 0, 28, 40}, 0, 5, 5, 1, false},
        {500, {0, 0, 48, 30}, {4, 4, 52, 20}, {0, 0, 48, 16}, 0, 5, 9, 1, false},
        // Both directions scale, the sub-rectangle a band of the destination: the rows its taps
        // reach only (at the top edge, in the middle, at the bottom edge).
        {212, {0, 0, 64, 48}, {0, 0, 32, 24}, {0, 0, 32, 6}, 0, 5, 5, 2, true},
        {212, {3, 1, 61, 47}, {2, 2, 40, 40}, {4, 15, 30, 22}, 0, 9, 9, 2, true},
        {503, {0, 0, 64, 48}, {0, 0, 30, 20}, {2, 17, 28, 20}, 1, 5, 3, 2, true},
        // A destination wider than a stripe.
        {212, {0, 0, 2200, 16}, {0, 0, 2100, 8}, {0, 0, 2100, 8}, 0, 5, 5, 4, false, 2208, 16},
        // Equal extents with a box of three taps filter; whole destinations: the plain passes.
        {212, {0, 0, 64, 40}, {0, 0, 40, 40}, {0, 0, 40, 40}, 1, 3, 3, 2, false},
        {212, {0, 0, 64, 48}, {0, 0, 32, 24}, {0, 0, 32, 24}, 0, 5, 5, 2, false},
        {506, {0, 0, 64, 48}, {3, 1, 33, 23}, {4, 0, 30, 20}, 0, 5, 3, 2, false},
    };
    for (const SplitCase& c : cases) {
        PlanarSurface source(c.width, c.height, c.sourceFormat, random), target(c.width, c.height, 212, random);
        std::vector<uint8_t> expected(target.base(), target.base() + target.bytes);
        galref::FilterKernel horizontal{}, vertical{};
        ASSERT_TRUE(galref::filterKernel(c.type, c.kernelH, uint32_t(c.source.width()),
                                         uint32_t(c.dest.width()), horizontal));
        ASSERT_TRUE(galref::filterKernel(c.type, c.kernelV, uint32_t(c.source.height()),
                                         uint32_t(c.dest.height()), vertical));
        ASSERT_EQ(galref::filterBlit(source.view(source.base()), c.source, target.view(expected.data()),
                                     c.dest, c.sub, horizontal, vertical),
                  galref::Status::Ok);
        ASSERT_EQ(gco2D_SetKernelSize(e, uint8_t(c.kernelH), uint8_t(c.kernelV)), gcvSTATUS_OK);
        ASSERT_EQ(gco2D_SetFilterType(e, c.type), gcvSTATUS_OK);
        const gcsRECT src = rect(c.source), dst = rect(c.dest), sub = rect(c.sub);
        const auto before = GpuSimulator::counters();
        ASSERT_EQ(gco2D_FilterBlitEx(e, source.addresses[0], source.strides[0], source.addresses[1],
                                     source.strides[1], source.addresses[2], source.strides[2],
                                     c.sourceFormat, 0, source.width, source.height, &src,
                                     target.addresses[0], target.strides[0], 212, 0, target.width,
                                     target.height, &dst, &sub),
                  gcvSTATUS_OK);
        ASSERT_EQ(gcoHAL_Commit(nullptr, 1), gcvSTATUS_OK);
        auto after = GpuSimulator::counters();
        const std::string name = galref::formatName(c.sourceFormat) + " (" + std::to_string(c.source.left) +
                                 "," + std::to_string(c.source.top) + "," + std::to_string(c.source.right) +
                                 "," + std::to_string(c.source.bottom) + ")->(" + std::to_string(c.dest.left) +
                                 "," + std::to_string(c.dest.top) + "," + std::to_string(c.dest.right) + "," +
                                 std::to_string(c.dest.bottom) + ") sub (" + std::to_string(c.sub.left) + "," +
                                 std::to_string(c.sub.top) + "," + std::to_string(c.sub.right) + "," +
                                 std::to_string(c.sub.bottom) + ")";
        EXPECT_EQ(after["draws"] - before.at("draws"), c.draws) << name;
        // The plain passes write the sub-rectangle's width times every source row, then the
        // sub-rectangle.
        const uint64_t plain = uint64_t(c.sub.width()) * uint64_t(c.source.height() + c.sub.height());
        if (c.draws == 2) {
            EXPECT_EQ(after["pixels"] - before.at("pixels") < plain, c.fewerRows) << name;
        }
        EXPECT_EQ(galref::compareSurfaces("filter blit " + name, target.view(expected.data()),
                                          target.view(target.base())),
                  "");
    }
    EXPECT_EQ(GpuSimulator::counter("faults"), faults);
}

TEST_F(DriverSplitPlanar, SplitFilterBlitsDeclineWhatTheyDoNotTake) {
    std::mt19937 random(59);
    gco2D e = engine();
    PlanarSurface rgb(64, 48, 212, random), nv12(64, 48, 504, random), target(64, 48, 212, random);
    ASSERT_EQ(gco2D_SetKernelSize(e, 5, 5), gcvSTATUS_OK);
    ASSERT_EQ(gco2D_SetFilterType(e, 0), gcvSTATUS_OK);
    const gcsRECT same{0, 0, 40, 40}, scaled{0, 0, 20, 20}, bad{4, 4, 4, 8};
    ASSERT_EQ(gcoSURF_Set2DTarget(target.surface, 0), gcvSTATUS_OK);
    ASSERT_EQ(gcoSURF_Set2DSource(rgb.surface, 0), gcvSTATUS_OK);
    // Both directions filter; a single-plane source is not the YUV form's; bad rectangles.
    EXPECT_EQ(gcoHARDWARE_SplitFilterBlit(nullptr, e, &same, &scaled, nullptr), gcvSTATUS_SKIP);
    EXPECT_EQ(gcoHARDWARE_SplitYUVFilterBlit(nullptr, e, &same, &same, nullptr), gcvSTATUS_SKIP);
    EXPECT_EQ(gcoHARDWARE_SplitFilterBlit(nullptr, e, &bad, &same, nullptr), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gcoHARDWARE_SplitFilterBlit(nullptr, nullptr, &same, &same, nullptr), gcvSTATUS_INVALID_OBJECT);
    ASSERT_EQ(gcoSURF_Set2DSource(nv12.surface, 0), gcvSTATUS_OK);
    EXPECT_EQ(gcoHARDWARE_SplitFilterBlit(nullptr, e, &same, &same, nullptr), gcvSTATUS_SKIP);
    // Nothing went out.
    std::vector<uint8_t> before(target.base(), target.base() + target.bytes);
    const uint64_t draws = GpuSimulator::counter("draws");
    EXPECT_EQ(gcoHAL_Commit(nullptr, 1), gcvSTATUS_OK);
    EXPECT_EQ(GpuSimulator::counter("draws"), draws);
    EXPECT_EQ(std::memcmp(before.data(), target.base(), before.size()), 0);
}

// ---- Planar YUV targets ---------------------------------------------------------------------

constexpr uint32_t kPlanarYuv[] = {502, 503, 504, 505, 506, 507};

// The reference's picture of a plain copy of `from` (a rectangle of `source`) onto `dest` of a
// YUV target in `mode`.
std::vector<uint8_t> expectedCopy(const PlanarSurface& source, const galref::Rect& from,
                                  const PlanarSurface& target, const galref::Rect& dest, uint32_t mode) {
    std::vector<uint8_t> expected(target.base(), target.base() + target.bytes);
    const galref::Surface sourceRef = source.view(source.base());
    const galref::Status status = galref::writeYuvArea(
        target.view(expected.data()), dest, galref::YuvMode(mode), [](uint32_t, uint32_t) { return true; },
        [&](uint32_t x, uint32_t y) {
            return galref::readArgb(sourceRef, x - uint32_t(dest.left) + uint32_t(from.left),
                                    y - uint32_t(dest.top) + uint32_t(from.top));
        });
    EXPECT_EQ(status, galref::Status::Ok);
    return expected;
}

TEST_F(DriverSplitPlanar, BlitsIntoPlanarYuvTargetsConvertEachPixelAndAverageChroma) {
    std::mt19937 random(61);
    gco2D e = engine();
    const uint64_t faults = GpuSimulator::counter("faults");
    // Odd edges on every side: half-covered chroma samples keep their undrawn part.
    const galref::Rect from{2, 3, 31, 20}, dest{3, 1, 32, 18};
    for (uint32_t format : kPlanarYuv) {
        for (uint32_t mode : {0u, 1u}) {
            for (uint32_t sourceFormat : {212u, 209u, 500u}) {
                PlanarSurface source(48, 32, sourceFormat, random), target(48, 32, format, random);
                const std::vector<uint8_t> expected = expectedCopy(source, from, target, dest, mode);
                ASSERT_EQ(gco2D_SetYUVColorMode(e, 0x80000000u | mode), gcvSTATUS_OK);
                ASSERT_EQ(gcoSURF_Set2DSource(source.surface, 0), gcvSTATUS_OK);
                const gcsRECT src = rect(from), dst = rect(dest);
                ASSERT_EQ(gco2D_SetSource(e, &src), gcvSTATUS_OK);
                ASSERT_EQ(gcoSURF_Set2DTarget(target.surface, 0), gcvSTATUS_OK);
                ASSERT_EQ(gco2D_Blit(e, 1, &dst, 0xCC, 0xCC, format), gcvSTATUS_OK);
                ASSERT_EQ(gcoHAL_Commit(nullptr, 1), gcvSTATUS_OK);
                EXPECT_EQ(galref::compareYuvSurfaces("blit from " + galref::formatName(sourceFormat) +
                                                         " mode " + std::to_string(mode),
                                                     target.view(const_cast<uint8_t*>(expected.data())),
                                                     target.view(target.base()), 1),
                          "");
            }
        }
    }
    EXPECT_EQ(GpuSimulator::counter("faults"), faults);
}

TEST_F(DriverSplitPlanar, MultiSourceBlitsConversionsAndClearsReachPlanarTargetsWithTheirPlanes) {
    std::mt19937 random(67);
    gco2D e = engine();
    const uint64_t faults = GpuSimulator::counter("faults");
    const galref::Rect from{1, 1, 26, 16}, dest{5, 4, 30, 19};
    for (uint32_t format : {504u, 503u}) {
        // The multi-source blit of one source.
        PlanarSurface source(48, 32, 212, random), target(48, 32, format, random);
        std::vector<uint8_t> expected = expectedCopy(source, from, target, dest, 0);
        ASSERT_EQ(gcoSURF_Set2DSource(source.surface, 0), gcvSTATUS_OK);
        const gcsRECT src = rect(from), dst = rect(dest);
        ASSERT_EQ(gco2D_SetSource(e, &src), gcvSTATUS_OK);
        ASSERT_EQ(gco2D_SetROP(e, 0xCC, 0xCC), gcvSTATUS_OK);
        ASSERT_EQ(gcoSURF_Set2DTarget(target.surface, 0), gcvSTATUS_OK);
        ASSERT_EQ(gco2D_MultiSourceBlit(e, 1, &dst, 1), gcvSTATUS_OK);
        const std::vector<uint32_t> stream = veld::test::commitAndCaptureStream();
        // The extra target planes: a load of 0x130C with 3 (two planes) or 5 (three) states.
        const uint32_t words = format == 504 ? 3 : 5;
        const uint32_t header = 0x08000000u | words << 16 | GAL_STATE_MULTI_TARGET / 4;
        bool found = false;
        for (size_t i = 0; i + 1 < stream.size(); ++i)
            found = found || (stream[i] == header && stream[i + 1] == words / 2);
        EXPECT_TRUE(found) << galref::formatName(format);
        EXPECT_EQ(galref::compareYuvSurfaces("multi-source blit", target.view(expected.data()),
                                             target.view(target.base()), 1),
                  "");
        // The plain conversion, whatever the source's ROPs and transparency say.
        PlanarSurface other(48, 32, 209, random);
        expected = expectedCopy(other, from, target, dest, 1);
        ASSERT_EQ(gco2D_SetYUVColorMode(e, 0x80000001u), gcvSTATUS_OK);
        ASSERT_EQ(gcoSURF_Set2DSource(other.surface, 0), gcvSTATUS_OK);
        ASSERT_EQ(gco2D_SetROP(e, 0x00, 0x00), gcvSTATUS_OK);
        ASSERT_EQ(gcoHARDWARE_MultiPlanarYUVConvert(nullptr, e, &src, &dst), gcvSTATUS_OK);
        ASSERT_EQ(gcoHAL_Commit(nullptr, 1), gcvSTATUS_OK);
        EXPECT_EQ(galref::compareYuvSurfaces("conversion", target.view(expected.data()),
                                             target.view(target.base()), 1),
                  "");
        ASSERT_EQ(gco2D_SetYUVColorMode(e, 0x80000000u), gcvSTATUS_OK);
        // A clear: one colour, converted once, over odd edges.
        const galref::Rect cleared{7, 3, 20, 26};
        ASSERT_EQ(galref::writeYuvArea(target.view(expected.data()), cleared, galref::YuvMode::Bt601,
                                       [](uint32_t, uint32_t) { return true; },
                                       [](uint32_t, uint32_t) { return 0xFF3080C0u; }),
                  galref::Status::Ok);
        const gcsRECT clearRect = rect(cleared);
        ASSERT_EQ(gco2D_Clear(e, 1, &clearRect, 0xFF3080C0u, 0xCC, 0xCC, format), gcvSTATUS_OK);
        ASSERT_EQ(gcoHAL_Commit(nullptr, 1), gcvSTATUS_OK);
        EXPECT_EQ(galref::compareYuvSurfaces("clear", target.view(expected.data()), target.view(target.base()), 1),
                  "");
    }
    EXPECT_EQ(GpuSimulator::counter("faults"), faults);
}

TEST_F(DriverSplitPlanar, PlanarTargetsRefuseWhatTheyCannotTake) {
    std::mt19937 random(71);
    gco2D e = engine();
    PlanarSurface source(48, 32, 212, random), target(48, 32, 504, random), rgb(48, 32, 212, random);
    const gcsRECT area{0, 0, 16, 16}, line{0, 0, 10, 10};
    ASSERT_EQ(gcoSURF_Set2DSource(source.surface, 0), gcvSTATUS_OK);
    ASSERT_EQ(gco2D_SetSource(e, &area), gcvSTATUS_OK);
    ASSERT_EQ(gcoSURF_Set2DTarget(target.surface, 0), gcvSTATUS_OK);
    EXPECT_EQ(gco2D_StretchBlit(e, 1, &area, 0xCC, 0xCC, 504), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gco2D_ColorLine(e, 1, &line, 0xFF00FF00u, 0xF0, 0xF0, 504), gcvSTATUS_NOT_SUPPORTED);
    ASSERT_EQ(gcoSURF_Set2DTarget(target.surface, 1), gcvSTATUS_OK);
    EXPECT_EQ(gco2D_Blit(e, 1, &area, 0xCC, 0xCC, 504), gcvSTATUS_NOT_SUPPORTED);
    // A target given by its luma plane alone has no chroma planes to write.
    ASSERT_EQ(gco2D_SetTargetEx(e, target.addresses[0], target.strides[0], 0, target.width, target.height),
              gcvSTATUS_OK);
    EXPECT_EQ(gco2D_Blit(e, 1, &area, 0xCC, 0xCC, 504), gcvSTATUS_NOT_SUPPORTED);
    const uint32_t addresses[3] = {target.addresses[0], target.addresses[1], 0};
    EXPECT_EQ(gcoHARDWARE_SetMultiTarget(nullptr, 212, addresses, target.strides), gcvSTATUS_NOT_SUPPORTED);
    EXPECT_EQ(gcoHARDWARE_SetMultiTarget(nullptr, 504, nullptr, target.strides), gcvSTATUS_INVALID_ARGUMENT);
    ASSERT_EQ(gcoSURF_Set2DTarget(rgb.surface, 0), gcvSTATUS_OK);
    EXPECT_EQ(gcoHARDWARE_MultiPlanarYUVConvert(nullptr, e, &area, &area), gcvSTATUS_NOT_SUPPORTED);
    ASSERT_EQ(gcoSURF_Set2DTarget(target.surface, 0), gcvSTATUS_OK);
    const gcsRECT wider{0, 0, 17, 16};
    EXPECT_EQ(gcoHARDWARE_MultiPlanarYUVConvert(nullptr, e, &area, &wider), gcvSTATUS_INVALID_ARGUMENT);
    std::vector<uint8_t> before(target.base(), target.base() + target.bytes);
    EXPECT_EQ(gcoHAL_Commit(nullptr, 1), gcvSTATUS_OK);
    EXPECT_EQ(std::memcmp(before.data(), target.base(), before.size()), 0);
}

// ---- Monochrome blits from memory -----------------------------------------------------------

TEST_F(DriverSplitPlanar, MonoBlitExDrawsTheStreamFromItsOriginIntoEveryRectangle) {
    std::mt19937 random(73);
    gco2D e = engine();
    const uint64_t faults = GpuSimulator::counter("faults");
    // A 44 x 14 stream with 9 bytes per row (one more than it needs), read from (5, 3) on.
    constexpr int32_t kStride = 9, kWidth = 44, kHeight = 14, kX = 5, kY = 3;
    std::vector<uint8_t> bits(size_t(kStride) * kHeight);
    for (uint8_t& b : bits) b = uint8_t(random());
    const galref::Rect rects[] = {{2, 1, 41, 12}, {17, 20, 30, 31}, {40, 30, 41, 31}};
    const uint8_t rops[][2] = {{0xCC, 0xCC}, {0xCC, 0xAA}, {0x66, 0xAA}};
    for (uint32_t format : {212u, 209u}) {
        for (const auto& rop : rops) {
            PlanarSurface target(48, 32, format, random);
            std::vector<uint8_t> expected(target.base(), target.base() + target.bytes);
            galref::MonoStream stream;
            stream.bits = bits.data();
            stream.stride = kStride;
            stream.foreground = 0xFF20C040u;
            stream.background = 0x80102030u;
            stream.transparency = 0;
            galref::Raster raster;
            raster.foregroundRop = rop[0];
            raster.backgroundRop = rop[1];
            raster.sourceMode = galref::kMasked;
            std::vector<gcsRECT> dests;
            for (const galref::Rect& r : rects) {
                ASSERT_EQ(galref::monoBlit(stream, kX, kY, target.view(expected.data()), r,
                                           galref::kDefaultClip, {}, raster),
                          galref::Status::Ok);
                dests.push_back(rect(r));
            }
            ASSERT_EQ(gcoSURF_Set2DTarget(target.surface, 0), gcvSTATUS_OK);
            ASSERT_EQ(gco2D_MonoBlitEx(e, bits.data(), kStride, kWidth, kHeight, kX, kY, stream.foreground,
                                       stream.background, uint32_t(dests.size()), dests.data(), rop[0], rop[1]),
                      gcvSTATUS_OK);
            ASSERT_EQ(gcoHAL_Commit(nullptr, 1), gcvSTATUS_OK);
            char name[64];
            std::snprintf(name, sizeof name, "mono blit ex ROPs %02X/%02X", rop[0], rop[1]);
            EXPECT_EQ(galref::compareSurfaces(name, target.view(expected.data()), target.view(target.base())), "");
        }
    }
    // Refusals: a stride shorter than a row, a rectangle past the stream, nothing to draw.
    const gcsRECT past{0, 0, 40, 12}, fine{0, 0, 8, 8};
    EXPECT_EQ(gco2D_MonoBlitEx(e, bits.data(), 5, kWidth, kHeight, 0, 0, 0, 0, 1, &fine, 0xCC, 0xCC),
              gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gco2D_MonoBlitEx(e, bits.data(), kStride, kWidth, kHeight, kX, kY, 0, 0, 1, &past, 0xCC, 0xCC),
              gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gco2D_MonoBlitEx(e, nullptr, kStride, kWidth, kHeight, 0, 0, 0, 0, 1, &fine, 0xCC, 0xCC),
              gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gco2D_MonoBlitEx(e, bits.data(), kStride, kWidth, kHeight, 0, 0, 0, 0, 0, &fine, 0xCC, 0xCC),
              gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(GpuSimulator::counter("faults"), faults);
}

}  // namespace
