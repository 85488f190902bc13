// The eMMC replay-protected partition seam (see emmc_device.h). A process keeps one connection
// to the simulator, opened on first use and again after a fork, a change of root or namespace,
// or when the simulator went away (the send is refused); exchanges of its threads take turns on
// it, as requests to one part do. An exchange makes no system call besides its send and receive.
#include "emmc_device.h"

#include <pthread.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "seam.h"

namespace veld::emmcDevice {
namespace {

std::mutex gMutex;
int gFd = -1;
// The root and namespace whose simulator gFd reaches (a test may move to another of each).
std::string gRoot, gNs;
std::once_flag gForkHook;

// A forked child makes its own connection; the parent's stays the parent's. The fork waits
// for a running exchange, so that the child never finds the mutex taken by a thread it lacks.
void watchForks() {
    ::pthread_atfork([] { gMutex.lock(); }, [] { gMutex.unlock(); },
                     [] {
                         gFd = -1;
                         gMutex.unlock();
                     });
}

bool sameText(const std::string& seen, const char* now) { return seen == (now ? now : ""); }

// Whether gFd reaches the simulator of the current root and namespace. Read per exchange
// without building its socket's path.
bool connectionCurrent() {
    return gFd >= 0 && sameText(gRoot, std::getenv("VELD_ROOT")) && sameText(gNs, std::getenv("VELD_NS"));
}

bool reconnect() {
    if (gFd >= 0) ::close(gFd);
    gFd = wire::connectSimulator();
    if (gFd < 0) return false;
    const char* root = std::getenv("VELD_ROOT");
    const char* ns = std::getenv("VELD_NS");
    gRoot = root ? root : "";
    gNs = ns ? ns : "";
    return true;
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
    // The simulator went away after it took the request: unlike a refused send (EPIPE), the
    // request may have been carried out.
    if (n == 0) errno = ECONNRESET;
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
    std::call_once(gForkHook, [] { watchForks(); });
    const uint16_t requestType = rpmb::typeOf(frame);
    std::lock_guard guard(gMutex);
    if (!connectionCurrent() && !reconnect()) return -1;
    wire::Request request{wire::kExchange, 0, sizeof frame, 0};
    wire::Reply reply{};
    rpmb::Frame response{};
    int n = wire::call(gFd, request, &frame, reply, &response, sizeof response);
    if (n < 0 && errno == EPIPE && reconnect()) {
        // The simulator ended or restarted since the last exchange (the send was refused): the
        // request reached nobody, so it goes to the new one.
        n = wire::call(gFd, request, &frame, reply, &response, sizeof response);
    }
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
