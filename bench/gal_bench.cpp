// The 2D GPU driver's kernel path against the simulated GPU kernel (veld_gpu, started here in a
// private root and namespace):
//  - one kernel request round trip through gcoOS_DeviceControl against a raw ioctl that does
//    nothing (FIONREAD on a pipe): what the device seam and the simulator add to a request;
//  - allocate + lock + unlock + free of 4 KiB of video memory (gcoOS_AllocateVideoMemory,
//    gcoOS_FreeVideoMemory: five requests) against malloc + free and mmap + munmap of the same
//    size.
// After the Google Benchmark rows it prints interleaved medians of wall time (the simulator
// works in another process) and their ratios, with the CPU's model and flags.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "gal_hal.h"
#include "gal_request.h"
#include "seam.h"

namespace {

constexpr size_t kNodeBytes = 4096;

std::string gRoot;
pid_t gSimulator = -1;
int gPipe[2] = {-1, -1};

bool startSimulator() {
    char pattern[] = "/tmp/vg.XXXXXX";
    gRoot = mkdtemp(pattern);
    setenv("VELD_ROOT", gRoot.c_str(), 1);
    setenv("VELD_NS", ("vgbench" + std::to_string(getpid())).c_str(), 1);
    setenv("VELD_SIM", "1", 1);
    std::filesystem::create_directories(veld::seam::simDir());
    gSimulator = fork();
    if (gSimulator == 0) {
        const std::string program = std::string(VELD_BIN_DIR) + "/sim/veld_gpu";
        execl(program.c_str(), program.c_str(), "--root", gRoot.c_str(), nullptr);
        _exit(127);
    }
    struct stat st {};
    for (int i = 0; i < 500 && ::stat(veld::seam::simSocket("gpu").c_str(), &st) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    gcsTHREAD_DATA* record = nullptr;
    return gcoOS_GetTLS(&record) == gcvSTATUS_OK && pipe(gPipe) == 0;
}

void stopSimulator() {
    if (gSimulator > 0) {
        kill(gSimulator, SIGTERM);
        waitpid(gSimulator, nullptr, 0);
    }
    std::filesystem::remove_all(gRoot);
}

gceSTATUS driverRequest() {
    gcsIO_REQUEST r = gal::request(CMD_QUERY_POWER_MANAGEMENT_STATE);
    return gcoOS_DeviceControl(nullptr, GAL_IOCTL_REQUEST, &r, sizeof r, &r, sizeof r);
}

int rawIoctl() {
    int pending = 0;
    return ioctl(gPipe[0], FIONREAD, &pending);
}

bool driverNode() {
    size_t bytes = kNodeBytes;
    uint32_t gpu = 0, node = 0;
    void* logical = nullptr;
    if (gcoOS_AllocateVideoMemory(nullptr, 0, &bytes, &gpu, &logical, &node) != gcvSTATUS_OK)
        return false;
    static_cast<volatile uint8_t*>(logical)[0] = 1;
    return gcoOS_FreeVideoMemory(nullptr, node) == gcvSTATUS_OK;
}

void mallocNode() {
    void* p = std::malloc(kNodeBytes);
    static_cast<volatile uint8_t*>(p)[0] = 1;
    std::free(p);
}

void mmapNode() {
    void* p = mmap(nullptr, kNodeBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    static_cast<volatile uint8_t*>(p)[0] = 1;
    munmap(p, kNodeBytes);
}

void BM_Request_DeviceControl(benchmark::State& state) {
    for (auto _ : state)
        if (driverRequest() != gcvSTATUS_OK) state.SkipWithError("request failed");
}
BENCHMARK(BM_Request_DeviceControl)->UseRealTime();

void BM_Request_RawIoctl(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(rawIoctl());
}
BENCHMARK(BM_Request_RawIoctl)->UseRealTime();

void BM_VideoMemory4K_Driver(benchmark::State& state) {
    for (auto _ : state)
        if (!driverNode()) state.SkipWithError("video memory failed");
}
BENCHMARK(BM_VideoMemory4K_Driver)->UseRealTime();

void BM_VideoMemory4K_Malloc(benchmark::State& state) {
    for (auto _ : state) mallocNode();
}
BENCHMARK(BM_VideoMemory4K_Malloc);

void BM_VideoMemory4K_Mmap(benchmark::State& state) {
    for (auto _ : state) mmapNode();
}
BENCHMARK(BM_VideoMemory4K_Mmap);

// Wall nanoseconds per call of body(), `count` calls.
template <typename F>
double wallEach(F body, int count) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) body();
    return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start)
               .count() /
           count;
}

void printCpu() {
    std::ifstream in("/proc/cpuinfo");
    std::string line, model, flags;
    while (std::getline(in, line) && (model.empty() || flags.empty())) {
        if (model.empty() && line.rfind("model name", 0) == 0) model = line.substr(line.find(':') + 2);
        if (flags.empty() && line.rfind("flags", 0) == 0) flags = line.substr(line.find(':') + 2);
    }
    std::printf("CPU: %s\nCPU flags: %s\n", model.c_str(), flags.c_str());
}

void printRatios() {
    using veld::bench::median;
    constexpr int kRounds = 15;
    std::vector<double> request, raw, node, heap, mapping;
    for (int r = 0; r < kRounds; ++r) {
        raw.push_back(wallEach([] { rawIoctl(); }, 2000));
        request.push_back(wallEach([] { driverRequest(); }, 500));
        heap.push_back(wallEach(mallocNode, 2000));
        mapping.push_back(wallEach(mmapNode, 500));
        node.push_back(wallEach([] { driverNode(); }, 100));
    }
    printCpu();
    std::printf("\nmedians of %d interleaved rounds (wall time):\n", kRounds);
    std::printf("  kernel request round trip (gcoOS_DeviceControl to the simulator): %.2f us;"
                " raw FIONREAD ioctl %.3f us; ratio %.0f\n",
                median(request) / 1000, median(raw) / 1000, median(request) / median(raw));
    std::printf("  4 KiB video memory allocate+lock+unlock+free: %.2f us; malloc+free %.3f us"
                " (ratio %.0f); mmap+munmap %.2f us (ratio %.1f)\n",
                median(node) / 1000, median(heap) / 1000, median(node) / median(heap),
                median(mapping) / 1000, median(node) / median(mapping));
}

}  // namespace

int main(int argc, char** argv) {
    if (!startSimulator()) {
        std::fprintf(stderr, "gal_bench: the GPU simulator did not start\n");
        stopSimulator();
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    printRatios();
    stopSimulator();
    return 0;
}
