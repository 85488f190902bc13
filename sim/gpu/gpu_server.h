// The GPU simulator's server: a SOCK_SEQPACKET socket at seam::simSocket("gpu") on which each
// client connection gets the video memory's descriptor, says where it mapped it, and sends
// ioctl requests that the kernel (GpuKernel) answers by reading and writing the caller's
// memory. Signal waits are parked until their signal fires or their time runs out. A
// process's resources are reclaimed when its last connection closes.
#pragma once

#include <signal.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "gal_kernel.h"
#include "gpu_kernel.h"
#include "video_memory.h"

namespace veld::gpusim {

class GpuServer {
public:
    GpuServer(GpuKernel& kernel, VideoMemory& memory) : kernel_(kernel), memory_(memory) {}
    ~GpuServer();
    GpuServer(const GpuServer&) = delete;
    GpuServer& operator=(const GpuServer&) = delete;

    bool listen(std::string& error);
    // Serves until `stop` is set by a signal handler; the signals in `unblocked` are let in
    // only while the server waits.
    void run(volatile sig_atomic_t& stop, const sigset_t& unblocked);

private:
    struct Connection {
        uint32_t pid = 0;
        uint64_t mapBase = 0;
        bool greeted = false;
    };
    struct Parked {
        int fd;
        uint32_t pid;
        uint64_t output;
        gcsIO_REQUEST request;
        bool forever;
        std::chrono::steady_clock::time_point deadline;
    };

    void accept();
    void serve(int fd);
    void closeConnection(int fd);
    void reply(int fd, int64_t result, int error);
    void finishParked(Parked& p);
    void retryParked(bool expireOnly);
    std::string control(std::string_view command);

    GpuKernel& kernel_;
    VideoMemory& memory_;
    std::string path_;
    int listener_ = -1;
    std::map<int, Connection> connections_;
    std::vector<Parked> parked_;
    uint64_t seenEpoch_ = 0;
    uint64_t interruptsPending_ = 0;
};

}  // namespace veld::gpusim
