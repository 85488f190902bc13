// The window manager's clock and timers: the 200 ms system tick that becomes XEVENT_CLOCK_TICK
// events, the once-a-second XMSG_CLOCK, and the timer list checked on every tick (one-shot,
// periodic, restart-on-key, window-less ids 0 and 1, reclaiming of stopped timers).
//
// Timers are only ever unlinked by the sweep at the end of the outermost tick, so a callback
// may start and stop timers (even its own) and the walk never holds a freed node.
#include <algorithm>
#include <atomic>

#include "veldd_log.h"
#include "xdrv.h"
#include "xstring.h"
#include "xwindow.h"
#include "xwm.h"

using namespace veld::loglevel;
using veld::xwin::isForm;
using veld::xwin::kStateWantsClock;

namespace veld::xwm {
namespace {

// Nesting of clockTick: a callback may dispatch a tick of its own (XWM_ExecAppAnyEvent), and
// only the outermost tick may unlink and free timers.
int gTickDepth = 0;

TickSource gTickSource = nullptr;

uint32_t now() { return gTickSource != nullptr ? gTickSource() : XDRV_GetTick(); }

XTimer* findTimer(uint32_t id) {
    XTimer probe{};
    probe.id = id;
    return static_cast<XTimer*>(XSLIST_GetObject(&state().timers, &probe));
}

// The tick's millisecond counter wraps after 49 days; deadlines are compared by signed
// difference so that a timer keeps firing across the wrap.
bool isDue(const XTimer& timer, uint32_t tick) {
    return static_cast<int32_t>(timer.deadline - tick) < 0;
}

uint16_t windowlessCode(uint32_t id) {
    if (id == 0) return XMSG_TIMER0;
    if (id == 1) return XMSG_TIME_TICK;
    return XMSG_TIMER;
}

void deliver(XTimer& timer, XEvent* event) {
    State& s = state();
    const uint32_t id = timer.id;
    if (timer.callback != nullptr) {
        timer.callback(timer.window, id);
    } else if (XWindow* window = timer.window; window != nullptr) {
        const uint16_t code =
            isForm(window) && window->timerId == id ? XMSG_TIME_TICK : XMSG_TIMER;
        XWIN_ExecSimpleKeyFn(window, code, id);
    } else {
        event->key.code = windowlessCode(id);
        // With no focus window the expiry goes nowhere.
        if (s.focus != nullptr && XWIN_ExecKeyFn(s.focus, &event->key, id) != 0)
            callApp(event, id);
    }
}

void sendClock(XEvent* event) {
    State& s = state();
    event->key.code = XMSG_CLOCK;
    for (XWindow* form = nextLiveForm(true, 0); form != nullptr;) {
        const uint32_t sequence = form->sequence;
        if ((form->state & kStateWantsClock) != 0) XWIN_ExecSimpleKeyFn(form, XMSG_CLOCK, 0);
        form = nextLiveForm(false, sequence);
    }
    callApp(event, 0);
    s.clockCountdown = s.clockReload;
}

// Unlinks and frees every inactive timer. The reclaim table holds 16 at a time, so the list
// is swept again until a pass finds fewer than that: however many timers stopped in one tick,
// none is left behind. A timer is judged here, not when it stopped, so one that was stopped
// and started again within the tick stays.
void sweep() {
    State& s = state();
    for (;;) {
        size_t count = 0;
        for (auto* timer = static_cast<XTimer*>(s.timers.head);
             timer != nullptr && count < kReclaimSlots; timer = timer->next) {
            if (timer->active == 0) s.reclaim[count++] = timer;
        }
        for (size_t i = 0; i < count; ++i) {
            XSLIST_FetchObject(&s.timers, s.reclaim[i]);
            XMEM_FreeSafe(reinterpret_cast<void**>(&s.reclaim[i]));
        }
        if (count < kReclaimSlots) break;
    }
}

}  // namespace

void setTickSource(TickSource source) { gTickSource = source; }

void startClock() {
    State& s = state();
    s.clockReload = kClockReload;
    s.clockCountdown = kClockReload;
    std::atomic_ref<uint32_t>(s.clockRunning).store(1);
    XDRV_StartSystemTimeTick(kTickPeriodMs);
}

void stopClock() {
    State& s = state();
    std::atomic_ref<uint32_t>(s.clockRunning).store(0);
    s.clockReload = -1;
    s.clockCountdown = -1;
    XDRV_StopSystemTimeTick();
}

void clockTick(XEvent* event) {
    State& s = state();
    ++gTickDepth;
    const uint32_t tick = now();
    event->type = XEVENT_KEY;
    std::fill(std::begin(s.reclaim), std::end(s.reclaim), nullptr);

    if (--s.clockCountdown == 0) sendClock(event);

    // Nodes stay linked during the walk (only the sweep unlinks), and a timer started by a
    // callback is linked in id order, so reading `next` after the delivery is safe.
    for (auto* timer = static_cast<XTimer*>(s.timers.head); timer != nullptr;
         timer = timer->next) {
        if (timer->active == 0 || !isDue(*timer, tick)) continue;
        if ((timer->flags & kTimerOneShot) != 0) timer->active = 0;
        deliver(*timer, event);
        if (timer->active != 0 && (timer->flags & kTimerPeriodic) != 0)
            timer->deadline = timer->period + tick;
    }

    if (gTickDepth == 1) sweep();
    --gTickDepth;
    std::atomic_ref<int32_t>(s.pendingTicks).fetch_sub(1);
}

void restartKeyTimers() {
    const uint32_t tick = now();
    for (auto* timer = static_cast<XTimer*>(state().timers.head); timer != nullptr;
         timer = timer->next) {
        if ((timer->flags & kTimerRestartOnKey) != 0) timer->deadline = tick + timer->period;
    }
}

void freeAllTimers() {
    while (void* timer = XSLIST_FetchNthObject(&state().timers, 0)) XMEM_FreeSafe(&timer);
}

void stopTimersOf(XWindow* window) {
    // Matched by the target pointer only: a timer's target may be a control whose record its
    // owner has already released, so no target record is read here.
    for (auto* timer = static_cast<XTimer*>(state().timers.head); timer != nullptr;
         timer = timer->next) {
        if (timer->window == window) timer->active = 0;
    }
}

}  // namespace veld::xwm

extern "C" {

int32_t XWM_RequestClockStart(void) {
    if (std::atomic_ref<uint32_t>(veld::xwm::state().clockRunning).load() != 0) return -5;
    veld::xwm::startClock();
    return 0;
}

int32_t XWM_RequestClockStop(void) {
    if (std::atomic_ref<uint32_t>(veld::xwm::state().clockRunning).load() == 0) return -5;
    veld::xwm::stopClock();
    return 0;
}

void XM_TICK_CALLBACK(void) {
    auto& s = veld::xwm::state();
    if (std::atomic_ref<uint32_t>(s.clockRunning).load() == 0) return;
    std::atomic_ref<int32_t> pending(s.pendingTicks);
    if (pending.load() < 0) pending.store(0);
    XWM_PushEvent(XEVENT_CLOCK_TICK, 0);
    pending.fetch_add(1);
}

int32_t XWM_RequestTimerStart(uint32_t id, uint32_t periodMs, uint32_t flags, XWindow* window,
                              XTimerCallback callback) {
    using namespace veld::xwm;
    const uint32_t tick = now();
    XTimer* timer = findTimer(id);
    const bool fresh = timer == nullptr;
    if (fresh) {
        timer = static_cast<XTimer*>(XMEM_Alloc(sizeof(XTimer)));
        if (timer == nullptr) {
            VELDD_LOG(kError, "[xErr] out of memory\n");
            return -5;
        }
        timer->id = id;
    }
    timer->active = 1;
    timer->period = periodMs;
    timer->flags = flags;
    timer->window = window;
    timer->callback = callback;
    timer->deadline = tick + periodMs;
    if (fresh && XSLIST_InsertObject(&state().timers, timer) != 0) {
        XMEM_FreeSafe(reinterpret_cast<void**>(&timer));
        return -5;
    }
    return 0;
}

int32_t XWM_RequestTimerStop(uint32_t id) {
    XTimer* timer = veld::xwm::findTimer(id);
    if (timer == nullptr) return -5;
    timer->active = 0;
    return 0;
}

}  // extern "C"
