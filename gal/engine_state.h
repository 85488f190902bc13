// The 2D engine's settings record (gco2D): everything the next 2D operation needs, kept by the
// engine's setters and read by the hardware layer when it programs a frame (gcoHARDWARE_StartDE
// and its siblings). Shared by the engine (engine2d*.cpp) and the frame builder (start_de.cpp).
#pragma once

#include <atomic>
#include <cstdint>

#include "gal_2d.h"
#include "gal_brush.h"
#include "gal_internal.h"

namespace gal {

constexpr uint32_t kSourceSlots = 8;
constexpr gcsRECT kDefaultClip{0, 0, 32767, 32767};

// Source types of a slot.
enum : uint32_t { kSourceMasked = 0, kSourceMono = 1, kSourceColor = 2, kSourceNone = 3 };
// Brush types.
enum : uint32_t { kBrushSolid = 0, kBrushMono = 1, kBrushColor = 2, kBrushNone = 3 };

struct AlphaSettings {
    uint32_t enabled = 0;
    uint32_t sourceAlpha = 0, targetAlpha = 0;
    uint32_t sourceAlphaMode = 0, targetAlphaMode = 0;
    uint32_t sourceGlobalMode = 0, targetGlobalMode = 0;
    uint32_t sourceFactor = 0, targetFactor = 0;
    uint32_t sourceColorMode = 0, targetColorMode = 0;
};

struct SourceSlot {
    uint32_t type = kSourceNone;
    uint32_t surfaceType = 6;
    uint32_t format = 0;
    uint32_t rotation = 0;
    uint32_t width = 0, height = 0;
    uint32_t planes = 0;
    uint32_t addresses[3] = {};
    uint32_t strides[3] = {};
    uint32_t tiling = 1;
    uint32_t relative = 0;
    gcsRECT rect{};
    uint8_t foregroundRop = 0xCC, backgroundRop = 0xCC;
    uint32_t sourceMode = 0, destinationMode = 0, patternMode = 0;
    uint32_t keyLow = 0, keyHigh = 0;
    uint32_t sourceGlobal = 0, targetGlobal = 0;
    AlphaSettings alpha;
    uint32_t sourcePremultiply = 0, targetPremultiply = 0, globalMultiply = 0,
             targetDemultiply = 0;
    uint32_t stretchH = 0x10000, stretchV = 0x10000;
    uint32_t gdiStretch = 0;
    gcsRECT clip = kDefaultClip;
    uint32_t mirrorH = 0, mirrorV = 0;
    uint32_t yuvMode = 0;
    uint32_t lookup = 0;  // load the engine's first lookup table with this source
    uint32_t tileConfig = 0, tileFormat = 0, tileClear = 0, tileAddress = 0xFFFFFFFFu;
    // Monochrome and masked sources.
    uint32_t monoPacking = 0, streamPacking = 0;
    uint32_t monoForeground = 0, monoBackground = 0, monoConvert = 1, monoTransparency = 0;
};

struct Brush {
    uint32_t type = kBrushNone;
    uint32_t originX = 0, originY = 0;
    uint32_t convert = 1;
    uint32_t colour = 0;
    uint32_t foreground = 0, background = 0;
    uint64_t bits = 0;
    uint64_t mask = 0;
    uint32_t address = 0, format = 0;
};

// A filter kernel of one direction with what it was made for (filter_blit.cpp).
struct FilterKernelCache {
    uint32_t valid = 0;
    uint32_t type = 0, size = 0, sourceSize = 0, destinationSize = 0;
    int16_t taps[153] = {};
};

struct Target {
    uint32_t surfaceType = 6;
    uint32_t format = 0;
    uint32_t planes = 0;
    uint32_t addresses[3] = {};
    uint32_t strides[3] = {};
    uint32_t tiling = 1;
    uint32_t width = 0, height = 0;
    uint32_t rotation = 0;
    gcsRECT rect{};
    uint32_t tileConfig = 0, tileFormat = 0, tileClear = 0, tileAddress = 0xFFFFFFFFu;
    uint32_t keyLow = 0, keyHigh = 0;  // A8R8G8B8 lanes
};

}  // namespace gal

// The engine record (magic "2D  ").
struct _gco2D {
    uint32_t magic = 0;
    gcoHAL hal = nullptr;
    std::atomic<int32_t> references{1};
    // Capabilities fixed at construction.
    uint32_t hardware2D = 0, relaxedAlignment = 0, anyRotation = 0, tiled = 0, superTiled = 0;
    uint32_t reduced = 0;        // feature 179: plain ROPs only, no masks
    uint32_t alphaFeatures = 0;  // feature 14
    gcoHARDWARE hardware = nullptr;  // own hardware object (type 1) when built with a HAL
    uint32_t current = 0;
    gal::SourceSlot sources[gal::kSourceSlots];
    gal::Target target;
    gcsRECT clip = gal::kDefaultClip;
    gal::Brush brush;
    gcoBRUSH_CACHE brushCache = nullptr;  // the engine's brush objects and pattern buffers
    uint32_t* palette = nullptr;  // 256 entries, allocated on first load
    uint32_t paletteFirst = 0, paletteCount = 0, paletteConvert = 1, paletteChanged = 0;
    uint32_t kernelH = 9, kernelV = 9, filterType = 0;
    uint32_t userPassH = 1, userPassV = 1;
    uint32_t processDetection = 0;
    uint32_t dither = 0;
    uint32_t yuvMode = 0;
    uint32_t stateValues[8] = {};  // gco2D_SetStateU32, by key
    uint32_t targetLookup = 0;     // load the second lookup table with the target
    uint32_t lookupTables[2][256] = {};
    int32_t coefficients[2][12] = {};
    int16_t userKernels[2][153] = {};  // 17 phases x 9 taps, horizontal and vertical
    uint32_t userKernelSet[2] = {};
    gal::FilterKernelCache filterKernels[2];  // horizontal, vertical
    struct _gcoSURF* filterBuffer = nullptr;  // the intermediate of the two passes
    uint32_t targetFormat = 0;  // the format of the operation under way
    uint32_t clearColour = 0;  // the colour of the clear under way
    uint32_t sourceMask = 0;   // the sources of the multi-source blit under way (bits 0 to 7)
};

namespace gal {

inline SourceSlot& currentSource(gco2D engine) { return engine->sources[engine->current]; }

// A slot's settings as a plain copy: ROP 0xCC, opaque, no blending, multiply modes, mirror,
// lookup table or clip.
inline void makePlainCopy(SourceSlot& s) {
    s.foregroundRop = s.backgroundRop = 0xCC;
    s.sourceMode = s.destinationMode = s.patternMode = 0;
    s.alpha = AlphaSettings{};
    s.sourcePremultiply = s.targetPremultiply = s.globalMultiply = s.targetDemultiply = 0;
    s.mirrorH = s.mirrorV = 0;
    s.clip = kDefaultClip;
    s.lookup = 0;
}

inline bool engineValid(gco2D engine) { return engine && engine->magic == kEngineMagic; }

// Feature n of the calling thread's chip.
inline bool chipFeature(uint32_t n) {
    return gcoHAL_IsFeatureAvailable(nullptr, n) == gcvSTATUS_TRUE;
}

// Format facts of the 2D set (format_table.cpp).
struct Format2D {
    uint32_t code;
    uint32_t hwFormat;
    uint32_t swizzle;
    uint32_t uvSwap;
    uint32_t planes;
    uint32_t bits;
    uint32_t yuv;
};
// The 2D facts of a format code; nullptr when the 2D engine does not take it.
const Format2D* format2D(uint32_t code);

// The engine's brush changed outside its brush cache (a direct gco2D_Load*Brush): the
// cache's current brush is no longer the engine's (brush_cache.cpp).
void brushLoadedDirectly(gcoBRUSH_CACHE cache);
// A colour given in `format` (raw) as an A8R8G8B8 value, each channel widened by repeating its
// bits; formats without alpha read as alpha 0xFF.
uint32_t expandColour(uint32_t format, uint32_t raw);

// Frame building (start_de.cpp): the stream operation, with a mask or monochrome stream of
// `bytes` copied into the data area of the frame.
gceSTATUS startStream(gcoHARDWARE hw, gco2D engine, const gcsRECT& destination,
                      const void* stream, uint32_t bytes);
// The monochrome pixels of a 1-bpp stream (`inStride` bytes per row, leftmost pixel in bit 7),
// from stream pixel (streamX, streamY) on, under destination `d` through the current monochrome
// or masked source, in stream frames of at most 2047 words (engine2d_ops.cpp).
gceSTATUS monoStream(gcoHARDWARE hw, gco2D engine, const uint8_t* bits, uint32_t inStride,
                     uint32_t streamX, uint32_t streamY, const gcsRECT& d, uint32_t streamPacking);
// Lines through the engine's brush, or a solid pattern of `colour` (A8R8G8B8) when given.
gceSTATUS drawLines(gcoHARDWARE hw, gco2D engine, uint32_t lineCount, const gcsRECT* lines,
                    const uint32_t* colour);

// Gives back the engine's intermediate surface of filter blits (filter_blit.cpp).
void freeFilterBuffer(gco2D engine);

// The states of one filter-blit pass, loaded with its source (filter_blit.cpp).
struct FilterPass {
    uint32_t kernelAddress = 0;
    uint32_t kernel[77] = {};
    uint32_t factorH = 0, factorV = 0;
    uint32_t start = 0;  // horizontal | vertical << 16
};
// The destination sub-rectangle of a filter blit (null: the whole destination), checked with
// both rectangles (filter_blit.cpp).
gceSTATUS checkFilterRects(gco2D engine, const gcsRECT* sourceRect, const gcsRECT* destRect,
                           const gcsRECT* destSubRect, gcsRECT& sub);
// The kernels, stretch factors and start of both passes of a filter blit.
gceSTATUS filterPasses(gco2D engine, const gcsRECT& sourceRect, const gcsRECT& destRect,
                       const gcsRECT& sub, FilterPass& horizontal, FilterPass& vertical);
// Both passes through the engine's intermediate surface, the horizontal one over source rows
// [firstRow, endRow) of the source rectangle only (the rows the vertical taps reach).
gceSTATUS twoPassFilter(gcoHARDWARE hw, gco2D engine, const gcsRECT& sourceRect,
                        const gcsRECT& destRect, const gcsRECT& sub, uint32_t firstRow,
                        uint32_t endRow, const FilterPass& horizontal, const FilterPass& vertical);
// One pass straight from the current source's rectangle `sourceRect` into the target over
// `area`, as a plain copy; the engine's settings are given back afterwards.
gceSTATUS directFilterPass(gcoHARDWARE hw, gco2D engine, uint32_t command,
                           const gcsRECT& sourceRect, const gcsRECT& area, const FilterPass& pass);
// One pass (command gcv2D_HOR_FILTER or gcv2D_VER_FILTER) from the engine's current source to
// its target over `destination`.
gceSTATUS startFilterPass(gcoHARDWARE hw, gco2D engine, uint32_t command,
                          const gcsRECT& destination, const FilterPass& pass);

}  // namespace gal
