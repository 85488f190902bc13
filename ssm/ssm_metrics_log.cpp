// The columns of a metrics sample and their CSV form, shared by the daemon's start-up log and
// veldctl, and the start-up log itself: a CSV file bounded in size that rotates once and is
// only ever appended whole lines.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "ssm_metrics.h"
#include "write_all.h"

namespace veld::ssm::metrics {
namespace {

// Terminal widths count the leading blank; the line with the time column (8) must fit 100.
constexpr Column kColumns[] = {
    {"cpu_pct", "cpu", "%", 6, 1, Quantity::kCpu},
    {"cpu0_pct", "cpu0", "%", 5, 0, Quantity::kCpu},
    {"cpu1_pct", "cpu1", "%", 5, 0, Quantity::kCpu},
    {"cpu2_pct", "cpu2", "%", 5, 0, Quantity::kCpu},
    {"cpu3_pct", "cpu3", "%", 5, 0, Quantity::kCpu},
    {"mem_used_MB", "used", "MB", 7, 0, Quantity::kMemory},
    {"mem_avail_MB", "avail", "MB", 0, 0, Quantity::kMemory},
    {"ddr0_pct", "ddr0", "%", 6, 1, Quantity::kBusLoad},
    {"ddr1_pct", "ddr1", "%", 6, 1, Quantity::kBusLoad},
    {"ddr2_pct", "ddr2", "%", 6, 1, Quantity::kBusLoad},
    {"bw_MBps", "bw", "MB/s", 7, 0, Quantity::kBandwidth},
    {"fb0_fps", "fb0", "fps", 6, 1, Quantity::kFrameRate},
    {"fb1_fps", "fb1", "fps", 6, 1, Quantity::kFrameRate},
    {"fb2_fps", "fb2", "fps", 6, 1, Quantity::kFrameRate},
    {"fb3_fps", "fb3", "fps", 6, 1, Quantity::kFrameRate},
    {"chart_value", "chart", "", 8, 0, Quantity::kChart},
};
enum : size_t { kCpu, kMemUsed = 5, kMemAvail, kDdr0, kBandwidth = 10, kFb0, kChartValue = 15 };
static_assert(std::size(kColumns) == kChartValue + 1);

constexpr int terminalWidth() {
    int sum = 8;  // the time column
    for (const Column& c : kColumns) sum += c.width;
    return sum;
}
static_assert(terminalWidth() <= 100, "a live line must fit 100 columns");

struct ChartName {
    uint32_t appId;
    const char* name;
};
constexpr ChartName kChartNames[] = {{521, "pcr_us"}, {522, "temp_C"}, {523, "cpuload_pct"}, {524, "gpio_level"}};

double megabytes(uint32_t kb) { return kb / 1024.0; }

// Appends with a bound: snprintf into what is left of the buffer.
template <size_t N>
void add(std::array<char, N>& buffer, size_t& used, const char* format, auto... args) {
    if (used >= N) return;
    int n = 0;
    if constexpr (sizeof...(args) == 0)
        n = std::snprintf(buffer.data() + used, N - used, "%s", format);
    else
        n = std::snprintf(buffer.data() + used, N - used, format, args...);
    if (n > 0) used = std::min(N, used + static_cast<size_t>(n));
}

// Cuts a torn last line (a crash in the middle of an append) off the file, if there is one.
void cutTornLine(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st{};
    if (fstat(fd, &st) == 0 && st.st_size > 0) {
        off_t end = st.st_size;
        char block[4096];
        off_t keep = 0;
        while (end > 0) {
            const off_t from = end > static_cast<off_t>(sizeof block) ? end - static_cast<off_t>(sizeof block) : 0;
            const ssize_t n = pread(fd, block, static_cast<size_t>(end - from), from);
            if (n <= 0) break;
            const void* newline = memrchr(block, '\n', static_cast<size_t>(n));
            if (newline) {
                keep = from + (static_cast<const char*>(newline) - block) + 1;
                break;
            }
            end = from;
        }
        if (keep != st.st_size && ftruncate(fd, keep) != 0) {
            // The torn line stays; the readers skip a line that does not parse.
        }
    }
    ::close(fd);
}

}  // namespace

std::span<const Column> columns() { return kColumns; }

const char* chartName(uint32_t appId) {
    for (const ChartName& c : kChartNames)
        if (c.appId == appId) return c.name;
    return "";
}

bool columnValue(const SSM_METRICS_SAMPLE& s, size_t column, double& value) {
    const auto has = [&](uint32_t bit) { return (s.valid & bit) != 0; };
    if (column <= kCpu + 4) {
        value = s.cpu[column - kCpu];
        return has(SSM_METRICS_CPU) && std::isfinite(value);
    }
    if (column == kMemUsed || column == kMemAvail) {
        value = column == kMemUsed ? megabytes(s.memTotalKb >= s.memAvailKb ? s.memTotalKb - s.memAvailKb : 0)
                                   : megabytes(s.memAvailKb);
        return has(SSM_METRICS_MEMORY);
    }
    if (column >= kDdr0 && column < kDdr0 + 3) {
        const size_t i = column - kDdr0;
        value = s.ddrLoad[i];
        return has(SSM_METRICS_BUS) && static_cast<int32_t>(i) < s.ddrNum && std::isfinite(value);
    }
    if (column == kBandwidth) {
        value = 0;
        for (int i = 0; i < 3 && i < s.ddrNum; ++i) value += s.ddrMBps[i];
        return has(SSM_METRICS_BUS) && std::isfinite(value);
    }
    if (column >= kFb0 && column < kFb0 + 4) {
        value = s.fps[column - kFb0] / 10.0;
        return has(SSM_METRICS_FPS);
    }
    if (column == kChartValue) {
        value = s.chartValue;
        return has(SSM_METRICS_CHART) && s.chartApp != 0;
    }
    return false;
}

std::string csvHeader() {
    std::string line = "mono_s,wall_utc,sample";
    for (const Column& c : kColumns) line.append(",").append(c.csvName);
    return line + ",chart\n";
}

std::string csvRow(const SSM_METRICS_SAMPLE& s) {
    std::array<char, 512> row;
    size_t used = 0;
    const time_t seconds = static_cast<time_t>(s.wallNs / 1000000000ull);
    tm utc{};
    gmtime_r(&seconds, &utc);
    add(row, used, "%llu.%06llu,%04d-%02d-%02dT%02d:%02d:%02d.%03lluZ,%u",
        static_cast<unsigned long long>(s.monoNs / 1000000000ull),
        static_cast<unsigned long long>(s.monoNs % 1000000000ull / 1000), utc.tm_year + 1900, utc.tm_mon + 1,
        utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
        static_cast<unsigned long long>(s.wallNs % 1000000000ull / 1000000), s.sample);
    for (size_t i = 0; i < std::size(kColumns); ++i) {
        double v = 0;
        // One more decimal than the terminal shows; an empty cell where nothing was published.
        if (columnValue(s, i, v)) add(row, used, ",%.*f", kColumns[i].precision + (i == kChartValue ? 0 : 1), v);
        else add(row, used, ",");
    }
    add(row, used, ",%s\n", (s.valid & SSM_METRICS_CHART) ? chartName(s.chartApp) : "");
    return std::string(row.data(), used);
}

bool StartupLog::open(const std::string& path, uint64_t limitBytes, std::string& error) {
    close();
    path_ = path;
    // Room for the header and a few rows at the least, so that rotation always makes progress.
    limit_ = std::max<uint64_t>(limitBytes, 1024);
    cutTornLine(path_);
    struct stat st{};
    // The previous run's file (the one that may have ended in a crash) is kept whole as FILE.1.
    if (::stat(path_.c_str(), &st) == 0 && st.st_size > 0 && std::rename(path_.c_str(), (path_ + ".1").c_str()) != 0) {
        error = std::string("can't keep the previous log: ") + std::strerror(errno);
        return false;
    }
    return startFile(error);
}

void StartupLog::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool StartupLog::startFile(std::string& error) {
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        error = std::strerror(errno);
        return false;
    }
    const std::string header = csvHeader();
    if (!veld::writeAll(fd_, header.data(), header.size())) {
        error = std::strerror(errno);
        close();
        return false;
    }
    size_ = header.size();
    return true;
}

bool StartupLog::append(const std::string& row) {
    if (fd_ < 0) return false;
    if (size_ + row.size() > limit_) {
        close();
        std::string error;
        if (std::rename(path_.c_str(), (path_ + ".1").c_str()) != 0 || !startFile(error)) return false;
    }
    // One write of the whole line: a crash leaves the file ending at a line's end, or at worst
    // in the middle of this very line.
    if (!veld::writeAll(fd_, row.data(), row.size())) return false;
    size_ += row.size();
    return true;
}

}  // namespace veld::ssm::metrics
