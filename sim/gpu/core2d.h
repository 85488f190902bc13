// The simulated GPU's software 2D core: it runs a decoded command stream against its register
// file and draws into video memory. Clear, line, blit and stretch blit on every 2D format the
// driver's format table lists (RGB and alpha formats read and written, INDEX8 through the
// palette, YUV sources and targets in every layout, each in its colour mode), filter
// blits in two passes, with the 256 ternary raster operations over pattern, source and
// destination, colour keys and transparency modes, monochrome and masked sources fed inline,
// rotation and mirroring, clipping. The meaning of each state is the one gal_states.h gives.
//
// Every pixel access is checked against the allocated nodes before anything is written; an
// access outside them, or a read outside the source surface, is a GPU fault and the draw
// writes nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "colour_space.h"
#include "command_stream.h"
#include "gpu_profile.h"
#include "raster.h"

namespace veld::gpusim {

class Core2D {
public:
    // `inside(offset, bytes)`: true when the bytes lie in an allocated node. `fault(what, a, b)`
    // counts a GPU fault.
    using Inside = std::function<bool(uint64_t offset, uint64_t bytes)>;
    using Fault = std::function<void(const char* what, uint64_t a, uint64_t b)>;

    Core2D(uint8_t* memory, const ChipProfile& profile, Inside inside, Fault fault);
    // Planes in the user-memory window (user memory mapped into the GPU): `user(address, first,
    // bytes)` gives where the byte at GPU address `address` is staged when [first, first +
    // bytes) lies in one mapping that also holds `address`, else null.
    using UserMemory = std::function<uint8_t*(uint64_t address, uint64_t first, uint64_t bytes)>;
    void setUserMemory(UserMemory user) { user_ = std::move(user); }

    void execute(const std::vector<Command>& commands);

    uint32_t state(uint32_t byteAddress) const { return registers_[byteAddress / 4]; }
    // The rotation state as the masked loads of 0x12BC left it.
    uint32_t rotation() const { return rotation_; }
    uint64_t draws() const { return draws_; }
    // The target of the latest draw that reached memory (for veldctl gpu shot): its GPU
    // address, stride, size states (0: unbounded) and configuration state.
    struct TargetRecord {
        uint32_t address = 0, stride = 0, width = 0, height = 0, config = 0;
    };
    const TargetRecord& lastTarget() const { return lastTarget_; }
    uint64_t pixels() const { return pixels_; }

private:
    void load(uint32_t byteAddress, uint32_t value);
    void draw(const Command& c, uint32_t index);
    void drawRectangle(const Command& c, uint32_t index, uint32_t command);
    // Multi-source blits (core_multi_source.cpp): a source's control word latches the source
    // states loaded before it; the draw blends the latched sources one after another.
    struct SourceBank {
        bool enabled = false;
        uint32_t rotation = 0;
        std::vector<uint32_t> states;
    };
    void latchSource(uint32_t index, uint32_t control);
    void multiSource(const Command& c, uint32_t index);
    void line(uint32_t start, uint32_t end, const Area& bounds);
    // Resolves a plane: the memory rectangle `m` of `bytesPerPixel`-byte pixels at a GPU
    // address and stride must lie in one node. Returns the host pointer of the plane's
    // first byte, or null (fault counted).
    uint8_t* plane(uint32_t gpuAddress, uint32_t stride, const Area& m, uint32_t bytesPerPixel);
    bool target(RasterJob& job, uint32_t config);
    bool source(RasterJob& job, const Command& c);
    bool brush(RasterJob& job);
    void blending(RasterJob& job) const;
    bool stream(RasterJob& job, const Command& c);
    // Filter passes and YUV targets (core_filter.cpp).
    void filterPass(RasterJob& job, const Command& c, uint32_t command);
    uint64_t renderYuvTarget(RasterJob& job, const Area& memoryArea);
    // Planar and semi-planar YUV targets (core_yuv_target.cpp).
    uint64_t renderPlanarYuvTarget(RasterJob& job, const Area& memoryArea);
    // A draw on `copy`, the working values of the YUV memory area `a` of a target (decoded
    // first in the target's colour space).
    uint64_t renderOnCopy(RasterJob& job, PixelPlanes yuv, const Area& a, std::vector<uint32_t>& copy);
    // Any YUV target: the working copy and the way back to its planes.
    uint64_t renderAnyYuvTarget(RasterJob& job, const Area& memoryArea);
    const uint32_t* palette() const;
    bool fail(const char* what, uint64_t a, uint64_t b);

    uint8_t* memory_;
    const ChipProfile& profile_;
    Inside inside_;
    Fault fault_;
    UserMemory user_;
    std::vector<uint32_t> registers_;
    uint32_t rotation_ = 0;
    SourceBank banks_[8];
    uint32_t targetColourMode_ = 0;  // the field of the masked state 0x132C
    ColourSpace sourceSpace_;
    uint64_t draws_ = 0, pixels_ = 0;
    TargetRecord lastTarget_;
};

}  // namespace veld::gpusim
