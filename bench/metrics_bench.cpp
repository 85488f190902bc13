// The metrics record's cost to the monitor, in-process over the simulated board's files in a
// private root: the four publications of one sample (CPU, memory, bus, frame rates) into the
// shared record under its sequence lock, against the collectors' own passes that produce the
// same sample (reading /proc/stat, meminfo and vmstat, the bus monitor's pmtinfo and four
// frame-buffer status files) in the same run. Both are timed in thread CPU time, in
// interleaved rounds; the ratio publish / collect is printed at the end (target < 5 %), with
// the CPU's flags. The monitor's idle cost with `veldctl metrics` attached is measured by
// monitor_bench.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "ssm_metrics.h"
#include "ssm_sys.h"

namespace {

namespace fs = std::filesystem;
namespace m = veld::ssm::metrics;
std::string gRoot;

bool makeRoot() {
    char pattern[] = "/tmp/vmx.XXXXXX";
    gRoot = mkdtemp(pattern);
    setenv("VELD_ROOT", gRoot.c_str(), 1);
    setenv("VELD_NS", ("vmx" + std::to_string(getpid())).c_str(), 1);
    setenv("VELD_CMDLINE", "", 1);
    const pid_t board = fork();
    if (board == 0) {
        const std::string program = std::string(VELD_BIN_DIR) + "/sim/veld_board";
        execl(program.c_str(), program.c_str(), "--root", gRoot.c_str(), "--once", nullptr);
        _exit(127);
    }
    int status = 0;
    waitpid(board, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void cleanup() {
    m::stop();
    const std::string name = "/dev/shm/" + std::string(std::getenv("VELD_NS")) + ".ssm-metrics";
    std::error_code ec;
    fs::remove(name, ec);
    fs::remove_all(gRoot, ec);
}

SSM_CPU_DATA gCpu{};
int32_t gMemory[SSM_MEM_WORDS];

// The collectors' passes behind one sample (each of them publishes its part as it ends).
void collect() {
    SSM_SYS_GetCPUData(&gCpu);
    SSM_SYS_GetMemoryData(gMemory);
    veld::ssm::samplePmtOnce();
    veld::ssm::sampleFpsOnce();
}

// The publications alone, with figures like the collectors'.
void publish(int i) {
    const float busy[5] = {12.5f + static_cast<float>(i % 7), 10, 20, 30, 40};
    m::publishCpu(busy);
    m::publishMemory(2048000, 512000, 1024000);
    const float load[3] = {10, 20, 30}, mbps[3] = {1000, 2000, 3000};
    m::publishBus(3, load, mbps);
    const uint32_t fps[4] = {600, 300, 0, 0};
    m::publishFps(fps);
}

void BM_PublishOneSample(benchmark::State& state) {
    int i = 0;
    for (auto _ : state) publish(i++);
}
BENCHMARK(BM_PublishOneSample);

void BM_CollectOneSample(benchmark::State& state) {
    for (auto _ : state) collect();
}
BENCHMARK(BM_CollectOneSample)->Unit(benchmark::kMicrosecond);

void printCpuFlags() {
    std::ifstream in("/proc/cpuinfo");
    std::string line, model, flags;
    while (std::getline(in, line) && (model.empty() || flags.empty())) {
        if (model.empty() && line.rfind("model name", 0) == 0) model = line.substr(line.find(':') + 2);
        if (flags.empty() && (line.rfind("flags", 0) == 0 || line.rfind("Features", 0) == 0))
            flags = line.substr(line.find(':') + 2);
    }
    std::printf("cpu: %s\ncpu flags: %s\n", model.c_str(), flags.c_str());
}

void compare() {
    std::vector<double> ours, peer;
    for (int round = 0; round < 15; ++round) {
        ours.push_back(veld::bench::nanosEach(publish, 2000));
        peer.push_back(veld::bench::nanosEach([](int) { collect(); }, 100));
    }
    const double publishNs = veld::bench::median(ours), collectNs = veld::bench::median(peer);
    // The collectors' passes include their publications; their own sampling is the rest.
    const double samplingNs = collectNs - publishNs;
    std::printf("\npublishing one sample (4 publications under the sequence lock): %.2f us\n"
                "the collectors' own passes for the same sample:                %.1f us\n"
                "ratio publish / sampling: %.2f %% (target < 5 %%)\n",
                publishNs / 1000, samplingNs / 1000, publishNs / samplingNs * 100);
    printCpuFlags();
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!makeRoot()) {
        std::fprintf(stderr, "metrics_bench: the simulated board did not write its files\n");
        return 1;
    }
    m::start();
    collect();  // the first passes only set up the previous samples
    benchmark::RunSpecifiedBenchmarks();
    compare();
    cleanup();
    return 0;
}
