// What the frame-buffer layer of the PC platform library needs to know about a graphics
// surface: where its pixels and palette are.
#pragma once

#include <cstdint>

#include "veldcore.h"

namespace veld::host::gal {

struct SurfaceView {
    const uint8_t* pixels;
    uint32_t pitch;   // bytes per line, a multiple of 8
    uint32_t width;
    uint32_t height;
    uint32_t format;
    const uint32_t* palette;  // 256 entries (unset ones are 0)
    bool paletteSet;          // VELD_GAL_SetPalette was called for the surface
};

// Fills `view` for a surface made by VELD_GAL_AllocSurface; false for anything else.
bool view(const VELD_GAL_SURFACE* surface, SurfaceView& view);

}  // namespace veld::host::gal
