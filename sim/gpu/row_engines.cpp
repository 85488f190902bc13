// The row engines' table and the run-time choice (see row_engines.h). The engines themselves
// live in files of their own (row_engines_avx2.cpp, row_engines_avx512.cpp), each compiled for
// its instruction set, so that the rest of the simulator stays on the baseline of the build
// and an engine runs only after the CPU said it has its instructions.
#include "row_engines.h"

#include <cstdlib>
#include <cstring>

#if defined(__x86_64__)
#define VELD_ROW_ENGINES_X86 1
#endif

namespace veld::gpusim {

#ifdef VELD_ROW_ENGINES_X86
ChannelMoves channelMoves(const PixelLayout& l) {
    ChannelMoves m{};
    const ChannelField fields[4] = {l.a, l.r, l.g, l.b};
    for (int k = 0; k < 4; ++k) {
        const ChannelField f = fields[k];
        m.right[k] = _mm_cvtsi32_si128(f.bits ? 24 - 8 * k + 8 - f.bits : 0);
        m.left[k] = _mm_cvtsi32_si128(f.shift);
        m.mask[k] = f.bits ? ((1u << f.bits) - 1) << f.shift : 0;
    }
    return m;
}
#endif

namespace {

#ifdef VELD_ROW_ENGINES_X86

bool hasAvx2() { return __builtin_cpu_supports("avx2"); }
bool hasAvx512() { return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw"); }

constexpr RowEngine kEngines[] = {
    {"avx512bw", hasAvx512, encodeRowAvx512},
    {"avx2", hasAvx2, encodeRowAvx2},
};

#endif

const RowEngine* choose() {
    const char* wanted = std::getenv("VELD_GPU_ROW_ENGINE");
    for (const RowEngine& e : rowEngines()) {
        if (wanted && *wanted && std::strcmp(wanted, e.name) != 0) continue;
        if (e.runnable()) return &e;
    }
    return nullptr;  // "portable", an engine the CPU lacks, or none built
}

}  // namespace

bool rowEngineHandles(const PixelLayout& l) { return l.kind == PixelKind::Rgb && (l.bytes == 2 || l.bytes == 4); }

std::span<const RowEngine> rowEngines() {
#ifdef VELD_ROW_ENGINES_X86
    return kEngines;
#else
    return {};
#endif
}

const RowEngine* chosenRowEngine() {
    static const RowEngine* const engine = choose();
    return engine;
}

}  // namespace veld::gpusim
