// Seams for paths, names, the kernel command line and the simulators' sockets (see seam.h).
#include "seam.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace veld::seam {
namespace {

std::string_view env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string_view(v) : std::string_view();
}

uint32_t fnv1a(std::string_view text) {
    uint32_t h = 2166136261u;
    for (unsigned char c : text) {
        h ^= c;
        h *= 16777619u;
    }
    return h;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\0'; }

}  // namespace

std::string path(std::string_view fixedPath) {
    std::string out(env("VELD_ROOT"));
    while (!out.empty() && out.back() == '/') out.pop_back();
    if (!out.empty() && !fixedPath.empty() && fixedPath.front() != '/') out += '/';
    out += fixedPath;
    return out;
}

std::string_view ns() { return env("VELD_NS"); }

std::string ipcName(std::string_view name) {
    while (!name.empty() && name.front() == '/') name.remove_prefix(1);
    std::string out("/");
    if (!ns().empty()) {
        out += ns();
        out += '.';
    }
    out += name;
    return out;
}

key_t sysvKey(uint32_t key) {
    if (ns().empty()) return static_cast<key_t>(key);
    uint32_t mixed = key ^ (fnv1a(ns()) * 0x9E3779B1u);
    if (mixed == 0) mixed = 1;  // never IPC_PRIVATE
    return static_cast<key_t>(mixed);
}

std::string kernelCmdline() {
    if (const char* v = std::getenv("VELD_CMDLINE")) return v;
    std::ifstream in(path("/proc/cmdline"));
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string cmdlineValue(std::string_view cmdline, std::string_view key, bool& found) {
    found = false;
    size_t pos = 0;
    while (pos < cmdline.size()) {
        while (pos < cmdline.size() && isBlank(cmdline[pos])) ++pos;
        size_t end = pos;
        while (end < cmdline.size() && !isBlank(cmdline[end])) ++end;
        std::string_view word = cmdline.substr(pos, end - pos);
        if (word.size() > key.size() && word.substr(0, key.size()) == key &&
            word[key.size()] == '=') {
            found = true;
            return std::string(word.substr(key.size() + 1));
        }
        pos = end;
    }
    return {};
}

bool simulated() { return env("VELD_SIM") == "1"; }

std::string simDir() {
    std::string dir = path("/tmp/veld-sim/");
    dir += ns().empty() ? std::string_view("default") : ns();
    return dir;
}

std::string simSocket(std::string_view name) {
    std::string socket = simDir();
    socket += '/';
    socket += name;
    socket += ".sock";
    return socket;
}

int connectSimulator(std::string_view name) {
    const std::string path = simSocket(name);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved == ENOENT || saved == ECONNREFUSED ? ENODEV : saved;
        return -1;
    }
    return fd;
}

}  // namespace veld::seam
