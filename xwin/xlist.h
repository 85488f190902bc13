// Intrusive doubly linked lists of the window system (the XSLIST_ family): kept sorted by a
// compare function or in insertion order, with duplicate refusal, search by a match function,
// positional access and a separate iterator. A list never allocates or frees a node and takes
// no lock; it belongs to the window manager's task.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

// Every record placed in a list begins with these two links (next, then prev). The first
// node's prev and the last node's next are null; an unlinked node has both links null. A node
// is in at most one list at a time.
struct XSListNode {
    void* next;
    void* prev;
};

// compare(node, newNode): 0 refuses newNode as a duplicate; in a sorted list a positive result
// places newNode before node. match(node, key): 0 selects node.
typedef int32_t (*XSLIST_COMPARE)(void* node, void* newNode);
typedef int32_t (*XSLIST_MATCH)(void* node, void* key);

constexpr uint16_t XSLIST_FLAG_SORTED = 0x1;
constexpr uint16_t XSLIST_FLAG_INITIALISED = 0x2;

// List header, owned by its user (usually embedded in a larger record). Nodes are passed as
// void* so that any record beginning with the two links can be listed without casts.
struct XSList {
    void* head;  // first node, null when empty
    void* tail;  // last node, null when empty
    uint16_t flags;
    uint16_t count;
    XSLIST_COMPARE compare;
    XSLIST_MATCH match;
};
static_assert(offsetof(XSList, tail) == sizeof(void*));
static_assert(offsetof(XSList, flags) == 2 * sizeof(void*));
static_assert(offsetof(XSList, count) == 2 * sizeof(void*) + 2);
static_assert(offsetof(XSList, compare) == (sizeof(void*) == 4 ? 12 : 24));
static_assert(sizeof(XSList) == (sizeof(void*) == 4 ? 20 : 40));

// Iterator: the list it walks and the current node (null before the first step and after the
// end).
struct XSListIter {
    XSList* list;
    void* current;
};
static_assert(sizeof(XSListIter) == 2 * sizeof(void*));

// Empties the header: head, tail and count 0, flags = (sorted & 1) | 2. Returns 0.
// A null compare refuses only the very node already listed (pointer identity); a null match
// selects by pointer identity.
int32_t XSLIST_InitSystem(XSList* list, uint32_t sorted, XSLIST_COMPARE compare,
                          XSLIST_MATCH match);
// Links `node` in: in ascending compare order for a sorted list, at the tail otherwise.
// 0, or -5 for a duplicate (compare 0 against a listed node) or a null argument.
int32_t XSLIST_InsertObject(XSList* list, void* node);
// Unlinks and returns the first node (from the head) that matches `key`; null when none.
void* XSLIST_FetchObject(XSList* list, void* key);
// The first node that matches `key`, left in the list; null when none.
void* XSLIST_GetObject(XSList* list, void* key);
// 0-based position of that very node (pointer identity); -1 when absent.
int32_t XSLIST_GetObjectIndex(XSList* list, void* node);
// n >= 0: n steps along next from `start` (0 gives start); n < 0: |n| steps along prev.
// Null as soon as a step leaves the list, and for a null list.
void* XSLIST_GetNthObjectFrom(XSList* list, void* start, int32_t n);
// n >= 0 steps from the head, n < 0 steps back from the tail (so -1 is the node before the
// tail).
void* XSLIST_GetNthObject(XSList* list, int32_t n);
// XSLIST_GetNthObject, then XSLIST_FetchObject with that node as the key.
void* XSLIST_FetchNthObject(XSList* list, int32_t n);
// From the count field.
int32_t XSLIST_IsEmpty(const XSList* list);
int32_t XSLIST_GetNumElement(const XSList* list);

// Iterator over a list; current starts null.
void XSLIST_InitIterator(XSListIter* iter, XSList* list);
void* XSLIST_SetIterator(XSListIter* iter, void* node);
// Current to the list's head / tail, returned.
void* XSLIST_GetFirstObject(XSListIter* iter);
void* XSLIST_GetLastObject(XSListIter* iter);
// Null when current is null; else current moves to its next / prev and is returned.
void* XSLIST_GetNextObject(XSListIter* iter);
void* XSLIST_GetPrevObject(XSListIter* iter);
// Current to node's next / prev, returned (null for a null node).
void* XSLIST_GetNextObjectEx(XSListIter* iter, void* node);
void* XSLIST_GetPrevObjectEx(XSListIter* iter, void* node);

}  // extern "C"
