// The window manager's event loop: task set-up, fetching with the application's filter,
// dispatch by event type, the pushes that other threads use, and the screen refresh after each
// event. The clock and timers live in xwm_timer.cpp, the focus in xwm_focus.cpp.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "veldd_log.h"
#include "xdrv.h"
#include "xwindow.h"
#include "xwm.h"

using namespace veld::loglevel;
using veld::xwin::isForm;
using veld::xwin::kFlagVisible;
using veld::xwin::kStateScreenDirty;

extern "C" {
XEvent gXEvent;
}

namespace veld::xwm {
namespace {

State gState;

// Both lists sort and match on the difference of two unsigned keys read as signed, so keys
// must stay within 2^31 of each other (creation numbers and timer ids do).
int32_t compareForms(void* node, void* other) {
    return static_cast<int32_t>(static_cast<XWindow*>(node)->sequence -
                                static_cast<XWindow*>(other)->sequence);
}

int32_t compareTimers(void* node, void* other) {
    return static_cast<int32_t>(static_cast<XTimer*>(node)->id -
                                static_cast<XTimer*>(other)->id);
}

// A receive that fails (a signal, a queue removed under us) must not turn the loop into a
// busy spin that floods the log; a short pause keeps it responsive and cheap.
constexpr uint32_t kReceiveRetryMs = 10;

bool fetch(XEvent* event) {
    if (XDRV_ReceiveQueue(0, event, 0) != 0) return false;
    State& s = gState;
    if (s.appFilter != nullptr && event->type >= XEVENT_KEY && s.appFilter(event, 0) != 0)
        event->type = 0;
    if (event->type == XEVENT_KEY) restartKeyTimers();
    return true;
}

// Pushes every visible form to the screen (XEVENT_DISP_SYNC).
void syncDisplay() {
    VELDD_LOG_AS("XWM_Run", kDebug, "[xDbg] XEVENT_DISP_SYNC !!\n");
    State& s = gState;
    int pushed = 0;
    for (auto* form = static_cast<XWindow*>(s.liveForms.head); form != nullptr;
         form = form->next) {
        if (!isForm(form) || (form->flags & kFlagVisible) == 0) continue;
        XDRV_UpdateFrameBuffer(&s.display, form, form->position.x, form->position.y);
        form->state &= static_cast<uint8_t>(~kStateScreenDirty);
        ++pushed;
    }
    if (pushed > 0) XDRV_UpdateScreen(&s.display);
}

void dispatch(XEvent* event) {
    State& s = gState;
    switch (event->type) {
    case XEVENT_QUIT:
        if (!XSLIST_IsEmpty(&s.liveForms)) XWM_DestroyAllObjects();
        callApp(event, 0);
        s.running = 0;
        break;
    case XEVENT_DISP_SYNC:
        syncDisplay();
        break;
    case XEVENT_CLOCK_TICK:
        clockTick(event);
        break;
    case XEVENT_KEY:
        if (s.focus == nullptr || XWIN_ProcessKeyEvent(s.focus, &event->key) != 0)
            callApp(event, 0);
        break;
    default:
        callApp(event, 0);
        break;
    }
}

int32_t push(const XEvent& event) { return XDRV_SendQueue(0, &event, 0); }

}  // namespace

State& state() { return gState; }

void callApp(XEvent* event, uint32_t arg) {
    if (gState.appHandler != nullptr) gState.appHandler(event, arg);
}

XWindow* nextLiveForm(bool first, uint32_t sequence) {
    for (auto* form = static_cast<XWindow*>(gState.liveForms.head); form != nullptr;
         form = form->next) {
        if (first || static_cast<int32_t>(form->sequence - sequence) > 0) return form;
    }
    return nullptr;
}

bool isLive(XWindow* form) {
    return form != nullptr && XSLIST_GetObjectIndex(&gState.liveForms, form) >= 0;
}

}  // namespace veld::xwm

extern "C" {

int32_t INITIALIZE_TASK(uint32_t arg) {
    using namespace veld::xwm;
    State& s = state();
    // The state may hold timers from an earlier run of the task; they are ours to free.
    if ((s.timers.flags & XSLIST_FLAG_INITIALISED) != 0) freeAllTimers();
    std::memset(&s, 0, sizeof(s));
    XSLIST_InitSystem(&s.liveForms, 1, compareForms, compareForms);
    XSLIST_InitIterator(&s.liveIter, &s.liveForms);
    XSLIST_InitSystem(&s.timers, 1, compareTimers, compareTimers);
    XSLIST_InitIterator(&s.timerIter, &s.timers);
    XDRV_InitTask(arg);
    std::srand(0);
    s.formDb = nullptr;
    return 0;
}

int32_t SHUTDOWN_TASK(void) { return XDRV_ShutdownTask(); }

int32_t XWM_Init(void) {
    auto& s = veld::xwm::state();
    if (XDRV_CreateDisplay(&s.display) != 0) {
        VELDD_LOG(kError, "[xErr] disp init error\n");
        return -5;
    }
    std::atomic_ref<int32_t>(s.pendingTicks).store(0);
    s.running = 1;
    s.refresh = 1;
    return 0;
}

int32_t XWM_Destroy(void) {
    auto& s = veld::xwm::state();
    XDRV_DestroyDisplay(&s.display);
    std::memset(&s.display, 0, sizeof(s.display));
    s.refresh = 0;
    return 0;
}

void XWM_GetScreenResolution(uint16_t* width, uint16_t* height) {
    const auto& s = veld::xwm::state();
    if (width != nullptr) *width = s.display.width;
    if (height != nullptr) *height = s.display.height;
}

int32_t XWM_SetAppEventFilter(XWmEventFilter filter) {
    veld::xwm::state().appFilter = filter;
    return 0;
}

int32_t XWM_SetAppEventHandler(XWmEventHandler handler) {
    veld::xwm::state().appHandler = handler;
    return 0;
}

void XWM_Run(void) {
    using namespace veld::xwm;
    State& s = state();
    s.running = 1;
    if (std::atomic_ref<uint32_t>(s.clockRunning).load() == 0) startClock();
    while (s.running != 0) {
        // A failed receive leaves gXEvent as it was; dispatching it again would replay the
        // previous event, so nothing is dispatched.
        if (!fetch(&gXEvent)) {
            XDRV_Sleep(kReceiveRetryMs);
            continue;
        }
        dispatch(&gXEvent);
        if (s.refresh != 0) XWM_RefreshScreen(0);
    }
    if (std::atomic_ref<uint32_t>(s.clockRunning).load() != 0) stopClock();
}

uint32_t XWM_FetchEvent(XEvent* event, uint32_t /*ignored*/) {
    veld::xwm::fetch(event);
    return event->type;
}

int32_t XWM_PushEvent(uint32_t type, uint32_t /*wait*/) {
    XEvent event{};
    event.type = type;
    return veld::xwm::push(event);
}

int32_t XWM_PushKeyEvent(uint16_t code, uint32_t /*wait*/) {
    XEvent event{};
    event.type = XEVENT_KEY;
    event.key.code = code;
    return veld::xwm::push(event);
}

int32_t XWM_PushKeyEventEx(uint16_t code, const uint32_t* words, int32_t count,
                           uint32_t /*wait*/) {
    XEvent event{};
    event.type = XEVENT_KEY;
    event.key.code = code;
    if (words != nullptr && count > 0) {
        const auto n = std::min<size_t>(static_cast<size_t>(count), std::size(event.key.extra));
        std::memcpy(event.key.extra, words, n * sizeof(uint32_t));
    }
    return veld::xwm::push(event);
}

int32_t XWM_PushAnyEvent(const XEvent* event, uint32_t /*wait*/) {
    if (event == nullptr) return -5;
    return veld::xwm::push(*event);
}

void XWM_ExecAppAnyEvent(const XEvent* event) {
    if (event == nullptr) return;
    XEvent copy = *event;
    veld::xwm::dispatch(&copy);
}

void XWM_ExecAppKeyEvent(uint16_t code) {
    XEvent event{};
    event.type = XEVENT_KEY;
    event.key.code = code;
    veld::xwm::dispatch(&event);
}

int32_t XWM_RequestEventHandle(XEvent* event, uint32_t /*arg*/) {
    const auto handler = veld::xwm::state().appHandler;
    return handler != nullptr ? handler(event, 0) : 0;
}

int32_t XWM_RefreshScreen(uint32_t full) {
    using namespace veld::xwm;
    State& s = state();
    int pushed = 0;
    // Render functions are the application's code; the walk finds its way by creation
    // number so that a form destroyed while rendering does not derail it.
    for (XWindow* form = nextLiveForm(true, 0); form != nullptr;) {
        const uint32_t sequence = form->sequence;
        if (full != 0)
            XWIN_RenderList(form);
        else
            XWIN_UpdateList(form);
        if (isLive(form) && (form->state & kStateScreenDirty) != 0) {
            XDRV_UpdateFrameBuffer(&s.display, form, form->position.x, form->position.y);
            form->state &= static_cast<uint8_t>(~kStateScreenDirty);
            ++pushed;
        }
        form = nextLiveForm(false, sequence);
    }
    if (pushed > 0) {
        VELDD_LOG(kDebug, "[xDbg] update count = %d\n", pushed);
        XDRV_UpdateScreen(&s.display);
    }
    return 0;
}

int32_t XWM_DestroyAllObjects(void) {
    auto& s = veld::xwm::state();
    while (auto* form = static_cast<XWindow*>(s.liveForms.head)) {
        // A listed record that no longer counts as created cannot be destroyed; it must still
        // leave the list, or this loop would never end.
        if (XWIN_Destroy(form, 0) != 0) XSLIST_FetchObject(&s.liveForms, form);
    }
    return 0;
}

int32_t XWM_DelAllLiveFormList(void) {
    auto& s = veld::xwm::state();
    while (XSLIST_FetchNthObject(&s.liveForms, 0) != nullptr) {
    }
    // Every timer aimed at a window goes, however many there are: the forms are no longer
    // live, and a timer left running would deliver into them.
    for (auto* timer = static_cast<XTimer*>(s.timers.head); timer != nullptr;
         timer = timer->next) {
        if (timer->window == nullptr) continue;
        timer->active = 0;
        VELDD_LOG(kDebug, "[xDbg] FORM TIMER %08X DESTROY OK\n", timer->id);
    }
    return 0;
}

}  // extern "C"
