// The GPU simulator's socket server (see gpu_server.h).
//
// Control commands (one datagram of text after a Control header; the answer is text):
//   status                 the status page that veldctl gpu status prints
//   counters               key=value lines: requests, faults, commits, nodes, ...
//   version MAJ MIN PAT B  report this driver version from now on
//   interrupt N            answer the next N ioctl requests with EINTR, unexecuted
//   save-stream FILE       write the last executed command stream to FILE (raw words)
//   target                 key=value lines: the latest 2D draw's target (veldctl gpu shot)
#include "gpu_server.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "gal_request.h"
#include "gal_status.h"
#include "gpu_device.h"
#include "seam.h"

namespace veld::gpusim {

namespace wire = veld::gpu_device::wire;

GpuServer::~GpuServer() {
    for (auto& [fd, c] : connections_) ::close(fd);
    if (listener_ >= 0) {
        ::close(listener_);
        ::unlink(path_.c_str());
    }
}

bool GpuServer::listen(std::string& error) {
    path_ = seam::simSocket("gpu");
    // The socket is bound under a temporary name and renamed once it listens, so that a
    // client that sees the path can connect.
    const std::string temporary = path_ + ".new";
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (temporary.size() >= sizeof addr.sun_path) {
        error = "socket path too long: " + path_;
        return false;
    }
    std::memcpy(addr.sun_path, temporary.c_str(), temporary.size() + 1);
    listener_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    ::unlink(temporary.c_str());
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener_, 64) != 0 || ::rename(temporary.c_str(), path_.c_str()) != 0) {
        error = "cannot listen on " + path_ + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

void GpuServer::run(volatile sig_atomic_t& stop, const sigset_t& unblocked) {
    std::vector<pollfd> fds;
    while (!stop) {
        fds.clear();
        fds.push_back({listener_, POLLIN, 0});
        for (auto& [fd, c] : connections_) fds.push_back({fd, POLLIN, 0});
        timespec timeout{1, 0};
        timespec* wait = nullptr;
        const auto now = std::chrono::steady_clock::now();
        for (const Parked& p : parked_) {
            if (p.forever) continue;
            const auto left = std::max(p.deadline - now, std::chrono::steady_clock::duration(0));
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            timespec t{time_t(ns / 1000000000), long(ns % 1000000000)};
            if (!wait || t.tv_sec < timeout.tv_sec ||
                (t.tv_sec == timeout.tv_sec && t.tv_nsec < timeout.tv_nsec))
                timeout = t;
            wait = &timeout;
        }
        const int n = ::ppoll(fds.data(), fds.size(), wait, &unblocked);
        if (n < 0) continue;  // EINTR: a signal; the loop checks `stop`
        if (fds[0].revents & POLLIN) accept();
        for (size_t i = 1; i < fds.size(); ++i)
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) serve(fds[i].fd);
        retryParked(kernel_.signalEpoch() == seenEpoch_);
    }
}

void GpuServer::accept() {
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    wire::Welcome welcome{wire::kWelcomeMagic, static_cast<uint32_t>(::getpid()), kPhysicalBase,
                          kVideoBytes};
    alignas(cmsghdr) char controlBytes[CMSG_SPACE(sizeof(int))] = {};
    iovec iov{&welcome, sizeof welcome};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = controlBytes;
    msg.msg_controllen = sizeof controlBytes;
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(sizeof(int));
    const int memoryFd = memory_.fd();
    std::memcpy(CMSG_DATA(c), &memoryFd, sizeof memoryFd);
    if (::sendmsg(fd, &msg, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof welcome)) {
        ::close(fd);
        return;
    }
    connections_[fd] = Connection{};
}

void GpuServer::reply(int fd, int64_t result, int error) {
    wire::Reply r{result, error, 0};
    ::send(fd, &r, sizeof r, MSG_NOSIGNAL | MSG_DONTWAIT);
}

void GpuServer::serve(int fd) {
    auto it = connections_.find(fd);
    if (it == connections_.end()) return;
    Connection& conn = it->second;
    std::vector<char> buffer(wire::kControlMax);
    const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        closeConnection(fd);
        return;
    }
    if (n < static_cast<ssize_t>(sizeof(wire::Message))) return;
    wire::Message m{};
    std::memcpy(&m, buffer.data(), sizeof m);
    switch (m.kind) {
    case wire::Kind::Hello:
        conn.pid = m.pid;
        conn.mapBase = m.mapBase;
        conn.greeted = true;
        reply(fd, 0, 0);
        return;
    case wire::Kind::Control: {
        const std::string answer =
            control(std::string_view(buffer.data() + sizeof m, size_t(n) - sizeof m));
        ::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        return;
    }
    case wire::Kind::Ioctl:
        break;
    default:
        reply(fd, -1, EINVAL);
        return;
    }
    if (!conn.greeted) return reply(fd, -1, EPROTO);
    if (m.request != GAL_IOCTL_REQUEST) return reply(fd, -1, ENOTTY);
    if (interruptsPending_ > 0) {
        --interruptsPending_;
        return reply(fd, -1, EINTR);
    }
    gcsIO_ARGS args{};
    if (!ProcessMemory::read(m.pid, m.argument, &args, sizeof args)) return reply(fd, -1, EFAULT);
    if (args.inSize != sizeof(gcsIO_REQUEST) || args.outSize != sizeof(gcsIO_REQUEST))
        return reply(fd, -1, EINVAL);
    gcsIO_REQUEST request{};
    if (!ProcessMemory::read(m.pid, args.inPointer, &request, sizeof request))
        return reply(fd, -1, EFAULT);
    const Client client{m.pid, conn.mapBase};
    if (kernel_.handle(client, request) == GpuKernel::Outcome::Wait) {
        const uint32_t ms = gal::field<uint32_t>(request, 12);
        parked_.push_back(Parked{fd, m.pid, args.outPointer, request, ms == 0xFFFFFFFFu,
                                 std::chrono::steady_clock::now() + std::chrono::milliseconds(ms)});
        return;
    }
    if (!ProcessMemory::write(m.pid, args.outPointer, &request, sizeof request))
        return reply(fd, -1, EFAULT);
    reply(fd, 0, 0);
}

void GpuServer::finishParked(Parked& p) {
    if (!ProcessMemory::write(p.pid, p.output, &p.request, sizeof p.request))
        return reply(p.fd, -1, EFAULT);
    reply(p.fd, 0, 0);
}

// Parked waits whose signal fired are answered; with `expireOnly` (nothing was signalled since
// the last pass) only those whose time ran out are.
void GpuServer::retryParked(bool expireOnly) {
    seenEpoch_ = kernel_.signalEpoch();
    const auto now = std::chrono::steady_clock::now();
    for (auto it = parked_.begin(); it != parked_.end();) {
        if (!expireOnly && kernel_.retryWait(it->request)) {
            finishParked(*it);
            it = parked_.erase(it);
        } else if (!it->forever && it->deadline <= now) {
            it->request.status = gcvSTATUS_TIMEOUT;
            finishParked(*it);
            it = parked_.erase(it);
        } else {
            ++it;
        }
    }
}

void GpuServer::closeConnection(int fd) {
    auto it = connections_.find(fd);
    const uint32_t pid = it->second.pid;
    ::close(fd);
    connections_.erase(it);
    parked_.erase(std::remove_if(parked_.begin(), parked_.end(),
                                 [fd](const Parked& p) { return p.fd == fd; }),
                  parked_.end());
    if (pid == 0) return;
    for (const auto& [other, c] : connections_)
        if (c.pid == pid) return;
    kernel_.processGone(pid);
}

std::string GpuServer::control(std::string_view command) {
    std::istringstream in{std::string(command)};
    std::string verb;
    in >> verb;
    if (verb == "interrupt") {
        uint64_t n = 0;
        if (!(in >> n)) return "error: interrupt needs a count\n";
        interruptsPending_ = n;
        return "ok\n";
    }
    if (verb == "status") {
        std::ostringstream out;
        out << kernel_.status();
        std::vector<uint32_t> pids;
        for (const auto& [fd, c] : connections_)
            if (c.pid && std::find(pids.begin(), pids.end(), c.pid) == pids.end())
                pids.push_back(c.pid);
        out << "clients: " << pids.size() << " process" << (pids.size() == 1 ? "" : "es");
        for (size_t i = 0; i < pids.size(); ++i) out << (i ? ", " : " (pids ") << pids[i];
        out << (pids.empty() ? "" : ")") << ", " << parked_.size() << " waiting on a signal\n";
        return out.str();
    }
    return kernel_.control(command);
}

}  // namespace veld::gpusim
