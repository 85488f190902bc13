// The serial register tool: an engineer reads and writes chip registers over the second
// serial port without a shell. Requests are "rd" (8 bytes, answered with 7) and "wr"
// (13 bytes, not answered) frames with big-endian fields; anything else is dropped and the
// line resynchronised by discarding pending input. One task per 0x4bf10002 message.
#include "reg_tool.h"
#include "write_all.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <span>

#include "detached_task.h"
#include "seam.h"
#include "veldd.h"
#include "veldd_log.h"

using namespace veld::loglevel;

namespace {

constexpr const char* kPortPath = "/dev/ttyAMA1";
constexpr size_t kWorkBytes = 100;
constexpr uint32_t kPrefixBytes = 3;
constexpr uint32_t kReadRestBytes = 5;    // request bytes 3-7
constexpr uint32_t kWriteRestBytes = 10;  // request bytes 3-12
constexpr size_t kReadReplyBytes = 7;

// A lost line is reopened after a pause that doubles up to a ceiling, so a port that keeps
// hanging up costs a few wake-ups a second at most instead of a whole core.
constexpr uint32_t kFirstPauseMs = 100;
constexpr uint32_t kLongestPauseMs = 2000;

uint32_t loadBigEndian(std::span<const uint8_t, 4> bytes) {
    return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
           static_cast<uint32_t>(bytes[2]) << 8 | static_cast<uint32_t>(bytes[3]);
}

void storeBigEndian(std::span<uint8_t, 4> bytes, uint32_t value) {
    bytes[0] = static_cast<uint8_t>(value >> 24);
    bytes[1] = static_cast<uint8_t>(value >> 16);
    bytes[2] = static_cast<uint8_t>(value >> 8);
    bytes[3] = static_cast<uint8_t>(value);
}

void applyLineSettings(int fd) {
    // Set in full rather than merged with what the port had: raw 115200 8N1, receiver on,
    // modem lines ignored, and each read waiting for at least one byte.
    termios settings{};
    settings.c_cflag = B115200 | CS8 | CREAD | CLOCAL;
    settings.c_cc[VEOF] = 4;
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    cfsetispeed(&settings, B115200);
    cfsetospeed(&settings, B115200);
    tcflush(fd, TCIFLUSH);
    if (tcsetattr(fd, TCSANOW, &settings) != 0)
        VELDD_LOG_AS("uart_daemon_init", kProgress, "line settings not applied (%s)\n",
                     strerror(errno));
}

enum class Served { kDone, kLineLost };

// One request: the 3-byte prefix, the rest of a known frame, then the action. Pending input
// is discarded as soon as the request has been read, before it is acted upon, so that a
// sender who waits for the reply (or for the write to take effect) never loses its next
// request to that flush.
Served serveRequest(int fd, std::array<uint8_t, kWorkBytes>& work) {
    uint8_t* const buffer = work.data();
    if (uart_daemon_read(fd, kPrefixBytes, buffer) != 1) return Served::kLineLost;
    const bool isRead = buffer[0] == 'r' && buffer[1] == 'd';
    const bool isWrite = buffer[0] == 'w' && buffer[1] == 'r';
    if (isRead && uart_daemon_read(fd, kReadRestBytes, buffer + kPrefixBytes) != 1)
        return Served::kLineLost;
    if (isWrite && uart_daemon_read(fd, kWriteRestBytes, buffer + kPrefixBytes) != 1)
        return Served::kLineLost;
    tcflush(fd, TCIFLUSH);

    if (isRead) {
        const uint32_t address = loadBigEndian(std::span(work).subspan<3, 4>());
        uint32_t value = 0;
        const int32_t rc = VELD_SYS_RegReadSimple(address, &value);
        // The reply is sent whatever the status; the status shows only in the log.
        buffer[0] = 'r';
        buffer[1] = 'd';
        storeBigEndian(std::span(work).subspan<2, 4>(), value);
        buffer[6] = 0;
        const bool sent = veld::writeAll(fd, buffer, kReadReplyBytes);
        VELDD_LOG_AS("regster_access_tool_task", kProgress, "READ ADDR[%8x] DATA:[%8x] ret[%d]\n",
                     address, value, static_cast<int>(static_cast<uint8_t>(rc)));
        if (!sent) return Served::kLineLost;
    } else if (isWrite) {
        const uint32_t address = loadBigEndian(std::span(work).subspan<3, 4>());
        const uint32_t value = loadBigEndian(std::span(work).subspan<8, 4>());
        const int32_t rc = VELD_SYS_RegWriteSimple(address, value);
        VELDD_LOG_AS("regster_access_tool_task", kProgress,
                     "WRITE ADDR[%8x] DATA:[%8x]  ret[%d]\n", address, value,
                     static_cast<int>(static_cast<uint8_t>(rc)));
    }
    work.fill(0);
    return Served::kDone;
}

}  // namespace

extern "C" {

int uart_daemon_init(void) {
    const std::string port = veld::seam::path(kPortPath);
    const int fd = open(port.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        VELDD_LOG(kProgress, " open fail [%d]\n", fd);
        VELDD_LOG(kProgress, " open fail: %s: %s\n", port.c_str(), strerror(error));
        errno = error;
        return fd;
    }
    applyLineSettings(fd);
    return fd;
}

int uart_daemon_read(int fd, uint32_t count, uint8_t* buffer) {
    if (fd < 0) {
        VELDD_LOG(kProgress, "%s check buf fd[%x]\n", "uart_daemon_read", static_cast<unsigned>(fd));
        return -1;
    }
    uint32_t got = 0;
    while (got < count) {
        const ssize_t n = read(fd, buffer + got, count - got);
        if (n > 0) {
            got += static_cast<uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd ready{fd, POLLIN, 0};
            poll(&ready, 1, -1);
            continue;
        }
        // With at least one byte required per read, 0 bytes means the port hung up; any
        // other failure means it is broken. Neither gets better by asking again at once.
        if (n == 0) errno = 0;
        return -1;
    }
    return 1;
}

void* regster_access_tool_task(void* /*argument*/) {
    veld::detachThisTask();  // one task per request, never joined
    int fd = uart_daemon_init();
    if (fd < 0) {
        VELDD_LOG(kProgress, " open fail [%d]\n", -1);
        return nullptr;
    }
    VELDD_LOG(kProgress, "+ starting %s...\n", "regster_access_tool_task");

    std::array<uint8_t, kWorkBytes> work{};
    uint32_t pauseMs = kFirstPauseMs;
    for (;;) {
        if (serveRequest(fd, work) == Served::kDone) {
            pauseMs = kFirstPauseMs;
            continue;
        }
        // The line is lost: close it, wait, and open the port again. A port that is gone
        // ends the task as at start; the next 0x4bf10002 message starts a fresh one.
        VELDD_LOG(kProgress, "line lost on %s (%s), reopening in %u ms\n", kPortPath,
                  errno != 0 ? strerror(errno) : "hung up", pauseMs);
        close(fd);
        work.fill(0);
        VELD_OSA_SleepMsec(pauseMs);
        pauseMs = std::min(pauseMs * 2, kLongestPauseMs);
        fd = uart_daemon_init();
        if (fd < 0) {
            VELDD_LOG(kProgress, " open fail [%d]\n", -1);
            return nullptr;
        }
        VELDD_LOG(kProgress, "+ starting %s...\n", "regster_access_tool_task");
    }
}

}  // extern "C"
