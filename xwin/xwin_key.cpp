// Hilite and key routing inside a form: the hilited child sees a key first, then arrow keys
// move the hilite (linear, wrapping or spatial navigation, chosen by the form's options) or
// turn into edge messages, then the parent form and finally the form's own key function.
#include <cstdint>
#include <optional>

#include "veldd_log.h"
#include "xwindow.h"
#include "xwm.h"

using namespace veld::loglevel;
using namespace veld::xwin;

namespace {

enum class NavMode { None, LinearH, WrapH, LinearV, WrapV, Spatial };

// Only one mode value under the mask is recognised at a time; a combination counts as none.
NavMode navMode(uint32_t options) {
    switch (options & kOptNavMask) {
    case kOptLinearH: return NavMode::LinearH;
    case kOptWrapH: return NavMode::WrapH;
    case kOptLinearV: return NavMode::LinearV;
    case kOptWrapV: return NavMode::WrapV;
    case kOptSpatial: return NavMode::Spatial;
    default: return NavMode::None;
    }
}

uint16_t edgeMessage(uint16_t code) {
    switch (code) {
    case XKEY_UP: return XMSG_EDGE_UP;
    case XKEY_DOWN: return XMSG_EDGE_DOWN;
    case XKEY_LEFT: return XMSG_EDGE_LEFT;
    default: return XMSG_EDGE_RIGHT;
    }
}

bool isNavigableControl(const XWindow* w) {
    return w != nullptr && (w->flags & kFlagNavigable) != 0 && !isForm(w);
}

// Index of the hilite in the form's child table; its id when it is not found there.
int32_t indexOf(const XWindow* form, const XWindow* child) {
    for (int32_t i = 0; i < form->childCount; ++i) {
        if (form->children[i] == child) return i;
    }
    return child->id;
}

// Linear search along the child table: step -1 for the previous key, +1 for the next one.
// Wrapping continues past either end and gives up after one full round, which ends on the
// hilite itself; a non-wrapping search stops at the ends.
XWindow* searchLinear(const XWindow* form, const XWindow* hilite, int32_t step, bool wrap) {
    const int32_t count = form->childCount;
    if (count == 0) return nullptr;
    const int32_t start = indexOf(form, hilite);
    for (int32_t n = 1; n <= count; ++n) {
        int32_t i = start + step * n;
        if (wrap)
            i = ((i % count) + count) % count;
        else if (i < 0 || i >= count)
            return nullptr;
        if (isNavigableControl(form->children[i])) return form->children[i];
    }
    return nullptr;
}

// Spatial distance from the hilite to a candidate in the arrow's direction, or none when the
// candidate does not lie that way. Centres are doubled to stay in integers; the axis across
// the movement weighs more than the distance along it. Computed in 64 bits: positions are
// trusted and any 16-bit rectangle must give the same order it gives on screen.
std::optional<int64_t> spatialDistance(const XPosInfo& from, const XPosInfo& to, uint16_t code) {
    const int64_t x = from.x, y = from.y, w = from.width, h = from.height;
    const int64_t X = to.x, Y = to.y, W = to.width, H = to.height;
    const int64_t cx = 2 * x + w, cy = 2 * y + h, CX = 2 * X + W, CY = 2 * Y + H;
    int64_t weight = 0;
    switch (code) {
    case XKEY_RIGHT:
        if (!(X >= x + w - 2)) return std::nullopt;
        weight = 2 * (CY - cy) * (CY - cy);
        break;
    case XKEY_LEFT:
        if (!(x >= X + W - 2)) return std::nullopt;
        weight = 2 * (CY - cy) * (CY - cy);
        break;
    case XKEY_DOWN:
        if (!(Y >= y + h - 2)) return std::nullopt;
        weight = 2 * (CX - cx) * (CX - cx);
        break;
    default:  // XKEY_UP
        if (!(y >= Y + H - 2)) return std::nullopt;
        weight = 2 * (CX - cx) * (CX - cx);
        break;
    }
    return weight + (((cy - CY) * (cy - CY) + (cx - CX) * (cx - CX)) >> 1);
}

// The nearest navigable child in the arrow's direction; on equal distance the earlier child
// in the table wins. Form children count too.
XWindow* searchSpatial(const XWindow* form, const XWindow* hilite, uint16_t code) {
    XWindow* best = nullptr;
    int64_t bestDistance = 0;
    for (int32_t i = 0; i < form->childCount; ++i) {
        XWindow* candidate = form->children[i];
        if (candidate == nullptr || candidate == hilite ||
            (candidate->flags & kFlagNavigable) == 0)
            continue;
        const auto distance = spatialDistance(hilite->position, candidate->position, code);
        if (!distance) continue;
        if (best == nullptr || *distance < bestDistance) {
            best = candidate;
            bestDistance = *distance;
        }
    }
    return best;
}

XWindow* navigationTarget(const XWindow* form, const XWindow* hilite, uint16_t code) {
    if (form->children == nullptr) return nullptr;
    const bool horizontal = XUTIL_IsHArrowKey(code) != 0;
    const int32_t step = code == XKEY_LEFT || code == XKEY_UP ? -1 : 1;
    switch (navMode(form->options)) {
    case NavMode::LinearH: return horizontal ? searchLinear(form, hilite, step, false) : nullptr;
    case NavMode::WrapH: return horizontal ? searchLinear(form, hilite, step, true) : nullptr;
    case NavMode::LinearV: return horizontal ? nullptr : searchLinear(form, hilite, step, false);
    case NavMode::WrapV: return horizontal ? nullptr : searchLinear(form, hilite, step, true);
    case NavMode::Spatial: return searchSpatial(form, hilite, code);
    case NavMode::None: break;
    }
    return nullptr;
}

}  // namespace

extern "C" {

void XWIN_Hilite(XWindow* window, int32_t on) {
    if (window == nullptr) return;
    if (on != 0)
        window->flags |= kFlagHilited;
    else
        window->flags &= static_cast<uint8_t>(~kFlagHilited);
    XWIN_ExecSimpleKeyFn(window, on != 0 ? XMSG_FOCUS_IN : XMSG_FOCUS_OUT, 0);
    XWIN_Invalidate(window);
}

int32_t XWIN_SetInitialFocus(XWindow* window, uint16_t index) {
    if (window == nullptr || window->children == nullptr || window->children[0] == nullptr ||
        index >= window->childCount || window->children[index] == nullptr) {
        VELDD_LOG(kError, "[xErr] inval param\n");
        return -5;
    }
    window->hilite = window->children[index];
    XWIN_Hilite(window->hilite, 1);
    return 0;
}

int32_t XWIN_MoveHiliteByPtr(XWindow* window, XWindow* from, XWindow* to) {
    if (window == nullptr) {
        VELDD_LOG(kError, "[xErr] null param\n");
        return -5;
    }
    window->hilite = to;
    if (from != nullptr) XWIN_Hilite(from, 0);
    if (to == nullptr) return 0;
    if (isForm(to))
        XWIN_Run(to);
    else
        XWIN_Hilite(to, 1);
    return 0;
}

int32_t XWIN_MoveHiliteByID(XWindow* window, uint16_t fromIndex, uint16_t toIndex) {
    if (window == nullptr || window->children == nullptr) {
        VELDD_LOG(kError, "[xErr] null param\n");
        return -5;
    }
    // An index past the table names no child rather than memory beyond it.
    auto at = [&](uint16_t i) { return i < window->childCount ? window->children[i] : nullptr; };
    return XWIN_MoveHiliteByPtr(window, at(fromIndex), at(toIndex));
}

int32_t XWIN_Run(XWindow* window) {
    if (window == nullptr) {
        VELDD_LOG(kError, "[xErr] null param\n");
        return -5;
    }
    if (isForm(window)) XWM_SetFocus(window);
    return 0;
}

int32_t XWIN_ProcessKeyEvent(XWindow* form, XKeyData* key) {
    if (form == nullptr || key == nullptr) {
        VELDD_LOG(kError, "[xErr] null param\n");
        return -5;
    }
    if (!isForm(form)) {
        VELDD_LOG(kError, "[xErr] invalid win type (%d)\n", typeOf(form));
        return -5;
    }
    if (XWindow* hilite = form->hilite; hilite != nullptr) {
        if (hilite->keyFn != nullptr) {
            XKeyData copy = *key;
            if (hilite->keyFn(hilite, &copy, 0) == 0) return 0;
        }
        if (XUTIL_IsArrowKey(key->code) != 0 && (form->options & kOptNoArrows) == 0) {
            if (XWindow* target = navigationTarget(form, hilite, key->code)) {
                XWIN_MoveHiliteByPtr(form, hilite, target);
                return 0;
            }
            // The caller sees the rewritten code: an arrow that moved nothing reaches the
            // parent form, the form's key function and the application as an edge message.
            key->code = edgeMessage(key->code);
        }
    }
    if (XWindow* parent = form->parent; parent != nullptr && isForm(parent)) {
        XKeyData copy = *key;
        if (XWIN_ProcessKeyEvent(parent, &copy) == 0) return 0;
    }
    return XWIN_ExecKeyFn(form, key, 0);
}

int32_t XWIN_ExecKeyFn(XWindow* window, XKeyData* key, uint32_t arg) {
    if (window == nullptr || window->keyFn == nullptr) return XWIN_NOT_HANDLED;
    return window->keyFn(window, key, arg);
}

int32_t XWIN_ExecSimpleKeyFn(XWindow* window, uint16_t code, uint32_t arg) {
    XKeyData key{};
    key.code = code;
    return XWIN_ExecKeyFn(window, &key, arg);
}

}  // extern "C"
