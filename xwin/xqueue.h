// Bounded ring queue of fixed-size elements copied in and out by value (the XQUEUE_ family).
// The storage belongs to the caller; one slot always stays empty, so a queue of capacity c
// holds at most c - 1 elements. No locking: the window manager's task owns its queues.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

struct XQueue {
    void* buffer;         // caller-owned, capacity x element size bytes
    int16_t elementSize;  // bytes per element
    int16_t capacity;     // number of slots
    int16_t front;        // slot of the next element to fetch
    int16_t rear;         // slot the next element added at the rear goes into
};
static_assert(offsetof(XQueue, elementSize) == sizeof(void*));
static_assert(offsetof(XQueue, capacity) == sizeof(void*) + 2);
static_assert(offsetof(XQueue, front) == sizeof(void*) + 4);
static_assert(offsetof(XQueue, rear) == sizeof(void*) + 6);
static_assert(sizeof(XQueue) == (sizeof(void*) == 4 ? 12 : 16));

// Stores buffer, element size and capacity; front and rear to 0. 0, or -5 when the buffer is
// null or the size or capacity is not positive (such a queue refuses every add and fetch).
int32_t XQUEUE_InitSystem(XQueue* queue, void* buffer, int32_t elementSize, int32_t capacity);
// Copies the element into slot rear; -5 when full.
int32_t XQUEUE_AddObjectToRear(XQueue* queue, const void* element);
// Copies the element into the slot before front, which becomes the new front; -5 when full.
int32_t XQUEUE_AddObjectToFront(XQueue* queue, const void* element);
// Copies slot front to `out` and advances front; -5 when empty.
int32_t XQUEUE_FetchObject(XQueue* queue, void* out);
int32_t XQUEUE_IsEmpty(const XQueue* queue);
int32_t XQUEUE_IsFull(const XQueue* queue);

}  // extern "C"
