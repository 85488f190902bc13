/*
 * gal_container.h - the record container: fixed-size records handed out from chunks of nodes.
 * A node is two link words followed by the record; a chunk is one chunk link followed by its
 * nodes. Records come from the head of the free list (a new chunk is threaded onto it in
 * address order when it runs dry); freed records go to the tail of the free list, so they
 * come back after the records that were already free.
 */
#ifndef GAL_CONTAINER_H
#define GAL_CONTAINER_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _gcsCONTAINER_LINK {
    struct _gcsCONTAINER_LINK* prev;
    struct _gcsCONTAINER_LINK* next;
} gcsCONTAINER_LINK;

typedef struct _gcsCONTAINER {
    size_t recordsPerChunk;
    size_t recordSize;
    size_t nodeSize;   /* record size + the two link words */
    size_t chunkSize;  /* nodes of one chunk + the chunk link */
    void* chunks;      /* singly linked through each chunk's first word */
    gcsCONTAINER_LINK freeList; /* sentinels of the two circular lists */
    gcsCONTAINER_LINK usedList;
} gcsCONTAINER;

/* All return 0 on success and -1 on a null or zero argument, an overflowing size or no memory. */
int32_t gcsCONTAINER_Construct(gcsCONTAINER* container, size_t recordsPerChunk, size_t recordSize);
int32_t gcsCONTAINER_AllocateRecord(gcsCONTAINER* container, void** record);
int32_t gcsCONTAINER_FreeRecord(gcsCONTAINER* container, void* record);
int32_t gcsCONTAINER_FreeAll(gcsCONTAINER* container);
int32_t gcsCONTAINER_Destroy(gcsCONTAINER* container);

#ifdef __cplusplus
}
#endif

#endif
