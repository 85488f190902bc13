// veldctl se log: prints the secure engine's permanent log of the current root, unscrambled,
// so that an engineer can read it on a PC.
#include "se.h"

#include <string>

#include "se_permanent_log.h"
#include "seam.h"

namespace veld::tools {
namespace {

int runSeLog(const Invocation& call) {
    if (VELD_SE_PL00() != 0)
        return call.failure("cannot read " + seam::path(se::kLogFile));
    return 0;
}

}  // namespace

const CommandSpec kSeLogCommand{
    "se log", "", 0, 0, {}, "print the secure engine's permanent log, unscrambled",
    "  Prints the permanent log /mnt/flash/data/se_log.dat of the current root, unscrambled.\n",
    runSeLog};

}  // namespace veld::tools
