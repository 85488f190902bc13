// VELDD_IPC_MSG: the 32-byte record other platform processes exchange with the daemon through
// its message endpoint "/tmp/veldd_ipc_", in both directions.
#pragma once

#include <cstddef>
#include <cstdint>

#include "veldcore.h"

extern "C" {

struct VELDD_IPC_MSG {
    uint32_t flags;    // 1 in a request; bit 0x100 asks for a reply; a reply carries 2
    uint32_t id;       // group in the high 16 bits, command in the low 16 bits
    uint32_t data[6];  // data[1] is the first parameter (the key code for 0x4bf20001)
};
static_assert(sizeof(VELDD_IPC_MSG) == VELD_IPC_MSG_BYTES);
static_assert(offsetof(VELDD_IPC_MSG, id) == 4 && offsetof(VELDD_IPC_MSG, data) == 8);

}  // extern "C"

namespace veld::msg {

constexpr uint32_t kFlagRequest = 1;
constexpr uint32_t kFlagWantsReply = 0x100;
constexpr uint32_t kFlagReply = 2;

constexpr uint32_t kGroupMask = 0xFFFF0000u;
constexpr uint32_t kGroupSys = 0x4bf10000u;
constexpr uint32_t kGroupSsm = 0x4bf20000u;

constexpr uint32_t kSysPing = 0x4bf10001u;
constexpr uint32_t kSysRegTool = 0x4bf10002u;
constexpr uint32_t kSysMonitor = 0x4bf10003u;
constexpr uint32_t kSsmKey = 0x4bf20001u;

inline constexpr const char* kEndpointPath = "/tmp/veldd_ipc_";
inline constexpr const char* kPidFilePath = "/tmp/veldd.pid";

}  // namespace veld::msg
