// The daemon's bench tools against their physical baselines, in one process:
// - register read round trip through the serial register tool over a pseudo-terminal,
//   against a raw pty echo thread answering the same 8-byte request with 7 bytes;
// - latency from a write of the low-power command file to the board's state change (the
//   handler signals once it has acted on the line), against a bare inotify watcher noticing
//   the same write.
// After the Google Benchmark rows it prints the medians of interleaved samples and the ratios.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "veldcore_host.h"
#include "veldd.h"
#include "veldd_log.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string gRoot;
int gToolLine = -1;  // master side of the pty the register tool serves
int gEchoLine = -1;  // master side of the pty the raw echo thread serves
FILE_MONITOR_DESC gCommandFile = {"/tmp/adjust_cmd.txt", veldd_vexos_low_power_handler};

// Both latency peers wake the measuring thread the same way, through an event counter, so
// that no waiter spins against the watching threads on a small machine.
int gFlipDone = -1;      // the command file's handler has acted on the line
int gNoticeDone = -1;    // the bare watcher has seen the write
// Follows the command in the file: its line is logged once the command's action is done.
constexpr const char* kCommandEnd = "argv=done,";

constexpr uint8_t kReadRequest[8] = {'r', 'd', 0, 0x12, 0x34, 0x56, 0x78, 0};

bool waitEvent(int fd) {
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, 2000) != 1) return false;
    uint64_t count = 0;
    return read(fd, &count, sizeof count) == sizeof count;
}

void signalEvent(int fd) {
    const uint64_t one = 1;
    const ssize_t ignored = write(fd, &one, sizeof one);
    (void)ignored;
}

int openPty(std::string& slaveName) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return -1;
    slaveName = ptsname(master);
    return master;
}

bool readExactly(int fd, uint8_t* bytes, size_t count) {
    size_t got = 0;
    while (got < count) {
        const ssize_t n = read(fd, bytes + got, count - got);
        if (n <= 0) return false;
        got += static_cast<size_t>(n);
    }
    return true;
}

// The raw peer: the same line settings as the tool, then 8 bytes in, 7 bytes out.
void echoLoop(std::string slaveName) {
    const int fd = open(slaveName.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios settings{};
    settings.c_cflag = B115200 | CS8 | CREAD | CLOCAL;
    settings.c_cc[VMIN] = 1;
    tcsetattr(fd, TCSANOW, &settings);
    uint8_t request[8];
    const uint8_t reply[7] = {'r', 'd', 0xCA, 0xFE, 0xF0, 0x0D, 0};
    while (readExactly(fd, request, sizeof request))
        if (write(fd, reply, sizeof reply) != sizeof reply) break;
    close(fd);
}

// Writes the whole text as a new version of the file (open, truncate, write, close).
void writeFile(const std::string& path, const char* text) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return;
    const ssize_t ignored = write(fd, text, std::strlen(text));
    (void)ignored;
    close(fd);
}

// Waits the way the file monitor does (poll, then non-blocking reads), but only notices.
void baselineWatcher(std::string path) {
    const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    inotify_add_watch(fd, path.c_str(), IN_CLOSE_WRITE | IN_CLOSE_NOWRITE | IN_OPEN);
    alignas(inotify_event) char block[4096];
    for (;;) {
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, -1) < 0) continue;
        ssize_t n;
        while ((n = read(fd, block, sizeof block)) > 0) {
            for (ssize_t at = 0; at < n;) {
                inotify_event event{};
                std::memcpy(&event, block + at, sizeof event);
                if (event.mask & IN_CLOSE_WRITE) signalEvent(gNoticeDone);
                at += static_cast<ssize_t>(sizeof event + event.len);
            }
        }
    }
}

double roundTripNs(int line) {
    uint8_t reply[7];
    const auto start = Clock::now();
    if (write(line, kReadRequest, sizeof kReadRequest) != sizeof kReadRequest) return -1;
    if (!readExactly(line, reply, sizeof reply)) return -1;
    return std::chrono::duration<double, std::nano>(Clock::now() - start).count();
}

uint32_t lowPower() {
    VELD_BOARD_STATE state{};
    VELD_HOST_BoardSnapshot(&state, nullptr, 0);
    return state.lowPower;
}

// Every platform log line passes here, on the thread that writes it.
void logSink(const char* line, void*) {
    if (std::strstr(line, kCommandEnd)) signalEvent(gFlipDone);
}

// One command-file write and the wait for the board to follow it.
double lowPowerFlipNs() {
    const uint32_t before = lowPower();
    const std::string file = gRoot + "/tmp/adjust_cmd.txt";
    const auto start = Clock::now();
    writeFile(file, before ? "aa 90\ndone 1\n" : "aa 0\ndone 1\n");
    if (!waitEvent(gFlipDone)) return -1;
    const auto end = Clock::now();
    if (lowPower() == before) return -1;
    return std::chrono::duration<double, std::nano>(end - start).count();
}

double inotifyNs() {
    const std::string file = gRoot + "/tmp/baseline.txt";
    const auto start = Clock::now();
    writeFile(file, "aa 0\ndone 1\n");
    if (!waitEvent(gNoticeDone)) return -1;
    return std::chrono::duration<double, std::nano>(Clock::now() - start).count();
}

void BM_RawPtyPingPong(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(roundTripNs(gEchoLine));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RawPtyPingPong)->UseRealTime();

void BM_RegisterToolRead(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(roundTripNs(gToolLine));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RegisterToolRead)->UseRealTime();

void BM_InotifyNotice(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(inotifyNs());
}
BENCHMARK(BM_InotifyNotice)->UseRealTime();

void BM_CommandFileToLowPower(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(lowPowerFlipNs());
}
BENCHMARK(BM_CommandFileToLowPower)->UseRealTime();

// Median of the samples that succeeded; failed ones (-1) are counted in `failed`.
double median(std::vector<double> v, size_t& failed) {
    const auto bad = std::remove_if(v.begin(), v.end(), [](double x) { return x < 0; });
    failed += static_cast<size_t>(v.end() - bad);
    v.erase(bad, v.end());
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void printRatios() {
    std::vector<double> raw, tool, notice, flip;
    // Interleaved so that both peers see the same machine load.
    for (int i = 0; i < 5000; ++i) {
        raw.push_back(roundTripNs(gEchoLine));
        tool.push_back(roundTripNs(gToolLine));
    }
    for (int i = 0; i < 500; ++i) {
        notice.push_back(inotifyNs());
        flip.push_back(lowPowerFlipNs());
    }
    size_t failed = 0;
    const double r = median(raw, failed), t = median(tool, failed);
    const double n = median(notice, failed), f = median(flip, failed);
    std::printf("\nregister read round trip median: tool %.2f us (%.0f requests/s), raw pty "
                "ping-pong %.2f us (%.0f/s), ratio %.2f\n",
                t / 1000, 1e9 / t, r / 1000, 1e9 / r, t / r);
    std::printf("command file to low-power state median: %.2f us, bare inotify notice %.2f us, "
                "ratio %.2f\n",
                f / 1000, n / 1000, f / n);
    if (failed) std::printf("%zu samples failed\n", failed);
}

bool setUp() {
    char pattern[] = "/tmp/vbt.XXXXXX";
    if (!mkdtemp(pattern)) return false;
    gRoot = pattern;
    for (const char* dir : {"/tmp", "/dev", "/proc"}) std::filesystem::create_directories(gRoot + dir);
    setenv("VELD_ROOT", gRoot.c_str(), 1);
    setenv("VELD_NS", ("vbt" + std::to_string(getpid())).c_str(), 1);
    setenv("VELD_LOG", (gRoot + "/veldd.log").c_str(), 1);

    // The daemon's own log set-up, so that the tools write their lines as in the daemon.
    VELD_InitSystem(0, nullptr);
    g_veldd_logm_fd = VELD_LOGM_ObjRegister("veldd");
    for (uint32_t level : {0u, 1u, 2u}) VELD_LOGM_BitMaskEnable(g_veldd_logm_fd, level);
    VELD_SYS_RegWriteSimple(0x12345678, 0xCAFEF00D);
    gFlipDone = eventfd(0, EFD_CLOEXEC);
    gNoticeDone = eventfd(0, EFD_CLOEXEC);
    VELD_HOST_SetLogSink(logSink, nullptr);

    std::string toolSlave, echoSlave;
    gToolLine = openPty(toolSlave);
    gEchoLine = openPty(echoSlave);
    if (gToolLine < 0 || gEchoLine < 0) return false;
    std::filesystem::create_symlink(toolSlave, gRoot + "/dev/ttyAMA1");
    std::thread(echoLoop, echoSlave).detach();
    VELD_OSA_CreateThread("reg_tool_task", regster_access_tool_task, nullptr, 32768, 2, 0);

    writeFile(gRoot + "/tmp/adjust_cmd.txt", "");
    writeFile(gRoot + "/tmp/baseline.txt", "");
    std::thread(baselineWatcher, gRoot + "/tmp/baseline.txt").detach();
    VELD_OSA_CreateThread("inoti_tsk", file_monitor_task, &gCommandFile, 32768, 2, 0);

    // The tool is ready once it says so (its line settings are in place from then on), and
    // the file monitor once a command gets through.
    const auto end = Clock::now() + std::chrono::seconds(5);
    bool toolReady = false;
    while (!toolReady && Clock::now() < end) {
        FILE* log = std::fopen((gRoot + "/veldd.log").c_str(), "r");
        char line[512];
        while (log && !toolReady && std::fgets(line, sizeof line, log))
            toolReady = std::strstr(line, "+ starting regster_access_tool_task") != nullptr;
        if (log) std::fclose(log);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    toolReady = toolReady && roundTripNs(gToolLine) > 0;
    return toolReady && lowPowerFlipNs() > 0 && inotifyNs() > 0;
}

void tearDown() {
    VELD_HOST_UnlinkMemory(VELD_BOARD_REGION);
    std::error_code ec;
    std::filesystem::remove_all(gRoot, ec);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!setUp()) {
        std::fprintf(stderr, "bench_tools_bench: the tools did not start\n");
        tearDown();
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    printRatios();
    tearDown();
    // The tool and monitor threads run for ever, as in the daemon.
    std::fflush(stdout);
    _exit(0);
}
