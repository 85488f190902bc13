// The monitor's app framework: the app table of panels, launcher and apps with their forms
// and actions, the operations that start, stop, show, hide and lay them out, the monitor's
// global event handler, its palette and form database, and the monitor task.
#pragma once

#include <cstdint>

#include "xevent.h"
#include "xstring.h"
#include "xwindow.h"

extern "C" {

// Action of an app row: mode 0 starts, 1 stops; 0 = success. The argument is what
// SSM_APP_Run was given (the quick menu passes the chosen entry's label text).
typedef int32_t (*SSM_APP_ACTION)(uint32_t mode, const void* argument);

struct SSM_APP_DESC {
    uint32_t id;
    uint32_t formId;  // a 16-bit form id in a 32-bit slot
    SSM_APP_ACTION action;
    uint16_t flags;   // SSM_APP_FLAG_*
    uint16_t state;   // SSM_APP_STATE_*
};

constexpr uint16_t SSM_APP_FLAG_LAUNCHER = 1;
constexpr uint16_t SSM_APP_FLAG_PANEL = 2;
constexpr uint16_t SSM_APP_FLAG_APP = 4;
constexpr uint16_t SSM_APP_STATE_RUNNING = 1;
constexpr uint16_t SSM_APP_STATE_VISIBLE = 2;

constexpr int SSM_APP_ROWS = 19;
constexpr uint32_t SSM_APP_MAX_ID = 528;

// Forms of the monitor's form database.
constexpr uint32_t SSM_FORM_QUICK_MENU = 4096;
constexpr uint32_t SSM_FORM_APP = 4097;
constexpr uint32_t SSM_FORM_CPU_PANEL = 4099;
constexpr uint32_t SSM_FORM_MEM_PANEL = 4100;
constexpr uint32_t SSM_FORM_FPS_PANEL = 4101;
constexpr uint32_t SSM_FORM_PMT_PANEL = 4102;
constexpr uint32_t SSM_FORM_DNN_CLASS = 4104;  // the DNN app's always-on class window

// Monitor key codes beyond the arrows.
constexpr uint16_t SSM_KEY_SELECT = 10;
constexpr uint16_t SSM_KEY_PANELS = 73;
constexpr uint16_t SSM_KEY_CLOSE = 109;
constexpr uint16_t SSM_KEY_LOG = 49;
constexpr uint32_t SSM_EVENT_SAMPLE = 16384;   // pushed by the monitor's sampler threads
constexpr uint32_t SSM_EVENT_SYSTEM2UI = 0xe001;
constexpr uint32_t SSM_EVENT_STARTUP = 0xff00;

void SSM_APP_Init(void);
SSM_APP_DESC* SSM_APP_GetDesc(uint32_t id);
SSM_APP_DESC* SSM_APP_GetActiveAppDesc(void);
int32_t SSM_APP_Run(uint32_t id, const void* argument);
int32_t SSM_APP_Exit(uint32_t id, const void* argument);
int32_t SSM_APP_Toggle(uint32_t id);
int32_t SSM_APP_ToggleLauncher(void);
int32_t SSM_APP_TogglePanels(void);
int32_t SSM_APP_LayoutPanels(void);
int32_t SSM_APP_RefreshScreen(uint32_t row);
int32_t SSM_APP_PannelToggle(uint32_t mode, const void* argument);
int32_t SSM_GlobalEventHandler(XEvent* event, uint32_t arg);
int32_t SSM_RC_Init(void);

// The monitor's palette (256 ARGB entries) as SSM_RC_Init installs it.
extern uint32_t g_ssm_palette[256];

// Panels and the log panel.
int32_t SSM_APP_CPUPanel(uint32_t mode, const void* argument);
int32_t SSM_APP_MEMPanel(uint32_t mode, const void* argument);
int32_t SSM_APP_FPSPanel(uint32_t mode, const void* argument);
int32_t SSM_APP_PMTPanel(uint32_t mode, const void* argument);
int32_t SSM_APP_LOGPanel(uint32_t mode);

// Launcher and apps.
int32_t SSM_APP_QuickMenu(uint32_t mode, const void* argument);
int32_t SSM_APP_LOGMInfoAction(uint32_t mode, const void* argument);
int32_t SSM_APP_BSPMemMapInfoAction(uint32_t mode, const void* argument);
int32_t SSM_APP_HMAFullInfoAction(uint32_t mode, const void* argument);
int32_t SSM_APP_HMARealTimeViewAction(uint32_t mode, const void* argument);
int32_t SSM_APP_PCRInfoAction(uint32_t mode, const void* argument);
int32_t SSM_APP_TEMPInfoAction(uint32_t mode, const void* argument);
int32_t SSM_APP_GPIOInfoAction(uint32_t mode, const void* argument);
int32_t SSM_APP_CPULOADInfoAction(uint32_t mode, const void* argument);
int32_t SSM_APP_TopViewAction(uint32_t mode, const void* argument);
int32_t SSM_APP_FileMonitorwAction(uint32_t mode, const void* argument);
int32_t SSM_APP_PMTInfoAction(uint32_t mode, const void* argument);
int32_t SSM_APP_DNNInfoAction(uint32_t mode, const void* argument);
int32_t SSM_APP_TVSettingsAction(uint32_t mode, const void* argument);
int32_t SSM_APP_TVMPlayerAction(uint32_t mode, const void* argument);

}  // extern "C"

namespace veld::ssm {

// The app table (19 rows, in scan and stacking order).
SSM_APP_DESC* appTable();

// What a form of the monitor carries besides its window record (a panel's or an app's
// context). Forms of the monitor's database only.
void setFormData(XWindow* form, void* data);
void* formData(XWindow* form);

// The text a panel draws (tests and benchmarks); empty for a form that is not a panel.
XString panelText(uint32_t formId);

// The log panel's timer callback: one level-9 line with the CPU and DDR loads the panels
// last reported. Always 0.
int32_t LOGPanel_Timer(XWindow* window, uint32_t id);
// Forgets the loads the panels reported to the log panel (tests; the mutex stays).
void resetLogPanel();

// Resets the framework's state: rows stopped, no active app, log panel off (tests).
void resetApps();

}  // namespace veld::ssm
