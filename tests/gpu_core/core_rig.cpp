// Test rig of the simulated 2D core (see core_rig.h).
#include "core_rig.h"

#include "filter.h"

#include <cstdio>
#include <cstring>

#include "gal_states.h"

namespace coretest {

using namespace galref;
using veld::gpusim::kGpuBase;

namespace {

constexpr uint64_t kVideoBytes = 256u << 10;
constexpr uint64_t kGuard = 256;

uint32_t xy(int32_t x, int32_t y) { return uint32_t(x) | uint32_t(y) << 16; }

uint32_t clip15(int32_t v) { return v < 0 ? 0 : uint32_t(v) & 0x7FFF; }

}  // namespace

HwFormat hwFormat(Format f) {
    switch (f) {
    case INDEX8: return {GAL_HW_FORMAT_INDEX8, 0};
    case X4R4G4B4: return {GAL_HW_FORMAT_X4R4G4B4, 0};
    case A4R4G4B4: return {GAL_HW_FORMAT_A4R4G4B4, 0};
    case R4G4B4A4: return {GAL_HW_FORMAT_A4R4G4B4, 1};
    case X1R5G5B5: return {GAL_HW_FORMAT_X1R5G5B5, 0};
    case A1R5G5B5: return {GAL_HW_FORMAT_A1R5G5B5, 0};
    case R5G5B5A1: return {GAL_HW_FORMAT_A1R5G5B5, 1};
    case R5G6B5: return {GAL_HW_FORMAT_R5G6B5, 0};
    case X8R8G8B8: return {GAL_HW_FORMAT_X8R8G8B8, 0};
    case A8R8G8B8: return {GAL_HW_FORMAT_A8R8G8B8, 0};
    case R8G8B8A8: return {GAL_HW_FORMAT_A8R8G8B8, 1};
    case R8G8B8X8: return {GAL_HW_FORMAT_X8R8G8B8, 1};
    case R5G5B5X1: return {GAL_HW_FORMAT_X1R5G5B5, 1};
    case R4G4B4X4: return {GAL_HW_FORMAT_X4R4G4B4, 1};
    case A4B4G4R4: return {GAL_HW_FORMAT_A4R4G4B4, 2};
    case A1B5G5R5: return {GAL_HW_FORMAT_A1R5G5B5, 2};
    case B5G6R5: return {GAL_HW_FORMAT_R5G6B5, 2};
    case X8B8G8R8: return {GAL_HW_FORMAT_X8R8G8B8, 2};
    case A8B8G8R8: return {GAL_HW_FORMAT_A8R8G8B8, 2};
    case B4G4R4A4: return {GAL_HW_FORMAT_A4R4G4B4, 3};
    case B5G5R5A1: return {GAL_HW_FORMAT_A1R5G5B5, 3};
    case B8G8R8X8: return {GAL_HW_FORMAT_X8R8G8B8, 3};
    case B8G8R8A8: return {GAL_HW_FORMAT_A8R8G8B8, 3};
    case X4B4G4R4: return {GAL_HW_FORMAT_X4R4G4B4, 2};
    case X1B5G5R5: return {GAL_HW_FORMAT_X1R5G5B5, 2};
    case B4G4R4X4: return {GAL_HW_FORMAT_X4R4G4B4, 3};
    case B5G5R5X1: return {GAL_HW_FORMAT_X1R5G5B5, 3};
    case YUY2: return {GAL_HW_FORMAT_YUY2, 0};
    case UYVY: return {GAL_HW_FORMAT_UYVY, 0};
    case YVYU: return {GAL_HW_FORMAT_YUY2, 0, true};
    case VYUY: return {GAL_HW_FORMAT_UYVY, 0, true};
    case YV12:
    case I420: return {GAL_HW_FORMAT_YV12, 0};
    case NV12: return {GAL_HW_FORMAT_NV12, 0};
    case NV21: return {GAL_HW_FORMAT_NV12, 0, true};
    case NV16: return {GAL_HW_FORMAT_NV16, 0};
    case NV61: return {GAL_HW_FORMAT_NV16, 0, true};
    case A8: return {GAL_HW_FORMAT_A8, 0};
    case R8: return {GAL_HW_FORMAT_R8, 0};
    case RG16: return {GAL_HW_FORMAT_RG16, 0};
    }
    return {};
}

void Stream::load(uint32_t address, std::initializer_list<uint32_t> values) {
    load(address, std::vector<uint32_t>(values));
}

void Stream::load(uint32_t address, const std::vector<uint32_t>& values) {
    const uint32_t count = uint32_t(values.size());
    words_.push_back(0x08000000u | (count & 0x3FF) << 16 | (address >> 2));
    words_.insert(words_.end(), values.begin(), values.end());
    if ((1 + count) % 2) words_.push_back(0);
}

void Stream::draw(const Rect& rect, const std::vector<uint8_t>& inlineData) {
    const uint32_t dataWords = uint32_t((inlineData.size() + 3) / 4);
    words_.insert(words_.end(), {GAL_START_DE_WORD | dataWords << 16, 0, xy(rect.left, rect.top),
                                 xy(rect.right, rect.bottom)});
    std::vector<uint32_t> data((dataWords + 1) & ~1u, 0);
    if (!inlineData.empty()) std::memcpy(data.data(), inlineData.data(), inlineData.size());
    words_.insert(words_.end(), data.begin(), data.end());
}

void Stream::line(uint32_t x0, uint32_t y0, uint32_t x1, uint32_t y1) {
    words_.insert(words_.end(), {GAL_START_DE_WORD, 0, x0 | y0 << 16, x1 | y1 << 16});
}

Rig::Rig(const veld::gpusim::ChipProfile& profile)
    : memory_(kVideoBytes, 0xA5),
      core_(memory_.data(), profile,
            [this](uint64_t offset, uint64_t bytes) {
                for (const Node& n : nodes_)
                    if (offset >= n.offset && bytes <= n.bytes && offset - n.offset <= n.bytes - bytes) return true;
                return false;
            },
            [this](const char* what, uint64_t, uint64_t) {
                ++faults_;
                lastFault_ = what;
            }) {}

uint32_t Rig::place(const SurfaceBuffer& buffer) {
    next_ += kGuard;
    const uint64_t offset = next_;
    nodes_.push_back(Node{offset, buffer.size()});
    std::memcpy(memory_.data() + offset, const_cast<SurfaceBuffer&>(buffer).data(), buffer.size());
    next_ = (offset + buffer.size() + 63) & ~uint64_t(63);
    return uint32_t(kGpuBase + offset);
}

uint32_t Rig::planeAddress(const SurfaceBuffer& buffer, uint32_t base, int plane) {
    auto& b = const_cast<SurfaceBuffer&>(buffer);
    return base + uint32_t(b.surface.planes[plane] - b.data());
}

void Rig::fetch(uint32_t base, SurfaceBuffer& buffer) const {
    std::memcpy(buffer.data(), memory_.data() + (base - kGpuBase), buffer.size());
}

bool Rig::run(const Stream& stream, std::string* error) {
    std::vector<veld::gpusim::Command> commands;
    veld::gpusim::DecodeError decodeError;
    if (!veld::gpusim::decodeStream(stream.words(), commands, decodeError)) {
        if (error) *error = decodeError.reason;
        return false;
    }
    core_.execute(commands);
    return true;
}

std::string describe(const Operation& op) {
    static const char* kKinds[] = {"clear", "blit", "stretch blit", "mono blit", "line", "filter blit"};
    char text[400];
    std::snprintf(text, sizeof text,
                  "%s %s<-%s rop %02X/%02X modes s%u d%u p%u rot %u/%u mirror %d%d dest (%d,%d,%d,%d) "
                  "clip (%d,%d,%d,%d) src (%d,%d) factors %X/%X brush %d%s%s seed %u yuv %u "
                  "filter %u %ux%u src (%d,%d,%d,%d) sub (%d,%d,%d,%d)",
                  kKinds[int(op.kind)], formatName(op.targetFormat).c_str(),
                  op.kind == Kind::Clear || op.kind == Kind::Mono ? "-" : formatName(op.sourceFormat).c_str(),
                  op.raster.foregroundRop, op.raster.backgroundRop, op.raster.sourceMode,
                  op.raster.destinationMode, op.raster.patternMode, op.sourceRotation, op.targetRotation,
                  op.raster.mirrorHorizontal, op.raster.mirrorVertical, op.destination.left,
                  op.destination.top, op.destination.right, op.destination.bottom, op.clip.left,
                  op.clip.top, op.clip.right, op.clip.bottom, op.source.left, op.source.top,
                  op.horizontalFactor, op.verticalFactor, int(op.brush.type), op.masked ? " masked" : "",
                  op.raster.blend ? " blended" : "", op.seed, op.yuvMode, op.filterType, op.kernelH,
                  op.kernelV, op.source.left, op.source.top, op.source.right, op.source.bottom,
                  op.sub.left, op.sub.top, op.sub.right, op.sub.bottom);
    return text;
}

namespace {

// The source states of a colour source whose planes start at `base` in the rig.
void loadSource(Stream& s, const SurfaceBuffer& source, uint32_t base, uint32_t width, uint32_t height,
                uint32_t yuvMode, const Rect& rect) {
    const HwFormat sh = hwFormat(source.surface.format);
    s.load(GAL_STATE_SOURCE_ADDRESS,
           {Rig::planeAddress(source, base, 0), source.surface.strides[0], width,
            sh.format << GAL_SOURCE_CONFIG_FORMAT_SHIFT | sh.swizzle << GAL_SOURCE_CONFIG_SWIZZLE_SHIFT |
                (sh.uvSwap ? GAL_SOURCE_CONFIG_UV_SWAP : 0) | yuvMode << GAL_SOURCE_CONFIG_YUV_MODE_SHIFT});
    s.load(GAL_STATE_SOURCE_HEIGHT, {height});
    const FormatInfo info = *formatInfo(source.surface.format);
    if (info.planes > 1) {
        const int u = source.surface.format == YV12 ? 2 : 1, v = source.surface.format == YV12 ? 1 : 2;
        const bool three = info.planes == 3;
        s.load(GAL_STATE_SOURCE_UV,
               {Rig::planeAddress(source, base, u), source.surface.strides[u],
                three ? Rig::planeAddress(source, base, v) : 0, three ? source.surface.strides[v] : 0});
    }
    s.load(GAL_STATE_SOURCE_ORIGIN, {xy(rect.left, rect.top), xy(rect.width(), rect.height())});
}

// A filter blit: the reference's two passes against the core's, through an intermediate
// A8R8G8B8 buffer as the driver runs them.
std::string checkFilter(const Operation& op, const SurfaceBuffer& target, const SurfaceBuffer& source,
                        const std::vector<uint32_t>& palette, SurfaceBuffer& expected) {
    FilterKernel horizontal{}, vertical{};
    const uint32_t sw = uint32_t(op.source.width()), sh = uint32_t(op.source.height());
    const uint32_t dw = uint32_t(op.destination.width()), dh = uint32_t(op.destination.height());
    filterKernel(op.filterType, op.kernelH, sw, dw, horizontal);
    filterKernel(op.filterType, op.kernelV, sh, dh, vertical);
    const Status status = filterBlit(source.surface, op.source, expected.surface, op.destination, op.sub,
                                     horizontal, vertical);
    if (status != Status::Ok) return describe(op) + ": the reference refuses it (" + statusName(status) + ")";
    const uint32_t width = uint32_t(op.sub.width());
    SurfaceBuffer middle(A8R8G8B8, width, sh);
    Rig rig;
    const uint32_t targetBase = rig.place(target), sourceBase = rig.place(source), middleBase = rig.place(middle);
    const uint32_t factorH = stretchFactor(false, sw, dw), factorV = stretchFactor(false, sh, dh);
    const HwFormat th = hwFormat(op.targetFormat);
    Stream s;
    s.load(GAL_STATE_PIPE_SELECT, {1});
    s.load(GAL_STATE_PALETTE, palette);
    s.load(GAL_STATE_CLIP_TOP_LEFT, {0, 0x7FFF7FFFu});
    s.load(GAL_STATE_STRETCH_H, {factorH, factorV});
    s.load(GAL_STATE_FILTER_START, {uint32_t(op.sub.left) | uint32_t(op.sub.top) << 16});
    const auto kernelH = filterKernelWords(horizontal, false), kernelV = filterKernelWords(vertical, false);
    s.load(GAL_STATE_FILTER_KERNEL_H, std::vector<uint32_t>(kernelH.begin(), kernelH.end()));
    s.load(GAL_STATE_FILTER_KERNEL_V, std::vector<uint32_t>(kernelV.begin(), kernelV.end()));
    // Horizontal pass into the intermediate.
    s.load(GAL_STATE_TARGET_ADDRESS, {middleBase, middle.surface.strides[0], width});
    s.load(GAL_STATE_TARGET_CONFIG, {0x80000000u | GAL_HW_FILTER_H << 12 | GAL_HW_FORMAT_A8R8G8B8});
    s.load(GAL_STATE_TARGET_HEIGHT, {sh});
    s.load(GAL_STATE_ROTATION, {(0xFFFFFFFFu & ~0x33Fu & ~(0x3Fu << 20)) | op.sourceRotation});
    loadSource(s, source, sourceBase, op.sourceWidth, op.sourceHeight, op.yuvMode, op.source);
    s.draw(Rect{0, 0, int32_t(width), int32_t(sh)});
    // Vertical pass into the target.
    s.load(GAL_STATE_TARGET_ADDRESS, {targetBase, target.surface.strides[0], op.targetWidth});
    s.load(GAL_STATE_TARGET_CONFIG,
           {0x80000000u | GAL_HW_FILTER_V << 12 | th.swizzle << GAL_DEST_SWIZZLE_SHIFT | th.format});
    s.load(GAL_STATE_TARGET_HEIGHT, {op.targetHeight});
    s.load(GAL_STATE_ROTATION, {(0xFFFFFFFFu & ~0x33Fu & ~(0x3Fu << 20)) | op.targetRotation << 3});
    loadSource(s, middle, middleBase, width, sh, 0, Rect{0, 0, int32_t(width), int32_t(sh)});
    s.draw(Rect{op.destination.left + op.sub.left, op.destination.top + op.sub.top,
                op.destination.left + op.sub.right, op.destination.top + op.sub.bottom});
    s.load(GAL_STATE_FLUSH, {8});
    std::string error;
    if (!rig.run(s, &error)) return describe(op) + ": stream refused: " + error;
    if (rig.faults() != 0) return describe(op) + ": unexpected GPU fault: " + rig.lastFault();
    SurfaceBuffer actual = target;
    rig.fetch(targetBase, actual);
    return compareSurfaces(describe(op), expected.surface, actual.surface);
}

}  // namespace

std::string check(const Operation& op) {
    std::mt19937 random(op.seed);
    SurfaceBuffer target(op.targetFormat, op.targetWidth, op.targetHeight);
    target.fillRandom(random);
    target.surface.rotation = op.targetRotation;
    SurfaceBuffer source(op.sourceFormat, op.sourceWidth, op.sourceHeight);
    source.fillRandom(random);
    source.surface.rotation = op.sourceRotation;
    source.surface.yuvMode = YuvMode(op.yuvMode);
    std::vector<uint32_t> palette(256);
    for (uint32_t& entry : palette) entry = random();
    source.surface.palette = palette.data();
    SurfaceBuffer pattern(op.brushFormat, 8, 8);
    pattern.fillRandom(random);
    pattern.surface.palette = palette.data();
    // A line's ends may come in either order; it has no stream.
    const bool line = op.kind == Kind::Line;
    const uint32_t dw = line ? 0 : uint32_t(op.destination.width()), dh = line ? 0 : uint32_t(op.destination.height());
    const uint32_t streamStride = monoStreamStride(dw, op.packing);
    std::vector<uint8_t> stream(size_t(streamStride) * dh);
    for (uint8_t& byte : stream) byte = uint8_t(random());

    // The reference.
    SurfaceBuffer expected = target;
    Brush brush = op.brush;
    brush.pattern = &pattern.surface;
    MonoStream mono{stream.data(), streamStride, op.monoForeground, op.monoBackground, op.monoTransparent};
    Status status = Status::Ok;
    switch (op.kind) {
    case Kind::Clear:
        status = clear(expected.surface, op.destination, op.clip, op.clearColour, op.raster.foregroundRop,
                       op.raster.backgroundRop);
        break;
    case Kind::Mono:
        status = monoBlit(mono, 0, 0, expected.surface, op.destination, op.clip, brush, op.raster);
        break;
    case Kind::Line:
        status = galref::line(expected.surface, op.destination, op.clip, brush, op.raster.foregroundRop);
        break;
    case Kind::Blit:
    case Kind::Stretch: {
        Source s;
        s.type = op.masked ? SourceType::Masked : SourceType::Color;
        s.surface = &source.surface;
        s.rect = op.source;
        s.stream = mono;
        status = op.kind == Kind::Blit
                     ? blit(s, expected.surface, op.destination, op.clip, brush, op.raster)
                     : stretchBlit(s, expected.surface, op.destination, op.clip, brush, op.raster,
                                   op.horizontalFactor, op.verticalFactor);
        break;
    }
    case Kind::Filter: return checkFilter(op, target, source, palette, expected);
    }
    if (status != Status::Ok && status != Status::SourceOutside)
        return describe(op) + ": the reference refuses it (" + statusName(status) + ")";

    // The core.
    Rig rig;
    const uint32_t targetBase = rig.place(target);
    const uint32_t sourceBase = rig.place(source);
    const uint32_t patternBase = rig.place(pattern);
    const HwFormat th = hwFormat(op.targetFormat), sh = hwFormat(op.sourceFormat);
    static constexpr uint32_t kCommands[] = {GAL_HW_CLEAR, GAL_HW_BITBLIT, GAL_HW_STRETCH, GAL_HW_BITBLIT, GAL_HW_LINE};
    Stream s;
    s.load(GAL_STATE_PIPE_SELECT, {1});
    s.load(GAL_STATE_TARGET_ADDRESS, {targetBase, target.surface.strides[0], op.targetWidth});
    s.load(GAL_STATE_TARGET_CONFIG,
           {0x80000000u | kCommands[int(op.kind)] << 12 | th.swizzle << GAL_DEST_SWIZZLE_SHIFT | th.format});
    s.load(GAL_STATE_TARGET_HEIGHT, {op.targetHeight});
    s.load(GAL_STATE_TARGET_KEY_LOW, {op.raster.targetKeyLow});
    s.load(GAL_STATE_TARGET_KEY_HIGH, {op.raster.targetKeyHigh});
    s.load(GAL_STATE_CLIP_TOP_LEFT, {clip15(op.clip.left) | clip15(op.clip.top) << 16,
                                     clip15(op.clip.right) | clip15(op.clip.bottom) << 16});
    const uint32_t sourceRotation = op.coreSourceRotation >= 0 ? uint32_t(op.coreSourceRotation) : op.sourceRotation;
    const uint32_t targetRotation = op.coreTargetRotation >= 0 ? uint32_t(op.coreTargetRotation) : op.targetRotation;
    s.load(GAL_STATE_ROTATION, {(0xFFFFFFFFu & ~0x33Fu & ~(0x3Fu << 20)) | sourceRotation | targetRotation << 3 |
                                op.sourceMirrorFlags << 20 | op.targetMirrorFlags << 23});
    s.load(GAL_STATE_ROP, {GAL_ROP_WORD(op.raster.foregroundRop, op.raster.backgroundRop)});
    s.load(GAL_STATE_TRANSPARENCY,
           {op.raster.sourceMode | op.raster.patternMode << 4 | op.raster.destinationMode << 8});
    if (op.kind == Kind::Clear) {
        s.load(GAL_STATE_CLEAR_COLOR_OLD, {op.clearColour, op.clearColour});
        s.load(GAL_STATE_CLEAR_COLOR, {op.clearColour});
    } else if (op.kind == Kind::Mono) {
        const uint32_t config = GAL_HW_FORMAT_MONOCHROME << GAL_SOURCE_CONFIG_FORMAT_SHIFT |
                                op.packing << GAL_SOURCE_CONFIG_PACKING_SHIFT |
                                (op.monoTransparent ? GAL_SOURCE_CONFIG_MONO_TRANSPARENT : 0);
        s.load(GAL_STATE_SOURCE_ADDRESS, {0, 0, 0, config});
        s.load(GAL_STATE_MONO_BACKGROUND, {op.monoBackground, op.monoForeground});
    } else {
        uint32_t config = sh.format << GAL_SOURCE_CONFIG_FORMAT_SHIFT | sh.swizzle << GAL_SOURCE_CONFIG_SWIZZLE_SHIFT |
                          (sh.uvSwap ? GAL_SOURCE_CONFIG_UV_SWAP : 0) | op.yuvMode << GAL_SOURCE_CONFIG_YUV_MODE_SHIFT |
                          op.raster.sourceMode << GAL_SOURCE_CONFIG_TRANSPARENCY_SHIFT;
        if (op.masked) config |= GAL_SOURCE_CONFIG_MASKED | op.packing << GAL_SOURCE_CONFIG_PACKING_SHIFT;
        s.load(GAL_STATE_SOURCE_ADDRESS,
               {Rig::planeAddress(source, sourceBase, 0), source.surface.strides[0], op.sourceWidth, config});
        s.load(GAL_STATE_SOURCE_HEIGHT, {op.sourceHeight});
        const FormatInfo info = *formatInfo(op.sourceFormat);
        if (info.planes > 1) {
            // The core takes U then V; YV12 keeps V first in memory.
            const int u = op.sourceFormat == YV12 ? 2 : 1, v = op.sourceFormat == YV12 ? 1 : 2;
            const bool three = info.planes == 3;
            s.load(GAL_STATE_SOURCE_UV,
                   {Rig::planeAddress(source, sourceBase, u), source.surface.strides[u],
                    three ? Rig::planeAddress(source, sourceBase, v) : 0, three ? source.surface.strides[v] : 0});
        }
        s.load(GAL_STATE_SOURCE_KEY_LOW, {op.raster.sourceKeyLow});
        s.load(GAL_STATE_SOURCE_KEY_HIGH, {op.raster.sourceKeyHigh});
        s.load(GAL_STATE_SOURCE_ORIGIN, {xy(op.source.left, op.source.top), xy(op.source.width(), op.source.height())});
        s.load(GAL_STATE_MIRROR, {(op.raster.mirrorHorizontal ? 17u : 0u) | (op.raster.mirrorVertical ? 33u : 0u)});
        if (op.kind == Kind::Stretch) s.load(GAL_STATE_STRETCH_H, {op.horizontalFactor, op.verticalFactor});
    }
    if (const auto& b = op.raster.blend) {
        s.load(GAL_STATE_ALPHA_CONTROL,
               {1u | uint32_t(b->sourceAlpha) << 8 | uint32_t(b->targetAlpha) << 16,
                b->sourceAlphaMode | b->targetAlphaMode << 2 | b->sourceGlobalAlphaMode << 4 |
                    b->targetGlobalAlphaMode << 6 | b->sourceFactorMode << 8 | b->targetFactorMode << 12});
        s.load(GAL_STATE_MULTIPLY, {uint32_t(b->sourcePremultiply) | uint32_t(b->targetPremultiply) << 1 |
                                    b->globalColorMultiply << 2 | uint32_t(b->targetDemultiply) << 4});
        s.load(GAL_STATE_SOURCE_GLOBAL, {b->sourceGlobalColour});
    } else {
        s.load(GAL_STATE_ALPHA_CONTROL, {0, 0});
    }
    s.load(GAL_STATE_PALETTE, palette);
    const uint32_t origin = (op.brush.originX & 7) << 4 | (op.brush.originY & 7) << 8;
    switch (op.brush.type) {
    case BrushType::Solid:
        s.load(GAL_STATE_PATTERN_CONFIG, {0});
        s.load(GAL_STATE_PATTERN_COLOR, {op.brush.colour});
        break;
    case BrushType::Monochrome:
        s.load(GAL_STATE_PATTERN_CONFIG, {1 | origin});
        s.load(GAL_STATE_PATTERN_BACKGROUND, {op.brush.background, op.brush.foreground, uint32_t(op.brush.bits),
                                              uint32_t(op.brush.bits >> 32), 0, 0});
        break;
    case BrushType::Color: {
        const HwFormat bh = hwFormat(op.brushFormat);
        s.load(GAL_STATE_PATTERN_CONFIG, {2 | origin | bh.swizzle << 16 | bh.format << 24});
        s.load(GAL_STATE_PATTERN_BITS, {patternBase, 0});
        break;
    }
    case BrushType::None: s.load(GAL_STATE_PATTERN_CONFIG, {3}); break;
    }
    const bool streamed = op.kind == Kind::Mono || op.masked;
    s.draw(op.destination, streamed ? stream : std::vector<uint8_t>{});
    s.load(GAL_STATE_FLUSH, {8});
    std::string error;
    if (!rig.run(s, &error)) return describe(op) + ": stream refused: " + error;

    SurfaceBuffer actual = target;
    rig.fetch(targetBase, actual);
    if (status == Status::SourceOutside) {
        if (rig.faults() == 0) return describe(op) + ": a read outside the source was not a fault";
        return compareSurfaces(describe(op) + " (refused)", target.surface, actual.surface);
    }
    if (rig.faults() != 0) return describe(op) + ": unexpected GPU fault: " + rig.lastFault();
    return compareSurfaces(describe(op), expected.surface, actual.surface);
}

}  // namespace coretest
