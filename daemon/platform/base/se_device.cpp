// The secure-engine device seam (see se_device.h).
#include "se_device.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <linux/netlink.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "seam.h"

namespace veld::seDevice {
namespace {

// The device's requests and the size of each one's argument record.
struct RequestSize {
    unsigned long request;
    int size;
};
constexpr RequestSize kRequestSizes[] = {
    {0x800453FFul, 20},  // get memory info: five words out
    {0x80045380ul, 16},  // cache maintenance {address, size, 0, operation}
    {0x80045301ul, 4},   // set DMA-info address
    {0xC0045300ul, 32},  // run command: the eight-word header
    {0x800453F1ul, 4},   // get suspend state
    {0x000053FEul, 0},   // initialisation done
    {0x00005300ul, 0},   // succeeds when the process must reach the eMMC through the daemon
    {0xC0045390ul, 256}, // a request text relayed to the secure-engine daemon, reply in place
};

constexpr unsigned long kRelayRequest = 0xC0045390ul;

ssize_t sendAll(int fd, const wire::Request& request, const void* data) {
    iovec parts[2] = {{const_cast<wire::Request*>(&request), sizeof request},
                      {const_cast<void*>(data), request.length}};
    msghdr msg{};
    msg.msg_iov = parts;
    msg.msg_iovlen = request.length ? 2 : 1;
    ssize_t n;
    do {
        n = ::sendmsg(fd, &msg, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n;
}

}  // namespace

int argumentSize(unsigned long request) {
    for (const RequestSize& r : kRequestSizes)
        if (r.request == request) return r.size;
    return -1;
}

namespace wire {

int call(int fd, const Request& request, const void* data, Reply& reply, void* replyData,
         size_t replyCapacity, int* received) {
    if (received) *received = -1;
    if (sendAll(fd, request, data) < 0) return -1;
    iovec parts[2] = {{&reply, sizeof reply}, {replyData, replyCapacity}};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
    msghdr msg{};
    msg.msg_iov = parts;
    msg.msg_iovlen = replyCapacity ? 2 : 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n;
    do {
        n = ::recvmsg(fd, &msg, MSG_CMSG_CLOEXEC);
    } while (n < 0 && errno == EINTR);
    if (n == 0) errno = EPIPE;
    if (n <= 0) return -1;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS) {
            int passed = -1;
            std::memcpy(&passed, CMSG_DATA(c), sizeof passed);
            if (received) *received = passed;
            else ::close(passed);
        }
    }
    // A reply that is shorter than its header, or says more than arrived, is not one.
    if (static_cast<size_t>(n) < sizeof reply || (msg.msg_flags & MSG_TRUNC) ||
        reply.length != static_cast<size_t>(n) - sizeof reply) {
        if (received && *received >= 0) ::close(*received);
        errno = EPROTO;
        return -1;
    }
    return static_cast<int>(reply.length);
}

int connectSimulator() { return seam::connectSimulator("tw"); }

}  // namespace wire

int open(const char* fixedPath, int flags) {
    if (!seam::simulated()) return ::open(seam::path(fixedPath).c_str(), flags | O_CLOEXEC);
    return wire::connectSimulator();
}

int ioctl(int fd, unsigned long request, void* argument) {
    if (!seam::simulated()) return ::ioctl(fd, request, argument);
    const int size = argumentSize(request);
    if (size < 0) {
        errno = ENOTTY;
        return -1;
    }
    if (size > 0 && !argument) {
        errno = EFAULT;
        return -1;
    }
    wire::Request message{wire::kIoctl, static_cast<uint32_t>(request), 0, 0,
                          static_cast<uint32_t>(size), 0};
    wire::Reply reply{};
    uint8_t out[wire::kMaxData];
    // A relayed request waits for the daemon; it goes over a connection of its own so that
    // the descriptor stays usable by the process's other threads meanwhile.
    const bool relayed = request == kRelayRequest;
    const int channel = relayed ? wire::connectSimulator() : fd;
    if (channel < 0) return -1;
    const int n = wire::call(channel, message, argument, reply, out, sizeof out);
    if (relayed) {
        const int saved = errno;
        ::close(channel);
        errno = saved;
    }
    if (n < 0) return -1;
    // The device writes the argument back on success and failure alike (the run-command
    // header carries the trusted world's result code out of a failed request).
    if (n == size && size > 0) std::memcpy(argument, out, static_cast<size_t>(size));
    if (reply.result != 0) {
        errno = reply.error;
        return -1;
    }
    return 0;
}

void* map(size_t length, int prot, int fd, off_t offset) {
    if (!seam::simulated()) return ::mmap(nullptr, length, prot, MAP_SHARED, fd, offset);
    wire::Request message{wire::kMap, 0, static_cast<uint64_t>(offset), length, 0, 0};
    wire::Reply reply{};
    int window = -1;
    if (wire::call(fd, message, nullptr, reply, nullptr, 0, &window) < 0) return MAP_FAILED;
    if (reply.result != 0 || window < 0) {
        if (window >= 0) ::close(window);
        errno = reply.result != 0 ? reply.error : EPROTO;
        return MAP_FAILED;
    }
    void* address = ::mmap(nullptr, length, prot, MAP_SHARED, window,
                           static_cast<off_t>(reply.value));
    const int saved = errno;
    ::close(window);
    errno = saved;
    return address;
}

int unmap(void* address, size_t length) { return ::munmap(address, length); }

int netlinkOpen(int protocol) {
    if (!seam::simulated()) {
        const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, protocol);
        if (fd < 0) return -1;
        sockaddr_nl self{};
        self.nl_family = AF_NETLINK;
        self.nl_pid = static_cast<uint32_t>(::getpid());
        if (::bind(fd, reinterpret_cast<sockaddr*>(&self), sizeof self) != 0) {
            const int saved = errno;
            ::close(fd);
            errno = saved;
            return -1;
        }
        return fd;
    }
    const int fd = wire::connectSimulator();
    if (fd < 0) return -1;
    wire::Request message{wire::kNetlink, 0, static_cast<uint64_t>(protocol), 0, 0, 0};
    wire::Reply reply{};
    if (wire::call(fd, message, nullptr, reply, nullptr, 0) < 0 || reply.result != 0) {
        const int saved = reply.result != 0 ? reply.error : errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

ssize_t netlinkSend(int fd, const void* frame, size_t length) {
    ssize_t n;
    if (!seam::simulated()) {
        sockaddr_nl kernel{};
        kernel.nl_family = AF_NETLINK;
        do {
            n = ::sendto(fd, frame, length, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel);
        } while (n < 0 && errno == EINTR);
        return n;
    }
    do {
        n = ::send(fd, frame, length, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n;
}

ssize_t netlinkReceive(int fd, void* buffer, size_t capacity) {
    ssize_t n;
    do {
        n = ::recv(fd, buffer, capacity, 0);
    } while (n < 0 && errno == EINTR);
    if (n == 0 && seam::simulated()) {
        errno = ECONNRESET;  // the simulator went away
        return -1;
    }
    return n;
}

int close(int fd) { return ::close(fd); }

}  // namespace veld::seDevice
