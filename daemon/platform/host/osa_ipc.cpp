// The message endpoint of the platform library on a PC: an AF_UNIX datagram socket bound at
// the endpoint's path (under VELD_ROOT). A reply goes to the sender of the message last
// received on the endpoint. Datagrams that are not exactly one message are dropped here with
// a log line, so callers only ever see whole messages; receive errors are real socket
// failures. Sending never blocks: a client that stops reading loses its reply, not the daemon.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "host_internal.h"
#include "seam.h"
#include "veldcore.h"

namespace {

struct Endpoint {
    int fd = -1;
    sockaddr_un sender{};
    socklen_t senderLength = 0;
};

std::mutex gEndpointsLock;
std::vector<std::unique_ptr<Endpoint>> gEndpoints;  // handle = index + 1

Endpoint* endpointOf(uint32_t handle) {
    std::lock_guard lock(gEndpointsLock);
    if (handle == 0 || handle > gEndpoints.size()) return nullptr;
    return gEndpoints[handle - 1].get();
}

std::string describe(const sockaddr_un& address, socklen_t length) {
    if (length <= sizeof(sa_family_t)) return "(unbound)";
    const size_t size = length - sizeof(sa_family_t);
    if (address.sun_path[0] == '\0') {  // an abstract address, shown as "@name"
        std::string name(1, '@');
        name.append(address.sun_path + 1, size - 1);
        return name;
    }
    return std::string(address.sun_path, strnlen(address.sun_path, size));
}

}  // namespace

extern "C" {

uint32_t VELD_OSA_OpenIPCServer(const char* path, uint32_t depth) {
    if (!path) return 0;
    const std::string where = veld::seam::path(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (where.size() >= sizeof address.sun_path) {
        VELD_HOST_LOG(0, "endpoint path too long: %s\n", where.c_str());
        return 0;
    }
    std::memcpy(address.sun_path, where.c_str(), where.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        VELD_HOST_LOG(0, "endpoint socket: %s\n", strerror(errno));
        return 0;
    }
    // A killed server leaves its socket file behind; the new server takes the path over.
    unlink(where.c_str());
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        VELD_HOST_LOG(0, "endpoint bind %s: %s\n", where.c_str(), strerror(errno));
        close(fd);
        return 0;
    }
    // Room for `depth` messages plus the kernel's per-datagram overhead.
    int bytes = static_cast<int>(depth ? depth : 32) * 1024;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    auto endpoint = std::make_unique<Endpoint>();
    endpoint->fd = fd;
    std::lock_guard lock(gEndpointsLock);
    gEndpoints.push_back(std::move(endpoint));
    return static_cast<uint32_t>(gEndpoints.size());
}

int32_t VELD_OSA_RecvIPCMsg(uint32_t handle, void* message, int32_t timeoutMs) {
    Endpoint* endpoint = endpointOf(handle);
    if (!endpoint || !message) return -1;
    const uint32_t start = VELD_OSA_ReadMsTicks();
    for (;;) {
        // Waiting for ever is a plain blocking receive; only a time-out needs poll().
        if (timeoutMs >= 0) {
            const uint32_t spent = VELD_OSA_ReadMsTicks() - start;
            const int wait = spent >= static_cast<uint32_t>(timeoutMs)
                                 ? 0
                                 : timeoutMs - static_cast<int>(spent);
            pollfd p{endpoint->fd, POLLIN, 0};
            const int ready = poll(&p, 1, wait);
            if (ready < 0) {
                if (errno == EINTR) continue;
                VELD_HOST_LOG(0, "endpoint poll: %s\n", strerror(errno));
                return -1;
            }
            if (ready == 0) return -2;  // time-out
        }

        unsigned char buffer[VELD_IPC_MSG_BYTES + 1];
        sockaddr_un sender{};
        socklen_t senderLength = sizeof sender;
        const ssize_t n = recvfrom(endpoint->fd, buffer, sizeof buffer,
                                   MSG_TRUNC | (timeoutMs >= 0 ? MSG_DONTWAIT : 0),
                                   reinterpret_cast<sockaddr*>(&sender), &senderLength);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            VELD_HOST_LOG(0, "endpoint receive: %s\n", strerror(errno));
            return -1;
        }
        if (n != VELD_IPC_MSG_BYTES) {
            VELD_HOST_LOG(1, "dropped a datagram of %zd bytes from %s (a message is %d)\n", n,
                          describe(sender, senderLength).c_str(), VELD_IPC_MSG_BYTES);
            continue;
        }
        std::memcpy(message, buffer, VELD_IPC_MSG_BYTES);
        endpoint->sender = sender;
        endpoint->senderLength = senderLength;
        return 0;
    }
}

int32_t VELD_OSA_SendIPCMsg(uint32_t handle, const void* message) {
    Endpoint* endpoint = endpointOf(handle);
    if (!endpoint || !message) return -1;
    if (endpoint->senderLength <= sizeof(sa_family_t)) {
        VELD_HOST_LOG(1, "no reply address: the sender did not bind one\n");
        return -1;
    }
    const ssize_t n = sendto(endpoint->fd, message, VELD_IPC_MSG_BYTES, MSG_DONTWAIT | MSG_NOSIGNAL,
                             reinterpret_cast<const sockaddr*>(&endpoint->sender),
                             endpoint->senderLength);
    if (n != VELD_IPC_MSG_BYTES) {
        VELD_HOST_LOG(1, "reply to %s lost: %s\n",
                      describe(endpoint->sender, endpoint->senderLength).c_str(),
                      n < 0 ? strerror(errno) : "short send");
        return -1;
    }
    return 0;
}

}  // extern "C"
