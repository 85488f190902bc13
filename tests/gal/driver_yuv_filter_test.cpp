// YUV formats and filter blits end to end: the driver's engine, the command stream and the
// simulated 2D core against the reference renderer (tests/gal_reference) and plainly written
// conversions. YUV sources in every layout and colour mode, user conversion tables, packed YUV
// targets, and filter blits over kernel sizes, filter types, sub-rectangles, formats and
// rotations; the refusals of bad arguments.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "filter.h"
#include "gal_surface.h"
#include "gpu_sim_fixture.h"
#include "reference.h"
#include "video_surface.h"

namespace {

using veld::test::GpuSimulator;
using veld::test::PlanarSurface;

gcsRECT rect(const galref::Rect& r) { return gcsRECT{r.left, r.top, r.right, r.bottom}; }

constexpr uint32_t kYuvFormats[] = {500, 501, 508, 509, 502, 503, 504, 505, 506, 507};

// A copy blit from `source` (in its colour mode) onto a 212 target of the same size.
void copyBlit(gco2D e, const PlanarSurface& source, const PlanarSurface& target,
              const galref::Rect& dest, const galref::Rect& from) {
    ASSERT_EQ(gco2D_SetCurrentSourceIndex(e, 0), gcvSTATUS_OK);
    ASSERT_EQ(gco2D_SetClipping(e, nullptr), gcvSTATUS_OK);
    ASSERT_EQ(gcoSURF_Set2DSource(source.surface, 0), gcvSTATUS_OK);
    const gcsRECT src = rect(from), dst = rect(dest);
    ASSERT_EQ(gco2D_SetSource(e, &src), gcvSTATUS_OK);
    ASSERT_EQ(gcoSURF_Set2DTarget(target.surface, 0), gcvSTATUS_OK);
    ASSERT_EQ(gco2D_Blit(e, 1, &dst, 0xCC, 0xCC, target.format), gcvSTATUS_OK);
    ASSERT_EQ(gcoHAL_Commit(nullptr, 1), gcvSTATUS_OK);
}

class DriverYuvFilter : public veld::test::GpuTest {
protected:
    // The thread's engine with source 0 current and the settings earlier tests may have left
    // on it back to plain copies.
    gco2D engine() {
        gco2D e = nullptr;
        EXPECT_EQ(gcoHAL_Get2DEngine(nullptr, &e), gcvSTATUS_OK);
        EXPECT_EQ(gco2D_SetCurrentSourceIndex(e, 0), gcvSTATUS_OK);
        EXPECT_EQ(gco2D_DisableAlphaBlend(e), gcvSTATUS_OK);
        EXPECT_EQ(gco2D_SetTransparencyAdvanced(e, 0, 0, 0), gcvSTATUS_OK);
        EXPECT_EQ(gco2D_SetBitBlitMirror(e, 0, 0), gcvSTATUS_OK);
        EXPECT_EQ(gco2D_SetStateU32(e, 4, 0), gcvSTATUS_OK);
        EXPECT_EQ(gco2D_SetStateU32(e, 3, 0), gcvSTATUS_OK);
        EXPECT_EQ(gco2D_EnableUserFilterPasses(e, 1, 1), gcvSTATUS_OK);
        return e;
    }
};

TEST_F(DriverYuvFilter, YuvSourcesConvertInBothStandardModesWithinOne) {
    std::mt19937 random(19);
    gco2D e = engine();
    const uint64_t faults = GpuSimulator::counter("faults");
    for (uint32_t format : kYuvFormats) {
        for (uint32_t mode : {0u, 1u}) {
            PlanarSurface source(48, 40, format, random), target(48, 40, 212, random);
            std::vector<uint8_t> expected(target.base(), target.base() + target.bytes);
            galref::Surface sourceRef = source.view(source.base());
            sourceRef.yuvMode = galref::YuvMode(mode);
            const galref::Surface targetRef = target.view(expected.data());
            galref::Source s;
            s.type = galref::SourceType::Color;
            s.surface = &sourceRef;
            s.rect = {3, 5, 43, 37};
            ASSERT_EQ(galref::blit(s, targetRef, {2, 1, 42, 33}, galref::kDefaultClip, {}, {}),
                      galref::Status::Ok);
            ASSERT_EQ(gco2D_SetYUVColorMode(e, mode), gcvSTATUS_OK);  // the current source's
            copyBlit(e, source, target, {2, 1, 42, 33}, s.rect);
            EXPECT_EQ(galref::compareSurfaces("YUV mode " + std::to_string(mode) + " from " +
                                                  galref::formatName(format),
                                              targetRef, target.view(target.base()), 1),
                      "");
        }
    }
    EXPECT_EQ(gco2D_SetYUVColorMode(e, 0), gcvSTATUS_OK);
    EXPECT_EQ(GpuSimulator::counter("faults"), faults);
}

// Full-range BT.601 as a user table (10 fraction bits), and the same clamped to the video range.
constexpr int32_t kFullRange601[12] = {1024, 0, 1436, 1024, -352, -731, 1024, 1815, 0,
                                       -1436 * 128, (352 + 731) * 128, -1815 * 128};

uint32_t userConvert(uint32_t y, uint32_t u, uint32_t v, bool videoRange) {
    const double in[3] = {double(y), double(u), double(v)};
    uint32_t out = 0xFF000000u;
    for (int k = 0; k < 3; ++k) {
        double sum = kFullRange601[9 + k];
        for (int j = 0; j < 3; ++j) sum += kFullRange601[3 * k + j] * in[j];
        const double low = videoRange ? 16 : 0, high = videoRange ? 235 : 255;
        const double value = std::min(high, std::max(low, std::floor(sum / 1024.0 + 0.5)));
        out |= uint32_t(value) << (16 - 8 * k);
    }
    return out;
}

TEST_F(DriverYuvFilter, UserConversionTablesApplyTheirCoefficientsAndRange) {
    std::mt19937 random(23);
    gco2D e = engine();
    ASSERT_EQ(gco2D_SetStateArrayI32(e, 0x10003, kFullRange601, 12), gcvSTATUS_OK);
    for (uint32_t mode : {2u, 3u}) {
        PlanarSurface source(32, 8, 500, random), target(32, 8, 212, random);
        ASSERT_EQ(gco2D_SetYUVColorMode(e, mode), gcvSTATUS_OK);
        copyBlit(e, source, target, {0, 0, 32, 8}, {0, 0, 32, 8});
        for (uint32_t y = 0; y < 8; ++y) {
            for (uint32_t x = 0; x < 32; ++x) {
                const uint8_t* pair = source.base() + y * source.strides[0] + (x & ~1u) * 2;
                const uint32_t want = userConvert(pair[(x & 1) * 2], pair[1], pair[3], mode == 3);
                const uint32_t got = galref::readArgb(target.view(target.base()), x, y);
                for (int shift = 0; shift < 24; shift += 8)
                    ASSERT_LE(std::abs(int((want >> shift) & 0xFF) - int((got >> shift) & 0xFF)), 1)
                        << "mode " << mode << " pixel " << x << "," << y;
            }
        }
    }
    const int32_t zeros[12] = {};
    EXPECT_EQ(gco2D_SetStateArrayI32(e, 0x10003, zeros, 12), gcvSTATUS_OK);
    EXPECT_EQ(gco2D_SetYUVColorMode(e, 0), gcvSTATUS_OK);
}

// RGB to YUV of the two standards in the video range, as plainly as it can be written.
void toYuv(uint32_t argb, uint32_t mode, double out[3]) {
    static const double kMatrix[2][9] = {
        {0.257, 0.504, 0.098, -0.148, -0.291, 0.439, 0.439, -0.368, -0.071},
        {0.183, 0.614, 0.062, -0.101, -0.339, 0.439, 0.439, -0.399, -0.040}};
    const double rgb[3] = {double((argb >> 16) & 0xFF), double((argb >> 8) & 0xFF), double(argb & 0xFF)};
    for (int k = 0; k < 3; ++k) {
        double sum = k == 0 ? 16 : 128;
        for (int j = 0; j < 3; ++j) sum += kMatrix[mode][3 * k + j] * rgb[j];
        out[k] = std::min(255.0, std::max(0.0, std::floor(sum + 0.5)));
    }
}

TEST_F(DriverYuvFilter, PackedYuvTargetsTakeLumaPerPixelAndChromaPerDrawnPair) {
    std::mt19937 random(29);
    gco2D e = engine();
    const uint64_t faults = GpuSimulator::counter("faults");
    for (uint32_t format : {500u, 501u, 508u, 509u}) {
        for (uint32_t mode : {0u, 1u}) {
            PlanarSurface source(32, 16, 212, random), target(32, 16, format, random);
            std::vector<uint8_t> before(target.base(), target.base() + target.bytes);
            ASSERT_EQ(gco2D_SetYUVColorMode(e, 0x80000000u | mode), gcvSTATUS_OK);  // the engine's
            // An odd left edge and an odd right edge: two half-drawn pairs per row.
            copyBlit(e, source, target, {3, 2, 28, 13}, {1, 1, 26, 12});
            const uint32_t y0 = format == 501 || format == 509 ? 1 : 0;
            const uint32_t u = format == 500 ? 1 : format == 501 ? 0 : format == 508 ? 3 : 2;
            const uint32_t v = format == 500 ? 3 : format == 501 ? 2 : format == 508 ? 1 : 0;
            const galref::Surface sourceRef = source.view(source.base());
            for (uint32_t y = 0; y < 16; ++y) {
                for (uint32_t x = 0; x < 32; x += 2) {
                    const uint8_t* got = target.base() + y * target.strides[0] + x * 2;
                    const uint8_t* old = before.data() + y * target.strides[0] + x * 2;
                    const bool rows = y >= 2 && y < 13;
                    const bool first = rows && x >= 3 && x < 28, second = rows && x + 1 >= 3 && x + 1 < 28;
                    double a[3] = {}, b[3] = {};
                    if (first) toYuv(galref::readArgb(sourceRef, x - 2, y - 1), mode, a);
                    if (second) toYuv(galref::readArgb(sourceRef, x - 1, y - 1), mode, b);
                    const std::string where = galref::formatName(format) + " mode " +
                                              std::to_string(mode) + " pair " + std::to_string(x) +
                                              "," + std::to_string(y);
                    auto near = [](double want, uint8_t have) { return std::abs(want - have) <= 1.0; };
                    EXPECT_TRUE(first ? near(a[0], got[y0]) : got[y0] == old[y0]) << where;
                    EXPECT_TRUE(second ? near(b[0], got[y0 + 2]) : got[y0 + 2] == old[y0 + 2]) << where;
                    for (uint32_t c : {1u, 2u}) {
                        const uint32_t at = c == 1 ? u : v;
                        if (!first && !second) EXPECT_EQ(got[at], old[at]) << where;
                        else if (first && second) EXPECT_TRUE(near((a[c] + b[c]) / 2, got[at])) << where;
                        else EXPECT_TRUE(near(first ? a[c] : b[c], got[at])) << where;
                    }
                }
            }
        }
    }
    EXPECT_EQ(gco2D_SetYUVColorMode(e, 0x80000000u), gcvSTATUS_OK);
    EXPECT_EQ(GpuSimulator::counter("faults"), faults);
}

// One filter blit through gco2D_FilterBlitEx against the reference's kernels and passes.
struct FilterCase {
    uint32_t sourceFormat, targetFormat;
    galref::Rect source, dest, sub;
    uint32_t type, kernelH, kernelV;
    uint32_t targetRotation = 0;
};

std::string runFilter(gco2D e, const FilterCase& c, std::mt19937& random) {
    PlanarSurface source(64, 48, c.sourceFormat, random), target(64, 48, c.targetFormat, random);
    std::vector<uint8_t> expected(target.base(), target.base() + target.bytes);
    const galref::Surface sourceRef = source.view(source.base());
    const galref::Surface targetRef = target.view(expected.data(), c.targetRotation);
    galref::FilterKernel horizontal{}, vertical{};
    std::array<uint8_t, 306> user{};
    for (uint32_t k = 0; k < 153; ++k) {
        // A user kernel: a sharpening three-tap shape with a phase-dependent tilt.
        const uint32_t phase = k / 9, tap = k % 9;
        const int16_t value = tap == 4 ? int16_t(20000 - 200 * phase) : tap == 3 || tap == 5 ? int16_t(-1808 + 100 * phase) : 0;
        user[2 * k] = uint8_t(value);
        user[2 * k + 1] = uint8_t(uint16_t(value) >> 8);
    }
    if (c.type == galref::kUserFilter) {
        horizontal = vertical = galref::userFilterKernel(user);
        std::array<uint16_t, 153> words{};
        std::memcpy(words.data(), user.data(), 306);
        EXPECT_EQ(gco2D_SetUserFilterKernel(e, 0, words.data()), gcvSTATUS_OK);
        EXPECT_EQ(gco2D_SetUserFilterKernel(e, 1, words.data()), gcvSTATUS_OK);
    } else {
        EXPECT_TRUE(galref::filterKernel(c.type, c.kernelH, uint32_t(c.source.width()),
                                         uint32_t(c.dest.width()), horizontal));
        EXPECT_TRUE(galref::filterKernel(c.type, c.kernelV, uint32_t(c.source.height()),
                                         uint32_t(c.dest.height()), vertical));
    }
    const galref::Status status =
        galref::filterBlit(sourceRef, c.source, targetRef, c.dest, c.sub, horizontal, vertical);
    if (status != galref::Status::Ok) return std::string("the reference refuses: ") + galref::statusName(status);
    EXPECT_EQ(gco2D_SetKernelSize(e, uint8_t(c.kernelH), uint8_t(c.kernelV)), gcvSTATUS_OK);
    EXPECT_EQ(gco2D_SetFilterType(e, c.type), gcvSTATUS_OK);
    const gcsRECT src = rect(c.source), dst = rect(c.dest), sub = rect(c.sub);
    const gceSTATUS driver = gco2D_FilterBlitEx(
        e, source.addresses[0], source.strides[0], source.addresses[1], source.strides[1],
        source.addresses[2], source.strides[2], c.sourceFormat, 0, source.width, source.height, &src,
        target.addresses[0], target.strides[0], c.targetFormat, c.targetRotation, target.width,
        target.height, &dst, &sub);
    if (driver != gcvSTATUS_OK) return "the driver refused with " + std::to_string(driver);
    EXPECT_EQ(gcoHAL_Commit(nullptr, 1), gcvSTATUS_OK);
    char name[160];
    std::snprintf(name, sizeof name, "filter type %u %ux%u %s<-%s (%d,%d,%d,%d)->(%d,%d,%d,%d) rot %u",
                  c.type, c.kernelH, c.kernelV, galref::formatName(c.targetFormat).c_str(),
                  galref::formatName(c.sourceFormat).c_str(), c.source.left, c.source.top,
                  c.source.right, c.source.bottom, c.dest.left, c.dest.top, c.dest.right,
                  c.dest.bottom, c.targetRotation);
    return galref::compareSurfaces(name, targetRef, target.view(target.base(), c.targetRotation));
}

TEST_F(DriverYuvFilter, FilterBlitsMatchTheReferenceKernelsAndPasses) {
    std::mt19937 random(31);
    gco2D e = engine();
    const uint64_t faults = GpuSimulator::counter("faults");
    const FilterCase cases[] = {
        // 2x down, 5 and 9 taps, sinc and box; the same factor from other sizes (the kernel
        // cache must not serve the first one's).
        {212, 212, {0, 0, 64, 48}, {0, 0, 32, 24}, {0, 0, 32, 24}, 0, 5, 5},
        {212, 212, {0, 0, 64, 48}, {0, 0, 32, 24}, {0, 0, 32, 24}, 0, 9, 9},
        {212, 212, {0, 0, 63, 47}, {0, 0, 32, 24}, {0, 0, 32, 24}, 0, 9, 9},
        {212, 212, {2, 4, 62, 44}, {5, 3, 35, 23}, {0, 0, 30, 20}, 1, 5, 3},
        // 9 -> 5 and 5 -> 3 step by the same factor 2.0 with different sinc scales, then the
        // same sizes with the box: each needs its own kernel.
        {212, 212, {1, 1, 10, 10}, {0, 0, 5, 5}, {0, 0, 5, 5}, 0, 9, 9},
        {212, 212, {1, 1, 6, 6}, {0, 0, 3, 3}, {0, 0, 3, 3}, 0, 9, 9},
        {212, 212, {1, 1, 6, 6}, {0, 0, 3, 3}, {0, 0, 3, 3}, 1, 9, 9},
        // Up-scaling and odd factors, a sub-rectangle, one-tap kernels.
        {212, 212, {10, 10, 30, 25}, {1, 2, 61, 47}, {7, 5, 50, 40}, 0, 7, 3},
        {212, 212, {0, 0, 40, 30}, {3, 3, 60, 45}, {0, 0, 57, 42}, 0, 1, 1},
        {212, 209, {3, 1, 50, 40}, {0, 0, 37, 29}, {2, 2, 30, 20}, 0, 3, 7},
        // The user kernel, YUV sources (planar and packed) and other targets.
        {212, 212, {0, 0, 64, 48}, {0, 0, 48, 36}, {0, 0, 48, 36}, 2, 9, 9},
        {500, 212, {0, 0, 64, 48}, {0, 0, 32, 24}, {0, 0, 32, 24}, 0, 5, 5},
        {502, 211, {4, 2, 60, 46}, {1, 1, 41, 33}, {0, 0, 40, 32}, 0, 5, 5},
        {504, 212, {0, 0, 64, 48}, {8, 4, 40, 28}, {0, 0, 32, 24}, 1, 3, 3},
        {209, 204, {0, 0, 64, 48}, {0, 0, 40, 40}, {0, 0, 40, 40}, 0, 5, 5},
        // Rotated targets.
        {212, 212, {0, 0, 64, 48}, {2, 3, 34, 46}, {0, 0, 32, 43}, 0, 5, 5, 1},
        {212, 212, {0, 0, 64, 48}, {2, 3, 60, 40}, {0, 0, 58, 37}, 0, 5, 5, 2},
    };
    for (const FilterCase& c : cases) EXPECT_EQ(runFilter(e, c, random), "");
    EXPECT_EQ(GpuSimulator::counter("faults"), faults);
}

TEST_F(DriverYuvFilter, SurfaceFilterBlitUsesTheSurfacesPlanes) {
    std::mt19937 random(41);
    gco2D e = engine();
    ASSERT_EQ(gco2D_SetKernelSize(e, 5, 3), gcvSTATUS_OK);
    ASSERT_EQ(gco2D_SetFilterType(e, 0), gcvSTATUS_OK);
    PlanarSurface source(64, 48, 506, random), target(64, 48, 209, random);
    std::vector<uint8_t> expected(target.base(), target.base() + target.bytes);
    const galref::Rect from{2, 2, 62, 46}, to{3, 1, 33, 23}, sub{4, 0, 30, 20};
    galref::FilterKernel horizontal{}, vertical{};
    ASSERT_TRUE(galref::filterKernel(0, 5, 60, 30, horizontal));
    ASSERT_TRUE(galref::filterKernel(0, 3, 44, 22, vertical));
    ASSERT_EQ(galref::filterBlit(source.view(source.base()), from, target.view(expected.data()), to, sub,
                                 horizontal, vertical),
              galref::Status::Ok);
    const gcsRECT src = rect(from), dst = rect(to), part = rect(sub);
    ASSERT_EQ(gcoSURF_FilterBlit(source.surface, target.surface, &src, &dst, &part), gcvSTATUS_OK);
    ASSERT_EQ(gcoHAL_Commit(nullptr, 1), gcvSTATUS_OK);
    EXPECT_EQ(galref::compareSurfaces("surface filter blit NV16 -> R5G6B5", target.view(expected.data()),
                                      target.view(target.base())),
              "");
    EXPECT_EQ(gcoSURF_FilterBlit(nullptr, target.surface, &src, &dst, nullptr), gcvSTATUS_INVALID_ARGUMENT);
}

TEST_F(DriverYuvFilter, FilterBlitsRefuseBadArgumentsBeforeAnyWord) {
    std::mt19937 random(37);
    gco2D e = engine();
    PlanarSurface source(64, 48, 212, random), target(64, 48, 212, random), planar(64, 48, 504, random);
    auto blit = [&](const gcsRECT& src, const gcsRECT& dst, const gcsRECT* sub, uint32_t targetFormat,
                    const PlanarSurface& to) {
        return gco2D_FilterBlitEx(e, source.addresses[0], source.strides[0], 0, 0, 0, 0, 212, 0,
                                  source.width, source.height, &src, to.addresses[0], to.strides[0],
                                  targetFormat, 0, to.width, to.height, &dst, sub);
    };
    const gcsRECT good{0, 0, 32, 24};
    EXPECT_EQ(blit({5, 0, 5, 10}, good, nullptr, 212, target), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(blit(good, {-1, 0, 10, 10}, nullptr, 212, target), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(blit(good, {0, 0, 40000, 10}, nullptr, 212, target), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(blit({0, 0, 65, 10}, good, nullptr, 212, target), gcvSTATUS_INVALID_ARGUMENT);
    const gcsRECT outside{0, 0, 33, 10};
    EXPECT_EQ(blit(good, good, &outside, 212, target), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(blit(good, good, nullptr, 504, planar), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gco2D_SetFilterType(e, 3), gcvSTATUS_NOT_SUPPORTED);
    EXPECT_EQ(gco2D_SetKernelSize(e, 8, 5), gcvSTATUS_INVALID_ARGUMENT);
    // Nothing went out: a commit leaves the target as it was.
    std::vector<uint8_t> before(target.base(), target.base() + target.bytes);
    EXPECT_EQ(gcoHAL_Commit(nullptr, 1), gcvSTATUS_OK);
    EXPECT_EQ(std::memcmp(before.data(), target.base(), before.size()), 0);
    EXPECT_EQ(gco2D_FreeFilterBuffer(e), gcvSTATUS_OK);
}

}  // namespace
