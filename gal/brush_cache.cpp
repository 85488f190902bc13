// The brush cache (gcoBRUSH_CACHE, magic "BRU$"): one per engine. It keeps each distinct brush
// once (entries with a reference count, found by ID and signature), remembers which brush the
// engine holds (the current one), and owns a bounded list of 256-byte video-memory buffers that
// colour brushes are uploaded into, most recently used first.
//
// A buffer the engine has been given may be read by every command written since; before it is
// written again (another brush's pattern) a fence event is queued behind those commands and the
// buffer waits for the GPU to pass it. The fence of a buffer that stops being current is queued
// at once, so that it usually has passed by the time the buffer is needed again. Buffers are
// taken back from the least recently used end and never from the current brush while another
// one can be had; freed buffers go back to the kernel by events behind the queued commands.
#include <cstring>
#include <new>

#include "brush_record.h"

namespace gal {

struct BrushEntry {
    BrushEntry* previous;
    BrushEntry* next;
    gcoBRUSH brush;
    uint32_t id;
    int32_t references;
    bool needsBuffer;          // colour brushes; solid and monochrome ones need none
    gcsBRUSH_BUFFER* buffer;   // null until loaded, and after its buffer was taken back
    BrushSignature signature;  // compared on an ID match
};

}  // namespace gal

struct _gcoBRUSH_CACHE {
    uint32_t magic;
    uint32_t limit;
    uint32_t count;      // buffers
    uint32_t ownerless;  // buffers without a brush
    gal::BrushEntry* current;
    gcsBRUSH_BUFFER* head;  // most recently used
    gcsBRUSH_BUFFER* tail;
    gal::BrushEntry* first;
    gal::BrushEntry* last;
};

namespace {

using gal::BrushEntry;

constexpr uint32_t kCacheMagic = gal::fourCC('B', 'R', 'U', '$');
constexpr uint32_t kFenceWaitMs = 5000;  // a GPU that never passes the fence is an error
constexpr uint32_t kBufferSurfaceType = 6;

bool valid(gcoBRUSH_CACHE cache) { return cache && cache->magic == kCacheMagic; }

BrushEntry* findEntry(gcoBRUSH_CACHE cache, gcoBRUSH brush) {
    for (BrushEntry* e = cache->first; e; e = e->next)
        if (e->brush == brush) return e;
    return nullptr;
}

BrushEntry* findSignature(gcoBRUSH_CACHE cache, uint32_t id, const void* signature,
                          uint32_t size) {
    for (BrushEntry* e = cache->first; e; e = e->next)
        if (e->id == id && e->signature.size == size &&
            std::memcmp(e->signature.words, signature, size) == 0)
            return e;
    return nullptr;
}

// Buffer list.
void unlinkBuffer(gcoBRUSH_CACHE c, gcsBRUSH_BUFFER* b) {
    if (b->previous) b->previous->next = b->next;
    else c->head = b->next;
    if (b->next) b->next->previous = b->previous;
    else c->tail = b->previous;
    b->previous = b->next = nullptr;
}
void pushHead(gcoBRUSH_CACHE c, gcsBRUSH_BUFFER* b) {
    b->next = c->head;
    if (c->head) c->head->previous = b;
    else c->tail = b;
    c->head = b;
}
void pushTail(gcoBRUSH_CACHE c, gcsBRUSH_BUFFER* b) {
    b->previous = c->tail;
    if (c->tail) c->tail->next = b;
    else c->head = b;
    c->tail = b;
}

// Queues the event that sets the buffer's fence once the GPU has passed every command written
// so far.
gceSTATUS queueFence(gcsBRUSH_BUFFER* b) {
    gcsIO_REQUEST r = gal::request(CMD_SIGNAL);
    gal::setPointer(r, 0, b->fence);
    gal::setField<uint32_t>(r, 16, gcoOS_GetCurrentProcessID());
    gal::setField<uint32_t>(r, 24, GAL_SIGNAL_SOURCE_BUFFER);
    const gceSTATUS status = gcoHARDWARE_CallEvent(nullptr, &r);
    if (status >= 0) {
        b->fencePending = true;
        b->used = false;
    }
    return status;
}

// The buffer stops being the engine's brush: its fence goes behind the commands that use it.
void retire(gcsBRUSH_BUFFER* b) {
    if (b && b->used && !b->fencePending) queueFence(b);
}

// Returns once no queued command can read the buffer any more.
gceSTATUS waitIdle(gcsBRUSH_BUFFER* b) {
    for (;;) {
        if (b->fencePending) {
            gceSTATUS status = gcoOS_WaitSignal(nullptr, b->fence, 0);
            if (status == gcvSTATUS_TIMEOUT) {
                // Not reached yet, perhaps not even submitted: commit, then wait.
                status = gcoHARDWARE_Commit(nullptr);
                if (status >= 0) status = gcoOS_WaitSignal(nullptr, b->fence, kFenceWaitMs);
                if (status == gcvSTATUS_TIMEOUT) status = gcvSTATUS_GPU_NOT_RESPONDING;
            }
            if (status < 0) return status;
            b->fencePending = false;
        }
        if (!b->used) return gcvSTATUS_OK;
        const gceSTATUS status = queueFence(b);
        if (status < 0) return status;
    }
}

gceSTATUS newBuffer(gcoBRUSH_CACHE c, gcsBRUSH_BUFFER*& out) {
    void* memory = nullptr;
    gceSTATUS status = gcoOS_Allocate(nullptr, sizeof(gcsBRUSH_BUFFER), &memory);
    if (status < 0) return status;
    std::memset(memory, 0, sizeof(gcsBRUSH_BUFFER));
    auto* b = static_cast<gcsBRUSH_BUFFER*>(memory);
    gcoHAL_GetHardwareType(nullptr, &b->hardwareType);
    status = gcoOS_CreateSignal(nullptr, 0, &b->fence);
    if (status >= 0)
        status = gcsSURF_NODE_Construct(&b->node, gal::kPatternBytes, 64, kBufferSurfaceType, 0,
                                        GAL_POOL_DEFAULT);
    if (status >= 0) status = gcoSURF_LockNode(&b->node, &b->address, &b->logical);
    if (status < 0) {
        if (b->node.valid) gcoHARDWARE_ScheduleVideoMemory(&b->node);
        if (b->fence) gcoOS_DestroySignal(nullptr, b->fence);
        gcoOS_Free(nullptr, b);
        return status;
    }
    b->locked = 1;
    pushHead(c, b);
    ++c->count;
    out = b;
    return gcvSTATUS_OK;
}

// Gives a buffer (already out of the list) back: unlocked and released behind the commands
// that may still read it, under the hardware type it was allocated with.
void freeBuffer(gcsBRUSH_BUFFER* b) {
    // The fence signal must not go away while its event is still queued.
    if (b->fencePending) {
        b->used = false;
        waitIdle(b);
    }
    {
        gal::TypeScope scope(b->hardwareType);
        if (b->node.valid && b->locked) gcoSURF_UnLockNode(&b->node, kBufferSurfaceType);
        if (b->node.valid) gcoHARDWARE_ScheduleVideoMemory(&b->node);
    }
    if (b->fence) gcoOS_DestroySignal(nullptr, b->fence);
    gcoOS_Free(nullptr, b);
}

// Removes a buffer from the cache, unbinding its owner.
void dropBuffer(gcoBRUSH_CACHE c, gcsBRUSH_BUFFER* b) {
    unlinkBuffer(c, b);
    --c->count;
    if (b->owner) b->owner->buffer = nullptr;
    else --c->ownerless;
    freeBuffer(b);
}

// A buffer for `entry`: an ownerless one, a new one below the limit, or the least recently used
// one of another brush; the current brush's buffer only when there is no other.
gceSTATUS takeBuffer(gcoBRUSH_CACHE c, BrushEntry* entry, gcsBRUSH_BUFFER*& out) {
    gcsBRUSH_BUFFER* b = nullptr;
    if (c->ownerless > 0) {
        for (b = c->tail; b && b->owner; b = b->previous) {
        }
    }
    if (!b && c->count < c->limit) {
        const gceSTATUS status = newBuffer(c, out);
        if (status >= 0) out->owner = entry;
        return status;
    }
    if (!b) {
        for (b = c->tail; b; b = b->previous)
            if (b->owner != c->current) break;
        if (!b && c->current && c->current->buffer && c->count >= c->limit) {
            // The engine is about to be given `entry` instead of the current brush.
            b = c->current->buffer;
            c->current = nullptr;
            retire(b);
        }
    }
    if (!b) return gcvSTATUS_OUT_OF_MEMORY;
    const gceSTATUS status = waitIdle(b);
    if (status < 0) return status;
    if (b->owner) b->owner->buffer = nullptr;
    else --c->ownerless;
    b->owner = entry;
    out = b;
    return gcvSTATUS_OK;
}

void freeEntry(BrushEntry* e) {
    gcoBRUSH_Delete(e->brush);
    gcoOS_Free(nullptr, e);
}

}  // namespace

namespace gal {

void brushLoadedDirectly(gcoBRUSH_CACHE cache) {
    if (!valid(cache) || !cache->current) return;
    retire(cache->current->buffer);
    cache->current = nullptr;
}

}  // namespace gal

extern "C" {

gceSTATUS gcoBRUSH_CACHE_Construct(gcoHAL, gcoBRUSH_CACHE* cache) {
    if (!cache) return gcvSTATUS_INVALID_ARGUMENT;
    void* memory = nullptr;
    const gceSTATUS status = gcoOS_Allocate(nullptr, sizeof(_gcoBRUSH_CACHE), &memory);
    if (status < 0) return status;
    std::memset(memory, 0, sizeof(_gcoBRUSH_CACHE));
    auto* c = static_cast<gcoBRUSH_CACHE>(memory);
    c->magic = kCacheMagic;
    c->limit = gcdBRUSH_BUFFER_LIMIT;
    *cache = c;
    return gcvSTATUS_OK;
}

gceSTATUS gcoBRUSH_CACHE_Destroy(gcoBRUSH_CACHE cache) {
    if (!valid(cache)) return gcvSTATUS_INVALID_OBJECT;
    cache->current = nullptr;
    while (cache->head) {
        gcsBRUSH_BUFFER* b = cache->head;
        cache->head = b->next;
        freeBuffer(b);
    }
    while (BrushEntry* e = cache->first) {
        cache->first = e->next;
        freeEntry(e);
    }
    cache->magic = 0;
    return gcoOS_Free(nullptr, cache);
}

gceSTATUS gcoBRUSH_CACHE_SetBrushLimit(gcoBRUSH_CACHE cache, uint32_t limit) {
    if (!valid(cache)) return gcvSTATUS_INVALID_OBJECT;
    cache->limit = limit;
    // From the least recently used end; the engine's current brush keeps its buffer.
    gcsBRUSH_BUFFER* b = cache->tail;
    while (cache->count > limit && b) {
        gcsBRUSH_BUFFER* before = b->previous;
        if (!cache->current || b->owner != cache->current) dropBuffer(cache, b);
        b = before;
    }
    return gcvSTATUS_OK;
}

gceSTATUS gcoBRUSH_CACHE_GetBrushID(gcoBRUSH_CACHE cache, const void* signature, uint32_t size,
                                    uint32_t* id) {
    if (!valid(cache)) return gcvSTATUS_INVALID_OBJECT;
    if (!signature || !id || size == 0 || size > gcdBRUSH_SIGNATURE_BYTES)
        return gcvSTATUS_INVALID_ARGUMENT;
    *id = gal::brushId(signature, size);
    return gcvSTATUS_OK;
}

// A hit hands out one more reference to the cached brush.
gceSTATUS gcoBRUSH_CACHE_GetBrush(gcoBRUSH_CACHE cache, uint32_t id, const void* signature,
                                  uint32_t size, gcoBRUSH* brush) {
    if (!valid(cache)) return gcvSTATUS_INVALID_OBJECT;
    if (!signature || !brush) return gcvSTATUS_INVALID_ARGUMENT;
    *brush = nullptr;
    BrushEntry* e = findSignature(cache, id, signature, size);
    if (!e) return gcvSTATUS_INVALID_ARGUMENT;
    ++e->references;
    *brush = e->brush;
    return gcvSTATUS_OK;
}

gceSTATUS gcoBRUSH_CACHE_AddBrush(gcoBRUSH_CACHE cache, gcoBRUSH brush, uint32_t id,
                                  int32_t needsBuffer) {
    if (!valid(cache)) return gcvSTATUS_INVALID_OBJECT;
    if (!gal::brushValid(brush)) return gcvSTATUS_INVALID_OBJECT;
    if (findEntry(cache, brush)) return gcvSTATUS_INVALID_ARGUMENT;  // one entry per brush
    void* memory = nullptr;
    const gceSTATUS status = gcoOS_Allocate(nullptr, sizeof(BrushEntry), &memory);
    if (status < 0) return status;
    auto* e = new (memory) BrushEntry{};
    e->brush = brush;
    e->id = id;
    e->references = 1;
    e->needsBuffer = needsBuffer != 0;
    gal::brushSignature(*brush, e->signature);
    e->previous = cache->last;
    if (cache->last) cache->last->next = e;
    else cache->first = e;
    cache->last = e;
    return gcvSTATUS_OK;
}

gceSTATUS gcoBRUSH_CACHE_DeleteBrush(gcoBRUSH_CACHE cache, gcoBRUSH brush) {
    if (!valid(cache)) return gcvSTATUS_INVALID_OBJECT;
    BrushEntry* e = findEntry(cache, brush);
    if (!e) return gcvSTATUS_INVALID_ARGUMENT;
    if (--e->references > 0) return gcvSTATUS_OK;
    if (e->previous) e->previous->next = e->next;
    else cache->first = e->next;
    if (e->next) e->next->previous = e->previous;
    else cache->last = e->previous;
    if (gcsBRUSH_BUFFER* b = e->buffer) {
        // The engine may still hold this brush (as the current one); the buffer stays marked
        // used, so that it is fenced again before another pattern goes into it.
        b->owner = nullptr;
        ++cache->ownerless;
        unlinkBuffer(cache, b);
        pushTail(cache, b);
    }
    if (cache->current == e) cache->current = nullptr;
    freeEntry(e);
    return gcvSTATUS_OK;
}

gceSTATUS gcoBRUSH_CACHE_FlushBrush(gcoBRUSH_CACHE cache, gcoBRUSH brush) {
    if (!valid(cache)) return gcvSTATUS_INVALID_OBJECT;
    BrushEntry* e = findEntry(cache, brush);
    if (!e) return gcvSTATUS_INVALID_ARGUMENT;
    bool upload = false;
    if (e->needsBuffer && !e->buffer) {
        gcsBRUSH_BUFFER* b = nullptr;
        const gceSTATUS status = takeBuffer(cache, e, b);
        if (status < 0) return status;
        e->buffer = b;
        upload = true;
    }
    if (e->buffer) {
        unlinkBuffer(cache, e->buffer);
        pushHead(cache, e->buffer);
    }
    if (cache->current == e) return gcvSTATUS_OK;
    const gceSTATUS status = gcoBRUSH_FlushBrush(brush, upload, e->buffer);
    if (status < 0) {
        if (upload) {
            // Not uploaded: the buffer goes back to the pool rather than keep a stale pattern.
            gcsBRUSH_BUFFER* b = e->buffer;
            e->buffer = nullptr;
            b->owner = nullptr;
            ++cache->ownerless;
            unlinkBuffer(cache, b);
            pushTail(cache, b);
        }
        return status;
    }
    // Loading went through gco2D_Load*Brush, which retired the previous current brush.
    cache->current = e;
    if (e->buffer) e->buffer->used = true;
    return gcvSTATUS_OK;
}

}  // extern "C"
