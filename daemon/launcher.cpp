// The companion launcher: veldd starts the secure-engine daemon "se_veldd" from its own
// directory and keeps it running. A detached supervisor thread forks and executes the
// companion and starts it again one second after a signal ends it; a companion that ends by
// itself is left alone. The path buffer belongs to the supervisor once the thread exists.
#include <pthread.h>
#include <sched.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "veldd.h"
#include "veldd_log.h"

using namespace veld::loglevel;

namespace {

constexpr size_t kPathBytes = 256;
constexpr size_t kPathMax = kPathBytes - 1;
constexpr const char kCompanion[] = "se_veldd";
constexpr size_t kCompanionLength = sizeof kCompanion - 1;
constexpr size_t kNameCopyMax = 247;
constexpr unsigned kRestartPauseSeconds = 1;

// The link always names the running image, wherever the daemon was started from; it is the
// kernel's own record, not a path of the system, so it does not go through the root seam.
constexpr const char* kSelfExe = "/proc/self/exe";

// Runs the companion in a fresh child and returns the child's wait status. Only the log line
// and the exec happen in the child, as it was forked from a threaded process.
int runOnce(const char* path) {
    pid_t child;
    while ((child = fork()) == -1) {
        VELDD_LOG_AS("launch_daemon_thread", kProgress, "fork() error\n");
        sleep(kRestartPauseSeconds);
    }
    if (child == 0) {
        VELDD_LOG_AS("launch_daemon_thread", kProgress, "Launch : %s\n", path);
        execl(path, path, static_cast<char*>(nullptr));
        const int error = errno;
        VELDD_LOG_AS("launch_daemon_thread", kFailure, "execl(%s) : %s(%d)\n", path,
                     strerror(error), error);
        VELDD_LOG_AS("launch_daemon_thread", kProgress, "Terminate : %s\n", path);
        // _exit: the child must not run the parent's exit handlers or flush its stdio copies.
        _exit(0);
    }
    int status = -1;
    while (waitpid(child, &status, 0) == -1) {
        if (errno != EINTR) return -1;  // reported below as an unknown status
    }
    return status;
}

}  // namespace

extern "C" {

void* launch_daemon_thread(void* argument) {
    char* path = static_cast<char*>(argument);
    for (;;) {
        const int status = runOnce(path);
        if (status != -1 && WIFEXITED(status)) {
            VELDD_LOG(kProgress, "Terminated - %s : %d\n", path, WEXITSTATUS(status));
            std::free(path);
            pthread_exit(nullptr);
        }
        if (status != -1 && WIFSIGNALED(status))
            VELDD_LOG(kProgress, "Signaled - %s : %d\n", path, WTERMSIG(status));
        else
            VELDD_LOG(kProgress, "Unknown - %s : 0x%08x\n", path, static_cast<unsigned>(status));
        sleep(kRestartPauseSeconds);
    }
}

void launch_daemon(void) {
    char* path = static_cast<char*>(std::malloc(kPathBytes));
    if (!path) {
        VELDD_LOG(kFailure, "Not enough memory(%d)\n", static_cast<int>(kPathBytes));
        return;
    }
    const ssize_t length = readlink(kSelfExe, path, kPathBytes);
    if (length < 0) {
        const int error = errno;
        VELDD_LOG(kFailure, "readlink : %s(%d)\n", strerror(error), error);
        std::free(path);
        return;
    }
    // readlink truncates silently: a result that fills the buffer may be cut short.
    if (static_cast<size_t>(length) > kPathMax) {
        VELDD_LOG(kFailure, "Too long path (%d)\n", static_cast<int>(length));
        std::free(path);
        return;
    }
    path[length] = '\0';
    char* slash = std::strrchr(path, '/');
    if (!slash) {
        VELDD_LOG(kFailure, "Invalid path (%s)\n", path);
        std::free(path);
        return;
    }
    slash[1] = '\0';
    if (std::strlen(path) + kCompanionLength > kPathMax) {
        VELDD_LOG(kFailure, "Too long daemon name (%s)\n", kCompanion);
        std::free(path);
        return;
    }
    std::strncat(path, kCompanion, kNameCopyMax);

    pthread_t thread{};
    int rc = pthread_create(&thread, nullptr, launch_daemon_thread, path);
    if (rc != 0) {
        VELDD_LOG(kFailure, "pthread_create : %d\n", rc);
        std::free(path);
        return;
    }
    // From here on the path belongs to the running supervisor. The scheduling is set while
    // the thread is still joinable: a companion that ends at once ends the detached thread
    // with it, and its handle must not be used after that.
    sched_param parameters{};
    parameters.sched_priority = 0;
    rc = pthread_setschedparam(thread, SCHED_OTHER, &parameters);
    if (rc != 0) VELDD_LOG(kFailure, "pthread_setschedparam : %d\n", rc);
    rc = pthread_detach(thread);
    if (rc != 0) VELDD_LOG(kFailure, "pthread_detach : %d\n", rc);
}

}  // extern "C"
