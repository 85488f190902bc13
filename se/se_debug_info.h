// What the debug shell and the secure-engine daemon both report: the text of "Print Process
// Info." and the DMA usage monitor (_SE_DBG04 in se_debug.h).
#pragma once

#include <cstddef>

namespace veld::se {

// "Print Process Info.": build, trusted firmware version, OTP key, then every field of the
// process record and of the shared record by name, cut to `room` bytes. The trusted world is
// asked only when the lock comes within `lockWaitMs` (-1: however long it takes), because the
// daemon answers for a requester that may hold it.
void processInfoText(char* out, size_t room, long lockWaitMs);
// The records' part of it alone.
void recordsText(char* out, size_t room);

}  // namespace veld::se

namespace veld::se {
// Whether the DMA usage monitor runs (the shell asks for an interval only to start it).
bool dmaMonitorRunning();
}  // namespace veld::se
