// Surfaces (gcoSURF): construction with the 2D alignment and plane layout of each format,
// video memory through the kernel (allocated and locked at construction, released only after
// the commands that use it have run), user-memory surfaces, locking, queries, and the
// surface's use as a 2D source or target (Set2DSource/Target, Clear2D, Blit).
#include <cstring>
#include <new>

#include "gal_states.h"
#include "surface_record.h"


namespace {

using gal::kSurfMagic;
constexpr uint32_t kPoolUser = GAL_POOL_USER;

bool valid(gcoSURF s) { return gal::surfaceValid(s); }

uint32_t pipeCount() {
    gcoHARDWARE hw = nullptr;
    if (gal::resolveHardware(hw) < 0 || !hw || hw->identity.further[0] == 0) return 1;
    return hw->identity.further[0];
}

// Stride, plane offsets and sizes for the aligned width and height; false when the size does
// not fit 32 bits.
bool layout(_gcoSURF& s) {
    const uint64_t w = s.alignedWidth, h = s.alignedHeight;
    uint64_t stride = 0, size = 0;
    s.uOffset = s.vOffset = s.uStride = s.vStride = 0;
    switch (s.format) {
    case 500: case 501: case 508: case 509:
        stride = 2 * w;
        s.uStride = s.vStride = uint32_t(2 * w);
        size = 2 * w * h;
        break;
    case 502: case 503: {
        // Chroma planes start on 64-byte boundaries, so that the 2D engine can use them.
        stride = w;
        const uint64_t chromaStride = w / 2;
        const uint64_t chromaBytes = (h / 2) * chromaStride;
        const uint64_t first = (w * h + 63) & ~uint64_t(63);
        const uint64_t second = (first + chromaBytes + 63) & ~uint64_t(63);
        s.uStride = s.vStride = uint32_t(chromaStride);
        if (s.format == 502) {  // YV12: V first
            s.vOffset = uint32_t(first);
            s.uOffset = uint32_t(second);
        } else {
            s.uOffset = uint32_t(first);
            s.vOffset = uint32_t(second);
        }
        size = second + chromaBytes;
        break;
    }
    case 504: case 505: case 506: case 507:
        stride = w;
        s.uStride = s.vStride = uint32_t(w);
        s.uOffset = s.vOffset = uint32_t(w * h);
        size = s.format <= 505 ? w * h * 3 / 2 : 2 * w * h;
        break;
    default: {
        const uint64_t blockBits = s.info.blockSize / std::max(1u, s.info.layers);
        stride = blockBits * (w / std::max(1u, s.info.blockWidth)) / 8;
        size = stride * (h / std::max(1u, s.info.blockHeight));
    }
    }
    const uint64_t layer = size * s.depth;
    const uint64_t total = layer * std::max(1u, s.info.layers);
    if (stride > 0xFFFFFFFFu || total > 0xFFFFFFFFu) return false;
    s.stride = uint32_t(stride);
    s.sliceSize = size;
    s.layerSize = layer;
    s.totalSize = total;
    return true;
}

uint32_t planeCount(uint32_t format) {
    if (format == 502 || format == 503) return 3;
    if (format >= 504 && format <= 507) return 2;
    return 1;
}



void freeRecord(gcoSURF s) {
    s->magic = 0;
    gcoOS_Free(nullptr, s);
}

// Gives the node back once the GPU is done with it: the unlock and the release go as events
// behind the commands already queued.
void releaseNode(gcoSURF s) {
    if (!s->node.valid) return;
    if (s->node.pool != kPoolUser) {
        // Queued on the calling thread's hardware, behind the commands it has written.
        gcsIO_REQUEST unlock = gal::request(CMD_UNLOCK_VIDEO_MEMORY);
        gal::setField<uint32_t>(unlock, 0, s->node.node);
        gal::setField<uint32_t>(unlock, 8, s->type & ~0x200u);
        gal::setField<uint32_t>(unlock, 12, 1);
        gcoHARDWARE_CallEvent(nullptr, &unlock);
        gcoHARDWARE_ScheduleVideoMemory(&s->node);
    } else if (s->mapped) {
        gcoHAL_ScheduleUnmapUserMemory(nullptr, s->node.mappingInfo, s->node.mappedSize,
                                       s->node.physical, s->userMemory);
    }
    s->node.valid = 0;
}

}  // namespace

extern "C" {

gceSTATUS gcoSURF_GetAlignment(uint32_t type, uint32_t format, uint32_t* addressAlignment,
                               uint32_t* xAlignment, uint32_t* yAlignment) {
    gcsSURF_FORMAT_INFO* info = nullptr;
    const gceSTATUS status = gcoSURF_QueryFormat(format & 0x7FFFFFFFu, &info);
    if (status < 0) return status;
    const uint32_t x = type == 3 ? 4 : 16;
    if (xAlignment) *xAlignment = x;
    if (yAlignment) *yAlignment = 4;
    if (addressAlignment) *addressAlignment = info->bitsPerPixel * x * 4 / 8;
    return gcvSTATUS_OK;
}

gceSTATUS gcoSURF_Construct(gcoHAL, uint32_t width, uint32_t height, uint32_t depth,
                            uint32_t type, uint32_t format, uint32_t pool, gcoSURF* surface) {
    if (!surface) return gcvSTATUS_INVALID_ARGUMENT;
    gcsSURF_FORMAT_INFO* info = nullptr;
    gceSTATUS status = gcoSURF_QueryFormat(format & 0x7FFFFFFFu, &info);
    if (status < 0) return status;
    void* memory = nullptr;
    status = gcoOS_Allocate(nullptr, sizeof(_gcoSURF), &memory);
    if (status < 0) return status;
    std::memset(memory, 0, sizeof(_gcoSURF));
    auto* s = new (memory) _gcoSURF{};
    s->magic = kSurfMagic;
    s->type = type & 0xFF;
    s->hints = type & ~0xFFu & ~gcvSURF_CACHEABLE;
    s->node.cacheable = (type & gcvSURF_CACHEABLE) ? 1 : 0;
    s->format = format & 0x7FFFFFFFu;
    s->info = *info;
    s->width = width;
    s->height = height;
    s->depth = depth ? depth : 1;
    s->references = 1;
    s->bitsPerPixel = info->bitsPerPixel;
    s->is16Bit = info->bitsPerPixel == 16;
    s->planes = planeCount(s->format);
    if (s->type == 3) s->hints |= 0x4000;
    s->tiling = s->type < 3 ? 1 : s->type == 3 ? ((s->hints & 0x2000) ? 1 : 2) : 1;
    for (uint32_t& a : s->addresses) a = 0xFFFFFFFFu;
    const uint32_t w = width ? width : 1, h = height ? height : 1;
    if (pool == kPoolUser) {
        s->alignedWidth = (w + info->blockWidth - 1) / info->blockWidth * info->blockWidth;
        s->alignedHeight = (h + info->blockHeight - 1) / info->blockHeight * info->blockHeight;
    } else {
        if (s->depth > 1 && (s->hints & 0x100)) {
            freeRecord(s);
            return gcvSTATUS_NOT_SUPPORTED;
        }
        const uint32_t xAlign = s->type == 3 ? 4 : 16;
        const uint32_t yAlign = s->type == 3 ? 4 : 4 * pipeCount();
        s->alignedWidth = uint32_t((uint64_t(w) + xAlign - 1) / xAlign * xAlign);
        s->alignedHeight = uint32_t((uint64_t(h) + yAlign - 1) / yAlign * yAlign);
    }
    if (!layout(*s)) {
        freeRecord(s);
        return gcvSTATUS_OUT_OF_MEMORY;
    }
    s->node.pool = pool == kPoolUser ? kPoolUser : (pool ? pool : uint32_t(GAL_POOL_DEFAULT));
    if (pool != kPoolUser && !(s->hints & gcvSURF_NO_VIDMEM)) {
        size_t bytes = size_t(s->totalSize) + (s->type == 6 ? 256 : 0);
        uint32_t gpu = 0, node = 0;
        void* logical = nullptr;
        status = gcoOS_AllocateVideoMemory(nullptr, int32_t(s->node.cacheable), &bytes, &gpu,
                                           &logical, &node);
        if (status < 0) {
            freeRecord(s);
            return status;
        }
        s->node.node = node;
        s->node.size = uint32_t(bytes);
        s->node.valid = 1;
        s->node.locked = 1;
        s->node.physical = gpu;
        s->node.logical = logical;
        s->node.lockedType = s->type;
    }
    *surface = s;
    return gcvSTATUS_OK;
}

gceSTATUS gcoSURF_ConstructWrapper(gcoHAL hal, gcoSURF* surface) {
    if (!surface) return gcvSTATUS_INVALID_ARGUMENT;
    gceSTATUS status = gcoSURF_Construct(hal, 1, 1, 1, 6 | gcvSURF_NO_VIDMEM, 212, kPoolUser, surface);
    if (status >= 0) (*surface)->planes = 1;
    return status;
}

gceSTATUS gcoSURF_Destroy(gcoSURF s) {
    if (!valid(s)) return gcvSTATUS_INVALID_OBJECT;
    if (--s->references > 0) return gcvSTATUS_OK;
    releaseNode(s);
    if (s->sharedBuffer && s->ownsSharedBuffer) gcoHAL_DestroyShBuffer(s->sharedBuffer);
    freeRecord(s);
    return gcvSTATUS_OK;
}

gceSTATUS gcoSURF_ReferenceSurface(gcoSURF s) {
    if (!valid(s)) return gcvSTATUS_INVALID_OBJECT;
    ++s->references;
    return gcvSTATUS_OK;
}

gceSTATUS gcoSURF_QueryReferenceCount(gcoSURF s, uint32_t* count) {
    if (!valid(s)) return gcvSTATUS_INVALID_OBJECT;
    if (!count) return gcvSTATUS_INVALID_ARGUMENT;
    *count = s->references;
    return gcvSTATUS_OK;
}

gceSTATUS gcoSURF_IsValid(gcoSURF s) { return valid(s) ? gcvSTATUS_TRUE : gcvSTATUS_INVALID_OBJECT; }

gceSTATUS gcoSURF_Lock(gcoSURF s, uint32_t* addresses, void** memory) {
    if (!valid(s)) return gcvSTATUS_INVALID_OBJECT;
    if (!s->node.valid) return gcvSTATUS_MEMORY_UNLOCKED;  // an unmapped user surface
    ++s->userLocks;
    ++s->node.lockCount;
    const uint32_t base = s->node.physical;
    auto* logical = static_cast<uint8_t*>(s->node.logical);
    uint32_t a[3], strides[3];
    gal::surfacePlanes(*s, base, a, strides);
    for (uint32_t p = 0; p < 3; ++p) {
        const bool present = p < s->planes;
        const uint32_t offset = a[p] - base;
        s->addresses[p] = present ? a[p] : 0xFFFFFFFFu;
        s->memory[p] = present ? logical + offset : nullptr;
        if (addresses) addresses[p] = present ? a[p] : 0;
        if (memory) memory[p] = present ? logical + offset : nullptr;
    }
    return gcvSTATUS_OK;
}

gceSTATUS gcoSURF_Unlock(gcoSURF s, void*) {
    if (!valid(s)) return gcvSTATUS_INVALID_OBJECT;
    // Never below zero.
    if (s->userLocks == 0) return gcvSTATUS_MEMORY_UNLOCKED;
    --s->userLocks;
    --s->node.lockCount;
    return gcvSTATUS_OK;
}

gceSTATUS gcoSURF_GetSize(gcoSURF s, uint32_t* width, uint32_t* height, uint32_t* depth) {
    if (!valid(s)) return gcvSTATUS_INVALID_OBJECT;
    if (width) *width = s->width;
    if (height) *height = s->height;
    if (depth) *depth = s->depth;
    return gcvSTATUS_OK;
}

gceSTATUS gcoSURF_GetAlignedSize(gcoSURF s, uint32_t* width, uint32_t* height, int32_t* stride) {
    if (!valid(s)) return gcvSTATUS_INVALID_OBJECT;
    if (width) *width = s->alignedWidth;
    if (height) *height = s->alignedHeight;
    if (stride) *stride = int32_t(s->stride);
    return gcvSTATUS_OK;
}

gceSTATUS gcoSURF_GetFormat(gcoSURF s, uint32_t* type, uint32_t* format) {
    if (!valid(s)) return gcvSTATUS_INVALID_OBJECT;
    if (type) *type = s->type;
    if (format) *format = s->format;
    return gcvSTATUS_OK;
}

gceSTATUS gcoSURF_GetFormatInfo(gcoSURF s, gcsSURF_FORMAT_INFO** info) {
    if (!valid(s)) return gcvSTATUS_INVALID_OBJECT;
    if (!info) return gcvSTATUS_INVALID_ARGUMENT;
    *info = &s->info;
    return gcvSTATUS_OK;
}

gceSTATUS gcoSURF_GetTiling(gcoSURF s, uint32_t* tiling) {
    if (!valid(s)) return gcvSTATUS_INVALID_OBJECT;
    if (!tiling) return gcvSTATUS_INVALID_ARGUMENT;
    *tiling = s->tiling;
    return gcvSTATUS_OK;
}

gceSTATUS gcoSURF_QueryVidMemNode(gcoSURF s, uint32_t* node, uint32_t* pool, uint32_t* bytes) {
    if (!valid(s)) return gcvSTATUS_INVALID_OBJECT;
    if (node) *node = s->node.node;
    if (pool) *pool = s->node.pool;
    if (bytes) *bytes = s->node.size;
    return gcvSTATUS_OK;
}

gceSTATUS gcoSURF_QueryFlags(gcoSURF s, uint32_t flag) {
    if (!valid(s)) return gcvSTATUS_INVALID_OBJECT;
    return (s->flags & flag) ? gcvSTATUS_TRUE : gcvSTATUS_OK;
}

gceSTATUS gcoSURF_SetFlags(gcoSURF s, uint32_t flag, int32_t value) {
    if (!valid(s)) return gcvSTATUS_INVALID_OBJECT;
    s->flags = value ? (s->flags | flag) : (s->flags & ~flag);
    return gcvSTATUS_OK;
}

#define SURF_GETTER(name, field)                             \
    gceSTATUS gcoSURF_##name(gcoSURF s, uint32_t* out) {     \
        if (!valid(s)) return gcvSTATUS_INVALID_OBJECT;      \
        if (!out) return gcvSTATUS_INVALID_ARGUMENT;         \
        *out = s->field;                                     \
        return gcvSTATUS_OK;                                 \
    }
#define SURF_SETTER(name, field, type)                       \
    gceSTATUS gcoSURF_##name(gcoSURF s, type value) {        \
        if (!valid(s)) return gcvSTATUS_INVALID_OBJECT;      \
        s->field = uint32_t(value);                          \
        return gcvSTATUS_OK;                                 \
    }

SURF_GETTER(QueryOrientation, orientation)
SURF_SETTER(SetOrientation, orientation, uint32_t)
SURF_SETTER(SetRotation, rotation, uint32_t)
SURF_GETTER(GetColorType, colorType)
SURF_SETTER(SetColorType, colorType, uint32_t)
SURF_GETTER(GetColorSpace, colorSpace)
SURF_SETTER(SetColorSpace, colorSpace, uint32_t)
SURF_SETTER(SetDither, dither, int32_t)
SURF_SETTER(SetOffset, offset, uint32_t)

gceSTATUS gcoSURF_QueryTimeStamp(gcoSURF s, uint64_t* stamp) {
    if (!valid(s)) return gcvSTATUS_INVALID_OBJECT;
    if (!stamp) return gcvSTATUS_INVALID_ARGUMENT;
    *stamp = s->timeStamp;
    return gcvSTATUS_OK;
}

gceSTATUS gcoSURF_UpdateTimeStamp(gcoSURF s) {
    if (!valid(s)) return gcvSTATUS_INVALID_OBJECT;
    ++s->timeStamp;
    return gcvSTATUS_OK;
}

gceSTATUS gcoSURF_SetResolvability(gcoSURF, int32_t) { return gcvSTATUS_OK; }
gceSTATUS gcoSURF_Fill(gcoSURF) { return gcvSTATUS_OK; }
gceSTATUS gcoSURF_Blend(gcoSURF) { return gcvSTATUS_OK; }

gceSTATUS gcoSURF_CPUCacheOperation(gcoSURF s, uint32_t operation) {
    if (!valid(s)) return gcvSTATUS_INVALID_OBJECT;
    if (operation < 1 || operation > 3) return gcvSTATUS_INVALID_ARGUMENT;
    // Video memory of this driver is not cached by the processor; user memory is the user's.
    return gcvSTATUS_OK;
}

static gceSTATUS mapUser(gcoSURF s, uint32_t alignment, void* memory, uint32_t physical,
                         bool wrap) {
    if (!valid(s)) return gcvSTATUS_INVALID_OBJECT;
    if (s->node.pool != kPoolUser) return gcvSTATUS_NOT_SUPPORTED;
    if (s->mapped) {
        if (memory != s->userMemory || physical != s->userPhysical) return gcvSTATUS_INVALID_ARGUMENT;
        return gcvSTATUS_OK;
    }
    if (!memory && physical == 0xFFFFFFFFu) return gcvSTATUS_INVALID_ARGUMENT;
    if (alignment) {
        const bool planar = s->planes > 1;
        const uint32_t unit = planar ? 1 : std::max(1u, s->bitsPerPixel / 8);
        const uint32_t strideUnits = planar ? s->alignedWidth : s->stride;
        const uint32_t rounded = (strideUnits + alignment - 1) / alignment * alignment;
        if (planar) s->alignedWidth = rounded;
        else s->alignedWidth = rounded / unit;
        if (!layout(*s)) return gcvSTATUS_OUT_OF_MEMORY;
        if (!planar) s->stride = rounded;
    }
    uint32_t info = 0, address = physical;
    if (!wrap) {
        const gceSTATUS status = gcoHAL_MapUserMemory(nullptr, memory, physical,
                                                      size_t(s->totalSize), &info, &address);
        if (status < 0) return status;
    }
    s->userMemory = memory;
    s->userPhysical = physical;
    s->mapped = 1;
    s->node.mappingInfo = info;
    s->node.mappedSize = uint32_t(s->totalSize);
    s->node.physical = address;
    s->node.logical = memory;
    s->node.valid = 1;
    s->node.lockedType = s->type;
    return gcvSTATUS_OK;
}

gceSTATUS gcoSURF_MapUserSurface(gcoSURF s, uint32_t alignment, void* memory, uint32_t physical) {
    return mapUser(s, alignment, memory, physical, false);
}

gceSTATUS gcoSURF_WrapSurface(gcoSURF s, uint32_t alignment, void* memory, uint32_t physical) {
    return mapUser(s, alignment, memory, physical, true);
}

gceSTATUS gcoSURF_SetBuffer(gcoSURF s, uint32_t type, uint32_t format, uint32_t stride,
                            void* logical, uint32_t physical) {
    if (!valid(s)) return gcvSTATUS_INVALID_OBJECT;
    if (s->node.pool != kPoolUser) return gcvSTATUS_NOT_SUPPORTED;
    gcsSURF_FORMAT_INFO* info = nullptr;
    const gceSTATUS status = gcoSURF_QueryFormat(format, &info);
    if (status < 0) return status;
    s->type = type & 0xFF;
    s->format = format;
    s->info = *info;
    s->bitsPerPixel = info->bitsPerPixel;
    s->planes = planeCount(format);
    s->stride = stride;
    s->userMemory = logical;
    s->userPhysical = physical;
    return gcvSTATUS_OK;
}

gceSTATUS gcoSURF_SetWindow(gcoSURF s, uint32_t, uint32_t, uint32_t width, uint32_t height) {
    if (!valid(s)) return gcvSTATUS_INVALID_OBJECT;
    if (s->node.pool != kPoolUser || s->mapped) return gcvSTATUS_NOT_SUPPORTED;
    s->width = s->alignedWidth = width;
    s->height = s->alignedHeight = height;
    const uint32_t stride = s->stride;
    if (!layout(*s)) return gcvSTATUS_OUT_OF_MEMORY;
    if (stride > s->stride) s->stride = stride;
    s->totalSize = uint64_t(s->stride) * height;
    return mapUser(s, 0, s->userMemory, s->userPhysical, s->userMemory == nullptr);
}


gceSTATUS gcoSURF_GetBottomBufferOffset(gcoSURF s, uint32_t* offset) {
    if (!valid(s)) return gcvSTATUS_INVALID_OBJECT;
    if (!offset) return gcvSTATUS_INVALID_ARGUMENT;
    *offset = 0;  // surfaces of this driver are progressive: no second field
    return gcvSTATUS_OK;
}

gceSTATUS gcoSURF_SetClipping(gcoSURF s) {
    return valid(s) ? gcvSTATUS_OK : gcvSTATUS_INVALID_OBJECT;
}

// A user surface takes a new size and format before it is mapped.
gceSTATUS gcoSURF_ResetSurWH(gcoSURF s, uint32_t width, uint32_t height, uint32_t alignedWidth,
                             uint32_t alignedHeight, uint32_t format) {
    if (!valid(s)) return gcvSTATUS_INVALID_OBJECT;
    if (s->node.pool != kPoolUser || s->mapped) return gcvSTATUS_NOT_SUPPORTED;
    if (alignedWidth < width || alignedHeight < height) return gcvSTATUS_INVALID_ARGUMENT;
    gcsSURF_FORMAT_INFO* info = nullptr;
    const gceSTATUS status = gcoSURF_QueryFormat(format, &info);
    if (status < 0) return status;
    _gcoSURF saved = *s;
    s->format = format;
    s->info = *info;
    s->bitsPerPixel = info->bitsPerPixel;
    s->is16Bit = info->bitsPerPixel == 16;
    s->planes = planeCount(format);
    s->width = width;
    s->height = height;
    s->alignedWidth = alignedWidth;
    s->alignedHeight = alignedHeight;
    if (!layout(*s)) {
        *s = saved;
        return gcvSTATUS_OUT_OF_MEMORY;
    }
    return gcvSTATUS_OK;
}

gceSTATUS gcoSURF_SetAlignment(gcoSURF s, uint32_t alignment) {
    if (!valid(s)) return gcvSTATUS_INVALID_OBJECT;
    if (alignment == 0 || (alignment & (alignment - 1))) return gcvSTATUS_INVALID_ARGUMENT;
    if (s->node.pool != kPoolUser || s->mapped) return gcvSTATUS_NOT_SUPPORTED;
    const uint32_t stride = (s->stride + alignment - 1) / alignment * alignment;
    s->totalSize = uint64_t(stride) * s->alignedHeight * s->depth;
    s->stride = stride;
    return gcvSTATUS_OK;
}

gceSTATUS gcoSURF_Flush(gcoSURF s) {
    // Video memory of this driver is not cached by the processor.
    return valid(s) ? gcvSTATUS_OK : gcvSTATUS_INVALID_OBJECT;
}

gceSTATUS gcsSURF_NODE_Construct(gcsSURF_NODE* node, size_t bytes, uint32_t alignment,
                                 uint32_t type, uint32_t flags, uint32_t pool) {
    if (!node || bytes == 0 || bytes > 0xFFFFFFFFu) return gcvSTATUS_INVALID_ARGUMENT;
    std::memset(node, 0, sizeof *node);
    gcsIO_REQUEST r = gal::request(CMD_ALLOCATE_VIDEO_MEMORY);
    gal::setField<uint32_t>(r, 0, static_cast<uint32_t>(bytes));
    gal::setField<uint32_t>(r, 4, alignment ? alignment : 64);
    gal::setField<uint32_t>(r, 8, type);
    gal::setField<uint32_t>(r, 12, flags);
    gal::setField<uint32_t>(r, 16, pool ? pool : uint32_t(GAL_POOL_DEFAULT));
    const gceSTATUS status = gal::call(r);
    if (status < 0) return status;
    node->pool = gal::field<uint32_t>(r, 16) ? gal::field<uint32_t>(r, 16) : pool;
    node->node = gal::field<uint32_t>(r, 20);
    node->size = gal::field<uint32_t>(r, 0);
    node->valid = 1;
    node->physical = 0xFFFFFFFFu;
    node->lockedType = type;
    node->cacheable = (flags & 2) ? 1 : 0;
    return gcvSTATUS_OK;
}

gceSTATUS gcoSURF_LockNode(gcsSURF_NODE* node, uint32_t* address, void** memory) {
    if (!node || !node->valid) return gcvSTATUS_INVALID_ARGUMENT;
    if (node->lockCount == 0 && node->pool != kPoolUser) {
        gcsIO_REQUEST r = gal::request(CMD_LOCK_VIDEO_MEMORY);
        gal::setField<uint32_t>(r, 0, node->node);
        gal::setField<uint32_t>(r, 4, node->cacheable);
        const gceSTATUS status = gal::call(r);
        if (status < 0) return status;
        node->logical = gal::pointerField(r, 16);
        node->physical =
            gal::field<uint32_t>(r, 32) - (gcPLS.os ? gcPLS.os->baseAddress : 0);
        node->locked = 1;
    }
    ++node->lockCount;
    if (address) *address = node->physical;
    if (memory) *memory = node->logical;
    return gcvSTATUS_OK;
}

gceSTATUS gcoSURF_UnLockNode(gcsSURF_NODE* node, uint32_t type) {
    if (!node || !node->valid) return gcvSTATUS_INVALID_ARGUMENT;
    if (node->lockCount == 0) return gcvSTATUS_MEMORY_UNLOCKED;  // never below zero
    if (--node->lockCount > 0 || node->pool == kPoolUser) return gcvSTATUS_OK;
    gcsIO_REQUEST r = gal::request(CMD_UNLOCK_VIDEO_MEMORY);
    gal::setField<uint32_t>(r, 0, node->node);
    gal::setField<uint32_t>(r, 8, type & ~0x200u);
    gal::setField<uint32_t>(r, 12, 1);
    gceSTATUS status = gal::call(r);
    // When the GPU may still use the memory, the unlock completes as a deferred event.
    if (status >= 0 && gal::field<uint32_t>(r, 12) != 0) status = gcoHARDWARE_CallEvent(nullptr, &r);
    node->locked = 0;
    return status;
}

gceSTATUS gcoSURF_NODE_Cache(gcsSURF_NODE* node, void* logical, size_t bytes, uint32_t operation) {
    if (!node) return gcvSTATUS_INVALID_ARGUMENT;
    if (operation < 1 || operation > 3) return gcvSTATUS_INVALID_ARGUMENT;
    if (!node->cacheable || node->pool == kPoolUser) return gcvSTATUS_OK;
    switch (operation) {
    case 1: return gcoOS_CacheClean(nullptr, node->node, logical, bytes);
    case 2: return gcoOS_CacheInvalidate(nullptr, node->node, logical, bytes);
    default: return gcoOS_CacheFlush(nullptr, node->node, logical, bytes);
    }
}

gceSTATUS gcoSURF_NODE_CPUCacheOperation(gcsSURF_NODE* node, uint32_t, uint32_t offset,
                                         size_t bytes, uint32_t operation) {
    if (!node) return gcvSTATUS_INVALID_ARGUMENT;
    if (operation < 1 || operation > 3) return gcvSTATUS_INVALID_ARGUMENT;
    if (!node->cacheable || node->pool == kPoolUser || !node->logical) return gcvSTATUS_OK;
    if (uint64_t(offset) + bytes > node->size) return gcvSTATUS_INVALID_ARGUMENT;
    return gcoSURF_NODE_Cache(node, static_cast<uint8_t*>(node->logical) + offset, bytes,
                              operation);
}

// The settings a surface shares with other processes through a kernel shared buffer.
struct SharedInfo {
    uint32_t magic;
    uint32_t orientation, colorType, colorSpace, rotation, dither, flags, offset;
    uint64_t timeStamp;
};
static_assert(sizeof(SharedInfo) == 40);

gceSTATUS gcoSURF_AllocShBuffer(gcoSURF s, uint64_t* id) {
    if (!valid(s)) return gcvSTATUS_INVALID_OBJECT;
    if (!id) return gcvSTATUS_INVALID_ARGUMENT;
    if (!s->sharedBuffer) {
        const gceSTATUS status = gcoHAL_CreateShBuffer(sizeof(SharedInfo), &s->sharedBuffer);
        if (status < 0) return status;
        s->ownsSharedBuffer = 1;
    }
    *id = s->sharedBuffer;
    return gcvSTATUS_OK;
}

gceSTATUS gcoSURF_BindShBuffer(gcoSURF s, uint64_t id) {
    if (!valid(s)) return gcvSTATUS_INVALID_OBJECT;
    if (!id) return gcvSTATUS_INVALID_ARGUMENT;
    const gceSTATUS status = gcoHAL_MapShBuffer(id);
    if (status < 0) return status;
    s->sharedBuffer = id;
    return gcvSTATUS_OK;
}

gceSTATUS gcoSURF_PushSharedInfo(gcoSURF s) {
    if (!valid(s)) return gcvSTATUS_INVALID_OBJECT;
    if (!s->sharedBuffer) return gcvSTATUS_OK;
    const SharedInfo info{kSurfMagic, s->orientation, s->colorType, s->colorSpace, s->rotation,
                          s->dither, s->flags, s->offset, s->timeStamp};
    return gcoHAL_WriteShBuffer(s->sharedBuffer, &info, sizeof info);
}

gceSTATUS gcoSURF_PopSharedInfo(gcoSURF s) {
    if (!valid(s)) return gcvSTATUS_INVALID_OBJECT;
    if (!s->sharedBuffer) return gcvSTATUS_OK;
    SharedInfo info{};
    uint32_t read = 0;
    const gceSTATUS status = gcoHAL_ReadShBuffer(s->sharedBuffer, &info, sizeof info, &read);
    if (status < 0) return status;
    // Nothing pushed yet (or something else): the surface keeps its settings.
    if (read != sizeof info || info.magic != kSurfMagic) return gcvSTATUS_OK;
    s->orientation = info.orientation;
    s->colorType = info.colorType;
    s->colorSpace = info.colorSpace;
    s->rotation = info.rotation;
    s->dither = info.dither;
    s->flags = info.flags;
    s->offset = info.offset;
    s->timeStamp = info.timeStamp;
    return gcvSTATUS_OK;
}

}  // extern "C"
