// Filter blits (gco2D_FilterBlit and its Ex forms, gcoSURF_FilterBlit through them): the
// kernels of the two directions (windowed sinc, box or the user's), cached per direction with
// what they were made for, the split blit tried first (filter_split.cpp), and the plain two
// passes through the engine's intermediate surface: the
// horizontal pass filters the source rectangle into an A8R8G8B8 buffer as wide as the
// destination sub-rectangle and as tall as the source rectangle, the vertical pass filters
// that buffer into the target. Each pass is one frame of its own command (gcv2D_HOR_FILTER,
// gcv2D_VER_FILTER) whose states carry the kernel, the stretch factor and the index of the
// first destination pixel.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine_state.h"
#include "gal_states.h"
#include "gal_surface.h"
#include "surface_record.h"

namespace {

constexpr uint32_t kPhases = 17, kTaps = 9;
constexpr float kPi = 3.1415927f;
constexpr uint32_t kIntermediateFormat = 212;  // A8R8G8B8

bool filterRect(const gcsRECT& r) {
    return r.left >= 0 && r.top >= 0 && r.left < r.right && r.top < r.bottom && r.right < 32768 &&
           r.bottom < 32768;
}

// Windowed sinc, one phase: weights normalised to the phase's sum, in fixed point with
// 16384 = 1.0, the rounding error spread over the middle taps.
void sincPhase(uint32_t n, float scale, uint32_t phase, int16_t* taps) {
    const int first = int(9 - n) / 2, half = int(n) / 2;
    const float offset = 0.5f - float(phase) / 32.0f;
    float weights[kTaps] = {};
    float sum = 0.0f;
    for (int t = 0; t < int(kTaps); ++t) {
        const int i = t - first;
        if (i < 0 || i >= int(n)) continue;
        const float x = (float(i - half) + offset) * scale;
        float w = 1.0f;
        if (n != 1 && x != 0.0f) {
            if (std::fabs(x) > float(half)) {
                w = 0.0f;
            } else {
                const float px = kPi * x, pw = kPi * x / float(half);
                w = std::sin(px) / px * std::sin(pw) / pw;
            }
        }
        weights[t] = w;
        sum += w;
    }
    int16_t total = 0;
    for (int t = 0; t < int(kTaps); ++t) {
        const int i = t - first;
        taps[t] = 0;
        if (i < 0 || i >= int(n)) continue;
        const float v = weights[t] / sum;
        taps[t] = v >= 1.0f ? 16384 : v <= -1.0f ? -16384 : int16_t(v * 16384.0f);
        total = int16_t(total + taps[t]);
    }
    const int d = 16384 - total;
    const int count = std::min(std::abs(d), int(kTaps));
    for (int k = 0; k < count; ++k) taps[(9 - count) / 2 + k] = int16_t(taps[(9 - count) / 2 + k] + (d > 0 ? 1 : -1));
}

// The kernel of direction `pass` (0 horizontal, 1 vertical) for a source and destination
// extent, rebuilt only when its type, size, extents or user kernel changed.
gceSTATUS kernelFor(gco2D e, uint32_t pass, uint32_t sourceSize, uint32_t destinationSize,
                    gal::FilterPass& out) {
    uint32_t type = e->filterType;
    uint32_t size = pass == 0 ? e->kernelH : e->kernelV;
    // A user pass that is switched off samples without filtering (one tap).
    if (type == 2 && !(pass == 0 ? e->userPassH : e->userPassV)) {
        type = 1;
        size = 1;
    }
    if (type > 2) return gcvSTATUS_NOT_SUPPORTED;
    if (type == 2 && !e->userKernelSet[pass]) return gcvSTATUS_INVALID_ARGUMENT;
    gal::FilterKernelCache& c = e->filterKernels[pass];
    // The user kernel may change under the same settings: it is copied every time.
    if (type == 2) {
        std::memcpy(c.taps, e->userKernels[pass], sizeof c.taps);
        c.valid = 0;
    } else if (!c.valid || c.type != type || c.size != size || c.sourceSize != sourceSize ||
               c.destinationSize != destinationSize) {
        const uint32_t first = (9 - size) / 2;
        c = {1, type, size, sourceSize, destinationSize, {}};
        if (type == 1) {
            const int16_t value = size == 1 ? 16384 : int16_t(16384 / size);
            for (uint32_t k = 0; k < kPhases * kTaps; ++k)
                c.taps[k] = k % kTaps >= first && k % kTaps < first + size ? value : 0;
        } else {
            const float scale = std::min(1.0f, float(destinationSize) / float(sourceSize));
            for (uint32_t p = 0; p < kPhases; ++p) sincPhase(size, scale, p, &c.taps[p * kTaps]);
        }
    }
    for (uint32_t w = 0; w < GAL_FILTER_KERNEL_WORDS; ++w) {
        const uint32_t low = uint16_t(c.taps[2 * w]);
        const uint32_t high = 2 * w + 1 < kPhases * kTaps ? uint16_t(c.taps[2 * w + 1]) : 0u;
        out.kernel[w] = low | high << 16;
    }
    out.kernelAddress = pass == 0 ? GAL_STATE_FILTER_KERNEL_H : GAL_STATE_FILTER_KERNEL_V;
    return gcvSTATUS_OK;
}

// The engine's intermediate surface, grown to at least width x height; its address and stride.
gceSTATUS intermediate(gco2D e, uint32_t width, uint32_t height, uint32_t& address,
                       uint32_t& stride) {
    uint32_t w = 0, h = 0;
    int32_t s = 0;
    if (e->filterBuffer) {
        gcoSURF_GetSize(e->filterBuffer, &w, &h, nullptr);
        if (w < width || h < height) gal::freeFilterBuffer(e);
    }
    if (!e->filterBuffer) {
        gcoSURF surface = nullptr;
        gceSTATUS status = gcoSURF_Construct(e->hal, std::max(width, w), std::max(height, h), 1, 6,
                                             kIntermediateFormat, 0, &surface);
        if (status < 0) return status;
        uint32_t addresses[3] = {};
        void* memory[3] = {};
        status = gcoSURF_Lock(surface, addresses, memory);
        if (status < 0) {
            gcoSURF_Destroy(surface);
            return status;
        }
        e->filterBuffer = surface;
    }
    uint32_t addresses[3] = {};
    void* memory[3] = {};
    gceSTATUS status = gcoSURF_Lock(e->filterBuffer, addresses, memory);
    if (status < 0) return status;
    gcoSURF_Unlock(e->filterBuffer, nullptr);
    status = gcoSURF_GetAlignedSize(e->filterBuffer, &w, &h, &s);
    address = addresses[0];
    stride = uint32_t(s);
    return status;
}

#define TRY(expression)                    \
    do {                                   \
        const gceSTATUS s_ = (expression); \
        if (s_ < 0) return s_;             \
    } while (0)

// The settings of a pass: a plain copy of the current source's rectangle `rect`. The current
// source, the target and the target format are given back when the scope ends.
class PassScope {
public:
    PassScope(gco2D e, const gcsRECT& rect)
        : e_(e), slot_(gal::currentSource(e)), source_(slot_), target_(e->target),
          targetFormat_(e->targetFormat), engineMode_(e->yuvMode) {
        gal::SourceSlot plain = source_;
        gal::makePlainCopy(plain);
        plain.rect = rect;
        slot_ = plain;
    }
    ~PassScope() {
        slot_ = source_;
        e_->target = target_;
        e_->targetFormat = targetFormat_;
        e_->yuvMode = engineMode_;
    }
    PassScope(const PassScope&) = delete;
    PassScope& operator=(const PassScope&) = delete;
    gal::SourceSlot& slot() { return slot_; }
    const gal::Target& target() const { return target_; }
    uint32_t targetFormat() const { return targetFormat_; }

private:
    gco2D e_;
    gal::SourceSlot& slot_;
    const gal::SourceSlot source_;
    const gal::Target target_;
    const uint32_t targetFormat_, engineMode_;
};

}  // namespace

namespace gal {

void freeFilterBuffer(gco2D e) {
    if (!e->filterBuffer) return;
    gcoSURF_Unlock(e->filterBuffer, nullptr);
    gcoSURF_Destroy(e->filterBuffer);  // released once the queued passes have run
    e->filterBuffer = nullptr;
}

gceSTATUS filterPasses(gco2D e, const gcsRECT& sourceRect, const gcsRECT& destRect,
                       const gcsRECT& sub, FilterPass& horizontal, FilterPass& vertical) {
    const uint32_t sw = uint32_t(sourceRect.right - sourceRect.left);
    const uint32_t sh = uint32_t(sourceRect.bottom - sourceRect.top);
    const uint32_t dw = uint32_t(destRect.right - destRect.left);
    const uint32_t dh = uint32_t(destRect.bottom - destRect.top);
    TRY(kernelFor(e, 0, sw, dw, horizontal));
    TRY(kernelFor(e, 1, sh, dh, vertical));
    horizontal.factorH = vertical.factorH = gcoHARDWARE_GetStretchFactor(0, int32_t(sw), int32_t(dw));
    horizontal.factorV = vertical.factorV = gcoHARDWARE_GetStretchFactor(0, int32_t(sh), int32_t(dh));
    horizontal.start = vertical.start = uint32_t(sub.left) | uint32_t(sub.top) << 16;
    return gcvSTATUS_OK;
}

gceSTATUS checkFilterRects(gco2D e, const gcsRECT* sourceRect, const gcsRECT* destRect,
                           const gcsRECT* destSubRect, gcsRECT& sub) {
    if (!engineValid(e)) return gcvSTATUS_INVALID_OBJECT;
    if (!sourceRect || !destRect || !filterRect(*sourceRect) || !filterRect(*destRect))
        return gcvSTATUS_INVALID_ARGUMENT;
    const int32_t dw = destRect->right - destRect->left, dh = destRect->bottom - destRect->top;
    sub = destSubRect ? *destSubRect : gcsRECT{0, 0, dw, dh};
    if (sub.left < 0 || sub.top < 0 || sub.left >= sub.right || sub.top >= sub.bottom ||
        sub.right > dw || sub.bottom > dh)
        return gcvSTATUS_INVALID_ARGUMENT;
    return gcvSTATUS_OK;
}

// The horizontal pass filters source rows [firstRow, endRow) of the source rectangle into the
// same rows of the intermediate surface (as tall as the source rectangle, so that the vertical
// taps clamp at its edges), the vertical pass that surface into the sub-rectangle.
gceSTATUS twoPassFilter(gcoHARDWARE hw, gco2D e, const gcsRECT& sourceRect, const gcsRECT& destRect,
                        const gcsRECT& sub, uint32_t firstRow, uint32_t endRow,
                        const FilterPass& horizontal, const FilterPass& vertical) {
    const uint32_t sh = uint32_t(sourceRect.bottom - sourceRect.top);
    const uint32_t width = uint32_t(sub.right - sub.left);
    if (firstRow >= endRow || endRow > sh) return gcvSTATUS_INVALID_ARGUMENT;
    uint32_t address = 0, stride = 0;
    TRY(intermediate(e, width, sh, address, stride));
    PassScope scope(e, gcsRECT{sourceRect.left, sourceRect.top + int32_t(firstRow), sourceRect.right,
                               sourceRect.top + int32_t(endRow)});
    Target buffer{};
    buffer.format = kIntermediateFormat;
    buffer.planes = 1;
    buffer.addresses[0] = address;
    buffer.strides[0] = stride;
    buffer.width = width;
    buffer.height = sh;
    e->target = buffer;
    e->targetFormat = kIntermediateFormat;
    TRY(startFilterPass(hw, e, gcv2D_HOR_FILTER,
                        gcsRECT{0, int32_t(firstRow), int32_t(width), int32_t(endRow)}, horizontal));
    SourceSlot& second = scope.slot();
    second.type = kSourceColor;
    second.format = kIntermediateFormat;
    second.planes = 1;
    second.addresses[0] = address;
    second.strides[0] = stride;
    second.addresses[1] = second.addresses[2] = second.strides[1] = second.strides[2] = 0;
    second.rotation = 0;
    second.tiling = 1;
    second.width = width;
    second.height = sh;
    second.rect = gcsRECT{0, 0, int32_t(width), int32_t(sh)};
    second.yuvMode = 0;
    e->target = scope.target();
    e->targetFormat = scope.targetFormat();
    const gcsRECT area{destRect.left + sub.left, destRect.top + sub.top, destRect.left + sub.right,
                       destRect.top + sub.bottom};
    return startFilterPass(hw, e, gcv2D_VER_FILTER, area, vertical);
}

gceSTATUS directFilterPass(gcoHARDWARE hw, gco2D e, uint32_t command, const gcsRECT& sourceRect,
                           const gcsRECT& area, const FilterPass& pass) {
    PassScope scope(e, sourceRect);
    return startFilterPass(hw, e, command, area, pass);
}

}  // namespace gal

extern "C" {

gceSTATUS gcoHARDWARE_FilterBlit(gcoHARDWARE hw, gco2D e, const gcsRECT* sourceRect,
                                 const gcsRECT* destRect, const gcsRECT* destSubRect) {
    gcsRECT sub{};
    TRY(gal::checkFilterRects(e, sourceRect, destRect, destSubRect, sub));
    gal::FilterPass horizontal, vertical;
    TRY(gal::filterPasses(e, *sourceRect, *destRect, sub, horizontal, vertical));
    return gal::twoPassFilter(hw, e, *sourceRect, *destRect, sub, 0,
                              uint32_t(sourceRect->bottom - sourceRect->top), horizontal, vertical);
}

gceSTATUS gco2D_FilterBlitEx2(gco2D e, const uint32_t* sourceAddresses, uint32_t sourceAddressCount,
                              const uint32_t* sourceStrides, uint32_t sourceStrideCount,
                              uint32_t sourceTiling, uint32_t sourceFormat, uint32_t sourceRotation,
                              uint32_t sourceWidth, uint32_t sourceHeight, const gcsRECT* sourceRect,
                              const uint32_t* destAddresses, uint32_t destAddressCount,
                              const uint32_t* destStrides, uint32_t destStrideCount,
                              uint32_t destTiling, uint32_t destFormat, uint32_t destRotation,
                              uint32_t destWidth, uint32_t destHeight, const gcsRECT* destRect,
                              const gcsRECT* destSubRect) {
    if (!gal::engineValid(e)) return gcvSTATUS_INVALID_OBJECT;
    if (!sourceRect || !destRect || !filterRect(*sourceRect) || !filterRect(*destRect))
        return gcvSTATUS_INVALID_ARGUMENT;
    const gal::Format2D* target = gal::format2D(destFormat);
    if (!target) return gcvSTATUS_NOT_SUPPORTED;
    if (target->planes != 1) return gcvSTATUS_INVALID_ARGUMENT;
    if ((e->target.tileConfig != 0 && e->target.tileConfig != 16) ||
        gal::currentSource(e).tileConfig == 8)
        return gcvSTATUS_INVALID_ARGUMENT;
    // The source rectangle must lie in the source surface's view.
    const bool quarter = (sourceRotation & 7) == 1 || (sourceRotation & 7) == 3;
    if (uint32_t(sourceRect->right) > (quarter ? sourceHeight : sourceWidth) ||
        uint32_t(sourceRect->bottom) > (quarter ? sourceWidth : sourceHeight))
        return gcvSTATUS_INVALID_ARGUMENT;
    TRY(gco2D_SetGenericSource(e, sourceAddresses, sourceAddressCount, sourceStrides,
                               sourceStrideCount, sourceTiling, sourceFormat, sourceRotation,
                               sourceWidth, sourceHeight));
    gal::currentSource(e).rect = *sourceRect;
    TRY(gco2D_SetGenericTarget(e, destAddresses, destAddressCount, destStrides, destStrideCount,
                               destTiling, destFormat, destRotation, destWidth, destHeight));
    e->targetFormat = destFormat;
    // The split blit first; the plain passes when it declines.
    const bool planar = gal::format2D(sourceFormat)->planes > 1;
    const gceSTATUS status =
        planar ? gcoHARDWARE_SplitYUVFilterBlit(nullptr, e, sourceRect, destRect, destSubRect)
               : gcoHARDWARE_SplitFilterBlit(nullptr, e, sourceRect, destRect, destSubRect);
    if (status != gcvSTATUS_SKIP) return status;
    return gcoHARDWARE_FilterBlit(nullptr, e, sourceRect, destRect, destSubRect);
}

gceSTATUS gco2D_FilterBlitEx(gco2D e, uint32_t sourceAddress, uint32_t sourceStride,
                             uint32_t sourceUAddress, uint32_t sourceUStride,
                             uint32_t sourceVAddress, uint32_t sourceVStride, uint32_t sourceFormat,
                             uint32_t sourceRotation, uint32_t sourceWidth, uint32_t sourceHeight,
                             const gcsRECT* sourceRect, uint32_t destAddress, uint32_t destStride,
                             uint32_t destFormat, uint32_t destRotation, uint32_t destWidth,
                             uint32_t destHeight, const gcsRECT* destRect,
                             const gcsRECT* destSubRect) {
    const uint32_t sourceAddresses[3] = {sourceAddress, sourceUAddress, sourceVAddress};
    const uint32_t sourceStrides[3] = {sourceStride, sourceUStride, sourceVStride};
    return gco2D_FilterBlitEx2(e, sourceAddresses, 3, sourceStrides, 3, 1, sourceFormat,
                               sourceRotation, sourceWidth, sourceHeight, sourceRect, &destAddress,
                               1, &destStride, 1, 1, destFormat, destRotation, destWidth,
                               destHeight, destRect, destSubRect);
}

gceSTATUS gco2D_FilterBlit(gco2D e, uint32_t sourceAddress, uint32_t sourceStride,
                           uint32_t sourceUAddress, uint32_t sourceUStride,
                           uint32_t sourceVAddress, uint32_t sourceVStride, uint32_t sourceFormat,
                           uint32_t sourceRotation, uint32_t sourceWidth, const gcsRECT* sourceRect,
                           uint32_t destAddress, uint32_t destStride, uint32_t destFormat,
                           uint32_t destRotation, uint32_t destWidth, const gcsRECT* destRect,
                           const gcsRECT* destSubRect) {
    // Without surface heights the rectangles bound the rows (rotations 0 and 1 only).
    if (sourceRotation > 1 || destRotation > 1) return gcvSTATUS_INVALID_ARGUMENT;
    if (!sourceRect || !destRect) return gcvSTATUS_INVALID_ARGUMENT;
    const uint32_t sourceHeight = uint32_t(std::max(sourceRect->bottom, sourceRotation ? sourceRect->right : 0));
    const uint32_t destHeight = uint32_t(std::max(destRect->bottom, destRotation ? destRect->right : 0));
    return gco2D_FilterBlitEx(e, sourceAddress, sourceStride, sourceUAddress, sourceUStride,
                              sourceVAddress, sourceVStride, sourceFormat, sourceRotation,
                              sourceWidth, sourceHeight, sourceRect, destAddress, destStride,
                              destFormat, destRotation, destWidth, destHeight, destRect,
                              destSubRect);
}

gceSTATUS gcoSURF_FilterBlit(gcoSURF source, gcoSURF target, const gcsRECT* sourceRect,
                             const gcsRECT* destRect, const gcsRECT* destSubRect) {
    if (!source || !target || !sourceRect || !destRect) return gcvSTATUS_INVALID_ARGUMENT;
    if (!gal::surfaceValid(source) || !gal::surfaceValid(target)) return gcvSTATUS_INVALID_OBJECT;
    gco2D e = nullptr;
    TRY(gal::threadEngine(e));
    uint32_t sourceBase[3] = {}, targetBase[3] = {};
    TRY(gcoSURF_Lock(source, sourceBase, nullptr));
    gceSTATUS status = gcoSURF_Lock(target, targetBase, nullptr);
    if (status >= 0) {
        uint32_t sa[3], ss[3], ta[3], ts[3];
        gal::surfacePlanes(*source, source->node.physical, sa, ss);
        gal::surfacePlanes(*target, target->node.physical, ta, ts);
        status = gco2D_FilterBlitEx2(e, sa, source->planes, ss, source->planes, source->tiling,
                                     source->format, source->rotation, source->alignedWidth,
                                     source->alignedHeight, sourceRect, ta, target->planes, ts,
                                     target->planes, target->tiling, target->format,
                                     target->rotation, target->alignedWidth,
                                     target->alignedHeight, destRect, destSubRect);
        gcoSURF_Unlock(target, nullptr);
    }
    gcoSURF_Unlock(source, nullptr);
    return status;
}

gceSTATUS gco2D_FreeFilterBuffer(gco2D e) {
    if (!gal::engineValid(e)) return gcvSTATUS_INVALID_OBJECT;
    gal::freeFilterBuffer(e);
    return gcvSTATUS_OK;
}

}  // extern "C"

namespace gal {

// Older cores are primed once with one filter blit between two scratch surfaces (a 64 x 16
// source rectangle onto 128 x 32). The engine's settings are given back afterwards.
gceSTATUS primeEngine(gco2D e) {
    gcoSURF surfaces[2] = {};
    uint32_t addresses[2] = {};
    int32_t strides[2] = {};
    gceSTATUS status = gcvSTATUS_OK;
    for (int k = 0; k < 2 && status >= 0; ++k) {
        status = gcoSURF_Construct(e->hal, 256, 256, 1, 6, kIntermediateFormat, 0, &surfaces[k]);
        uint32_t planes[3] = {};
        void* memory[3] = {};
        if (status >= 0) status = gcoSURF_Lock(surfaces[k], planes, memory);
        addresses[k] = planes[0];
        if (status >= 0) status = gcoSURF_GetAlignedSize(surfaces[k], nullptr, nullptr, &strides[k]);
    }
    if (status >= 0) {
        const SourceSlot slot = currentSource(e);
        const Target target = e->target;
        const uint32_t format = e->targetFormat;
        const gcsRECT source{0, 0, 64, 16}, destination{0, 0, 128, 32};
        status = gco2D_FilterBlitEx(e, addresses[0], uint32_t(strides[0]), 0, 0, 0, 0,
                                    kIntermediateFormat, 0, 256, 256, &source, addresses[1],
                                    uint32_t(strides[1]), kIntermediateFormat, 0, 256, 256,
                                    &destination, nullptr);
        // Run now, so that the priming is done before the engine's first own operation.
        if (status >= 0) status = gcoHAL_Commit(nullptr, 1);
        currentSource(e) = slot;
        e->target = target;
        e->targetFormat = format;
    }
    for (gcoSURF surface : surfaces) {
        if (!surface) continue;
        gcoSURF_Unlock(surface, nullptr);
        gcoSURF_Destroy(surface);
    }
    return status;
}

}  // namespace gal
