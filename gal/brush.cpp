// Brush objects (gcoBRUSH): solid, monochrome and colour 8 by 8 pattern brushes, found again
// in the engine's brush cache by their signature, and loaded into the engine; the engine's
// brush calls (gco2D_Construct*Brush, GetBrushCache, SetBrushLimit, FlushBrush).
#include <cstring>
#include <new>

#include "brush_record.h"

namespace {

constexpr uint32_t kFeatureBrushRefused = 85;
constexpr uint32_t kSingleColorFormat = 212;

// The thread's engine, or the given one.
gceSTATUS engineOf(gco2D given, gco2D& engine) {
    if (given) {
        engine = given;
        return gal::engineValid(given) ? gcvSTATUS_OK : gcvSTATUS_INVALID_OBJECT;
    }
    const gceSTATUS status = gcoHAL_Get2DEngine(nullptr, &engine);
    if (status < 0) return status;
    return gal::engineValid(engine) && engine->brushCache ? gcvSTATUS_OK : gcvSTATUS_INVALID_OBJECT;
}

// Looks the described brush up in the engine's cache and hands out a reference to the cached
// one, or makes a new brush (with a copy of its pattern) and adds it.
gceSTATUS constructBrush(gco2D given, const _gcoBRUSH& description, gcoBRUSH* out) {
    gco2D engine = nullptr;
    gceSTATUS status = engineOf(given, engine);
    if (status < 0) return status;
    if (!engine->brushCache) return gcvSTATUS_INVALID_OBJECT;
    gal::BrushSignature signature;
    gal::brushSignature(description, signature);
    const uint32_t id = gal::brushId(signature.words, signature.size);
    gcoBRUSH found = nullptr;
    if (gcoBRUSH_CACHE_GetBrush(engine->brushCache, id, signature.words, signature.size,
                                &found) >= 0) {
        *out = found;
        return gcvSTATUS_OK;
    }
    void* memory = nullptr;
    status = gcoOS_Allocate(nullptr, sizeof(_gcoBRUSH), &memory);
    if (status < 0) return status;
    auto* brush = new (memory) _gcoBRUSH(description);
    brush->magic = gal::kBrushMagic;
    brush->engine = engine;
    brush->colorData = nullptr;
    if (description.colorData) {
        void* copy = nullptr;
        status = gcoOS_Allocate(nullptr, description.colorSize, &copy);
        if (status < 0) {
            gcoBRUSH_Delete(brush);
            return status;
        }
        std::memcpy(copy, description.colorData, description.colorSize);
        brush->colorData = static_cast<uint8_t*>(copy);
    }
    status = gcoBRUSH_CACHE_AddBrush(engine->brushCache, brush, id, brush->colorData ? 1 : 0);
    if (status < 0) {
        gcoBRUSH_Delete(brush);
        return status;
    }
    *out = brush;
    return gcvSTATUS_OK;
}

gceSTATUS singleColor(gco2D engine, uint32_t colorConvert, uint32_t colour, uint64_t mask,
                      gcoBRUSH* brush) {
    if (!brush || colorConvert > 1) return gcvSTATUS_INVALID_ARGUMENT;
    *brush = nullptr;
    _gcoBRUSH d{};
    d.format = kSingleColorFormat;
    d.originX = d.originY = gal::kNoOrigin;
    d.colorConvert = colorConvert;
    d.foreground = colour;
    d.mask = mask;
    return constructBrush(engine, d, brush);
}

gceSTATUS monochrome(gco2D engine, uint32_t originX, uint32_t originY, uint32_t colorConvert,
                     uint32_t foreground, uint32_t background, uint64_t bits, uint64_t mask,
                     gcoBRUSH* brush) {
    if (!brush || colorConvert > 1 || originX > 7 || originY > 7)
        return gcvSTATUS_INVALID_ARGUMENT;
    *brush = nullptr;
    _gcoBRUSH d{};
    d.originX = originX;
    d.originY = originY;
    d.colorConvert = colorConvert;
    d.foreground = foreground;
    d.background = background;
    d.bits = bits;
    d.mask = mask;
    return constructBrush(engine, d, brush);
}

gceSTATUS colour(gco2D engine, uint32_t originX, uint32_t originY, const void* pattern,
                 uint32_t format, uint64_t mask, gcoBRUSH* brush) {
    if (!brush || !pattern || originX > 7 || originY > 7) return gcvSTATUS_INVALID_ARGUMENT;
    *brush = nullptr;
    // Only what the engine can draw as a colour brush: single-plane formats of the 2D set.
    const gal::Format2D* f = gal::format2D(format);
    if (!f || f->planes != 1 || f->yuv || f->bits % 8 != 0 || 8 * f->bits > gal::kPatternBytes)
        return gcvSTATUS_INVALID_ARGUMENT;
    _gcoBRUSH d{};
    d.format = format;
    d.originX = originX;
    d.originY = originY;
    d.colorData = static_cast<uint8_t*>(const_cast<void*>(pattern));
    d.colorSize = 8 * f->bits;
    d.mask = mask;
    return constructBrush(engine, d, brush);
}

}  // namespace

namespace gal {

void brushSignature(const _gcoBRUSH& b, BrushSignature& s) {
    uint32_t* w = s.words;
    w[0] = b.format;
    w[1] = b.originX;
    w[2] = b.originY;
    w[3] = b.colorConvert;
    w[4] = b.foreground;
    w[5] = b.background;
    w[6] = uint32_t(b.bits >> 32);
    w[7] = uint32_t(b.bits);
    w[8] = uint32_t(b.mask >> 32);
    w[9] = uint32_t(b.mask);
    if (b.colorData) {
        std::memcpy(w + 10, b.colorData, b.colorSize);
        s.size = 40 + b.colorSize;
        return;
    }
    const bool solid = b.originX == kNoOrigin || b.originY == kNoOrigin;
    for (uint32_t i = 0; i < 64; ++i)
        w[10 + i] = solid || (b.bits >> i & 1) ? b.foreground : b.background;
    s.size = gcdBRUSH_SIGNATURE_BYTES;
}

uint32_t brushId(const void* signature, uint32_t size) {
    const auto* bytes = static_cast<const uint8_t*>(signature);
    uint64_t wide = 0;
    uint32_t i = 0;
    for (; i + 8 <= size; i += 8) {
        uint64_t word;
        std::memcpy(&word, bytes + i, 8);
        wide ^= word;
    }
    uint32_t id = uint32_t(wide) ^ uint32_t(wide >> 32);
    // The folding is by byte position: on a big-endian host the words above would need a swap.
    static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__);
    for (; i < size; ++i) id ^= uint32_t(bytes[i]) << (8 * (i % 4));
    return id;
}

}  // namespace gal

extern "C" {

gceSTATUS gcoBRUSH_ConstructSingleColor(gcoHAL, uint32_t colorConvert, uint32_t colour,
                                        uint64_t mask, gcoBRUSH* brush) {
    return singleColor(nullptr, colorConvert, colour, mask, brush);
}

gceSTATUS gcoBRUSH_ConstructMonochrome(gcoHAL, uint32_t originX, uint32_t originY,
                                       uint32_t colorConvert, uint32_t foreground,
                                       uint32_t background, uint64_t bits, uint64_t mask,
                                       gcoBRUSH* brush) {
    return monochrome(nullptr, originX, originY, colorConvert, foreground, background, bits,
                      mask, brush);
}

gceSTATUS gcoBRUSH_ConstructColor(gcoHAL, uint32_t originX, uint32_t originY,
                                  const void* pattern, uint32_t format, uint64_t mask,
                                  gcoBRUSH* brush) {
    return colour(nullptr, originX, originY, pattern, format, mask, brush);
}

gceSTATUS gcoBRUSH_Destroy(gcoBRUSH brush) {
    if (!gal::brushValid(brush)) return gcvSTATUS_INVALID_OBJECT;
    if (!gal::engineValid(brush->engine) || !brush->engine->brushCache)
        return gcvSTATUS_INVALID_OBJECT;
    return gcoBRUSH_CACHE_DeleteBrush(brush->engine->brushCache, brush);
}

gceSTATUS gcoBRUSH_Delete(gcoBRUSH brush) {
    if (!gal::brushValid(brush)) return gcvSTATUS_INVALID_OBJECT;
    if (brush->colorData) gcoOS_Free(nullptr, brush->colorData);
    brush->magic = 0;
    return gcoOS_Free(nullptr, brush);
}

gceSTATUS gcoBRUSH_GetBrushData(gcoBRUSH brush, void* signature, uint32_t* size) {
    if (!gal::brushValid(brush)) return gcvSTATUS_INVALID_OBJECT;
    if (!size) return gcvSTATUS_INVALID_ARGUMENT;
    if (!signature || *size < gcdBRUSH_SIGNATURE_BYTES) {
        *size = gcdBRUSH_SIGNATURE_BYTES;
        return gcvSTATUS_MORE_DATA;
    }
    gal::BrushSignature s;
    gal::brushSignature(*brush, s);
    std::memcpy(signature, s.words, s.size);
    *size = s.size;
    return gcvSTATUS_OK;
}

gceSTATUS gcoBRUSH_FlushBrush(gcoBRUSH brush, int32_t upload, gcsBRUSH_BUFFER* buffer) {
    if (!gal::brushValid(brush)) return gcvSTATUS_INVALID_OBJECT;
    gco2D e = brush->engine;
    if (brush->colorData) {
        if (!buffer) return gcvSTATUS_INVALID_ARGUMENT;
        if (!buffer->node.valid || !buffer->logical) return gcvSTATUS_MEMORY_UNLOCKED;
        if (upload) {
            std::memcpy(buffer->logical, brush->colorData, brush->colorSize);
            const gceSTATUS status =
                gcoSURF_NODE_Cache(&buffer->node, buffer->logical, brush->colorSize, 1);
            if (status < 0) return status;
        }
        return gco2D_LoadColorBrush(e, brush->originX, brush->originY, buffer->address,
                                    brush->format, brush->mask);
    }
    if (brush->originX == gal::kNoOrigin || brush->originY == gal::kNoOrigin)
        return gco2D_LoadSolidBrush(e, brush->format, int32_t(brush->colorConvert),
                                    brush->foreground, brush->mask);
    return gco2D_LoadMonochromeBrush(e, brush->originX, brush->originY,
                                     int32_t(brush->colorConvert), brush->foreground,
                                     brush->background, brush->bits, brush->mask);
}

gceSTATUS gco2D_ConstructSingleColorBrush(gco2D engine, uint32_t colorConvert, uint32_t colour,
                                          uint64_t mask, gcoBRUSH* brush) {
    if (!gal::engineValid(engine)) return gcvSTATUS_INVALID_OBJECT;
    if (gal::chipFeature(kFeatureBrushRefused)) return gcvSTATUS_NOT_SUPPORTED;
    return singleColor(engine, colorConvert, colour, mask, brush);
}

gceSTATUS gco2D_ConstructMonochromeBrush(gco2D engine, uint32_t originX, uint32_t originY,
                                         uint32_t colorConvert, uint32_t foreground,
                                         uint32_t background, uint64_t bits, uint64_t mask,
                                         gcoBRUSH* brush) {
    if (!gal::engineValid(engine)) return gcvSTATUS_INVALID_OBJECT;
    if (gal::chipFeature(kFeatureBrushRefused)) return gcvSTATUS_NOT_SUPPORTED;
    return monochrome(engine, originX, originY, colorConvert, foreground, background, bits,
                      mask, brush);
}

gceSTATUS gco2D_ConstructColorBrush(gco2D engine, uint32_t originX, uint32_t originY,
                                    const void* pattern, uint32_t format, uint64_t mask,
                                    gcoBRUSH* brush) {
    if (!gal::engineValid(engine)) return gcvSTATUS_INVALID_OBJECT;
    if (gal::chipFeature(kFeatureBrushRefused)) return gcvSTATUS_NOT_SUPPORTED;
    return colour(engine, originX, originY, pattern, format, mask, brush);
}

gceSTATUS gco2D_GetBrushCache(gco2D engine, gcoBRUSH_CACHE* cache) {
    if (!gal::engineValid(engine)) return gcvSTATUS_INVALID_OBJECT;
    if (!cache) return gcvSTATUS_INVALID_ARGUMENT;
    *cache = engine->brushCache;
    return gcvSTATUS_OK;
}

gceSTATUS gco2D_SetBrushLimit(gco2D engine, uint32_t limit) {
    if (!gal::engineValid(engine)) return gcvSTATUS_INVALID_OBJECT;
    return gcoBRUSH_CACHE_SetBrushLimit(engine->brushCache, limit);
}

gceSTATUS gco2D_FlushBrush(gco2D engine, gcoBRUSH brush, uint32_t) {
    if (!gal::engineValid(engine)) return gcvSTATUS_INVALID_OBJECT;
    if (!gal::brushValid(brush)) return gcvSTATUS_INVALID_OBJECT;
    // A brush of another engine's cache would be loaded into that engine, not this one.
    if (brush->engine != engine) return gcvSTATUS_INVALID_ARGUMENT;
    return gcoBRUSH_CACHE_FlushBrush(engine->brushCache, brush);
}

}  // extern "C"
