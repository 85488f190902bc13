// The driver's kernel requests and memory: gcoOS_DeviceControl, the one path of every request
// (pool mapping served in the process, EINTR retried); the library's own allocator; kernel
// memory (non-paged, contiguous, video memory, user memory); cache, registers and signals.
#include <errno.h>
#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <limits>

#include "gal_internal.h"
#include "gpu_device.h"


namespace {

constexpr int kMaxInterruptedAttempts = 10000;

// The allocator's header keeps the block's size and keeps the block aligned for any type.
constexpr size_t kHeader = alignof(std::max_align_t);
static_assert(kHeader >= sizeof(size_t));

gceSTATUS call(gcsIO_REQUEST& r) { return gal::call(r); }

// True when `bytes` fits a size_t on this build.
bool fitsSize(uint64_t bytes) { return bytes <= std::numeric_limits<size_t>::max(); }

// Non-paged and contiguous memory: the kernel answers the bytes granted, the physical address
// (in the same 64-bit slot for both) and the logical address in this process.
gceSTATUS allocateKernelMemory(uint32_t command, size_t* bytes, uint64_t* physical, void** logical) {
    if (!bytes || !physical || !logical || *bytes == 0 || *bytes > 0xFFFFFFFFu)
        return gcvSTATUS_INVALID_ARGUMENT;
    gcsIO_REQUEST r = gal::request(command);
    gal::setField<uint32_t>(r, 0, static_cast<uint32_t>(*bytes));
    const gceSTATUS status = call(r);
    if (status < 0) return status;
    *bytes = gal::field<uint32_t>(r, 0);
    *physical = gal::field<uint64_t>(r, 8);
    *logical = gal::pointerField(r, 16);
    return gcvSTATUS_OK;
}

gceSTATUS queueUnlock(gcsIO_REQUEST& r) {
    gceSTATUS status = gcoHARDWARE_CallEvent(nullptr, &r);
    if (status >= 0) status = gcoHARDWARE_Commit(nullptr);
    return status;
}

}  // namespace

extern "C" {

gceSTATUS gcoOS_DeviceControl(gcoOS, uint32_t ioctlCode, void* in, uint32_t inSize, void* out,
                              uint32_t outSize) {
    if (!gcPLS.os) return gcvSTATUS_DEVICE;
    if (!in || inSize < sizeof(gcsIO_REQUEST)) return gcvSTATUS_INVALID_ARGUMENT;
    auto* request = static_cast<gcsIO_REQUEST*>(in);
    uint32_t type = HW_TYPE_2D;
    gceSTATUS status = gal::currentType(type);
    if (status < 0) return status;
    request->hardwareType = type;

    if (request->command == CMD_MAP_MEMORY) {
        // Each pool is mapped at its own physical address, so that a node's logical address
        // lies where the node is.
        const uint64_t physical = gal::field<uint64_t>(*request, 0);
        const uint64_t bytes = gal::field<uint64_t>(*request, 8);
        if (bytes != 0 && fitsSize(bytes)) {
            void* p = veld::gpu_device::mmap(gcPLS.os->device, size_t(bytes),
                                             PROT_READ | PROT_WRITE, MAP_SHARED, physical);
            if (p != MAP_FAILED) {
                gal::setPointer(*request, 16, p);
                request->status = gcvSTATUS_OK;
                return gcvSTATUS_OK;
            }
        }
    } else if (request->command == CMD_UNMAP_MEMORY) {
        const uint64_t bytes = gal::field<uint64_t>(*request, 8);
        if (fitsSize(bytes))
            veld::gpu_device::munmap(gal::pointerField(*request, 16), size_t(bytes));
        request->status = gcvSTATUS_OK;
        return gcvSTATUS_OK;
    }

    gcsIO_ARGS args{};
    args.inPointer = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(in));
    args.inSize = inSize;
    args.outPointer = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(out));
    args.outSize = outSize;
    for (int attempt = 1;; ++attempt) {
        if (veld::gpu_device::ioctl(gcPLS.os->device, ioctlCode, &args) == 0) break;
        if (errno != EINTR || attempt >= kMaxInterruptedAttempts) return gcvSTATUS_GENERIC_IO;
    }
    return static_cast<gcsIO_REQUEST*>(out)->status;
}

gceSTATUS gcoOS_Allocate(gcoOS os, size_t bytes, void** memory) {
    if (!memory) return gcvSTATUS_INVALID_ARGUMENT;
    if (gcPLS.os && gcPLS.os->heap) return gcoHEAP_Allocate(gcPLS.os->heap, bytes, memory);
    return gcoOS_AllocateMemory(os, bytes, memory);
}

gceSTATUS gcoOS_Free(gcoOS os, void* memory) {
    if (!memory) return gcvSTATUS_OK;
    if (gcPLS.os && gcPLS.os->heap) return gcoHEAP_Free(gcPLS.os->heap, memory);
    return gcoOS_FreeMemory(os, memory);
}

gceSTATUS gcoOS_AllocateMemory(gcoOS os, size_t bytes, void** memory) {
    if (!memory) return gcvSTATUS_INVALID_ARGUMENT;
    *memory = nullptr;
    if (bytes > std::numeric_limits<size_t>::max() - kHeader) return gcvSTATUS_OUT_OF_MEMORY;
    auto* block = static_cast<uint8_t*>(std::malloc(bytes + kHeader));
    if (!block) return gcvSTATUS_OUT_OF_MEMORY;
    std::memcpy(block, &bytes, sizeof bytes);
    _gcoOS* stats = gcPLS.os ? gcPLS.os : os;
    if (stats) {
        ++stats->allocations;
        stats->allocatedBytes += static_cast<uint32_t>(bytes);
        if (stats->allocatedBytes > stats->peakBytes) stats->peakBytes = stats->allocatedBytes;
    }
    *memory = block + kHeader;
    return gcvSTATUS_OK;
}

gceSTATUS gcoOS_FreeMemory(gcoOS os, void* memory) {
    if (!memory) return gcvSTATUS_OK;
    uint8_t* block = static_cast<uint8_t*>(memory) - kHeader;
    size_t bytes = 0;
    std::memcpy(&bytes, block, sizeof bytes);
    _gcoOS* stats = gcPLS.os ? gcPLS.os : os;
    if (stats) {
        ++stats->frees;
        stats->freedBytes += static_cast<uint32_t>(bytes);
        stats->allocatedBytes -= static_cast<uint32_t>(bytes);
    }
    std::free(block);
    return gcvSTATUS_OK;
}

gceSTATUS gcoOS_AllocateSharedMemory(gcoOS os, size_t bytes, void** memory) {
    return gcoOS_Allocate(os, bytes, memory);
}

gceSTATUS gcoOS_FreeSharedMemory(gcoOS os, void* memory) { return gcoOS_Free(os, memory); }

gceSTATUS gcoOS_GetMemorySize(gcoOS, void* memory, size_t* bytes) {
    if (!bytes) return gcvSTATUS_INVALID_ARGUMENT;
    *bytes = 0;
    if (gcPLS.os && gcPLS.os->heap) return gcoHEAP_GetMemorySize(gcPLS.os->heap, memory, bytes);
    return gcvSTATUS_OK;
}

gceSTATUS gcoOS_AllocateNonPagedMemory(gcoOS, int32_t, size_t* bytes, uint64_t* physical,
                                       void** logical) {
    return allocateKernelMemory(CMD_ALLOCATE_NON_PAGED_MEMORY, bytes, physical, logical);
}

gceSTATUS gcoOS_FreeNonPagedMemory(gcoOS, size_t bytes, uint64_t physical, void* logical) {
    gcsIO_REQUEST r = gal::request(CMD_FREE_NON_PAGED_MEMORY);
    gal::setField<uint32_t>(r, 0, static_cast<uint32_t>(bytes));
    gal::setField<uint64_t>(r, 8, physical);
    gal::setPointer(r, 16, logical);
    return call(r);
}

gceSTATUS gcoOS_AllocateContiguous(gcoOS, int32_t, size_t* bytes, uint64_t* physical,
                                   void** logical) {
    return allocateKernelMemory(CMD_ALLOCATE_CONTIGUOUS_MEMORY, bytes, physical, logical);
}

gceSTATUS gcoOS_FreeContiguous(gcoOS, uint64_t physical, void* logical, size_t bytes) {
    gcsIO_REQUEST r = gal::request(CMD_FREE_CONTIGUOUS_MEMORY);
    gal::setField<uint32_t>(r, 0, static_cast<uint32_t>(bytes));
    gal::setField<uint64_t>(r, 8, physical);
    gal::setPointer(r, 16, logical);
    return call(r);
}

gceSTATUS gcoOS_AllocateVideoMemory(gcoOS, int32_t cacheable, size_t* bytes, uint32_t* physical,
                                    void** logical, uint32_t* node) {
    if (!bytes || !physical || !logical || !node) return gcvSTATUS_INVALID_ARGUMENT;
    if (*bytes == 0 || *bytes > 0xFFFFFFFFu) return gcvSTATUS_INVALID_ARGUMENT;
    gal::TypeScope scope(HW_TYPE_3D);
    if (scope.status() < 0) return scope.status();
    gcsIO_REQUEST r = gal::request(CMD_ALLOCATE_VIDEO_MEMORY);
    gal::setField<uint32_t>(r, 0, static_cast<uint32_t>(*bytes));
    gal::setField<uint32_t>(r, 4, 64);
    gal::setField<uint32_t>(r, 8, 6);
    gal::setField<uint32_t>(r, 12, cacheable ? 3 : 1);
    gal::setField<uint32_t>(r, 16, GAL_POOL_DEFAULT);
    gceSTATUS status = call(r);
    if (status < 0) return status;
    const uint32_t granted = gal::field<uint32_t>(r, 0);
    const uint32_t handle = gal::field<uint32_t>(r, 20);

    gcsIO_REQUEST lock = gal::request(CMD_LOCK_VIDEO_MEMORY);
    gal::setField<uint32_t>(lock, 0, handle);
    gal::setField<uint32_t>(lock, 4, cacheable ? 1 : 0);
    status = call(lock);
    if (status < 0) {
        // A node that cannot be locked is given back, not left behind.
        gcsIO_REQUEST release = gal::request(CMD_RELEASE_VIDEO_MEMORY);
        gal::setField<uint32_t>(release, 0, handle);
        call(release);
        return status;
    }
    *bytes = granted;
    *node = handle;
    *logical = gal::pointerField(lock, 16);
    *physical = gal::field<uint32_t>(lock, 32) - (gcPLS.os ? gcPLS.os->baseAddress : 0);
    return gcvSTATUS_OK;
}

gceSTATUS gcoOS_FreeVideoMemory(gcoOS, uint32_t node) {
    gal::TypeScope scope(HW_TYPE_3D);
    if (scope.status() < 0) return scope.status();
    // Unlock first, then release: the node may not be released while it is still locked.
    gcsIO_REQUEST unlock = gal::request(CMD_UNLOCK_VIDEO_MEMORY);
    gal::setField<uint32_t>(unlock, 0, node);
    gal::setField<uint32_t>(unlock, 8, 6);
    gal::setField<uint32_t>(unlock, 12, 1);
    gceSTATUS status = call(unlock);
    if (status < 0) return status;
    if (gal::field<uint32_t>(unlock, 12) != 0) {
        // The GPU may still use the memory: the unlock completes as a deferred event.
        status = queueUnlock(unlock);
        if (status < 0) return status;
    }
    gcsIO_REQUEST release = gal::request(CMD_RELEASE_VIDEO_MEMORY);
    gal::setField<uint32_t>(release, 0, node);
    return call(release);
}

gceSTATUS gcoOS_MapUserMemory(gcoOS os, void* memory, size_t size, uint32_t* info,
                              uint32_t* address) {
    return gcoOS_MapUserMemoryEx(os, memory, 0xFFFFFFFFu, size, info, address);
}

gceSTATUS gcoOS_MapUserMemoryEx(gcoOS, void* memory, uint64_t physical, size_t size,
                                uint32_t* info, uint32_t* address) {
    if (!info || !address || size == 0) return gcvSTATUS_INVALID_ARGUMENT;
    gcsIO_REQUEST r = gal::request(CMD_MAP_USER_MEMORY);
    gal::setPointer(r, 0, memory);
    gal::setField<uint64_t>(r, 8, physical);
    gal::setField<uint64_t>(r, 16, size);
    const gceSTATUS status = call(r);
    if (status < 0) return status;
    *info = gal::field<uint32_t>(r, 24);
    *address = gal::field<uint32_t>(r, 28);
    return gcvSTATUS_OK;
}

gceSTATUS gcoOS_UnmapUserMemory(gcoOS, void* memory, size_t size, uint32_t info,
                                uint32_t address) {
    gcsIO_REQUEST r = gal::request(CMD_UNMAP_USER_MEMORY);
    gal::setPointer(r, 0, memory);
    gal::setField<uint64_t>(r, 8, size);
    gal::setField<uint32_t>(r, 16, info);
    gal::setField<uint32_t>(r, 20, address);
    return call(r);
}

gceSTATUS gcoOS_QueryVideoMemory(gcoOS, uint64_t* internalPhysical, size_t* internalBytes,
                                 uint64_t* externalPhysical, size_t* externalBytes,
                                 uint64_t* contiguousPhysical, size_t* contiguousBytes) {
    gcsIO_REQUEST r = gal::request(CMD_QUERY_VIDEO_MEMORY);
    const gceSTATUS status = call(r);
    if (status < 0) return status;
    if (internalPhysical) *internalPhysical = gal::field<uint64_t>(r, 0);
    if (internalBytes) *internalBytes = size_t(gal::field<uint64_t>(r, 8));
    if (externalPhysical) *externalPhysical = gal::field<uint64_t>(r, 16);
    if (externalBytes) *externalBytes = size_t(gal::field<uint64_t>(r, 24));
    if (contiguousPhysical) *contiguousPhysical = gal::field<uint64_t>(r, 32);
    if (contiguousBytes) *contiguousBytes = size_t(gal::field<uint64_t>(r, 40));
    return gcvSTATUS_OK;
}

gceSTATUS gcoOS_GetBaseAddress(gcoOS, uint32_t* baseAddress) {
    if (!baseAddress) return gcvSTATUS_INVALID_ARGUMENT;
    uint32_t type = HW_TYPE_2D;
    const gceSTATUS status = gal::currentType(type);
    if (status < 0) return status;
    *baseAddress = (type == HW_TYPE_COMBINED || !gcPLS.os) ? 0 : gcPLS.os->baseAddress;
    return gcvSTATUS_OK;
}

gceSTATUS gcoOS_CPUPhysicalToGPUPhysical(uint32_t, uint32_t*) { return gcvSTATUS_OK; }

}  // extern "C"

namespace {

gceSTATUS cacheOperation(uint32_t operation, uint32_t node, void* logical, size_t bytes) {
    gcsIO_REQUEST r = gal::request(CMD_CACHE);
    gal::setField<uint32_t>(r, 0, operation);
    gal::setPointer(r, 16, logical);
    gal::setField<uint64_t>(r, 24, bytes);
    gal::setField<uint32_t>(r, 32, node);
    return call(r);
}

gceSTATUS userSignal(uint32_t subCommand, gcsIO_REQUEST& r) {
    r.command = CMD_USER_SIGNAL;
    gal::setField<uint32_t>(r, 0, subCommand);
    return gcoOS_DeviceControl(nullptr, GAL_IOCTL_REQUEST, &r, sizeof r, &r, sizeof r);
}

uint32_t signalId(gcsSIGNAL_PTR signal) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(signal));
}

}  // namespace

extern "C" {

gceSTATUS gcoOS_CacheClean(gcoOS, uint32_t node, void* logical, size_t bytes) {
    return cacheOperation(1, node, logical, bytes);
}
gceSTATUS gcoOS_CacheInvalidate(gcoOS, uint32_t node, void* logical, size_t bytes) {
    return cacheOperation(2, node, logical, bytes);
}
gceSTATUS gcoOS_CacheFlush(gcoOS, uint32_t node, void* logical, size_t bytes) {
    return cacheOperation(3, node, logical, bytes);
}
gceSTATUS gcoOS_MemoryBarrier(gcoOS, void* logical) { return cacheOperation(4, 0, logical, 0); }

gceSTATUS gcoOS_ReadRegister(gcoOS, uint32_t address, uint32_t* data) {
    if (!data) return gcvSTATUS_INVALID_ARGUMENT;
    gcsIO_REQUEST r = gal::request(CMD_READ_REGISTER);
    gal::setField<uint32_t>(r, 0, address);
    gal::setField<uint32_t>(r, 4, 0xDEADDEADu);
    const gceSTATUS status = call(r);
    if (status >= 0) *data = gal::field<uint32_t>(r, 4);
    return status;
}

gceSTATUS gcoOS_WriteRegister(gcoOS, uint32_t address, uint32_t data) {
    gcsIO_REQUEST r = gal::request(CMD_WRITE_REGISTER);
    gal::setField<uint32_t>(r, 0, address);
    gal::setField<uint32_t>(r, 4, data);
    return call(r);
}

gceSTATUS gcoOS_CreateSignal(gcoOS, int32_t manualReset, gcsSIGNAL_PTR* signal) {
    if (!signal) return gcvSTATUS_INVALID_ARGUMENT;
    gcsIO_REQUEST r{};
    gal::setField<uint32_t>(r, 8, manualReset ? 1 : 0);
    const gceSTATUS status = userSignal(USER_SIGNAL_CREATE, r);
    if (status < 0) return status;
    *signal = reinterpret_cast<gcsSIGNAL_PTR>(uintptr_t(gal::field<uint32_t>(r, 4)));
    return gcvSTATUS_OK;
}

gceSTATUS gcoOS_DestroySignal(gcoOS, gcsSIGNAL_PTR signal) {
    gcsIO_REQUEST r{};
    gal::setField<uint32_t>(r, 4, signalId(signal));
    return userSignal(USER_SIGNAL_DESTROY, r);
}

gceSTATUS gcoOS_Signal(gcoOS, gcsSIGNAL_PTR signal, int32_t state) {
    gcsIO_REQUEST r{};
    gal::setField<uint32_t>(r, 4, signalId(signal));
    gal::setField<uint32_t>(r, 16, state ? 1 : 0);
    return userSignal(USER_SIGNAL_SIGNAL, r);
}

gceSTATUS gcoOS_WaitSignal(gcoOS, gcsSIGNAL_PTR signal, uint32_t wait) {
    gcsIO_REQUEST r{};
    gal::setField<uint32_t>(r, 4, signalId(signal));
    gal::setField<uint32_t>(r, 12, wait);
    return userSignal(USER_SIGNAL_WAIT, r);
}

gceSTATUS gcoOS_MapSignal(gcsSIGNAL_PTR signal, gcsSIGNAL_PTR* mapped) {
    if (!mapped) return gcvSTATUS_INVALID_ARGUMENT;
    gcsIO_REQUEST r{};
    gal::setField<uint32_t>(r, 4, signalId(signal));
    const gceSTATUS status = userSignal(USER_SIGNAL_MAP, r);
    if (status >= 0) *mapped = reinterpret_cast<gcsSIGNAL_PTR>(uintptr_t(gal::field<uint32_t>(r, 4)));
    return status;
}

gceSTATUS gcoOS_UnmapSignal(gcsSIGNAL_PTR signal) {
    gcsIO_REQUEST r{};
    gal::setField<uint32_t>(r, 4, signalId(signal));
    return userSignal(USER_SIGNAL_UNMAP, r);
}

}  // extern "C"
