// Windows and forms: creation and destruction, the window tree (child tables, parents,
// positions relative to the top form), the timer of each window, the form database and the
// rectangle and arrow-key utilities. Visibility and rendering are in xwin_view.cpp, hilite and
// key routing in xwin_key.cpp.
#include <cstdlib>
#include <cstring>

#include "veldd_log.h"
#include "xdrv.h"
#include "xstring.h"
#include "xwindow.h"
#include "xwm.h"

using namespace veld::loglevel;
using namespace veld::xwin;

namespace {

constexpr uint32_t kWindowTimerFlags = 0x0A;  // periodic
constexpr double kTimerIdBase = 16777216.0;     // 2^24

// The id of a window's own timer: 2^24 + (r / (2^31 - 1)) * 2^24, truncated, so window timers
// never collide with the window-less ids 0 and 1 nor with small application ids.
uint32_t newTimerId() {
    const double r = static_cast<double>(std::rand()) / 2147483647.0;
    return static_cast<uint32_t>(kTimerIdBase + r * kTimerIdBase);
}

void initGc(XGC& gc) {
    gc = XGC{};
    gc.borderWidth = 1;
    gc.mode = XGC_MODE_FILL;
}

}  // namespace

extern "C" {

int32_t XWIN_Create(XWindow* window, uint32_t type, XWindow* parent, uint16_t childCount,
                    uint16_t id, uint32_t options, XWinKeyFn keyFn, XWinRenderFn renderFn,
                    const XPosInfo* position) {
    if (window == nullptr) {
        VELDD_LOG(kError, "[xErr] null param\n");
        return -5;
    }
    auto& s = veld::xwm::state();
    // Clearing a form that is still listed would cut the live list; it leaves the list first
    // and comes back under its new creation number.
    if (veld::xwm::isLive(window)) XSLIST_FetchObject(&s.liveForms, window);

    std::memset(window, 0, sizeof(*window));
    window->keyFn = keyFn;
    window->renderFn = renderFn;
    window->flags = static_cast<uint8_t>(type & kTypeMask);
    window->options = options;
    window->parent = parent;
    window->id = id;
    window->childCount = childCount;
    if (position != nullptr) window->position = *position;
    const bool form = isForm(window);
    if (form) window->sequence = s.nextSequence++;
    if (childCount != 0) {
        window->children =
            static_cast<XWindow**>(XMEM_Alloc((size_t{childCount} + 1) * sizeof(XWindow*)));
        if (window->children == nullptr) {
            VELDD_LOG(kError, "[xErr] out of memory\n");
            std::memset(window, 0, sizeof(*window));
            return -5;
        }
    }
    window->flags |= kFlagCreation | kFlagVisible | kFlagEnabled | kFlagNavigable;
    window->state |= kStateCreated;
    initGc(window->gc);
    window->timerId = newTimerId();
    if (form) XDRV_CreateWindow(window);
    XWIN_ExecSimpleKeyFn(window, XMSG_CREATE, 0);
    if (form) XSLIST_InsertObject(&s.liveForms, window);
    return 0;
}

int32_t XWIN_Destroy(XWindow* window, uint32_t /*ignored*/) {
    if (window == nullptr || (window->state & kStateCreated) == 0) {
        VELDD_LOG(kError, "[xErr] null param/not created\n");
        return -5;
    }
    auto& s = veld::xwm::state();
    window->state &= static_cast<uint8_t>(~(kStateCreated | kStateWantsClock));
    XWIN_Hide(window);
    for (XWindow* child : attachedChildren(window)) XWIN_Destroy(child, 0);
    XMEM_FreeSafe(reinterpret_cast<void**>(&window->children));

    const bool form = isForm(window);
    // A window that is gone must get no more timer messages. This happens before
    // XMSG_DESTROY because a control may release its own record on that message, after
    // which nothing of it is read.
    veld::xwm::stopTimersOf(window);
    XWIN_ExecSimpleKeyFn(window, XMSG_DESTROY, 0);
    if (!form) return 0;

    if (veld::xwm::isLive(window)) XSLIST_FetchObject(&s.liveForms, window);
    XDRV_DestroyWindow(window);
    if (s.focus == window) {
        // Back to the form that had the focus before, keeping that form's own chain; the
        // form being destroyed is not recorded anywhere.
        XWindow* previous = window->prevFocus;
        if (previous == window || previous == nullptr || (previous->state & kStateCreated) == 0)
            previous = nullptr;
        veld::xwm::restoreFocus(previous);
    }
    veld::xwm::unlinkFromFocusChain(window);
    std::memset(window, 0, sizeof(*window));
    if (XSLIST_IsEmpty(&s.liveForms)) XWM_SetFocus(nullptr);
    return 0;
}

int32_t XWIN_AttachChild(XWindow* parent, uint16_t id, XWindow* child) {
    if (parent == nullptr || parent->children == nullptr) {
        VELDD_LOG(kError, "[xErr] null param\n");
        return -5;
    }
    if (id >= parent->childCount) {
        VELDD_LOG(kError, "[xErr] id >= child_num\n");
        return -5;
    }
    parent->children[id] = child;
    return 0;
}

XWindow* XWIN_GetParentWindow(XWindow* window) {
    if (window == nullptr) return nullptr;
    while (window->parent != nullptr) window = window->parent;
    return window;
}

void XWIN_WindowToScreenRect(XWindow* window, XPosInfo* rect) {
    if (rect == nullptr) return;
    int32_t x = rect->x;
    int32_t y = rect->y;
    XWIN_WindowToScreenPos(window, &x, &y);
    rect->x = static_cast<int16_t>(x);
    rect->y = static_cast<int16_t>(y);
}

void XWIN_WindowToScreenPos(XWindow* window, int32_t* x, int32_t* y) {
    if (x == nullptr || y == nullptr) return;
    // The top form's own position is the display's business, not part of the result.
    for (XWindow* w = window; w != nullptr && w->parent != nullptr; w = w->parent) {
        *x += w->position.x;
        *y += w->position.y;
    }
}

void XWIN_GetPosition(XWindow* window, XPosInfo* rect) {
    if (window != nullptr && rect != nullptr) *rect = window->position;
}

void XWIN_SetPosition(XWindow* window, const XPosInfo* rect) {
    if (window != nullptr && rect != nullptr) window->position = *rect;
}

int32_t XWIN_IsOption(XWindow* window, uint32_t mask) {
    return window != nullptr && (window->options & mask) != 0 ? 1 : 0;
}

int32_t XWIN_GetBuffer(XWindow* window, uint8_t** pixels, uint32_t* pitch) {
    return XDRV_LockWindowBuffer(window, pixels, pitch);
}

int32_t XWIN_StartTimeTick(XWindow* window, uint32_t periodMs) {
    if (window == nullptr || (window->state & kStateCreated) == 0) {
        VELDD_LOG(kError, "[xErr] null param\n");
        return -5;
    }
    return XWM_RequestTimerStart(window->timerId, periodMs, kWindowTimerFlags, window, nullptr);
}

int32_t XWIN_StopTimeTick(XWindow* window) {
    if (window == nullptr || (window->state & kStateCreated) == 0) {
        VELDD_LOG(kError, "[xErr] null param\n");
        return -5;
    }
    return XWM_RequestTimerStop(window->timerId);
}

void XDB_RegisterFormDB(XWindow* forms) { veld::xwm::state().formDb = forms; }

XWindow* XDB_GetForm(uint32_t index) {
    XWindow* forms = veld::xwm::state().formDb;
    return forms != nullptr ? &forms[index] : nullptr;
}

int32_t XUTIL_SetPosInfo(XPosInfo* rect, int16_t x, int16_t y, uint16_t width,
                         uint16_t height) {
    if (rect == nullptr) {
        VELDD_LOG(kError, "[xErr] null param\n");
        return -5;
    }
    *rect = XPosInfo{x, y, width, height};
    return 0;
}

int32_t XUTIL_IsArrowKey(uint16_t code) {
    return XUTIL_IsHArrowKey(code) != 0 || XUTIL_IsVArrowKey(code) != 0 ? 1 : 0;
}

int32_t XUTIL_IsHArrowKey(uint16_t code) {
    return code == XKEY_LEFT || code == XKEY_RIGHT ? 1 : 0;
}

int32_t XUTIL_IsVArrowKey(uint16_t code) { return code == XKEY_UP || code == XKEY_DOWN ? 1 : 0; }

}  // extern "C"
