// Command streams come from client processes: the GPU simulator must decode any bytes safely
// and run whatever decodes on its 2D core without touching memory outside the nodes. The
// fuzzer's bytes are the stream; the core draws into a small video memory with one node, and
// its checks must keep every access inside the node.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "command_stream.h"
#include "core2d.h"

namespace {

constexpr uint64_t kVideoBytes = 64 << 10;
constexpr uint64_t kNodeOffset = 4096, kNodeBytes = 32 << 10;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint32_t> words(size / 4);
    if (!words.empty()) std::memcpy(words.data(), data, words.size() * 4);
    std::vector<veld::gpusim::Command> commands;
    veld::gpusim::DecodeError error;
    if (!veld::gpusim::decodeStream(words, commands, error)) return 0;
    // Only the node is addressable: the rest stays unpoisoned but is checked after the run.
    std::vector<uint8_t> memory(kVideoBytes, 0x5A);
    veld::gpusim::Core2D core(
        memory.data(), veld::gpusim::kProfiles[0],
        [](uint64_t offset, uint64_t bytes) {
            return offset >= kNodeOffset && bytes <= kNodeBytes && offset - kNodeOffset <= kNodeBytes - bytes;
        },
        [](const char*, uint64_t, uint64_t) {});
    core.execute(commands);
    for (uint64_t i = 0; i < kVideoBytes; ++i)
        if ((i < kNodeOffset || i >= kNodeOffset + kNodeBytes) && memory[i] != 0x5A) __builtin_trap();
    return 0;
}
