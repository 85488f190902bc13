// The menu list's renderer: the list area, the scroll arrows, and one page of rows in which
// ordinary items and empty rows go to the application's cell callback and value items are
// drawn here (label in column 0, the current choice between two arrows in column 1).
#include <algorithm>
#include <string_view>

#include "xmenulist_page.h"
#include "xwgt_common.h"

using namespace veld::xwgt;
using namespace veld::xwgt::menu;

namespace {

constexpr uint8_t kTextColour = 3;
constexpr uint8_t kCurrentTextColour = 4;
constexpr uint8_t kFillColour = 1;
constexpr uint8_t kCurrentFillColour = 2;
constexpr int32_t kArrowBoxHeight = 20;
constexpr int32_t kChoiceArrowWidth = 20;

std::string_view viewOf(const XString& text) {
    if (text.data == nullptr || (text.length & 0x80000000u) != 0) return {};
    return {text.data, text.length};
}

// A rectangle of the widget's grid on the form: converted with the widget's own position.
XPosInfo onForm(XWindow* widget, XPosInfo rect) {
    XWIN_WindowToScreenRect(widget, &rect);
    return rect;
}

void drawValueCell(XMenuListWgt& w, XWindow* form, const XMenuListCellInfo& cell) {
    GcGuard guard(form);
    const XPosInfo rect = onForm(&w.window, cell.rect);
    fillRect(form, rect, kFillColour);
    const auto* value = reinterpret_cast<const XMenuListValue*>(cell.data);
    if (value == nullptr) return;
    if (cell.column == 0) {
        form->gc.textColor = kTextColour;
        drawTextBox(form, viewOf(value->label), rect, XGRP_ALIGN_LEFT, XGRP_OVERFLOW_CUT);
        return;
    }
    if (cell.column != 1 || value->kind != XMENULIST_VALUE_CHOICE) return;
    const uint8_t text = cell.isCurrent ? kCurrentTextColour : kTextColour;
    const uint8_t fill = cell.isCurrent ? kCurrentFillColour : kFillColour;
    form->gc.textColor = kTextColour;
    drawSymbolBox(form, kSymbolLeft, makeRect(rect.x, rect.y, kChoiceArrowWidth, rect.height));
    drawSymbolBox(form, kSymbolRight,
                  makeRect(int64_t{rect.x} + rect.width - kChoiceArrowWidth, rect.y,
                           kChoiceArrowWidth, rect.height));
    const XPosInfo middle = makeRect(int64_t{rect.x} + kChoiceArrowWidth, rect.y,
                                     int64_t{rect.width} - 2 * kChoiceArrowWidth, rect.height);
    fillRect(form, middle, fill);
    const uint32_t count = std::min<uint32_t>(value->count, XMENULIST_MAX_CHOICES);
    if (value->index < count) {
        form->gc.textColor = text;
        drawTextBox(form, viewOf(value->choices[value->index]), middle, XGRP_ALIGN_CENTER,
                    XGRP_OVERFLOW_CUT);
    }
}

void drawArrows(XMenuListWgt& w, XWindow* form) {
    const XPosInfo& pos = w.window.position;
    const XPosInfo top = onForm(&w.window, makeRect(pos.x, pos.y, pos.width, kArrowBoxHeight));
    const XPosInfo bottom =
        onForm(&w.window, makeRect(pos.x, int64_t{pos.y} + pos.height - kArrowBoxHeight,
                                   pos.width, kArrowBoxHeight));
    fillRect(form, top, kFillColour);
    fillRect(form, bottom, kFillColour);
    const uint8_t saved = form->gc.textColor;
    form->gc.textColor = XUTIL_GetDimmingColor(kTextColour);
    if (w.firstVisible != nullptr && w.firstVisible != firstItem(w))
        drawSymbolBox(form, kSymbolUp, top);
    if (w.lastVisible != nullptr && w.lastVisible != lastItem(w))
        drawSymbolBox(form, kSymbolDown, bottom);
    form->gc.textColor = saved;
}

}  // namespace

namespace veld::xwgt::menu {

int32_t menuRender(XWindow* window) {
    if ((window->flags & veld::xwin::kFlagVisible) == 0) return 0;
    XMenuListWgt& w = menuOf(window);
    XWindow* form = XWIN_GetParentWindow(window);
    GcGuard guard(form);
    form->gc.textColor = kTextColour;
    form->gc.fillColor = kFillColour;
    if ((window->options & XMENULIST_OPT_FILL_AREA) != 0)
        fillRect(form, onForm(window, w.listArea), kFillColour);
    if ((window->options & XMENULIST_OPT_ARROWS) != 0) drawArrows(w, form);

    XMenuListItem* item = w.firstVisible;
    const int32_t firstIndex = std::max(0, indexOf(w, w.firstVisible));
    for (int32_t row = 0; row < w.rows; ++row) {
        for (int32_t column = 0; column < w.columns; ++column) {
            // Rows past the last item are empty rows: data 0, flags 1, not current.
            XMenuListCellInfo cell{};
            cell.data = item != nullptr ? item->data : 0;
            cell.flags = item != nullptr ? item->flags : XMENULIST_ITEM_SELECTABLE;
            cell.isCurrent = item != nullptr && item == w.current ? 1 : 0;
            cell.index = static_cast<uint16_t>(firstIndex + row);
            cell.row = static_cast<uint16_t>(row);
            cell.column = static_cast<uint8_t>(column);
            cell.rect = w.cells[column + row * w.columns];
            if ((cell.flags & XMENULIST_ITEM_VALUE) != 0)
                drawValueCell(w, form, cell);
            else if (w.drawCell != nullptr)
                w.drawCell(&w, &cell);
        }
        if (item != nullptr) item = item->next;
    }
    return 0;
}

}  // namespace veld::xwgt::menu
