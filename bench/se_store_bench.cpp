// The secure store against its physical baselines, in one run, on the board's flash files under
// a private root with the trusted-world simulator: a 4 KiB record written and updated with
// 64 KiB already used against two pwrite + fsync of the same image bytes and one read-back; a
// 4 KiB record protected and read back against OpenSSL's AES-128-CBC and HMAC-SHA256 of the
// same data both ways; the initialisation of a full store against one 512 KiB read and one
// HMAC-SHA256 of a copy. Interleaved wall-clock medians, their ratios and the CPU flags.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <signal.h>
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
#include "board_flash.h"
#include "se_core.h"
#include "se_engine.h"
#include "se_hooks.h"
#include "se_store.h"
#include "seam.h"

namespace {

using veld::bench::median;

veld::bench::TrustedWorldRoot gWorld;
int gPeerFd = -1;
std::vector<uint8_t> gRecord(4096), gProtected(4096), gReadBack(4096), gImage(0x10000 + 4096 + 148);
VELD_SE_SS_RECORD gStored{};
uint8_t gKey[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
uint8_t gMacKey[32] = {7};


void stopAll() {
    if (gPeerFd >= 0) close(gPeerFd);
    gWorld.stop();
}

// A protected record of `size` bytes written under `name`.
bool put(const char* name, size_t size) {
    std::vector<uint8_t> data(size, 0x3C);
    VELD_SE_SS_RECORD r{};
    r.length = static_cast<uint32_t>(size);
    r.pData = reinterpret_cast<uintptr_t>(data.data());
    return VELD_SE_SS001(&r) == 0 && VELD_SE_SS008(name, &r) == 0;
}

// ---- the rows ----

void storeUpdate4K() {
    VELD_SE_SS008("bench-record", &gStored);
    VELD_SE_SS011();
}

// Two copies of the same bytes, each synced, and the first read back.
void peerUpdate() {
    pwrite(gPeerFd, gImage.data(), gImage.size(), 0);
    fsync(gPeerFd);
    pwrite(gPeerFd, gImage.data(), gImage.size(), 0x40000);
    fsync(gPeerFd);
    std::vector<uint8_t> back(gImage.size());
    pread(gPeerFd, back.data(), back.size(), 0);
    benchmark::DoNotOptimize(back.data());
}

void storeProtectAndRead4K() {
    std::memcpy(gProtected.data(), gRecord.data(), gRecord.size());
    VELD_SE_SS_RECORD r{};
    r.length = 4096;
    r.pData = reinterpret_cast<uintptr_t>(gProtected.data());
    VELD_SE_SS001(&r);
    VELD_SE_SS_RECORD back{};
    back.length = 4096;
    back.pData = reinterpret_cast<uintptr_t>(gReadBack.data());
    VELD_SE_SS006("bench-record", &back);
    VELD_SE_SS003(&back);
}

void aesCbc(bool encrypt, const uint8_t* in, uint8_t* out, int length) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int n = 0;
    EVP_CipherInit_ex(ctx, EVP_aes_128_cbc(), nullptr, gKey, gKey, encrypt ? 1 : 0);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_CipherUpdate(ctx, out, &n, in, length);
    EVP_CIPHER_CTX_free(ctx);
}

void peerProtectAndRead4K() {
    uint8_t mac[32];
    unsigned int n = 0;
    aesCbc(true, gRecord.data(), gProtected.data(), 4096);
    HMAC(EVP_sha256(), gMacKey, sizeof gMacKey, gProtected.data(), 4096, mac, &n);
    HMAC(EVP_sha256(), gMacKey, sizeof gMacKey, gProtected.data(), 4096, mac, &n);
    aesCbc(false, gProtected.data(), gReadBack.data(), 4096);
    benchmark::DoNotOptimize(mac);
}

void storeInitialiseFull() {
    using namespace veld::se;
    seLock();
    ProcessRecord* p = getProcessRecord();
    p->pSharedInfo->bInitSeStore = 0;
    storeInitialize(*p);
    seUnlock();
}

void peerInitialiseFull() {
    const std::string path = veld::sim::partitionPath(veld::sim::kFlashPartitions[0]);
    std::vector<uint8_t> flash(0x80000);
    const int fd = open(path.c_str(), O_RDONLY);
    pread(fd, flash.data(), flash.size(), 0);
    close(fd);
    uint8_t mac[32];
    unsigned int n = 0;
    HMAC(EVP_sha256(), gMacKey, sizeof gMacKey, flash.data(), 0x40000, mac, &n);
    benchmark::DoNotOptimize(mac);
}

void BM_PeerUpdate(benchmark::State& state) { for (auto _ : state) peerUpdate(); }
BENCHMARK(BM_PeerUpdate)->Iterations(20);
void BM_StoreWriteAndUpdate4KiB(benchmark::State& state) { for (auto _ : state) storeUpdate4K(); }
BENCHMARK(BM_StoreWriteAndUpdate4KiB)->Iterations(20);
void BM_PeerAesCbcHmac4KiB(benchmark::State& state) { for (auto _ : state) peerProtectAndRead4K(); }
BENCHMARK(BM_PeerAesCbcHmac4KiB);
void BM_StoreProtectAndRead4KiB(benchmark::State& state) { for (auto _ : state) storeProtectAndRead4K(); }
BENCHMARK(BM_StoreProtectAndRead4KiB);

template <typename A, typename B>
void interleaved(const char* what, A ours, B peer, int samples, int batch, double target) {
    const auto [mo, mp] = veld::bench::interleavedNs(ours, peer, samples, batch);
    std::printf("%-58s %10.1f us %10.1f us %7.2f", what, mo / 1000, mp / 1000, mo / mp);
    if (target > 0) std::printf("   (target within %.1fx)", target);
    std::printf("\n");
}

bool fillStore() {
    // 64 KiB used around the 4 KiB record.
    for (int i = 0; i < 15; ++i)
        if (!put(("filler-" + std::to_string(i)).c_str(), 3936)) return false;
    std::memset(gRecord.data(), 0x5A, gRecord.size());
    std::memcpy(gProtected.data(), gRecord.data(), gRecord.size());
    gStored.length = 4096;
    gStored.pData = reinterpret_cast<uintptr_t>(gProtected.data());
    if (VELD_SE_SS001(&gStored) != 0 || VELD_SE_SS008("bench-record", &gStored) != 0) return false;
    std::printf("store used size: %u bytes\n", veld::se::processRecord().pSharedInfo->seStoreUsage);
    gImage.resize(veld::se::processRecord().pSharedInfo->seStoreUsage, 0x11);
    return VELD_SE_SS011() == 0;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    // The flash files on the machine's disk, where fsync costs what it costs.
    if (!gWorld.start("/var/tmp/vss.XXXXXX", "vssbench") || !veld::sim::makeBoardFlash().empty()) {
        std::fprintf(stderr, "se_store_bench: the trusted-world simulator did not start\n");
        stopAll();
        return 1;
    }
    gPeerFd = open((gWorld.root + "/peer.bin").c_str(), O_RDWR | O_CREAT, 0600);
    if (VELD_SE_Initialize(nullptr) != 0 || !fillStore() || gPeerFd < 0) {
        std::fprintf(stderr, "se_store_bench: the store did not start (see %s/se.log)\n", gWorld.root.c_str());
        stopAll();
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();

    std::printf("\nsecure store against its peers (interleaved wall-clock medians, files in %s); "
                "CPU flags:%s\n", gWorld.root.c_str(), veld::bench::cpuFlags().c_str());
    std::printf("%-58s %13s %13s %7s\n", "", "ours", "peer", "ratio");
    interleaved("4 KiB write + update, 64 KiB used / 2x pwrite+fsync + read", storeUpdate4K, peerUpdate,
                15, 2, 3.0);
    interleaved("4 KiB protect + read back / OpenSSL AES-CBC + HMAC-SHA256", storeProtectAndRead4K,
                peerProtectAndRead4K, 25, 20, 0);
    // A full store: records up to the limit, then initialised from flash.
    for (int i = 0; i < 5; ++i) put(("full-" + std::to_string(i)).c_str(), 32768 - 80);
    const uint32_t left = 0x3FFF8 - veld::se::processRecord().pSharedInfo->seStoreUsage - 68 - 80;
    put("full-last", left / 16 * 16);
    VELD_SE_SS011();
    std::printf("full store used size: %u bytes\n", veld::se::processRecord().pSharedInfo->seStoreUsage);
    interleaved("initialise a full store / 512 KiB read + HMAC-SHA256", storeInitialiseFull,
                peerInitialiseFull, 15, 2, 0);
    std::fflush(stdout);
    stopAll();
    return 0;
}
