// The display driver: the only part of the window system that talks to the platform. It owns
// the event queue "uxm-evq", the display surface on the frame buffer and the system time tick,
// and forwards threads, mutexes, clocks and sleep to the platform library.
#pragma once

#include <cstdint>

#include "veldcore.h"
#include "xevent.h"

extern "C" {

// Event queue (System V, 28-byte messages). Queue id 0 names the window system's own event
// queue "uxm-evq".
uint32_t XDRV_CreateQueue(const char* name, uint32_t ignored);
int32_t XDRV_SendQueue(uint32_t queueId, const XEvent* event, uint32_t ignored);
int32_t XDRV_ReceiveQueue(uint32_t queueId, XEvent* event, uint32_t ignored);

}  // extern "C"

namespace veld::xdrv {

// The key of a queue name: h = h * 31 + byte over the name's bytes, modulo 2^32.
constexpr uint32_t queueKey(const char* name) {
    uint32_t h = 0;
    for (; *name; ++name) h = h * 31u + static_cast<unsigned char>(*name);
    return h;
}
static_assert(queueKey("uxm-evq") == 0x00149FBDu);
static_assert(queueKey("") == 0);

inline constexpr const char* kEventQueueName = "uxm-evq";

// Id of the event queue, opening it on first use so that keys posted before the monitor runs
// wait in the queue instead of going to whatever queue happens to have id 0.
int eventQueueId();

}  // namespace veld::xdrv
