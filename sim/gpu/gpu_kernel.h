// The simulated GPU kernel driver: answers every request of the driver's kernel interface on
// behalf of one simulator process. It owns video-memory nodes (handles with a generation and an
// owner), contiguous allocations, signals, user-memory mappings, shared buffers, contexts and
// the record of commits. Addresses and sizes in requests are checked in 64 bits; whatever is
// out of range is refused and counted as a GPU fault. The caller's memory is reached as a
// kernel reaches it, through the caller's process (ProcessMemory).
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core2d.h"
#include "gal_kernel.h"
#include "gpu_profile.h"
#include "video_memory.h"

namespace veld::gpusim {

// Reads and writes another process's memory (process_vm_readv / process_vm_writev).
struct ProcessMemory {
    static bool read(uint32_t pid, uint64_t address, void* out, size_t bytes);
    static bool write(uint32_t pid, uint64_t address, const void* in, size_t bytes);
};

// The client a request comes from: its process and where it mapped the video memory.
struct Client {
    uint32_t pid;
    uint64_t mapBase;
};

class GpuKernel {
public:
    GpuKernel(VideoMemory& memory, const ChipProfile& profile);

    enum class Outcome { Done, Wait };
    // Handles one request in place (status and outputs written into `r`). A signal wait that
    // cannot be met yet answers Wait: the caller parks it and retries with retryWait.
    Outcome handle(const Client& client, gcsIO_REQUEST& r);
    // Retries a parked wait; true when the signal was taken (status 0 written).
    bool retryWait(gcsIO_REQUEST& r);
    // Monotonic count of signal changes, so that the server retries parked waits only then.
    uint64_t signalEpoch() const { return signalEpoch_; }

    // A process is gone (its last connection closed): its nodes, locks, allocations, signals
    // and mappings are reclaimed.
    void processGone(uint32_t pid);

    // Control commands from tools and tests (see gpu_server.cpp for the list).
    std::string control(std::string_view command);
    // One human-readable status page.
    std::string status() const;
    // key=value lines of the counters.
    std::string counters() const;
    // key=value lines of the latest draw's target (address, offset in video memory, stride,
    // width, height, hardware format, swizzle, whether its memory is still allocated).
    std::string lastTarget() const;

    const ChipProfile& profile() const { return *profile_; }
    uint64_t faults() const { return faults_; }

private:
    struct Node {
        uint16_t generation = 0;
        bool live = false;
        bool released = false;  // freed as soon as the last lock goes
        uint64_t offset = 0, bytes = 0;
        uint32_t pool = 0, surfaceType = 0, name = 0;
        std::map<uint32_t, uint32_t> references;  // pid -> count
        std::map<uint32_t, uint32_t> locks;       // pid -> count
    };
    struct Allocation {  // contiguous, non-paged and command-buffer memory
        uint32_t pid;
        uint32_t kind;  // the allocating command
        uint64_t bytes;
    };
    struct Signal {
        uint32_t owner;
        bool manualReset;
        bool state;
    };
    struct UserMapping {
        uint32_t pid;
        uint64_t address, bytes, windowOffset;
    };
    // A user mapping that a stream touches is copied in whole for the stream's run and the
    // bytes the core changed are written back afterwards (a kernel would map its pages).
    struct StagedMapping {
        uint64_t gpu;  // its first GPU address
        const UserMapping* mapping;
        std::vector<uint8_t> original, pixels;
    };
    uint8_t* stageUserMemory(uint64_t address, uint64_t first, uint64_t bytes);
    void writeBackUserMemory();

    void fault(const char* what, uint64_t a = 0, uint64_t b = 0);
    int32_t dispatch(const Client& client, gcsIO_REQUEST& r, bool deferred);

    int32_t allocateNode(const Client& c, gcsIO_REQUEST& r);
    Node* findNode(uint32_t handle);
    int32_t releaseNode(uint32_t pid, uint32_t handle);
    void dropNodeIfUnused(uint32_t index);
    int32_t lockNode(const Client& c, gcsIO_REQUEST& r);
    int32_t unlockNode(uint32_t pid, gcsIO_REQUEST& r, bool deferred);
    int32_t allocateContiguous(const Client& c, gcsIO_REQUEST& r, uint32_t kind);
    int32_t freeContiguous(const Client& c, gcsIO_REQUEST& r, uint32_t kind);
    int32_t userSignal(const Client& c, gcsIO_REQUEST& r);
    int32_t setSignal(uint32_t id, bool state);
    int32_t mapUserMemory(const Client& c, gcsIO_REQUEST& r);
    int32_t unmapUserMemory(const Client& c, gcsIO_REQUEST& r);
    int32_t sharedBuffer(const Client& c, gcsIO_REQUEST& r);
    int32_t commit(const Client& c, gcsIO_REQUEST& r);
    int32_t runEvents(const Client& c, uint64_t head, uint32_t hardwareType);
    int32_t cache(const Client& c, gcsIO_REQUEST& r);
    int32_t runStream(std::span<const uint32_t> words);
    bool insideNode(uint64_t offset, uint64_t bytes) const;

    VideoMemory& memory_;
    const ChipProfile* profile_;
    Version version_ = kDefaultVersion;

    std::vector<Node> nodes_;  // index 0 unused
    std::map<uint32_t, uint32_t> names_;  // name -> node handle
    uint32_t nextName_ = 0x100;
    std::map<uint64_t, Allocation> allocations_;  // offset -> allocation
    std::map<uint32_t, Signal> signals_;
    uint32_t nextSignal_ = 1;
    uint64_t signalEpoch_ = 0;
    RangeAllocator userWindow_{PoolRange{0, kUserWindowBytes}};
    std::map<uint64_t, UserMapping> userMappings_;  // GPU address -> mapping
    std::vector<StagedMapping> staged_;              // during one stream's run
    std::map<uint32_t, std::vector<uint8_t>> sharedBuffers_;
    uint32_t nextSharedBuffer_ = 1;
    std::map<uint32_t, uint32_t> contexts_;  // handle -> pid
    uint32_t nextContext_ = 1;
    std::map<uint32_t, uint32_t> registers_;
    uint32_t powerState_ = 0;

    Core2D core_;
    std::vector<uint32_t> lastStream_;  // the last stream executed, for save-stream

    uint64_t requests_ = 0, faults_ = 0, commits_ = 0, commitBytes_ = 0, events_ = 0,
             signalsFired_ = 0;
    std::string lastFault_;
};

}  // namespace veld::gpusim
