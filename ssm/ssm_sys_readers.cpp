// The monitor's synchronous readers: CPU deltas from /proc/stat, GPU load from the GPU
// driver's debug file, memory figures from /proc/meminfo and /proc/vmstat, whole text files,
// and kernel command-line options. They keep no state besides the last aggregate CPU deltas,
// which only the monitor task touches.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string_view>

#include "seam.h"
#include "ssm_metrics.h"
#include "ssm_sys.h"
#include "veldd_log.h"

using namespace veld::loglevel;

namespace {

SSM_CPU_RECORD gLastAggregate{};

// The record index of a /proc/stat line, -1 for lines that are not CPU lines we show.
int cpuIndex(const char* line) {
    static constexpr const char* kPrefixes[SSM_CPU_RECORDS] = {"cpu ", "cpu0", "cpu1", "cpu2", "cpu3"};
    for (int i = 0; i < SSM_CPU_RECORDS; ++i)
        if (std::strncmp(line, kPrefixes[i], 4) == 0) return i;
    return -1;
}

uint32_t parseTicks(const char* token) {
    // Counters wider than 32 bits keep their low word, as the 32-bit records do on the device.
    return token ? static_cast<uint32_t>(std::strtoull(token, nullptr, 10)) : 0;
}

SSM_CPU_RECORD readCpuLine(char* line) {
    SSM_CPU_RECORD r{};
    char* save = nullptr;
    strtok_r(line, " \t\n", &save);  // the label
    r.user = parseTicks(strtok_r(nullptr, " \t\n", &save));
    r.nice = parseTicks(strtok_r(nullptr, " \t\n", &save));
    r.system = parseTicks(strtok_r(nullptr, " \t\n", &save));
    r.idle = parseTicks(strtok_r(nullptr, " \t\n", &save));
    r.total = static_cast<uint32_t>(r.user + r.nice + r.system + r.idle);  // a 32-bit sum
    return r;
}

struct MemKey {
    std::string_view key;
    int word;
};

constexpr MemKey kMeminfoKeys[] = {
    {"MemTotal", 0},  {"MemFree", 1},   {"MemAvailable", 2},    {"LowTotal", 3},
    {"LowFree", 4},   {"HighTotal", 5}, {"HighFree", 6},        {"SwapTotal", 7},
    {"SwapFree", 8},  {"CmaTotal", 9},  {"CmaFree", 10},        {"CmaDeviceAlloc", 11},
    {"Cached", 12},   {"Inactive", 13}, {"AnonPages", 14},      {"SReclaimable", 15},
};
constexpr MemKey kVmstatKeys[] = {{"nr_free_pages", 16}, {"nr_anon_pages", 17}, {"nr_file_pages", 18}};

// Prefix matches: "Inactive" also takes "Inactive(anon)" and "Inactive(file)"; the last
// matching line wins.
template <size_t N>
void readKeys(FILE* f, const MemKey (&keys)[N], int32_t* data) {
    char line[160];
    while (std::fgets(line, sizeof line, f)) {
        for (const MemKey& k : keys) {
            if (std::strncmp(line, k.key.data(), k.key.size()) != 0) continue;
            // "%s %d": the name, then the number, kept within 32 bits whatever the file says.
            const char* number = line + std::strcspn(line, " \t\n");
            char* end = nullptr;
            const long long value = std::strtoll(number, &end, 10);
            if (end != number)
                data[k.word] = static_cast<int32_t>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
        }
    }
}

// Busy share of each CPU over the last pass, NaN for a CPU without a line (or without ticks).
void publishCpu(const SSM_CPU_RECORD (&delta)[SSM_CPU_RECORDS]) {
    float busy[SSM_CPU_RECORDS];
    for (int i = 0; i < SSM_CPU_RECORDS; ++i) {
        const SSM_CPU_RECORD& d = delta[i];
        const double idle = std::min<double>(d.idle, static_cast<double>(d.total));
        busy[i] = d.total ? static_cast<float>((static_cast<double>(d.total) - idle) * 100.0 / static_cast<double>(d.total))
                          : std::numeric_limits<float>::quiet_NaN();
    }
    veld::ssm::metrics::publishCpu(busy);
}

}  // namespace

extern "C" {

int32_t SSM_SYS_ScanCommandOption(const char* pattern, char* value) {
    return VELD_UTIL_ScanKernelCmdline(pattern, value);
}

int32_t SSM_SYS_DumpTextFile(const char* path, XString* string, uint32_t capacity) {
    string->length = 0;
    FILE* f = std::fopen(veld::seam::path(path).c_str(), "r");
    if (!f) return -5;
    char line[160];
    while (std::fgets(line, sizeof line, f)) {
        const size_t n = std::strlen(line);
        if (string->length + n > capacity) break;
        std::memcpy(string->data + string->length, line, n);
        string->length += static_cast<uint32_t>(n);
    }
    std::fclose(f);
    return 0;
}

int32_t SSM_SYS_GetCPUData(SSM_CPU_DATA* block) {
    FILE* f = std::fopen(veld::seam::path("/proc/stat").c_str(), "r");
    if (!f) {
        VELDD_LOG(kError, "[xErr] can't open %s\n", "/proc/stat");
        return -5;
    }
    SSM_CPU_RECORD current[SSM_CPU_RECORDS] = {};
    std::memset(block->delta, 0, sizeof block->delta);
    char line[1600];
    while (std::fgets(line, sizeof line, f)) {
        const int i = cpuIndex(line);
        if (i < 0) continue;
        current[i] = readCpuLine(line);
        VELDD_LOG(kDebug, "[xDbg] (0) cpu(%d) user %8d, nice %8d, sys %8d, idle %8d, total %8llun", i,
                  current[i].user, current[i].nice, current[i].system, current[i].idle,
                  static_cast<unsigned long long>(current[i].total));
    }
    for (int i = 0; i < SSM_CPU_RECORDS; ++i) {
        const SSM_CPU_RECORD& now = current[i];
        const SSM_CPU_RECORD& before = block->previous[i];
        SSM_CPU_RECORD& d = block->delta[i];
        if (now.total == 0) {
            VELDD_LOG(kDebug, "[xDbg] (1) cpu(%d) n/a\n", i);
            continue;
        }
        d.user = now.user - before.user;
        d.nice = now.nice - before.nice;
        d.system = now.system - before.system;
        d.idle = now.idle - before.idle;
        d.total = now.total - before.total;
        VELDD_LOG(kDebug, "[xDbg] (1) cpu(%d) user %8d, nice %8d, sys %8d, idle %8d => (%.2f)\n", i,
                  d.user, d.nice, d.system, d.idle,
                  d.total ? static_cast<double>(d.user) * 100.0 / static_cast<double>(d.total) : 0.0);
    }
    VELDD_LOG(kDebug, "[xDbg] \n");
    publishCpu(block->delta);
    std::memcpy(block->previous, current, sizeof current);
    gLastAggregate = block->delta[0];
    std::fclose(f);
    return 0;
}

int32_t SSM_SYS_GetCPUInfo(SSM_CPU_RECORD* record) {
    *record = gLastAggregate;
    return 0;
}

int32_t SSM_SYS_GetCPUUsageInfo(float* percent) {
    const SSM_CPU_RECORD& d = gLastAggregate;
    const double busy = static_cast<double>(d.user) + d.nice + d.system;
    // No ticks passed (or no sample yet): nothing was busy.
    *percent = d.total ? static_cast<float>(busy * 100.0 / static_cast<double>(d.total)) : 0.0f;
    return 0;
}

int32_t SSM_SYS_GetGPUUsageInfo(float* percent) {
    static constexpr const char* kPath = "/sys/kernel/debug/mali0/gpu_utilization";
    FILE* f = std::fopen(veld::seam::path(kPath).c_str(), "r");
    if (!f) {
        VELDD_LOG(kDebug, "[xDbg] can't open %s\n", kPath);
        *percent = 0.0f;
        return -5;
    }
    int value = 0;
    char line[160];
    while (std::fgets(line, sizeof line, f)) {
        if (std::strcmp(line, "mali0") == 0 || std::strcmp(line, "mali0\n") == 0) continue;
        if (std::sscanf(line, " %*s %*s %d ", &value) == 1) break;
        value = 0;
    }
    std::fclose(f);
    *percent = static_cast<float>(value);
    return 0;
}

int32_t SSM_SYS_GetMemoryData(int32_t* data) {
    std::memset(data, 0, SSM_MEM_WORDS * sizeof(int32_t));
    FILE* meminfo = std::fopen(veld::seam::path("/proc/meminfo").c_str(), "r");
    if (!meminfo) {
        VELDD_LOG(kError, "[xErr] can't open meminfo\n");
        return -5;
    }
    readKeys(meminfo, kMeminfoKeys, data);
    FILE* vmstat = std::fopen(veld::seam::path("/proc/vmstat").c_str(), "r");
    if (!vmstat) {
        VELDD_LOG(kError, "[xErr] can't open vmstat\n");
        std::fclose(meminfo);
        return -5;
    }
    readKeys(vmstat, kVmstatKeys, data);
    veld::ssm::metrics::publishMemory(static_cast<uint32_t>(std::max(data[0], 0)),
                                      static_cast<uint32_t>(std::max(data[1], 0)),
                                      static_cast<uint32_t>(std::max(data[2], 0)));
    std::fclose(vmstat);
    std::fclose(meminfo);
    return 0;
}

}  // extern "C"
