// AES core (FIPS-197): round tables computed at compile time, the key schedule, and the table
// engine, which is the reference the other engines are tested against.
//
// Side channels: THE TABLE ENGINE LEAKS. It is a classic four-table implementation: every
// round looks up 16 table entries indexed by state bytes, so which cache lines are touched
// depends on the key and the data. On a CPU whose cache an attacker shares (another process on
// the same core, or timing of many operations under one key) this leaks key bits. The library
// therefore never chooses it by itself; it runs only when asked for by name
// (VELD_AES_ENGINE=table), and serves the tests as the plain reference. The key schedule below
// also indexes the S-box with key bytes; it runs once per key load.
#include "se_aes.h"

#include <array>
#include <cstring>

#include "se_aes_gf.h"

namespace veld::se::aes {
namespace {

using namespace gf;

static_assert(kSbox[0x00] == 0x63 && kSbox[0x53] == 0xed && kInvSbox[0x63] == 0x00);

constexpr uint32_t rotr32(uint32_t x, int n) { return n ? (x >> n) | (x << (32 - n)) : x; }

constexpr uint32_t column(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
    return (uint32_t{b0} << 24) | (uint32_t{b1} << 16) | (uint32_t{b2} << 8) | b3;
}

using Table = std::array<uint32_t, 256>;

// Encryption round table n: SubBytes and MixColumns of one byte in row n, rotated into place.
constexpr Table makeEncTable(int rotation) {
    Table t{};
    for (int i = 0; i < 256; ++i) {
        const uint8_t s = kSbox[i];
        t[i] = rotr32(column(gfMul(s, 2), s, s, gfMul(s, 3)), rotation);
    }
    return t;
}

constexpr Table makeDecTable(int rotation) {
    Table t{};
    for (int i = 0; i < 256; ++i) {
        const uint8_t s = kInvSbox[i];
        t[i] = rotr32(column(gfMul(s, 14), gfMul(s, 9), gfMul(s, 13), gfMul(s, 11)), rotation);
    }
    return t;
}

alignas(64) constexpr Table kTe0 = makeEncTable(0);
alignas(64) constexpr Table kTe1 = makeEncTable(8);
alignas(64) constexpr Table kTe2 = makeEncTable(16);
alignas(64) constexpr Table kTe3 = makeEncTable(24);
alignas(64) constexpr Table kTd0 = makeDecTable(0);
alignas(64) constexpr Table kTd1 = makeDecTable(8);
alignas(64) constexpr Table kTd2 = makeDecTable(16);
alignas(64) constexpr Table kTd3 = makeDecTable(24);

inline uint32_t load32(const uint8_t* p) { return column(p[0], p[1], p[2], p[3]); }

inline void store32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

inline uint32_t subWord(uint32_t w) {
    return column(kSbox[w >> 24], kSbox[(w >> 16) & 0xff], kSbox[(w >> 8) & 0xff],
                  kSbox[w & 0xff]);
}

uint32_t invMixColumn(uint32_t w) {
    const uint8_t a0 = static_cast<uint8_t>(w >> 24), a1 = static_cast<uint8_t>(w >> 16);
    const uint8_t a2 = static_cast<uint8_t>(w >> 8), a3 = static_cast<uint8_t>(w);
    auto row = [](uint8_t x0, uint8_t x1, uint8_t x2, uint8_t x3) {
        return static_cast<uint8_t>(gfMul(x0, 14) ^ gfMul(x1, 11) ^ gfMul(x2, 13) ^ gfMul(x3, 9));
    };
    return column(row(a0, a1, a2, a3), row(a1, a2, a3, a0), row(a2, a3, a0, a1),
                  row(a3, a0, a1, a2));
}

// ---- the block functions ------------------------------------------------------------------

struct State {
    uint32_t s0, s1, s2, s3;
};

inline State encryptState(const Schedule& ks, State in) {
    const uint32_t* rk = ks.enc;
    uint32_t s0 = in.s0 ^ rk[0], s1 = in.s1 ^ rk[1], s2 = in.s2 ^ rk[2], s3 = in.s3 ^ rk[3];
    for (int r = 1; r < ks.rounds; ++r) {
        rk += 4;
        const uint32_t t0 = kTe0[s0 >> 24] ^ kTe1[(s1 >> 16) & 0xff] ^ kTe2[(s2 >> 8) & 0xff] ^
                            kTe3[s3 & 0xff] ^ rk[0];
        const uint32_t t1 = kTe0[s1 >> 24] ^ kTe1[(s2 >> 16) & 0xff] ^ kTe2[(s3 >> 8) & 0xff] ^
                            kTe3[s0 & 0xff] ^ rk[1];
        const uint32_t t2 = kTe0[s2 >> 24] ^ kTe1[(s3 >> 16) & 0xff] ^ kTe2[(s0 >> 8) & 0xff] ^
                            kTe3[s1 & 0xff] ^ rk[2];
        const uint32_t t3 = kTe0[s3 >> 24] ^ kTe1[(s0 >> 16) & 0xff] ^ kTe2[(s1 >> 8) & 0xff] ^
                            kTe3[s2 & 0xff] ^ rk[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    rk += 4;
    auto last = [](uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t k) {
        return column(kSbox[a >> 24], kSbox[(b >> 16) & 0xff], kSbox[(c >> 8) & 0xff],
                      kSbox[d & 0xff]) ^
               k;
    };
    return {last(s0, s1, s2, s3, rk[0]), last(s1, s2, s3, s0, rk[1]),
            last(s2, s3, s0, s1, rk[2]), last(s3, s0, s1, s2, rk[3])};
}

inline State decryptState(const Schedule& ks, State in) {
    const uint32_t* rk = ks.dec;
    uint32_t s0 = in.s0 ^ rk[0], s1 = in.s1 ^ rk[1], s2 = in.s2 ^ rk[2], s3 = in.s3 ^ rk[3];
    for (int r = 1; r < ks.rounds; ++r) {
        rk += 4;
        const uint32_t t0 = kTd0[s0 >> 24] ^ kTd1[(s3 >> 16) & 0xff] ^ kTd2[(s2 >> 8) & 0xff] ^
                            kTd3[s1 & 0xff] ^ rk[0];
        const uint32_t t1 = kTd0[s1 >> 24] ^ kTd1[(s0 >> 16) & 0xff] ^ kTd2[(s3 >> 8) & 0xff] ^
                            kTd3[s2 & 0xff] ^ rk[1];
        const uint32_t t2 = kTd0[s2 >> 24] ^ kTd1[(s1 >> 16) & 0xff] ^ kTd2[(s0 >> 8) & 0xff] ^
                            kTd3[s3 & 0xff] ^ rk[2];
        const uint32_t t3 = kTd0[s3 >> 24] ^ kTd1[(s2 >> 16) & 0xff] ^ kTd2[(s1 >> 8) & 0xff] ^
                            kTd3[s0 & 0xff] ^ rk[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    rk += 4;
    auto last = [](uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t k) {
        return column(kInvSbox[a >> 24], kInvSbox[(b >> 16) & 0xff], kInvSbox[(c >> 8) & 0xff],
                      kInvSbox[d & 0xff]) ^
               k;
    };
    return {last(s0, s3, s2, s1, rk[0]), last(s1, s0, s3, s2, rk[1]),
            last(s2, s1, s0, s3, rk[2]), last(s3, s2, s1, s0, rk[3])};
}

inline State loadState(const uint8_t* p) {
    return {load32(p), load32(p + 4), load32(p + 8), load32(p + 12)};
}

inline void storeState(uint8_t* p, State s) {
    store32(p, s.s0);
    store32(p + 4, s.s1);
    store32(p + 8, s.s2);
    store32(p + 12, s.s3);
}

// ---- table engine ------------------------------------------------------------------------

void portableEncryptEcb(const Schedule& ks, uint8_t* out, const uint8_t* in, size_t blocks) {
    for (size_t i = 0; i < blocks; ++i, in += kBlockSize, out += kBlockSize) {
        storeState(out, encryptState(ks, loadState(in)));
    }
}

void portableDecryptEcb(const Schedule& ks, uint8_t* out, const uint8_t* in, size_t blocks) {
    for (size_t i = 0; i < blocks; ++i, in += kBlockSize, out += kBlockSize) {
        storeState(out, decryptState(ks, loadState(in)));
    }
}

void portableEncryptCbc(const Schedule& ks, uint8_t* iv, uint8_t* out, const uint8_t* in,
                        size_t blocks) {
    State chain = loadState(iv);
    for (size_t i = 0; i < blocks; ++i, in += kBlockSize, out += kBlockSize) {
        const State p = loadState(in);
        chain = encryptState(ks, {p.s0 ^ chain.s0, p.s1 ^ chain.s1, p.s2 ^ chain.s2,
                                  p.s3 ^ chain.s3});
        storeState(out, chain);
    }
    storeState(iv, chain);
}

void portableDecryptCbc(const Schedule& ks, uint8_t* iv, uint8_t* out, const uint8_t* in,
                        size_t blocks) {
    State chain = loadState(iv);
    for (size_t i = 0; i < blocks; ++i, in += kBlockSize, out += kBlockSize) {
        const State c = loadState(in);  // read before `out` (maybe == in) is overwritten
        const State d = decryptState(ks, c);
        storeState(out, {d.s0 ^ chain.s0, d.s1 ^ chain.s1, d.s2 ^ chain.s2, d.s3 ^ chain.s3});
        chain = c;
    }
    storeState(iv, chain);
}

void portableCtr(const Schedule& ks, uint8_t* counter, uint8_t* out, const uint8_t* in,
                 size_t blocks) {
    State ctr = loadState(counter);
    for (size_t i = 0; i < blocks; ++i, in += kBlockSize, out += kBlockSize) {
        const State k = encryptState(ks, ctr);
        const State p = loadState(in);
        storeState(out, {p.s0 ^ k.s0, p.s1 ^ k.s1, p.s2 ^ k.s2, p.s3 ^ k.s3});
        // 128-bit increment across the four big-endian words.
        if (++ctr.s3 == 0 && ++ctr.s2 == 0 && ++ctr.s1 == 0) ++ctr.s0;
    }
    storeState(counter, ctr);
}

constexpr Engine kPortable{"table",         portableEncryptEcb, portableDecryptEcb,
                           portableEncryptCbc, portableDecryptCbc, portableCtr,
                           0,               false};

}  // namespace

void expandKey(Schedule& ks, const uint8_t* key, size_t keyBytes) {
    const int nk = static_cast<int>(keyBytes / 4);
    ks.rounds = nk + 6;
    const int total = 4 * (ks.rounds + 1);
    for (int i = 0; i < nk; ++i) ks.enc[i] = load32(key + 4 * i);
    uint8_t rcon = 1;
    for (int i = nk; i < total; ++i) {
        uint32_t t = ks.enc[i - 1];
        if (i % nk == 0) {
            t = subWord((t << 8) | (t >> 24)) ^ (uint32_t{rcon} << 24);
            rcon = xtime(rcon);
        } else if (nk > 6 && i % nk == 4) {
            t = subWord(t);
        }
        ks.enc[i] = ks.enc[i - nk] ^ t;
    }
    // Equivalent inverse cipher: round keys in reverse order, InvMixColumns on the inner ones.
    for (int r = 0; r <= ks.rounds; ++r) {
        for (int c = 0; c < 4; ++c) {
            const uint32_t w = ks.enc[4 * (ks.rounds - r) + c];
            ks.dec[4 * r + c] = (r == 0 || r == ks.rounds) ? w : invMixColumn(w);
        }
    }
}

void wipe(Schedule& ks) {
    // volatile stores so the wipe is not dropped as a dead store.
    volatile uint32_t* e = ks.enc;
    volatile uint32_t* d = ks.dec;
    for (size_t i = 0; i < std::size(ks.enc); ++i) {
        e[i] = 0;
        d[i] = 0;
    }
    ks.rounds = 0;
}

const Engine& portableEngine() { return kPortable; }

}  // namespace veld::se::aes
