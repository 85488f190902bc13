// Drawing checked on pixels: exact probes for lines and rectangles, text placement compared
// with reference drawings, small text-art golden images for boxes and wrapping, and clipping
// with a guard band around the surface memory.
//
// Golden images live in tests/fixtures/xwin/<name>.txt, one character per pixel ('.' index 0,
// '#' the text colour 15, other indices as digits and letters). A mismatch writes
// <name>.actual.txt beside it; VELD_UPDATE_GOLDENS=1 rewrites the expected files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "veldcore_host.h"
#include "veldd_log.h"
#include "xdrv.h"
#include "xfont.h"
#include "xgrp.h"
#include "xstring.h"
#include "golden.h"
#include "xwindow.h"


namespace {

void expectGolden(const std::string& name, const std::string& actual) {
    veld::test::expectGolden("xwin/" + name, actual);
}

constexpr uint8_t kGuardByte = 0xEE;
constexpr size_t kGuardBytes = 4096;
constexpr uint8_t kText = 15;

using Pixel = std::pair<int, int>;
using PixelSet = std::set<Pixel>;

// A display surface with a guard band before and after it, a display record and one form on
// it. Padding bytes between the visible width and the pitch count as outside the surface.
class Surface {
public:
    Surface(int width, int height, int pitch = 0, uint8_t background = 0)
        : width_(width), height_(height), pitch_(pitch ? pitch : width),
          memory_(2 * kGuardBytes + size_t(pitch_) * height, kGuardByte) {
        for (int y = 0; y < height_; ++y)
            std::memset(pixels() + size_t(y) * pitch_, background, width_);
        display_.width = uint16_t(width);
        display_.height = uint16_t(height);
        display_.pixels = pixels();
        XGRP_InitGC(&form_.gc);
        form_.gc.textColor = kText;
        form_.pixels = pixels();
        form_.pitch = uint32_t(pitch_);
        form_.display = &display_;
    }

    uint8_t* pixels() { return memory_.data() + kGuardBytes; }
    const uint8_t* pixels() const { return memory_.data() + kGuardBytes; }
    XWindow* form(int16_t x = 0, int16_t y = 0) {
        form_.position.x = x;
        form_.position.y = y;
        return &form_;
    }
    XGC& gc() { return form_.gc; }
    veld::xgrp::Canvas canvas() { return {pixels(), uint32_t(pitch_), width_, height_}; }

    uint8_t at(int x, int y) const { return pixels()[size_t(y) * pitch_ + x]; }

    // Every pixel that differs from the background.
    PixelSet changed(uint8_t background = 0) const {
        PixelSet set;
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x)
                if (at(x, y) != background) set.insert({x, y});
        return set;
    }

    // Guard bands and row padding still hold the guard byte.
    bool outsideIntact() const {
        for (size_t i = 0; i < kGuardBytes; ++i)
            if (memory_[i] != kGuardByte || memory_[memory_.size() - 1 - i] != kGuardByte)
                return false;
        for (int y = 0; y < height_; ++y)
            for (int x = width_; x < pitch_; ++x)
                if (at(x, y) != kGuardByte) return false;
        return true;
    }

    std::string art() const { return art(0, 0, width_, height_); }
    std::string art(int x0, int y0, int w, int h) const {
        std::string out;
        for (int y = y0; y < y0 + h; ++y) {
            for (int x = x0; x < x0 + w; ++x) out += symbol(at(x, y));
            out += '\n';
        }
        return out;
    }

private:
    static char symbol(uint8_t index) {
        if (index == 0) return '.';
        if (index == kText) return '#';
        if (index < 10) return char('0' + index);
        if (index < 36) return char('a' + index - 10);
        return '?';
    }

    int width_;
    int height_;
    int pitch_;
    std::vector<uint8_t> memory_;
    XDisplay display_{};
    XWindow form_{};
};

XString str(const char* text) { return XUTIL_MakeString(text, uint32_t(std::strlen(text))); }
XString str(const std::string& text) { return XUTIL_MakeString(text.data(), uint32_t(text.size())); }

// ---- Lines ----------------------------------------------------------------------------------

struct LineCase {
    const char* what;
    int16_t x1, y1, x2, y2;
    PixelSet expected;
};

TEST(XgrpLine, PixelsFollowTheStepRule) {
    const LineCase cases[] = {
        {"single point", 10, 5, 10, 5, {}},
        {"right to left horizontal", 20, 5, 10, 5, {}},
        {"bottom to top vertical", 3, 9, 3, 2, {}},
        {"horizontal leaves out its end",
         10, 5, 20, 5,
         {{10, 5}, {11, 5}, {12, 5}, {13, 5}, {14, 5}, {15, 5}, {16, 5}, {17, 5}, {18, 5}, {19, 5}}},
        {"vertical leaves out its end", 3, 2, 3, 6, {{3, 2}, {3, 3}, {3, 4}, {3, 5}}},
        {"shallow", 0, 0, 3, 1, {{0, 0}, {1, 0}, {2, 0}, {3, 1}}},
        {"shallow backwards", 3, 1, 0, 0, {{3, 1}, {2, 1}, {1, 1}, {0, 0}}},
        {"steep", 0, 0, 1, 3, {{0, 0}, {0, 1}, {0, 2}, {1, 3}}},
        {"diagonal", 2, 2, 5, 5, {{2, 2}, {3, 3}, {4, 4}, {5, 5}}},
        {"anti-diagonal", 5, 2, 2, 5, {{5, 2}, {4, 3}, {3, 4}, {2, 5}}},
    };
    for (const auto& c : cases) {
        Surface s(32, 16);
        s.gc().fillColor = 4;
        XGRP_DrawLine(s.form(), c.x1, c.y1, c.x2, c.y2);
        EXPECT_EQ(s.changed(), c.expected) << c.what;
        for (auto [x, y] : c.expected) EXPECT_EQ(s.at(x, y), 4) << c.what;
    }
}

TEST(XgrpLine, CoordinatesAreRelativeToTheForm) {
    Surface s(64, 32);
    s.gc().fillColor = 7;
    XGRP_DrawLine(s.form(40, 20), 0, 0, 3, 1);
    EXPECT_EQ(s.changed(), (PixelSet{{40, 20}, {41, 20}, {42, 20}, {43, 21}}));
}

TEST(XgrpLine, VeryLongLineKeepsItsDirection) {
    // From far left to far right: the differences do not fit 16 bits, yet the line still runs
    // left to right through the surface and drops one row only at its very end.
    Surface s(40, 4);
    s.gc().fillColor = 2;
    XGRP_DrawLine(s.form(), -30000, 1, 30000, 2);
    for (int x = 0; x < 40; ++x) {
        EXPECT_EQ(s.at(x, 1), 2) << x;
        EXPECT_EQ(s.at(x, 2), 0) << x;
    }
    EXPECT_TRUE(s.outsideIntact());
}

// ---- Rectangles -----------------------------------------------------------------------------

struct RectCase {
    const char* what;
    uint8_t mode;
    uint8_t border;
    int16_t x, y;
    uint16_t w, h;
    const char* art;  // 8 x 6 pixels
};

TEST(XgrpRect, FillAndBorderPixels) {
    const RectCase cases[] = {
        {"fill only", XGC_MODE_FILL, 1, 1, 1, 4, 3,
         "........\n.4444...\n.4444...\n.4444...\n........\n........\n"},
        {"border only leaves the inside alone", XGC_MODE_BORDER, 1, 1, 1, 5, 4,
         "........\n.33333..\n.3...3..\n.3...3..\n.33333..\n........\n"},
        {"fill and border", XGC_MODE_FILL | XGC_MODE_BORDER, 1, 0, 0, 5, 5,
         "33333...\n34443...\n34443...\n34443...\n33333...\n........\n"},
        {"border two wide", XGC_MODE_FILL | XGC_MODE_BORDER, 2, 1, 0, 6, 6,
         ".333333.\n.333333.\n.334433.\n.334433.\n.333333.\n.333333.\n"},
        {"zero height draws nothing", XGC_MODE_FILL, 1, 1, 1, 4, 0,
         "........\n........\n........\n........\n........\n........\n"},
        {"zero width draws nothing", XGC_MODE_FILL, 1, 1, 1, 0, 4,
         "........\n........\n........\n........\n........\n........\n"},
        {"no mode draws nothing", 0, 1, 1, 1, 4, 4,
         "........\n........\n........\n........\n........\n........\n"},
    };
    for (const auto& c : cases) {
        Surface s(8, 6);
        s.gc().mode = c.mode;
        s.gc().borderWidth = c.border;
        s.gc().fillColor = 4;
        s.gc().borderColor = 3;
        XGRP_DrawRect(s.form(), c.x, c.y, c.w, c.h);
        EXPECT_EQ(s.art(), c.art) << c.what;
    }
}

TEST(XgrpRect, FrameAroundInteriorAndContextUnchanged) {
    Surface s(12, 12);
    XGC& gc = s.gc();
    gc.mode = XGC_MODE_FILL | XGC_MODE_BORDER;
    gc.borderWidth = 1;
    gc.fillColor = 4;
    gc.borderColor = 3;
    const XGC before = gc;
    XGRP_DrawRect(s.form(), 0, 0, 10, 10);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x) {
            const bool frame = x == 0 || y == 0 || x == 9 || y == 9;
            EXPECT_EQ(s.at(x, y), frame ? 3 : 4) << x << "," << y;
        }
    EXPECT_EQ(s.at(10, 0), 0);
    EXPECT_EQ(s.at(0, 10), 0);
    EXPECT_EQ(std::memcmp(&gc, &before, sizeof gc), 0);
}

TEST(XgrpRect, NullFormAndControlsDrawNothing) {
    Surface s(8, 8);
    XGRP_DrawRect(nullptr, 0, 0, 4, 4);
    XWindow control{};
    control.flags = 1;
    control.gc.mode = XGC_MODE_FILL;
    XGRP_DrawRect(&control, 0, 0, 4, 4);
    XGRP_DrawLine(&control, 0, 0, 4, 0);
    EXPECT_TRUE(s.changed().empty());
}

TEST(XgrpGc, InitSetsDefaults) {
    XGC gc;
    std::memset(&gc, 0xAB, sizeof gc);
    XGRP_InitGC(&gc);
    EXPECT_EQ(gc.textColor, 0);
    EXPECT_EQ(gc.fillColor, 0);
    EXPECT_EQ(gc.borderColor, 0);
    EXPECT_EQ(gc.reserved0, 0);
    EXPECT_EQ(gc.borderWidth, 1);
    EXPECT_EQ(gc.reserved1, 0);
    EXPECT_EQ(gc.mode, XGC_MODE_FILL);
}

TEST(XgrpPalette, EntryFormatAndDimming) {
    EXPECT_EQ(XGRP_ARGB(0xF0, 0xFF, 0x64, 0x10), 0xF0FF6410u);
    EXPECT_EQ(XGRP_DimEntry(0xFFFFFFFFu), 0xFF7F7F7Fu);
    EXPECT_EQ(XGRP_DimEntry(0xC0A0A000u), 0xC0505000u);
    EXPECT_EQ(XGRP_DimEntry(0x00000000u), 0u);
    EXPECT_EQ(XGRP_SetPalette(nullptr), -5);
}

// ---- Measuring ------------------------------------------------------------------------------

TEST(XgrpMeasure, TextInfo) {
    struct Case {
        std::string text;
        uint32_t length;  // when not the text's size
        uint16_t width, height;
    };
    const Case cases[] = {
        {"abc", 0xFFFFFFFF, 24, 16},
        {"", 0xFFFFFFFF, 0, 0},
        {std::string("a\x01" "b", 3), 0xFFFFFFFF, 40, 16},  // the ellipsis counts three
        {std::string("a\0b", 3), 0xFFFFFFFF, 16, 16},     // zero bytes count nothing
        {std::string("a\xc8" "b", 3), 0xFFFFFFFF, 24, 16},  // high codes are measured
        {"abc", 0x80000000u, 0, 16},                        // a negative length
    };
    for (const auto& c : cases) {
        XString text = str(c.text);
        if (c.length != 0xFFFFFFFF) text.length = c.length;
        XSizeInfo size{0xFFFF, 0xFFFF};
        ASSERT_EQ(XGRP_GetTextInfo(nullptr, &text, &size), 0);
        EXPECT_EQ(size.width, c.width) << c.text;
        EXPECT_EQ(size.height, c.height) << c.text;
    }
    XString text = str("abc");
    XSizeInfo size;
    EXPECT_EQ(XGRP_GetTextInfo(nullptr, nullptr, &size), -5);
    EXPECT_EQ(XGRP_GetTextInfo(nullptr, &text, nullptr), -5);
    text.data = nullptr;
    EXPECT_EQ(XGRP_GetTextInfo(nullptr, &text, &size), -5);
}

TEST(XgrpMeasure, VeryWideTextSaturates) {
    const std::string wide(9000, 'x');  // 72000 pixels
    XString text = str(wide);
    XSizeInfo size;
    ASSERT_EQ(XGRP_GetTextInfo(nullptr, &text, &size), 0);
    EXPECT_EQ(size.width, 0xFFFF);
}

TEST(XgrpMeasure, GlyphAndFontInfo) {
    XSizeInfo size;
    ASSERT_EQ(XGRP_GetFontInfo(nullptr, &size), 0);
    EXPECT_EQ(size.width, 8);
    EXPECT_EQ(size.height, 16);
    ASSERT_EQ(XGRP_GetGlyphInfo(nullptr, 1, &size), 0);
    EXPECT_EQ(size.width, 24);
    EXPECT_EQ(size.height, 16);
    for (uint32_t code : {0u, 32u, 65u, 127u}) {
        ASSERT_EQ(XGRP_GetGlyphInfo(nullptr, code, &size), 0) << code;
        EXPECT_EQ(size.width, 8);
        EXPECT_EQ(size.height, 16);
    }
    EXPECT_EQ(XGRP_GetGlyphInfo(nullptr, 128, &size), -5);
    EXPECT_EQ(XGRP_GetGlyphInfo(nullptr, 65, nullptr), -5);
    EXPECT_EQ(XGRP_GetFontInfo(nullptr, nullptr), -5);
}

// ---- Glyph strings ---------------------------------------------------------------------------

// Pixels of one glyph cell, as drawn in the text colour.
PixelSet cellOf(const Surface& s, int x0, int y0) {
    PixelSet set;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 8; ++x)
            if (s.at(x0 + x, y0 + y) == kText) set.insert({x, y});
    return set;
}

TEST(XgrpText, GlyphSitsAboveTheBaselineAndKeepsTheBackground) {
    Surface s(32, 40, 0, 9);
    XString a = str("A");
    XGRP_DrawText(s.form(), &a, 4, 30);
    const uint8_t* bits = veld::xfont::glyph(g_uxm_fnt_data, 'A');
    for (int row = 0; row < 16; ++row)
        for (int col = 0; col < 8; ++col) {
            const bool on = bits[row] & (0x80 >> col);
            EXPECT_EQ(s.at(4 + col, 14 + row), on ? kText : 9) << col << "," << row;
        }
    // Nothing outside the glyph's cell changes.
    EXPECT_EQ(s.changed(9).size(), cellOf(s, 4, 14).size());
}

TEST(XgrpText, SkippedAndAdvancingCodes) {
    // Code 200 and 0 take no room, space and 127 take a cell and draw nothing, and the ellipsis
    // code is three full stops.
    struct Case {
        std::string text;
        std::string same;
    };
    const Case cases[] = {
        {std::string("A\xc8" "B", 3), "AB"},
        {std::string("A\0B", 3), "AB"},
        {std::string("A\x7f" "B", 3), "A B"},
        {std::string("A\x01" "B", 3), "A...B"},
        {std::string("\x08\x1f" "C", 3), "  C"},
    };
    for (const auto& c : cases) {
        Surface got(64, 20);
        Surface want(64, 20);
        XString a = str(c.text);
        XString b = str(c.same);
        XGRP_DrawText(got.form(), &a, 2, 18);
        XGRP_DrawText(want.form(), &b, 2, 18);
        EXPECT_EQ(got.art(), want.art()) << c.same;
    }
}

TEST(XgrpText, WideRowsAndFontsWithoutAFullStop) {
    // Two bytes per row, most significant first; with no more than 45 glyphs the ellipsis
    // code is an ordinary glyph; codes past the table are skipped.
    const uint8_t one[] = {0x80, 0x01, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x03};
    const uint8_t two[] = {0xFF, 0xFF, 0x00, 0x00, 0x81, 0x81, 0x00, 0x00};
    const uint8_t* glyphs[] = {nullptr, one, two};
    const XFont font{1, 16, 4, 2, 3, glyphs};
    Surface s(40, 4);
    const uint8_t text[] = {1, 3, 2, 200};
    veld::xgrp::drawGlyphs(s.canvas(), font, text, sizeof text, 2, 4, kText);
    EXPECT_EQ(s.art(),
              "..#..............#################......\n"
              "........................................\n"
              "..................#......##......#......\n"
              "..##............##......................\n");
}

TEST(XgrpText, NullArgumentsDrawNothing) {
    Surface s(32, 20);
    XString text = str("AB");
    XGRP_DrawText(nullptr, &text, 0, 16);
    XGRP_DrawText(s.form(), nullptr, 0, 16);
    XString empty = text;
    empty.length = 0;
    XGRP_DrawText(s.form(), &empty, 0, 16);
    XString noData = text;
    noData.data = nullptr;
    XGRP_DrawText(s.form(), &noData, 0, 16);
    XGRP_DrawTextEx(s.form(), &empty, 0, 16, 32, 0, 0);
    XGRP_DrawTextEx(s.form(), nullptr, 0, 16, 32, 0, 0);
    EXPECT_TRUE(s.changed().empty());
}

// ---- One line in a box ------------------------------------------------------------------------

struct BoxCase {
    const char* what;
    const char* text;
    uint16_t box;
    uint8_t align;
    uint8_t overflow;
    const char* drawn;  // the same pixels as this text drawn plainly ...
    int offset;         // ... this far right of x
};

TEST(XgrpTextEx, AlignmentCuttingAndEllipsis) {
    const BoxCase cases[] = {
        {"ellipsis after the first four", "abcdefghij", 60, 0, XGRP_OVERFLOW_ELLIPSIS, "abcd...", 0},
        {"cut to seven", "abcdefghij", 60, 0, 3, "abcdefg", 0},
        {"cut with 0", "abcdefghij", 60, 2, XGRP_OVERFLOW_CUT, "abcdefg", 0},
        {"cut ignores alignment", "abcdefghij", 60, 1, 3, "abcdefg", 0},
        {"no fitting, right aligned", "abcdefghij", 60, 2, XGRP_OVERFLOW_NONE, "abcdefghij", -20},
        {"no fitting, centred", "abcdefghij", 60, 1, XGRP_OVERFLOW_NONE, "abcdefghij", -10},
        {"fits, left", "abc", 60, 0, XGRP_OVERFLOW_ELLIPSIS, "abc", 0},
        {"fits, centred", "abc", 60, 1, XGRP_OVERFLOW_ELLIPSIS, "abc", 18},
        {"fits, centre rounds down", "ab", 61, 1, 0, "ab", 22},
        {"fits, right", "abc", 60, 2, XGRP_OVERFLOW_ELLIPSIS, "abc", 36},
        {"exactly fits", "abcdefg", 56, 2, XGRP_OVERFLOW_ELLIPSIS, "abcdefg", 0},
        {"ellipsis alone", "abcdefghij", 24, 0, XGRP_OVERFLOW_ELLIPSIS, "...", 0},
        {"box narrower than the ellipsis", "abcdefghij", 20, 0, XGRP_OVERFLOW_ELLIPSIS, "abcdefghij", 0},
        {"box narrower than a glyph", "abc", 5, 2, 0, "", 0},
    };
    for (const auto& c : cases) {
        Surface got(160, 20);
        Surface want(160, 20);
        XString text = str(c.text);
        XGRP_DrawTextEx(got.form(), &text, 40, 17, c.box, c.align, c.overflow);
        XString same = str(c.drawn);
        XGRP_DrawText(want.form(), &same, int16_t(40 + c.offset), 17);
        EXPECT_EQ(got.art(), want.art()) << c.what;
    }
}

TEST(XgrpTextBox, CentresVertically) {
    Surface got(120, 60);
    Surface want(120, 60);
    XString text = str("Mid");
    XPosInfo rect{10, 5, 100, 30};
    XGRP_DrawTextBox(got.form(), &text, &rect, 1, XGRP_OVERFLOW_ELLIPSIS);
    XGRP_DrawTextEx(want.form(), &text, 10, 5 + 23, 100, 1, XGRP_OVERFLOW_ELLIPSIS);
    EXPECT_EQ(got.art(), want.art());
    EXPECT_FALSE(got.changed().empty());
}

// Captures the daemon log's lines while a test runs.
class LogLines {
public:
    LogLines() : saved_(g_veldd_logm_fd) {
        g_veldd_logm_fd = VELD_LOGM_ObjRegister("veldd");
        VELD_LOGM_BitMaskEnable(g_veldd_logm_fd, veld::loglevel::kError);
        VELD_HOST_SetLogSink(
            [](const char* line, void* self) {
                static_cast<LogLines*>(self)->lines.emplace_back(line);
            },
            this);
    }
    ~LogLines() {
        VELD_HOST_SetLogSink(nullptr, nullptr);
        VELD_LOGM_BitMaskDisable(g_veldd_logm_fd, veld::loglevel::kError);
        g_veldd_logm_fd = saved_;
    }
    bool contains(const std::string& text) const {
        for (const auto& l : lines)
            if (l.find(text) != std::string::npos) return true;
        return false;
    }
    std::vector<std::string> lines;

private:
    int32_t saved_;
};

TEST(XgrpTextBox, NullFormOrTextIsLogged) {
    XString text = str("x");
    XPosInfo rect{0, 0, 20, 20};
    {
        LogLines log;
        XGRP_DrawTextBox(nullptr, &text, &rect, 0, 0);
        EXPECT_TRUE(log.contains("[xErr] null win\n"));
    }
    Surface s(20, 20);
    {
        LogLines log;
        XGRP_DrawTextBox(s.form(), nullptr, &rect, 0, 0);
        EXPECT_TRUE(log.contains("[xErr] null string\n"));
        XGRP_DrawTextBox(s.form(), &text, nullptr, 0, 0);
        EXPECT_EQ(log.lines.size(), 1u);
    }
    EXPECT_TRUE(s.changed().empty());
}

TEST(XgrpTextBox, GoldenAlignmentAndOverflow) {
    Surface s(120, 100);
    struct Row {
        const char* text;
        uint8_t align;
        uint8_t overflow;
    };
    const Row rows[] = {
        {"Left", XGRP_ALIGN_LEFT, XGRP_OVERFLOW_ELLIPSIS},
        {"Centre", XGRP_ALIGN_CENTER, XGRP_OVERFLOW_ELLIPSIS},
        {"Right", XGRP_ALIGN_RIGHT, XGRP_OVERFLOW_ELLIPSIS},
        {"Temperature", XGRP_ALIGN_LEFT, XGRP_OVERFLOW_ELLIPSIS},
        {"Temperature", XGRP_ALIGN_LEFT, XGRP_OVERFLOW_CUT},
    };
    int16_t y = 0;
    for (const auto& r : rows) {
        // The frame sits one pixel clear of the text's box on either side.
        XPosInfo rect{2, y, 64, 20};
        s.gc().mode = XGC_MODE_BORDER;
        s.gc().borderColor = 3;
        XGRP_DrawRect(s.form(), 0, y, 68, 20);
        XString text = str(r.text);
        XGRP_DrawTextBox(s.form(), &text, &rect, r.align, r.overflow);
        y = int16_t(y + 20);
    }
    // Codes beyond the letters: the six symbols and a bullet list mark.
    XString symbols = str("\x02\x03\x04\x05\x06\x07");
    XGRP_DrawText(s.form(), &symbols, 70, 18);
    expectGolden("xgrp_text_box", s.art());
}

// ---- Word wrap --------------------------------------------------------------------------------

// The lines a wrap draws, each read back by drawing candidates: compares the wrap's pixels
// with the given lines drawn plainly one below the other.
void expectLines(const char* what, const std::string& input, uint16_t box, int32_t maxLines,
                 int32_t gap, const std::vector<std::string>& lines) {
    Surface got(200, 120);
    Surface want(200, 120);
    XString text = str(input);
    EXPECT_EQ(XGRP_DrawAutoMultilineText(got.form(), &text, 4, 16, box, maxLines, 0, gap),
              int32_t(lines.size()))
        << what;
    int16_t baseline = 16;
    for (const auto& l : lines) {
        XString line = str(l);
        XGRP_DrawText(want.form(), &line, 4, baseline);
        baseline = int16_t(baseline + 16 + gap);
    }
    EXPECT_EQ(got.art(), want.art()) << what;
}

TEST(XgrpWrap, BreaksAtSpacesAndInsideLongWords) {
    expectLines("break after the space", "aaaa bbbb", 40, 0, 0, {"aaaa ", "bbbb"});
    expectLines("space that overflows ends the line", "aaaaa bb", 40, 0, 0, {"aaaaa", "bb"});
    expectLines("long word cut into box-wide pieces", "abcdefghijkl", 40, 0, 0,
                {"abcde", "fghij", "kl"});
    expectLines("space at the line start does not count", " abcdefg", 40, 0, 0,
                {" abcd", "efg"});
    expectLines("gap between lines", "aaaa bbbb cccc", 40, 0, 3, {"aaaa ", "bbbb ", "cccc"});
    expectLines("newline ends a line", "ab\ncd\r\nef", 80, 0, 0, {"ab", "cd", "", "ef"});
    expectLines("trailing newline stops", "ab\n", 80, 0, 0, {"ab"});
    expectLines("tab is four spaces", "a\tb", 80, 0, 0, {"a    b"});
    expectLines("tab spaces break like spaces", "ab\tcdefgh", 64, 0, 0, {"ab    ", "cdefgh"});
    expectLines("ellipsis code is dropped", "a\x01" "b", 80, 0, 0, {"ab"});
    expectLines("zero ends the text", std::string("ab\0cd", 5), 80, 0, 0, {"ab"});
}

TEST(XgrpWrap, LastAllowedLineEndsInEllipsis) {
    expectLines("one line", "aaaa bbbb", 40, 1, 0, {"aa..."});
    expectLines("ellipsis moves back until it fits",
                "The quick brown fox jumps over the lazy dog", 96, 3, 2,
                {"The quick ", "brown fox ", "jumps ove..."});
    expectLines("no ellipsis when nothing remains", "aaaa bbbb", 40, 2, 0, {"aaaa ", "bbbb"});
    expectLines("newline on the last line", "ab\ncd", 80, 1, 0, {"ab..."});
    expectLines("ellipsis wider than the box stays first", "abcdefgh", 16, 1, 0, {"..."});
}

TEST(XgrpWrap, EmptyAndNullTexts) {
    Surface s(40, 40);
    EXPECT_EQ(XGRP_DrawAutoMultilineText(s.form(), nullptr, 0, 16, 40, 0, 0, 0), 0);
    XString some = str("ab");
    EXPECT_EQ(XGRP_DrawAutoMultilineText(nullptr, &some, 0, 16, 40, 0, 0, 0), 0);
    XString noData{3, nullptr};
    EXPECT_EQ(XGRP_DrawAutoMultilineText(s.form(), &noData, 0, 16, 40, 0, 0, 0), 0);
    // A length of 0 means "up to the terminator", and the caller's string learns it.
    char data[] = "ab cd";
    XString text{0, data};
    EXPECT_EQ(XGRP_DrawAutoMultilineText(s.form(), &text, 0, 16, 80, 0, 0, 0), 1);
    EXPECT_EQ(text.length, 5u);
}

TEST(XgrpWrap, BoxNarrowerThanAGlyphStops) {
    // Nothing can ever fit: one empty line, not an endless run of them.
    Surface s(40, 40);
    XString text = str("abc");
    EXPECT_EQ(XGRP_DrawAutoMultilineText(s.form(), &text, 0, 16, 5, 0, 0, 0), 1);
    EXPECT_EQ(XGRP_DrawAutoMultilineText(s.form(), &text, 0, 16, 5, 5, 0, 0), 1);
    EXPECT_TRUE(s.changed().empty());
}

TEST(XgrpWrap, LinesNeverOutgrowTheLineBuffer) {
    // A box wide enough for 8000 glyphs still breaks a 5000-byte word at the scratch
    // buffer's size, and 2000 tabs (8000 spaces) do not run past it either.
    Surface s(64, 64);
    const std::string word(5000, 'w');
    XString text = str(word);
    EXPECT_EQ(XGRP_DrawAutoMultilineText(s.form(), &text, 0, 16, 64000, 0, 0, 0), 2);
    const std::string tabs = std::string(2000, '\t') + "x";
    XString spaced = str(tabs);
    EXPECT_GE(XGRP_DrawAutoMultilineText(s.form(), &spaced, 0, 16, 64000, 0, 0, 0), 2);
    EXPECT_TRUE(s.outsideIntact());
}

TEST(XgrpWrap, GoldenParagraph) {
    Surface s(104, 60);
    s.gc().mode = XGC_MODE_BORDER;
    s.gc().borderColor = 3;
    XGRP_DrawRect(s.form(), 2, 0, 100, 56);
    XString text = str("The quick brown fox jumps over the lazy dog");
    EXPECT_EQ(XGRP_DrawAutoMultilineText(s.form(), &text, 4, 17, 96, 3, 0, 2), 3);
    expectGolden("xgrp_wrap", s.art());
}

// ---- Clipping ---------------------------------------------------------------------------------

// Small deterministic generator for the clipping sweep.
class Lcg {
public:
    explicit Lcg(uint32_t seed) : state_(seed) {}
    uint32_t next() {
        state_ = state_ * 1664525u + 1013904223u;
        return state_ >> 8;
    }
    int32_t range(int32_t lo, int32_t hi) { return lo + int32_t(next() % uint32_t(hi - lo + 1)); }

private:
    uint32_t state_;
};

TEST(XgrpClip, PartlyOutsideDrawsExactlyTheVisiblePart) {
    // Every primitive drawn on a small surface must equal the same primitive drawn on a large
    // one, seen through the small one's window, and must leave the guard band and row padding
    // alone.
    constexpr int kW = 37, kH = 23, kPitch = 41, kMargin = 400;
    Lcg rng(12345);
    for (int round = 0; round < 400; ++round) {
        Surface small(kW, kH, kPitch);
        Surface large(kW + 2 * kMargin, kH + 2 * kMargin);
        const auto draw = [&](Surface& s, int shift) {
            Lcg r = rng;  // the same operation for both surfaces
            const auto c = s.canvas();
            const int kind = r.range(0, 3);
            const int32_t x = r.range(-120, 160) + shift, y = r.range(-120, 140) + shift;
            const int32_t a = r.range(-150, 150), b = r.range(-150, 150);
            switch (kind) {
                case 0: veld::xgrp::fillRect(c, x, y, a, b, 5); break;
                case 1: veld::xgrp::drawLine(c, x, y, x + a, y + b, 6); break;
                case 2: {
                    XGC gc{};
                    gc.mode = uint8_t(r.range(0, 3));
                    gc.borderWidth = uint8_t(r.range(0, 9));
                    gc.fillColor = 7;
                    gc.borderColor = 8;
                    veld::xgrp::drawRect(c, gc, x, y, a, b);
                    break;
                }
                default: {
                    uint8_t text[24];
                    const size_t n = size_t(r.range(0, 24));
                    for (size_t i = 0; i < n; ++i) text[i] = uint8_t(r.range(0, 255));
                    veld::xgrp::drawGlyphs(c, g_uxm_fnt_data, text, n, x, y, 9);
                }
            }
        };
        draw(small, 0);
        draw(large, kMargin);
        rng = Lcg(rng.next());
        ASSERT_TRUE(small.outsideIntact()) << "round " << round;
        ASSERT_EQ(small.art(), large.art(kMargin, kMargin, kW, kH)) << "round " << round;
    }
}

TEST(XgrpClip, ExtremeCoordinatesStayInsideTheSurface) {
    Surface s(48, 32, 52);
    XGC& gc = s.gc();
    gc.mode = XGC_MODE_FILL | XGC_MODE_BORDER;
    gc.borderWidth = 255;
    gc.fillColor = 4;
    gc.borderColor = 3;
    const std::string long_text(3000, 'M');
    XString text = str(long_text);
    const int16_t extremes[] = {-32768, -20000, -17, 0, 5, 31, 47, 20000, 32767};
    for (int16_t fx : {int16_t(-32768), int16_t(0), int16_t(40), int16_t(32767)}) {
        for (int16_t fy : {int16_t(-32768), int16_t(0), int16_t(30), int16_t(32767)}) {
            XWindow* form = s.form(fx, fy);
            for (int16_t x : extremes) {
                for (int16_t y : extremes) {
                    XGRP_DrawRect(form, x, y, 65535, 65535);
                    XGRP_DrawLine(form, x, y, int16_t(-x), int16_t(-y));
                    XGRP_DrawLine(form, x, y, 32767, y);
                    XGRP_DrawLine(form, x, y, x, 32767);
                    XGRP_DrawText(form, &text, x, y);
                    XGRP_DrawTextEx(form, &text, x, y, 65535, 2, XGRP_OVERFLOW_NONE);
                    XGRP_DrawTextEx(form, &text, x, y, 100, 1, XGRP_OVERFLOW_ELLIPSIS);
                    XPosInfo rect{x, y, 65535, 65535};
                    XGRP_DrawTextBox(form, &text, &rect, 1, XGRP_OVERFLOW_NONE);
                    XGRP_DrawAutoMultilineText(form, &text, x, y, 65535, 0, 0, 32767);
                    XGRP_DrawAutoMultilineText(form, &text, x, y, 60, 0, 0, -32768);
                }
            }
        }
    }
    EXPECT_TRUE(s.outsideIntact());
    EXPECT_FALSE(s.changed().empty());
}

}  // namespace
