// The system side of the display driver: the "uxm_tmr" tick thread, and the clock, sleep,
// thread and mutex wrappers over the platform library, also under their XUTIL_ names.
#include <atomic>

#include "veldd_log.h"
#include "xdrv.h"

using namespace veld::loglevel;

namespace {

constexpr uint32_t kDefaultStack = 0x10000;
constexpr int32_t kPriority = 2;

// The tick thread is started and stopped by the window manager's task only; the run flag and
// the callback are read by the tick thread.
VELD_THREAD gTickThread = 0;
std::atomic<bool> gTickRun{false};
std::atomic<veld::xdrv::TickCallback> gTickCallback{nullptr};

void* tickBody(void* argument) {
    const auto period = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(argument));
    while (gTickRun.load(std::memory_order_acquire)) {
        VELD_OSA_SleepMsec(period);
        if (veld::xdrv::TickCallback callback = gTickCallback.load(std::memory_order_acquire))
            callback();
        else
            XM_TICK_CALLBACK();
    }
    return nullptr;
}

}  // namespace

namespace veld::xdrv {

void setTickCallback(TickCallback callback) {
    gTickCallback.store(callback, std::memory_order_release);
}

VELD_THREAD tickThread() { return gTickThread; }

}  // namespace veld::xdrv

extern "C" {

// A program linked without the window manager still has a tick to run; the window manager's
// own definition replaces this one.
__attribute__((weak)) void XM_TICK_CALLBACK(void) {}

int32_t XDRV_StartSystemTimeTick(uint32_t periodMs) {
    if (gTickThread != 0) return 0;
    gTickRun.store(true, std::memory_order_release);
    gTickThread = VELD_OSA_CreateThread("uxm_tmr", tickBody,
                                        reinterpret_cast<void*>(uintptr_t{periodMs}),
                                        kDefaultStack, kPriority, 0);
    if (gTickThread == 0) {
        gTickRun.store(false, std::memory_order_release);
        VELDD_LOG(kError, "[xErr] can't create uxm timer\n");
        return -5;
    }
    return 0;
}

int32_t XDRV_StopSystemTimeTick(void) {
    gTickRun.store(false, std::memory_order_release);
    if (gTickThread != 0) {
        VELD_OSA_JoinThread(gTickThread, nullptr);
        gTickThread = 0;
    }
    return 0;
}

uint32_t XDRV_GetTick(void) { return VELD_OSA_ReadMsTicks(); }
uint64_t XDRV_GetNsTick(void) { return VELD_OSA_ReadNsTicks(); }
void XDRV_Sleep(uint32_t milliseconds) { VELD_OSA_SleepMsec(milliseconds); }

VELD_THREAD XDRV_CreateThread(const char* name, uint32_t stackBytes, VELD_THREAD_ENTRY entry,
                              void* argument) {
    return VELD_OSA_CreateThread(name, entry, argument, stackBytes ? stackBytes : kDefaultStack,
                                 kPriority, 0);
}

int32_t XDRV_JoinThread(VELD_THREAD thread) {
    void* result = nullptr;
    return VELD_OSA_JoinThread(thread, &result);
}

VELD_HANDLE XDRV_CreateMutex(const char* name) { return VELD_OSA_OpenSema(name, 0x11, 1); }
int32_t XDRV_LockMutex(VELD_HANDLE mutex) { return VELD_OSA_LockSema(mutex, -1); }
int32_t XDRV_UnlockMutex(VELD_HANDLE mutex) { return VELD_OSA_UnlockSema(mutex); }

uint32_t XUTIL_GetTick(void) { return XDRV_GetTick(); }
uint64_t XUTIL_GetNsTick(void) { return XDRV_GetNsTick(); }
void XUTIL_Sleep(uint32_t milliseconds) { XDRV_Sleep(milliseconds); }
VELD_THREAD XUTIL_CreateThread(const char* name, uint32_t stackBytes, VELD_THREAD_ENTRY entry,
                               void* argument) {
    return XDRV_CreateThread(name, stackBytes, entry, argument);
}
int32_t XUTIL_JoinThread(VELD_THREAD thread) { return XDRV_JoinThread(thread); }
VELD_HANDLE XUTIL_CreateMutex(const char* name) { return XDRV_CreateMutex(name); }
int32_t XUTIL_LockMutex(VELD_HANDLE mutex) { return XDRV_LockMutex(mutex); }
int32_t XUTIL_UnlockMutex(VELD_HANDLE mutex) { return XDRV_UnlockMutex(mutex); }

}  // extern "C"
