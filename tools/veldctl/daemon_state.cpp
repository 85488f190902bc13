// The daemon's observable state for veldctl (see daemon_state.h).
#include "daemon_state.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/msg.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "seam.h"
#include "veldcore_host.h"
#include "veldd_msg.h"
#include "xdrv.h"

namespace veld::tools {
namespace {

// The window manager's clock ticks every 200 ms; a queue read within this long means it runs.
constexpr time_t kMonitorSilenceS = 2;

}  // namespace

std::optional<pid_t> pidFromFile() {
    std::ifstream in(seam::path(msg::kPidFilePath));
    long pid = 0;
    if (!(in >> pid) || pid <= 0) return std::nullopt;
    return static_cast<pid_t>(pid);
}

bool processAlive(pid_t pid) { return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM); }

bool monitorRunning(pid_t daemonPid) {
    const int queue = msgget(seam::sysvKey(xdrv::queueKey(xdrv::kEventQueueName)), 0);
    msqid_ds info{};
    if (queue < 0 || msgctl(queue, IPC_STAT, &info) != 0) return false;
    if (time(nullptr) - info.msg_rtime > kMonitorSilenceS) return false;
    // The kernel records the thread that read last: the monitor task, a thread of the daemon.
    std::error_code ec;
    return std::filesystem::exists("/proc/" + std::to_string(daemonPid) + "/task/" +
                                       std::to_string(info.msg_lrpid), ec);
}

bool boardPresent() {
    const int fd = shm_open(seam::ipcName(VELD_BOARD_REGION).c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0) return false;
    close(fd);
    return true;
}

std::string namespaceText() {
    const std::string_view ns = seam::ns();
    return ns.empty() ? "the default namespace" : "namespace " + std::string(ns);
}

}  // namespace veld::tools
