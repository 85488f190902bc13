// Helpers shared by the benchmarks that print interleaved medians and ratios beside their
// Google Benchmark rows: the peers run in alternating rounds so that both see the same
// machine load, and work done in the calling thread is timed in that thread's CPU time,
// which other processes on a loaded machine do not inflate.
#pragma once

#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <chrono>
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

// Monotonic wall-clock nanoseconds.
inline double nowNs() {
    return std::chrono::duration<double, std::nano>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Prints the medians of `samples` interleaved batches of `ours` and `peer` (wall time per
// call) and their ratio, with the target when there is one.
template <typename A, typename B>
inline double interleaved(const char* what, A ours, B peer, int samples, int batch, double target) {
    std::vector<double> o, p;
    for (int i = 0; i < samples; ++i) {
        double t = nowNs();
        for (int j = 0; j < batch; ++j) ours();
        o.push_back((nowNs() - t) / batch);
        t = nowNs();
        for (int j = 0; j < batch; ++j) peer();
        p.push_back((nowNs() - t) / batch);
    }
    const double mo = median(o), mp = median(p);
    std::printf("%-44s %12.0f ns %12.0f ns %8.2f", what, mo, mp, mo / mp);
    if (target > 0) std::printf("   (target within %.1fx)", target);
    std::printf("\n");
    return mo / mp;
}

// The CPU features the engines and peers choose from, as /proc/cpuinfo names them.
inline std::string cpuFlags() {
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("flags", 0) == 0 || line.rfind("Features", 0) == 0) {
            std::string out;
            for (const char* f : {" aes", " pclmulqdq", " sse4_2", " avx2", " avx512f", " sha_ni",
                                  " neon", " sha2"})
                if ((line + " ").find(std::string(f) + " ") != std::string::npos) out += f;
            return out.empty() ? " (none of aes, sse4_2, avx2, sha_ni, neon)" : out;
        }
    return " (unknown)";
}

}  // namespace veld::bench
