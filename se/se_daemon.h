// The secure-engine daemon: its System V queue "sevd", the message thread, the netlink command
// loop with its table, the serialised clean-up threads, its launcher, and the client calls that
// reach it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace veld::se {

constexpr uint32_t kQueueKey = 0x73657664;  // "sevd"
constexpr size_t kQueueDataBytes = 256;
constexpr int kNetlinkProtocol = 31;
constexpr size_t kNetlinkBuffer = 4112;
constexpr size_t kRelayTextBytes = 256;

// Starts a detached thread at real-time FIFO priority 1, or at normal priority where the
// process may not use real-time scheduling (a PC's user), which it logs once; false on failure.
bool startThread(void* (*entry)(void*), void* argument, bool realtime);
// Sends a queue message to the daemon without waiting; 0 or -1.
int veldd00(long type, const void* data, size_t size);
// Clears the log writer's stop flag (the writer may start again).
void permanentLogResume();
// Ends the launcher of VELD_SE_InitSeVeldd and the daemon it runs (tests; the launcher of a
// device runs for ever). Returns when the launcher has ended.
void stopDaemonLauncher();

}  // namespace veld::se

extern "C" {
int32_t _SE_VELDD_00(int32_t type, const void* data, uint32_t size);
/* request: 256 bytes, a NUL-terminated text on the way in, the daemon's reply on the way out */
int32_t _SE_VELDD_01(char* request);
int32_t SE_VELDD(void);
int32_t VELD_SE_InitSeVeldd(void);
int32_t _SE_PL00(void);
int32_t _SE_PL10(void);
}
