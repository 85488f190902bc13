// The GPU device seam: the 2D GPU driver reaches the GPU kernel driver's device node only
// through these five calls. Without VELD_SIM=1 they are the system calls on the real node
// under VELD_ROOT. With VELD_SIM=1 a descriptor is a connection to the GPU simulator (a
// SOCK_SEQPACKET socket at seam::simSocket("gpu")), which plays the kernel: it reads and writes
// the caller's memory for each ioctl as a kernel would, and its video memory is one namespaced
// POSIX shared-memory object that every client maps.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace veld::gpu_device {

// Opens the device node `fixedPath` ("/dev/galcore", ...) read-write. -1 with errno on failure.
int open(std::string_view fixedPath);
// The device's ioctl. -1 with errno on failure (EINTR included).
int ioctl(int fd, unsigned long request, void* argument);
// Maps `bytes` of the device at `offset` (a physical address of video memory).
void* mmap(int fd, size_t bytes, int protection, int flags, uint64_t offset);
int munmap(void* address, size_t bytes);
int close(int fd);

// Sends a control command to the GPU simulator of the current root and namespace and returns
// its text answer, or nothing when no simulator serves there.
std::optional<std::string> simControl(std::string_view command);

// The wire between the seam and the simulator. Each message is one datagram.
namespace wire {

constexpr uint32_t kWelcomeMagic = 0x53555047;  // "GPUS"

// Simulator -> client on connect, with the video-memory descriptor as SCM_RIGHTS.
struct Welcome {
    uint32_t magic;
    uint32_t simulatorPid;
    uint64_t physicalBase;  // physical address of byte 0 of the shared object
    uint64_t bytes;         // size of the shared object
};

enum class Kind : uint32_t { Hello = 1, Ioctl = 2, Control = 3 };

// Client -> simulator.
struct Message {
    Kind kind;
    uint32_t pid;        // the calling process
    uint64_t mapBase;    // Hello: where the client mapped the video memory
    uint64_t request;    // Ioctl: the request number
    uint64_t argument;   // Ioctl: the argument's address in the caller
};

// Simulator -> client after Hello and Ioctl. A Control answer is plain text instead.
struct Reply {
    int64_t result;
    int32_t error;  // errno when result is -1
    uint32_t pad;
};

static_assert(sizeof(Welcome) == 24);
static_assert(sizeof(Message) == 32);
static_assert(sizeof(Reply) == 16);

constexpr size_t kControlMax = 64 * 1024;  // largest control command or answer

}  // namespace wire
}  // namespace veld::gpu_device
