// Graphics surfaces and the simulated frame buffer of the PC platform library: surface records,
// fills, mapping, palettes, numbered frames and the torn-frame-free reader.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "test_root.h"
#include "veld_framebuffer.h"
#include "veldcore.h"

namespace {

constexpr int32_t kLayer = 1;

uint8_t* mapPixels(VELD_GAL_SURFACE* surface) {
    uintptr_t info[3] = {0, 0, 0};
    EXPECT_EQ(VELD_GAL_SurfaceMmapCtrl(0, surface, info, 1), 0);
    return reinterpret_cast<uint8_t*>(info[0]);
}

class FrameBufferTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (int32_t layer = 0; layer < VELD_FB_LAYERS; ++layer) VELD_HOST_FB_Unlink(layer);
    }

    VELD_GAL_SURFACE* surface(uint32_t width, uint32_t height) {
        VELD_GAL_SURFACE* s = VELD_GAL_AllocSurface(1, 2, width, height, 0, 0);
        EXPECT_NE(s, nullptr);
        return s;
    }

    int32_t read(uint32_t minFrame, int32_t timeoutMs) {
        pixels.assign(VELD_FB_PIXEL_CAPACITY, 0xEE);
        return VELD_HOST_FB_Read(kLayer, minFrame, timeoutMs, &frame, pixels.data(),
                                 pixels.size());
    }

    veld::test::TestRoot root;
    VELD_FB_FRAME frame{};
    std::vector<uint8_t> pixels;
};

TEST_F(FrameBufferTest, SurfaceRecordCarriesPitchWidthAndHeight) {
    struct Case {
        uint32_t width, height;
    };
    for (Case c : {Case{1920, 1080}, Case{13, 7}, Case{1, 1}, Case{4096, 2160}}) {
        VELD_GAL_SURFACE* s = surface(c.width, c.height);
        ASSERT_NE(s, nullptr) << c.width;
        EXPECT_GE(s->word[3], c.width);
        EXPECT_EQ(s->word[3] % 8, 0u);
        EXPECT_EQ(s->word[4], c.width);
        EXPECT_EQ(s->word[5], c.height);
        uint8_t* p = mapPixels(s);
        ASSERT_NE(p, nullptr);
        // Zero-filled and writable to the last byte.
        EXPECT_EQ(p[0], 0);
        p[size_t{s->word[3]} * c.height - 1] = 0x5A;
    }
}

TEST_F(FrameBufferTest, UnusableSurfacesAreRefused) {
    struct Case {
        uint32_t format, width, height;
    };
    for (Case c : {Case{2, 0, 10}, Case{2, 10, 0}, Case{2, 4097, 10}, Case{2, 10, 2161},
                   Case{5, 10, 10}}) {
        EXPECT_EQ(VELD_GAL_AllocSurface(1, c.format, c.width, c.height, 0, 0), nullptr)
            << c.format << " " << c.width << "x" << c.height;
    }
    VELD_GAL_SURFACE fake{};
    uintptr_t info[3] = {0, 0, 0};
    EXPECT_NE(VELD_GAL_SurfaceMmapCtrl(0, &fake, info, 1), 0);
    EXPECT_EQ(info[0], 0u);
    EXPECT_NE(VELD_FBDEV_UpdateScreenBySurface(kLayer, &fake), 0);
    EXPECT_NE(VELD_FBDEV_UpdateScreenBySurface(kLayer, nullptr), 0);
}

TEST_F(FrameBufferTest, FillRectIsClippedToTheSurface) {
    struct Case {
        bool whole;
        int32_t rect[4];
        int expectedCount;  // pixels of colour 7 in a 10 x 4 surface
    };
    for (const Case& c : {Case{true, {}, 40}, Case{false, {2, 1, 3, 2}, 6},
                          Case{false, {-5, -5, 7, 6}, 2}, Case{false, {8, 3, 10, 10}, 2},
                          Case{false, {20, 0, 5, 5}, 0}, Case{false, {0, 0, -3, 4}, 0}}) {
        VELD_GAL_SURFACE* s = surface(10, 4);
        ASSERT_EQ(VELD_GAL_FillRectNoFx(s, c.whole ? nullptr : c.rect, 0x107), 0);
        const uint8_t* p = mapPixels(s);
        int count = 0;
        for (uint32_t y = 0; y < 4; ++y)
            for (uint32_t x = 0; x < 10; ++x) count += p[y * s->word[3] + x] == 7;
        EXPECT_EQ(count, c.expectedCount) << c.rect[0] << "," << c.rect[1];
    }
}

TEST_F(FrameBufferTest, PushPublishesNumberedFramesWithPixelsAndPalette) {
    EXPECT_EQ(read(1, 0), VELD_FB_ERR_ABSENT);
    VELD_GAL_SURFACE* s = surface(5, 3);
    uint8_t* p = mapPixels(s);
    const uint32_t pitch = s->word[3];
    for (uint32_t y = 0; y < 3; ++y)
        for (uint32_t x = 0; x < 5; ++x) p[y * pitch + x] = static_cast<uint8_t>(10 * y + x);
    VELD_GAL_PALETTE palette{};
    for (uint32_t i = 0; i < 256; ++i) palette.entries[i] = 0xFF000000u | i;
    palette.count = 256;
    ASSERT_EQ(VELD_GAL_SetPalette(s, &palette), 0);
    ASSERT_EQ(VELD_FBDEV_Open(kLayer), 0);
    ASSERT_EQ(VELD_FBDEV_SetVisible(kLayer, 1), 0);
    EXPECT_EQ(read(1, 0), VELD_FB_ERR_ABSENT);  // opened, but nothing shown yet

    ASSERT_EQ(VELD_FBDEV_UpdateScreenBySurface(kLayer, s), 0);
    ASSERT_EQ(read(1, 0), VELD_FB_OK);
    EXPECT_EQ(frame.frame, 1u);
    EXPECT_EQ(frame.layer, 1u);
    EXPECT_EQ(frame.width, 5u);
    EXPECT_EQ(frame.height, 3u);
    EXPECT_EQ(frame.format, VELD_FB_FORMAT_INDEX8);
    EXPECT_EQ(frame.visible, 1u);
    EXPECT_EQ(frame.palette[0x42], 0xFF000042u);
    const std::vector<uint8_t> expected{0, 1, 2, 3, 4, 10, 11, 12, 13, 14, 20, 21, 22, 23, 24};
    EXPECT_EQ(std::vector<uint8_t>(pixels.begin(), pixels.begin() + 15), expected);
    EXPECT_EQ(pixels[15], 0xEE);  // packed: nothing written past width x height

    // Drawing without a push changes nothing on screen; the next push is frame 2.
    p[0] = 99;
    ASSERT_EQ(read(1, 0), VELD_FB_OK);
    EXPECT_EQ(pixels[0], 0);
    ASSERT_EQ(VELD_FBDEV_UpdateScreenBySurface(kLayer, s), 0);
    ASSERT_EQ(read(2, 0), VELD_FB_OK);
    EXPECT_EQ(frame.frame, 2u);
    EXPECT_EQ(pixels[0], 99);
}

TEST_F(FrameBufferTest, LayerPaletteTakesOverFromTheSurfacePaletteAtTheNextPush) {
    VELD_GAL_SURFACE* s = surface(8, 1);
    VELD_GAL_PALETTE surfacePalette{};
    surfacePalette.entries[1] = 0x11111111u;
    surfacePalette.count = 2;
    VELD_GAL_SetPalette(s, &surfacePalette);
    ASSERT_EQ(VELD_FBDEV_UpdateScreenBySurface(kLayer, s), 0);
    ASSERT_EQ(read(1, 0), VELD_FB_OK);
    EXPECT_EQ(frame.palette[1], 0x11111111u);

    uint32_t entries[256] = {};
    entries[1] = 0x80FF0000u;
    const VELD_FBDEV_PALETTE layerPalette{256, 0, entries};
    ASSERT_EQ(VELD_FBDEV_SetPalette(kLayer, &layerPalette), 0);
    ASSERT_EQ(read(1, 0), VELD_FB_OK);
    EXPECT_EQ(frame.palette[1], 0x11111111u);  // the frame on screen keeps its palette
    ASSERT_EQ(VELD_FBDEV_UpdateScreenBySurface(kLayer, s), 0);
    ASSERT_EQ(read(2, 0), VELD_FB_OK);
    EXPECT_EQ(frame.palette[1], 0x80FF0000u);
}

TEST_F(FrameBufferTest, ReaderWaitsForTheWantedFrameOrTimesOut) {
    VELD_GAL_SURFACE* s = surface(4, 4);
    ASSERT_EQ(VELD_FBDEV_UpdateScreenBySurface(kLayer, s), 0);
    EXPECT_EQ(read(2, 20), VELD_FB_ERR_TIMEOUT);
    std::thread pusher([s] {
        for (int i = 0; i < 3; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            VELD_FBDEV_UpdateScreenBySurface(kLayer, s);
        }
    });
    EXPECT_EQ(read(4, 10000), VELD_FB_OK);
    EXPECT_GE(frame.frame, 4u);
    pusher.join();
}

TEST_F(FrameBufferTest, SmallBufferReportsTheSizeNeeded) {
    VELD_GAL_SURFACE* s = surface(30, 20);
    ASSERT_EQ(VELD_FBDEV_UpdateScreenBySurface(kLayer, s), 0);
    std::vector<uint8_t> small(599);
    EXPECT_EQ(VELD_HOST_FB_Read(kLayer, 1, 0, &frame, small.data(), small.size()),
              VELD_FB_ERR_SPACE);
    EXPECT_EQ(frame.width, 30u);
    EXPECT_EQ(frame.height, 20u);
    small.resize(600);
    EXPECT_EQ(VELD_HOST_FB_Read(kLayer, 1, 0, &frame, small.data(), small.size()), VELD_FB_OK);
}

TEST_F(FrameBufferTest, BadArgumentsAndUnlink) {
    EXPECT_EQ(VELD_HOST_FB_Read(-1, 1, 0, &frame, nullptr, 0), VELD_FB_ERR_ARGUMENT);
    EXPECT_EQ(VELD_HOST_FB_Read(VELD_FB_LAYERS, 1, 0, &frame, nullptr, 0), VELD_FB_ERR_ARGUMENT);
    EXPECT_EQ(VELD_HOST_FB_Read(kLayer, 1, 0, nullptr, nullptr, 0), VELD_FB_ERR_ARGUMENT);
    EXPECT_NE(VELD_FBDEV_Open(VELD_FB_LAYERS), 0);
    EXPECT_NE(VELD_FBDEV_SetPalette(kLayer, nullptr), 0);

    VELD_GAL_SURFACE* s = surface(4, 4);
    ASSERT_EQ(VELD_FBDEV_UpdateScreenBySurface(kLayer, s), 0);
    ASSERT_EQ(VELD_HOST_FB_Unlink(kLayer), 0);
    EXPECT_EQ(read(1, 0), VELD_FB_ERR_ABSENT);
    // A push after the unlink starts a new frame buffer from frame 1.
    ASSERT_EQ(VELD_FBDEV_UpdateScreenBySurface(kLayer, s), 0);
    ASSERT_EQ(read(1, 0), VELD_FB_OK);
    EXPECT_EQ(frame.frame, 1u);
}

TEST_F(FrameBufferTest, NamespacesKeepFrameBuffersApart) {
    VELD_GAL_SURFACE* s = surface(4, 4);
    ASSERT_EQ(VELD_FBDEV_UpdateScreenBySurface(kLayer, s), 0);
    {
        veld::test::TestRoot other;  // a second namespace while it lives
        EXPECT_EQ(read(1, 0), VELD_FB_ERR_ABSENT);
    }
    setenv("VELD_NS", root.ns().c_str(), 1);
    setenv("VELD_ROOT", root.root().c_str(), 1);
    EXPECT_EQ(read(1, 0), VELD_FB_OK);
}

// Every frame is uniform: all its pixels and palette entry 0 carry the frame's own value, so a
// frame mixed from two pushes shows up as a pixel that disagrees.
void pushUniformFrames(VELD_GAL_SURFACE* s, uint32_t count) {
    uint8_t* p = mapPixels(s);
    const size_t bytes = size_t{s->word[3]} * s->word[5];
    VELD_GAL_PALETTE palette{};
    palette.count = 256;
    for (uint32_t i = 1; i <= count; ++i) {
        std::memset(p, static_cast<int>(i & 0xFF), bytes);
        palette.entries[0] = i & 0xFF;
        VELD_GAL_SetPalette(s, &palette);
        VELD_FBDEV_UpdateScreenBySurface(kLayer, s);
    }
}

// Reads frames until the writer is done (and at least ten times); the number of torn frames,
// -1 when a read failed.
int tornFrames(VELD_FB_FRAME& frame, std::vector<uint8_t>& pixels,
               const std::function<bool()>& writerDone) {
    int torn = 0;
    int reads = 0;
    while (!writerDone() || reads < 10) {
        if (VELD_HOST_FB_Read(kLayer, 1, 5000, &frame, pixels.data(), pixels.size()) != VELD_FB_OK)
            return -1;
        ++reads;
        const size_t n = size_t{frame.width} * frame.height;
        const uint8_t value = static_cast<uint8_t>(frame.palette[0]);
        for (size_t i = 0; i < n; ++i) {
            if (pixels[i] != value) {
                ++torn;
                break;
            }
        }
    }
    return torn;
}

TEST_F(FrameBufferTest, ReaderInAnotherThreadNeverSeesATornFrame) {
    VELD_GAL_SURFACE* s = surface(640, 360);
    ASSERT_EQ(VELD_FBDEV_UpdateScreenBySurface(kLayer, s), 0);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        pushUniformFrames(s, 400);
        done = true;
    });
    pixels.resize(640 * 360);
    EXPECT_EQ(tornFrames(frame, pixels, [&] { return done.load(); }), 0);
    writer.join();
}

TEST_F(FrameBufferTest, ReaderInAnotherProcessNeverSeesATornFrame) {
    VELD_GAL_SURFACE* s = surface(640, 360);
    ASSERT_EQ(VELD_FBDEV_UpdateScreenBySurface(kLayer, s), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        pushUniformFrames(s, 400);
        _exit(0);
    }
    pixels.resize(640 * 360);
    bool exited = false;
    int status = -1;
    const int torn = tornFrames(frame, pixels, [&] {
        exited = exited || waitpid(child, &status, WNOHANG) == child;
        return exited;
    });
    EXPECT_EQ(torn, 0);
    if (!exited) waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_EQ(read(1, 0), VELD_FB_OK);
    EXPECT_EQ(frame.frame, 401u);  // the child's frames went into the same region
}

}  // namespace
