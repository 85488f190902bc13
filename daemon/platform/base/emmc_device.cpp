// The eMMC replay-protected partition seam (see emmc_device.h). A process keeps one connection
// to the simulator, opened on first use and again after a fork or when the simulator went away;
// exchanges of its threads take turns on it, as requests to one part do.
#include "emmc_device.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>

#include "seam.h"

namespace veld::emmcDevice {
namespace {

std::mutex gMutex;
int gFd = -1;
pid_t gOwner = 0;     // the process that opened gFd (a forked child opens its own)
std::string gSocket;  // the simulator it reaches (the root and namespace may change)

// Whether the connection still reaches a simulator: one that ended or restarted has closed
// it, which shows before anything is sent on it.
bool connectionUsable(const std::string& socket) {
    if (gFd < 0 || gOwner != ::getpid() || socket != gSocket) return false;
    pollfd p{gFd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 0;
}

}  // namespace

namespace wire {

int call(int fd, const Request& request, const void* data, Reply& reply, void* replyData,
         size_t replyCapacity) {
    iovec out[2] = {{const_cast<Request*>(&request), sizeof request},
                    {const_cast<void*>(data), request.length}};
    msghdr send{};
    send.msg_iov = out;
    send.msg_iovlen = request.length ? 2 : 1;
    ssize_t n;
    do {
        n = ::sendmsg(fd, &send, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return -1;
    iovec in[2] = {{&reply, sizeof reply}, {replyData, replyCapacity}};
    msghdr receive{};
    receive.msg_iov = in;
    receive.msg_iovlen = replyCapacity ? 2 : 1;
    do {
        n = ::recvmsg(fd, &receive, 0);
    } while (n < 0 && errno == EINTR);
    if (n == 0) errno = EPIPE;
    if (n <= 0) return -1;
    if (static_cast<size_t>(n) < sizeof reply || (receive.msg_flags & MSG_TRUNC) ||
        reply.length != static_cast<size_t>(n) - sizeof reply) {
        errno = EPROTO;
        return -1;
    }
    return static_cast<int>(reply.length);
}

int connectSimulator() { return seam::connectSimulator("emmc"); }

}  // namespace wire

int exchange(rpmb::Frame& frame) {
    if (!seam::simulated()) {
        errno = ENODEV;
        return -1;
    }
    const uint16_t requestType = rpmb::typeOf(frame);
    std::lock_guard guard(gMutex);
    const std::string socket = seam::simSocket("emmc");
    if (!connectionUsable(socket)) {
        // A parent's connection stays the parent's: the child only forgets it.
        if (gFd >= 0 && gOwner == ::getpid()) ::close(gFd);
        gFd = wire::connectSimulator();
        if (gFd < 0) return -1;
        gOwner = ::getpid();
        gSocket = socket;
    }
    wire::Request request{wire::kExchange, 0, sizeof frame, 0};
    wire::Reply reply{};
    rpmb::Frame response{};
    const int n = wire::call(gFd, request, &frame, reply, &response, sizeof response);
    if (n < 0) {
        const int saved = errno;
        ::close(gFd);  // the next exchange connects again (the simulator may have restarted)
        gFd = -1;
        errno = saved;
        return -1;
    }
    if (reply.result != 0 || n != static_cast<int>(sizeof response)) {
        errno = reply.result != 0 ? reply.error : EPROTO;
        return -1;
    }
    frame = response;
    // A write is answered through the result read that follows it.
    const uint16_t expected = rpmb::responseOf(requestType);
    if (rpmb::typeOf(frame) != expected || rpmb::resultOf(frame) != rpmb::kOk) {
        errno = EIO;
        return -1;
    }
    return 0;
}

}  // namespace veld::emmcDevice
