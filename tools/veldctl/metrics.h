// veldctl metrics: follows the monitor's metrics record live (one line per sample), records it
// as CSV, sums it up on exit (min, average, max, 99th percentile per column), and draws a
// recorded CSV as a PNG chart (metrics_plot.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cli.h"
#include "ssm_metrics.h"

namespace veld::tools {

extern const CommandSpec kMetricsCommand;

// Figures of one column over a run; count 0 when the column never had a value.
struct ColumnSummary {
    size_t count = 0;
    double min = 0, avg = 0, max = 0, p99 = 0;
};

// min, average, max and the 99th percentile (nearest rank) of the values.
ColumnSummary summarize(std::vector<double> values);

// The values of every column over a run, and the table printed at its end.
class MetricsSummary {
public:
    MetricsSummary();
    void add(const SSM_METRICS_SAMPLE& sample);
    size_t samples() const { return samples_; }
    // "summary of N samples over S s" and one row per column.
    void print(FILE* out) const;

private:
    std::vector<std::vector<double>> values_;
    size_t samples_ = 0;
    uint64_t firstNs_ = 0, lastNs_ = 0;
    std::string chart_;  // the last chart app seen
};

// The live line's two header lines and one line (time in seconds since the start), each ending
// in '\n' and at most 100 characters wide before it.
std::string liveHeader();
std::string liveLine(double seconds, const SSM_METRICS_SAMPLE& sample);

}  // namespace veld::tools
