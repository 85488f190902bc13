// veldctl gpu: what the GPU simulator of the current root and namespace holds (video memory,
// nodes, signals, commits, GPU faults), asked over its control interface, and the decoding of
// a captured command stream.
#include "gpu.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "command_stream.h"
#include "gpu_device.h"

namespace veld::tools {
namespace {

// Prints one command span; false when it is malformed.
bool printStream(const char* path, std::span<const uint32_t> words, uint32_t base) {
    std::vector<gpusim::Command> commands;
    gpusim::DecodeError error;
    const bool ok = gpusim::decodeStream(words, commands, error);
    for (const gpusim::Command& c : commands) std::fputs(gpusim::describe(c).c_str(), stdout);
    if (!ok)
        std::fprintf(stderr, "veldctl: gpu decode: %s: malformed at offset 0x%x: %s\n", path,
                     base + error.offset, error.reason.c_str());
    return ok;
}

// A dump file: its header, frames, command spans (decoded), surfaces and deletions.
int decodeDump(const char* path, const std::vector<char>& bytes) {
    auto word = [&](size_t at) {
        uint32_t w = 0;
        std::memcpy(&w, bytes.data() + at, 4);
        return w;
    };
    if (bytes.size() < 12) {
        std::fprintf(stderr, "veldctl: gpu decode: %s: truncated dump header\n", path);
        return 1;
    }
    std::printf("dump: %u bytes of records, %u frames\n", word(4), word(8));
    size_t at = 12;
    while (at + 12 <= bytes.size()) {
        const std::string tag(bytes.data() + at, 4);
        if (tag == "frm ") {
            std::printf("frame %u (%u bytes)\n", word(at + 8), word(at + 4));
            at += 12;
        } else if (tag == "del ") {
            std::printf("delete surface 0x%08x\n", word(at + 8));
            at += 12;
        } else if (tag == "surf" && at + 20 <= bytes.size()) {
            std::printf("surface 0x%08x %u x %u format %u, %u bytes\n", word(at + 4),
                        word(at + 8) & 0xFFFF, word(at + 8) >> 16, word(at + 12), word(at + 16));
            at += 20;
        } else {
            const uint32_t n = word(at + 4);
            if (n > bytes.size() - at - 12) {
                std::fprintf(stderr, "veldctl: gpu decode: %s: record at 0x%zx runs past the file\n",
                             path, at);
                return 1;
            }
            std::printf("%s: %u bytes at 0x%08x\n", tag.c_str(), n, word(at + 8));
            if (tag == "cmd ") {
                if (n % 8 != 0) {
                    std::fprintf(stderr, "veldctl: gpu decode: %s: command record at 0x%zx is not "
                                 "a whole number of 8-byte units\n", path, at);
                    return 1;
                }
                std::vector<uint32_t> words(n / 4);
                std::memcpy(words.data(), bytes.data() + at + 12, n);
                if (!printStream(path, words, 0)) return 1;
            }
            at += 12 + n;
        }
    }
    if (at != bytes.size()) {
        std::fprintf(stderr, "veldctl: gpu decode: %s: %zu stray bytes at the end\n", path,
                     bytes.size() - at);
        return 1;
    }
    return 0;
}

int decode(const char* path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "veldctl: gpu decode: cannot read %s\n", path);
        return 1;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    if (bytes.size() >= 4 && std::memcmp(bytes.data(), "gcDB", 4) == 0) return decodeDump(path, bytes);
    if (bytes.size() % 4 != 0) {
        std::fprintf(stderr, "veldctl: gpu decode: %s: %zu bytes is not a whole number of words\n",
                     path, bytes.size());
        return 1;
    }
    std::vector<uint32_t> words(bytes.size() / 4);
    std::memcpy(words.data(), bytes.data(), bytes.size());
    return printStream(path, words, 0) ? 0 : 1;
}

int runGpuDecode(const Invocation& call) {
    return decode(std::string(call.args()[0]).c_str());
}

int runGpuStatus(const Invocation& call) {
    const auto answer = gpu_device::simControl("status");
    if (!answer)
        return call.failure("no GPU simulator serves this root and namespace "
                            "(start it with veldctl sim start)");
    std::fwrite(answer->data(), 1, answer->size(), stdout);
    return 0;
}

}  // namespace

const CommandSpec kGpuStatusCommand{
    "gpu status", "", 0, 0, {}, "show the simulated GPU",
    "  The simulated GPU of $VELD_ROOT and $VELD_NS: chip profile, driver version, video\n"
    "  memory by pool, nodes, signals, requests, commits and GPU faults. The simulator is\n"
    "  started with veldctl sim start (VELD_GPU_PROFILE=plain|old chooses the chip).\n",
    runGpuStatus};

const CommandSpec kGpuDecodeCommand{
    "gpu decode", "FILE", 1, 1, {}, "print a GPU dump or command stream as state loads",
    "  Prints a dump file (\"gcDB\") or a captured command stream (raw little-endian words,\n"
    "  as the simulator's save-stream control writes it) as readable state loads, draws and\n"
    "  stalls. A malformed stream is named with its offset and reason (exit status 1).\n",
    runGpuDecode};

}  // namespace veld::tools
