// The metrics record: the daemon's side, which creates "/ssm-metrics" when the collectors start
// and publishes every collector's pass into it under the sequence lock, and the readers' side,
// a read-only mapping and the lock-free copy of a whole sample. The CPU pass closes a sample
// and hands it to the start-up log (ssm_metrics_log.cpp).
#include "ssm_metrics.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

#include "seam.h"
#include "veldd_log.h"

using namespace veld::loglevel;

namespace veld::ssm::metrics {
namespace {

constexpr const char* kLogKey = "ssm.metrics_log";
constexpr const char* kLogLimitKey = "ssm.metrics_log_kb";

template <typename T>
std::atomic_ref<T> shared(const T& field) {
    // The readers' mapping is read-only; atomic loads never write.
    return std::atomic_ref<T>(const_cast<T&>(field));
}

uint64_t clockNs(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

// What the publishing daemon keeps: the mapping, the sample being built and the log. The
// collectors publish from their own threads ("pmt_tsk", "fps_tsk", the monitor task).
struct Publisher {
    std::mutex mutex;
    SSM_METRICS_RECORD* record = nullptr;
    SSM_METRICS_SAMPLE current{};
    StartupLog log;
};

Publisher& publisher() {
    static Publisher p;
    return p;
}

SSM_METRICS_RECORD* mapRecord() {
    const std::string name = seam::ipcName(SSM_METRICS_NAME);
    const int fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        VELDD_LOG(kUnexpected, "metrics record %s: %s\n", name.c_str(), std::strerror(errno));
        return nullptr;
    }
    fchmod(fd, 0666);  // readers run as other users too; the creator's umask must not stop them
    struct stat st{};
    void* address = MAP_FAILED;
    if (fstat(fd, &st) == 0 &&
        (st.st_size >= static_cast<off_t>(sizeof(SSM_METRICS_RECORD)) ||
         ftruncate(fd, sizeof(SSM_METRICS_RECORD)) == 0))
        address = mmap(nullptr, sizeof(SSM_METRICS_RECORD), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (address == MAP_FAILED) VELDD_LOG(kUnexpected, "metrics record %s: %s\n", name.c_str(), std::strerror(errno));
    close(fd);
    return address == MAP_FAILED ? nullptr : static_cast<SSM_METRICS_RECORD*>(address);
}

void unmapRecord(Publisher& p) {
    if (p.record) munmap(p.record, sizeof(SSM_METRICS_RECORD));
    p.record = nullptr;
}

void openLog(Publisher& p) {
    bool found = false;
    const std::string cmdline = seam::kernelCmdline();
    const std::string file = seam::cmdlineValue(cmdline, kLogKey, found);
    if (!found || file.empty()) return;
    uint64_t limit = kDefaultLogLimitBytes;
    const std::string kb = seam::cmdlineValue(cmdline, kLogLimitKey, found);
    if (found) {
        char* end = nullptr;
        const unsigned long long v = std::strtoull(kb.c_str(), &end, 10);
        if (end != kb.c_str() && *end == '\0' && v > 0 && v <= 1024ull * 1024) limit = v * 1024;
        else VELDD_LOG(kUnexpected, "%s=%s is not a size in KiB (1..1048576): %llu KiB it is\n", kLogLimitKey,
                       kb.c_str(), static_cast<unsigned long long>(limit / 1024));
    }
    if (file.front() != '/') {
        VELDD_LOG(kUnexpected, "%s=%s is not an absolute path: no metrics log\n", kLogKey, file.c_str());
        return;
    }
    std::string error;
    if (!p.log.open(seam::path(file), limit, error)) {
        VELDD_LOG(kUnexpected, "metrics log %s: %s\n", file.c_str(), error.c_str());
        return;
    }
    VELDD_LOG(kProgress, "<!> metrics log %s (%llu KiB, then %s.1)\n", file.c_str(),
              static_cast<unsigned long long>(limit / 1024), file.c_str());
}

// Publishes the sample being built after `change` updated it. Returns the sample as written.
template <typename F>
SSM_METRICS_SAMPLE publish(F&& change) {
    Publisher& p = publisher();
    std::lock_guard lock(p.mutex);
    change(p.current);
    p.current.publishedNs = clockNs(CLOCK_MONOTONIC);
    if (p.record) write(*p.record, p.current);
    return p.current;
}

}  // namespace

void start() {
    Publisher& p = publisher();
    std::lock_guard lock(p.mutex);
    unmapRecord(p);
    p.log.close();
    p.current = SSM_METRICS_SAMPLE{};
    p.record = mapRecord();
    if (p.record) {
        write(*p.record, p.current);
        shared(p.record->writerPid).store(static_cast<uint32_t>(getpid()), std::memory_order_relaxed);
        shared(p.record->recordBytes).store(sizeof(SSM_METRICS_RECORD), std::memory_order_relaxed);
        shared(p.record->version).store(SSM_METRICS_VERSION, std::memory_order_relaxed);
        shared(p.record->magic).store(SSM_METRICS_MAGIC, std::memory_order_release);
    }
    openLog(p);
}

void stop() {
    Publisher& p = publisher();
    std::lock_guard lock(p.mutex);
    unmapRecord(p);
    p.log.close();
    p.current = SSM_METRICS_SAMPLE{};
}

void publishCpu(const float (&busy)[5]) {
    const SSM_METRICS_SAMPLE s = publish([&](SSM_METRICS_SAMPLE& c) {
        std::memcpy(c.cpu, busy, sizeof busy);
        c.monoNs = clockNs(CLOCK_MONOTONIC);
        c.wallNs = clockNs(CLOCK_REALTIME);
        c.sample += 1;
        c.valid |= SSM_METRICS_CPU;
    });
    // Only the monitor task closes samples, so the log needs no lock of its own; a row that
    // can't be written ends the log rather than filling a full disk with retries.
    Publisher& p = publisher();
    if (p.log.isOpen() && !p.log.append(csvRow(s))) {
        VELDD_LOG(kUnexpected, "metrics log: %s; no further rows\n", std::strerror(errno));
        std::lock_guard lock(p.mutex);
        p.log.close();
    }
}

void publishMemory(uint32_t totalKb, uint32_t freeKb, uint32_t availKb) {
    publish([&](SSM_METRICS_SAMPLE& c) {
        c.memTotalKb = totalKb;
        c.memFreeKb = freeKb;
        c.memAvailKb = availKb;
        c.valid |= SSM_METRICS_MEMORY;
    });
}

void publishBus(int32_t ddrNum, const float (&load)[3], const float (&mbps)[3]) {
    publish([&](SSM_METRICS_SAMPLE& c) {
        c.ddrNum = ddrNum;
        std::memcpy(c.ddrLoad, load, sizeof load);
        std::memcpy(c.ddrMBps, mbps, sizeof mbps);
        c.valid |= SSM_METRICS_BUS;
    });
}

void publishFps(const uint32_t (&fps)[4]) {
    publish([&](SSM_METRICS_SAMPLE& c) {
        std::memcpy(c.fps, fps, sizeof fps);
        c.valid |= SSM_METRICS_FPS;
    });
}

void publishChart(uint32_t appId, int32_t value) {
    publish([&](SSM_METRICS_SAMPLE& c) {
        c.chartApp = appId;
        c.chartValue = value;
        c.valid |= SSM_METRICS_CHART;
    });
}

void clearChart() {
    publish([&](SSM_METRICS_SAMPLE& c) {
        c.chartApp = 0;
        c.chartValue = 0;
        c.valid &= ~SSM_METRICS_CHART;
    });
}

void write(SSM_METRICS_RECORD& record, const SSM_METRICS_SAMPLE& sample) {
    uint32_t words[SSM_METRICS_WORDS];
    std::memcpy(words, &sample, sizeof words);
    auto sequence = shared(record.sequence);
    uint32_t even = sequence.load(std::memory_order_relaxed);
    even += even & 1;  // left odd by a writer that died half-way: its sample is overwritten now
    sequence.store(even + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    for (size_t i = 0; i < SSM_METRICS_WORDS; ++i) shared(record.words[i]).store(words[i], std::memory_order_relaxed);
    sequence.store(even + 2, std::memory_order_release);
}

ReadResult read(const SSM_METRICS_RECORD& record, SSM_METRICS_SAMPLE& out, int tries) {
    if (shared(record.magic).load(std::memory_order_acquire) != SSM_METRICS_MAGIC ||
        shared(record.version).load(std::memory_order_relaxed) != SSM_METRICS_VERSION ||
        shared(record.recordBytes).load(std::memory_order_relaxed) < sizeof(SSM_METRICS_RECORD))
        return ReadResult::kFormat;
    uint32_t words[SSM_METRICS_WORDS];
    for (int attempt = 0; attempt < tries; ++attempt) {
        const uint32_t before = shared(record.sequence).load(std::memory_order_acquire);
        if (before & 1) {
            sched_yield();
            continue;
        }
        for (size_t i = 0; i < SSM_METRICS_WORDS; ++i)
            words[i] = shared(record.words[i]).load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        if (shared(record.sequence).load(std::memory_order_relaxed) == before) {
            std::memcpy(&out, words, sizeof out);
            return ReadResult::kOk;
        }
    }
    return ReadResult::kBusy;
}

bool RecordView::open(std::string& error) {
    const std::string name = seam::ipcName(SSM_METRICS_NAME);
    const int fd = shm_open(name.c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0) {
        error = errno == ENOENT ? "no metrics record " + name : name + ": " + std::strerror(errno);
        return false;
    }
    struct stat st{};
    void* address = MAP_FAILED;
    if (fstat(fd, &st) != 0) error = name + ": " + std::strerror(errno);
    else if (st.st_size < static_cast<off_t>(sizeof(SSM_METRICS_RECORD))) error = name + " is too small to be a metrics record";
    else address = mmap(nullptr, sizeof(SSM_METRICS_RECORD), PROT_READ, MAP_SHARED, fd, 0);
    if (address == MAP_FAILED && error.empty()) error = name + ": " + std::strerror(errno);
    close(fd);
    if (address == MAP_FAILED) return false;
    record_ = static_cast<const SSM_METRICS_RECORD*>(address);
    return true;
}

RecordView::~RecordView() {
    if (record_) munmap(const_cast<SSM_METRICS_RECORD*>(record_), sizeof(SSM_METRICS_RECORD));
}

bool RecordView::writerAlive() const {
    if (!record_) return false;
    const auto pid = static_cast<pid_t>(shared(record_->writerPid).load(std::memory_order_relaxed));
    return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM);
}

}  // namespace veld::ssm::metrics
