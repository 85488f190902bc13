// The monitor's app framework and its hand-over point: the start-up event with and without
// the DNN demo switch, events posted by other threads (SendMessage2SSM) through a real run of
// the event loop until the quit event ends it, and an app whose stop fails.
#include <gtest/gtest.h>

#include <string>

#include "monitor_apps_fixture.h"
#include "ssm.h"

namespace {

using AppFramework = veld::test::MonitorApps;

bool running(uint32_t id) { return (SSM_APP_GetDesc(id)->state & SSM_APP_STATE_RUNNING) != 0; }

TEST_F(AppFramework, StartUpOpensTheDnnAppOnlyWhenTheCommandLineAsks) {
    struct Case {
        const char* cmdline;
        bool dnn;
    } cases[] = {
        {"ssm.dnn_demo.auto_start=1 ssm.dnn_app.cpu_win=1", true},
        {"ssm.dnn_demo.auto_start=10 ssm.dnn_app.cpu_win=1", true},  // only the first character counts
        {"ssm.dnn_demo.auto_start=0 ssm.dnn_app.cpu_win=1", false},
        {"ssm.dnn_app.cpu_win=1", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cmdline);
        root_.writeFile("/proc/cmdline", c.cmdline);
        XEvent startUp{};
        startUp.type = SSM_EVENT_STARTUP;
        SSM_GlobalEventHandler(&startUp, 0);
        for (uint32_t panel : {257u, 258u, 259u, 260u}) EXPECT_TRUE(running(panel)) << panel;
        EXPECT_TRUE(running(0)) << "the quick menu opens";
        EXPECT_EQ(running(525), c.dnn);
        const SSM_APP_DESC* active = SSM_APP_GetActiveAppDesc();
        EXPECT_EQ(active ? active->id : 0u, c.dnn ? 525u : 0u);
        // The next case starts from a monitor that has just come up.
        XWM_DestroyAllObjects();
        veld::ssm::resetApps();
    }
}

TEST_F(AppFramework, PostedEventsKeepTheirWordsAndQuitBecomesTheQuitEvent) {
    const uint32_t words[6] = {1, 2, 3, 4, 5, 6};
    ASSERT_EQ(SendMessage2SSM(0x7777, words), 0);
    ASSERT_EQ(SendMessage2SSM(veld::ssm::kEventQuit, words), 0);
    XEvent event{};
    ASSERT_TRUE(pollEvent(event));
    EXPECT_EQ(event.type, 0x7777u);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(event.param[i], words[i]) << i;
    ASSERT_TRUE(pollEvent(event));
    EXPECT_EQ(event.type, XEVENT_QUIT);
    for (uint32_t word : event.param) EXPECT_EQ(word, 0u) << "the quit event carries nothing";
    EXPECT_FALSE(pollEvent(event));
}

TEST_F(AppFramework, TheLoopHandsPostedEventsToTheMonitorUntilQuit) {
    const uint32_t expected[6] = {0xb0000, 0, 0, 0, 0, 0};
    const uint32_t unexpected[6] = {0x12345, 0, 0, 0, 0, 0};
    const uint32_t none[6] = {};
    ASSERT_EQ(SendMessage2SSM(SSM_EVENT_SYSTEM2UI, expected), 0);
    ASSERT_EQ(SendMessage2SSM(SSM_EVENT_SYSTEM2UI, unexpected), 0);
    ASSERT_EQ(SendMessage2SSM(0x7777, none), 0);
    ASSERT_EQ(SendMessage2SSM(veld::ssm::kEventQuit, none), 0);
    ASSERT_EQ(SSM_APP_QuickMenu(0, nullptr), 0);  // a live form, which the quit takes down

    XWM_Run();  // returns once the quit event has been dispatched

    EXPECT_FALSE(created(XDB_GetForm(SSM_FORM_QUICK_MENU)));
    EXPECT_TRUE(loggedBy("SSM_GlobalEventHandler", "[xErr] [ssm] unknown SYSTEM2UI event (0x12345)\n"));
    EXPECT_FALSE(logged("unknown SYSTEM2UI event (0xb0000)")) << "0xb0000 is the expected one";
    EXPECT_TRUE(loggedBy("SSM_GlobalEventHandler", "[xErr] [ssm] unknown event (0x7777)\n"));
}

// Starts, but refuses to stop.
int32_t stubbornApp(uint32_t mode, const void*) { return mode == 1 ? -5 : 0; }

TEST_F(AppFramework, AFailedStopLeavesItsRowRunningAndTheNewAppStillStarts) {
    SSM_APP_GetDesc(513)->action = stubbornApp;  // the table is restored by the next reset
    SSM_APP_Run(513, nullptr);
    ASSERT_TRUE(running(513));
    ASSERT_EQ(SSM_APP_GetActiveAppDesc(), SSM_APP_GetDesc(513));

    SSM_APP_Run(527, nullptr);  // the media player: starts without a window
    EXPECT_TRUE(running(513)) << "its stop failed, so it still counts as running";
    EXPECT_EQ(SSM_APP_GetDesc(513)->state, SSM_APP_STATE_RUNNING | SSM_APP_STATE_VISIBLE);
    EXPECT_TRUE(running(527));
    EXPECT_EQ(SSM_APP_GetActiveAppDesc(), SSM_APP_GetDesc(527));
}

}  // namespace
