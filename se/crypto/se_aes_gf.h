// GF(2^8) arithmetic of AES for tables built at compile time: the field operations, the
// S-box and its inverse, shared by the table engine and the vector-permute engine.
#pragma once

#include <array>
#include <cstdint>

namespace veld::se::aes::gf {

constexpr uint8_t xtime(uint8_t x) {
    return static_cast<uint8_t>((x << 1) ^ ((x & 0x80) ? 0x1b : 0x00));
}

constexpr uint8_t gfMul(uint8_t a, uint8_t b) {
    uint8_t r = 0;
    while (b) {
        if (b & 1) r ^= a;
        a = xtime(a);
        b >>= 1;
    }
    return r;
}

constexpr uint8_t gfInverse(uint8_t x) {
    // x^254 = x^-1 for x != 0, and 0 for 0.
    uint8_t result = 1;
    uint8_t base = x;
    for (int e = 254; e; e >>= 1) {
        if (e & 1) result = gfMul(result, base);
        base = gfMul(base, base);
    }
    return x ? result : 0;
}

constexpr uint8_t rotl8(uint8_t x, int n) {
    return static_cast<uint8_t>((x << n) | (x >> (8 - n)));
}

constexpr std::array<uint8_t, 256> makeSbox() {
    std::array<uint8_t, 256> s{};
    for (int i = 0; i < 256; ++i) {
        const uint8_t b = gfInverse(static_cast<uint8_t>(i));
        s[i] = static_cast<uint8_t>(b ^ rotl8(b, 1) ^ rotl8(b, 2) ^ rotl8(b, 3) ^ rotl8(b, 4) ^
                                    0x63);
    }
    return s;
}

inline constexpr std::array<uint8_t, 256> kSbox = makeSbox();

constexpr std::array<uint8_t, 256> makeInverseSbox() {
    std::array<uint8_t, 256> inv{};
    for (int i = 0; i < 256; ++i) inv[kSbox[i]] = static_cast<uint8_t>(i);
    return inv;
}

inline constexpr std::array<uint8_t, 256> kInvSbox = makeInverseSbox();

}  // namespace veld::se::aes::gf
