// Bit-sliced AES engine: portable C++ in constant time, the default on CPUs that offer
// neither AES instructions nor byte permutes (and what VELD_CRYPTO_PORTABLE=1 selects).
//
// The state of several blocks is held as eight bit planes: plane p has bit p of every byte,
// one machine word per plane, so a 64-bit word carries four blocks and a 32-bit word two.
// Within a block's 16 bits the bytes sit row by row (bit 4*row + column), which makes
// ShiftRows a rotation inside each 4-bit row and MixColumns' row rotations shifts by whole rows.
// SubBytes is the inversion x^254 in GF(2^8) computed with AND and XOR on the planes, then the
// affine map: no operation depends on the key or the data, no memory is indexed by them.
// Serial modes (CBC encryption) use one lane of the word and are correspondingly slower.
#include <cstring>

#include "se_aes.h"
#include "se_aes_gf.h"

namespace veld::se::aes {
namespace {

using Word = uintptr_t;
constexpr int kLanes = static_cast<int>(sizeof(Word) * 8 / 16);  // blocks per word

struct Planes {
    Word p[8];
};

// A word with `pattern` (16 bits) repeated in every lane.
constexpr Word repeat(uint16_t pattern) {
    Word w = 0;
    for (int i = 0; i < kLanes; ++i) w |= static_cast<Word>(pattern) << (16 * i);
    return w;
}

// ---- GF(2^8) on planes (polynomial x^8 + x^4 + x^3 + x + 1) -----------------------------

inline Planes multiply(const Planes& a, const Planes& b) {
    Word c[15] = {};
#pragma GCC unroll 8
    for (int i = 0; i < 8; ++i) {
#pragma GCC unroll 8
        for (int j = 0; j < 8; ++j) c[i + j] ^= a.p[i] & b.p[j];
    }
#pragma GCC unroll 8
    for (int k = 14; k >= 8; --k) {
        c[k - 4] ^= c[k];
        c[k - 5] ^= c[k];
        c[k - 7] ^= c[k];
        c[k - 8] ^= c[k];
    }
    Planes r;
    for (int i = 0; i < 8; ++i) r.p[i] = c[i];
    return r;
}

// Squaring is linear: a_i moves to x^(2i) mod the polynomial, which is kSquareOf[i].
constexpr uint8_t kSquareOf[8] = {0x01, 0x04, 0x10, 0x40, 0x1b, 0x6c, 0xab, 0x9a};
static_assert([] {
    for (int i = 0; i < 8; ++i) {
        const auto bit = static_cast<uint8_t>(1 << i);
        if (gf::gfMul(bit, bit) != kSquareOf[i]) return false;
    }
    return true;
}());

// Output plane j collects the a_i whose square has bit j (the columns of kSquareOf).
inline Planes square(const Planes& a) {
    const Word* x = a.p;
    return {{x[0] ^ x[4] ^ x[6], x[4] ^ x[6] ^ x[7], x[1] ^ x[5], x[4] ^ x[5] ^ x[6] ^ x[7],
             x[2] ^ x[4] ^ x[7], x[5] ^ x[6], x[3] ^ x[5], x[6] ^ x[7]}};
}

// x^254 = x^-1 (and 0 for 0).
Planes invert(const Planes& x) {
    const Planes x2 = square(x);
    const Planes x3 = multiply(x2, x);
    const Planes x12 = square(square(x3));
    const Planes x15 = multiply(x12, x3);
    const Planes x240 = square(square(square(square(x15))));
    return multiply(multiply(x240, x12), x2);
}

// Output bit i is the XOR of input bits i + tap (mod 8) for each tap, then `constant`.
Planes circulant(const Planes& a, std::initializer_list<int> taps, uint8_t constant) {
    Planes r;
    for (int i = 0; i < 8; ++i) {
        Word v = constant >> i & 1 ? ~Word{0} : Word{0};
        for (int t : taps) v ^= a.p[(i + t) & 7];
        r.p[i] = v;
    }
    return r;
}

void subBytes(Planes& s) { s = circulant(invert(s), {0, 4, 5, 6, 7}, 0x63); }
void invSubBytes(Planes& s) { s = invert(circulant(s, {2, 5, 7}, 0x05)); }

// ---- the linear layers ---------------------------------------------------------------------

// Row r (bits 4r..4r+3 of a lane) rotated so that column c takes column c + r (mod 4) when
// `inverse` is false, column c - r when true.
Word shiftRowsPlane(Word x, bool inverse) {
    Word out = x & repeat(0x000f);
    for (int r = 1; r < 4; ++r) {
        const Word m = repeat(static_cast<uint16_t>(0xf << (4 * r)));
        const int k = inverse ? 4 - r : r;
        const Word row = x & m;
        out |= ((row >> k) & m) | ((row << (4 - k)) & m);
    }
    return out;
}

void shiftRows(Planes& s, bool inverse) {
    for (Word& p : s.p) p = shiftRowsPlane(p, inverse);
}

// Row r takes row r + n (mod 4) within each lane.
Word rotateRows(Word x, int n) {
    const int bits = 4 * n;
    const Word low = repeat(static_cast<uint16_t>(0xffffu >> bits));
    return ((x >> bits) & low) | ((x << (16 - bits)) & ~low);
}

Planes xtime(const Planes& t) {
    return {{t.p[7], t.p[0] ^ t.p[7], t.p[1], t.p[2] ^ t.p[7], t.p[3] ^ t.p[7], t.p[4], t.p[5],
             t.p[6]}};
}

// b_r = 2(a_r ^ a_r+1) ^ a_r+1 ^ (a_r+2 ^ a_r+3).
void mixColumns(Planes& s) {
    Planes t, r1;
    for (int i = 0; i < 8; ++i) {
        r1.p[i] = rotateRows(s.p[i], 1);
        t.p[i] = s.p[i] ^ r1.p[i];
    }
    const Planes d = xtime(t);
    for (int i = 0; i < 8; ++i) s.p[i] = d.p[i] ^ r1.p[i] ^ rotateRows(t.p[i], 2);
}

// InvMixColumns is MixColumns after a_r ^= 4(a_r ^ a_r+2).
void invMixColumns(Planes& s) {
    Planes u;
    for (int i = 0; i < 8; ++i) u.p[i] = s.p[i] ^ rotateRows(s.p[i], 2);
    const Planes q = xtime(xtime(u));
    for (int i = 0; i < 8; ++i) s.p[i] ^= q.p[i];
    mixColumns(s);
}

// ---- packing -------------------------------------------------------------------------------

// Byte i of a block (column i / 4, row i % 4) lives at bit 4 * row + column of its lane.
constexpr int bitOf(int i) { return 4 * (i % 4) + i / 4; }

// Packs `count` (at most kLanes) blocks into planes; missing lanes are zero.
Planes pack(const uint8_t* blocks, int count) {
    Planes s{};
    for (int b = 0; b < count; ++b) {
        for (int i = 0; i < 16; ++i) {
            const Word byte = blocks[16 * b + i];
            const int at = 16 * b + bitOf(i);
            for (int p = 0; p < 8; ++p) s.p[p] |= (byte >> p & 1) << at;
        }
    }
    return s;
}

void unpack(uint8_t* blocks, int count, const Planes& s) {
    for (int b = 0; b < count; ++b) {
        for (int i = 0; i < 16; ++i) {
            const int at = 16 * b + bitOf(i);
            uint8_t byte = 0;
            for (int p = 0; p < 8; ++p) byte |= static_cast<uint8_t>((s.p[p] >> at & 1) << p);
            blocks[16 * b + i] = byte;
        }
    }
}

// Round keys packed into every lane, wiped when the bulk call ends.
struct Keys {
    Planes rk[kMaxRounds + 1];
    int rounds;
    Keys(const uint32_t* words, int r) : rounds(r) {
        for (int k = 0; k <= r; ++k) {
            uint8_t bytes[16 * kLanes];
            for (int i = 0; i < 16; ++i) bytes[i] = static_cast<uint8_t>(words[4 * k + i / 4] >> (24 - 8 * (i % 4)));
            for (int b = 1; b < kLanes; ++b) std::memcpy(bytes + 16 * b, bytes, 16);
            rk[k] = pack(bytes, kLanes);
            volatile uint8_t* v = bytes;
            for (size_t i = 0; i < sizeof bytes; ++i) v[i] = 0;
        }
    }
    ~Keys() {
        volatile Word* v = &rk[0].p[0];
        for (size_t i = 0; i < 8 * (kMaxRounds + 1); ++i) v[i] = 0;
    }
    Keys(const Keys&) = delete;
    Keys& operator=(const Keys&) = delete;
};

void addKey(Planes& s, const Planes& k) {
    for (int i = 0; i < 8; ++i) s.p[i] ^= k.p[i];
}

void encryptPlanes(Planes& s, const Keys& k) {
    addKey(s, k.rk[0]);
    for (int r = 1; r <= k.rounds; ++r) {
        subBytes(s);
        shiftRows(s, false);
        if (r < k.rounds) mixColumns(s);
        addKey(s, k.rk[r]);
    }
}

// Equivalent inverse cipher with the schedule's decryption keys.
void decryptPlanes(Planes& s, const Keys& k) {
    addKey(s, k.rk[0]);
    for (int r = 1; r <= k.rounds; ++r) {
        invSubBytes(s);
        shiftRows(s, true);
        if (r < k.rounds) invMixColumns(s);
        addKey(s, k.rk[r]);
    }
}

// ---- the engine ----------------------------------------------------------------------------

template <bool kDecrypt>
void ecb(const Schedule& ks, uint8_t* out, const uint8_t* in, size_t blocks) {
    const Keys k(kDecrypt ? ks.dec : ks.enc, ks.rounds);
    for (size_t i = 0; i < blocks; i += kLanes) {
        const int n = static_cast<int>(blocks - i < size_t{kLanes} ? blocks - i : size_t{kLanes});
        Planes s = pack(in + 16 * i, n);
        kDecrypt ? decryptPlanes(s, k) : encryptPlanes(s, k);
        unpack(out + 16 * i, n, s);
    }
}

void bsEncryptEcb(const Schedule& ks, uint8_t* out, const uint8_t* in, size_t blocks) {
    ecb<false>(ks, out, in, blocks);
}

void bsDecryptEcb(const Schedule& ks, uint8_t* out, const uint8_t* in, size_t blocks) {
    ecb<true>(ks, out, in, blocks);
}

void xorBlocks(uint8_t* out, const uint8_t* a, const uint8_t* b, size_t n) {
    for (size_t i = 0; i < n; ++i) out[i] = a[i] ^ b[i];
}

void bsEncryptCbc(const Schedule& ks, uint8_t* iv, uint8_t* out, const uint8_t* in,
                  size_t blocks) {
    const Keys k(ks.enc, ks.rounds);
    uint8_t chain[16];
    std::memcpy(chain, iv, 16);
    for (size_t i = 0; i < blocks; ++i) {
        xorBlocks(chain, chain, in + 16 * i, 16);
        Planes s = pack(chain, 1);
        encryptPlanes(s, k);
        unpack(chain, 1, s);
        std::memcpy(out + 16 * i, chain, 16);
    }
    std::memcpy(iv, chain, 16);
}

void bsDecryptCbc(const Schedule& ks, uint8_t* iv, uint8_t* out, const uint8_t* in,
                  size_t blocks) {
    const Keys k(ks.dec, ks.rounds);
    uint8_t chain[16];
    std::memcpy(chain, iv, 16);
    for (size_t i = 0; i < blocks; i += kLanes) {
        const int n = static_cast<int>(blocks - i < size_t{kLanes} ? blocks - i : size_t{kLanes});
        uint8_t cipher[16 * kLanes], plain[16 * kLanes];
        std::memcpy(cipher, in + 16 * i, 16 * static_cast<size_t>(n));  // before `out` changes
        Planes s = pack(cipher, n);
        decryptPlanes(s, k);
        unpack(plain, n, s);
        xorBlocks(out + 16 * i, plain, chain, 16);
        xorBlocks(out + 16 * i + 16, plain + 16, cipher, 16 * static_cast<size_t>(n - 1));
        std::memcpy(chain, cipher + 16 * (n - 1), 16);
    }
    std::memcpy(iv, chain, 16);
}

void bsCtr(const Schedule& ks, uint8_t* counter, uint8_t* out, const uint8_t* in,
           size_t blocks) {
    const Keys k(ks.enc, ks.rounds);
    for (size_t i = 0; i < blocks; i += kLanes) {
        const int n = static_cast<int>(blocks - i < size_t{kLanes} ? blocks - i : size_t{kLanes});
        uint8_t stream[16 * kLanes];
        for (int b = 0; b < n; ++b) {
            std::memcpy(stream + 16 * b, counter, 16);
            incrementCounter(counter);
        }
        Planes s = pack(stream, n);
        encryptPlanes(s, k);
        unpack(stream, n, s);
        xorBlocks(out + 16 * i, in + 16 * i, stream, 16 * static_cast<size_t>(n));
    }
}

constexpr Engine kBitsliced{"bitsliced", bsEncryptEcb, bsDecryptEcb, bsEncryptCbc,
                            bsDecryptCbc, bsCtr};

}  // namespace

const Engine& bitslicedEngine() { return kBitsliced; }

}  // namespace veld::se::aes
