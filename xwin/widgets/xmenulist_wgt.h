// The menu list XMenuListWgt: a paged list control. Items come from a fixed pool inside the
// widget and are kept in insertion order; a page of `rows` rows of `columns` cells shows them,
// the arrow and page keys move the current item, and value items (a label and a choice among
// texts) are changed in place with left and right and drawn by the widget itself. Ordinary
// items and empty rows are drawn by the application's cell callback.
//
// Geometry: the list area, the cells and the two scroll-arrow boxes are computed from the
// widget's position (its parent's coordinates) and then converted with the widget's own
// XWIN_WindowToScreenRect, so they appear offset by the widget's x and y once more: a widget
// at (20, 20) draws its first row at (40, 60) of its form. Applications lay their menus out
// for this; keep it.
//
// Ownership: XMenuListWgt_Create allocates the record, the cell table and the pool; the
// window system's XMSG_DESTROY (or XMenuListWgt_Destroy) releases them after handing every
// item's data to the free callback. Value item data stays the application's.
#pragma once

#include <cstddef>
#include <cstdint>

#include "xbuffer.h"
#include "xlist.h"
#include "xstring.h"
#include "xwindow.h"

extern "C" {

struct XMenuListWgt;

// Item flags.
constexpr uint32_t XMENULIST_ITEM_SELECTABLE = 0x1;
constexpr uint32_t XMENULIST_ITEM_VALUE = 0x100;

// An item from the pool. `data` is the application's value, usually a pointer.
struct XMenuListItem {
    XMenuListItem* next;
    XMenuListItem* prev;
    uint16_t group;
    uint16_t ordinal;
    uint32_t flags;
    uintptr_t data;
};
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(XMenuListItem) == 20);
#else
static_assert(sizeof(XMenuListItem) == 32);
#endif
static_assert(offsetof(XMenuListItem, group) == 2 * sizeof(void*) &&
              offsetof(XMenuListItem, ordinal) == 2 * sizeof(void*) + 2 &&
              offsetof(XMenuListItem, flags) == 2 * sizeof(void*) + 4 &&
              offsetof(XMenuListItem, data) == 2 * sizeof(void*) + 8);

// What the cell callback gets for one cell, and what XMenuListWgt_GetCurrentDataEx fills.
// The rectangle is in the widget's coordinates: convert it with XWIN_WindowToScreenRect of
// the widget before drawing on the form.
struct XMenuListCellInfo {
    uintptr_t data;
    uint32_t flags;
    uint32_t isCurrent;  // 0 or 1
    uint16_t index;      // of the item in the list
    uint16_t row;        // on the page
    uint8_t column;
    uint8_t spare;
    XPosInfo rect;
};
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(XMenuListCellInfo) == 28 && offsetof(XMenuListCellInfo, flags) == 4 &&
              offsetof(XMenuListCellInfo, index) == 12 && offsetof(XMenuListCellInfo, rect) == 18);
#else
static_assert(sizeof(XMenuListCellInfo) == 32 && offsetof(XMenuListCellInfo, flags) == 8 &&
              offsetof(XMenuListCellInfo, index) == 16 && offsetof(XMenuListCellInfo, rect) == 22);
#endif

// The data of a value item (the application's, read by the widget).
constexpr uint32_t XMENULIST_VALUE_CHOICE = 1;  // kind: a choice among texts
constexpr size_t XMENULIST_MAX_CHOICES = 16;
struct XMenuListValue {
    uint32_t kind;
    XString label;     // shown in column 0
    uint32_t count;    // choices in use
    XString choices[XMENULIST_MAX_CHOICES];
    uint32_t index;    // the current choice
};
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(XMenuListValue) == 148 && offsetof(XMenuListValue, count) == 12 &&
              offsetof(XMenuListValue, choices) == 16 && offsetof(XMenuListValue, index) == 144);
#else
static_assert(sizeof(XMenuListValue) == 296 && offsetof(XMenuListValue, count) == 24 &&
              offsetof(XMenuListValue, choices) == 32 && offsetof(XMenuListValue, index) == 288);
#endif

// Callbacks. Their results are not used.
// Draws the cell of an ordinary item or of an empty row (data 0, flags 1).
typedef int32_t (*XMenuListCellDrawFn)(XMenuListWgt* widget, XMenuListCellInfo* cell);
// Releases an item's data when the widget is destroyed; *data holds the data.
typedef int32_t (*XMenuListFreeFn)(XMenuListWgt* widget, uintptr_t* data);
// The select key: (widget, callback argument, the key function's argument).
typedef int32_t (*XMenuListSelectFn)(XMenuListWgt* widget, uintptr_t cbArg, uint32_t keyArg);
// After a redraw request while bit 0 of `changed` is set.
typedef int32_t (*XMenuListChangeFn)(XMenuListWgt* widget, uintptr_t cbArg);
// XMenuListWgt_GetData: non-zero selects the item with this data.
typedef int32_t (*XMenuListMatchFn)(uintptr_t data, const void* key);

// Columns a descriptor can describe.
constexpr size_t XMENULIST_MAX_COLUMNS = 8;

// Creation descriptor, read once by XMenuListWgt_Create.
struct XMenuListDesc {
    uint16_t capacity;  // items in the pool
    uint8_t columns;    // cells per row, 1 .. XMENULIST_MAX_COLUMNS
    uint8_t rows;       // visible rows per page, at least 1
    XMenuListCellDrawFn drawCell;
    XMenuListFreeFn freeItem;
    uint16_t columnWidths[XMENULIST_MAX_COLUMNS];  // pixels
};
static_assert(offsetof(XMenuListDesc, drawCell) == sizeof(void*) &&
              offsetof(XMenuListDesc, columnWidths) == 3 * sizeof(void*));

struct XMenuListWgt {
    XWindow window;
    uint32_t changed;  // bit 0: a value item changed (never cleared by the widget)
    XMenuListSelectFn onSelect;
    uintptr_t cbArg;   // given to both callbacks
    XMenuListChangeFn onChange;
    uint8_t columns;
    uint8_t rows;
    XSList items;      // sorted by (group, ordinal): insertion order; matched by data
    XSListIter iter;
    XMenuListItem* current;       // null when there is none
    XMenuListItem* firstVisible;  // the page shown
    XMenuListItem* lastVisible;
    XBuffer pool;
    XPosInfo listArea;  // (x, y + 20, width, height - 40) of the widget's position
    XPosInfo* cells;    // rows x columns, index column + row x columns
    XMenuListCellDrawFn drawCell;
    XMenuListFreeFn freeItem;
};
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(offsetof(XMenuListWgt, changed) == 84 && offsetof(XMenuListWgt, columns) == 100 &&
              offsetof(XMenuListWgt, items) == 104 && offsetof(XMenuListWgt, current) == 132 &&
              offsetof(XMenuListWgt, pool) == 144 && offsetof(XMenuListWgt, listArea) == 180 &&
              offsetof(XMenuListWgt, cells) == 188 && sizeof(XMenuListWgt) == 200);
#else
static_assert(offsetof(XMenuListWgt, changed) == 136 && offsetof(XMenuListWgt, columns) == 168 &&
              offsetof(XMenuListWgt, items) == 176 && offsetof(XMenuListWgt, current) == 232 &&
              offsetof(XMenuListWgt, pool) == 256 && offsetof(XMenuListWgt, listArea) == 320 &&
              offsetof(XMenuListWgt, cells) == 328 && sizeof(XMenuListWgt) == 352);
#endif

// Option bits of the menu list.
constexpr uint32_t XMENULIST_OPT_ARROWS = 0x1;     // scroll arrows above and below the list
constexpr uint32_t XMENULIST_OPT_FILL_AREA = 0x10;  // fill the list area before the rows

// Creates the widget as a control of `parent` at `id` with the descriptor's pool, grid and
// callbacks. Null (with "[xErr] out of memory") when memory runs out, or when the descriptor
// is null or asks for no rows, no columns or more than XMENULIST_MAX_COLUMNS.
XMenuListWgt* XMenuListWgt_Create(XWindow* parent, uint16_t id, uint32_t options,
                                  const XMenuListDesc* desc, const XPosInfo* position);
// Hands each item's non-zero data to the free callback, then frees the pool, the cell table
// and the record. 0. The widget must not be attached to a live window any more, or be
// destroyed through XWIN_Destroy instead (which calls this).
int32_t XMenuListWgt_Destroy(XMenuListWgt* widget);
// Appends an item (the first one becomes current). 0, or -5 when the pool is exhausted.
int32_t XMenuListWgt_InsertData(XMenuListWgt* widget, uintptr_t parentData, uintptr_t data,
                                uint32_t flags);
// Removes the first item holding `data`, moving the current item and the page off it. 0, or
// -5 when no item holds it.
int32_t XMenuListWgt_DeleteData(XMenuListWgt* widget, uintptr_t data);
// Returns every item to the pool without calling the free callback. 0.
int32_t XMenuListWgt_FlushData(XMenuListWgt* widget);
// Recomputes the page around the current item. 0.
int32_t XMenuListWgt_ReorderData(XMenuListWgt* widget);
// Makes the item at `index` (clamped into the list) current; the page stays. 0, or -5 when
// the list is empty.
int32_t XMenuListWgt_SetFocus(XMenuListWgt* widget, int32_t index);
XMenuListItem* XMenuListWgt_GetNodeByidx(XMenuListWgt* widget, int32_t index);
// The data of the first item with non-zero data that `match` accepts; 0 when none.
uintptr_t XMenuListWgt_GetData(XMenuListWgt* widget, const void* key, XMenuListMatchFn match);
uintptr_t XMenuListWgt_GetCurrentData(XMenuListWgt* widget);
// Fills `cell` for the current item (row and rectangle only when it is on the page) and
// returns its data; 0 and `cell` untouched when there is no current item.
uintptr_t XMenuListWgt_GetCurrentDataEx(XMenuListWgt* widget, XMenuListCellInfo* cell);
int32_t XMenuListWgt_GetNumElement(XMenuListWgt* widget);

}  // extern "C"

namespace veld::xwgt {

// Keys of the menu list besides the arrows of xevent.h.
inline constexpr uint16_t kKeySelect = 10;
inline constexpr uint16_t kKeyPageUp = 33;
inline constexpr uint16_t kKeyPageDown = 34;

}  // namespace veld::xwgt
