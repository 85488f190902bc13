// The window manager: the single event loop of the window system (fetch, filter, dispatch,
// refresh), the clock and the timer list, the focus and its chain of earlier focus windows,
// and the list of live forms. Other threads only push events; everything else runs in the
// monitor's task.
//
// Ownership: timers are allocated and freed by the window manager; forms stay their creators'.
#pragma once

#include <cstddef>
#include <cstdint>

#include "xdrv.h"
#include "xevent.h"
#include "xlist.h"
#include "xwindow.h"

extern "C" {

// Application event handler: (event, argument) where the argument is a timer id for timer
// events, else 0.
typedef int32_t (*XWmEventHandler)(XEvent* event, uint32_t arg);
// Application event filter: (event, 0); non-zero swallows the event.
typedef int32_t (*XWmEventFilter)(XEvent* event, uint32_t arg);
// Timer callback: (target window, timer id); called instead of a message.
typedef int32_t (*XTimerCallback)(XWindow* window, uint32_t id);

// Timer record, allocated zeroed by the window manager and owned by its timer list.
struct XTimer {
    XTimer* next;  // timer list links
    XTimer* prev;
    uint32_t active;    // 1 while running; 0 marks it for reclaiming
    uint32_t flags;     // kTimer* bits
    uint32_t id;        // the list's sort and search key
    uint32_t deadline;  // millisecond tick at which it is due
    uint32_t period;    // interval in milliseconds
    XWindow* window;    // target, may be null
    XTimerCallback callback;  // may be null
};
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(XTimer) == 36 && offsetof(XTimer, active) == 8 &&
              offsetof(XTimer, window) == 28 && offsetof(XTimer, callback) == 32);
#else
static_assert(sizeof(XTimer) == 56 && offsetof(XTimer, active) == 16 &&
              offsetof(XTimer, window) == 40 && offsetof(XTimer, callback) == 48);
#endif

// The event being dispatched by the loop.
extern XEvent gXEvent;

// ---- Task and display ---------------------------------------------------------------------
// Clears the window manager's state, initialises the display driver's task (argument passed
// on), seeds rand() with 0 and forgets the form database. 0.
int32_t INITIALIZE_TASK(uint32_t arg);
int32_t SHUTDOWN_TASK(void);
// Creates the display. 0, or -5 when the display cannot be made.
int32_t XWM_Init(void);
int32_t XWM_Destroy(void);
void XWM_GetScreenResolution(uint16_t* width, uint16_t* height);
int32_t XWM_SetAppEventFilter(XWmEventFilter filter);
int32_t XWM_SetAppEventHandler(XWmEventHandler handler);

// ---- The loop -------------------------------------------------------------------------------
// Runs until an XEVENT_QUIT has been dispatched; the clock runs meanwhile.
void XWM_Run(void);
// Blocks for the next event, applies the filter and the restart-on-key timers; returns the
// event's type. The second argument is ignored.
uint32_t XWM_FetchEvent(XEvent* event, uint32_t ignored);

// Pushes go through the event queue and never block (the wait argument has no effect): 0, or
// -5 when the queue is full. Safe from any thread.
int32_t XWM_PushEvent(uint32_t type, uint32_t wait);
int32_t XWM_PushKeyEvent(uint16_t code, uint32_t wait);
// Also copies `count` words (at most 4) into the key's extra field.
int32_t XWM_PushKeyEventEx(uint16_t code, const uint32_t* words, int32_t count, uint32_t wait);
// Queues a copy of the caller's event; a null event is ignored (-5).
int32_t XWM_PushAnyEvent(const XEvent* event, uint32_t wait);

// Dispatch at once, in the caller's thread (the window manager's task), as the loop would.
// The caller's record is not changed.
void XWM_ExecAppAnyEvent(const XEvent* event);
void XWM_ExecAppKeyEvent(uint16_t code);
// The application handler with (event, 0) when one is set; its result, else 0.
int32_t XWM_RequestEventHandle(XEvent* event, uint32_t arg);

// Redraws the live forms (all of them when full is set, else only what is invalid) and pushes
// the rendered ones to the screen. 0.
int32_t XWM_RefreshScreen(uint32_t full);

// ---- Focus --------------------------------------------------------------------------------
// Gives the focus to a form (or to nobody) and returns the previous focus; a control is
// refused with null and leaves the focus alone.
XWindow* XWM_SetFocus(XWindow* form);
XWindow* XWM_GetFocus(void);
XWindow* XWM_GetActiveObject(void);
// Moves the focus `depth` steps back along the chain of earlier focus windows, destroying the
// windows left behind when destroy is set.
void XWM_ExitCtrlDepth(uint32_t depth, uint32_t destroy);

// ---- Live forms ------------------------------------------------------------------------------
int32_t XWM_DestroyAllObjects(void);
// Empties the live form list without destroying the forms and stops every timer that has a
// target window. 0.
int32_t XWM_DelAllLiveFormList(void);

// ---- Clock and timers -----------------------------------------------------------------------
int32_t XWM_RequestClockStart(void);
int32_t XWM_RequestClockStop(void);
// Called by the system time tick thread every 200 ms.
void XM_TICK_CALLBACK(void);
// Starts (or restarts, when the id exists) a timer. 0, or -5 when out of memory.
int32_t XWM_RequestTimerStart(uint32_t id, uint32_t periodMs, uint32_t flags, XWindow* window,
                              XTimerCallback callback);
// Marks the timer inactive; it is freed on the next clock tick. 0, or -5 when there is none.
int32_t XWM_RequestTimerStop(uint32_t id);

}  // extern "C"

namespace veld::xwm {

// Timer flag bits.
inline constexpr uint32_t kTimerRestartOnKey = 0x01;
inline constexpr uint32_t kTimerOneShot = 0x04;
inline constexpr uint32_t kTimerPeriodic = 0x08;

inline constexpr uint32_t kTickPeriodMs = 200;
inline constexpr int32_t kClockReload = 5;  // XMSG_CLOCK every fifth tick: once a second
inline constexpr size_t kReclaimSlots = 16;

// The window manager's state: one instance, cleared whole by INITIALIZE_TASK.
struct State {
    uint32_t running;
    uint32_t refresh;
    XDisplay display;
    XWmEventHandler appHandler;
    XWmEventFilter appFilter;
    XSList liveForms;  // sorted by creation sequence number
    XSListIter liveIter;
    XWindow* focus;
    uint32_t nextSequence;
    uint32_t clockRunning;   // also read by the tick thread
    int32_t clockReload;
    int32_t clockCountdown;
    int32_t pendingTicks;    // also written by the tick thread; informational
    XSList timers;           // sorted by timer id
    XSListIter timerIter;
    XWindow* formDb;
    XTimer* reclaim[kReclaimSlots];
};

State& state();

// The live form that follows the one with creation number `sequence` (the first live form
// when `first`). Walks that call out to windows use it, so that a form destroyed by a key or
// render function never leaves the walk holding a stale link.
XWindow* nextLiveForm(bool first, uint32_t sequence);

// Marks inactive every active timer aimed at `window` (pointer identity), and for a form also
// those aimed at a window with the form's timer id. Used when windows go away.
void stopTimersOf(XWindow* window);

// Whether a form is in the live list (pointer identity).
bool isLive(XWindow* form);

// Hands the focus straight to `form` (or nobody) without recording a previous focus: the form
// keeps its own chain. It gets XMSG_FOCUS_IN and is invalidated.
void restoreFocus(XWindow* form);

// Every live form whose previous focus is `gone` takes `gone`'s own previous focus instead, so
// the chain of earlier focus windows never leads to a destroyed form.
void unlinkFromFocusChain(XWindow* gone);

// The application handler with (event, arg), when one is set.
void callApp(XEvent* event, uint32_t arg);

// Clock on / off: reload and countdown, the flag the tick thread reads, the tick thread.
void startClock();
void stopClock();

// The millisecond clock that timers run on: XDRV_GetTick unless another source is set (tests
// drive timers with a clock of their own). Null restores XDRV_GetTick.
using TickSource = uint32_t (*)();
void setTickSource(TickSource source);

// The clock and timer step of one XEVENT_CLOCK_TICK (xwm_timer.cpp).
void clockTick(XEvent* event);
// Restart-on-key timers: deadline = now + period (xwm_timer.cpp).
void restartKeyTimers();
// Frees every timer still listed (INITIALIZE_TASK before clearing the state).
void freeAllTimers();

}  // namespace veld::xwm
