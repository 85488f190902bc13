// The 2D core's command stream, decoded strictly: LOAD, NOP, STALL, DRAW and TRAILER records,
// every rule checked (opcode, count, 8-byte alignment, zero padding, no state outside the
// register file, data that fits). Shared by the simulated core, veldctl gpu decode and tests.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace veld::gpusim {

enum class Op { Load, Nop, Stall, Draw, Trailer };

struct Command {
    Op op;
    uint32_t offset;           // byte offset in the stream
    uint32_t address = 0;      // Load: first state, byte address; Trailer: the address word
    uint32_t count = 0;        // Load: states; Draw: rectangles
    bool fixedPoint = false;   // Load
    std::span<const uint32_t> data;  // Load: values; Draw: the rectangle words then inline data
    uint32_t inlineWords = 0;  // Draw: inline data words after the rectangles
};

struct DecodeError {
    uint32_t offset = 0;  // byte offset of the offending command
    std::string reason;
};

// Decodes `words`. On failure `error` names the offset and the reason, `out` holds what came
// before.
bool decodeStream(std::span<const uint32_t> words, std::vector<Command>& out, DecodeError& error);

// The name of a state (byte address) where the driver names it, else empty.
const char* stateName(uint32_t byteAddress);

// One readable line per command ("0x0010 LOAD 0x1228 target address = 0x40010000 ...").
std::string describe(const Command& c);

}  // namespace veld::gpusim
