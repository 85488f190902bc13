// se_veldd: the secure-engine daemon as a program of its own, which veldd starts from its own
// directory and supervises. It runs the daemon body SE_VELDD (the netlink command loop, the
// message thread and the clean-ups); the body returns only when its netlink loop cannot run.
// SIGTERM is an orderly end (exit status 0, so that veldd leaves it down); the process also
// gets SIGTERM when the process that started it dies, so it never lingers as an orphan.
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include "se_daemon.h"
#include "se_engine.h"
#include "se_log.h"
#include "veldcore.h"

namespace {

sigset_t gStop;

void* stopOnSignal(void*) {
    int received = 0;
    while (sigwait(&gStop, &received) != 0) {
    }
    SE_LOG(2, "<!> se_veldd(%d) stopping on signal %d\n", static_cast<int>(getpid()), received);
    _exit(0);
}

}  // namespace

int main(int argc, char** argv) {
    VELD_InitSystem(argc, argv);
    VELD_SE_DBG_Initialize();
    // Blocked before any thread starts, so that only the waiting thread takes it.
    sigemptyset(&gStop);
    sigaddset(&gStop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &gStop, nullptr);
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    pthread_t stopper;
    if (pthread_create(&stopper, nullptr, stopOnSignal, nullptr) == 0) pthread_detach(stopper);
    const int32_t result = SE_VELDD();
    SE_LOG(2, "Terminate\n");
    VELD_ShutdownSystem();
    return result == 0 ? 0 : 1;
}
