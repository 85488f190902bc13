// Surfaces in the 2D engine: a surface as the engine's source or target, and the surface-level
// operations (Clear2D, Blit with brushes, masks and stretching, Line, MonoBlit) that lock the
// surfaces for their length and hand them to the engine.
#include "gal_states.h"
#include "surface_record.h"

namespace {

bool valid(gcoSURF s) { return gal::surfaceValid(s); }
gceSTATUS engine(gco2D& e) { return gal::threadEngine(e); }

using GenericSetter = gceSTATUS (*)(gco2D, const uint32_t*, uint32_t, const uint32_t*, uint32_t,
                                    uint32_t, uint32_t, uint32_t, uint32_t, uint32_t);

// Hands the surface's planes to the engine as its source or target.
gceSTATUS useFor2D(gcoSURF s, uint32_t rotation, GenericSetter set) {
    if (!s) return gcvSTATUS_INVALID_ARGUMENT;
    if (!valid(s)) return gcvSTATUS_INVALID_OBJECT;
    if (!s->node.valid) return gcvSTATUS_MEMORY_UNLOCKED;
    gco2D e = nullptr;
    const gceSTATUS status = engine(e);
    if (status < 0) return status;
    uint32_t a[3], strides[3];
    gal::surfacePlanes(*s, s->node.physical, a, strides);
    return set(e, a, s->planes, strides, s->planes, s->tiling, s->format, rotation,
               s->alignedWidth, s->alignedHeight);
}


}  // namespace

extern "C" {

gceSTATUS gcoSURF_Set2DSource(gcoSURF s, uint32_t rotation) {
    return useFor2D(s, rotation, gco2D_SetGenericSource);
}

gceSTATUS gcoSURF_Set2DTarget(gcoSURF s, uint32_t rotation) {
    return useFor2D(s, rotation, gco2D_SetGenericTarget);
}

// Keeps a surface locked for the length of an operation, on every path.
class SurfaceLock {
public:
    explicit SurfaceLock(gcoSURF s) : s_(s) { status_ = gcoSURF_Lock(s, addresses_, nullptr); }
    ~SurfaceLock() {
        if (status_ >= 0) gcoSURF_Unlock(s_, nullptr);
    }
    SurfaceLock(const SurfaceLock&) = delete;
    SurfaceLock& operator=(const SurfaceLock&) = delete;
    gceSTATUS status() const { return status_; }
    uint32_t address() const { return addresses_[0]; }

private:
    gcoSURF s_;
    uint32_t addresses_[3] = {};
    gceSTATUS status_;
};

// The thread's engine with the locked surface as its target and no transparency.
gceSTATUS targetEngine(gcoSURF s, const SurfaceLock& lock, gco2D& e) {
    gceSTATUS status = engine(e);
    if (status < 0) return status;
    status = gco2D_SetTargetEx(e, lock.address(), s->stride, s->rotation, s->alignedWidth,
                               s->alignedHeight);
    if (status < 0) return status;
    return gco2D_SetTransparencyAdvanced(e, 0, 0, 0);
}

gceSTATUS gcoSURF_Clear2D(gcoSURF s, uint32_t rectCount, const gcsRECT* rects, uint32_t colour) {
    if (!valid(s)) return gcvSTATUS_INVALID_OBJECT;
    gcsRECT whole{0, 0, int32_t(s->width), int32_t(s->height)};
    if (!rects) {
        if (rectCount != 1) return gcvSTATUS_INVALID_ARGUMENT;
        rects = &whole;
    }
    SurfaceLock lock(s);
    if (lock.status() < 0) return lock.status();
    gco2D e = nullptr;
    const gceSTATUS status = targetEngine(s, lock, e);
    if (status < 0) return status;
    // The surface's own format, and a clear that writes the colour (ROP 0xCC).
    return gco2D_Clear(e, rectCount, rects, colour, 0xCC, 0xCC, s->format);
}

gceSTATUS gcoSURF_Line(gcoSURF s, uint32_t lineCount, const gcsRECT* lines, gcoBRUSH brush,
                       uint8_t foreground, uint8_t background) {
    if (!valid(s)) return gcvSTATUS_INVALID_OBJECT;
    SurfaceLock lock(s);
    if (lock.status() < 0) return lock.status();
    gco2D e = nullptr;
    const gceSTATUS status = targetEngine(s, lock, e);
    if (status < 0) return status;
    return gco2D_Line(e, lineCount, lines, brush, foreground, background, s->format);
}

gceSTATUS gcoSURF_MonoBlit(gcoSURF s, const void* stream, const gcsPOINT* sourceSize,
                           const gcsRECT* streamRect, uint32_t sourcePacking,
                           uint32_t streamPacking, const gcsRECT* destRect,
                           uint32_t foregroundColour, uint32_t backgroundColour,
                           uint8_t foreground, uint8_t background) {
    if (!valid(s)) return gcvSTATUS_INVALID_OBJECT;
    SurfaceLock lock(s);
    if (lock.status() < 0) return lock.status();
    gco2D e = nullptr;
    gceSTATUS status = targetEngine(s, lock, e);
    if (status < 0) return status;
    // The colours are given in A8R8G8B8 and converted to the surface's format.
    status = gco2D_SetMonochromeSource(e, 1, 0, streamPacking, 0, 0, foregroundColour,
                                       backgroundColour);
    if (status < 0) return status;
    return gco2D_MonoBlit(e, stream, sourceSize, streamRect, sourcePacking, streamPacking,
                          destRect, foreground, background, s->format);
}

gceSTATUS gcoSURF_Blit(gcoSURF source, gcoSURF target, uint32_t rectCount,
                       const gcsRECT* sourceRects, const gcsRECT* destRects, void* brush,
                       uint8_t foreground, uint8_t background, uint32_t transparency,
                       uint32_t transparencyColor, const void* mask, uint32_t maskPacking) {
    if (!valid(target)) return gcvSTATUS_INVALID_OBJECT;
    gco2D e = nullptr;
    gceSTATUS status = engine(e);
    if (status < 0) return status;
    if (mask && e->reduced) return gcvSTATUS_NOT_SUPPORTED;
    if (rectCount == 0 || !destRects) return gcvSTATUS_INVALID_ARGUMENT;
    // A brush object is loaded when the ROPs or the pattern transparency read the pattern.
    const bool usesPattern = (((foreground >> 4) ^ foreground) & 0x0F) ||
                             (((background >> 4) ^ background) & 0x0F) || transparency == 3;
    if (brush && usesPattern) {
        status = gco2D_FlushBrush(e, static_cast<gcoBRUSH>(brush), target->format);
        if (status < 0) return status;
    }
    const gcsRECT* sources = sourceRects ? sourceRects : destRects;
    const bool usesSource = (((foreground >> 2) ^ foreground) & 0x33) ||
                            (((background >> 2) ^ background) & 0x33) || mask;
    bool stretch = false;
    for (uint32_t i = 0; i < rectCount; ++i)
        stretch |= sources[i].right - sources[i].left != destRects[i].right - destRects[i].left ||
                   sources[i].bottom - sources[i].top != destRects[i].bottom - destRects[i].top;
    if (usesSource) {
        if (!valid(source)) return gcvSTATUS_INVALID_OBJECT;
        if (!source->node.valid) return gcvSTATUS_MEMORY_UNLOCKED;
    }
    SurfaceLock targetLock(target);
    if (targetLock.status() < 0) return targetLock.status();
    if (usesSource) {
        SurfaceLock sourceLock(source);
        if (sourceLock.status() < 0) return sourceLock.status();
        if (mask)
            status = gco2D_SetMaskedSourceEx(e, sourceLock.address(), source->stride,
                                             source->format, 0, maskPacking, source->rotation,
                                             source->alignedWidth, source->alignedHeight);
        else
            status = gco2D_SetColorSourceEx(e, sourceLock.address(), source->stride,
                                            source->format, source->rotation,
                                            source->alignedWidth, source->alignedHeight, 0,
                                            transparency, transparencyColor);
        if (status < 0) return status;
    }
    status = gco2D_SetTargetEx(e, targetLock.address(), target->stride, target->rotation,
                               target->alignedWidth, target->alignedHeight);
    if (status < 0) return status;
    if (mask) {
        for (uint32_t i = 0; i < rectCount && status >= 0; ++i) {
            const gcsRECT& d = destRects[i];
            status = gco2D_SetSource(e, &sources[i]);
            if (status < 0) return status;
            const gcsPOINT size{d.right - d.left, d.bottom - d.top};
            const gcsRECT streamRect{0, 0, size.x, size.y};
            status = gco2D_MonoBlit(e, mask, &size, &streamRect, maskPacking, maskPacking, &d,
                                    foreground, background, target->format);
        }
        return status;
    }
    if (usesSource && !stretch)
        return gco2D_BatchBlit(e, rectCount, sources, destRects, foreground, background,
                               target->format);
    if (usesSource) {
        // Each rectangle with its own source position and stretch.
        status = gco2D_SetStretchRectFactors(e, &sources[0], &destRects[0]);
        if (status < 0) return status;
        status = gco2D_SetSource(e, &sources[0]);
        if (status < 0) return status;
        const gal::Format2D* f = gal::format2D(target->format);
        if (!f || f->planes != 1 || f->yuv) return gcvSTATUS_INVALID_ARGUMENT;
        gal::currentSource(e).foregroundRop = foreground;
        gal::currentSource(e).backgroundRop = background;
        e->targetFormat = target->format;
        return gcoHARDWARE_StartDE(e->hardware, e, gcv2D_STRETCH, rectCount, sources, rectCount,
                                   destRects);
    }
    return gco2D_Blit(e, rectCount, destRects, foreground, background, target->format);
}

gceSTATUS gcoSURF_EnableAlphaBlend(gcoSURF s, uint8_t sourceAlpha, uint8_t targetAlpha,
                                   uint32_t sourceAlphaMode, uint32_t targetAlphaMode,
                                   uint32_t sourceGlobalMode, uint32_t targetGlobalMode,
                                   uint32_t sourceFactor, uint32_t targetFactor,
                                   uint32_t sourceColorMode, uint32_t targetColorMode) {
    if (!valid(s)) return gcvSTATUS_INVALID_OBJECT;
    gco2D e = nullptr;
    const gceSTATUS status = engine(e);
    if (status < 0) return status;
    return gco2D_EnableAlphaBlend(e, sourceAlpha, targetAlpha, sourceAlphaMode, targetAlphaMode,
                                  sourceGlobalMode, targetGlobalMode, sourceFactor, targetFactor,
                                  sourceColorMode, targetColorMode);
}

gceSTATUS gcoSURF_DisableAlphaBlend(gcoSURF s) {
    if (!valid(s)) return gcvSTATUS_INVALID_OBJECT;
    gco2D e = nullptr;
    const gceSTATUS status = engine(e);
    if (status < 0) return status;
    return gco2D_DisableAlphaBlend(e);
}

}  // extern "C"
