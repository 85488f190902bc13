// Helpers shared by the text view, the chart and the menu list: dimmed colours, form
// rectangles, fills and boxed texts drawn without disturbing the form's graphics context.
#include "xwgt_common.h"

#include <algorithm>

#include "xstring.h"
#include "xwm.h"

extern "C" uint8_t XUTIL_GetDimmingColor(uint8_t index) {
    return static_cast<uint8_t>(index | 0x80);
}

namespace veld::xwgt {

bool hasFocus(const XWindow* form) { return form != nullptr && XWM_GetFocus() == form; }

XPosInfo makeRect(int64_t x, int64_t y, int64_t width, int64_t height) {
    return {static_cast<int16_t>(std::clamp<int64_t>(x, INT16_MIN, INT16_MAX)),
            static_cast<int16_t>(std::clamp<int64_t>(y, INT16_MIN, INT16_MAX)),
            static_cast<uint16_t>(std::clamp<int64_t>(width, 0, UINT16_MAX)),
            static_cast<uint16_t>(std::clamp<int64_t>(height, 0, UINT16_MAX))};
}

XPosInfo ownRectOnForm(XWindow* widget) {
    XPosInfo rect{0, 0, widget->position.width, widget->position.height};
    XWIN_WindowToScreenRect(widget, &rect);
    return rect;
}

void fillRect(XWindow* form, const XPosInfo& rect, uint8_t colour) {
    if (rect.width == 0 || rect.height == 0) return;
    const uint8_t fill = form->gc.fillColor;
    const uint8_t mode = form->gc.mode;
    form->gc.fillColor = colour;
    form->gc.mode = XGC_MODE_FILL;
    XGRP_DrawRect(form, rect.x, rect.y, rect.width, rect.height);
    form->gc.fillColor = fill;
    form->gc.mode = mode;
}

void fillRect(XWindow* form, int32_t x, int32_t y, int32_t width, int32_t height,
              uint8_t colour) {
    if (width <= 0 || height <= 0) return;
    fillRect(form, makeRect(x, y, width, height), colour);
}

void drawTextBox(XWindow* form, std::string_view text, const XPosInfo& rect, uint8_t align,
                 uint8_t overflow) {
    if (text.empty()) return;
    const XString string = XUTIL_MakeString(text.data(), static_cast<uint32_t>(text.size()));
    XGRP_DrawTextBox(form, &string, &rect, align, overflow);
}

void drawSymbolBox(XWindow* form, uint8_t symbol, const XPosInfo& rect) {
    const char code = static_cast<char>(symbol);
    drawTextBox(form, std::string_view(&code, 1), rect, XGRP_ALIGN_CENTER, XGRP_OVERFLOW_NONE);
}

}  // namespace veld::xwgt
