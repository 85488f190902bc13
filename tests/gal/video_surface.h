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

// A surface in video memory with all its planes, seen by the driver and by the reference.
struct PlanarSurface {
    gcoSURF surface = nullptr;
    uint32_t format = 0, width = 0, height = 0;
    int32_t stride = 0;
    uint32_t addresses[3] = {};
    void* memory[3] = {};
    uint32_t strides[3] = {};
    size_t bytes = 0;
    PlanarSurface(uint32_t w, uint32_t h, uint32_t f, std::mt19937& random) : format(f) {
        EXPECT_EQ(gcoSURF_Construct(nullptr, w, h, 1, 6, f, 1, &surface), gcvSTATUS_OK);
        EXPECT_EQ(gcoSURF_Lock(surface, addresses, memory), gcvSTATUS_OK);
        gcoSURF_GetAlignedSize(surface, &width, &height, &stride);
        uint32_t node = 0, pool = 0, size = 0;
        gcoSURF_QueryVidMemNode(surface, &node, &pool, &size);
        bytes = size;
        auto* base = static_cast<uint8_t*>(memory[0]);
        for (size_t i = 0; i < bytes; ++i) base[i] = uint8_t(random());
        const bool planar = f >= 502 && f <= 507;
        strides[0] = uint32_t(stride);
        strides[1] = strides[2] = planar ? (f <= 503 ? width / 2 : width) : 0;
    }
    ~PlanarSurface() {
        gcoSURF_Unlock(surface, nullptr);
        gcoSURF_Destroy(surface);
    }
    uint8_t* base() const { return static_cast<uint8_t*>(memory[0]); }
    // The reference's view of `pixels` (a copy of this surface's memory, or the memory itself).
    galref::Surface view(uint8_t* pixels, uint32_t rotation = 0) const {
        galref::Surface s;
        s.format = galref::Format(format);
        s.width = width;
        s.height = height;
        s.rotation = rotation;
        auto at = [&](int p) { return pixels + (static_cast<uint8_t*>(memory[p]) - base()); };
        s.planes[0] = pixels;
        s.strides[0] = strides[0];
        // The reference keeps chroma planes in the memory order of the format's name.
        if (format == 502) {
            s.planes[1] = at(2);
            s.planes[2] = at(1);
        } else if (format >= 503 && format <= 507) {
            s.planes[1] = at(1);
            s.planes[2] = format == 503 ? at(2) : nullptr;
        }
        s.strides[1] = strides[1];
        s.strides[2] = strides[2];
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
