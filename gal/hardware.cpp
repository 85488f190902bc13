// The hardware object (gcoHARDWARE): the chip identity and the features derived from it, the
// kernel context, the stall signal and the event queue, commits and stalls. One object serves
// one hardware type of one thread record; copied records share it by reference count.
#include <cstdio>
#include <cstring>
#include <new>
#include <unistd.h>

#include "gal_internal.h"

namespace {

constexpr uint32_t kFeature2DPipe = 9;
constexpr uint32_t kFeaturePageCrossing = 139;
constexpr uint32_t kFeatureNoRectangleStall = 32;
constexpr uint32_t kFeatureNoPatch = 33;
constexpr uint32_t kMaxPendingEvents = 15;

bool feature(const _gcoHARDWARE* hw, uint32_t n) {
    return n < 7 * 32 && (hw->identity.features[n / 32] >> (n % 32) & 1u) != 0;
}

gceSTATUS queryIdentity(_gcoHARDWARE* hw) {
    gcsIO_REQUEST r = gal::request(CMD_QUERY_CHIP_IDENTITY);
    const gceSTATUS status = gal::call(r);
    if (status < 0) return status;
    hw->identity.model = gal::field<uint32_t>(r, 0);
    hw->identity.revision = gal::field<uint32_t>(r, 4);
    for (int i = 0; i < 7; ++i) hw->identity.features[i] = gal::field<uint32_t>(r, 8 + 4 * i);
    hw->identity.further[0] = gal::field<uint32_t>(r, 60);
    hw->identity.further[1] = gal::field<uint32_t>(r, 84);
    hw->identity.further[2] = gal::field<uint32_t>(r, 88);
    hw->has2DPipe = feature(hw, kFeature2DPipe) ? 1 : 0;
    hw->pageLimited = feature(hw, 0) && feature(hw, 1) && !feature(hw, kFeaturePageCrossing);
    hw->needsEndFrameState = feature(hw, kFeatureNoRectangleStall) ? 0 : 1;
    hw->needsPatch = feature(hw, kFeatureNoPatch) ? 0 : 1;
    return gcvSTATUS_OK;
}

void destroyParts(_gcoHARDWARE* hw) {
    gal::releasePatch(hw);
    if (hw->buffer) gcoBUFFER_Destroy(hw->buffer);
    hw->buffer = nullptr;
    if (hw->queue) gcoQUEUE_Destroy(hw->queue);
    hw->queue = nullptr;
    gal::destroyDeltas(hw);
    if (hw->context) {
        gcsIO_REQUEST r = gal::request(CMD_DETACH);
        gal::setField<uint32_t>(r, 0, hw->context);
        gal::call(r);
        hw->context = 0;
    }
    if (hw->stallSignal) gcoOS_DestroySignal(nullptr, hw->stallSignal);
    hw->stallSignal = nullptr;
    hw->magic = 0;
    hw->~_gcoHARDWARE();
    gcoOS_Free(nullptr, hw);
}

}  // namespace

namespace gal {

void retainHardware(gcoHARDWARE hardware) { hardware->references.fetch_add(1); }

void releaseHardware(gcoHARDWARE hardware, uint32_t type) {
    if (hardware->references.fetch_sub(1) != 1) return;
    TypeScope scope(type);
    gcoHARDWARE_Destroy(hardware, 1);
}

}  // namespace gal

extern "C" {

gceSTATUS gcoHARDWARE_Construct(gcoHAL, uint32_t type, gcoHARDWARE* hardware) {
    if (!hardware) return gcvSTATUS_INVALID_ARGUMENT;
    void* memory = nullptr;
    // The object is allocated at its own size.
    gceSTATUS status = gcoOS_Allocate(nullptr, sizeof(_gcoHARDWARE), &memory);
    if (status < 0) return status;
    std::memset(memory, 0, sizeof(_gcoHARDWARE));
    auto* hw = new (memory) _gcoHARDWARE{};
    hw->magic = gal::kHardwareMagic;
    hw->type = type;
    hw->currentPipe = 0;
    hw->references.store(1);
    status = queryIdentity(hw);
    if (status >= 0) {
        gcsIO_REQUEST r = gal::request(CMD_ATTACH);
        gal::setField<uint64_t>(r, 16, 0);
        status = gal::call(r);
        if (status >= 0) {
            hw->context = gal::field<uint32_t>(r, 0);
            hw->context2 = gal::field<uint64_t>(r, 8);
        }
    }
    if (status >= 0) status = gal::constructDeltas(hw);
    if (status >= 0) status = gcoQUEUE_Construct(nullptr, &hw->queue);
    if (status >= 0) status = gcoOS_CreateSignal(nullptr, 0, &hw->stallSignal);
    if (status >= 0)
        status = gcoBUFFER_Construct(nullptr, hw, hw->context, gcdCMDBUF_BYTES, type, &hw->buffer);
    if (status >= 0 && hw->needsPatch) status = gal::preparePatch(hw);
    if (status < 0) {
        destroyParts(hw);
        return status;
    }
    *hardware = hw;
    return gcvSTATUS_OK;
}

gceSTATUS gcoHARDWARE_Destroy(gcoHARDWARE hardware, int32_t) {
    if (!hardware || hardware->magic != gal::kHardwareMagic) return gcvSTATUS_INVALID_OBJECT;
    gcoHARDWARE_Stall(hardware);
    destroyParts(hardware);
    return gcvSTATUS_OK;
}

gceSTATUS gcoHARDWARE_Commit(gcoHARDWARE given) {
    gcoHARDWARE hw = nullptr;
    gceSTATUS status = gal::hardwareOf(given, hw);
    if (status < 0) return status;
    if (!hw->buffer) return gcoQUEUE_Commit(hw->queue, 0);
    status = gcoBUFFER_Commit(hw->buffer, hw->currentPipe, hw->deltas[hw->currentDelta], hw->queue);
    if (status >= 0) gal::advanceDelta(hw);
    return status;
}

gceSTATUS gcoHARDWARE_Stall(gcoHARDWARE given) {
    gcoHARDWARE hw = nullptr;
    gceSTATUS status = gal::hardwareOf(given, hw);
    if (status < 0) return status;
    gcsIO_REQUEST r = gal::request(CMD_SIGNAL);
    gal::setPointer(r, 0, hw->stallSignal);
    gal::setField<uint32_t>(r, 16, static_cast<uint32_t>(::getpid()));
    gal::setField<uint32_t>(r, 24, GAL_SIGNAL_SOURCE_STALL);
    status = gcoQUEUE_AppendEvent(hw->queue, &r);
    if (status < 0) return status;
    // The signal event goes with whatever is still to be submitted, after it. The commit names
    // the signal: a kernel that reaches it within the commit takes it for us, and the wait,
    // a second request, is not needed.
    if (hw->buffer) gal::setCommitWait(hw->buffer, hw->stallSignal);
    status = gcoHARDWARE_Commit(hw);
    const bool reached = hw->buffer && gal::commitReachedWait(hw->buffer);
    if (hw->buffer) gal::setCommitWait(hw->buffer, nullptr);
    if (status < 0) return status;
    if (reached) return gcvSTATUS_OK;
    return gcoOS_WaitSignal(nullptr, hw->stallSignal, 0xFFFFFFFFu);
}

gceSTATUS gcoHARDWARE_CallEvent(gcoHARDWARE given, gcsIO_REQUEST* request) {
    if (!request) return gcvSTATUS_INVALID_ARGUMENT;
    gcoHARDWARE hw = nullptr;
    gceSTATUS status = gal::hardwareOf(given, hw);
    if (status < 0) return status;
    status = gcoQUEUE_AppendEvent(hw->queue, request);
    if (status < 0) return status;
    if (gal::queueCount(hw->queue) > kMaxPendingEvents) status = gcoHARDWARE_Commit(hw);
    return status;
}

gceSTATUS gcoHARDWARE_SelectPipe(gcoHARDWARE given, uint32_t pipe, uint32_t**) {
    gcoHARDWARE hw = nullptr;
    const gceSTATUS status = gal::hardwareOf(given, hw);
    if (status < 0) return status;
    if (pipe == 1 && !hw->has2DPipe) return gcvSTATUS_NOT_SUPPORTED;
    hw->currentPipe = pipe;
    return gcvSTATUS_OK;
}

gceSTATUS gcoHARDWARE_FlushPipe(gcoHARDWARE given, uint32_t** cursor) {
    gcoHARDWARE hw = nullptr;
    const gceSTATUS status = gal::hardwareOf(given, hw);
    if (status < 0) return status;
    const uint32_t value = hw->currentPipe == 1 ? 8 : 3;
    const uint32_t words[4] = {0x08010000u | (0x380Cu >> 2), value, 0x08010000u | (0x380Cu >> 2),
                               value};
    if (cursor && *cursor) {
        std::memcpy(*cursor, words, sizeof words);
        *cursor += 4;
        return gcvSTATUS_OK;
    }
    if (!hw->buffer) return gcvSTATUS_OK;
    gcsTEMPCMDBUF* temp = nullptr;
    const gceSTATUS started = gcoBUFFER_StartTEMPCMDBUF(hw->buffer, &temp);
    if (started < 0) return started;
    std::memcpy(temp->buffer, words, sizeof words);
    temp->currentByteSize = sizeof words;
    return gcoBUFFER_EndTEMPCMDBUF(hw->buffer);
}

gceSTATUS gcoHARDWARE_InvalidateCache(gcoHARDWARE given) {
    gceSTATUS status = gcoHARDWARE_FlushPipe(given, nullptr);
    if (status >= 0) status = gcoHARDWARE_Commit(given);
    return status;
}

gceSTATUS gcoHARDWARE_QueryChipIdentity(gcoHARDWARE given, uint32_t* model, uint32_t* revision,
                                        uint32_t* features, uint32_t* minorFeatures,
                                        uint32_t* minorFeatures1, uint32_t* minorFeatures2,
                                        uint32_t* minorFeatures3, uint32_t* minorFeatures4,
                                        uint32_t* minorFeatures5) {
    gcoHARDWARE hw = nullptr;
    const gceSTATUS status = gal::hardwareOf(given, hw);
    if (status < 0) return status;
    const gcsCHIP_IDENTITY& id = hw->identity;
    uint32_t* outs[] = {features,       minorFeatures,  minorFeatures1, minorFeatures2,
                        minorFeatures3, minorFeatures4, minorFeatures5};
    if (model) *model = id.model;
    if (revision) *revision = id.revision;
    for (int i = 0; i < 7; ++i)
        if (outs[i]) *outs[i] = id.features[i];
    return gcvSTATUS_OK;
}

gceSTATUS gcoHARDWARE_GetProductName(gcoHARDWARE given, char** productName) {
    if (!productName) return gcvSTATUS_INVALID_ARGUMENT;
    gcoHARDWARE hw = nullptr;
    gceSTATUS status = gal::hardwareOf(given, hw);
    if (status < 0) return status;
    char name[32];
    std::snprintf(name, sizeof name, "GC%X", hw->identity.model);
    return gcoOS_StrDup(nullptr, name, productName);
}

gceSTATUS gcoHARDWARE_IsFeatureAvailable(gcoHARDWARE given, uint32_t n) {
    gcoHARDWARE hw = nullptr;
    const gceSTATUS status = gal::hardwareOf(given, hw);
    if (status < 0) return status;
    return feature(hw, n) ? gcvSTATUS_TRUE : gcvSTATUS_OK;
}

gceSTATUS gcoHARDWARE_IsSwwaNeeded(gcoHARDWARE, uint32_t) { return gcvSTATUS_OK; }

gceSTATUS gcoHARDWARE_Is2DAvailable(gcoHARDWARE given) {
    gcoHARDWARE hw = nullptr;
    const gceSTATUS status = gal::hardwareOf(given, hw);
    if (status < 0) return status;
    return hw->has2DPipe ? gcvSTATUS_TRUE : gcvSTATUS_OK;
}

gceSTATUS gcoHARDWARE_IsMultiPipes(gcoHARDWARE) { return gcvSTATUS_OK; }

gceSTATUS gcoHARDWARE_Query3DCoreCount(gcoHARDWARE, uint32_t* count) {
    if (!count) return gcvSTATUS_INVALID_ARGUMENT;
    *count = 1;
    return gcvSTATUS_OK;
}

gceSTATUS gcoHARDWARE_QueryTileSize(int32_t* tileWidth2D, int32_t* tileHeight2D,
                                    int32_t* tileWidth3D, int32_t* tileHeight3D,
                                    uint32_t* stride) {
    // 2D surfaces are linear; 3D ones come in 4 x 4 tiles.
    if (tileWidth2D) *tileWidth2D = 1;
    if (tileHeight2D) *tileHeight2D = 1;
    if (tileWidth3D) *tileWidth3D = 4;
    if (tileHeight3D) *tileHeight3D = 4;
    if (stride) *stride = 4;
    return gcvSTATUS_OK;
}

gceSTATUS gcoHARDWARE_GetContext(gcoHARDWARE given, uint32_t* context) {
    if (!context) return gcvSTATUS_INVALID_ARGUMENT;
    gcoHARDWARE hw = nullptr;
    const gceSTATUS status = gal::hardwareOf(given, hw);
    if (status < 0) return status;
    *context = hw->context;
    return gcvSTATUS_OK;
}

gceSTATUS gcoHARDWARE_Get2DHardware(gcoHARDWARE* hardware) {
    if (!hardware) return gcvSTATUS_INVALID_ARGUMENT;
    gcsTHREAD_DATA* record = nullptr;
    const gceSTATUS status = gcoOS_GetTLS(&record);
    if (status < 0) return status;
    const bool separate = gcPLS.hal && gcPLS.hal->separated2D && gcPLS.hal->is3DAvailable;
    *hardware = separate ? record->hardware2D : record->currentHardware;
    return gcvSTATUS_OK;
}

gceSTATUS gcoHARDWARE_Set2DHardware(gcoHARDWARE hardware) {
    gcsTHREAD_DATA* record = nullptr;
    const gceSTATUS status = gcoOS_GetTLS(&record);
    if (status < 0) return status;
    const bool separate = gcPLS.hal && gcPLS.hal->separated2D && gcPLS.hal->is3DAvailable;
    (separate ? record->hardware2D : record->currentHardware) = hardware;
    return gcvSTATUS_OK;
}

gceSTATUS gcoHARDWARE_DetectProcess(gcoHARDWARE) { return gcvSTATUS_OK; }

}  // extern "C"
