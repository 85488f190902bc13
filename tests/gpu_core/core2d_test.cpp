// The simulated 2D core against the reference renderer and pixman: command streams built here
// (state loads as the state table gives them) run on the core's own executor, the same
// operation runs on the reference, and the targets must agree pixel by pixel.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core_rig.h"
#include "gal_states.h"
#include "pixman_image.h"

namespace coretest {
namespace {

using namespace galref;

std::vector<Format> formatsOf(FormatKind kind) {
    std::vector<Format> out;
    for (const FormatInfo& info : allFormats())
        if (info.kind == kind) out.push_back(info.format);
    return out;
}

std::vector<Format> allSourceFormats() {
    std::vector<Format> out;
    for (const FormatInfo& info : allFormats()) out.push_back(info.format);
    return out;
}

// A stream that starts with its target (address, stride, width, height, configuration), the
// clip from (0, 0) to (right, bottom) and the ROP for both sides.
Stream targetStream(uint32_t address, uint32_t stride, uint32_t width, uint32_t height, uint32_t config,
                    uint32_t right, uint32_t bottom, uint8_t rop = 0xCC) {
    Stream stream;
    stream.load(GAL_STATE_TARGET_ADDRESS, {address, stride, width});
    stream.load(GAL_STATE_TARGET_CONFIG, {config});
    stream.load(GAL_STATE_TARGET_HEIGHT, {height});
    stream.load(GAL_STATE_CLIP_TOP_LEFT, {0, right | bottom << 16});
    stream.load(GAL_STATE_ROP, {GAL_ROP_WORD(rop, rop)});
    return stream;
}

Raster rops(uint8_t foreground, uint8_t background) {
    Raster r;
    r.foregroundRop = foreground;
    r.backgroundRop = background;
    return r;
}

TEST(Core2DFormats, ClearWritesTheColourInEveryTargetFormat) {
    uint32_t seed = 1;
    for (Format f : formatsOf(FormatKind::Rgb))
        for (uint32_t rotation : {0u, 1u}) {
            Operation op;
            op.kind = Kind::Clear;
            op.targetFormat = f;
            op.targetRotation = rotation;
            op.clip = Rect{4, 2, 14, 30};
            op.clearColour = 0x80C0407F + seed;
            op.seed = seed++;
            EXPECT_EQ(check(op), "");
        }
}

TEST(Core2DFormats, BlitConvertsBetweenEveryPairOfTheTable) {
    uint32_t seed = 100;
    auto run = [&seed](Format from, Format to) {
        Operation op;
        op.sourceFormat = from;
        op.targetFormat = to;
        op.seed = seed++;
        EXPECT_EQ(check(op), "");
    };
    // Every source format, INDEX8 through its palette and YUV through BT.601, into three
    // targets of different widths; every target format from a 32-bit and a 16-bit source.
    for (Format from : allSourceFormats())
        for (Format to : {A8R8G8B8, R5G6B5, A8}) run(from, to);
    for (Format to : formatsOf(FormatKind::Rgb))
        for (Format from : {A8R8G8B8, A4B4G4R4, RG16}) run(from, to);
}

TEST(Core2DFormats, Index8CopiesKeepTheIndices) {
    Rig rig;
    SurfaceBuffer source(INDEX8, 16, 4), target(INDEX8, 16, 4);
    for (size_t i = 0; i < source.size(); ++i) source.data()[i] = uint8_t(i * 7);
    const uint32_t s = rig.place(source), t = rig.place(target);
    Stream stream = targetStream(t, 16, 16, 4, GAL_DEST_CONFIG(GAL_HW_FORMAT_INDEX8, GAL_HW_BITBLIT), 16, 4);
    stream.load(GAL_STATE_SOURCE_ADDRESS, {s, 16, 16, GAL_HW_FORMAT_INDEX8 << GAL_SOURCE_CONFIG_FORMAT_SHIFT});
    stream.load(GAL_STATE_SOURCE_ORIGIN, {0, 16 | 4u << 16});
    stream.draw(Rect{0, 0, 16, 4});
    ASSERT_TRUE(rig.run(stream));
    EXPECT_EQ(rig.faults(), 0u);
    EXPECT_EQ(std::memcmp(rig.at(t), source.data(), source.size()), 0);
}

// Older chips keep the clear colour in 0x1270 and the palette at 0x1C00; newer ones use 0x12C0
// and 0x3400, and ignore the older states.
TEST(Core2DFormats, ClearColourAndPaletteFollowTheChip) {
    for (const auto& profile : veld::gpusim::kProfiles) {
        const bool older = profile.name == "old";
        Rig rig(profile);
        SurfaceBuffer source(INDEX8, 4, 1), target(A8R8G8B8, 4, 2);
        for (uint32_t i = 0; i < 4; ++i) source.data()[i] = uint8_t(i);
        const uint32_t s = rig.place(source), t = rig.place(target);
        Stream stream = targetStream(t, 16, 4, 2, GAL_DEST_CONFIG(GAL_HW_FORMAT_A8R8G8B8, GAL_HW_CLEAR), 4, 2);
        stream.load(GAL_STATE_CLEAR_COLOR_OLD, {0xFF0000AA});
        stream.load(GAL_STATE_CLEAR_COLOR, {0xFF0000BB});
        stream.draw(Rect{0, 0, 4, 1});
        stream.load(GAL_STATE_TARGET_CONFIG, {GAL_DEST_CONFIG(GAL_HW_FORMAT_A8R8G8B8, GAL_HW_BITBLIT)});
        stream.load(GAL_STATE_SOURCE_ADDRESS, {s, 4, 4, GAL_HW_FORMAT_INDEX8 << GAL_SOURCE_CONFIG_FORMAT_SHIFT});
        stream.load(GAL_STATE_SOURCE_ORIGIN, {0, 4 | 1u << 16});
        stream.load(GAL_STATE_PALETTE_OLD, {0x11000000, 0x11000001, 0x11000002, 0x11000003});
        stream.load(GAL_STATE_PALETTE, {0x22000000, 0x22000001, 0x22000002, 0x22000003});
        stream.draw(Rect{0, 1, 4, 2});
        ASSERT_TRUE(rig.run(stream));
        EXPECT_EQ(rig.faults(), 0u) << rig.lastFault();
        uint32_t pixels[8];
        std::memcpy(pixels, rig.at(t), sizeof pixels);
        for (uint32_t x = 0; x < 4; ++x) {
            EXPECT_EQ(pixels[x], older ? 0xFF0000AAu : 0xFF0000BBu) << profile.name;
            EXPECT_EQ(pixels[4 + x], (older ? 0x11000000u : 0x22000000u) + x) << profile.name;
        }
    }
}

// All 256 codes with a solid and a monochrome brush, a source and the destination, in a
// 32-bit and a 16-bit target.
TEST(Core2DRop, EveryCodeWithPatternSourceAndDestination) {
    for (uint32_t rop = 0; rop < 256; ++rop)
        for (int variant = 0; variant < 3; ++variant) {
            Operation op;
            op.raster = rops(uint8_t(rop), uint8_t(rop));
            op.seed = rop * 3 + uint32_t(variant) + 1;
            op.targetFormat = variant == 2 ? R5G6B5 : A8R8G8B8;
            op.sourceFormat = variant == 2 ? X8B8G8R8 : A8R8G8B8;
            if (variant == 0) {
                op.brush.type = BrushType::Solid;
                op.brush.colour = 0x5AC3F00F;
            } else {
                op.brush.type = BrushType::Monochrome;
                op.brush.bits = 0x8142241818244281ull * (rop + 1);
                op.brush.foreground = 0xFF00FF00;
                op.brush.background = 0x80123456;
                op.brush.originX = rop & 7;
                op.brush.originY = (rop >> 3) & 7;
            }
            ASSERT_EQ(check(op), "");
        }
}

TEST(Core2DRop, ColourBrushesInSeveralFormats) {
    uint32_t seed = 900;
    for (Format brushFormat : {A8R8G8B8, R5G6B5, A4R4G4B4, INDEX8})
        for (uint8_t rop : {uint8_t(0xF0), uint8_t(0x5A), uint8_t(0xE2)}) {
            Operation op;
            op.raster = rops(rop, rop);
            op.brush.type = BrushType::Color;
            op.brush.originX = 3;
            op.brush.originY = 6;
            op.brushFormat = brushFormat;
            op.seed = seed++;
            EXPECT_EQ(check(op), "");
        }
}

// Source keys, destination keys, brush masks and masked sources: the background ROP where a
// test says transparent, the foreground ROP elsewhere.
TEST(Core2DTransparency, KeysAndMasksPickTheBackgroundRop) {
    struct Case {
        const char* name;
        uint32_t sourceMode, destinationMode, patternMode;
        bool masked;
        Format source, target;
    };
    const Case cases[] = {
        {"source keyed 32-bit", kKeyed, kOpaque, kOpaque, false, A8R8G8B8, A8R8G8B8},
        {"source keyed 16-bit", kKeyed, kOpaque, kOpaque, false, R5G6B5, X8R8G8B8},
        {"source keyed A8", kKeyed, kOpaque, kOpaque, false, A8, R5G6B5},
        {"source keyed INDEX8", kKeyed, kOpaque, kOpaque, false, INDEX8, A8R8G8B8},
        {"destination keyed", kOpaque, kKeyed, kOpaque, false, A8R8G8B8, A8R8G8B8},
        {"destination keyed 16-bit", kOpaque, kKeyed, kOpaque, false, A8R8G8B8, A1R5G5B5},
        {"pattern masked", kOpaque, kOpaque, kMasked, false, A8R8G8B8, A8R8G8B8},
        {"masked source", kMasked, kOpaque, kOpaque, true, A8R8G8B8, B5G6R5},
        {"masked source keyed", kKeyed, kOpaque, kOpaque, true, A4R4G4B4, A8R8G8B8},
        {"all at once", kKeyed, kKeyed, kMasked, false, X1R5G5B5, A8B8G8R8},
    };
    uint32_t seed = 2000;
    for (const Case& c : cases)
        for (uint32_t packing : {0u, 2u}) {
            Operation op;
            op.raster = rops(0xCC, 0xAA);
            if (c.patternMode == kMasked) op.raster = rops(0xF0, 0xAA);
            op.raster.sourceMode = c.sourceMode;
            op.raster.destinationMode = c.destinationMode;
            op.raster.patternMode = c.patternMode;
            // Ranges that catch a good share of random pixels in key lanes.
            op.raster.sourceKeyLow = 0x00000000;
            op.raster.sourceKeyHigh = c.source == INDEX8 ? 0x0000007F : 0xFF7F0FFF;
            op.raster.targetKeyLow = 0x40000000;
            op.raster.targetKeyHigh = 0xFFFF7FFF;
            op.brush.type = BrushType::Monochrome;
            op.brush.bits = 0x0123456789ABCDEFull;
            op.brush.foreground = 0xFFFFFFFF;
            op.masked = c.masked;
            op.packing = packing;
            op.sourceFormat = c.source;
            op.targetFormat = c.target;
            op.seed = seed++;
            EXPECT_EQ(check(op), "") << c.name;
        }
}

// Blending in place of the foreground ROP: the twelve Porter-Duff rules, then global alpha,
// inverse alpha and the multiply modes, in formats with and without alpha.
TEST(Core2DBlend, PorterDuffRulesAndModes) {
    uint32_t seed = 2500;
    for (uint32_t rule = 0; rule < 12; ++rule)
        for (Format target : {A8R8G8B8, R5G6B5, A4R4G4B4}) {
            Operation op;
            Blend blend;
            ASSERT_TRUE(porterDuff(rule, blend));
            blend.sourcePremultiply = true;
            blend.targetPremultiply = rule % 2;
            op.raster.blend = blend;
            op.raster.backgroundRop = 0xAA;
            op.targetFormat = target;
            op.sourceFormat = rule % 3 ? A8R8G8B8 : A1R5G5B5;
            op.seed = seed++;
            EXPECT_EQ(check(op), "") << "rule " << rule;
        }
    struct Modes {
        uint32_t sourceAlphaMode, targetAlphaMode, sourceGlobal, targetGlobal, globalColour;
        bool demultiply;
    };
    const Modes modes[] = {{1, 0, 0, 0, 0, false}, {0, 1, 1, 2, 0, false}, {0, 0, 2, 1, 1, true},
                           {1, 1, 0, 0, 2, true},  {0, 0, 1, 1, 2, false}};
    for (const Modes& m : modes) {
        Operation op;
        Blend blend;
        porterDuff(2, blend);
        blend.sourceAlphaMode = m.sourceAlphaMode;
        blend.targetAlphaMode = m.targetAlphaMode;
        blend.sourceGlobalAlphaMode = m.sourceGlobal;
        blend.targetGlobalAlphaMode = m.targetGlobal;
        blend.sourceAlpha = 0x9C;
        blend.targetAlpha = 0x41;
        blend.globalColorMultiply = m.globalColour;
        blend.sourceGlobalColour = 0x80FF4020;
        blend.targetDemultiply = m.demultiply;
        op.raster.blend = blend;
        op.raster.sourceMode = kKeyed;  // keyed pixels keep the background ROP
        op.raster.sourceKeyHigh = 0xFF7F7F7F;
        op.raster.backgroundRop = 0x66;
        op.seed = seed++;
        EXPECT_EQ(check(op), "");
    }
}

TEST(Core2DMono, StreamsExpandWithEveryPackingAndTransparency) {
    uint32_t seed = 3000;
    for (uint32_t packing : {0u, 1u, 2u, 3u})
        for (int32_t width : {1, 7, 9, 17, 33})
            for (uint32_t transparent : {0u, 1u}) {
                Operation op;
                op.kind = Kind::Mono;
                op.targetWidth = 40;
                op.destination = Rect{3, 2, 3 + width, 11};
                op.packing = packing;
                op.monoTransparent = transparent;
                op.raster = rops(0xCC, 0x66);
                op.raster.sourceMode = transparent ? kMasked : kOpaque;
                op.targetFormat = width % 2 ? A8R8G8B8 : R5G6B5;
                op.seed = seed++;
                EXPECT_EQ(check(op), "");
            }
}

// Every pair of source and target rotations (quarter turns and flips), with and without the
// blit mirror, and clipped.
TEST(Core2DRotation, EveryPairOfRotationsWithMirrors) {
    uint32_t seed = 4000;
    for (uint32_t sourceRotation = 0; sourceRotation < 6; ++sourceRotation)
        for (uint32_t targetRotation = 0; targetRotation < 6; ++targetRotation)
            for (int mirror = 0; mirror < 4; ++mirror) {
                Operation op;
                op.sourceRotation = sourceRotation;
                op.targetRotation = targetRotation;
                op.sourceWidth = 20;
                op.sourceHeight = 18;
                op.targetWidth = 22;
                op.targetHeight = 19;
                op.destination = Rect{1, 2, 15, 16};
                op.clip = Rect{0, 4, 13, 32767};
                op.raster.mirrorHorizontal = mirror & 1;
                op.raster.mirrorVertical = mirror & 2;
                op.sourceFormat = (seed % 2) ? A8R8G8B8 : R5G6B5;
                op.targetFormat = (seed % 3) ? A8R8G8B8 : A4R4G4B4;
                op.seed = seed++;
                EXPECT_EQ(check(op), "");
            }
}

// The mirror flags of a rotation mirror the view before the rotation: alone they are the
// flips, and both under a half turn give the surface back unturned.
TEST(Core2DRotation, MirrorFlagsOfARotationMirrorTheView) {
    struct Case {
        uint32_t coreRotation, flags, referenceRotation;
    };
    const Case cases[] = {{0, 1, 4}, {0, 2, 5}, {2, 3, 0}, {4, 1, 0}, {2, 1, 5}};
    uint32_t seed = 4500;
    for (const Case& c : cases)
        for (bool target : {false, true}) {
            Operation op;
            op.sourceWidth = 20;
            op.sourceHeight = 18;
            op.destination = Rect{1, 2, 15, 16};
            if (target) {
                op.coreTargetRotation = int32_t(c.coreRotation);
                op.targetMirrorFlags = c.flags;
                op.targetRotation = c.referenceRotation;
            } else {
                op.coreSourceRotation = int32_t(c.coreRotation);
                op.sourceMirrorFlags = c.flags;
                op.sourceRotation = c.referenceRotation;
            }
            op.seed = seed++;
            EXPECT_EQ(check(op), "") << (target ? "target" : "source") << " rotation " << c.coreRotation
                                     << " flags " << c.flags;
        }
}

TEST(Core2DStretch, FactorsStepTheSource) {
    struct Case {
        Rect source, destination;
        bool gdi;
    };
    const Case cases[] = {
        {{0, 0, 10, 8}, {2, 2, 22, 18}, false},  // up
        {{0, 0, 24, 20}, {1, 1, 9, 6}, false},   // down
        {{3, 2, 13, 12}, {0, 0, 13, 7}, true},   // GDI stepping
        {{0, 0, 1, 1}, {0, 0, 16, 16}, false},   // one pixel everywhere
        {{0, 0, 24, 3}, {4, 0, 5, 19}, true},    // a one-pixel-wide column
    };
    uint32_t seed = 5000;
    for (const Case& c : cases)
        for (uint32_t rotation : {0u, 3u})
            for (bool mirror : {false, true}) {
                Operation op;
                op.kind = Kind::Stretch;
                op.source = c.source;
                op.destination = c.destination;
                op.sourceRotation = rotation;
                op.sourceWidth = rotation ? 20 : 24;
                op.sourceHeight = rotation ? 24 : 20;
                op.raster.mirrorHorizontal = mirror;
                op.horizontalFactor = stretchFactor(c.gdi, uint32_t(c.source.width()), uint32_t(c.destination.width()));
                op.verticalFactor = stretchFactor(c.gdi, uint32_t(c.source.height()), uint32_t(c.destination.height()));
                op.seed = seed++;
                EXPECT_EQ(check(op), "");
            }
}

// The driver may split a blit into stripes and one-pixel-wide lines, each with its own source
// origin; the pieces draw what the whole blit draws.
TEST(Core2DPieces, StripesAndOnePixelLinesEqualTheWholeBlit) {
    for (int32_t pieceWidth : {1, 16}) {
        SurfaceBuffer source(A8R8G8B8, 40, 12), target(R5G6B5, 40, 12);
        std::mt19937 random(77);
        source.fillRandom(random);
        target.fillRandom(random);
        SurfaceBuffer expected = target;
        Source s;
        s.type = SourceType::Color;
        s.surface = &source.surface;
        s.rect = Rect{2, 1, 0, 0};
        ASSERT_EQ(blit(s, expected.surface, Rect{3, 0, 38, 11}, kDefaultClip, Brush{}, Raster{}), Status::Ok);

        Rig rig;
        const uint32_t sb = rig.place(source), tb = rig.place(target);
        Stream stream = targetStream(tb, 80, 40, 12, GAL_DEST_CONFIG(GAL_HW_FORMAT_R5G6B5, GAL_HW_BITBLIT), 40, 12);
        stream.load(GAL_STATE_SOURCE_ADDRESS, {sb, 160, 40, GAL_HW_FORMAT_A8R8G8B8 << GAL_SOURCE_CONFIG_FORMAT_SHIFT});
        stream.load(GAL_STATE_SOURCE_HEIGHT, {12});
        for (int32_t left = 3; left < 38; left += pieceWidth) {
            const int32_t right = std::min(left + pieceWidth, 38);
            stream.load(GAL_STATE_SOURCE_ORIGIN, {uint32_t(2 + left - 3) | 1u << 16, uint32_t(right - left) | 11u << 16});
            stream.draw(Rect{left, 0, right, 11});
            for (int i = 0; i < 3; ++i) stream.load(GAL_STATE_DUMMY, {0});
        }
        ASSERT_TRUE(rig.run(stream));
        EXPECT_EQ(rig.faults(), 0u);
        SurfaceBuffer actual = target;
        rig.fetch(tb, actual);
        EXPECT_EQ(compareSurfaces("blit in pieces of " + std::to_string(pieceWidth), expected.surface, actual.surface), "");
    }
}

TEST(Core2DPieces, LinesDrawTheirPixelsWithTheLineColour) {
    Rig rig;
    SurfaceBuffer target(A8R8G8B8, 16, 16);
    const uint32_t tb = rig.place(target);
    Stream stream = targetStream(tb, 64, 16, 16, GAL_DEST_CONFIG(GAL_HW_FORMAT_A8R8G8B8, GAL_HW_LINE), 12, 16, 0xF0);
    stream.load(GAL_STATE_PATTERN_COLOR, {0xFF102030});
    stream.line(2, 3, 14, 3);  // horizontal, clipped at 12
    stream.line(5, 5, 5, 9);   // vertical
    stream.line(0, 10, 4, 14);  // diagonal
    ASSERT_TRUE(rig.run(stream));
    EXPECT_EQ(rig.faults(), 0u);
    const auto* pixels = reinterpret_cast<const uint32_t*>(rig.at(tb));
    for (uint32_t y = 0; y < 16; ++y)
        for (uint32_t x = 0; x < 16; ++x) {
            const bool on = (y == 3 && x >= 2 && x < 12) || (x == 5 && y >= 5 && y < 9) ||
                            (x < 4 && y == 10 + x);
            EXPECT_EQ(pixels[y * 16 + x], on ? 0xFF102030u : 0u) << x << ", " << y;
        }
}

// A draw that would touch memory outside the nodes, or read outside its source, or whose
// stream is shorter than its rectangle, is a fault and writes nothing.
TEST(Core2DFaults, AccessesOutsideWriteNothing) {
    struct Case {
        const char* name;
        uint32_t targetStride, sourceOrigin, streamBytes;
    };
    const Case cases[] = {
        {"target rows past the node", 64 * 8, 0, 0},
        {"source read past the surface", 64, 10 | 10u << 16, 0},
        {"monochrome stream too short", 64, 0, 4},
    };
    for (const Case& c : cases) {
        Rig rig;
        SurfaceBuffer source(A8R8G8B8, 16, 16), target(A8R8G8B8, 16, 16);
        std::memset(target.data(), 0x3C, target.size());
        const uint32_t sb = rig.place(source), tb = rig.place(target);
        Stream stream =
            targetStream(tb, c.targetStride, 16, 16, GAL_DEST_CONFIG(GAL_HW_FORMAT_A8R8G8B8, GAL_HW_BITBLIT), 16, 16);
        const uint32_t format = c.streamBytes ? GAL_HW_FORMAT_MONOCHROME : GAL_HW_FORMAT_A8R8G8B8;
        stream.load(GAL_STATE_SOURCE_ADDRESS, {sb, 64, 16, format << GAL_SOURCE_CONFIG_FORMAT_SHIFT});
        stream.load(GAL_STATE_SOURCE_HEIGHT, {16});
        stream.load(GAL_STATE_SOURCE_ORIGIN, {c.sourceOrigin, 8 | 8u << 16});
        stream.draw(Rect{0, 0, 8, 8}, std::vector<uint8_t>(c.streamBytes, 0xFF));
        ASSERT_TRUE(rig.run(stream));
        EXPECT_EQ(rig.faults(), 1u) << c.name;
        for (size_t i = 0; i < target.size(); ++i) ASSERT_EQ(rig.at(tb)[i], 0x3C) << c.name << " byte " << i;
    }
}

// pixman for what it covers: conversions between its formats (SRC composite), fills, and
// integer rotations of the target.
TEST(Core2DPixman, ConversionsAndRotationsAgreeWithPixman) {
    const Format formats[] = {A8R8G8B8, X8R8G8B8, A8B8G8R8, X8B8G8R8, B8G8R8A8, B8G8R8X8, R8G8B8A8,
                              R8G8B8X8, R5G6B5,   B5G6R5,   A1R5G5B5, X1R5G5B5, A1B5G5R5, X1B5G5R5,
                              A4R4G4B4, X4R4G4B4, A4B4G4R4, X4B4G4R4, A8};
    std::mt19937 random(11);
    for (Format from : formats)
        for (Format to : {A8R8G8B8, R5G6B5, A4B4G4R4, from}) {
            for (uint32_t rotation : {0u, 1u, 2u, 3u}) {
                SurfaceBuffer source(from, 16, 12), target(to, rotation % 2 ? 12 : 16, rotation % 2 ? 16 : 12);
                source.fillRandom(random);
                target.fillRandom(random);
                if (from == A8 && to != A8) continue;  // pixman widens A8 into black, we into zero colour
                SurfaceBuffer expected = target;
                {
                    PixmanImage src(source), dst(expected);
                    // The source's view pixel (x, y) lands at the target's memory position the
                    // rotation gives: a pixman transform from destination to source.
                    pixman_transform_t t;
                    const pixman_fixed_t one = pixman_fixed_1, w = pixman_int_to_fixed(int(target.surface.width)),
                                         h = pixman_int_to_fixed(int(target.surface.height));
                    switch (rotation) {
                    case 1: pixman_transform_init_identity(&t); t.matrix[0][0] = 0; t.matrix[0][1] = one; t.matrix[0][2] = 0;
                            t.matrix[1][0] = -one; t.matrix[1][1] = 0; t.matrix[1][2] = w; break;
                    case 2: pixman_transform_init_identity(&t); t.matrix[0][0] = -one; t.matrix[0][2] = w;
                            t.matrix[1][1] = -one; t.matrix[1][2] = h; break;
                    case 3: pixman_transform_init_identity(&t); t.matrix[0][0] = 0; t.matrix[0][1] = -one; t.matrix[0][2] = h;
                            t.matrix[1][0] = one; t.matrix[1][1] = 0; t.matrix[1][2] = 0; break;
                    default: pixman_transform_init_identity(&t); break;
                    }
                    pixman_image_set_transform(src.image, &t);
                    pixman_image_composite32(PIXMAN_OP_SRC, src.image, nullptr, dst.image, 0, 0, 0, 0, 0, 0,
                                             int(target.surface.width), int(target.surface.height));
                }
                Operation op;
                op.sourceFormat = from;
                op.targetFormat = to;
                Rig rig;
                const uint32_t sb = rig.place(source), tb = rig.place(target);
                const HwFormat sh = hwFormat(from), th = hwFormat(to);
                Stream stream = targetStream(tb, target.surface.strides[0], target.surface.width,
                                             target.surface.height,
                                             GAL_DEST_CONFIG(th.format, GAL_HW_BITBLIT) | th.swizzle << 16, 16, 16);
                stream.load(GAL_STATE_ROTATION, {(0xFFFFFFFFu & ~0x33Fu) | rotation << 3});
                stream.load(GAL_STATE_SOURCE_ADDRESS, {sb, source.surface.strides[0], 16,
                                                       sh.format << GAL_SOURCE_CONFIG_FORMAT_SHIFT | sh.swizzle << 16});
                stream.load(GAL_STATE_SOURCE_HEIGHT, {12});
                stream.load(GAL_STATE_SOURCE_ORIGIN, {0, 16 | 12u << 16});
                stream.draw(Rect{0, 0, 16, 12});
                ASSERT_TRUE(rig.run(stream));
                ASSERT_EQ(rig.faults(), 0u) << rig.lastFault();
                SurfaceBuffer actual = target;
                rig.fetch(tb, actual);
                EXPECT_EQ(compareSurfaces("blit rotated " + std::to_string(rotation * 90) + " from " + formatName(from),
                                          expected.surface, actual.surface),
                          "");
            }
        }
}

}  // namespace
}  // namespace coretest
