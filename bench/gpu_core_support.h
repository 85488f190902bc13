// The simulated GPU's 2D core run inside a benchmark's own process: video memory, the decoder
// and the executor, no driver and no kernel between them; streams are written word by word.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "command_stream.h"
#include "core2d.h"

namespace veld::bench {

class CoreMachine {
public:
    // `bytes` of video memory filled with 0x11; a fault is printed under `name`.
    CoreMachine(uint64_t bytes, const char* name)
        : memory_(bytes, 0x11),
          core_(memory_.data(), gpusim::kProfiles[0],
                [bytes](uint64_t offset, uint64_t size) { return offset + size <= bytes; },
                [name](const char* what, uint64_t, uint64_t) { std::fprintf(stderr, "%s: fault: %s\n", name, what); }) {}

    // Decodes and executes one stream; a stream the decoder refuses is a fault of the benchmark.
    void run(const std::vector<uint32_t>& words) {
        commands_.clear();
        gpusim::DecodeError error;
        if (!gpusim::decodeStream(words, commands_, error)) std::abort();
        core_.execute(commands_);
    }
    uint8_t* at(uint64_t offset) { return memory_.data() + offset; }

private:
    std::vector<uint8_t> memory_;
    gpusim::Core2D core_;
    std::vector<gpusim::Command> commands_;
};

// A state load of `values` at byte address `address`, padded to the stream's 8-byte rule.
inline void loadState(std::vector<uint32_t>& w, uint32_t address, const std::vector<uint32_t>& values) {
    w.push_back(0x08000000u | uint32_t(values.size() & 0x3FF) << 16 | address >> 2);
    w.insert(w.end(), values.begin(), values.end());
    if ((1 + values.size()) % 2) w.push_back(0);
}

}  // namespace veld::bench

// A Google Benchmark row that runs `body()` per iteration.
#define VELD_CORE_ROW(name, body)            \
    void name(benchmark::State& state) {     \
        for (auto _ : state) {               \
            body();                          \
            benchmark::ClobberMemory();      \
        }                                    \
    }                                        \
    BENCHMARK(name)
