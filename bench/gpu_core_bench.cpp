// The GPU simulator's software 2D core on its own (decode and execute of a committed stream,
// no driver and no kernel round trip), against its physical baselines and pixman:
//  - a 1920 x 1080 A8R8G8B8 copy blit against memcpy and pixman_blt (target within 1.5x of
//    memcpy);
//  - A8R8G8B8 to R5G6B5 of the same size against pixman's SRC composite (target: within 1.2x);
//  - a nearest stretch from 960 x 540 to 1920 x 1080 against pixman's nearest scaling (target
//    within 1.5x);
//  - a 1920 x 1080 A8R8G8B8 OVER blend (Porter-Duff SrcOver on premultiplied colour) against
//    pixman's OVER composite (target: within 1.2x);
//  - one 8 x 8 blit per stream: the executor's own cost per operation (the driver's overhead
//    is measured against this figure).
// After the Google Benchmark rows it prints medians of interleaved rounds (thread CPU time)
// and their ratios, with the CPU's model and flags.
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "blend_rows.h"
#include "gpu_core_support.h"
#include "gal_states.h"

namespace {

using veld::gpusim::kGpuBase;

constexpr uint32_t kW = 1920, kH = 1080;
constexpr uint64_t kSource = 0, kTarget = 16u << 20, kTarget16 = 32u << 20, kSmall = 40u << 20;
constexpr uint64_t kMemory = 48u << 20;

// Video memory with the source images filled in.
veld::bench::CoreMachine& machine() {
    static veld::bench::CoreMachine m(kMemory, "gpu_core_bench");
    static const bool filled = [] {
        uint8_t* source = m.at(0);
        for (size_t i = 0; i < size_t(kW) * kH * 4; ++i) source[kSource + i] = uint8_t(i * 131 + (i >> 12));
        return true;
    }();
    (void)filled;
    return m;
}

// A blit (command 2) or stretch (command 4) of a 32-bit source into a target of `format`.
std::vector<uint32_t> blitStream(uint32_t command, uint32_t format, uint64_t target, uint32_t bytes,
                                 uint32_t sw, uint32_t sh, uint32_t dw, uint32_t dh) {
    std::vector<uint32_t> w;
    veld::bench::loadState(w, GAL_STATE_TARGET_ADDRESS, {uint32_t(kGpuBase + target), dw * bytes, dw});
    veld::bench::loadState(w, GAL_STATE_TARGET_CONFIG, {GAL_DEST_CONFIG(format, command)});
    veld::bench::loadState(w, GAL_STATE_TARGET_HEIGHT, {dh});
    veld::bench::loadState(w, GAL_STATE_CLIP_TOP_LEFT, {0, dw | dh << 16});
    veld::bench::loadState(w, GAL_STATE_ROTATION, {0xFFFFFFFFu & ~0x33Fu});
    veld::bench::loadState(w, GAL_STATE_ROP, {GAL_ROP_WORD(0xCC, 0xCC)});
    veld::bench::loadState(w, GAL_STATE_SOURCE_ADDRESS,
         {uint32_t(kGpuBase + kSource), sw * 4, sw, GAL_HW_FORMAT_A8R8G8B8 << GAL_SOURCE_CONFIG_FORMAT_SHIFT});
    veld::bench::loadState(w, GAL_STATE_SOURCE_HEIGHT, {sh});
    veld::bench::loadState(w, GAL_STATE_SOURCE_ORIGIN, {0, sw | sh << 16});
    if (command == GAL_HW_STRETCH) veld::bench::loadState(w, GAL_STATE_STRETCH_H, {(sw << 16) / dw, (sh << 16) / dh});
    w.insert(w.end(), {GAL_START_DE_WORD, 0, 0, dw | dh << 16});
    veld::bench::loadState(w, GAL_STATE_FLUSH, {8});
    return w;
}

const std::vector<uint32_t>& copyStream() {
    static const auto w = blitStream(GAL_HW_BITBLIT, GAL_HW_FORMAT_A8R8G8B8, kTarget, 4, kW, kH, kW, kH);
    return w;
}
const std::vector<uint32_t>& convertStream() {
    static const auto w = blitStream(GAL_HW_BITBLIT, GAL_HW_FORMAT_R5G6B5, kTarget16, 2, kW, kH, kW, kH);
    return w;
}
const std::vector<uint32_t>& stretchStream() {
    static const auto w = blitStream(GAL_HW_STRETCH, GAL_HW_FORMAT_A8R8G8B8, kTarget, 4, kW / 2, kH / 2, kW, kH);
    return w;
}
const std::vector<uint32_t>& overStream() {
    static const auto w = [] {
        std::vector<uint32_t> blend;
        // SrcOver: source factor one, target factor the source's inverse alpha.
        veld::bench::loadState(blend, GAL_STATE_ALPHA_CONTROL, {1u | 0xFFu << 8 | 0xFFu << 16, 1u << 8 | 3u << 12});
        veld::bench::loadState(blend, GAL_STATE_MULTIPLY, {0});
        auto w = blitStream(GAL_HW_BITBLIT, GAL_HW_FORMAT_A8R8G8B8, kTarget, 4, kW, kH, kW, kH);
        w.insert(w.begin(), blend.begin(), blend.end());
        // The other streams do not load the alpha states: leave blending off behind.
        veld::bench::loadState(w, GAL_STATE_ALPHA_CONTROL, {0, 0});
        return w;
    }();
    return w;
}
const std::vector<uint32_t>& smallStream() {
    static const auto w = blitStream(GAL_HW_BITBLIT, GAL_HW_FORMAT_A8R8G8B8, kSmall, 4, 8, 8, 8, 8);
    return w;
}

struct Pixman {
    pixman_image_t* source;
    pixman_image_t* halfSource;
    pixman_image_t* target;
    pixman_image_t* target16;
    Pixman() {
        auto& m = machine();
        auto* src = reinterpret_cast<uint32_t*>(m.at(kSource));
        source = pixman_image_create_bits(PIXMAN_a8r8g8b8, kW, kH, src, kW * 4);
        halfSource = pixman_image_create_bits(PIXMAN_a8r8g8b8, kW / 2, kH / 2, src, kW / 2 * 4);
        target = pixman_image_create_bits(PIXMAN_a8r8g8b8, kW, kH, reinterpret_cast<uint32_t*>(m.at(kTarget)), kW * 4);
        target16 = pixman_image_create_bits(PIXMAN_r5g6b5, kW, kH, reinterpret_cast<uint32_t*>(m.at(kTarget16)), kW * 2);
        pixman_transform_t half;
        pixman_transform_init_scale(&half, pixman_double_to_fixed(0.5), pixman_double_to_fixed(0.5));
        pixman_image_set_transform(halfSource, &half);
        pixman_image_set_filter(halfSource, PIXMAN_FILTER_NEAREST, nullptr, 0);
    }
};

Pixman& peers() {
    static Pixman p;
    return p;
}

void coreCopy() { machine().run(copyStream()); }
void coreConvert() { machine().run(convertStream()); }
void coreStretch() { machine().run(stretchStream()); }
void coreOver() { machine().run(overStream()); }
void coreSmall() { machine().run(smallStream()); }
void memcpyCopy() { std::memcpy(machine().at(kTarget), machine().at(kSource), size_t(kW) * kH * 4); }
void pixmanBlt() {
    auto& m = machine();
    pixman_blt(reinterpret_cast<uint32_t*>(m.at(kSource)), reinterpret_cast<uint32_t*>(m.at(kTarget)), kW, kW, 32,
               32, 0, 0, 0, 0, kW, kH);
}
void pixmanConvert() {
    pixman_image_composite32(PIXMAN_OP_SRC, peers().source, nullptr, peers().target16, 0, 0, 0, 0, 0, 0, kW, kH);
}
void pixmanOver() {
    pixman_image_composite32(PIXMAN_OP_OVER, peers().source, nullptr, peers().target, 0, 0, 0, 0, 0, 0, kW, kH);
}
void pixmanStretch() {
    pixman_image_composite32(PIXMAN_OP_SRC, peers().halfSource, nullptr, peers().target, 0, 0, 0, 0, 0, 0, kW, kH);
}

VELD_CORE_ROW(BM_CopyFullHd_Core, coreCopy);
VELD_CORE_ROW(BM_CopyFullHd_Memcpy, memcpyCopy);
VELD_CORE_ROW(BM_CopyFullHd_PixmanBlt, pixmanBlt);
VELD_CORE_ROW(BM_ToRgb565FullHd_Core, coreConvert);
VELD_CORE_ROW(BM_ToRgb565FullHd_Pixman, pixmanConvert);
VELD_CORE_ROW(BM_StretchNearest_Core, coreStretch);
VELD_CORE_ROW(BM_StretchNearest_Pixman, pixmanStretch);
VELD_CORE_ROW(BM_OverFullHd_Core, coreOver);
VELD_CORE_ROW(BM_OverFullHd_Pixman, pixmanOver);
VELD_CORE_ROW(BM_Blit8x8_Core, coreSmall);

void printRatios() {
    using veld::bench::median;
    // Each side runs once untimed first, so that both start from their own data in the cache
    // (the previous row's peer leaves other images there).
    auto nanosEach = [](auto body, int count) {
        body(0);
        return veld::bench::nanosEach(body, count);
    };
    constexpr int kRounds = 11;
    std::vector<double> copy, mem, blt, conv, pconv, str, pstr, small, over, pover;
    for (int r = 0; r < kRounds; ++r) {
        copy.push_back(nanosEach([](int) { coreCopy(); }, 3));
        mem.push_back(nanosEach([](int) { memcpyCopy(); }, 3));
        blt.push_back(nanosEach([](int) { pixmanBlt(); }, 3));
        conv.push_back(nanosEach([](int) { coreConvert(); }, 3));
        pconv.push_back(nanosEach([](int) { pixmanConvert(); }, 3));
        str.push_back(nanosEach([](int) { coreStretch(); }, 3));
        pstr.push_back(nanosEach([](int) { pixmanStretch(); }, 3));
        small.push_back(nanosEach([](int) { coreSmall(); }, 2000));
        over.push_back(nanosEach([](int) { coreOver(); }, 3));
        pover.push_back(nanosEach([](int) { pixmanOver(); }, 3));
    }
    veld::bench::printCpu();
    std::printf("\nmedians of %d interleaved rounds (thread CPU time), the core's decode + execute:\n", kRounds);
    std::printf("  1920 x 1080 A8R8G8B8 copy blit: %.0f us; memcpy %.0f us (ratio %.2f, target <= 1.5);"
                " pixman_blt %.0f us (ratio %.2f)\n",
                median(copy) / 1000, median(mem) / 1000, median(copy) / median(mem), median(blt) / 1000,
                median(copy) / median(blt));
    std::printf("  A8R8G8B8 -> R5G6B5: %.0f us; pixman SRC composite %.0f us; ratio %.2f (target <= 1.2)\n",
                median(conv) / 1000, median(pconv) / 1000, median(conv) / median(pconv));
    std::printf("  nearest stretch 960 x 540 -> 1920 x 1080: %.0f us; pixman nearest %.0f us; ratio %.2f"
                " (target <= 1.5)\n",
                median(str) / 1000, median(pstr) / 1000, median(str) / median(pstr));
    std::printf("  1920 x 1080 A8R8G8B8 OVER blend: %.0f us; pixman OVER composite %.0f us; ratio %.2f"
                " (target <= 1.2; blend row kernel: %s)\n",
                median(over) / 1000, median(pover) / 1000, median(over) / median(pover),
                veld::gpusim::porterDuffBuilds()[0].name);
    std::printf("  one 8 x 8 blit per stream (decode + execute): %.2f us per operation\n", median(small) / 1000);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    printRatios();
    return 0;
}
