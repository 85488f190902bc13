// veldctl: the operator's client of veldd and of the simulated platform. The daemon, its
// root and its namespace are found through VELD_ROOT and VELD_NS, as the daemon finds them.
#include <cstdio>
#include <cstring>
#include <string_view>

#include "commands.h"
#include "gpu.h"
#include "screenshot.h"
#include "sim.h"
#include "veldcore.h"

namespace {

struct Command {
    std::string_view name;
    int (*run)(int, char**);
    std::string_view summary;
};

constexpr Command kCommands[] = {
    {"ping", veld::tools::runPing, "check that veldd answers (0x4bf10001)"},
    {"send", veld::tools::runSend, "send any message id with data words"},
    {"key", veld::tools::runKey, "send a key to the monitor (0x4bf20001)"},
    {"monitor", veld::tools::runMonitor, "start the system status monitor (0x4bf10003)"},
    {"regtool", veld::tools::runRegtool, "start the serial register tool (0x4bf10002)"},
    {"reg", veld::tools::runReg, "read or write a simulated board register"},
    {"status", veld::tools::runStatus, "show the daemon's and the board's state"},
    {"clean", veld::tools::runClean, "remove the namespace's queues, shared memory, semaphores"},
    {"screenshot", veld::tools::runScreenshot, "save the latest frame-buffer frame as PNG"},
    {"sim", veld::tools::runSim, "start, stop or show the simulators of this root"},
    {"gpu", veld::tools::runGpu, "show the simulated GPU, decode a command stream"},
};

void usage(FILE* out) {
    std::fprintf(out,
                 "usage: veldctl COMMAND [ARGS] (veldctl COMMAND --help for details)\n\n");
    for (const Command& c : kCommands)
        std::fprintf(out, "  %-10.*s %.*s\n", static_cast<int>(c.name.size()), c.name.data(),
                     static_cast<int>(c.summary.size()), c.summary.data());
    std::fprintf(out,
                 "\nThe daemon is found under $VELD_ROOT (default /) in namespace $VELD_NS.\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
        std::strcmp(argv[1], "help") == 0) {
        usage(argc < 2 ? stderr : stdout);
        return argc < 2 ? 1 : 0;
    }
    for (const Command& c : kCommands)
        if (c.name == argv[1]) return c.run(argc - 1, argv + 1);
    std::fprintf(stderr, "veldctl: unknown command %s (see veldctl --help)\n", argv[1]);
    return 1;
}
