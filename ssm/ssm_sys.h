// The monitor's system data collectors: the bus-bandwidth and frame-rate sampling tasks with
// their latest figures under "pmt-mtx" and "fps-mtx", and the synchronous CPU, GPU and memory
// readers the panels call once a second. Every kernel file is read through VELD_ROOT; a
// missing file gives -5 and never stops the monitor.
#pragma once

#include <cstddef>
#include <cstdint>

#include "xstring.h"

extern "C" {

// One CPU line of /proc/stat (clock ticks). `total` is the 32-bit sum user + nice + system +
// idle in a 64-bit field; in a delta record it is the 64-bit difference.
struct SSM_CPU_RECORD {
    uint32_t user;
    uint32_t nice;
    uint32_t system;
    uint32_t idle;
    uint64_t total;
};
static_assert(sizeof(SSM_CPU_RECORD) == 24 && offsetof(SSM_CPU_RECORD, total) == 16);

constexpr int SSM_CPU_RECORDS = 5;  // "cpu " then cpu0..cpu3

// Owned by the caller, zero at first use.
struct SSM_CPU_DATA {
    SSM_CPU_RECORD delta[SSM_CPU_RECORDS];
    SSM_CPU_RECORD previous[SSM_CPU_RECORDS];
};

constexpr int SSM_MEM_WORDS = 19;

// Bus bandwidth figures as SSM_SYS_GetPmtData copies them: seven words.
struct SSM_PMT_DATA {
    int32_t ddrNum;
    uint32_t maxBw[3];  // MB/s
    float ratio[3];     // percent of maxBw
};
static_assert(sizeof(SSM_PMT_DATA) == 28);

void SSM_SYS_Init(void);
int32_t SSM_SYS_ScanCommandOption(const char* pattern, char* value);
// Replaces the string's text by the whole file, at most `capacity` bytes (the string's block
// holds capacity + 1). 0, or -5 when the file can't be opened (the string is then empty).
int32_t SSM_SYS_DumpTextFile(const char* path, XString* string, uint32_t capacity);
int32_t SSM_SYS_GetCPUData(SSM_CPU_DATA* block);
int32_t SSM_SYS_GetCPUInfo(SSM_CPU_RECORD* record);
int32_t SSM_SYS_GetCPUUsageInfo(float* percent);
int32_t SSM_SYS_GetGPUUsageInfo(float* percent);
int32_t SSM_SYS_GetMemoryData(int32_t* data);
int32_t SSM_SYS_GetPmtData(SSM_PMT_DATA* out);
int32_t SSM_SYS_GetRawPmtText(XString* string, uint32_t capacity);
int32_t SSM_SYS_GetOSDFpsData(uint32_t* out);

}  // extern "C"

namespace veld::ssm {

// One pass of each sampling task, for the tasks and for tests.
void samplePmtOnce();
void sampleFpsOnce();
// Resets the process-wide collector state (tests).
void resetCollectors();

// Flips per second x 10 from two counter samples `elapsedMs` apart; 0 when no time passed.
uint32_t flipRate(uint64_t count, uint64_t previousCount, uint32_t elapsedMs);

}  // namespace veld::ssm
