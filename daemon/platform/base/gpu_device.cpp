// The GPU device seam (see gpu_device.h): system calls on the real node, or a connection per
// thread to the GPU simulator, which reads the caller's request records from its memory as a
// kernel does. The video memory is mapped once per open device so that the simulator can hand
// out addresses in the caller's space.
#include "gpu_device.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "seam.h"

namespace veld::gpu_device {
namespace {

using wire::Kind;
using wire::Message;
using wire::Reply;
using wire::Welcome;

pid_t threadId() { return static_cast<pid_t>(::syscall(SYS_gettid)); }

// A socket descriptor that closes itself.
struct Socket {
    int fd = -1;
    Socket() = default;
    explicit Socket(int f) : fd(f) {}
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    ~Socket() {
        if (fd >= 0) ::close(fd);
    }
    int release() { return std::exchange(fd, -1); }
};

// Connects to the simulator and reads its welcome. The video-memory descriptor that comes with
// it is returned in `memoryFd` when asked for, else closed.
int connectSimulator(Welcome& welcome, int* memoryFd) {
    Socket s(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    if (s.fd < 0) return -1;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string path = seam::simSocket("gpu");
    if (path.size() >= sizeof addr.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    if (::connect(s.fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (errno == ECONNREFUSED) errno = ENOENT;  // no simulator: as if there were no node
        return -1;
    }
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
    iovec iov{&welcome, sizeof welcome};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(s.fd, &msg, MSG_CMSG_CLOEXEC);
    int received = -1;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c))
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS)
            std::memcpy(&received, CMSG_DATA(c), sizeof received);
    Socket memory(received);
    if (n != static_cast<ssize_t>(sizeof welcome) || welcome.magic != wire::kWelcomeMagic ||
        received < 0) {
        errno = EPROTO;
        return -1;
    }
    // The simulator reads and writes our memory as a kernel would; where a security module
    // restricts that to ancestors, name it as the one that may.
    ::prctl(PR_SET_PTRACER, static_cast<unsigned long>(welcome.simulatorPid), 0, 0, 0);
    if (memoryFd) *memoryFd = memory.release();
    return s.release();
}

// One exchange on a connection: a message out, a reply back.
bool exchange(int socket, const Message& m, Reply& reply) {
    ssize_t n;
    do n = ::send(socket, &m, sizeof m, MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    if (n != static_cast<ssize_t>(sizeof m)) return false;
    do n = ::recv(socket, &reply, sizeof reply, 0);
    while (n < 0 && errno == EINTR);
    if (n != static_cast<ssize_t>(sizeof reply)) {
        if (n >= 0) errno = EPIPE;
        return false;
    }
    return true;
}

bool hello(int socket, void* mapBase) {
    Message m{};
    m.kind = Kind::Hello;
    m.pid = static_cast<uint32_t>(::getpid());
    m.mapBase = reinterpret_cast<uintptr_t>(mapBase);
    Reply r{};
    return exchange(socket, m, r) && r.result == 0;
}

// An open simulated device: the first connection, the video memory and its mapping, and one
// further connection for every other thread that makes requests (a request may block in the
// simulator, as a signal wait does, without holding up the other threads).
struct SimDevice {
    int socket = -1;
    pid_t opener = 0;
    int memoryFd = -1;
    uint64_t physicalBase = 0;
    uint64_t bytes = 0;
    void* map = MAP_FAILED;
    std::mutex lock;
    std::map<pid_t, int> threadSockets;

    ~SimDevice() {
        for (auto& [tid, s] : threadSockets) ::close(s);
        if (map != MAP_FAILED) ::munmap(map, bytes);
        if (memoryFd >= 0) ::close(memoryFd);
        if (socket >= 0) ::close(socket);
    }

    // The calling thread's connection, made on its first request.
    int socketForThread() {
        const pid_t tid = threadId();
        if (tid == opener) return socket;
        std::lock_guard<std::mutex> guard(lock);
        auto it = threadSockets.find(tid);
        if (it != threadSockets.end()) return it->second;
        Welcome welcome{};
        Socket s(connectSimulator(welcome, nullptr));
        if (s.fd < 0 || !hello(s.fd, map)) return -1;
        threadSockets[tid] = s.fd;
        return s.release();
    }
};

// The open simulated devices. The registry is never destroyed: a driver may close its device
// from a library destructor that runs after this file's static objects are gone.
std::mutex gRegistryLock;
std::map<int, std::shared_ptr<SimDevice>>& devices() {
    static auto* registry = new std::map<int, std::shared_ptr<SimDevice>>;
    return *registry;
}

std::shared_ptr<SimDevice> findDevice(int fd) {
    std::lock_guard<std::mutex> guard(gRegistryLock);
    auto it = devices().find(fd);
    return it == devices().end() ? nullptr : it->second;
}

int openSimulated() {
    auto device = std::make_shared<SimDevice>();
    Welcome welcome{};
    device->socket = connectSimulator(welcome, &device->memoryFd);
    if (device->socket < 0) return -1;
    device->opener = threadId();
    device->physicalBase = welcome.physicalBase;
    device->bytes = welcome.bytes;
    device->map = ::mmap(nullptr, welcome.bytes, PROT_READ | PROT_WRITE, MAP_SHARED,
                         device->memoryFd, 0);
    if (device->map == MAP_FAILED) return -1;
    if (!hello(device->socket, device->map)) {
        if (errno == 0) errno = EPROTO;
        return -1;
    }
    const int fd = device->socket;
    std::lock_guard<std::mutex> guard(gRegistryLock);
    devices()[fd] = std::move(device);
    return fd;
}

}  // namespace

int open(std::string_view fixedPath) {
    if (!seam::simulated()) return ::open(seam::path(fixedPath).c_str(), O_RDWR | O_CLOEXEC);
    // Only the GPU's own nodes lead to the simulator.
    if (fixedPath != "/dev/galcore" && fixedPath != "/dev/graphics/galcore") {
        errno = ENOENT;
        return -1;
    }
    return openSimulated();
}

int ioctl(int fd, unsigned long request, void* argument) {
    auto device = seam::simulated() ? findDevice(fd) : nullptr;
    if (!device) return ::ioctl(fd, request, argument);
    const int socket = device->socketForThread();
    if (socket < 0) return -1;
    Message m{};
    m.kind = Kind::Ioctl;
    m.pid = static_cast<uint32_t>(::getpid());
    m.request = request;
    m.argument = reinterpret_cast<uintptr_t>(argument);
    Reply reply{};
    if (!exchange(socket, m, reply)) return -1;
    if (reply.result < 0) {
        errno = reply.error;
        return -1;
    }
    return static_cast<int>(reply.result);
}

void* mmap(int fd, size_t bytes, int protection, int flags, uint64_t offset) {
    auto device = seam::simulated() ? findDevice(fd) : nullptr;
    if (!device)
        return ::mmap(nullptr, bytes, protection, flags, fd, static_cast<off_t>(offset));
    // Device offsets are physical addresses; the shared object starts at the physical base.
    if (offset < device->physicalBase || bytes > device->bytes ||
        offset - device->physicalBase > device->bytes - bytes) {
        errno = EINVAL;
        return MAP_FAILED;
    }
    return ::mmap(nullptr, bytes, protection, flags, device->memoryFd,
                  static_cast<off_t>(offset - device->physicalBase));
}

int munmap(void* address, size_t bytes) { return ::munmap(address, bytes); }

int close(int fd) {
    std::shared_ptr<SimDevice> device;
    {
        std::lock_guard<std::mutex> guard(gRegistryLock);
        auto it = devices().find(fd);
        if (it != devices().end()) {
            device = std::move(it->second);
            devices().erase(it);
        }
    }
    if (!device) return ::close(fd);
    return 0;  // the last holder closes the connections and unmaps
}

std::optional<std::string> simControl(std::string_view command) {
    Welcome welcome{};
    Socket s(connectSimulator(welcome, nullptr));
    if (s.fd < 0 || command.size() + sizeof(Message) > wire::kControlMax) return std::nullopt;
    std::string out(sizeof(Message), '\0');
    Message m{};
    m.kind = Kind::Control;
    m.pid = static_cast<uint32_t>(::getpid());
    std::memcpy(out.data(), &m, sizeof m);
    out.append(command);
    if (::send(s.fd, out.data(), out.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(out.size()))
        return std::nullopt;
    std::string answer(wire::kControlMax, '\0');
    ssize_t n;
    do n = ::recv(s.fd, answer.data(), answer.size(), 0);
    while (n < 0 && errno == EINTR);
    if (n < 0) return std::nullopt;
    answer.resize(static_cast<size_t>(n));
    return answer;
}

}  // namespace veld::gpu_device
