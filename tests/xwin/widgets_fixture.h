// Fixture of the widget tests: the window system on a small display in a private root and
// namespace, one form at the display's origin holding the focus, captured log lines, pixel
// probes, text-art golden images and a heap gauge for leak checks.
//
// Golden images live in tests/fixtures/xwin/widgets/<name>.txt, one character per pixel:
// '.' index 0, '1'..'9' indices 1..9, 'a'.. indices 10..35, 'A'.. the dimmed indices
// 128..153. A mismatch writes <name>.actual.txt beside the expected file; running with
// VELD_UPDATE_GOLDENS=1 rewrites the expected files.
#pragma once

#include "captured_log.h"
#include "golden.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "test_root.h"
#include "veldcore_host.h"
#include "veldd_log.h"
#include "xwindow.h"
#include "xwm.h"

namespace veld::test {

class WidgetTest : public ::testing::Test {
protected:
    static constexpr uint16_t kWidth = 320;
    static constexpr uint16_t kHeight = 200;

    void SetUp() override {
        root_.writeFile("/proc/qv/fbdev/fb0/fbmem", "0 0 320 200\n");
        if (g_veldd_logm_fd < 0) g_veldd_logm_fd = VELD_LOGM_ObjRegister("veldd");
        VELD_LOGM_BitMaskEnable(g_veldd_logm_fd, veld::loglevel::kDebug);
        VELD_LOGM_BitMaskEnable(g_veldd_logm_fd, veld::loglevel::kError);
        VELD_HOST_SetLogSink(&WidgetTest::captureLine, nullptr);
        INITIALIZE_TASK(0);
        ASSERT_EQ(XWM_Init(), 0);
        const XPosInfo whole{0, 0, kWidth, kHeight};
        ASSERT_EQ(XWIN_Create(&form_, 0, nullptr, 4, 0, 0, nullptr, nullptr, &whole), 0);
        ASSERT_NE(form_.pixels, nullptr);
        XWM_SetFocus(&form_);
        clearScreen();
        clearLog();
    }

    void TearDown() override {
        // Destroying the form destroys the widgets attached to it, which release themselves.
        XWM_DestroyAllObjects();
        INITIALIZE_TASK(0);
        VELD_HOST_SetLogSink(nullptr, nullptr);
        removeQueue(0x00149FBDu);
    }

    // ---- pixels -------------------------------------------------------------------------------

    uint8_t at(int x, int y) const { return form_.pixels[size_t(y) * form_.pitch + size_t(x)]; }

    void clearScreen() {
        for (int y = 0; y < kHeight; ++y) std::memset(form_.pixels + size_t(y) * form_.pitch, 0, kWidth);
    }

    // How many pixels of the rectangle hold `colour`.
    int countColour(int x0, int y0, int w, int h, uint8_t colour) const {
        int n = 0;
        for (int y = y0; y < y0 + h; ++y)
            for (int x = x0; x < x0 + w; ++x) n += at(x, y) == colour;
        return n;
    }

    // Every pixel outside the rectangle is still 0.
    bool untouchedOutside(int x0, int y0, int w, int h) const {
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const bool inside = x >= x0 && x < x0 + w && y >= y0 && y < y0 + h;
                if (!inside && at(x, y) != 0) return false;
            }
        return true;
    }

    static char symbol(uint8_t index) {
        if (index == 0) return '.';
        if (index < 10) return char('0' + index);
        if (index < 36) return char('a' + index - 10);
        if (index >= 128 && index < 128 + 26) return char('A' + index - 128);
        return '?';
    }

    std::string art(int x0, int y0, int w, int h) const {
        std::string out;
        for (int y = y0; y < y0 + h; ++y) {
            for (int x = x0; x < x0 + w; ++x) out += symbol(at(x, y));
            out += '\n';
        }
        return out;
    }

    static void expectGolden(const std::string& name, const std::string& actual) {
        veld::test::expectGolden("xwin/widgets/" + name, actual);
    }

    // ---- log ------------------------------------------------------------------------------------

    static void captureLine(const char* line, void* context) { veld::test::CapturedLog::sink(line, context); }
    static void clearLog() { veld::test::CapturedLog::clear(); }
    static bool logged(std::string_view text) { return veld::test::CapturedLog::contains(text); }

    // ---- memory ---------------------------------------------------------------------------------

    // Debug lines off, so that captured lines do not count as memory in use.
    static void quietLog() { VELD_LOGM_BitMaskDisable(g_veldd_logm_fd, veld::loglevel::kDebug); }

    // Bytes the allocator has handed out and not got back.
    static size_t heapInUse() { return mallinfo2().uordblks; }

    // A form of its own (100 x 100, one child slot) beside the fixture's.
    static void createForm(XWindow& form) {
        const XPosInfo whole{0, 0, 100, 100};
        ASSERT_EQ(XWIN_Create(&form, 0, nullptr, 1, 0, 0, nullptr, nullptr, &whole), 0);
    }

    // Builds widgets on a form of their own with `build(form)` and destroys the form, `cycles`
    // times and then once more as many: over the second round the memory in use must not
    // grow by more than a little allocator slack (the first round lets the allocator settle).
    template <typename Build>
    static void expectNoGrowthOverFormCycles(int cycles, const Build& build) {
        quietLog();
        constexpr size_t kSlack = 256 * 1024;
        for (int round = 0; round < 2; ++round) {
            const size_t before = heapInUse();
            for (int i = 0; i < cycles; ++i) {
                XWindow form{};
                createForm(form);
                build(form);
                ASSERT_EQ(XWIN_Destroy(&form, 0), 0);
            }
            if (round == 1) {
                EXPECT_LT(heapInUse(), before + kSlack);
            }
        }
    }

    static int32_t sendKey(XWindow* window, uint16_t code, uint32_t arg = 0) {
        return XWIN_ExecSimpleKeyFn(window, code, arg);
    }
    static bool isInvalid(const XWindow* window) {
        return (window->flags & veld::xwin::kFlagInvalid) != 0;
    }
    static void validate(XWindow* window) { XWIN_Validate(window); }

    TestRoot root_;
    XWindow form_{};
};

}  // namespace veld::test
