// The brush object's record (magic "BRUo"), the pattern buffer of the brush cache, and the
// signature that identifies a brush: shared by the brush objects (brush.cpp) and the brush
// cache (brush_cache.cpp).
#pragma once

#include <cstdint>

#include "engine_state.h"
#include "gal_brush.h"
#include "gal_surface.h"

struct _gcoBRUSH {
    uint32_t magic;
    gco2D engine;
    uint32_t format;
    uint32_t originX, originY;  // 0xFFFFFFFF in either makes a brush without pattern solid
    uint32_t colorConvert;
    uint32_t foreground, background;
    uint64_t bits;              // monochrome pattern, row r in byte r
    uint8_t* colorData;         // colour brushes: a copy of the caller's pattern
    uint32_t colorSize;
    uint64_t mask;
};

namespace gal {
struct BrushEntry;
}

// A 256-byte node of video memory that one colour brush at a time is uploaded into.
struct gcsBRUSH_BUFFER {
    gcsBRUSH_BUFFER* previous;  // towards the most recently used end
    gcsBRUSH_BUFFER* next;
    gcsSURF_NODE node;
    uint32_t locked;
    uint32_t address;           // GPU address while locked
    void* logical;
    uint32_t hardwareType;      // the type the node was allocated under
    gal::BrushEntry* owner;     // null: free for the next colour brush
    gcsSIGNAL_PTR fence;        // set by the GPU when it passes the fence event
    bool used;                  // the engine was given its address after the last fence
    bool fencePending;          // a fence event is queued and not yet seen
};

namespace gal {

constexpr uint32_t kBrushMagic = fourCC('B', 'R', 'U', 'o');
constexpr uint32_t kNoOrigin = 0xFFFFFFFFu;
constexpr uint32_t kSignatureWords = gcdBRUSH_SIGNATURE_BYTES / 4;
constexpr uint32_t kPatternBytes = 256;

inline bool brushValid(gcoBRUSH brush) { return brush && brush->magic == kBrushMagic; }

struct BrushSignature {
    uint32_t size = 0;  // bytes
    uint32_t words[kSignatureWords];
};
static_assert(sizeof(BrushSignature::words) == gcdBRUSH_SIGNATURE_BYTES);

// Ten words (format, origin x and y, colour convert, foreground, background, bits high and
// low, mask high and low), then the colour pattern, or 64 words of the pattern expanded into
// its colours.
void brushSignature(const _gcoBRUSH& brush, BrushSignature& signature);
// The signature's bytes folded by XOR, byte i into byte i mod 4.
uint32_t brushId(const void* signature, uint32_t size);

}  // namespace gal
