// Stand-in for the secure-engine daemon until its real body is built: it registers the log
// object "se_veldd", reports that it is up, waits for a signal and ends cleanly on SIGTERM,
// so that veldd's launcher has a companion to start and supervise. Any other signal keeps
// its default action, which the launcher sees as a companion killed by a signal.
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <initializer_list>

#include "veldcore.h"

int main(int argc, char** argv) {
    VELD_InitSystem(argc, argv);
    const int32_t log = VELD_LOGM_ObjRegister("se_veldd");
    for (uint32_t level : {0u, 1u, 2u}) VELD_LOGM_BitMaskEnable(log, level);

    // SIGTERM is taken synchronously: blocked first, then waited for.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    if (sigprocmask(SIG_BLOCK, &stop, nullptr) != 0) {
        VELD_LOGM_WriteLog(log, 0, __func__, __LINE__, "can't block SIGTERM\n");
        return 1;
    }
    // A stand-in has nothing to keep alive: when the daemon that started it is killed, it
    // stops too instead of lingering as an orphan on the developer's machine.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    VELD_LOGM_WriteLog(log, 2, __func__, __LINE__, "<!> se_veldd(%d) placeholder running\n",
                       static_cast<int>(getpid()));
    int received = 0;
    while (sigwait(&stop, &received) != 0) {
    }
    VELD_LOGM_WriteLog(log, 2, __func__, __LINE__, "<!> se_veldd(%d) stopping on signal %d\n",
                       static_cast<int>(getpid()), received);
    VELD_LOGM_ObjDeregister("se_veldd");
    VELD_ShutdownSystem();
    return 0;
}
