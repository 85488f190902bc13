// The two sampling tasks of the monitor: "pmt_tsk" reads the bus monitor's pmtinfo every
// 500 ms into DDR load ratios and the raw text, "fps_tsk" turns the frame buffers' flip
// counters into flip rates once a second. Each keeps its latest figures in a process-wide
// context under its named mutex; the getters copy them out on the monitor task.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "detached_task.h"
#include "seam.h"
#include "ssm_metrics.h"
#include "ssm_sys.h"
#include "veldd_log.h"
#include "xdrv.h"

using namespace veld::loglevel;

namespace veld::ssm {
namespace {

constexpr uint32_t kTaskStack = 0x10000;
constexpr uint32_t kRawTextCapacity = 4096;
constexpr uint32_t kRawTextLimit = 3975;  // lines are appended while the text is this short
constexpr int kMaxDdr = 3;
constexpr int kFrameBuffers = 4;

struct PmtContext {
    int32_t valid = 0;
    int32_t ddrNum = kMaxDdr;
    uint32_t maxBw[kMaxDdr] = {};
    float ratio[kMaxDdr] = {};
    float values[2 * kMaxDdr] = {};  // WR and RD of each DDR from the last "TOTAL" line
    XString raw{};
    VELD_HANDLE mutex = 0;
};

struct FpsContext {
    int32_t valid = 0;
    uint32_t fps[kFrameBuffers] = {};
    uint64_t previousTick = 0;
    uint64_t previousCount[kFrameBuffers] = {};
    VELD_HANDLE mutex = 0;
};

PmtContext gPmt;
FpsContext gFps;

// RAII for the collectors' named mutexes.
class MutexLock {
public:
    explicit MutexLock(VELD_HANDLE m) : mutex_(m) { XUTIL_LockMutex(mutex_); }
    ~MutexLock() { XUTIL_UnlockMutex(mutex_); }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

private:
    VELD_HANDLE mutex_;
};

VELD_HANDLE pmtMutex() {
    if (!gPmt.mutex) gPmt.mutex = XUTIL_CreateMutex("pmt-mtx");
    return gPmt.mutex;
}

VELD_HANDLE fpsMutex() {
    if (!gFps.mutex) gFps.mutex = XUTIL_CreateMutex("fps-mtx");
    return gFps.mutex;
}

bool writeText(const char* fixedPath, const char* text, size_t length) {
    FILE* f = std::fopen(seam::path(fixedPath).c_str(), "w");
    if (!f) {
        VELDD_LOG_AS("SSM_SYS_Init", kError, "[xErr] can't open %s\n", fixedPath);
        return false;
    }
    std::fwrite(text, 1, length, f);
    std::fclose(f);
    return true;
}

// Bus monitor set-up: switch it on, choose its options, read the DDR count and limits.
bool preparePmt() {
    if (!writeText("/proc/qv/qvbus/pmtctrl", " 1", 2)) return false;
    static constexpr char kOptions[] = " -pmt_sync +pmt_bw_org +pmt_bw_dummy";
    static_assert(sizeof kOptions - 1 == 36);
    if (!writeText("/proc/qv/qvbus/pmtopts", kOptions, sizeof kOptions - 1)) return false;
    FILE* f = std::fopen(seam::path("/proc/qv/qvbus/status").c_str(), "r");
    if (!f) {
        VELDD_LOG_AS("SSM_SYS_Init", kError, "[xErr] can't open %s\n", "/proc/qv/qvbus/status");
        return false;
    }
    gPmt.ddrNum = kMaxDdr;
    char line[120];
    while (std::fgets(line, sizeof line, f)) {
        int value = 0;
        if (std::sscanf(line, "ddr_num: %d", &value) == 1) gPmt.ddrNum = value;
        if (std::sscanf(line, "ddr0.max_bw: %d", &value) == 1) gPmt.maxBw[0] = static_cast<uint32_t>(value);
        if (std::sscanf(line, "ddr1.max_bw: %d", &value) == 1) gPmt.maxBw[1] = static_cast<uint32_t>(value);
        if (std::sscanf(line, "ddr2.max_bw: %d", &value) == 1) gPmt.maxBw[2] = static_cast<uint32_t>(value);
    }
    std::fclose(f);
    return true;
}

// The WR/RD values of a "TOTAL" line: every token after the first, as long as they parse.
void readTotals(char* line) {
    char* save = nullptr;
    if (!strtok_r(line, " \t\n", &save)) return;
    int n = 0;
    for (char* token = strtok_r(nullptr, " \t\n", &save); token && n < 2 * kMaxDdr;
         token = strtok_r(nullptr, " \t\n", &save)) {
        float value = 0;
        if (std::sscanf(token, " %f", &value) != 1) break;
        gPmt.values[n++] = value;
    }
}

void* pmtTask(void*) {
    detachThisTask();
    for (;;) {
        samplePmtOnce();
        XUTIL_Sleep(500);
    }
    return nullptr;
}

// The second blank-separated token of a "flip_count" line, as a 64-bit counter.
uint64_t flipCount(int frameBuffer) {
    char path[80];
    std::snprintf(path, sizeof path, "/proc/qv/fbdev/fb%d/status", frameBuffer);
    FILE* f = std::fopen(seam::path(path).c_str(), "r");
    if (!f) return 0;
    uint64_t count = 0;
    char line[160];
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, "flip_count", 10) != 0) continue;
        char* save = nullptr;
        strtok_r(line, " \t", &save);
        if (const char* token = strtok_r(nullptr, " \t", &save)) count = std::strtoull(token, nullptr, 10);
        break;
    }
    std::fclose(f);
    return count;
}

void* fpsTask(void*) {
    detachThisTask();
    gFps.valid = 1;
    for (;;) {
        sampleFpsOnce();
        XUTIL_Sleep(1000);
    }
    return nullptr;
}

}  // namespace

uint32_t flipRate(uint64_t count, uint64_t previousCount, uint32_t elapsedMs) {
    if (count == 0 || elapsedMs == 0) return 0;
    // The counters are compared in their low 32 bits, so a 32-bit wrap still counts right.
    const uint32_t flips = static_cast<uint32_t>(count) - static_cast<uint32_t>(previousCount);
    const double rate = static_cast<double>(flips) * 1000.0 * 10.0 / elapsedMs;
    // A counter that went backwards gives a huge difference: keep the result representable.
    return rate >= static_cast<double>(std::numeric_limits<uint32_t>::max())
               ? std::numeric_limits<uint32_t>::max()
               : static_cast<uint32_t>(rate);
}

void samplePmtOnce() {
    FILE* f = std::fopen(seam::path("/proc/qv/qvbus/pmtinfo").c_str(), "r");
    if (!f) return;
    MutexLock lock(pmtMutex());
    gPmt.valid = 1;
    if (!gPmt.raw.data) gPmt.raw = XUTIL_AllocString(kRawTextCapacity);
    gPmt.raw.length = 0;
    char line[120];
    while (std::fgets(line, sizeof line, f)) {
        const size_t n = std::strlen(line);
        if (gPmt.raw.data && gPmt.raw.length <= kRawTextLimit) {
            std::memcpy(gPmt.raw.data + gPmt.raw.length, line, n);
            gPmt.raw.length += static_cast<uint32_t>(n);
        }
        if (std::strstr(line, "TOTAL")) readTotals(line);
    }
    const int ddrs = std::clamp(gPmt.ddrNum, 0, kMaxDdr);
    float mbps[kMaxDdr] = {};
    for (int i = 0; i < ddrs; ++i) {
        const float wr = gPmt.values[2 * i], rd = gPmt.values[2 * i + 1];
        mbps[i] = wr + rd;
        // A DDR without a known limit has no meaningful load; it stays at 0 instead of inf.
        gPmt.ratio[i] = gPmt.maxBw[i] ? (wr + rd) * 100.0f / static_cast<float>(gPmt.maxBw[i]) : 0.0f;
        VELDD_LOG(kDebug, "[xDbg] DDR%d: WR=%6.2fMB/s RD=%6.2fMB/s ratio=%5.2f%%\n", i, wr, rd,
                  gPmt.ratio[i]);
    }
    metrics::publishBus(ddrs, gPmt.ratio, mbps);
    std::fclose(f);
}

void sampleFpsOnce() {
    MutexLock lock(fpsMutex());
    gFps.valid = 1;
    const uint32_t now = XUTIL_GetTick();
    uint64_t counts[kFrameBuffers];
    for (int n = 0; n < kFrameBuffers; ++n) counts[n] = flipCount(n);
    if (gFps.previousTick != 0) {
        const uint32_t elapsed = now - static_cast<uint32_t>(gFps.previousTick);
        // Two passes within the same millisecond measure nothing: keep the last rates.
        if (elapsed != 0)
            for (int n = 0; n < kFrameBuffers; ++n)
                gFps.fps[n] = flipRate(counts[n], gFps.previousCount[n], elapsed);
        metrics::publishFps(gFps.fps);  // the first pass has no rates yet
    }
    gFps.previousTick = now;
    std::copy(std::begin(counts), std::end(counts), gFps.previousCount);
}

void resetCollectors() {
    XUTIL_FreeString(gPmt.raw);
    const VELD_HANDLE pmt = gPmt.mutex, fps = gFps.mutex;
    gPmt = PmtContext{};
    gFps = FpsContext{};
    gPmt.mutex = pmt;
    gFps.mutex = fps;
}

}  // namespace veld::ssm

using namespace veld::ssm;

extern "C" {

void SSM_SYS_Init(void) {
    // debugfs holds the GPU load file. A private root is not a kernel mount point, so the
    // mount is only attempted on the real file system.
    if (veld::seam::path("/").size() == 1) {
        const int ignored = std::system("mount -t debugfs none /sys/kernel/debug/ 2>/dev/null");
        (void)ignored;
    }
    metrics::start();
    XUTIL_FreeString(gPmt.raw);
    gPmt = PmtContext{};
    if (preparePmt()) {
        pmtMutex();
        gPmt.raw = XUTIL_AllocString(kRawTextCapacity);
        XUTIL_CreateThread("pmt_tsk", kTaskStack, pmtTask, nullptr);
    }
    gFps = FpsContext{};
    fpsMutex();
    XUTIL_CreateThread("fps_tsk", kTaskStack, fpsTask, nullptr);
}

int32_t SSM_SYS_GetPmtData(SSM_PMT_DATA* out) {
    if (!gPmt.valid || !gPmt.mutex) return -5;
    MutexLock lock(gPmt.mutex);
    out->ddrNum = gPmt.ddrNum;
    std::copy(std::begin(gPmt.maxBw), std::end(gPmt.maxBw), out->maxBw);
    std::copy(std::begin(gPmt.ratio), std::end(gPmt.ratio), out->ratio);
    return 0;
}

int32_t SSM_SYS_GetRawPmtText(XString* string, uint32_t capacity) {
    if (!gPmt.valid || !gPmt.mutex) return -5;
    MutexLock lock(gPmt.mutex);
    const uint32_t n = std::min(gPmt.raw.length, capacity);
    if (n && gPmt.raw.data) std::memcpy(string->data, gPmt.raw.data, n);
    string->length = n;
    return 0;
}

int32_t SSM_SYS_GetOSDFpsData(uint32_t* out) {
    if (!gFps.valid || !gFps.mutex) return -5;
    MutexLock lock(gFps.mutex);
    std::copy(std::begin(gFps.fps), std::end(gFps.fps), out);
    return 0;
}

}  // extern "C"
