// Daemon endpoint client (see client.h).
#include "client.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <chrono>
#include <cstring>

#include "seam.h"

namespace veld::tools {

std::optional<DaemonClient> DaemonClient::open(std::string& error) {
    return open(seam::path(msg::kEndpointPath), error);
}

std::optional<DaemonClient> DaemonClient::open(const std::string& endpointPath,
                                               std::string& error) {
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string("socket: ") + strerror(errno);
        return std::nullopt;
    }
    // Binding only the family asks the kernel for a unique abstract address: the daemon
    // answers there, and nothing is left in the file system when the client ends.
    sockaddr_un self{};
    self.sun_family = AF_UNIX;
    if (bind(fd, reinterpret_cast<sockaddr*>(&self), sizeof(sa_family_t)) != 0) {
        error = std::string("bind: ") + strerror(errno);
        close(fd);
        return std::nullopt;
    }
    return DaemonClient(fd, endpointPath);
}

DaemonClient::DaemonClient(DaemonClient&& other) noexcept
    : fd_(other.fd_), endpoint_(std::move(other.endpoint_)) {
    other.fd_ = -1;
}

DaemonClient& DaemonClient::operator=(DaemonClient&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) close(fd_);
        fd_ = other.fd_;
        endpoint_ = std::move(other.endpoint_);
        other.fd_ = -1;
    }
    return *this;
}

DaemonClient::~DaemonClient() {
    if (fd_ >= 0) close(fd_);
}

bool DaemonClient::send(const VELDD_IPC_MSG& message, std::string& error) {
    return sendRaw(&message, sizeof message, error);
}

bool DaemonClient::sendRaw(const void* bytes, size_t length, std::string& error) {
    sockaddr_un to{};
    to.sun_family = AF_UNIX;
    if (endpoint_.size() >= sizeof to.sun_path) {
        error = "endpoint path too long: " + endpoint_;
        return false;
    }
    std::memcpy(to.sun_path, endpoint_.c_str(), endpoint_.size() + 1);
    for (;;) {
        if (sendto(fd_, bytes, length, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&to), sizeof to) >= 0)
            return true;
        if (errno == EINTR) continue;
        if (errno == ENOENT)
            error = "veldd is not running (no endpoint at " + endpoint_ + ")";
        else if (errno == ECONNREFUSED)
            error = "veldd is not running (nothing listens on the endpoint " + endpoint_ +
                    ", left by a daemon that has stopped)";
        else
            error = "can't send to " + endpoint_ + ": " + strerror(errno);
        return false;
    }
}

std::optional<VELDD_IPC_MSG> DaemonClient::receive(int timeoutMs) {
    const auto until = [start = std::chrono::steady_clock::now(), timeoutMs] {
        const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start).count();
        return timeoutMs < 0 ? -1 : static_cast<int>(std::max<long long>(0, timeoutMs - spent));
    };
    for (;;) {
        pollfd p{fd_, POLLIN, 0};
        const int ready = poll(&p, 1, until());
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return std::nullopt;
        VELDD_IPC_MSG message{};
        const ssize_t n = recv(fd_, &message, sizeof message, MSG_DONTWAIT);
        if (n == static_cast<ssize_t>(sizeof message)) return message;
        if (n < 0 && errno != EINTR && errno != EAGAIN) return std::nullopt;
    }
}

std::optional<VELDD_IPC_MSG> DaemonClient::request(const VELDD_IPC_MSG& message, int timeoutMs,
                                                   std::string& error) {
    if (!send(message, error)) return std::nullopt;
    auto reply = receive(timeoutMs);
    if (!reply) error = "no reply from veldd within " + std::to_string(timeoutMs) + " ms";
    return reply;
}

VELDD_IPC_MSG makeRequest(uint32_t id, bool wantReply, uint32_t data1) {
    VELDD_IPC_MSG m{};
    m.flags = msg::kFlagRequest | (wantReply ? msg::kFlagWantsReply : 0);
    m.id = id;
    m.data[1] = data1;
    return m;
}

}  // namespace veld::tools
