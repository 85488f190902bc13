// The daemon's start-up sequence and its message loop: every message on the endpoint
// "/tmp/veldd_ipc_" is matched against the group table and handed to the SYS or SSM handler,
// which answer on the endpoint when the sender asks for a reply. Everything runs on the main
// thread, one message at a time, in arrival order.
#include <cstring>

#include "seam.h"
#include "ssm.h"
#include "veldd.h"
#include "veldd_log.h"

using namespace veld::loglevel;
namespace msg = veld::msg;

namespace {

constexpr uint32_t kTaskStack = 32768;
constexpr uint32_t kMonitorStack = 524288;
constexpr int32_t kTaskPriority = 2;
constexpr uint32_t kAutoStartDelayMs = 10000;

// Written only by the main thread (start-up and the handlers), so no lock.
uint32_t gEndpoint = 0;
int gMonitorStarted = 0;
int gKeyboardStarted = 0;

FILE_MONITOR_DESC gLowPowerFile = {"/tmp/adjust_cmd.txt", veldd_vexos_low_power_handler};

// "key=%s" on the kernel command line with a value beginning with '1'.
bool cmdlineFlag(const char* pattern) {
    char value[VELD_CMDLINE_VALUE_MAX] = {};
    return VELD_UTIL_ScanKernelCmdline(pattern, value) == 0 && value[0] == '1';
}

void replyIfAsked(uint32_t endpoint, VELDD_IPC_MSG* message) {
    if (!(message->flags & msg::kFlagWantsReply)) return;
    message->flags = msg::kFlagReply;
    VELD_OSA_SendIPCMsg(endpoint, message);
}

void startSystemService() {
    gEndpoint = 0;
    VELDD_LOG_AS("veldd_start_system_service", kProgress, "<!> starting system service...\n");
    if (VELD_HDR_DOLBY_event_Monitor() == 0)
        VELDD_LOG_AS("veldd_start_system_service", kProgress, "Dolby event monitor thread started\n");
    else
        VELDD_LOG_AS("veldd_start_system_service", kProgress,
                     "Dolby Event Monitor Thread creation failed\n");
}

void startFileMonitor() {
    const int32_t chip = qz_chip();
    if (chip != 35 && chip != 36) return;
    VELD_OSA_CreateThread("inoti_tsk", file_monitor_task, &gLowPowerFile, kTaskStack,
                          kTaskPriority, 0);
}

void downloadFirmware() {
    if (VELD_TE_Open() == 0)
        VELDD_LOG_AS("veldd_download_firmware", kUnexpected, "can't download TE firmware\n");
}

void startKeyboardHandler() {
    if (!cmdlineFlag("ssm.keyboard=%s") || gKeyboardStarted) return;
    VELDD_LOG_AS("veldd_start_keyboard_handler", kProgress,
                 "<!> starting keyboard handler...(debug only)\n");
    VELD_OSA_CreateThread("ssm_kbh", SSM_KeyBoardTask, nullptr, kTaskStack, kTaskPriority, 0);
    gKeyboardStarted = 1;
}

[[noreturn]] void messageLoop() {
    for (;;) {
        VELDD_IPC_MSG message{};
        message.flags = msg::kFlagRequest;
        const int32_t rc = VELD_OSA_RecvIPCMsg(gEndpoint, &message, -1);
        if (rc != 0) {
            VELDD_LOG_AS("veldd_main", kFailure, "<!> IPC msg recv error (%d)\n", rc);
            VELD_OSA_SleepMsec(1000);
            continue;
        }
        // Both rows are tried; the group is taken again after the first handler, which may
        // have changed the record.
        for (const VELDD_SERVER_ENTRY& row : g_veldd_server_list) {
            if ((message.id & msg::kGroupMask) == row.group) row.handler(gEndpoint, &message);
        }
    }
}

}  // namespace

extern "C" {

const VELDD_SERVER_ENTRY g_veldd_server_list[2] = {
    {msg::kGroupSys, VELDD_SYS_GroupEventHandler},
    {msg::kGroupSsm, VELDD_SSM_GroupEventHandler},
};

void veldd_start_ssm_window(void) {
    VELDD_LOG(kProgress, "<!> starting window system... (debug only)\n");
    VELD_OSA_CreateThread("ssm_task", SSM_MainTask, nullptr, kMonitorStack, kTaskPriority, 0);
    gMonitorStarted = 1;
}

int32_t VELDD_SYS_GroupEventHandler(uint32_t endpoint, VELDD_IPC_MSG* message) {
    switch (message->id) {
        case msg::kSysRegTool:
            VELDD_LOG_AS("veldd_start_user_service", kProgress, "<!> starting user service...\n");
            VELD_OSA_CreateThread("reg_tool_task", regster_access_tool_task, nullptr, kTaskStack,
                                  kTaskPriority, 0);
            break;
        case msg::kSysMonitor:
            if (!gMonitorStarted) veldd_start_ssm_window();
            break;
        case msg::kSysPing:
            break;
        default:
            VELDD_LOG(kUnexpected, "unknown IPC msg 0x%x\n", message->id);
            return -5;
    }
    replyIfAsked(endpoint, message);
    return 0;
}

int32_t VELDD_SSM_GroupEventHandler(uint32_t endpoint, VELDD_IPC_MSG* message) {
    if (SSM_PLTEventHandler(message) != 0)
        VELDD_LOG(kUnexpected, "ssm msg.id = 0x%x prcess error\n", message->id);
    replyIfAsked(endpoint, message);
    return 0;
}

void veldd_main(void) {
    startSystemService();
    gEndpoint = VELD_OSA_OpenIPCServer(msg::kEndpointPath, 32);
    launch_daemon();
    startFileMonitor();
    downloadFirmware();
    if (cmdlineFlag("ssm.auto_start=%s")) {
        VELD_OSA_SleepMsec(kAutoStartDelayMs);
        if (!gMonitorStarted) veldd_start_ssm_window();
    }
    startKeyboardHandler();
    VELD_AFE_Init_OTP_Thread();
    messageLoop();
}

}  // extern "C"
