// The menu list's key function: left and right change a value item in place, up and down
// move to the neighbouring selectable item and scroll the page by one when it leaves it, the
// page keys turn the page, select calls the application. What it leaves alone goes on to the
// form.
#include <algorithm>

#include "xmenulist_page.h"

using namespace veld::xwgt;
using namespace veld::xwgt::menu;

namespace {

// Left and right: a choice value moves through its texts, wrapping at both ends.
int32_t changeValue(XMenuListWgt& w, int32_t delta) {
    XMenuListItem* current = w.current;
    if (current == nullptr) return XWIN_NOT_HANDLED;
    if ((current->flags & XMENULIST_ITEM_VALUE) != 0 && current->data != 0) {
        auto* value = reinterpret_cast<XMenuListValue*>(current->data);
        // Only the choices the value can hold take part.
        const uint32_t count = std::min<uint32_t>(value->count, XMENULIST_MAX_CHOICES);
        if (value->kind == XMENULIST_VALUE_CHOICE && count != 0) {
            if (delta > 0)
                value->index = value->index + 1 >= count ? 0 : value->index + 1;
            else
                value->index = value->index == 0 || value->index > count - 1 ? count - 1
                                                                             : value->index - 1;
            w.changed |= 1;
        }
    }
    requestRedraw(w);
    return 0;
}

XMenuListItem* nextSelectable(XMenuListItem* item) {
    for (item = item->next; item != nullptr && !isSelectable(item); item = item->next) {}
    return item;
}

XMenuListItem* prevSelectable(XMenuListItem* item) {
    for (item = item->prev; item != nullptr && !isSelectable(item); item = item->prev) {}
    return item;
}

int32_t moveDown(XMenuListWgt& w) {
    if (w.current == nullptr) return 0;
    XMenuListItem* target = nextSelectable(w.current);
    if (target == nullptr) return XWIN_NOT_HANDLED;
    w.current = target;
    if (w.lastVisible == nullptr || indexOf(w, target) > indexOf(w, w.lastVisible)) {
        w.lastVisible = target;
        w.firstVisible = backOrFirst(w, target, w.rows - 1);
    }
    requestRedraw(w);
    return 0;
}

int32_t moveUp(XMenuListWgt& w) {
    if (w.current == nullptr) return 0;
    XMenuListItem* target = prevSelectable(w.current);
    if (target == nullptr) return XWIN_NOT_HANDLED;
    w.current = target;
    if (w.firstVisible == nullptr || indexOf(w, target) < indexOf(w, w.firstVisible)) {
        w.firstVisible = target;
        w.lastVisible = forwardOrLast(w, target, w.rows - 1);
    }
    requestRedraw(w);
    return 0;
}

// The target is the page's first item when it is selectable, else the nearest selectable
// one before it; the page moves back by rows - 1.
int32_t pageUp(XMenuListWgt& w) {
    if (w.current == nullptr) return 0;
    if (w.current->prev == nullptr || w.firstVisible == nullptr) return XWIN_NOT_HANDLED;
    XMenuListItem* target = w.firstVisible;
    if (!isSelectable(target)) target = prevSelectable(target);
    if (target == nullptr) return XWIN_NOT_HANDLED;
    if (w.firstVisible != firstItem(w)) w.firstVisible = backOrFirst(w, w.firstVisible, w.rows - 1);
    w.lastVisible = forwardOrLast(w, w.firstVisible, w.rows - 1);
    w.current = target;
    requestRedraw(w);
    return 0;
}

int32_t pageDown(XMenuListWgt& w) {
    if (w.current == nullptr) return 0;
    if (w.current->next == nullptr || w.lastVisible == nullptr) return XWIN_NOT_HANDLED;
    XMenuListItem* target = w.lastVisible;
    if (!isSelectable(target)) target = nextSelectable(target);
    if (target == nullptr) return XWIN_NOT_HANDLED;
    if (w.lastVisible != lastItem(w)) w.lastVisible = forwardOrLast(w, w.lastVisible, w.rows - 1);
    w.firstVisible = backOrFirst(w, w.lastVisible, w.rows - 1);
    w.current = target;
    requestRedraw(w);
    return 0;
}

}  // namespace

namespace veld::xwgt::menu {

int32_t menuKey(XWindow* window, XKeyData* key, uint32_t arg) {
    if (window == nullptr || key == nullptr) return XWIN_NOT_HANDLED;
    XMenuListWgt& w = menuOf(window);
    switch (key->code) {
    case XKEY_RIGHT:
        return changeValue(w, +1);
    case XKEY_LEFT:
        return changeValue(w, -1);
    case XKEY_DOWN:
        return moveDown(w);
    case XKEY_UP:
        return moveUp(w);
    case kKeyPageUp:
        return pageUp(w);
    case kKeyPageDown:
        return pageDown(w);
    case kKeySelect:
        if (w.onSelect == nullptr) return XWIN_NOT_HANDLED;
        w.onSelect(&w, w.cbArg, arg);
        return 0;
    case XMSG_DESTROY:
        // The window system reads nothing of a control after this message.
        XMenuListWgt_Destroy(&w);
        return 0;
    default:
        return XWIN_NOT_HANDLED;
    }
}

}  // namespace veld::xwgt::menu
