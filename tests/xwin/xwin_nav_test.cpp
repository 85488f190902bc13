// Arrow navigation inside a form: the linear and wrapping searches along the child table and
// the spatial search with its distance rule and tie-break, as tables of child layouts, the
// hilite and a key, against the child that ends up hilited (or the edge message).
#include <initializer_list>

#include "xwm_fixture.h"

using namespace veld::test;
using namespace veld::xwin;

namespace {

constexpr int kEdge = -1;  // no move: the key became an edge message

uint16_t edgeOf(uint16_t code) {
    switch (code) {
    case XKEY_UP: return XMSG_EDGE_UP;
    case XKEY_DOWN: return XMSG_EDGE_DOWN;
    case XKEY_LEFT: return XMSG_EDGE_LEFT;
    default: return XMSG_EDGE_RIGHT;
    }
}

struct Child {
    XPosInfo position{0, 0, 10, 10};
    bool navigable = true;
    bool form = false;  // a form child instead of a control
};

class Navigation : public WindowSystem {
protected:
    // Builds a form with the children, hilites child `hilite`, sends `code` and returns the
    // index of the hilited child afterwards, or kEdge when the key was turned into the edge
    // message of its direction.
    int navigate(uint32_t options, const std::vector<Child>& children, int hilite,
                 uint16_t code) {
        XWindow* form = makeForm(form_[0], static_cast<uint16_t>(children.size()),
                                 {0, 0, 200, 200}, options);
        for (size_t i = 0; i < children.size(); ++i) {
            XWindow& child = ctl_[i];
            const auto id = static_cast<uint16_t>(i);
            EXPECT_EQ(XWIN_Create(&child, children[i].form ? 0 : 1, form, 0, id, 0, &recordKey,
                                  nullptr, &children[i].position),
                      0);
            EXPECT_EQ(XWIN_AttachChild(form, id, &child), 0);
            if (!children[i].navigable) child.flags &= static_cast<uint8_t>(~kFlagNavigable);
        }
        form->hilite = &ctl_[hilite];
        XKeyData key{};
        key.code = code;
        const int32_t result = XWIN_ProcessKeyEvent(form, &key);
        int outcome = kEdge;
        if (key.code == code) {
            EXPECT_EQ(result, 0);
            for (size_t i = 0; i < children.size(); ++i)
                if (form->hilite == &ctl_[i]) outcome = static_cast<int>(i);
        } else {
            EXPECT_EQ(key.code, edgeOf(code));
            EXPECT_EQ(form->hilite, &ctl_[hilite]);
        }
        XWM_DestroyAllObjects();
        return outcome;
    }
};

std::vector<Child> row(std::initializer_list<bool> navigable) {
    std::vector<Child> children;
    int16_t x = 0;
    for (bool n : navigable) {
        children.push_back({{x, 0, 10, 10}, n, false});
        x += 20;
    }
    return children;
}

}  // namespace

TEST_F(Navigation, LinearAndWrappingSearches) {
    struct Case {
        const char* name;
        uint32_t options;
        std::vector<Child> children;
        int hilite;
        uint16_t code;
        int expected;
    };
    const auto all4 = row({true, true, true, true});
    const Case cases[] = {
        {"horizontal: right at the end stops", kOptLinearH, all4, 3, XKEY_RIGHT, kEdge},
        {"horizontal: left", kOptLinearH, all4, 3, XKEY_LEFT, 2},
        {"horizontal: right", kOptLinearH, all4, 0, XKEY_RIGHT, 1},
        {"horizontal: left at the start stops", kOptLinearH, all4, 0, XKEY_LEFT, kEdge},
        {"horizontal: skips a child that is not navigable", kOptLinearH,
         row({true, false, true, true}), 0, XKEY_RIGHT, 2},
        {"horizontal: nothing navigable before", kOptLinearH, row({false, true, true, true}),
         1, XKEY_LEFT, kEdge},
        {"horizontal: up is the other axis", kOptLinearH, all4, 1, XKEY_UP, kEdge},
        {"horizontal: down is the other axis", kOptLinearH, all4, 1, XKEY_DOWN, kEdge},
        {"horizontal wrap: right at the end to the first", kOptWrapH, all4, 3, XKEY_RIGHT, 0},
        {"horizontal wrap: left at the start to the last", kOptWrapH, all4, 0, XKEY_LEFT, 3},
        {"horizontal wrap: skips across the end", kOptWrapH, row({false, true, true, false}), 2,
         XKEY_RIGHT, 1},
        {"horizontal wrap: only the hilite qualifies", kOptWrapH,
         row({false, true, false, false}), 1, XKEY_RIGHT, 1},
        {"horizontal wrap: nothing qualifies, one round", kOptWrapH,
         row({false, false, false, false}), 2, XKEY_LEFT, kEdge},
        {"horizontal wrap: down is the other axis", kOptWrapH, all4, 1, XKEY_DOWN, kEdge},
        {"vertical: down", kOptLinearV, all4, 0, XKEY_DOWN, 1},
        {"vertical: up at the start stops", kOptLinearV, all4, 0, XKEY_UP, kEdge},
        {"vertical: right is the other axis", kOptLinearV, all4, 0, XKEY_RIGHT, kEdge},
        {"vertical wrap: up at the start to the last", kOptWrapV, all4, 0, XKEY_UP, 3},
        {"vertical wrap: nothing qualifies, one round", kOptWrapV,
         row({false, false, false}), 0, XKEY_DOWN, kEdge},
        {"a combination of modes is none", kOptLinearH | kOptLinearV, all4, 0, XKEY_RIGHT,
         kEdge},
        {"no mode", 0, all4, 0, XKEY_RIGHT, kEdge},
        {"low option bits do not disturb the mode", kOptLinearH | 0x3, all4, 0, XKEY_RIGHT, 1},
        {"linear search passes over a form child", kOptLinearH,
         {{{0, 0, 10, 10}, true, false}, {{20, 0, 10, 10}, true, true},
          {{40, 0, 10, 10}, true, false}},
         0, XKEY_RIGHT, 2},
    };
    for (const Case& c : cases)
        EXPECT_EQ(navigate(c.options, c.children, c.hilite, c.code), c.expected) << c.name;
}

TEST_F(Navigation, ArrowsUnusedLeavesTheKeyAlone) {
    XWindow* form = makeForm(form_[0], 2, {0, 0, 100, 100}, kOptLinearH | kOptNoArrows);
    makeControl(ctl_[0], *form, 0);
    makeControl(ctl_[1], *form, 1);
    ASSERT_EQ(XWIN_SetInitialFocus(form, 0), 0);
    XKeyData key{};
    key.code = XKEY_RIGHT;
    EXPECT_EQ(XWIN_ProcessKeyEvent(form, &key), XWIN_NOT_HANDLED);
    EXPECT_EQ(key.code, XKEY_RIGHT);
    EXPECT_EQ(form->hilite, &ctl_[0]);
}

TEST_F(Navigation, SpatialSearch) {
    struct Case {
        const char* name;
        std::vector<Child> children;  // child 0 is the hilite
        uint16_t code;
        int expected;
    };
    const Child hilite{{100, 100, 40, 20}};
    const Case cases[] = {
        {"right: the only candidate", {hilite, {{200, 100, 40, 20}}}, XKEY_RIGHT, 1},
        {"left: nothing to the left", {hilite, {{200, 100, 40, 20}}}, XKEY_LEFT, kEdge},
        {"left", {hilite, {{20, 100, 40, 20}}}, XKEY_LEFT, 1},
        {"down", {hilite, {{100, 150, 40, 20}}}, XKEY_DOWN, 1},
        {"up", {hilite, {{100, 40, 40, 20}}}, XKEY_UP, 1},
        {"up: nothing above", {hilite, {{100, 150, 40, 20}}}, XKEY_UP, kEdge},
        // Overlap of up to two pixels still counts as beside: X >= x + w - 2.
        {"right: two pixels of overlap", {hilite, {{138, 100, 40, 20}}}, XKEY_RIGHT, 1},
        {"right: three pixels of overlap", {hilite, {{137, 100, 40, 20}}}, XKEY_RIGHT, kEdge},
        {"down: two pixels of overlap", {hilite, {{100, 118, 40, 20}}}, XKEY_DOWN, 1},
        {"down: three pixels of overlap", {hilite, {{100, 117, 40, 20}}}, XKEY_DOWN, kEdge},
        // Aligned at 100 px (distance 20000) beats diagonal at 50 px right and 40 px down
        // (weight 12800 + 8200 = 21000), although the diagonal one is nearer in a straight line.
        {"right: the offset across the movement weighs more",
         {hilite, {{150, 140, 40, 20}}, {{200, 100, 40, 20}}}, XKEY_RIGHT, 2},
        {"down: the nearer of two in a column", {hilite, {{100, 200, 40, 20}}, {{100, 130, 40, 20}}},
         XKEY_DOWN, 2},
        {"tie: the earlier child wins",
         {hilite, {{200, 80, 40, 20}}, {{200, 120, 40, 20}}}, XKEY_RIGHT, 1},
        {"tie the other way round: still the earlier child",
         {hilite, {{200, 120, 40, 20}}, {{200, 80, 40, 20}}}, XKEY_RIGHT, 1},
        {"a child that is not navigable is no candidate",
         {hilite, {{150, 100, 40, 20}, false}, {{300, 100, 40, 20}}}, XKEY_RIGHT, 2},
        {"form children are candidates", {hilite, {{200, 100, 40, 20}, true, true}}, XKEY_RIGHT,
         1},
        {"no other child", {hilite}, XKEY_RIGHT, kEdge},
    };
    for (const Case& c : cases)
        EXPECT_EQ(navigate(kOptSpatial, c.children, 0, c.code), c.expected) << c.name;
}

TEST_F(Navigation, SpatialMoveToAFormChildGivesItTheFocus) {
    XWindow* form = makeForm(form_[0], 2, {0, 0, 200, 200}, kOptSpatial);
    makeControl(ctl_[0], *form, 0, {0, 0, 10, 10});
    XWindow* sub = &form_[1];
    const XPosInfo right{40, 0, 10, 10};
    ASSERT_EQ(XWIN_Create(sub, 0, form, 0, 1, 0, &recordKey, nullptr, &right), 0);
    ASSERT_EQ(XWIN_AttachChild(form, 1, sub), 0);
    ASSERT_EQ(XWIN_SetInitialFocus(form, 0), 0);
    XWM_SetFocus(form);
    XKeyData key{};
    key.code = XKEY_RIGHT;
    EXPECT_EQ(XWIN_ProcessKeyEvent(form, &key), 0);
    EXPECT_EQ(form->hilite, sub);
    EXPECT_EQ(XWM_GetFocus(), sub);
    EXPECT_EQ(sub->prevFocus, form);
}
