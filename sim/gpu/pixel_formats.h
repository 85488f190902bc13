// Pixel formats of the simulated 2D core: what a hardware format code (with its swizzle and
// UV-swap flag) means in memory, how one pixel reads into the A8R8G8B8 working value and how a
// working value is written back, how a pixel repacks into colour-key lanes, and the YUV to RGB
// conversion of YUV sources.
//
// Rules (shared with the driver's description of the states in gal_states.h):
// - channel orders run from the top bit down; the swizzle picks A-R-G-B, R-G-B-A, A-B-G-R or
//   B-G-R-A, and a padding channel ("X") sits where alpha would;
// - a channel narrower than 8 bits widens by repeating its bits and narrows by truncation;
//   a format without alpha reads alpha 0xFF, a missing colour channel reads 0, padding is
//   written as 0; RG16 keeps red in the low byte, R8 and A8 their one channel;
// - INDEX8 reads through the palette; as a target its working value is the index itself
//   (the low byte), so an INDEX8 to INDEX8 copy keeps the indices;
// - YUV pixels convert through the surface's colour space (colour_space.h), a chroma sample
//   serving the pixels it covers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace veld::gpusim {

enum class PixelKind : uint8_t { None, Rgb, Index, PackedYuv, PlanarYuv, SemiPlanarYuv, Mono };

struct ChannelField {
    uint8_t shift = 0;
    uint8_t bits = 0;  // 0: the format has no such channel
};

struct PixelLayout {
    PixelKind kind = PixelKind::None;
    uint8_t bytes = 0;  // per pixel of the first plane (luma for YUV, 0 for monochrome)
    ChannelField a, r, g, b;
    uint32_t padding = 0;  // the "X" bits
    // Packed YUV: byte positions of Y0, U, Y1, V in a two-pixel group.
    uint8_t y0 = 0, u = 0, y1 = 0, v = 0;
    bool uvSwap = false;  // semi-planar: V before U in the chroma plane
    bool halfHeightChroma = false;  // 4:2:0 formats
    uint32_t hwFormat = 0;
    uint8_t swizzle = 0;
};

// The layout of a hardware format; kind None for a code the core does not know.
PixelLayout pixelLayout(uint32_t hwFormat, uint32_t swizzle, bool uvSwap);

// A raw single-plane pixel (RGB, alpha, R8, RG16) to the working value and back.
uint32_t rawToArgb(const PixelLayout& layout, uint32_t raw);
uint32_t argbToRaw(const PixelLayout& layout, uint32_t argb);
// A raw pixel in colour-key lanes: each channel keeps its value in the low bits of its own byte
// of an A8R8G8B8 word, 0xFF in the alpha byte without alpha; INDEX8 keeps its index, YUV reads 0.
uint32_t keyLanes(const PixelLayout& layout, uint32_t raw);

// Little-endian load and store of one pixel of `bytes` bytes.
inline uint32_t loadPixel(const uint8_t* p, uint32_t bytes) {
    switch (bytes) {
    case 1: return p[0];
    case 2: return uint32_t(p[0]) | uint32_t(p[1]) << 8;
    default: return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    }
}
inline void storePixel(uint8_t* p, uint32_t bytes, uint32_t raw) {
    p[0] = uint8_t(raw);
    if (bytes >= 2) p[1] = uint8_t(raw >> 8);
    if (bytes == 4) {
        p[2] = uint8_t(raw >> 16);
        p[3] = uint8_t(raw >> 24);
    }
}

struct ColourSpace;

// The memory of one surface as the core reads it: planes resolved to host pointers.
// Planar YUV: plane 1 is U and plane 2 is V (the driver hands them over in that order);
// semi-planar: plane 1 is the interleaved chroma plane.
struct PixelPlanes {
    PixelLayout layout;
    const uint8_t* planes[3] = {nullptr, nullptr, nullptr};
    uint32_t strides[3] = {0, 0, 0};
    const uint32_t* palette = nullptr;  // INDEX8: 256 A8R8G8B8 entries
    const ColourSpace* colourSpace = nullptr;  // YUV: its conversion; null is BT.601
};
// The working value of the pixel at memory position (x, y); `asIndex` reads INDEX8 as its index.
uint32_t readArgb(const PixelPlanes& s, uint32_t x, uint32_t y, bool asIndex);
// The raw single-plane value at (x, y) (for the colour-key test).
inline uint32_t readRaw(const PixelPlanes& s, uint32_t x, uint32_t y) {
    return loadPixel(s.planes[0] + size_t(y) * s.strides[0] + size_t(x) * s.layout.bytes, s.layout.bytes);
}

// Row conversions: n raw pixels of a single-plane layout (RGB, alpha, R8, RG16; INDEX8 reads
// through the palette) to working values, and working values to raw pixels (RGB layouts, and
// INDEX8 as the low byte). The same arithmetic as rawToArgb and argbToRaw, in branch-free
// loops with the channel positions fixed per row, which the compiler turns into vector code.
void decodeRow(const PixelLayout& layout, const uint8_t* raw, uint32_t n, uint32_t* argb,
               const uint32_t* palette);
// encodeRow runs the CPU's vector engine where one takes the layout (row_engines.h);
// encodeRowPortable is the portable loop, the reference the engines are tested against.
void encodeRow(const PixelLayout& layout, const uint32_t* argb, uint32_t n, uint8_t* raw);
void encodeRowPortable(const PixelLayout& layout, const uint32_t* argb, uint32_t n, uint8_t* raw);

// Bytes per row of a monochrome stream `width` pixels wide in whole packing units (packing 0:
// 8-bit, 1: 16-bit, 2 and 3: 32-bit units).
uint32_t monoStreamStride(uint32_t width, uint32_t packing);

}  // namespace veld::gpusim
