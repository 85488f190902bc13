// Pixel formats of the simulated 2D core (see pixel_formats.h).
#include "pixel_formats.h"

#include "colour_space.h"

#include <array>
#include <cmath>
#include <cstring>
#include <type_traits>

#include "gal_states.h"
#include "row_engines.h"

namespace veld::gpusim {
namespace {

// widen[bits][value]: a channel of 1 to 8 bits repeated from the top down to fill 8 bits.
const std::array<std::array<uint8_t, 256>, 9> kWiden = [] {
    std::array<std::array<uint8_t, 256>, 9> t{};
    for (uint32_t bits = 1; bits <= 8; ++bits)
        for (uint32_t value = 0; value < (1u << bits); ++value) {
            uint32_t out = 0, filled = 0;
            while (filled < 8) {
                out = (out << bits) | value;
                filled += bits;
            }
            t[bits][value] = uint8_t(out >> (filled - 8));
        }
    return t;
}();

uint32_t field(uint32_t raw, ChannelField c) { return (raw >> c.shift) & ((1u << c.bits) - 1); }

uint32_t widened(uint32_t raw, ChannelField c) { return c.bits ? kWiden[c.bits][field(raw, c)] : 0; }

// The channel widths of an RGB hardware format: alpha (or padding), red, green, blue.
struct RgbWidths {
    uint8_t a, r, g, b;
    bool padding;
};

constexpr bool rgbWidths(uint32_t hwFormat, RgbWidths& w) {
    switch (hwFormat) {
    case GAL_HW_FORMAT_X4R4G4B4: w = {4, 4, 4, 4, true}; return true;
    case GAL_HW_FORMAT_A4R4G4B4: w = {4, 4, 4, 4, false}; return true;
    case GAL_HW_FORMAT_X1R5G5B5: w = {1, 5, 5, 5, true}; return true;
    case GAL_HW_FORMAT_A1R5G5B5: w = {1, 5, 5, 5, false}; return true;
    case GAL_HW_FORMAT_R5G6B5: w = {0, 5, 6, 5, false}; return true;
    case GAL_HW_FORMAT_X8R8G8B8: w = {8, 8, 8, 8, true}; return true;
    case GAL_HW_FORMAT_A8R8G8B8: w = {8, 8, 8, 8, false}; return true;
    default: return false;
    }
}

// Channel order from the top bit down, by swizzle: 0 ARGB, 1 RGBA, 2 ABGR, 3 BGRA.
constexpr char kOrders[4][5] = {"argb", "rgba", "abgr", "bgra"};

// The layouts with channels (RGB, A8, R8, RG16); kind None for the others.
constexpr PixelLayout channelLayout(uint32_t hwFormat, uint32_t swizzle) {
    PixelLayout l;
    l.hwFormat = hwFormat;
    l.swizzle = uint8_t(swizzle & 3);
    RgbWidths w{};
    if (rgbWidths(hwFormat, w)) {
        l.kind = PixelKind::Rgb;
        const uint32_t bits = uint32_t(w.a) + w.r + w.g + w.b;
        l.bytes = uint8_t(bits / 8);
        uint32_t position = bits;
        ChannelField alphaSlot;
        for (const char* c = kOrders[swizzle & 3]; *c; ++c) {
            const uint8_t width = *c == 'a' ? w.a : *c == 'r' ? w.r : *c == 'g' ? w.g : w.b;
            position -= width;
            const ChannelField f{uint8_t(position), width};
            if (*c == 'a') alphaSlot = f;
            else if (*c == 'r') l.r = f;
            else if (*c == 'g') l.g = f;
            else l.b = f;
        }
        if (w.padding) l.padding = ((1u << alphaSlot.bits) - 1) << alphaSlot.shift;
        else if (alphaSlot.bits) l.a = alphaSlot;
        return l;
    }
    switch (hwFormat) {
    case GAL_HW_FORMAT_A8: l.kind = PixelKind::Rgb; l.bytes = 1; l.a = {0, 8}; break;
    case GAL_HW_FORMAT_R8: l.kind = PixelKind::Rgb; l.bytes = 1; l.r = {0, 8}; break;
    case GAL_HW_FORMAT_RG16: l.kind = PixelKind::Rgb; l.bytes = 2; l.r = {0, 8}; l.g = {8, 8}; break;
    default: break;
    }
    return l;
}

}  // namespace

PixelLayout pixelLayout(uint32_t hwFormat, uint32_t swizzle, bool uvSwap) {
    PixelLayout l = channelLayout(hwFormat, swizzle);
    if (l.kind != PixelKind::None) return l;
    switch (hwFormat) {
    case GAL_HW_FORMAT_INDEX8: l.kind = PixelKind::Index; l.bytes = 1; break;
    case GAL_HW_FORMAT_MONOCHROME: l.kind = PixelKind::Mono; break;
    case GAL_HW_FORMAT_YUY2:
    case GAL_HW_FORMAT_UYVY: {
        l.kind = PixelKind::PackedYuv;
        l.bytes = 2;
        const bool yFirst = hwFormat == GAL_HW_FORMAT_YUY2;
        l.y0 = yFirst ? 0 : 1;
        l.y1 = yFirst ? 2 : 3;
        const uint8_t first = yFirst ? 1 : 0, second = yFirst ? 3 : 2;
        l.u = uvSwap ? second : first;
        l.v = uvSwap ? first : second;
        break;
    }
    case GAL_HW_FORMAT_YV12:
        l.kind = PixelKind::PlanarYuv;
        l.bytes = 1;
        l.halfHeightChroma = true;
        break;
    case GAL_HW_FORMAT_NV12:
    case GAL_HW_FORMAT_NV16:
        l.kind = PixelKind::SemiPlanarYuv;
        l.bytes = 1;
        l.uvSwap = uvSwap;
        l.halfHeightChroma = hwFormat == GAL_HW_FORMAT_NV12;
        break;
    default: break;
    }
    return l;
}

uint32_t rawToArgb(const PixelLayout& l, uint32_t raw) {
    const uint32_t a = l.a.bits ? widened(raw, l.a) : 0xFF;
    return a << 24 | widened(raw, l.r) << 16 | widened(raw, l.g) << 8 | widened(raw, l.b);
}

uint32_t argbToRaw(const PixelLayout& l, uint32_t argb) {
    if (l.kind == PixelKind::Index) return argb & 0xFF;
    uint32_t raw = 0;
    auto put = [&raw](ChannelField c, uint32_t value8) {
        if (c.bits) raw |= (value8 >> (8 - c.bits)) << c.shift;
    };
    put(l.a, argb >> 24);
    put(l.r, (argb >> 16) & 0xFF);
    put(l.g, (argb >> 8) & 0xFF);
    put(l.b, argb & 0xFF);
    return raw;
}

uint32_t keyLanes(const PixelLayout& l, uint32_t raw) {
    if (l.kind == PixelKind::Index) return raw;
    if (l.kind != PixelKind::Rgb) return 0;
    const uint32_t a = l.a.bits ? field(raw, l.a) : 0xFF;
    const uint32_t r = l.r.bits ? field(raw, l.r) : 0;
    const uint32_t g = l.g.bits ? field(raw, l.g) : 0;
    const uint32_t b = l.b.bits ? field(raw, l.b) : 0;
    return a << 24 | r << 16 | g << 8 | b;
}

uint32_t readArgb(const PixelPlanes& s, uint32_t x, uint32_t y, bool asIndex) {
    const PixelLayout& l = s.layout;
    switch (l.kind) {
    case PixelKind::Rgb: return rawToArgb(l, readRaw(s, x, y));
    case PixelKind::Index: {
        const uint32_t index = s.planes[0][size_t(y) * s.strides[0] + x];
        return asIndex ? index : s.palette[index];
    }
    case PixelKind::PackedYuv:
    case PixelKind::PlanarYuv:
    case PixelKind::SemiPlanarYuv: {
        uint32_t value = 0;
        decodeYuvRow(s, x, y, 1, &value);
        return value;
    }
    default: return 0;
    }
}

namespace {

// One channel of a decode: ((raw >> shift) & mask) × multiply >> down widens it to 8 bits by
// repeating its bits (abcde × 0x21 >> 2 = abcdeabc); a missing channel has mask 0.
struct Widening {
    uint32_t shift = 0, mask = 0, multiply = 0, down = 0;
};

Widening widening(ChannelField c) {
    static constexpr uint32_t kMultiply[9] = {0, 0xFF, 0x55, 0x49, 0x11, 0x21, 0x41, 0x81, 1};
    static constexpr uint32_t kDown[9] = {0, 0, 0, 1, 0, 2, 4, 6, 0};
    if (!c.bits) return {};
    return {c.shift, (1u << c.bits) - 1, kMultiply[c.bits], kDown[c.bits]};
}

template <typename Raw>
void decodeLoop(const uint8_t* raw, uint32_t n, uint32_t* out, const Widening (&w)[4], uint32_t constant) {
    // The channel parameters in locals, so that the loop keeps them in registers.
    const Widening a = w[0], r = w[1], g = w[2], b = w[3];
    for (uint32_t i = 0; i < n; ++i) {
        Raw value;
        std::memcpy(&value, raw + size_t(i) * sizeof(Raw), sizeof(Raw));
        const uint32_t x = value;
        out[i] = constant | ((((x >> a.shift) & a.mask) * a.multiply) >> a.down) << 24 |
                 ((((x >> r.shift) & r.mask) * r.multiply) >> r.down) << 16 |
                 ((((x >> g.shift) & g.mask) * g.multiply) >> g.down) << 8 |
                 ((((x >> b.shift) & b.mask) * b.multiply) >> b.down);
    }
}

// One channel of an encode: the top `bits` of working-value byte `from` to position `shift`.
struct Narrowing {
    uint32_t from = 0, mask = 0, shift = 0;
};

template <typename Raw>
void encodeLoop(const uint32_t* in, uint32_t n, uint8_t* raw, const Narrowing (&w)[4]) {
    const Narrowing a = w[0], r = w[1], g = w[2], b = w[3];
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t c = in[i];
        const uint32_t x = ((c >> a.from) & a.mask) << a.shift | ((c >> r.from) & r.mask) << r.shift |
                           ((c >> g.from) & g.mask) << g.shift | ((c >> b.from) & b.mask) << b.shift;
        const Raw value = Raw(x);
        std::memcpy(raw + size_t(i) * sizeof(Raw), &value, sizeof(Raw));
    }
}

// The same conversions with the layout fixed at compile time, for every layout with channels:
// the channel arithmetic folds into constant shifts and masks that vectorise well.
template <uint32_t Hw, uint32_t Swizzle>
struct FixedCodec {
    static constexpr PixelLayout kLayout = channelLayout(Hw, Swizzle);
    using Raw = std::conditional_t<kLayout.bytes == 1, uint8_t,
                                   std::conditional_t<kLayout.bytes == 2, uint16_t, uint32_t>>;
    static constexpr uint32_t kMultiply[9] = {0, 0xFF, 0x55, 0x49, 0x11, 0x21, 0x41, 0x81, 1};
    static constexpr uint32_t kDown[9] = {0, 0, 0, 1, 0, 2, 4, 6, 0};

    static uint32_t widen(uint32_t x, ChannelField c) {
        if (!c.bits) return 0;
        return (((x >> c.shift) & ((1u << c.bits) - 1)) * kMultiply[c.bits]) >> kDown[c.bits];
    }
    static uint32_t narrow(uint32_t value8, ChannelField c) {
        return c.bits ? (value8 >> (8 - c.bits)) << c.shift : 0;
    }
    static void decode(const uint8_t* raw, uint32_t n, uint32_t* out) {
        for (uint32_t i = 0; i < n; ++i) {
            Raw value;
            std::memcpy(&value, raw + size_t(i) * sizeof(Raw), sizeof(Raw));
            const uint32_t x = value;
            const uint32_t a = kLayout.a.bits ? widen(x, kLayout.a) : 0xFF;
            out[i] = a << 24 | widen(x, kLayout.r) << 16 | widen(x, kLayout.g) << 8 | widen(x, kLayout.b);
        }
    }
    static void encode(const uint32_t* in, uint32_t n, uint8_t* raw) {
        for (uint32_t i = 0; i < n; ++i) {
            const uint32_t c = in[i];
            const Raw value = Raw(narrow(c >> 24, kLayout.a) | narrow((c >> 16) & 0xFF, kLayout.r) |
                                  narrow((c >> 8) & 0xFF, kLayout.g) | narrow(c & 0xFF, kLayout.b));
            std::memcpy(raw + size_t(i) * sizeof(Raw), &value, sizeof(Raw));
        }
    }
};

struct Codec {
    uint32_t hwFormat, swizzle;
    void (*decode)(const uint8_t*, uint32_t, uint32_t*);
    void (*encode)(const uint32_t*, uint32_t, uint8_t*);
};

template <uint32_t Hw, uint32_t Swizzle>
constexpr Codec codec() {
    return {Hw, Swizzle, &FixedCodec<Hw, Swizzle>::decode, &FixedCodec<Hw, Swizzle>::encode};
}

#define VELD_SWIZZLED(hw) codec<hw, 0>(), codec<hw, 1>(), codec<hw, 2>(), codec<hw, 3>()
constexpr Codec kCodecs[] = {
    VELD_SWIZZLED(GAL_HW_FORMAT_X4R4G4B4), VELD_SWIZZLED(GAL_HW_FORMAT_A4R4G4B4),
    VELD_SWIZZLED(GAL_HW_FORMAT_X1R5G5B5), VELD_SWIZZLED(GAL_HW_FORMAT_A1R5G5B5),
    VELD_SWIZZLED(GAL_HW_FORMAT_R5G6B5),   VELD_SWIZZLED(GAL_HW_FORMAT_X8R8G8B8),
    VELD_SWIZZLED(GAL_HW_FORMAT_A8R8G8B8), codec<GAL_HW_FORMAT_A8, 0>(),
    codec<GAL_HW_FORMAT_R8, 0>(),          codec<GAL_HW_FORMAT_RG16, 0>(),
};
#undef VELD_SWIZZLED

const Codec* fixedCodec(const PixelLayout& l) {
    if (l.kind != PixelKind::Rgb) return nullptr;
    for (const Codec& c : kCodecs)
        if (c.hwFormat == l.hwFormat && c.swizzle == l.swizzle) return &c;
    return nullptr;
}

}  // namespace

void decodeRow(const PixelLayout& l, const uint8_t* raw, uint32_t n, uint32_t* argb, const uint32_t* palette) {
    if (l.kind == PixelKind::Index) {
        for (uint32_t i = 0; i < n; ++i) argb[i] = palette[raw[i]];
        return;
    }
    if (const Codec* c = fixedCodec(l)) {
        c->decode(raw, n, argb);
        return;
    }
    const Widening w[4] = {widening(l.a), widening(l.r), widening(l.g), widening(l.b)};
    const uint32_t constant = l.a.bits ? 0 : 0xFF000000u;
    switch (l.bytes) {
    case 1: decodeLoop<uint8_t>(raw, n, argb, w, constant); break;
    case 2: decodeLoop<uint16_t>(raw, n, argb, w, constant); break;
    default: decodeLoop<uint32_t>(raw, n, argb, w, constant); break;
    }
}

void encodeRow(const PixelLayout& l, const uint32_t* argb, uint32_t n, uint8_t* raw) {
    static const RowEngine* const engine = chosenRowEngine();
    if (engine && rowEngineHandles(l)) return engine->encode(l, argb, n, raw);
    encodeRowPortable(l, argb, n, raw);
}

void encodeRowPortable(const PixelLayout& l, const uint32_t* argb, uint32_t n, uint8_t* raw) {
    if (const Codec* c = fixedCodec(l)) {
        c->encode(argb, n, raw);
        return;
    }
    Narrowing w[4];
    if (l.kind == PixelKind::Index) {
        w[0] = {0, 0xFF, 0};
    } else {
        const ChannelField fields[4] = {l.a, l.r, l.g, l.b};
        for (int k = 0; k < 4; ++k)
            if (fields[k].bits)
                w[k] = {uint32_t(24 - 8 * k + 8 - fields[k].bits), (1u << fields[k].bits) - 1, fields[k].shift};
    }
    switch (l.bytes) {
    case 1: encodeLoop<uint8_t>(argb, n, raw, w); break;
    case 2: encodeLoop<uint16_t>(argb, n, raw, w); break;
    default: encodeLoop<uint32_t>(argb, n, raw, w); break;
    }
}

uint32_t monoStreamStride(uint32_t width, uint32_t packing) {
    const uint32_t unitBits = packing == 0 ? 8 : packing == 1 ? 16 : 32;
    return (width + unitBits - 1) / unitBits * (unitBits / 8);
}

}  // namespace veld::gpusim
