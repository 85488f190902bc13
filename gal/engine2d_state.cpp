// The 2D engine's less common settings: the target rectangle, YUV colour modes, tile status of
// source and target, the generic state keys with their lookup tables and colour-conversion
// coefficients, user filter kernels, and the engine's profile counters. Each validates and
// stores; the frame builder loads the lookup tables (start_de.cpp).
#include <cstring>

#include "engine_state.h"
#include "gal_states.h"

namespace {

constexpr uint32_t kFeatureAlpha = 14;
constexpr uint32_t kFeatureTileStatus = 87;
constexpr uint32_t kFeatureLookupTables = 107;
constexpr uint32_t kFeatureYuvModes = 108;
constexpr uint32_t kFeatureTargetRect = 118;
constexpr uint32_t kFeatureTileStatus8 = 126;
constexpr uint32_t kFeatureTileStatus16 = 127;
constexpr uint32_t kFeatureStateKey5 = 129;
constexpr uint32_t kFeatureYuvColorMode = 132;
constexpr uint32_t kFeatureNoYuvModes = 178;

bool valid(gco2D e) { return gal::engineValid(e); }
bool feature(uint32_t n) { return gal::chipFeature(n); }

// Stores a tile status, or clears it (configuration 0).
template <class Slot>
gceSTATUS storeTileStatus(Slot& slot, uint32_t config, uint32_t format, uint32_t clear,
                          uint32_t address) {
    slot.tileConfig = config;
    slot.tileFormat = config ? format : 0;
    slot.tileClear = config ? clear : 0;
    slot.tileAddress = config ? address : 0xFFFFFFFFu;
    return gcvSTATUS_OK;
}

}  // namespace

extern "C" {

gceSTATUS gco2D_SetTargetRect(gco2D e, const gcsRECT* rect) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    if (!feature(kFeatureTargetRect)) return gcvSTATUS_NOT_SUPPORTED;
    if (!rect || rect->left < 0 || rect->top < 0 || rect->right < 0 || rect->bottom < 0 ||
        rect->left >= 0x10000 || rect->top >= 0x10000 || rect->right >= 0x10000 ||
        rect->bottom >= 0x10000)
        return gcvSTATUS_INVALID_ARGUMENT;
    e->target.rect = *rect;
    return gcvSTATUS_OK;
}

gceSTATUS gco2D_SetYUVColorMode(gco2D e, uint32_t mode) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    if (!feature(kFeatureYuvColorMode)) return gcvSTATUS_NOT_SUPPORTED;
    const uint32_t plain = mode & 0x7FFFFFFFu;
    if (plain >= 2 && (!feature(kFeatureYuvModes) || feature(kFeatureNoYuvModes)))
        return gcvSTATUS_NOT_SUPPORTED;
    // The top bit says the mode is the engine's (the target's), else the current source's.
    if (mode & 0x80000000u) e->yuvMode = plain;
    else gal::currentSource(e).yuvMode = plain;
    return gcvSTATUS_OK;
}

gceSTATUS gco2D_SetSourceTileStatus(gco2D e, uint32_t config, uint32_t format, uint32_t clear,
                                    uint32_t address) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    if (config == 8) {
        if (!feature(kFeatureTileStatus8)) return gcvSTATUS_NOT_SUPPORTED;
        if (format != 211 && format != 212) return gcvSTATUS_INVALID_ARGUMENT;
    } else if (config == 16) {
        if (!feature(kFeatureTileStatus16)) return gcvSTATUS_NOT_SUPPORTED;
    } else if (config != 0 && !feature(kFeatureTileStatus)) {
        return gcvSTATUS_NOT_SUPPORTED;
    }
    return storeTileStatus(gal::currentSource(e), config, format, clear, address);
}

gceSTATUS gco2D_SetTargetTileStatus(gco2D e, uint32_t config, uint32_t format, uint32_t clear,
                                    uint32_t address) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    if (config == 16) {
        if (!feature(kFeatureTileStatus16)) return gcvSTATUS_NOT_SUPPORTED;
    } else if (config == 8) {
        if (!feature(kFeatureTileStatus8)) return gcvSTATUS_NOT_SUPPORTED;
        if (format != 211 && format != 212) return gcvSTATUS_INVALID_ARGUMENT;
    } else if (config != 0) {
        return gcvSTATUS_INVALID_ARGUMENT;
    }
    return storeTileStatus(e->target, config, format, clear, address);
}

gceSTATUS gco2D_SetStateU32(gco2D e, uint32_t key, uint32_t value) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    switch (key) {
    case 1:
    case 7: e->stateValues[key] = value ? 1 : 0; return gcvSTATUS_OK;
    case 2:
        if (value < 1 || value > 3 || (value == 1 && e->reduced)) return gcvSTATUS_INVALID_ARGUMENT;
        e->stateValues[2] = value;
        return gcvSTATUS_OK;
    case 3:
        if (!feature(kFeatureLookupTables)) return gcvSTATUS_NOT_SUPPORTED;
        e->targetLookup = value ? 1 : 0;
        return gcvSTATUS_OK;
    case 4:
        if (!feature(kFeatureLookupTables)) return gcvSTATUS_NOT_SUPPORTED;
        gal::currentSource(e).lookup = value ? 1 : 0;
        return gcvSTATUS_OK;
    case 5:
        if (value && !feature(kFeatureStateKey5)) return gcvSTATUS_NOT_SUPPORTED;
        e->stateValues[5] = value;
        return gcvSTATUS_OK;
    case 6: return gcvSTATUS_NOT_SUPPORTED;
    default: return gcvSTATUS_INVALID_ARGUMENT;
    }
}

gceSTATUS gco2D_SetStateArrayU32(gco2D e, uint32_t key, const uint32_t* values, uint32_t count) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    if (!feature(kFeatureLookupTables)) return gcvSTATUS_NOT_SUPPORTED;
    if ((key != 0x10001 && key != 0x10002) || !values || count != 256)
        return gcvSTATUS_INVALID_ARGUMENT;
    std::memcpy(e->lookupTables[key - 0x10001], values, 256 * sizeof(uint32_t));
    return gcvSTATUS_OK;
}

gceSTATUS gco2D_SetStateArrayI32(gco2D e, uint32_t key, const int32_t* values, uint32_t count) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    if (!feature(kFeatureYuvModes) || feature(kFeatureNoYuvModes)) return gcvSTATUS_NOT_SUPPORTED;
    if ((key != 0x10003 && key != 0x10004) || !values || count != 12)
        return gcvSTATUS_INVALID_ARGUMENT;
    for (uint32_t i = 0; i < 12; ++i) {
        const int32_t low = i < 9 ? -32768 : -0x1000000, high = i < 9 ? 32767 : 0xFFFFFF;
        if (values[i] < low || values[i] > high) return gcvSTATUS_INVALID_DATA;  // nothing stored
    }
    std::memcpy(e->coefficients[key - 0x10003], values, 12 * sizeof(int32_t));
    return gcvSTATUS_OK;
}

gceSTATUS gco2D_SetUserFilterKernel(gco2D e, uint32_t pass, const uint16_t* kernel) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    if (pass > 1) return gcvSTATUS_NOT_SUPPORTED;
    if (!kernel) return gcvSTATUS_INVALID_ARGUMENT;
    std::memcpy(e->userKernels[pass], kernel, sizeof e->userKernels[pass]);
    e->userKernelSet[pass] = 1;
    return gcvSTATUS_OK;
}

gceSTATUS gco2D_EnableUserFilterPasses(gco2D e, int32_t horizontal, int32_t vertical) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    e->userPassH = horizontal ? 1 : 0;
    e->userPassV = vertical ? 1 : 0;
    return gcvSTATUS_OK;
}

gceSTATUS gco2D_ProfileEngine(gco2D e, void* counters) {
    if (!valid(e)) return gcvSTATUS_INVALID_OBJECT;
    if (!counters) return gcvSTATUS_INVALID_ARGUMENT;
    gcsIO_REQUEST r = gal::request(CMD_PROFILE_REGISTERS_2D);
    gal::setPointer(r, 0, counters);
    return gal::call(r);
}

}  // extern "C"
