// The secure-engine device seam: every access of the secure engine to its kernel device
// "/dev/qv/se0" (open, ioctl, mmap, munmap, close) passes through here, so that the engine's
// code is the same on a television and on a PC.
//
// VELD_SIM unset: the real device node under VELD_ROOT and the system calls themselves.
// VELD_SIM=1: a descriptor is a connection (SOCK_SEQPACKET) to the trusted-world simulator on
// seam::simSocket("tw"); each ioctl is one request and one reply carrying the argument record,
// and a mapping of the shared window is the simulator's memory, handed over as a descriptor
// (SCM_RIGHTS) and mapped here. The simulator learns the caller's pid from the connection.
//
// The wire records below are shared with the simulator (sim/tw) and with tests that drive its
// control interface; nothing else relies on them.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace veld::seDevice {

// open(2) of a fixed device path such as "/dev/qv/se0"; -1 with errno on failure.
int open(const char* fixedPath, int flags);
// ioctl(2) with the request's argument record; -1 with errno on failure.
int ioctl(int fd, unsigned long request, void* argument);
// mmap(2) of `length` bytes at device offset `offset` (the window's physical address);
// MAP_FAILED with errno on failure.
void* map(size_t length, int prot, int fd, off_t offset);
int unmap(void* address, size_t length);
int close(int fd);

// Size of the argument record of a device request, -1 for a request the device does not know.
int argumentSize(unsigned long request);

// The driver's netlink peer (protocol 31 on a television), bound to this process's pid. Frames
// are whole netlink messages (16-byte header and payload) in both directions. With VELD_SIM=1
// the socket is a connection to the simulator, which plays the driver's part with
// byte-identical frames. -1 with errno on failure.
int netlinkOpen(int protocol);
// Sends one frame to the driver; the frame's length or -1.
ssize_t netlinkSend(int fd, const void* frame, size_t length);
// Receives one frame (cut to `capacity`); its length or -1.
ssize_t netlinkReceive(int fd, void* buffer, size_t capacity);

namespace wire {

// What a message to the simulator asks for.
enum Kind : uint32_t {
    kIoctl = 1,    // request = ioctl number, data = argument record
    kMap = 2,      // value0 = device offset, value1 = length; reply carries the window's fd
    kControl = 3,  // request = ControlOp, data = its arguments (tests and tools)
    kEcho = 4,     // data comes back unchanged (the baseline of the channel's benchmark)
    kNetlink = 5,  // value0 = protocol: from now on the connection carries netlink frames
};

enum ControlOp : uint32_t {
    kInjectResult = 1,   // words {result code, command id or 0 for any, count}
    kLoseState = 2,      // the trusted world forgets its initialisation
    kSuspendFlags = 3,   // word {flags}: returned once by the next get-suspend-state
    kInvalidOtp = 4,     // word {0 or 1}
    kFailCacheProbe = 5, // word {0 or 1}
    kStats = 6,          // reply data: Stats
    kClearFaults = 7,
    kRpmbIndirect = 8,   // word {0 or 1}: 1 makes every process but the daemon's use the
                         // replay-protected partition through the daemon (request 0x00005300)
};

struct Stats {
    uint32_t commands;      // run-command requests served
    uint32_t initCommands;  // command 2 served
    uint32_t lastCommand;
    uint32_t closes;        // "close:<pid>" notices
    uint32_t initialised;   // 1 while the trusted world holds its initialisation
    uint32_t clients;       // open connections
    uint32_t netlinkPid;    // pid of the registered netlink peer (the daemon), 0 when none
    uint32_t relayed;       // requests relayed to the daemon and answered
};
static_assert(sizeof(Stats) == 32, "simulator statistics layout");

constexpr size_t kMaxData = 256;  // the largest argument record (relayed request text)
constexpr size_t kMaxEcho = 16384;

struct Request {
    uint32_t kind;
    uint32_t request;  // ioctl number or control operation (64-bit requests are not used)
    uint64_t value0;
    uint64_t value1;
    uint32_t length;   // bytes of data that follow
    uint32_t reserved;
    // followed by `length` bytes
};
static_assert(sizeof(Request) == 32, "device seam request layout");

struct Reply {
    int32_t result;    // 0 or -1
    int32_t error;     // errno when result is -1
    uint64_t value;    // kMap: offset of the range in the passed descriptor
    uint32_t length;   // bytes of data that follow
    uint32_t reserved;
};
static_assert(sizeof(Reply) == 24, "device seam reply layout");

// Sends one request and receives its reply on a simulator connection. `received`, when not
// null, receives a descriptor passed with the reply (-1 when none). Returns the reply's data
// length, or -1 with errno on a transport failure.
int call(int fd, const Request& request, const void* data, Reply& reply, void* replyData,
         size_t replyCapacity, int* received = nullptr);

// A connection to the trusted-world simulator of the current root and namespace.
int connectSimulator();

}  // namespace wire
}  // namespace veld::seDevice
