// The menu list's record and its items: creation with the cell grid, destruction, insertion
// in arrival order, removal with the rules that move the current item and the page off the
// removed one, the page computation and the queries.
#include "xmenulist_wgt.h"

#include <algorithm>
#include <numeric>

#include "veldd_log.h"
#include "xmenulist_page.h"
#include "xwgt_common.h"

using namespace veld::loglevel;
using namespace veld::xwgt;
using namespace veld::xwgt::menu;

namespace {

// Every item the widget inserts belongs to this group; the ordinal keeps arrival order.
constexpr uint16_t kItemGroup = 0x8000;
constexpr int32_t kArrowBoxHeight = 20;
constexpr int32_t kRowGap = 4;

XMenuListItem* itemOf(void* node) { return static_cast<XMenuListItem*>(node); }

// Orders items by group, then ordinal.
int32_t compareItems(void* node, void* newNode) {
    const XMenuListItem* a = itemOf(node);
    const XMenuListItem* b = itemOf(newNode);
    if (a->group != b->group) return int32_t{a->group} - int32_t{b->group};
    return int32_t{a->ordinal} - int32_t{b->ordinal};
}

// Items are found by their data. The words are compared rather than subtracted: the
// difference of two addresses does not fit the result.
int32_t matchData(void* node, void* key) {
    const uintptr_t a = itemOf(node)->data;
    const uintptr_t b = itemOf(key)->data;
    return a == b ? 0 : (a < b ? -1 : 1);
}

void initItems(XMenuListWgt& w) {
    XSLIST_InitSystem(&w.items, 1, &compareItems, &matchData);
    XSLIST_InitIterator(&w.iter, &w.items);
}

XMenuListItem* findData(XMenuListWgt& w, uintptr_t data) {
    XMenuListItem key{};
    key.data = data;
    return itemOf(XSLIST_GetObject(&w.items, &key));
}

// The ordinal after the last item of the group. When the ordinals have run up to the top of
// their range the group is renumbered from 0 in list order, which keeps the order and makes
// room again.
uint16_t nextOrdinal(XMenuListWgt& w) {
    XMenuListItem* last = lastItem(w);
    while (last != nullptr && last->group != kItemGroup) last = last->prev;
    if (last == nullptr) return 0;
    if (last->ordinal == UINT16_MAX) {
        uint16_t n = 0;
        for (XMenuListItem* item = firstItem(w); item != nullptr; item = item->next)
            if (item->group == kItemGroup) item->ordinal = n++;
        return n;
    }
    return static_cast<uint16_t>(last->ordinal + 1);
}

// Moves the current item and the page off the current item `c` before it is removed.
void moveOffCurrent(XMenuListWgt& w, XMenuListItem* c) {
    const int32_t rows = w.rows;
    if (c == firstItem(w)) {
        w.current = c->next;
        w.firstVisible = c->next;
        w.lastVisible = forwardOrLast(w, c->next, rows - 1);
    } else if (c == lastItem(w)) {
        w.current = c->prev;
        w.firstVisible = backOrFirst(w, c->prev, rows - 1);
        w.lastVisible = c->prev;
    } else if (c == w.firstVisible) {
        w.current = c->prev;
        w.firstVisible = c->prev;
        w.lastVisible = forwardOrLast(w, c->prev, rows - 1);
    } else if (c == w.lastVisible) {
        w.current = c->next;
        w.firstVisible = backOrFirst(w, c->next, rows);
        w.lastVisible = c->next;
    } else if (XMenuListItem* below = stepFrom(w, w.firstVisible, rows); below != nullptr) {
        w.current = c->next;
        w.lastVisible = below;
    } else {
        XMenuListItem* first =
            w.firstVisible != nullptr && w.firstVisible->prev != nullptr ? w.firstVisible->prev
                                                                         : firstItem(w);
        XMenuListItem* last = stepFrom(w, first, rows);
        w.current = last != nullptr ? c->prev : c->next;
        w.firstVisible = first;
        w.lastVisible = last != nullptr ? last : lastItem(w);
    }
}

void releaseWidget(XMenuListWgt* w) {
    XBUFFER_Destroy(&w->pool);
    void* cells = w->cells;
    XMEM_FreeSafe(&cells);
    void* record = w;
    XMEM_FreeSafe(&record);
}

// The cell grid inside the list area: rows of equal height 4 pixels apart, columns side by
// side with the descriptor's widths.
void layoutCells(XMenuListWgt& w, const XMenuListDesc& desc) {
    const int32_t rows = w.rows;
    const int32_t rowHeight =
        std::max(0, (int32_t{w.listArea.height} - (rows - 1) * kRowGap) / rows);
    for (int32_t r = 0; r < rows; ++r) {
        int64_t x = w.listArea.x;
        for (int32_t c = 0; c < w.columns; ++c) {
            const int64_t y = int64_t{w.listArea.y} + int64_t{r} * (rowHeight + kRowGap);
            XPosInfo& cell = w.cells[c + r * w.columns];
            cell = makeRect(x, y, desc.columnWidths[c], rowHeight);
            VELDD_LOG_AS("XMenuListWgt_Create", kDebug, "[xDbg] [%2d,%3d] %3d,%3d\n", c, r, cell.x,
                         cell.y);
            x += desc.columnWidths[c];
        }
    }
}

}  // namespace

namespace veld::xwgt::menu {

XMenuListItem* stepFrom(XMenuListWgt& w, XMenuListItem* from, int32_t n) {
    return itemOf(XSLIST_GetNthObjectFrom(&w.items, from, n));
}

XMenuListItem* forwardOrLast(XMenuListWgt& w, XMenuListItem* from, int32_t n) {
    XMenuListItem* item = stepFrom(w, from, n);
    return item != nullptr ? item : lastItem(w);
}

XMenuListItem* backOrFirst(XMenuListWgt& w, XMenuListItem* from, int32_t n) {
    XMenuListItem* item = stepFrom(w, from, -n);
    return item != nullptr ? item : firstItem(w);
}

int32_t indexOf(XMenuListWgt& w, XMenuListItem* item) {
    return item == nullptr ? -1 : XSLIST_GetObjectIndex(&w.items, item);
}

bool computePage(XMenuListWgt& w) {
    const int32_t count = w.items.count;
    const int32_t rows = w.rows;
    if (count == 0) {
        w.firstVisible = nullptr;
        w.lastVisible = nullptr;
        return false;
    }
    if (count <= rows) {
        w.firstVisible = firstItem(w);
        w.lastVisible = lastItem(w);
        return false;
    }
    const int32_t index = std::max(0, indexOf(w, w.current));
    const int32_t page = index / rows;
    w.firstVisible = stepFrom(w, firstItem(w), page * rows);
    w.lastVisible = stepFrom(w, firstItem(w), (page + 1) * rows - 1);
    if (w.lastVisible == nullptr) {
        w.lastVisible = lastItem(w);
        w.firstVisible = backOrFirst(w, w.lastVisible, rows - 1);
    }
    return true;
}

void requestRedraw(XMenuListWgt& w) {
    XWIN_Invalidate(&w.window);
    if ((w.changed & 1) != 0 && w.onChange != nullptr) w.onChange(&w, w.cbArg);
}

}  // namespace veld::xwgt::menu

extern "C" {

XMenuListWgt* XMenuListWgt_Create(XWindow* parent, uint16_t id, uint32_t options,
                                  const XMenuListDesc* desc, const XPosInfo* position) {
    // A grid without rows or columns has no page to show (and nothing to divide the list
    // area by); the descriptor holds at most XMENULIST_MAX_COLUMNS widths.
    if (desc == nullptr || desc->rows == 0 || desc->columns == 0 ||
        desc->columns > XMENULIST_MAX_COLUMNS) {
        VELDD_LOG(kError, "[xErr] inval param\n");
        return nullptr;
    }
    auto* w = static_cast<XMenuListWgt*>(XMEM_Alloc(sizeof(XMenuListWgt)));
    if (w == nullptr) {
        VELDD_LOG(kError, "[xErr] out of memory\n");
        return nullptr;
    }
    XWIN_Create(&w->window, 1, parent, 0, id, options, &menuKey, &menuRender, position);
    w->columns = desc->columns;
    w->rows = desc->rows;
    w->current = nullptr;
    w->firstVisible = nullptr;
    w->lastVisible = nullptr;
    const XPosInfo& pos = w->window.position;
    // A widget lower than the two arrow boxes has an empty list area.
    w->listArea = makeRect(pos.x, int64_t{pos.y} + kArrowBoxHeight, pos.width,
                           int64_t{pos.height} - 2 * kArrowBoxHeight);

    w->cells = static_cast<XPosInfo*>(XMEM_Alloc(size_t{w->rows} * w->columns * sizeof(XPosInfo)));
    if (w->cells == nullptr || XBUFFER_Create(&w->pool, sizeof(XMenuListItem), desc->capacity) != 0) {
        VELDD_LOG(kError, "[xErr] out of memory\n");
        releaseWidget(w);
        return nullptr;
    }
    layoutCells(*w, *desc);
    w->drawCell = desc->drawCell;
    w->freeItem = desc->freeItem;
    initItems(*w);
    XWIN_AttachChild(parent, id, &w->window);
    return w;
}

int32_t XMenuListWgt_Destroy(XMenuListWgt* widget) {
    if (widget == nullptr) return 0;
    if (widget->freeItem != nullptr) {
        for (XMenuListItem* item = firstItem(*widget); item != nullptr; item = item->next) {
            if (item->data == 0) continue;
            uintptr_t data = item->data;
            widget->freeItem(widget, &data);
        }
    }
    releaseWidget(widget);
    return 0;
}

int32_t XMenuListWgt_InsertData(XMenuListWgt* widget, uintptr_t parentData, uintptr_t data,
                                uint32_t flags) {
    if (widget == nullptr) return -5;
    // Items are placed by arrival only; a parent is looked up but does not move the item.
    if (parentData != 0) static_cast<void>(findData(*widget, parentData));
    const uint16_t ordinal = nextOrdinal(*widget);
    auto* item = static_cast<XMenuListItem*>(XBUFFER_Alloc(&widget->pool));
    if (item == nullptr) return -5;  // the pool is exhausted
    item->group = kItemGroup;
    item->ordinal = ordinal;
    item->flags = flags;
    item->data = data;
    if (XSLIST_InsertObject(&widget->items, item) != 0) {
        void* element = item;
        XBUFFER_FreeSafe(&widget->pool, &element);
        return -5;
    }
    if (widget->current == nullptr) widget->current = item;
    return 0;
}

int32_t XMenuListWgt_DeleteData(XMenuListWgt* widget, uintptr_t data) {
    if (widget == nullptr) return -5;
    XMenuListWgt& w = *widget;
    XMenuListItem* item = findData(w, data);
    if (item == nullptr) return -5;
    if (item == w.current) moveOffCurrent(w, item);
    XSLIST_FetchObject(&w.items, item);
    void* element = item;
    XBUFFER_FreeSafe(&w.pool, &element);

    // Nothing may go on referring to the removed item: when a page bound did (the item
    // bounded the page, or the rules above landed on it), the page is chosen afresh.
    if (w.items.count == 0) {
        w.current = nullptr;
        w.firstVisible = nullptr;
        w.lastVisible = nullptr;
    } else {
        if (w.current == item) w.current = firstItem(w);
        if (w.firstVisible == item || w.lastVisible == item) computePage(w);
    }
    requestRedraw(w);
    return 0;
}

int32_t XMenuListWgt_FlushData(XMenuListWgt* widget) {
    if (widget == nullptr) return -5;
    XBUFFER_Flush(&widget->pool);
    widget->current = nullptr;
    widget->firstVisible = nullptr;
    widget->lastVisible = nullptr;
    initItems(*widget);
    requestRedraw(*widget);
    return 0;
}

int32_t XMenuListWgt_ReorderData(XMenuListWgt* widget) {
    if (widget == nullptr) return -5;
    if (computePage(*widget)) requestRedraw(*widget);
    return 0;
}

int32_t XMenuListWgt_SetFocus(XMenuListWgt* widget, int32_t index) {
    if (widget == nullptr || widget->items.count == 0) return -5;
    const int32_t clamped = std::clamp<int32_t>(index, 0, widget->items.count - 1);
    widget->current = stepFrom(*widget, firstItem(*widget), clamped);
    return 0;
}

XMenuListItem* XMenuListWgt_GetNodeByidx(XMenuListWgt* widget, int32_t index) {
    return widget == nullptr ? nullptr : itemOf(XSLIST_GetNthObject(&widget->items, index));
}

uintptr_t XMenuListWgt_GetData(XMenuListWgt* widget, const void* key, XMenuListMatchFn match) {
    if (widget == nullptr || key == nullptr || match == nullptr) return 0;
    for (XMenuListItem* item = firstItem(*widget); item != nullptr; item = item->next)
        if (item->data != 0 && match(item->data, key) != 0) return item->data;
    return 0;
}

uintptr_t XMenuListWgt_GetCurrentData(XMenuListWgt* widget) {
    return widget == nullptr || widget->current == nullptr ? 0 : widget->current->data;
}

uintptr_t XMenuListWgt_GetCurrentDataEx(XMenuListWgt* widget, XMenuListCellInfo* cell) {
    if (widget == nullptr || widget->current == nullptr || cell == nullptr) return 0;
    XMenuListWgt& w = *widget;
    XMenuListItem* current = w.current;
    cell->data = current->data;
    cell->flags = current->flags;
    cell->isCurrent = 1;
    cell->index = static_cast<uint16_t>(indexOf(w, current));
    cell->column = 0;
    XMenuListItem* item = w.firstVisible;
    for (int32_t row = 0; item != nullptr && row < w.rows; ++row, item = item->next) {
        if (item == current) {
            cell->row = static_cast<uint16_t>(row);
            cell->rect = w.cells[row * w.columns];
            break;
        }
    }
    return current->data;
}

int32_t XMenuListWgt_GetNumElement(XMenuListWgt* widget) {
    return widget == nullptr ? 0 : widget->items.count;
}

}  // extern "C"
