// veld_tw: serves the simulated trusted world (tw_world.h) to every client process of one root
// and namespace on seam::simSocket("tw"). One thread polls the listening socket, the clients
// and SIGTERM; requests are served one at a time, as the single trusted world would.
//
// It plays the kernel driver's part towards processes: it knows which process holds which
// descriptor (the connection's peer credentials), and when the last descriptor of a process
// closes, or the process dies, it reports "close:<pid>" as the driver tells the secure-engine
// daemon.
#include <fcntl.h>
#include <openssl/rand.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "seam.h"
#include "se_device.h"
#include "sim_main.h"
#include "sim_socket.h"
#include "tw_world.h"

namespace {

namespace fs = std::filesystem;
using namespace veld;
using seDevice::wire::Reply;
using seDevice::wire::Request;

struct Client {
    int fd;
    int pid;
    bool netlink;  // the secure-engine daemon's netlink socket
};

// What the daemon's next reply answers: a close notice, or a request relayed for a client.
struct Pending {
    int clientFd;  // -1: a close notice, or a client that went away
};

// A netlink frame as the driver sends it: the 16-byte header, then the NUL-terminated text;
// the length is rounded up to a multiple of 4.
std::vector<uint8_t> frame(const std::string& text) {
    const uint32_t length = static_cast<uint32_t>((16 + text.size() + 1 + 3) & ~size_t(3));
    std::vector<uint8_t> out(length, 0);
    std::memcpy(out.data(), &length, 4);
    std::memcpy(out.data() + 16, text.data(), text.size());
    return out;
}

void note(const char* format, const std::string& text) {
    std::fprintf(stderr, format, text.c_str());
    std::fflush(stderr);
}

std::vector<uint8_t> loadOtp() {
    const std::string path = seam::path("/var/veld-sim/otp.bin");
    std::vector<uint8_t> otp(32);
    std::ifstream in(path, std::ios::binary);
    if (in.read(reinterpret_cast<char*>(otp.data()), 32)) return otp;
    RAND_bytes(otp.data(), 32);
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<char*>(otp.data()), 32);
    return otp;
}

// The firmware install of a television puts the user trusted applications here.
void installImages() {
    const std::string dir = seam::path("/usr/lib/qvuta");
    std::error_code ec;
    fs::create_directories(dir, ec);
    for (const char* name : {"luta.ta", "auta.ta", "euta.ta"}) {
        const std::string path = dir + "/" + name;
        if (fs::exists(path, ec)) continue;
        std::vector<char> image(4096);
        RAND_bytes(reinterpret_cast<uint8_t*>(image.data()), static_cast<int>(image.size()));
        std::ofstream(path, std::ios::binary).write(image.data(), static_cast<long>(image.size()));
    }
}

int sendReply(int fd, const Reply& reply, const void* data, int passFd) {
    iovec parts[2] = {{const_cast<Reply*>(&reply), sizeof reply},
                      {const_cast<void*>(data), reply.length}};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr msg{};
    msg.msg_iov = parts;
    msg.msg_iovlen = reply.length ? 2 : 1;
    if (passFd >= 0) {
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(c), &passFd, sizeof passFd);
    }
    return ::sendmsg(fd, &msg, MSG_NOSIGNAL) < 0 ? -1 : 0;
}

class Server {
public:
    Server(int listenFd, int windowFd, tw::World& world)
        : listen_(listenFd), window_(windowFd), world_(world) {}

    // Serves until SIGTERM arrives on `signals`.
    void run(int signals) {
        std::vector<uint8_t> buffer(sizeof(Request) + seDevice::wire::kMaxEcho);
        for (;;) {
            std::vector<pollfd> fds{{signals, POLLIN, 0}, {listen_, POLLIN, 0}};
            for (const Client& c : clients_) fds.push_back({c.fd, POLLIN, 0});
            if (::poll(fds.data(), fds.size(), -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (fds[0].revents) return;
            if (fds[1].revents & POLLIN) accept();
            for (size_t i = 2; i < fds.size(); ++i) {
                if (!fds[i].revents) continue;
                if (!serve(fds[i].fd, buffer)) drop(fds[i].fd);
            }
            std::erase_if(clients_, [](const Client& c) { return c.fd < 0; });
            world_.setClients(static_cast<uint32_t>(clients_.size()));
        }
    }

private:
    void accept() {
        const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) return;
        ucred cred{};
        socklen_t length = sizeof cred;
        ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &length);
        clients_.push_back({fd, cred.pid, false});
    }

    Client* netlinkPeer() {
        for (Client& c : clients_)
            if (c.fd >= 0 && c.netlink) return &c;
        return nullptr;
    }

    // Hands `text` to the daemon as the driver does; false when no daemon listens.
    bool toDaemon(const std::string& text, int clientFd) {
        Client* peer = netlinkPeer();
        if (!peer) return false;
        const std::vector<uint8_t> f = frame(text);
        if (::send(peer->fd, f.data(), f.size(), MSG_NOSIGNAL) < 0) return false;
        pending_.push_back({clientFd});
        return true;
    }

    // A frame from the daemon: the greeting, or the reply to the oldest pending message.
    void fromDaemon(const uint8_t* data, size_t length) {
        std::string text;
        if (length > 16) {
            const char* t = reinterpret_cast<const char*>(data + 16);
            text.assign(t, strnlen(t, length - 16));
        }
        if (pending_.empty()) {
            note("daemon: %s\n", text);
            return;
        }
        const Pending p = pending_.front();
        pending_.erase(pending_.begin());
        if (p.clientFd < 0) {
            note("daemon answered a close notice: %s\n", text);
            return;
        }
        // The reply goes back in the request's 256-byte buffer, terminated.
        uint8_t out[256] = {};
        std::memcpy(out, text.data(), std::min<size_t>(text.size(), sizeof out - 1));
        Reply reply{0, 0, 0, sizeof out, 0};
        sendReply(p.clientFd, reply, out, -1);
        world_.noteRelayed();
    }

    // A descriptor closed: when it was the process's last one, the driver reports the close.
    void drop(int fd) {
        int pid = 0;
        bool netlink = false;
        for (Client& c : clients_)
            if (c.fd == fd) {
                pid = c.pid;
                netlink = c.netlink;
                ::close(c.fd);
                c.fd = -1;
            }
        for (Pending& p : pending_)
            if (p.clientFd == fd) p.clientFd = -1;
        if (netlink) {
            // The daemon went away: what it owed is never answered; the requesters get an error.
            for (const Pending& p : pending_)
                if (p.clientFd >= 0) {
                    Reply reply{-1, EPIPE, 0, 0, 0};
                    sendReply(p.clientFd, reply, nullptr, -1);
                }
            pending_.clear();
            world_.setNetlinkPid(0);
            note("netlink peer %s closed\n", std::to_string(pid));
            return;
        }
        for (const Client& c : clients_)
            if (c.fd >= 0 && c.pid == pid) return;
        const Client* peer = netlinkPeer();
        if (peer && peer->pid == pid) return;  // the daemon's own descriptors
        world_.noteClose(pid);
        const std::string notice = "close:" + std::to_string(pid);
        note("%s\n", notice);
        toDaemon(notice, -1);
    }

    // Serves one message; false when the connection has ended.
    bool serve(int fd, std::vector<uint8_t>& buffer) {
        const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (n <= 0) return false;
        for (const Client& c : clients_)
            if (c.fd == fd && c.netlink) {
                fromDaemon(buffer.data(), static_cast<size_t>(n));
                return true;
            }
        Request request{};
        if (static_cast<size_t>(n) < sizeof request) return false;
        std::memcpy(&request, buffer.data(), sizeof request);
        uint8_t* data = buffer.data() + sizeof request;
        const size_t length = static_cast<size_t>(n) - sizeof request;
        if (request.length != length) return false;  // not one whole request: a broken client
        Reply reply{};
        std::vector<uint8_t> out;
        int passFd = -1;
        int error = 0;
        switch (request.kind) {
        case seDevice::wire::kIoctl:
            if (seDevice::argumentSize(request.request) != static_cast<int>(length)) {
                error = EINVAL;
                break;
            }
            if (request.request == 0xC0045390u) {
                // Relayed to the daemon; the reply follows when the daemon answers.
                const char* text = reinterpret_cast<const char*>(data);
                if (toDaemon(std::string(text, strnlen(text, length)), fd)) return true;
                error = ENOTCONN;
                break;
            }
            error = world_.ioctl(request.request, data, length, pidOf(fd));
            out.assign(data, data + length);
            break;
        case seDevice::wire::kMap:
            if (request.value0 < tw::kWindowBase || request.value1 == 0 ||
                request.value0 + request.value1 > uint64_t(tw::kWindowBase) + tw::kWindowSize) {
                error = EINVAL;
                break;
            }
            reply.value = request.value0 - tw::kWindowBase;
            passFd = window_;
            break;
        case seDevice::wire::kControl:
            error = world_.control(request.request, data, length, out);
            break;
        case seDevice::wire::kEcho:
            out.assign(data, data + length);
            break;
        case seDevice::wire::kNetlink:
            if (request.value0 != 31) {
                error = EPROTONOSUPPORT;
                break;
            }
            for (Client& c : clients_)
                if (c.fd == fd) {
                    c.netlink = true;
                    world_.setNetlinkPid(static_cast<uint32_t>(c.pid));
                    note("netlink peer %s registered\n", std::to_string(c.pid));
                }
            break;
        default:
            error = EINVAL;
        }
        reply.result = error ? -1 : 0;
        reply.error = error;
        reply.length = static_cast<uint32_t>(out.size());
        return sendReply(fd, reply, out.data(), passFd) == 0;
    }

    int pidOf(int fd) const {
        for (const Client& c : clients_)
            if (c.fd == fd) return c.pid;
        return 0;
    }

    int listen_;
    int window_;
    tw::World& world_;
    std::vector<Client> clients_;
    std::vector<Pending> pending_;
};

}  // namespace

int main(int argc, char** argv) {
    static const char kUsage[] =
        "usage: veld_tw --root DIR\n"
        "Serves the simulated trusted world and secure-engine device of the root\n"
        "and namespace (VELD_NS) on $VELD_ROOT/tmp/veld-sim/<ns>/tw.sock.\n";
    if (const int status = sim::parseCommandLine(argc, argv, kUsage); status >= 0) return status;
    const int signals = sim::stopSignals();

    const int windowFd = ::memfd_create("veld-tw-window", MFD_CLOEXEC);
    if (windowFd < 0 || ::ftruncate(windowFd, tw::kWindowSize) != 0) {
        std::perror("veld_tw: window");
        return 1;
    }
    void* window = ::mmap(nullptr, tw::kWindowSize, PROT_READ | PROT_WRITE, MAP_SHARED, windowFd, 0);
    if (window == MAP_FAILED) {
        std::perror("veld_tw: window mapping");
        return 1;
    }
    tw::World world(static_cast<uint8_t*>(window), loadOtp());
    installImages();

    const std::string path = seam::simSocket("tw");
    std::string error;
    const int listenFd = sim::listenSimulator("tw", error);
    if (listenFd < 0) {
        std::fprintf(stderr, "veld_tw: %s\n", error.c_str());
        return 1;
    }
    note("veld_tw serving on %s\n", path);
    Server(listenFd, windowFd, world).run(signals);
    ::unlink(path.c_str());
    note("veld_tw stopping%s\n", "");
    return 0;
}
