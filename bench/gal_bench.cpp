// The 2D GPU driver's kernel path against the simulated GPU kernel (veld_gpu, started here in a
// private root and namespace):
//  - one kernel request round trip through gcoOS_DeviceControl against a raw ioctl that does
//    nothing (FIONREAD on a pipe): what the device seam and the simulator add to a request;
//  - allocate + lock + unlock + free of 4 KiB of video memory (gcoOS_AllocateVideoMemory,
//    gcoOS_FreeVideoMemory: five requests) against malloc + free and mmap + munmap of the same
//    size;
//  - LoadState32 of 1000 states (and one commit) against writing the same words into an array;
//  - a one-rectangle 256 x 256 clear, API to executed (state loads, draw, commit with stall),
//    against memset of the same rectangle;
//  - the stream decoder against a plain scan of the same words (target within 3x);
//  - a 1920 x 1080 x 32 clear through the 2D engine and commit against memset (the software
//    core's raw speed; target within 1.5x);
//  - a 1920 x 1080 A8R8G8B8 copy blit, API to executed, against memcpy and pixman_blt (target
//    within 1.5x of memcpy);
//  - the driver's overhead per operation: 8 x 8 copy blits, one per commit, against running the
//    same frame on the simulator's 2D core directly;
//  - A8R8G8B8 to R5G6B5 of 1920 x 1080 against pixman's SRC composite (target: faster, or within
//    1.2x), and a nearest stretch to 1920 x 1080 against pixman's nearest scaling (within 1.5x).
//  - a 5-tap filter blit that scales one direction of 1920 x 1080 only, through the split blit
//    against the plain two passes forced on the same settings (reported);
//  - gcoHEAP allocate + free against malloc + free (target within 1.5x), and a brush-cache hit
//    (ID, lookup and release of a 296-byte signature among 8 cached brushes) against a
//    std::unordered_map lookup of the same signature (reported).
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
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include <pixman.h>

#include <array>
#include <iterator>
#include <memory>

#include "bench_support.h"
#include "core2d.h"
#include "gpu_device.h"
#include "command_stream.h"
#include "gal/gal_internal.h"
#include "gal_hal.h"
#include "gal_hardware.h"
#include "gal_2d.h"
#include "gal_brush.h"
#include "gal_request.h"
#include "gal_states.h"
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

constexpr uint32_t kStates = 1000;

void loadStates() {
    for (uint32_t i = 0; i < kStates; ++i) gcoHARDWARE_LoadState32(nullptr, 0x8000 + 4 * (i % 64), i);
    gcoHARDWARE_Commit(nullptr);
}

void arrayStates() {
    static std::vector<uint32_t> words(2 * kStates);
    for (uint32_t i = 0; i < kStates; ++i) {
        words[2 * i] = 0x08010000u | ((0x8000 + 4 * (i % 64)) >> 2);
        words[2 * i + 1] = i;
    }
    benchmark::DoNotOptimize(words.data());
}

// A target of w x h 32-bit pixels in video memory.
struct Target {
    uint32_t node = 0, gpu = 0, width, height;
    size_t bytes;
    void* logical = nullptr;
    Target(uint32_t w, uint32_t h) : width(w), height(h), bytes(size_t(w) * h * 4) {
        gcoOS_AllocateVideoMemory(nullptr, 0, &bytes, &gpu, &logical, &node);
    }
};

Target& fullHd() {
    static Target t(1920, 1080);
    return t;
}
Target& small() {
    static Target t(256, 256);
    return t;
}

gco2D engine2D() {
    gco2D e = nullptr;
    gcoHAL_Get2DEngine(nullptr, &e);
    return e;
}

// One clear of the whole target through the 2D engine: its frame, commit and stall.
void driverClear(Target& t, uint32_t colour) {
    gco2D e = engine2D();
    gco2D_SetTargetEx(e, t.gpu, t.width * 4, 0, t.width, t.height);
    const gcsRECT rect{0, 0, int32_t(t.width), int32_t(t.height)};
    gco2D_Clear(e, 1, &rect, colour, 0xCC, 0xCC, 212);
    gcoHAL_Commit(nullptr, 1);
}

Target& fullHdSource() {
    static Target t(1920, 1080);
    return t;
}

// A copy blit of w x h pixels from `source` to `target` through the 2D engine.
void driverCopy(Target& source, Target& target, int32_t w, int32_t h) {
    gco2D e = engine2D();
    gco2D_SetColorSourceEx(e, source.gpu, source.width * 4, 212, 0, source.width, source.height,
                           0, 0, 0);
    const gcsRECT rect{0, 0, w, h};
    gco2D_SetSource(e, &rect);
    gco2D_SetTargetEx(e, target.gpu, target.width * 4, 0, target.width, target.height);
    gco2D_Blit(e, 1, &rect, 0xCC, 0xCC, 212);
    gcoHAL_Commit(nullptr, 1);
}

void memcpyCopy(Target& source, Target& target) {
    std::memcpy(target.logical, source.logical, target.bytes);
    benchmark::ClobberMemory();
}

void pixmanCopy(Target& source, Target& target) {
    pixman_blt(static_cast<uint32_t*>(source.logical), static_cast<uint32_t*>(target.logical),
               int(source.width), int(target.width), 32, 32, 0, 0, 0, 0, int(target.width),
               int(target.height));
    benchmark::ClobberMemory();
}

// An R5G6B5 1920 x 1080 target: the same bytes as 960 32-bit pixels a row.
Target& fullHd565() {
    static Target t(960, 1080);
    return t;
}

// A8R8G8B8 to R5G6B5 through the 2D engine.
void driverConvert(Target& source, Target& target) {
    gco2D e = engine2D();
    gco2D_SetColorSourceEx(e, source.gpu, source.width * 4, 212, 0, source.width, source.height,
                           0, 0, 0);
    const gcsRECT rect{0, 0, 1920, 1080};
    gco2D_SetSource(e, &rect);
    gco2D_SetGenericTarget(e, &target.gpu, 1, std::array<uint32_t, 1>{target.width * 4}.data(),
                           1, 1, 209, 0, 1920, 1080);
    gco2D_Blit(e, 1, &rect, 0xCC, 0xCC, 209);
    gcoHAL_Commit(nullptr, 1);
}

// A nearest stretch of the source's top-left 960 x 540 pixels to 1920 x 1080.
void driverStretch(Target& source, Target& target) {
    gco2D e = engine2D();
    gco2D_SetColorSourceEx(e, source.gpu, source.width * 4, 212, 0, source.width, source.height,
                           0, 0, 0);
    const gcsRECT from{0, 0, 960, 540}, to{0, 0, 1920, 1080};
    gco2D_SetSource(e, &from);
    gco2D_SetStretchRectFactors(e, &from, &to);
    gco2D_SetTargetEx(e, target.gpu, target.width * 4, 0, target.width, target.height);
    gco2D_StretchBlit(e, 1, &to, 0xCC, 0xCC, 212);
    gcoHAL_Commit(nullptr, 1);
}

struct PixmanImages {
    pixman_image_t* source;
    pixman_image_t* target565;
    pixman_image_t* target;
    pixman_image_t* scaled;
    PixmanImages() {
        Target& s = fullHdSource();
        source = pixman_image_create_bits(PIXMAN_a8r8g8b8, 1920, 1080,
                                          static_cast<uint32_t*>(s.logical), int(s.width * 4));
        target565 = pixman_image_create_bits(PIXMAN_r5g6b5, 1920, 1080,
                                             static_cast<uint32_t*>(fullHd565().logical), 3840);
        target = pixman_image_create_bits(PIXMAN_a8r8g8b8, 1920, 1080,
                                          static_cast<uint32_t*>(fullHd().logical), 7680);
        scaled = pixman_image_create_bits(PIXMAN_a8r8g8b8, 1920, 1080,
                                          static_cast<uint32_t*>(s.logical), int(s.width * 4));
        pixman_transform_t half;
        pixman_transform_init_scale(&half, pixman_double_to_fixed(0.5), pixman_double_to_fixed(0.5));
        pixman_image_set_transform(scaled, &half);
        pixman_image_set_filter(scaled, PIXMAN_FILTER_NEAREST, nullptr, 0);
    }
};

PixmanImages& pixmanImages() {
    static PixmanImages images;
    return images;
}

void pixmanConvert() {
    pixman_image_composite32(PIXMAN_OP_SRC, pixmanImages().source, nullptr,
                             pixmanImages().target565, 0, 0, 0, 0, 0, 0, 1920, 1080);
    benchmark::ClobberMemory();
}

void pixmanStretch() {
    pixman_image_composite32(PIXMAN_OP_SRC, pixmanImages().scaled, nullptr, pixmanImages().target,
                             0, 0, 0, 0, 0, 0, 1920, 1080);
    benchmark::ClobberMemory();
}

// The simulator's 2D core on its own, over a private copy of video memory, running the frame
// the driver builds for one 8 x 8 copy blit.
struct DirectCore {
    std::vector<uint8_t> memory;
    std::vector<uint32_t> words;
    std::vector<veld::gpusim::Command> commands;
    std::unique_ptr<veld::gpusim::Core2D> core;
    DirectCore() : memory(veld::gpusim::kVideoBytes) {
        driverCopy(fullHdSource(), fullHd(), 8, 8);
        const std::string path = veld::seam::path("/tmp/bench-stream.bin");
        veld::gpu_device::simControl("save-stream " + path);
        std::ifstream in(path, std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
        words.resize(bytes.size() / 4);
        std::memcpy(words.data(), bytes.data(), words.size() * 4);
        veld::gpusim::DecodeError error;
        veld::gpusim::decodeStream(words, commands, error);
        core = std::make_unique<veld::gpusim::Core2D>(
            memory.data(), *veld::gpusim::findProfile("plain"),
            [](uint64_t, uint64_t) { return true; }, [](const char*, uint64_t, uint64_t) {});
    }
    void run() {
        core->execute(commands);
        benchmark::ClobberMemory();
    }
};

DirectCore& directCore() {
    static DirectCore d;
    return d;
}

void memsetClear(Target& t, uint32_t colour) {
    std::memset(t.logical, int(colour & 0xFF), t.bytes);
    benchmark::ClobberMemory();
}

// A stream of state loads, as the driver writes them, for the decoder.
const std::vector<uint32_t>& sampleStream() {
    static const std::vector<uint32_t> words = [] {
        std::vector<uint32_t> w;
        for (int i = 0; i < 20000; ++i) {
            w.push_back(0x08030000u | (0x1228 >> 2));
            w.push_back(0x40000000u + uint32_t(i));
            w.push_back(7680);
            w.push_back(1920);
            w.push_back(0x08010000u | (0x12C0 >> 2));
            w.push_back(uint32_t(i));
        }
        return w;
    }();
    return words;
}

size_t decodeSample() {
    static std::vector<veld::gpusim::Command> commands;  // its memory is kept between runs
    commands.clear();
    veld::gpusim::DecodeError error;
    veld::gpusim::decodeStream(sampleStream(), commands, error);
    return commands.size();
}

uint32_t scanSample() {
    uint32_t sum = 0;
    for (uint32_t w : sampleStream()) sum += w;
    return sum;
}

void BM_LoadState32_Driver(benchmark::State& state) {
    for (auto _ : state) loadStates();
    state.SetItemsProcessed(int64_t(state.iterations()) * kStates);
}
BENCHMARK(BM_LoadState32_Driver)->UseRealTime();

void BM_LoadState32_Array(benchmark::State& state) {
    for (auto _ : state) arrayStates();
    state.SetItemsProcessed(int64_t(state.iterations()) * kStates);
}
BENCHMARK(BM_LoadState32_Array);

void BM_Clear256_Driver(benchmark::State& state) {
    uint32_t colour = 0;
    for (auto _ : state) driverClear(small(), ++colour);
}
BENCHMARK(BM_Clear256_Driver)->UseRealTime();

void BM_Clear256_Memset(benchmark::State& state) {
    uint32_t colour = 0;
    for (auto _ : state) memsetClear(small(), ++colour);
}
BENCHMARK(BM_Clear256_Memset);

void BM_Decode_Decoder(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(decodeSample());
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(sampleStream().size() * 4));
}
BENCHMARK(BM_Decode_Decoder);

void BM_Decode_WordScan(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(scanSample());
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(sampleStream().size() * 4));
}
BENCHMARK(BM_Decode_WordScan);

void BM_ClearFullHd_Driver(benchmark::State& state) {
    uint32_t colour = 0;
    for (auto _ : state) driverClear(fullHd(), ++colour);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(fullHd().bytes));
}
BENCHMARK(BM_ClearFullHd_Driver)->UseRealTime();

void BM_ClearFullHd_Memset(benchmark::State& state) {
    uint32_t colour = 0;
    for (auto _ : state) memsetClear(fullHd(), ++colour);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(fullHd().bytes));
}
BENCHMARK(BM_ClearFullHd_Memset);

void BM_CopyFullHd_Driver(benchmark::State& state) {
    for (auto _ : state) driverCopy(fullHdSource(), fullHd(), 1920, 1080);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(fullHd().bytes));
}
BENCHMARK(BM_CopyFullHd_Driver)->UseRealTime();

void BM_CopyFullHd_Memcpy(benchmark::State& state) {
    for (auto _ : state) memcpyCopy(fullHdSource(), fullHd());
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(fullHd().bytes));
}
BENCHMARK(BM_CopyFullHd_Memcpy);

void BM_CopyFullHd_Pixman(benchmark::State& state) {
    for (auto _ : state) pixmanCopy(fullHdSource(), fullHd());
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(fullHd().bytes));
}
BENCHMARK(BM_CopyFullHd_Pixman);

void BM_Blit8x8_Driver(benchmark::State& state) {
    for (auto _ : state) driverCopy(fullHdSource(), fullHd(), 8, 8);
}
BENCHMARK(BM_Blit8x8_Driver)->UseRealTime();

void BM_Blit8x8_CoreDirect(benchmark::State& state) {
    for (auto _ : state) directCore().run();
}
BENCHMARK(BM_Blit8x8_CoreDirect);
void BM_Convert565_Driver(benchmark::State& state) {
    for (auto _ : state) driverConvert(fullHdSource(), fullHd565());
}
BENCHMARK(BM_Convert565_Driver)->UseRealTime();

void BM_Convert565_Pixman(benchmark::State& state) {
    for (auto _ : state) pixmanConvert();
}
BENCHMARK(BM_Convert565_Pixman);

void BM_StretchNearest_Driver(benchmark::State& state) {
    for (auto _ : state) driverStretch(fullHdSource(), fullHd());
}
BENCHMARK(BM_StretchNearest_Driver)->UseRealTime();

void BM_StretchNearest_Pixman(benchmark::State& state) {
    for (auto _ : state) pixmanStretch();
}
BENCHMARK(BM_StretchNearest_Pixman);



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

// Wall nanoseconds per call of body(), `count` calls, after one untimed call (so that each
// side starts with its own data in the cache, not the previous row's peer's).
template <typename F>
double wallEach(F body, int count) {
    body();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) body();
    return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start)
               .count() /
           count;
}

void printRatios() {
    using veld::bench::median;
    constexpr int kRounds = 15;
    std::vector<double> request, raw, node, heap, mapping, loads, array, clear, clearBase, decode,
        scan, fullClear, fullBase, copy, copyBase, copyPixman, small8, direct8, convert, convertPixman, stretch, stretchPixman;
    for (int r = 0; r < kRounds; ++r) {
        raw.push_back(wallEach([] { rawIoctl(); }, 2000));
        request.push_back(wallEach([] { driverRequest(); }, 500));
        heap.push_back(wallEach(mallocNode, 2000));
        mapping.push_back(wallEach(mmapNode, 500));
        node.push_back(wallEach([] { driverNode(); }, 100));
        array.push_back(wallEach(arrayStates, 200));
        loads.push_back(wallEach(loadStates, 20));
        clearBase.push_back(wallEach([] { memsetClear(small(), 3); }, 200));
        clear.push_back(wallEach([] { driverClear(small(), 3); }, 20));
        // Both run in this thread: its CPU time, which other processes do not inflate.
        scan.push_back(veld::bench::nanosEach([](int) { benchmark::DoNotOptimize(scanSample()); }, 50));
        decode.push_back(veld::bench::nanosEach([](int) { benchmark::DoNotOptimize(decodeSample()); }, 50));
        fullBase.push_back(wallEach([] { memsetClear(fullHd(), 3); }, 5));
        fullClear.push_back(wallEach([] { driverClear(fullHd(), 3); }, 5));
        copyBase.push_back(wallEach([] { memcpyCopy(fullHdSource(), fullHd()); }, 5));
        copyPixman.push_back(wallEach([] { pixmanCopy(fullHdSource(), fullHd()); }, 5));
        copy.push_back(wallEach([] { driverCopy(fullHdSource(), fullHd(), 1920, 1080); }, 5));
        direct8.push_back(wallEach([] { directCore().run(); }, 200));
        convertPixman.push_back(wallEach(pixmanConvert, 5));
        convert.push_back(wallEach([] { driverConvert(fullHdSource(), fullHd565()); }, 5));
        stretchPixman.push_back(wallEach(pixmanStretch, 5));
        stretch.push_back(wallEach([] { driverStretch(fullHdSource(), fullHd()); }, 5));
        small8.push_back(wallEach([] { driverCopy(fullHdSource(), fullHd(), 8, 8); }, 50));
    }
    veld::bench::printCpu();
    std::printf("\nmedians of %d interleaved rounds (wall time):\n", kRounds);
    std::printf("  kernel request round trip (gcoOS_DeviceControl to the simulator): %.2f us;"
                " raw FIONREAD ioctl %.3f us; ratio %.0f\n",
                median(request) / 1000, median(raw) / 1000, median(request) / median(raw));
    std::printf("  4 KiB video memory allocate+lock+unlock+free: %.2f us; malloc+free %.3f us"
                " (ratio %.0f); mmap+munmap %.2f us (ratio %.1f)\n",
                median(node) / 1000, median(heap) / 1000, median(node) / median(heap),
                median(mapping) / 1000, median(node) / median(mapping));
    std::printf("  LoadState32 x %u with one commit: %.1f us; the same words into an array %.2f us;"
                " ratio %.0f\n",
                kStates, median(loads) / 1000, median(array) / 1000, median(loads) / median(array));
    std::printf("  256 x 256 clear, API to executed: %.1f us (%.0f frames/s); memset %.2f us;"
                " ratio %.0f\n",
                median(clear) / 1000, 1e9 / median(clear), median(clearBase) / 1000,
                median(clear) / median(clearBase));
    std::printf("  decoder over %zu words (thread CPU time): %.1f us; plain word scan %.1f us; ratio %.2f"
                " (target <= 3)\n",
                sampleStream().size(), median(decode) / 1000, median(scan) / 1000,
                median(decode) / median(scan));
    std::printf("  1920 x 1080 x 32 clear through commit: %.0f us; memset %.0f us; ratio %.2f"
                " (target <= 1.5)\n",
                median(fullClear) / 1000, median(fullBase) / 1000,
                median(fullClear) / median(fullBase));
    std::printf("  1920 x 1080 A8R8G8B8 copy blit, API to executed: %.0f us; memcpy %.0f us"
                " (ratio %.2f, target <= 1.5); pixman_blt %.0f us (ratio %.2f)\n",
                median(copy) / 1000, median(copyBase) / 1000, median(copy) / median(copyBase),
                median(copyPixman) / 1000, median(copy) / median(copyPixman));
    std::printf("  8 x 8 copy blit, one per commit: %.1f us; the same frame on the 2D core"
                " directly %.2f us; driver overhead per operation %.1f us (ratio %.0f)\n",
                median(small8) / 1000, median(direct8) / 1000,
                (median(small8) - median(direct8)) / 1000, median(small8) / median(direct8));
    std::printf("  1920 x 1080 A8R8G8B8 to R5G6B5, API to executed: %.0f us; pixman SRC composite"
                " %.0f us; ratio %.2f (target: faster, or within 1.2)\n",
                median(convert) / 1000, median(convertPixman) / 1000,
                median(convert) / median(convertPixman));
    std::printf("  nearest stretch 960 x 540 to 1920 x 1080, API to executed: %.0f us; pixman"
                " nearest %.0f us; ratio %.2f (target <= 1.5)\n",
                median(stretch) / 1000, median(stretchPixman) / 1000,
                median(stretch) / median(stretchPixman));


}

double filterPlainNanos = 0;

// A 5-tap filter blit of the 1920 x 1080 source that scales one direction only (to 1280 wide,
// or to 720 high), API to executed: through gco2D_FilterBlitEx, which takes the split blit (one
// pass straight into the target), or forced through the plain two passes (gcoHARDWARE_FilterBlit
// on the settings the Ex form left).
// Shape 0 scales the width, 1 the height, 2 both (to 960 x 540) with a band of a quarter of the
// destination's rows as the sub-rectangle.
void driverFilter(bool split, int shape) {
    gco2D e = engine2D();
    Target& s = fullHdSource();
    Target& t = fullHd();
    const gcsRECT from{0, 0, 1920, 1080};
    const gcsRECT shapes[3] = {{0, 0, 1280, 1080}, {0, 0, 1920, 720}, {0, 0, 960, 540}};
    const gcsRECT subs[3] = {{0, 0, 1280, 1080}, {0, 0, 1920, 720}, {0, 200, 960, 335}};
    const gcsRECT& to = shapes[shape];
    gco2D_SetKernelSize(e, 5, 5);
    gco2D_SetFilterType(e, 0);
    gco2D_FilterBlitEx(e, s.gpu, s.width * 4, 0, 0, 0, 0, 212, 0, s.width, s.height, &from, t.gpu,
                       t.width * 4, 212, 0, t.width, t.height, &to, &subs[shape]);
    if (!split) {
        // The settings stay as the Ex form left them; its own blit is not committed.
        gcoHAL_Commit(nullptr, 1);
        const auto start = std::chrono::steady_clock::now();
        gcoHARDWARE_FilterBlit(nullptr, e, &from, &to, &subs[shape]);
        gcoHAL_Commit(nullptr, 1);
        filterPlainNanos = double(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                      std::chrono::steady_clock::now() - start).count());
        return;
    }
    gcoHAL_Commit(nullptr, 1);
}

void printFilterSplit() {
    using veld::bench::median;
    constexpr int kRounds = 7;
    static const char* kShapes[3] = {"1920 x 1080 -> 1280 x 1080", "1920 x 1080 -> 1920 x 720",
                                     "1920 x 1080 -> 960 x 540, sub-rectangle rows 200 to 335"};
    for (int shape = 0; shape < 3; ++shape) {
        std::vector<double> split, plain;
        driverFilter(true, shape);
        for (int r = 0; r < kRounds; ++r) {
            driverFilter(false, shape);
            plain.push_back(filterPlainNanos);
            split.push_back(wallEach([shape] { driverFilter(true, shape); }, 1));
        }
        std::printf("  5-tap filter blit %s (wall, API to executed): split %.0f us; plain two passes"
                    " %.0f us; ratio %.2f\n",
                    kShapes[shape], median(split) / 1000, median(plain) / 1000, median(split) / median(plain));
    }
}

// The heap and the brush cache. Both run in this thread: timed in its CPU time.
constexpr size_t kHeapBlock = 64;

void heapPair(gcoHEAP heap) {
    void* p = nullptr;
    gcoHEAP_Allocate(heap, kHeapBlock, &p);
    benchmark::DoNotOptimize(p);
    gcoHEAP_Free(heap, p);
}

void mallocPair() {
    void* p = std::malloc(kHeapBlock);
    benchmark::DoNotOptimize(p);
    std::free(p);
}

gcoHEAP benchHeap() {
    static gcoHEAP heap = [] {
        gcoHEAP h = nullptr;
        gcoHEAP_Construct(nullptr, 0, &h);
        return h;
    }();
    return heap;
}

// Eight monochrome brushes in the thread engine's cache, and the signature of the last one.
struct BrushSet {
    gcoBRUSH_CACHE cache = nullptr;
    std::vector<uint8_t> signature = std::vector<uint8_t>(gcdBRUSH_SIGNATURE_BYTES);
    uint32_t size = gcdBRUSH_SIGNATURE_BYTES;
    std::unordered_map<std::string, gcoBRUSH> map;
    std::string key;
    BrushSet() {
        gco2D e = nullptr;
        gcoHAL_Get2DEngine(nullptr, &e);
        gco2D_GetBrushCache(e, &cache);
        gcoBRUSH brush = nullptr;
        for (uint32_t i = 0; i < 8; ++i) {
            gcoBRUSH_ConstructMonochrome(nullptr, i, 0, 1, 0xFF000000u | i, 0xFFFFFFFFu,
                                         0x55AA55AA55AA55AAull + i, 0, &brush);
            size = gcdBRUSH_SIGNATURE_BYTES;
            gcoBRUSH_GetBrushData(brush, signature.data(), &size);
            map.emplace(std::string(reinterpret_cast<const char*>(signature.data()), size), brush);
        }
        key.assign(reinterpret_cast<const char*>(signature.data()), size);
    }
};

BrushSet& brushSet() {
    static BrushSet set;
    return set;
}

// A hit: the signature's ID, the lookup, and the release of the reference the hit hands out.
bool brushHit() {
    BrushSet& b = brushSet();
    uint32_t id = 0;
    gcoBRUSH found = nullptr;
    gcoBRUSH_CACHE_GetBrushID(b.cache, b.signature.data(), b.size, &id);
    if (gcoBRUSH_CACHE_GetBrush(b.cache, id, b.signature.data(), b.size, &found) != gcvSTATUS_OK)
        return false;
    return gcoBRUSH_CACHE_DeleteBrush(b.cache, found) == gcvSTATUS_OK;
}

bool mapHit() {
    BrushSet& b = brushSet();
    auto it = b.map.find(b.key);
    benchmark::DoNotOptimize(it);
    return it != b.map.end();
}

void BM_HeapAllocFree_Heap(benchmark::State& state) {
    for (auto _ : state) heapPair(benchHeap());
}
BENCHMARK(BM_HeapAllocFree_Heap);

void BM_HeapAllocFree_Malloc(benchmark::State& state) {
    for (auto _ : state) mallocPair();
}
BENCHMARK(BM_HeapAllocFree_Malloc);

void BM_BrushHit_Cache(benchmark::State& state) {
    for (auto _ : state)
        if (!brushHit()) state.SkipWithError("brush not cached");
}
BENCHMARK(BM_BrushHit_Cache);

void BM_BrushHit_UnorderedMap(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(mapHit());
}
BENCHMARK(BM_BrushHit_UnorderedMap);

void printHeapAndBrushRatios() {
    using veld::bench::median;
    using veld::bench::nanosEach;
    constexpr int kRounds = 15;
    std::vector<double> heap, system, hit, map;
    for (int r = 0; r < kRounds; ++r) {
        system.push_back(nanosEach([](int) { mallocPair(); }, 20000));
        heap.push_back(nanosEach([](int) { heapPair(benchHeap()); }, 20000));
        map.push_back(nanosEach([](int) { benchmark::DoNotOptimize(mapHit()); }, 20000));
        hit.push_back(nanosEach([](int) { benchmark::DoNotOptimize(brushHit()); }, 20000));
    }
    std::printf("  gcoHEAP allocate+free of %zu bytes (thread CPU time): %.1f ns; malloc+free"
                " %.1f ns; ratio %.2f (target <= 1.5)\n",
                kHeapBlock, median(heap), median(system), median(heap) / median(system));
    std::printf("  brush-cache hit (ID, lookup, release; 8 brushes): %.1f ns; std::unordered_map"
                " lookup of the same %u-byte signature %.1f ns; ratio %.2f\n",
                median(hit), brushSet().size, median(map), median(hit) / median(map));
}

}  // namespace

int main(int argc, char** argv) {
    if (!startSimulator()) {
        std::fprintf(stderr, "gal_bench: the GPU simulator did not start\n");
        stopSimulator();
        return 1;
    }
    // "--filter-split-only" prints the filter blit figures alone.
    const bool filterOnly = argc > 1 && std::strcmp(argv[argc - 1], "--filter-split-only") == 0;
    if (filterOnly) --argc;
    benchmark::Initialize(&argc, argv);
    if (!filterOnly) {
        benchmark::RunSpecifiedBenchmarks();
        printRatios();
        printHeapAndBrushRatios();
    } else {
        veld::bench::printCpu();
    }
    printFilterSplit();
    stopSimulator();
    return 0;
}
