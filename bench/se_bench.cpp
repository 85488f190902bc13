// The secure engine against its physical baselines, in one run: the lock uncontended against a
// raw sem_wait + sem_post, a two-process lock hand-off against a raw semaphore hand-off, a
// 16-byte random request through the channel against a raw round trip of the same size to the
// same simulator, and a 1 MiB block operation against OpenSSL's AES-CBC of the same data.
// Google Benchmark rows first, then interleaved medians and their ratios with the CPU flags.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "se_bench_support.h"
#include "se_core.h"
#include "se_device.h"
#include "se_engine.h"
#include "seam.h"

namespace {

namespace wire = veld::seDevice::wire;
using veld::bench::median;

veld::bench::TrustedWorldRoot gWorld;
sem_t* gRawSem = nullptr;
VELD_SE_CTX gCtx{};
uint8_t gKey[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
uint8_t gIv[16] = {16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1};
VELD_SE_CHAIN gKeyChain{reinterpret_cast<uintptr_t>(gKey), 16};
VELD_SE_CHAIN gIvChain{reinterpret_cast<uintptr_t>(gIv), 16};
std::vector<uint8_t> gData(1 << 20);


void stopAll() {
    if (gRawSem) sem_close(gRawSem);
    gWorld.stop();
}

// ---- the peers ----

void rawLock() {
    sem_wait(gRawSem);
    sem_post(gRawSem);
}
void engineLock() {
    VELD_SE_L000();
    VELD_SE_L001();
}

int gEchoFd = -1;
void rawEcho16() {
    uint8_t data[16] = {}, out[16];
    wire::Request request{wire::kEcho, 0, 0, 0, 16, 0};
    wire::Reply reply{};
    wire::call(gEchoFd, request, data, reply, out, sizeof out);
}
void engineRandom16() {
    uint8_t out[16];
    VELD_SE_G010(out, 16);
}

void engineBlock1M() {
    VELD_SE_BLOCK_OP op{0, {0, 0}, 3, 0, 0, 16, 0, reinterpret_cast<uintptr_t>(gData.data()), 0,
                        reinterpret_cast<uintptr_t>(gData.data()), static_cast<uint32_t>(gData.size())};
    VELD_SE_G011(&gCtx, &op);
}
void opensslBlock1M() {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int n = 0;
    EVP_EncryptInit_ex(ctx, EVP_aes_128_cbc(), nullptr, gKey, gIv);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_EncryptUpdate(ctx, gData.data(), &n, gData.data(), static_cast<int>(gData.size()));
    EVP_CIPHER_CTX_free(ctx);
}

void BM_RawSemaphore(benchmark::State& state) { for (auto _ : state) rawLock(); }
BENCHMARK(BM_RawSemaphore);
void BM_EngineLockUnlock(benchmark::State& state) { for (auto _ : state) engineLock(); }
BENCHMARK(BM_EngineLockUnlock);
void BM_RawSimulatorRoundTrip16(benchmark::State& state) { for (auto _ : state) rawEcho16(); }
BENCHMARK(BM_RawSimulatorRoundTrip16);
void BM_EngineRandom16(benchmark::State& state) { for (auto _ : state) engineRandom16(); }
BENCHMARK(BM_EngineRandom16);
void BM_OpenSslAesCbc1MiB(benchmark::State& state) {
    for (auto _ : state) opensslBlock1M();
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(gData.size()));
}
BENCHMARK(BM_OpenSslAesCbc1MiB);
void BM_EngineBlockOperation1MiB(benchmark::State& state) {
    for (auto _ : state) engineBlock1M();
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(gData.size()));
}
BENCHMARK(BM_EngineBlockOperation1MiB);

// Nanoseconds per hand-off: two processes take strict turns (a shared turn word), each turn
// being lock, pass the turn, unlock. `engine` picks the engine's lock or the raw semaphore.
double handOffNs(bool engine, int rounds) {
    auto* turn = static_cast<volatile uint32_t*>(
        mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    *turn = 0;
    auto play = [&](uint32_t me) {
        for (int i = 0; i < rounds; ++i) {
            while (*turn % 2 != me) {
            }
            if (engine) VELD_SE_L000();
            else sem_wait(gRawSem);
            *turn = *turn + 1;
            if (engine) VELD_SE_L001();
            else sem_post(gRawSem);
        }
    };
    const double start = veld::bench::nowNs();
    const pid_t other = fork();
    if (other == 0) {
        play(1);
        _exit(0);
    }
    play(0);
    waitpid(other, nullptr, 0);
    const double ns = (veld::bench::nowNs() - start) / (2.0 * rounds);
    munmap(const_cast<uint32_t*>(turn), 4096);
    return ns;
}

using veld::bench::interleaved;

void printRatios() {
    std::printf("\nsecure engine against its peers (interleaved medians); CPU flags:%s\n",
                veld::bench::cpuFlags().c_str());
    std::printf("%-44s %15s %15s %8s\n", "", "ours", "peer", "ratio");
    interleaved("L000+L001 / sem_wait+sem_post (CPU time)", engineLock, rawLock, 200, 1000, 1.5, true);
    std::vector<double> ours, peer;
    for (int i = 0; i < 7; ++i) {
        ours.push_back(handOffNs(true, 3000));
        peer.push_back(handOffNs(false, 3000));
    }
    const double mo = median(ours), mp = median(peer);
    std::printf("%-44s %12.0f ns %12.0f ns %8.2f   (target within 1.5x)\n",
                "two-process hand-off / raw semaphore", mo, mp, mo / mp);
    interleaved("random 16 B (cmd 24) / raw 16 B round trip", engineRandom16, rawEcho16, 400, 50, 1.3);
    interleaved("block op 1 MiB / OpenSSL AES-128-CBC 1 MiB", engineBlock1M, opensslBlock1M, 15, 2, 0);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!gWorld.start("/tmp/vsb.XXXXXX", "vsbench")) {
        std::fprintf(stderr, "se_bench: the trusted-world simulator did not start\n");
        stopAll();
        return 1;
    }
    gRawSem = sem_open(veld::seam::ipcName("veld-bench-raw").c_str(), O_CREAT, 0600, 1);
    sem_unlink(veld::seam::ipcName("veld-bench-raw").c_str());
    gEchoFd = wire::connectSimulator();
    if (VELD_SE_Initialize(nullptr) != 0 || VELD_SE_G000(&gCtx) != 0 ||
        VELD_SE_G002(&gCtx, &gKeyChain) != 0 || VELD_SE_G005(&gCtx, &gIvChain) != 0 || gEchoFd < 0) {
        std::fprintf(stderr, "se_bench: the engine did not attach (see %s/se.log)\n", gWorld.root.c_str());
        stopAll();
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    printRatios();
    stopAll();
    return 0;
}
