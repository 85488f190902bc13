// Fixture of the monitor app tests: the real window system and the monitor's palette and form
// database in a private root and namespace, captured log lines, the event queue read without
// waiting, and the heap gauge of the stop-and-free checks.
#pragma once

#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/ipc.h>
#include <sys/msg.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ssm_app.h"
#include "ssm_sys.h"
#include "test_root.h"
#include "veld_framebuffer.h"
#include "veldcore_host.h"
#include "veldd_log.h"
#include "widgets/xtext_wgt.h"
#include "xwin/log_lines.h"
#include "xdrv.h"
#include "xwm.h"

namespace veld::test {

class MonitorApps : public ::testing::Test {
protected:
    void SetUp() override {
        root_.writeFile("/proc/qv/fbdev/fb0/fbmem", "0 0 1920 1080\n");
        log_.emplace();
        veld::ssm::resetApps();
        veld::ssm::resetCollectors();
        ASSERT_EQ(INITIALIZE_TASK(0), 0);
        ASSERT_EQ(XWM_Init(), 0);
        XWM_SetAppEventHandler(SSM_GlobalEventHandler);  // key 109 stops the active app
        SSM_RC_Init();
    }

    void TearDown() override {
        // Destroying the forms stops whatever app still runs (its threads are joined).
        XWM_DestroyAllObjects();
        log_.reset();
        VELD_HOST_FB_Unlink(1);
        removeQueue(veld::xdrv::queueKey("uxm-evq"));
    }

    static XWindow* appForm() { return XDB_GetForm(SSM_FORM_APP); }
    static bool created(const XWindow* form) { return (form->state & veld::xwin::kStateCreated) != 0; }

    // A page handed out by a builder, as text (the page is freed).
    static std::string take(XString page) {
        std::string text(page.data ? page.data : "", page.length);
        XUTIL_FreeString(page);
        return text;
    }

    // The lines a text view shows, each followed by a newline.
    static std::string shownText(XWindow* widget) {
        const auto* view = reinterpret_cast<const XTextWgt*>(widget);
        std::string text;
        for (int i = 0; i < view->totalLines; ++i)
            text.append(view->lines[i].data, view->lines[i].length).append("\n");
        return text;
    }

    // ---- the event queue, read without waiting --------------------------------------------------

    static bool pollEvent(XEvent& event) {
        struct {
            long type;
            XEvent event;
        } message{};
        if (msgrcv(veld::xdrv::eventQueueId(), &message, sizeof(XEvent), 0, IPC_NOWAIT) < 0) return false;
        event = message.event;
        return true;
    }

    // The next sampling event (16384) within the time-out; other events are dropped.
    static bool nextSampleEvent(XEvent& out, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        return eventually(
            [&] {
                XEvent event{};
                while (pollEvent(event))
                    if (event.type == XEVENT_KEY && event.key.code == SSM_EVENT_SAMPLE) {
                        out = event;
                        return true;
                    }
                return false;
            },
            timeout);
    }

    static int drainQueue() {
        int n = 0;
        XEvent event{};
        while (pollEvent(event)) ++n;
        return n;
    }

    bool logged(const std::string& text) { return log_ && log_->contains(text); }
    bool loggedBy(const std::string& function, const std::string& text) {
        return log_ && log_->containsFrom(function, text);
    }

    // ---- memory ---------------------------------------------------------------------------------

    // No log lines are kept while memory is measured.
    void quietLog() {
        log_.reset();
        VELD_LOGM_BitMaskDisable(g_veldd_logm_fd, veld::loglevel::kDebug);
        VELD_LOGM_BitMaskDisable(g_veldd_logm_fd, veld::loglevel::kError);
    }
    // One tick of the window manager's clock: due timers fire and stopped ones are reclaimed
    // (the window manager frees stopped timers only on its tick).
    static void clockTick() {
        XEvent tick{};
        tick.type = XEVENT_CLOCK_TICK;
        XWM_ExecAppAnyEvent(&tick);
    }
    // Bytes the allocator has handed out and not got back.
    static size_t heapInUse() { return mallinfo2().uordblks; }

    TestRoot root_;
    std::optional<LogLines> log_;
};

}  // namespace veld::test
