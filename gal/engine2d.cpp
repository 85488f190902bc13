// The 2D engine object (gco2D): construction with the chip's capabilities, the reference count
// that lets threads share one (gco2D_Set2DEngine, gcoOS_CopyTLS), the source slots, target,
// clipping and the other setters with their address and alignment rules. Setters validate and
// store; nothing reaches the command stream before an operation (engine2d_ops.cpp).
#include <cstring>
#include <new>

#include "engine_state.h"
#include "gal_states.h"

namespace {

constexpr uint32_t kFeatureAlpha = 14;
constexpr uint32_t kFeatureTiled = 59;
constexpr uint32_t kFeatureSuperTiled = 76;
constexpr uint32_t kFeatureRotation0 = 51;
constexpr uint32_t kFeatureRotation1 = 52;
constexpr uint32_t kFeatureBrushRefused = 85;
constexpr uint32_t kFeatureTargetRect = 118;
constexpr uint32_t kFeatureRelaxed = 150;
constexpr uint32_t kFeatureReduced = 179;
constexpr uint32_t kFeatureGdiStretch = 67;
constexpr uint32_t kFeatureDither = 48;
constexpr uint32_t kFeatureAutoFlush = 14;

bool valid(gco2D e) { return gal::engineValid(e); }

bool feature(uint32_t n) { return gal::chipFeature(n); }

// The address rules of every source and target setter, per plane.
gceSTATUS checkPlanes(gco2D e, uint32_t format, uint32_t tiling, uint32_t rotation,
                      uint32_t width, uint32_t height, const uint32_t* addresses,
                      const uint32_t* strides, uint32_t planes, bool target) {
    if (width >= 0x10000 || height >= 0x10000) return gcvSTATUS_INVALID_ARGUMENT;
    const uint32_t plain = rotation & 0x3FFFFFFFu;
    if (plain > 5) return gcvSTATUS_INVALID_ARGUMENT;
    if (!e->anyRotation && plain > 1) return gcvSTATUS_INVALID_ARGUMENT;
    switch (tiling) {
    case 1: break;
    case 2: case 4: case 258: case 260:
        if (!e->tiled) return gcvSTATUS_NOT_SUPPORTED;
        break;
    case 8:
        if (!e->superTiled || e->reduced) return gcvSTATUS_NOT_SUPPORTED;
        break;
    default: return gcvSTATUS_INVALID_ARGUMENT;
    }
    const gal::Format2D* f = gal::format2D(format);
    if (!f) return gcvSTATUS_NOT_SUPPORTED;
    if (planes < f->planes) return gcvSTATUS_INVALID_ARGUMENT;
    for (uint32_t p = 0; p < f->planes; ++p)
        if (strides[p] >= 0x40000) return gcvSTATUS_INVALID_ARGUMENT;
    const bool relaxed = e->relaxedAlignment != 0;
    auto aligned = [](uint32_t v, uint32_t a) { return v % a == 0; };
    const uint32_t a0 = addresses[0], s0 = strides[0];
    if (f->yuv && f->planes == 1) {
        const bool ok = relaxed ? ((target ? (a0 & 4) == 0 : aligned(a0, 64)) && aligned(s0, 4))
                                : (aligned(a0, 16) && aligned(s0, 8));
        return ok ? gcvSTATUS_OK : gcvSTATUS_NOT_ALIGNED;
    }
    if (f->planes == 2) {
        const bool ok = aligned(a0, 64) && aligned(addresses[1], 64) && aligned(s0, 8) &&
                        aligned(strides[1], 8);
        return ok ? gcvSTATUS_OK : gcvSTATUS_NOT_ALIGNED;
    }
    if (f->planes == 3) {
        const bool ok = aligned(a0, 64) && aligned(addresses[1], 64) &&
                        aligned(addresses[2], 64) && aligned(s0, 8) && aligned(strides[1], 4) &&
                        aligned(strides[2], 4);
        return ok ? gcvSTATUS_OK : gcvSTATUS_NOT_ALIGNED;
    }
    if (f->bits == 8) {
        if (relaxed) return gcvSTATUS_OK;
        if (format == 1100) return gcvSTATUS_NOT_SUPPORTED;
        return aligned(a0, 16) && aligned(s0, 16) ? gcvSTATUS_OK : gcvSTATUS_NOT_ALIGNED;
    }
    if (f->bits == 16) {
        if (relaxed) return aligned(a0, 2) && aligned(s0, 2) ? gcvSTATUS_OK : gcvSTATUS_NOT_ALIGNED;
        if (format == 1115) return gcvSTATUS_NOT_SUPPORTED;
        return aligned(a0, 16) && aligned(s0, 16) ? gcvSTATUS_OK : gcvSTATUS_NOT_ALIGNED;
    }
    const uint32_t a = relaxed ? 4 : 16;
    return aligned(a0, a) && aligned(s0, a) ? gcvSTATUS_OK : gcvSTATUS_NOT_ALIGNED;
}

// Validates and stores the planes of a source slot or of the target.
template <class Slot>
gceSTATUS storePlanes(gco2D e, Slot& slot, bool target, const uint32_t* addresses,
                      const uint32_t* strides, uint32_t planes, uint32_t tiling, uint32_t format,
                      uint32_t rotation, uint32_t width, uint32_t height) {
    const gceSTATUS status = checkPlanes(e, format, tiling, rotation, width, height, addresses,
                                         strides, planes, target);
    if (status < 0) return status;
    slot.format = format;
    slot.tiling = tiling;
    slot.rotation = rotation;
    slot.width = width;
    slot.height = height;
    slot.planes = gal::format2D(format)->planes;
    for (uint32_t p = 0; p < 3; ++p) {
        slot.addresses[p] = p < slot.planes ? addresses[p] : 0;
        slot.strides[p] = p < slot.planes ? strides[p] : 0;
    }
    return gcvSTATUS_OK;
}

gceSTATUS setSource(gco2D e, uint32_t type, const uint32_t* addresses, const uint32_t* strides,
                    uint32_t planes, uint32_t tiling, uint32_t format, uint32_t rotation,
                    uint32_t width, uint32_t height) {
    gal::SourceSlot& s = gal::currentSource(e);
    const gceSTATUS status = storePlanes(e, s, false, addresses, strides, planes, tiling, format,
                                         rotation, width, height);
    if (status >= 0) s.type = type;
    return status;
}

gceSTATUS setTarget(gco2D e, const uint32_t* addresses, const uint32_t* strides, uint32_t planes,
                    uint32_t tiling, uint32_t format, uint32_t rotation, uint32_t width,
                    uint32_t height) {
    const gceSTATUS status = storePlanes(e, e->target, true, addresses, strides, planes, tiling,
                                         format, rotation, width, height);
    if (status >= 0) e->target.surfaceType = 6;
    return status;
}

// The generic setters: 1 to 3 planes, as many as the format has.
gceSTATUS setGeneric(gco2D e, bool target, const uint32_t* addresses, uint32_t addressCount,
                     const uint32_t* strides, uint32_t strideCount, uint32_t tiling,
                     uint32_t format, uint32_t rotation, uint32_t width, uint32_t height) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    if (!addresses || !strides || addressCount == 0 || addressCount > 3 || strideCount == 0)
        return gcvSTATUS_INVALID_ARGUMENT;
    const gal::Format2D* f = gal::format2D(format);
    if (!f) return gcvSTATUS_NOT_SUPPORTED;
    if (f->planes > addressCount || f->planes > strideCount) return gcvSTATUS_INVALID_ARGUMENT;
    if (target)
        return setTarget(e, addresses, strides, f->planes, tiling, format, rotation, width, height);
    return setSource(e, gal::kSourceColor, addresses, strides, f->planes, tiling, format,
                     rotation, width, height);
}

// The surface transparency of the source setters as (source mode, pattern mode).
gceSTATUS translateTransparency(uint32_t transparency, uint32_t& source, uint32_t& pattern) {
    static constexpr uint32_t kModes[4][2] = {{0, 0}, {1, 0}, {2, 0}, {0, 2}};
    if (transparency > 3) return gcvSTATUS_NOT_SUPPORTED;
    source = kModes[transparency][0];
    pattern = kModes[transparency][1];
    return gcvSTATUS_OK;
}

bool rectInRange(const gcsRECT& r) {
    return r.left >= 0 && r.top >= 0 && r.right >= 0 && r.bottom >= 0 && r.left < 0x10000 &&
           r.top < 0x10000 && r.right < 0x10000 && r.bottom < 0x10000;
}

}  // namespace

namespace gal {

void retainEngine(gco2D engine) { engine->references.fetch_add(1); }

void releaseEngine(gco2D engine) {
    if (engine->references.fetch_sub(1) != 1) return;
    if (engine->palette) gcoOS_Free(nullptr, engine->palette);
    if (engine->brushCache) gcoBRUSH_CACHE_Destroy(engine->brushCache);
    freeFilterBuffer(engine);
    engine->magic = 0;
    engine->~_gco2D();
    gcoOS_Free(nullptr, engine);
}

}  // namespace gal

extern "C" {

gceSTATUS gco2D_Construct(gcoHAL hal, gco2D* engine) {
    if (!engine) return gcvSTATUS_INVALID_ARGUMENT;
    void* memory = nullptr;
    const gceSTATUS status = gcoOS_Allocate(nullptr, sizeof(_gco2D), &memory);
    if (status < 0) return status;
    std::memset(memory, 0, sizeof(_gco2D));
    auto* e = new (memory) _gco2D{};
    e->magic = gal::kEngineMagic;
    e->hal = hal;
    e->references.store(1);
    e->hardware2D = gcoHARDWARE_Is2DAvailable(nullptr) == gcvSTATUS_TRUE;
    e->relaxedAlignment = feature(kFeatureRelaxed);
    e->anyRotation = feature(kFeatureRotation0) && feature(kFeatureRotation1);
    e->tiled = feature(kFeatureTiled);
    e->superTiled = feature(kFeatureSuperTiled);
    e->reduced = feature(kFeatureReduced);
    e->alphaFeatures = feature(kFeatureAlpha);
    for (uint32_t i = 0; i < 256; ++i) {
        e->lookupTables[0][i] = i * 0x10101u;
        e->lookupTables[1][i] = i * 0x100401u;
    }
    const gceSTATUS cacheStatus = gcoBRUSH_CACHE_Construct(hal, &e->brushCache);
    if (cacheStatus < 0) {
        gal::releaseEngine(e);
        return cacheStatus;
    }
    *engine = e;
    return gcvSTATUS_OK;
}

gceSTATUS gco2D_Destroy(gco2D engine) {
    if (!valid(engine)) return gcvSTATUS_INVALID_OBJECT;
    gal::releaseEngine(engine);
    return gcvSTATUS_OK;
}

gceSTATUS gco2D_Set2DEngine(gco2D engine) {
    if (!valid(engine)) return gcvSTATUS_INVALID_OBJECT;
    gcsTHREAD_DATA* record = nullptr;
    const gceSTATUS status = gcoOS_GetTLS(&record);
    if (status < 0) return status;
    if (record->engine2D == engine) return gcvSTATUS_OK;
    gal::retainEngine(engine);  // the installing thread may end before this one
    if (record->engine2D) gal::releaseEngine(record->engine2D);
    record->engine2D = engine;
    record->engineBorrowed = 1;
    return gcvSTATUS_OK;
}

gceSTATUS gco2D_UnSet2DEngine(gco2D engine) {
    gcsTHREAD_DATA* record = nullptr;
    const gceSTATUS status = gcoOS_GetTLS(&record);
    if (status < 0) return status;
    if (!engine || record->engine2D != engine) return gcvSTATUS_INVALID_OBJECT;
    record->engine2D = nullptr;
    record->engineBorrowed = 0;
    gal::releaseEngine(engine);
    return gcvSTATUS_OK;
}

gceSTATUS gco2D_Get2DEngine(gco2D* engine) { return gcoHAL_Get2DEngine(nullptr, engine); }

gceSTATUS gco2D_Flush(gco2D engine) {
    if (!valid(engine)) return gcvSTATUS_INVALID_OBJECT;
    return gcoHARDWARE_FlushPipe(nullptr, nullptr);
}

gceSTATUS gco2D_SetCurrentSourceIndex(gco2D e, uint32_t index) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    if (index >= gal::kSourceSlots) return gcvSTATUS_INVALID_ARGUMENT;
    e->current = index;
    return gcvSTATUS_OK;
}

gceSTATUS gco2D_SetColorSourceEx(gco2D e, uint32_t address, uint32_t stride, uint32_t format,
                                 uint32_t rotation, uint32_t width, uint32_t height,
                                 int32_t relative, uint32_t transparency, uint32_t colorKey) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    const gal::Format2D* f = gal::format2D(format);
    if (!f) return gcvSTATUS_NOT_SUPPORTED;
    if (f->planes != 1) return gcvSTATUS_INVALID_ARGUMENT;
    uint32_t sourceMode = 0, patternMode = 0;
    gceSTATUS status = translateTransparency(transparency, sourceMode, patternMode);
    if (status < 0) return status;
    uint32_t key = colorKey;
    if (format != 102) {
        status = gcoHARDWARE_ColorPackToARGB8(format, colorKey, &key);
        if (status < 0) return status;
    }
    status = setSource(e, gal::kSourceColor, &address, &stride, 1, 1, format, rotation, width,
                       height);
    if (status < 0) return status;
    gal::SourceSlot& s = gal::currentSource(e);
    s.relative = relative ? 1 : 0;
    s.sourceMode = sourceMode;
    s.patternMode = patternMode;
    s.destinationMode = 0;
    s.keyLow = s.keyHigh = key;
    return gcvSTATUS_OK;
}

gceSTATUS gco2D_SetColorSource(gco2D e, uint32_t address, uint32_t stride, uint32_t format,
                               uint32_t rotation, uint32_t width, int32_t relative,
                               uint32_t transparency, uint32_t colorKey) {
    if (format == 0 || rotation > 1) return gcvSTATUS_INVALID_ARGUMENT;
    return gco2D_SetColorSourceEx(e, address, stride, format, rotation, width, 0, relative,
                                  transparency, colorKey);
}

gceSTATUS gco2D_SetColorSourceAdvanced(gco2D e, uint32_t address, uint32_t stride,
                                       uint32_t format, uint32_t rotation, uint32_t width,
                                       uint32_t height, int32_t relative) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    const gal::Format2D* f = gal::format2D(format);
    if (!f) return gcvSTATUS_NOT_SUPPORTED;
    if (f->planes != 1) return gcvSTATUS_INVALID_ARGUMENT;
    const gceSTATUS status = setSource(e, gal::kSourceColor, &address, &stride, 1, 1, format,
                                       rotation, width, height);
    if (status >= 0) gal::currentSource(e).relative = relative ? 1 : 0;
    return status;
}

gceSTATUS gco2D_SetMaskedSourceEx(gco2D e, uint32_t address, uint32_t stride, uint32_t format,
                                  int32_t relative, uint32_t monoPacking, uint32_t rotation,
                                  uint32_t width, uint32_t height) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    const gal::Format2D* f = gal::format2D(format);
    if (!f) return gcvSTATUS_NOT_SUPPORTED;
    if (f->planes != 1 || monoPacking > 3) return gcvSTATUS_INVALID_ARGUMENT;
    const gceSTATUS status = setSource(e, gal::kSourceMasked, &address, &stride, 1, 1, format,
                                       rotation, width, height);
    if (status < 0) return status;
    gal::SourceSlot& s = gal::currentSource(e);
    s.relative = relative ? 1 : 0;
    s.monoPacking = monoPacking;
    s.sourceMode = 2;  // masked
    s.patternMode = 0;
    return gcvSTATUS_OK;
}

gceSTATUS gco2D_SetMaskedSource(gco2D e, uint32_t address, uint32_t stride, uint32_t format,
                                int32_t relative, uint32_t monoPacking) {
    if (format == 0) return gcvSTATUS_INVALID_ARGUMENT;
    return gco2D_SetMaskedSourceEx(e, address, stride, format, relative, monoPacking, 0, 0, 0);
}

gceSTATUS gco2D_SetMonochromeSource(gco2D e, int32_t colorConvert, uint32_t monoTransparency,
                                    uint32_t dataPacking, int32_t relative,
                                    uint32_t transparency, uint32_t foreground,
                                    uint32_t background) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    if (e->reduced) return gcvSTATUS_NOT_SUPPORTED;
    if (dataPacking > 3 || monoTransparency > 1) return gcvSTATUS_INVALID_ARGUMENT;
    uint32_t sourceMode = 0, patternMode = 0;
    const gceSTATUS status = translateTransparency(transparency, sourceMode, patternMode);
    if (status < 0) return status;
    gal::SourceSlot& s = gal::currentSource(e);
    s.type = gal::kSourceMono;
    s.format = 100;
    s.planes = 0;
    s.relative = relative ? 1 : 0;
    s.monoPacking = dataPacking;
    s.monoConvert = colorConvert ? 1 : 0;
    s.monoTransparency = monoTransparency;
    s.monoForeground = foreground;
    s.monoBackground = background;
    s.sourceMode = sourceMode;
    s.patternMode = patternMode;
    return gcvSTATUS_OK;
}

gceSTATUS gco2D_SetGenericSource(gco2D e, const uint32_t* addresses, uint32_t addressCount,
                                 const uint32_t* strides, uint32_t strideCount, uint32_t tiling,
                                 uint32_t format, uint32_t rotation, uint32_t width,
                                 uint32_t height) {
    return setGeneric(e, false, addresses, addressCount, strides, strideCount, tiling, format,
                      rotation, width, height);
}

gceSTATUS gco2D_SetSource(gco2D e, const gcsRECT* rect) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    if (!rect || !rectInRange(*rect)) return gcvSTATUS_INVALID_ARGUMENT;
    gal::currentSource(e).rect = *rect;
    return gcvSTATUS_OK;
}

gceSTATUS gco2D_SetTargetEx(gco2D e, uint32_t address, uint32_t stride, uint32_t rotation,
                            uint32_t width, uint32_t height) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    // The target's own format comes with each operation; the rules are those of 32 bits.
    const gceSTATUS status = setTarget(e, &address, &stride, 1, 1, 212, rotation, width, height);
    if (status >= 0) e->target.format = 0;
    return status;
}

gceSTATUS gco2D_SetTarget(gco2D e, uint32_t address, uint32_t stride, uint32_t rotation,
                          uint32_t width) {
    if (rotation > 1) return gcvSTATUS_INVALID_ARGUMENT;
    return gco2D_SetTargetEx(e, address, stride, rotation, width, 0);
}

gceSTATUS gco2D_SetGenericTarget(gco2D e, const uint32_t* addresses, uint32_t addressCount,
                                 const uint32_t* strides, uint32_t strideCount, uint32_t tiling,
                                 uint32_t format, uint32_t rotation, uint32_t width,
                                 uint32_t height) {
    return setGeneric(e, true, addresses, addressCount, strides, strideCount, tiling, format,
                      rotation, width, height);
}

gceSTATUS gco2D_SetClipping(gco2D e, const gcsRECT* rect) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    gcsRECT clip = rect ? *rect : gal::kDefaultClip;
    e->clip = clip;
    gal::currentSource(e).clip = clip;
    return gcvSTATUS_OK;
}

gceSTATUS gco2D_SetROP(gco2D e, uint8_t foreground, uint8_t background) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    gal::currentSource(e).foregroundRop = foreground;
    gal::currentSource(e).backgroundRop = background;
    return gcvSTATUS_OK;
}

gceSTATUS gco2D_SetBitBlitMirror(gco2D e, int32_t horizontal, int32_t vertical) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    gal::currentSource(e).mirrorH = horizontal ? 1 : 0;
    gal::currentSource(e).mirrorV = vertical ? 1 : 0;
    return gcvSTATUS_OK;
}

gceSTATUS gco2D_SetTransparencyAdvancedEx(gco2D e, uint32_t source, uint32_t destination,
                                          uint32_t pattern, int32_t) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    if (source > 2 || destination > 2 || pattern > 2) return gcvSTATUS_INVALID_ARGUMENT;
    if (e->reduced && (source || destination || pattern)) return gcvSTATUS_NOT_SUPPORTED;
    gal::SourceSlot& s = gal::currentSource(e);
    s.sourceMode = source;
    s.destinationMode = destination;
    s.patternMode = pattern;
    return gcvSTATUS_OK;
}

gceSTATUS gco2D_SetTransparencyAdvanced(gco2D e, uint32_t source, uint32_t destination,
                                        uint32_t pattern) {
    return gco2D_SetTransparencyAdvancedEx(e, source, destination, pattern, 0);
}

gceSTATUS gco2D_SetSourceColorKeyRangeAdvanced(gco2D e, uint32_t low, uint32_t high) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    if (low > high) return gcvSTATUS_INVALID_ARGUMENT;
    if (!e->alphaFeatures) return gcvSTATUS_NOT_SUPPORTED;
    gal::currentSource(e).keyLow = low;
    gal::currentSource(e).keyHigh = high;
    return gcvSTATUS_OK;
}

gceSTATUS gco2D_SetSourceColorKeyAdvanced(gco2D e, uint32_t key) {
    return gco2D_SetSourceColorKeyRangeAdvanced(e, key, key);
}

gceSTATUS gco2D_SetTargetColorKeyRangeAdvanced(gco2D e, uint32_t low, uint32_t high) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    if (low > high) return gcvSTATUS_INVALID_ARGUMENT;
    if (low != high && !e->alphaFeatures) return gcvSTATUS_NOT_SUPPORTED;
    e->target.keyLow = low;
    e->target.keyHigh = high;
    return gcvSTATUS_OK;
}

gceSTATUS gco2D_SetTargetColorKeyAdvanced(gco2D e, uint32_t key) {
    return gco2D_SetTargetColorKeyRangeAdvanced(e, key, key);
}

gceSTATUS gco2D_SetSourceGlobalColorAdvanced(gco2D e, uint32_t colour) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    if (!e->alphaFeatures) return gcvSTATUS_NOT_SUPPORTED;
    gal::currentSource(e).sourceGlobal = colour;
    return gcvSTATUS_OK;
}

gceSTATUS gco2D_SetTargetGlobalColorAdvanced(gco2D e, uint32_t colour) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    if (!e->alphaFeatures) return gcvSTATUS_NOT_SUPPORTED;
    gal::currentSource(e).targetGlobal = colour;
    return gcvSTATUS_OK;
}

gceSTATUS gco2D_SetPixelMultiplyModeAdvanced(gco2D e, uint32_t sourcePremultiply,
                                             uint32_t targetPremultiply, uint32_t globalMultiply,
                                             uint32_t targetDemultiply) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    if (!e->alphaFeatures) return gcvSTATUS_NOT_SUPPORTED;
    uint32_t model = 0, revision = 0;
    gcoHAL_QueryChipIdentity(nullptr, &model, &revision, nullptr, nullptr);
    if (targetDemultiply && model == 0x520 && revision < 0x5520) return gcvSTATUS_NOT_SUPPORTED;
    gal::SourceSlot& s = gal::currentSource(e);
    s.sourcePremultiply = sourcePremultiply;
    s.targetPremultiply = targetPremultiply;
    s.globalMultiply = globalMultiply;
    s.targetDemultiply = targetDemultiply;
    return gcvSTATUS_OK;
}

gceSTATUS gco2D_EnableAlphaBlend(gco2D e, uint8_t sourceAlpha, uint8_t targetAlpha,
                                 uint32_t sourceAlphaMode, uint32_t targetAlphaMode,
                                 uint32_t sourceGlobalMode, uint32_t targetGlobalMode,
                                 uint32_t sourceFactor, uint32_t targetFactor,
                                 uint32_t sourceColorMode, uint32_t targetColorMode) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    gal::SourceSlot& s = gal::currentSource(e);
    if (e->alphaFeatures) {
        if (sourceColorMode == 1) {
            if (sourceAlphaMode) return gcvSTATUS_NOT_SUPPORTED;
            if (targetColorMode == 1 && (targetAlphaMode || targetGlobalMode))
                return gcvSTATUS_NOT_SUPPORTED;
            s.sourcePremultiply = sourceGlobalMode == 0 || sourceGlobalMode == 2;
            s.globalMultiply = sourceGlobalMode == 1 || sourceGlobalMode == 2;
            if (targetColorMode == 1) s.targetPremultiply = 1;
        } else if (targetColorMode == 1) {
            if (targetAlphaMode || targetGlobalMode) return gcvSTATUS_NOT_SUPPORTED;
            s.targetPremultiply = 1;
        }
        sourceColorMode = targetColorMode = 0;
    }
    gal::AlphaSettings& a = s.alpha;
    a.sourceAlpha = sourceAlpha;
    a.targetAlpha = targetAlpha;
    a.sourceAlphaMode = sourceAlphaMode;
    a.targetAlphaMode = targetAlphaMode;
    a.sourceGlobalMode = sourceGlobalMode;
    a.targetGlobalMode = targetGlobalMode;
    a.sourceFactor = sourceFactor;
    a.targetFactor = targetFactor;
    a.sourceColorMode = sourceColorMode;
    a.targetColorMode = targetColorMode;
    a.enabled = 1;
    return gcvSTATUS_OK;
}

gceSTATUS gco2D_EnableAlphaBlendAdvanced(gco2D e, uint32_t sourceAlphaMode,
                                         uint32_t targetAlphaMode, uint32_t sourceGlobalMode,
                                         uint32_t targetGlobalMode, uint32_t sourceFactor,
                                         uint32_t targetFactor) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    gal::AlphaSettings& a = gal::currentSource(e).alpha;
    const uint32_t sourceAlpha = a.sourceAlpha, targetAlpha = a.targetAlpha;
    return gco2D_EnableAlphaBlend(e, uint8_t(sourceAlpha), uint8_t(targetAlpha), sourceAlphaMode,
                                  targetAlphaMode, sourceGlobalMode, targetGlobalMode,
                                  sourceFactor, targetFactor, 0, 0);
}

gceSTATUS gco2D_SetPorterDuffBlending(gco2D e, uint32_t rule) {
    static constexpr uint32_t kFactors[12][2] = {{0, 0}, {1, 0}, {1, 3}, {3, 1}, {2, 0}, {0, 2},
                                                 {3, 0}, {0, 3}, {2, 3}, {3, 2}, {1, 1}, {3, 3}};
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    if (rule > 11) return gcvSTATUS_INVALID_ARGUMENT;
    return gco2D_EnableAlphaBlend(e, 0xFF, 0xFF, 0, 0, 0, 0, kFactors[rule][0],
                                  kFactors[rule][1], 0, 0);
}

gceSTATUS gco2D_DisableAlphaBlend(gco2D e) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    gal::currentSource(e).alpha.enabled = 0;
    return gcvSTATUS_OK;
}

gceSTATUS gco2D_SetStretchFactors(gco2D e, uint32_t horizontal, uint32_t vertical) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    gal::currentSource(e).stretchH = horizontal;
    gal::currentSource(e).stretchV = vertical;
    return gcvSTATUS_OK;
}

gceSTATUS gco2D_SetStretchRectFactors(gco2D e, const gcsRECT* sourceRect,
                                      const gcsRECT* destRect) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    if (!sourceRect || !destRect) return gcvSTATUS_INVALID_ARGUMENT;
    gal::SourceSlot& s = gal::currentSource(e);
    return gcoHARDWARE_GetStretchFactors(int32_t(s.gdiStretch), sourceRect, destRect,
                                         &s.stretchH, &s.stretchV);
}

gceSTATUS gco2D_CalcStretchFactor(gco2D e, int32_t sourceSize, int32_t destSize,
                                  uint32_t* factor) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    if (!factor) return gcvSTATUS_INVALID_ARGUMENT;
    const uint32_t f =
        gcoHARDWARE_GetStretchFactor(int32_t(gal::currentSource(e).gdiStretch), sourceSize, destSize);
    if (f == 0) return gcvSTATUS_NOT_SUPPORTED;
    *factor = f;
    return gcvSTATUS_OK;
}

gceSTATUS gco2D_SetGdiStretchMode(gco2D e, int32_t enable) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    if (!feature(kFeatureGdiStretch)) return gcvSTATUS_NOT_SUPPORTED;
    gal::currentSource(e).gdiStretch = enable ? 1 : 0;
    return gcvSTATUS_OK;
}

gceSTATUS gco2D_SetKernelSize(gco2D e, uint8_t horizontal, uint8_t vertical) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    if (horizontal % 2 == 0 || horizontal > 9 || vertical % 2 == 0 || vertical > 9)
        return gcvSTATUS_INVALID_ARGUMENT;
    e->kernelH = horizontal;
    e->kernelV = vertical;
    return gcvSTATUS_OK;
}

gceSTATUS gco2D_SetFilterType(gco2D e, uint32_t type) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    if (type > 2) return gcvSTATUS_NOT_SUPPORTED;
    e->filterType = type;
    return gcvSTATUS_OK;
}

gceSTATUS gco2D_EnableDither(gco2D e, int32_t enable) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    if (enable && !feature(kFeatureDither)) return gcvSTATUS_NOT_SUPPORTED;
    e->dither = enable ? 1 : 0;
    return gcvSTATUS_OK;
}

gceSTATUS gco2D_SetAutoFlushCycles(gco2D e, uint32_t cycles) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    if (!feature(kFeatureAutoFlush)) return gcvSTATUS_NOT_SUPPORTED;
    return gcoHARDWARE_SetAutoFlushCycles(nullptr, cycles);
}

gceSTATUS gco2D_LoadPalette(gco2D e, uint32_t firstIndex, uint32_t count,
                            const uint32_t* entries, int32_t colorConvert) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    // Bounded: the entries never run past entry 255.
    if (!entries || count == 0 || firstIndex >= 256 || count > 256 - firstIndex)
        return gcvSTATUS_INVALID_ARGUMENT;
    if (!e->palette) {
        void* memory = nullptr;
        const gceSTATUS status = gcoOS_Allocate(nullptr, 256 * sizeof(uint32_t), &memory);
        if (status < 0) return status;
        std::memset(memory, 0, 256 * sizeof(uint32_t));
        e->palette = static_cast<uint32_t*>(memory);
    }
    std::memcpy(e->palette + firstIndex, entries, count * sizeof(uint32_t));
    e->paletteFirst = firstIndex;
    e->paletteCount = count;
    e->paletteConvert = colorConvert ? 1 : 0;
    e->paletteChanged = 1;
    return gcvSTATUS_OK;
}

gceSTATUS gco2D_LoadSolidBrush(gco2D e, uint32_t format, int32_t colorConvert, uint32_t colour,
                               uint64_t mask) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    if (mask && feature(kFeatureBrushRefused)) return gcvSTATUS_NOT_SUPPORTED;
    e->brush = gal::Brush{};
    e->brush.type = gal::kBrushSolid;
    e->brush.format = format;
    e->brush.convert = colorConvert ? 1 : 0;
    e->brush.colour = colour;
    e->brush.mask = mask;
    gal::brushLoadedDirectly(e->brushCache);
    return gcvSTATUS_OK;
}

gceSTATUS gco2D_LoadMonochromeBrush(gco2D e, uint32_t originX, uint32_t originY,
                                    int32_t colorConvert, uint32_t foreground,
                                    uint32_t background, uint64_t bits, uint64_t mask) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    if (originX > 7 || originY > 7) return gcvSTATUS_INVALID_ARGUMENT;
    if (feature(kFeatureBrushRefused)) return gcvSTATUS_NOT_SUPPORTED;
    e->brush = gal::Brush{};
    e->brush.type = gal::kBrushMono;
    e->brush.originX = originX;
    e->brush.originY = originY;
    e->brush.convert = colorConvert ? 1 : 0;
    e->brush.foreground = foreground;
    e->brush.background = background;
    e->brush.bits = bits;
    e->brush.mask = mask;
    gal::brushLoadedDirectly(e->brushCache);
    return gcvSTATUS_OK;
}

gceSTATUS gco2D_LoadColorBrush(gco2D e, uint32_t originX, uint32_t originY, uint32_t address,
                               uint32_t format, uint64_t mask) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    if (originX > 7 || originY > 7) return gcvSTATUS_INVALID_ARGUMENT;
    const gal::Format2D* f = gal::format2D(format);
    if (!f || f->planes != 1 || f->yuv) return gcvSTATUS_INVALID_ARGUMENT;
    if (feature(kFeatureBrushRefused)) return gcvSTATUS_NOT_SUPPORTED;
    e->brush = gal::Brush{};
    e->brush.type = gal::kBrushColor;
    e->brush.originX = originX;
    e->brush.originY = originY;
    e->brush.address = address;
    e->brush.format = format;
    e->brush.mask = mask;
    gal::brushLoadedDirectly(e->brushCache);
    return gcvSTATUS_OK;
}

uint32_t gco2D_GetMaximumDataCount(void) { return 2047; }
uint32_t gco2D_GetMaximumRectCount(void) { return 255; }

gceSTATUS gco2D_QueryU32(gco2D e, uint32_t item, uint32_t* value) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    if (!value) return gcvSTATUS_INVALID_ARGUMENT;
    switch (item) {
    case 0:
    case 1: *value = e->relaxedAlignment ? 4 : 16; return gcvSTATUS_OK;
    case 2: *value = 64; return gcvSTATUS_OK;
    case 3: *value = 8; return gcvSTATUS_OK;
    default: return gcvSTATUS_INVALID_ARGUMENT;
    }
}

gceSTATUS gco2D_GetPixelAlignment(uint32_t format, uint32_t* alignment) {
    if (!alignment) return gcvSTATUS_INVALID_ARGUMENT;
    const gal::Format2D* f = gal::format2D(format);
    if (!f) return gcvSTATUS_NOT_SUPPORTED;
    alignment[0] = 512 / f->bits;
    alignment[1] = 1;
    return gcvSTATUS_OK;
}

gceSTATUS gco2D_GetPackSize(uint32_t packing, uint32_t* bits, uint32_t* count) {
    static constexpr uint32_t kBits[4] = {8, 16, 32, 32};
    if (packing > 3) return gcvSTATUS_NOT_SUPPORTED;
    if (bits) *bits = kBits[packing];
    if (count) *count = 32 / kBits[packing];
    return gcvSTATUS_OK;
}

}  // extern "C"
