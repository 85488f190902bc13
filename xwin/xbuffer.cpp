// Fixed pools (see xbuffer.h).
#include "xbuffer.h"

#include <cstring>
#include <limits>

#include "veldd_log.h"
#include "xstring.h"

using namespace veld::loglevel;

namespace {

// The free list refuses a pointer only when it is that very element.
int32_t identity(void* node, void* other) {
    if (node == other) return 0;
    return node < other ? -1 : 1;
}

constexpr uint32_t kMinStride = sizeof(XSListNode);
constexpr uint32_t kAlign = alignof(XSListNode);

uint32_t strideFor(uint32_t elementSize) {
    const uint32_t size = elementSize < kMinStride ? kMinStride : elementSize;
    return (size + (kAlign - 1)) & ~(kAlign - 1);
}

char* elementAt(const XBuffer& pool, uint32_t index) {
    return static_cast<char*>(pool.poolStart) + static_cast<size_t>(index) * pool.elementSize;
}

void chainAll(XBuffer& pool) {
    XSLIST_InitSystem(&pool.freeList, 0, identity, identity);
    if (!pool.poolStart || pool.elementCount == 0) return;
    // The elements are linked in address order directly: inserting them one by one would check
    // each against every element already listed.
    for (uint32_t i = 0; i < pool.elementCount; ++i) {
        XSListNode links{i + 1 < pool.elementCount ? elementAt(pool, i + 1) : nullptr,
                         i > 0 ? elementAt(pool, i - 1) : nullptr};
        std::memcpy(elementAt(pool, i), &links, sizeof links);
    }
    pool.freeList.head = elementAt(pool, 0);
    pool.freeList.tail = elementAt(pool, pool.elementCount - 1);
    pool.freeList.count = static_cast<uint16_t>(pool.elementCount);
}

// An element of this pool: inside it and on an element boundary. A pointer into the middle of
// an element would put overlapping memory on the free list.
bool ownsElement(const XBuffer& pool, const void* element) {
    if (!pool.poolStart || !element) return false;
    const auto* p = static_cast<const char*>(element);
    const auto* start = static_cast<const char*>(pool.poolStart);
    const auto* end = static_cast<const char*>(pool.poolEnd);
    if (p < start || p >= end) return false;
    return static_cast<size_t>(p - start) % pool.elementSize == 0;
}

}  // namespace

extern "C" {

int32_t XBUFFER_Create(XBuffer* pool, uint32_t elementSize, uint32_t elementCount) {
    if (!pool) return -5;
    std::memset(pool, 0, sizeof *pool);
    const uint32_t stride = strideFor(elementSize);
    if (elementCount > std::numeric_limits<uint16_t>::max() ||
        static_cast<uint64_t>(stride) * elementCount > std::numeric_limits<size_t>::max() / 2) {
        XSLIST_InitSystem(&pool->freeList, 0, identity, identity);
        return -5;
    }
    const size_t bytes = static_cast<size_t>(stride) * elementCount;
    pool->poolStart = XMEM_Alloc(bytes);
    if (!pool->poolStart) {
        XSLIST_InitSystem(&pool->freeList, 0, identity, identity);
        return -5;
    }
    pool->elementSize = stride;
    pool->elementCount = elementCount;
    pool->poolEnd = static_cast<char*>(pool->poolStart) + bytes;
    chainAll(*pool);
    return 0;
}

void* XBUFFER_Alloc(XBuffer* pool) {
    void* element = pool ? XSLIST_FetchNthObject(&pool->freeList, 0) : nullptr;
    if (!element) {
        VELDD_LOG(kDebug, "[xDbg] [XBUFFER] -- data underflow --\n");
        return nullptr;
    }
    std::memset(element, 0, pool->elementSize);
    return element;
}

int32_t XBUFFER_FreeSafe(XBuffer* pool, void** element) {
    if (!element) return 0;
    // A second return of the same element is refused by the free list's identity compare.
    if (pool && ownsElement(*pool, *element)) XSLIST_InsertObject(&pool->freeList, *element);
    *element = nullptr;
    return 0;
}

int32_t XBUFFER_Flush(XBuffer* pool) {
    if (!pool) return -5;
    chainAll(*pool);
    return 0;
}

int32_t XBUFFER_Destroy(XBuffer* pool) {
    if (!pool || !pool->poolStart) return 0;
    XMEM_FreeSafe(&pool->poolStart);
    pool->poolEnd = nullptr;
    // The free list ran through the freed memory: forget it so nothing is handed out again.
    XSLIST_InitSystem(&pool->freeList, 0, identity, identity);
    return 0;
}

}  // extern "C"
