// The secure-engine daemon's body SE_VELDD and its launcher, and the client calls that reach it
// (see se_daemon.h). The netlink loop answers every text it receives, so that a requester is
// never left waiting; clean-ups run one at a time in threads of their own.
#include "se_daemon.h"

#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "se_channel.h"
#include "se_core.h"
#include "se_debug.h"
#include "se_debug_info.h"
#include "se_device.h"
#include "se_hooks.h"
#include "se_log.h"
#include "se_permanent_log.h"
#include "seam.h"

namespace veld::se {
namespace {

struct QueueMessage {
    long type;
    char data[kQueueDataBytes];
};

struct NetlinkHeader {
    uint32_t length;
    uint16_t type;
    uint16_t flags;
    uint32_t sequence;
    uint32_t pid;
};
static_assert(sizeof(NetlinkHeader) == 16, "netlink header: 16 bytes");

constexpr size_t kTextRoom = kNetlinkBuffer - sizeof(NetlinkHeader);  // 4,096

std::atomic<uint32_t> gFlags{0};  // bit 0 message thread, bit 1 netlink loop
std::mutex gCleanupMutex;
std::once_flag gPriorityNote;
std::atomic<int> gQueue{-1};

void failure(const char* file) {
    SE_LOG(0, "%s:%s(%d)\n", sourceName(file), std::strerror(errno), errno);
}

std::atomic<key_t> gQueueKey{0};

// The queue of the current namespace, opened once (again when the namespace changed, as it does
// between tests, or when the queue was removed).
int openQueue() {
    const key_t key = seam::sysvKey(kQueueKey);
    int id = gQueue.load();
    if (id >= 0 && gQueueKey.load() == key) return id;
    id = ::msgget(key, IPC_CREAT | 0666);
    if (id < 0) {
        failure(__FILE__);
        return -1;
    }
    gQueueKey.store(key);
    gQueue.store(id);
    return id;
}

}  // namespace

bool startThread(void* (*entry)(void*), void* argument, bool realtime) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_attr_setinheritsched(&attr, PTHREAD_EXPLICIT_SCHED);
    sched_param param{};
    param.sched_priority = realtime ? 1 : 0;
    pthread_attr_setschedpolicy(&attr, realtime ? SCHED_FIFO : SCHED_OTHER);
    pthread_attr_setschedparam(&attr, &param);
    pthread_t thread;
    int rc = ::pthread_create(&thread, &attr, entry, argument);
    if (rc == EPERM && realtime) {
        std::call_once(gPriorityNote, [] {
            SE_LOG(1, "no real-time priority here: the daemon's threads run at normal priority\n");
        });
        param.sched_priority = 0;
        pthread_attr_setschedpolicy(&attr, SCHED_OTHER);
        pthread_attr_setschedparam(&attr, &param);
        rc = ::pthread_create(&thread, &attr, entry, argument);
    }
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        errno = rc;
        failure(__FILE__);
    }
    return rc == 0;
}

namespace {

void* messageThread(void*) {
    gFlags.fetch_or(1);
    for (;;) {
        QueueMessage message{};
        const int queue = openQueue();
        if (queue < 0 || ::msgrcv(queue, &message, sizeof message.data, 0, 0) < 0) {
            if (errno == EINTR) continue;
            failure(__FILE__);
            if (errno == EIDRM || errno == EINVAL) gQueue.store(-1);  // removed: open it again
            ::sleep(1);
            continue;
        }
        switch (message.type) {
        case 1:
            SE_LOG(2, "Ping %d : %08x\n", static_cast<int>(::getpid()), gFlags.load());
            break;
        case 2:
            if (seLock() == 0) {
                startWriter();
                seUnlock();
            }
            break;
        default:
            SE_LOG(1, "Unknown message\n");
        }
    }
    return nullptr;
}

void* cleanupThread(void* argument) {
    int* pid = static_cast<int*>(argument);
    {
        std::lock_guard guard(gCleanupMutex);
        SE_LOG(2, "->cleanup resource(%p:%d)\n\n", static_cast<void*>(pid), *pid);
        cleanupDeadProcess(static_cast<uint32_t>(*pid));
        SE_LOG(2, "<-cleanup resource(%p:%d)\n\n", static_cast<void*>(pid), *pid);
    }
    delete pid;
    return nullptr;
}

void errorReply(char* reply, size_t room, int error) {
    std::snprintf(reply, room, "ERR : %s(%d)\n", std::strerror(error), error);
}

void closeCommand(const char* argument, char* reply, size_t room) {
    int pid = 0;
    if (std::sscanf(argument, "%d", &pid) != 1 || pid <= 0) {
        errorReply(reply, room, EINVAL);
        return;
    }
    SE_LOG(2, "Close Handler:%d\n", pid);
    if (!isProcessAlive(static_cast<uint32_t>(pid))) SE_LOG(2, "Process not exist\n");
    SE_LOG(2, "->try to cleanup resource(%d)\n\n", pid);
    int* copy = new (std::nothrow) int(pid);
    if (!copy) {
        SE_LOG(0, "no memory\n\n");
        errorReply(reply, room, ENOMEM);
        return;
    }
    if (!startThread(cleanupThread, copy, false)) {
        SE_LOG(0, "fail (pidClosed = %d)\n\n", pid);
        delete copy;
        errorReply(reply, room, EAGAIN);
        return;
    }
    std::snprintf(reply, room, "Done.");
}

void dmaUsageCommand(const char* argument, char* reply, size_t room) {
    unsigned interval = 0;
    if (std::sscanf(argument, ":%u", &interval) != 1) interval = 0;
    _SE_DBG04(interval);
    if (room) reply[0] = '\0';
}

void rpmbCommand(const char* argument, char* reply, size_t room) {
    int number = 0;
    if (std::sscanf(argument, "%d", &number) != 1) {
        errorReply(reply, room, EINVAL);
        return;
    }
    // Runs without the lock: the requester holds it while it waits for this reply.
    if (rpmbDaemonCommand(number) != 0) {
        std::snprintf(reply, room, "ERR : %d : %s(%d)\n", number, std::strerror(EIO), EIO);
        return;
    }
    std::snprintf(reply, room, "Done.");
}

struct Command {
    const char* prefix;
    void (*handler)(const char* argument, char* reply, size_t room);
};
constexpr Command kCommands[] = {
    {"close:", closeCommand},
    {"RPMB:", rpmbCommand},
    // The requester may hold the lock: the trusted world is asked only if it comes soon.
    {"p-info", [](const char*, char* reply, size_t room) { processInfoText(reply, room, 100); }},
    {"p-dma_usage", dmaUsageCommand},
};

ssize_t sendText(int fd, uint8_t* buffer, const char* text) {
    const size_t length = strnlen(text, kTextRoom - 1);
    NetlinkHeader header{static_cast<uint32_t>((sizeof header + length + 1 + 3) & ~size_t(3)), 0, 0,
                         0, static_cast<uint32_t>(::getpid())};
    std::memmove(buffer + sizeof header, text, length);
    std::memset(buffer + sizeof header + length, 0, header.length - sizeof header - length);
    std::memcpy(buffer, &header, sizeof header);
    return seDevice::netlinkSend(fd, buffer, header.length);
}

int netlinkLoop() {
    uint8_t* buffer = static_cast<uint8_t*>(std::calloc(1, kNetlinkBuffer));
    char* reply = static_cast<char*>(std::calloc(1, kTextRoom));
    if (!buffer || !reply) {
        std::free(buffer);
        std::free(reply);
        return -1;
    }
    const int fd = seDevice::netlinkOpen(kNetlinkProtocol);
    if (fd < 0 || sendText(fd, buffer, "Start NetLink") < 0) {
        failure(__FILE__);
        if (fd >= 0) seDevice::close(fd);
        std::free(buffer);
        std::free(reply);
        return -1;
    }
    gFlags.fetch_or(2);
    for (;;) {
        const ssize_t n = seDevice::netlinkReceive(fd, buffer, kNetlinkBuffer);
        if (n < 0) {
            failure(__FILE__);
            if (errno == ECONNRESET || errno == EBADF || errno == ENOTCONN) break;  // peer gone
            continue;
        }
        if (static_cast<size_t>(n) <= sizeof(NetlinkHeader)) continue;
        // The text ends inside what arrived, whatever the sender wrote.
        buffer[std::min(static_cast<size_t>(n), kNetlinkBuffer - 1)] = '\0';
        const char* text = reinterpret_cast<const char*>(buffer + sizeof(NetlinkHeader));
        reply[0] = '\0';
        const Command* command = nullptr;
        for (const Command& c : kCommands)
            if (std::strncmp(text, c.prefix, std::strlen(c.prefix)) == 0) {
                command = &c;
                break;
            }
        if (!command) {
            SE_LOG(1, "Unknown command : %s\n", text);
            std::snprintf(reply, kTextRoom, "Null Ack\n");
        } else {
            command->handler(text + std::strlen(command->prefix), reply, kTextRoom);
        }
        reply[kTextRoom - 1] = '\0';
        if (sendText(fd, buffer, reply) < 0) failure(__FILE__);
    }
    seDevice::close(fd);
    std::free(buffer);
    std::free(reply);
    gFlags.fetch_and(~2u);
    return -1;
}

// The program the launcher runs: $VELD_SE_VELDD, else "se_veldd" beside this process's image.
std::string daemonProgram() {
    if (const char* path = std::getenv("VELD_SE_VELDD"); path && *path) return path;
    char self[512];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return "se_veldd";
    self[n] = '\0';
    std::string path(self);
    return path.substr(0, path.rfind('/') + 1) + "se_veldd";
}

std::atomic<bool> gLauncherStop{false};
std::atomic<bool> gLauncherRunning{false};
std::atomic<pid_t> gLaunched{0};

void* launcherThread(void* argument) {
    std::string* program = static_cast<std::string*>(argument);
    unsigned backoff = 0;  // seconds; grows while the daemon dies at once
    while (!gLauncherStop.load()) {
        const auto started = std::chrono::steady_clock::now();
        const pid_t child = ::fork();
        if (child < 0) {
            SE_LOG(0, "fork() error\n");
            ::sleep(1);
            continue;
        }
        if (child == 0) {
            // Only async-signal-safe calls between fork and exec: the parent has threads.
            ::prctl(PR_SET_NAME, "se-veldd");
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            ::execl(program->c_str(), program->c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        gLaunched.store(child);
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        gLaunched.store(0);
        if (WIFEXITED(status)) SE_LOG(2, "Exited : %d\n", WEXITSTATUS(status));
        else if (WIFSIGNALED(status)) SE_LOG(2, "Signaled : %d\n", WTERMSIG(status));
        else SE_LOG(2, "Unknown : %08x\n", static_cast<unsigned>(status));
        // What the daemon left behind (a held lock, its contexts) is released here: nobody
        // else hears of its end.
        cleanupDeadProcess(static_cast<uint32_t>(child));
        if (std::chrono::steady_clock::now() - started < std::chrono::seconds(1)) {
            backoff = backoff ? std::min(backoff * 2, 8u) : 1;
            SE_LOG(1, "se_veldd ended at once: next start in %u s\n", backoff);
            for (unsigned i = 0; i < backoff * 100 && !gLauncherStop.load(); ++i) ::usleep(10000);
        } else {
            backoff = 0;
        }
    }
    delete program;
    gLauncherRunning.store(false);
    return nullptr;
}

}  // namespace

void stopDaemonLauncher() {
    gLauncherStop.store(true);
    if (const pid_t child = gLaunched.load()) ::kill(child, SIGTERM);
    while (gLauncherRunning.load()) ::usleep(10000);
    gLauncherStop.store(false);
}

int veldd00(long type, const void* data, size_t size) {
    if (size > kQueueDataBytes || (size && !data) || type <= 0) return -1;
    QueueMessage message{};
    message.type = type;
    if (size) std::memcpy(message.data, data, size);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int queue = openQueue();
        if (queue < 0) return -1;
        if (::msgsnd(queue, &message, size, IPC_NOWAIT) == 0) return 0;
        // A full queue already holds requests the daemon has not taken yet; a flush among
        // them covers this one.
        if (errno == EAGAIN && type == 2) return 0;
        if (errno != EIDRM && errno != EINVAL) break;
        gQueue.store(-1);  // removed since it was opened: open it again
    }
    failure(__FILE__);
    return -1;
}

}  // namespace veld::se

using namespace veld::se;

extern "C" {

int32_t _SE_VELDD_00(int32_t type, const void* data, uint32_t size) {
    return veldd00(type, data, size);
}

int32_t _SE_VELDD_01(char* request) {
    if (!request) return -1;
    request[kRelayTextBytes - 1] = '\0';
    ProcessRecord* p = getProcessRecord();
    if (!p) {
        SE_FAILED();
        return -1;
    }
    if (veld::seDevice::ioctl(p->devFd, 0xC0045390ul, request) != 0) {
        SE_LOG(0, "%s:%s(%d)\n", sourceName(__FILE__), std::strerror(errno), errno);
        return -1;
    }
    request[kRelayTextBytes - 1] = '\0';
    return 0;
}

int32_t SE_VELDD(void) {
    VELD_InitSystem(0, nullptr);
    VELD_SE_DBG_Initialize();
    SE_LOG(2, "Start SE Daemon Process (%d)\n", static_cast<int>(::getpid()));
    if (openQueue() < 0) return -1;
    if (!startThread(messageThread, nullptr, true)) return -1;
    return netlinkLoop();
}

int32_t VELD_SE_InitSeVeldd(void) {
    // The launcher's lines (how each daemon ended) go through "vek-se" from the first one.
    VELD_SE_DBG_Initialize();
    auto* program = new (std::nothrow) std::string(daemonProgram());
    if (!program) return -1;
    gLauncherRunning.store(true);
    if (!startThread(launcherThread, program, true)) {
        gLauncherRunning.store(false);
        delete program;
        return -1;
    }
    return 0;
}

int32_t _SE_PL00(void) { return startWriter(); }

int32_t _SE_PL10(void) {
    stopWriter();
    return 0;
}

}  // extern "C"
