// The 2D core's command stream, decoded strictly: LOAD, NOP, STALL, DRAW and TRAILER records,
// every rule checked (opcode, count, 8-byte alignment, zero padding, no state outside the
// register file, data that fits). Shared by the simulated core, veldctl gpu decode and tests.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace veld::gpusim {

enum class Op : uint8_t { Load, Nop, Stall, Draw, Trailer };

// One record, 16 bytes: decoding writes one per command, so its size is most of the
// decoder's cost. What can be read from the command word is read from it when asked.
struct Command {
    const uint32_t* data;  // Load: values; Draw: the rectangle words then inline data;
                           // no-op, stall and trailer: their second word
    uint32_t offset;       // byte offset in the stream
    uint16_t count;        // Load: states; Draw: rectangles
    Op op;
    bool fixedPoint;       // Load

    Command() = default;
    // Built in place by the decoder (a record built aside and copied in is read back whole
    // right after its narrow fields were stored, which stalls the copy).
    Command(uint32_t offset_, uint32_t count_, Op op_, bool fixedPoint_, const uint32_t* data_)
        : data(data_), offset(offset_), count(uint16_t(count_)), op(op_), fixedPoint(fixedPoint_) {}

    // Load: the first state's byte address; Trailer: the address word.
    uint32_t address() const {
        return op == Op::Load ? (data[-1] & 0xFFFFu) * 4 : op == Op::Trailer ? data[0] : 0;
    }
    // Draw: the inline data words after the rectangles.
    uint32_t inlineWords() const { return op == Op::Draw ? (data[-2] >> 16) & 0x7FFu : 0; }
};
static_assert(sizeof(Command) == 16 || sizeof(void*) != 8, "a record is 16 bytes");

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
