// The display driver: the only part of the window system that talks to the platform. It owns
// the event queue "uxm-evq", the display surface on the frame buffer and the system time tick,
// and forwards threads, mutexes, clocks and sleep to the platform library.
#pragma once

#include <cstddef>
#include <cstdint>

#include "veldcore.h"
#include "xevent.h"

extern "C" {

struct XWindow;  // xwindow.h

// The display: one surface of the display's full size, one byte per pixel (a palette index);
// pixel (x, y) is at pixels + y * pitch + x, the pitch being word 3 of the platform's surface
// record. Embedded in the window manager's state.
struct XDisplay {
    uint16_t width;
    uint16_t height;
    uint32_t palette[256];        // copy of the last palette set (alpha, red, green, blue)
    VELD_GAL_SURFACE* surface;    // the platform's surface record
    uint8_t* pixels;              // the surface memory mapped into this process
};
static_assert(offsetof(XDisplay, height) == 2 && offsetof(XDisplay, palette) == 4);
static_assert(offsetof(XDisplay, surface) == (sizeof(void*) == 4 ? 1028 : 1032));
static_assert(sizeof(XDisplay) == (sizeof(void*) == 4 ? 1036 : 1048));

// ---- Task and display --------------------------------------------------------------------

// Reads the display size from the frame buffer's size file and creates the event queue. The
// queue is created even when the size file cannot be read, so that events are never lost;
// the result is still -5 then and the default size (1920 x 1080) stays.
int32_t XDRV_InitTask(uint32_t ignored);
int32_t XDRV_ShutdownTask(void);  // releases nothing; 0
// Allocates, clears and maps the display surface and shows it on frame-buffer layer 1.
// 0, or -5 when the surface cannot be allocated or mapped. The record is the caller's; it
// becomes the driver's current display.
int32_t XDRV_CreateDisplay(XDisplay* display);
int32_t XDRV_DestroyDisplay(XDisplay* display);  // the surface stays; 0
// Installs 256 palette entries on the current display, its surface and layer 1. 0.
int32_t XDRV_SetPalette(const uint32_t* entries);
// Forms draw straight into the display surface: there is nothing to copy per window. 0.
int32_t XDRV_UpdateFrameBuffer(XDisplay* display, XWindow* window, int32_t x, int32_t y);
// Pushes the whole surface to layer 1. 0.
int32_t XDRV_UpdateScreen(XDisplay* display);

// ---- Windows on the display (forms only) ----------------------------------------------------

// A form gets the display's pixels, pitch and record; other types: -5, record untouched.
int32_t XDRV_CreateWindow(XWindow* window);
int32_t XDRV_DestroyWindow(XWindow* window);  // 0 for a form, -5 otherwise
// A form: lock count + 1 and the display's pixels and pitch; other types: -5.
int32_t XDRV_LockWindowBuffer(XWindow* window, uint8_t** pixels, uint32_t* pitch);
int32_t XDRV_UnlockWindowBuffer(XWindow* window);  // lock count - 1; 0

// Event queue (System V, 28-byte messages). Queue id 0 names the window system's own event
// queue "uxm-evq".
uint32_t XDRV_CreateQueue(const char* name, uint32_t ignored);
int32_t XDRV_SendQueue(uint32_t queueId, const XEvent* event, uint32_t ignored);
int32_t XDRV_ReceiveQueue(uint32_t queueId, XEvent* event, uint32_t ignored);

// ---- Clock, threads and mutexes ----------------------------------------------------------

uint32_t XDRV_GetTick(void);    // monotonic milliseconds
uint64_t XDRV_GetNsTick(void);  // monotonic nanoseconds
void XDRV_Sleep(uint32_t milliseconds);
// Starts the thread "uxm_tmr" that calls XM_TICK_CALLBACK every periodMs; 0 at once when it
// already runs, -5 when it cannot be created.
int32_t XDRV_StartSystemTimeTick(uint32_t periodMs);
// Stops the tick thread and waits for it (it ends after its current sleep and callback); a
// later start creates a new thread. 0.
int32_t XDRV_StopSystemTimeTick(void);
// A joinable thread at priority 2; a stack size of 0 means 0x10000 bytes. 0 on failure.
VELD_THREAD XDRV_CreateThread(const char* name, uint32_t stackBytes, VELD_THREAD_ENTRY entry,
                              void* argument);
int32_t XDRV_JoinThread(VELD_THREAD thread);
// A named semaphore with one unit, used as a mutex; 0 on failure.
VELD_HANDLE XDRV_CreateMutex(const char* name);
int32_t XDRV_LockMutex(VELD_HANDLE mutex);  // waits for ever
int32_t XDRV_UnlockMutex(VELD_HANDLE mutex);

// The same, under the utility names the rest of the window system uses.
uint32_t XUTIL_GetTick(void);
uint64_t XUTIL_GetNsTick(void);
void XUTIL_Sleep(uint32_t milliseconds);
VELD_THREAD XUTIL_CreateThread(const char* name, uint32_t stackBytes, VELD_THREAD_ENTRY entry,
                               void* argument);
int32_t XUTIL_JoinThread(VELD_THREAD thread);
VELD_HANDLE XUTIL_CreateMutex(const char* name);
int32_t XUTIL_LockMutex(VELD_HANDLE mutex);
int32_t XUTIL_UnlockMutex(VELD_HANDLE mutex);

// Called by the tick thread every period; the window manager defines it (a program without
// the window manager gets a default that does nothing).
void XM_TICK_CALLBACK(void);

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

inline constexpr const char* kSizeFile = "/proc/qv/fbdev/fb0/fbmem";
inline constexpr uint16_t kDefaultWidth = 1920;
inline constexpr uint16_t kDefaultHeight = 1080;
inline constexpr int32_t kLayer = 1;  // the frame-buffer layer of the window system

// The size the next XDRV_CreateDisplay uses.
void displaySize(uint16_t& width, uint16_t& height);
// The record given to the last XDRV_CreateDisplay, null before.
XDisplay* currentDisplay();
// Bytes per line of the display surface.
uint32_t displayPitch(const XDisplay& display);

// What the tick thread calls instead of XM_TICK_CALLBACK; null restores XM_TICK_CALLBACK.
// For programs and tests that run the tick without the window manager.
using TickCallback = void (*)();
void setTickCallback(TickCallback callback);
// Handle of the running tick thread, 0 when none.
VELD_THREAD tickThread();

}  // namespace veld::xdrv
