// veld_emmc: serves the simulated replay-protected eMMC partition (emmc_part.h) of one root and
// namespace on seam::simSocket("emmc"). One thread polls the listening socket, the clients and
// SIGTERM; requests are answered one at a time, as one part on one bus answers them.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "emmc_device.h"
#include "emmc_part.h"
#include "seam.h"
#include "sim_main.h"
#include "sim_socket.h"

namespace {

namespace fs = std::filesystem;
namespace wire = veld::emmcDevice::wire;

constexpr const char* kPartFile = "/var/veld-sim/emmc-rpmb.bin";

int sendReply(int fd, const wire::Reply& reply, const void* data) {
    iovec parts[2] = {{const_cast<wire::Reply*>(&reply), sizeof reply},
                      {const_cast<void*>(data), reply.length}};
    msghdr msg{};
    msg.msg_iov = parts;
    msg.msg_iovlen = reply.length ? 2 : 1;
    return ::sendmsg(fd, &msg, MSG_NOSIGNAL) < 0 ? -1 : 0;
}

// Serves one message; false when the connection has ended or broke the protocol.
bool serve(int fd, veld::emmc::Part& part) {
    uint8_t buffer[sizeof(wire::Request) + wire::kMaxData];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n < static_cast<ssize_t>(sizeof(wire::Request))) return false;
    wire::Request request;
    std::memcpy(&request, buffer, sizeof request);
    const uint8_t* data = buffer + sizeof request;
    const size_t length = static_cast<size_t>(n) - sizeof request;
    if (request.length != length) return false;
    wire::Reply reply{};
    std::vector<uint8_t> out;
    int error = 0;
    switch (request.op) {
    case wire::kExchange: {
        if (length != sizeof(veld::rpmb::Frame)) {
            error = EINVAL;
            break;
        }
        veld::rpmb::Frame frame;
        std::memcpy(&frame, data, sizeof frame);
        const veld::rpmb::Frame answer = part.answer(frame);
        out.assign(reinterpret_cast<const uint8_t*>(&answer),
                   reinterpret_cast<const uint8_t*>(&answer) + sizeof answer);
        break;
    }
    case wire::kControl:
        error = part.control(request.control, data, length, out);
        break;
    default:
        error = EINVAL;
    }
    reply.result = error ? -1 : 0;
    reply.error = error;
    reply.length = static_cast<uint32_t>(out.size());
    return sendReply(fd, reply, out.data()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string usage = std::string(
                                  "usage: veld_emmc --root DIR\n"
                                  "Serves the simulated replay-protected eMMC partition of the root and\n"
                                  "namespace (VELD_NS) on $VELD_ROOT/tmp/veld-sim/<ns>/emmc.sock; the part\n"
                                  "lives in $VELD_ROOT") +
                              kPartFile + ".\n";
    if (const int status = veld::sim::parseCommandLine(argc, argv, usage.c_str()); status >= 0)
        return status;
    const int signals = veld::sim::stopSignals();

    const std::string partPath = veld::seam::path(kPartFile);
    std::error_code ec;
    fs::create_directories(fs::path(partPath).parent_path(), ec);
    veld::emmc::Part part;
    std::string error;
    if (!part.open(partPath, error)) {
        std::fprintf(stderr, "veld_emmc: %s\n", error.c_str());
        return 1;
    }

    const std::string path = veld::seam::simSocket("emmc");
    const int listenFd = veld::sim::listenSimulator("emmc", error);
    if (listenFd < 0) {
        std::fprintf(stderr, "veld_emmc: %s\n", error.c_str());
        return 1;
    }
    std::fprintf(stderr, "veld_emmc serving on %s (part %s)\n", path.c_str(), partPath.c_str());
    std::fflush(stderr);

    std::vector<int> clients;
    for (;;) {
        std::vector<pollfd> fds{{signals, POLLIN, 0}, {listenFd, POLLIN, 0}};
        for (int c : clients) fds.push_back({c, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[0].revents) break;
        if (fds[1].revents & POLLIN) {
            const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) clients.push_back(fd);
        }
        for (size_t i = 2; i < fds.size(); ++i) {
            if (!fds[i].revents || serve(fds[i].fd, part)) continue;
            ::close(fds[i].fd);
            std::erase(clients, fds[i].fd);
        }
    }
    for (int c : clients) ::close(c);
    ::unlink(path.c_str());
    std::fprintf(stderr, "veld_emmc stopping\n");
    return 0;
}
