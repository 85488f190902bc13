// Tables of the vector-permute AES engine (se_aes_vperm.cpp), built at compile time and
// checked against the S-boxes there: every lookup is a 16-entry table indexed by a nibble,
// which one byte-permute instruction (PSHUFB, TBL) does for 16 bytes at once.
//
// The state is kept in a tower representation of GF(2^8): GF(16) = GF(2)[z]/(z^4 + z + 1),
// GF(256) = GF(16)[y]/(y^2 + y + L). A byte a*y + b is stored as the nibbles (L*a, b). For such
// i = L*a, k = b and j = i ^ k the inverse of a*y + b comes from two values
//     io = j + 1/(1/i + M/k),  jo = i + 1/(1/j + M/k)      (M = 1/L)
// as  a' = (L + 1)/io + L/jo,  b' = 1/io  (with 1/0 = "infinity", stored as 0x80, which the
// byte permutes turn into 0 on the next look-up). The output tables map io and jo straight to
// the next round's representation, with the affine map, MixColumns' doubling or
// InvMixColumns' factors folded in.
#pragma once

#include <array>
#include <cstdint>

#include "se_aes_gf.h"

namespace veld::se::aes::vperm {

using Table = std::array<uint8_t, 16>;
constexpr uint8_t kInfinity = 0x80;

// ---- GF(16) and the tower ------------------------------------------------------------------

constexpr uint8_t mul16(uint8_t a, uint8_t b) {
    uint8_t r = 0;
    for (int i = 0; i < 4; ++i) {
        if (b >> i & 1) r ^= static_cast<uint8_t>(a << i);
    }
    for (int i = 6; i >= 4; --i) {
        if (r >> i & 1) r ^= static_cast<uint8_t>(0x13 << (i - 4));
    }
    return r;
}

constexpr uint8_t inv16(uint8_t a) {
    for (uint8_t b = 1; b < 16; ++b) {
        if (mul16(a, b) == 1) return b;
    }
    return 0;
}

// The smallest L for which y^2 + y + L has no root in GF(16).
constexpr uint8_t findL() {
    for (uint8_t l = 2; l < 16; ++l) {
        bool root = false;
        for (uint8_t t = 0; t < 16; ++t) root = root || (mul16(t, t) ^ t) == l;
        if (!root) return l;
    }
    return 0;
}
constexpr uint8_t kL = findL();
static_assert(kL != 0);

// Tower elements as (a << 4) | b for a*y + b.
constexpr uint8_t towerMul(uint8_t x, uint8_t y) {
    const uint8_t a1 = x >> 4, b1 = x & 15, a2 = y >> 4, b2 = y & 15;
    const uint8_t aa = mul16(a1, a2);
    const uint8_t hi = aa ^ mul16(a1, b2) ^ mul16(a2, b1);
    const uint8_t lo = mul16(aa, kL) ^ mul16(b1, b2);
    return static_cast<uint8_t>(hi << 4 | lo);
}

// A root of the AES polynomial x^8 + x^4 + x^3 + x + 1 in the tower.
constexpr uint8_t findRoot() {
    for (int r = 2; r < 256; ++r) {
        uint8_t p[9] = {1};
        for (int i = 1; i <= 8; ++i) p[i] = towerMul(p[i - 1], static_cast<uint8_t>(r));
        if ((p[8] ^ p[4] ^ p[3] ^ p[1] ^ p[0]) == 0) return static_cast<uint8_t>(r);
    }
    return 0;
}

struct Maps {
    std::array<uint8_t, 256> toTower{};    // AES byte -> stored representation (L*a, b)
    std::array<uint8_t, 256> fromTower{};  // and back
};

constexpr Maps makeMaps() {
    Maps m;
    const uint8_t r = findRoot();
    uint8_t powers[8] = {1};
    for (int i = 1; i < 8; ++i) powers[i] = towerMul(powers[i - 1], r);
    for (int x = 0; x < 256; ++x) {
        uint8_t t = 0;
        for (int i = 0; i < 8; ++i) {
            if (x >> i & 1) t ^= powers[i];
        }
        const uint8_t stored = static_cast<uint8_t>(mul16(kL, t >> 4) << 4 | (t & 15));
        m.toTower[x] = stored;
        m.fromTower[stored] = static_cast<uint8_t>(x);
    }
    return m;
}
constexpr Maps kMaps = makeMaps();

// The stored representation of the tower element a*y + b.
constexpr uint8_t stored(uint8_t a, uint8_t b) {
    return static_cast<uint8_t>(mul16(kL, a) << 4 | b);
}

// ---- the tables ----------------------------------------------------------------------------

constexpr uint8_t affineLinear(uint8_t x) {
    return static_cast<uint8_t>(x ^ gf::rotl8(x, 1) ^ gf::rotl8(x, 2) ^ gf::rotl8(x, 3) ^ gf::rotl8(x, 4));
}
constexpr uint8_t inverseAffineLinear(uint8_t x) {
    return static_cast<uint8_t>(gf::rotl8(x, 1) ^ gf::rotl8(x, 3) ^ gf::rotl8(x, 6));
}

// The AES value of the part of an inverse that io (or jo) contributes.
constexpr uint8_t fromIo(uint8_t n) {
    const uint8_t v = inv16(n);
    return kMaps.fromTower[stored(mul16(kL ^ 1, v), v)];
}
constexpr uint8_t fromJo(uint8_t n) { return kMaps.fromTower[stored(mul16(kL, inv16(n)), 0)]; }

enum class Out { kTower, kTowerDoubled, kPlain, kDecTower, kDecPlain };

// Output table of io (`jo` false) or jo, multiplied by `factor` in GF(2^8), for the
// representation of the next step: the encryption state (affine map applied), the decryption
// state (inverse affine map ahead of the next inversion), or plain AES bytes.
constexpr Table outTable(bool jo, Out out, uint8_t factor = 1) {
    Table t{};
    for (uint8_t n = 1; n < 16; ++n) {
        const uint8_t inverse = jo ? fromJo(n) : fromIo(n);
        switch (out) {
        case Out::kTower: t[n] = kMaps.toTower[gf::gfMul(affineLinear(inverse), factor)]; break;
        case Out::kTowerDoubled: t[n] = kMaps.toTower[gf::gfMul(affineLinear(inverse), 2)]; break;
        case Out::kPlain: t[n] = affineLinear(inverse); break;
        case Out::kDecTower: t[n] = kMaps.toTower[inverseAffineLinear(gf::gfMul(inverse, factor))]; break;
        case Out::kDecPlain: t[n] = inverse; break;
        }
    }
    return t;
}

constexpr Table inverseTable(uint8_t scale) {
    Table t{};
    t[0] = kInfinity;
    for (uint8_t n = 1; n < 16; ++n) t[n] = inv16(mul16(scale, n));
    return t;
}

// A linear byte map as the pair of tables of its low and high nibble.
struct NibbleMap {
    Table lo, hi;
};

template <class F>
constexpr NibbleMap nibbleMap(F f) {
    NibbleMap m{};
    for (uint8_t n = 0; n < 16; ++n) {
        m.lo[n] = f(n);
        m.hi[n] = f(static_cast<uint8_t>(n << 4));
    }
    return m;
}

struct Tables {
    Table inv = inverseTable(1);         // 1/n
    Table invScaled = inverseTable(kL);  // M/n = 1/(L n)
    NibbleMap toTower = nibbleMap([](uint8_t x) { return kMaps.toTower[x]; });
    NibbleMap toDecTower = nibbleMap([](uint8_t x) { return kMaps.toTower[inverseAffineLinear(x)]; });
    Table encIo = outTable(false, Out::kTower), encJo = outTable(true, Out::kTower);
    Table enc2Io = outTable(false, Out::kTowerDoubled), enc2Jo = outTable(true, Out::kTowerDoubled);
    Table lastIo = outTable(false, Out::kPlain), lastJo = outTable(true, Out::kPlain);
    Table dec14Io = outTable(false, Out::kDecTower, 14), dec14Jo = outTable(true, Out::kDecTower, 14);
    Table dec11Io = outTable(false, Out::kDecTower, 11), dec11Jo = outTable(true, Out::kDecTower, 11);
    Table dec13Io = outTable(false, Out::kDecTower, 13), dec13Jo = outTable(true, Out::kDecTower, 13);
    Table dec9Io = outTable(false, Out::kDecTower, 9), dec9Jo = outTable(true, Out::kDecTower, 9);
    Table decLastIo = outTable(false, Out::kDecPlain), decLastJo = outTable(true, Out::kDecPlain);
};
inline constexpr Tables kTables{};

// ---- a byte-at-a-time model of the vector code, to check the tables at compile time -------

constexpr uint8_t lookup(const Table& t, uint8_t index) { return index & 0x80 ? 0 : t[index & 15]; }

constexpr void inverseParts(uint8_t s, uint8_t& io, uint8_t& jo) {
    const uint8_t i = s >> 4, k = s & 15, j = i ^ k;
    const uint8_t mk = lookup(kTables.invScaled, k);
    io = j ^ lookup(kTables.inv, lookup(kTables.inv, i) ^ mk);
    jo = i ^ lookup(kTables.inv, lookup(kTables.inv, j) ^ mk);
}

constexpr uint8_t mapNibbles(const NibbleMap& m, uint8_t x) { return m.lo[x & 15] ^ m.hi[x >> 4]; }

constexpr bool modelMatchesSboxes() {
    const uint8_t c63 = mapNibbles(kTables.toTower, 0x63);
    for (int x = 0; x < 256; ++x) {
        uint8_t io = 0, jo = 0;
        // Encryption: SubBytes in the tower and in plain bytes.
        inverseParts(mapNibbles(kTables.toTower, static_cast<uint8_t>(x)), io, jo);
        if ((lookup(kTables.encIo, io) ^ lookup(kTables.encJo, jo) ^ c63) != kMaps.toTower[gf::kSbox[x]]) return false;
        if ((lookup(kTables.lastIo, io) ^ lookup(kTables.lastJo, jo) ^ 0x63) != gf::kSbox[x]) return false;
        if ((lookup(kTables.enc2Io, io) ^ lookup(kTables.enc2Jo, jo)) !=
            kMaps.toTower[gf::gfMul(gf::kSbox[x] ^ 0x63, 2)]) {
            return false;
        }
        // Decryption: the state holds the tower value of InvAffine(x) = A^-1(x) ^ 0x05.
        const uint8_t d = mapNibbles(kTables.toDecTower, static_cast<uint8_t>(x)) ^ kMaps.toTower[0x05];
        inverseParts(d, io, jo);
        if ((lookup(kTables.decLastIo, io) ^ lookup(kTables.decLastJo, jo)) != gf::kInvSbox[x]) return false;
    }
    return true;
}
static_assert(modelMatchesSboxes());

}  // namespace veld::se::aes::vperm
