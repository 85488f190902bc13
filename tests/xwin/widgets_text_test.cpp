// The text view: wrapping into lines of the widget's width, line breaks, the 1000-line table,
// the keep-position rule, scrolling keys, drawing of the lines, dimming, the scroll bar, and
// the release of the text copies and of the record.
#include <string>
#include <vector>

#include "widgets/xtext_wgt.h"
#include "widgets_fixture.h"

namespace veld::test {
namespace {

class TextWidget : public WidgetTest {
protected:
    XTextWgt* make(uint16_t width, uint16_t height, uint32_t options = 0, int16_t x = 0,
                   int16_t y = 0, uint16_t id = 0) {
        const XPosInfo position{x, y, width, height};
        XTextWgt* widget = XTextWgt_Create(&form_, id, options, &position);
        EXPECT_NE(widget, nullptr);
        return widget;
    }

    static void update(XTextWgt* widget, const std::string& text, uint32_t keep = 0) {
        ASSERT_EQ(XTextWgt_UpdateText(widget, uint32_t(text.size()), text.data(), keep), 0);
    }

    static std::vector<std::string> lines(const XTextWgt* widget) {
        std::vector<std::string> out;
        for (size_t i = 0; i < widget->totalLines; ++i)
            out.emplace_back(widget->lines[i].data, widget->lines[i].length);
        return out;
    }

    // Scrolls down `steps` times.
    static void scrollTo(XTextWgt* widget, int steps) {
        for (int i = 0; i < steps; ++i) sendKey(&widget->window, XKEY_DOWN);
    }

    // Text of `n` lines "L0", "L1", ... separated by line feeds.
    static std::string numbered(int n) {
        std::string text;
        // Appended piece by piece: "L" + std::string makes g++ 12 report a false overlap
        // (-Wrestrict) at -O3.
        for (int i = 0; i < n; ++i) text.append("L").append(std::to_string(i)).append("\n");
        return text;
    }
};

TEST_F(TextWidget, CreationSetsLineHeightVisibleLinesAndAttaches) {
    XTextWgt* widget = make(100, 100, 0, 0, 0, 2);
    EXPECT_EQ(widget->lineHeight, 15);
    EXPECT_EQ(widget->visibleLines, 6);  // 100 / 15
    EXPECT_EQ(form_.children[2], &widget->window);
    EXPECT_EQ(widget->window.flags & veld::xwin::kTypeMask, 1);
    EXPECT_EQ(widget->totalLines, 0);
    EXPECT_EQ(widget->topLine, 0);
    // Slot 2 follows empty slots, which the form's walks never pass: destroyed here.
    EXPECT_EQ(XWIN_Destroy(&widget->window, 0), 0);
}

struct WrapCase {
    const char* name;
    uint16_t width;
    uint32_t options;
    std::string text;
    std::vector<std::string> expected;
};
// Cases print as their name, so test listings stay short and stable.
void PrintTo(const WrapCase& c, std::ostream* os) { *os << c.name; }

class TextWrap : public TextWidget, public ::testing::WithParamInterface<WrapCase> {};

TEST_P(TextWrap, SplitsIntoLines) {
    const WrapCase& c = GetParam();
    XTextWgt* widget = make(c.width, 60, c.options);
    update(widget, c.text);
    EXPECT_EQ(lines(widget), c.expected);
    EXPECT_EQ(widget->totalLines, c.expected.size());
}

INSTANTIATE_TEST_SUITE_P(
    Widths, TextWrap,
    ::testing::Values(
        // 12 x 8 = 96 < 100: the 13th letter starts the next line, which holds 12 again.
        WrapCase{"TwelvePerLineAt100", 100, 0, std::string(25, 'a'),
                 {std::string(12, 'a'), std::string(12, 'a'), "a"}},
        // The scroll bar takes 30 pixels: 130 wraps like 100.
        WrapCase{"ScrollBarShrinksWidth", 130, XTEXTWGT_OPT_SCROLLBAR, std::string(13, 'b'),
                 {std::string(12, 'b'), "b"}},
        // A line must stay strictly narrower than the width: 96 holds 11 letters, 97 holds 12.
        WrapCase{"ExactWidthIsFull", 96, 0, std::string(12, 'c'), {std::string(11, 'c'), "c"}},
        WrapCase{"OnePixelMore", 97, 0, std::string(12, 'c'), {std::string(12, 'c')}},
        // Narrower than one letter: one letter per line and no empty lines between.
        WrapCase{"NarrowerThanALetter", 8, 0, "abc", {"a", "b", "c"}},
        WrapCase{"ScrollBarWiderThanWidget", 20, XTEXTWGT_OPT_SCROLLBAR, "ab\ncd",
                 {"a", "b", "c", "d"}},
        // Spaces count like letters; wrapping does not look for words.
        WrapCase{"SpacesAreLetters", 50, 0, "ab cd ef", {"ab cd ", "ef"}}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Breaks, TextWrap,
    ::testing::Values(
        WrapCase{"CrLfGivesEmptyLine", 100, 0, "ab\r\ncd", {"ab", "", "cd"}},
        WrapCase{"LoneCarriageReturn", 100, 0, "ab\rcd", {"ab", "cd"}},
        WrapCase{"TrailingLineFeed", 100, 0, "ab\n", {"ab"}},
        WrapCase{"OnlyBreaks", 100, 0, "\n\n", {"", ""}},
        WrapCase{"BreakRestartsWidth", 100, 0, std::string(11, 'y') + "\n" + std::string(12, 'z'),
                 {std::string(11, 'y'), std::string(12, 'z')}},
        WrapCase{"EmptyText", 100, 0, "", {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TextWidget, CopyHoldsTheTextWithoutBreaks) {
    XTextWgt* widget = make(100, 60);
    std::string text = "ab\r\ncd";
    update(widget, text);
    text[0] = 'X';  // the widget keeps its own copy
    EXPECT_EQ(std::string(widget->text.data, widget->text.length), "abcd");
    EXPECT_EQ(widget->lines[2].data, widget->text.data + 2);
}

TEST_F(TextWidget, StopsAtOneThousandLines) {
    XTextWgt* widget = make(100, 60);
    update(widget, numbered(1500));
    ASSERT_EQ(widget->totalLines, 1000);
    EXPECT_EQ(std::string(widget->lines[999].data, widget->lines[999].length), "L999");
    // Nothing past the table was copied.
    EXPECT_EQ(widget->text.data + widget->text.length,
              widget->lines[999].data + widget->lines[999].length);
}

struct KeepCase {
    const char* name;
    int before;    // lines of the first text
    int scrolled;  // down presses before the update
    int after;     // lines of the new text
    uint32_t keep;
    int expectedTop;
};
// Cases print as their name, so test listings stay short and stable.
void PrintTo(const KeepCase& c, std::ostream* os) { *os << c.name; }

class TextKeep : public TextWidget, public ::testing::WithParamInterface<KeepCase> {};

// The view shows 5 lines (height 75).
TEST_P(TextKeep, TopLineAfterUpdate) {
    const KeepCase& c = GetParam();
    XTextWgt* widget = make(100, 75);
    update(widget, numbered(c.before));
    scrollTo(widget, c.scrolled);
    update(widget, numbered(c.after), c.keep);
    EXPECT_EQ(widget->topLine, c.expectedTop);
    EXPECT_EQ(widget->totalLines, c.after);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TextKeep,
    ::testing::Values(KeepCase{"KeepStaysWhenRoom", 20, 10, 30, 1, 10},
                      // Shorter than the scroll position: the last full page.
                      KeepCase{"KeepMovesToLastPage", 20, 10, 12, 1, 7},
                      KeepCase{"KeepAtExactLastPage", 20, 10, 15, 1, 10},
                      KeepCase{"ClearGoesToTop", 20, 10, 30, 0, 0},
                      // A text that fits the view is shown from its first line.
                      KeepCase{"KeepWithTextThatFits", 20, 10, 3, 1, 0},
                      KeepCase{"KeepWithEmptyText", 20, 10, 0, 1, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TextWidget, UpAtTheTopIsHandledAndChangesNothing) {
    XTextWgt* widget = make(100, 75);
    update(widget, numbered(20));
    validate(&form_);
    EXPECT_EQ(sendKey(&widget->window, XKEY_UP), 0);
    EXPECT_EQ(widget->topLine, 0);
    EXPECT_FALSE(isInvalid(&form_));
    EXPECT_TRUE(logged("[xDbg] TextWgtgt - Up\n"));
}

TEST_F(TextWidget, DownAndUpScrollAndInvalidateTheForm) {
    XTextWgt* widget = make(100, 75);
    update(widget, numbered(7));  // 7 lines, 5 visible: the top line goes to 2 at most
    validate(&form_);
    EXPECT_EQ(sendKey(&widget->window, XKEY_DOWN), 0);
    EXPECT_EQ(widget->topLine, 1);
    EXPECT_TRUE(isInvalid(&form_));
    EXPECT_TRUE(logged("[xDbg] TextWgtgt - Down\n"));
    scrollTo(widget, 5);
    EXPECT_EQ(widget->topLine, 2);
    validate(&form_);
    EXPECT_EQ(sendKey(&widget->window, XKEY_DOWN), 0);  // at the bottom: handled, no move
    EXPECT_EQ(widget->topLine, 2);
    EXPECT_FALSE(isInvalid(&form_));
    EXPECT_EQ(sendKey(&widget->window, XKEY_UP), 0);
    EXPECT_EQ(widget->topLine, 1);
}

TEST_F(TextWidget, OtherKeysGoOnToTheForm) {
    XTextWgt* widget = make(100, 75);
    update(widget, numbered(20));
    for (uint16_t code : {XKEY_LEFT, XKEY_RIGHT, uint16_t{10}, uint16_t{33}})
        EXPECT_EQ(sendKey(&widget->window, code), XWIN_NOT_HANDLED) << code;
}

TEST_F(TextWidget, DrawsVisibleLinesFromTheTopLine) {
    XTextWgt* widget = make(100, 30, 0, 10, 20);  // two visible lines
    update(widget, "A\nB\nC\n");
    sendKey(&widget->window, XKEY_DOWN);  // top line 1: "B" and "C"
    XWIN_Render(&widget->window);
    // Each line box is 15 pixels high from the widget's top; glyphs stay inside the widget.
    EXPECT_GT(countColour(10, 20, 8, 15, 3), 0);
    EXPECT_GT(countColour(10, 35, 8, 15, 3), 0);
    EXPECT_TRUE(untouchedOutside(10, 19, 100, 32));
    // "B" on the first line, not "A": compare against drawing the text "B" at the same place.
    const std::string first = art(10, 19, 8, 16);
    clearScreen();
    const XString b = XUTIL_MakeString("B", 1);
    const XPosInfo box{10, 20, 100, 15};
    form_.gc.textColor = 3;
    XGRP_DrawTextBox(&form_, &b, &box, XGRP_ALIGN_LEFT, XGRP_OVERFLOW_NONE);
    EXPECT_EQ(first, art(10, 19, 8, 16));
}

TEST_F(TextWidget, TextIsDimmedWithoutFocusOnlyWithTheOption) {
    XTextWgt* dimmed = make(50, 15, XTEXTWGT_OPT_DIM, 0, 0, 0);
    XTextWgt* plain = make(50, 15, 0, 0, 40, 1);
    update(dimmed, "HH");
    update(plain, "HH");
    XWM_SetFocus(nullptr);
    XWIN_Render(&dimmed->window);
    XWIN_Render(&plain->window);
    EXPECT_GT(countColour(0, 0, 50, 16, 3 | 0x80), 0);
    EXPECT_EQ(countColour(0, 0, 50, 16, 3), 0);
    EXPECT_GT(countColour(0, 40, 50, 16, 3), 0);
    // With the focus back the dimming goes.
    XWM_SetFocus(&form_);
    clearScreen();
    XWIN_Render(&dimmed->window);
    EXPECT_EQ(countColour(0, 0, 50, 16, 3 | 0x80), 0);
    EXPECT_GT(countColour(0, 0, 50, 16, 3), 0);
}

TEST_F(TextWidget, RenderKeepsTheFormsGraphicsContext) {
    XTextWgt* widget = make(60, 45, XTEXTWGT_OPT_SCROLLBAR);
    update(widget, numbered(9));
    form_.gc.textColor = 21;
    form_.gc.fillColor = 22;
    form_.gc.mode = XGC_MODE_FILL | XGC_MODE_BORDER;
    widget->window.renderFn(&widget->window);
    EXPECT_EQ(form_.gc.textColor, 21);
    EXPECT_EQ(form_.gc.fillColor, 22);
    EXPECT_EQ(form_.gc.mode, XGC_MODE_FILL | XGC_MODE_BORDER);
}

// A 60 x 45 view with a scroll bar shows 3 of 9 lines; at top line 3 the thumb covers 33 % to
// 66 %: it starts 33 % of 45 = 14 rows down and is (66 - 33 + 0.5) % of 45 = 15 rows high.
TEST_F(TextWidget, ScrollBarTrackAndThumb) {
    XTextWgt* widget = make(60, 45, XTEXTWGT_OPT_SCROLLBAR, 4, 4);
    update(widget, numbered(9));
    scrollTo(widget, 3);
    XWIN_Render(&widget->window);
    EXPECT_TRUE(logged("[xDbg] start =  33, end =  66\n"));
    for (int y = 0; y < 45; ++y) {
        const uint8_t expected = (y >= 14 && y < 29) ? 8 : 6;
        for (int x = 54; x < 64; ++x) ASSERT_EQ(at(x, 4 + y), expected) << x << "," << y;
    }
    expectGolden("text_scrollbar", art(0, 0, 70, 53));

    // Without the focus the thumb is grey.
    XWM_SetFocus(nullptr);
    XWIN_Render(&widget->window);
    EXPECT_EQ(at(54, 4 + 14), 7);
    EXPECT_EQ(at(54, 4 + 13), 6);
}

TEST_F(TextWidget, ScrollBarOfAnEmptyTextFillsTheTrackOnly) {
    XTextWgt* widget = make(60, 45, XTEXTWGT_OPT_SCROLLBAR, 4, 4);
    update(widget, "");
    XWIN_Render(&widget->window);
    EXPECT_TRUE(logged("[xDbg] start =   0, end = 100\n"));
    // The thumb covers the whole track and not one row more.
    EXPECT_EQ(countColour(54, 4, 10, 45, 8), 450);
    EXPECT_EQ(countColour(0, 49, kWidth, 1, 8), 0);
}

TEST_F(TextWidget, ScrollBarAtTheLastPage) {
    XTextWgt* widget = make(60, 45, XTEXTWGT_OPT_SCROLLBAR, 4, 4);
    update(widget, numbered(10));
    scrollTo(widget, 20);  // top line 7 of 10: 70 % .. 100 %
    XWIN_Render(&widget->window);
    EXPECT_TRUE(logged("[xDbg] start =  70, end = 100\n"));
    EXPECT_EQ(at(54, 4 + 30), 6);  // 70 % of 45 = 31.5: the thumb starts at row 31
    EXPECT_EQ(at(54, 4 + 31), 8);
    // (30 + 0.5) % of 45 = 13.7: truncated, the thumb ends one row above the track's end.
    EXPECT_EQ(at(54, 4 + 43), 8);
    EXPECT_EQ(at(54, 4 + 44), 6);
}

TEST_F(TextWidget, UpdatesReleaseThePreviousCopy) {
    quietLog();
    XTextWgt* widget = make(300, 150);
    const std::string page = numbered(400);  // about 2 KiB, wrapped into 400 lines
    update(widget, page);
    const size_t before = heapInUse();
    for (int i = 0; i < 2000; ++i) update(widget, page, 1);
    // Two thousand kept copies would be more than 6 MB.
    EXPECT_LT(heapInUse(), before + 256 * 1024);
    EXPECT_EQ(widget->totalLines, 400);
}

// 500 records of 16 KiB each would be 8 MB.
TEST_F(TextWidget, DestroyReleasesTheRecordAndItsText) {
    const std::string page = numbered(100);
    expectNoGrowthOverFormCycles(500, [&](XWindow& form) {
        const XPosInfo position{0, 0, 100, 100};
        XTextWgt* widget = XTextWgt_Create(&form, 0, 1, &position);
        ASSERT_NE(widget, nullptr);
        update(widget, page, 1);
    });
}

TEST_F(TextWidget, NullArgumentsAreRefusedOrEmpty) {
    EXPECT_EQ(XTextWgt_UpdateText(nullptr, 3, "abc", 0), -5);
    XTextWgt* widget = make(100, 60);
    EXPECT_EQ(XTextWgt_UpdateText(widget, 3, nullptr, 0), 0);
    EXPECT_EQ(widget->totalLines, 0);
    XWIN_Render(&widget->window);  // nothing to draw, nothing to crash on
    EXPECT_TRUE(untouchedOutside(0, 0, 0, 0));
}

}  // namespace
}  // namespace veld::test
