// The guard between the engine's calls and VELD_SE_Shutdown: a call runs "inside" it, and a
// shutdown waits until no call of this process is inside before it unmaps what they use.
//
// Calls are frequent and shutdowns rare, so the cost sits on the shutdown side. A call marks a
// slot of its own thread and reads one shared flag, with no atomic read-modify-write; the
// shutdown raises the flag, makes every running thread of the process pass a full barrier
// (membarrier), and waits for every slot to read zero. Where the kernel lacks membarrier the
// calls pay a full fence instead. It meets the standard's SharedMutex shape, so that
// std::shared_lock and std::unique_lock take it; a thread may enter it again while inside. The threads' slots are
// shared by every guard: a process has one, useMutex() of se_channel.h.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace veld::se {

class UseGuard {
public:
    struct Slot;
    // This thread's slot, from its first call on.
    __attribute__((tls_model("initial-exec"))) static thread_local Slot* tUseSlot;

    UseGuard();
    UseGuard(const UseGuard&) = delete;
    UseGuard& operator=(const UseGuard&) = delete;

    // A call of this process; the common case (a thread that has its slot, no shutdown
    // running) is inline.
    void lock_shared() {
        if (Slot* slot = tUseSlot) [[likely]] {
            const uint32_t depth = slot->depth.load(std::memory_order_relaxed);
            if (depth > 0) {  // already inside: a shutdown waits for this thread anyway
                slot->depth.store(depth + 1, std::memory_order_relaxed);
                return;
            }
            slot->depth.store(1, std::memory_order_relaxed);
            lightBarrier();
            if (closing_.load(std::memory_order_acquire) == 0) [[likely]]
                return;
            slot->depth.store(0, std::memory_order_release);
        }
        lockSharedSlow();
    }
    void unlock_shared() {
        Slot& slot = *tUseSlot;
        slot.depth.store(slot.depth.load(std::memory_order_relaxed) - 1, std::memory_order_release);
    }
    // A shutdown: returns once no other thread's call is inside; the calling thread's own
    // calls, if it is inside one, are not waited for.
    void lock();
    void unlock();

    struct Slot {
        std::atomic<uint32_t> depth{0};
        bool taken = false;  // by a live thread; under the slot list's mutex
        Slot* next = nullptr;
    };

private:
    void lightBarrier() const {
        if (membarrier_)
            std::atomic_signal_fence(std::memory_order_seq_cst);
        else
            std::atomic_thread_fence(std::memory_order_seq_cst);
    }
    void lockSharedSlow();
    Slot& mySlot();
    void waitWhileClosing();
    void heavyBarrier();

    std::atomic<uint32_t> closing_{0};
    bool membarrier_ = false;
    std::mutex writer_;  // one shutdown at a time
    std::mutex waitMutex_;
    std::condition_variable reopened_;
};

}  // namespace veld::se
