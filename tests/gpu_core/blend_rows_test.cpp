// The 2D core's blend row kernels against its per-pixel rule: every build of the Porter-Duff
// kernel this processor runs (the AVX2 build where the processor has it, and the baseline
// always), for every pair of factor modes, gives exactly blendPixel's results.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <vector>

#include "blend_rows.h"

namespace veld::gpusim {
namespace {

TEST(Core2DBlendRows, EveryKernelBuildEqualsThePerPixelRule) {
    std::mt19937 random(31);
    // Odd lengths leave a tail after the vector body; opaque, clear and saturating pixels often.
    constexpr uint32_t kPixels = 1027;
    std::vector<uint32_t> source(kPixels), target(kPixels);
    for (uint32_t i = 0; i < kPixels; ++i) {
        const uint32_t pick = random() % 4;
        source[i] = pick == 0 ? 0xFF000000u | random() : pick == 1 ? random() & 0x00FFFFFFu : random();
        target[i] = i % 5 == 0 ? 0xFFFFFFFFu : random();
    }
    const auto builds = porterDuffBuilds();
    ASSERT_FALSE(builds.empty());
    for (const PorterDuffBuild& build : builds) {
        std::printf("blend row kernel: %s\n", build.name);
        for (uint32_t fs = 0; fs < 4; ++fs) {
            for (uint32_t fd = 0; fd < 4; ++fd) {
                BlendSettings settings;
                settings.sourceFactor = fs;
                settings.targetFactor = fd;
                ASSERT_TRUE(porterDuffKernel(settings));
                std::vector<uint32_t> actual = target;
                build.row(fs, fd, source.data(), actual.data(), kPixels);
                for (uint32_t i = 0; i < kPixels; ++i) {
                    ASSERT_EQ(actual[i], blendPixel(settings, source[i], target[i]))
                        << build.name << " factors " << fs << "/" << fd << " pixel " << i << " source "
                        << std::hex << source[i] << " target " << target[i];
                }
            }
        }
    }
}

}  // namespace
}  // namespace veld::gpusim
