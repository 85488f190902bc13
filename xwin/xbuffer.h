// Fixed pools of equally sized elements (the XBUFFER_ family). The free list is an unsorted
// XSList running through the free elements themselves, first in first out; its compare and
// match functions work on pointer identity, so an element returned twice is listed once.
#pragma once

#include <cstddef>
#include <cstdint>

#include "xlist.h"

extern "C" {

struct XBuffer {
    uint32_t elementSize;   // bytes per element (the stride; see XBUFFER_Create)
    uint32_t elementCount;  // elements in the pool
    XSList freeList;        // unsorted, through the free elements
    void* poolStart;        // first byte of the pool, owned by the XBuffer; null when destroyed
    void* poolEnd;          // one past the last byte
};
static_assert(offsetof(XBuffer, freeList) == 8);
static_assert(offsetof(XBuffer, poolStart) == 8 + sizeof(XSList));
static_assert(offsetof(XBuffer, poolEnd) == 8 + sizeof(XSList) + sizeof(void*));

// Allocates elementCount elements of elementSize bytes (zeroed) and chains them all into the
// free list in address order. An element carries the two free-list links while it is free, so
// the size is raised to at least two pointers and rounded up to pointer alignment; the stored
// element size is that stride. 0, or -5 when the pool cannot be made (no memory, or more
// elements than a list can count).
int32_t XBUFFER_Create(XBuffer* pool, uint32_t elementSize, uint32_t elementCount);
// The head of the free list, its element size bytes cleared; null (and a debug line) when the
// pool is exhausted.
void* XBUFFER_Alloc(XBuffer* pool);
// Returns *element to the tail of the free list when it is an element of this pool and not
// already free; anything else is ignored. The caller's pointer is nulled in every case.
int32_t XBUFFER_FreeSafe(XBuffer* pool, void** element);
// Every element back on the free list in address order; memory is not cleared.
int32_t XBUFFER_Flush(XBuffer* pool);
// Frees the pool memory; afterwards the pool hands out nothing. A destroyed pool is left
// alone. 0.
int32_t XBUFFER_Destroy(XBuffer* pool);

}  // extern "C"
