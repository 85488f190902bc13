// How the rest of the daemon reaches the monitor: key messages and other events become
// XEvent records on the window system's queue, the one thread-safe hand-over point. Nothing
// here touches monitor state; it runs on the daemon's message thread and the keyboard task.
#include <cstring>

#include "ssm.h"
#include "veldd_log.h"
#include "xdrv.h"

using namespace veld::loglevel;

extern "C" {

int32_t SSM_PLTEventHandler(VELDD_IPC_MSG* message) {
    if (message->id != veld::msg::kSsmKey) return -5;
    uint32_t parameters[6] = {0, message->data[1], 0, 0, 0, 0};
    (void)SendMessage2SSM(veld::ssm::kEventKey, parameters);  // a refused key is dropped
    return 0;
}

int32_t SendMessage2SSM(uint32_t type, const uint32_t* parameters) {
    XEvent event{};
    switch (type) {
        case veld::ssm::kEventKey:
            VELDD_LOG(kDebug, "[xDbg] SVR: key (0x%02x)\n", parameters[1]);
            event.type = XEVENT_KEY;
            event.key.code = static_cast<uint16_t>(parameters[1]);
            break;
        case veld::ssm::kEventQuit:
            event.type = XEVENT_QUIT;
            break;
        default:
            event.type = type;
            std::memcpy(event.param, parameters, sizeof(event.param));
            break;
    }
    return XDRV_SendQueue(0, &event, 0) != 0 ? -1 : 0;
}

}  // extern "C"
