// The panels: four borderless 320-pixel read-outs (CPU per core, memory, DDR bus load, frame
// rates) that rebuild their text from the collectors once a second, and the log panel, which
// draws nothing but writes one level-9 line a second with the CPU and bus load.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "ssm_app.h"
#include "ssm_sys.h"
#include "veldd_log.h"
#include "xwm.h"

using namespace veld::loglevel;

namespace veld::ssm {
namespace {

constexpr uint16_t kPanelWidth = 320;
constexpr uint32_t kPanelOptions = 0x800100;
constexpr uint32_t kLineLimit = 64;  // every panel line is formatted within 64 bytes
constexpr uint32_t kLogTimerId = 0x50434e30;
constexpr uint32_t kModePrepare = 0, kModeRelease = 1, kModeRefresh = 2;

using UpdateFn = int32_t (*)(XWindow* form, uint32_t mode);

struct PanelContext {
    uint32_t formId;
    uint32_t style;  // bit 0: wrapped multi-line text
    UpdateFn update;
    XString text;
    uint32_t capacity;
    void* data;
};

struct LogCopy {
    float cpu;
    float ddr[3];
};

LogCopy gLogCopy{};
VELD_HANDLE gLogMutex = 0;  // exists once the log panel has been enabled

PanelContext* contextOf(XWindow* form) { return static_cast<PanelContext*>(formData(form)); }

// Appends one formatted line (at most 64 bytes) when it fits the panel's text.
__attribute__((format(printf, 2, 3))) void appendLine(PanelContext* p, const char* format, ...) {
    char line[kLineLimit];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n <= 0 || !p->text.data) return;
    const uint32_t length = std::min<uint32_t>(static_cast<uint32_t>(n), sizeof line - 1);
    if (p->text.length + length > p->capacity) return;
    std::memcpy(p->text.data + p->text.length, line, length);
    p->text.length += length;
    p->text.data[p->text.length] = '\0';
}

// The common part of every update: prepare allocates the text and the sample buffer, release
// frees them, refresh empties the text for the rebuild. True when the caller should rebuild.
bool commonUpdate(XWindow* form, uint32_t mode, uint32_t capacity, size_t dataBytes) {
    PanelContext* p = contextOf(form);
    if (!p) return false;
    switch (mode) {
        case kModePrepare:
            p->capacity = capacity;
            p->text = XUTIL_AllocString(capacity);
            p->data = XMEM_Alloc(dataBytes);
            return false;
        case kModeRelease:
            XUTIL_FreeString(p->text);
            p->text = XString{};
            XMEM_FreeSafe(&p->data);
            return false;
        case kModeRefresh:
            if (!p->text.data || !p->data) return false;
            p->text.length = 0;
            p->text.data[0] = '\0';
            return true;
        default:
            return false;
    }
}

template <typename T>
T* samples(XWindow* form) {
    return static_cast<T*>(contextOf(form)->data);
}

void storeLogCopy(auto&& write) {
    if (!gLogMutex) return;
    XUTIL_LockMutex(gLogMutex);
    write(gLogCopy);
    XUTIL_UnlockMutex(gLogMutex);
}

double percentOf(uint64_t part, uint64_t total) {
    return std::clamp(static_cast<double>(part) * 100.0 / static_cast<double>(total), 0.0, 100.0);
}

int32_t cpuUpdate(XWindow* form, uint32_t mode) {
    if (!commonUpdate(form, mode, 256, sizeof(SSM_CPU_DATA))) return 0;
    PanelContext* p = contextOf(form);
    SSM_CPU_DATA* block = samples<SSM_CPU_DATA>(form);
    SSM_SYS_GetCPUData(block);
    appendLine(p, "cpu   %5s   %5s  %5s  %5s\n", "%ratio", "%user", "%sys", "%idle\n");
    uint64_t allBusy = 0;
    for (int i = 0; i < SSM_CPU_RECORDS; ++i) {
        const SSM_CPU_RECORD& d = block->delta[i];
        if (d.total == 0) {
            appendLine(p, "---- ( --.-)  %6s %6s %6s\n", "--.--", "--.--", "--.--");
            continue;
        }
        const uint64_t busy = d.total >= d.idle ? d.total - d.idle : 0;
        if (i == 0) {
            appendLine(p, "%-14s", "ALL");
            allBusy = busy;
        } else {
            const uint64_t mine = busy > allBusy ? 0 : busy;
            const double share = allBusy < 1 ? 0.0 : static_cast<double>(mine) * 100.0 / static_cast<double>(allBusy);
            appendLine(p, "cpu%d ", i - 1);
            appendLine(p, "(%5.1f)  ", share);
        }
        const double user = percentOf(d.user, d.total), sys = percentOf(d.system, d.total),
                     idle = percentOf(d.idle, d.total);
        VELDD_LOG(kDebug, "[xDbg] ratio: user %8ud, sys %8ud, idle %8ud / total %8llu\n", d.user,
                  d.system, d.idle, static_cast<unsigned long long>(d.total));
        appendLine(p, "%6.2f %6.2f %6.2f\n", user, sys, idle);
        if (i == 0) storeLogCopy([&](LogCopy& c) { c.cpu = static_cast<float>(user + sys); });
    }
    return 0;
}

int32_t memUpdate(XWindow* form, uint32_t mode) {
    if (!commonUpdate(form, mode, 512, SSM_MEM_WORDS * sizeof(int32_t))) return 0;
    PanelContext* p = contextOf(form);
    int32_t* m = samples<int32_t>(form);
    SSM_SYS_GetMemoryData(m);
    const auto mb = [&](int word) { return m[word] * 0.0009765625; };
    appendLine(p, "mem_total: %6.1f MB (L:%4.0f H:%4.0f)\n", mb(0), mb(3), mb(5));
    appendLine(p, "mem_free:  %6.1f MB (L:%4.0f H:%4.0f)\n", mb(1), mb(4), mb(6));
    appendLine(p, "mem_avail: %6.1f MB\n", mb(2));
    appendLine(p, " \n");
    appendLine(p, "swap_total:%6.1f MB\n", mb(7));
    appendLine(p, "swap_free: %6.1f MB\n", mb(8));
    appendLine(p, " \n");
    appendLine(p, "cma_total: %6.1f MB\n", mb(9));
    appendLine(p, "cma_dev:   %6.1f MB\n", mb(11));
    appendLine(p, "cma_free:  %6.1f MB\n", mb(10));
    appendLine(p, " \n");
    appendLine(p, "cached:    %6.1f MB\n", mb(12));
    appendLine(p, "inactive:  %6.1f MB\n", mb(13));
    appendLine(p, "anonymous: %6.1f MB\n", mb(14));
    appendLine(p, "reclaim:   %6.1f MB\n", mb(15));
    return 0;
}

int32_t pmtUpdate(XWindow* form, uint32_t mode) {
    if (!commonUpdate(form, mode, 80, sizeof(SSM_PMT_DATA))) return 0;
    PanelContext* p = contextOf(form);
    SSM_PMT_DATA* pmt = samples<SSM_PMT_DATA>(form);
    SSM_SYS_GetPmtData(pmt);  // not valid yet: the previous (zero) figures stay
    VELDD_LOG(kDebug, "[xDbg] + BW data fetch\n");
    static constexpr const char* kNames[3] = {"BW(M0)", "BW(M1)", "BW(M2)"};
    for (int i = 0; i < 3; ++i)
        if (pmt->ratio[i] > 0) appendLine(p, "%s:%3.1f%% ", kNames[i], pmt->ratio[i]);
    storeLogCopy([&](LogCopy& c) { std::copy(pmt->ratio, pmt->ratio + 3, c.ddr); });
    return 0;
}

int32_t fpsUpdate(XWindow* form, uint32_t mode) {
    if (!commonUpdate(form, mode, 80, 4 * sizeof(uint32_t))) return 0;
    PanelContext* p = contextOf(form);
    uint32_t* fps = samples<uint32_t>(form);
    SSM_SYS_GetOSDFpsData(fps);
    for (int n = 0; n < 4; ++n)
        if (n == 0 || fps[n] != 0) appendLine(p, "FB%d:%3d.%dfps ", n, static_cast<int>(fps[n] / 10), static_cast<int>(fps[n] % 10));
    return 0;
}

// A panel is never stopped, but its form goes when the window manager ends (quit): its text,
// samples and context go with it.
void releasePanel(XWindow* form) {
    PanelContext* p = contextOf(form);
    if (!p) return;
    p->update(form, kModeRelease);
    setFormData(form, nullptr);
    XMEM_FreeSafe(reinterpret_cast<void**>(&p));
}

int32_t panelKey(XWindow* window, XKeyData* key, uint32_t /*arg*/) {
    switch (key->code) {
        case XMSG_TIME_TICK:
            if (PanelContext* p = contextOf(window)) p->update(window, kModeRefresh);
            XWIN_Invalidate(window);
            return 0;
        case XMSG_DESTROY:
            releasePanel(window);
            return 0;
        default:
            return XWIN_NOT_HANDLED;
    }
}

int32_t panelRender(XWindow* window) {
    PanelContext* p = contextOf(window);
    XSizeInfo font{};
    XGRP_GetFontInfo(&window->gc, &font);
    window->gc.textColor = 3;
    window->gc.fillColor = 1;
    const uint16_t w = window->position.width, h = window->position.height;
    XGRP_DrawRect(window, 0, 0, w, h);
    if (!p || !p->text.data) return 0;
    if (p->style & 1) {
        XGRP_DrawAutoMultilineText(window, &p->text, 10, static_cast<int16_t>(font.height + 10),
                                   static_cast<uint16_t>(w - 20), 255, 0, 0);
    } else {
        const XPosInfo box{10, 0, static_cast<uint16_t>(w - 20), h};
        XGRP_DrawTextBox(window, &p->text, &box, XGRP_ALIGN_LEFT, XGRP_OVERFLOW_CUT);
    }
    return 0;
}

int32_t createPanel(uint32_t formId, uint32_t style, UpdateFn update, uint16_t height) {
    XWindow* form = XDB_GetForm(formId);
    if (!form) return -5;
    releasePanel(form);  // a form created again starts from a fresh context
    const XPosInfo place{0, 0, kPanelWidth, height};
    if (XWIN_Create(form, 0, nullptr, 0, 0, kPanelOptions, panelKey, panelRender, &place) != 0) return -5;
    auto* p = static_cast<PanelContext*>(XMEM_Alloc(sizeof(PanelContext)));
    if (!p) return -5;
    p->formId = formId;
    p->style = style;
    p->update = update;
    setFormData(form, p);
    update(form, kModePrepare);
    XWIN_StartTimeTick(form, 1000);
    XWIN_Invalidate(form);
    return 0;
}

}  // namespace

int32_t LOGPanel_Timer(XWindow* /*window*/, uint32_t /*id*/) {
    LogCopy copy{};
    uint64_t ticks = XUTIL_GetNsTick();
    if (gLogMutex) {
        XUTIL_LockMutex(gLogMutex);
        ticks = XUTIL_GetNsTick();
        copy = gLogCopy;
        XUTIL_UnlockMutex(gLogMutex);
    }
    XString line = XUTIL_GetStaticString();
    size_t n = static_cast<size_t>(std::snprintf(line.data, veld::xutil::kScratchBytes, "CPU: %4.1f%%  BW: ", copy.cpu));
    for (float ddr : copy.ddr)
        if (ddr > 0 && n < veld::xutil::kScratchBytes)
            n += static_cast<size_t>(std::snprintf(line.data + n, veld::xutil::kScratchBytes - n, "%4.1f%% ", ddr));
    VELDD_LOG(kLoadLine, "[%5d.%06d] %s\n", static_cast<int>(ticks / 1000000000ull),
              static_cast<int>((ticks % 1000000000ull) / 1000), line.data);
    return 0;
}

void resetLogPanel() {
    if (gLogMutex) XUTIL_LockMutex(gLogMutex);
    gLogCopy = LogCopy{};
    if (gLogMutex) XUTIL_UnlockMutex(gLogMutex);
}

XString panelText(uint32_t formId) {
    XWindow* form = XDB_GetForm(formId);
    const PanelContext* p = form ? contextOf(form) : nullptr;
    return p ? p->text : XString{};
}

}  // namespace veld::ssm

using namespace veld::ssm;

extern "C" {

int32_t SSM_APP_CPUPanel(uint32_t mode, const void*) {
    return mode == 0 ? createPanel(SSM_FORM_CPU_PANEL, 3, cpuUpdate, 120) : 0;
}

int32_t SSM_APP_MEMPanel(uint32_t mode, const void*) {
    return mode == 0 ? createPanel(SSM_FORM_MEM_PANEL, 3, memUpdate, 255) : 0;
}

int32_t SSM_APP_FPSPanel(uint32_t mode, const void*) {
    return mode == 0 ? createPanel(SSM_FORM_FPS_PANEL, 2, fpsUpdate, 33) : 0;
}

int32_t SSM_APP_PMTPanel(uint32_t mode, const void*) {
    return mode == 0 ? createPanel(SSM_FORM_PMT_PANEL, 2, pmtUpdate, 33) : 0;
}

int32_t SSM_APP_LOGPanel(uint32_t mode) {
    if (mode == 0) {
        VELDD_LOG(kError, "[xErr] + log panel enabled\n");
        if (!gLogMutex) gLogMutex = XUTIL_CreateMutex("log-mtx");
        XWM_RequestTimerStart(kLogTimerId, 1000, 10, nullptr, LOGPanel_Timer);
        VELD_LOGM_BitMaskEnable(g_veldd_logm_fd, kLoadLine);
    } else if (mode == 1) {
        VELDD_LOG(kError, "[xErr] + log panel disabled\n");
        XWM_RequestTimerStop(kLogTimerId);
        VELD_LOGM_BitMaskDisable(g_veldd_logm_fd, kLoadLine);
    }
    return 0;
}

}  // extern "C"
