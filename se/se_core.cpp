// The engine's attachment of a process to the trusted world: the process record, core
// initialisation (device, window, user trusted applications, command 2, diagnostics), detach,
// SE contexts with open/close and make-current bookkeeping, suspend/resume detection, cache
// maintenance and the clean-up after a process that died. Exports VELD_SE_Initialize and the
// other calls of the context.
#include "se_core.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "se_channel.h"
#include "se_crypto.h"
#include "se_device.h"
#include "se_hooks.h"
#include "se_log.h"
#include "se_permanent_log.h"
#include "se_random.h"
#include "se_rpmb_shared.h"

namespace veld::se {
namespace {

ProcessRecord gInfo{0, 0, 0, -1, -1};

// The crypto library's random bytes come from the trusted world while this process is
// attached.
int trustedRandom(uint8_t* out, size_t length, void*) {
    auto fill = [&](ProcessRecord& p) {
        for (size_t done = 0; done < length;) {
            const uint32_t n = static_cast<uint32_t>(std::min<size_t>(kRandomMax, length - done));
            const St st = runBounded(p, [&](ProcessRecord& q) { return randomCommand(q, out + done, n); });
            if (st != St::Ok) return St::Fail;
            done += n;
        }
        return St::Ok;
    };
    if (holdsLock() && gInfo.bInit == 1) return fill(gInfo) == St::Ok ? 0 : -1;
    return SE_ENGINE_CALL([&](ProcessRecord& p) { return fill(p); }) == 0 ? 0 : -1;
}

// Per-process count of open contexts in the shared record, for the dead-process clean-up.
void countOpen(SharedRecord& s, uint32_t pid, int delta) {
    int freeSlot = -1;
    for (int i = 0; i < kOpenSlots; ++i) {
        if (s.bk.openPid[i] == pid) {
            s.bk.openCount[i] = static_cast<uint32_t>(std::max<int>(0, int(s.bk.openCount[i]) + delta));
            if (s.bk.openCount[i] == 0) s.bk.openPid[i] = 0;
            return;
        }
        if (freeSlot < 0 && s.bk.openPid[i] == 0) freeSlot = i;
    }
    if (delta > 0 && freeSlot >= 0) {
        s.bk.openPid[freeSlot] = pid;
        s.bk.openCount[freeSlot] = static_cast<uint32_t>(delta);
    }
}

void firstInitialisation(ProcessRecord& p, const char* storePath) {
    SharedRecord& s = *p.pSharedInfo;
    s.numOfOpenedCtx = 0;
    s.pCurrentCtx = 0;
    s.currentPid = 0;
    s.bInitSeStore = 0;
    s.bInitRPMB = 0;
    s.numOfSeStoreData = 0;
    s.seStorePath[0] = '\0';
    s.bCachedBuffer = 1;
    if (storePath) {
        const size_t n = std::strlen(storePath);
        if (n > 255) SE_LOG(0, "Too large SeStorePath!\n");
        else std::memcpy(s.seStorePath, storePath, n + 1);
    }
    s.secureArea[0] = {1, p.memInfo.tempSecureDataBase + 16384, 0x20000};
    for (int i = 1; i < 4; ++i) s.secureArea[i].inUse = 0;
    s.bk.reinitCount = 0;
    for (int i = 0; i < kOpenSlots; ++i) s.bk.openPid[i] = s.bk.openCount[i] = 0;
    s.permanentLogPoint = 0;
    s.bSuspended = 0;
    s.resumeFlags = 0;
    s.bVerified = 0;
    s.pidLockSecureMem = -1;
    *p.pDMAInfo = 0;
}

// Detach without closing the lock: used when an attachment fails under the lock, while other
// threads of the process may be waiting on the semaphore.
void release(ProcessRecord& p) {
    if (p.pBuffer) seDevice::unmap(p.pBuffer, p.memInfo.size);
    if (p.devFd > 0) seDevice::close(p.devFd);
    if (p.pCachedBuffer) seDevice::unmap(p.pCachedBuffer, p.memInfo.size);
    if (p.cacheFd > 0) seDevice::close(p.cacheFd);
    p.pBuffer = p.pCachedBuffer = p.pTzParm = nullptr;
    p.pDMAInfo = nullptr;
    p.devFd = p.cacheFd = -1;
    if (p.pShmemSeStore) VELD_OSA_CloseMemory(p.pShmemSeStore);
    p.pShmemSeStore = 0;
    p.pSeStore = nullptr;
    if (p.bInit == 1) setRandomSource(nullptr, nullptr);
    p.bInit = 0;
}

// A child forked from an attached process attaches again on first use, with descriptors of
// its own: the driver (and the daemon after it) must know it as a process of its own, and
// requests of two processes must never share one descriptor.
void forgetAttachmentInChild() {
    if (gInfo.bInit == 1) release(gInfo);
}
std::once_flag gForkHook;

}  // namespace

ProcessRecord& processRecord() { return gInfo; }

ProcessRecord* getProcessRecord() {
    if (gInfo.bInit != 1) {
        SE_LOG(2, "Automatically call SE_Initialize()\n");
        int result;
        // Under the lock already (every engine call takes it first) or wrapped in it, so that
        // two threads of one process never attach at once.
        if (holdsLock()) {
            result = coreInitialize(nullptr);
        } else {
            if (seLock() != 0) return nullptr;
            result = coreInitialize(nullptr);
            seUnlock();
        }
        if (result != 0) {
            SE_FAILED();
            return nullptr;
        }
    }
    if (!gInfo.pSharedInfo) {
        SE_LOG(0, "no shared record\n");
        return nullptr;
    }
    return &gInfo;
}

int coreInitialize(const char* storePath) {
    ProcessRecord& p = gInfo;
    if (p.bInit == 1) return 0;
    if (!p.pLockSema || !p.pSharedInfo) {
        SE_FAILED();
        return -1;
    }
    SharedRecord& s = *p.pSharedInfo;
    p.pShmemSeStore = VELD_OSA_OpenMemory(kStoreMemoryName, kStoreMemoryBytes);
    p.pSeStore = static_cast<uint8_t*>(p.pShmemSeStore ? VELD_OSA_GetMemory(p.pShmemSeStore) : nullptr);
    if (!p.pSeStore) {
        SE_FAILED();
        release(p);
        return -1;
    }
    p.pid = static_cast<uint32_t>(::getpid());
    p.devFd = seDevice::open(kDevicePath, O_RDWR);
    p.cacheFd = p.devFd >= 0 ? seDevice::open(kDevicePath, O_RDWR) : -1;
    if (p.devFd < 0 || p.cacheFd < 0) {
        SE_LOG(0, "%s:%s(%d)\n", sourceName(__FILE__), std::strerror(errno), errno);
        release(p);
        return -1;
    }
    uint32_t info[5] = {};
    if (seDevice::ioctl(p.devFd, kIocMemInfo, info) != 0) {
        SE_LOG(0, "%s:%s(%d)\n", sourceName(__FILE__), std::strerror(errno), errno);
        release(p);
        return -1;
    }
    // The secure size must not wrap, and the window must hold at least the parameter area.
    if (info[4] < info[3] || info[4] - info[3] < kSecureReserve || info[1] <= kParamBytes) {
        SE_LOG(0, "memory info refused: window 0x%x+0x%x, secure 0x%x..0x%x\n", info[0], info[1],
               info[3], info[4]);
        release(p);
        return -1;
    }
    p.memInfo = {info[0], info[1], info[3], info[4] - info[3] - kSecureReserve, 0,
                 kTempSecureDataSize};
    p.memInfo.tempSecureDataBase = p.memInfo.secureBase + p.memInfo.secureSize;
    void* mapped = seDevice::map(p.memInfo.size, PROT_READ | PROT_WRITE, p.devFd, p.memInfo.base);
    if (mapped == MAP_FAILED) {
        SE_LOG(0, "%s:%s(%d)\n", sourceName(__FILE__), std::strerror(errno), errno);
        release(p);
        return -1;
    }
    p.pBuffer = static_cast<uint8_t*>(mapped);
    uint32_t probe[4] = {};
    if (seDevice::ioctl(p.cacheFd, kIocCache, probe) == 0) {
        void* cached = seDevice::map(p.memInfo.size, PROT_READ | PROT_WRITE, p.cacheFd, p.memInfo.base);
        p.pCachedBuffer = cached == MAP_FAILED ? nullptr : static_cast<uint8_t*>(cached);
    } else {
        SE_LOG(1, "no cache maintenance: the window is used uncached\n");
    }
    p.pTzParm = p.pBuffer + p.memInfo.size - kParamBytes;
    p.pDMAInfo = reinterpret_cast<uint32_t*>(p.pBuffer + p.memInfo.size - 4);
    p.bufferAddr = p.memInfo.base;
    p.bufferLength = p.memInfo.size - kParamBytes;

    if (s.bInit != 1) {
        firstInitialisation(p, storePath);
        uint32_t dmaAddress = p.memInfo.base + p.memInfo.size - 4;
        if (seDevice::ioctl(p.devFd, kIocDmaInfo, &dmaAddress) != 0) {
            SE_FAILED();
            release(p);
            return -1;
        }
        if (loadUserApplications(p) != 0) {
            SE_LOG(0, "\n\n --->Fail to load all uta to wshm 0x%x \n\n\n", p.memInfo.base);
            release(p);
            return -1;
        }
        if (initCommand(p) != 0) {
            SE_FAILED();
            release(p);
            return -1;
        }
        seDevice::ioctl(p.devFd, kIocInitDone, nullptr);
        s.bInit = 1;
    }
    p.bInit = 1;
    setRandomSource(trustedRandom, nullptr);
    std::call_once(gForkHook, [] { ::pthread_atfork(nullptr, nullptr, forgetAttachmentInChild); });

    if (runDiagnostics(false) != 0) {
        SE_LOG(0, "start-up diagnostics failed\n");
        return 0;
    }
    if (s.bInitSeStore == 0) {
        if (storeInitialize(p) != 0) {
            SE_LOG(0, "secure store initialisation failed\n");
            return 0;
        }
        storeDataInitialize(p);
    }
    if (s.bInitRPMB == 0 && rpmbInitialize(p) != 0) SE_LOG(0, "RPMB initialisation failed\n");
    return 0;
}

void detach() {
    release(gInfo);
    logClose();
    rpmbClose();
    lockClose();
}

void resetCurrent() {
    if (gInfo.pSharedInfo) gInfo.pSharedInfo->pCurrentCtx = 0;
}

int cacheMaintenance(uint32_t address, uint32_t size, uint32_t operation) {
    if (gInfo.cacheFd < 0) return -1;
    uint32_t record[4] = {address, size, 0, operation};
    return seDevice::ioctl(gInfo.cacheFd, kIocCache, record) == 0 ? 0 : -1;
}

int detectSuspendResume() {
    uint32_t flags = 0;
    if (seDevice::ioctl(gInfo.devFd, kIocSuspendState, &flags) != 0) {
        SE_LOG(0, "err (%u)\n\n", static_cast<unsigned>(errno));
        return -1;
    }
    if (flags == 0) return 0;
    SharedRecord& s = *gInfo.pSharedInfo;
    if (flags & 16) {
        SE_LOG(2, "catched restore (%u)\n\n", flags);
        s.bInitSeStore = 0;
        s.bInitRPMB = 0;
    }
    if (flags & 1) {
        SE_LOG(2, "catched resume (%u)\n\n", flags);
        s.resumeFlags = 0xFFFFFFFFu;
    }
    resetCurrent();
    return 0;
}

void releaseProcess(uint32_t pid) {
    SharedRecord* s = gInfo.pSharedInfo;
    if (!s || pid == 0) return;
    if (s->currentPid == pid) resetCurrent();
    if (s->pidLockSecureMem == static_cast<int32_t>(pid)) s->pidLockSecureMem = -1;
    for (int i = 0; i < kOpenSlots; ++i)
        if (s->bk.openPid[i] == pid) {
            s->numOfOpenedCtx -= std::min(s->numOfOpenedCtx, s->bk.openCount[i]);
            s->bk.openPid[i] = 0;
            s->bk.openCount[i] = 0;
        }
}

void releaseGoneProcesses() {
    SharedRecord* s = gInfo.pSharedInfo;
    if (!s) return;
    for (int i = 0; i < kOpenSlots; ++i)
        if (s->bk.openPid[i] && !isProcessAlive(s->bk.openPid[i])) releaseProcess(s->bk.openPid[i]);
    if (s->currentPid && s->pCurrentCtx && !isProcessAlive(s->currentPid)) resetCurrent();
    if (s->pidLockSecureMem > 0 && !isProcessAlive(static_cast<uint32_t>(s->pidLockSecureMem)))
        s->pidLockSecureMem = -1;
}

int cleanupDeadProcess(uint32_t pid) {
    std::shared_lock use(useMutex());
    if (lockForCleanup(pid) != 0) return -1;
    SE_LOG(2, "do clean up for pid %d\n", static_cast<int>(pid));
    releaseProcess(pid);
    return seUnlock();
}

int runDiagnostics(bool force) {
    ProcessRecord& p = gInfo;
    SharedRecord& s = *p.pSharedInfo;
    if (!force && s.bVerified == 1) return 0;
    for (int i = 0; i < 5; ++i) {
        VELD_SE_TRUSTED_OP op{0x7FFFFFFEu, 0, 0, 0};
        if (runBounded(p, [&](ProcessRecord& q) { return trustedOperation(q, op); }) != St::Ok ||
            op.result != 0) {
            SE_LOG(0, "Invalid OTP!");
            permanentLog("%s(%d):%s(%d)\n", __func__, __LINE__, "Invalid OTP!",
                         static_cast<int>(p.pid));
            return -1;
        }
    }
    for (int pass = 0; pass < 5; ++pass) {
        uint8_t key[16], iv[16], data[1024], copy[1024];
        int failedLine = 0;
        auto selfTest = [&](ProcessRecord& q) {
            St st;
            if ((st = randomCommand(q, key, 16)) != St::Ok || (st = randomCommand(q, iv, 16)) != St::Ok ||
                (st = randomCommand(q, data, 1024)) != St::Ok) {
                failedLine = __LINE__;
                return st;
            }
            std::memcpy(copy, data, sizeof data);
            const VELD_SE_CHAIN keyChain{reinterpret_cast<uintptr_t>(key), 16};
            const VELD_SE_CHAIN ivChain{reinterpret_cast<uintptr_t>(iv), 16};
            // Loaded outside any context: the next context-bound command must replay its own.
            resetCurrent();
            if ((st = chainCommand(q, 17, keyChain)) != St::Ok ||
                (st = chainCommand(q, 18, ivChain)) != St::Ok) {
                failedLine = __LINE__;
                return st;
            }
            VELD_SE_BLOCK_OP op{0, {0, 0}, 3, 0, 0, 16, 0, reinterpret_cast<uintptr_t>(data), 0,
                                reinterpret_cast<uintptr_t>(data), sizeof data};
            uint32_t done = 0;
            if ((st = blockOperation(q, op, done)) != St::Ok) {
                failedLine = __LINE__;
                return st;
            }
            SE_AES_SetKey(key, 16, iv);
            SE_AES_EncryptCBC(copy, copy, sizeof copy);
            if (std::memcmp(copy, data, sizeof data) != 0) {
                failedLine = __LINE__;
                return St::Fail;
            }
            SE_AES_SetKey(key, 16, iv);
            SE_AES_DecryptCBC(copy, copy, sizeof copy);
            op.direction = 1;
            done = 0;
            if ((st = blockOperation(q, op, done)) != St::Ok) {
                failedLine = __LINE__;
                return st;
            }
            if (std::memcmp(copy, data, sizeof data) != 0) {
                failedLine = __LINE__;
                return St::Fail;
            }
            return St::Ok;
        };
        const St st = runBounded(p, selfTest);
        resetCurrent();
        if (st != St::Ok) {
            permanentLog("%s(%d):Error(%d)\n", __func__, failedLine, static_cast<int>(p.pid));
            return -1;
        }
    }
    s.bVerified = 1;
    return 0;
}

}  // namespace veld::se

using namespace veld::se;

extern "C" {

int32_t VELD_SE_Initialize(const char* storePath) {
    std::shared_lock use(useMutex());
    if (seLock() != 0) {
        SE_FAILED();
        return -1;
    }
    const int result = coreInitialize(storePath);
    seUnlock();
    if (result != 0) SE_FAILED();
    return result;
}

int32_t VELD_SE_Shutdown(void) {
    // A running call keeps the window and the shared record mapped until it ends. The calling
    // thread's own group (VELD_SE_L000 without its L001) ends here.
    if (holdsLock()) seUnlock();
    UseGuard::endThreadCalls();
    std::unique_lock use(useMutex());
    detach();
    return 0;
}

int32_t VELD_SE_Suspend(void) { return 0; }
int32_t VELD_SE_Resume(void) { return 0; }

int32_t VELD_SE_G000(VELD_SE_CTX* ctx) {
    if (!ctx) {
        SE_FAILED();
        return -1;
    }
    return SE_ENGINE_CALL([&](ProcessRecord& p) {
        if (ctx->owner == reinterpret_cast<uintptr_t>(&p)) {
            SE_LOG(1, "Already opened!\n");
            return St::Ok;
        }
        *ctx = VELD_SE_CTX{};
        ctx->owner = reinterpret_cast<uintptr_t>(&p);
        ++p.numOfOpenedCtx;
        ++p.pSharedInfo->numOfOpenedCtx;
        countOpen(*p.pSharedInfo, p.pid, 1);
        return St::Ok;
    });
}

int32_t VELD_SE_G001(VELD_SE_CTX* ctx) {
    if (!ctx || ctx->owner == 0) {
        SE_FAILED();
        return -1;
    }
    return SE_ENGINE_CALL([&](ProcessRecord& p) {
        SharedRecord& s = *p.pSharedInfo;
        // A context freed and reused at the same address must not inherit the keys.
        if (s.pCurrentCtx == reinterpret_cast<uintptr_t>(ctx) && s.currentPid == p.pid)
            resetCurrent();
        ctx->owner = 0;
        if (p.numOfOpenedCtx) --p.numOfOpenedCtx;
        if (s.numOfOpenedCtx) --s.numOfOpenedCtx;
        countOpen(s, p.pid, -1);
        return St::Ok;
    });
}

}  // extern "C"
