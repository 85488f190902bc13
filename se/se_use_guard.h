// The guard between the engine's calls and VELD_SE_Shutdown: a call runs "inside" it, and a
// shutdown waits until no call of this process is inside before it unmaps what they use.
//
// Calls are frequent and shutdowns rare, so the cost sits on the shutdown side. A call marks a
// slot of its own thread and reads one shared flag, with no atomic read-modify-write; the
// shutdown raises the flag, makes every running thread of the process pass a full barrier
// (membarrier), and waits for every slot to read zero. Where the kernel lacks membarrier the
// calls pay a full fence instead (each thread asks the kernel on its first call, before its
// calls rely on it). It meets the standard's SharedMutex shape, so that
// std::shared_lock and std::unique_lock take it; a thread may enter it again while inside. The threads' slots are
// shared by every guard: a process has one, useMutex() of se_channel.h.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

namespace veld::se {

class UseGuard {
public:
    struct Slot;
    // This thread's slot, from its first call on. Constant-initialised, so that reading it
    // needs no call to a thread-local initialiser.
    __attribute__((tls_model("initial-exec"))) static constinit thread_local Slot* tUseSlot;
    // Whether membarrier serves the shutdown side; set before any thread's first call returns.
    static std::atomic<bool> sMembarrier;

    // Nothing to construct at run time: a guard that is a function's static costs its callers
    // no initialisation check.
    constexpr UseGuard() = default;
    UseGuard(const UseGuard&) = delete;
    UseGuard& operator=(const UseGuard&) = delete;

    // A call of this process; the common case (a thread that has its slot, no shutdown
    // running) is inline. Returns the depth to hand back to leave().
    uint32_t enter() {
        if (Slot* slot = tUseSlot) [[likely]] {
            const uint32_t depth = slot->depth.load(std::memory_order_relaxed);
            slot->depth.store(depth + 1, std::memory_order_relaxed);
            if (depth > 0) return depth;  // already inside: a shutdown waits for this thread anyway
            lightBarrier();
            if (closing_.load(std::memory_order_acquire) == 0) [[likely]]
                return 0;
            slot->depth.store(0, std::memory_order_release);
        }
        lockSharedSlow();
        return tUseSlot->depth.load(std::memory_order_relaxed) - 1;
    }
    // Ends the call that enter() began; storing the depth back (rather than counting down)
    // keeps the thread's slot out of the chain of loads that a count would put on every call.
    static void leave(uint32_t depth) { tUseSlot->depth.store(depth, std::memory_order_release); }

    // Ends this call, and with `groupEnded` also the group of calls that VELD_SE_L000 left the
    // thread inside (when it is inside one).
    static void leaveGroup(bool groupEnded) {
        Slot& slot = *tUseSlot;
        const uint32_t depth = slot.depth.load(std::memory_order_relaxed);
        slot.depth.store(groupEnded && depth >= 2 ? depth - 2 : depth - 1, std::memory_order_release);
    }
    // Ends every call the calling thread is inside (a shutdown by a thread that holds the
    // engine's lock for a group of calls).
    static void endThreadCalls() {
        if (Slot* slot = tUseSlot) slot->depth.store(0, std::memory_order_release);
    }

    // The same, in the standard's SharedMutex shape (std::shared_lock).
    void lock_shared() { (void)enter(); }
    void unlock_shared() {
        Slot& slot = *tUseSlot;
        slot.depth.store(slot.depth.load(std::memory_order_relaxed) - 1, std::memory_order_release);
    }

    // One call inside the guard for the life of the scope.
    class Inside {
    public:
        explicit Inside(UseGuard& guard) : depth_(guard.enter()) {}
        ~Inside() { leave(depth_); }
        Inside(const Inside&) = delete;
        Inside& operator=(const Inside&) = delete;

    private:
        uint32_t depth_;
    };

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
    static void lightBarrier() {
        if (sMembarrier.load(std::memory_order_relaxed))
            std::atomic_signal_fence(std::memory_order_seq_cst);
        else
            std::atomic_thread_fence(std::memory_order_seq_cst);
    }
    void lockSharedSlow();
    Slot& mySlot();
    void waitWhileClosing();
    void heavyBarrier();

    std::atomic<uint32_t> closing_{0};  // calls that start wait on it (atomic wait)
    std::mutex writer_;                 // one shutdown at a time
};

}  // namespace veld::se
