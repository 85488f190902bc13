// The monitor's metrics record: the collectors publish every sample into one small shared-
// memory record "/ssm-metrics" (namespaced like every other name) under a sequence lock, so
// that `veldctl metrics` and other readers follow the same figures the panels show without
// asking the daemon anything. The record's layout is fixed and the same on the 32-bit
// television and on a 64-bit PC: plain 32- and 64-bit fields at fixed offsets.
//
// The same module names the columns of a sample (terminal line, CSV file, summary, plot), so
// that the daemon's start-up log and veldctl write one CSV format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

extern "C" {

#define SSM_METRICS_NAME "/ssm-metrics"
#define SSM_METRICS_MAGIC 0x4d4d5353u /* "SSMM" */
#define SSM_METRICS_VERSION 1u

// Bits of SSM_METRICS_SAMPLE.valid: which collectors have published at least once.
#define SSM_METRICS_CPU 0x1u
#define SSM_METRICS_MEMORY 0x2u
#define SSM_METRICS_BUS 0x4u
#define SSM_METRICS_FPS 0x8u
#define SSM_METRICS_CHART 0x10u /* a chart app runs and has taken a sample */

// One sample: the latest figure of every collector. Written only as a whole under the
// record's sequence lock.
struct SSM_METRICS_SAMPLE {
    uint64_t monoNs;      // monotonic time at which the sample closed (the CPU pass)
    uint64_t wallNs;      // wall-clock time of the same moment, ns since 1970 (UTC)
    uint64_t publishedNs; // monotonic time of the latest publication by any collector
    uint32_t sample;      // samples closed so far; a new number means a new sample
    uint32_t valid;       // SSM_METRICS_* bits
    float cpu[5];         // busy % of all CPUs, then of cpu0..cpu3
    uint32_t memTotalKb;
    uint32_t memFreeKb;
    uint32_t memAvailKb;
    int32_t ddrNum;       // DDR channels the bus monitor reports
    float ddrLoad[3];     // % of each DDR's maximum bandwidth
    float ddrMBps[3];     // write + read MB/s of each DDR
    uint32_t fps[4];      // flips per second x 10 of frame buffers 0..3
    uint32_t chartApp;    // app id of the running chart (521 PCR .. 524 GPIO), 0 when none
    int32_t chartValue;   // its latest sample (unit by chart: us, 'C, %, level)
    uint32_t reserved;    // 0; rounds the sample up to whole 64-bit words on every ABI
};
static_assert(offsetof(SSM_METRICS_SAMPLE, wallNs) == 8 && offsetof(SSM_METRICS_SAMPLE, publishedNs) == 16 &&
              offsetof(SSM_METRICS_SAMPLE, sample) == 24 && offsetof(SSM_METRICS_SAMPLE, valid) == 28 &&
              offsetof(SSM_METRICS_SAMPLE, cpu) == 32 && offsetof(SSM_METRICS_SAMPLE, memTotalKb) == 52 &&
              offsetof(SSM_METRICS_SAMPLE, ddrNum) == 64 && offsetof(SSM_METRICS_SAMPLE, ddrLoad) == 68 &&
              offsetof(SSM_METRICS_SAMPLE, ddrMBps) == 80 && offsetof(SSM_METRICS_SAMPLE, fps) == 92 &&
              offsetof(SSM_METRICS_SAMPLE, chartApp) == 108 && offsetof(SSM_METRICS_SAMPLE, chartValue) == 112);
// No implicit padding anywhere, so ABIs that align 64-bit fields to 4 bytes agree as well.
static_assert(sizeof(SSM_METRICS_SAMPLE) == 120);

#define SSM_METRICS_WORDS (sizeof(SSM_METRICS_SAMPLE) / 4)

// The shared region. `sequence` is a sequence lock: odd while the writer copies a sample into
// `words`, even when it is whole. Every word is written and read atomically.
struct SSM_METRICS_RECORD {
    uint32_t magic;       // SSM_METRICS_MAGIC once set up
    uint32_t version;     // SSM_METRICS_VERSION
    uint32_t recordBytes; // sizeof(SSM_METRICS_RECORD)
    uint32_t writerPid;   // the daemon that publishes
    uint32_t sequence;
    uint32_t reserved;
    uint32_t words[SSM_METRICS_WORDS];  // an SSM_METRICS_SAMPLE
};
static_assert(offsetof(SSM_METRICS_RECORD, sequence) == 16 && offsetof(SSM_METRICS_RECORD, words) == 24);
static_assert(sizeof(SSM_METRICS_RECORD) == 144);

}  // extern "C"

namespace veld::ssm::metrics {

// ---- Publishing (the daemon) -------------------------------------------------------------

// Creates or takes over the record in the current namespace and, when the kernel command line
// has "ssm.metrics_log", opens the start-up log. Called when the collectors start; again
// starts afresh.
void start();
// Unmaps the record and closes the log (tests).
void stop();

// Each collector's pass. The CPU pass closes a sample: it stamps the time, counts the sample
// and writes one row to the start-up log.
void publishCpu(const float (&busy)[5]);
void publishMemory(uint32_t totalKb, uint32_t freeKb, uint32_t availKb);
void publishBus(int32_t ddrNum, const float (&load)[3], const float (&mbps)[3]);
void publishFps(const uint32_t (&fps)[4]);
void publishChart(uint32_t appId, int32_t value);
void clearChart();

// ---- Reading -----------------------------------------------------------------------------

enum class ReadResult { kOk, kBusy, kFormat };

// Copies a whole sample out of a mapped record under its sequence lock; kBusy after `tries`
// attempts that all met a writer, kFormat when the record is not one this code knows.
ReadResult read(const SSM_METRICS_RECORD& record, SSM_METRICS_SAMPLE& out, int tries = 1000);
// Writes a sample into a mapped record under its sequence lock (the publisher; tests).
void write(SSM_METRICS_RECORD& record, const SSM_METRICS_SAMPLE& sample);

// A read-only mapping of the record of the current namespace, for readers in other processes.
class RecordView {
public:
    // Maps the record; false with the reason in `error` when there is none.
    bool open(std::string& error);
    ~RecordView();
    const SSM_METRICS_RECORD* record() const { return record_; }
    // Whether the process that publishes into the record still exists.
    bool writerAlive() const;

private:
    const SSM_METRICS_RECORD* record_ = nullptr;
};

// ---- Columns -----------------------------------------------------------------------------

// The quantities a plot draws one panel each for.
enum class Quantity { kCpu, kMemory, kBusLoad, kBandwidth, kFrameRate, kChart };

struct Column {
    const char* csvName;   // CSV header, unit included
    const char* label;     // terminal header, first line
    const char* unit;      // terminal header, second line, and the summary
    int width;             // terminal characters, leading blank included; 0: CSV only
    int precision;
    Quantity quantity;
};

std::span<const Column> columns();
// The column's figure in a sample; false when its collector has not published.
bool columnValue(const SSM_METRICS_SAMPLE& sample, size_t column, double& value);
// Short name of a chart app id ("pcr", "temp", "cpuload", "gpio"), "" for 0 or unknown.
const char* chartName(uint32_t appId);

// The CSV header line and one row, both ending in '\n'. Columns before the figures: the
// monotonic time in seconds and the wall-clock time in ISO 8601 UTC; after them the chart's
// name.
std::string csvHeader();
std::string csvRow(const SSM_METRICS_SAMPLE& sample);

// ---- The start-up log --------------------------------------------------------------------

// The CSV file the daemon records from the start of its collectors: bounded to `limitBytes`
// per file and rotated once (FILE -> FILE.1). Every row goes out with one append of the
// whole line, so a crash can cut at most the last line; a torn last line left by an earlier
// run is cut off when the log opens, and that run's file is kept as FILE.1.
class StartupLog {
public:
    StartupLog() = default;
    StartupLog(const StartupLog&) = delete;
    StartupLog& operator=(const StartupLog&) = delete;
    ~StartupLog() { close(); }

    // Opens `path` (a full path); false with the reason in `error`.
    bool open(const std::string& path, uint64_t limitBytes, std::string& error);
    void close();
    bool isOpen() const { return fd_ >= 0; }
    // Appends one row, rotating first when it would pass the limit.
    bool append(const std::string& row);

private:
    bool startFile(std::string& error);
    std::string path_;
    uint64_t limit_ = 0;
    uint64_t size_ = 0;
    int fd_ = -1;
};

constexpr uint64_t kDefaultLogLimitBytes = 1024 * 1024;

}  // namespace veld::ssm::metrics
