// The quick menu and the settings and media player apps, on the real window system in a private
// root and namespace: keys are dispatched as the window manager's loop would, and the screen is
// checked on the display's pixels after each refresh.
#include <gtest/gtest.h>
#include <malloc.h>

#include <string>
#include <vector>

#include "../xwin/log_lines.h"
#include "ssm_app.h"
#include "ssm_quick_menu.h"
#include "ssm_sys.h"
#include "ssm_viewers.h"
#include "test_root.h"
#include "veld_framebuffer.h"
#include "veldcore_host.h"
#include "widgets/xmenulist_wgt.h"
#include "xdrv.h"
#include "xwm.h"

namespace {

using veld::ssm::quickMenuView;
using veld::test::TestRoot;
using Lines = std::vector<std::string>;

constexpr int kMenuX = 20, kMenuY = 20, kMenuWidth = 180, kLine = 24;

const Lines kFolded = {"+ SYSTEM/Info", "+ SYSTEM/Monitor", "+ SYSTEM/HMA",
                       "+ TE",          "+ VIDEO",          "+ TV CTRL"};

class QuickMenu : public ::testing::Test {
protected:
    void SetUp() override {
        root_.writeFile("/proc/qv/fbdev/fb0/fbmem", "0 0 1920 1080\n");
        veld::ssm::resetApps();
        veld::ssm::resetCollectors();
        ASSERT_EQ(INITIALIZE_TASK(0), 0);
        ASSERT_EQ(XWM_Init(), 0);
        XWM_SetAppEventHandler(SSM_GlobalEventHandler);
        SSM_RC_Init();
        SSM_APP_Run(0, nullptr);
        menu_ = XDB_GetForm(SSM_FORM_QUICK_MENU);
        ASSERT_NE(menu_->pixels, nullptr);
        pixels_ = menu_->pixels;
        pitch_ = menu_->pitch;
        XWM_RefreshScreen(0);
    }
    void TearDown() override {
        XWM_DestroyAllObjects();
        VELD_HOST_FB_Unlink(1);
        veld::test::removeQueue(veld::xdrv::queueKey("uxm-evq"));
    }

    // Keys go through the focus and the monitor's handler as in the loop; then a refresh.
    void press(uint16_t code, int times = 1) {
        for (int i = 0; i < times; ++i) XWM_ExecAppKeyEvent(code);
        XWM_RefreshScreen(0);
    }

    uint8_t at(int x, int y) const { return pixels_[static_cast<size_t>(y) * pitch_ + x]; }
    int count(int x0, int y0, int w, int h, uint8_t colour) const {
        int n = 0;
        for (int y = y0; y < y0 + h; ++y)
            for (int x = x0; x < x0 + w; ++x) n += at(x, y) == colour;
        return n;
    }
    // The pixels of a line of the menu (line 0 is the first entry below the title bar).
    int lineCount(int line, int x0, int w, uint8_t colour) const {
        return count(kMenuX + x0, kMenuY + kLine * (line + 1), w, kLine, colour);
    }
    std::string shape(int x0, int y0, int w, int h, uint8_t colour) const {
        std::string s;
        for (int y = y0; y < y0 + h; ++y)
            for (int x = x0; x < x0 + w; ++x) s += at(x, y) == colour ? '#' : '.';
        return s;
    }
    bool menuShown() const { return (menu_->flags & veld::xwin::kFlagVisible) != 0; }

    // Down from the cursor to the entry named `label` (a marker may follow an item's label);
    // false when it is not reached.
    bool moveTo(const std::string& label) {
        for (int i = 0; i < 40; ++i) {
            const auto view = quickMenuView();
            if (view.cursor < 0) return false;
            const std::string text = view.lines[view.cursor].substr(2);
            if (text == label || text.rfind(label + " ", 0) == 0) return true;
            press(XKEY_DOWN);
        }
        return false;
    }
    void open(const std::string& label) {
        ASSERT_TRUE(moveTo(label)) << label;
        press(SSM_KEY_SELECT);
    }

    TestRoot root_;
    XWindow* menu_ = nullptr;
    uint8_t* pixels_ = nullptr;
    uint32_t pitch_ = 0;
};

TEST_F(QuickMenu, StartsWithSixFoldedHeadersAndTheFocus) {
    const auto view = quickMenuView();
    EXPECT_EQ(view.lines, kFolded);
    EXPECT_EQ(view.cursor, 0);
    EXPECT_EQ(XWM_GetFocus(), menu_);
    EXPECT_EQ(SSM_APP_GetDesc(0)->state, SSM_APP_STATE_RUNNING | SSM_APP_STATE_VISIBLE);

    // Title bar in colour 5 with white text, the cursor line in 2 with black text, the other
    // lines in 1 with white text, the rest of the 180 x 320 window in 1 and nothing beside it.
    EXPECT_EQ(at(kMenuX + 170, kMenuY + 2), 5);
    EXPECT_GT(count(kMenuX + 10, kMenuY, 160, kLine, 3), 0);
    EXPECT_EQ(at(kMenuX + 175, kMenuY + kLine + 2), 2);
    EXPECT_GT(lineCount(0, 0, kMenuWidth, 4), 0);
    EXPECT_EQ(lineCount(0, 0, kMenuWidth, 3), 0);
    EXPECT_EQ(at(kMenuX + 175, kMenuY + 2 * kLine + 2), 1);
    EXPECT_GT(lineCount(1, 0, kMenuWidth, 3), 0);
    EXPECT_EQ(count(kMenuX, kMenuY + 7 * kLine, kMenuWidth, 320 - 7 * kLine, 1), kMenuWidth * (320 - 7 * kLine));
    EXPECT_EQ(at(kMenuX + kMenuWidth, kMenuY + 2), 0);
    EXPECT_EQ(at(kMenuX, kMenuY + 320), 0);
    // The header's "+" sits in the 20-pixel box at the left, the label from 20 pixels in.
    EXPECT_GT(lineCount(1, 0, 20, 3), 0);
    EXPECT_EQ(lineCount(1, 0, 20, 3), lineCount(2, 0, 20, 3)) << "the same marker on every header";
}

TEST_F(QuickMenu, UnfoldingHmaListsNineItemsAndDownScrollsAtTheLastLine) {
    open("SYSTEM/HMA");
    auto view = quickMenuView();
    ASSERT_EQ(view.lines.size(), 12u);
    EXPECT_EQ(view.lines[2], "- SYSTEM/HMA");
    EXPECT_EQ(view.lines[3], "  hma/surface");
    EXPECT_EQ(view.lines[8], "  hma/vdec");
    EXPECT_EQ(view.lines[11], "  hma/audio_buffer");
    EXPECT_EQ(view.cursor, 2);
    // An item's label starts 30 pixels in: nothing is drawn in its first 30 pixels.
    EXPECT_EQ(lineCount(3, 0, 30, 3), 0);
    EXPECT_GT(lineCount(3, 30, kMenuWidth - 30, 3), 0);
    EXPECT_NE(shape(kMenuX, kMenuY + 3 * kLine, 20, kLine, 4), shape(kMenuX, kMenuY + kLine, 20, kLine, 3))
        << "an open header shows another marker than a folded one";

    press(XKEY_DOWN, 9);
    view = quickMenuView();
    EXPECT_EQ(view.cursor, 11);
    EXPECT_EQ(view.lines[0], "+ SYSTEM/Info");
    press(XKEY_DOWN);  // at the last visible line: the window moves by one line
    view = quickMenuView();
    EXPECT_EQ(view.cursor, 11);
    EXPECT_EQ(view.lines.front(), "+ SYSTEM/Monitor");
    EXPECT_EQ(view.lines.back(), "+ TE");
    EXPECT_EQ(at(kMenuX + 175, kMenuY + 12 * kLine + 2), 2) << "the cursor is drawn on the last line";

    press(XKEY_DOWN, 2);  // to the last entry, then once more: nothing moves
    const auto atEnd = quickMenuView();
    EXPECT_EQ(atEnd.lines.back(), "+ TV CTRL");
    press(XKEY_DOWN);
    EXPECT_EQ(quickMenuView().lines, atEnd.lines);
    EXPECT_EQ(quickMenuView().cursor, 11);

    press(XKEY_UP, 11);  // to the top line, then one more scrolls back
    EXPECT_EQ(quickMenuView().cursor, 0);
    press(XKEY_UP, 3);
    view = quickMenuView();
    EXPECT_EQ(view.lines.front(), "+ SYSTEM/Info");
    EXPECT_EQ(view.cursor, 0);
    press(XKEY_UP);  // the first entry: nothing moves
    EXPECT_EQ(quickMenuView().lines.front(), "+ SYSTEM/Info");
    EXPECT_EQ(quickMenuView().cursor, 0);
}

TEST_F(QuickMenu, SelectingAnOpenHeaderFoldsItsItemsAway) {
    open("SYSTEM/HMA");
    press(SSM_KEY_SELECT);
    EXPECT_EQ(quickMenuView().lines, kFolded);
    EXPECT_EQ(quickMenuView().cursor, 2);
    EXPECT_EQ(count(kMenuX, kMenuY + 7 * kLine, kMenuWidth, 320 - 7 * kLine, 1), kMenuWidth * (320 - 7 * kLine))
        << "the folded lines are cleared from the window";
}

TEST_F(QuickMenu, FoldingWhileScrolledKeepsTheWindowOnListedEntries) {
    open("SYSTEM/HMA");
    press(XKEY_DOWN, 12);  // to "TV CTRL": the window starts at "hma/surface"
    ASSERT_EQ(quickMenuView().lines.front(), "  hma/surface");
    press(XKEY_UP, 12);  // back to the header, which scrolls the window onto it
    ASSERT_EQ(quickMenuView().lines.front(), "- SYSTEM/HMA");
    press(SSM_KEY_SELECT);
    const Lines rest = {"+ SYSTEM/HMA", "+ TE", "+ VIDEO", "+ TV CTRL"};
    EXPECT_EQ(quickMenuView().lines, rest);
    press(XKEY_DOWN, 5);
    EXPECT_EQ(quickMenuView().cursor, 3);
}

TEST_F(QuickMenu, AnItemStartsItsAppWithTheEntrysLabel) {
    open("SYSTEM/HMA");
    open("hma/vdec");
    XWindow* app = XDB_GetForm(SSM_FORM_APP);
    EXPECT_EQ(SSM_APP_GetActiveAppDesc(), SSM_APP_GetDesc(519));
    EXPECT_STREQ(veld::ssm::textAppLabel(app), "hma/vdec");
    EXPECT_EQ(XWM_GetFocus(), app);
    EXPECT_FALSE(menuShown()) << "the menu steps aside while the app has the focus";
    press(SSM_KEY_CLOSE);
    EXPECT_EQ(SSM_APP_GetDesc(519)->state, 0);
    EXPECT_TRUE(menuShown());
    EXPECT_EQ(quickMenuView().lines[quickMenuView().cursor], "  hma/vdec");
}

TEST_F(QuickMenu, TestEntriesAreListedAndSelectingOneDoesNothing) {
    open("TE");
    const Lines te = {"+ SYSTEM/Info", "+ SYSTEM/Monitor", "+ SYSTEM/HMA", "- TE",
                      "  TE PCR Recovery", "  TE MCU Info", "  Test Menu #1", "  Test Menu #2",
                      "+ VIDEO", "+ TV CTRL"};
    EXPECT_EQ(quickMenuView().lines, te) << "both test entries, though they share a code";
    open("Test Menu #1");
    EXPECT_EQ(quickMenuView().lines, te);
    EXPECT_EQ(SSM_APP_GetActiveAppDesc(), nullptr);
    EXPECT_EQ(XWM_GetFocus(), menu_);
    EXPECT_TRUE(menuShown());
}

TEST_F(QuickMenu, PanelEntriesShowWhetherThePanelIsVisibleAndToggleIt) {
    // No entry of the menu names a panel; make the row behind "BW Monitor" one.
    SSM_APP_DESC* row = SSM_APP_GetDesc(516);
    row->flags = SSM_APP_FLAG_PANEL;
    row->formId = SSM_FORM_CPU_PANEL;
    row->action = SSM_APP_CPUPanel;
    SSM_APP_Run(516, nullptr);
    open("SYSTEM/Monitor");
    ASSERT_TRUE(moveTo("BW Monitor"));
    const int line = quickMenuView().cursor;
    EXPECT_EQ(quickMenuView().lines[line], "  BW Monitor o");
    const std::string shown = shape(kMenuX + kMenuWidth - 20, kMenuY + kLine * (line + 1), 20, kLine, 4);
    EXPECT_NE(shown.find('#'), std::string::npos);

    press(SSM_KEY_SELECT);
    EXPECT_EQ(quickMenuView().lines[line], "  BW Monitor x");
    EXPECT_FALSE(XDB_GetForm(SSM_FORM_CPU_PANEL)->flags & veld::xwin::kFlagVisible);
    const std::string hidden = shape(kMenuX + kMenuWidth - 20, kMenuY + kLine * (line + 1), 20, kLine, 4);
    EXPECT_NE(hidden.find('#'), std::string::npos);
    EXPECT_NE(hidden, shown);
    EXPECT_EQ(XWM_GetFocus(), menu_) << "the menu stays open";

    press(SSM_KEY_SELECT);
    EXPECT_EQ(quickMenuView().lines[line], "  BW Monitor o");
    EXPECT_TRUE(XDB_GetForm(SSM_FORM_CPU_PANEL)->flags & veld::xwin::kFlagVisible);
    EXPECT_EQ(XDB_GetForm(SSM_FORM_CPU_PANEL)->position.x, 1920 - 340);
}

TEST_F(QuickMenu, Key109HidesAndShowsTheFocusedMenu) {
    open("SYSTEM/HMA");
    press(SSM_KEY_CLOSE);
    EXPECT_FALSE(menuShown());
    EXPECT_EQ(SSM_APP_GetDesc(0)->state & SSM_APP_STATE_VISIBLE, 0);
    EXPECT_EQ(count(kMenuX, kMenuY, kMenuWidth, 320, 0), kMenuWidth * 320) << "erased from the screen";
    press(XKEY_DOWN);  // keys still reach the hidden menu
    press(SSM_KEY_CLOSE);
    EXPECT_TRUE(menuShown());
    EXPECT_EQ(quickMenuView().cursor, 3) << "the folding state and cursor persist";
    EXPECT_EQ(quickMenuView().lines[2], "- SYSTEM/HMA");
    EXPECT_EQ(at(kMenuX + 175, kMenuY + 4 * kLine + 2), 2);
}

TEST_F(QuickMenu, SettingsHideTheMenuUntilKey109ClosesThem) {
    veld::test::LogLines log;
    open("TV CTRL");
    open("Settings");
    XWindow* app = XDB_GetForm(SSM_FORM_APP);
    ASSERT_EQ(XWM_GetFocus(), app);
    EXPECT_FALSE(menuShown());
    EXPECT_EQ(SSM_APP_GetActiveAppDesc(), SSM_APP_GetDesc(526));
    EXPECT_EQ(app->position.width, 380);
    EXPECT_EQ(app->position.height, 600);

    auto* list = reinterpret_cast<XMenuListWgt*>(app->children[0]);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(XMenuListWgt_GetNumElement(list), 20);
    const auto value = [&](int index) {
        return reinterpret_cast<const XMenuListValue*>(XMenuListWgt_GetNodeByidx(list, index)->data);
    };
    const auto text = [](const XString& s) { return std::string(s.data, s.length); };
    EXPECT_EQ(text(value(0)->label), " 1. Input:");
    ASSERT_EQ(value(0)->count, 8u);
    EXPECT_EQ(text(value(0)->choices[3]), "Component");
    EXPECT_EQ(text(value(0)->choices[7]), "HDMI4");
    EXPECT_EQ(text(value(1)->label), " 2. PQ Mode:");
    EXPECT_EQ(text(value(19)->label), "20. PQ Mode:");
    ASSERT_EQ(value(19)->count, 4u);
    EXPECT_EQ(text(value(19)->choices[3]), "Eco");
    EXPECT_EQ(XMenuListWgt_GetNodeByidx(list, 5)->flags, 273u);

    // The note at the top, the first row (drawn at 40, 60 of the form) current: its choice
    // between the arrows on colour 2, the second row's on colour 1.
    EXPECT_GT(count(20 + 10, 20 + 10, 360, 24, 3), 0);
    EXPECT_EQ(at(20 + 250, 20 + 62), 2);
    EXPECT_EQ(at(20 + 250, 20 + 62 + 32), 1);

    press(XKEY_LEFT);  // wraps to the last input
    EXPECT_EQ(value(0)->index, 7u);
    EXPECT_TRUE(log.contains("SSM_TV_SettingsDataChangeCallback"));
    EXPECT_TRUE(log.contains("[xDbg] data change callback\n"));
    press(XKEY_RIGHT, 2);
    EXPECT_EQ(value(0)->index, 1u);
    press(SSM_KEY_SELECT);
    EXPECT_TRUE(log.contains("[xDbg] arm callback\n"));
    press(XKEY_DOWN);
    press(XKEY_RIGHT);
    EXPECT_EQ(value(1)->index, 1u);
    EXPECT_EQ(at(20 + 250, 20 + 62 + 32), 2);

    press(SSM_KEY_CLOSE);
    EXPECT_EQ(SSM_APP_GetDesc(526)->state, 0);
    EXPECT_FALSE(app->state & veld::xwin::kStateCreated);
    EXPECT_EQ(veld::ssm::formData(app), nullptr);
    EXPECT_EQ(XWM_GetFocus(), menu_);
    EXPECT_TRUE(menuShown());
    EXPECT_EQ(at(20 + 250, 20 + 62), 0) << "the settings window is gone from the screen";
    EXPECT_EQ(quickMenuView().lines.back(), "  Media Play") << "the menu comes back as it was";
}

TEST_F(QuickMenu, OpeningAndClosingSettingsLeavesMemoryFlat) {
    open("TV CTRL");
    ASSERT_TRUE(moveTo("Settings"));
    const auto round = [&] {
        press(SSM_KEY_SELECT);
        press(XKEY_RIGHT);
        press(SSM_KEY_CLOSE);
    };
    // The allocator's per-thread caches fill during the first rounds; after them a leak grows
    // with every round. Even the smallest leak, one 16-byte block a round, adds 320 bytes over
    // 20 rounds; the slack below it absorbs a one-off allocation elsewhere in the process
    // (seen under emulation).
    for (int i = 0; i < 10; ++i) round();
    const size_t before = mallinfo2().uordblks;
    for (int i = 0; i < 20; ++i) round();
    EXPECT_LE(mallinfo2().uordblks, before + 128) << "from " << before;
    EXPECT_EQ(XWM_GetFocus(), menu_);
}

TEST_F(QuickMenu, MediaPlayerHasNoWindowAndLeavesTheMenuInCharge) {
    open("TV CTRL");
    open("Media Play");
    EXPECT_EQ(SSM_APP_GetActiveAppDesc(), SSM_APP_GetDesc(527));
    EXPECT_EQ(XWM_GetFocus(), menu_);
    EXPECT_TRUE(menuShown());
    press(SSM_KEY_SELECT);  // chosen again while it runs
    EXPECT_EQ(XWM_GetFocus(), menu_);
    EXPECT_TRUE(menuShown());
    press(XKEY_UP);
    EXPECT_EQ(quickMenuView().lines[quickMenuView().cursor], "  Settings");
    press(SSM_KEY_SELECT);  // another app stops the player first
    EXPECT_EQ(SSM_APP_GetDesc(527)->state, 0);
    EXPECT_EQ(SSM_APP_GetActiveAppDesc(), SSM_APP_GetDesc(526));
}

}  // namespace
