// veldctl gpu: what the GPU simulator of the current root and namespace holds (video memory,
// nodes, signals, commits, GPU faults), asked over its control interface.
#include "gpu.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "gpu_device.h"

namespace veld::tools {
namespace {

constexpr const char* kUsage =
    "usage: veldctl gpu status\n"
    "  status  the simulated GPU: chip profile, driver version, video memory by pool, nodes,\n"
    "          signals, requests, commits and GPU faults\n"
    "The simulator is started with veldctl sim start (VELD_GPU_PROFILE=plain|old chooses the\n"
    "chip).\n";

}  // namespace

int runGpu(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("%s", kUsage);
            return 0;
        }
    if (argc != 2) {
        std::fprintf(stderr, "%s", kUsage);
        return 1;
    }
    const std::string_view verb = argv[1];
    if (verb == "status") {
        const auto answer = gpu_device::simControl("status");
        if (!answer) {
            std::fprintf(stderr,
                         "veldctl: gpu: no GPU simulator serves this root and namespace "
                         "(start it with veldctl sim start)\n");
            return 1;
        }
        std::fwrite(answer->data(), 1, answer->size(), stdout);
        return 0;
    }
    std::fprintf(stderr, "veldctl: gpu: unknown action %s\n%s", argv[1], kUsage);
    return 1;
}

}  // namespace veld::tools
