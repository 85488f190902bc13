// Test support for the 2D driver's pixel tests: a surface in video memory filled with random
// bytes, seen by the driver (its surface object and GPU address) and by the reference renderer.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <random>

#include "gal_hal.h"
#include "gal_surface.h"
#include "reference.h"

namespace veld::test {

// A surface in video memory, seen by the driver and by the reference.
struct VideoSurface {
    gcoSURF surface = nullptr;
    uint32_t format = 0, width = 0, height = 0, address = 0;
    int32_t stride = 0;
    uint8_t* memory = nullptr;
    VideoSurface(uint32_t w, uint32_t h, uint32_t f, std::mt19937& random) : format(f) {
        EXPECT_EQ(gcoSURF_Construct(nullptr, w, h, 1, 6, f, 1, &surface), gcvSTATUS_OK);
        uint32_t addresses[3] = {};
        void* logical[3] = {};
        EXPECT_EQ(gcoSURF_Lock(surface, addresses, logical), gcvSTATUS_OK);
        address = addresses[0];
        memory = static_cast<uint8_t*>(logical[0]);
        gcoSURF_GetAlignedSize(surface, &width, &height, &stride);
        for (uint32_t i = 0; i < uint32_t(stride) * height; ++i) memory[i] = uint8_t(random());
    }
    ~VideoSurface() {
        gcoSURF_Unlock(surface, nullptr);
        gcoSURF_Destroy(surface);
    }
    galref::Surface view(uint8_t* pixels, uint32_t rotation) const {
        galref::Surface s;
        s.format = galref::Format(format);
        s.width = width;
        s.height = height;
        s.planes[0] = pixels;
        s.strides[0] = uint32_t(stride);
        s.rotation = rotation;
        return s;
    }
};

// The calling thread's 2D engine.
inline gco2D threadEngine() {
    gco2D e = nullptr;
    EXPECT_EQ(gcoHAL_Get2DEngine(nullptr, &e), gcvSTATUS_OK);
    return e;
}

inline gcsRECT toRect(const galref::Rect& r) { return gcsRECT{r.left, r.top, r.right, r.bottom}; }

}  // namespace veld::test
