// Visibility and drawing of the window tree: show and hide, enable and disable, invalidate and
// validate, and the render and update walks that the window manager's refresh runs. A window
// is drawn when it is visible and invalid; drawing marks its top form screen-dirty, and the
// refresh pushes exactly those forms to the screen.
#include "xdrv.h"
#include "xgrp.h"
#include "xwindow.h"
#include "xwm.h"

using namespace veld::xwin;

namespace {

constexpr uint8_t kNotVisibleNorInvalid = static_cast<uint8_t>(~(kFlagVisible | kFlagInvalid));

// Applies `visit` to the window and all its descendants, parents before children.
template <typename Visit>
void forTree(XWindow* window, const Visit& visit) {
    visit(window);
    for (XWindow* child : attachedChildren(window)) forTree(child, visit);
}

// Applies `visit` to every live form and its descendants. The walk is by creation number so
// that callbacks which destroy forms cannot leave it holding a cleared record.
template <typename Visit>
void forLiveForms(const Visit& visit) {
    for (XWindow* form = veld::xwm::nextLiveForm(true, 0); form != nullptr;) {
        const uint32_t sequence = form->sequence;
        visit(form);
        form = veld::xwm::nextLiveForm(false, sequence);
    }
}

void setFlags(XWindow* window, uint8_t set, uint8_t clear) {
    forTree(window, [&](XWindow* w) {
        w->flags = static_cast<uint8_t>((w->flags & ~clear) | set);
    });
}

// A hidden form is painted over with colour 0 and pushed at once, so that it disappears from
// the screen without waiting for the next refresh.
void eraseForm(XWindow* form) {
    form->gc.fillColor = 0;
    XGRP_DrawRect(form, 0, 0, form->position.width, form->position.height);
    if (form->display == nullptr) return;  // never attached to a display: nothing to push
    XDRV_UpdateFrameBuffer(form->display, form, form->position.x, form->position.y);
    XDRV_UpdateScreen(form->display);
}

}  // namespace

extern "C" {

void XWIN_Show(XWindow* window) {
    if (window == nullptr) return;
    window->flags |= kFlagVisible | kFlagInvalid;
    XWIN_ExecSimpleKeyFn(window, XMSG_SHOW, 0);
    for (XWindow* child : attachedChildren(window)) XWIN_Show(child);
}

void XWIN_Hide(XWindow* window) {
    if (window == nullptr) return;
    window->flags &= kNotVisibleNorInvalid;
    XWIN_ExecSimpleKeyFn(window, XMSG_HIDE, 0);
    XWindow* top = XWIN_GetParentWindow(window);
    top->state &= static_cast<uint8_t>(~kStateScreenDirty);
    for (XWindow* child : attachedChildren(window)) XWIN_Hide(child);
    if (isForm(window)) eraseForm(window);
}

void XWIN_Enable(XWindow* window) {
    if (window != nullptr) setFlags(window, kFlagEnabled | kFlagInvalid, 0);
}

void XWIN_Disable(XWindow* window) {
    if (window != nullptr) setFlags(window, kFlagInvalid, kFlagEnabled);
}

void XWIN_Invalidate(XWindow* window) {
    if (window != nullptr)
        setFlags(window, kFlagInvalid, 0);
    else
        forLiveForms([](XWindow* form) { setFlags(form, kFlagInvalid, 0); });
}

void XWIN_Validate(XWindow* window) {
    if (window != nullptr)
        setFlags(window, 0, kFlagInvalid);
    else
        forLiveForms([](XWindow* form) { setFlags(form, 0, kFlagInvalid); });
}

int32_t XWIN_Render(XWindow* window) {
    if (window == nullptr) return 0;
    if ((window->flags & kFlagVisible) == 0) {
        window->flags &= static_cast<uint8_t>(~kFlagInvalid);
        return 0;
    }
    XWindow* top = XWIN_GetParentWindow(window);
    top->state |= kStateScreenDirty;
    int32_t result = 0;
    if (window->renderFn != nullptr) {
        // A control's render function may change the form's colours freely.
        const uint8_t text = top->gc.textColor;
        const uint8_t fill = top->gc.fillColor;
        result = window->renderFn(window);
        top->gc.textColor = text;
        top->gc.fillColor = fill;
    }
    window->flags &= static_cast<uint8_t>(~kFlagInvalid);
    return result;
}

void XWIN_Update(XWindow* window) {
    if (window == nullptr) return;
    if ((window->flags & (kFlagVisible | kFlagInvalid)) == (kFlagVisible | kFlagInvalid))
        XWIN_Render(window);
    window->flags &= static_cast<uint8_t>(~kFlagInvalid);
}

void XWIN_UpdateList(XWindow* window) {
    if (window == nullptr) {
        forLiveForms([](XWindow* form) { XWIN_UpdateList(form); });
        return;
    }
    XWIN_Update(window);
    for (XWindow* child : attachedChildren(window)) XWIN_UpdateList(child);
}

void XWIN_RenderList(XWindow* window) {
    if (window == nullptr) {
        forLiveForms([](XWindow* form) { XWIN_RenderList(form); });
        XWIN_Validate(nullptr);
        return;
    }
    XWIN_Render(window);
    for (XWindow* child : attachedChildren(window)) XWIN_RenderList(child);
    XWIN_Validate(window);
}

}  // extern "C"
