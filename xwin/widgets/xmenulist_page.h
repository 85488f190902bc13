// Inside the menu list: walking the item list, the page rules and the redraw request shared
// by the list operations (xmenulist_wgt.cpp), the key function (xmenulist_keys.cpp) and the
// renderer (xmenulist_render.cpp).
#pragma once

#include <cstdint>

#include "xmenulist_wgt.h"

namespace veld::xwgt::menu {

inline XMenuListWgt& menuOf(XWindow* window) { return *reinterpret_cast<XMenuListWgt*>(window); }

inline XMenuListItem* firstItem(const XMenuListWgt& w) {
    return static_cast<XMenuListItem*>(w.items.head);
}
inline XMenuListItem* lastItem(const XMenuListWgt& w) {
    return static_cast<XMenuListItem*>(w.items.tail);
}
inline bool isSelectable(const XMenuListItem* item) {
    return (item->flags & XMENULIST_ITEM_SELECTABLE) != 0;
}

// n steps from `from` (back for negative n); null when a step leaves the list.
XMenuListItem* stepFrom(XMenuListWgt& w, XMenuListItem* from, int32_t n);
// n steps forward, else the last item; n steps back, else the first item.
XMenuListItem* forwardOrLast(XMenuListWgt& w, XMenuListItem* from, int32_t n);
XMenuListItem* backOrFirst(XMenuListWgt& w, XMenuListItem* from, int32_t n);
// Position in the list, -1 for null or an item not listed.
int32_t indexOf(XMenuListWgt& w, XMenuListItem* item);

// The page from the current item (no current item counts as the first). Whether the page
// was chosen from the current item's position (the case that asks for a redraw).
bool computePage(XMenuListWgt& w);

// Invalidates the widget, then calls the change callback when bit 0 of `changed` is set.
void requestRedraw(XMenuListWgt& w);

// The widget's key and render functions.
int32_t menuKey(XWindow* window, XKeyData* key, uint32_t arg);
int32_t menuRender(XWindow* window);

}  // namespace veld::xwgt::menu
