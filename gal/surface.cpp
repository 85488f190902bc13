// Surfaces (gcoSURF): construction with the 2D alignment and plane layout of each format,
// video memory through the kernel (allocated and locked at construction, released only after
// the commands that use it have run), user-memory surfaces, locking, queries, and the
// surface's use as a 2D source or target (Set2DSource/Target, Clear2D, Blit).
#include <cstring>
#include <new>

#include "engine_state.h"
#include "gal_states.h"
#include "gal_surface.h"

struct _gcoSURF {
    uint32_t magic;
    uint32_t type, hints;
    uint32_t format;
    uint32_t tiling;
    uint32_t width, height, depth;
    uint32_t alignedWidth, alignedHeight;
    uint32_t is16Bit;
    uint32_t bitsPerPixel;
    uint32_t stride;
    uint32_t uOffset, vOffset, uStride, vStride;
    uint64_t sliceSize, layerSize, totalSize;
    gcsSURF_NODE node;
    uint32_t planes;
    uint32_t addresses[3];
    void* memory[3];
    gcsSURF_FORMAT_INFO info;
    uint32_t orientation, colorType, colorSpace, rotation, dither, flags, offset;
    uint64_t timeStamp;
    uint32_t references;
    uint32_t userLocks;
    void* userMemory;
    uint32_t userPhysical;
    uint32_t mapped;
};

namespace {

constexpr uint32_t kSurfMagic = gal::fourCC('S', 'U', 'R', 'F');
constexpr uint32_t kPoolUser = GAL_POOL_USER;

bool valid(gcoSURF s) { return s && s->magic == kSurfMagic; }

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

void planes(const _gcoSURF& s, uint32_t base, uint32_t* addresses, uint32_t* strides) {
    addresses[0] = base;
    strides[0] = s.stride;
    // The engine takes chroma planes in U, V order.
    addresses[1] = base + s.uOffset;
    strides[1] = s.uStride;
    addresses[2] = base + s.vOffset;
    strides[2] = s.vStride;
}

gceSTATUS engine(gco2D& e) { return gcoHAL_Get2DEngine(nullptr, &e); }

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
        gcoHARDWARE_ScheduleVideoMemory(s->node.node);
    } else if (s->mapped) {
        gcoHAL_ScheduleUnmapUserMemory(nullptr, s->node.mappingInfo, s->node.mappedSize,
                                       s->node.physical, s->userMemory);
    }
    s->node.valid = 0;
}

using GenericSetter = gceSTATUS (*)(gco2D, const uint32_t*, uint32_t, const uint32_t*, uint32_t,
                                    uint32_t, uint32_t, uint32_t, uint32_t, uint32_t);

// Hands the surface's planes to the engine as its source or target.
gceSTATUS useFor2D(gcoSURF s, uint32_t rotation, GenericSetter set) {
    if (!s) return gcvSTATUS_INVALID_ARGUMENT;
    if (!valid(s)) return gcvSTATUS_INVALID_OBJECT;
    if (!s->node.valid) return gcvSTATUS_MEMORY_UNLOCKED;
    gco2D e = nullptr;
    const gceSTATUS status = engine(e);
    if (status < 0) return status;
    uint32_t a[3], strides[3];
    planes(*s, s->node.physical, a, strides);
    return set(e, a, s->planes, strides, s->planes, s->tiling, s->format, rotation,
               s->alignedWidth, s->alignedHeight);
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
    planes(*s, base, a, strides);
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

gceSTATUS gcoSURF_Set2DSource(gcoSURF s, uint32_t rotation) {
    return useFor2D(s, rotation, gco2D_SetGenericSource);
}

gceSTATUS gcoSURF_Set2DTarget(gcoSURF s, uint32_t rotation) {
    return useFor2D(s, rotation, gco2D_SetGenericTarget);
}

// Keeps a surface locked for the length of an operation, on every path.
class SurfaceLock {
public:
    explicit SurfaceLock(gcoSURF s) : s_(s) { status_ = gcoSURF_Lock(s, addresses_, nullptr); }
    ~SurfaceLock() {
        if (status_ >= 0) gcoSURF_Unlock(s_, nullptr);
    }
    SurfaceLock(const SurfaceLock&) = delete;
    SurfaceLock& operator=(const SurfaceLock&) = delete;
    gceSTATUS status() const { return status_; }
    uint32_t address() const { return addresses_[0]; }

private:
    gcoSURF s_;
    uint32_t addresses_[3] = {};
    gceSTATUS status_;
};

gceSTATUS gcoSURF_Clear2D(gcoSURF s, uint32_t rectCount, const gcsRECT* rects, uint32_t colour) {
    if (!valid(s)) return gcvSTATUS_INVALID_OBJECT;
    gcsRECT whole{0, 0, int32_t(s->width), int32_t(s->height)};
    if (!rects) {
        if (rectCount != 1) return gcvSTATUS_INVALID_ARGUMENT;
        rects = &whole;
    }
    SurfaceLock lock(s);
    if (lock.status() < 0) return lock.status();
    gco2D e = nullptr;
    gceSTATUS status = engine(e);
    if (status < 0) return status;
    status = gco2D_SetTargetEx(e, lock.address(), s->stride, s->rotation, s->alignedWidth,
                               s->alignedHeight);
    if (status < 0) return status;
    status = gco2D_SetTransparencyAdvanced(e, 0, 0, 0);
    if (status < 0) return status;
    // The surface's own format, and a clear that writes the colour (ROP 0xCC).
    return gco2D_Clear(e, rectCount, rects, colour, 0xCC, 0xCC, s->format);
}

gceSTATUS gcoSURF_Blit(gcoSURF source, gcoSURF target, uint32_t rectCount,
                       const gcsRECT* sourceRects, const gcsRECT* destRects, void* brush,
                       uint8_t foreground, uint8_t background, uint32_t transparency,
                       uint32_t transparencyColor, const void* mask, uint32_t maskPacking) {
    if (!valid(target)) return gcvSTATUS_INVALID_OBJECT;
    gco2D e = nullptr;
    gceSTATUS status = engine(e);
    if (status < 0) return status;
    if (mask && e->reduced) return gcvSTATUS_NOT_SUPPORTED;
    if (brush) return gcvSTATUS_NOT_SUPPORTED;  // brush objects are not part of this driver
    if (rectCount == 0 || !destRects) return gcvSTATUS_INVALID_ARGUMENT;
    const gcsRECT* sources = sourceRects ? sourceRects : destRects;
    const bool usesSource = (((foreground >> 2) ^ foreground) & 0x33) ||
                            (((background >> 2) ^ background) & 0x33) || mask;
    bool stretch = false;
    for (uint32_t i = 0; i < rectCount; ++i)
        stretch |= sources[i].right - sources[i].left != destRects[i].right - destRects[i].left ||
                   sources[i].bottom - sources[i].top != destRects[i].bottom - destRects[i].top;
    if (usesSource) {
        if (!valid(source)) return gcvSTATUS_INVALID_OBJECT;
        if (!source->node.valid) return gcvSTATUS_MEMORY_UNLOCKED;
    }
    SurfaceLock targetLock(target);
    if (targetLock.status() < 0) return targetLock.status();
    if (usesSource) {
        SurfaceLock sourceLock(source);
        if (sourceLock.status() < 0) return sourceLock.status();
        if (mask)
            status = gco2D_SetMaskedSourceEx(e, sourceLock.address(), source->stride,
                                             source->format, 0, maskPacking, source->rotation,
                                             source->alignedWidth, source->alignedHeight);
        else
            status = gco2D_SetColorSourceEx(e, sourceLock.address(), source->stride,
                                            source->format, source->rotation,
                                            source->alignedWidth, source->alignedHeight, 0,
                                            transparency, transparencyColor);
        if (status < 0) return status;
    }
    status = gco2D_SetTargetEx(e, targetLock.address(), target->stride, target->rotation,
                               target->alignedWidth, target->alignedHeight);
    if (status < 0) return status;
    if (mask) {
        for (uint32_t i = 0; i < rectCount && status >= 0; ++i) {
            const gcsRECT& d = destRects[i];
            status = gco2D_SetSource(e, &sources[i]);
            if (status < 0) return status;
            const gcsPOINT size{d.right - d.left, d.bottom - d.top};
            const gcsRECT streamRect{0, 0, size.x, size.y};
            status = gco2D_MonoBlit(e, mask, &size, &streamRect, maskPacking, maskPacking, &d,
                                    foreground, background, target->format);
        }
        return status;
    }
    if (usesSource && !stretch)
        return gco2D_BatchBlit(e, rectCount, sources, destRects, foreground, background,
                               target->format);
    if (usesSource) {
        // Each rectangle with its own source position and stretch.
        status = gco2D_SetStretchRectFactors(e, &sources[0], &destRects[0]);
        if (status < 0) return status;
        status = gco2D_SetSource(e, &sources[0]);
        if (status < 0) return status;
        const gal::Format2D* f = gal::format2D(target->format);
        if (!f || f->planes != 1 || f->yuv) return gcvSTATUS_INVALID_ARGUMENT;
        gal::currentSource(e).foregroundRop = foreground;
        gal::currentSource(e).backgroundRop = background;
        e->targetFormat = target->format;
        return gcoHARDWARE_StartDE(e->hardware, e, gcv2D_STRETCH, rectCount, sources, rectCount,
                                   destRects);
    }
    return gco2D_Blit(e, rectCount, destRects, foreground, background, target->format);
}

}  // extern "C"
