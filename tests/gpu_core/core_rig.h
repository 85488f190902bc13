// Test rig of the simulated 2D core: video memory with nodes of its own, command streams built
// word by word (state loads as the state table gives them, draws with their inline data), and
// one description of a 2D operation that runs both on the core and on the reference renderer
// (tests/gal_reference), whose results are compared pixel by pixel.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "command_stream.h"
#include "core2d.h"
#include "formats.h"
#include "reference.h"

namespace coretest {

// The hardware format, swizzle and UV swap of a 2D format code, as the driver sends them.
struct HwFormat {
    uint32_t format = 0, swizzle = 0;
    bool uvSwap = false;
};
HwFormat hwFormat(galref::Format format);

// A command stream under construction.
class Stream {
public:
    void load(uint32_t address, std::initializer_list<uint32_t> values);
    void load(uint32_t address, const std::vector<uint32_t>& values);
    void draw(const galref::Rect& rect, const std::vector<uint8_t>& inlineData = {});
    void line(uint32_t x0, uint32_t y0, uint32_t x1, uint32_t y1);
    const std::vector<uint32_t>& words() const { return words_; }

private:
    std::vector<uint32_t> words_;
};

// Video memory of the core: nodes handed out one after another with guard gaps between them.
class Rig {
public:
    explicit Rig(const veld::gpusim::ChipProfile& profile = veld::gpusim::kProfiles[0]);
    // A node holding a copy of the buffer's bytes; returns its GPU address.
    uint32_t place(const galref::SurfaceBuffer& buffer);
    // GPU address of a buffer's plane once placed at `base`.
    static uint32_t planeAddress(const galref::SurfaceBuffer& buffer, uint32_t base, int plane);
    // Copies the node at `base` back into the buffer.
    void fetch(uint32_t base, galref::SurfaceBuffer& buffer) const;
    uint8_t* at(uint32_t gpu) { return memory_.data() + (gpu - veld::gpusim::kGpuBase); }
    // Decodes and executes; false (with the reason in `error`) when the stream is malformed.
    bool run(const Stream& stream, std::string* error = nullptr);
    uint64_t faults() const { return faults_; }
    const std::string& lastFault() const { return lastFault_; }
    veld::gpusim::Core2D& core() { return core_; }

private:
    struct Node {
        uint64_t offset, bytes;
    };
    std::vector<uint8_t> memory_;
    std::vector<Node> nodes_;
    uint64_t next_ = 0;
    uint64_t faults_ = 0;
    std::string lastFault_;
    veld::gpusim::Core2D core_;
};

// A line runs from the destination's (left, top) to its (right, bottom), either way round.
enum class Kind { Clear, Blit, Stretch, Mono, Line, Filter };

// One 2D operation in the engine's terms.
struct Operation {
    Kind kind = Kind::Blit;
    galref::Format targetFormat = galref::A8R8G8B8;
    uint32_t targetWidth = 24, targetHeight = 20, targetRotation = 0;
    galref::Format sourceFormat = galref::A8R8G8B8;
    uint32_t sourceWidth = 24, sourceHeight = 20, sourceRotation = 0;
    galref::Rect destination{2, 3, 18, 15};
    galref::Rect clip = galref::kDefaultClip;
    galref::Rect source{1, 1, 0, 0};  // origin (left, top) in the source view; size for stretches
    galref::Raster raster;
    uint32_t horizontalFactor = 0x10000, verticalFactor = 0x10000;
    uint32_t clearColour = 0xFF336699;
    galref::Brush brush;  // `pattern` of a colour brush is set by the rig
    galref::Format brushFormat = galref::A8R8G8B8;
    bool masked = false;  // a masked source: the stream is its mask
    uint32_t packing = 0;
    uint32_t monoForeground = 0xFFFF0000, monoBackground = 0xFF0000FF, monoTransparent = 0;
    uint32_t seed = 1;  // surface contents, stream and palette
    uint32_t yuvMode = 0;  // colour mode of a YUV source (0 BT.601, 1 BT.709)
    // Filter blits: `source` is the whole source rectangle, `sub` the written part of the
    // destination (in its own coordinates); filter type and kernel sizes.
    galref::Rect sub{};
    uint32_t filterType = 0, kernelH = 5, kernelV = 5;
    // The core alone: rotations and mirror-extension flags (bit 0 horizontal, bit 1 vertical)
    // that draw what the rotations above draw on the reference.
    int32_t coreSourceRotation = -1, coreTargetRotation = -1;
    uint32_t sourceMirrorFlags = 0, targetMirrorFlags = 0;
};

std::string describe(const Operation& op);

// Runs the operation on the reference and on the core and compares the targets. Returns ""
// when they agree (pixels, and a fault exactly when the reference refuses), else one line
// naming the operation, format and first differing pixel.
std::string check(const Operation& op);

}  // namespace coretest
