// Vector row encoders of the simulated 2D core: A8R8G8B8 working values to the raw pixels of
// a 16-bit or 32-bit RGB layout (every hardware format with channels and every swizzle), the
// inner loop of conversions such as A8R8G8B8 to R5G6B5. Each engine needs a CPU feature set
// and is chosen once, at first use, from what the CPU reports (the widest it runs);
// VELD_GPU_ROW_ENGINE=portable keeps the core on the portable loops of pixel_formats.cpp,
// which are the reference every engine is tested against.
#pragma once

#include <cstdint>
#include <span>

#if defined(__x86_64__)
#include <emmintrin.h>
#endif

#include "pixel_formats.h"

namespace veld::gpusim {

struct RowEngine {
    const char* name;
    bool (*runnable)();  // the CPU has the engine's instructions
    // n working values to n raw pixels of `layout` (a layout `handles` accepted).
    void (*encode)(const PixelLayout& layout, const uint32_t* argb, uint32_t n, uint8_t* raw);
};

// Whether the engines take rows of this layout: RGB layouts of 2 or 4 bytes per pixel.
bool rowEngineHandles(const PixelLayout& layout);

// Every engine built for this CPU family, widest first (none on other families).
std::span<const RowEngine> rowEngines();
// The engine the core uses, or null for the portable loops.
const RowEngine* chosenRowEngine();

// For the engines: one channel of an encode moves the top `bits` of its working-value byte to
// the layout's `shift`, ((c >> right) << left) & mask with right = byte + 8 - bits, the
// arithmetic of the portable encoder (a missing channel has mask 0; padding is written as 0).
// The moves of a layout's four channels, alpha first, with the shift counts as the vector
// shifts take them.
#if defined(__x86_64__)
struct ChannelMoves {
    __m128i right[4], left[4];
    uint32_t mask[4];
};
ChannelMoves channelMoves(const PixelLayout& layout);
#endif

// The engines' rows (x86: each in a file compiled for its instruction set).
void encodeRowAvx2(const PixelLayout& layout, const uint32_t* argb, uint32_t n, uint8_t* raw);
void encodeRowAvx512(const PixelLayout& layout, const uint32_t* argb, uint32_t n, uint8_t* raw);

}  // namespace veld::gpusim
