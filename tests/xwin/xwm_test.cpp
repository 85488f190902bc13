// Window manager: the event loop fed through the real event queue, the pushes, the clock and
// every timer rule, the focus chain and the screen refresh.
#include <array>

#include "xwm_fixture.h"

using namespace veld::test;
using namespace veld::xwin;

namespace {

constexpr uint32_t kAppEvent = 0x5000;    // an application event the tests use as a probe
constexpr uint32_t kSetClock = 0x5001;    // probe that sets the test clock to param[1]
constexpr uint32_t kStartEvent = 0xFF00;  // the monitor's start event

// Queues the events and an XEVENT_QUIT, then runs the loop until the quit.
void runLoop(const std::vector<XEvent>& events) {
    for (const XEvent& event : events) ASSERT_EQ(XWM_PushAnyEvent(&event, 0), 0);
    ASSERT_EQ(XWM_PushEvent(XEVENT_QUIT, 0), 0);
    XWM_Run();
}

XEvent keyEvent(uint16_t code) {
    XEvent event{};
    event.type = XEVENT_KEY;
    event.key.code = code;
    return event;
}

XEvent plainEvent(uint32_t type, uint32_t value = 0) {
    XEvent event{};
    event.type = type;
    event.param[1] = value;
    return event;
}

std::vector<uint32_t> appTypes() {
    std::vector<uint32_t> types;
    for (const auto& call : WindowSystem::appCalls()) types.push_back(call.type);
    return types;
}

}  // namespace

// ---- The loop, through the queue ------------------------------------------------------------

TEST_F(WindowSystem, KeyWithoutFocusGoesStraightToTheApplication) {
    runLoop({keyEvent(10)});
    ASSERT_EQ(appCalls().size(), 2u);
    EXPECT_EQ(appCalls()[0].type, XEVENT_KEY);
    EXPECT_EQ(appCalls()[0].code, 10);
    EXPECT_EQ(appCalls()[0].arg, 0u);
    EXPECT_EQ(appCalls()[1].type, XEVENT_QUIT);
}

TEST_F(WindowSystem, UnhandledArrowReachesTheApplicationAsAnEdgeMessage) {
    XWindow* form = makeForm(form_[0], 2, {0, 0, 32, 16}, kOptLinearH);
    makeControl(ctl_[0], *form, 0);
    makeControl(ctl_[1], *form, 1);
    ASSERT_EQ(XWIN_SetInitialFocus(form, 1), 0);
    XWM_SetFocus(form);
    answers()[&ctl_[0]] = 0;  // a control that handles everything, once it has the hilite

    runLoop({keyEvent(XKEY_RIGHT), keyEvent(XKEY_LEFT), keyEvent(10)});

    // Right at the last child moved nothing: the form and then the application saw the edge.
    // Left moved the hilite; the select key then went to the new hilite, which handled it.
    ASSERT_EQ(appCalls().size(), 2u);
    EXPECT_EQ(appCalls()[0].type, XEVENT_KEY);
    EXPECT_EQ(appCalls()[0].code, XMSG_EDGE_RIGHT);
    EXPECT_EQ(appCalls()[1].type, XEVENT_QUIT);
    EXPECT_EQ(countOf(form, XMSG_EDGE_RIGHT), 1);
    EXPECT_EQ(countOf(&ctl_[0], 10), 1);
}

TEST_F(WindowSystem, FilterSwallowsKeyTypesButNeverLowerTypes) {
    XWM_SetAppEventFilter([](XEvent*, uint32_t) -> int32_t { return 1; });
    runLoop({keyEvent(10), plainEvent(100), plainEvent(kStartEvent)});
    // Swallowed events arrive as type 0; 100 and the quit (3) are below the key type.
    EXPECT_EQ(appTypes(), (std::vector<uint32_t>{0, 100, 0, XEVENT_QUIT}));
    EXPECT_EQ(appCalls()[0].code, 10);
}

TEST_F(WindowSystem, QuitDestroysEveryLiveFormCallsTheApplicationOnceAndEndsTheLoop) {
    for (int i = 0; i < 3; ++i) makeForm(form_[i]);
    XWM_SetFocus(&form_[2]);
    runLoop({});
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(countOf(&form_[i], XMSG_DESTROY), 1) << i;
        EXPECT_EQ(form_[i].state, 0) << i;  // record cleared
    }
    EXPECT_EQ(appTypes(), (std::vector<uint32_t>{XEVENT_QUIT}));
    EXPECT_TRUE(XSLIST_IsEmpty(&veld::xwm::state().liveForms));
    EXPECT_EQ(XWM_GetFocus(), nullptr);
}

TEST_F(WindowSystem, LoopRendersInvalidWindowsAfterEachEventAndPushesThem) {
    XWindow* form = makeForm(form_[0], 1);
    makeControl(ctl_[0], *form, 0);
    XWIN_Show(form);
    std::vector<std::pair<int, int>> seen;  // renders of form and control at each probe
    std::vector<bool> dirty;
    onApp() = [&](XEvent* event, uint32_t) {
        if (event->type != kAppEvent) return;
        seen.emplace_back(renders()[&form_[0]], renders()[&ctl_[0]]);
        dirty.push_back((form_[0].state & kStateScreenDirty) != 0);
        if (event->param[1] == 1) XWIN_Invalidate(&ctl_[0]);
    };
    runLoop({plainEvent(kAppEvent, 0), plainEvent(kAppEvent, 1), plainEvent(kAppEvent, 0)});
    // The refresh after the first probe rendered both; after the second only the control that
    // the handler invalidated. A pushed form is no longer screen-dirty.
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0], std::make_pair(0, 0));
    EXPECT_EQ(seen[1], std::make_pair(1, 1));
    EXPECT_EQ(seen[2], std::make_pair(1, 2));
    EXPECT_EQ(dirty, (std::vector<bool>{false, false, false}));
    EXPECT_TRUE(logged("XWM_RefreshScreen", "[xDbg] update count = 1\n"));
}

TEST_F(WindowSystem, DisplaySyncPushesOnlyVisibleForms) {
    makeForm(form_[0], 0, {1, 2, 10, 10});
    makeForm(form_[1], 0, {3, 4, 10, 10});
    XWIN_Hide(&form_[1]);
    form_[0].state |= kStateScreenDirty;
    form_[1].state |= kStateScreenDirty;
    clearLog();
    const XEvent sync = plainEvent(XEVENT_DISP_SYNC);
    XWM_ExecAppAnyEvent(&sync);
    EXPECT_EQ(form_[0].state & kStateScreenDirty, 0);
    EXPECT_NE(form_[1].state & kStateScreenDirty, 0);
    EXPECT_TRUE(logged("XWM_Run", "[xDbg] XEVENT_DISP_SYNC !!\n"));
    EXPECT_TRUE(logged("XDRV_UpdateFrameBuffer", "win (1,2,10x10)"));
    EXPECT_FALSE(logged("XDRV_UpdateFrameBuffer", "win (3,4,10x10)"));
    EXPECT_TRUE(logged("XDRV_UpdateScreen", "update_ssm_screen"));

    // Through the queue the same happens, followed by the loop's own refresh.
    clearLog();
    runLoop({plainEvent(XEVENT_DISP_SYNC)});
    EXPECT_TRUE(logged("XWM_Run", "[xDbg] XEVENT_DISP_SYNC !!\n"));
}

TEST_F(WindowSystem, RestartOnKeyTimerIsPushedBackByEveryKey) {
    static std::vector<uint32_t> firedAt;
    firedAt.clear();
    ASSERT_EQ(XWM_RequestTimerStart(7, 500, veld::xwm::kTimerRestartOnKey | veld::xwm::kTimerPeriodic, nullptr,
                                     [](XWindow*, uint32_t) -> int32_t {
                                         firedAt.push_back(fakeNow());
                                         return 0;
                                     }),
              0);
    onApp() = [](XEvent* event, uint32_t) {
        if (event->type == kSetClock) fakeNow() = event->param[1];
    };
    const XEvent tick = plainEvent(XEVENT_CLOCK_TICK);
    runLoop({plainEvent(kSetClock, 1400), keyEvent(10),         // deadline 1500 -> 1900
             plainEvent(kSetClock, 1600), tick,                 // would have fired at 1500
             plainEvent(kSetClock, 1850), keyEvent(11),         // deadline -> 2350
             plainEvent(kSetClock, 2000), tick,
             plainEvent(kSetClock, 2400), tick});               // 2350 < 2400: fires
    EXPECT_EQ(firedAt, (std::vector<uint32_t>{2400}));
}

// ---- Pushing and fetching ---------------------------------------------------------------------

TEST_F(WindowSystem, PushKeyEventExCopiesAtMostFourWords) {
    const uint32_t words[6] = {11, 22, 33, 44, 55, 66};
    struct Row {
        const uint32_t* words;
        int32_t count;
        std::array<uint32_t, 4> expected;
    };
    const Row rows[] = {
        {words, 6, {11, 22, 33, 44}},
        {words, 2, {11, 22, 0, 0}},
        {words, 0, {0, 0, 0, 0}},
        {words, -3, {0, 0, 0, 0}},
        {nullptr, 4, {0, 0, 0, 0}},
    };
    for (const Row& row : rows) {
        ASSERT_EQ(XWM_PushKeyEventEx(47, row.words, row.count, 1), 0);
        XEvent event{};
        ASSERT_EQ(XWM_FetchEvent(&event, 0), XEVENT_KEY);
        EXPECT_EQ(event.key.code, 47);
        EXPECT_EQ(event.key.value, 0u);
        for (size_t i = 0; i < 4; ++i) EXPECT_EQ(event.key.extra[i], row.expected[i]) << row.count;
    }
}

TEST_F(WindowSystem, PushesQueueCopiesAndANullEventIsIgnored) {
    EXPECT_EQ(XWM_PushAnyEvent(nullptr, 0), -5);
    XEvent original = plainEvent(kAppEvent, 77);
    ASSERT_EQ(XWM_PushAnyEvent(&original, 0), 0);
    original.param[1] = 0;
    ASSERT_EQ(XWM_PushKeyEvent(91, 0), 0);
    ASSERT_EQ(XWM_PushEvent(XEVENT_DISP_SYNC, 0), 0);

    XEvent event{};
    EXPECT_EQ(XWM_FetchEvent(&event, 0), kAppEvent);
    EXPECT_EQ(event.param[1], 77u);
    EXPECT_EQ(XWM_FetchEvent(&event, 0), XEVENT_KEY);
    EXPECT_EQ(event.key.code, 91);
    EXPECT_EQ(XWM_FetchEvent(&event, 0), XEVENT_DISP_SYNC);
    EXPECT_EQ(event.param[1], 0u);
}

TEST_F(WindowSystem, TickCallbackQueuesAClockTickOnlyWhileTheClockRuns) {
    XM_TICK_CALLBACK();  // clock stopped: nothing queued
    ASSERT_EQ(XWM_PushKeyEvent(10, 0), 0);
    XEvent event{};
    EXPECT_EQ(XWM_FetchEvent(&event, 0), XEVENT_KEY);

    ASSERT_EQ(XWM_RequestClockStart(), 0);
    XM_TICK_CALLBACK();
    EXPECT_EQ(XWM_FetchEvent(&event, 0), XEVENT_CLOCK_TICK);
    ASSERT_EQ(XWM_RequestClockStop(), 0);
}

TEST_F(WindowSystem, ClockStartAndStopRefuseTheStateTheyWouldCreate) {
    EXPECT_EQ(XWM_RequestClockStop(), -5);
    EXPECT_EQ(XWM_RequestClockStart(), 0);
    EXPECT_EQ(XWM_RequestClockStart(), -5);
    EXPECT_EQ(XWM_RequestClockStop(), 0);
    EXPECT_EQ(XWM_RequestClockStop(), -5);
}

TEST_F(WindowSystem, ExecAppKeyEventDispatchesAtOnceWithoutTheQueue) {
    XWindow* form = makeForm(form_[0]);
    XWM_SetFocus(form);
    XWM_ExecAppKeyEvent(73);
    EXPECT_EQ(countOf(form, 73), 1);
    ASSERT_EQ(appCalls().size(), 1u);
    EXPECT_EQ(appCalls()[0].code, 73);
    XEvent event = plainEvent(kAppEvent);
    EXPECT_EQ(XWM_RequestEventHandle(&event, 5), 0);
    EXPECT_EQ(appCalls().back().type, kAppEvent);
    EXPECT_EQ(appCalls().back().arg, 0u);  // the handler always gets 0 here
}

// ---- Timers -------------------------------------------------------------------------------------

namespace {

using veld::xwm::kTimerOneShot;
using veld::xwm::kTimerPeriodic;

std::vector<std::pair<uint32_t, uint32_t>>& fired() {  // (id, clock) of each callback
    static std::vector<std::pair<uint32_t, uint32_t>> list;
    return list;
}

int32_t recordTimer(XWindow*, uint32_t id) {
    fired().emplace_back(id, WindowSystem::fakeNow());
    return 0;
}

std::vector<uint32_t> firedClocks() {
    std::vector<uint32_t> clocks;
    for (const auto& [id, clock] : fired()) clocks.push_back(clock);
    return clocks;
}

// Timer tests start with an empty record of callback deliveries.
class Timers : public WindowSystem {
protected:
    void SetUp() override {
        WindowSystem::SetUp();
        fired().clear();
    }
};

}  // namespace

TEST_F(Timers, TimerKindsFireAsTheirFlagsSay) {
    struct Row {
        const char* name;
        uint32_t flags;
        std::vector<uint32_t> expected;  // clocks of the ticks that delivered
    };
    // Started at 1000 with a period of 1000: due once the deadline lies strictly in the past.
    const Row rows[] = {
        {"periodic", kTimerPeriodic, {2200, 3400, 4600}},
        {"one-shot", kTimerOneShot, {2200}},
        {"plain: fires on every tick until stopped", 0, {2200, 2400, 2600, 2800, 3000, 3200,
                                                          3400, 3600, 3800, 4000, 4200, 4400,
                                                          4600, 4800}},
    };
    for (const Row& row : rows) {
        fired().clear();
        fakeNow() = 1000;
        ASSERT_EQ(XWM_RequestTimerStart(40, 1000, row.flags, nullptr, &recordTimer), 0);
        for (uint32_t t = 1200; t <= 4800; t += 200) tickAt(t);
        EXPECT_EQ(firedClocks(), row.expected) << row.name;
        XWM_RequestTimerStop(40);
        tickAt(5000);
        EXPECT_EQ(timerCount(), 0) << row.name;
    }
}

TEST_F(Timers, StartingAnIdAgainKeepsOneTimerWithTheSecondSettings) {
    XWindow* first = makeForm(form_[0]);
    XWindow* second = makeForm(form_[1]);
    ASSERT_EQ(XWM_RequestTimerStart(9, 5000, kTimerPeriodic, first, nullptr), 0);
    ASSERT_EQ(XWM_RequestTimerStart(9, 100, kTimerOneShot, second, nullptr), 0);
    EXPECT_EQ(timerCount(), 1);
    keyCalls().clear();
    tickAt(1200);
    tickAt(1400);
    EXPECT_TRUE(codesFor(first).empty());
    EXPECT_EQ(codesFor(second), (std::vector<uint16_t>{XMSG_TIMER}));
    EXPECT_EQ(timerCount(), 0);  // the one-shot is gone
}

TEST_F(Timers, StoppedTimerIsFreedOnTheNextTickAndNeverDeliveredAgain) {
    ASSERT_EQ(XWM_RequestTimerStart(3, 100, kTimerPeriodic, nullptr, &recordTimer), 0);
    tickAt(1200);
    ASSERT_EQ(fired().size(), 1u);
    EXPECT_EQ(XWM_RequestTimerStop(3), 0);
    EXPECT_EQ(timerCount(), 1);  // still listed until the tick
    tickAt(1400);
    EXPECT_EQ(timerCount(), 0);
    tickAt(1600);
    EXPECT_EQ(fired().size(), 1u);
    EXPECT_EQ(XWM_RequestTimerStop(3), -5);
}

TEST_F(Timers, WindowlessTimersGoToTheFocusThenToTheApplication) {
    struct Row {
        uint32_t id;
        uint16_t code;
    };
    const Row rows[] = {{0, XMSG_TIMER0}, {1, XMSG_TIME_TICK}, {7, XMSG_TIMER}};
    XWindow* focus = makeForm(form_[0]);
    XWM_SetFocus(focus);
    for (const Row& row : rows) {
        keyCalls().clear();
        appCalls().clear();
        fakeNow() = 1000;
        ASSERT_EQ(XWM_RequestTimerStart(row.id, 100, kTimerOneShot, nullptr, nullptr), 0);
        tickAt(1200);
        ASSERT_EQ(keyCalls().size(), 1u) << row.id;
        EXPECT_EQ(keyCalls()[0].window, focus);
        EXPECT_EQ(keyCalls()[0].code, row.code);
        EXPECT_EQ(keyCalls()[0].arg, row.id);
        // The focus did not handle it: the application gets the event with the id.
        ASSERT_EQ(appCalls().size(), 1u) << row.id;
        EXPECT_EQ(appCalls()[0].type, XEVENT_KEY);
        EXPECT_EQ(appCalls()[0].code, row.code);
        EXPECT_EQ(appCalls()[0].arg, row.id);
    }
    // Handled by the focus: the application hears nothing.
    answers()[focus] = 0;
    appCalls().clear();
    ASSERT_EQ(XWM_RequestTimerStart(8, 100, kTimerOneShot, nullptr, nullptr), 0);
    tickAt(1400);
    EXPECT_TRUE(appCalls().empty());
}

TEST_F(Timers, WindowlessTimerWithoutFocusIsNotDelivered) {
    ASSERT_EQ(XWM_RequestTimerStart(0, 100, kTimerOneShot, nullptr, nullptr), 0);
    tickAt(1200);
    EXPECT_TRUE(appCalls().empty());
    EXPECT_EQ(timerCount(), 0);
}

TEST_F(Timers, WindowTimersCarryTheirIdAndTheRightMessage) {
    XWindow* form = makeForm(form_[0], 1);
    XWindow* control = makeControl(ctl_[0], *form, 0);
    ASSERT_EQ(XWIN_StartTimeTick(form, 100), 0);                               // own id
    ASSERT_EQ(XWM_RequestTimerStart(20, 100, kTimerPeriodic, form, nullptr), 0);  // other id
    ASSERT_EQ(XWIN_StartTimeTick(control, 100), 0);
    keyCalls().clear();
    tickAt(1200);
    // In id order: 20 first, then the two random window ids (both above 2^24).
    std::vector<std::pair<uint16_t, uint32_t>> formCalls;
    for (const auto& call : keyCalls()) {
        if (call.window == form) formCalls.emplace_back(call.code, call.arg);
    }
    EXPECT_EQ(formCalls, (std::vector<std::pair<uint16_t, uint32_t>>{
                             {XMSG_TIMER, 20}, {XMSG_TIME_TICK, form->timerId}}));
    EXPECT_EQ(codesFor(control), (std::vector<uint16_t>{XMSG_TIMER}));
    EXPECT_TRUE(appCalls().empty());
    EXPECT_EQ(XWIN_StopTimeTick(form), 0);
}

TEST_F(Timers, TimerCallbackIsCalledInsteadOfAMessage) {
    XWindow* form = makeForm(form_[0]);
    static XWindow* target;
    target = nullptr;
    ASSERT_EQ(XWM_RequestTimerStart(form->timerId, 100, kTimerOneShot, form,
                                     [](XWindow* window, uint32_t id) -> int32_t {
                                         target = window;
                                         fired().emplace_back(id, 0);
                                         return 0;
                                     }),
              0);
    fired().clear();
    keyCalls().clear();
    tickAt(1200);
    EXPECT_EQ(target, form);
    ASSERT_EQ(fired().size(), 1u);
    EXPECT_EQ(fired()[0].first, form->timerId);
    EXPECT_TRUE(keyCalls().empty());
}

TEST_F(Timers, EveryTimerStoppedInOneTickIsReclaimedBeyondSixteen) {
    for (uint32_t id = 100; id < 140; ++id)
        ASSERT_EQ(XWM_RequestTimerStart(id, 100, kTimerPeriodic, nullptr, &recordTimer), 0);
    for (uint32_t id = 100; id < 140; ++id) ASSERT_EQ(XWM_RequestTimerStop(id), 0);
    tickAt(1200);
    EXPECT_EQ(timerCount(), 0);
    EXPECT_TRUE(fired().empty());
}

TEST_F(Timers, EveryOneShotExpiringInOneTickIsReclaimedBeyondSixteen) {
    for (uint32_t id = 100; id < 140; ++id)
        ASSERT_EQ(XWM_RequestTimerStart(id, 100, kTimerOneShot, nullptr, &recordTimer), 0);
    ASSERT_EQ(XWM_RequestTimerStart(500, 5000, kTimerPeriodic, nullptr, &recordTimer), 0);
    tickAt(1200);
    EXPECT_EQ(fired().size(), 40u);
    EXPECT_EQ(timerCount(), 1);  // only the periodic one that is not due
}

TEST_F(Timers, TimerStoppedAndStartedAgainWithinOneTickSurvives) {
    // Timer 3 runs first (id order) and restarts timer 5, which was stopped before the tick.
    ASSERT_EQ(XWM_RequestTimerStart(5, 300, kTimerOneShot, nullptr, &recordTimer), 0);
    ASSERT_EQ(XWM_RequestTimerStop(5), 0);
    ASSERT_EQ(XWM_RequestTimerStart(3, 100, kTimerOneShot, nullptr,
                                     [](XWindow*, uint32_t) -> int32_t {
                                         return XWM_RequestTimerStart(5, 300, kTimerOneShot,
                                                                      nullptr, &recordTimer);
                                     }),
              0);
    tickAt(1200);
    EXPECT_EQ(timerCount(), 1);
    tickAt(1600);
    EXPECT_EQ(fired(), (std::vector<std::pair<uint32_t, uint32_t>>{{5, 1600}}));
    EXPECT_EQ(timerCount(), 0);
}

TEST_F(Timers, CallbackMayStopOtherTimersAndDispatchATickOfItsOwn) {
    ASSERT_EQ(XWM_RequestTimerStart(4, 100, kTimerPeriodic, nullptr, &recordTimer), 0);
    ASSERT_EQ(XWM_RequestTimerStart(2, 100, kTimerOneShot, nullptr,
                                     [](XWindow*, uint32_t) -> int32_t {
                                         XWM_RequestTimerStop(4);
                                         XEvent tick{};
                                         tick.type = XEVENT_CLOCK_TICK;
                                         XWM_ExecAppAnyEvent(&tick);
                                         return 0;
                                     }),
              0);
    tickAt(1200);
    // The nested tick left both records to the outer one, which reclaimed them.
    EXPECT_TRUE(fired().empty());
    EXPECT_EQ(timerCount(), 0);
}

TEST_F(Timers, TimersFireAcrossTheWrapOfTheMillisecondClock) {
    fakeNow() = 0xFFFFFF00u;
    ASSERT_EQ(XWM_RequestTimerStart(6, 0x200, kTimerOneShot, nullptr, &recordTimer), 0);
    tickAt(0xFFFFFFC8u);
    tickAt(0x00000050u);  // deadline 0x100 not yet past
    EXPECT_TRUE(fired().empty());
    tickAt(0x00000118u);
    EXPECT_EQ(firedClocks(), (std::vector<uint32_t>{0x118}));
}

TEST_F(Timers, ClockMessageGoesEveryFifthTickToFormsThatWantIt) {
    XWindow* wants = makeForm(form_[0]);
    XWindow* other = makeForm(form_[1]);
    wants->state |= kStateWantsClock;
    ASSERT_EQ(XWM_RequestClockStart(), 0);
    keyCalls().clear();
    for (uint32_t i = 1; i <= 10; ++i) tickAt(1000 + 200 * i);
    EXPECT_EQ(codesFor(wants), (std::vector<uint16_t>{XMSG_CLOCK, XMSG_CLOCK}));
    EXPECT_TRUE(codesFor(other).empty());
    ASSERT_EQ(appCalls().size(), 2u);
    EXPECT_EQ(appCalls()[0].type, XEVENT_KEY);
    EXPECT_EQ(appCalls()[0].code, XMSG_CLOCK);
    ASSERT_EQ(XWM_RequestClockStop(), 0);
}

TEST_F(Timers, DroppingTheLiveListStopsEveryFormTimerBeyondSixteen) {
    constexpr int kForms = 8;
    for (int i = 0; i < kForms; ++i) {
        makeForm(form_[i]);
        ASSERT_EQ(XWIN_StartTimeTick(&form_[i], 100), 0);
        for (uint32_t j = 0; j < 2; ++j)
            ASSERT_EQ(XWM_RequestTimerStart(1000 + 10 * i + j, 100, kTimerPeriodic, &form_[i],
                                             nullptr),
                      0);
    }
    ASSERT_EQ(XWM_RequestTimerStart(7, 100, kTimerPeriodic, nullptr, &recordTimer), 0);
    ASSERT_EQ(timerCount(), 3 * kForms + 1);
    ASSERT_EQ(XWM_DelAllLiveFormList(), 0);
    EXPECT_TRUE(XSLIST_IsEmpty(&veld::xwm::state().liveForms));
    EXPECT_TRUE(logged("XWM_DelAllLiveFormList", "[xDbg] FORM TIMER"));
    keyCalls().clear();
    tickAt(1200);
    EXPECT_TRUE(keyCalls().empty());  // no form timer delivered
    EXPECT_EQ(timerCount(), 1);       // only the window-less one is left
    EXPECT_EQ(fired().size(), 1u);
    // The forms themselves are untouched.
    for (int i = 0; i < kForms; ++i) EXPECT_NE(form_[i].state & kStateCreated, 0) << i;
    // They are no longer live, so nothing else would destroy them: the test does.
    for (int i = 0; i < kForms; ++i) EXPECT_EQ(XWIN_Destroy(&form_[i], 0), 0);
}

// ---- Focus ----------------------------------------------------------------------------------------

TEST_F(WindowSystem, SetFocusWithAControlIsRefusedAndChangesNothing) {
    XWindow* form = makeForm(form_[0], 1);
    XWindow* control = makeControl(ctl_[0], *form, 0);
    XWM_SetFocus(form);
    EXPECT_EQ(XWM_SetFocus(control), nullptr);
    EXPECT_EQ(XWM_GetFocus(), form);
    EXPECT_TRUE(logged("XWM_SetFocus", "[xErr] invalid window type (1)\n"));
}

TEST_F(WindowSystem, SetFocusTellsBothFormsAndRecordsTheChain) {
    XWindow* a = makeForm(form_[0]);
    XWindow* b = makeForm(form_[1]);
    EXPECT_EQ(XWM_SetFocus(a), nullptr);
    keyCalls().clear();
    EXPECT_EQ(XWM_SetFocus(b), a);
    EXPECT_EQ(codesFor(a), (std::vector<uint16_t>{XMSG_FOCUS_OUT}));
    EXPECT_EQ(codesFor(b), (std::vector<uint16_t>{XMSG_FOCUS_IN}));
    EXPECT_EQ(b->prevFocus, a);
    EXPECT_NE(a->flags & kFlagInvalid, 0);
    EXPECT_NE(b->flags & kFlagInvalid, 0);
    EXPECT_EQ(XWM_GetActiveObject(), b);

    // Running the focus form again keeps the way back.
    keyCalls().clear();
    EXPECT_EQ(XWIN_Run(b), 0);
    EXPECT_EQ(codesFor(b), (std::vector<uint16_t>{XMSG_FOCUS_OUT, XMSG_FOCUS_IN}));
    EXPECT_EQ(b->prevFocus, a);
    XWM_ExitCtrlDepth(1, 1);
    EXPECT_EQ(XWM_GetFocus(), a);
}

TEST_F(WindowSystem, ExitCtrlDepthWalksBackAlongTheChain) {
    struct Row {
        uint32_t depth;
        uint32_t destroy;
        int expectedFocus;             // index into form_, -1 for none
        std::vector<int> destroyed;    // forms that got XMSG_DESTROY
    };
    const Row rows[] = {
        {0, 0, 2, {}},
        {1, 0, 1, {}},
        {2, 0, 0, {}},
        {5, 0, -1, {}},
        {1, 1, 1, {2}},
        {2, 1, 0, {2, 1}},
        {3, 1, -1, {2, 1, 0}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "depth " << row.depth << " destroy " << row.destroy);
        for (int i = 0; i < 3; ++i) {
            makeForm(form_[i]);
            XWM_SetFocus(&form_[i]);  // chain 2 -> 1 -> 0
        }
        keyCalls().clear();
        XWM_ExitCtrlDepth(row.depth, row.destroy);
        XWindow* expected = row.expectedFocus < 0 ? nullptr : &form_[row.expectedFocus];
        EXPECT_EQ(XWM_GetFocus(), expected);
        if (expected != nullptr) {
            EXPECT_GE(countOf(expected, XMSG_FOCUS_IN), 1);
            EXPECT_NE(expected->flags & kFlagInvalid, 0);
        }
        if (row.destroy == 0) {
            EXPECT_EQ(countOf(&form_[2], XMSG_FOCUS_OUT), 1);
        }
        for (int i = 0; i < 3; ++i) {
            const bool gone = std::count(row.destroyed.begin(), row.destroyed.end(), i) > 0;
            EXPECT_EQ(countOf(&form_[i], XMSG_DESTROY), gone ? 1 : 0) << i;
        }
        XWM_DestroyAllObjects();
        EXPECT_EQ(XWM_GetFocus(), nullptr);
    }
}

TEST_F(WindowSystem, DestroyingTheFocusGivesItBackAndTheLastFormLeavesNone) {
    XWindow* a = makeForm(form_[0]);
    XWindow* b = makeForm(form_[1]);
    XWindow* c = makeForm(form_[2]);
    XWM_SetFocus(a);
    XWM_SetFocus(b);
    XWM_SetFocus(c);
    ASSERT_EQ(XWIN_Destroy(c, 0), 0);
    EXPECT_EQ(XWM_GetFocus(), b);
    EXPECT_EQ(b->prevFocus, a);  // the chain behind b is kept
    ASSERT_EQ(XWIN_Destroy(a, 0), 0);
    EXPECT_EQ(XWM_GetFocus(), b);
    EXPECT_EQ(b->prevFocus, nullptr);  // a destroyed form never stays in the chain
    ASSERT_EQ(XWIN_Destroy(b, 0), 0);
    EXPECT_EQ(XWM_GetFocus(), nullptr);
}

TEST_F(WindowSystem, FormsThatTookTheFocusFromEachOtherLeaveNoLoopBehind) {
    XWindow* a = makeForm(form_[0]);
    XWindow* b = makeForm(form_[1]);
    XWM_SetFocus(a);
    XWM_SetFocus(b);
    XWM_SetFocus(a);  // a -> b -> a
    ASSERT_EQ(XWIN_Destroy(a, 0), 0);
    EXPECT_EQ(XWM_GetFocus(), b);
    EXPECT_EQ(b->prevFocus, nullptr);
    XWM_ExitCtrlDepth(1, 0);
    EXPECT_EQ(XWM_GetFocus(), nullptr);
}

// ---- Refresh --------------------------------------------------------------------------------------

TEST_F(WindowSystem, IncrementalRefreshRendersOnlyInvalidVisibleWindows) {
    XWindow* shown = makeForm(form_[0], 2);
    makeControl(ctl_[0], *shown, 0);
    makeControl(ctl_[1], *shown, 1);
    XWindow* hidden = makeForm(form_[1]);
    XWindow* idle = makeForm(form_[2]);
    XWIN_Hide(hidden);
    XWIN_Invalidate(hidden);
    XWIN_Invalidate(&ctl_[1]);
    clearLog();
    EXPECT_EQ(XWM_RefreshScreen(0), 0);
    EXPECT_EQ(renders()[shown], 0);
    EXPECT_EQ(renders()[&ctl_[0]], 0);
    EXPECT_EQ(renders()[&ctl_[1]], 1);
    EXPECT_EQ(renders()[hidden], 0);
    EXPECT_EQ(renders()[idle], 0);
    EXPECT_EQ(hidden->flags & kFlagInvalid, 0);
    EXPECT_EQ(shown->state & kStateScreenDirty, 0);
    EXPECT_TRUE(logged("XWM_RefreshScreen", "[xDbg] update count = 1\n"));
    EXPECT_TRUE(logged("XDRV_UpdateScreen", "update_ssm_screen"));

    clearLog();
    EXPECT_EQ(XWM_RefreshScreen(0), 0);  // nothing invalid: nothing pushed
    EXPECT_FALSE(logged("XWM_RefreshScreen", "update count"));
}

TEST_F(WindowSystem, FullRefreshRendersEveryVisibleWindowAndLeavesNoneInvalid) {
    for (int i = 0; i < 3; ++i) {
        makeForm(form_[i], 1);
        makeControl(ctl_[i], form_[i], 0);
    }
    XWIN_Hide(&form_[2]);
    XWIN_Invalidate(nullptr);
    clearLog();
    EXPECT_EQ(XWM_RefreshScreen(1), 0);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(renders()[&form_[i]], 1) << i;
        EXPECT_EQ(renders()[&ctl_[i]], 1) << i;
    }
    EXPECT_EQ(renders()[&form_[2]], 0);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(form_[i].flags & kFlagInvalid, 0) << i;
        EXPECT_EQ(ctl_[i].flags & kFlagInvalid, 0) << i;
    }
    EXPECT_TRUE(logged("XWM_RefreshScreen", "[xDbg] update count = 2\n"));
}

TEST_F(WindowSystem, InitReportsTheScreenResolutionFromTheSizeFile) {
    uint16_t width = 0, height = 0;
    XWM_GetScreenResolution(&width, &height);
    EXPECT_EQ(width, kWidth);
    EXPECT_EQ(height, kHeight);
}
