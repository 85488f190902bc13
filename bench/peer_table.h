// The ratio table of the crypto benchmarks: a reporter that keeps Google Benchmark's console
// output and remembers one counter per benchmark function, and the table that sets our figure
// beside OpenSSL's and mbedTLS's for each row (functions named <row>_Ours, <row>_OpenSsl,
// <row>_MbedTls).
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

namespace veld::bench {

class PeerReporter : public benchmark::ConsoleReporter {
public:
    // `counter` is the counter to remember. With --benchmark_repetitions the median stands for
    // the benchmark; otherwise the largest value of its runs.
    explicit PeerReporter(std::string counter) : counter_(std::move(counter)) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
            if ((r.run_type != Run::RT_Iteration && !median) || r.error_occurred) continue;
            auto it = r.counters.find(counter_);
            if (it == r.counters.end()) continue;
            double& value = values_[r.run_name.function_name];
            value = median ? it->second.value : std::max(value, it->second.value);
        }
    }

    double value(const std::string& function) const {
        auto it = values_.find(function);
        return it == values_.end() ? 0.0 : it->second;
    }

    // Prints the table under `title`, naming the OpenSSL path chosen by OPENSSL_ia32cap.
    void printTable(const char* title, std::initializer_list<const char*> rows) const {
        const char* cap = std::getenv("OPENSSL_ia32cap");
        std::printf("\n%s; OpenSSL path: %s\n", title, cap ? cap : "default (all CPU features)");
        std::printf("%-12s %10s %10s %10s %14s %14s\n", "", "ours", "OpenSSL", "mbedTLS",
                    "ours/OpenSSL", "ours/mbedTLS");
        for (const char* row : rows) {
            const std::string name(row);
            const double ours = value(name + "_Ours"), ossl = value(name + "_OpenSsl"),
                         mbed = value(name + "_MbedTls");
            if (ours == 0.0) continue;
            // A peer that did not run (not built in, or filtered out) shows as "-".
            char mbedText[16] = "-", vsMbed[16] = "-";
            if (mbed > 0) {
                std::snprintf(mbedText, sizeof mbedText, "%.0f", mbed);
                std::snprintf(vsMbed, sizeof vsMbed, "%.2f", ours / mbed);
            }
            std::printf("%-12s %10.0f %10.0f %10s %14.2f %14s\n", row, ours, ossl, mbedText,
                        ossl > 0 ? ours / ossl : 0.0, vsMbed);
        }
    }

private:
    std::string counter_;
    std::map<std::string, double> values_;
};

}  // namespace veld::bench
