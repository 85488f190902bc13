// veldctl gpu: what the GPU simulator of the current root and namespace holds (video memory,
// nodes, signals, commits, GPU faults), asked over its control interface, and the decoding of
// a captured command stream.
#include "gpu.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string_view>
#include <vector>

#include "command_stream.h"
#include "gpu_device.h"

namespace veld::tools {
namespace {

constexpr const char* kUsage =
    "usage: veldctl gpu status | decode FILE\n"
    "  status  the simulated GPU: chip profile, driver version, video memory by pool, nodes,\n"
    "          signals, requests, commits and GPU faults\n"
    "  decode  print a captured command stream (raw little-endian words, as the simulator's\n"
    "          save-stream control writes it) as readable state loads and draws\n"
    "The simulator is started with veldctl sim start (VELD_GPU_PROFILE=plain|old chooses the\n"
    "chip).\n";

int decode(const char* path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "veldctl: gpu decode: cannot read %s\n", path);
        return 1;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    if (bytes.size() >= 4 && std::memcmp(bytes.data(), "gcDB", 4) == 0) {
        std::fprintf(stderr, "veldctl: gpu decode: %s is a dump file; dump files are not read yet\n",
                     path);
        return 1;
    }
    if (bytes.size() % 4 != 0) {
        std::fprintf(stderr, "veldctl: gpu decode: %s: %zu bytes is not a whole number of words\n",
                     path, bytes.size());
        return 1;
    }
    std::vector<uint32_t> words(bytes.size() / 4);
    std::memcpy(words.data(), bytes.data(), bytes.size());
    std::vector<gpusim::Command> commands;
    gpusim::DecodeError error;
    const bool ok = gpusim::decodeStream(words, commands, error);
    for (const gpusim::Command& c : commands) std::fputs(gpusim::describe(c).c_str(), stdout);
    if (!ok) {
        std::fprintf(stderr, "veldctl: gpu decode: %s: malformed at offset 0x%x: %s\n", path,
                     error.offset, error.reason.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int runGpu(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("%s", kUsage);
            return 0;
        }
    if (argc == 3 && std::string_view(argv[1]) == "decode") return decode(argv[2]);
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
