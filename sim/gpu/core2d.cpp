// The software 2D core's executor (see core2d.h): the register file, and for each drawn
// rectangle the job that the pixel pipeline (raster.h) runs, built from the states and checked
// against video memory first.
//
// Where the driver's description of the states stops, the core decides:
// - a surface whose width or height state is 0 is not bounded by it (rotation 0 only; a
//   rotated surface without its size is a fault);
// - a clear takes the clear colour as its source and no pattern, and ignores the transparency
//   modes; destination mode 2 (masked) and pattern mode 1 (keyed) have no meaning and draw as
//   opaque;
// - a line (command 1) runs from the rectangle's first corner to its second, the end pixel
//   excluded, each pixel through the foreground ROP with the loaded brush as pattern (a solid
//   brush: the line colour 0x1254), the brush's pixel taken at the line pixel's position;
// - a multi-source blit (command 8) blends, for each rectangle, the sources latched by their
//   control words (0x1720 + 4 i) one after another in index order, each with its own states;
// - the inline data of a draw is the monochrome stream or mask of its rectangle, pixel (0, 0)
//   under the rectangle's first pixel, rows in whole units of the source's packing;
// - alpha blending (0x127C, 0x1280, 0x12D0, 0x12C8) takes the place of the foreground ROP of
//   blits and stretch blits, with the arithmetic raster.h gives;
// - YUV sources and targets convert in the colour mode of their states (0x120C, 0x132C);
// - the mirror-extension bits of 0x12BC (the top two bits of a rotation argument: bits 20 and
//   21 for the source, 23 and 24 for the target) mirror the surface's view horizontally and
//   vertically before its rotation maps it onto memory.
#include "core2d.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "gal_states.h"

namespace veld::gpusim {
namespace {

constexpr uint32_t reg(uint32_t byteAddress) { return byteAddress / 4; }
constexpr uint32_t kMirrorEnable = 1, kMirrorHorizontal = 0x10, kMirrorVertical = 0x20;

Area rectOf(uint32_t topLeft, uint32_t bottomRight) {
    return Area{int32_t(topLeft & 0xFFFF), int32_t(topLeft >> 16), int32_t(bottomRight & 0xFFFF),
                int32_t(bottomRight >> 16)};
}

Area intersect(const Area& a, const Area& b) {
    return Area{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                std::min(a.bottom, b.bottom)};
}

bool drawable(PixelKind kind) { return kind == PixelKind::Rgb || kind == PixelKind::Index; }

bool yuvKind(PixelKind kind) {
    return kind == PixelKind::PackedYuv || kind == PixelKind::PlanarYuv || kind == PixelKind::SemiPlanarYuv;
}

}  // namespace

Core2D::Core2D(uint8_t* memory, const ChipProfile& profile, Inside inside, Fault fault)
    : memory_(memory), profile_(profile), inside_(std::move(inside)), fault_(std::move(fault)),
      registers_(GAL_STATE_SPACE, 0) {}

void Core2D::execute(const std::vector<Command>& commands) {
    for (const Command& c : commands) {
        if (c.op == Op::Load) {
            for (uint32_t k = 0; k < c.count; ++k) load(c.address() + 4 * k, c.data[k]);
        } else if (c.op == Op::Draw) {
            for (uint32_t r = 0; r < c.count; ++r) draw(c, r);
        }
    }
}

void Core2D::load(uint32_t byteAddress, uint32_t value) {
    registers_[reg(byteAddress)] = value;
    if (byteAddress >= GAL_STATE_MULTI_SOURCE && byteAddress < GAL_STATE_MULTI_SOURCE + 4 * GAL_MULTI_SOURCES)
        latchSource((byteAddress - GAL_STATE_MULTI_SOURCE) / 4, value);
    if (byteAddress == GAL_STATE_TARGET_COLOR_SPACE && !(value & (1u << 19))) targetColourMode_ = (value >> 16) & 3;
    if (byteAddress != GAL_STATE_ROTATION) return;
    // A masked write: each field changes only when its mask bit is clear.
    struct Field {
        uint32_t bits, mask;
    };
    static constexpr Field kFields[] = {
        {0x7u, 1u << 8}, {0x7u << 3, 1u << 9}, {0x3u << 20, 1u << 22}, {0x3u << 23, 1u << 25}};
    for (const Field& f : kFields)
        if (!(value & f.mask)) rotation_ = (rotation_ & ~f.bits) | (value & f.bits);
}

bool Core2D::fail(const char* what, uint64_t a, uint64_t b) {
    fault_(what, a, b);
    return false;
}

const uint32_t* Core2D::palette() const {
    // Newer chips (feature 37) keep the palette at 0x3400, older ones at 0x1C00.
    const bool newer = (profile_.features[1] >> 5) & 1u;
    return &registers_[reg(newer ? GAL_STATE_PALETTE : GAL_STATE_PALETTE_OLD)];
}

uint8_t* Core2D::plane(uint32_t gpuAddress, uint32_t stride, const Area& m, uint32_t bytesPerPixel) {
    const uint64_t first = uint64_t(gpuAddress) + uint64_t(m.top) * stride + uint64_t(m.left) * bytesPerPixel;
    const uint64_t bytes = uint64_t(m.height() - 1) * stride + uint64_t(m.width()) * bytesPerPixel;
    // Rows that overlap (a stride below the row's bytes) would write one pixel twice.
    const bool rowsOverlap = m.height() > 1 && stride < uint64_t(m.right) * bytesPerPixel;
    if (gpuAddress >= kUserWindowBase && user_ && !rowsOverlap) {
        if (uint8_t* staged = user_(gpuAddress, first, bytes)) return staged;
        fault_("2D access outside the mapped user memory", first, bytes);
        return nullptr;
    }
    if (gpuAddress < kGpuBase || rowsOverlap || !inside_(first - kGpuBase, bytes)) {
        fault_("2D access outside the allocated video memory", first, bytes);
        return nullptr;
    }
    return memory_ + (gpuAddress - kGpuBase);
}

// The target's format, view and bounds (clip ∩ view) into the job; no memory yet.
bool Core2D::target(RasterJob& job, uint32_t config) {
    job.target.layout = pixelLayout(config & 0x1F, (config >> GAL_DEST_SWIZZLE_SHIFT) & 3, (config & GAL_DEST_UV_SWAP) != 0);
    if (!drawable(job.target.layout.kind) && !yuvKind(job.target.layout.kind))
        return fail("2D target format not supported by the core", config & 0x1F, config);
    View& v = job.targetView;
    v.width = registers_[reg(GAL_STATE_TARGET_ROTATION)] & 0xFFFF;
    v.height = registers_[reg(GAL_STATE_TARGET_HEIGHT)] & 0xFFFF;
    v.rotation = (rotation_ >> 3) & 7;
    v.mirrorX = (rotation_ >> 23) & 1u;
    v.mirrorY = (rotation_ >> 24) & 1u;
    if (v.rotation > 5) return fail("2D target rotation out of range", v.rotation, 0);
    if (!v.plain() && (v.width == 0 || v.height == 0))
        return fail("rotated 2D target without its size", v.width, v.height);
    const uint32_t clipA = registers_[reg(GAL_STATE_CLIP_TOP_LEFT)];
    const uint32_t clipB = registers_[reg(GAL_STATE_CLIP_BOTTOM_RIGHT)];
    Area bounds{int32_t(clipA & 0x7FFF), int32_t((clipA >> 16) & 0x7FFF), int32_t(clipB & 0x7FFF),
                int32_t((clipB >> 16) & 0x7FFF)};
    if (v.width) bounds.right = std::min(bounds.right, int32_t(v.viewWidth()));
    if (v.height) bounds.bottom = std::min(bounds.bottom, int32_t(v.viewHeight()));
    job.area = bounds;
    job.target.strides[0] = registers_[reg(GAL_STATE_TARGET_STRIDE)];
    return true;
}

bool Core2D::stream(RasterJob& job, const Command& c) {
    const uint32_t packing = (registers_[reg(GAL_STATE_SOURCE_CONFIG)] >> GAL_SOURCE_CONFIG_PACKING_SHIFT) & 3;
    job.streamStride = monoStreamStride(uint32_t(job.rect.width()), packing);
    const uint64_t needed = uint64_t(job.streamStride) * uint64_t(job.rect.height());
    if (c.count != 1 || needed > uint64_t(c.inlineWords()) * 4)
        return fail("2D monochrome stream shorter than its rectangle", needed, uint64_t(c.inlineWords()) * 4);
    job.stream = reinterpret_cast<const uint8_t*>(c.data + 2 * c.count);
    return true;
}

bool Core2D::source(RasterJob& job, const Command& c) {
    const uint32_t config = registers_[reg(GAL_STATE_SOURCE_CONFIG)];
    const uint32_t format = GAL_SOURCE_CONFIG_FORMAT(config);
    if (format == GAL_HW_FORMAT_MONOCHROME) {
        job.source = SourceKind::Monochrome;
        job.monoForeground = registers_[reg(GAL_STATE_SOURCE_KEY_LOW)];
        job.monoBackground = registers_[reg(GAL_STATE_MONO_BACKGROUND)];
        job.monoTransparent = (config & GAL_SOURCE_CONFIG_MONO_TRANSPARENT) ? 1 : 0;
        return stream(job, c);
    }
    PixelPlanes& s = job.sourcePlanes;
    s.layout = pixelLayout(format, (config >> GAL_SOURCE_CONFIG_SWIZZLE_SHIFT) & 3,
                           (config & GAL_SOURCE_CONFIG_UV_SWAP) != 0);
    if (s.layout.kind == PixelKind::None || s.layout.kind == PixelKind::Mono)
        return fail("2D source format not supported by the core", format, config);
    job.source = (config & GAL_SOURCE_CONFIG_MASKED) ? SourceKind::Masked : SourceKind::Colour;
    if (job.source == SourceKind::Masked && !stream(job, c)) return false;
    if (s.layout.kind == PixelKind::Index) s.palette = palette();
    if (s.layout.kind == PixelKind::PackedYuv || s.layout.kind == PixelKind::PlanarYuv ||
        s.layout.kind == PixelKind::SemiPlanarYuv) {
        sourceSpace_ = ColourSpace::toRgb((config >> GAL_SOURCE_CONFIG_YUV_MODE_SHIFT) & 3,
                                          &registers_[reg(GAL_STATE_CSC_YUV_TO_RGB)]);
        s.colourSpace = &sourceSpace_;
    }

    View& v = job.sourceView;
    v.width = registers_[reg(GAL_STATE_SOURCE_ROTATION)] & 0xFFFF;
    v.height = registers_[reg(GAL_STATE_SOURCE_HEIGHT)] & 0xFFFF;
    v.rotation = rotation_ & 7;
    v.mirrorX = (rotation_ >> 20) & 1u;
    v.mirrorY = (rotation_ >> 21) & 1u;
    if (v.rotation > 5) return fail("2D source rotation out of range", v.rotation, 0);
    if (!v.plain() && (v.width == 0 || v.height == 0))
        return fail("rotated 2D source without its size", v.width, v.height);
    const uint32_t origin = registers_[reg(GAL_STATE_SOURCE_ORIGIN)];
    job.originX = origin & 0xFFFF;
    job.originY = origin >> 16;

    // The view rectangle the draw reads: stepping is monotonic, so its ends bound it.
    const uint32_t dw = uint32_t(job.rect.width()), dh = uint32_t(job.rect.height());
    auto span = [](uint32_t first, uint32_t last, uint32_t extent, bool mirror, uint32_t factor,
                   uint32_t origin, int32_t& low, int32_t& high) {
        const uint32_t a = sourceStep(first, extent, mirror, factor), b = sourceStep(last, extent, mirror, factor);
        low = int32_t(origin + std::min(a, b));
        high = int32_t(origin + std::max(a, b)) + 1;
    };
    Area read;
    span(uint32_t(job.area.left - job.rect.left), uint32_t(job.area.right - 1 - job.rect.left), dw,
         job.mirrorHorizontal, job.horizontalFactor, job.originX, read.left, read.right);
    span(uint32_t(job.area.top - job.rect.top), uint32_t(job.area.bottom - 1 - job.rect.top), dh,
         job.mirrorVertical, job.verticalFactor, job.originY, read.top, read.bottom);
    if ((v.width && read.right > int32_t(v.viewWidth())) || (v.height && read.bottom > int32_t(v.viewHeight())))
        return fail("2D source read outside the source surface", uint64_t(read.right), uint64_t(read.bottom));

    Area m = v.toMemory(read);
    const uint32_t address = registers_[reg(GAL_STATE_SOURCE_ADDRESS)];
    const uint32_t stride = registers_[reg(GAL_STATE_SOURCE_STRIDE)];
    s.strides[0] = stride;
    switch (s.layout.kind) {
    case PixelKind::PackedYuv:
        // Pixels are read in pairs.
        m.left &= ~1;
        m.right = (m.right + 1) & ~1;
        return (s.planes[0] = plane(address, stride, m, 2)) != nullptr;
    case PixelKind::PlanarYuv:
    case PixelKind::SemiPlanarYuv: {
        if (!(s.planes[0] = plane(address, stride, m, 1))) return false;
        const bool half = s.layout.halfHeightChroma;
        const Area chroma{m.left / 2, half ? m.top / 2 : m.top, (m.right - 1) / 2 + 1,
                          half ? (m.bottom - 1) / 2 + 1 : m.bottom};
        const uint32_t* uv = &registers_[reg(GAL_STATE_SOURCE_UV)];
        s.strides[1] = uv[1];
        s.strides[2] = uv[3];
        if (s.layout.kind == PixelKind::SemiPlanarYuv) return (s.planes[1] = plane(uv[0], uv[1], chroma, 2)) != nullptr;
        return (s.planes[1] = plane(uv[0], uv[1], chroma, 1)) != nullptr &&
               (s.planes[2] = plane(uv[2], uv[3], chroma, 1)) != nullptr;
    }
    default: return (s.planes[0] = plane(address, stride, m, s.layout.bytes)) != nullptr;
    }
}

bool Core2D::brush(RasterJob& job) {
    const uint32_t config = registers_[reg(GAL_STATE_PATTERN_CONFIG)];
    job.brushOriginX = (config >> 4) & 7;
    job.brushOriginY = (config >> 8) & 7;
    const uint32_t* words = &registers_[reg(GAL_STATE_PATTERN_BACKGROUND)];
    switch (config & 3) {
    case 0:
        job.brush = BrushKind::Solid;
        job.brushColour = registers_[reg(GAL_STATE_PATTERN_COLOR)];
        return true;
    case 1:
        job.brush = BrushKind::Monochrome;
        job.brushBackground = words[0];
        job.brushForeground = words[1];
        job.brushBits = uint64_t(words[2]) | uint64_t(words[3]) << 32;
        return true;
    case 2: {
        job.brush = BrushKind::Colour;
        PixelPlanes& p = job.brushPlanes;
        p.layout = pixelLayout((config >> 24) & 0x1F, (config >> 16) & 3, false);
        if (!drawable(p.layout.kind)) return fail("2D brush format not supported by the core", config, 0);
        if (p.layout.kind == PixelKind::Index) p.palette = palette();
        p.strides[0] = 8u * p.layout.bytes;
        return (p.planes[0] = plane(words[2], p.strides[0], Area{0, 0, 8, 8}, p.layout.bytes)) != nullptr;
    }
    default: job.brush = BrushKind::None; return true;
    }
}

void Core2D::blending(RasterJob& job) const {
    const uint32_t control = registers_[reg(GAL_STATE_ALPHA_CONTROL)];
    job.blend = control & 1u;
    if (!job.blend) return;
    const uint32_t modes = registers_[reg(GAL_STATE_ALPHA_MODES)];
    const uint32_t multiply = registers_[reg(GAL_STATE_MULTIPLY)];
    BlendSettings& b = job.blending;
    b.sourceAlpha = (control >> 8) & 0xFF;
    b.targetAlpha = (control >> 16) & 0xFF;
    b.sourceAlphaMode = modes & 3;
    b.targetAlphaMode = (modes >> 2) & 3;
    b.sourceGlobalMode = (modes >> 4) & 3;
    b.targetGlobalMode = (modes >> 6) & 3;
    b.sourceFactor = (modes >> 8) & 7;
    b.targetFactor = (modes >> 12) & 7;
    b.sourcePremultiply = multiply & 1u;
    b.targetPremultiply = (multiply >> 1) & 1u;
    b.globalColourMultiply = (multiply >> 2) & 3;
    b.targetDemultiply = (multiply >> 4) & 1u;
    b.sourceGlobalColour = registers_[reg(GAL_STATE_SOURCE_GLOBAL)];
}

void Core2D::draw(const Command& c, uint32_t index) {
    ++draws_;
    const uint32_t command = (registers_[reg(GAL_STATE_TARGET_CONFIG)] >> 12) & 0xF;
    if (command == GAL_HW_MULTI_SOURCE) return multiSource(c, index);
    drawRectangle(c, index, command);
}

void Core2D::drawRectangle(const Command& c, uint32_t index, uint32_t command) {
    const uint32_t config = registers_[reg(GAL_STATE_TARGET_CONFIG)];
    RasterJob job;
    if (!target(job, config)) return;
    const uint32_t first = c.data[2 * index], second = c.data[2 * index + 1];
    if (command == GAL_HW_LINE) {
        line(first, second, job.area);
        return;
    }
    const bool filter = command == GAL_HW_FILTER_H || command == GAL_HW_FILTER_V;
    if (command != GAL_HW_CLEAR && command != GAL_HW_BITBLIT && command != GAL_HW_STRETCH && !filter) {
        fail("2D command not supported by the core", command, config);
        return;
    }
    job.rect = rectOf(first, second);
    if (job.rect.empty()) {
        fail("2D rectangle empty or reversed", first, second);
        return;
    }
    job.area = intersect(job.rect, job.area);
    if (job.area.empty()) return;
    if (filter) {
        filterPass(job, c, command);
        return;
    }

    const uint32_t rop = registers_[reg(GAL_STATE_ROP)];
    job.foregroundRop = uint8_t(rop);
    job.backgroundRop = uint8_t(rop >> 8);
    if (command == GAL_HW_CLEAR) {
        // Newer chips (feature 36) take the clear colour from 0x12C0, older ones from 0x1270.
        const bool newer = (profile_.features[1] >> 4) & 1u;
        job.source = SourceKind::Constant;
        job.constant = registers_[reg(newer ? GAL_STATE_CLEAR_COLOR : GAL_STATE_CLEAR_COLOR_OLD)];
    } else {
        const uint32_t modes = registers_[reg(GAL_STATE_TRANSPARENCY)];
        job.sourceMode = modes & 3;
        job.patternMode = (modes >> 4) & 3;
        job.destinationMode = (modes >> 8) & 3;
        if (job.patternMode != kMasked) job.patternMode = kOpaque;
        if (job.destinationMode != kKeyed) job.destinationMode = kOpaque;
        job.sourceKeyLow = registers_[reg(GAL_STATE_SOURCE_KEY_LOW)];
        job.sourceKeyHigh = registers_[reg(GAL_STATE_SOURCE_KEY_HIGH)];
        job.targetKeyLow = registers_[reg(GAL_STATE_TARGET_KEY_LOW)];
        job.targetKeyHigh = registers_[reg(GAL_STATE_TARGET_KEY_HIGH)];
        const uint32_t mirror = registers_[reg(GAL_STATE_MIRROR)];
        job.mirrorHorizontal = (mirror & kMirrorEnable) && (mirror & kMirrorHorizontal);
        job.mirrorVertical = (mirror & kMirrorEnable) && (mirror & kMirrorVertical);
        if (command == GAL_HW_STRETCH) {
            job.horizontalFactor = registers_[reg(GAL_STATE_STRETCH_H)];
            job.verticalFactor = registers_[reg(GAL_STATE_STRETCH_V)];
        }
        blending(job);
        const uint8_t fg = job.foregroundRop, bg = job.backgroundRop;
        const bool usesSource = ropUsesSource(fg) || ropUsesSource(bg) || job.sourceMode != kOpaque || job.blend;
        const bool usesPattern = ropUsesPattern(fg) || ropUsesPattern(bg) || job.patternMode != kOpaque;
        if (usesSource && !source(job, c)) return;
        if (usesPattern && !brush(job)) return;
    }
    const Area m = job.targetView.toMemory(job.area);
    if (yuvKind(job.target.layout.kind)) {
        pixels_ += renderAnyYuvTarget(job, m);
        return;
    }
    job.targetMemory = plane(registers_[reg(GAL_STATE_TARGET_ADDRESS)], job.target.strides[0], m,
                             job.target.layout.bytes);
    if (!job.targetMemory) return;
    lastTarget_ = {registers_[reg(GAL_STATE_TARGET_ADDRESS)], job.target.strides[0], job.targetView.width,
                   job.targetView.height, config};
    pixels_ += render(job);
}

void Core2D::line(uint32_t start, uint32_t end, const Area& bounds) {
    int32_t x = int32_t(start & 0xFFFF), y = int32_t(start >> 16);
    const int32_t x1 = int32_t(end & 0xFFFF), y1 = int32_t(end >> 16);
    // The pixels of the line inside the bounds, end excluded (Bresenham).
    std::vector<std::pair<int32_t, int32_t>> points;
    const int32_t dx = std::abs(x1 - x), dy = -std::abs(y1 - y);
    const int32_t sx = x < x1 ? 1 : -1, sy = y < y1 ? 1 : -1;
    int32_t error = dx + dy;
    Area box{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
    while (x != x1 || y != y1) {
        if (x >= bounds.left && x < bounds.right && y >= bounds.top && y < bounds.bottom) {
            points.emplace_back(x, y);
            box = Area{std::min(box.left, x), std::min(box.top, y), std::max(box.right, x + 1),
                       std::max(box.bottom, y + 1)};
        }
        const int32_t e2 = 2 * error;
        if (e2 >= dy) {
            error += dy;
            x += sx;
        }
        if (e2 <= dx) {
            error += dx;
            y += sy;
        }
    }
    if (points.empty()) return;
    RasterJob job;
    if (!target(job, registers_[reg(GAL_STATE_TARGET_CONFIG)])) return;
    if (yuvKind(job.target.layout.kind)) {
        fail("2D line into a YUV target", 0, 0);
        return;
    }
    job.foregroundRop = uint8_t(registers_[reg(GAL_STATE_ROP)]);
    if (ropUsesPattern(job.foregroundRop) && !brush(job)) return;
    job.targetMemory = plane(registers_[reg(GAL_STATE_TARGET_ADDRESS)], job.target.strides[0],
                             job.targetView.toMemory(box), job.target.layout.bytes);
    if (!job.targetMemory) return;
    for (const auto& [px, py] : points) {
        job.rect = job.area = Area{px, py, px + 1, py + 1};
        pixels_ += render(job);
    }
}

}  // namespace veld::gpusim
