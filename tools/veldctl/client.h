// A client of the daemon's message endpoint, for veldctl, tests and benchmarks: sends
// VELDD_IPC_MSG records to "/tmp/veldd_ipc_" (under VELD_ROOT) from an automatically bound
// abstract address, so that the daemon can answer it.
#pragma once

#include <optional>
#include <string>

#include "veldd_msg.h"

namespace veld::tools {

class DaemonClient {
public:
    // Opens a client socket; on failure returns nullopt and says why in `error`.
    static std::optional<DaemonClient> open(std::string& error);
    // A client of an endpoint at another (already resolved) path.
    static std::optional<DaemonClient> open(const std::string& endpointPath, std::string& error);

    DaemonClient(DaemonClient&& other) noexcept;
    DaemonClient& operator=(DaemonClient&& other) noexcept;
    DaemonClient(const DaemonClient&) = delete;
    DaemonClient& operator=(const DaemonClient&) = delete;
    ~DaemonClient();

    // Sends one message; false with a one-line reason when the daemon can't be reached.
    bool send(const VELDD_IPC_MSG& message, std::string& error);
    // Sends raw bytes (tests of malformed datagrams).
    bool sendRaw(const void* bytes, size_t length, std::string& error);
    // Waits up to timeoutMs for the next whole message.
    std::optional<VELDD_IPC_MSG> receive(int timeoutMs);
    // send() then receive(): the reply, or nullopt with the reason in `error`.
    std::optional<VELDD_IPC_MSG> request(const VELDD_IPC_MSG& message, int timeoutMs,
                                         std::string& error);

    const std::string& endpointPath() const { return endpoint_; }
    int fd() const { return fd_; }

private:
    DaemonClient(int fd, std::string endpoint) : fd_(fd), endpoint_(std::move(endpoint)) {}
    int fd_ = -1;
    std::string endpoint_;
};

// A request record: flags 1 (| 0x100 when a reply is wanted), the id and data words.
VELDD_IPC_MSG makeRequest(uint32_t id, bool wantReply, uint32_t data1 = 0);

}  // namespace veld::tools
