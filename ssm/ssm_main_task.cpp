// The monitor task "ssm_task". The window manager and the apps it runs are not part of the
// daemon yet; the task announces itself and ends.
#include "ssm.h"
#include "veldd_log.h"

extern "C" void* SSM_MainTask(void* /*argument*/) {
    VELDD_LOG(veld::loglevel::kProgress, "<!> ssm_task started (monitor not built in)\n");
    return nullptr;
}
