// The drawing layer: graphics context, palette entry format, filled and bordered rectangles,
// lines and text in the built-in font, written as palette indices straight into the display
// surface. Every XGRP_ drawing call takes a form and coordinates relative to it; whatever a
// caller passes, nothing is ever written outside the display surface (drawing is cut at the
// surface's edges and is otherwise pixel for pixel what the unclipped operation would draw).
//
// Ownership: the drawing calls own nothing; the form, the text and the rectangle stay the
// caller's and are only read (XGRP_DrawAutoMultilineText may write the text's length).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" {

struct XFont;  // xfont.h
struct XWindow;
struct XPosInfo;
struct XString;

// Graphics context, one per window record.
struct XGC {
    uint8_t textColor;    // palette index of glyph pixels
    uint8_t fillColor;    // palette index of rectangle fills and lines
    uint8_t borderColor;  // palette index of rectangle borders
    uint8_t reserved0;
    uint8_t borderWidth;  // pixels
    uint8_t reserved1;
    uint8_t mode;         // XGC_MODE_ bits
    uint8_t reserved2;
};
static_assert(sizeof(XGC) == 8);
static_assert(offsetof(XGC, borderWidth) == 4 && offsetof(XGC, mode) == 6);

// Width and height reported by the measuring calls.
struct XSizeInfo {
    uint16_t width;
    uint16_t height;
};
static_assert(sizeof(XSizeInfo) == 4);

// Fills the context with its defaults: colours 0, border width 1, fill only.
void XGRP_InitGC(XGC* gc);

// Measuring. All return 0, or -5 for a null argument (XGRP_GetGlyphInfo also for a code past
// the font's glyph table).
int32_t XGRP_GetFontInfo(const XGC* gc, XSizeInfo* size);
int32_t XGRP_GetTextInfo(const XGC* gc, const XString* text, XSizeInfo* size);
int32_t XGRP_GetGlyphInfo(const XGC* gc, uint32_t code, XSizeInfo* size);

// Installs 256 palette entries (XGRP_ARGB format) on the display. The entries are copied.
int32_t XGRP_SetPalette(const uint32_t* entries);

// Lines in the fill colour; horizontal and vertical lines leave out their end point.
void XGRP_DrawLine(XWindow* form, int16_t x1, int16_t y1, int16_t x2, int16_t y2);
// Rectangle: filled (mode bit 0) and/or framed with the border colour (mode bit 1).
void XGRP_DrawRect(XWindow* form, int16_t x, int16_t y, uint16_t width, uint16_t height);
// Text with its baseline at y: glyph rows y - 16 .. y - 1.
void XGRP_DrawText(XWindow* form, const XString* text, int16_t x, int16_t y);
// One line in a box of the given width: aligned when it fits (or overflow is
// XGRP_OVERFLOW_NONE), else cut, with an ellipsis for XGRP_OVERFLOW_ELLIPSIS.
void XGRP_DrawTextEx(XWindow* form, const XString* text, int16_t x, int16_t y,
                     uint16_t boxWidth, uint8_t align, uint8_t overflow);
// As XGRP_DrawTextEx in the rectangle's width, centred vertically in its height.
void XGRP_DrawTextBox(XWindow* form, const XString* text, const XPosInfo* rect, uint8_t align,
                      uint8_t overflow);
// Word-wrapped text in a box of the given width, at most maxLines lines (0: no limit), each
// line 16 + lineGap below the previous. A text length of 0 is replaced by the string length
// of its data. Returns the number of lines drawn (0 without a form or text). Breaks after a
// space where it can, inside a word where it must; the last allowed line ends in an ellipsis
// when text remains. A box narrower than one glyph gives one empty line.
int32_t XGRP_DrawAutoMultilineText(XWindow* form, XString* text, int16_t x, int16_t y,
                                   uint16_t boxWidth, int32_t maxLines, int32_t ignored,
                                   int32_t lineGap);

}  // extern "C"

// Mode bits of XGC::mode.
constexpr uint8_t XGC_MODE_FILL = 0x01;
constexpr uint8_t XGC_MODE_BORDER = 0x02;

// Alignment and overflow arguments of XGRP_DrawTextEx and XGRP_DrawTextBox.
constexpr uint8_t XGRP_ALIGN_LEFT = 0;
constexpr uint8_t XGRP_ALIGN_CENTER = 1;
constexpr uint8_t XGRP_ALIGN_RIGHT = 2;
constexpr uint8_t XGRP_OVERFLOW_NONE = 255;  // callers pass -1
constexpr uint8_t XGRP_OVERFLOW_ELLIPSIS = 1;
constexpr uint8_t XGRP_OVERFLOW_CUT = 0;     // any value but the two above

// Palette entries: alpha in the top byte, then red, green, blue.
constexpr uint32_t XGRP_ARGB(uint8_t a, uint8_t r, uint8_t g, uint8_t b) {
    return uint32_t{a} << 24 | uint32_t{r} << 16 | uint32_t{g} << 8 | uint32_t{b};
}
// Entries 128..255 of a palette are the dimmed versions of 0..127: red, green and blue
// halved, alpha kept.
constexpr uint32_t XGRP_DimEntry(uint32_t entry) {
    return (entry & 0xFF000000u) | ((entry >> 1) & 0x007F7F7Fu);
}
static_assert(XGRP_DimEntry(0xC0FF6410u) == 0xC07F3208u);

namespace veld::xgrp {

// A clipped view of a byte-per-pixel surface. All drawing goes through it; coordinates are
// surface coordinates, and anything outside [0, width) x [0, height) is dropped.
struct Canvas {
    uint8_t* pixels = nullptr;
    uint32_t pitch = 0;  // bytes per line, at least width
    int32_t width = 0;
    int32_t height = 0;

    [[nodiscard]] bool empty() const { return pixels == nullptr || width <= 0 || height <= 0; }
};

// Canvas primitives (xgrp_shapes.cpp). Rectangles with a zero side draw nothing.
void fillRect(const Canvas& canvas, int32_t x, int32_t y, int32_t w, int32_t h, uint8_t colour);
void drawLine(const Canvas& canvas, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
              uint8_t colour);
void drawRect(const Canvas& canvas, const XGC& gc, int32_t x, int32_t y, int32_t w, int32_t h);

// Draws bytes of text in the font at x with its baseline at y (xgrp_text.cpp).
void drawGlyphs(const Canvas& canvas, const XFont& font, const uint8_t* text, size_t length,
                int64_t x, int64_t y, uint8_t colour);

// The bytes of a text; empty for null data or a negative length (top bit set).
std::span<const uint8_t> textBytes(const XString& text);

// The canvas and origin of a form: the display surface and the form's position. An empty
// canvas when the window has no display memory (a control, or a form not on a display).
struct FormView {
    Canvas canvas;
    int32_t originX = 0;
    int32_t originY = 0;
};
FormView formView(const XWindow* form);

}  // namespace veld::xgrp
