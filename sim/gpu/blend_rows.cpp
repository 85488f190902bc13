// Row kernels of alpha blending (see blend_rows.h).
//
// The Porter-Duff kernel keeps two 8-bit channels in each 32-bit lane (red and blue, alpha and
// green), so one multiply scales two channels; the rounding x × f / 255 is the one blendPixel
// uses, (t + (t >> 8)) >> 8 with t = x × f + 128, which never carries into the neighbouring
// channel (t + (t >> 8) stays below 0x10000). Sums saturate per channel.
#include "blend_rows.h"

#include <algorithm>
#include <array>
#include <vector>

namespace veld::gpusim {
namespace {

#define VELD_INLINE inline __attribute__((always_inline))

// x × f / 255, rounded, for each channel of x.
VELD_INLINE uint32_t scalePixel(uint32_t x, uint32_t f) {
    uint32_t rb = (x & 0x00FF00FFu) * f + 0x00800080u;
    rb = ((rb + ((rb >> 8) & 0x00FF00FFu)) >> 8) & 0x00FF00FFu;
    uint32_t ag = ((x >> 8) & 0x00FF00FFu) * f + 0x00800080u;
    ag = (ag + ((ag >> 8) & 0x00FF00FFu)) & 0xFF00FF00u;
    return rb | ag;
}

// a + b for each channel, saturating at 255.
VELD_INLINE uint32_t addPixels(uint32_t a, uint32_t b) {
    uint32_t rb = (a & 0x00FF00FFu) + (b & 0x00FF00FFu);
    rb = (rb | (0x01000100u - ((rb >> 8) & 0x00010001u))) & 0x00FF00FFu;
    uint32_t ag = ((a >> 8) & 0x00FF00FFu) + ((b >> 8) & 0x00FF00FFu);
    ag = (ag | (0x01000100u - ((ag >> 8) & 0x00010001u))) & 0x00FF00FFu;
    return rb | ag << 8;
}

// One side's term: pixel × factor, the factor being of the other side's alpha.
template <uint32_t Mode>
VELD_INLINE uint32_t term(uint32_t pixel, uint32_t otherAlpha) {
    if constexpr (Mode == 0) return 0;
    if constexpr (Mode == 1) return pixel;
    if constexpr (Mode == 2) return scalePixel(pixel, otherAlpha);
    return scalePixel(pixel, 255 - otherAlpha);
}

template <uint32_t SourceMode, uint32_t TargetMode>
VELD_INLINE void porterDuffRow(const uint32_t* __restrict source, uint32_t* __restrict target, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t s = source[i], d = target[i];
        target[i] = addPixels(term<SourceMode>(s, d >> 24), term<TargetMode>(d, s >> 24));
    }
}

// Every pair of factor modes 0 to 3, each instantiated inside the caller so that it is built
// for the caller's instruction set.
#define VELD_PORTER_DUFF_SWITCH(fs, fd, s, d, n)        \
    switch ((fs) * 4 + (fd)) {                          \
    case 0: porterDuffRow<0, 0>(s, d, n); break;        \
    case 1: porterDuffRow<0, 1>(s, d, n); break;        \
    case 2: porterDuffRow<0, 2>(s, d, n); break;        \
    case 3: porterDuffRow<0, 3>(s, d, n); break;        \
    case 4: porterDuffRow<1, 0>(s, d, n); break;        \
    case 5: porterDuffRow<1, 1>(s, d, n); break;        \
    case 6: porterDuffRow<1, 2>(s, d, n); break;        \
    case 7: porterDuffRow<1, 3>(s, d, n); break;        \
    case 8: porterDuffRow<2, 0>(s, d, n); break;        \
    case 9: porterDuffRow<2, 1>(s, d, n); break;        \
    case 10: porterDuffRow<2, 2>(s, d, n); break;       \
    case 11: porterDuffRow<2, 3>(s, d, n); break;       \
    case 12: porterDuffRow<3, 0>(s, d, n); break;       \
    case 13: porterDuffRow<3, 1>(s, d, n); break;       \
    case 14: porterDuffRow<3, 2>(s, d, n); break;       \
    default: porterDuffRow<3, 3>(s, d, n); break;       \
    }

void porterDuffBaseline(uint32_t fs, uint32_t fd, const uint32_t* source, uint32_t* target, uint32_t n) {
    VELD_PORTER_DUFF_SWITCH(fs, fd, source, target, n)
}

#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target("avx2"))) void porterDuffAvx2(uint32_t fs, uint32_t fd, const uint32_t* source,
                                                    uint32_t* target, uint32_t n) {
    VELD_PORTER_DUFF_SWITCH(fs, fd, source, target, n)
}
#endif

struct Builds {
    std::array<PorterDuffBuild, 2> list{};
    size_t count = 0;
    Builds() {
#if defined(__x86_64__) && defined(__GNUC__)
        if (__builtin_cpu_supports("avx2")) list[count++] = {"avx2", porterDuffAvx2};
#endif
        list[count++] = {"baseline", porterDuffBaseline};
    }
};

const Builds& builds() {
    static const Builds b;
    return b;
}

}  // namespace

bool porterDuffKernel(const BlendSettings& b) {
    return b.sourceAlphaMode == 0 && b.targetAlphaMode == 0 && b.sourceGlobalMode == 0 &&
           b.targetGlobalMode == 0 && !b.sourcePremultiply && !b.targetPremultiply &&
           !b.targetDemultiply && b.globalColourMultiply == 0 && b.sourceFactor < 4 && b.targetFactor < 4;
}

namespace {

bool isArgb8888(const PixelLayout& l) {
    return l.kind == PixelKind::Rgb && l.bytes == 4 && l.a.bits == 8 && l.a.shift == 24 && l.r.shift == 16 &&
           l.g.shift == 8 && l.b.shift == 0 && !l.padding;
}

bool aligned(const void* p) { return (reinterpret_cast<uintptr_t>(p) & 3) == 0; }

}  // namespace

bool blendsByRows(const RasterJob& j) {
    if (!j.blend || j.source != SourceKind::Colour || !j.targetView.plain() || !j.sourceView.plain() ||
        j.sourcePlanes.layout.kind != PixelKind::Rgb || j.target.layout.kind != PixelKind::Rgb ||
        j.horizontalFactor != 0x10000 || j.mirrorHorizontal)
        return false;
    // Source rows read while target rows are written would see earlier results.
    const uint8_t* s = j.sourcePlanes.planes[0];
    const uint8_t* t = j.targetMemory;
    const uint32_t dh = uint32_t(j.rect.height());
    const uint32_t lastRow = j.originY + std::max(sourceStep(0, dh, j.mirrorVertical, j.verticalFactor),
                                                  sourceStep(dh - 1, dh, j.mirrorVertical, j.verticalFactor));
    const size_t sourceSpan = size_t(j.sourcePlanes.strides[0]) * (size_t(lastRow) + 1);
    const size_t targetSpan = size_t(j.target.strides[0]) * uint32_t(j.area.bottom);
    return s + sourceSpan <= t || t + targetSpan <= s;
}

uint64_t blendRows(const RasterJob& j) {
    const PixelPlanes& s = j.sourcePlanes;
    const PixelLayout& tl = j.target.layout;
    const uint32_t n = uint32_t(j.area.width());
    const uint32_t dh = uint32_t(j.rect.height());
    const uint32_t firstColumn = j.originX + uint32_t(j.area.left - j.rect.left);
    const bool sourceDirect = isArgb8888(s.layout), targetDirect = isArgb8888(tl);
    std::vector<uint32_t> sourceRow(sourceDirect ? 0 : n), targetRow(targetDirect ? 0 : n);
    for (int32_t y = j.area.top; y < j.area.bottom; ++y) {
        const uint32_t sy = j.originY + sourceStep(uint32_t(y - j.rect.top), dh, j.mirrorVertical, j.verticalFactor);
        const uint8_t* from = s.planes[0] + size_t(sy) * s.strides[0] + size_t(firstColumn) * s.layout.bytes;
        uint8_t* to = j.targetMemory + size_t(y) * j.target.strides[0] + size_t(j.area.left) * tl.bytes;
        const uint32_t* source = reinterpret_cast<const uint32_t*>(from);
        if (!sourceDirect || !aligned(from)) {
            sourceRow.resize(n);
            decodeRow(s.layout, from, n, sourceRow.data(), s.palette);
            source = sourceRow.data();
        }
        if (targetDirect && aligned(to)) {
            blendRow(j.blending, source, reinterpret_cast<uint32_t*>(to), n);
            continue;
        }
        targetRow.resize(n);
        decodeRow(tl, to, n, targetRow.data(), nullptr);
        blendRow(j.blending, source, targetRow.data(), n);
        encodeRow(tl, targetRow.data(), n, to);
    }
    return uint64_t(n) * uint64_t(j.area.height());
}

std::span<const PorterDuffBuild> porterDuffBuilds() {
    const Builds& b = builds();
    return {b.list.data(), b.count};
}

void blendRow(const BlendSettings& blend, const uint32_t* source, uint32_t* target, uint32_t n) {
    if (porterDuffKernel(blend)) {
        // The first build is the fastest this processor runs.
        builds().list[0].row(blend.sourceFactor, blend.targetFactor, source, target, n);
        return;
    }
    for (uint32_t i = 0; i < n; ++i) target[i] = blendPixel(blend, source[i], target[i]);
}

}  // namespace veld::gpusim
