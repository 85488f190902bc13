// The heap (gcoHEAP): blocks carved from arenas that come from the system allocator. Each
// arena holds nodes with an 8-byte header {size with the header, next free node or
// kInUse} and ends with a {0, 0} sentinel; allocation is first fit along each arena's free
// list, cutting from the end of a larger node. Freeing only marks a node; when nothing fits,
// every arena is compacted once (runs of free nodes merged, arenas that are wholly free given
// back, all but the most recently used) before a new arena is taken. One mutex guards the
// arenas and the statistics; arenas are given back to the system after it is released.
#include "heap.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <atomic>
#include <mutex>
#include <new>
#include <thread>

#include "gal_internal.h"

namespace {

constexpr uint32_t kHeapMagic = gal::fourCC('H', 'E', 'A', 'P');
constexpr uint32_t kInUse = 0xFFFFFFFFu;
constexpr uint32_t kEndOfList = 0;       // free-list links are offsets from the arena's start
constexpr uint32_t kNodeHeader = 8;
constexpr uint32_t kMinimumNode = 16;    // a header and at least 8 bytes for the caller
constexpr uint32_t kWholeSlack = 16;     // a free node at most this much larger is taken whole
constexpr uint32_t kDefaultArena = 64 * 1024;
constexpr uint64_t kLargestArena = 0xFFFFFFF8u;  // node sizes and offsets are 32-bit

struct NodeHeader {
    uint32_t size;  // bytes of the node, header included; 0 in the sentinel
    uint32_t next;  // next free node's offset, kEndOfList, or kInUse
};
static_assert(sizeof(NodeHeader) == kNodeHeader);

struct Arena {
    Arena* next;
    Arena* previous;
    uint32_t usable;    // bytes of nodes between the arena record and the sentinel
    uint32_t freeHead;  // offset of the first free node, kEndOfList when none
};

constexpr uint32_t kNodesStart = (sizeof(Arena) + 7) & ~uint32_t(7);
// What an arena needs besides its nodes: its record and the sentinel.
constexpr uint32_t kArenaOverhead = kNodesStart + kNodeHeader;

uint8_t* base(Arena* a) { return reinterpret_cast<uint8_t*>(a); }
NodeHeader* nodeAt(Arena* a, uint32_t offset) {
    return reinterpret_cast<NodeHeader*>(base(a) + offset);
}
uint32_t sentinelOffset(const Arena* a) { return kNodesStart + a->usable; }

}  // namespace

// The heap's mutex. Its sections are a few dozen instructions, so a waiter spins briefly and
// then yields; taking it is one atomic exchange and giving it back a plain store, half the
// atomic operations of a general mutex, which is most of the cost of a small allocation.
class HeapMutex {
public:
    void lock() {
        while (locked_.exchange(true, std::memory_order_acquire)) {
            for (int spins = 0; locked_.load(std::memory_order_relaxed); ++spins) {
                if (spins < 64) {
#if defined(__x86_64__) || defined(__i386__)
                    __builtin_ia32_pause();
#endif
                } else {
                    std::this_thread::yield();
                }
            }
        }
    }
    void unlock() { locked_.store(false, std::memory_order_release); }

private:
    std::atomic<bool> locked_{false};
};

struct _gcoHEAP {
    uint32_t magic = kHeapMagic;
    HeapMutex lock;
    uint32_t arenaSize = kDefaultArena;
    Arena* arenas = nullptr;
    gal::HeapStatistics statistics;
};

namespace {

bool valid(gcoHEAP heap) { return heap && heap->magic == kHeapMagic; }

void unlink(gcoHEAP heap, Arena* a) {
    if (a->previous) a->previous->next = a->next;
    else heap->arenas = a->next;
    if (a->next) a->next->previous = a->previous;
    a->next = a->previous = nullptr;
}

void pushFront(gcoHEAP heap, Arena* a) {
    a->previous = nullptr;
    a->next = heap->arenas;
    if (heap->arenas) heap->arenas->previous = a;
    heap->arenas = a;
}

void countArena(gal::HeapStatistics& s, int64_t bytes) {
    if (bytes > 0) {
        ++s.arenas;
        s.arenaBytes += uint64_t(bytes);
        if (s.arenas > s.peakArenas) s.peakArenas = s.arenas;
        if (s.arenaBytes > s.peakArenaBytes) s.peakArenaBytes = s.arenaBytes;
    } else {
        --s.arenas;
        s.arenaBytes -= uint64_t(-bytes);
    }
}

// A new arena of `bytes` (record and sentinel included) with one free node over all of it.
Arena* newArena(gcoHEAP heap, uint32_t bytes) {
    auto* a = static_cast<Arena*>(std::malloc(bytes));
    if (!a) return nullptr;
    a->usable = bytes - kArenaOverhead;
    a->freeHead = kNodesStart;
    *nodeAt(a, kNodesStart) = NodeHeader{a->usable, kEndOfList};
    *nodeAt(a, sentinelOffset(a)) = NodeHeader{0, 0};
    pushFront(heap, a);
    countArena(heap->statistics, bytes);
    return a;
}

// First fit along the arena's free list; the offset of the node before it in `before`.
uint32_t findFit(Arena* a, uint32_t need, uint32_t& before) {
    before = kEndOfList;
    for (uint32_t at = a->freeHead; at != kEndOfList; at = nodeAt(a, at)->next) {
        if (nodeAt(a, at)->size >= need) return at;
        before = at;
    }
    return kEndOfList;
}

// Rebuilds the arena's free list in address order, merging runs of free nodes. True when the
// arena is wholly free.
bool compact(Arena* a) {
    const uint32_t end = sentinelOffset(a);
    uint32_t tail = kEndOfList;
    a->freeHead = kEndOfList;
    for (uint32_t at = kNodesStart; at < end;) {
        NodeHeader* node = nodeAt(a, at);
        if (node->next == kInUse) {
            at += node->size;
            continue;
        }
        uint32_t next = at + node->size;
        while (next < end && nodeAt(a, next)->next != kInUse) next += nodeAt(a, next)->size;
        node->size = next - at;
        node->next = kEndOfList;
        if (tail == kEndOfList) a->freeHead = at;
        else nodeAt(a, tail)->next = at;
        tail = at;
        at = next;
    }
    return a->freeHead == kNodesStart && nodeAt(a, kNodesStart)->size == a->usable;
}

// The arena whose nodes contain `p`, or null.
Arena* arenaOf(gcoHEAP heap, const uint8_t* p) {
    for (Arena* a = heap->arenas; a; a = a->next) {
        const uint8_t* first = base(a) + kNodesStart + kNodeHeader;
        if (p >= first && p < base(a) + sentinelOffset(a)) return a;
    }
    return nullptr;
}

// The node header of a block the heap handed out, or null (with the reason in `status`).
NodeHeader* blockHeader(gcoHEAP heap, void* memory, gceSTATUS& status) {
    const auto* p = static_cast<const uint8_t*>(memory);
    Arena* a = arenaOf(heap, p);
    if (!a) {
        status = gcvSTATUS_INVALID_ARGUMENT;
        return nullptr;
    }
    const uint32_t offset = uint32_t(p - base(a)) - kNodeHeader;
    NodeHeader* node = nodeAt(a, offset);
    // Not a node boundary, a damaged header, or a block that is already free.
    if ((offset - kNodesStart) % 8 != 0 || node->next != kInUse || node->size < kMinimumNode ||
        node->size % 8 != 0 || node->size > sentinelOffset(a) - offset) {
        status = gcvSTATUS_HEAP_CORRUPTED;
        return nullptr;
    }
    status = gcvSTATUS_OK;
    return node;
}

}  // namespace

namespace gal {

bool heapStatistics(gcoHEAP heap, HeapStatistics& statistics) {
    if (!valid(heap)) return false;
    std::lock_guard<HeapMutex> guard(heap->lock);
    statistics = heap->statistics;
    return true;
}

}  // namespace gal

extern "C" {

gceSTATUS gcoHEAP_Construct(gcoOS, size_t allocationSize, gcoHEAP* heap) {
    if (!heap) return gcvSTATUS_INVALID_ARGUMENT;
    *heap = nullptr;
    uint64_t size = allocationSize ? uint64_t(allocationSize) : kDefaultArena;
    if (size > kLargestArena) return gcvSTATUS_INVALID_ARGUMENT;
    size = (size + 7) & ~uint64_t(7);
    if (size < kArenaOverhead + kMinimumNode) size = kArenaOverhead + kMinimumNode;
    void* memory = std::malloc(sizeof(_gcoHEAP));
    if (!memory) return gcvSTATUS_OUT_OF_MEMORY;
    auto* h = new (memory) _gcoHEAP{};
    h->arenaSize = uint32_t(size);
    *heap = h;
    return gcvSTATUS_OK;
}

gceSTATUS gcoHEAP_Destroy(gcoHEAP heap) {
    if (!valid(heap)) return gcvSTATUS_INVALID_OBJECT;
    while (Arena* a = heap->arenas) {
        heap->arenas = a->next;
        std::free(a);
    }
    heap->magic = 0;
    heap->~_gcoHEAP();
    std::free(heap);
    return gcvSTATUS_OK;
}

gceSTATUS gcoHEAP_Allocate(gcoHEAP heap, size_t bytes, void** memory) {
    if (memory) *memory = nullptr;
    if (!valid(heap)) return gcvSTATUS_INVALID_OBJECT;
    if (!memory) return gcvSTATUS_INVALID_ARGUMENT;
    // The node must fit a 32-bit header and an arena of at most kLargestArena bytes.
    if (bytes > kLargestArena - kArenaOverhead - kNodeHeader) return gcvSTATUS_OUT_OF_MEMORY;
    uint32_t need = uint32_t((uint64_t(bytes) + kNodeHeader + 7) & ~uint64_t(7));
    if (need < kMinimumNode) need = kMinimumNode;

    Arena* emptied = nullptr;  // arenas that compaction found wholly free, freed after the lock
    gceSTATUS status = gcvSTATUS_OK;
    {
        std::lock_guard<HeapMutex> guard(heap->lock);
        Arena* arena = nullptr;
        uint32_t at = kEndOfList, before = kEndOfList;
        if (uint64_t(need) + kArenaOverhead >= heap->arenaSize) {
            // A block this large gets an arena of its own, and later arenas grow with it.
            uint64_t grown = 2 * uint64_t(need);
            if (grown < uint64_t(need) + kArenaOverhead) grown = uint64_t(need) + kArenaOverhead;
            if (grown > kLargestArena) grown = kLargestArena;
            heap->arenaSize = uint32_t(grown);
        } else {
            for (int pass = 0; pass < 2 && at == kEndOfList; ++pass) {
                if (pass == 1) {
                    // Arenas left wholly free go back to the system, except the most recently
                    // used one: a heap that empties and fills again keeps one arena warm
                    // instead of giving it back and taking a new one each time.
                    for (Arena* a = heap->arenas; a;) {
                        Arena* next = a->next;
                        if (compact(a) && a != heap->arenas) {
                            unlink(heap, a);
                            countArena(heap->statistics, -int64_t(a->usable + kArenaOverhead));
                            a->next = emptied;
                            emptied = a;
                        }
                        a = next;
                    }
                }
                for (arena = heap->arenas; arena; arena = arena->next) {
                    at = findFit(arena, need, before);
                    if (at != kEndOfList) break;
                }
            }
        }
        if (at == kEndOfList) {
            arena = newArena(heap, heap->arenaSize);
            if (arena) at = findFit(arena, need, before);
        }
        if (!arena || at == kEndOfList) {
            status = gcvSTATUS_OUT_OF_MEMORY;
        } else {
            if (arena != heap->arenas) {
                unlink(heap, arena);
                pushFront(heap, arena);
            }
            NodeHeader* node = nodeAt(arena, at);
            if (node->size - need <= kWholeSlack) {
                if (before == kEndOfList) arena->freeHead = node->next;
                else nodeAt(arena, before)->next = node->next;
            } else {
                node->size -= need;
                at += node->size;
                node = nodeAt(arena, at);
                node->size = need;
            }
            node->next = kInUse;
            gal::HeapStatistics& s = heap->statistics;
            ++s.allocations;
            s.bytesInUse += node->size;
            s.bytesHandedOut += node->size;
            if (s.bytesInUse > s.peakBytesInUse) s.peakBytesInUse = s.bytesInUse;
            *memory = base(arena) + at + kNodeHeader;
        }
    }
    while (emptied) {
        Arena* next = emptied->next;
        std::free(emptied);
        emptied = next;
    }
    return status;
}

gceSTATUS gcoHEAP_Free(gcoHEAP heap, void* memory) {
    if (!valid(heap)) return gcvSTATUS_INVALID_OBJECT;
    if (!memory) return gcvSTATUS_INVALID_ARGUMENT;
    std::lock_guard<HeapMutex> guard(heap->lock);
    gceSTATUS status = gcvSTATUS_OK;
    NodeHeader* node = blockHeader(heap, memory, status);
    if (!node) return status;
    node->next = kEndOfList;  // free; the next compaction puts it back on a free list
    heap->statistics.bytesInUse -= node->size;
    return gcvSTATUS_OK;
}

gceSTATUS gcoHEAP_GetMemorySize(gcoHEAP heap, void* memory, size_t* bytes) {
    if (bytes) *bytes = 0;
    if (!valid(heap)) return gcvSTATUS_INVALID_OBJECT;
    if (!memory || !bytes) return gcvSTATUS_INVALID_ARGUMENT;
    std::lock_guard<HeapMutex> guard(heap->lock);
    gceSTATUS status = gcvSTATUS_OK;
    const NodeHeader* node = blockHeader(heap, memory, status);
    if (node) *bytes = node->size;
    return status;
}

// Clears the counters; what is in use now stays counted, so that later frees balance.
gceSTATUS gcoHEAP_ProfileStart(gcoHEAP heap) {
    if (!valid(heap)) return gcvSTATUS_INVALID_OBJECT;
    std::lock_guard<HeapMutex> guard(heap->lock);
    gal::HeapStatistics& s = heap->statistics;
    s.allocations = 0;
    s.bytesHandedOut = 0;
    s.peakBytesInUse = s.bytesInUse;
    s.peakArenas = s.arenas;
    s.peakArenaBytes = s.arenaBytes;
    return gcvSTATUS_OK;
}

gceSTATUS gcoHEAP_ProfileEnd(gcoHEAP heap, const char*) {
    return valid(heap) ? gcvSTATUS_OK : gcvSTATUS_INVALID_OBJECT;
}

}  // extern "C"
