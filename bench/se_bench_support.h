// What the secure engine's benchmarks share: a private root and namespace with the
// trusted-world simulator serving them, its removal, and the CPU flags printed beside the
// figures.
#pragma once

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "bench_support.h"
#include "se_engine.h"
#include "seam.h"

namespace veld::bench {

struct TrustedWorldRoot {
    std::string root;
    pid_t world = -1;

    // A root made from `pattern` (mkdtemp), the namespace `ns` + pid, VELD_SIM=1, the engine's
    // log in the root, and veld_tw serving it; false when the simulator did not come up.
    bool start(const char* pattern, const char* ns) {
        std::string path = pattern;
        if (!mkdtemp(path.data())) return false;
        root = path;
        std::filesystem::create_directories(root + "/tmp");
        setenv("VELD_ROOT", root.c_str(), 1);
        setenv("VELD_NS", (ns + std::to_string(getpid())).c_str(), 1);
        setenv("VELD_SIM", "1", 1);
        setenv("VELD_LOG", (root + "/se.log").c_str(), 1);
        world = fork();
        if (world == 0) {
            const std::string program = std::string(VELD_BIN_DIR) + "/sim/veld_tw";
            execl(program.c_str(), program.c_str(), "--root", root.c_str(), nullptr);
            _exit(127);
        }
        struct stat st {};
        for (int i = 0; i < 500; ++i) {
            if (stat(veld::seam::simSocket("tw").c_str(), &st) == 0) return true;
            usleep(10000);
        }
        return false;
    }

    // Detaches, stops the simulator and removes the namespace's shared memory and the root.
    void stop() {
        VELD_SE_Shutdown();
        if (world > 0) {
            kill(world, SIGTERM);
            waitpid(world, nullptr, 0);
        }
        const char* ns = std::getenv("VELD_NS");
        for (const auto& entry : std::filesystem::directory_iterator("/dev/shm"))
            if (ns && entry.path().filename().string().find(ns) != std::string::npos)
                std::filesystem::remove(entry.path());
        if (!root.empty()) std::filesystem::remove_all(root);
    }
};

inline double nowNs() {
    return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Medians (ns per call) of `ours` and `peer`, run in alternating batches so that both see the
// same machine load; `clock` is the wall clock, or the calling thread's CPU time for work that
// never waits for another process (an uncontended lock), which other processes on a loaded
// machine then cannot inflate.
template <typename A, typename B>
std::pair<double, double> interleavedNs(A ours, B peer, int samples, int batch, double (*clock)() = nowNs) {
    std::vector<double> o, p;
    for (int i = 0; i < samples; ++i) {
        double t = clock();
        for (int j = 0; j < batch; ++j) ours();
        o.push_back((clock() - t) / batch);
        t = clock();
        for (int j = 0; j < batch; ++j) peer();
        p.push_back((clock() - t) / batch);
    }
    return {median(o), median(p)};
}

// Prints the interleaved medians of `ours` and `peer` and their ratio, with the target when
// there is one; returns the ratio. `cpuTime` measures the calling thread's CPU time instead of
// the wall clock.
template <typename A, typename B>
double interleaved(const char* what, A ours, B peer, int samples, int batch, double target,
                   bool cpuTime = false) {
    const auto [mo, mp] = interleavedNs(ours, peer, samples, batch, cpuTime ? threadNanos : nowNs);
    std::printf("%-44s %12.1f ns %12.1f ns %8.2f", what, mo, mp, mo / mp);
    if (target > 0) std::printf("   (target within %.1fx)", target);
    std::printf("\n");
    return mo / mp;
}

// The CPU's crypto and vector flags, for the line beside the figures.
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
