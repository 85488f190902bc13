// The file monitor: a task that watches one file with inotify and hands every event on it to
// a handler, and the handler of the low-power command file, through which other processes
// switch the platform into ("aa 0") and out of ("aa 90") low-power mode. Descriptors and
// handlers carry the file's fixed system path; it is resolved through the root seam only
// where the file is opened or watched.
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <strings.h>

#include "detached_task.h"
#include "seam.h"
#include "veldd.h"
#include "veldd_log.h"

using namespace veld::loglevel;

namespace {

constexpr size_t kPathBytes = 80;
constexpr size_t kLineBytes = 80;
constexpr size_t kReadBlockBytes = 4096;
constexpr uint32_t kWatchMask = IN_CLOSE_WRITE | IN_CLOSE_NOWRITE | IN_OPEN;
static_assert(kWatchMask == 0x38);
constexpr uint32_t kWatchRetryMs = 2000;
constexpr uint32_t kPollFailurePauseMs = 1000;

using LowPowerAction = int32_t (*)(void);

struct LowPowerCommand {
    char command[4];
    int32_t argument;
    LowPowerAction action;
};

// Both rows are tried for every line.
constexpr std::array<LowPowerCommand, 2> kLowPowerCommands{{
    {"aa", 0, VELD_SYS_EnterLowPowerMode},
    {"aa", 90, VELD_SYS_ExitLowPowerMode},
}};

// Adds the watch, creating the file while it is missing.
void watchFile(int inotifyFd, const char* fixedPath, const std::string& path) {
    while (inotify_add_watch(inotifyFd, path.c_str(), kWatchMask) < 0) {
        VELDD_LOG_AS("file_monitor_task", kFileMonitor,
                     "inotify_add_watch failed(%s) fd=%d, fname=%s\n", strerror(errno), inotifyFd,
                     fixedPath);
        if (FILE* created = std::fopen(path.c_str(), "w+")) {
            std::fclose(created);
            VELDD_LOG_AS("file_monitor_task", kProgress, "%s created\n", fixedPath);
        }
        VELD_OSA_SleepMsec(kWatchRetryMs);
    }
}

// Hands every event record of the pending blocks to the handler.
void drainEvents(int inotifyFd, const FILE_MONITOR_DESC& desc, const char* fixedPath) {
    alignas(inotify_event) std::array<char, kReadBlockBytes> block;
    for (;;) {
        const ssize_t length = read(inotifyFd, block.data(), block.size());
        if (length < 0 && errno != EAGAIN)
            VELDD_LOG_AS("file_monitor_task", kFileMonitor, "read len = %d (%s)\n",
                         static_cast<int>(length), strerror(errno));
        if (length <= 0) return;
        for (ssize_t offset = 0; offset + static_cast<ssize_t>(sizeof(inotify_event)) <= length;) {
            inotify_event event{};
            std::memcpy(&event, block.data() + offset, sizeof event);
            desc.handler(fixedPath, event.mask);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event.len);
        }
    }
}

}  // namespace

extern "C" {

void* file_monitor_task(void* argument) {
    veld::detachThisTask();
    const auto* desc = static_cast<const FILE_MONITOR_DESC*>(argument);
    if (!desc) {
        VELDD_LOG(kFailure, "null param %p\n", argument);
        return nullptr;
    }
    if (!desc->path || !desc->handler) {
        VELDD_LOG(kFailure, "null param %p,%p\n", static_cast<const void*>(desc->path),
                  reinterpret_cast<void*>(desc->handler));
        return nullptr;
    }
    char fixedPath[kPathBytes];
    if (std::strlen(desc->path) >= sizeof fixedPath) {
        VELDD_LOG(kFailure, "path too long (%s)\n", desc->path);
        return nullptr;
    }
    std::snprintf(fixedPath, sizeof fixedPath, "%s", desc->path);
    VELDD_LOG(kProgress, "<!> Launch monitor for %s\n", fixedPath);

    const int inotifyFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotifyFd < 0) {
        VELDD_LOG(kFailure, "inotify_init failed\n");
        return nullptr;
    }
    watchFile(inotifyFd, fixedPath, veld::seam::path(fixedPath));

    VELDD_LOG(kFileMonitor, "+ listening for inotify event..\n");
    for (;;) {
        pollfd ready{inotifyFd, POLLIN, 0};
        const int count = poll(&ready, 1, -1);
        VELDD_LOG(kFileMonitor, "+ poll num = %d\n", count);
        if (count < 0 && errno != EINTR) VELD_OSA_SleepMsec(kPollFailurePauseMs);
        if (count > 0 && (ready.revents & POLLIN)) drainEvents(inotifyFd, *desc, fixedPath);
    }
}

void veldd_vexos_low_power_handler(const char* path, uint32_t mask) {
    VELDD_LOG(kFileMonitor, "+ file %s, mask 0x%08x\n", path, mask);
    if (!(mask & IN_CLOSE_WRITE)) return;
    VELDD_LOG(kFileMonitor, "+IN_CLOSE_WRITE: %s\n", path);

    FILE* file = std::fopen(veld::seam::path(path).c_str(), "r");
    if (!file) {
        VELDD_LOG(kFailure, "can't open %s\n", path);
        return;
    }
    char line[kLineBytes];
    while (std::fgets(line, sizeof line, file)) {
        // The command field has the room of the whole line, so no line can overrun it.
        char command[kLineBytes] = {};
        int argument = -1;
        VELDD_LOG(kFileMonitor, "buf=%s\n", line);
        const int fields = std::sscanf(line, "%79s %d", command, &argument);
        VELD_LOGM_WriteLog(g_global_vdk_logm_fd, kProgress, __func__, __LINE__,
                           "%s argc=%d, argv=%s,%02d\n", path, fields, command, argument);
        for (const LowPowerCommand& row : kLowPowerCommands) {
            if (strcasecmp(row.command, command) == 0 && row.argument == argument) row.action();
        }
    }
    std::fclose(file);
}

}  // extern "C"
