// The built-in font: the record, which codes have glyphs, the design rules that keep text
// even on screen (baseline, x-height, spacing), the symbols' shapes, measuring, and a golden
// image of the whole sheet.
#include <gtest/gtest.h>

#include <bit>
#include <map>
#include <string>

#include "golden.h"
#include "xfont.h"
#include "xgrp.h"

namespace {

using veld::xfont::glyph;

const uint8_t* bitsOf(uint32_t code) { return glyph(g_uxm_fnt_data, code); }

int firstInkRow(const uint8_t* g) {
    for (int r = 0; r < 16; ++r)
        if (g[r]) return r;
    return -1;
}
int lastInkRow(const uint8_t* g) {
    for (int r = 15; r >= 0; --r)
        if (g[r]) return r;
    return -1;
}

TEST(XFont, Record) {
    EXPECT_EQ(g_uxm_fnt_data.number, 12);
    EXPECT_EQ(g_uxm_fnt_data.advance, 8);
    EXPECT_EQ(g_uxm_fnt_data.height, 16);
    EXPECT_EQ(g_uxm_fnt_data.bytesPerRow, 1);
    EXPECT_EQ(g_uxm_fnt_data.glyphCount, 128u);
    ASSERT_NE(g_uxm_fnt_data.glyphs, nullptr);
}

TEST(XFont, WhichCodesHaveGlyphs) {
    ASSERT_NE(bitsOf(0), nullptr);
    EXPECT_EQ(firstInkRow(bitsOf(0)), -1);  // present but empty
    for (uint32_t code = 1; code < 128; ++code) {
        const bool want = (code >= 2 && code <= 7) || (code >= 33 && code <= 126);
        ASSERT_EQ(bitsOf(code) != nullptr, want) << code;
        if (want) {
            EXPECT_NE(firstInkRow(bitsOf(code)), -1) << code;
        }
    }
    EXPECT_EQ(glyph(g_uxm_fnt_data, 128), nullptr);
    EXPECT_EQ(glyph(g_uxm_fnt_data, 0xFFFFFFFF), nullptr);
}

TEST(XFont, CapitalAShape) {
    const uint8_t* a = bitsOf('A');
    EXPECT_EQ(firstInkRow(a), 3);
    EXPECT_EQ(a[8], 0xFE);  // the crossbar
    EXPECT_EQ(lastInkRow(a), 11);
}

TEST(XFont, BaselineAndXHeightAreShared) {
    // Capitals and digits stand on rows 3-11; letters without ascenders or descenders fill the
    // x-height, rows 6-11; descenders reach row 14; ascenders the cap height.
    for (char c = 'A'; c <= 'Z'; ++c) {
        EXPECT_EQ(firstInkRow(bitsOf(c)), 3) << c;
        EXPECT_EQ(lastInkRow(bitsOf(c)), c == 'Q' ? 13 : 11) << c;
    }
    for (char c = '0'; c <= '9'; ++c) {
        EXPECT_EQ(firstInkRow(bitsOf(c)), 3) << c;
        EXPECT_EQ(lastInkRow(bitsOf(c)), 11) << c;
    }
    for (char c : std::string("acemnorsuvwxz")) {
        EXPECT_EQ(firstInkRow(bitsOf(c)), 6) << c;
        EXPECT_EQ(lastInkRow(bitsOf(c)), 11) << c;
    }
    for (char c : std::string("gpqy")) {
        EXPECT_EQ(firstInkRow(bitsOf(c)), 6) << c;
        EXPECT_EQ(lastInkRow(bitsOf(c)), 14) << c;
    }
    for (char c : std::string("bdfhkl")) {
        EXPECT_EQ(firstInkRow(bitsOf(c)), 3) << c;
        EXPECT_EQ(lastInkRow(bitsOf(c)), 11) << c;
    }
}

TEST(XFont, GlyphsKeepApartAndDiffer) {
    // Column 7 and the top and bottom rows stay empty so neighbouring cells never touch (the
    // underscore alone runs through to join up), and no two characters look the same.
    std::map<std::string, char> seen;
    for (uint32_t code = 33; code <= 126; ++code) {
        const uint8_t* g = bitsOf(code);
        EXPECT_EQ(g[0] | g[1] | g[15], 0) << char(code);
        if (code != '_') {
            for (int r = 0; r < 16; ++r) EXPECT_EQ(g[r] & 0x01, 0) << char(code) << " row " << r;
        }
        const std::string key(reinterpret_cast<const char*>(g), 16);
        EXPECT_TRUE(seen.emplace(key, char(code)).second)
            << char(code) << " looks like " << seen[key];
    }
}

uint8_t mirrored(uint8_t row) {
    uint8_t out = 0;
    for (int b = 0; b < 8; ++b)
        if (row & (1u << b)) out |= uint8_t(0x80u >> b);
    return out;
}

TEST(XFont, SymbolShapes) {
    using namespace veld::xfont;
    const uint8_t* up = bitsOf(kTriangleUp);
    const uint8_t* down = bitsOf(kTriangleDown);
    const uint8_t* left = bitsOf(kTriangleLeft);
    const uint8_t* right = bitsOf(kTriangleRight);
    const uint8_t* both = bitsOf(kDoubleArrow);
    const int top = firstInkRow(up), bottom = lastInkRow(up);
    EXPECT_EQ(firstInkRow(down), top);
    EXPECT_EQ(lastInkRow(down), bottom);
    for (int r = top; r <= bottom; ++r) {
        EXPECT_EQ(up[r], down[top + bottom - r]) << r;
        if (r > top) {
            EXPECT_GE(std::popcount(up[r]), std::popcount(up[r - 1])) << r;  // widens downward
        }
    }
    EXPECT_EQ(std::popcount(up[top]), 1);  // a point on top
    for (int r = 0; r < 16; ++r) EXPECT_EQ(right[r], mirrored(left[r])) << r;
    EXPECT_EQ(std::popcount(left[firstInkRow(left)]), 1);
    const int bt = firstInkRow(both), bb = lastInkRow(both);
    for (int r = bt; r <= bb; ++r) EXPECT_EQ(both[r], both[bt + bb - r]) << r;
    EXPECT_EQ(std::popcount(both[bt]), 1);
    const uint8_t* bullet = bitsOf(kBullet);
    EXPECT_GE(lastInkRow(bullet) - firstInkRow(bullet), 3);
    for (int r = firstInkRow(bullet); r <= lastInkRow(bullet); ++r)
        EXPECT_EQ(std::countl_one(uint8_t(bullet[r] << std::countl_zero(bullet[r]))),
                  std::popcount(bullet[r]))
            << "bullet row " << r << " has a hole";
}

TEST(XFont, Measuring) {
    using veld::xfont::bytesOf;
    using veld::xfont::fittingPrefix;
    using veld::xfont::textWidth;
    EXPECT_EQ(textWidth(bytesOf("abc", 3)), 24);
    EXPECT_EQ(textWidth(bytesOf("", 0)), 0);
    EXPECT_EQ(textWidth(bytesOf("a\x01", 2)), 32);
    EXPECT_EQ(textWidth(bytesOf("a\0\0", 3)), 8);
    struct Case {
        std::string text;
        int64_t limit;
        size_t prefix;
    };
    const Case cases[] = {
        {"abcdefghij", 60, 7}, {"abcdefghij", 56, 7}, {"abcdefghij", 55, 6},
        {"abcdefghij", 1000, 10}, {"abcdefghij", 7, 0}, {"abc", -1, 0},
        {std::string("a\x01" "b", 3), 31, 1}, {std::string("ab\0\0c", 5), 16, 4},
    };
    for (const auto& c : cases)
        EXPECT_EQ(fittingPrefix(bytesOf(c.text.data(), c.text.size()), c.limit), c.prefix)
            << c.text << " in " << c.limit;
}

TEST(XFont, GoldenSheet) {
    // Every glyph on a grid, 16 to a row: the picture a person checks the face against.
    constexpr int kColumns = 16, kW = kColumns * 9, kRowsOfGlyphs = 7, kH = kRowsOfGlyphs * 17;
    std::string pixels(size_t(kW) * kH, '\0');
    veld::xgrp::Canvas canvas{reinterpret_cast<uint8_t*>(pixels.data()), kW, kW, kH};
    std::string codes = "\x02\x03\x04\x05\x06\x07";
    for (int c = 33; c <= 126; ++c) codes += char(c);
    for (size_t i = 0; i < codes.size(); ++i) {
        const uint8_t code = uint8_t(codes[i]);
        veld::xgrp::drawGlyphs(canvas, g_uxm_fnt_data, &code, 1, int64_t(i % kColumns) * 9,
                               int64_t(i / kColumns) * 17 + 16, 1);
    }
    std::string art;
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) art += pixels[size_t(y) * kW + x] ? '#' : '.';
        art += '\n';
    }
    veld::test::expectGolden("xwin/xfont_sheet", art);
}

}  // namespace
