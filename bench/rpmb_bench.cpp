// Replay-protected storage against its physical cost, in one run with the simulated trusted
// world, eMMC and se_veldd: a direct block read against two HMAC-SHA256 over 284 bytes and a
// 512-byte pread, a block write against four HMACs, a 512-byte pwrite and an fsync, the
// indirect mode (through the daemon) against the direct one, and building the 1,024-block list
// (which holds the engine's lock throughout; target under 100 ms). The two round trips a direct
// read cannot do without (the eMMC simulator, the trusted world) are measured on their own.
// Google Benchmark rows first, then interleaved medians and their ratios with the CPU flags.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "se_bench_support.h"
#include "se_device.h"
#include "se_engine.h"
#include "se_rpmb.h"
#include "se_rpmb_shared.h"
#include "seam.h"

namespace {

namespace wire = veld::seDevice::wire;
using veld::bench::cpuFlags;
using veld::bench::interleaved;
using veld::bench::median;
using veld::bench::nowNs;

std::string gRoot;
std::vector<pid_t> gChildren;
int gPartFd = -1, gScratchFd = -1;
uint8_t gBlock[256];
uint8_t gMacKey[32] = {7};
int gTwFd = -1;  // a connection of our own to the trusted world, for its raw round trip

pid_t startProgram(const std::string& relative, bool withRoot) {
    const pid_t pid = fork();
    if (pid == 0) {
        const std::string program = std::string(VELD_BIN_DIR) + "/" + relative;
        if (withRoot) execl(program.c_str(), program.c_str(), "--root", gRoot.c_str(), nullptr);
        else execl(program.c_str(), program.c_str(), nullptr);
        _exit(127);
    }
    gChildren.push_back(pid);
    return pid;
}

bool waitFor(const std::string& path) {
    struct stat st {};
    for (int i = 0; i < 500; ++i) {
        if (stat(path.c_str(), &st) == 0) return true;
        usleep(10000);
    }
    return false;
}

bool control(uint32_t op, uint32_t word) {
    const int fd = wire::connectSimulator();
    wire::Request request{wire::kControl, op, 0, 0, 4, 0};
    wire::Reply reply{};
    const bool ok = fd >= 0 && wire::call(fd, request, &word, reply, nullptr, 0) >= 0 && reply.result == 0;
    if (fd >= 0) close(fd);
    return ok;
}

uint32_t daemonPid() {
    const int fd = wire::connectSimulator();
    wire::Request request{wire::kControl, wire::kStats, 0, 0, 0, 0};
    wire::Reply reply{};
    wire::Stats stats{};
    if (fd >= 0) wire::call(fd, request, nullptr, reply, &stats, sizeof stats);
    if (fd >= 0) close(fd);
    return stats.netlinkPid;
}

bool start() {
    char pattern[] = "/tmp/vrb.XXXXXX";
    gRoot = mkdtemp(pattern);
    std::filesystem::create_directories(gRoot + "/tmp");
    setenv("VELD_ROOT", gRoot.c_str(), 1);
    setenv("VELD_NS", ("vrbench" + std::to_string(getpid())).c_str(), 1);
    setenv("VELD_SIM", "1", 1);
    setenv("VELD_LOG", (gRoot + "/se.log").c_str(), 1);
    startProgram("sim/veld_tw", true);
    startProgram("sim/veld_emmc", true);
    if (!waitFor(veld::seam::simSocket("tw")) || !waitFor(veld::seam::simSocket("emmc"))) return false;
    const pid_t daemon = startProgram("daemon/se_veldd", false);
    for (int i = 0; i < 500 && daemonPid() != static_cast<uint32_t>(daemon); ++i) usleep(10000);
    gPartFd = open((gRoot + "/var/veld-sim/emmc-rpmb.bin").c_str(), O_RDONLY);
    gScratchFd = open((gRoot + "/tmp/scratch.bin").c_str(), O_RDWR | O_CREAT, 0600);
    gTwFd = wire::connectSimulator();
    for (size_t i = 0; i < sizeof gBlock; ++i) gBlock[i] = static_cast<uint8_t>(i);
    return daemonPid() == static_cast<uint32_t>(daemon) && gPartFd >= 0 && gScratchFd >= 0 && gTwFd >= 0 &&
           VELD_SE_Initialize(nullptr) == 0 && VELD_SE_CheckRPMBPartition() == 0;
}

void stopAll() {
    VELD_SE_Shutdown();
    for (pid_t pid : gChildren) kill(pid, SIGTERM);
    for (pid_t pid : gChildren) waitpid(pid, nullptr, 0);
    if (gPartFd >= 0) close(gPartFd);
    if (gScratchFd >= 0) close(gScratchFd);
    if (gTwFd >= 0) close(gTwFd);
    const std::string ns = std::getenv("VELD_NS");
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm"))
        if (entry.path().filename().string().find(ns) != std::string::npos)
            std::filesystem::remove(entry.path());
    std::filesystem::remove_all(gRoot);
}

// Direct or indirect: the mode is decided when the process attaches.
void useIndirect(bool indirect) {
    control(wire::kRpmbIndirect, indirect ? 1 : 0);
    VELD_SE_Shutdown();
    VELD_SE_CheckRPMBPartition();
}

// ---- ours ----

uint32_t gAddress = 0;
void engineRead() {
    uint8_t out[256];
    _SE_RB002(gAddress++ % 64, out);
}
void engineWrite() { _SE_RB003(gAddress++ % 64, gBlock); }

// ---- the round trips a direct read makes ----

// The eMMC simulator answering a block read (its HMAC included), straight through the platform
// call, and the trusted world echoing a 516-byte argument over its socket: the floor of a
// direct read that only moves its frames.
void emmcRoundTrip() {
    uint8_t frame[512] = {};
    frame[504] = 0;
    frame[505] = static_cast<uint8_t>(gAddress++ % 64);
    frame[507] = 1;
    VELD_MMC_rpmb_read_block(frame);
}
void twRoundTrip() {
    uint8_t argument[516] = {}, out[516];
    wire::Request request{wire::kEcho, 0, 0, 0, sizeof argument, 0};
    wire::Reply reply{};
    wire::call(gTwFd, request, argument, reply, out, sizeof out);
}
void bothRoundTrips() {
    emmcRoundTrip();
    twRoundTrip();
}

// ---- the physical costs ----

void hmac284() {
    uint8_t frame[512] = {}, mac[32];
    unsigned int n = 0;
    HMAC(EVP_sha256(), gMacKey, sizeof gMacKey, frame + 228, 284, mac, &n);
    benchmark::DoNotOptimize(mac);
}
void physicalRead() {
    uint8_t frame[512];
    hmac284();
    hmac284();
    benchmark::DoNotOptimize(pread(gPartFd, frame, sizeof frame, 512 + 1024 * (gAddress++ % 64)));
}
void physicalWrite() {
    uint8_t frame[512] = {};
    for (int i = 0; i < 4; ++i) hmac284();
    benchmark::DoNotOptimize(pwrite(gScratchFd, frame, sizeof frame, 512 * (gAddress++ % 64)));
    fsync(gScratchFd);
}

void BM_PhysicalRead(benchmark::State& state) { for (auto _ : state) physicalRead(); }
BENCHMARK(BM_PhysicalRead);
void BM_DirectBlockRead(benchmark::State& state) { for (auto _ : state) engineRead(); }
BENCHMARK(BM_DirectBlockRead);
void BM_PhysicalWrite(benchmark::State& state) { for (auto _ : state) physicalWrite(); }
BENCHMARK(BM_PhysicalWrite)->Iterations(200);
void BM_DirectBlockWrite(benchmark::State& state) { for (auto _ : state) engineWrite(); }
BENCHMARK(BM_DirectBlockWrite)->Iterations(200);

void printRatios() {
    std::printf("\nreplay-protected storage against its physical cost (interleaved medians); CPU flags:%s\n",
                cpuFlags().c_str());
    std::printf("%-44s %15s %15s %8s\n", "", "ours", "peer", "ratio");
    interleaved("direct read / 2 HMAC-SHA256 + pread 512 B", engineRead, physicalRead, 200, 10, 3.0);
    interleaved("eMMC round trip (block read) / physical", emmcRoundTrip, physicalRead, 200, 10, 0);
    interleaved("trusted-world round trip (516 B) / physical", twRoundTrip, physicalRead, 200, 10, 0);
    interleaved("direct read / its two round trips", engineRead, bothRoundTrips, 200, 10, 0);
    interleaved("write / 4 HMAC-SHA256 + pwrite + fsync", engineWrite, physicalWrite, 40, 5, 0);

    // Indirect against direct: the mode changes between the batches (outside the timing).
    std::vector<double> direct, indirect;
    for (int i = 0; i < 20; ++i) {
        for (bool through : {false, true}) {
            useIndirect(through);
            const double t = nowNs();
            for (int j = 0; j < 20; ++j) engineRead();
            (through ? indirect : direct).push_back((nowNs() - t) / 20);
        }
    }
    useIndirect(false);
    std::printf("%-44s %12.0f ns %12.0f ns %8.2f\n", "indirect read / direct read", median(indirect),
                median(direct), median(indirect) / median(direct));

    std::vector<double> list;
    for (int i = 0; i < 7; ++i) {
        veld::se::rpmbShared()->listValid = 0;
        const double t = nowNs();
        _SE_RB102(nullptr);
        list.push_back(nowNs() - t);
    }
    std::printf("%-44s %12.1f ms %15s %8s   (target under 100 ms)\n",
                "block list of 1,024 blocks, lock held", median(list) / 1e6, "", "");
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!start()) {
        std::fprintf(stderr, "rpmb_bench: the simulators or the engine did not start (see %s/se.log)\n",
                     gRoot.c_str());
        stopAll();
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    printRatios();
    stopAll();
    return 0;
}
