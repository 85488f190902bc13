// container.cpp - the record container (gcsCONTAINER): records carved out of malloc'ed chunks,
// kept on a free list and a used list of nodes.
//
// The link words are real pointers, so a node is the record plus two pointers and a chunk is
// its nodes plus one pointer: 8 and 4 bytes on the 32-bit device, 16 and 8 on a 64-bit PC.
// The record behind the links is aligned to the pointer size; records that need more than
// that must round their size themselves.
#include "gal_container.h"

#include <cstdlib>

namespace {

using Link = gcsCONTAINER_LINK;

constexpr size_t kLinkWords = sizeof(Link);      // prev and next of a node
constexpr size_t kChunkLink = sizeof(void*);     // the next chunk
static_assert(sizeof(Link) == 2 * sizeof(void*), "a node's links are two pointers");

void unlink(Link* node) {
    node->prev->next = node->next;
    node->next->prev = node->prev;
}

void appendTail(Link* list, Link* node) {
    node->prev = list->prev;
    node->next = list;
    list->prev->next = node;
    list->prev = node;
}

bool empty(const Link* list) { return list->next == list; }

void resetList(Link* list) { list->prev = list->next = list; }

bool addChunk(gcsCONTAINER* c) {
    auto* chunk = static_cast<unsigned char*>(std::malloc(c->chunkSize));
    if (chunk == nullptr) return false;
    *reinterpret_cast<void**>(chunk) = c->chunks;
    c->chunks = chunk;
    unsigned char* node = chunk + kChunkLink;
    for (size_t i = 0; i < c->recordsPerChunk; ++i, node += c->nodeSize)
        appendTail(&c->freeList, reinterpret_cast<Link*>(node));
    return true;
}

}  // namespace

extern "C" {

int32_t gcsCONTAINER_Construct(gcsCONTAINER* container, size_t recordsPerChunk, size_t recordSize) {
    if (container == nullptr || recordsPerChunk == 0 || recordSize == 0) return -1;
    const size_t align = sizeof(void*);
    if (recordSize > SIZE_MAX - kLinkWords - (align - 1)) return -1;
    const size_t nodeSize = (kLinkWords + recordSize + align - 1) / align * align;
    if (recordsPerChunk > (SIZE_MAX - kChunkLink) / nodeSize) return -1;
    container->recordsPerChunk = recordsPerChunk;
    container->recordSize = recordSize;
    container->nodeSize = nodeSize;
    container->chunkSize = nodeSize * recordsPerChunk + kChunkLink;
    container->chunks = nullptr;
    resetList(&container->freeList);
    resetList(&container->usedList);
    return 0;
}

int32_t gcsCONTAINER_AllocateRecord(gcsCONTAINER* container, void** record) {
    if (container == nullptr || record == nullptr || container->nodeSize == 0) return -1;
    if (empty(&container->freeList) && !addChunk(container)) return -1;
    Link* node = container->freeList.next;
    unlink(node);
    appendTail(&container->usedList, node);
    *record = reinterpret_cast<unsigned char*>(node) + kLinkWords;
    return 0;
}

int32_t gcsCONTAINER_FreeRecord(gcsCONTAINER* container, void* record) {
    if (container == nullptr || record == nullptr) return -1;
    auto* node = reinterpret_cast<Link*>(static_cast<unsigned char*>(record) - kLinkWords);
    unlink(node);
    appendTail(&container->freeList, node);
    return 0;
}

int32_t gcsCONTAINER_FreeAll(gcsCONTAINER* container) {
    if (container == nullptr) return -1;
    Link* used = &container->usedList;
    if (!empty(used)) {
        Link* first = used->next;
        Link* last = used->prev;
        Link* free = &container->freeList;
        first->prev = free->prev;
        free->prev->next = first;
        last->next = free;
        free->prev = last;
        resetList(used);
    }
    return 0;
}

int32_t gcsCONTAINER_Destroy(gcsCONTAINER* container) {
    if (container == nullptr) return -1;
    void* chunk = container->chunks;
    while (chunk != nullptr) {
        void* next = *static_cast<void**>(chunk);
        std::free(chunk);
        chunk = next;
    }
    container->chunks = nullptr;
    resetList(&container->freeList);
    resetList(&container->usedList);
    return 0;
}

}  // extern "C"
