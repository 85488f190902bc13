// The daemon core's entry points: start-up and message loop, the group handlers, and the
// tasks and services they start (launcher, register tool, debug keyboard, file monitor).
#pragma once

#include <cstdint>

#include "veldd_msg.h"

extern "C" {

// Group handler: endpoint handle and received message; the loop ignores the result.
typedef int32_t (*VELDD_GROUP_HANDLER)(uint32_t endpoint, VELDD_IPC_MSG* message);

struct VELDD_SERVER_ENTRY {
    uint32_t group;  // low 16 bits 0
    VELDD_GROUP_HANDLER handler;
};
extern const VELDD_SERVER_ENTRY g_veldd_server_list[2];

// Start-up and message loop; never returns.
void veldd_main(void);
int32_t VELDD_SYS_GroupEventHandler(uint32_t endpoint, VELDD_IPC_MSG* message);
int32_t VELDD_SSM_GroupEventHandler(uint32_t endpoint, VELDD_IPC_MSG* message);
void veldd_start_ssm_window(void);

// Companion launcher: starts "se_veldd" from the daemon's own directory and supervises it.
void launch_daemon(void);
void* launch_daemon_thread(void* path);

// Serial register tool, one task per 0x4bf10002 message.
void* regster_access_tool_task(void* argument);

// Debug keyboard task "ssm_kbh".
void* SSM_KeyBoardTask(void* argument);

// File monitor task "inoti_tsk" and the low-power command file handler.
typedef void (*FILE_MONITOR_HANDLER)(const char* path, uint32_t mask);
struct FILE_MONITOR_DESC {
    const char* path;
    FILE_MONITOR_HANDLER handler;
};
void* file_monitor_task(void* desc);
void veldd_vexos_low_power_handler(const char* path, uint32_t mask);

}  // extern "C"
