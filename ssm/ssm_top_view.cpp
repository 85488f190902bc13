// The top view: a text app whose page comes from the reader thread "topmon", which runs
// "top" (or "iotop") once a second, keeps the first 30 lines and hands the page to the monitor
// task through the window manager's queue as a 16384 key event carrying the string.
//
// Ownership: a page belongs to the reader thread until it is queued, then to the list of pages
// in flight until the monitor task takes it out and frees it. Pages still in flight when the
// view stops are freed by the stop; a late event that names a page no longer listed is
// ignored, so a page is never freed twice nor used after its release.
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "ssm_app.h"
#include "ssm_viewers.h"
#include "veldd_log.h"
#include "widgets/xtext_wgt.h"
#include "xwm.h"

using namespace veld::loglevel;

namespace veld::ssm {
namespace {

constexpr uint32_t kPageBytes = 4096;     // the empty page the view opens with
constexpr uint32_t kTopPageBytes = 8196;  // a page of the reader thread
constexpr int kMaxLines = 30;
constexpr size_t kLineBytes = 160;
constexpr uint32_t kStepMs = 200;
constexpr int kStepsPerPass = 5;
constexpr uint32_t kStackBytes = 0x80000;
constexpr uint32_t kWords = sizeof(XString) / sizeof(uint32_t);
static_assert(sizeof(XString) <= sizeof(XKeyData::extra), "a page travels in the key's extra words");

std::mutex gInFlightMutex;
std::vector<XString> gInFlight;

void track(const XString& page) {
    std::lock_guard lock(gInFlightMutex);
    gInFlight.push_back(page);
}

// Takes the page out of the list; false when it is not (or no longer) listed.
bool untrack(const char* data, XString& page) {
    std::lock_guard lock(gInFlightMutex);
    for (auto it = gInFlight.begin(); it != gInFlight.end(); ++it) {
        if (it->data != data) continue;
        page = *it;
        gInFlight.erase(it);
        return true;
    }
    return false;
}

void freeInFlight() {
    std::lock_guard lock(gInFlightMutex);
    for (const XString& page : gInFlight) XUTIL_FreeString(page);
    gInFlight.clear();
}

// The command's error output joins its page: a missing command or one that needs other rights
// says so on the view instead of leaving it empty.
const char* commandFor(const char* label) {
    if (std::strcmp(label, "linux/cpu top") == 0) return "top -n 1 -b 2>&1";
    if (std::strcmp(label, "linux/io top") == 0) return "iotop -n 1 -b -o 2>&1";
    return nullptr;
}

// One run of the command: its first 30 lines queued for the view.
void readOnce(const char* command) {
    FILE* pipe = popen(command, "r");
    if (!pipe) return;
    Page page(kTopPageBytes);
    char line[kLineBytes];
    for (int n = 0; n < kMaxLines && std::fgets(line, sizeof line, pipe); ++n) page.append(line);
    // Closing early is fine: the command ends on its next write to the closed pipe.
    pclose(pipe);
    const XString text = page.release();
    if (!text.data) return;
    track(text);
    uint32_t words[kWords] = {};
    std::memcpy(words, &text, sizeof text);
    if (XWM_PushKeyEventEx(static_cast<uint16_t>(SSM_EVENT_SAMPLE), words, kWords, 1) != 0) {
        XString unsent{};
        if (untrack(text.data, unsent)) XUTIL_FreeString(unsent);
    }
}

int32_t emptyPage(XString* page, XWindow*) {
    *page = XUTIL_AllocString(kPageBytes);
    return 0;
}

int32_t topKeyHook(XWindow* form, XKeyData* key, uint32_t /*arg*/) {
    TextAppContext* app = textAppContext(form);
    switch (key->code) {
        case SSM_EVENT_SAMPLE: {
            XString sent{};
            std::memcpy(&sent, key->extra, sizeof sent);
            XString page{};
            if (untrack(sent.data, page)) {  // the listed length, not the event's, is trusted
                XTextWgt_UpdateText(reinterpret_cast<XTextWgt*>(textAppWidget(form)), page.length, page.data, 1);
                XUTIL_FreeString(page);
                XWIN_Invalidate(form);
            }
            return 0;
        }
        case SSM_KEY_SELECT:
        case XMSG_TIME_TICK:
            return 0;  // the reader thread brings the pages
        case XMSG_DESTROY:
            if (app) {
                app->running.store(0);
                if (app->thread) XUTIL_JoinThread(app->thread);
                app->thread = 0;
            }
            freeInFlight();
            return XWIN_NOT_HANDLED;
        default:
            return XWIN_NOT_HANDLED;
    }
}

}  // namespace
}  // namespace veld::ssm

using namespace veld::ssm;

extern "C" {

void* SSM_APP_TopViewDataThread(void* argument) {
    // The context is attached before this thread starts and released only after it is joined.
    TextAppContext* app = textAppContext(static_cast<XWindow*>(argument));
    if (!app) return nullptr;
    const char* command = commandFor(app->label);
    if (!command) {
        VELDD_LOG(kError, "[xErr] unknown top app (%s)\n", app->label);
        return nullptr;
    }
    while (app->running.load()) {
        readOnce(command);
        for (int step = 0; step < kStepsPerPass && app->running.load(); ++step) XUTIL_Sleep(kStepMs);
    }
    return nullptr;
}

int32_t SSM_APP_TopViewAction(uint32_t mode, const void* label) {
    const int32_t result = SSM_APP_SimpleTextInfoAction(
        mode, emptyPage, topKeyHook, 800, 0, SSM_TEXT_FLAG_SCROLLBAR | SSM_TEXT_FLAG_FOOTER | SSM_TEXT_FLAG_TICK,
        label);
    if (mode != 0 || result != 0) return result;
    XWindow* form = XDB_GetForm(SSM_FORM_APP);
    TextAppContext* app = textAppContext(form);
    if (!app) return -5;
    app->running.store(1);
    app->thread = XUTIL_CreateThread("topmon", kStackBytes, SSM_APP_TopViewDataThread, form);
    if (!app->thread) app->running.store(0);  // the view stays, without pages
    return 0;
}

}  // extern "C"
