// The surface record (gcoSURF, magic "SURF") and the helpers its two modules share: the
// surface itself (surface.cpp) and its use by the 2D engine (surface_2d.cpp).
#pragma once

#include <cstdint>

#include "engine_state.h"
#include "gal_surface.h"

struct _gcoSURF {
    uint32_t magic;
    uint32_t type, hints;
    uint32_t format;
    uint32_t tiling;
    uint32_t width, height, depth;
    uint32_t alignedWidth, alignedHeight;
    uint32_t is16Bit;
    uint32_t bitsPerPixel;
    uint32_t stride;
    uint32_t uOffset, vOffset, uStride, vStride;
    uint64_t sliceSize, layerSize, totalSize;
    gcsSURF_NODE node;
    uint32_t planes;
    uint32_t addresses[3];
    void* memory[3];
    gcsSURF_FORMAT_INFO info;
    uint32_t orientation, colorType, colorSpace, rotation, dither, flags, offset;
    uint64_t timeStamp;
    uint32_t references;
    uint32_t userLocks;
    void* userMemory;
    uint32_t userPhysical;
    uint32_t mapped;
    uint64_t sharedBuffer;  // kernel shared buffer carrying the settings (0 none)
    uint32_t ownsSharedBuffer;
};

namespace gal {

constexpr uint32_t kSurfMagic = fourCC('S', 'U', 'R', 'F');

inline bool surfaceValid(gcoSURF s) { return s && s->magic == kSurfMagic; }

// The GPU addresses and strides of a surface's planes from `base` (the engine takes chroma
// planes in U, V order).
inline void surfacePlanes(const _gcoSURF& s, uint32_t base, uint32_t* addresses,
                          uint32_t* strides) {
    addresses[0] = base;
    strides[0] = s.stride;
    addresses[1] = base + s.uOffset;
    strides[1] = s.uStride;
    addresses[2] = base + s.vOffset;
    strides[2] = s.vStride;
}

inline gceSTATUS threadEngine(gco2D& e) { return gcoHAL_Get2DEngine(nullptr, &e); }

}  // namespace gal
