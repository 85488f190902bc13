// Split filter blits (gcoHARDWARE_SplitFilterBlit for single-plane sources,
// gcoHARDWARE_SplitYUVFilterBlit for two- and three-plane YUV sources): the filter blit family
// tries them before the plain two passes through the intermediate surface.
//
// A direction whose source and destination extents are equal steps the source by exactly one
// pixel, so every destination pixel of that direction uses the kernel's last phase (the sample
// point on a source pixel). When that phase is the unit tap (16384 on the middle tap, 0
// elsewhere: any one-tap kernel, and the windowed sinc at scale 1), the pass of that direction
// copies its input unchanged; the other pass then runs alone, straight from the source into
// the target, and gives the same pixels without the intermediate surface or its second frame.
// When both directions filter, the two passes run split: the horizontal pass only over the
// source rows that the vertical taps of the destination sub-rectangle reach (a sub-rectangle
// that is a part of the destination needs a part of the rows), and a destination wider than
// 2048 pixels in stripes of at most that width, each through an intermediate surface no wider.
// Every destination pixel is computed as the plain passes compute it. When neither applies
// the split declines (gcvSTATUS_SKIP) and the caller runs the plain passes.
#include <algorithm>

#include "engine_state.h"
#include "gal_states.h"

namespace {

constexpr uint32_t kTaps = 9, kUnitPhase = 16, kUnit = 16384;
// The widest intermediate surface a split blit uses.
constexpr int32_t kStripeWidth = 2048;

int16_t tap(const gal::FilterPass& pass, uint32_t k) {
    return int16_t(pass.kernel[k / 2] >> (16 * (k % 2)));
}

// True when the pass copies: its extents are equal and its stepping phase is the unit tap.
bool copies(const gal::FilterPass& pass, uint32_t factor, uint32_t sourceSize,
            uint32_t destinationSize) {
    if (sourceSize != destinationSize || factor != 0x10000) return false;
    for (uint32_t t = 0; t < kTaps; ++t)
        if (tap(pass, kUnitPhase * kTaps + t) != (t == kTaps / 2 ? int16_t(kUnit) : 0)) return false;
    return true;
}

// Source rows [first, end) that the vertical taps of the sub-rectangle's rows reach: each
// destination row's taps lie within four rows of its centre row.
void reachedRows(const gal::FilterPass& vertical, uint32_t sourceHeight, const gcsRECT& sub,
                 uint32_t& first, uint32_t& end) {
    auto centre = [&](int32_t i) { return int64_t((uint64_t(uint32_t(i)) * vertical.factorV + 0x8000) >> 16); };
    const int64_t last = int64_t(sourceHeight) - 1;
    first = uint32_t(std::clamp<int64_t>(centre(sub.top) - 4, 0, last));
    end = uint32_t(std::clamp<int64_t>(centre(sub.bottom - 1) + 4, 0, last)) + 1;
}

gceSTATUS split(gcoHARDWARE hw, gco2D e, const gcsRECT* sourceRect, const gcsRECT* destRect,
                const gcsRECT* destSubRect, bool planarSource) {
    gcsRECT sub{};
    const gceSTATUS checked = gal::checkFilterRects(e, sourceRect, destRect, destSubRect, sub);
    if (checked < 0) return checked;
    const gal::Format2D* f = gal::format2D(gal::currentSource(e).format);
    if (!f || (f->planes > 1) != planarSource || (planarSource && !f->yuv)) return gcvSTATUS_SKIP;
    gal::FilterPass horizontal, vertical;
    const gceSTATUS built = gal::filterPasses(e, *sourceRect, *destRect, sub, horizontal, vertical);
    if (built < 0) return built;
    const gcsRECT& s = *sourceRect;
    const gcsRECT& d = *destRect;
    const gcsRECT area{d.left + sub.left, d.top + sub.top, d.left + sub.right, d.top + sub.bottom};
    // Rows pass through the horizontal pass one to one: it reads the source rows under the
    // sub-rectangle.
    if (copies(vertical, vertical.factorV, uint32_t(s.bottom - s.top), uint32_t(d.bottom - d.top))) {
        const gcsRECT rows{s.left, s.top + sub.top, s.right, s.top + sub.bottom};
        return gal::directFilterPass(hw, e, gcv2D_HOR_FILTER, rows, area, horizontal);
    }
    // Columns pass through the vertical pass one to one: it reads the source columns under the
    // sub-rectangle.
    if (copies(horizontal, horizontal.factorH, uint32_t(s.right - s.left), uint32_t(d.right - d.left))) {
        const gcsRECT columns{s.left + sub.left, s.top, s.left + sub.right, s.bottom};
        return gal::directFilterPass(hw, e, gcv2D_VER_FILTER, columns, area, vertical);
    }
    // Both directions filter: the horizontal pass only over the source rows the vertical taps
    // of the sub-rectangle reach, and destinations wider than a stripe in stripes.
    uint32_t first = 0, end = 0;
    reachedRows(vertical, uint32_t(s.bottom - s.top), sub, first, end);
    // A YUV target keeps its chroma pairs whole: it is not cut into stripes.
    const gal::Format2D* target = gal::format2D(e->targetFormat);
    const int32_t stripeWidth = target && target->yuv ? sub.right - sub.left : kStripeWidth;
    if (first == 0 && end == uint32_t(s.bottom - s.top) && sub.right - sub.left <= stripeWidth)
        return gcvSTATUS_SKIP;
    for (int32_t x = sub.left; x < sub.right; x += stripeWidth) {
        const gcsRECT stripe{x, sub.top, std::min(x + stripeWidth, sub.right), sub.bottom};
        gal::FilterPass h = horizontal, v = vertical;
        h.start = v.start = uint32_t(stripe.left) | uint32_t(stripe.top) << 16;
        const gceSTATUS status = gal::twoPassFilter(hw, e, s, d, stripe, first, end, h, v);
        if (status < 0) return status;
    }
    return gcvSTATUS_OK;
}

}  // namespace

extern "C" {

gceSTATUS gcoHARDWARE_SplitFilterBlit(gcoHARDWARE hw, gco2D e, const gcsRECT* sourceRect,
                                      const gcsRECT* destRect, const gcsRECT* destSubRect) {
    return split(hw, e, sourceRect, destRect, destSubRect, false);
}

gceSTATUS gcoHARDWARE_SplitYUVFilterBlit(gcoHARDWARE hw, gco2D e, const gcsRECT* sourceRect,
                                         const gcsRECT* destRect, const gcsRECT* destSubRect) {
    return split(hw, e, sourceRect, destRect, destSubRect, true);
}

}  // extern "C"
