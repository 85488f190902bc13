// The system status monitor's entry points for the rest of the daemon: its task body, and the
// hand-over of key messages and other events into the window system's queue.
#pragma once

#include <cstdint>

#include "veldd_msg.h"

extern "C" {

// Body of the monitor task "ssm_task".
void* SSM_MainTask(void* argument);

// Daemon messages of the SSM group and debug-keyboard keys: 0 for a key message (whether or
// not the queue took it), -5 for anything else.
int32_t SSM_PLTEventHandler(VELDD_IPC_MSG* message);

// Builds a window-system event of `type` from six parameter words and posts it to the event
// queue: 0, or -1 when the queue refuses it.
int32_t SendMessage2SSM(uint32_t type, const uint32_t* parameters);

}  // extern "C"

namespace veld::ssm {
constexpr uint32_t kEventKey = 0xe000;   // parameter 1 is the key code
constexpr uint32_t kEventQuit = 0xe00f;
}  // namespace veld::ssm
