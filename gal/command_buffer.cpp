// The command-buffer ring (gcoBUFFER over gcsCMDBUF_RECORD): kernel-allocated buffers of 128 KB
// that reservations fill and commits hand to the kernel, each reused only after the signal
// that the GPU sets when it has finished with it, and the temporary command buffer.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "gal_dump.h"
#include "gal_internal.h"

namespace {

constexpr uint32_t kTotalReserve =
    gcdCMDBUF_ALIGNMENT + gcdCMDBUF_RESERVED_HEAD + gcdCMDBUF_RESERVED_TAIL;  // 48
constexpr uint32_t kBusyWaitMs = 5000;  // a buffer the GPU never gives back is an error

gcoCMDBUF follow(uint64_t link) {
    return reinterpret_cast<gcoCMDBUF>(static_cast<uintptr_t>(link));
}
uint64_t link(gcoCMDBUF cmdbuf) {
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(cmdbuf));
}
gcsSIGNAL_PTR signalOf(gcoCMDBUF cmdbuf) {
    return reinterpret_cast<gcsSIGNAL_PTR>(static_cast<uintptr_t>(cmdbuf->signal));
}

}  // namespace

struct _gcoBUFFER {
    uint32_t magic;
    gcoHARDWARE hardware;
    uint32_t context;
    uint32_t bytes;
    uint32_t count;
    gcoCMDBUF head;
    gcoCMDBUF committing;  // the first buffer of the next submission
    gcoCMDBUF current;     // the buffer reservations come from
    gcsTEMPCMDBUF temp;
    uint64_t waitSignal;   // the signal the committing thread waits on next (its stall), or 0
    uint32_t waitReached;  // the kernel has reached and taken it within the last commit
    gcsBUFFER_ATOMIC* atomic;  // atomic mode's record, or null
};

namespace {

constexpr uint32_t kAtomicHeadroom = 8;  // bytes a reservation keeps in hand in atomic mode
constexpr uint32_t kAtomicCounterMax = 63;

bool atomicMode(const _gcoBUFFER* b) { return b->atomic && b->atomic->state != 0; }
gceSTATUS submit(gcoBUFFER b, uint32_t pipe, gcsSTATE_DELTA* delta, gcoQUEUE queue);

}  // namespace

namespace gal {

void setCommitWait(gcoBUFFER buffer, gcsSIGNAL_PTR signal) {
    buffer->waitSignal = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(signal));
    buffer->waitReached = 0;
}

bool commitReachedWait(gcoBUFFER buffer) { return buffer->waitReached != 0; }

}  // namespace gal

extern "C" {

gceSTATUS gcoCMDBUF_Construct(gcoOS os, gcoHARDWARE, size_t bytes, void*, gcoCMDBUF* cmdbuf) {
    if (!cmdbuf || bytes == 0 || bytes > 0xFFFFFFFFu) return gcvSTATUS_INVALID_ARGUMENT;
    void* memory = nullptr;
    gceSTATUS status = gcoOS_AllocateSharedMemory(os, sizeof(gcsCMDBUF_RECORD), &memory);
    if (status < 0) return status;
    auto* record = static_cast<gcsCMDBUF_RECORD*>(std::memset(memory, 0, sizeof(gcsCMDBUF_RECORD)));
    record->magic = GAL_CMDBUF_MAGIC;
    gcsSIGNAL_PTR signal = nullptr;
    status = gcoOS_CreateSignal(nullptr, 0, &signal);
    if (status >= 0) status = gcoOS_Signal(nullptr, signal, 1);  // free for the first use
    record->signal = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(signal));
    // The kernel may be short of memory: halve the size down to one page.
    uint32_t size = static_cast<uint32_t>(bytes);
    while (status >= 0) {
        gcsIO_REQUEST r = gal::request(CMD_ALLOCATE_COMMAND_BUFFER);
        gal::setField<uint32_t>(r, 0, size);
        status = gal::call(r);
        if (status >= 0) {
            record->size = gal::field<uint32_t>(r, 0);
            record->physical = gal::field<uint64_t>(r, 8);
            record->logical = gal::field<uint64_t>(r, 16);
            break;
        }
        if (status != gcvSTATUS_OUT_OF_MEMORY || size <= 4096) break;
        size /= 2;
        status = gcvSTATUS_OK;
    }
    if (status < 0) {
        if (signal) gcoOS_DestroySignal(nullptr, signal);
        gcoOS_FreeSharedMemory(os, record);
        return status;
    }
    // A fresh buffer is closed: nothing in it is submitted until the ring resets it.
    record->startOffset = record->offset = record->size;
    record->freeBytes = 0;
    *cmdbuf = record;
    return gcvSTATUS_OK;
}

gceSTATUS gcoCMDBUF_Destroy(void*, gcoCMDBUF cmdbuf) {
    if (!cmdbuf) return gcvSTATUS_INVALID_ARGUMENT;
    gcsIO_REQUEST r = gal::request(CMD_FREE_COMMAND_BUFFER);
    gal::setField<uint32_t>(r, 0, cmdbuf->size);
    gal::setField<uint64_t>(r, 8, cmdbuf->physical);
    gal::setField<uint64_t>(r, 16, cmdbuf->logical);
    const gceSTATUS status = gal::call(r);
    if (cmdbuf->signal) gcoOS_DestroySignal(nullptr, signalOf(cmdbuf));
    cmdbuf->magic = 0;
    gcoOS_FreeSharedMemory(nullptr, cmdbuf);
    return status;
}

gceSTATUS gcoBUFFER_Construct(gcoHAL, gcoHARDWARE hardware, uint32_t context, size_t bytes,
                              uint32_t, gcoBUFFER* buffer) {
    if (!buffer || bytes < 4096 || bytes > 0xFFFFFFFFu) return gcvSTATUS_INVALID_ARGUMENT;
    void* memory = nullptr;
    gceSTATUS status = gcoOS_Allocate(nullptr, sizeof(_gcoBUFFER), &memory);
    if (status < 0) return status;
    auto* b = new (memory) _gcoBUFFER{};
    b->magic = gal::fourCC('B', 'U', 'F', 'R');
    b->hardware = hardware;
    b->context = context;
    b->bytes = static_cast<uint32_t>(bytes);
    status = gcoOS_Allocate(nullptr, gcdTEMP_CMDBUF_BYTES, &b->temp.buffer);
    for (int i = 0; status >= 0 && i < 2; ++i) {
        gcoCMDBUF cmdbuf = nullptr;
        status = gcoCMDBUF_Construct(nullptr, hardware, bytes, nullptr, &cmdbuf);
        if (status < 0) break;
        if (!b->head) {
            b->head = cmdbuf;
            cmdbuf->next = cmdbuf->previous = link(cmdbuf);
        } else {  // before the head, at the end of the ring
            gcoCMDBUF last = follow(b->head->previous);
            cmdbuf->previous = link(last);
            cmdbuf->next = link(b->head);
            last->next = link(cmdbuf);
            b->head->previous = link(cmdbuf);
        }
        ++b->count;
    }
    if (status < 0) {
        gcoBUFFER_Destroy(b);
        return status;
    }
    *buffer = b;
    return gcvSTATUS_OK;
}

gceSTATUS gcoBUFFER_Destroy(gcoBUFFER buffer) {
    if (!buffer) return gcvSTATUS_INVALID_OBJECT;
    for (uint32_t i = 0; i < buffer->count && buffer->head; ++i) {
        gcoCMDBUF next = follow(buffer->head->next);
        gcoCMDBUF_Destroy(nullptr, buffer->head);
        buffer->head = next;
    }
    if (buffer->temp.buffer) gcoOS_Free(nullptr, buffer->temp.buffer);
    buffer->magic = 0;
    buffer->~_gcoBUFFER();
    return gcoOS_Free(nullptr, buffer);
}

}  // extern "C"

namespace {

// Steps to the next buffer of the ring and makes it ready for reservations: a buffer the GPU
// still holds is replaced by a new one while the ring may grow, else waited for.
gceSTATUS nextBuffer(gcoBUFFER b) {
    gcoCMDBUF next = b->current ? follow(b->current->next) : b->head;
    gceSTATUS status = gcoOS_WaitSignal(nullptr, signalOf(next), 0);
    if (status == gcvSTATUS_TIMEOUT && b->count < gcdCMDBUF_MAX_COUNT) {
        gcoCMDBUF fresh = nullptr;
        if (gcoCMDBUF_Construct(nullptr, b->hardware, b->bytes, nullptr, &fresh) >= 0) {
            gcoCMDBUF before = follow(next->previous);
            fresh->previous = link(before);
            fresh->next = link(next);
            before->next = link(fresh);
            next->previous = link(fresh);
            ++b->count;
            next = fresh;
        }
        status = gcoOS_WaitSignal(nullptr, signalOf(next), 0);
    }
    // A test that succeeded has taken the signal: waiting again would wait for ever.
    if (status == gcvSTATUS_TIMEOUT) status = gcoOS_WaitSignal(nullptr, signalOf(next), kBusyWaitMs);
    if (status < 0) return status == gcvSTATUS_TIMEOUT ? gcvSTATUS_GPU_NOT_RESPONDING : status;
    next->startOffset = 0;
    next->offset = gcdCMDBUF_RESERVED_HEAD;
    next->freeBytes = next->size - kTotalReserve;
    next->using2D = next->using3D = 0;
    next->entryPipe = next->exitPipe = 0;
    b->current = next;
    if (!b->committing) b->committing = next;
    return gcvSTATUS_OK;
}

// True when `bytes` at `offset` (padding included) plus the reserved tail stay in one page.
bool inOnePage(uint32_t offset, uint32_t bytes) {
    const uint32_t end = offset + bytes + gcdCMDBUF_RESERVED_TAIL;
    return offset / 4096 == (end - 1) / 4096;
}

}  // namespace

extern "C" {

gceSTATUS gcoBUFFER_Reserve(gcoBUFFER b, size_t bytes, int32_t aligned, uint32_t usage,
                            gcoCMDBUF* out) {
    if (!b || !out || bytes > b->bytes) return gcvSTATUS_INVALID_ARGUMENT;
    gcoCMDBUF cur = b->current;
    uint32_t padding = 0;
    if (cur && aligned) padding = (gcdCMDBUF_ALIGNMENT - cur->offset % gcdCMDBUF_ALIGNMENT) % gcdCMDBUF_ALIGNMENT;
    // Atomic mode keeps room behind every reservation; only the request itself is taken, so
    // that no unwritten bytes ever reach the stream.
    const uint32_t headroom = atomicMode(b) ? kAtomicHeadroom : 0;
    const uint32_t need = static_cast<uint32_t>(bytes) + padding + headroom;
    bool fits = cur && need <= cur->freeBytes;
    if (fits && usage == 1 && b->hardware && b->hardware->pageLimited)
        fits = inOnePage(cur->offset, need);
    if (!fits) {
        if (cur) {
            // The GPU releases this buffer when it gets here.
            gcsIO_REQUEST r = gal::request(CMD_SIGNAL);
            gal::setField<uint64_t>(r, 0, cur->signal);
            gal::setField<uint32_t>(r, 16, static_cast<uint32_t>(::getpid()));
            gal::setField<uint32_t>(r, 24, GAL_SIGNAL_SOURCE_BUFFER);
            gceSTATUS status = gcoHARDWARE_CallEvent(b->hardware, &r);
            if (status >= 0 && cur->startOffset != cur->size) status = gcoHARDWARE_Commit(b->hardware);
            if (status < 0) return status;
        }
        gceSTATUS status = nextBuffer(b);
        if (status < 0) return status;
        cur = b->current;
        padding = 0;
        if (bytes + headroom > cur->freeBytes) return gcvSTATUS_OUT_OF_MEMORY;
    }
    const uint32_t take = static_cast<uint32_t>(bytes) + padding;
    cur->freeBytes -= take;
    if (usage == 1) cur->using2D = 1;
    if (usage == 2) cur->using3D = 1;
    cur->lastOffset = cur->offset + padding;
    cur->lastReserve = cur->logical + cur->lastOffset;
    cur->offset += take;
    *out = cur;
    return gcvSTATUS_OK;
}

gceSTATUS gcoBUFFER_Write(gcoBUFFER b, const void* data, size_t bytes, int32_t aligned) {
    if (!data && bytes) return gcvSTATUS_INVALID_ARGUMENT;
    gcoCMDBUF cmdbuf = nullptr;
    const gceSTATUS status = gcoBUFFER_Reserve(b, bytes, aligned, 2, &cmdbuf);
    if (status < 0) return status;
    std::memcpy(reinterpret_cast<void*>(static_cast<uintptr_t>(cmdbuf->lastReserve)), data, bytes);
    return gcvSTATUS_OK;
}

gceSTATUS gcoBUFFER_Commit(gcoBUFFER b, uint32_t pipe, gcsSTATE_DELTA* delta, gcoQUEUE queue) {
    if (!b) return gcvSTATUS_INVALID_OBJECT;
    gcsBUFFER_ATOMIC* const atomic = atomicMode(b) ? b->atomic : nullptr;
    if (atomic) atomic->state = 0;
    const gceSTATUS status = submit(b, pipe, delta, queue);
    if (atomic) {
        atomic->state = 2;
        if (status >= 0 && atomic->counter < kAtomicCounterMax) atomic->counter = atomic->counter + 1;
        atomic->state = 1;
    }
    return status;
}

gceSTATUS gcoBUFFER_SetAtomic(gcoBUFFER b, gcsBUFFER_ATOMIC* record, int32_t enable) {
    if (!b || (enable && !record)) return gcvSTATUS_INVALID_ARGUMENT;
    if (enable) {
        b->atomic = record;
        record->state = 1;
    } else if (b->atomic) {
        b->atomic->state = 0;
        b->atomic = nullptr;
    }
    return gcvSTATUS_OK;
}

}  // extern "C"

namespace {

// Hands every buffer from the committing one to the current one to the kernel, then the
// queued events.
gceSTATUS submit(gcoBUFFER b, uint32_t pipe, gcsSTATE_DELTA* delta, gcoQUEUE queue) {
    b->waitReached = 0;
    bool lastSent = false;
    if (b->committing && b->current) {
        for (gcoCMDBUF cmdbuf = b->committing;; cmdbuf = follow(cmdbuf->next)) {
            const bool last = cmdbuf == b->current;
            lastSent = false;
            if (cmdbuf->offset - cmdbuf->startOffset > gcdCMDBUF_RESERVED_HEAD) {
                const uint32_t saved = cmdbuf->offset;
                cmdbuf->offset = (cmdbuf->offset + gcdCMDBUF_ALIGNMENT - 1) & ~(gcdCMDBUF_ALIGNMENT - 1);
                cmdbuf->entryPipe = pipe;
                // The dump holds exactly the commands the GPU is given.
                if (gcPLS.hal && gcPLS.hal->dump) {
                    const uint32_t first = cmdbuf->startOffset + gcdCMDBUF_RESERVED_HEAD;
                    gcoDUMP_DumpData(gcPLS.hal->dump, GAL_DUMP_TAG_COMMAND, 0, cmdbuf->offset - first,
                                     reinterpret_cast<const void*>(
                                         static_cast<uintptr_t>(cmdbuf->logical + first)));
                }
                gcsIO_REQUEST r = gal::request(CMD_COMMIT);
                gal::setPointer(r, 8, cmdbuf);
                gal::setPointer(r, 16, delta);
                gal::setField<uint64_t>(r, 24, last ? gal::queueHead(queue) : 0);
                if (last) gal::setField<uint64_t>(r, GAL_COMMIT_WAIT_SIGNAL, b->waitSignal);
                const gceSTATUS status = gal::call(r);
                if (status < 0) {
                    // Nothing was taken: the buffer and the queued events stay as they were.
                    cmdbuf->offset = saved;
                    return status;
                }
                const uint32_t start = cmdbuf->offset + gcdCMDBUF_RESERVED_TAIL;
                if (kTotalReserve < cmdbuf->size - std::min(start, cmdbuf->size)) {
                    cmdbuf->startOffset = start;
                    cmdbuf->offset = start + gcdCMDBUF_RESERVED_HEAD;
                    cmdbuf->freeBytes = cmdbuf->size - (gcdCMDBUF_ALIGNMENT + gcdCMDBUF_RESERVED_TAIL) - cmdbuf->offset;
                } else {
                    cmdbuf->startOffset = cmdbuf->offset = cmdbuf->size;
                    cmdbuf->freeBytes = 0;
                }
                cmdbuf->entryPipe = cmdbuf->exitPipe = 0;
                lastSent = last;
                if (last) b->waitReached = gal::field<uint32_t>(r, GAL_COMMIT_WAIT_REACHED) == 1;
            }
            if (last) break;
        }
        b->committing = b->current;
    }
    gceSTATUS status = gcvSTATUS_OK;
    if (!lastSent) status = gcoQUEUE_Commit(queue, 0);
    if (status < 0) return status;  // the events stay queued
    return gcoQUEUE_Free(queue);
}

}  // namespace

extern "C" {

gceSTATUS gcoBUFFER_StartTEMPCMDBUF(gcoBUFFER b, gcsTEMPCMDBUF** temp) {
    if (!b || !temp) return gcvSTATUS_INVALID_ARGUMENT;
    if (b->temp.inUse) return gcvSTATUS_INVALID_REQUEST;
    b->temp.inUse = 1;
    b->temp.currentByteSize = 0;
    *temp = &b->temp;
    return gcvSTATUS_OK;
}

gceSTATUS gcoBUFFER_EndTEMPCMDBUF(gcoBUFFER b) {
    if (!b) return gcvSTATUS_INVALID_ARGUMENT;
    b->temp.inUse = 0;
    const uint32_t bytes = b->temp.currentByteSize;
    b->temp.currentByteSize = 0;
    if (bytes > gcdTEMP_CMDBUF_BYTES) {
        // The caller wrote past the area: what it holds cannot be trusted.
        gal::print(" Temp command buffer is overflowed!");
        return gcvSTATUS_BUFFER_TOO_SMALL;
    }
    return bytes ? gcoBUFFER_Write(b, b->temp.buffer, bytes, 1) : gcvSTATUS_OK;
}

}  // extern "C"
