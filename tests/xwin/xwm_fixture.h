// Fixture of the window manager and window tests: a private root and namespace with a small
// display and the event queue, a clock the test drives, captured log lines, and recorders for
// key functions, render functions and the application handler.
#pragma once

#include "captured_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "test_root.h"
#include "veldcore_host.h"
#include "veldd_log.h"
#include "xwindow.h"
#include "xwm.h"

namespace veld::test {

struct KeyCall {
    XWindow* window;
    uint16_t code;
    uint32_t arg;
};

struct AppCall {
    uint32_t type;
    uint16_t code;
    uint32_t arg;
};

class WindowSystem : public ::testing::Test {
public:
    static constexpr uint16_t kWidth = 64;
    static constexpr uint16_t kHeight = 48;

    void SetUp() override {
        root_.writeFile("/proc/qv/fbdev/fb0/fbmem", "0 0 64 48\n");
        if (g_veldd_logm_fd < 0) g_veldd_logm_fd = VELD_LOGM_ObjRegister("veldd");
        VELD_LOGM_BitMaskEnable(g_veldd_logm_fd, veld::loglevel::kDebug);
        VELD_LOGM_BitMaskEnable(g_veldd_logm_fd, veld::loglevel::kError);
        VELD_HOST_SetLogSink(&WindowSystem::captureLine, nullptr);
        keyCalls().clear();
        appCalls().clear();
        answers().clear();
        renders().clear();
        onKey() = nullptr;
        onApp() = nullptr;
        fakeNow() = 1000;
        veld::xwm::setTickSource([] { return fakeNow(); });
        INITIALIZE_TASK(0);
        ASSERT_EQ(XWM_Init(), 0);
        XWM_SetAppEventHandler(&WindowSystem::recordApp);
        clearLog();
    }

    void TearDown() override {
        onKey() = nullptr;
        onApp() = nullptr;
        XWM_DestroyAllObjects();
        XWM_RequestClockStop();
        XWM_SetAppEventHandler(nullptr);
        XWM_SetAppEventFilter(nullptr);
        // Free the timers while the state is still ours.
        INITIALIZE_TASK(0);
        veld::xwm::setTickSource(nullptr);
        VELD_HOST_SetLogSink(nullptr, nullptr);
        removeQueue(0x00149FBDu);
    }

    // ---- recorders --------------------------------------------------------------------------

    static std::vector<KeyCall>& keyCalls() {
        static std::vector<KeyCall> calls;
        return calls;
    }
    static std::vector<AppCall>& appCalls() {
        static std::vector<AppCall> calls;
        return calls;
    }
    // What a window's key function answers (XWIN_NOT_HANDLED when not set).
    static std::map<XWindow*, int32_t>& answers() {
        static std::map<XWindow*, int32_t> map;
        return map;
    }
    static std::map<XWindow*, int>& renders() {
        static std::map<XWindow*, int> map;
        return map;
    }
    // Runs inside every recorded key function call, after recording.
    static std::function<void(XWindow*, XKeyData*, uint32_t)>& onKey() {
        static std::function<void(XWindow*, XKeyData*, uint32_t)> hook;
        return hook;
    }
    // Runs inside every application handler call, after recording.
    static std::function<void(XEvent*, uint32_t)>& onApp() {
        static std::function<void(XEvent*, uint32_t)> hook;
        return hook;
    }
    static uint32_t& fakeNow() {
        static uint32_t now = 0;
        return now;
    }

    static int32_t recordKey(XWindow* window, XKeyData* key, uint32_t arg) {
        keyCalls().push_back({window, key->code, arg});
        if (onKey()) onKey()(window, key, arg);
        const auto it = answers().find(window);
        return it == answers().end() ? XWIN_NOT_HANDLED : it->second;
    }

    static int32_t recordApp(XEvent* event, uint32_t arg) {
        appCalls().push_back({event->type, event->key.code, arg});
        if (onApp()) onApp()(event, arg);
        return 0;
    }

    static int32_t countRender(XWindow* window) {
        ++renders()[window];
        return 0;
    }

    // Codes the window's key function received, in order.
    static std::vector<uint16_t> codesFor(const XWindow* window) {
        std::vector<uint16_t> codes;
        for (const auto& call : keyCalls())
            if (call.window == window) codes.push_back(call.code);
        return codes;
    }
    static int countOf(const XWindow* window, uint16_t code) {
        const auto codes = codesFor(window);
        return static_cast<int>(std::count(codes.begin(), codes.end(), code));
    }

    // ---- windows ----------------------------------------------------------------------------

    static XWindow* makeForm(XWindow& form, uint16_t children = 0, XPosInfo position = {0, 0, 32, 16},
                             uint32_t options = 0, XWindow* parent = nullptr) {
        EXPECT_EQ(XWIN_Create(&form, 0, parent, children, 0, options, &recordKey, &countRender,
                              &position),
                  0);
        return &form;
    }

    static XWindow* makeControl(XWindow& control, XWindow& parent, uint16_t id,
                                XPosInfo position = {0, 0, 8, 8}) {
        EXPECT_EQ(XWIN_Create(&control, 1, &parent, 0, id, 0, &recordKey, &countRender,
                              &position),
                  0);
        EXPECT_EQ(XWIN_AttachChild(&parent, id, &control), 0);
        return &control;
    }

    // ---- clock ------------------------------------------------------------------------------

    // Dispatches one clock tick with the clock at `ms`.
    static void tickAt(uint32_t ms) {
        fakeNow() = ms;
        XEvent event{};
        event.type = XEVENT_CLOCK_TICK;
        XWM_ExecAppAnyEvent(&event);
    }

    static uint16_t timerCount() { return veld::xwm::state().timers.count; }

    // ---- log --------------------------------------------------------------------------------

    static void captureLine(const char* line, void* context) { veld::test::CapturedLog::sink(line, context); }
    static void clearLog() { veld::test::CapturedLog::clear(); }
    // Whether a line written by `function` contains `text`.
    static bool logged(std::string_view function, std::string_view text) {
        return veld::test::CapturedLog::contains(function, text);
    }

protected:
    TestRoot root_;
    // Window records live as long as the fixture, so that TearDown can still destroy what a
    // test left alive.
    XWindow form_[8]{};
    XWindow ctl_[24]{};
};

}  // namespace veld::test
