// Colour-space conversion of the simulated 2D core (see colour_space.h).
#include "colour_space.h"

#include <cmath>

#include "pixel_formats.h"

namespace veld::gpusim {
namespace {

// The built-in conversions in 16 fraction bits, from the coefficients of the two standards
// in the video range.
struct Standard {
    double toRgb[9];  // applied to (Y - 16, U - 128, V - 128)
    double toYuv[9];  // applied to (R, G, B), then + (16, 128, 128)
};
constexpr Standard kStandards[2] = {
    {{1.164, 0.0, 1.596, 1.164, -0.392, -0.813, 1.164, 2.017, 0.0},
     {0.257, 0.504, 0.098, -0.148, -0.291, 0.439, 0.439, -0.368, -0.071}},
    {{1.164, 0.0, 1.793, 1.164, -0.213, -0.533, 1.164, 2.112, 0.0},
     {0.183, 0.614, 0.062, -0.101, -0.339, 0.439, 0.439, -0.399, -0.040}},
};

int32_t fixed16(double v) { return int32_t(std::lround(v * 65536.0)); }

// floor(v + 0.5) clamped to a byte; the floor by truncation and a correction, which is exact
// and needs no rounding instruction.
inline uint32_t rounded(double v) {
    const double t = v + 0.5;
    if (!(t > 0.0)) return 0;
    if (t >= 255.0) return 255;
    return uint32_t(t);
}

const ColourSpace::Terms& standardTerms(uint32_t mode) {
    static const auto make = [](const Standard& s) {
        ColourSpace::Terms t{};
        for (int k = 0; k < 256; ++k) {
            const double c = double(k) - 16, d = double(k) - 128;
            t.y[k] = s.toRgb[0] * c;
            t.rv[k] = s.toRgb[2] * d;
            t.gu[k] = -s.toRgb[4] * d;
            t.gv[k] = -s.toRgb[5] * d;
            t.bu[k] = s.toRgb[7] * d;
        }
        return t;
    };
    static const ColourSpace::Terms terms[2] = {make(kStandards[0]), make(kStandards[1])};
    return terms[mode];
}

// A user table: nine signed 16-bit coefficients, two per word, then three signed 25-bit offsets.
void userTable(const uint32_t* words, ColourSpace& c) {
    for (int k = 0; k < 9; ++k) c.matrix[k] = int16_t(words[k / 2] >> (16 * (k % 2)));
    for (int k = 0; k < 3; ++k) c.offset[k] = int32_t(words[5 + k] << 7) >> 7;
    c.shift = 10;
}

void videoRange(ColourSpace& c, int32_t second, int32_t third) {
    c.low[0] = c.low[1] = c.low[2] = 16;
    c.high[0] = 235;
    c.high[1] = second;
    c.high[2] = third;
}

}  // namespace

ColourSpace ColourSpace::toRgb(uint32_t mode, const uint32_t* table) {
    ColourSpace c;
    if (mode >= 2) {
        userTable(table, c);
        if (mode == 3) videoRange(c, 235, 235);
        return c;
    }
    c.terms = &standardTerms(mode);
    const double* m = kStandards[mode].toRgb;
    for (int k = 0; k < 3; ++k) {
        for (int j = 0; j < 3; ++j) c.matrix[3 * k + j] = fixed16(m[3 * k + j]);
        // The input offsets folded into one constant per output.
        c.offset[k] = -(16 * c.matrix[3 * k] + 128 * c.matrix[3 * k + 1] + 128 * c.matrix[3 * k + 2]);
    }
    return c;
}

ColourSpace ColourSpace::toYuv(uint32_t mode, const uint32_t* table) {
    ColourSpace c;
    if (mode >= 2) {
        userTable(table, c);
        if (mode == 3) videoRange(c, 240, 240);
        return c;
    }
    const double* m = kStandards[mode].toYuv;
    for (int k = 0; k < 9; ++k) c.matrix[k] = fixed16(m[k]);
    c.offset[0] = 16 << 16;
    c.offset[1] = c.offset[2] = 128 << 16;
    return c;
}

uint32_t ColourSpace::Terms::argb(uint32_t yy, uint32_t u, uint32_t v) const {
    return 0xFF000000u | rounded(y[yy] + rv[v]) << 16 | rounded(y[yy] - gu[u] - gv[v]) << 8 |
           rounded(y[yy] + bu[u]);
}

const ColourSpace& defaultColourSpace() {
    static const ColourSpace bt601 = ColourSpace::toRgb(0, nullptr);
    return bt601;
}

void decodeYuvRow(const PixelPlanes& s, uint32_t x, uint32_t y, uint32_t n, uint32_t* argb) {
    const PixelLayout& l = s.layout;
    const ColourSpace& cs = s.colourSpace ? *s.colourSpace : defaultColourSpace();
    const uint8_t* luma = s.planes[0] + size_t(y) * s.strides[0];
    switch (l.kind) {
    case PixelKind::PackedYuv:
        if (cs.terms && n >= 2) {
            // Whole pairs share their chroma terms.
            const ColourSpace::Terms& t = *cs.terms;
            uint32_t i = 0;
            if (x & 1) {
                argb[0] = cs.argb(luma[size_t(x - 1) * 2 + l.y1], luma[size_t(x - 1) * 2 + l.u], luma[size_t(x - 1) * 2 + l.v]);
                i = 1;
            }
            for (; i + 1 < n; i += 2) {
                const uint8_t* pair = luma + size_t(x + i) * 2;
                const double rv = t.rv[pair[l.v]], gu = t.gu[pair[l.u]], gv = t.gv[pair[l.v]], bu = t.bu[pair[l.u]];
                for (uint32_t k = 0; k < 2; ++k) {
                    const double y = t.y[pair[k ? l.y1 : l.y0]];
                    argb[i + k] = 0xFF000000u | rounded(y + rv) << 16 | rounded(y - gu - gv) << 8 | rounded(y + bu);
                }
            }
            if (i < n) {
                const uint8_t* pair = luma + size_t(x + i) * 2;
                argb[i] = cs.argb(pair[l.y0], pair[l.u], pair[l.v]);
            }
            return;
        }
        for (uint32_t i = 0; i < n; ++i) {
            const uint32_t px = x + i;
            const uint8_t* pair = luma + size_t(px & ~1u) * 2;
            argb[i] = cs.argb(pair[(px & 1) ? l.y1 : l.y0], pair[l.u], pair[l.v]);
        }
        return;
    case PixelKind::PlanarYuv: {
        const uint8_t* u = s.planes[1] + size_t(y / 2) * s.strides[1];
        const uint8_t* v = s.planes[2] + size_t(y / 2) * s.strides[2];
        for (uint32_t i = 0; i < n; ++i) argb[i] = cs.argb(luma[x + i], u[(x + i) / 2], v[(x + i) / 2]);
        return;
    }
    case PixelKind::SemiPlanarYuv: {
        const uint8_t* c = s.planes[1] + size_t(l.halfHeightChroma ? y / 2 : y) * s.strides[1];
        const int first = l.uvSwap ? 1 : 0;
        for (uint32_t i = 0; i < n; ++i) {
            const uint8_t* pair = c + size_t((x + i) / 2) * 2;
            argb[i] = cs.argb(luma[x + i], pair[first], pair[1 - first]);
        }
        return;
    }
    default:
        for (uint32_t i = 0; i < n; ++i) argb[i] = 0;
        return;
    }
}

}  // namespace veld::gpusim
