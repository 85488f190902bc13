// The GPU demo end to end: gal_demo draws its picture through libGAL.so on the GPU simulator
// and runs veldctl gpu shot while it holds it; the PNG must show each part of the picture
// where gal_demo.h puts it, with no GPU fault. Once gal_demo has ended, its picture is gone
// and a shot says so.
#include <gtest/gtest.h>
#include <png.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "gal_demo.h"
#include "gpu_device.h"
#include "seam.h"
#include "test_root.h"

namespace {

using namespace veld::gal_demo;
using veld::test::builtProgram;

struct Picture {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> rgb;
    uint32_t at(int32_t x, int32_t y) const {
        const uint8_t* p = &rgb[(size_t(y) * width + size_t(x)) * 3];
        return 0xFF000000u | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    }
    // Pixels of `colour` in the rectangle.
    int count(int32_t left, int32_t top, int32_t right, int32_t bottom, uint32_t colour) const {
        int n = 0;
        for (int32_t y = top; y < bottom; ++y)
            for (int32_t x = left; x < right; ++x) n += at(x, y) == colour;
        return n;
    }
};

bool readPicture(const std::string& path, Picture& picture) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    image.format = PNG_FORMAT_RGB;
    picture.width = image.width;
    picture.height = image.height;
    picture.rgb.resize(PNG_IMAGE_SIZE(image));
    return png_image_finish_read(&image, nullptr, picture.rgb.data(), 0, nullptr) != 0;
}

uint64_t gpuFaults() {
    std::istringstream in(veld::gpu_device::simControl("counters").value_or(""));
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("faults=", 0) == 0) return std::stoull(line.substr(7));
    return ~0ull;
}

TEST(GalDemo, ItsPictureDrawnThroughLibGalIsShotWithEveryPartInPlace) {
    veld::test::TestRoot root;
    std::filesystem::create_directories(veld::seam::simDir());
    veld::test::SimulatorProcess gpu(root, "veld_gpu", "gpu");
    ASSERT_TRUE(gpu.start()) << root.readFile("/gpu.log");
    const std::string png = root.path("/picture.png"), veldctl = builtProgram("tools/veldctl");
    veld::test::Process demo;
    ASSERT_TRUE(demo.start(builtProgram("tools/gal_demo"), {"gal_demo", veldctl, "gpu", "shot", png},
                           {{"VELD_SIM", "1"}}, root.path("/demo.out")));
    ASSERT_EQ(demo.wait(std::chrono::seconds(60)), 0) << root.readFile("/demo.out");
    EXPECT_NE(root.readFile("/demo.out").find("800x480, hardware format 5"), std::string::npos)
        << root.readFile("/demo.out");
    EXPECT_EQ(gpuFaults(), 0u);

    Picture p;
    ASSERT_TRUE(readPicture(png, p));
    ASSERT_EQ(p.width, kWidth);
    ASSERT_EQ(p.height, kHeight);
    // The gradient runs from its top colour to its bottom colour.
    EXPECT_EQ(p.at(int32_t(kWidth) - 4, 1), kSkyTop);
    EXPECT_EQ(p.at(int32_t(kWidth) - 4, int32_t(kHeight) - 2), kSkyBottom);

    // The tile's quadrant centres: as it is, half turned, mirrored both ways; the quarter turns
    // are each other's inverse.
    const int32_t q = int32_t(kTile) / 4;
    auto quadrants = [&](int tile) {
        const int32_t x = kRowX + tile * kRowStep, y = kRowY;
        return std::vector<uint32_t>{p.at(x + q, y + q), p.at(x + 3 * q, y + q), p.at(x + q, y + 3 * q),
                                     p.at(x + 3 * q, y + 3 * q)};
    };
    const auto [tl, tr, bl, br] = kQuadrants;
    EXPECT_EQ(quadrants(0), (std::vector<uint32_t>{tl, tr, bl, br}));
    EXPECT_EQ(quadrants(2), (std::vector<uint32_t>{br, bl, tr, tl}));
    EXPECT_EQ(quadrants(4), (std::vector<uint32_t>{tr, tl, br, bl}));
    EXPECT_EQ(quadrants(5), (std::vector<uint32_t>{bl, br, tl, tr}));
    const auto quarter = quadrants(1), threeQuarters = quadrants(3);
    EXPECT_EQ(quarter, (std::vector<uint32_t>{threeQuarters[3], threeQuarters[2], threeQuarters[1], threeQuarters[0]}));
    EXPECT_NE(quarter, quadrants(0));
    // The stretched tile fills its rectangle, corners in place.
    EXPECT_EQ(p.at(kStretchX + 1, kStretchY + 1), tl);
    EXPECT_EQ(p.at(kStretchX + kStretchW - 2, kStretchY + kStretchH - 2), br);
    EXPECT_NE(p.at(kStretchX + kStretchW + 1, kStretchY + 1), tr);

    // The brush's two colours share the panel (where no sprite covers it).
    const int ink = p.count(kHatchLeft, kHatchTop, kHatchRight, kSpriteY, kHatchInk);
    const int paper = p.count(kHatchLeft, kHatchTop, kHatchRight, kSpriteY, kHatchPaper);
    EXPECT_GT(ink, 1000);
    EXPECT_GT(paper, 1000);
    // The sprites' key colour never reaches the picture (above the bars, which have a magenta
    // bar of their own); their balls do.
    EXPECT_EQ(p.count(0, 0, int32_t(kWidth), kBarsY, kSpriteKey), 0);
    for (uint32_t i = 0; i < kSprites; ++i)
        EXPECT_EQ(p.at(kSpriteX + int32_t(i) * kSpriteStep + int32_t(kSprite) * 3 / 4, kSpriteY + int32_t(kSprite) / 2), kBall) << i;
    // Pure colours come through R5G6B5 unchanged.
    for (int i = 0; i < 8; ++i) EXPECT_EQ(p.at(kBarsX + kBarsW / 8 * i + 4, kBarsY + kBarsH / 2), kBars[i]) << i;
    // Text: the title's ink stretched four times, and the line's ink at its own size.
    const int32_t titleRight = kTitleX + int32_t(std::strlen(kTitle) * 8 * kTitleScale);
    EXPECT_GT(p.count(kTitleX, kTitleY, titleRight, kTitleY + 16 * int32_t(kTitleScale), kTitleInk), 2000);
    EXPECT_GT(p.count(kLineX, kLineY, kLineX + int32_t(std::strlen(kLine)) * 8, kLineY + 16, kLineInk), 500);

    // Without the demo holding it, the picture is gone and a shot says so.
    veld::test::Process shot;
    ASSERT_TRUE(shot.start(veldctl, {"veldctl", "gpu", "shot", root.path("/late.png")}, {}, root.path("/late.out")));
    EXPECT_EQ(shot.wait(std::chrono::seconds(20)), 1);
    EXPECT_NE(root.readFile("/late.out").find("is no longer allocated"), std::string::npos) << root.readFile("/late.out");
}

}  // namespace
