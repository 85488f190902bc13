// The DNN app: an always-on class window (form 4104) with the four picture-class counts that
// the display engine reports in "/proc/qv/de/dnn_value", refreshed once a second, and on
// demand a small CPU/GPU load read-out in the app form. The kernel command line decides which
// of the two windows open ("ssm.dnn_app.dnn_win", "ssm.dnn_app.cpu_win").
#include <algorithm>
#include <cstdio>
#include <iterator>
#include <cstring>

#include "ssm_app.h"
#include "ssm_charts.h"
#include "ssm_kernel_file.h"
#include "ssm_sys.h"
#include "ssm_viewers.h"
#include "veldd_log.h"
#include "widgets/xwgt_common.h"
#include "xwm.h"

using namespace veld::loglevel;

namespace veld::ssm {
namespace {

constexpr const char* kDnnValue = "/proc/qv/de/dnn_value";
constexpr uint32_t kFormOptions = 0x800100;
constexpr uint16_t kClassWidth = 150, kClassHeight = 128;
constexpr int16_t kRowHeight = 32;
constexpr uint32_t kRefreshMs = 1000;

// Counts in row order: the file's fourth number first.
struct DnnCounts {
    int32_t count[4];
};

constexpr const char* kClassNames[4] = {"4K Good", "4K Normal", "2K Normal", "2K Bad"};

int32_t classKey(XWindow* form, XKeyData* key, uint32_t arg);

DnnCounts* countsOf(XWindow* form) {
    return form && form->keyFn == classKey ? static_cast<DnnCounts*>(formData(form)) : nullptr;
}

void refreshCounts(XWindow* form, DnnCounts& counts) {
    counts = DnnCounts{};
    KernelFile file(kDnnValue);
    if (!file) {
        VELDD_LOG(kError, "[xErr] can't open %s\n", kDnnValue);
        return;
    }
    char line[160];
    int v[4] = {};
    if (file.readLine(line)) std::sscanf(line, " %d %d %d %d", &v[0], &v[1], &v[2], &v[3]);
    for (int i = 0; i < 4; ++i) counts.count[i] = v[3 - i] < 0 ? 0 : v[3 - i];
    XWIN_Invalidate(form);
}

int32_t classKey(XWindow* form, XKeyData* key, uint32_t /*arg*/) {
    DnnCounts* counts = countsOf(form);
    if (!counts || !key) return XWIN_NOT_HANDLED;
    switch (key->code) {
        case XMSG_TIME_TICK:
            refreshCounts(form, *counts);
            return 0;
        case XMSG_DESTROY: {
            setFormData(form, nullptr);
            void* block = counts;
            XMEM_FreeSafe(&block);
            return XWIN_NOT_HANDLED;
        }
        default:
            return XWIN_NOT_HANDLED;
    }
}

int32_t classRender(XWindow* form) {
    const DnnCounts* counts = countsOf(form);
    form->gc.textColor = 3;
    form->gc.fillColor = 1;
    form->gc.borderColor = 10;
    form->gc.mode = XGC_MODE_FILL;
    XGRP_DrawRect(form, 0, 0, form->position.width, form->position.height);
    if (!counts) return 0;
    for (int row = 0; row < 4; ++row) {
        const auto y = static_cast<int16_t>(row * kRowHeight);
        form->gc.mode = XGC_MODE_FILL | XGC_MODE_BORDER;
        form->gc.fillColor = XUTIL_GetDimmingColor(1);
        form->gc.borderColor = 10;
        XGRP_DrawRect(form, 0, y, kRowHeight, kRowHeight);
        char number[16];
        std::snprintf(number, sizeof number, "%d", counts->count[row]);
        drawChartText(form, number, XPosInfo{0, y, kRowHeight, kRowHeight}, XGRP_ALIGN_CENTER);
        form->gc.mode = XGC_MODE_FILL;
        form->gc.fillColor = 1;
        const XPosInfo name{kRowHeight, y, static_cast<uint16_t>(form->position.width - kRowHeight), kRowHeight};
        drawChartText(form, kClassNames[row], name, XGRP_ALIGN_LEFT);
    }
    return 0;
}

int32_t openClassWindow() {
    XWindow* form = XDB_GetForm(kDnnFormId);
    if (!form) return -5;
    // Starting the app again while the class window lives keeps it (and its counts) as it is.
    if (form->state & veld::xwin::kStateCreated) return 0;
    uint16_t width = 0, height = 0;
    XWM_GetScreenResolution(&width, &height);
    void* block = XMEM_Alloc(sizeof(DnnCounts));
    if (!block) return -5;
    setFormData(form, nullptr);
    const XPosInfo place{static_cast<int16_t>(width - 170), 20, kClassWidth, kClassHeight};
    if (XWIN_Create(form, 0, nullptr, 0, 0, kFormOptions, classKey, classRender, &place) != 0) {
        XMEM_FreeSafe(&block);
        return -5;
    }
    setFormData(form, block);
    XWIN_StartTimeTick(form, kRefreshMs);
    XWIN_Invalidate(form);
    return 0;
}

void closeClassWindow() {
    XWindow* form = XDB_GetForm(kDnnFormId);
    if (form && (form->state & veld::xwin::kStateCreated)) XWIN_Destroy(form, 0);
}

// A command-line switch: absent, present with a value beginning with '1', or present otherwise.
enum class Switch { kAbsent, kOn, kOff };

Switch commandSwitch(const char* pattern) {
    char value[VELD_CMDLINE_VALUE_MAX] = {};
    if (SSM_SYS_ScanCommandOption(pattern, value) != 0) return Switch::kAbsent;
    return value[0] == '1' ? Switch::kOn : Switch::kOff;
}

int32_t cpuGpuBuilder(XString* page, XWindow*) {
    Page text(64);
    float cpu = 0, gpu = 0;
    SSM_SYS_GetCPUUsageInfo(&cpu);
    SSM_SYS_GetGPUUsageInfo(&gpu);
    text.appendf("CPU: %5.1f%%\n", cpu);
    text.appendf("GPU: %5.1f%%\n", gpu);
    *page = text.release();
    return 0;
}

}  // namespace

bool dnnClassCounts(int32_t (&counts)[4]) {
    const DnnCounts* shown = countsOf(XDB_GetForm(kDnnFormId));
    if (!shown) return false;
    std::copy(std::begin(shown->count), std::end(shown->count), counts);
    return true;
}

}  // namespace veld::ssm

using namespace veld::ssm;

extern "C" {

int32_t SSM_APP_DNNInfoAction(uint32_t mode, const void* label) {
    const Switch classWindow = commandSwitch("ssm.dnn_app.dnn_win=%s");
    const Switch cpuWindow = commandSwitch("ssm.dnn_app.cpu_win=%s");
    int32_t result = -5;
    if (cpuWindow == Switch::kOn)
        result = SSM_APP_SimpleTextInfoAction(mode, cpuGpuBuilder, nullptr, 120, 52, SSM_TEXT_FLAG_TICK, label);
    if (classWindow == Switch::kOff) return result;
    if (mode == 0)
        openClassWindow();
    else if (mode == 1)
        closeClassWindow();
    return result;
}

}  // extern "C"
