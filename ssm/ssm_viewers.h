// The monitor's info viewers: the generic text app that runs every text page in the shared app
// form (a scrolling text view rebuilt from a builder on OK and once a second), the builders of
// the seven viewers, and the top view with its reader thread. The page builders are also
// reachable by label, without a window, for tests and benchmarks.
//
// Ownership: a builder allocates the page it returns (XUTIL_AllocString); the caller frees it
// with XUTIL_FreeString. The text app's context belongs to form 4097 and is released when the
// form is destroyed, together with the widget and, for the top view, every page in flight.
#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>

#include "veldcore.h"

#include "xevent.h"
#include "xstring.h"
#include "xwindow.h"

extern "C" {

// Fills *page with a freshly allocated text built for the app of `form`.
typedef int32_t (*SSM_TEXT_BUILDER)(XString* page, XWindow* form);
// App-specific key handling tried before the text app's own: 0 ends the handling.
typedef int32_t (*SSM_TEXT_KEYHOOK)(XWindow* form, XKeyData* key, uint32_t arg);

// Flag bits of the text app.
constexpr uint32_t SSM_TEXT_FLAG_SCROLLBAR = 0x1;  // text view options 3 instead of 1
constexpr uint32_t SSM_TEXT_FLAG_FOOTER = 0x2;     // 30 pixels for the footer line
constexpr uint32_t SSM_TEXT_FLAG_TICK = 0x4;       // rebuild every 1000 ms

// Mode 0 opens form 4097 with the page of `builder` (a width of 0 is the app window width, a
// height of 0 is 460), mode 1 destroys the form; other modes do nothing. `label` is the quick
// menu's label text (may be null) and is copied. 0, or -5 when the window can't be made.
int32_t SSM_APP_SimpleTextInfoAction(uint32_t mode, SSM_TEXT_BUILDER builder,
                                     SSM_TEXT_KEYHOOK keyHook, uint16_t width, uint16_t height,
                                     uint32_t flags, const void* label);

// The builders of the viewers.
int32_t SSM_APP_AnalyzeLogmFile(XString* page, XWindow* form);
int32_t SSM_APP_ReadBSPMemMapStatus(XString* page, XWindow* form);
int32_t SSM_APP_FileViewDataHandler(XString* page, XWindow* form);
int32_t SSM_APP_HMAFullInfoDataHandler(XString* page, XWindow* form);
int32_t SSM_APP_GetBriefHMAInfo(XString* page, XWindow* form);

// Body of the top view's reader thread "topmon"; the argument is the app form.
void* SSM_APP_TopViewDataThread(void* form);

}  // extern "C"

namespace veld::ssm {

// App window width: 800 on 1280- and 1366-pixel-wide screens, else 960.
uint16_t appWindowWidth();

// What a running text app keeps (the form's data while it runs).
struct TextAppContext {
    char label[32];  // the argument, cut to 31 bytes and terminated
    SSM_TEXT_BUILDER builder;
    SSM_TEXT_KEYHOOK keyHook;
    uint32_t flags;  // SSM_TEXT_FLAG_*
    std::atomic<uint32_t> running;  // top view: its reader thread runs while 1
    VELD_THREAD thread;             // top view: the reader thread
};

// The context of the text app in `form`, null when none runs there.
TextAppContext* textAppContext(XWindow* form);

// The label the text app of `form` was started with ("" without one).
const char* textAppLabel(XWindow* form);

// The text view of the app form, null when no text app runs.
XWindow* textAppWidget(XWindow* form);

// Pages by label (the caller frees them).
XString logErrorCountsPage();
XString boardMemoryMapPage();
XString rawBusMonitorPage();
XString fileViewPage(std::string_view label);
XString poolPage(std::string_view label);
XString allPoolsPage();

// A page being built: pieces are appended whole while they fit the capacity; after the first
// piece that doesn't, nothing more is added, so a page is never missing a line in its middle.
class Page {
public:
    explicit Page(uint32_t capacity);
    ~Page();
    Page(const Page&) = delete;
    Page& operator=(const Page&) = delete;

    void append(std::string_view piece);
    void appendf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Hands the text over; the page is empty afterwards.
    XString release();
    std::string_view view() const { return {text_.data ? text_.data : "", text_.length}; }

private:
    XString text_;
    uint32_t capacity_;
    bool full_ = false;
};

}  // namespace veld::ssm
