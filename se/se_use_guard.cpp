// The guard between the engine's calls and VELD_SE_Shutdown (see se_use_guard.h).
//
// Why the light side needs no fence when membarrier works: a call stores its depth and then
// reads the closing flag; a shutdown stores the flag, runs membarrier, and then reads the
// depths. membarrier puts a full barrier into every thread of the process that runs at that
// moment (and a thread that does not run passed one when it was switched out), so either the
// call sees the flag and steps back, or the shutdown sees the depth and waits.
#include "se_use_guard.h"

#include <linux/membarrier.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace veld::se {

constinit thread_local UseGuard::Slot* UseGuard::tUseSlot = nullptr;
std::atomic<bool> UseGuard::sMembarrier{false};

namespace {

// Every thread's slot from its first call on. Slots are never freed: a thread that ends hands
// its slot to the next new thread, so the list only grows to the highest number of threads
// that used the engine at once, and a shutdown may walk it without taking the list's mutex.
std::mutex gSlotsMutex;
std::atomic<UseGuard::Slot*> gSlots{nullptr};


struct SlotRelease {
    ~SlotRelease() {
        if (!UseGuard::tUseSlot) return;
        std::lock_guard lock(gSlotsMutex);
        UseGuard::tUseSlot->depth.store(0, std::memory_order_release);
        UseGuard::tUseSlot->taken = false;
        UseGuard::tUseSlot = nullptr;
    }
};
thread_local SlotRelease tSlotRelease;

// In a forked child only the forking thread exists: the others' slots read zero there.
void clearOtherSlotsInChild() {
    for (UseGuard::Slot* s = gSlots.load(); s; s = s->next) {
        if (s == UseGuard::tUseSlot) continue;
        s->depth.store(0, std::memory_order_relaxed);
        s->taken = false;
    }
}

long membarrier(int command) { return ::syscall(SYS_membarrier, command, 0, 0); }

// Once per process, before the first call of any thread goes on and before any shutdown
// relies on it: every caller passes through here (call_once orders them after it).
std::once_flag gSetUp;
void setUpProcess() {
    std::call_once(gSetUp, [] {
        const long supported = membarrier(MEMBARRIER_CMD_QUERY);
        UseGuard::sMembarrier.store(supported > 0 && (supported & MEMBARRIER_CMD_PRIVATE_EXPEDITED) != 0 &&
                                    membarrier(MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED) == 0);
        ::pthread_atfork(nullptr, nullptr, clearOtherSlotsInChild);
    });
}

}  // namespace

UseGuard::Slot& UseGuard::mySlot() {
    if (UseGuard::tUseSlot) [[likely]]
        return *UseGuard::tUseSlot;
    setUpProcess();
    (void)&tSlotRelease;  // constructs it, so that the slot is handed back at thread exit
    std::lock_guard lock(gSlotsMutex);
    Slot* slot = gSlots.load();
    while (slot && slot->taken) slot = slot->next;
    if (!slot) {
        slot = new Slot;
        slot->next = gSlots.load();
        gSlots.store(slot);
    }
    slot->taken = true;
    UseGuard::tUseSlot = slot;
    return *slot;
}

void UseGuard::lockSharedSlow() {
    Slot& slot = mySlot();
    if (slot.depth.load(std::memory_order_relaxed) > 0) {
        slot.depth.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    for (;;) {
        slot.depth.store(1, std::memory_order_relaxed);
        lightBarrier();
        if (closing_.load(std::memory_order_acquire) == 0) return;
        slot.depth.store(0, std::memory_order_release);
        waitWhileClosing();
    }
}

void UseGuard::waitWhileClosing() {
    for (uint32_t closing = closing_.load(); closing != 0; closing = closing_.load()) closing_.wait(closing);
}

void UseGuard::heavyBarrier() {
    setUpProcess();
    if (!sMembarrier.load() || membarrier(MEMBARRIER_CMD_PRIVATE_EXPEDITED) != 0)
        std::atomic_thread_fence(std::memory_order_seq_cst);
}

void UseGuard::lock() {
    writer_.lock();
    closing_.store(1, std::memory_order_seq_cst);
    heavyBarrier();
    const Slot* own = UseGuard::tUseSlot;
    for (const Slot* s = gSlots.load(std::memory_order_acquire); s; s = s->next) {
        if (s == own) continue;
        while (s->depth.load(std::memory_order_acquire) != 0)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

void UseGuard::unlock() {
    closing_.store(0, std::memory_order_release);
    closing_.notify_all();
    writer_.unlock();
}

}  // namespace veld::se
