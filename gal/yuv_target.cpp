// Planar YUV targets: the extra target planes of a two- or three-plane YUV target
// (gcoHARDWARE_SetMultiTarget, loaded with the target of each 2D frame) and the plain
// conversion of the current source into such a target (gcoHARDWARE_MultiPlanarYUVConvert).
// Clears, blits and multi-source blits draw into these targets through the same frames; the
// core converts each drawn pixel from RGB in the engine's YUV colour mode (the table at 0x1360
// for the user modes) and averages the chroma of the drawn pixels of each chroma sample.
#include "engine_state.h"
#include "gal_states.h"

extern "C" {

gceSTATUS gcoHARDWARE_SetMultiTarget(gcoHARDWARE given, uint32_t format, const uint32_t* addresses,
                                     const uint32_t* strides) {
    if (!addresses || !strides) return gcvSTATUS_INVALID_ARGUMENT;
    const gal::Format2D* f = gal::format2D(format);
    if (!f || !f->yuv || f->planes < 2) return gcvSTATUS_NOT_SUPPORTED;
    gcoHARDWARE hw = nullptr;
    const gceSTATUS found = gal::hardwareOf(given, hw);
    if (found < 0) return found;
    const uint32_t extra = f->planes - 1;
    uint32_t words[GAL_MULTI_TARGET_WORDS(2)] = {extra, addresses[1], strides[1], 0, 0};
    if (extra == 2) {
        words[3] = addresses[2];
        words[4] = strides[2];
    }
    return gcoHARDWARE_Load2DState(hw, GAL_STATE_MULTI_TARGET, GAL_MULTI_TARGET_WORDS(extra), words);
}

gceSTATUS gcoHARDWARE_MultiPlanarYUVConvert(gcoHARDWARE hw, gco2D e, const gcsRECT* sourceRect,
                                            const gcsRECT* destRect) {
    if (!gal::engineValid(e)) return gcvSTATUS_INVALID_OBJECT;
    if (!sourceRect || !destRect) return gcvSTATUS_INVALID_ARGUMENT;
    const gal::Format2D* f = gal::format2D(e->target.format);
    if (!f || !f->yuv || f->planes < 2) return gcvSTATUS_NOT_SUPPORTED;
    gal::SourceSlot& slot = gal::currentSource(e);
    if (slot.type != gal::kSourceColor ||
        sourceRect->right - sourceRect->left != destRect->right - destRect->left ||
        sourceRect->bottom - sourceRect->top != destRect->bottom - destRect->top)
        return gcvSTATUS_INVALID_ARGUMENT;
    // A plain copy; the source's own settings come back afterwards.
    const gal::SourceSlot saved = slot;
    gal::makePlainCopy(slot);
    e->targetFormat = e->target.format;
    const gceSTATUS status = gcoHARDWARE_StartDE(hw, e, gcv2D_BLT, 1, sourceRect, 1, destRect);
    slot = saved;
    return status;
}

}  // extern "C"
