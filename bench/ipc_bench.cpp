// Request/reply round trip through veldd against the physical baseline, a raw AF_UNIX
// datagram ping-pong between two processes, and one-way message throughput into veldd.
// After the Google Benchmark rows it prints the median round trips and their ratio.
#include <benchmark/benchmark.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_support.h"
#include "client.h"
#include "seam.h"

namespace {

using veld::tools::DaemonClient;
using veld::tools::makeRequest;

std::string gRoot;
pid_t gVeldd = -1;
pid_t gEcho = -1;
std::string gEchoPath;

// Client on one core, server (veldd or the echo peer) on the other, the same for both peers,
// so that neither gains from sharing a core's cache or loses to migration.
void pinTo(int cpu) {
    if (sysconf(_SC_NPROCESSORS_ONLN) < 2) return;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    sched_setaffinity(0, sizeof set, &set);
}

// A process that answers every datagram with the same bytes: the raw peer.
pid_t startEcho(const std::string& path) {
    const int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    unlink(path.c_str());
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        pinTo(1);
        for (;;) {
            unsigned char buffer[64];
            sockaddr_un from{};
            socklen_t fromLength = sizeof from;
            const ssize_t n = recvfrom(fd, buffer, sizeof buffer, 0,
                                       reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (n > 0) sendto(fd, buffer, static_cast<size_t>(n), MSG_DONTWAIT,
                              reinterpret_cast<sockaddr*>(&from), fromLength);
        }
    }
    close(fd);
    return pid;
}

bool startVeldd() {
    char pattern[] = "/tmp/vb.XXXXXX";
    gRoot = mkdtemp(pattern);
    std::filesystem::create_directories(gRoot + "/tmp");
    setenv("VELD_ROOT", gRoot.c_str(), 1);
    setenv("VELD_NS", ("vbench" + std::to_string(getpid())).c_str(), 1);
    setenv("VELD_CMDLINE", "", 1);
    setenv("VELD_LOG", (gRoot + "/veldd.log").c_str(), 1);
    gVeldd = fork();
    if (gVeldd == 0) {
        pinTo(1);
        const std::string program = std::string(VELD_BIN_DIR) + "/daemon/veldd";
        execl(program.c_str(), program.c_str(), "-f", nullptr);
        _exit(127);
    }
    std::string error;
    auto client = DaemonClient::open(error);
    for (int i = 0; i < 200 && client; ++i) {
        if (client->request(makeRequest(0x4bf10001, true), 50, error)) return true;
        usleep(20000);  // not listening yet
    }
    return false;
}

void stopAll() {
    for (pid_t pid : {gVeldd, gEcho})
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm")) {
        const std::string name = entry.path().filename().string();
        if (name.find(std::getenv("VELD_NS")) != std::string::npos) std::filesystem::remove(entry.path());
    }
    std::filesystem::remove_all(gRoot);
}

double roundTripNs(DaemonClient& client, const VELDD_IPC_MSG& message) {
    std::string error;
    const auto start = std::chrono::steady_clock::now();
    client.send(message, error);
    client.receive(1000);
    return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
}

void BM_RawDatagramPingPong(benchmark::State& state) {
    std::string error;
    auto client = DaemonClient::open(gEchoPath, error);
    const VELDD_IPC_MSG message = makeRequest(0x4bf10001, true);
    for (auto _ : state) {
        client->send(message, error);
        benchmark::DoNotOptimize(client->receive(1000));
    }
}
BENCHMARK(BM_RawDatagramPingPong);

void BM_VelddRoundTrip(benchmark::State& state) {
    std::string error;
    auto client = DaemonClient::open(error);
    const VELDD_IPC_MSG message = makeRequest(0x4bf10001, true);
    for (auto _ : state) {
        client->send(message, error);
        benchmark::DoNotOptimize(client->receive(1000));
    }
}
BENCHMARK(BM_VelddRoundTrip);

void BM_VelddOneWayMessages(benchmark::State& state) {
    std::string error;
    auto client = DaemonClient::open(error);
    const VELDD_IPC_MSG message = makeRequest(0x4bf10001, false);
    for (auto _ : state) client->send(message, error);
    // Count only what the daemon took: a final round trip drains the endpoint.
    client->request(makeRequest(0x4bf10001, true), 5000, error);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_VelddOneWayMessages);

using veld::bench::median;

void printRatio() {
    constexpr int kSamples = 20000;
    std::string error;
    auto raw = DaemonClient::open(gEchoPath, error);
    auto veldd = DaemonClient::open(error);
    const VELDD_IPC_MSG message = makeRequest(0x4bf10001, true);
    std::vector<double> rawNs, velddNs;
    // Interleaved so that both see the same machine load.
    for (int i = 0; i < kSamples; ++i) {
        rawNs.push_back(roundTripNs(*raw, message));
        velddNs.push_back(roundTripNs(*veldd, message));
    }
    const double r = median(rawNs), v = median(velddNs);
    std::printf("\nround trip median: veldd %.2f us, raw datagram ping-pong %.2f us, ratio %.2f\n",
                v / 1000, r / 1000, v / r);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    pinTo(0);
    if (!startVeldd()) {
        std::fprintf(stderr, "ipc_bench: veldd did not start\n");
        stopAll();
        return 1;
    }
    gEchoPath = gRoot + "/tmp/echo";
    gEcho = startEcho(gEchoPath);
    benchmark::RunSpecifiedBenchmarks();
    printRatio();
    stopAll();
    return 0;
}
