// Intrusive lists (see xlist.h). A node is any record that begins with a next and a prev
// pointer; the links are read and written bytewise so that the list code does not depend on the
// record's own type for those first two pointers.
#include "xlist.h"

#include <cstring>

namespace {

void* nextOf(const void* node) {
    void* p;
    std::memcpy(&p, static_cast<const char*>(node) + offsetof(XSListNode, next), sizeof p);
    return p;
}

void* prevOf(const void* node) {
    void* p;
    std::memcpy(&p, static_cast<const char*>(node) + offsetof(XSListNode, prev), sizeof p);
    return p;
}

void setNext(void* node, void* next) {
    std::memcpy(static_cast<char*>(node) + offsetof(XSListNode, next), &next, sizeof next);
}

void setPrev(void* node, void* prev) {
    std::memcpy(static_cast<char*>(node) + offsetof(XSListNode, prev), &prev, sizeof prev);
}

// Without a compare function only the very node already listed counts as a duplicate.
int32_t compareNodes(const XSList& list, void* node, void* newNode) {
    if (list.compare) return list.compare(node, newNode);
    return node == newNode ? 0 : -1;
}

bool matches(const XSList& list, void* node, void* key) {
    if (list.match) return list.match(node, key) == 0;
    return node == key;
}

void* find(const XSList* list, void* key) {
    if (!list || list->count == 0) return nullptr;
    for (void* node = list->head; node; node = nextOf(node))
        if (matches(*list, node, key)) return node;
    return nullptr;
}

void unlink(XSList& list, void* node) {
    void* next = nextOf(node);
    void* prev = prevOf(node);
    if (--list.count == 0) {
        list.head = nullptr;
        list.tail = nullptr;
    } else if (node == list.head) {
        list.head = next;
        if (next) setPrev(next, nullptr);
    } else if (node == list.tail) {
        list.tail = prev;
        if (prev) setNext(prev, nullptr);
    } else {
        setNext(prev, next);
        setPrev(next, prev);
    }
    setNext(node, nullptr);
    setPrev(node, nullptr);
}

void append(XSList& list, void* node) {
    setNext(node, nullptr);
    setPrev(node, list.tail);
    if (list.tail)
        setNext(list.tail, node);
    else
        list.head = node;
    list.tail = node;
}

void insertBefore(XSList& list, void* at, void* node) {
    void* prev = prevOf(at);
    setNext(node, at);
    setPrev(node, prev);
    setPrev(at, node);
    if (prev)
        setNext(prev, node);
    else
        list.head = node;
}

}  // namespace

extern "C" {

int32_t XSLIST_InitSystem(XSList* list, uint32_t sorted, XSLIST_COMPARE compare,
                          XSLIST_MATCH match) {
    if (!list) return -5;
    list->head = nullptr;
    list->tail = nullptr;
    list->count = 0;
    list->flags = static_cast<uint16_t>((sorted & XSLIST_FLAG_SORTED) | XSLIST_FLAG_INITIALISED);
    list->compare = compare;
    list->match = match;
    return 0;
}

int32_t XSLIST_InsertObject(XSList* list, void* node) {
    if (!list || !node) return -5;
    if (list->count == 0 || !list->head) {
        list->head = nullptr;
        list->tail = nullptr;
        append(*list, node);
        list->count = 1;
        return 0;
    }
    const bool sorted = (list->flags & XSLIST_FLAG_SORTED) != 0;
    for (void* at = list->head; at; at = nextOf(at)) {
        const int32_t order = compareNodes(*list, at, node);
        if (order == 0) return -5;
        if (sorted && order > 0) {
            insertBefore(*list, at, node);
            ++list->count;
            return 0;
        }
    }
    append(*list, node);
    ++list->count;
    return 0;
}

void* XSLIST_FetchObject(XSList* list, void* key) {
    void* node = find(list, key);
    if (node) unlink(*list, node);
    return node;
}

void* XSLIST_GetObject(XSList* list, void* key) { return find(list, key); }

int32_t XSLIST_GetObjectIndex(XSList* list, void* node) {
    if (!list || list->count == 0) return -1;
    int32_t index = 0;
    for (void* at = list->head; at; at = nextOf(at), ++index)
        if (at == node) return index;
    return -1;
}

void* XSLIST_GetNthObjectFrom(XSList* list, void* start, int32_t n) {
    if (!list) return nullptr;
    void* node = start;
    if (n >= 0) {
        for (; node && n > 0; --n) node = nextOf(node);
    } else {
        for (; node && n < 0; ++n) node = prevOf(node);
    }
    return node;
}

void* XSLIST_GetNthObject(XSList* list, int32_t n) {
    if (!list) return nullptr;
    return XSLIST_GetNthObjectFrom(list, n >= 0 ? list->head : list->tail, n);
}

void* XSLIST_FetchNthObject(XSList* list, int32_t n) {
    void* node = XSLIST_GetNthObject(list, n);
    // Past either end there is nothing to fetch: a match function must never see a null key.
    if (!node) return nullptr;
    return XSLIST_FetchObject(list, node);
}

int32_t XSLIST_IsEmpty(const XSList* list) { return !list || list->count == 0; }

int32_t XSLIST_GetNumElement(const XSList* list) { return list ? list->count : 0; }

void XSLIST_InitIterator(XSListIter* iter, XSList* list) {
    if (!iter) return;
    iter->list = list;
    iter->current = nullptr;
}

void* XSLIST_SetIterator(XSListIter* iter, void* node) {
    if (!iter) return nullptr;
    iter->current = node;
    return node;
}

void* XSLIST_GetFirstObject(XSListIter* iter) {
    if (!iter) return nullptr;
    iter->current = iter->list ? iter->list->head : nullptr;
    return iter->current;
}

void* XSLIST_GetLastObject(XSListIter* iter) {
    if (!iter) return nullptr;
    iter->current = iter->list ? iter->list->tail : nullptr;
    return iter->current;
}

void* XSLIST_GetNextObject(XSListIter* iter) {
    if (!iter || !iter->current) return nullptr;
    iter->current = nextOf(iter->current);
    return iter->current;
}

void* XSLIST_GetPrevObject(XSListIter* iter) {
    if (!iter || !iter->current) return nullptr;
    iter->current = prevOf(iter->current);
    return iter->current;
}

void* XSLIST_GetNextObjectEx(XSListIter* iter, void* node) {
    if (!iter) return nullptr;
    iter->current = node ? nextOf(node) : nullptr;
    return iter->current;
}

void* XSLIST_GetPrevObjectEx(XSListIter* iter, void* node) {
    if (!iter) return nullptr;
    iter->current = node ? prevOf(node) : nullptr;
    return iter->current;
}

}  // extern "C"
