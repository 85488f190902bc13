// The text of "Print Process Info." and the DMA usage monitor, shared by the debug shell and
// the secure-engine daemon (see se_debug_info.h).
#include "se_debug_info.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>

#include "se_channel.h"
#include "se_daemon.h"
#include "se_debug.h"

namespace veld::se {
namespace {

// Appends printf-style text to `out`, never beyond `room`.
struct Text {
    char* out;
    size_t room;
    size_t used = 0;
    void add(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        if (used + 1 >= room) return;
        va_list args;
        va_start(args, format);
        const int n = std::vsnprintf(out + used, room - used, format, args);
        va_end(args);
        if (n > 0) used = std::min(room - 1, used + static_cast<size_t>(n));
    }
};

// The DMA usage monitor: every interval the trusted world's byte counter, as a rate. A
// monitor that is stopped and started again ends its old thread by the generation.
std::atomic<uint32_t> gDmaGeneration{0};
std::atomic<bool> gDmaMonitor{false};
std::atomic<uint32_t> gDmaInterval{5000};

void* dmaMonitorThread(void* argument) {
    const uint32_t generation = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(argument));
    auto running = [&] { return gDmaMonitor.load() && gDmaGeneration.load() == generation; };
    uint32_t last = 0;
    auto lastTime = std::chrono::steady_clock::now();
    bool first = true;
    while (running()) {
        VELD_SE_TRUSTED_OP op{0x7FFFFFFDu, 0, 0, 0};
        if (seLock() == 0) {
            ProcessRecord* p = getProcessRecord();
            const bool ok = p && trustedOperation(*p, op) == St::Ok;
            seUnlock();
            const auto now = std::chrono::steady_clock::now();
            const double ms = std::chrono::duration<double, std::milli>(now - lastTime).count();
            if (ok && !first && ms > 0) {
                const uint32_t bytes = op.result - last;  // the counter wraps at 32 bits
                SE_LOG(2, "DMA Usage : %.2f Mbps (%.2f MBps : %u/%llu)\n",
                       bytes * 8.0 / 1e6 / (ms / 1000), bytes / 1e6 / (ms / 1000), bytes,
                       static_cast<unsigned long long>(ms));
            }
            first = false;
            last = op.result;
            lastTime = now;
        }
        for (uint32_t waited = 0; waited < gDmaInterval.load() && running(); waited += 10)
            ::usleep(10000);
    }
    return nullptr;
}

void addRecords(Text& t) {
    const ProcessRecord& p = processRecord();
    t.add("pInfo.bInit = %u\npInfo.numOfOpenedCtx = %u\npInfo.pid = %u\npInfo.devFd = %d\n"
          "pInfo.cacheFd = %d\npInfo.memInfo = {0x%x, 0x%x, 0x%x, 0x%x, 0x%x, 0x%x}\n"
          "pInfo.bufferAddr = 0x%x\npInfo.bufferLength = 0x%x\n",
          p.bInit, p.numOfOpenedCtx, p.pid, p.devFd, p.cacheFd, p.memInfo.base, p.memInfo.size,
          p.memInfo.secureBase, p.memInfo.secureSize, p.memInfo.tempSecureDataBase,
          p.memInfo.tempSecureDataSize, p.bufferAddr, p.bufferLength);
    if (const SharedRecord* s = p.pSharedInfo) {
        t.add("sharedInfo.bInit = %u\nsharedInfo.bInitSeStore = %u\nsharedInfo.bInitRPMB = %u\n"
              "sharedInfo.bCachedBuffer = %u\nsharedInfo.numOfOpenedCtx = %u\n"
              "sharedInfo.currentPid = %u\nsharedInfo.numOfSeStoreData = %u\n"
              "sharedInfo.seStoreUsage = %u\nsharedInfo.seStorePath = %.255s\n"
              "sharedInfo.lockPid = %d\nsharedInfo.recursiveOwner = %d\n"
              "sharedInfo.pidLockSecureMem = %d\nsharedInfo.permanentLogPoint = %u\n"
              "sharedInfo.bSuspended = %u\nsharedInfo.resumeFlags = 0x%x\nsharedInfo.bVerified = %u\n",
              s->bInit, s->bInitSeStore, s->bInitRPMB, s->bCachedBuffer, s->numOfOpenedCtx,
              s->currentPid, s->numOfSeStoreData, s->seStoreUsage, s->seStorePath, s->lockPid,
              s->recursiveOwner, s->pidLockSecureMem, s->permanentLogPoint, s->bSuspended,
              s->resumeFlags, s->bVerified);
        for (int i = 0; i < 4; ++i)
            t.add("sharedInfo.secureArea[%d] = {%u, 0x%x, 0x%x}\n", i, s->secureArea[i].inUse,
                  s->secureArea[i].base, s->secureArea[i].size);
    }
}

}  // namespace

bool dmaMonitorRunning() { return gDmaMonitor.load(); }

void recordsText(char* out, size_t room) {
    Text t{out, room};
    addRecords(t);
}

void processInfoText(char* out, size_t room, long lockWaitMs) {
    Text t{out, room};
    t.add("Build : %s %s (%s)\n", __DATE__, __TIME__, "veld");
    if (seLockWithin(lockWaitMs) == 0) {
        char version[64] = {};
        VELD_SE_TRUSTED_OP versionOp{0x7FFFFFFFu, 0, reinterpret_cast<uintptr_t>(version), sizeof version};
        VELD_SE_TRUSTED_OP otpOp{0x7FFFFFFEu, 0, 0, 0};
        ProcessRecord* p = getProcessRecord();
        const bool haveVersion = p && trustedOperation(*p, versionOp) == St::Ok && versionOp.result == 0;
        const bool otpValid = p && trustedOperation(*p, otpOp) == St::Ok && otpOp.result == 0;
        seUnlock();
        version[sizeof version - 1] = '\0';
        if (haveVersion) t.add("TZFW Version : %s\n", version);
        else t.add("TZFW Version Error!\n");
        t.add("OTP Key : %s\n", otpValid ? "Valid" : "Invalid");
    } else {
        t.add("TZFW Version : (engine busy)\nOTP Key : (engine busy)\n");
    }
    addRecords(t);
}

}  // namespace veld::se

using namespace veld::se;

extern "C" int32_t _SE_DBG04(uint32_t intervalMs) {
    if (gDmaMonitor.exchange(false)) {
        SE_LOG(2, "Off\n");
        return 0;
    }
    if (intervalMs < 1 || intervalMs > 3600000) intervalMs = 5000;
    gDmaInterval.store(intervalMs);
    const uint32_t generation = gDmaGeneration.fetch_add(1) + 1;
    gDmaMonitor.store(true);
    SE_LOG(2, "On (Interval : %u)\n", intervalMs);
    if (!startThread(dmaMonitorThread, reinterpret_cast<void*>(uintptr_t{generation}), true)) {
        gDmaMonitor.store(false);
        return -1;
    }
    return 0;
}
