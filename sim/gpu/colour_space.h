// Colour-space conversion of the simulated 2D core: YUV to RGB for YUV sources and RGB to YUV
// for YUV targets, by colour mode (0 BT.601 and 1 BT.709 in the video range, 2 and 3 the user
// tables of 0x1340 / 0x1360, 3 clamping its results to the video range), and the row decoder
// that turns a run of YUV pixels into working values. gal_states.h gives the state layouts.
#pragma once

#include <cstdint>

namespace veld::gpusim {

struct PixelPlanes;

// One direction of a conversion: out_k = (sum_j matrix[k][j] x in_j + offset_k + round) >> shift,
// then clamped to [low_k, high_k]. Inputs are (Y, U, V) or (R, G, B), outputs the other.
struct ColourSpace {
    int32_t matrix[9] = {};
    int32_t offset[3] = {};
    int32_t shift = 16;
    int32_t low[3] = {0, 0, 0};
    int32_t high[3] = {255, 255, 255};

    // YUV to RGB for a source of `mode`; `table` the 8 words of 0x1340 (modes 2 and 3).
    static ColourSpace toRgb(uint32_t mode, const uint32_t* table);
    // RGB to YUV for a target of `mode`; `table` the 8 words of 0x1360 (modes 2 and 3).
    static ColourSpace toYuv(uint32_t mode, const uint32_t* table);

    void apply(uint32_t in0, uint32_t in1, uint32_t in2, uint32_t out[3]) const {
        // Inputs are bytes: with 16-bit coefficients and 25-bit offsets every sum fits 32 bits.
        const int32_t round = int32_t(1) << (shift - 1);
        const int32_t a = int32_t(in0), b = int32_t(in1), c = int32_t(in2);
        for (int k = 0; k < 3; ++k) {
            const int32_t v = (matrix[3 * k] * a + matrix[3 * k + 1] * b + matrix[3 * k + 2] * c +
                               offset[k] + round) >> shift;
            out[k] = uint32_t(v < low[k] ? low[k] : v > high[k] ? high[k] : v);
        }
    }
    uint32_t argb(uint32_t y, uint32_t u, uint32_t v) const {
        if (terms) return terms->argb(y, u, v);
        uint32_t c[3];
        apply(y, u, v, c);
        return 0xFF000000u | c[0] << 16 | c[1] << 8 | c[2];
    }

    // The two standards convert YUV to RGB in double precision, each product looked up:
    // R = 1.164 (Y - 16) + cRV (V - 128), G = 1.164 (Y - 16) - cGU (U - 128) - cGV (V - 128),
    // B = 1.164 (Y - 16) + cBU (U - 128), rounded half up and clamped.
    struct Terms {
        double y[256], rv[256], gu[256], gv[256], bu[256];
        uint32_t argb(uint32_t yy, uint32_t u, uint32_t v) const;
    };
    const Terms* terms = nullptr;
};

// The default conversion of YUV sources (BT.601, video range).
const ColourSpace& defaultColourSpace();

// Working values of n pixels of a YUV surface's memory row y from column x on (packed,
// planar or semi-planar), through the surface's colour space.
void decodeYuvRow(const PixelPlanes& s, uint32_t x, uint32_t y, uint32_t n, uint32_t* argb);

}  // namespace veld::gpusim
