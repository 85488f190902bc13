// Bench tools not yet built into the daemon: each entry point logs that it is absent.
#include "veldd.h"
#include "veldd_log.h"

using namespace veld::loglevel;

extern "C" {

void launch_daemon(void) { VELDD_LOG(kProgress, "<!> companion launcher not built in\n"); }
void* launch_daemon_thread(void*) { return nullptr; }
void* regster_access_tool_task(void*) {
    VELDD_LOG(kProgress, "<!> register tool not built in\n");
    return nullptr;
}
void* SSM_KeyBoardTask(void*) {
    VELDD_LOG(kProgress, "<!> keyboard handler not built in\n");
    return nullptr;
}
void* file_monitor_task(void*) {
    VELDD_LOG(kProgress, "<!> file monitor not built in\n");
    return nullptr;
}
void veldd_vexos_low_power_handler(const char*, uint32_t) {}

}  // extern "C"
