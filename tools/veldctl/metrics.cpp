// veldctl metrics: reads the monitor's metrics record of the current namespace (it never talks
// to the daemon's endpoint), prints one line per sample, appends every sample to a CSV file
// when asked, and prints min/avg/max/p99 per column when it ends (Ctrl-C, --duration, or the
// collectors going away). With --plot it draws a recorded CSV instead.
#include "metrics.h"

#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

#include "metrics_plot.h"
#include "seam.h"
#include "veldd_msg.h"

namespace veld::tools {
namespace {

namespace m = veld::ssm::metrics;

constexpr int kPollMs = 100;
// The collectors close a sample every second; this long without one means they stopped.
constexpr double kSilenceSeconds = 5.0;
constexpr double kStartGraceSeconds = 3.0;

constexpr const char* kHelp =
    "       veldctl metrics --plot FILE.png --csv FILE.csv\n"
    "\n"
    "Follows the figures of the monitor's collectors (CPU, memory, bus bandwidth, frame\n"
    "rates, the running chart app) from their shared record in namespace $VELD_NS: one line\n"
    "per sample (one a second). The monitor must be running (veldctl monitor).\n"
    "\n"
    "  --csv FILE          also record every sample to FILE as CSV, with its monotonic time\n"
    "                      (s since boot) and its wall-clock time (ISO 8601, UTC)\n"
    "  --duration SECONDS  stop after this long (default: until Ctrl-C)\n"
    "  --plot FILE.png     draw the CSV given with --csv (recorded by veldctl or by the\n"
    "                      daemon's ssm.metrics_log) as a PNG, one panel per quantity\n"
    "\n"
    "On exit it prints the minimum, average, maximum and 99th percentile of every column.\n";

std::atomic<bool> gStop{false};

void onSignal(int) { gStop.store(true); }

struct Options {
    std::string csv;
    std::string plot;
    double duration = 0;  // 0: until stopped
};

// The options, checked by the dispatcher for their presence and values; the rules between
// them are checked here. 0 when they hold, else the exit status.
int parse(const Invocation& call, Options& options) {
    if (const auto v = call.value("--csv")) options.csv = std::string(*v);
    if (const auto v = call.value("--plot")) options.plot = std::string(*v);
    if (const auto v = call.value("--duration")) {
        const auto [end, ec] = std::from_chars(v->data(), v->data() + v->size(), options.duration);
        if (ec != std::errc() || end != v->data() + v->size() || !(options.duration > 0))
            return call.usageError("--duration needs a number of seconds above 0");
    }
    if (!options.plot.empty() && options.csv.empty())
        return call.usageError("--plot draws the CSV file given with --csv");
    if (!options.plot.empty() && options.duration > 0)
        return call.usageError("--plot draws a recorded file; record first");
    return 0;
}

int failure(const std::string& message) {
    std::fprintf(stderr, "veldctl metrics: %s\n", message.c_str());
    return kFailureStatus;
}

double monotonicSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void sleepMs(int ms) {
    timespec ts{ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&ts, nullptr);  // a signal ends it early, which is what Ctrl-C wants
}

std::string where() {
    const std::string_view ns = seam::ns();
    return ns.empty() ? "" : " in namespace " + std::string(ns);
}

std::string notRunning(const std::string& why) {
    return "the monitor's collectors are not running" + where() + " (" + why +
           "); start them with 'veldctl monitor' (or boot with ssm.auto_start=1)";
}

void installHandlers() {
    struct sigaction action{};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: the wait returns at once
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// Maps the record. A daemon that runs (its pid file is there) may be starting its monitor just
// now, as after `veldctl monitor`: that is worth a short wait, nothing else is.
bool openRecord(m::RecordView& view, std::string& error) {
    const bool daemonRuns = access(seam::path(msg::kPidFilePath).c_str(), F_OK) == 0;
    const double until = monotonicSeconds() + (daemonRuns ? kStartGraceSeconds : 0);
    while (!view.open(error)) {
        if (monotonicSeconds() >= until) return false;
        sleepMs(kPollMs);
    }
    return true;
}

int follow(const Options& options) {
    m::RecordView view;
    std::string error;
    if (!openRecord(view, error)) return failure(notRunning(error));
    SSM_METRICS_SAMPLE sample{};
    switch (m::read(*view.record(), sample)) {
        case m::ReadResult::kFormat:
            return failure("the metrics record" + where() + " has a layout this veldctl does not know");
        case m::ReadResult::kBusy:
            return failure("the metrics record" + where() + " stays locked (its writer may have stopped half-way)");
        case m::ReadResult::kOk:
            break;
    }
    if (!view.writerAlive()) return failure(notRunning("the daemon that published them is gone"));

    FILE* csv = nullptr;
    if (!options.csv.empty()) {
        csv = std::fopen(options.csv.c_str(), "w");
        if (!csv) return failure("cannot write " + options.csv + ": " + std::strerror(errno));
        std::fputs(m::csvHeader().c_str(), csv);
        std::fflush(csv);
    }
    installHandlers();
    MetricsSummary summary;
    const double start = monotonicSeconds();
    double lastNew = start;
    uint32_t seen = sample.sample;
    uint32_t chart = 0;
    std::string ended;
    std::fputs(liveHeader().c_str(), stdout);
    std::fflush(stdout);
    while (!gStop.load()) {
        const double now = monotonicSeconds();
        if (options.duration > 0 && now - start >= options.duration) break;
        if (now - lastNew >= kSilenceSeconds) {
            ended = view.writerAlive() ? "no new sample for 5 s: the collectors have stopped"
                                       : "the daemon that published the samples is gone";
            break;
        }
        sleepMs(kPollMs);
        if (m::read(*view.record(), sample) != m::ReadResult::kOk || sample.sample == seen) continue;
        // A daemon started again counts from 1: any other number is a new sample.
        seen = sample.sample;
        lastNew = monotonicSeconds();
        const uint32_t running = (sample.valid & SSM_METRICS_CHART) ? sample.chartApp : 0;
        if (running != chart) {
            std::printf("# chart: %s\n", running ? m::chartName(running) : "none");
            chart = running;
        }
        const double t = static_cast<double>(sample.monoNs) / 1e9 - start;
        std::fputs(liveLine(std::max(t, 0.0), sample).c_str(), stdout);
        std::fflush(stdout);
        if (csv) {
            std::fputs(m::csvRow(sample).c_str(), csv);
            std::fflush(csv);  // a line at a time, so an interrupted run keeps what it saw
        }
        summary.add(sample);
    }
    if (csv && std::fclose(csv) != 0) std::fprintf(stderr, "veldctl metrics: %s: %s\n", options.csv.c_str(), std::strerror(errno));
    if (!ended.empty()) std::fprintf(stderr, "veldctl metrics: %s\n", ended.c_str());
    summary.print(stdout);
    return ended.empty() ? 0 : 1;
}

void appendCell(std::string& line, int width, const char* text) {
    char cell[32];
    std::snprintf(cell, sizeof cell, "%*s", width, text);
    line += cell;
}

}  // namespace

namespace {

int runMetrics(const Invocation& call) {
    Options options;
    if (const int status = parse(call, options); status != 0) return status;
    if (!options.plot.empty()) {
        std::string error;
        if (!plotCsvFile(options.csv, options.plot, error)) return failure(error);
        std::printf("%s: drawn from %s\n", options.plot.c_str(), options.csv.c_str());
        return 0;
    }
    return follow(options);
}

constexpr OptionSpec kMetricsOptions[] = {
    {"--csv", "FILE", false}, {"--duration", "SECONDS", false}, {"--plot", "FILE.png", false}};

}  // namespace

const CommandSpec kMetricsCommand{
    "metrics", "", 0, 0, kMetricsOptions, "follow, record, sum up or plot the monitor's figures",
    kHelp, runMetrics};

ColumnSummary summarize(std::vector<double> values) {
    ColumnSummary s;
    s.count = values.size();
    if (values.empty()) return s;
    std::sort(values.begin(), values.end());
    double sum = 0;
    for (double v : values) sum += v;
    s.min = values.front();
    s.max = values.back();
    s.avg = sum / static_cast<double>(values.size());
    // Nearest rank: the smallest value that at least 99 % of the samples do not exceed.
    const auto rank = static_cast<size_t>(std::ceil(0.99 * static_cast<double>(values.size())));
    s.p99 = values[std::clamp<size_t>(rank, 1, values.size()) - 1];
    return s;
}

MetricsSummary::MetricsSummary() : values_(m::columns().size()) {}

void MetricsSummary::add(const SSM_METRICS_SAMPLE& sample) {
    if (samples_ == 0) firstNs_ = sample.monoNs;
    if ((sample.valid & SSM_METRICS_CHART) && sample.chartApp) chart_ = m::chartName(sample.chartApp);
    lastNs_ = sample.monoNs;
    ++samples_;
    for (size_t i = 0; i < values_.size(); ++i) {
        double v = 0;
        if (m::columnValue(sample, i, v)) values_[i].push_back(v);
    }
}

void MetricsSummary::print(FILE* out) const {
    std::fprintf(out, "\nsummary of %zu samples over %.1f s\n", samples_,
                 samples_ ? static_cast<double>(lastNs_ - firstNs_) / 1e9 : 0.0);
    std::fprintf(out, "%-14s %-11s %10s %10s %10s %10s\n", "column", "unit", "min", "avg", "max", "p99");
    const auto cols = m::columns();
    for (size_t i = 0; i < cols.size(); ++i) {
        const ColumnSummary s = summarize(values_[i]);
        // The chart column's unit is the chart's: its name says it ("temp_C").
        const char* unit = *cols[i].unit ? cols[i].unit : chart_.c_str();
        if (s.count == 0) {
            std::fprintf(out, "%-14s %-11s %10s %10s %10s %10s\n", cols[i].csvName, unit, "-", "-", "-", "-");
            continue;
        }
        const int p = cols[i].precision + 1;
        std::fprintf(out, "%-14s %-11s %10.*f %10.*f %10.*f %10.*f\n", cols[i].csvName, unit, p, s.min, p,
                     s.avg, p, s.max, p, s.p99);
    }
}

std::string liveHeader() {
    std::string labels, units;
    appendCell(labels, 8, "time");
    appendCell(units, 8, "s");
    for (const m::Column& c : m::columns()) {
        if (c.width == 0) continue;
        appendCell(labels, c.width, c.label);
        appendCell(units, c.width, c.unit);
    }
    units.erase(units.find_last_not_of(' ') + 1);
    return labels + "\n" + units + "\n";
}

std::string liveLine(double seconds, const SSM_METRICS_SAMPLE& sample) {
    std::string line;
    char cell[32];
    // Tenths while they fit (27 hours); whole seconds after that.
    std::snprintf(cell, sizeof cell, seconds < 99999.95 ? "%8.1f" : "%8.0f", seconds);
    line += cell;
    const auto cols = m::columns();
    for (size_t i = 0; i < cols.size(); ++i) {
        if (cols[i].width == 0) continue;
        double v = 0;
        if (!m::columnValue(sample, i, v)) {
            appendCell(line, cols[i].width, "-");
            continue;
        }
        std::snprintf(cell, sizeof cell, "%*.*f", cols[i].width, cols[i].precision, v);
        // A figure wider than its cell would shift the line: show that it overflowed instead.
        if (static_cast<int>(std::strlen(cell)) > cols[i].width) appendCell(line, cols[i].width, "*");
        else line += cell;
    }
    return line + "\n";
}

}  // namespace veld::tools
