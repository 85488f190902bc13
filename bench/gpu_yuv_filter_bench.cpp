// The GPU simulator's 2D core on YUV sources and filter blits (decode and execute of a
// committed stream, no driver and no kernel round trip):
//  - YUY2 to A8R8G8B8 at 1920 x 1080 (BT.601) against pixman's SRC composite from its yuy2
//    format;
//  - a 5-tap filter blit at 2x down-scaling (1920 x 1080 to 960 x 540, both passes through
//    the intermediate buffer as the driver sends them), in megapixels per second of
//    destination, beside pixman's separable convolution of a similar width for scale.
// After the Google Benchmark rows it prints medians of interleaved rounds (thread CPU time),
// the ratio and the rate, with the CPU's model and flags.
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench_support.h"
#include "gpu_core_support.h"
#include "gal_states.h"

namespace {

using veld::gpusim::kGpuBase;

constexpr uint32_t kW = 1920, kH = 1080, kHalfW = kW / 2, kHalfH = kH / 2;
constexpr uint64_t kYuy2 = 0, kArgb = 8u << 20, kTarget = 16u << 20, kMiddle = 24u << 20,
                   kSmall = 32u << 20;
constexpr uint64_t kMemory = 40u << 20;

// Video memory with the source images filled in.
veld::bench::CoreMachine& machine() {
    static veld::bench::CoreMachine m(kMemory, "gpu_yuv_filter_bench");
    static const bool filled = [] {
        uint8_t* source = m.at(0);
        for (size_t i = 0; i < size_t(kW) * kH * 2; ++i) source[kYuy2 + i] = uint8_t(i * 37 + (i >> 11));
        for (size_t i = 0; i < size_t(kW) * kH * 4; ++i) source[kArgb + i] = uint8_t(i * 131 + (i >> 12));
        return true;
    }();
    (void)filled;
    return m;
}

uint32_t gpu(uint64_t offset) { return uint32_t(kGpuBase + offset); }

// Target and source states of one draw; `command` a hardware command.
void states(std::vector<uint32_t>& w, uint32_t command, uint64_t target, uint32_t dw, uint32_t dh,
            uint64_t source, uint32_t sourceFormat, uint32_t sourceStride, uint32_t sw, uint32_t sh) {
    veld::bench::loadState(w, GAL_STATE_TARGET_ADDRESS, {gpu(target), dw * 4, dw});
    veld::bench::loadState(w, GAL_STATE_TARGET_CONFIG, {GAL_DEST_CONFIG(GAL_HW_FORMAT_A8R8G8B8, command)});
    veld::bench::loadState(w, GAL_STATE_TARGET_HEIGHT, {dh});
    veld::bench::loadState(w, GAL_STATE_CLIP_TOP_LEFT, {0, 0x7FFF7FFFu});
    veld::bench::loadState(w, GAL_STATE_ROTATION, {0xFFFFFFFFu & ~0x33Fu});
    veld::bench::loadState(w, GAL_STATE_ROP, {GAL_ROP_WORD(0xCC, 0xCC)});
    veld::bench::loadState(w, GAL_STATE_SOURCE_ADDRESS,
         {gpu(source), sourceStride, sw, sourceFormat << GAL_SOURCE_CONFIG_FORMAT_SHIFT});
    veld::bench::loadState(w, GAL_STATE_SOURCE_HEIGHT, {sh});
    veld::bench::loadState(w, GAL_STATE_SOURCE_ORIGIN, {0, sw | sh << 16});
}

void draw(std::vector<uint32_t>& w, uint32_t dw, uint32_t dh) {
    w.insert(w.end(), {GAL_START_DE_WORD, 0, 0, dw | dh << 16});
}

const std::vector<uint32_t>& yuy2Stream() {
    static const auto w = [] {
        std::vector<uint32_t> w;
        states(w, GAL_HW_BITBLIT, kTarget, kW, kH, kYuy2, GAL_HW_FORMAT_YUY2, kW * 2, kW, kH);
        draw(w, kW, kH);
        veld::bench::loadState(w, GAL_STATE_FLUSH, {8});
        return w;
    }();
    return w;
}

// A 5-tap kernel (equal weights; a pass costs the same for any weights of five taps).
std::vector<uint32_t> kernelWords() {
    int16_t taps[154] = {};
    for (uint32_t k = 0; k < 153; ++k) taps[k] = (k % 9 >= 2 && k % 9 < 7) ? 16384 / 5 : 0;
    std::vector<uint32_t> words(GAL_FILTER_KERNEL_WORDS);
    for (uint32_t i = 0; i < words.size(); ++i)
        words[i] = uint16_t(taps[2 * i]) | uint32_t(uint16_t(taps[2 * i + 1])) << 16;
    return words;
}

const std::vector<uint32_t>& filterStream() {
    static const auto w = [] {
        std::vector<uint32_t> w;
        const uint32_t factorH = ((kW - 1) << 16) / (kHalfW - 1), factorV = ((kH - 1) << 16) / (kHalfH - 1);
        veld::bench::loadState(w, GAL_STATE_STRETCH_H, {factorH, factorV});
        veld::bench::loadState(w, GAL_STATE_FILTER_START, {0});
        veld::bench::loadState(w, GAL_STATE_FILTER_KERNEL_H, kernelWords());
        veld::bench::loadState(w, GAL_STATE_FILTER_KERNEL_V, kernelWords());
        states(w, GAL_HW_FILTER_H, kMiddle, kHalfW, kH, kArgb, GAL_HW_FORMAT_A8R8G8B8, kW * 4, kW, kH);
        draw(w, kHalfW, kH);
        states(w, GAL_HW_FILTER_V, kTarget, kHalfW, kHalfH, kMiddle, GAL_HW_FORMAT_A8R8G8B8, kHalfW * 4, kHalfW, kH);
        draw(w, kHalfW, kHalfH);
        veld::bench::loadState(w, GAL_STATE_FLUSH, {8});
        return w;
    }();
    return w;
}

struct Pixman {
    pixman_image_t* yuy2;
    pixman_image_t* argb;
    pixman_image_t* target;
    pixman_image_t* half;
    Pixman() {
        auto& m = machine();
        yuy2 = pixman_image_create_bits(PIXMAN_yuy2, kW, kH, reinterpret_cast<uint32_t*>(m.at(kYuy2)), kW * 2);
        argb = pixman_image_create_bits(PIXMAN_a8r8g8b8, kW, kH, reinterpret_cast<uint32_t*>(m.at(kArgb)), kW * 4);
        target = pixman_image_create_bits(PIXMAN_a8r8g8b8, kW, kH, reinterpret_cast<uint32_t*>(m.at(kTarget)), kW * 4);
        half = pixman_image_create_bits(PIXMAN_a8r8g8b8, kHalfW, kHalfH,
                                        reinterpret_cast<uint32_t*>(m.at(kMiddle)), kHalfW * 4);
        // 2x down through a separable convolution: a Lanczos-2 sample kernel, 16 phases.
        pixman_transform_t scale;
        pixman_transform_init_scale(&scale, pixman_double_to_fixed(2.0), pixman_double_to_fixed(2.0));
        pixman_image_set_transform(argb, &scale);
        int n = 0;
        pixman_fixed_t* params = pixman_filter_create_separable_convolution(
            &n, pixman_double_to_fixed(2.0), pixman_double_to_fixed(2.0), PIXMAN_KERNEL_IMPULSE,
            PIXMAN_KERNEL_IMPULSE, PIXMAN_KERNEL_LANCZOS2, PIXMAN_KERNEL_LANCZOS2, 4, 4);
        pixman_image_set_filter(argb, PIXMAN_FILTER_SEPARABLE_CONVOLUTION, params, n);
        std::free(params);
    }
};

Pixman& peers() {
    static Pixman p;
    return p;
}

void coreYuy2() { machine().run(yuy2Stream()); }
void pixmanYuy2() {
    pixman_image_composite32(PIXMAN_OP_SRC, peers().yuy2, nullptr, peers().target, 0, 0, 0, 0, 0, 0, kW, kH);
}
void coreFilter() { machine().run(filterStream()); }
void pixmanFilter() {
    pixman_image_composite32(PIXMAN_OP_SRC, peers().argb, nullptr, peers().half, 0, 0, 0, 0, 0, 0, kHalfW, kHalfH);
}

VELD_CORE_ROW(BM_Yuy2ToArgbFullHd_Core, coreYuy2);
VELD_CORE_ROW(BM_Yuy2ToArgbFullHd_Pixman, pixmanYuy2);
VELD_CORE_ROW(BM_Filter5Tap2xDown_Core, coreFilter);
VELD_CORE_ROW(BM_Filter5Tap2xDown_PixmanSeparable, pixmanFilter);

void printRatios() {
    using veld::bench::median;
    using veld::bench::nanosEach;
    constexpr int kRounds = 7;
    std::vector<double> yuv, pyuv, filter, pfilter;
    for (int r = 0; r < kRounds; ++r) {
        yuv.push_back(nanosEach([](int) { coreYuy2(); }, 2));
        pyuv.push_back(nanosEach([](int) { pixmanYuy2(); }, 2));
        filter.push_back(nanosEach([](int) { coreFilter(); }, 1));
        pfilter.push_back(nanosEach([](int) { pixmanFilter(); }, 1));
    }
    veld::bench::printCpu();
    const double destination = double(kHalfW) * kHalfH;
    std::printf("\nmedians of %d interleaved rounds (thread CPU time), the core's decode + execute:\n", kRounds);
    std::printf("  YUY2 -> A8R8G8B8 1920 x 1080: %.0f us; pixman SRC composite from yuy2 %.0f us; ratio %.2f\n",
                median(yuv) / 1000, median(pyuv) / 1000, median(yuv) / median(pyuv));
    std::printf("  5-tap filter blit 1920 x 1080 -> 960 x 540 (two passes): %.0f us, %.1f megapixels/s of"
                " destination (%.1f of source); pixman separable convolution (Lanczos-2, 16 phases) %.0f us,"
                " %.1f megapixels/s\n",
                median(filter) / 1000, destination / (median(filter) / 1000),
                4 * destination / (median(filter) / 1000), median(pfilter) / 1000,
                destination / (median(pfilter) / 1000));
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    printRatios();
    return 0;
}
