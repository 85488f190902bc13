// The 2D core's vector row engines against the portable encoder, the reference: every layout
// the engines take (each hardware format with channels, each swizzle), row lengths around the
// vector widths, unaligned rows; and the run-time choice of the engine.
//
// An engine whose instructions this CPU lacks is reported as skipped, with the reason. The same
// tests run again under qemu-x86_64 with a CPU that has AVX2 (gpu_row_engines_x86_emulated)
// and with one that has none of the engines' sets (gpu_row_engines_x86_baseline).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "row_engines.h"

namespace {

using namespace veld::gpusim;

std::vector<std::string> engineNames() {
    std::vector<std::string> names;
    for (const RowEngine& e : rowEngines()) names.emplace_back(e.name);
    if (names.empty()) names.emplace_back("none");  // a CPU family without engines
    return names;
}

std::vector<PixelLayout> handledLayouts() {
    std::vector<PixelLayout> out;
    for (uint32_t hw = 0; hw < 32; ++hw)
        for (uint32_t swizzle = 0; swizzle < 4; ++swizzle) {
            const PixelLayout l = pixelLayout(hw, swizzle, false);
            if (rowEngineHandles(l) && (swizzle == 0 || l.swizzle == swizzle)) out.push_back(l);
        }
    return out;
}

class RowEngine : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        for (const veld::gpusim::RowEngine& e : rowEngines())
            if (GetParam() == e.name) engine_ = &e;
        if (!engine_) GTEST_SKIP() << "no vector row engine is built for this CPU family";
        if (!engine_->runnable())
            GTEST_SKIP() << "engine " << engine_->name << " not run: this CPU lacks its instructions";
    }
    const veld::gpusim::RowEngine* engine_ = nullptr;
};

TEST_P(RowEngine, EncodesEveryLayoutAsThePortableLoop) {
    const std::vector<PixelLayout> layouts = handledLayouts();
    ASSERT_GE(layouts.size(), 20u);  // 16-bit and 32-bit RGB orders, RG16
    uint32_t seed = 12345;
    std::vector<uint32_t> argb(2000);
    for (uint32_t& v : argb) {
        seed = seed * 1103515245u + 12345u;
        v = seed ^ (seed >> 13);
    }
    for (const PixelLayout& l : layouts)
        for (uint32_t n : {0u, 1u, 7u, 8u, 15u, 16u, 17u, 31u, 33u, 64u, 100u, 1100u, 1920u})
            for (uint32_t skew : {0u, 1u, uint32_t(l.bytes), 3u * l.bytes}) {
                // Rows that start off the vector alignment on both sides (by a byte, by whole
                // pixels), long rows that are streamed, and guard bytes after.
                std::vector<uint8_t> fast(size_t(n) * l.bytes + 40 + skew, 0x5A), portable = fast;
                engine_->encode(l, argb.data() + skew % 4, n, fast.data() + skew);
                encodeRowPortable(l, argb.data() + skew % 4, n, portable.data() + skew);
                ASSERT_EQ(fast, portable) << engine_->name << ": hardware format " << l.hwFormat << " swizzle "
                                          << int(l.swizzle) << ", " << n << " pixels, skew " << skew;
            }
}

INSTANTIATE_TEST_SUITE_P(Built, RowEngine, ::testing::ValuesIn(engineNames()),
                         [](const auto& info) { return info.param; });

TEST(RowEngineChoice, TheCoreUsesTheWidestEngineTheCpuRuns) {
    const veld::gpusim::RowEngine* chosen = chosenRowEngine();
    if (const char* wanted = std::getenv("VELD_GPU_ROW_ENGINE"); wanted && *wanted) {
        if (chosen) {
            EXPECT_STREQ(chosen->name, wanted);
        }
        return;
    }
    const veld::gpusim::RowEngine* widest = nullptr;
    for (const veld::gpusim::RowEngine& e : rowEngines())
        if (!widest && e.runnable()) widest = &e;
    EXPECT_EQ(chosen, widest) << (chosen ? chosen->name : "portable");
    // encodeRow, what the core calls, gives the portable result whichever engine runs.
    const PixelLayout rgb565 = pixelLayout(21, 0, false);
    std::vector<uint32_t> argb(50, 0x80FF8040u);
    std::vector<uint8_t> a(100), b(100);
    encodeRow(rgb565, argb.data(), 50, a.data());
    encodeRowPortable(rgb565, argb.data(), 50, b.data());
    EXPECT_EQ(a, b);
    EXPECT_EQ(a[0] | a[1] << 8, 0xFC08);
}

}  // namespace
