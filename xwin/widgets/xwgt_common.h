// What the three widgets share: the dimmed form of a palette colour, and the small drawing
// steps every widget renderer repeats (finding its form, converting a rectangle to the form,
// filling it, writing a text into it) with the form's graphics context kept intact.
#pragma once

#include <cstdint>
#include <string_view>

#include "xgrp.h"
#include "xwindow.h"

extern "C" {

// The dimmed version of a palette index: index | 0x80 (the palette keeps the dimmed entries
// at 128 + i).
uint8_t XUTIL_GetDimmingColor(uint8_t index);

}  // extern "C"

namespace veld::xwgt {

// Saves the whole graphics context of a form and puts it back when the scope ends, so that a
// renderer may change colours and mode without leaving traces on the form.
class GcGuard {
public:
    explicit GcGuard(XWindow* form) : form_(form), saved_(form->gc) {}
    ~GcGuard() { form_->gc = saved_; }
    GcGuard(const GcGuard&) = delete;
    GcGuard& operator=(const GcGuard&) = delete;

private:
    XWindow* form_;
    XGC saved_;
};

// Whether the form holds the focus of the window manager.
bool hasFocus(const XWindow* form);

// `colour`, dimmed when `dim` holds.
inline uint8_t colourFor(uint8_t colour, bool dim) {
    return dim ? XUTIL_GetDimmingColor(colour) : colour;
}

// The widget's own rectangle (0, 0, width, height) in the coordinates of its top form.
XPosInfo ownRectOnForm(XWindow* widget);

// Fills a rectangle given in form coordinates with `colour` (fill mode only, whatever the
// form's mode); the form's colour and mode are left as they were. Nothing for an empty side.
void fillRect(XWindow* form, const XPosInfo& rect, uint8_t colour);
// Same with signed sides; a side of 0 or less draws nothing.
void fillRect(XWindow* form, int32_t x, int32_t y, int32_t width, int32_t height,
              uint8_t colour);

// A text (or one symbol of the font) in a rectangle of form coordinates with the form's text
// colour, through XGRP_DrawTextBox.
void drawTextBox(XWindow* form, std::string_view text, const XPosInfo& rect, uint8_t align,
                 uint8_t overflow);
void drawSymbolBox(XWindow* form, uint8_t symbol, const XPosInfo& rect);

// A rectangle with its sides clamped into the ranges of XPosInfo.
XPosInfo makeRect(int64_t x, int64_t y, int64_t width, int64_t height);

// Glyph codes of the built-in font's symbols.
inline constexpr uint8_t kSymbolUp = 3;
inline constexpr uint8_t kSymbolDown = 4;
inline constexpr uint8_t kSymbolLeft = 6;
inline constexpr uint8_t kSymbolRight = 7;

// Option bit of every widget: dim the colours while the form has not the focus.
inline constexpr uint32_t kOptDim = 0x1;

}  // namespace veld::xwgt
