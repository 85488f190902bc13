// The command line and stop signals shared by the socket simulators of sim/ (veld_tw,
// veld_emmc, veld_gpu): "--root DIR" points the seams at a board root (it becomes VELD_ROOT),
// "--help" prints the usage, and SIGTERM/SIGINT end the serving loop cleanly.
#pragma once

#include <signal.h>
#include <stdlib.h>
#include <sys/signalfd.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>

namespace veld::sim {

// A further "--name VALUE" option of one simulator.
struct ValueOption {
    const char* name;
    std::string* value;
};

// Reads the command line. Returns -1 when the program goes on; otherwise the exit status, after
// printing `usage`: 0 for "--help" (on stdout), 2 for an unknown or incomplete argument.
inline int parseCommandLine(int argc, char** argv, const char* usage,
                            std::initializer_list<ValueOption> options = {}) {
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(arg, "--root") == 0 && hasValue) {
            ::setenv("VELD_ROOT", argv[++i], 1);
            continue;
        }
        bool known = false;
        for (const ValueOption& option : options) {
            if (std::strcmp(arg, option.name) == 0 && hasValue) {
                *option.value = argv[++i];
                known = true;
                break;
            }
        }
        if (known) continue;
        const bool help = std::strcmp(arg, "--help") == 0;
        if (!help) std::fprintf(stderr, "%s: unknown or incomplete argument %s\n", argv[0], arg);
        std::fputs(usage, help ? stdout : stderr);
        return help ? 0 : 2;
    }
    return -1;
}

// Blocks SIGTERM and SIGINT and returns a descriptor that becomes readable when one arrives, so
// that a serving loop never stops in the middle of a request.
inline int stopSignals() {
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    sigprocmask(SIG_BLOCK, &stop, nullptr);
    return ::signalfd(-1, &stop, SFD_CLOEXEC);
}

}  // namespace veld::sim
