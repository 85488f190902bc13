// Writes a whole buffer to a descriptor, going on after interruptions and short writes. The
// daemon's serial tool, the secure engine's log file and the monitor's metrics log share it.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace veld {

// False when the descriptor fails or takes nothing; errno then says why.
inline bool writeAll(int fd, const void* data, size_t length) {
    const char* bytes = static_cast<const char*>(data);
    while (length > 0) {
        const ssize_t n = ::write(fd, bytes, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace veld
