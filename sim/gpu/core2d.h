// The simulated GPU's software 2D core, stage 1: it runs a decoded command stream against its
// register file and draws into video memory: clear, and blit with ROP 0xCC, on the 32-bit
// formats, clipped. Every pixel access is checked against the allocated nodes first; an
// access outside them is a GPU fault and nothing is written.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "command_stream.h"
#include "gpu_profile.h"

namespace veld::gpusim {

class Core2D {
public:
    // `inside(offset, bytes)`: true when the bytes lie in an allocated node. `fault(what, a, b)`
    // counts a GPU fault.
    using Inside = std::function<bool(uint64_t offset, uint64_t bytes)>;
    using Fault = std::function<void(const char* what, uint64_t a, uint64_t b)>;

    Core2D(uint8_t* memory, const ChipProfile& profile, Inside inside, Fault fault);

    void execute(const std::vector<Command>& commands);

    uint32_t state(uint32_t byteAddress) const { return registers_[byteAddress / 4]; }
    uint64_t draws() const { return draws_; }
    uint64_t pixels() const { return pixels_; }

private:
    struct Rect {
        int32_t left, top, right, bottom;
    };
    void draw(uint32_t topLeft, uint32_t bottomRight);
    bool clipped(uint32_t topLeft, uint32_t bottomRight, Rect& r) const;
    // The offset in video memory of a GPU address, or false (fault counted).
    bool region(uint32_t gpuAddress, uint32_t stride, const Rect& r, uint64_t& offset);
    void clear(const Rect& r);
    void blit(const Rect& r, const Rect& unclipped);

    uint8_t* memory_;
    const ChipProfile& profile_;
    Inside inside_;
    Fault fault_;
    std::vector<uint32_t> registers_;
    uint64_t draws_ = 0, pixels_ = 0;
};

}  // namespace veld::gpusim
