// veldctl se log: prints the secure engine's permanent log of the current root, unscrambled,
// so that an engineer can read it on a PC.
#include "se.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "se_permanent_log.h"
#include "seam.h"

namespace veld::tools {

int runSe(int argc, char** argv) {
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf("usage: veldctl se log\n"
                    "  Prints the permanent log %s of the current root, unscrambled.\n",
                    se::kLogFile);
        return 0;
    }
    if (argc != 2 || std::strcmp(argv[1], "log") != 0) {
        std::fprintf(stderr, "usage: veldctl se log\n");
        return 1;
    }
    if (VELD_SE_PL00() != 0) {
        std::fprintf(stderr, "veldctl: se log: cannot read %s\n", seam::path(se::kLogFile).c_str());
        return 1;
    }
    return 0;
}

}  // namespace veld::tools
