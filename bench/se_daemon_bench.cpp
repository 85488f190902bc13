// The permanent log and the secure-engine daemon against their physical baselines, in one run:
// a VELD_SE_PL02 append against vsnprintf + memcpy of the same line, a 16 KiB flush against
// write + fsync + rename of 16 KiB, a request relayed to se_veldd through the simulated driver
// against the same relay answered by a raw echo peer, and the time from SIGKILL of a lock holder
// to the next process holding the lock (through the daemon's clean-up).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/msg.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "se_core.h"
#include "se_daemon.h"
#include "se_device.h"
#include "se_engine.h"
#include "se_permanent_log.h"
#include "seam.h"

namespace {

namespace wire = veld::seDevice::wire;
using veld::bench::median;

std::string gRoot;
std::vector<pid_t> gChildren;
std::string gEchoSocket;  // the second simulator, whose netlink peer is a raw echo
pid_t gDaemon = -1;

double nowNs() {
    return std::chrono::duration<double, std::nano>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

pid_t spawn(const std::vector<std::string>& argv, const std::string& ns) {
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("VELD_NS", ns.c_str(), 1);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    gChildren.push_back(pid);
    return pid;
}

bool waitFor(const std::string& path) {
    for (int i = 0; i < 500; ++i) {
        if (access(path.c_str(), F_OK) == 0) return true;
        usleep(10000);
    }
    return false;
}

int connectTo(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// A raw netlink peer of the second simulator: answers every frame with "Null Ack\n".
void rawEchoPeer() {
    const int fd = connectTo(gEchoSocket);
    wire::Request hello{wire::kNetlink, 0, 31, 0, 0, 0};
    wire::Reply reply{};
    if (fd < 0 || wire::call(fd, hello, nullptr, reply, nullptr, 0) < 0) return;
    std::thread([fd] {
        uint8_t frame[4112];
        for (;;) {
            if (recv(fd, frame, sizeof frame, 0) <= 0) return;
            const char text[] = "Null Ack\n";
            const uint32_t length = (16 + sizeof text + 3) & ~3u;
            std::memset(frame, 0, length);
            std::memcpy(frame, &length, 4);
            std::memcpy(frame + 16, text, sizeof text);
            send(fd, frame, length, MSG_NOSIGNAL);
        }
    }).detach();
}

bool start() {
    char pattern[] = "/tmp/vsd.XXXXXX";
    gRoot = mkdtemp(pattern);
    std::filesystem::create_directories(gRoot + "/tmp");
    const std::string ns = "vsdbench" + std::to_string(getpid());
    setenv("VELD_ROOT", gRoot.c_str(), 1);
    setenv("VELD_NS", ns.c_str(), 1);
    setenv("VELD_SIM", "1", 1);
    setenv("VELD_LOG", (gRoot + "/se.log").c_str(), 1);
    const std::string bin = VELD_BIN_DIR;
    spawn({bin + "/sim/veld_tw", "--root", gRoot}, ns);
    spawn({bin + "/sim/veld_tw", "--root", gRoot}, ns + "echo");
    gEchoSocket = gRoot + "/tmp/veld-sim/" + ns + "echo/tw.sock";
    return waitFor(veld::seam::simSocket("tw")) && waitFor(gEchoSocket);
}

// se_veldd starts after the append figures: a daemon that flushes competes with the appender
// for the lock, which is not the append's own cost.
bool startDaemon() {
    gDaemon = spawn({std::string(VELD_BIN_DIR) + "/daemon/se_veldd"}, std::getenv("VELD_NS"));
    rawEchoPeer();
    // The daemon is ready when it answers.
    for (int i = 0; i < 500; ++i) {
        char request[256] = "ping";
        if (_SE_VELDD_01(request) == 0) return true;
        usleep(10000);
    }
    return false;
}

void stopAll() {
    VELD_SE_Shutdown();
    for (pid_t pid : gChildren) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    const std::string ns = std::getenv("VELD_NS");
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm"))
        if (entry.path().filename().string().find(ns) != std::string::npos)
            std::filesystem::remove(entry.path());
    const int queue = msgget(veld::seam::sysvKey(veld::se::kQueueKey), 0);
    if (queue >= 0) msgctl(queue, IPC_RMID, nullptr);
    std::filesystem::remove_all(gRoot);
}

// ---- peers ----

const char* kLine = "store record %d written (%s)\n";

void resetBuffer() {
    veld::se::seLock();
    veld::se::processRecord().pSharedInfo->permanentLogPoint = 0;
    veld::se::seUnlock();
}

double appendNs(int count) {
    resetBuffer();
    const double t = nowNs();
    for (int i = 0; i < count; ++i) VELD_SE_PL02(kLine, i, "sedata");
    return (nowNs() - t) / count;
}

char gPeerBuffer[16384];
__attribute__((format(printf, 1, 2))) void peerAppend(const char* format, ...) {
    static size_t at = 0;
    char line[256];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (at + n > sizeof gPeerBuffer) at = 0;
    std::memcpy(gPeerBuffer + at, line, n);
    at += n;
}

double peerAppendNs(int count) {
    const double t = nowNs();
    for (int i = 0; i < count; ++i) peerAppend(kLine, i, "sedata");
    benchmark::DoNotOptimize(gPeerBuffer);
    return (nowNs() - t) / count;
}

// One writer pass over 16 KiB of pending lines (the daemon's flush), timed in this process.
double flushNs() {
    static int round = 0;
    resetBuffer();
    std::string line(127, 'a' + round++ % 26);  // never the file's last text
    line += '\n';
    veld::se::seLock();
    for (int i = 0; i < 128; ++i) veld::se::logAppend(line.data(), line.size());
    veld::se::seUnlock();
    veld::se::permanentLogResume();
    const double t = nowNs();
    veld::se::seLock();
    veld::se::startWriter();
    veld::se::seUnlock();
    while (veld::se::writerRunning()) std::this_thread::yield();
    return nowNs() - t;
}

double peerFlushNs() {
    static std::vector<char> data(16384, 'p');
    const std::string path = gRoot + "/peer.dat", temporary = path + ".tmp";
    const double t = nowNs();
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (write(fd, data.data(), data.size()) < 0) std::perror("write");
    fsync(fd);
    close(fd);
    rename(temporary.c_str(), path.c_str());
    return nowNs() - t;
}

double relayNs() {
    char request[256] = "what is this";
    const double t = nowNs();
    _SE_VELDD_01(request);
    return nowNs() - t;
}

double rawRelayNs() {
    // The same request through the second simulator, answered by the raw echo peer, over a
    // connection of its own as the seam makes one.
    char request[256] = "what is this";
    uint8_t out[256];
    wire::Request message{wire::kIoctl, 0xC0045390u, 0, 0, 256, 0};
    wire::Reply reply{};
    const double t = nowNs();
    const int fd = connectTo(gEchoSocket);
    wire::call(fd, message, request, reply, out, sizeof out);
    close(fd);
    return nowNs() - t;
}

// From SIGKILL of a process holding the lock to this process holding it.
double takeOverMs() {
    int ready[2];
    if (pipe(ready) != 0) return 0;
    const pid_t holder = fork();
    if (holder == 0) {
        if (VELD_SE_Initialize(nullptr) == 0 && VELD_SE_L000() == 0) {
            const char c = 'x';
            if (write(ready[1], &c, 1) == 1) pause();
        }
        _exit(1);
    }
    char c = 0;
    if (read(ready[0], &c, 1) != 1) return 0;
    close(ready[0]);
    close(ready[1]);
    const double t = nowNs();
    kill(holder, SIGKILL);
    VELD_SE_L000();
    const double ms = (nowNs() - t) / 1e6;
    VELD_SE_L001();
    waitpid(holder, nullptr, 0);
    return ms;
}

void BM_PeerAppendLine(benchmark::State& state) {
    for (auto _ : state) peerAppend(kLine, 1, "sedata");
}
BENCHMARK(BM_PeerAppendLine);
void BM_PermanentLogAppend(benchmark::State& state) {
    int n = 0;
    for (auto _ : state) {
        if (++n % 100 == 0) {
            state.PauseTiming();
            resetBuffer();
            state.ResumeTiming();
        }
        VELD_SE_PL02(kLine, n, "sedata");
    }
}
BENCHMARK(BM_PermanentLogAppend);

template <typename F>
std::vector<double> samples(F f, int n) {
    std::vector<double> v;
    for (int i = 0; i < n; ++i) v.push_back(f());
    return v;
}

void row(const char* what, double ours, double peer, const char* unit, double scale, double target) {
    std::printf("%-46s %10.2f %s %10.2f %s %7.2f", what, ours / scale, unit, peer / scale, unit,
                ours / peer);
    if (target > 0) std::printf("   (target within %.1fx)", target);
    std::printf("\n");
}

void printRatios() {
    std::printf("\npermanent log and daemon against their peers (interleaved medians)\n");
    std::vector<double> a, pa, f, pf, r, pr;
    // The append alone, before the daemon runs (its queue fills; a full queue already holds a
    // flush request).
    for (int i = 0; i < 60; ++i) {
        a.push_back(appendNs(100));
        pa.push_back(peerAppendNs(100));
    }
    row("PL02 append / vsnprintf + memcpy", median(a), median(pa), "ns", 1, 0);
    if (!startDaemon()) {
        std::fprintf(stderr, "se_daemon_bench: se_veldd did not start\n");
        return;
    }
    for (int i = 0; i < 15; ++i) {
        f.push_back(flushNs());
        pf.push_back(peerFlushNs());
    }
    row("16 KiB flush / write + fsync + rename", median(f), median(pf), "us", 1e3, 1.5);

    for (int i = 0; i < 400; ++i) {
        r.push_back(relayNs());
        pr.push_back(rawRelayNs());
    }
    row("relayed request / raw relay to an echo peer", median(r), median(pr), "us", 1e3, 1.5);
    const std::vector<double> k = samples(takeOverMs, 7);
    std::printf("%-46s %10.2f ms (median of 7; target under 100 ms)\n",
                "SIGKILL of a lock holder -> next holder", median(k));
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!start()) {
        std::fprintf(stderr, "se_daemon_bench: the simulators did not start (see %s)\n",
                     gRoot.c_str());
        stopAll();
        return 1;
    }
    VELD_SE_Initialize(nullptr);
    benchmark::RunSpecifiedBenchmarks();
    printRatios();
    stopAll();
    return 0;
}
