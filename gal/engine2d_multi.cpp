// The 2D engine's lines (with a brush object, the engine's brush, or one colour) and its
// multi-source blit (the colour sources of a mask blitted one after another, each with its own
// rectangle, ROPs, keys and blending), checked and handed to the hardware layer's 2D frame.
#include "engine_state.h"
#include "gal_brush.h"
#include "gal_states.h"

namespace {

constexpr uint32_t kFeatureTargetRect = 118;  // also: YUV sources of a multi-source blit

bool ropUsesSource(uint8_t rop) { return ((rop >> 2) ^ rop) & 0x33; }

gceSTATUS prepareLines(gco2D e, uint32_t count, const gcsRECT* lines, uint8_t foreground,
                       uint8_t background, uint32_t targetFormat) {
    if (!gal::engineValid(e)) return gcvSTATUS_INVALID_OBJECT;
    // A line has no source to read.
    if (e->reduced || ropUsesSource(foreground) || ropUsesSource(background))
        return gcvSTATUS_NOT_SUPPORTED;
    if (count == 0 || !lines || targetFormat == 0) return gcvSTATUS_INVALID_ARGUMENT;
    gal::SourceSlot& s = gal::currentSource(e);
    s.foregroundRop = foreground;
    s.backgroundRop = background;
    e->targetFormat = targetFormat;
    return gcvSTATUS_OK;
}

// The source rectangle within the source's view (sizes of 0 bound nothing).
bool insideSource(const gal::SourceSlot& s) {
    const bool swapped = (s.rotation & 7) == 1 || (s.rotation & 7) == 3;
    const int64_t viewW = swapped ? s.height : s.width, viewH = swapped ? s.width : s.height;
    const gcsRECT& r = s.rect;
    return r.left >= 0 && r.top >= 0 && r.left < r.right && r.top < r.bottom &&
           (viewW == 0 || r.right <= viewW) && (viewH == 0 || r.bottom <= viewH);
}

}  // namespace

extern "C" {

gceSTATUS gco2D_Line(gco2D e, uint32_t count, const gcsRECT* lines, gcoBRUSH brush,
                     uint8_t foreground, uint8_t background, uint32_t targetFormat) {
    const gceSTATUS status = prepareLines(e, count, lines, foreground, background, targetFormat);
    if (status < 0) return status;
    if (brush) {
        const gceSTATUS flushed = gco2D_FlushBrush(e, brush, targetFormat);
        if (flushed < 0) return flushed;
    }
    return gcoHARDWARE_StartDELine(e->hardware, e, count, lines);
}

gceSTATUS gco2D_ColorLine(gco2D e, uint32_t count, const gcsRECT* lines, uint32_t colour,
                          uint8_t foreground, uint8_t background, uint32_t targetFormat) {
    const gceSTATUS status = prepareLines(e, count, lines, foreground, background, targetFormat);
    if (status < 0) return status;
    return gcoHARDWARE_Line2DEx(e->hardware, e, count, lines, colour);
}

gceSTATUS gco2D_MultiSourceBlit(gco2D e, uint32_t sourceMask, const gcsRECT* destRects,
                                uint32_t count) {
    if (!gal::engineValid(e)) return gcvSTATUS_INVALID_OBJECT;
    if (sourceMask == 0 || sourceMask >> gal::kSourceSlots || !destRects || count == 0)
        return gcvSTATUS_INVALID_ARGUMENT;
    // The target's format: the generic target's own, else that of the last operation.
    const uint32_t targetFormat = e->target.format ? e->target.format : e->targetFormat;
    if (targetFormat == 0) return gcvSTATUS_INVALID_ARGUMENT;
    const int32_t width = destRects[0].right - destRects[0].left;
    const int32_t height = destRects[0].bottom - destRects[0].top;
    // Each source rectangle is read whole into every destination rectangle, so they all have
    // the sources' size (a larger one would read past the source rectangles).
    for (uint32_t r = 1; r < count; ++r)
        if (destRects[r].right - destRects[r].left != width || destRects[r].bottom - destRects[r].top != height)
            return gcvSTATUS_INVALID_ARGUMENT;
    for (uint32_t i = 0; i < gal::kSourceSlots; ++i) {
        if (!(sourceMask >> i & 1u)) continue;
        const gal::SourceSlot& s = e->sources[i];
        // Monochrome and masked sources carry their stream with their own blit.
        if (s.type != gal::kSourceColor || !insideSource(s)) return gcvSTATUS_INVALID_ARGUMENT;
        if (count > 1 && (s.rect.right - s.rect.left != width || s.rect.bottom - s.rect.top != height))
            return gcvSTATUS_INVALID_ARGUMENT;
        const gal::Format2D* f = gal::format2D(s.format);
        if (!f) return gcvSTATUS_NOT_SUPPORTED;
        if (f->yuv && !gal::chipFeature(kFeatureTargetRect)) return gcvSTATUS_NOT_SUPPORTED;
        if (s.tileConfig == 8 && s.format != 211 && s.format != 212) return gcvSTATUS_INVALID_ARGUMENT;
    }
    e->sourceMask = sourceMask;
    e->targetFormat = targetFormat;
    return gcoHARDWARE_StartDE(e->hardware, e, gcv2D_MULTI_SOURCE_BLT, 0, nullptr, count, destRects);
}

}  // extern "C"
