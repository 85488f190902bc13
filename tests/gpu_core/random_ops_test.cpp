// Seeded random 2D operations (format, rectangle, clip, ROP, modes and keys, brush, rotation,
// mirror, stretch, monochrome and masked sources, alpha blending, lines, YUV colour modes,
// filter blits) on the simulated core and on the reference
// renderer, compared pixel by pixel. CI runs a short fixed run; scripts/gpu-core-random runs a
// long one with a fresh seed (VELD_GPU_CORE_OPS, VELD_GPU_CORE_SEED) and prints it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "core_rig.h"

namespace coretest {
namespace {

using namespace galref;

uint32_t envNumber(const char* name, uint32_t fallback) {
    const char* text = std::getenv(name);
    return text && *text ? uint32_t(std::strtoul(text, nullptr, 0)) : fallback;
}

class Generator {
public:
    explicit Generator(uint32_t seed) : random_(seed) {}

    Operation next() {
        Operation op;
        op.seed = uint32_t(random_());
        const uint32_t kind = below(20);
        op.kind = kind < 2    ? Kind::Clear
                  : kind < 10 ? Kind::Blit
                  : kind < 13 ? Kind::Stretch
                  : kind < 16 ? Kind::Mono
                  : kind < 18 ? Kind::Line
                              : Kind::Filter;
        op.yuvMode = below(2);
        op.masked = op.kind == Kind::Blit && below(5) == 0;
        op.targetFormat = pick(rgbFormats());
        op.sourceFormat = pick(allFormats());
        op.brushFormat = pick(rgbFormats());
        op.targetRotation = below(6);
        op.sourceRotation = below(6);
        // YUV and planar surfaces come in whole chroma samples.
        op.targetWidth = 2 + below(40);
        op.targetHeight = 2 + below(30);
        op.sourceWidth = 2 * (1 + below(20));
        op.sourceHeight = 2 * (1 + below(16));
        const bool swapped = op.targetRotation == 1 || op.targetRotation == 3;
        const int32_t viewW = int32_t(swapped ? op.targetHeight : op.targetWidth);
        const int32_t viewH = int32_t(swapped ? op.targetWidth : op.targetHeight);
        op.destination = rect(viewW + 4, viewH + 4);
        if (op.kind == Kind::Line && below(2)) std::swap(op.destination.left, op.destination.right);
        if (op.kind == Kind::Line && below(2)) std::swap(op.destination.top, op.destination.bottom);
        if (below(3) == 0) op.clip = rect(viewW + 2, viewH + 2);
        else if (below(4) == 0) op.clip = Rect{-5, -3, 32767, 32767};
        op.raster.foregroundRop = uint8_t(random_());
        op.raster.backgroundRop = below(3) ? uint8_t(random_()) : op.raster.foregroundRop;
        // A line reads no source: its ROP keeps pattern and destination.
        if (op.kind == Kind::Line) op.raster.foregroundRop = uint8_t((op.raster.foregroundRop & 0x33) * 5);
        op.raster.mirrorHorizontal = below(4) == 0;
        op.raster.mirrorVertical = below(4) == 0;
        if (op.kind != Kind::Clear) {
            const uint32_t mode = below(4);
            op.raster.sourceMode = mode == 1 ? kKeyed : (mode == 2 && (op.masked || op.kind == Kind::Mono)) ? kMasked : kOpaque;
            op.raster.destinationMode = below(4) == 0 ? kKeyed : kOpaque;
            op.raster.patternMode = below(4) == 0 ? kMasked : kOpaque;
            op.raster.sourceKeyLow = uint32_t(random_()) & 0x3F3F3F3F;
            op.raster.sourceKeyHigh = op.raster.sourceKeyLow | 0xC0C0C0C0 | uint32_t(random_());
            op.raster.targetKeyLow = uint32_t(random_()) & 0x3F3F3F3F;
            op.raster.targetKeyHigh = op.raster.targetKeyLow | 0xC0C0C0C0 | uint32_t(random_());
        }
        // The source view, and an origin that now and then reads past it (a refused draw).
        const bool sourceSwapped = op.sourceRotation == 1 || op.sourceRotation == 3;
        const uint32_t sourceViewW = sourceSwapped ? op.sourceHeight : op.sourceWidth;
        const uint32_t sourceViewH = sourceSwapped ? op.sourceWidth : op.sourceHeight;
        op.source = Rect{int32_t(below(sourceViewW)), int32_t(below(sourceViewH)), 0, 0};
        if (op.kind == Kind::Stretch) {
            op.source.right = op.source.left + 1 + int32_t(below(sourceViewW - uint32_t(op.source.left)));
            op.source.bottom = op.source.top + 1 + int32_t(below(sourceViewH - uint32_t(op.source.top)));
            const bool gdi = below(2) == 0;
            op.horizontalFactor = stretchFactor(gdi, uint32_t(op.source.width()), uint32_t(op.destination.width()));
            op.verticalFactor = stretchFactor(gdi, uint32_t(op.source.height()), uint32_t(op.destination.height()));
        } else if (below(3)) {
            // Mostly origins that fit.
            op.source.left = int32_t(below(std::max<uint32_t>(1, sourceViewW - std::min<uint32_t>(sourceViewW, uint32_t(op.destination.width())) + 1)));
            op.source.top = int32_t(below(std::max<uint32_t>(1, sourceViewH - std::min<uint32_t>(sourceViewH, uint32_t(op.destination.height())) + 1)));
        }
        if (op.kind == Kind::Filter) {
            // A source rectangle inside the view, any destination, a sub-rectangle of it.
            op.source = rect(int32_t(sourceViewW), int32_t(sourceViewH));
            op.sub = rect(op.destination.width(), op.destination.height());
            op.filterType = below(2);
            op.kernelH = 1 + 2 * below(5);
            op.kernelV = 1 + 2 * below(5);
        }
        const uint32_t brush = below(3);
        op.brush.type = brush == 0 ? BrushType::Solid : brush == 1 ? BrushType::Monochrome : BrushType::Color;
        op.brush.colour = uint32_t(random_());
        op.brush.foreground = uint32_t(random_());
        op.brush.background = uint32_t(random_());
        op.brush.bits = uint64_t(random_()) << 32 | random_();
        op.brush.originX = below(8);
        op.brush.originY = below(8);
        op.packing = below(4);
        op.monoForeground = uint32_t(random_());
        op.monoBackground = uint32_t(random_());
        op.monoTransparent = below(2);
        op.clearColour = uint32_t(random_());
        if (op.kind != Kind::Clear && below(8) == 0) {
            Blend b;
            b.sourceAlpha = uint8_t(random_());
            b.targetAlpha = uint8_t(random_());
            b.sourceAlphaMode = below(2);
            b.targetAlphaMode = below(2);
            b.sourceGlobalAlphaMode = below(3);
            b.targetGlobalAlphaMode = below(3);
            b.sourceFactorMode = below(4);
            b.targetFactorMode = below(4);
            b.sourcePremultiply = below(2);
            b.targetPremultiply = below(2);
            b.globalColorMultiply = below(3);
            b.sourceGlobalColour = uint32_t(random_());
            b.targetDemultiply = below(2);
            op.raster.blend = b;
        }
        return op;
    }

private:
    uint32_t below(uint32_t n) { return n ? uint32_t(random_() % n) : 0; }
    template <typename List>
    Format pick(const List& list) {
        return list[below(uint32_t(list.size()))].format;
    }
    static const std::vector<FormatInfo>& rgbFormats() {
        static const std::vector<FormatInfo> formats = [] {
            std::vector<FormatInfo> out;
            for (const FormatInfo& info : allFormats())
                if (info.kind == FormatKind::Rgb) out.push_back(info);
            return out;
        }();
        return formats;
    }
    Rect rect(int32_t width, int32_t height) {
        const int32_t left = int32_t(below(uint32_t(width - 1)));
        const int32_t top = int32_t(below(uint32_t(height - 1)));
        return Rect{left, top, left + 1 + int32_t(below(uint32_t(width - left))),
                    top + 1 + int32_t(below(uint32_t(height - top)))};
    }

    std::mt19937 random_;
};

TEST(Core2DRandom, OperationsAgreeWithTheReference) {
    const uint32_t seed = envNumber("VELD_GPU_CORE_SEED", 20261210);
    const uint32_t count = envNumber("VELD_GPU_CORE_OPS", 1000);
    Generator generator(seed);
    uint32_t failures = 0;
    for (uint32_t i = 0; i < count && failures < 5; ++i) {
        const std::string result = check(generator.next());
        if (!result.empty()) {
            ++failures;
            ADD_FAILURE() << "seed " << seed << ", operation " << i << ": " << result;
        }
    }
    std::printf("%u random operations from seed %u\n", count, seed);
}

}  // namespace
}  // namespace coretest
