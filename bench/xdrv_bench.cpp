// The display driver against its physical baselines, in one run:
//  - events per second through XDRV_SendQueue / XDRV_ReceiveQueue between two threads, against
//    raw msgsnd / msgrcv of the same 28-byte messages on a private System V queue;
//  - a full-screen push (XDRV_UpdateScreen of a 1920 x 1080 display) against a memcpy of the
//    same bytes;
//  - a scratch-string format (XUTIL_GetStaticFormatedString) against snprintf into a buffer.
// After the Google Benchmark rows it prints interleaved medians and their ratios (events in
// wall time, as they cross between threads; the push and the format in thread CPU time).
#include <benchmark/benchmark.h>

#include "bench_support.h"
#include <sys/ipc.h>
#include <sys/msg.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "seam.h"
#include "veld_framebuffer.h"
#include "xdrv.h"
#include "xstring.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kStopType = 0xDEAD;
constexpr uint32_t kEventQueueKey = 0x00149FBD;

struct RawMessage {
    long type;
    XEvent event;
};

std::string gRoot;
int gRawQueue = -1;
XDisplay gDisplay{};

// One way of moving events: send never blocks (a full queue is retried), receive blocks.
struct Transport {
    std::function<bool(const XEvent&)> send;
    std::function<bool(XEvent&)> receive;
};

Transport xdrvTransport() {
    return {[](const XEvent& e) { return XDRV_SendQueue(0, &e, 0) == 0; },
            [](XEvent& e) { return XDRV_ReceiveQueue(0, &e, 0) == 0; }};
}

Transport rawTransport() {
    return {[](const XEvent& e) {
                RawMessage m{1, e};
                return msgsnd(gRawQueue, &m, sizeof(XEvent), IPC_NOWAIT) == 0;
            },
            [](XEvent& e) {
                RawMessage m{};
                if (msgrcv(gRawQueue, &m, sizeof(XEvent), 0, 0) < 0) return false;
                e = m.event;
                return true;
            }};
}

// A receiving thread that takes events until the stop event.
class Receiver {
public:
    explicit Receiver(const Transport& t)
        : thread_([t, this] {
              XEvent e{};
              while (t.receive(e) && e.type != kStopType) ++count_;
          }) {}
    uint64_t stop(const Transport& t) {
        XEvent stop{};
        stop.type = kStopType;
        while (!t.send(stop)) std::this_thread::yield();
        thread_.join();
        return count_;
    }

private:
    uint64_t count_ = 0;
    std::thread thread_;
};

void sendOne(const Transport& t, XEvent& e) {
    ++e.key.value;
    while (!t.send(e)) std::this_thread::yield();
}

XEvent keyEvent() {
    XEvent e{};
    e.type = XEVENT_KEY;
    e.key.code = 10;
    return e;
}

void runEvents(benchmark::State& state, const Transport& t) {
    Receiver receiver(t);
    XEvent e = keyEvent();
    for (auto _ : state) sendOne(t, e);
    const uint64_t received = receiver.stop(t);
    if (received != state.iterations()) state.SkipWithError("events were lost");
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void BM_RawMsgQueueEvents(benchmark::State& state) { runEvents(state, rawTransport()); }
BENCHMARK(BM_RawMsgQueueEvents)->UseRealTime();

void BM_XdrvQueueEvents(benchmark::State& state) { runEvents(state, xdrvTransport()); }
BENCHMARK(BM_XdrvQueueEvents)->UseRealTime();

size_t screenBytes() { return size_t{gDisplay.surface->word[3]} * gDisplay.height; }

void BM_MemcpyFullScreen(benchmark::State& state) {
    std::vector<uint8_t> target(screenBytes());
    for (auto _ : state) {
        std::memcpy(target.data(), gDisplay.pixels, target.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * target.size()));
}
BENCHMARK(BM_MemcpyFullScreen);

void BM_XdrvUpdateScreen(benchmark::State& state) {
    for (auto _ : state) XDRV_UpdateScreen(&gDisplay);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * screenBytes()));
}
BENCHMARK(BM_XdrvUpdateScreen);

void formatSnprintf(char* buffer, uint32_t i) {
    std::snprintf(buffer, 4096, "[%s] cpu %u.%u%% mem %u kB", "ssm", i % 100, i % 10, i * 4);
}

void BM_SnprintfFormat(benchmark::State& state) {
    static char buffer[4096];
    uint32_t i = 0;
    for (auto _ : state) {
        formatSnprintf(buffer, ++i);
        benchmark::DoNotOptimize(buffer);
    }
}
BENCHMARK(BM_SnprintfFormat);

void BM_ScratchFormat(benchmark::State& state) {
    uint32_t i = 0;
    for (auto _ : state) {
        ++i;
        benchmark::DoNotOptimize(
            XUTIL_GetStaticFormatedString("[%s] cpu %u.%u%% mem %u kB", "ssm", i % 100, i % 10,
                                          i * 4));
    }
}
BENCHMARK(BM_ScratchFormat);

// ---- Interleaved medians and ratios ------------------------------------------------------

double eventsPerSecond(const Transport& t, int count) {
    Receiver receiver(t);
    XEvent e = keyEvent();
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) sendOne(t, e);
    receiver.stop(t);
    return count / std::chrono::duration<double>(Clock::now() - start).count();
}

using veld::bench::median;
using veld::bench::nanosEach;

void printRatios() {
    constexpr int kRounds = 9;
    std::vector<double> raw, xdrv, copy, push, snp, scratch;
    std::vector<uint8_t> target(screenBytes());
    static char buffer[4096];
    // Rounds alternate the peers so that both see the same machine load.
    for (int r = 0; r < kRounds; ++r) {
        raw.push_back(eventsPerSecond(rawTransport(), 50000));
        xdrv.push_back(eventsPerSecond(xdrvTransport(), 50000));
        copy.push_back(nanosEach(
            [&](int) {
                std::memcpy(target.data(), gDisplay.pixels, target.size());
                benchmark::ClobberMemory();
            },
            50));
        push.push_back(nanosEach([](int) { XDRV_UpdateScreen(&gDisplay); }, 50));
        snp.push_back(nanosEach([](int i) { formatSnprintf(buffer, static_cast<uint32_t>(i)); },
                                20000));
        scratch.push_back(nanosEach(
            [](int i) {
                const auto u = static_cast<uint32_t>(i);
                benchmark::DoNotOptimize(XUTIL_GetStaticFormatedString(
                    "[%s] cpu %u.%u%% mem %u kB", "ssm", u % 100, u % 10, u * 4));
            },
            20000));
    }
    const double rawRate = median(raw), xdrvRate = median(xdrv);
    std::printf("\nevents between two threads (median of %d rounds):\n", kRounds);
    std::printf("  XDRV_SendQueue/ReceiveQueue %.0f events/s, raw msgsnd/msgrcv %.0f events/s,"
                " time ratio %.2f (target <= 1.20)\n",
                xdrvRate, rawRate, rawRate / xdrvRate);
    std::printf("in the calling thread's CPU time:\n");
    const double c = median(copy), p = median(push);
    std::printf("  full-screen push %ux%u: XDRV_UpdateScreen %.1f us, memcpy %.1f us, ratio %.2f\n",
                gDisplay.width, gDisplay.height, p / 1000, c / 1000, p / c);
    const double s = median(snp), x = median(scratch);
    std::printf("  scratch-string format: XUTIL_GetStaticFormatedString %.0f ns, snprintf %.0f ns,"
                " ratio %.2f\n",
                x, s, x / s);
}

bool setUp() {
    char pattern[] = "/tmp/vxb.XXXXXX";
    gRoot = mkdtemp(pattern);
    setenv("VELD_ROOT", gRoot.c_str(), 1);
    setenv("VELD_NS", ("vxbench" + std::to_string(getpid())).c_str(), 1);
    std::filesystem::create_directories(gRoot + "/proc/qv/fbdev/fb0");
    std::ofstream(veld::seam::path(veld::xdrv::kSizeFile)) << "0 0 1920 1080\n";
    gRawQueue = msgget(IPC_PRIVATE, IPC_CREAT | 0600);
    if (gRawQueue < 0 || XDRV_InitTask(0) != 0 || XDRV_CreateDisplay(&gDisplay) != 0) return false;
    for (size_t i = 0; i < screenBytes(); ++i) gDisplay.pixels[i] = static_cast<uint8_t>(i * 7);
    return true;
}

void tearDown() {
    if (gRawQueue >= 0) msgctl(gRawQueue, IPC_RMID, nullptr);
    const int id = msgget(veld::seam::sysvKey(kEventQueueKey), 0);
    if (id >= 0) msgctl(id, IPC_RMID, nullptr);
    VELD_HOST_FB_Unlink(veld::xdrv::kLayer);
    std::filesystem::remove_all(gRoot);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!setUp()) {
        std::fprintf(stderr, "xdrv_bench: cannot set up the queue and display\n");
        tearDown();
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    printRatios();
    tearDown();
    return 0;
}
