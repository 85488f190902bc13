// The 2D frame: gcoHARDWARE_StartDE and its siblings turn the engine's settings into one frame
// of the command stream (states, then one start-draw-engine command per rectangle or piece,
// then the end of frame). A frame is first run without a window, which only counts its words,
// then written into exactly that much reserved command-buffer space, so that a frame is never
// left half written; a failure fills what was reserved with no-ops.
#include <algorithm>
#include <cstring>
#include <vector>

#include "engine_state.h"
#include "gal_states.h"
#include "gal_surface.h"

namespace {

constexpr uint32_t kFeatureNoRectangleStall = 32;
constexpr uint32_t kFeatureAllRops = 34;
constexpr uint32_t kFeatureMirrorExtension = 35;
constexpr uint32_t kFeatureNewClearColour = 36;
constexpr uint32_t kFeatureNewPalette = 37;
constexpr uint32_t kFeatureLookupTables = 38;
constexpr uint32_t kMaxSplitWords = 0x10000;
constexpr uint32_t kPageBytes = 4096;

bool feature(gcoHARDWARE hw, uint32_t n) {
    return n < 7 * 32 && (hw->identity.features[n / 32] >> (n % 32) & 1u) != 0;
}

bool ropUsesSource(uint8_t rop) { return ((rop >> 2) ^ rop) & 0x33; }
bool ropUsesPattern(uint8_t rop) { return ((rop >> 4) ^ rop) & 0x0F; }

bool rectValid(const gcsRECT& r) {
    return r.left >= 0 && r.top >= 0 && r.left < r.right && r.top < r.bottom &&
           r.right < 0x10000 && r.bottom < 0x10000;
}

uint32_t packXY(int32_t x, int32_t y) { return uint32_t(x & 0xFFFF) | uint32_t(y & 0xFFFF) << 16; }

// Clip coordinates: 15 bits each, negatives as 0.
uint32_t clip15(int32_t v) { return v < 0 ? 0u : uint32_t(std::min(v, 0x7FFF)); }

// One piece of a frame: a destination rectangle and, when given, its source rectangle and
// stretch factors.
struct Piece {
    gcsRECT dest;
    bool hasSource = false;
    gcsRECT source{};
    bool hasFactors = false;
    uint32_t factorH = 0, factorV = 0;
};

class Writer {
public:
    explicit Writer(gcoHARDWARE hw) : hw_(hw) {}
    gceSTATUS load(uint32_t address, std::initializer_list<uint32_t> values) {
        return gcoHARDWARE_Load2DState(hw_, address, uint32_t(values.size()), values.begin());
    }
    gceSTATUS load(uint32_t address, uint32_t count, const uint32_t* values) {
        return gcoHARDWARE_Load2DState(hw_, address, count, values);
    }
    // Raw words (an even count) at the current index; `out` receives where they went.
    gceSTATUS raw(std::initializer_list<uint32_t> words, uint32_t** out = nullptr) {
        return rawWords(words.begin(), uint32_t(words.size()), out);
    }
    gceSTATUS rawWords(const uint32_t* words, uint32_t count, uint32_t** out = nullptr) {
        if (hw_->window2D) {
            if (hw_->windowSize - hw_->windowIndex < count) return gcvSTATUS_OUT_OF_MEMORY;
            if (words) std::memcpy(hw_->window2D + hw_->windowIndex, words, count * 4);
            else std::memset(hw_->window2D + hw_->windowIndex, 0, count * 4);
            if (out) *out = hw_->window2D + hw_->windowIndex;
        } else if (out) {
            *out = nullptr;
        }
        hw_->windowIndex += count;
        return gcvSTATUS_OK;
    }

private:
    gcoHARDWARE hw_;
};

#define TRY(expression)                    \
    do {                                   \
        const gceSTATUS s_ = (expression); \
        if (s_ < 0) return s_;             \
    } while (0)

uint32_t colourFor(uint32_t convert, uint32_t value, uint32_t targetFormat) {
    return convert ? value : gal::expandColour(targetFormat, value);
}

struct Operation {
    gcoHARDWARE hw;
    gco2D e;
    uint32_t command;  // 2D command
    uint32_t hwCommand;
    std::vector<Piece> pieces;
    // Coloured lines: a solid pattern of this colour (A8R8G8B8) instead of the engine's brush.
    bool lineColourSet = false;
    uint32_t lineColour = 0;
    // Stream operations: the data words that follow the rectangle.
    bool stream = false;
    uint32_t streamBytes = 0;
    uint32_t* streamData = nullptr;
    // Filter-blit passes: their kernel, factors and start.
    const gal::FilterPass* filter = nullptr;
};

bool isFilter(uint32_t command) { return command == gcv2D_HOR_FILTER || command == gcv2D_VER_FILTER; }

// The user colour-conversion table of a YUV mode (2 and 3) at `address`: nine coefficients
// as 16-bit halves, then three 25-bit offsets.
gceSTATUS emitConversionTable(Writer& w, uint32_t address, const int32_t* coefficients) {
    uint32_t words[GAL_CSC_WORDS] = {};
    for (int k = 0; k < 9; ++k) words[k / 2] |= (uint32_t(coefficients[k]) & 0xFFFF) << (16 * (k % 2));
    for (int k = 0; k < 3; ++k) words[5 + k] = uint32_t(coefficients[9 + k]) & 0x1FFFFFF;
    return w.load(address, GAL_CSC_WORDS, words);
}

gceSTATUS emitTarget(Writer& w, const Operation& op) {
    gco2D e = op.e;
    const gal::Target& t = e->target;
    const gal::Format2D* f = gal::format2D(e->targetFormat);
    // YUV targets convert back in the engine's colour mode; lines do not draw into them, and
    // planar ones take clears and blits only, unrotated, and need their chroma planes set
    // (gco2D_SetGenericTarget).
    if (!f || f->code == 102 || (f->yuv && op.command == gcv2D_LINE)) return gcvSTATUS_NOT_SUPPORTED;
    if (f->planes > 1 && ((op.command != gcv2D_CLEAR && op.command != gcv2D_BLT &&
                           op.command != gcv2D_MULTI_SOURCE_BLT) ||
                          t.rotation != 0 || t.planes < f->planes))
        return gcvSTATUS_NOT_SUPPORTED;  // a target set without its chroma planes included
    if (f->yuv) {
        if (e->yuvMode > 3) return gcvSTATUS_NOT_SUPPORTED;
        if (e->yuvMode >= 2) TRY(emitConversionTable(w, GAL_STATE_CSC_RGB_TO_YUV, e->coefficients[1]));
        TRY(w.load(GAL_STATE_TARGET_COLOR_SPACE, {GAL_TARGET_COLOR_SPACE(e->yuvMode)}));
    }
    TRY(w.load(GAL_STATE_TARGET_ADDRESS, {t.addresses[0], t.strides[0], t.width & 0xFFFF}));
    uint32_t config = 0x80000000u | (op.hwCommand & 0xF) << 12 | (f->hwFormat & 0x1F) |
                      f->swizzle << GAL_DEST_SWIZZLE_SHIFT;
    if (t.tiling == 2 || t.tiling == 8) config |= 0x100;
    if (f->yuv && f->uvSwap) config |= GAL_DEST_UV_SWAP;
    // The second lookup table goes with the target when asked for, on chips with the tables.
    const bool lookup = e->targetLookup && feature(op.hw, kFeatureLookupTables);
    if (lookup) {
        config |= 0x800;
        TRY(w.load(GAL_STATE_LUT_TARGET, 256, e->lookupTables[1]));
    }
    TRY(w.load(GAL_STATE_TARGET_CONFIG, {config}));
    if (f->planes > 1) TRY(gcoHARDWARE_SetMultiTarget(op.hw, f->code, t.addresses, t.strides));
    TRY(w.load(GAL_STATE_TARGET_HEIGHT, {t.height & 0xFFFF}));
    TRY(w.load(GAL_STATE_TARGET_KEY_LOW, {t.keyLow}));
    TRY(w.load(GAL_STATE_TARGET_KEY_HIGH, {t.keyHigh}));
    op.hw->targetAddress = t.addresses[0];
    return gcvSTATUS_OK;
}

// The clip, cut to the target's view so that no draw writes outside the target surface.
gceSTATUS emitClip(Writer& w, const Operation& op, const gcsRECT& requested) {
    const gal::Target& t = op.e->target;
    const bool swapped = (t.rotation & 7) == 1 || (t.rotation & 7) == 3;
    const int32_t viewW = int32_t(swapped ? t.height : t.width);
    const int32_t viewH = int32_t(swapped ? t.width : t.height);
    const int32_t left = std::max(requested.left, 0), top = std::max(requested.top, 0);
    const int32_t right = std::min(requested.right, viewW);
    const int32_t bottom = std::min(requested.bottom, viewH);
    return w.load(GAL_STATE_CLIP_TOP_LEFT,
                  {clip15(left) | clip15(top) << 16,
                   clip15(std::max(right, left)) | clip15(std::max(bottom, top)) << 16});
}

gceSTATUS emitRotation(Writer& w, const Operation& op, uint32_t sourceRotation) {
    const uint32_t targetRotation = op.e->target.rotation;
    const bool mirrors = (sourceRotation | targetRotation) >> 30;
    if (mirrors && !feature(op.hw, kFeatureMirrorExtension)) return gcvSTATUS_NOT_SUPPORTED;
    uint32_t value = 0xFFFFFFFFu & ~0x33Fu;  // both fields written (bits 8 and 9 clear)
    value |= (sourceRotation & 7) | (targetRotation & 7) << 3;
    if (feature(op.hw, kFeatureMirrorExtension)) {
        value &= ~(0x3Fu << 20);
        value |= (sourceRotation >> 30) << 20 | (targetRotation >> 30) << 23;
    }
    if ((sourceRotation & 7) || (targetRotation & 7)) TRY(w.load(GAL_STATE_FLUSH, {8}));
    return w.load(GAL_STATE_ROTATION, {value});
}

gceSTATUS emitBrush(Writer& w, const Operation& op) {
    const gal::Brush& b = op.e->brush;
    const uint32_t fmt = op.e->targetFormat;
    const uint32_t origin = (b.originX & 7) << 4 | (b.originY & 7) << 8;
    if (op.lineColourSet) {
        TRY(w.load(GAL_STATE_PATTERN_CONFIG, {gal::kBrushSolid}));
        TRY(w.load(GAL_STATE_PATTERN_BITS, {0, 0}));
        return w.load(GAL_STATE_PATTERN_COLOR, {op.lineColour});
    }
    switch (b.type) {
    case gal::kBrushSolid:
        TRY(w.load(GAL_STATE_PATTERN_CONFIG, {gal::kBrushSolid}));
        TRY(w.load(GAL_STATE_PATTERN_BITS, {0, 0}));
        return w.load(GAL_STATE_PATTERN_COLOR, {colourFor(b.convert, b.colour, fmt)});
    case gal::kBrushMono:
        TRY(w.load(GAL_STATE_PATTERN_CONFIG, {gal::kBrushMono | origin}));
        return w.load(GAL_STATE_PATTERN_BACKGROUND,
                      {colourFor(b.convert, b.background, fmt),
                       colourFor(b.convert, b.foreground, fmt), uint32_t(b.bits),
                       uint32_t(b.bits >> 32), 0, 0});
    case gal::kBrushColor: {
        const gal::Format2D* f = gal::format2D(b.format);
        TRY(w.load(GAL_STATE_PATTERN_CONFIG,
                   {gal::kBrushColor | origin | f->swizzle << 16 | f->hwFormat << 24}));
        return w.load(GAL_STATE_PATTERN_BITS, {b.address, 0});
    }
    default: return gcvSTATUS_INVALID_ARGUMENT;  // the ROPs use a brush that was never loaded
    }
}

gceSTATUS emitPalette(Writer& w, const Operation& op) {
    uint32_t entries[256] = {};
    if (op.e->palette) std::memcpy(entries, op.e->palette, sizeof entries);
    if (!op.e->paletteConvert)
        for (uint32_t& entry : entries) entry = gal::expandColour(op.e->targetFormat, entry);
    const uint32_t base =
        feature(op.hw, kFeatureNewPalette) ? GAL_STATE_PALETTE : GAL_STATE_PALETTE_OLD;
    return w.load(base, 256, entries);
}

gceSTATUS emitSource(Writer& w, const Operation& op, const gal::SourceSlot& s, bool usesSource) {
    const uint32_t fmt = op.e->targetFormat;
    if (usesSource && op.command != gcv2D_CLEAR) {
        if (s.type == gal::kSourceNone) return gcvSTATUS_INVALID_ARGUMENT;
        if (s.type == gal::kSourceMono) {
            const uint32_t config = GAL_HW_FORMAT_MONOCHROME << GAL_SOURCE_CONFIG_FORMAT_SHIFT |
                                    (s.monoPacking & 3) << GAL_SOURCE_CONFIG_PACKING_SHIFT |
                                    (s.monoTransparency ? GAL_SOURCE_CONFIG_MONO_TRANSPARENT : 0) |
                                    (s.sourceMode & 3) << GAL_SOURCE_CONFIG_TRANSPARENCY_SHIFT;
            TRY(w.load(GAL_STATE_SOURCE_ADDRESS, {0, 0, 0, 0}));
            TRY(w.load(GAL_STATE_SOURCE_CONFIG, {config}));
            TRY(w.load(GAL_STATE_MONO_BACKGROUND, {colourFor(s.monoConvert, s.monoBackground, fmt),
                                                   colourFor(s.monoConvert, s.monoForeground, fmt)}));
        } else {
            const gal::Format2D* f = gal::format2D(s.format);
            if (!f) return gcvSTATUS_NOT_SUPPORTED;
            uint32_t config = f->hwFormat << GAL_SOURCE_CONFIG_FORMAT_SHIFT |
                              f->swizzle << GAL_SOURCE_CONFIG_SWIZZLE_SHIFT |
                              (f->uvSwap ? GAL_SOURCE_CONFIG_UV_SWAP : 0) |
                              (s.sourceMode & 3) << GAL_SOURCE_CONFIG_TRANSPARENCY_SHIFT;
            if (f->yuv) {
                if (s.yuvMode > 3) return gcvSTATUS_NOT_SUPPORTED;
                config |= s.yuvMode << GAL_SOURCE_CONFIG_YUV_MODE_SHIFT;
                if (s.yuvMode >= 2)
                    TRY(emitConversionTable(w, GAL_STATE_CSC_YUV_TO_RGB, op.e->coefficients[0]));
            }
            if (s.type == gal::kSourceMasked)
                config |= GAL_SOURCE_CONFIG_MASKED |
                          (s.monoPacking & 3) << GAL_SOURCE_CONFIG_PACKING_SHIFT;
            TRY(w.load(GAL_STATE_SOURCE_ADDRESS,
                       {s.addresses[0], s.strides[0], s.width & 0xFFFF, config}));
            TRY(w.load(GAL_STATE_SOURCE_HEIGHT, {s.height & 0xFFFF}));
            if (f->planes > 1)
                TRY(w.load(GAL_STATE_SOURCE_UV, {s.addresses[1], s.strides[1],
                                                 f->planes > 2 ? s.addresses[2] : 0,
                                                 f->planes > 2 ? s.strides[2] : 0}));
            TRY(w.load(GAL_STATE_SOURCE_KEY_LOW, {s.keyLow}));
            TRY(w.load(GAL_STATE_SOURCE_KEY_HIGH, {s.keyHigh}));
            if (s.format == 102) TRY(emitPalette(w, op));
            if (s.lookup && feature(op.hw, kFeatureLookupTables))
                TRY(w.load(GAL_STATE_LUT_SOURCE, 256, op.e->lookupTables[0]));
        }
        TRY(w.load(GAL_STATE_SOURCE_ORIGIN,
                   {packXY(s.rect.left, s.rect.top),
                    packXY(s.rect.right - s.rect.left, s.rect.bottom - s.rect.top)}));
        const uint32_t mirror = (s.mirrorH ? 17u : 0u) | (s.mirrorV ? 33u : 0u);
        TRY(w.load(GAL_STATE_MIRROR, {mirror}));
        TRY(emitRotation(w, op, s.rotation));
        if (op.command == gcv2D_STRETCH)
            TRY(w.load(GAL_STATE_STRETCH_H, {s.stretchH, s.stretchV}));
        if (op.filter) {
            TRY(w.load(GAL_STATE_STRETCH_H, {op.filter->factorH, op.filter->factorV}));
            TRY(w.load(GAL_STATE_FILTER_START, {op.filter->start}));
            TRY(w.load(op.filter->kernelAddress, GAL_FILTER_KERNEL_WORDS, op.filter->kernel));
        }
    } else {
        TRY(w.load(GAL_STATE_MIRROR, {0}));
        TRY(emitRotation(w, op, 0));
    }
    TRY(w.load(GAL_STATE_TRANSPARENCY,
               {(s.sourceMode & 3) | (s.patternMode & 3) << 4 | (s.destinationMode & 3) << 8}));
    TRY(w.load(GAL_STATE_ROP, {GAL_ROP_WORD(s.foregroundRop, s.backgroundRop)}));
    TRY(w.load(GAL_STATE_SOURCE_GLOBAL, {s.sourceGlobal}));
    TRY(w.load(GAL_STATE_TARGET_GLOBAL, {s.targetGlobal}));
    TRY(w.load(GAL_STATE_MULTIPLY, {s.sourcePremultiply | s.targetPremultiply << 1 |
                                    (s.globalMultiply & 3) << 2 | s.targetDemultiply << 4}));
    const gal::AlphaSettings& a = s.alpha;
    if (!a.enabled) return w.load(GAL_STATE_ALPHA_CONTROL, {0, 0});
    return w.load(GAL_STATE_ALPHA_CONTROL,
                  {1u | (a.sourceAlpha & 0xFF) << 8 | (a.targetAlpha & 0xFF) << 16,
                   (a.sourceAlphaMode & 3) | (a.targetAlphaMode & 3) << 2 |
                       (a.sourceGlobalMode & 3) << 4 | (a.targetGlobalMode & 3) << 6 |
                       (a.sourceFactor & 7) << 8 | (a.targetFactor & 7) << 12});
}

bool plainRopsOnly(const Operation& op, const gal::SourceSlot& s) {
    return !feature(op.hw, kFeatureAllRops) &&
           (s.foregroundRop != s.backgroundRop ||
            (s.foregroundRop != 0xAA && s.foregroundRop != 0xCC && s.foregroundRop != 0xF0));
}

// What a source's operation reads: the source (ROPs, a transparency test, a mask, or blending,
// which reads the source whatever the ROPs say) and the pattern.
bool sourceInUse(const gal::SourceSlot& s) {
    // A source transparency test reads the source too, whatever the ROPs: without its states
    // the engine would test (and fault on) whatever source an earlier operation left behind.
    return ropUsesSource(s.foregroundRop) || ropUsesSource(s.backgroundRop) ||
           s.type == gal::kSourceMasked || (s.sourceMode != 0 && s.type != gal::kSourceNone) ||
           s.alpha.enabled;
}
bool patternInUse(const gal::SourceSlot& s) {
    return ropUsesPattern(s.foregroundRop) || ropUsesPattern(s.backgroundRop);
}

// A multi-source blit: every source of the mask with its own clip, brush and states, each
// latched by its control word (the others are dropped first).
gceSTATUS emitSources(Writer& w, const Operation& op) {
    const uint32_t none[GAL_MULTI_SOURCES] = {};
    TRY(w.load(GAL_STATE_MULTI_SOURCE, GAL_MULTI_SOURCES, none));
    for (uint32_t i = 0; i < GAL_MULTI_SOURCES; ++i) {
        if (!(op.e->sourceMask >> i & 1u)) continue;
        const gal::SourceSlot& s = op.e->sources[i];
        if (plainRopsOnly(op, s)) return gcvSTATUS_NOT_SUPPORTED;
        TRY(emitClip(w, op, s.clip));
        if (patternInUse(s)) TRY(emitBrush(w, op));
        TRY(emitSource(w, op, s, true));
        TRY(w.load(GAL_STATE_MULTI_SOURCE + 4 * i, {GAL_MULTI_SOURCE_ENABLE}));
    }
    return gcvSTATUS_OK;
}

gceSTATUS emitStates(Writer& w, Operation& op, uint32_t clearColour) {
    gcoHARDWARE hw = op.hw;
    gco2D e = op.e;
    const gal::SourceSlot& s = gal::currentSource(e);
    if (op.command != gcv2D_MULTI_SOURCE_BLT && plainRopsOnly(op, s)) return gcvSTATUS_NOT_SUPPORTED;
    if (hw->needsPatch) {
        TRY(w.load(GAL_STATE_FLUSH, {3}));
        TRY(w.load(GAL_STATE_SEMAPHORE, {GAL_SEMAPHORE_TOKEN}));
        TRY(w.raw({GAL_STALL_WORD, GAL_SEMAPHORE_TOKEN}));
    }
    TRY(w.load(GAL_STATE_PIPE_SELECT, {1}));
    if (feature(hw, kFeatureNewClearColour)) {
        const uint32_t resetA[8] = {0xFFFE1000u, 0xFFFE1000u, 0xFFFE1000u, 0xFFFE1000u,
                                    0xFFFE1000u, 0xFFFE1000u, 0xFFFE1000u, 0xFFFE1000u};
        const uint32_t resetB[8] = {};
        TRY(w.load(GAL_STATE_RESET_A, 8, resetA));
        TRY(w.load(GAL_STATE_RESET_B, 8, resetB));
    }
    TRY(w.load(GAL_STATE_PE_CONTROL, {0xFFFFF6FFu}));
    TRY(emitTarget(w, op));
    if (op.command == gcv2D_CLEAR) {
        TRY(w.load(GAL_STATE_CLEAR_BYTE_MASK, {0xFF}));
        TRY(w.load(GAL_STATE_CLEAR_COLOR_OLD, {clearColour, clearColour}));
        if (feature(hw, kFeatureNewClearColour)) TRY(w.load(GAL_STATE_CLEAR_COLOR, {clearColour}));
        TRY(w.load(GAL_STATE_ROTATION, {0xFFFFFEF8u}));
    }
    if (e->dither) TRY(w.load(GAL_STATE_DITHER, {0x6E4CA280u, 0x5D7F91B3u}));
    if (op.command == gcv2D_MULTI_SOURCE_BLT) return emitSources(w, op);
    TRY(emitClip(w, op, s.clip));
    if (isFilter(op.command)) return emitSource(w, op, s, true);  // no pattern in a filter pass
    if (patternInUse(s) || op.lineColourSet) TRY(emitBrush(w, op));
    return emitSource(w, op, s, op.command != gcv2D_LINE && sourceInUse(s));
}

gceSTATUS emitPiece(Writer& w, Operation& op, const Piece& p) {
    if (p.hasSource)
        TRY(w.load(GAL_STATE_SOURCE_ORIGIN,
                   {packXY(p.source.left, p.source.top),
                    packXY(p.source.right - p.source.left, p.source.bottom - p.source.top)}));
    if (p.hasFactors) TRY(w.load(GAL_STATE_STRETCH_H, {p.factorH, p.factorV}));
    const uint32_t dataWords = op.stream ? op.streamBytes / 4 : 0;
    TRY(w.raw({GAL_START_DE_WORD | (dataWords & 0x7FF) << 16, 0, packXY(p.dest.left, p.dest.top),
               packXY(p.dest.right, p.dest.bottom)}));
    if (op.stream) TRY(w.rawWords(nullptr, (dataWords + 1) & ~1u, &op.streamData));
    for (int i = 0; i < (op.stream ? 2 : 3); ++i) TRY(w.load(GAL_STATE_DUMMY, {0}));
    if (!feature(op.hw, kFeatureNoRectangleStall)) {
        TRY(w.load(GAL_STATE_FLUSH, {8}));
        TRY(w.load(GAL_STATE_SEMAPHORE, {GAL_SEMAPHORE_TOKEN}));
        TRY(w.raw({GAL_STALL_WORD, GAL_SEMAPHORE_TOKEN}));
    }
    return gcvSTATUS_OK;
}

gceSTATUS emitFrame(Operation& op, uint32_t clearColour) {
    Writer w(op.hw);
    TRY(emitStates(w, op, clearColour));
    for (const Piece& p : op.pieces) TRY(emitPiece(w, op, p));
    return gcoHARDWARE_End2DFrame(op.hw);
}

// Splits blits on chips that need it: into stripes 16 pixels wide when the source and target
// rotations differ by a quarter turn. A split that would grow past 0x10000 words is not used.
void splitPieces(Operation& op) {
    if (op.command != gcv2D_BLT || !op.hw->needsPatch) return;
    const gal::SourceSlot& s = gal::currentSource(op.e);
    const uint32_t difference = ((s.rotation & 7) + 4 - (op.e->target.rotation & 7)) % 4;
    if ((s.rotation & 7) > 3 || (op.e->target.rotation & 7) > 3 || difference % 2 == 0) return;
    uint64_t stripes = 0;
    for (const Piece& p : op.pieces) stripes += uint64_t(p.dest.right - p.dest.left + 15) / 16;
    if (stripes * 14 >= kMaxSplitWords) return;
    std::vector<Piece> split;
    for (const Piece& p : op.pieces) {
        const gcsRECT source = p.hasSource ? p.source : s.rect;
        for (int32_t x = p.dest.left; x < p.dest.right; x += 16) {
            Piece piece = p;
            piece.dest.left = x;
            piece.dest.right = std::min(x + 16, p.dest.right);
            piece.hasSource = true;
            piece.source = source;
            piece.source.left = source.left + (x - p.dest.left);
            piece.source.right = piece.source.left + (piece.dest.right - piece.dest.left);
            split.push_back(piece);
        }
    }
    op.pieces = std::move(split);
}

// Measures the frame, reserves it and writes it. On chips whose 2D reservations must stay in
// one 4 KB page, a frame of several pieces that would not fit a page becomes several frames.
gceSTATUS runFrame(Operation& op, uint32_t clearColour) {
    gcoHARDWARE hw = op.hw;
    hw->window2D = nullptr;
    hw->windowIndex = 0;
    hw->windowSize = 0;
    gceSTATUS status = emitFrame(op, clearColour);
    if (status < 0) return status;
    const uint32_t words = (hw->windowIndex + 1) & ~1u;
    if (hw->pageLimited && op.pieces.size() > 1 &&
        words * 4 + gcdCMDBUF_RESERVED_HEAD + gcdCMDBUF_RESERVED_TAIL > kPageBytes) {
        Operation second = op;
        const size_t half = op.pieces.size() / 2;
        op.pieces.resize(half);
        second.pieces.erase(second.pieces.begin(), second.pieces.begin() + long(half));
        status = runFrame(op, clearColour);
        return status < 0 ? status : runFrame(second, clearColour);
    }
    if (!hw->buffer) return gcvSTATUS_NOT_SUPPORTED;
    gcoCMDBUF cmdbuf = nullptr;
    status = gcoBUFFER_Reserve(hw->buffer, size_t(words) * 4, 1, 1, &cmdbuf);
    if (status < 0) return status;
    hw->window2D = reinterpret_cast<uint32_t*>(static_cast<uintptr_t>(cmdbuf->lastReserve));
    hw->windowSize = words;
    hw->windowIndex = 0;
    status = emitFrame(op, clearColour);
    if (status < 0) gcoHARDWARE_2DAppendNop(hw);
    hw->window2D = nullptr;
    hw->windowIndex = hw->windowSize = 0;
    if (status >= 0) hw->currentPipe = 1;
    return status;
}

gceSTATUS prepare(gcoHARDWARE given, gco2D engine, uint32_t command, Operation& op) {
    if (!engine || engine->magic != gal::kEngineMagic) return gcvSTATUS_INVALID_OBJECT;
    TRY(gal::hardwareOf(given, op.hw));
    op.e = engine;
    op.command = command;
    TRY(gcoHARDWARE_TranslateCommand(command, &op.hwCommand));
    if (!op.hw->has2DPipe) return gcvSTATUS_NOT_SUPPORTED;
    return gcvSTATUS_OK;
}

}  // namespace

namespace gal {

// A line runs from (left, top) to (right, bottom), either way round; the end is not drawn.
gceSTATUS drawLines(gcoHARDWARE given, gco2D engine, uint32_t lineCount, const gcsRECT* lines,
                    const uint32_t* colour) {
    if (!lines || lineCount == 0) return gcvSTATUS_INVALID_ARGUMENT;
    auto inRange = [](int32_t v) { return v >= 0 && v < 0x10000; };
    for (uint32_t i = 0; i < lineCount; ++i) {
        const gcsRECT& l = lines[i];
        if (!inRange(l.left) || !inRange(l.top) || !inRange(l.right) || !inRange(l.bottom))
            return gcvSTATUS_INVALID_ARGUMENT;
    }
    Operation op{};
    TRY(prepare(given, engine, gcv2D_LINE, op));
    if (colour) {
        op.lineColourSet = true;
        op.lineColour = *colour;
    }
    for (uint32_t i = 0; i < lineCount; ++i) op.pieces.push_back(Piece{lines[i]});
    return runFrame(op, 0);
}

gceSTATUS startStream(gcoHARDWARE hw, gco2D engine, const gcsRECT& destination,
                      const void* stream, uint32_t bytes) {
    uint32_t* data = nullptr;
    const gceSTATUS status = gcoHARDWARE_StartDEStream(hw, engine, bytes, &destination, &data);
    if (status >= 0 && data) std::memcpy(data, stream, bytes);
    return status;
}

gceSTATUS startFilterPass(gcoHARDWARE hw, gco2D engine, uint32_t command,
                          const gcsRECT& destination, const FilterPass& pass) {
    if (!isFilter(command) || !rectValid(destination)) return gcvSTATUS_INVALID_ARGUMENT;
    Operation op{};
    TRY(prepare(hw, engine, command, op));
    op.filter = &pass;
    op.pieces.push_back(Piece{destination});
    return runFrame(op, 0);
}

}  // namespace gal

extern "C" {

gceSTATUS gcoHARDWARE_StartDE(gcoHARDWARE given, gco2D engine, uint32_t command,
                              uint32_t sourceRectCount, const gcsRECT* sourceRects,
                              uint32_t destRectCount, const gcsRECT* destRects) {
    if (!destRects || destRectCount == 0) return gcvSTATUS_INVALID_ARGUMENT;
    if (sourceRectCount && (!sourceRects || sourceRectCount != destRectCount))
        return gcvSTATUS_INVALID_ARGUMENT;
    for (uint32_t i = 0; i < destRectCount; ++i)
        if (!rectValid(destRects[i]) || (sourceRectCount && !rectValid(sourceRects[i])))
            return gcvSTATUS_INVALID_ARGUMENT;
    Operation op{};
    TRY(prepare(given, engine, command, op));
    const gal::SourceSlot& s = gal::currentSource(engine);
    for (uint32_t i = 0; i < destRectCount; ++i) {
        Piece p;
        p.dest = destRects[i];
        if (sourceRectCount) {
            p.hasSource = true;
            p.source = sourceRects[i];
            // Each rectangle stretches by its own sizes.
            if (command == gcv2D_STRETCH) {
                p.hasFactors = true;
                gcoHARDWARE_GetStretchFactors(int32_t(s.gdiStretch), &p.source, &p.dest,
                                              &p.factorH, &p.factorV);
            }
        }
        op.pieces.push_back(p);
    }
    splitPieces(op);
    return runFrame(op, 0);
}

gceSTATUS gcoHARDWARE_Clear2D(gcoHARDWARE given, gco2D engine, uint32_t rectCount,
                              const gcsRECT* rects) {
    if (!rects || rectCount == 0) return gcvSTATUS_INVALID_ARGUMENT;
    for (uint32_t i = 0; i < rectCount; ++i)
        if (!rectValid(rects[i])) return gcvSTATUS_INVALID_ARGUMENT;
    Operation op{};
    TRY(prepare(given, engine, gcv2D_CLEAR, op));
    for (uint32_t i = 0; i < rectCount; ++i) op.pieces.push_back(Piece{rects[i]});
    return runFrame(op, engine->clearColour);
}

gceSTATUS gcoHARDWARE_StartDELine(gcoHARDWARE given, gco2D engine, uint32_t lineCount,
                                  const gcsRECT* lines) {
    return gal::drawLines(given, engine, lineCount, lines, nullptr);
}

gceSTATUS gcoHARDWARE_Line2DEx(gcoHARDWARE given, gco2D engine, uint32_t lineCount,
                               const gcsRECT* lines, uint32_t colour) {
    return gal::drawLines(given, engine, lineCount, lines, &colour);
}

gceSTATUS gcoHARDWARE_StartDEStream(gcoHARDWARE given, gco2D engine, uint32_t streamBytes,
                                    const gcsRECT* destRect, uint32_t** data) {
    if (!destRect || !data || !rectValid(*destRect) || streamBytes % 4 != 0 ||
        streamBytes / 4 > 2047)
        return gcvSTATUS_INVALID_ARGUMENT;
    Operation op{};
    TRY(prepare(given, engine, gcv2D_BLT, op));
    op.pieces.push_back(Piece{*destRect});
    op.stream = true;
    op.streamBytes = streamBytes;
    TRY(runFrame(op, 0));
    *data = op.streamData;
    return gcvSTATUS_OK;
}

gceSTATUS gcoHARDWARE_SetAutoFlushCycles(gcoHARDWARE given, uint32_t cycles) {
    gcoHARDWARE hw = nullptr;
    TRY(gal::hardwareOf(given, hw));
    if (!hw->has2DPipe) return gcvSTATUS_NOT_SUPPORTED;
    return gcoHARDWARE_LoadState32(hw, GAL_STATE_AUTO_FLUSH, cycles);
}

gceSTATUS gcoHARDWARE_ColorPackToARGB8(uint32_t format, uint32_t colour, uint32_t* argb) {
    if (!argb) return gcvSTATUS_INVALID_ARGUMENT;
    if (format == 102) {
        *argb = colour;
        return gcvSTATUS_OK;
    }
    const gal::Format2D* f = gal::format2D(format);
    if (!f) return gcvSTATUS_NOT_SUPPORTED;
    if (format == 701) {
        *argb = (colour & 0xFF) << 24;
        return gcvSTATUS_OK;
    }
    gcsSURF_FORMAT_INFO* info = nullptr;
    TRY(gcoHARDWARE_QueryFormat(format, &info));
    if (f->yuv || format == 1100 || format == 1115) {
        *argb = colour;
        return gcvSTATUS_OK;
    }
    // Each channel keeps its value and moves to the low bits of its own byte.
    auto channel = [&](uint32_t descriptor, uint32_t shift, bool& present) {
        const uint32_t start = (descriptor >> shift) & 0xFF;
        const uint32_t width = (descriptor >> (shift + 8)) & 0xFF;
        present = width && !(width & 0x80);
        return present ? (colour >> start) & ((1u << std::min(width, 31u)) - 1) & 0xFF : 0u;
    };
    bool hasAlpha = false, present = false;
    const uint32_t a = channel(info->components[0], 0, hasAlpha);
    const uint32_t r = channel(info->components[0], 16, present);
    const uint32_t g = channel(info->components[1], 0, present);
    const uint32_t b = channel(info->components[1], 16, present);
    *argb = (hasAlpha ? a : 0xFFu) << 24 | r << 16 | g << 8 | b;
    return gcvSTATUS_OK;
}

gceSTATUS gcoHARDWARE_ScheduleVideoMemory(gcsSURF_NODE* node) {
    if (!node) return gcvSTATUS_INVALID_ARGUMENT;
    if (node->pool == GAL_POOL_USER) return gcvSTATUS_OK;  // not the kernel's memory
    gcsIO_REQUEST r = gal::request(CMD_RELEASE_VIDEO_MEMORY);
    gal::setField<uint32_t>(r, 0, node->node);
    return gcoHARDWARE_CallEvent(nullptr, &r);
}

}  // extern "C"
