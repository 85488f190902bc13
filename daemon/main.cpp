// Process entry of veldd: platform set-up, the single-instance check through the pid file,
// options, and the hand-over to veldd_main. The daemon never forks itself; it always runs in
// the calling process, and it never removes its pid file.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "seam.h"
#include "veldd.h"
#include "veldd_log.h"

using namespace veld::loglevel;

namespace {

constexpr const char* kUsage = "%s [-f]\n  -f : run foreground. do not daemonize.\n";

// True when a readable pid file exists (whether that process still lives is not examined).
bool anotherInstance(const std::string& pidPath) {
    struct stat st{};
    if (stat(pidPath.c_str(), &st) != 0) return false;
    FILE* file = std::fopen(pidPath.c_str(), "r");
    if (!file) return false;
    int pid = 0;
    if (std::fscanf(file, " %d", &pid) != 1) std::fprintf(stderr, "can't get pid info\n");
    std::fclose(file);
    VELDD_LOG_AS("main", kUnexpected, "veldd(%d) is already running\n", pid);
    // The log may be a file nobody watches: the one who started this copy hears it too.
    std::fprintf(stderr, "veldd(%d) is already running\n", pid);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // Help is asked for, not a mistake: the usage on standard output, whatever else runs.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf(kUsage, argv[0]);
            return 0;
        }
    }
    VELD_InitSystem(argc, argv);
    if (g_veldd_logm_fd < 0) g_veldd_logm_fd = VELD_LOGM_ObjRegister("veldd");
    VELD_LOGM_BitMaskEnable(g_veldd_logm_fd, kFailure);
    VELD_LOGM_BitMaskEnable(g_veldd_logm_fd, kUnexpected);
    VELD_LOGM_BitMaskEnable(g_veldd_logm_fd, kProgress);

    const std::string pidPath = veld::seam::path(veld::msg::kPidFilePath);
    if (anotherInstance(pidPath)) {
        if (VELD_LOGM_ObjDeregister("veldd") < 0) std::fprintf(stderr, "logm close failed\n");
        VELD_ShutdownSystem();
        return 0;
    }

    int option;
    while ((option = getopt(argc, argv, "f")) != -1) {
        if (option != 'f') {
            std::printf(kUsage, argv[0]);
            return 1;
        }
    }

    FILE* pidFile = std::fopen(pidPath.c_str(), "w+");
    if (!pidFile) {
        std::fprintf(stderr, "veld(%d) reg failed\n", getpid());
        return 0;
    }
    std::fprintf(pidFile, "%d\n", getpid());
    std::fclose(pidFile);
    veldd_main();
    return 0;
}
