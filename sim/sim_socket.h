// The listening socket of a simulator program of sim/: SOCK_SEQPACKET at seam::simSocket(name),
// bound under a temporary name and renamed once it listens, so that the socket's path appears
// only when clients can connect.
#pragma once

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "seam.h"

namespace veld::sim {

// The listening descriptor, or -1 with the reason in `error`.
inline int listenSimulator(std::string_view name, std::string& error) {
    const std::string path = seam::simSocket(name);
    const std::string temporary = path + ".new";
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (temporary.size() >= sizeof address.sun_path) {
        error = "socket path too long: " + temporary;
        return -1;
    }
    std::memcpy(address.sun_path, temporary.c_str(), temporary.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    ::unlink(temporary.c_str());
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::chmod(temporary.c_str(), 0666) != 0 || ::listen(fd, 64) != 0 ||
        ::rename(temporary.c_str(), path.c_str()) != 0) {
        error = "socket " + path + ": " + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace veld::sim
