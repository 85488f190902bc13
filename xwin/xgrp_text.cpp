// Text in the built-in font: measuring, drawing a run of glyphs, and one line in a box with
// alignment, cutting and the ellipsis.
//
// A glyph is blitted only where it lies on the surface; glyph pixels whose bit is clear are
// left as they are, so text draws over whatever is beneath it.
#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cstring>
#include <span>

#include "veldd_log.h"
#include "xfont.h"
#include "xgrp.h"
#include "xstring.h"
#include "xwindow.h"

namespace veld::xgrp {

namespace {

using xfont::kEllipsisCode;
using xfont::kFullStop;
using xfont::kSpace;

// Fonts with so few glyphs have no full stop to build the ellipsis from.
constexpr uint32_t kEllipsisMinGlyphs = 46;
constexpr uint8_t kEllipsisText[] = {kEllipsisCode};

// Byte masks of the glyph rows: for each row byte the eight pixels it covers, 0xFF where the
// bit is set, in memory order (leftmost pixel at the lowest address).
constexpr std::array<uint64_t, 256> kRowMasks = [] {
    std::array<uint64_t, 256> masks{};
    for (unsigned bits = 0; bits < 256; ++bits)
        for (unsigned col = 0; col < 8; ++col)
            if (bits & (0x80u >> col)) {
                const unsigned byte = std::endian::native == std::endian::little ? col : 7 - col;
                masks[bits] |= uint64_t{0xFF} << (8 * byte);
            }
    return masks;
}();

void blitGlyph(const Canvas& canvas, const XFont& font, const uint8_t* bits, int64_t x,
               int64_t top, uint8_t colour) {
    const int64_t columns = int64_t{font.bytesPerRow} * 8;
    int64_t firstRow = std::max<int64_t>(0, -top);
    int64_t endRow = std::min<int64_t>(font.height, canvas.height - top);
    if (x >= 0 && x + columns <= canvas.width) {
        // Wholly inside horizontally: eight pixels at a time, the set bits taking the colour
        // and the others keeping what is beneath.
        const uint64_t paint = uint64_t{colour} * 0x0101010101010101u;
        for (int64_t r = firstRow; r < endRow; ++r) {
            const uint8_t* src = bits + r * font.bytesPerRow;
            uint8_t* dst = canvas.pixels + static_cast<size_t>(top + r) * canvas.pitch + x;
            for (int b = 0; b < font.bytesPerRow; ++b, dst += 8) {
                if (src[b] == 0) continue;
                const uint64_t mask = kRowMasks[src[b]];
                uint64_t pixels;
                std::memcpy(&pixels, dst, sizeof pixels);
                pixels = (pixels & ~mask) | (paint & mask);
                std::memcpy(dst, &pixels, sizeof pixels);
            }
        }
        return;
    }
    const int64_t firstCol = std::max<int64_t>(0, -x);
    const int64_t endCol = std::min<int64_t>(columns, canvas.width - x);
    for (int64_t r = firstRow; r < endRow; ++r) {
        const uint8_t* src = bits + r * font.bytesPerRow;
        uint8_t* dst = canvas.pixels + static_cast<size_t>(top + r) * canvas.pitch;
        for (int64_t c = firstCol; c < endCol; ++c)
            if (src[c / 8] & (0x80u >> (c % 8))) dst[x + c] = colour;
    }
}

// Position of a text drawn in a box of width `box`: aligned when it fits (or when fitting is
// not asked for), else cut at the box, with the ellipsis for XGRP_OVERFLOW_ELLIPSIS.
void drawLineInBox(const Canvas& canvas, std::span<const uint8_t> text, int64_t x, int64_t y,
                   int64_t box, uint8_t align, uint8_t overflow, uint8_t colour) {
    const XFont& font = g_uxm_fnt_data;
    const int64_t width = xfont::textWidth(text, font);
    if (overflow == XGRP_OVERFLOW_NONE || width <= box) {
        int64_t at = x;
        if (align == XGRP_ALIGN_CENTER) at = x + ((box - width) >> 1);
        else if (align == XGRP_ALIGN_RIGHT) at = x + box - width;
        drawGlyphs(canvas, font, text.data(), text.size(), at, y, colour);
        return;
    }
    if (overflow != XGRP_OVERFLOW_ELLIPSIS) {
        const size_t keep = xfont::fittingPrefix(text, box, font);
        drawGlyphs(canvas, font, text.data(), keep, x, y, colour);
        return;
    }
    const int64_t ellipsis = xfont::textWidth(kEllipsisText, font);
    if (ellipsis > box) {
        // Not even the ellipsis fits: the text is shown whole rather than as nothing.
        drawGlyphs(canvas, font, text.data(), text.size(), x, y, colour);
        return;
    }
    const size_t keep = xfont::fittingPrefix(text, box - ellipsis, font);
    drawGlyphs(canvas, font, text.data(), keep, x, y, colour);
    drawGlyphs(canvas, font, kEllipsisText, 1, x + xfont::textWidth(text.first(keep), font), y,
               colour);
}

}  // namespace

void drawGlyphs(const Canvas& canvas, const XFont& font, const uint8_t* text, size_t length,
                int64_t x, int64_t y, uint8_t colour) {
    if (canvas.empty() || text == nullptr) return;
    const int64_t top = y - font.height;
    // A run wholly above or below the surface leaves it untouched.
    if (top >= canvas.height || y <= 0) return;
    const bool blits = font.bytesPerRow >= 1 && font.bytesPerRow <= 4;
    const int64_t advance = font.advance;
    const bool hasEllipsis = font.glyphCount >= kEllipsisMinGlyphs;
    for (size_t i = 0; i < length; ++i) {
        // Glyphs only move right: once past the right edge, nothing more can show.
        if (x >= canvas.width) return;
        const uint8_t code = text[i];
        if (code == 0) continue;
        if (code == kEllipsisCode && hasEllipsis) {
            if (const uint8_t* dot = xfont::glyph(font, kFullStop); dot != nullptr && blits)
                for (int k = 0; k < 3; ++k) blitGlyph(canvas, font, dot, x + k * advance, top, colour);
            x += 3 * advance;
            continue;
        }
        if (code >= font.glyphCount) continue;  // skipped without advancing
        if (code != kSpace && blits)
            if (const uint8_t* bits = xfont::glyph(font, code); bits != nullptr)
                blitGlyph(canvas, font, bits, x, top, colour);
        x += advance;
    }
}

std::span<const uint8_t> textBytes(const XString& text) {
    // A length with the top bit set is a negative length: it measures as an empty line and
    // draws nothing.
    if (text.data == nullptr || text.length > uint32_t{INT32_MAX}) return {};
    return xfont::bytesOf(text.data, text.length);
}

}  // namespace veld::xgrp

using veld::xgrp::formView;
using veld::xgrp::textBytes;

extern "C" {

int32_t XGRP_GetFontInfo(const XGC* /*gc*/, XSizeInfo* size) {
    if (size == nullptr) return -5;
    size->width = g_uxm_fnt_data.advance;
    size->height = g_uxm_fnt_data.height;
    return 0;
}

int32_t XGRP_GetTextInfo(const XGC* /*gc*/, const XString* text, XSizeInfo* size) {
    if (text == nullptr || text->data == nullptr || size == nullptr) return -5;
    *size = {};
    if (text->length == 0) return 0;
    size->height = g_uxm_fnt_data.height;
    const int64_t width = veld::xfont::textWidth(textBytes(*text));
    // Wider than the field can say: report the widest rather than a wrapped small width.
    size->width = static_cast<uint16_t>(std::min<int64_t>(width, UINT16_MAX));
    return 0;
}

int32_t XGRP_GetGlyphInfo(const XGC* /*gc*/, uint32_t code, XSizeInfo* size) {
    if (size == nullptr) return -5;
    const XFont& font = g_uxm_fnt_data;
    if (code == veld::xfont::kEllipsisCode) {
        size->width = static_cast<uint16_t>(3 * font.advance);
        size->height = font.height;
        return 0;
    }
    if (code >= font.glyphCount) return -5;
    size->width = font.advance;
    size->height = font.height;
    return 0;
}

void XGRP_DrawText(XWindow* form, const XString* text, int16_t x, int16_t y) {
    if (text == nullptr || text->length == 0 || text->data == nullptr) return;
    const auto view = formView(form);
    if (view.canvas.empty()) return;
    const auto bytes = textBytes(*text);
    veld::xgrp::drawGlyphs(view.canvas, g_uxm_fnt_data, bytes.data(), bytes.size(),
                           view.originX + x, view.originY + y, form->gc.textColor);
}

void XGRP_DrawTextEx(XWindow* form, const XString* text, int16_t x, int16_t y, uint16_t boxWidth,
                     uint8_t align, uint8_t overflow) {
    if (text == nullptr || text->length == 0 || text->data == nullptr) return;
    const auto view = formView(form);
    if (view.canvas.empty()) return;
    veld::xgrp::drawLineInBox(view.canvas, textBytes(*text), view.originX + x, view.originY + y,
                              boxWidth, align, overflow, form->gc.textColor);
}

void XGRP_DrawTextBox(XWindow* form, const XString* text, const XPosInfo* rect, uint8_t align,
                      uint8_t overflow) {
    if (form == nullptr) {
        VELDD_LOG(veld::loglevel::kError, "[xErr] null win\n");
        return;
    }
    if (text == nullptr) {
        VELDD_LOG(veld::loglevel::kError, "[xErr] null string\n");
        return;
    }
    if (rect == nullptr || text->length == 0 || text->data == nullptr) return;
    const auto view = formView(form);
    if (view.canvas.empty()) return;
    // The baseline sits half the text height below the middle of the rectangle.
    const int64_t height = g_uxm_fnt_data.height;
    const int64_t baseline = rect->y + ((rect->height + height) >> 1);
    veld::xgrp::drawLineInBox(view.canvas, textBytes(*text), view.originX + rect->x,
                              view.originY + baseline, rect->width, align, overflow,
                              form->gc.textColor);
}

}  // extern "C"
