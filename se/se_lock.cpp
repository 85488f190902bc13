// The engine's cross-process lock: the named semaphore "veld-se-sema" with its holder recorded
// in the shared record, so that no two processes ever hold it and a holder that died never
// stalls the others.
//
// The holder's pid and thread are written right after the wait succeeds and cleared right
// before the post. A waiter wakes every kWaitSlice; when the recorded holder is gone it takes
// the lock over with one compare-and-swap on the holder word, so that only one waiter posts on
// the dead holder's behalf. The recursive form keeps a depth for its owner thread.
#include <fcntl.h>
#include <pthread.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>

#include "se_channel.h"
#include "se_core.h"
#include "se_log.h"
#include "seam.h"

namespace veld::se {
namespace {

constexpr long kWaitSliceMs = 250;
// How long the semaphore may stay taken with no holder recorded before the acquirer counts
// as dead between its wait and recording itself.
constexpr int kOrphanSlices = 8;

std::mutex gOpenMutex;  // first use in the process, between its threads
// The process record's semaphore and shared record for the fast paths: the record is set
// (after the semaphore) once both are open in this process, and null otherwise.
sem_t* gSem = nullptr;
std::atomic<SharedRecord*> gShared{nullptr};

// The pid and thread id are asked of the kernel once; a forked child asks again (its pid
// differs, and so does the id of its one thread).
std::atomic<uint32_t> gPid{0};
// Initial-exec: read with one instruction rather than a call into the dynamic linker.
__attribute__((tls_model("initial-exec"))) thread_local uint32_t tTid = 0;
std::once_flag gForkHook;
void forgetIds() {
    gPid.store(0);
    tTid = 0;
}
void watchForks() {
    std::call_once(gForkHook, [] { ::pthread_atfork(nullptr, nullptr, forgetIds); });
}

[[gnu::noinline]] uint32_t askPid() {
    watchForks();
    const auto pid = static_cast<uint32_t>(::getpid());
    gPid.store(pid, std::memory_order_relaxed);
    return pid;
}
[[gnu::noinline]] uint32_t askTid() {
    watchForks();
    tTid = static_cast<uint32_t>(::syscall(SYS_gettid));
    return tTid;
}
inline uint32_t myPid() {
    const uint32_t pid = gPid.load(std::memory_order_relaxed);
    return pid != 0 ? pid : askPid();
}
inline uint32_t myTid() {
    const uint32_t tid = tTid;
    return tid != 0 ? tid : askTid();
}

std::atomic_ref<uint32_t> word(uint32_t& w) { return std::atomic_ref<uint32_t>(w); }
std::atomic_ref<int32_t> word(int32_t& w) { return std::atomic_ref<int32_t>(w); }

// The holder's pid is the shared record's lockPid: set when the lock is taken, back to -1
// right before the post, so that a waiter can tell a holder that is gone. Read unsigned here.
constexpr uint32_t kNoHolder = 0xFFFFFFFFu;
std::atomic_ref<uint32_t> holderOf(SharedRecord& s) {
    return std::atomic_ref<uint32_t>(reinterpret_cast<uint32_t&>(s.lockPid));
}

int32_t recursiveKey(uint32_t pid, uint32_t tid) {
    return static_cast<int32_t>((pid << 16) | (tid & 0xFFFF));
}

// The shared record's lock words are set up once, by whichever process created it.
void setUp(SharedRecord& s) {
    uint32_t expected = 0;
    if (word(s.bk.setup).compare_exchange_strong(expected, 1)) {
        word(s.recursiveOwner).store(-1);
        word(s.lockPid).store(-1);
        word(s.bk.recursivePid).store(0);
        word(s.bk.setup).store(2);
        return;
    }
    // Another process is setting it up; if it died doing so, finish its work.
    for (int i = 0; i < 1000 && word(s.bk.setup).load() != 2; ++i) ::usleep(1000);
    if (word(s.bk.setup).load() != 2) {
        word(s.recursiveOwner).store(-1);
        word(s.lockPid).store(-1);
        word(s.bk.setup).store(2);
    }
}

bool isRecursiveOwner(SharedRecord& s, uint32_t pid, uint32_t tid) {
    return word(s.bk.recursivePid).load(std::memory_order_acquire) == pid &&
           word(s.bk.recursiveTid).load(std::memory_order_acquire) == tid;
}

// The semaphore orders the holder's words with the data it protects; the words themselves
// need only be whole and visible to a waiter that checks for a dead holder.
constexpr auto kRel = std::memory_order_release;
constexpr auto kAcq = std::memory_order_acquire;

inline void recordHolder(SharedRecord& s, uint32_t pid, uint32_t tid) {
    word(s.bk.holderTid).store(tid, kRel);
    holderOf(s).store(pid, kRel);
    // Only the holder writes the generation.
    word(s.bk.lockGeneration).store(word(s.bk.lockGeneration).load(kAcq) + 1, kRel);
}

// The holder's own words, cleared by the holder on its way out.
inline void clearHolderWords(SharedRecord& s) {
    word(s.bk.holderTid).store(0, kRel);
    holderOf(s).store(kNoHolder, kRel);
}

// Clears what the holder `pid` recorded, a recursive hold included, when it is gone or detaches.
void clearHolder(SharedRecord& s, uint32_t pid) {
    if (word(s.bk.recursivePid).load(kAcq) == pid) {
        word(s.bk.recursiveDepth).store(0);
        word(s.bk.recursiveTid).store(0);
        word(s.bk.recursivePid).store(0);
        word(s.recursiveOwner).store(-1);
    }
    clearHolderWords(s);
}

timespec deadlineIn(long ms) {
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    t.tv_nsec += ms * 1000000L;
    t.tv_sec += t.tv_nsec / 1000000000L;
    t.tv_nsec %= 1000000000L;
    return t;
}

}  // namespace

uint32_t currentTid() { return myTid(); }
uint32_t currentPid() { return myPid(); }

bool isProcessAlive(uint32_t pid) {
    bool alive = pid != 0 && ::getpgid(static_cast<pid_t>(pid)) >= 0;
    // A process that ended but was not reaped yet keeps its pid; it is gone all the same.
    if (alive) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        const std::string text((std::istreambuf_iterator<char>(stat)), {});
        const size_t close = text.rfind(')');
        if (close != std::string::npos && close + 2 < text.size() &&
            (text[close + 2] == 'Z' || text[close + 2] == 'X'))
            alive = false;
    }
    SE_LOG(1, "pid %d, result %d (%s)\n", static_cast<int>(pid), alive ? 0 : -1,
           alive ? "live" : "dead");
    return alive;
}

int lockInit() {
    if (gShared.load(std::memory_order_acquire)) return 0;
    ProcessRecord& p = processRecord();
    std::lock_guard guard(gOpenMutex);
    if (p.pLockSema && p.pSharedInfo) {
        gSem = p.pLockSema;
        gShared.store(p.pSharedInfo, std::memory_order_release);
        return 0;
    }
    VELD_SE_DBG_Initialize();
    VELD_InitSystem(0, nullptr);
    if (!p.pLockSema) {
        sem_t* sem = ::sem_open(seam::ipcName(kLockName).c_str(), O_CREAT, 0666, 1);
        if (sem == SEM_FAILED) {
            SE_LOG(0, "sem_open %s: %s(%d)\n", kLockName, std::strerror(errno), errno);
            return -1;
        }
        p.pLockSema = sem;
    }
    if (!p.pSharedInfo) {
        const VELD_HANDLE h = VELD_OSA_OpenMemory(kSharedName, kSharedBytes);
        void* address = h ? VELD_OSA_GetMemory(h) : nullptr;
        if (!address) {
            if (h) VELD_OSA_CloseMemory(h);
            SE_LOG(0, "can't open shared memory %s\n", kSharedName);
            return -1;
        }
        p.pShmem = h;
        p.pSharedInfo = static_cast<SharedRecord*>(address);
        setUp(*p.pSharedInfo);
    }
    gSem = p.pLockSema;
    gShared.store(p.pSharedInfo, std::memory_order_release);
    return 0;
}

void lockClose() {
    ProcessRecord& p = processRecord();
    std::lock_guard guard(gOpenMutex);
    gShared.store(nullptr, std::memory_order_release);
    if (p.pSharedInfo && holderOf(*p.pSharedInfo).load() == myPid()) {
        // Detaching while this process holds the lock would stall every other process.
        clearHolder(*p.pSharedInfo, myPid());
        if (p.pLockSema) ::sem_post(p.pLockSema);
    }
    if (p.pShmem) VELD_OSA_CloseMemory(p.pShmem);
    p.pShmem = 0;
    p.pSharedInfo = nullptr;
    if (p.pLockSema) ::sem_close(p.pLockSema);
    p.pLockSema = nullptr;
}

bool holdsLock() {
    ProcessRecord& p = processRecord();
    if (!p.pSharedInfo) return false;
    SharedRecord& s = *p.pSharedInfo;
    const uint32_t pid = myPid(), tid = currentTid();
    return isRecursiveOwner(s, pid, tid) ||
           (holderOf(s).load() == pid && word(s.bk.holderTid).load() == tid);
}

bool forceUnlockIfGone(uint32_t pid) {
    ProcessRecord& p = processRecord();
    if (!p.pSharedInfo || !p.pLockSema || pid == 0 || pid == kNoHolder) return false;
    SharedRecord& s = *p.pSharedInfo;
    if (holderOf(s).load() != pid || isProcessAlive(pid)) return false;
    uint32_t expected = pid;
    // Only the one that clears the holder word posts.
    if (!holderOf(s).compare_exchange_strong(expected, kNoHolder)) return false;
    SE_LOG(0, "close before unlock(%d) - forced unlock\n", static_cast<int>(pid));
    clearHolder(s, pid);
    ::sem_post(p.pLockSema);
    return true;
}

namespace {

// Waits for the semaphore that a try-wait found taken: in slices, taking the lock over from a
// holder that is gone; 0 once it is ours, -1 after timeoutMs (-1: never).
[[gnu::noinline]] int waitTaken(SharedRecord& s, long timeoutMs) {
    uint32_t seenGeneration = 0;
    int orphanSlices = 0;
    long waited = 0;
    for (;;) {
        if (timeoutMs >= 0 && waited >= timeoutMs) return -1;
        const long slice = timeoutMs >= 0 ? std::min(kWaitSliceMs, timeoutMs - waited) : kWaitSliceMs;
        const timespec deadline = deadlineIn(slice);
        if (::sem_timedwait(gSem, &deadline) == 0) return 0;
        const int error = errno;
        if (error == EINTR) continue;
        waited += slice;
        if (timeoutMs >= 0 && waited >= timeoutMs) return -1;
        SE_LOG(1, "lock error %s(%d). retry lock.\n", std::strerror(error), error);
        const uint32_t holder = holderOf(s).load();
        if (holder != kNoHolder) {
            orphanSlices = 0;
            forceUnlockIfGone(holder);
            if (::sem_trywait(gSem) == 0) return 0;
            continue;
        }
        // Taken, yet nobody recorded: after a while the acquirer died before it could.
        const uint32_t generation = word(s.bk.lockGeneration).load();
        int value = 1;
        ::sem_getvalue(gSem, &value);
        orphanSlices = generation == seenGeneration && value <= 0 ? orphanSlices + 1 : 0;
        seenGeneration = generation;
        if (orphanSlices >= kOrphanSlices &&
            word(s.bk.lockGeneration).compare_exchange_strong(seenGeneration, generation + 1)) {
            SE_LOG(0, "lock taken by no live holder - forced unlock\n");
            ::sem_post(gSem);
            orphanSlices = 0;
            seenGeneration = generation + 1;
        }
        if (::sem_trywait(gSem) == 0) return 0;
    }
}

// SE_LOCK while a thread of this process holds the lock: 0 when the caller passes as the
// recursive owner, -1 when it holds the lock itself, 1 when it must wait for another thread.
[[gnu::noinline]] int heldInThisProcess(SharedRecord& s, uint32_t pid, uint32_t tid) {
    if (isRecursiveOwner(s, pid, tid)) {
        SE_LOG(kTraceLevel, "++ Lock   pass with recursiveLock. ptid = %05d:%05d\n", static_cast<int>(pid),
               static_cast<int>(tid));
        return 0;
    }
    if (word(s.bk.holderTid).load(kAcq) != tid) return 1;
    // Waiting now would wait for ourselves for ever.
    SE_LOG(0, "lock already held by this thread (%d:%d)\n", static_cast<int>(pid),
           static_cast<int>(tid));
    return -1;
}

[[gnu::noinline]] int refuseUnlock(SharedRecord& s, uint32_t holder, uint32_t pid, uint32_t tid) {
    SE_LOG(0, "unlock refused: the lock is held by %d:%d, not %d:%d\n", static_cast<int>(holder),
           static_cast<int>(word(s.bk.holderTid).load()), static_cast<int>(pid), static_cast<int>(tid));
    return -1;
}

// SE_LOCK. The uncontended path is one try-wait on the semaphore and a few plain stores into
// the shared record; everything else (first use, the recursive pass, waiting) is out of line.
[[gnu::always_inline]] inline int lockNow(long timeoutMs) {
    SharedRecord* shared = gShared.load(std::memory_order_acquire);
    if (!shared) [[unlikely]] {
        if (lockInit() != 0) return -1;
        shared = gShared.load(std::memory_order_acquire);
    }
    SharedRecord& s = *shared;
    const uint32_t pid = myPid(), tid = myTid();
    // A recursive owner holds the lock too: one look at the holder word covers both cases.
    if (holderOf(s).load(kAcq) == pid) [[unlikely]] {
        const int held = heldInThisProcess(s, pid, tid);
        if (held <= 0) return held;
    }
    if (::sem_trywait(gSem) != 0 && waitTaken(s, timeoutMs) != 0) [[unlikely]]
        return -1;
    // Read again rather than kept across the wait: cheaper than saving registers around it.
    recordHolder(*gShared.load(std::memory_order_relaxed), myPid(), myTid());
    SE_LOG(kTraceLevel, "SE_LOCK <BEGIN> pid=%d\n", static_cast<int>(myPid()));
    return 0;
}

// SE_UNLOCK: the holder record is cleared before the post.
[[gnu::always_inline]] inline int unlockNow() {
    SharedRecord* shared = gShared.load(std::memory_order_acquire);
    if (!shared) [[unlikely]]
        return -1;
    SharedRecord& s = *shared;
    const uint32_t pid = myPid(), tid = myTid();
    if (isRecursiveOwner(s, pid, tid)) [[unlikely]] {
        SE_LOG(kTraceLevel, "++ Unlock pass with recursiveLock. ptid = %05d:%05d\n", static_cast<int>(pid),
               static_cast<int>(tid));
        return 0;
    }
    const uint32_t holder = holderOf(s).load(kAcq);
    if (holder != pid || word(s.bk.holderTid).load(kAcq) != tid) [[unlikely]]
        return refuseUnlock(s, holder, pid, tid);
    SE_LOG(kTraceLevel, "SE_UNLOCK <END> pid=%d (%d)\n", static_cast<int>(pid),
           static_cast<int>(word(s.lockPid).load(kAcq)));
    // A recursive owner passed above, and seUnlockRecursive clears its words before it gets
    // here: only the holder's own words remain.
    clearHolderWords(s);
    return ::sem_post(gSem);  // 0 or -1
}

}  // namespace

int seLock() { return lockNow(-1); }
int seLockWithin(long timeoutMs) { return lockNow(timeoutMs); }
int seUnlock() { return unlockNow(); }

int seLockRecursive() {
    SE_LOG(kTraceLevel, "++ SE_LOCK_RECURSIVE   <BEGIN>\n");
    if (lockInit() != 0) return -1;
    SharedRecord& s = *processRecord().pSharedInfo;
    const uint32_t pid = myPid(), tid = currentTid();
    if (isRecursiveOwner(s, pid, tid)) {
        word(s.bk.recursiveDepth).fetch_add(1);
        return 0;
    }
    if (seLock() != 0) return -1;
    word(s.bk.recursiveTid).store(tid);
    word(s.bk.recursivePid).store(pid);
    word(s.bk.recursiveDepth).store(1);
    word(s.recursiveOwner).store(recursiveKey(pid, tid));
    return 0;
}

int seUnlockRecursive() {
    SE_LOG(kTraceLevel, "++ SE_UNLOCK_RECURSIVE <END>\n");
    ProcessRecord& p = processRecord();
    if (!p.pSharedInfo) return -1;
    SharedRecord& s = *p.pSharedInfo;
    if (!isRecursiveOwner(s, myPid(), currentTid())) {
        SE_LOG(0, "recursive unlock by a thread that does not hold the lock\n");
        return -1;
    }
    if (word(s.bk.recursiveDepth).fetch_sub(1) > 1) return 0;
    word(s.bk.recursivePid).store(0);
    word(s.bk.recursiveTid).store(0);
    word(s.recursiveOwner).store(-1);
    return seUnlock();
}

}  // namespace veld::se

namespace veld::se {

int lockForCleanup(uint32_t pid) {
    if (lockInit() != 0) return -1;
    ProcessRecord& p = processRecord();
    if (::sem_trywait(p.pLockSema) == 0) {
        recordHolder(*p.pSharedInfo, myPid(), currentTid());
        return 0;
    }
    SE_LOG(2, "check recovery for pid %d\n", static_cast<int>(pid));
    forceUnlockIfGone(pid);
    return seLock();
}

}  // namespace veld::se

extern "C" {

// The exported pair around a group of calls. The lock is held inside the use guard: L000
// leaves its thread inside when it takes the lock and L001 steps out when it releases it, so
// that a shutdown in another thread waits for the group to end instead of unmapping the shared
// record under it (or posting for a holder that goes on), and the pair pays for one entry.
int32_t VELD_SE_L000(void) {
    veld::se::useMutex().enter();
    if (veld::se::lockNow(-1) == 0) return 0;
    veld::se::UseGuard::leaveGroup(false);
    return -1;
}

int32_t VELD_SE_L001(void) {
    // Inside already while the group runs: the entry is a nested one.
    veld::se::useMutex().enter();
    const int result = veld::se::unlockNow();
    veld::se::UseGuard::leaveGroup(result == 0);
    return result == 0 ? 0 : -1;
}

}  // extern "C"
