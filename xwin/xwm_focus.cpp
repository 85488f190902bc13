// The focus: the one form that receives keys, and the chain of earlier focus windows that each
// form records when it takes the focus (its length is the control depth). Leaving control
// depth walks back along that chain, optionally destroying the forms left behind.
#include "veldd_log.h"
#include "xwindow.h"
#include "xwm.h"

using namespace veld::loglevel;
using veld::xwin::isForm;
using veld::xwin::typeOf;

namespace veld::xwm {

void restoreFocus(XWindow* form) {
    state().focus = form;
    if (form == nullptr) return;
    XWIN_ExecSimpleKeyFn(form, XMSG_FOCUS_IN, 0);
    XWIN_Invalidate(form);
}

void unlinkFromFocusChain(XWindow* gone) {
    State& s = state();
    auto splice = [gone](XWindow* form) {
        if (form == nullptr || form->prevFocus != gone) return;
        // Never a form's own previous focus: two forms that took the focus from each other
        // would otherwise leave one pointing at itself.
        form->prevFocus = gone->prevFocus == form ? nullptr : gone->prevFocus;
    };
    for (auto* form = static_cast<XWindow*>(s.liveForms.head); form != nullptr;
         form = form->next)
        splice(form);
    // The focus may be a form that is no longer listed (the list was dropped).
    splice(s.focus);
}

}  // namespace veld::xwm

extern "C" {

XWindow* XWM_SetFocus(XWindow* form) {
    auto& s = veld::xwm::state();
    if (form != nullptr && !isForm(form)) {
        VELDD_LOG(kError, "[xErr] invalid window type (%d)\n", typeOf(form));
        return nullptr;
    }
    XWindow* old = s.focus;
    s.focus = form;
    if (old != nullptr) {
        XWIN_ExecSimpleKeyFn(old, XMSG_FOCUS_OUT, 0);
        XWIN_Invalidate(old);
    }
    if (form != nullptr) {
        // Running the focus form again must not make it its own previous focus: that would
        // lose the way back along the chain.
        if (form != old) form->prevFocus = old;
        XWIN_ExecSimpleKeyFn(form, XMSG_FOCUS_IN, 0);
        XWIN_Invalidate(form);
    }
    return old;
}

XWindow* XWM_GetFocus(void) { return veld::xwm::state().focus; }

XWindow* XWM_GetActiveObject(void) { return veld::xwm::state().focus; }

void XWM_ExitCtrlDepth(uint32_t depth, uint32_t destroy) {
    auto& s = veld::xwm::state();
    if (destroy == 0) {
        XWIN_ExecSimpleKeyFn(s.focus, XMSG_FOCUS_OUT, 0);
        XWIN_Invalidate(s.focus);  // with no focus: every live form
    }
    if (s.focus == nullptr) return;
    XWindow* reached = s.focus;
    for (uint32_t step = 0; step < depth && reached != nullptr; ++step) {
        // Read before destroying: destruction clears the form's record.
        XWindow* previous = reached->prevFocus;
        if (destroy != 0) XWIN_Destroy(reached, 0);
        reached = previous;
    }
    veld::xwm::restoreFocus(reached);
}

}  // extern "C"
