// The text view XTextWgt: a read-only control that keeps its own copy of a text, wraps it
// into lines of its width (breaking at carriage returns, line feeds and the right edge),
// scrolls line by line with up and down, and can show a scroll bar. The record begins with
// its XWindow, so the widget is a window of type 1 wherever a window is expected.
//
// Ownership: XTextWgt_Create allocates the record; the widget owns its text copy (replaced
// and released by every update) and releases the copy and its record when the window system
// destroys it (XMSG_DESTROY), so nothing of it may be used after XWIN_Destroy.
#pragma once

#include <cstddef>
#include <cstdint>

#include "xstring.h"
#include "xwindow.h"

extern "C" {

// Lines the line table holds; wrapping stops there.
constexpr size_t XTEXTWGT_MAX_LINES = 1000;

struct XTextWgt {
    XWindow window;
    uint16_t lineHeight;    // 15 pixels
    uint16_t visibleLines;  // window height / line height
    uint16_t totalLines;    // lines of the current text
    int16_t topLine;        // first line shown
    XString text;           // the widget's copy of the text, line breaks left out
    XString lines[XTEXTWGT_MAX_LINES];  // each line: its length and where it starts in text
};
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(XTextWgt) == 8100);
static_assert(offsetof(XTextWgt, lineHeight) == 84 && offsetof(XTextWgt, topLine) == 90 &&
              offsetof(XTextWgt, text) == 92 && offsetof(XTextWgt, lines) == 100);
#else
static_assert(sizeof(XTextWgt) == 16160);
static_assert(offsetof(XTextWgt, lineHeight) == 136 && offsetof(XTextWgt, topLine) == 142 &&
              offsetof(XTextWgt, text) == 144 && offsetof(XTextWgt, lines) == 160);
#endif

// Option bits of the text view: 0x1 dims the text while the form has not the focus; 0x2 shows
// a scroll bar (the wrap width shrinks by 30 pixels, the bar is 10 pixels wide at the right).
constexpr uint32_t XTEXTWGT_OPT_DIM = 0x1;
constexpr uint32_t XTEXTWGT_OPT_SCROLLBAR = 0x2;

// Allocates the record, creates it as a control of `parent` with the text view's key and
// render functions and attaches it at `id`. Null when the record cannot be allocated.
XTextWgt* XTextWgt_Create(XWindow* parent, uint16_t id, uint32_t options,
                          const XPosInfo* position);
// Copies and wraps `length` bytes of `text` (the caller keeps its text). A non-zero `keep`
// keeps the scroll position as far as the new text allows; else the view goes to the top.
// 0, or -5 for a null widget.
int32_t XTextWgt_UpdateText(XTextWgt* widget, uint32_t length, const char* text, uint32_t keep);

}  // extern "C"
