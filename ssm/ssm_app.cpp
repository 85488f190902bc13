// The monitor's app framework: the monitor task, the app table and the operations on its
// rows, the panel column at the right edge, the monitor's global key and event handling, and
// its palette and form database. Everything here runs on the monitor task "ssm_task".
#include "ssm_app.h"

#include <algorithm>
#include <array>
#include <iterator>

#include "detached_task.h"
#include "ssm.h"
#include "ssm_sys.h"
#include "veldd_log.h"
#include "xwm.h"

using namespace veld::loglevel;

namespace veld::ssm {
namespace {

constexpr uint32_t kFormCount = SSM_FORM_DNN_CLASS + 1;  // the largest form id in use
constexpr int kPanelColumnFromRight = 340;
constexpr int kPanelTop = 20;
constexpr int kPanelGap = 8;

constexpr SSM_APP_DESC kInitialTable[SSM_APP_ROWS] = {
    {0, SSM_FORM_QUICK_MENU, SSM_APP_QuickMenu, SSM_APP_FLAG_LAUNCHER, 0},
    {257, SSM_FORM_CPU_PANEL, SSM_APP_CPUPanel, SSM_APP_FLAG_PANEL, 0},
    {258, SSM_FORM_MEM_PANEL, SSM_APP_MEMPanel, SSM_APP_FLAG_PANEL, 0},
    {260, SSM_FORM_PMT_PANEL, SSM_APP_PMTPanel, SSM_APP_FLAG_PANEL, 0},
    {259, SSM_FORM_FPS_PANEL, SSM_APP_FPSPanel, SSM_APP_FLAG_PANEL, 0},
    {513, SSM_FORM_APP, SSM_APP_LOGMInfoAction, SSM_APP_FLAG_APP, 0},
    {515, SSM_FORM_APP, SSM_APP_BSPMemMapInfoAction, SSM_APP_FLAG_APP, 0},
    {519, SSM_FORM_APP, SSM_APP_HMAFullInfoAction, SSM_APP_FLAG_APP, 0},
    {520, SSM_FORM_APP, SSM_APP_HMARealTimeViewAction, SSM_APP_FLAG_APP, 0},
    {521, SSM_FORM_APP, SSM_APP_PCRInfoAction, SSM_APP_FLAG_APP, 0},
    {522, SSM_FORM_APP, SSM_APP_TEMPInfoAction, SSM_APP_FLAG_APP, 0},
    {524, SSM_FORM_APP, SSM_APP_GPIOInfoAction, SSM_APP_FLAG_APP, 0},
    {523, SSM_FORM_APP, SSM_APP_CPULOADInfoAction, SSM_APP_FLAG_APP, 0},
    {517, SSM_FORM_APP, SSM_APP_TopViewAction, SSM_APP_FLAG_APP, 0},
    {518, SSM_FORM_APP, SSM_APP_FileMonitorwAction, SSM_APP_FLAG_APP, 0},
    {516, SSM_FORM_APP, SSM_APP_PMTInfoAction, SSM_APP_FLAG_APP, 0},
    {525, SSM_FORM_APP, SSM_APP_DNNInfoAction, SSM_APP_FLAG_APP, 0},
    {526, SSM_FORM_APP, SSM_APP_TVSettingsAction, SSM_APP_FLAG_APP, 0},
    {527, SSM_FORM_APP, SSM_APP_TVMPlayerAction, SSM_APP_FLAG_APP, 0},
};

// The fixed entries 0-12 of the palette; 13-127 are transparent black, 128-255 are dimmed.
constexpr uint32_t kFixedColours[] = {
    0x00000000, 0xc0404040, 0xf0ff6410, 0xffffffff, 0xff000000, 0xb0404040, 0xc0000000,
    0xc0c0c0c0, 0xc0ff6410, 0xc0c0c0c0, 0xc0808080, 0xc0a0a000, 0xffff6410,
};

std::array<SSM_APP_DESC, SSM_APP_ROWS> gTable = std::to_array(kInitialTable);
SSM_APP_DESC* gActive = nullptr;
int gLogPanelOn = 0;
XWindow gForms[kFormCount];
void* gFormData[kFormCount];

bool has(const SSM_APP_DESC& row, uint16_t flag) { return (row.flags & flag) != 0; }
bool running(const SSM_APP_DESC& row) { return (row.state & SSM_APP_STATE_RUNNING) != 0; }
bool visible(const SSM_APP_DESC& row) { return (row.state & SSM_APP_STATE_VISIBLE) != 0; }
XWindow* formOf(const SSM_APP_DESC& row) { return XDB_GetForm(row.formId); }

int32_t formIndex(const XWindow* form) {
    if (form < gForms || form >= gForms + kFormCount) return -1;
    return static_cast<int32_t>(form - gForms);
}

// The monitor's command-line switch with a value beginning with '1'.
bool commandOption(const char* pattern) {
    char value[VELD_CMDLINE_VALUE_MAX] = {};
    return SSM_SYS_ScanCommandOption(pattern, value) == 0 && value[0] == '1';
}

void onKey(uint16_t code) {
    VELDD_LOG_AS("SSM_GlobalEventHandler", kDebug, "[xDbg] global key handler : 0x%x\n", code);
    switch (code) {
        case SSM_KEY_PANELS:
            SSM_APP_TogglePanels();
            break;
        case SSM_KEY_CLOSE:
            if (XWM_GetFocus() == XDB_GetForm(SSM_FORM_APP) && gActive) SSM_APP_Exit(gActive->id, nullptr);
            break;
        case SSM_KEY_LOG:
            SSM_APP_LOGPanel(gLogPanelOn != 0 ? 1 : 0);
            gLogPanelOn = !gLogPanelOn;
            break;
        default:
            break;
    }
}

void onStartup() {
    for (uint32_t panel : {257u, 258u, 260u, 259u}) SSM_APP_Run(panel, nullptr);
    SSM_APP_LayoutPanels();
    SSM_APP_TogglePanels();  // running, but hidden until key 73
    SSM_APP_Run(0, nullptr);
    if (commandOption("ssm.dnn_demo.auto_start=%s")) SSM_APP_Run(525, "DNN Info");
}

}  // namespace

SSM_APP_DESC* appTable() { return gTable.data(); }

void setFormData(XWindow* form, void* data) {
    if (const int32_t i = formIndex(form); i >= 0) gFormData[i] = data;
}

void* formData(XWindow* form) {
    const int32_t i = formIndex(form);
    return i >= 0 ? gFormData[i] : nullptr;
}

void resetApps() {
    gTable = std::to_array(kInitialTable);
    gActive = nullptr;
    gLogPanelOn = 0;
    resetLogPanel();
    std::fill(std::begin(gFormData), std::end(gFormData), nullptr);
}

}  // namespace veld::ssm

using namespace veld::ssm;

extern "C" {

uint32_t g_ssm_palette[256];

void* SSM_MainTask(void* /*argument*/) {
    veld::detachThisTask();  // ends with the monitor loop; nobody waits for it
    INITIALIZE_TASK(0);
    XWM_Init();
    XWM_SetAppEventFilter(nullptr);
    XWM_SetAppEventHandler(SSM_GlobalEventHandler);
    SSM_SYS_Init();
    SSM_RC_Init();
    SSM_APP_Init();
    XWM_PushEvent(SSM_EVENT_STARTUP, 0);
    XWM_Run();
    SHUTDOWN_TASK();
    return nullptr;
}

int32_t SSM_RC_Init(void) {
    std::fill(std::begin(g_ssm_palette), std::end(g_ssm_palette), 0u);
    std::copy(std::begin(kFixedColours), std::end(kFixedColours), g_ssm_palette);
    for (int i = 0; i < 128; ++i) g_ssm_palette[128 + i] = XGRP_DimEntry(g_ssm_palette[i]);
    XGRP_SetPalette(g_ssm_palette);
    XDB_RegisterFormDB(gForms);
    return 0;
}

void SSM_APP_Init(void) { gActive = nullptr; }

SSM_APP_DESC* SSM_APP_GetDesc(uint32_t id) {
    if (id > SSM_APP_MAX_ID) return nullptr;
    for (SSM_APP_DESC& row : gTable)
        if (row.id == id) return &row;
    return nullptr;
}

SSM_APP_DESC* SSM_APP_GetActiveAppDesc(void) {
    return gActive ? SSM_APP_GetDesc(gActive->id) : nullptr;
}

int32_t SSM_APP_Run(uint32_t id, const void* argument) {
    for (SSM_APP_DESC& row : gTable) {
        if (row.id != id || !row.action) continue;
        if (!running(row)) {
            if (has(row, SSM_APP_FLAG_APP) && gActive) SSM_APP_Exit(gActive->id, nullptr);
            if (row.action(0, argument) == 0) {
                row.state |= SSM_APP_STATE_RUNNING | SSM_APP_STATE_VISIBLE;
                if (has(row, SSM_APP_FLAG_APP)) gActive = &row;
            }
        } else if (has(row, SSM_APP_FLAG_APP)) {
            // Only a window that exists is brought forward: an app without one (the media
            // player) would otherwise hand the focus to a cleared record and strand the menu.
            XWindow* form = formOf(row);
            if (form && (form->state & veld::xwin::kStateCreated) != 0) XWIN_Run(form);
        }
    }
    return 0;
}

int32_t SSM_APP_Exit(uint32_t id, const void* argument) {
    for (SSM_APP_DESC& row : gTable) {
        if (row.id != id || !row.action || !running(row)) continue;
        if (row.action(1, argument) == 0)
            row.state &= static_cast<uint16_t>(~(SSM_APP_STATE_RUNNING | SSM_APP_STATE_VISIBLE));
    }
    return 0;
}

int32_t SSM_APP_Toggle(uint32_t id) {
    bool panel = false;
    for (SSM_APP_DESC& row : gTable) {
        if (row.id != id || !row.action) continue;
        if (has(row, SSM_APP_FLAG_PANEL)) {
            panel = true;
        } else if (visible(row)) {
            XWIN_Hide(formOf(row));
        } else {
            XWIN_Show(formOf(row));
        }
        row.state ^= SSM_APP_STATE_VISIBLE;
    }
    if (panel) SSM_APP_LayoutPanels();
    return 0;
}

int32_t SSM_APP_ToggleLauncher(void) {
    for (SSM_APP_DESC& row : gTable) {
        if (!row.action || !has(row, SSM_APP_FLAG_LAUNCHER)) continue;
        if (visible(row))
            XWIN_Hide(formOf(row));
        else
            XWIN_Show(formOf(row));
        row.state ^= SSM_APP_STATE_VISIBLE;
    }
    return 0;
}

int32_t SSM_APP_TogglePanels(void) {
    for (SSM_APP_DESC& row : gTable)
        if (row.action && !has(row, SSM_APP_FLAG_LAUNCHER)) row.state ^= SSM_APP_STATE_VISIBLE;
    return SSM_APP_LayoutPanels();
}

int32_t SSM_APP_LayoutPanels(void) {
    uint16_t width = 0, height = 0;
    XWM_GetScreenResolution(&width, &height);
    const int left = static_cast<int>(width) - kPanelColumnFromRight;
    for (SSM_APP_DESC& row : gTable)
        if (has(row, SSM_APP_FLAG_PANEL) && formOf(row)) XWIN_Hide(formOf(row));
    XWM_RefreshScreen(0);
    int top = kPanelTop;
    for (SSM_APP_DESC& row : gTable) {
        if (!has(row, SSM_APP_FLAG_PANEL) || !running(row) || !visible(row)) continue;
        XWindow* form = formOf(row);
        if (!form) continue;
        XPosInfo place = form->position;
        place.x = static_cast<int16_t>(left);
        place.y = static_cast<int16_t>(top);
        XWIN_SetPosition(form, &place);
        XWIN_Show(form);
        top += place.height + kPanelGap;
    }
    XWIN_Invalidate(XDB_GetForm(SSM_FORM_QUICK_MENU));
    return 0;
}

int32_t SSM_APP_RefreshScreen(uint32_t row) {
    if (row >= SSM_APP_ROWS) return -5;
    XWIN_Invalidate(formOf(gTable[row]));
    return 0;
}

int32_t SSM_APP_PannelToggle(uint32_t mode, const void* /*argument*/) {
    if (mode == 0) SSM_APP_TogglePanels();
    return -5;  // never counts as a started app
}

int32_t SSM_GlobalEventHandler(XEvent* event, uint32_t /*arg*/) {
    switch (event->type) {
        case XEVENT_KEY:
            onKey(event->key.code);
            break;
        case SSM_EVENT_SYSTEM2UI:
            if (event->param[0] != 0xb0000)
                VELDD_LOG(kError, "[xErr] [ssm] unknown SYSTEM2UI event (0x%x)\n", event->param[0]);
            break;
        case SSM_EVENT_STARTUP:
            onStartup();
            break;
        default:
            VELDD_LOG(kError, "[xErr] [ssm] unknown event (0x%x)\n", event->type);
            break;
    }
    return 0;
}

}  // extern "C"
