// The window record and everything a window carries: the rectangle XPosInfo, the graphics
// context XGC, the key and render function types, the flag, state and option bits, and the
// XWIN_* / XDB_* operations on windows and forms. Widgets extend XWindow by embedding it as the
// first member of a larger record. Layouts are exact on the 32-bit television; on a 64-bit PC
// only the address-sized fields widen.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "xevent.h"
#include "xgrp.h"  // XGC, the graphics context every window carries

extern "C" {

struct XWindow;
struct XDisplay;  // the display driver's record

// Rectangle; the position of a window is relative to its parent.
struct XPosInfo {
    int16_t x;
    int16_t y;
    uint16_t width;
    uint16_t height;
};
static_assert(sizeof(XPosInfo) == 8);
static_assert(offsetof(XPosInfo, y) == 2 && offsetof(XPosInfo, width) == 4 &&
              offsetof(XPosInfo, height) == 6);

// Key function: returns 0 when it handled the event, anything else when not. The argument is
// the timer id for timer messages and 0 otherwise.
typedef int32_t (*XWinKeyFn)(XWindow* window, XKeyData* key, uint32_t arg);
// Render function: draws the window into the display memory of its top form.
typedef int32_t (*XWinRenderFn)(XWindow* window);

// Window record. Memory belongs to the caller; XWIN_Create clears it, and it is cleared again
// when a form is destroyed.
struct XWindow {
    XWindow* next;        // live form list links (forms only)
    XWindow* prev;
    uint16_t id;          // index in the parent's child table
    uint8_t flags;        // veld::xwin::kFlag*; bits 0-1 the type
    uint8_t state;        // veld::xwin::kState*
    uint32_t timerId;     // id of the window's own timer, random in [2^24, 2^25]
    XWindow* parent;      // null for a form at the top
    uint16_t childCount;  // size of the child table
    XWindow** children;   // childCount + 1 entries, the last always null
    XWindow* hilite;      // the hilited child
    uint32_t options;     // veld::xwin::kOpt*; low bits belong to the window's kind
    XWinKeyFn keyFn;
    XWinRenderFn renderFn;
    XPosInfo position;    // relative to the parent
    XGC gc;
    uint32_t pitch;       // bytes per display line (forms)
    uint32_t lockCount;   // window-buffer locks held
    uint8_t* pixels;      // the display's pixel memory (forms)
    XDisplay* display;    // the display record (forms)
    uint32_t sequence;    // creation sequence number (forms), the live list's sort key
    XWindow* prevFocus;   // focus window before this one got the focus
};

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(XWindow) == 84);
static_assert(offsetof(XWindow, id) == 8 && offsetof(XWindow, flags) == 10 &&
              offsetof(XWindow, state) == 11 && offsetof(XWindow, timerId) == 12 &&
              offsetof(XWindow, parent) == 16 && offsetof(XWindow, childCount) == 20 &&
              offsetof(XWindow, children) == 24 && offsetof(XWindow, hilite) == 28 &&
              offsetof(XWindow, options) == 32 && offsetof(XWindow, keyFn) == 36 &&
              offsetof(XWindow, renderFn) == 40 && offsetof(XWindow, position) == 44 &&
              offsetof(XWindow, gc) == 52 && offsetof(XWindow, pitch) == 60 &&
              offsetof(XWindow, lockCount) == 64 && offsetof(XWindow, pixels) == 68 &&
              offsetof(XWindow, display) == 72 && offsetof(XWindow, sequence) == 76 &&
              offsetof(XWindow, prevFocus) == 80);
#else
static_assert(sizeof(XWindow) == 136);
static_assert(offsetof(XWindow, id) == 16 && offsetof(XWindow, flags) == 18 &&
              offsetof(XWindow, state) == 19 && offsetof(XWindow, timerId) == 20 &&
              offsetof(XWindow, parent) == 24 && offsetof(XWindow, childCount) == 32 &&
              offsetof(XWindow, children) == 40 && offsetof(XWindow, hilite) == 48 &&
              offsetof(XWindow, options) == 56 && offsetof(XWindow, keyFn) == 64 &&
              offsetof(XWindow, renderFn) == 72 && offsetof(XWindow, position) == 80 &&
              offsetof(XWindow, gc) == 88 && offsetof(XWindow, pitch) == 96 &&
              offsetof(XWindow, lockCount) == 100 && offsetof(XWindow, pixels) == 104 &&
              offsetof(XWindow, display) == 112 && offsetof(XWindow, sequence) == 120 &&
              offsetof(XWindow, prevFocus) == 128);
#endif

// ---- Creation, destruction and the tree -------------------------------------------------
// The caller owns every record; the window system never frees one (it frees only the child
// tables it allocated itself).

// Clears and fills the record, allocates the child table, sends XMSG_CREATE and puts a form
// into the live form list. 0 or -5 (null window).
int32_t XWIN_Create(XWindow* window, uint32_t type, XWindow* parent, uint16_t childCount,
                    uint16_t id, uint32_t options, XWinKeyFn keyFn, XWinRenderFn renderFn,
                    const XPosInfo* position);
// Hides and destroys the window and its children (XMSG_DESTROY each); a form leaves the live
// list, loses its timers and is cleared. 0 or -5 (null or not created).
int32_t XWIN_Destroy(XWindow* window, uint32_t ignored);
// Stores child at index id of parent's child table. 0 or -5.
int32_t XWIN_AttachChild(XWindow* parent, uint16_t id, XWindow* child);
// The topmost ancestor (the window itself without a parent).
XWindow* XWIN_GetParentWindow(XWindow* window);
// Makes a rect or point relative to the top form.
void XWIN_WindowToScreenRect(XWindow* window, XPosInfo* rect);
void XWIN_WindowToScreenPos(XWindow* window, int32_t* x, int32_t* y);
void XWIN_GetPosition(XWindow* window, XPosInfo* rect);
void XWIN_SetPosition(XWindow* window, const XPosInfo* rect);

// ---- Visibility, invalidation, rendering -------------------------------------------------
void XWIN_Show(XWindow* window);
void XWIN_Hide(XWindow* window);
void XWIN_Enable(XWindow* window);
void XWIN_Disable(XWindow* window);
// null: every live form and its descendants.
void XWIN_Invalidate(XWindow* window);
void XWIN_Validate(XWindow* window);
int32_t XWIN_Render(XWindow* window);
void XWIN_Update(XWindow* window);
void XWIN_UpdateList(XWindow* window);
void XWIN_RenderList(XWindow* window);
int32_t XWIN_IsOption(XWindow* window, uint32_t mask);
int32_t XWIN_GetBuffer(XWindow* window, uint8_t** pixels, uint32_t* pitch);

// ---- Hilite, focus and keys ---------------------------------------------------------------
void XWIN_Hilite(XWindow* window, int32_t on);
int32_t XWIN_SetInitialFocus(XWindow* window, uint16_t index);
int32_t XWIN_MoveHiliteByPtr(XWindow* window, XWindow* from, XWindow* to);
int32_t XWIN_MoveHiliteByID(XWindow* window, uint16_t fromIndex, uint16_t toIndex);
int32_t XWIN_Run(XWindow* window);
// Routes a key through the form's hilite, arrow navigation, the parent form and the form's
// own key function. May rewrite key->code into an edge message.
int32_t XWIN_ProcessKeyEvent(XWindow* form, XKeyData* key);
int32_t XWIN_ExecKeyFn(XWindow* window, XKeyData* key, uint32_t arg);
int32_t XWIN_ExecSimpleKeyFn(XWindow* window, uint16_t code, uint32_t arg);

// ---- Timers of a window -------------------------------------------------------------------
int32_t XWIN_StartTimeTick(XWindow* window, uint32_t periodMs);
int32_t XWIN_StopTimeTick(XWindow* window);

// ---- Form database ------------------------------------------------------------------------
// The array stays the application's; the window system only keeps the pointer.
void XDB_RegisterFormDB(XWindow* forms);
XWindow* XDB_GetForm(uint32_t index);

// ---- Utilities --------------------------------------------------------------------------
int32_t XUTIL_SetPosInfo(XPosInfo* rect, int16_t x, int16_t y, uint16_t width, uint16_t height);
int32_t XUTIL_IsArrowKey(uint16_t code);
int32_t XUTIL_IsHArrowKey(uint16_t code);
int32_t XUTIL_IsVArrowKey(uint16_t code);

}  // extern "C"

// Key functions answer this when they leave an event to others.
constexpr int32_t XWIN_NOT_HANDLED = static_cast<int32_t>(0xFFFF0020u);

namespace veld::xwin {

// Window types (flag bits 0-1).
inline constexpr uint8_t kTypeMask = 0x03;
inline constexpr uint8_t kTypeForm = 0;

// Flag bits.
inline constexpr uint8_t kFlagCreation = 0x04;
inline constexpr uint8_t kFlagVisible = 0x08;
inline constexpr uint8_t kFlagEnabled = 0x10;
inline constexpr uint8_t kFlagHilited = 0x20;
inline constexpr uint8_t kFlagInvalid = 0x40;
inline constexpr uint8_t kFlagNavigable = 0x80;

// State bits.
inline constexpr uint8_t kStateCreated = 0x02;
inline constexpr uint8_t kStateWantsClock = 0x08;
inline constexpr uint8_t kStateScreenDirty = 0x10;

// Option bits of key routing.
inline constexpr uint32_t kOptLinearH = 0x10000;
inline constexpr uint32_t kOptWrapH = 0x20000;
inline constexpr uint32_t kOptLinearV = 0x40000;
inline constexpr uint32_t kOptWrapV = 0x80000;
inline constexpr uint32_t kOptSpatial = 0x200000;
inline constexpr uint32_t kOptNoArrows = 0x800000;
inline constexpr uint32_t kOptNavMask = 0x2F0000;

inline constexpr uint8_t typeOf(const XWindow* w) { return w->flags & kTypeMask; }
inline constexpr bool isForm(const XWindow* w) { return typeOf(w) == kTypeForm; }

// The attached children of a window: the child table up to its first empty entry. Every walk
// over the tree uses this, so children must be attached without gaps.
inline std::span<XWindow* const> attachedChildren(const XWindow* w) {
    if (w == nullptr || w->children == nullptr) return {};
    size_t n = 0;
    while (n < w->childCount && w->children[n] != nullptr) ++n;
    return {w->children, n};
}

}  // namespace veld::xwin
