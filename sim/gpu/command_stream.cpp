// Strict decoding of the 2D core's command stream (see command_stream.h).
#include "command_stream.h"

#include <cinttypes>
#include <cstdio>

#include "gal_states.h"

namespace veld::gpusim {
namespace {

struct StateName {
    uint32_t address;
    const char* name;
};

constexpr StateName kNames[] = {
    {0x0004, "dummy"},
    {0x0670, "auto-flush cycles"},
    {0x1200, "source address"},
    {0x1204, "source stride"},
    {0x1208, "source rotation"},
    {0x120C, "source configuration"},
    {0x1210, "source origin"},
    {0x1214, "source size"},
    {0x1218, "background colour"},
    {0x121C, "foreground colour / source colour key low"},
    {0x1220, "horizontal stretch factor"},
    {0x1224, "vertical stretch factor"},
    {0x1228, "target address"},
    {0x122C, "target stride"},
    {0x1230, "target rotation and width"},
    {0x1234, "destination configuration"},
    {0x123C, "pattern configuration"},
    {0x1240, "monochrome pattern"},
    {0x1248, "pattern address"},
    {0x1254, "pattern or line colour"},
    {0x125C, "ROP"},
    {0x1260, "clip top left"},
    {0x1264, "clip bottom right"},
    {0x1268, "clear byte mask"},
    {0x126C, "mirror"},
    {0x1270, "clear colour (older chips)"},
    {0x1274, "clear colour (older chips)"},
    {0x1278, "origin fraction"},
    {0x127C, "alpha control"},
    {0x1280, "alpha modes"},
    {0x12B4, "target height"},
    {0x12B8, "source height"},
    {0x12BC, "rotation and mirror"},
    {0x12C0, "clear colour"},
    {0x12C4, "target colour key low"},
    {0x12C8, "source global colour"},
    {0x12CC, "target global colour"},
    {0x12D0, "multiply modes"},
    {0x12D4, "transparency modes"},
    {0x12D8, "pixel-engine control"},
    {0x12DC, "source colour key high"},
    {0x12E0, "target colour key high"},
    {0x12E8, "dither table"},
    {0x1328, "tiling configuration"},
    {0x132C, "colour-space conversion"},
    {0x1650, "end of frame (older chips)"},
    {0x3800, "pipe select"},
    {0x3808, "semaphore"},
    {0x380C, "flush"},
};

bool fail(DecodeError& error, uint32_t offset, const char* reason) {
    error.offset = offset;
    error.reason = reason;
    return false;
}

// Words of a load of `count` states with its padding. The usual counts take branches, which
// the processor predicts, so that finding the next command does not wait for this command's
// word to be loaded and taken apart; the empty statements keep the compiler from turning the
// branches into conditional moves.
inline size_t loadLength(uint32_t count) {
    if (count == 1) {
        asm volatile("");
        return 2;
    }
    if (count <= 3) {
        asm volatile("");
        return 4;
    }
    return (count + 2) & ~1u;
}

}  // namespace

const char* stateName(uint32_t byteAddress) {
    for (const StateName& n : kNames)
        if (n.address == byteAddress) return n.name;
    return "";
}

bool decodeStream(std::span<const uint32_t> words, std::vector<Command>& out, DecodeError& error) {
    const size_t n = words.size();
    if (n % 2 != 0) return fail(error, uint32_t(n * 4 - 4), "stream is not a whole number of 8-byte units");
    // Every command takes at least two words.
    out.reserve(out.size() + n / 2);
    const uint32_t* w = words.data();
    size_t i = 0;
    while (i < n) {
        const uint32_t word = w[i];
        const uint32_t offset = uint32_t(i * 4);
        // State loads are nearly all of a stream: their path comes first and has no calls.
        if ((word >> 27) == GAL_OP_LOAD_STATE) {
            uint32_t count = (word >> 16) & 0x3FFu;
            // A predicted branch, not arithmetic: it keeps the count off the chain from one
            // command word to the next.
            if (count == 0) [[unlikely]] count = 1024;  // 1024 is written as 0
            const uint32_t address = word & 0xFFFFu;
            if (address + count > GAL_STATE_SPACE)
                return fail(error, offset, "state address outside the register file");
            const size_t length = loadLength(count);
            if (length > n - i) return fail(error, offset, "state load runs past the stream");
            if (!(count & 1u) && w[i + 1 + count] != 0)
                return fail(error, offset, "state load padding is not zero");
            out.emplace_back(offset, count, Op::Load, ((word >> 26) & 1u) != 0, w + i + 1);
            i += length;
            continue;
        }
        switch (word >> 27) {
        case GAL_OP_NOP:
            if (word != GAL_NOP_WORD) return fail(error, offset, "malformed no-op");
            out.emplace_back(offset, 0, Op::Nop, false, w + i + 1);
            i += 2;
            break;
        case GAL_OP_STALL:
            if (word != GAL_STALL_WORD || w[i + 1] != GAL_SEMAPHORE_TOKEN)
                return fail(error, offset, "malformed stall");
            out.emplace_back(offset, 0, Op::Stall, false, w + i + 1);
            i += 2;
            break;
        case GAL_OP_TRAILER:
            if (word != GAL_TRAILER_WORD) return fail(error, offset, "malformed trailing word pair");
            out.emplace_back(offset, 0, Op::Trailer, false, w + i + 1);
            i += 2;
            break;
        case GAL_OP_START_DE: {
            const uint32_t rects = (word >> 8) & 0xFFu;
            const uint32_t inlineWords = (word >> 16) & 0x7FFu;
            if (rects == 0) return fail(error, offset, "draw without a rectangle");
            if (word & 0xFFu) return fail(error, offset, "reserved bits set in a draw");
            const size_t payload = 2 * size_t(rects) + ((inlineWords + 1) & ~1u);
            if (2 + payload > n - i) return fail(error, offset, "draw runs past the stream");
            if (w[i + 1] != 0) return fail(error, offset, "draw padding is not zero");
            out.emplace_back(offset, rects, Op::Draw, false, w + i + 2);
            i += 2 + payload;
            break;
        }
        default:
            return fail(error, offset, "unknown opcode");
        }
    }
    return true;
}

std::string describe(const Command& c) {
    char line[160];
    std::string text;
    switch (c.op) {
    case Op::Load:
        for (uint32_t k = 0; k < c.count; ++k) {
            const uint32_t address = c.address() + 4 * k;
            const char* name = stateName(address);
            std::snprintf(line, sizeof line, "0x%06x LOAD%s 0x%05x%s%s = 0x%08x\n", c.offset,
                          c.fixedPoint ? "X" : "", address, *name ? " " : "", name, c.data[k]);
            text += line;
        }
        return text;
    case Op::Nop:
        std::snprintf(line, sizeof line, "0x%06x NOP\n", c.offset);
        return line;
    case Op::Stall:
        std::snprintf(line, sizeof line, "0x%06x STALL token 0x%x\n", c.offset, GAL_SEMAPHORE_TOKEN);
        return line;
    case Op::Trailer:
        std::snprintf(line, sizeof line, "0x%06x TRAILER target 0x%08x\n", c.offset, c.address());
        return line;
    case Op::Draw:
        for (uint32_t r = 0; r < c.count; ++r) {
            const uint32_t a = c.data[2 * r], b = c.data[2 * r + 1];
            std::snprintf(line, sizeof line, "0x%06x DRAW (%u, %u) to (%u, %u)%s\n", c.offset,
                          a & 0xFFFF, a >> 16, b & 0xFFFF, b >> 16,
                          c.inlineWords() && r == 0 ? " with inline data" : "");
            text += line;
        }
        return text;
    }
    return text;
}

}  // namespace veld::gpusim
