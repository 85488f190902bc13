// The text view: wrapping a text into the line table, scrolling with up and down, and
// drawing the visible lines and the scroll bar. Each line of the table is a length and a
// pointer into the widget's own copy of the text, which holds the text's bytes without its
// line breaks.
#include "xtext_wgt.h"

#include <algorithm>
#include <array>
#include <span>

#include "veldd_log.h"
#include "xwgt_common.h"
#include "xwm.h"

using namespace veld::loglevel;
using namespace veld::xwgt;

namespace {

constexpr uint16_t kLineHeight = 15;
constexpr int32_t kScrollBarMargin = 30;  // the wrap width gives up this much for the bar
constexpr int32_t kScrollBarWidth = 10;
constexpr uint8_t kTextColour = 3;
constexpr uint8_t kTrackColour = 6;
constexpr uint8_t kThumbColour = 7;
constexpr uint8_t kThumbFocusColour = 8;

XTextWgt& textOf(XWindow* window) { return *reinterpret_cast<XTextWgt*>(window); }

bool hasScrollBar(const XTextWgt& widget) {
    return (widget.window.options & XTEXTWGT_OPT_SCROLLBAR) != 0;
}

// Pixels a line may hold: the window's width, less the scroll bar's room.
int32_t wrapWidth(const XTextWgt& widget) {
    return int32_t{widget.window.position.width} - (hasScrollBar(widget) ? kScrollBarMargin : 0);
}

// The width of every byte measured as a one-byte text in the built-in font (the font never
// changes, so the table is measured once).
const std::array<int32_t, 256>& byteWidths() {
    static const std::array<int32_t, 256> widths = [] {
        std::array<int32_t, 256> table{};
        XGC gc{};
        XGRP_InitGC(&gc);
        for (size_t b = 0; b < table.size(); ++b) {
            const char byte = static_cast<char>(b);
            const XString one = XUTIL_MakeString(&byte, 1);
            XSizeInfo size{};
            XGRP_GetTextInfo(&gc, &one, &size);
            table[b] = size.width;
        }
        return table;
    }();
    return widths;
}

// The largest top line that still fills the view: the start of the last full page, 0 when
// the whole text fits.
int32_t lastPageTop(const XTextWgt& widget) {
    return std::max(0, int32_t{widget.totalLines} - int32_t{widget.visibleLines});
}

// Splits `source` into the line table, copying its bytes (without breaks) into the widget's
// text copy. Stops when the table is full.
void wrapInto(XTextWgt& widget, std::span<const uint8_t> source) {
    const auto& widths = byteWidths();
    const int32_t limit = wrapWidth(widget);
    char* const copy = widget.text.data;
    uint32_t used = 0;       // bytes copied so far
    uint32_t lineStart = 0;  // where the line being built starts in the copy
    uint32_t count = 0;      // its bytes
    int32_t width = 0;       // its pixels
    size_t total = 0;

    auto record = [&] {
        widget.lines[total++] = {count, copy + lineStart};
        lineStart = used;
        count = 0;
        width = 0;
    };

    for (const uint8_t byte : source) {
        if (total == XTEXTWGT_MAX_LINES) break;
        if (byte == '\n' || byte == '\r') {
            record();
            continue;
        }
        const int32_t c = widths[byte];
        // An empty line takes its first byte whatever its width: a view narrower than one
        // character shows one per line instead of an empty line before each.
        if (count != 0 && width + c >= limit) {
            record();
            if (total == XTEXTWGT_MAX_LINES) break;
        }
        copy[used++] = static_cast<char>(byte);
        ++count;
        width += c;
    }
    if (count != 0 && total < XTEXTWGT_MAX_LINES) record();
    widget.text.length = used;
    widget.totalLines = static_cast<uint16_t>(total);
}

void releaseText(XTextWgt& widget) {
    XUTIL_FreeString(widget.text);
    widget.text = {};
}

int32_t textKey(XWindow* window, XKeyData* key, uint32_t /*arg*/) {
    if (window == nullptr || key == nullptr) return XWIN_NOT_HANDLED;
    XTextWgt& widget = textOf(window);
    switch (key->code) {
    case XKEY_UP:
        VELDD_LOG(kDebug, "[xDbg] TextWgtgt - Up\n");
        if (widget.topLine > 0) {
            --widget.topLine;
            XWIN_Invalidate(XWIN_GetParentWindow(window));
        }
        return 0;
    case XKEY_DOWN:
        VELDD_LOG(kDebug, "[xDbg] TextWgtgt - Down\n");
        if (widget.topLine < int32_t{widget.totalLines} - int32_t{widget.visibleLines}) {
            ++widget.topLine;
            XWIN_Invalidate(XWIN_GetParentWindow(window));
        }
        return 0;
    case XMSG_DESTROY:
        // The window system reads nothing of a control after this message: the widget's
        // record and its text copy go back now.
        releaseText(widget);
        {
            void* record = window;
            XMEM_FreeSafe(&record);
        }
        return 0;
    default:
        return XWIN_NOT_HANDLED;
    }
}

int32_t textRender(XWindow* window) {
    XTextWgt& widget = textOf(window);
    XWindow* form = XWIN_GetParentWindow(window);
    GcGuard guard(form);
    const bool dim = (window->options & XTEXTWGT_OPT_DIM) != 0 && !hasFocus(form);
    form->gc.textColor = colourFor(kTextColour, dim);

    const XPosInfo area = ownRectOnForm(window);
    const int32_t total = widget.totalLines;
    const int32_t top = std::clamp<int32_t>(widget.topLine, 0, total);
    const int32_t last = std::min(total, top + int32_t{widget.visibleLines});
    const int32_t lineWidth = std::max(0, wrapWidth(widget));
    for (int32_t i = top; i < last; ++i) {
        const XPosInfo box =
            makeRect(area.x, int64_t{area.y} + int64_t{i - top} * widget.lineHeight, lineWidth,
                     widget.lineHeight);
        XGRP_DrawTextBox(form, &widget.lines[i], &box, XGRP_ALIGN_LEFT, XGRP_OVERFLOW_NONE);
    }

    if (hasScrollBar(widget)) {
        const int32_t start = total == 0 ? 0 : 100 * top / total;
        const int32_t end = total == 0 ? 100 : 100 * last / total;
        VELDD_LOG(kDebug, "[xDbg] start = %3d, end = %3d\n", start, end);
        const int64_t height = area.height;
        const int64_t trackX = int64_t{area.x} + area.width - kScrollBarWidth;
        fillRect(form, makeRect(trackX, area.y, kScrollBarWidth, height), kTrackColour);
        // (end - start + 0.5) percent of the height, truncated; the half rounds the thumb up
        // but never lets it run past the track.
        const int64_t thumbTop = start * height / 100;
        const int64_t thumbHeight =
            std::min<int64_t>((2 * int64_t{end - start} + 1) * height / 200, height - thumbTop);
        fillRect(form, makeRect(trackX, area.y + thumbTop, kScrollBarWidth, thumbHeight),
                 hasFocus(form) ? kThumbFocusColour : kThumbColour);
    }
    return 0;
}

}  // namespace

extern "C" {

XTextWgt* XTextWgt_Create(XWindow* parent, uint16_t id, uint32_t options,
                          const XPosInfo* position) {
    auto* widget = static_cast<XTextWgt*>(XMEM_Alloc(sizeof(XTextWgt)));
    if (widget == nullptr) {
        VELDD_LOG(kError, "[xErr] out of memory\n");
        return nullptr;
    }
    XWIN_Create(&widget->window, 1, parent, 0, id, options, &textKey, &textRender, position);
    widget->lineHeight = kLineHeight;
    widget->visibleLines = static_cast<uint16_t>(widget->window.position.height / kLineHeight);
    XWIN_AttachChild(parent, id, &widget->window);
    return widget;
}

int32_t XTextWgt_UpdateText(XTextWgt* widget, uint32_t length, const char* text, uint32_t keep) {
    if (widget == nullptr) return -5;
    if (text == nullptr) length = 0;
    releaseText(*widget);
    // Room for one and a half times the text; only `length` bytes are ever copied.
    const uint64_t wanted = uint64_t{length} + length / 2;
    widget->text = XUTIL_AllocString(wanted <= UINT32_MAX - 8 ? static_cast<uint32_t>(wanted)
                                                              : length);
    widget->totalLines = 0;
    if (widget->text.data == nullptr) {
        VELDD_LOG(kError, "[xErr] out of memory\n");
    } else if (length != 0) {
        wrapInto(*widget, {reinterpret_cast<const uint8_t*>(text), length});
    }
    // Keeping the position never leaves the view past the text: at most the last full page.
    widget->topLine = keep ? static_cast<int16_t>(std::clamp<int32_t>(widget->topLine, 0,
                                                                       lastPageTop(*widget)))
                           : int16_t{0};
    return 0;
}

}  // extern "C"
