// veldctl se log: prints the secure engine's permanent log of the current root, unscrambled,
// so that an engineer can read it on a PC. veldctl se shell: the engine's debug shell on the
// terminal.
#include "se.h"

#include <string>

#include "se_debug.h"
#include "se_engine.h"
#include "se_permanent_log.h"
#include "seam.h"

namespace veld::tools {
namespace {

int runSeLog(const Invocation& call) {
    if (VELD_SE_PL00() != 0)
        return call.failure("cannot read " + seam::path(se::kLogFile));
    return 0;
}

int runSeShell(const Invocation& call) {
    if (!seam::simulated())
        return call.failure("the shell needs the secure-engine device; on a PC set VELD_SIM=1 and "
                            "start the simulators (veldctl sim start)");
    const int result = VELD_SE_Debug();
    VELD_SE_Shutdown();
    return result == 0 ? 0 : call.failure("the debug context could not be opened");
}

}  // namespace

const CommandSpec kSeShellCommand{
    "se shell", "", 0, 0, {}, "run the secure engine's debug shell on this terminal",
    "  Runs the secure engine's debug shell (VELD_SE_Debug) on standard input and output: the\n"
    "  process and shared records, the secure store's dumps and records, replay-protected\n"
    "  storage, the AES tests, the DMA usage monitor, the permanent log and se_veldd. Numbers\n"
    "  are hexadecimal; 0 or a number above the last entry leaves a menu. On a PC it runs with\n"
    "  VELD_SIM=1 against the simulators of $VELD_ROOT and $VELD_NS (veldctl sim start);\n"
    "  dumps are written under $VELD_ROOT/tmp.\n",
    runSeShell};

const CommandSpec kSeLogCommand{
    "se log", "", 0, 0, {}, "print the secure engine's permanent log, unscrambled",
    "  Prints the permanent log /mnt/flash/data/se_log.dat of the current root, unscrambled.\n",
    runSeLog};

}  // namespace veld::tools
