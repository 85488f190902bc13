// The simulated 2D core's pixel pipeline: one 2D operation over an area of the target whose
// memory has already been checked, pixel by pixel in the engine's terms. For each destination
// pixel it finds the source pixel (rotation, mirror, stretch stepping, monochrome and masked
// streams), the pattern pixel (solid, monochrome or colour brush), the destination pixel, the
// transparency tests (source key or mask, destination key, pattern mask), and writes the
// ternary raster operation of the foreground or background ROP in the target's format.
// Plain copies, conversions and fills take row paths that give the same pixels faster.
#pragma once

#include <cstdint>

#include "pixel_formats.h"

namespace veld::gpusim {

struct Area {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    int32_t width() const { return right - left; }
    int32_t height() const { return bottom - top; }
    bool empty() const { return left >= right || top >= bottom; }
};

// A surface's view: rotation r (0 to 3 quarter turns, 4 horizontal flip, 5 vertical flip) of
// memory `width` x `height` pixels; view pixel (x, y) lives in memory at
// 0: (x, y); 1: (W-1-y, x); 2: (W-1-x, H-1-y); 3: (y, H-1-x); 4: (W-1-x, y); 5: (x, H-1-y).
// The mirror flags of a rotation (its mirror-extension bits) mirror the view first: x becomes
// view width - 1 - x, y becomes view height - 1 - y.
struct View {
    uint32_t width = 0, height = 0, rotation = 0;
    bool mirrorX = false, mirrorY = false;
    uint32_t viewWidth() const { return (rotation == 1 || rotation == 3) ? height : width; }
    uint32_t viewHeight() const { return (rotation == 1 || rotation == 3) ? width : height; }
    bool plain() const { return rotation == 0 && !mirrorX && !mirrorY; }
    void toMemory(uint32_t x, uint32_t y, uint32_t& mx, uint32_t& my) const {
        if (mirrorX) x = viewWidth() - 1 - x;
        if (mirrorY) y = viewHeight() - 1 - y;
        switch (rotation) {
        case 1: mx = width - 1 - y; my = x; return;
        case 2: mx = width - 1 - x; my = height - 1 - y; return;
        case 3: mx = y; my = height - 1 - x; return;
        case 4: mx = width - 1 - x; my = y; return;
        case 5: mx = x; my = height - 1 - y; return;
        default: mx = x; my = y; return;
        }
    }
    // The memory rectangle covered by a view area.
    Area toMemory(const Area& a) const;
};

enum class SourceKind : uint8_t { None, Constant, Colour, Monochrome, Masked };
enum class BrushKind : uint8_t { None, Solid, Monochrome, Colour };

enum TransparencyMode : uint32_t { kOpaque = 0, kKeyed = 1, kMasked = 2 };

// Alpha blending, in place of the foreground ROP where no transparency test fires. Products of
// two 8-bit values are rounded (x × y / 255); alpha modes 0 the pixel's alpha, 1 its inverse;
// global alpha modes 0 off, 1 the global value instead, 2 scaled by it; factor modes 0 zero,
// 1 one, 2 the other side's alpha, 3 its inverse; source premultiply (by the pixel's alpha
// after its alpha mode), global-colour multiply (1 by the source global alpha, 2 by the source
// global colour) and target premultiply (likewise) before, target demultiply after; every
// channel saturates at 255.
struct BlendSettings {
    uint32_t sourceAlpha = 0xFF, targetAlpha = 0xFF;  // global alpha values
    uint32_t sourceAlphaMode = 0, targetAlphaMode = 0;
    uint32_t sourceGlobalMode = 0, targetGlobalMode = 0;
    uint32_t sourceFactor = 1, targetFactor = 0;
    bool sourcePremultiply = false, targetPremultiply = false, targetDemultiply = false;
    uint32_t globalColourMultiply = 0;
    uint32_t sourceGlobalColour = 0;
};
uint32_t blendPixel(const BlendSettings& blend, uint32_t source, uint32_t target);

struct RasterJob {
    // Target: its first plane (writable) and view; `rect` is the draw rectangle and `area` the
    // part of it that is drawn (rect ∩ clip ∩ view), both in view coordinates.
    PixelPlanes target;
    uint8_t* targetMemory = nullptr;
    uint32_t targetLeft = 0, targetTop = 0;  // memory position of targetMemory's first pixel
    View targetView;
    Area rect, area;
    uint8_t foregroundRop = 0xCC, backgroundRop = 0xCC;
    uint32_t sourceMode = kOpaque, patternMode = kOpaque, destinationMode = kOpaque;
    uint32_t sourceKeyLow = 0, sourceKeyHigh = 0, targetKeyLow = 0, targetKeyHigh = 0;
    bool blend = false;
    BlendSettings blending;

    SourceKind source = SourceKind::None;
    uint32_t constant = 0;  // Constant: the clear colour
    PixelPlanes sourcePlanes;  // Colour and Masked
    View sourceView;
    uint32_t originX = 0, originY = 0;
    uint32_t horizontalFactor = 0x10000, verticalFactor = 0x10000;
    bool mirrorHorizontal = false, mirrorVertical = false;
    // Monochrome: the pixels; Masked: the mask. Pixel (0, 0) lies under the rectangle's first.
    const uint8_t* stream = nullptr;
    uint32_t streamStride = 0;
    uint32_t monoForeground = 0, monoBackground = 0, monoTransparent = 0;

    BrushKind brush = BrushKind::None;
    uint32_t brushOriginX = 0, brushOriginY = 0;
    uint32_t brushColour = 0;  // Solid
    uint64_t brushBits = 0;    // Monochrome: row r in byte r, leftmost pixel in bit 7
    uint32_t brushForeground = 0, brushBackground = 0;
    PixelPlanes brushPlanes;  // Colour: an 8 x 8 pattern
};

// Source offset of destination offset i across an extent under mirror and 16.16 stepping.
inline uint32_t sourceStep(uint32_t i, uint32_t extent, bool mirror, uint32_t factor) {
    const uint64_t k = mirror ? extent - 1 - i : i;
    return uint32_t((k * factor) >> 16);
}

// The ternary raster operation: result bit = bit (P << 2 | S << 1 | D) of the ROP byte.
uint32_t rop3(uint8_t rop, uint32_t pattern, uint32_t source, uint32_t destination);
inline bool ropUsesSource(uint8_t rop) { return ((rop >> 2) ^ rop) & 0x33; }
inline bool ropUsesPattern(uint8_t rop) { return ((rop >> 4) ^ rop) & 0x0F; }
inline bool ropUsesDestination(uint8_t rop) { return ((rop >> 1) ^ rop) & 0x55; }

// Runs the job over its area. Returns the pixels written.
uint64_t render(const RasterJob& job);

}  // namespace veld::gpusim
