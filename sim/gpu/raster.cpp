// The simulated 2D core's pixel pipeline (see raster.h).
#include "raster.h"

#include "blend_rows.h"
#include "colour_space.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace veld::gpusim {
namespace {

// Every byte of value within [low, high] of the same byte.
bool inKeyRange(uint32_t value, uint32_t low, uint32_t high) {
    for (int shift = 0; shift < 32; shift += 8) {
        const uint32_t v = (value >> shift) & 0xFF;
        if (v < ((low >> shift) & 0xFF) || v > ((high >> shift) & 0xFF)) return false;
    }
    return true;
}

uint32_t streamBit(const RasterJob& j, uint32_t i, uint32_t row) {
    const uint8_t byte = j.stream[size_t(row) * j.streamStride + i / 8];
    return (byte >> (7 - i % 8)) & 1u;
}

bool sameLayout(const PixelLayout& a, const PixelLayout& b) {
    return a.kind == b.kind && a.bytes == b.bytes && a.hwFormat == b.hwFormat && a.r.shift == b.r.shift &&
           a.g.shift == b.g.shift && a.b.shift == b.b.shift && a.a.shift == b.a.shift &&
           a.padding == b.padding;
}

bool canTransparent(const RasterJob& j) {
    const bool sourceTest = (j.source == SourceKind::Colour && j.sourceMode == kKeyed) ||
                            (j.source == SourceKind::Masked &&
                             (j.sourceMode == kKeyed || j.sourceMode == kMasked)) ||
                            (j.source == SourceKind::Monochrome && j.sourceMode == kMasked);
    return sourceTest || j.destinationMode == kKeyed ||
           (j.brush == BrushKind::Monochrome && j.patternMode == kMasked);
}

uint8_t* targetPixel(const RasterJob& j, uint32_t mx, uint32_t my) {
    return j.targetMemory + size_t(my - j.targetTop) * j.target.strides[0] +
           size_t(mx - j.targetLeft) * j.target.layout.bytes;
}

// The raw value every pixel of the area gets, or false when pixels differ.
bool constantResult(const RasterJob& j, bool transparent, uint32_t& raw) {
    const uint8_t fg = j.foregroundRop;
    if (transparent || j.blend || ropUsesDestination(fg)) return false;
    uint32_t s = 0, p = 0;
    if (ropUsesSource(fg)) {
        if (j.source != SourceKind::Constant) return false;
        s = j.constant;
    }
    if (ropUsesPattern(fg)) {
        if (j.brush == BrushKind::Solid) p = j.brushColour;
        else if (j.brush != BrushKind::None) return false;
    }
    raw = argbToRaw(j.target.layout, rop3(fg, p, s, 0));
    return true;
}

// A fill is the same in every rotation: the area's memory rectangle gets one value.
uint64_t fill(const RasterJob& j, uint32_t raw) {
    const Area m = j.targetView.toMemory(j.area);
    const uint32_t bytes = j.target.layout.bytes;
    const size_t rowBytes = size_t(m.width()) * bytes;
    uint8_t* first = targetPixel(j, uint32_t(m.left), uint32_t(m.top));
    for (int32_t x = 0; x < m.width(); ++x) storePixel(first + size_t(x) * bytes, bytes, raw);
    // The other rows are copies of the first, at the speed of the memory.
    for (int32_t y = 1; y < m.height(); ++y)
        std::memcpy(first + size_t(y) * j.target.strides[0], first, rowBytes);
    return uint64_t(m.width()) * uint64_t(m.height());
}

// Copies and conversions without rotation or transparency, with any stepping and mirror:
// whole rows, converted through the row decoders and encoders of the pixel formats.
bool sourceRows(const RasterJob& j) {
    const PixelKind sk = j.sourcePlanes.layout.kind, tk = j.target.layout.kind;
    return j.source == SourceKind::Colour && j.foregroundRop == 0xCC && !j.blend && j.targetView.plain() &&
           j.sourceView.plain() && (tk == PixelKind::Rgb || tk == PixelKind::Index) &&
           (sk == PixelKind::Rgb || sk == PixelKind::Index) &&
           (sk != PixelKind::Index || tk != PixelKind::Index || sameLayout(j.sourcePlanes.layout, j.target.layout));
}

template <typename Raw>
void gather(const uint8_t* row, const uint32_t* columns, uint32_t n, uint8_t* out) {
    for (uint32_t i = 0; i < n; ++i) std::memcpy(out + size_t(i) * sizeof(Raw), row + size_t(columns[i]) * sizeof(Raw), sizeof(Raw));
}

void gatherRow(uint32_t bytes, const uint8_t* row, const uint32_t* columns, uint32_t n, uint8_t* out) {
    switch (bytes) {
    case 1: gather<uint8_t>(row, columns, n, out); break;
    case 2: gather<uint16_t>(row, columns, n, out); break;
    default: gather<uint32_t>(row, columns, n, out); break;
    }
}

// Conversions from YUV sources without rotation, transparency or horizontal stepping: whole
// rows through the YUV row decoder.
bool yuvRows(const RasterJob& j) {
    const PixelKind sk = j.sourcePlanes.layout.kind;
    return j.source == SourceKind::Colour && j.foregroundRop == 0xCC && !j.blend && j.targetView.plain() &&
           j.sourceView.plain() && j.target.layout.kind == PixelKind::Rgb && j.horizontalFactor == 0x10000 &&
           !j.mirrorHorizontal &&
           (sk == PixelKind::PackedYuv || sk == PixelKind::PlanarYuv || sk == PixelKind::SemiPlanarYuv);
}

uint64_t copyYuvRows(const RasterJob& j) {
    const uint32_t n = uint32_t(j.area.width());
    const uint32_t dh = uint32_t(j.rect.height());
    std::vector<uint32_t> argb(n);
    for (int32_t y = j.area.top; y < j.area.bottom; ++y) {
        const uint32_t sy = j.originY + sourceStep(uint32_t(y - j.rect.top), dh, j.mirrorVertical, j.verticalFactor);
        decodeYuvRow(j.sourcePlanes, j.originX + uint32_t(j.area.left - j.rect.left), sy, n, argb.data());
        encodeRow(j.target.layout, argb.data(), n, targetPixel(j, uint32_t(j.area.left), uint32_t(y)));
    }
    return uint64_t(n) * uint64_t(j.area.height());
}

uint64_t copySourceRows(const RasterJob& j) {
    const PixelPlanes& s = j.sourcePlanes;
    const bool same = sameLayout(s.layout, j.target.layout);
    const uint32_t sb = s.layout.bytes, tb = j.target.layout.bytes;
    const uint32_t n = uint32_t(j.area.width());
    const uint32_t dw = uint32_t(j.rect.width()), dh = uint32_t(j.rect.height());
    const bool contiguous = j.horizontalFactor == 0x10000 && !j.mirrorHorizontal;
    std::vector<uint32_t> columns, argb;
    std::vector<uint8_t> gathered;
    if (!contiguous) {
        columns.resize(n);
        for (uint32_t i = 0; i < n; ++i)
            columns[i] = j.originX + sourceStep(uint32_t(j.area.left - j.rect.left) + i, dw, j.mirrorHorizontal, j.horizontalFactor);
        if (!same) gathered.resize(size_t(n) * sb);
    }
    if (!same) argb.resize(n);
    const uint32_t firstColumn = j.originX + uint32_t(j.area.left - j.rect.left);
    // An A8R8G8B8 source is its own working values: aligned rows go to the encoder as they are.
    const bool identity = s.layout.kind == PixelKind::Rgb && s.layout.bytes == 4 && s.layout.a.bits == 8 &&
                          s.layout.a.shift == 24 && s.layout.r.shift == 16 && s.layout.g.shift == 8;
    auto sourceRow = [&](int32_t y) {
        const uint32_t sy = j.originY + sourceStep(uint32_t(y - j.rect.top), dh, j.mirrorVertical, j.verticalFactor);
        return s.planes[0] + size_t(sy) * s.strides[0];
    };
    // Within one surface, rows run against the direction of the move so nothing is read after
    // it was overwritten.
    const uint8_t* firstFrom = sourceRow(j.area.top) + size_t(firstColumn) * sb;
    uint8_t* firstTo = targetPixel(j, uint32_t(j.area.left), uint32_t(j.area.top));
    const size_t span = size_t(j.area.height()) * s.strides[0];
    const bool upward = firstTo > firstFrom && firstTo < firstFrom + span;
    const int32_t rows = j.area.height();
    // Whole rows of surfaces without padding between them, one after another in both: one move.
    const size_t rowBytes = size_t(n) * tb;
    if (same && contiguous && j.verticalFactor == 0x10000 && !j.mirrorVertical && s.strides[0] == rowBytes &&
        j.target.strides[0] == rowBytes) {
        std::memmove(firstTo, firstFrom, rowBytes * size_t(rows));
        return uint64_t(n) * uint64_t(rows);
    }
    // A row that reads the same source row as the one before (a vertical stretch up) is a copy
    // of it, when the target does not overlap the source.
    const uint8_t* topRow = sourceRow(j.area.top);
    const uint8_t* bottomRow = sourceRow(j.area.bottom - 1);
    const uint8_t* lastTo = targetPixel(j, uint32_t(j.area.left), uint32_t(j.area.bottom - 1)) + rowBytes;
    const bool apart = lastTo <= std::min(topRow, bottomRow) || firstTo >= std::max(topRow, bottomRow) + s.strides[0];
    const uint8_t* previousFrom = nullptr;
    const uint8_t* previousTo = nullptr;
    for (int32_t k = 0; k < rows; ++k) {
        const int32_t y = j.area.top + (upward ? rows - 1 - k : k);
        const uint8_t* from = sourceRow(y);
        uint8_t* to = targetPixel(j, uint32_t(j.area.left), uint32_t(y));
        if (apart && from == previousFrom) {
            std::memcpy(to, previousTo, size_t(n) * tb);
            previousTo = to;
            continue;
        }
        previousFrom = from;
        previousTo = to;
        if (contiguous) {
            from += size_t(firstColumn) * sb;
            if (same) {
                std::memmove(to, from, size_t(n) * tb);
                continue;
            }
        } else if (same) {
            gatherRow(sb, from, columns.data(), n, to);
            continue;
        } else {
            gatherRow(sb, from, columns.data(), n, gathered.data());
            from = gathered.data();
        }
        if (identity && (reinterpret_cast<uintptr_t>(from) & 3) == 0) {
            encodeRow(j.target.layout, reinterpret_cast<const uint32_t*>(from), n, to);
            continue;
        }
        decodeRow(s.layout, from, n, argb.data(), s.palette);
        encodeRow(j.target.layout, argb.data(), n, to);
    }
    return uint64_t(n) * uint64_t(rows);
}

uint32_t brushPixel(const RasterJob& j, uint32_t x, uint32_t y, bool asIndex, uint32_t& bit) {
    const uint32_t px = (x + j.brushOriginX) & 7, py = (y + j.brushOriginY) & 7;
    switch (j.brush) {
    case BrushKind::Solid: return j.brushColour;
    case BrushKind::Monochrome:
        bit = uint32_t(j.brushBits >> (8 * py + 7 - px)) & 1u;
        return bit ? j.brushForeground : j.brushBackground;
    case BrushKind::Colour: return readArgb(j.brushPlanes, px, py, asIndex);
    case BrushKind::None: break;
    }
    return 0;
}

uint64_t general(const RasterJob& j) {
    const bool asIndex = j.target.layout.kind == PixelKind::Index;
    const PixelLayout& tl = j.target.layout;
    const uint8_t fg = j.foregroundRop, bg = j.backgroundRop;
    const bool transparency = canTransparent(j);
    const bool readDestination = ropUsesDestination(fg) || (transparency && ropUsesDestination(bg)) ||
                                 j.destinationMode == kKeyed || j.blend;
    const uint32_t dw = uint32_t(j.rect.width()), dh = uint32_t(j.rect.height());
    const bool sampled = j.source == SourceKind::Colour || j.source == SourceKind::Masked;
    std::vector<uint32_t> columns;
    if (sampled) {
        columns.resize(size_t(j.area.width()));
        for (int32_t x = j.area.left; x < j.area.right; ++x)
            columns[size_t(x - j.area.left)] =
                j.originX + sourceStep(uint32_t(x - j.rect.left), dw, j.mirrorHorizontal, j.horizontalFactor);
    }
    const bool sourceKeyed = sampled && j.sourceMode == kKeyed;
    const bool sourceMasked = j.source == SourceKind::Masked && j.sourceMode == kMasked;
    const bool keyableSource = j.sourcePlanes.layout.kind == PixelKind::Rgb ||
                               j.sourcePlanes.layout.kind == PixelKind::Index;
    for (int32_t y = j.area.top; y < j.area.bottom; ++y) {
        const uint32_t row = uint32_t(y - j.rect.top);
        const uint32_t sy = sampled ? j.originY + sourceStep(row, dh, j.mirrorVertical, j.verticalFactor) : 0;
        for (int32_t x = j.area.left; x < j.area.right; ++x) {
            const uint32_t i = uint32_t(x - j.rect.left);
            uint32_t s = 0;
            bool transparent = false;
            switch (j.source) {
            case SourceKind::Constant: s = j.constant; break;
            case SourceKind::Colour:
            case SourceKind::Masked: {
                uint32_t mx, my;
                j.sourceView.toMemory(columns[size_t(x - j.area.left)], sy, mx, my);
                s = readArgb(j.sourcePlanes, mx, my, asIndex);
                if (sourceKeyed) {
                    const uint32_t lanes =
                        keyableSource ? keyLanes(j.sourcePlanes.layout, readRaw(j.sourcePlanes, mx, my)) : 0;
                    transparent = inKeyRange(lanes, j.sourceKeyLow, j.sourceKeyHigh);
                } else if (sourceMasked) {
                    transparent = streamBit(j, i, row) == 0;
                }
                break;
            }
            case SourceKind::Monochrome: {
                const uint32_t bit = streamBit(j, i, row);
                s = bit ? j.monoForeground : j.monoBackground;
                transparent = j.sourceMode == kMasked && bit == j.monoTransparent;
                break;
            }
            case SourceKind::None: break;
            }
            uint32_t bit = 1;
            const uint32_t p = brushPixel(j, uint32_t(x), uint32_t(y), asIndex, bit);
            if (j.patternMode == kMasked && j.brush == BrushKind::Monochrome && bit == 0) transparent = true;
            uint32_t mx, my;
            j.targetView.toMemory(uint32_t(x), uint32_t(y), mx, my);
            uint8_t* to = targetPixel(j, mx, my);
            uint32_t d = 0;
            if (readDestination) {
                const uint32_t raw = loadPixel(to, tl.bytes);
                d = asIndex ? raw : rawToArgb(tl, raw);
                if (j.destinationMode == kKeyed && !inKeyRange(keyLanes(tl, raw), j.targetKeyLow, j.targetKeyHigh))
                    transparent = true;
            }
            const uint32_t result =
                transparent ? rop3(bg, p, s, d) : j.blend ? blendPixel(j.blending, s, d) : rop3(fg, p, s, d);
            storePixel(to, tl.bytes, argbToRaw(tl, result));
        }
    }
    return uint64_t(j.area.width()) * uint64_t(j.area.height());
}

uint32_t mul255(uint32_t a, uint32_t b) {
    const uint32_t t = a * b + 128;
    return (t + (t >> 8)) >> 8;
}

uint32_t blendAlpha(uint32_t alpha, uint32_t mode, uint32_t globalMode, uint32_t global) {
    if (mode == 1) alpha = 255 - alpha;
    return globalMode == 1 ? global : globalMode == 2 ? mul255(alpha, global) : alpha;
}

uint32_t blendFactor(uint32_t mode, uint32_t otherAlpha) {
    return mode == 1 ? 255 : mode == 2 ? otherAlpha : mode == 3 ? 255 - otherAlpha : 0;
}

uint32_t channel(uint32_t c, int shift) { return (c >> shift) & 0xFF; }

}  // namespace

uint32_t blendPixel(const BlendSettings& b, uint32_t source, uint32_t target) {
    const uint32_t as = blendAlpha(source >> 24, b.sourceAlphaMode, b.sourceGlobalMode, b.sourceAlpha);
    const uint32_t ad = blendAlpha(target >> 24, b.targetAlphaMode, b.targetGlobalMode, b.targetAlpha);
    // Premultiplying takes the pixel's own alpha; the global alpha has its own multiply mode.
    const uint32_t sourcePixelAlpha = blendAlpha(source >> 24, b.sourceAlphaMode, 0, 0);
    const uint32_t targetPixelAlpha = blendAlpha(target >> 24, b.targetAlphaMode, 0, 0);
    const uint32_t fs = blendFactor(b.sourceFactor, ad), fd = blendFactor(b.targetFactor, as);
    uint32_t out = std::min(255u, mul255(as, fs) + mul255(ad, fd)) << 24;
    const uint32_t a = out >> 24;
    for (int shift = 16; shift >= 0; shift -= 8) {
        uint32_t cs = channel(source, shift), cd = channel(target, shift);
        if (b.sourcePremultiply) cs = mul255(cs, sourcePixelAlpha);
        if (b.globalColourMultiply == 1) cs = mul255(cs, b.sourceAlpha);
        if (b.globalColourMultiply == 2) cs = mul255(cs, channel(b.sourceGlobalColour, shift));
        if (b.targetPremultiply) cd = mul255(cd, targetPixelAlpha);
        uint32_t c = std::min(255u, mul255(cs, fs) + mul255(cd, fd));
        if (b.targetDemultiply) c = a == 0 ? 0 : std::min(255u, (c * 255 + a / 2) / a);
        out |= c << shift;
    }
    return out;
}

Area View::toMemory(const Area& a) const {
    uint32_t x0, y0, x1, y1;
    toMemory(uint32_t(a.left), uint32_t(a.top), x0, y0);
    toMemory(uint32_t(a.right - 1), uint32_t(a.bottom - 1), x1, y1);
    return Area{int32_t(std::min(x0, x1)), int32_t(std::min(y0, y1)), int32_t(std::max(x0, x1)) + 1,
                int32_t(std::max(y0, y1)) + 1};
}

uint32_t rop3(uint8_t rop, uint32_t p, uint32_t s, uint32_t d) {
    switch (rop) {
    case 0x00: return 0;
    case 0xFF: return ~0u;
    case 0xCC: return s;
    case 0xF0: return p;
    case 0xAA: return d;
    case 0x33: return ~s;
    case 0x55: return ~d;
    case 0x0F: return ~p;
    case 0x66: return s ^ d;
    case 0x88: return s & d;
    case 0xEE: return s | d;
    case 0x5A: return p ^ d;
    default: break;
    }
    // The sum of the minterms the ROP byte selects.
    uint32_t out = 0;
    for (uint32_t k = 0; k < 8; ++k) {
        if (!((rop >> k) & 1u)) continue;
        out |= ((k & 4) ? p : ~p) & ((k & 2) ? s : ~s) & ((k & 1) ? d : ~d);
    }
    return out;
}

uint64_t render(const RasterJob& j) {
    if (j.area.empty()) return 0;
    const bool transparency = canTransparent(j);
    uint32_t raw = 0;
    if (constantResult(j, transparency, raw)) return fill(j, raw);
    if (!transparency && sourceRows(j)) return copySourceRows(j);
    if (!transparency && blendsByRows(j)) return blendRows(j);
    if (!transparency && yuvRows(j)) return copyYuvRows(j);
    return general(j);
}

}  // namespace veld::gpusim
