// Helpers shared by the benchmarks that print interleaved medians and ratios beside their
// Google Benchmark rows: the peers run in alternating rounds so that both see the same
// machine load, and work done in the calling thread is timed in that thread's CPU time,
// which other processes on a loaded machine do not inflate.
#pragma once

#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace veld::bench {

inline double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

inline double threadNanos() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

// Thread CPU nanoseconds per call of body(i), i = 0 .. count - 1.
template <typename F>
double nanosEach(F body, int count) {
    const double start = threadNanos();
    for (int i = 0; i < count; ++i) {
        body(i);
        benchmark::ClobberMemory();
    }
    return (threadNanos() - start) / count;
}

// Prints the CPU's model and flags, which belong beside every figure.
inline void printCpu() {
    std::ifstream in("/proc/cpuinfo");
    std::string line, model, flags;
    while (std::getline(in, line) && (model.empty() || flags.empty())) {
        if (model.empty() && line.rfind("model name", 0) == 0) model = line.substr(line.find(':') + 2);
        if (flags.empty() && line.rfind("flags", 0) == 0) flags = line.substr(line.find(':') + 2);
    }
    std::printf("CPU: %s\nCPU flags: %s\n", model.c_str(), flags.c_str());
}

}  // namespace veld::bench
