// Screenshot round trip: known palette indices drawn into the display surface through the
// display driver, pushed to the frame buffer, turned into a PNG by veldctl's screenshot code
// and read back with libpng.
#include <gtest/gtest.h>
#include <png.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csetjmp>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "cli.h"
#include "screenshot.h"
#include "test_root.h"
#include "veld_framebuffer.h"
#include "xdrv.h"

namespace {

constexpr uint32_t kEventQueueKey = 0x00149FBD;
constexpr int kWidth = 16;
constexpr int kHeight = 8;

// What libpng reads back: raw samples, and the palette with its transparency when there is one.
struct Png {
    uint32_t width = 0;
    uint32_t height = 0;
    int colorType = -1;
    int bitDepth = 0;
    std::vector<uint8_t> samples;  // rows packed, channels as stored
    std::vector<png_color> palette;
    std::vector<uint8_t> alpha;  // tRNS entries
};

bool readPng(const std::string& path, Png& png) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    png_structp reader = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(reader);
    if (setjmp(png_jmpbuf(reader))) {
        png_destroy_read_struct(&reader, &info, nullptr);
        std::fclose(file);
        return false;
    }
    png_init_io(reader, file);
    png_read_info(reader, info);
    png.width = png_get_image_width(reader, info);
    png.height = png_get_image_height(reader, info);
    png.colorType = png_get_color_type(reader, info);
    png.bitDepth = png_get_bit_depth(reader, info);
    png_colorp plte = nullptr;
    int entries = 0;
    if (png_get_PLTE(reader, info, &plte, &entries)) png.palette.assign(plte, plte + entries);
    png_bytep trans = nullptr;
    int transCount = 0;
    if (png_get_tRNS(reader, info, &trans, &transCount, nullptr))
        png.alpha.assign(trans, trans + transCount);
    const size_t rowBytes = png_get_rowbytes(reader, info);
    png.samples.resize(rowBytes * png.height);
    for (uint32_t y = 0; y < png.height; ++y)
        png_read_row(reader, png.samples.data() + y * rowBytes, nullptr);
    png_read_end(reader, nullptr);
    png_destroy_read_struct(&reader, &info, nullptr);
    std::fclose(file);
    return true;
}

int screenshot(std::vector<std::string> args) {
    args.insert(args.begin(), {"veldctl", "screenshot"});
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return veld::tools::runVeldctl(static_cast<int>(args.size()), argv.data());
}

class ScreenshotTest : public ::testing::Test {
protected:
    void SetUp() override {
        root.writeFile(veld::xdrv::kSizeFile, "0 0 16 8\n");
        ASSERT_EQ(XDRV_InitTask(0), 0);
        ASSERT_EQ(XDRV_CreateDisplay(&display), 0);
        // Entries with every kind of alpha: opaque, translucent, fully transparent.
        palette[1] = 0xFFFF0000u;  // opaque red
        palette[2] = 0x80FFFFFFu;  // half-transparent white
        palette[3] = 0x00123456u;  // invisible
        palette[4] = 0xC0000000u;  // the monitor's translucent black
        palette[200] = 0xFF0000FFu;
        ASSERT_EQ(XDRV_SetPalette(palette), 0);
        const uint32_t pitch = display.surface->word[3];
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) display.pixels[y * pitch + x] = indexAt(x, y);
        ASSERT_EQ(XDRV_UpdateScreen(&display), 0);
    }
    void TearDown() override {
        veld::test::removeQueue(kEventQueueKey);
        VELD_HOST_FB_Unlink(veld::xdrv::kLayer);
    }

    static uint8_t indexAt(int x, int y) {
        static constexpr uint8_t kIndices[] = {0, 1, 2, 3, 4, 200};
        return kIndices[(x + y) % 6];
    }

    veld::test::TestRoot root;
    XDisplay display{};
    uint32_t palette[256] = {};
};

TEST_F(ScreenshotTest, IndexedPngKeepsRawIndicesAndThePalette) {
    const std::string path = root.path("/tmp/shot.png");
    testing::internal::CaptureStdout();
    ASSERT_EQ(screenshot({path, "--indexed"}), 0);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("frame 1, 16x8, indexed"),
              std::string::npos);
    Png png;
    ASSERT_TRUE(readPng(path, png));
    EXPECT_EQ(png.width, 16u);
    EXPECT_EQ(png.height, 8u);
    EXPECT_EQ(png.colorType, PNG_COLOR_TYPE_PALETTE);
    EXPECT_EQ(png.bitDepth, 8);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            ASSERT_EQ(png.samples[y * kWidth + x], indexAt(x, y)) << x << "," << y;
    ASSERT_EQ(png.palette.size(), 256u);
    for (int i : {0, 1, 2, 3, 4, 200, 255}) {
        const uint32_t e = palette[i];
        EXPECT_EQ(png.palette[i].red, (e >> 16) & 0xFF) << i;
        EXPECT_EQ(png.palette[i].green, (e >> 8) & 0xFF) << i;
        EXPECT_EQ(png.palette[i].blue, e & 0xFF) << i;
        const uint32_t alpha = i < static_cast<int>(png.alpha.size()) ? png.alpha[i] : 255;
        EXPECT_EQ(alpha, e >> 24) << i;
    }
}

TEST_F(ScreenshotTest, DefaultPngCompositesOverMidGrey) {
    const std::string path = root.path("/tmp/shot.png");
    testing::internal::CaptureStdout();
    ASSERT_EQ(screenshot({path}), 0);
    testing::internal::GetCapturedStdout();
    Png png;
    ASSERT_TRUE(readPng(path, png));
    EXPECT_EQ(png.colorType, PNG_COLOR_TYPE_RGB);
    EXPECT_EQ(veld::tools::kScreenshotBackground, 0x808080u);
    struct Case {
        uint8_t index;
        uint8_t r, g, b;
    };
    // Index 0 (transparent) and 3 (alpha 0) show the background; 2 is white at alpha 0x80:
    // (255 * 128 + 128 * 127) / 255 = 192; 4 is black at alpha 0xC0: 128 * 63 / 255 = 32.
    for (Case c : {Case{0, 0x80, 0x80, 0x80}, Case{1, 0xFF, 0x00, 0x00}, Case{2, 192, 192, 192},
                   Case{3, 0x80, 0x80, 0x80}, Case{4, 32, 32, 32}, Case{200, 0, 0, 0xFF}}) {
        bool seen = false;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                if (indexAt(x, y) != c.index) continue;
                seen = true;
                const uint8_t* px = &png.samples[(y * kWidth + x) * 3];
                ASSERT_EQ(px[0], c.r) << int{c.index};
                ASSERT_EQ(px[1], c.g) << int{c.index};
                ASSERT_EQ(px[2], c.b) << int{c.index};
            }
        }
        EXPECT_TRUE(seen) << int{c.index};
    }
}

TEST_F(ScreenshotTest, WaitsForALaterFrame) {
    const std::string path = root.path("/tmp/later.png");
    std::thread pusher([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        display.pixels[0] = 200;
        XDRV_UpdateScreen(&display);
    });
    testing::internal::CaptureStdout();
    const int status = screenshot({path, "--indexed", "--wait-frame", "2", "--timeout", "10000"});
    testing::internal::GetCapturedStdout();
    pusher.join();
    ASSERT_EQ(status, 0);
    Png png;
    ASSERT_TRUE(readPng(path, png));
    EXPECT_EQ(png.samples[0], 200);
}

TEST_F(ScreenshotTest, FailuresAreOneLineAndNonZero) {
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string message;
    };
    const std::string path = root.path("/tmp/x.png");
    const std::vector<Case> cases = {
        {{}, 2, "missing argument (usage: veldctl screenshot FILE.png"},
        {{path, "--wait-frame"}, 2, "--wait-frame needs N"},
        {{path, "--wait-frame", "0"}, 2, "--wait-frame needs a frame number from 1"},
        {{path, "--timeout", "-4"}, 2, "--timeout needs a number (MS), not '-4'"},
        {{path, "--bogus"}, 2, "unknown option --bogus"},
        {{path, path}, 2, "unexpected argument"},
        {{path, "--wait-frame", "9", "--timeout", "10"}, 1,
         "frame 9 was not shown within 10 ms (latest is frame 1)"},
        {{root.path("/no/such/dir/x.png")}, 1,
         "cannot write " + root.path("/no/such/dir/x.png") + ": No such file or directory"},
    };
    for (const Case& c : cases) {
        testing::internal::CaptureStderr();
        testing::internal::CaptureStdout();
        EXPECT_EQ(screenshot(c.args), c.status) << c.message;
        testing::internal::GetCapturedStdout();
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(c.message), std::string::npos) << err;
        EXPECT_EQ(err.find('\n'), err.size() - 1) << err;  // one line
    }
    EXPECT_EQ(std::fopen(path.c_str(), "rb"), nullptr);  // nothing half-written is left

    VELD_HOST_FB_Unlink(veld::xdrv::kLayer);
    testing::internal::CaptureStderr();
    EXPECT_EQ(screenshot({path}), 1);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("no frame has been shown on layer 1"),
              std::string::npos);
}

TEST_F(ScreenshotTest, StaleFramesAreWrittenButReported) {
    const std::string path = root.path("/tmp/stale.png");
    struct Run {
        int status;
        std::string err;
    };
    const auto run = [&](std::vector<std::string> args) {
        testing::internal::CaptureStderr();
        testing::internal::CaptureStdout();
        const int status = screenshot(std::move(args));
        testing::internal::GetCapturedStdout();
        return Run{status, testing::internal::GetCapturedStderr()};
    };
    // Frame 2 comes from a process that has ended since.
    const pid_t painter = fork();
    ASSERT_GE(painter, 0);
    if (painter == 0) _exit(XDRV_UpdateScreen(&display) == 0 ? 0 : 1);
    int waitStatus = 0;
    ASSERT_EQ(waitpid(painter, &waitStatus, 0), painter);
    ASSERT_EQ(WEXITSTATUS(waitStatus), 0);
    Run r = run({path});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("frame 2 is stale: the process that drew it (pid " + std::to_string(painter) +
                         ") has ended"),
              std::string::npos)
        << r.err;
    Png png;
    EXPECT_TRUE(readPng(path, png)) << "the image is written all the same";
    EXPECT_EQ(run({path, "--allow-stale"}).status, 0);

    // Frame 3 is this process's, but the pid file names a newer daemon that has not drawn yet.
    ASSERT_EQ(XDRV_UpdateScreen(&display), 0);
    EXPECT_EQ(run({path}).status, 0);
    const pid_t daemon = fork();
    ASSERT_GE(daemon, 0);
    if (daemon == 0) {
        pause();
        _exit(0);
    }
    root.writeFile("/tmp/veldd.pid", std::to_string(daemon) + "\n");
    r = run({path});
    kill(daemon, SIGKILL);
    waitpid(daemon, nullptr, 0);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("veldd (pid " + std::to_string(daemon) + ") has not drawn a frame yet"),
              std::string::npos)
        << r.err;
}

TEST_F(ScreenshotTest, HelpNamesTheBackground) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(screenshot({"--help"}), 0);
    const std::string help = testing::internal::GetCapturedStdout();
    EXPECT_NE(help.find("usage: veldctl screenshot FILE.png"), std::string::npos);
    EXPECT_NE(help.find("0x808080"), std::string::npos);
}

}  // namespace
