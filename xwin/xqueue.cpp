// Ring queue (see xqueue.h).
#include "xqueue.h"

#include <cstring>
#include <limits>

namespace {

// A queue that was never given usable storage behaves as empty and full at once, so no
// operation divides by a zero capacity or copies into a null buffer.
bool usable(const XQueue* queue) {
    return queue && queue->buffer && queue->elementSize > 0 && queue->capacity > 0;
}

int16_t following(const XQueue& queue, int16_t slot) {
    return static_cast<int16_t>((slot + 1) % queue.capacity);
}

char* slotAddress(const XQueue& queue, int16_t slot) {
    return static_cast<char*>(queue.buffer) + static_cast<ptrdiff_t>(slot) * queue.elementSize;
}

bool full(const XQueue& queue) { return following(queue, queue.rear) == queue.front; }

bool fits(int32_t value) { return value > 0 && value <= std::numeric_limits<int16_t>::max(); }

}  // namespace

extern "C" {

int32_t XQUEUE_InitSystem(XQueue* queue, void* buffer, int32_t elementSize, int32_t capacity) {
    if (!queue) return -5;
    const bool valid = buffer && fits(elementSize) && fits(capacity);
    queue->buffer = valid ? buffer : nullptr;
    queue->elementSize = valid ? static_cast<int16_t>(elementSize) : 0;
    queue->capacity = valid ? static_cast<int16_t>(capacity) : 0;
    queue->front = 0;
    queue->rear = 0;
    return valid ? 0 : -5;
}

int32_t XQUEUE_AddObjectToRear(XQueue* queue, const void* element) {
    if (!usable(queue) || !element || full(*queue)) return -5;
    std::memcpy(slotAddress(*queue, queue->rear), element, static_cast<size_t>(queue->elementSize));
    queue->rear = following(*queue, queue->rear);
    return 0;
}

int32_t XQUEUE_AddObjectToFront(XQueue* queue, const void* element) {
    if (!usable(queue) || !element) return -5;
    const int16_t front =
        queue->front == 0 ? static_cast<int16_t>(queue->capacity - 1)
                          : static_cast<int16_t>(queue->front - 1);
    if (front == queue->rear) return -5;
    queue->front = front;
    std::memcpy(slotAddress(*queue, front), element, static_cast<size_t>(queue->elementSize));
    return 0;
}

int32_t XQUEUE_FetchObject(XQueue* queue, void* out) {
    if (!usable(queue) || !out || queue->front == queue->rear) return -5;
    std::memcpy(out, slotAddress(*queue, queue->front), static_cast<size_t>(queue->elementSize));
    queue->front = following(*queue, queue->front);
    return 0;
}

int32_t XQUEUE_IsEmpty(const XQueue* queue) { return !usable(queue) || queue->front == queue->rear; }

int32_t XQUEUE_IsFull(const XQueue* queue) { return !usable(queue) || full(*queue); }

}  // extern "C"
