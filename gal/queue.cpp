// The event queue (gcoQUEUE): copies of kernel requests that the GPU carries out when it
// reaches them in the command stream, sent with a commit or on their own (command 15). Records
// come in chunks of 15 and are reused; links keep all the bits of an address.
#include <cstring>
#include <new>

#include "gal_internal.h"

namespace {

constexpr int kRecordsPerChunk = 15;

struct Chunk {
    Chunk* next;
    gcsQUEUE_EVENT records[kRecordsPerChunk];
};

uint64_t link(const gcsQUEUE_EVENT* event) {
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(event));
}
gcsQUEUE_EVENT* follow(uint64_t value) {
    return reinterpret_cast<gcsQUEUE_EVENT*>(static_cast<uintptr_t>(value));
}

}  // namespace

struct _gcoQUEUE {
    uint32_t magic;
    gcsQUEUE_EVENT* head;
    gcsQUEUE_EVENT* tail;
    Chunk* chunks;
    gcsQUEUE_EVENT* freeList;
    uint32_t count;
};

namespace gal {
uint32_t queueCount(gcoQUEUE queue) { return queue ? queue->count : 0; }
uint64_t queueHead(gcoQUEUE queue) { return queue ? link(queue->head) : 0; }
}  // namespace gal

extern "C" {

gceSTATUS gcoQUEUE_Construct(gcoOS os, gcoQUEUE* queue) {
    if (!queue) return gcvSTATUS_INVALID_ARGUMENT;
    void* memory = nullptr;
    const gceSTATUS status = gcoOS_Allocate(os, sizeof(_gcoQUEUE), &memory);
    if (status < 0) return status;
    *queue = new (memory) _gcoQUEUE{gal::kQueueMagic, nullptr, nullptr, nullptr, nullptr, 0};
    return gcvSTATUS_OK;
}

gceSTATUS gcoQUEUE_Destroy(gcoQUEUE queue) {
    if (!queue) return gcvSTATUS_INVALID_OBJECT;
    const gceSTATUS status = gcoQUEUE_Commit(queue, 1);
    gcoQUEUE_Free(queue);
    while (queue->chunks) {
        Chunk* next = queue->chunks->next;
        gcoOS_Free(nullptr, queue->chunks);
        queue->chunks = next;
    }
    queue->magic = 0;
    gcoOS_Free(nullptr, queue);
    return status;
}

gceSTATUS gcoQUEUE_AppendEvent(gcoQUEUE queue, gcsIO_REQUEST* request) {
    if (!queue || !request) return gcvSTATUS_INVALID_ARGUMENT;
    if (!queue->freeList) {
        void* memory = nullptr;
        const gceSTATUS status = gcoOS_Allocate(nullptr, sizeof(Chunk), &memory);
        if (status < 0) return status;
        auto* chunk = static_cast<Chunk*>(memory);
        chunk->next = queue->chunks;
        queue->chunks = chunk;
        for (int i = 0; i < kRecordsPerChunk; ++i) {
            chunk->records[i].next = link(queue->freeList);
            queue->freeList = &chunk->records[i];
        }
    }
    gcsQUEUE_EVENT* event = queue->freeList;
    queue->freeList = follow(event->next);
    event->next = 0;
    std::memcpy(&event->request, request, sizeof *request);
    if (queue->tail)
        queue->tail->next = link(event);
    else
        queue->head = event;
    queue->tail = event;
    ++queue->count;
    return gcvSTATUS_OK;
}

gceSTATUS gcoQUEUE_Commit(gcoQUEUE queue, int32_t stall) {
    if (!queue) return gcvSTATUS_INVALID_OBJECT;
    if (queue->count == 0) return gcvSTATUS_OK;
    gcsIO_REQUEST r = gal::request(CMD_EVENT_COMMIT);
    gal::setPointer(r, 0, queue->head);
    const gceSTATUS status = gal::call(r);
    if (status < 0) return status;  // the events stay queued for the next attempt
    gcoQUEUE_Free(queue);
    return stall ? gcoHARDWARE_Stall(nullptr) : gcvSTATUS_OK;
}

gceSTATUS gcoQUEUE_Free(gcoQUEUE queue) {
    if (!queue) return gcvSTATUS_INVALID_OBJECT;
    if (queue->tail) {
        queue->tail->next = link(queue->freeList);
        queue->freeList = queue->head;
    }
    queue->head = queue->tail = nullptr;
    queue->count = 0;
    return gcvSTATUS_OK;
}

}  // extern "C"
