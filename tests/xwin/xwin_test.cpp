// Windows and forms: creation and destruction, the tree and its coordinates, the show, hide,
// enable, invalidate, render and update walks, hilite, key routing through hilite, parent form
// and the form's own key function, window timers and the form database.
#include <cstring>

#include "xwm_fixture.h"

using namespace veld::test;
using namespace veld::xwin;

namespace {

constexpr uint8_t kCreationFlags = kFlagCreation | kFlagVisible | kFlagEnabled | kFlagNavigable;

XKeyData keyOf(uint16_t code) {
    XKeyData key{};
    key.code = code;
    key.value = 5;
    return key;
}

}  // namespace

// ---- Creation -------------------------------------------------------------------------------

TEST_F(WindowSystem, CreateFillsTheRecordAndAnnouncesIt) {
    XWindow& form = form_[0];
    std::memset(&form, 0xA5, sizeof(form));  // creation clears whatever was there
    const XPosInfo position{4, 6, 20, 10};
    ASSERT_EQ(XWIN_Create(&form, 0, nullptr, 3, 9, 0x10000, &recordKey, &countRender, &position),
              0);
    EXPECT_EQ(form.flags, kCreationFlags);
    EXPECT_EQ(form.state, kStateCreated);
    EXPECT_EQ(form.id, 9);
    EXPECT_EQ(form.childCount, 3);
    EXPECT_EQ(form.options, 0x10000u);
    EXPECT_EQ(form.position.x, 4);
    EXPECT_EQ(form.position.height, 10);
    ASSERT_NE(form.children, nullptr);
    for (int i = 0; i <= 3; ++i) EXPECT_EQ(form.children[i], nullptr);
    EXPECT_EQ(form.hilite, nullptr);
    EXPECT_EQ(form.gc.textColor, 0);
    EXPECT_EQ(form.gc.fillColor, 0);
    EXPECT_EQ(form.gc.borderColor, 0);
    EXPECT_EQ(form.gc.borderWidth, 1);
    EXPECT_EQ(form.gc.mode, XGC_MODE_FILL);
    EXPECT_GE(form.timerId, 1u << 24);
    EXPECT_LE(form.timerId, 1u << 25);
    // A form sits on the display.
    EXPECT_NE(form.pixels, nullptr);
    EXPECT_NE(form.display, nullptr);
    EXPECT_GE(form.pitch, kWidth);
    EXPECT_EQ(codesFor(&form), (std::vector<uint16_t>{XMSG_CREATE}));
    EXPECT_EQ(XSLIST_GetObjectIndex(&veld::xwm::state().liveForms, &form), 0);
}

TEST_F(WindowSystem, FormsAreListedByCreationNumberAndControlsAreNot) {
    makeForm(form_[0], 1);
    makeForm(form_[1]);
    makeControl(ctl_[0], form_[0], 0);
    makeForm(form_[2]);
    EXPECT_EQ(form_[1].sequence, form_[0].sequence + 1);
    EXPECT_EQ(form_[2].sequence, form_[1].sequence + 1);
    const XSList& live = veld::xwm::state().liveForms;
    EXPECT_EQ(live.count, 3);
    EXPECT_EQ(XSLIST_GetNthObject(const_cast<XSList*>(&live), 2), &form_[2]);
    // A control has no display memory and is not in its parent's table until attached.
    XWindow& loose = ctl_[1];
    ASSERT_EQ(XWIN_Create(&loose, 2, &form_[0], 0, 0, 0, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(loose.pixels, nullptr);
    EXPECT_EQ(loose.flags & kTypeMask, 2);
    EXPECT_EQ(form_[0].children[0], &ctl_[0]);
}

TEST_F(WindowSystem, CreatingALiveFormAgainKeepsTheLiveListIntact) {
    makeForm(form_[0]);
    makeForm(form_[1]);
    makeForm(form_[0]);  // no destroy in between
    const XSList& live = veld::xwm::state().liveForms;
    EXPECT_EQ(live.count, 2);
    EXPECT_EQ(live.head, &form_[1]);
    EXPECT_EQ(live.tail, &form_[0]);
}

TEST_F(WindowSystem, WindowErrorsAreLoggedAndLeaveThingsAlone) {
    XWindow* form = makeForm(form_[0], 2);
    XWindow& never = ctl_[5];
    struct Row {
        const char* function;
        const char* text;
        std::function<int32_t()> call;
    };
    const Row rows[] = {
        {"XWIN_Create", "[xErr] null param\n",
         [] { return XWIN_Create(nullptr, 0, nullptr, 0, 0, 0, nullptr, nullptr, nullptr); }},
        {"XWIN_Destroy", "[xErr] null param/not created\n",
         [&] { return XWIN_Destroy(&never, 0); }},
        {"XWIN_Destroy", "[xErr] null param/not created\n",
         [] { return XWIN_Destroy(nullptr, 0); }},
        {"XWIN_AttachChild", "[xErr] null param\n",
         [&] { return XWIN_AttachChild(nullptr, 0, &never); }},
        {"XWIN_AttachChild", "[xErr] null param\n",
         [&] { return XWIN_AttachChild(&ctl_[6], 0, &never); }},  // no child table
        {"XWIN_AttachChild", "[xErr] id >= child_num\n",
         [&] { return XWIN_AttachChild(form, 2, &never); }},
        {"XWIN_SetInitialFocus", "[xErr] inval param\n",
         [&] { return XWIN_SetInitialFocus(form, 0); }},  // nothing attached
        {"XWIN_Run", "[xErr] null param\n", [] { return XWIN_Run(nullptr); }},
        {"XWIN_StartTimeTick", "[xErr] null param\n",
         [&] { return XWIN_StartTimeTick(&never, 100); }},
        {"XWIN_StopTimeTick", "[xErr] null param\n", [&] { return XWIN_StopTimeTick(&never); }},
        {"XUTIL_SetPosInfo", "[xErr] null param\n",
         [] { return XUTIL_SetPosInfo(nullptr, 1, 2, 3, 4); }},
        {"XWIN_ProcessKeyEvent", "[xErr] invalid win type (1)\n",
         [&] {
             XKeyData key = keyOf(10);
             XWindow& control = ctl_[7];
             XWIN_Create(&control, 1, form, 0, 0, 0, nullptr, nullptr, nullptr);
             return XWIN_ProcessKeyEvent(&control, &key);
         }},
    };
    for (const Row& row : rows) {
        clearLog();
        EXPECT_EQ(row.call(), -5) << row.function;
        EXPECT_TRUE(logged(row.function, row.text)) << row.function << " " << row.text;
    }
    EXPECT_EQ(form->children[0], nullptr);
    EXPECT_EQ(form->hilite, nullptr);
}

// ---- Destruction ------------------------------------------------------------------------------

TEST_F(WindowSystem, DestroyTakesDownTheTreeInTableOrder) {
    XWindow* form = makeForm(form_[0], 2);
    makeControl(ctl_[0], *form, 0);
    XWindow* inner = &ctl_[1];
    ASSERT_EQ(XWIN_Create(inner, 1, form, 1, 1, 0, &recordKey, nullptr, nullptr), 0);
    ASSERT_EQ(XWIN_AttachChild(form, 1, inner), 0);
    makeControl(ctl_[2], *inner, 0);
    keyCalls().clear();

    ASSERT_EQ(XWIN_Destroy(form, 0), 0);

    std::vector<std::pair<XWindow*, uint16_t>> destroyed;
    for (const auto& call : keyCalls())
        if (call.code == XMSG_DESTROY) destroyed.emplace_back(call.window, call.code);
    const std::vector<std::pair<XWindow*, uint16_t>> expected{
        {&ctl_[0], XMSG_DESTROY}, {&ctl_[2], XMSG_DESTROY}, {&ctl_[1], XMSG_DESTROY},
        {&form_[0], XMSG_DESTROY}};
    EXPECT_EQ(destroyed, expected);
    // Every window was hidden on the way; a control keeps its record apart from the created
    // bit and its child table, a form is cleared whole.
    EXPECT_GE(countOf(&ctl_[2], XMSG_HIDE), 1);
    EXPECT_EQ(ctl_[2].flags & kFlagVisible, 0);
    EXPECT_EQ(ctl_[1].state & kStateCreated, 0);
    EXPECT_EQ(ctl_[1].children, nullptr);
    EXPECT_EQ(ctl_[1].keyFn, &recordKey);
    const XWindow zero{};
    EXPECT_EQ(std::memcmp(form, &zero, sizeof(zero)), 0);
    EXPECT_TRUE(XSLIST_IsEmpty(&veld::xwm::state().liveForms));
    EXPECT_EQ(XWIN_Destroy(&ctl_[0], 0), -5);  // already destroyed
}

TEST_F(WindowSystem, ControlMayReleaseItsRecordOnDestroy) {
    XWindow* form = makeForm(form_[0], 1);
    auto* control = new XWindow{};
    ASSERT_EQ(XWIN_Create(control, 1, form, 0, 0, 0,
                          [](XWindow* w, XKeyData* key, uint32_t) -> int32_t {
                              if (key->code == XMSG_DESTROY) delete w;
                              return 0;
                          },
                          nullptr, nullptr),
              0);
    ASSERT_EQ(XWIN_AttachChild(form, 0, control), 0);
    ASSERT_EQ(XWIN_StartTimeTick(control, 100), 0);  // a timer aimed at the released record
    ASSERT_EQ(XWIN_Destroy(form, 0), 0);
    tickAt(1400);  // nothing may be delivered into the released record
    EXPECT_EQ(veld::xwm::state().timers.count, 0);
}

TEST_F(WindowSystem, DestroyingAFormStopsTheTimersAimedAtIt) {
    XWindow* form = makeForm(form_[0]);
    XWindow* other = makeForm(form_[1]);
    ASSERT_EQ(XWIN_StartTimeTick(form, 100), 0);
    ASSERT_EQ(XWM_RequestTimerStart(77, 100, veld::xwm::kTimerPeriodic, form, nullptr), 0);
    ASSERT_EQ(XWIN_StartTimeTick(other, 100), 0);
    ASSERT_EQ(XWIN_Destroy(form, 0), 0);
    keyCalls().clear();
    tickAt(1200);
    EXPECT_TRUE(codesFor(form).empty());
    EXPECT_EQ(codesFor(other), (std::vector<uint16_t>{XMSG_TIME_TICK}));
    EXPECT_EQ(veld::xwm::state().timers.count, 1);
}

// ---- Tree and coordinates ----------------------------------------------------------------------

TEST_F(WindowSystem, PositionsAddUpToTheTopForm) {
    XWindow* form = makeForm(form_[0], 1, {100, 200, 50, 50});
    XWindow* panel = &ctl_[0];
    ASSERT_EQ(XWIN_Create(panel, 1, form, 1, 0, 0, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(XWIN_AttachChild(form, 0, panel), 0);
    XPosInfo panelPos{5, 7, 30, 30};
    XWIN_SetPosition(panel, &panelPos);
    XWindow* button = &ctl_[1];
    const XPosInfo buttonPos{2, 3, 4, 4};
    ASSERT_EQ(XWIN_Create(button, 1, panel, 0, 0, 0, nullptr, nullptr, &buttonPos), 0);
    ASSERT_EQ(XWIN_AttachChild(panel, 0, button), 0);

    EXPECT_EQ(XWIN_GetParentWindow(button), form);
    EXPECT_EQ(XWIN_GetParentWindow(form), form);
    EXPECT_EQ(XWIN_GetParentWindow(nullptr), nullptr);

    XPosInfo rect{1, 1, 9, 9};
    XWIN_WindowToScreenRect(button, &rect);
    EXPECT_EQ(rect.x, 1 + 2 + 5);  // the form's own x is not added
    EXPECT_EQ(rect.y, 1 + 3 + 7);
    EXPECT_EQ(rect.width, 9);
    int32_t x = 0, y = 0;
    XWIN_WindowToScreenPos(button, &x, &y);
    EXPECT_EQ(x, 7);
    EXPECT_EQ(y, 10);
    x = y = 3;
    XWIN_WindowToScreenPos(form, &x, &y);  // no parent: unchanged
    EXPECT_EQ(x, 3);

    XPosInfo out{};
    XWIN_GetPosition(panel, &out);
    EXPECT_EQ(out.x, 5);
    EXPECT_EQ(out.width, 30);
    XWIN_GetPosition(nullptr, &out);
    XWIN_SetPosition(panel, nullptr);
    EXPECT_EQ(panel->position.x, 5);

    XPosInfo made{};
    EXPECT_EQ(XUTIL_SetPosInfo(&made, -3, 4, 5, 6), 0);
    EXPECT_EQ(made.x, -3);
    EXPECT_EQ(made.height, 6);
}

TEST_F(WindowSystem, OptionsAndArrowKeys) {
    XWindow* form = makeForm(form_[0], 0, {0, 0, 8, 8}, 0x20010);
    EXPECT_EQ(XWIN_IsOption(form, 0x10), 1);
    EXPECT_EQ(XWIN_IsOption(form, 0x30000), 1);
    EXPECT_EQ(XWIN_IsOption(form, 0x40000), 0);
    EXPECT_EQ(XWIN_IsOption(nullptr, ~0u), 0);
    struct Row {
        uint16_t code;
        int any, horizontal, vertical;
    };
    const Row rows[] = {{39, 1, 1, 0}, {59, 1, 1, 0}, {47, 1, 0, 1}, {91, 1, 0, 1},
                        {10, 0, 0, 0}, {40, 0, 0, 0}};
    for (const Row& row : rows) {
        EXPECT_EQ(XUTIL_IsArrowKey(row.code), row.any) << row.code;
        EXPECT_EQ(XUTIL_IsHArrowKey(row.code), row.horizontal) << row.code;
        EXPECT_EQ(XUTIL_IsVArrowKey(row.code), row.vertical) << row.code;
    }
}

TEST_F(WindowSystem, FormDatabaseIsEmptyUntilRegistered) {
    EXPECT_EQ(XDB_GetForm(0), nullptr);
    XDB_RegisterFormDB(form_);
    EXPECT_EQ(XDB_GetForm(0), &form_[0]);
    EXPECT_EQ(XDB_GetForm(3), &form_[3]);
    INITIALIZE_TASK(0);  // a new task forgets it
    EXPECT_EQ(XDB_GetForm(0), nullptr);
    ASSERT_EQ(XWM_Init(), 0);
}

TEST_F(WindowSystem, WindowBufferIsTheDisplayMemory) {
    XWindow* form = makeForm(form_[0], 1);
    makeControl(ctl_[0], *form, 0);
    uint8_t* pixels = nullptr;
    uint32_t pitch = 0;
    EXPECT_EQ(XWIN_GetBuffer(form, &pixels, &pitch), 0);
    EXPECT_EQ(pixels, form->pixels);
    EXPECT_EQ(pitch, form->pitch);
    EXPECT_EQ(form->lockCount, 1u);
    EXPECT_EQ(XWIN_GetBuffer(&ctl_[0], &pixels, &pitch), -5);
}

// ---- Visibility and rendering -------------------------------------------------------------------

TEST_F(WindowSystem, ShowTellsTheFormAndEachChildAndTheNextUpdateRendersAllOnce) {
    XWindow* form = makeForm(form_[0], 3);
    for (uint16_t i = 0; i < 3; ++i) makeControl(ctl_[i], *form, i);
    keyCalls().clear();
    XWIN_Show(form);
    EXPECT_EQ(countOf(form, XMSG_SHOW), 1);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(countOf(&ctl_[i], XMSG_SHOW), 1) << i;
    XWIN_UpdateList(nullptr);
    XWIN_UpdateList(nullptr);
    EXPECT_EQ(renders()[form], 1);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(renders()[&ctl_[i]], 1) << i;
    EXPECT_NE(form->state & kStateScreenDirty, 0);
}

TEST_F(WindowSystem, HideClearsTheTreeAndPaintsTheFormAway) {
    XWindow* form = makeForm(form_[0], 1, {2, 3, 6, 4});
    makeControl(ctl_[0], *form, 0);
    form->gc.fillColor = 9;
    // Paint the display around and under the form.
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 12; ++x) form->pixels[y * form->pitch + x] = 7;
    form->state |= kStateScreenDirty;
    XWIN_Invalidate(form);
    keyCalls().clear();

    XWIN_Hide(form);

    EXPECT_EQ(form->flags & (kFlagVisible | kFlagInvalid), 0);
    EXPECT_EQ(ctl_[0].flags & (kFlagVisible | kFlagInvalid), 0);
    EXPECT_EQ(countOf(form, XMSG_HIDE), 1);
    EXPECT_EQ(countOf(&ctl_[0], XMSG_HIDE), 1);
    EXPECT_EQ(form->state & kStateScreenDirty, 0);
    EXPECT_EQ(form->gc.fillColor, 0);
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 12; ++x) {
            const bool inside = x >= 2 && x < 8 && y >= 3 && y < 7;
            EXPECT_EQ(form->pixels[y * form->pitch + x], inside ? 0 : 7) << x << "," << y;
        }
    }
    EXPECT_TRUE(logged("XDRV_UpdateFrameBuffer", "win (2,3,6x4)"));
    XWIN_Hide(nullptr);  // nothing happens
}

TEST_F(WindowSystem, EnableDisableInvalidateAndValidateCoverTheWholeTree) {
    XWindow* form = makeForm(form_[0], 1);
    makeControl(ctl_[0], *form, 0);
    XWindow* other = makeForm(form_[1]);
    auto all = [&](uint8_t bit) {
        return std::vector<bool>{(form->flags & bit) != 0, (ctl_[0].flags & bit) != 0,
                                 (other->flags & bit) != 0};
    };
    XWIN_Disable(form);
    EXPECT_EQ(all(kFlagEnabled), (std::vector<bool>{false, false, true}));
    EXPECT_EQ(all(kFlagInvalid), (std::vector<bool>{true, true, false}));
    XWIN_Validate(nullptr);
    EXPECT_EQ(all(kFlagInvalid), (std::vector<bool>{false, false, false}));
    XWIN_Enable(form);
    EXPECT_EQ(all(kFlagEnabled), (std::vector<bool>{true, true, true}));
    EXPECT_EQ(all(kFlagInvalid), (std::vector<bool>{true, true, false}));
    XWIN_Validate(&ctl_[0]);
    EXPECT_EQ(all(kFlagInvalid), (std::vector<bool>{true, false, false}));
    XWIN_Invalidate(nullptr);
    EXPECT_EQ(all(kFlagInvalid), (std::vector<bool>{true, true, true}));
}

TEST_F(WindowSystem, RenderRestoresTheFormColoursAndSkipsHiddenWindows) {
    XWindow* form = makeForm(form_[0], 1);
    XWindow* control = &ctl_[0];
    ASSERT_EQ(XWIN_Create(control, 1, form, 0, 0, 0, nullptr,
                          [](XWindow* w) -> int32_t {
                              XWindow* top = XWIN_GetParentWindow(w);
                              top->gc.textColor = 200;
                              top->gc.fillColor = 201;
                              top->gc.borderColor = 202;
                              return 42;
                          },
                          nullptr),
              0);
    ASSERT_EQ(XWIN_AttachChild(form, 0, control), 0);
    form->gc.textColor = 3;
    form->gc.fillColor = 4;
    XWIN_Invalidate(control);
    EXPECT_EQ(XWIN_Render(control), 42);
    EXPECT_EQ(form->gc.textColor, 3);
    EXPECT_EQ(form->gc.fillColor, 4);
    EXPECT_EQ(form->gc.borderColor, 202);  // only text and fill colours are kept
    EXPECT_NE(form->state & kStateScreenDirty, 0);
    EXPECT_EQ(control->flags & kFlagInvalid, 0);

    form->state &= static_cast<uint8_t>(~kStateScreenDirty);
    control->flags &= static_cast<uint8_t>(~kFlagVisible);
    XWIN_Invalidate(control);
    EXPECT_EQ(XWIN_Render(control), 0);
    EXPECT_EQ(form->state & kStateScreenDirty, 0);
    EXPECT_EQ(control->flags & kFlagInvalid, 0);
    EXPECT_EQ(XWIN_Render(nullptr), 0);
}

TEST_F(WindowSystem, RenderListWithNullLeavesNoWindowInvalid) {
    for (int i = 0; i < 2; ++i) {
        makeForm(form_[i], 1);
        makeControl(ctl_[i], form_[i], 0);
    }
    XWIN_Hide(&ctl_[1]);
    XWIN_Invalidate(nullptr);
    XWIN_RenderList(nullptr);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(form_[i].flags & kFlagInvalid, 0) << i;
        EXPECT_EQ(ctl_[i].flags & kFlagInvalid, 0) << i;
        EXPECT_EQ(renders()[&form_[i]], 1) << i;
    }
    EXPECT_EQ(renders()[&ctl_[0]], 1);
    EXPECT_EQ(renders()[&ctl_[1]], 0);  // hidden
}

// ---- Hilite and key routing -----------------------------------------------------------------------

TEST_F(WindowSystem, HiliteMovesBetweenChildrenWithFocusMessages) {
    XWindow* form = makeForm(form_[0], 3);
    for (uint16_t i = 0; i < 3; ++i) makeControl(ctl_[i], *form, i);
    XWindow* sub = makeForm(form_[1], 0, {0, 0, 8, 8}, 0, form);
    keyCalls().clear();

    EXPECT_EQ(XWIN_SetInitialFocus(form, 1), 0);
    EXPECT_EQ(form->hilite, &ctl_[1]);
    EXPECT_NE(ctl_[1].flags & kFlagHilited, 0);
    EXPECT_EQ(codesFor(&ctl_[1]), (std::vector<uint16_t>{XMSG_FOCUS_IN}));
    EXPECT_EQ(XWIN_SetInitialFocus(form, 3), -5);  // past the table

    keyCalls().clear();
    EXPECT_EQ(XWIN_MoveHiliteByID(form, 1, 2), 0);
    EXPECT_EQ(form->hilite, &ctl_[2]);
    EXPECT_EQ(ctl_[1].flags & kFlagHilited, 0);
    EXPECT_EQ(codesFor(&ctl_[1]), (std::vector<uint16_t>{XMSG_FOCUS_OUT}));
    EXPECT_EQ(codesFor(&ctl_[2]), (std::vector<uint16_t>{XMSG_FOCUS_IN}));
    EXPECT_NE(ctl_[1].flags & kFlagInvalid, 0);

    // Moving to a form runs it: it takes the focus.
    EXPECT_EQ(XWIN_MoveHiliteByPtr(form, &ctl_[2], sub), 0);
    EXPECT_EQ(form->hilite, sub);
    EXPECT_EQ(XWM_GetFocus(), sub);
    EXPECT_EQ(sub->flags & kFlagHilited, 0);
}

TEST_F(WindowSystem, KeyRoutingOrder) {
    // parent form <- child form (hilite control, linear horizontal navigation)
    struct Row {
        const char* name;
        uint16_t code;
        std::map<int, int32_t> answers;  // 0 control, 1 child form, 2 parent form
        int32_t result;
        std::vector<int> reached;  // in order
        uint16_t codeAfter;        // the caller's key data afterwards
    };
    const Row rows[] = {
        {"hilite handles", 10, {{0, 0}}, 0, {0}, 10},
        {"hilite handles an arrow: no navigation", XKEY_LEFT, {{0, 0}}, 0, {0}, XKEY_LEFT},
        {"parent form handles", 10, {{2, 0}}, 0, {0, 2}, 10},
        {"own key function last", 10, {{1, 0}}, 0, {0, 2, 1}, 10},
        {"nobody", 10, {}, XWIN_NOT_HANDLED, {0, 2, 1}, 10},
        {"arrow without a target becomes an edge message", XKEY_RIGHT, {}, XWIN_NOT_HANDLED,
         {0, 2, 1}, XMSG_EDGE_RIGHT},
        {"other axis: edge message", XKEY_UP, {{1, 7}}, 7, {0, 2, 1}, XMSG_EDGE_UP},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        XWindow* parent = makeForm(form_[0]);
        XWindow* form = makeForm(form_[1], 1, {0, 0, 8, 8}, kOptLinearH, parent);
        makeControl(ctl_[0], *form, 0);
        ASSERT_EQ(XWIN_SetInitialFocus(form, 0), 0);
        XWindow* windows[] = {&ctl_[0], form, parent};
        answers().clear();
        for (const auto& [index, answer] : row.answers) answers()[windows[index]] = answer;
        keyCalls().clear();
        XKeyData key = keyOf(row.code);
        EXPECT_EQ(XWIN_ProcessKeyEvent(form, &key), row.result);
        std::vector<int> reached;
        for (const auto& call : keyCalls()) {
            for (int i = 0; i < 3; ++i)
                if (call.window == windows[i]) reached.push_back(i);
        }
        EXPECT_EQ(reached, row.reached);
        EXPECT_EQ(key.code, row.codeAfter);
        XWM_DestroyAllObjects();
    }
}

TEST_F(WindowSystem, FormWithoutHilitePassesArrowsUnchanged) {
    XWindow* parent = makeForm(form_[0]);
    XWindow* form = makeForm(form_[1], 2, {0, 0, 8, 8}, kOptLinearH, parent);
    makeControl(ctl_[0], *form, 0);
    makeControl(ctl_[1], *form, 1);
    keyCalls().clear();
    XKeyData key = keyOf(XKEY_RIGHT);
    EXPECT_EQ(XWIN_ProcessKeyEvent(form, &key), XWIN_NOT_HANDLED);
    EXPECT_EQ(codesFor(parent), (std::vector<uint16_t>{XKEY_RIGHT}));
    EXPECT_EQ(codesFor(form), (std::vector<uint16_t>{XKEY_RIGHT}));
    EXPECT_EQ(key.code, XKEY_RIGHT);
    EXPECT_EQ(form->hilite, nullptr);
}

TEST_F(WindowSystem, KeyFunctionsSeeACopyAndTheValue) {
    XWindow* form = makeForm(form_[0], 1);
    makeControl(ctl_[0], *form, 0);
    ASSERT_EQ(XWIN_SetInitialFocus(form, 0), 0);
    onKey() = [](XWindow*, XKeyData* key, uint32_t) {
        EXPECT_EQ(key->value, 5u);
        key->code = 999;  // scribbling on the copy
    };
    XKeyData key = keyOf(10);
    XWIN_ProcessKeyEvent(form, &key);
    EXPECT_EQ(key.code, 999);  // the form's own function got the caller's record
    onKey() = nullptr;

    EXPECT_EQ(XWIN_ExecKeyFn(nullptr, &key, 0), XWIN_NOT_HANDLED);
    XWindow& bare = ctl_[3];
    ASSERT_EQ(XWIN_Create(&bare, 1, form, 0, 0, 0, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(XWIN_ExecSimpleKeyFn(&bare, 10, 0), XWIN_NOT_HANDLED);
    answers()[&ctl_[0]] = 3;
    keyCalls().clear();
    EXPECT_EQ(XWIN_ExecSimpleKeyFn(&ctl_[0], 10, 77), 3);
    ASSERT_EQ(keyCalls().size(), 1u);
    EXPECT_EQ(keyCalls()[0].arg, 77u);
}
