// The hardware abstraction layer: the process's gcoHAL (version check, cores, GAL_DEBUG,
// options), gcoHAL_Call with its one out-of-memory retry, the per-thread hardware type and the
// resolution of the thread's hardware object, the 2D engine, and the chip, memory, power,
// timer and shared-buffer requests.
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "gal_dump.h"
#include "gal_internal.h"

extern "C" {
uint32_t gcOptions[gcdOPTION_COUNT];
uint32_t gcFrameInfos[4];
uint32_t gcUserDebugOption;
}

namespace gal {
gceSTATUS primeEngine(gco2D engine);
}

namespace {

thread_local bool tRetrying = false;    // guards the out-of-memory retry against re-entry

gceSTATUS halOf(gcoHAL& hal) {
    gcsTHREAD_DATA* record = nullptr;
    const gceSTATUS status = gcoOS_GetTLS(&record);
    if (status < 0) return status;
    hal = gcPLS.hal;
    return hal ? gcvSTATUS_OK : gcvSTATUS_INVALID_OBJECT;
}

gceSTATUS send(gcsIO_REQUEST& r) {
    return gcoOS_DeviceControl(nullptr, GAL_IOCTL_REQUEST, &r, sizeof r, &r, sizeof r);
}

}  // namespace

namespace gal {

gceSTATUS call(gcsIO_REQUEST& r) { return gcoHAL_Call(nullptr, &r); }

// Creates the process's gcoHAL (once per process, from the process-state creation).
gceSTATUS createHal(gcoHAL& out) {
    void* memory = nullptr;
    gceSTATUS status = gcoOS_Allocate(nullptr, sizeof(_gcoHAL), &memory);
    if (status < 0) return status;
    std::memset(memory, 0, sizeof(_gcoHAL));
    auto* hal = static_cast<_gcoHAL*>(memory);
    hal->magic = kHalMagic;

    gcsIO_REQUEST version = request(CMD_VERSION);
    status = send(version);
    if (status < 0) {
        gcoOS_Free(nullptr, hal);
        return status;
    }
    const uint32_t major = field<uint32_t>(version, 0), minor = field<uint32_t>(version, 4),
                   patch = field<uint32_t>(version, 8), build = field<uint32_t>(version, 12);
    if (major != GAL_VERSION_MAJOR || minor != GAL_VERSION_MINOR || patch != GAL_VERSION_PATCH ||
        build != GAL_VERSION_BUILD) {
        print("HAL user version %d.%d.%d build %u %s %s", GAL_VERSION_MAJOR, GAL_VERSION_MINOR,
              GAL_VERSION_PATCH, GAL_VERSION_BUILD, "Feb 21 2019", "10:41:40");
        print("HAL kernel version %d.%d.%d build %u", int(major), int(minor), int(patch), build);
        gcoOS_Free(nullptr, hal);
        return gcvSTATUS_VERSION_MISMATCH;
    }

    gcsIO_REQUEST info = request(CMD_CHIP_INFO);
    status = send(info);
    if (status < 0) {
        gcoOS_Free(nullptr, hal);
        return status;
    }
    hal->chipCount = field<uint32_t>(info, 0);
    for (uint32_t i = 0; i < hal->chipCount && i < 3; ++i) {
        hal->chipTypes[i] = field<uint32_t>(info, 4 + 4 * i);
        if (hal->chipTypes[i] == HW_TYPE_2D) hal->separated2D = 1;
        if (hal->chipTypes[i] == HW_TYPE_3D || hal->chipTypes[i] == HW_TYPE_AUX)
            hal->is3DAvailable = 1;
    }
    readDebugEnvironment();
    hal->userDebugOption = &gcUserDebugOption;
    std::memset(gcOptions, 0, sizeof gcOptions);
    gcOptions[1] = 1;
    out = hal;
    return gcvSTATUS_OK;
}

void readDebugEnvironment() {
    // Once per process: a forked child reads it again at its own HAL creation.
    static pid_t readBy = 0;
    if (readBy == ::getpid()) return;
    readBy = ::getpid();
    const char* value = std::getenv("GAL_DEBUG");
    const char* p = value ? std::strstr(value, "-MSG_LEVEL") : nullptr;
    if (!p) return;
    p += std::strlen("-MSG_LEVEL");
    while (*p == ':') {
        ++p;
        size_t n = 0;
        while (p[n] && p[n] != ':' && p[n] != ' ') ++n;
        if (n == 5 && std::strncmp(p, "ERROR", 5) == 0)
            gcUserDebugOption = 1;
        else if (n == 7 && std::strncmp(p, "WARNING", 7) == 0)
            gcUserDebugOption = 2;
        else
            return;
        p += n;
    }
}

gceSTATUS resolveHardware(gcoHARDWARE& hardware) {
    gcsTHREAD_DATA* record = nullptr;
    gceSTATUS status = gcoOS_GetTLS(&record);
    if (status < 0) return status;
    gcoHAL hal = gcPLS.hal;
    if (!hal) return gcvSTATUS_INVALID_OBJECT;
    if (record->currentType == HW_TYPE_2D && hal->separated2D && hal->is3DAvailable) {
        if (!record->hardware2D) {
            status = gcoHARDWARE_Construct(hal, HW_TYPE_3D, &record->hardware2D);
            if (status < 0) return status;
        }
        hardware = record->hardware2D;
        return gcvSTATUS_OK;
    }
    if (record->currentType == HW_TYPE_COMBINED) return gcvSTATUS_INVALID_ARGUMENT;
    if (!record->defaultHardware) {
        status = gcoHARDWARE_Construct(hal, HW_TYPE_3D, &record->defaultHardware);
        if (status < 0) return status;
        if (record->currentType != HW_TYPE_2D) {
            gcoHARDWARE_SelectPipe(record->defaultHardware, 0, nullptr);
            gcoHARDWARE_InvalidateCache(record->defaultHardware);
        }
    }
    if (!record->currentHardware) record->currentHardware = record->defaultHardware;
    hardware = record->currentHardware;
    return gcvSTATUS_OK;
}

gceSTATUS hardwareOf(gcoHARDWARE given, gcoHARDWARE& hardware) {
    if (given) {
        hardware = given;
        return given->magic == kHardwareMagic ? gcvSTATUS_OK : gcvSTATUS_INVALID_OBJECT;
    }
    return resolveHardware(hardware);
}

}  // namespace gal

extern "C" {

gceSTATUS gcoHAL_ConstructEx(void*, gcoOS, gcoHAL* hal) {
    if (!hal) return gcvSTATUS_INVALID_ARGUMENT;
    return halOf(*hal);
}

gceSTATUS gcoHAL_Construct(void* context, gcoOS os, gcoHAL* hal) {
    return gcoHAL_ConstructEx(context, os, hal);
}

gceSTATUS gcoHAL_DestroyEx(gcoHAL hal) {
    if (!hal) return gcvSTATUS_OK;
    if (hal->dump) gcoDUMP_Destroy(hal->dump);
    hal->magic = 0;
    return gcoOS_Free(nullptr, hal);
}

gceSTATUS gcoHAL_Destroy(gcoHAL hal) { return gcoHAL_DestroyEx(hal); }

gceSTATUS gcoHAL_Call(gcoHAL, gcsIO_REQUEST* request) {
    if (!request) return gcvSTATUS_INVALID_ARGUMENT;
    gceSTATUS status = send(*request);
    if (status != gcvSTATUS_OUT_OF_MEMORY || tRetrying || !gal::initialised()) return status;
    // The kernel may get its memory back once the GPU has finished what was submitted. The
    // commit and the stall may themselves call here; they do not retry again.
    gcsTHREAD_DATA* record = nullptr;
    if (gcoOS_GetTLS(&record) < 0 || !record->currentHardware) return status;
    tRetrying = true;
    gcoHARDWARE_Commit(nullptr);
    gcoHARDWARE_Stall(nullptr);
    status = send(*request);
    tRetrying = false;
    return status;
}

gceSTATUS gcoHAL_SetHardwareType(gcoHAL, uint32_t type) {
    gcsTHREAD_DATA* record = nullptr;
    const gceSTATUS status = gcoOS_GetTLS(&record);
    if (status < 0) return status;
    record->currentType = type;
    return gcvSTATUS_OK;
}

gceSTATUS gcoHAL_GetHardwareType(gcoHAL, uint32_t* type) {
    if (!type) return gcvSTATUS_INVALID_ARGUMENT;
    gcsTHREAD_DATA* record = nullptr;
    const gceSTATUS status = gcoOS_GetTLS(&record);
    if (status < 0) return status;
    *type = record->currentType;
    return gcvSTATUS_OK;
}

gceSTATUS gcoHAL_GetHardware(gcoHAL, gcoHARDWARE* hardware) {
    if (!hardware) return gcvSTATUS_INVALID_ARGUMENT;
    return gal::resolveHardware(*hardware);
}

gceSTATUS gcoHAL_GetProductName(gcoHAL, char** productName) {
    if (!productName) return gcvSTATUS_INVALID_ARGUMENT;
    gcoHARDWARE hardware = nullptr;
    const gceSTATUS status = gal::resolveHardware(hardware);
    if (status < 0) return status;
    return gcoHARDWARE_GetProductName(hardware, productName);
}

gceSTATUS gcoHAL_Get2DEngine(gcoHAL hal, gco2D* engine) {
    if (!engine) return gcvSTATUS_INVALID_ARGUMENT;
    gcsTHREAD_DATA* record = nullptr;
    gceSTATUS status = gcoOS_GetTLS(&record);
    if (status < 0) return status;
    if (!record->engine2D) {
        status = gco2D_Construct(hal ? hal : gcPLS.hal, &record->engine2D);
        if (status < 0) return status;
        // Older cores are primed once with one filter blit; a failure is not reported.
        uint32_t revision = 0;
        if (gcoHAL_QueryChipIdentity(nullptr, nullptr, &revision, nullptr, nullptr) >= 0 &&
            gcoHARDWARE_Is2DAvailable(nullptr) == gcvSTATUS_TRUE && revision < 0x4401)
            gal::primeEngine(record->engine2D);
    }
    *engine = record->engine2D;
    return gcvSTATUS_OK;
}

gceSTATUS gcoHAL_QueryChipIdentity(gcoHAL, uint32_t* model, uint32_t* revision,
                                   uint32_t* features, uint32_t* minorFeatures) {
    return gcoHARDWARE_QueryChipIdentity(nullptr, model, revision, features, minorFeatures,
                                         nullptr, nullptr, nullptr, nullptr, nullptr);
}

gceSTATUS gcoHAL_QueryChipMinorFeatures(gcoHAL, uint32_t* count, uint32_t* words) {
    if (!count || !words) return gcvSTATUS_INVALID_ARGUMENT;
    *count = 6;
    return gcoHARDWARE_QueryChipIdentity(nullptr, nullptr, nullptr, nullptr, &words[0], &words[1],
                                         &words[2], &words[3], &words[4], &words[5]);
}

gceSTATUS gcoHAL_QueryChipCount(gcoHAL, int32_t* count) {
    if (!count) return gcvSTATUS_INVALID_ARGUMENT;
    gcoHAL hal = nullptr;
    const gceSTATUS status = halOf(hal);
    if (status < 0) return status;
    if (hal->chipCount < 1 || hal->chipCount > 3) return gcvSTATUS_CONTEXT_LOSSED;
    *count = int32_t(hal->chipCount);
    return gcvSTATUS_OK;
}

gceSTATUS gcoHAL_QuerySeparated2D(gcoHAL) {
    gcoHAL hal = nullptr;
    if (halOf(hal) < 0) return gcvSTATUS_OK;
    return hal->separated2D ? gcvSTATUS_TRUE : gcvSTATUS_OK;
}

gceSTATUS gcoHAL_Is3DAvailable(gcoHAL) {
    gcoHAL hal = nullptr;
    if (halOf(hal) < 0) return gcvSTATUS_OK;
    return hal->is3DAvailable ? gcvSTATUS_TRUE : gcvSTATUS_OK;
}

gceSTATUS gcoHAL_QueryChipFeature(gcoHAL, int32_t chip, uint32_t feature) {
    gcoHAL hal = nullptr;
    gceSTATUS status = halOf(hal);
    if (status < 0) return status;
    if (chip < 0 || chip > 2) return gcvSTATUS_INVALID_ARGUMENT;
    const uint32_t type = hal->chipTypes[chip];
    if (type < HW_TYPE_3D || type > HW_TYPE_AUX) return gcvSTATUS_INVALID_ARGUMENT;
    gal::TypeScope scope(type);
    if (scope.status() < 0) return scope.status();
    return gcoHARDWARE_IsFeatureAvailable(nullptr, feature);
}

gceSTATUS gcoHAL_IsFeatureAvailable(gcoHAL, uint32_t feature) {
    return gcoHARDWARE_IsFeatureAvailable(nullptr, feature);
}

gceSTATUS gcoHAL_IsFeatureAvailable1(gcoHAL, uint32_t) { return gcvSTATUS_OK; }

gceSTATUS gcoHAL_IsSwwaNeeded(gcoHAL, uint32_t workaround) {
    return gcoHARDWARE_IsSwwaNeeded(nullptr, workaround);
}

gceSTATUS gcoHAL_Query3DCoreCount(gcoHAL, uint32_t* count) {
    return gcoHARDWARE_Query3DCoreCount(nullptr, count);
}

gceSTATUS gcoHAL_QueryTiled(gcoHAL, int32_t* tiled2D, int32_t* tiled3D) {
    if (!tiled2D || !tiled3D) return gcvSTATUS_INVALID_ARGUMENT;
    int32_t w2 = 0, h2 = 0, w3 = 0, h3 = 0;
    uint32_t stride = 0;
    const gceSTATUS status = gcoHARDWARE_QueryTileSize(&w2, &h2, &w3, &h3, &stride);
    if (status < 0) return status;
    *tiled2D = w2 > 1 || h2 > 1;
    *tiled3D = w3 > 1 || h3 > 1;
    return gcvSTATUS_OK;
}

gceSTATUS gcoHAL_QueryChipLimits(gcoHAL, int32_t, void*) { return gcvSTATUS_INVALID_ARGUMENT; }

gceSTATUS gcoHAL_QueryVideoMemory(gcoHAL, uint64_t* internalPhysical, size_t* internalBytes,
                                  uint64_t* externalPhysical, size_t* externalBytes,
                                  uint64_t* contiguousPhysical, size_t* contiguousBytes) {
    return gcoOS_QueryVideoMemory(nullptr, internalPhysical, internalBytes, externalPhysical,
                                  externalBytes, contiguousPhysical, contiguousBytes);
}

gceSTATUS gcoHAL_MapMemory(gcoHAL, uint64_t physical, size_t bytes, void** logical) {
    if (!logical) return gcvSTATUS_INVALID_ARGUMENT;
    gcsIO_REQUEST r = gal::request(CMD_MAP_MEMORY);
    gal::setField<uint64_t>(r, 0, physical);
    gal::setField<uint64_t>(r, 8, bytes);
    const gceSTATUS status = send(r);
    if (status >= 0) *logical = gal::pointerField(r, 16);
    return status;
}

gceSTATUS gcoHAL_UnmapMemory(gcoHAL, uint64_t physical, size_t bytes, void* logical) {
    gcsIO_REQUEST r = gal::request(CMD_UNMAP_MEMORY);
    gal::setField<uint64_t>(r, 0, physical);
    gal::setField<uint64_t>(r, 8, bytes);
    gal::setPointer(r, 16, logical);
    return send(r);
}

gceSTATUS gcoHAL_MapUserMemory(gcoHAL, void* memory, uint64_t physical, size_t size,
                               uint32_t* info, uint32_t* address) {
    if ((!memory && physical == 0xFFFFFFFFu) || !info || !address || size == 0)
        return gcvSTATUS_INVALID_ARGUMENT;
    if (physical != 0xFFFFFFFFu) {
        uint32_t base = 0;
        gcoOS_GetBaseAddress(nullptr, &base);
        // Checked in 64 bits: an address below the base or a range that wraps is not direct.
        if (physical >= base) {
            const uint64_t gpu = physical - base;
            const uint64_t last = gpu + uint64_t(size) - 1;
            if (last >= gpu && last < 0x80000000u) {
                *info = 0;
                *address = static_cast<uint32_t>(gpu);
                return gcvSTATUS_OK;
            }
        }
    }
    return gcoOS_MapUserMemoryEx(nullptr, memory, physical, size, info, address);
}

gceSTATUS gcoHAL_UnmapUserMemory(gcoHAL, void* memory, size_t size, uint32_t info,
                                 uint32_t address) {
    if (info == 0) return gcvSTATUS_OK;  // mapped directly: the kernel holds nothing
    return gcoOS_UnmapUserMemory(nullptr, memory, size, info, address);
}

gceSTATUS gcoHAL_ScheduleUnmapMemory(gcoHAL, uint64_t physical, size_t bytes, void* logical) {
    gcsIO_REQUEST r = gal::request(CMD_UNMAP_MEMORY);
    gal::setField<uint64_t>(r, 0, physical);
    gal::setField<uint64_t>(r, 8, bytes);
    gal::setPointer(r, 16, logical);
    return gcoHARDWARE_CallEvent(nullptr, &r);
}

gceSTATUS gcoHAL_ScheduleUnmapUserMemory(gcoHAL, uint32_t info, size_t size, uint32_t address,
                                         void* memory) {
    if (info == 0) return gcvSTATUS_OK;
    gcsIO_REQUEST r = gal::request(CMD_UNMAP_USER_MEMORY);
    gal::setPointer(r, 0, memory);
    gal::setField<uint64_t>(r, 8, size);
    gal::setField<uint32_t>(r, 16, info);
    gal::setField<uint32_t>(r, 20, address);
    return gcoHARDWARE_CallEvent(nullptr, &r);
}

gceSTATUS gcoHAL_NameVideoMemory(uint32_t node, uint32_t* name) {
    if (!name) return gcvSTATUS_INVALID_ARGUMENT;
    gcsIO_REQUEST r = gal::request(CMD_NAME_VIDEO_MEMORY);
    gal::setField<uint32_t>(r, 0, node);
    const gceSTATUS status = gal::call(r);
    if (status >= 0) *name = gal::field<uint32_t>(r, 4);
    return status;
}

gceSTATUS gcoHAL_ImportVideoMemory(uint32_t name, uint32_t* node) {
    if (!node) return gcvSTATUS_INVALID_ARGUMENT;
    gcsIO_REQUEST r = gal::request(CMD_IMPORT_VIDEO_MEMORY);
    gal::setField<uint32_t>(r, 0, name);
    const gceSTATUS status = gal::call(r);
    if (status >= 0) *node = gal::field<uint32_t>(r, 4);
    return status;
}

gceSTATUS gcoHAL_DestroySurface(gcoHAL, void*) { return gcvSTATUS_OK; }

gceSTATUS gcoHAL_Commit(gcoHAL, int32_t stall) {
    // A stall commits what is pending together with its own signal event.
    return stall ? gcoHARDWARE_Stall(nullptr) : gcoHARDWARE_Commit(nullptr);
}

gceSTATUS gcoHAL_ScheduleEvent(gcoHAL, gcsIO_REQUEST* request) {
    return gcoHARDWARE_CallEvent(nullptr, request);
}

gceSTATUS gcoHAL_SetPowerManagementState(gcoHAL, uint32_t state) {
    gcsIO_REQUEST r = gal::request(CMD_SET_POWER_MANAGEMENT_STATE);
    gal::setField<uint32_t>(r, 0, state);
    return gal::call(r);
}

gceSTATUS gcoHAL_QueryPowerManagementState(gcoHAL, uint32_t* state) {
    if (!state) return gcvSTATUS_INVALID_ARGUMENT;
    gcsIO_REQUEST r = gal::request(CMD_QUERY_POWER_MANAGEMENT_STATE);
    const gceSTATUS status = gal::call(r);
    if (status >= 0) *state = gal::field<uint32_t>(r, 0);
    return status;
}

gceSTATUS gcoHAL_ConfigPowerManagement(int32_t enable) {
    gcsIO_REQUEST r = gal::request(CMD_CONFIG_POWER_MANAGEMENT);
    gal::setField<uint32_t>(r, 0, enable ? 1 : 0);
    return gal::call(r);
}

gceSTATUS gcoHAL_SetTimeOut(gcoHAL, uint32_t timeout) {
    gcsIO_REQUEST r = gal::request(CMD_SET_TIMEOUT);
    gal::setField<uint32_t>(r, 0, timeout);
    return gal::call(r);
}

gceSTATUS gcoHAL_GetTimerTime(gcoHAL hal, uint32_t timer, uint64_t* time) {
    if (!time) return gcvSTATUS_INVALID_ARGUMENT;
    gceSTATUS status = gcoHAL_Commit(hal, 1);
    if (status < 0) return status;
    gcsIO_REQUEST r = gal::request(CMD_TIMESTAMP);
    gal::setField<uint32_t>(r, 0, timer);
    gal::setField<uint32_t>(r, 4, 2);
    status = gal::call(r);
    if (status >= 0) *time = gal::field<uint64_t>(r, 8);
    return status;
}

gceSTATUS gcoHAL_SetTimer(gcoHAL, uint32_t timer, int32_t start) {
    gcsIO_REQUEST r = gal::request(CMD_TIMESTAMP);
    gal::setField<uint32_t>(r, 0, timer);
    gal::setField<uint32_t>(r, 4, start ? 0 : 1);
    return gal::call(r);
}

gceSTATUS gcoHAL_ProfileStart(gcoHAL) { return gcvSTATUS_OK; }
gceSTATUS gcoHAL_ProfileEnd(gcoHAL, const char*) { return gcvSTATUS_OK; }

gceSTATUS gcoHAL_CreateShBuffer(uint32_t size, uint64_t* id) {
    if (!id) return gcvSTATUS_INVALID_ARGUMENT;
    gcsIO_REQUEST r = gal::request(CMD_SHBUF);
    gal::setField<uint32_t>(r, 0, SHBUF_ALLOCATE);
    gal::setField<uint32_t>(r, 24, size);
    const gceSTATUS status = gal::call(r);
    if (status >= 0) *id = gal::field<uint64_t>(r, 8);
    return status;
}

gceSTATUS gcoHAL_DestroyShBuffer(uint64_t id) {
    gcsIO_REQUEST r = gal::request(CMD_SHBUF);
    gal::setField<uint32_t>(r, 0, SHBUF_FREE);
    gal::setField<uint64_t>(r, 8, id);
    return gal::call(r);
}

gceSTATUS gcoHAL_MapShBuffer(uint64_t id) {
    gcsIO_REQUEST r = gal::request(CMD_SHBUF);
    gal::setField<uint32_t>(r, 0, SHBUF_MAP);
    gal::setField<uint64_t>(r, 8, id);
    return gal::call(r);
}

gceSTATUS gcoHAL_WriteShBuffer(uint64_t id, const void* data, uint32_t bytes) {
    if (!data && bytes) return gcvSTATUS_INVALID_ARGUMENT;
    gcsIO_REQUEST r = gal::request(CMD_SHBUF);
    gal::setField<uint32_t>(r, 0, SHBUF_WRITE);
    gal::setField<uint64_t>(r, 8, id);
    gal::setPointer(r, 16, data);
    gal::setField<uint32_t>(r, 24, bytes);
    return gal::call(r);
}

gceSTATUS gcoHAL_ReadShBuffer(uint64_t id, void* data, uint32_t bytes, uint32_t* bytesRead) {
    if ((!data && bytes) || !bytesRead) return gcvSTATUS_INVALID_ARGUMENT;
    gcsIO_REQUEST r = gal::request(CMD_SHBUF);
    gal::setField<uint32_t>(r, 0, SHBUF_READ);
    gal::setField<uint64_t>(r, 8, id);
    gal::setPointer(r, 16, data);
    gal::setField<uint32_t>(r, 24, bytes);
    const gceSTATUS status = gal::call(r);
    if (status >= 0) *bytesRead = gal::field<uint32_t>(r, 24);
    return status;
}

gceSTATUS gcoHAL_GetOption(gcoHAL, uint32_t option) {
    // Options beyond the table are refused rather than read from past its end.
    if (option >= gcdOPTION_COUNT) return gcvSTATUS_INVALID_ARGUMENT;
    return gcOptions[option] ? gcvSTATUS_TRUE : gcvSTATUS_OK;
}

uint32_t* gcGetUserDebugOption(void) { return &gcUserDebugOption; }

gceSTATUS gcoHAL_FrameInfoOps(gcoHAL, uint32_t counter, uint32_t operation, uint32_t* value) {
    if (counter > 3 || operation > 3) return gcvSTATUS_INVALID_ARGUMENT;
    switch (operation) {
    case 0:
        ++gcFrameInfos[counter];
        break;
    case 1:
        if (gcFrameInfos[counter] == 0) gal::print("GAL: FramInfo(%d) underflowed", int(counter));
        --gcFrameInfos[counter];
        break;
    case 2:
        gcFrameInfos[counter] = 0;
        break;
    default:
        if (!value) return gcvSTATUS_INVALID_ARGUMENT;
        *value = gcFrameInfos[counter];
        break;
    }
    return gcvSTATUS_OK;
}

gceSTATUS gcoHAL_AddFrameDB(void) { return gcvSTATUS_OK; }
gceSTATUS gcoHAL_DumpFrameDB(const char*) { return gcvSTATUS_OK; }

}  // extern "C"
