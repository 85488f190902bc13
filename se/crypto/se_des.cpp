// DES and Triple DES (FIPS 46-3, SP 800-67 EDE with three keys): the round tables computed at
// compile time from the standard's S-boxes and permutations, the key schedule, the module-wide
// key and vector, and the exported SE_DES_* / SE_TDES_* ECB and CBC calls.
//
// Side channels: the round function looks up eight 64-entry tables indexed by key-dependent
// values, like every fast software DES (8 KiB of tables), so the cache lines touched depend on
// the key and the data. DES is kept for compatibility with peers that still need it.
#include "se_des.h"

#include <array>
#include <cstring>

#include "se_crypto_sym.h"

namespace veld::se::des {
namespace {

// ---- the standard's tables (bit numbers count from 1 at the most significant bit) --------

constexpr uint8_t kSboxes[8][4][16] = {
    {{14, 4, 13, 1, 2, 15, 11, 8, 3, 10, 6, 12, 5, 9, 0, 7},
     {0, 15, 7, 4, 14, 2, 13, 1, 10, 6, 12, 11, 9, 5, 3, 8},
     {4, 1, 14, 8, 13, 6, 2, 11, 15, 12, 9, 7, 3, 10, 5, 0},
     {15, 12, 8, 2, 4, 9, 1, 7, 5, 11, 3, 14, 10, 0, 6, 13}},
    {{15, 1, 8, 14, 6, 11, 3, 4, 9, 7, 2, 13, 12, 0, 5, 10},
     {3, 13, 4, 7, 15, 2, 8, 14, 12, 0, 1, 10, 6, 9, 11, 5},
     {0, 14, 7, 11, 10, 4, 13, 1, 5, 8, 12, 6, 9, 3, 2, 15},
     {13, 8, 10, 1, 3, 15, 4, 2, 11, 6, 7, 12, 0, 5, 14, 9}},
    {{10, 0, 9, 14, 6, 3, 15, 5, 1, 13, 12, 7, 11, 4, 2, 8},
     {13, 7, 0, 9, 3, 4, 6, 10, 2, 8, 5, 14, 12, 11, 15, 1},
     {13, 6, 4, 9, 8, 15, 3, 0, 11, 1, 2, 12, 5, 10, 14, 7},
     {1, 10, 13, 0, 6, 9, 8, 7, 4, 15, 14, 3, 11, 5, 2, 12}},
    {{7, 13, 14, 3, 0, 6, 9, 10, 1, 2, 8, 5, 11, 12, 4, 15},
     {13, 8, 11, 5, 6, 15, 0, 3, 4, 7, 2, 12, 1, 10, 14, 9},
     {10, 6, 9, 0, 12, 11, 7, 13, 15, 1, 3, 14, 5, 2, 8, 4},
     {3, 15, 0, 6, 10, 1, 13, 8, 9, 4, 5, 11, 12, 7, 2, 14}},
    {{2, 12, 4, 1, 7, 10, 11, 6, 8, 5, 3, 15, 13, 0, 14, 9},
     {14, 11, 2, 12, 4, 7, 13, 1, 5, 0, 15, 10, 3, 9, 8, 6},
     {4, 2, 1, 11, 10, 13, 7, 8, 15, 9, 12, 5, 6, 3, 0, 14},
     {11, 8, 12, 7, 1, 14, 2, 13, 6, 15, 0, 9, 10, 4, 5, 3}},
    {{12, 1, 10, 15, 9, 2, 6, 8, 0, 13, 3, 4, 14, 7, 5, 11},
     {10, 15, 4, 2, 7, 12, 9, 5, 6, 1, 13, 14, 0, 11, 3, 8},
     {9, 14, 15, 5, 2, 8, 12, 3, 7, 0, 4, 10, 1, 13, 11, 6},
     {4, 3, 2, 12, 9, 5, 15, 10, 11, 14, 1, 7, 6, 0, 8, 13}},
    {{4, 11, 2, 14, 15, 0, 8, 13, 3, 12, 9, 7, 5, 10, 6, 1},
     {13, 0, 11, 7, 4, 9, 1, 10, 14, 3, 5, 12, 2, 15, 8, 6},
     {1, 4, 11, 13, 12, 3, 7, 14, 10, 15, 6, 8, 0, 5, 9, 2},
     {6, 11, 13, 8, 1, 4, 10, 7, 9, 5, 0, 15, 14, 2, 3, 12}},
    {{13, 2, 8, 4, 6, 15, 11, 1, 10, 9, 3, 14, 5, 0, 12, 7},
     {1, 15, 13, 8, 10, 3, 7, 4, 12, 5, 6, 11, 0, 14, 9, 2},
     {7, 11, 4, 1, 9, 12, 14, 2, 0, 6, 10, 13, 15, 3, 5, 8},
     {2, 1, 14, 7, 4, 10, 8, 13, 15, 12, 9, 0, 3, 5, 6, 11}},
};

// Permutation P applied to the S-box outputs.
constexpr uint8_t kP[32] = {16, 7,  20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                            2,  8,  24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

// Permuted choice 1 (64 -> 56 key bits) and 2 (56 -> 48 round-key bits).
constexpr uint8_t kPc1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
                              10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
                              63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
                              14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};
constexpr uint8_t kPc2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10,
                              23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,
                              41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48,
                              44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};
constexpr uint8_t kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

constexpr bool sboxRowsArePermutations() {
    for (const auto& box : kSboxes) {
        for (const auto& row : box) {
            unsigned seen = 0;
            for (uint8_t v : row) seen |= 1u << v;
            if (seen != 0xffff) return false;
        }
    }
    return true;
}
static_assert(sboxRowsArePermutations());

constexpr uint32_t rotr(uint32_t x, unsigned n) {
    n &= 31;
    return n ? (x >> n) | (x << (32 - n)) : x;
}

// SP[i][x]: S-box i applied to the 6-bit input x, placed in its nibble and passed through P,
// so that one round is eight lookups and XORs. Each table is indexed by a whole byte whose top
// two bits are ignored, which saves masking in the round function.
using SpTables = std::array<std::array<uint32_t, 256>, 8>;

constexpr SpTables makeSpTables() {
    SpTables sp{};
    for (int box = 0; box < 8; ++box) {
        for (int x = 0; x < 256; ++x) {
            const int row = ((x >> 4) & 2) | (x & 1);
            const int col = (x >> 1) & 0xf;
            const uint32_t s = uint32_t{kSboxes[box][row][col]} << (28 - 4 * box);
            uint32_t permuted = 0;
            for (int j = 0; j < 32; ++j) {
                permuted |= ((s >> (32 - kP[j])) & 1u) << (31 - j);
            }
            sp[box][x] = rotr(permuted, 3);  // the round works on halves rotated right by 3
        }
    }
    return sp;
}

alignas(64) constexpr SpTables kSp = makeSpTables();

// The initial permutation as five exchanges of bit groups between the halves; each exchange is
// its own inverse, so the final permutation runs them in reverse order.
#define VELD_DES_SWAP(a, b, shift, mask)                    \
    do {                                                    \
        const uint32_t t = (((a) >> (shift)) ^ (b)) & (mask); \
        (b) ^= t;                                           \
        (a) ^= t << (shift);                                \
    } while (0)

constexpr void initialPermutation(uint32_t& l, uint32_t& r) {
    VELD_DES_SWAP(l, r, 4, 0x0f0f0f0fu);
    VELD_DES_SWAP(l, r, 16, 0x0000ffffu);
    VELD_DES_SWAP(r, l, 2, 0x33333333u);
    VELD_DES_SWAP(r, l, 8, 0x00ff00ffu);
    VELD_DES_SWAP(l, r, 1, 0x55555555u);
}

constexpr void finalPermutation(uint32_t& l, uint32_t& r) {
    VELD_DES_SWAP(l, r, 1, 0x55555555u);
    VELD_DES_SWAP(r, l, 8, 0x00ff00ffu);
    VELD_DES_SWAP(r, l, 2, 0x33333333u);
    VELD_DES_SWAP(l, r, 16, 0x0000ffffu);
    VELD_DES_SWAP(l, r, 4, 0x0f0f0f0fu);
}
#undef VELD_DES_SWAP

// The permutation by the table, to check the exchanges above at compile time.
constexpr uint64_t permuteByTable(uint64_t x) {
    constexpr uint8_t kIp[64] = {58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
                                 62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
                                 57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
                                 61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};
    uint64_t r = 0;
    for (int i = 0; i < 64; ++i) r |= ((x >> (64 - kIp[i])) & 1u) << (63 - i);
    return r;
}

constexpr bool initialPermutationMatchesTable() {
    for (int bit = 0; bit < 64; ++bit) {
        const uint64_t x = uint64_t{1} << bit;
        uint32_t l = static_cast<uint32_t>(x >> 32), r = static_cast<uint32_t>(x);
        initialPermutation(l, r);
        if (((uint64_t{l} << 32) | r) != permuteByTable(x)) return false;
        finalPermutation(l, r);
        if (((uint64_t{l} << 32) | r) != x) return false;
    }
    return true;
}
static_assert(initialPermutationMatchesTable());

// The expansion E feeds S-box i with bits 4i .. 4i+5 of R (bit 0 standing for bit 32), which
// starts at bit 27 - 4i of R. Rotating R right by 3 puts the inputs of boxes 0, 2, 4, 6 in
// the low six bits of its four bytes, and by 7 those of boxes 7, 1, 3, 5, so the round keys are
// stored pre-arranged in the same byte positions (see expandKey). The rounds keep both halves
// rotated right by 3 (and the tables hold their outputs rotated alike), which leaves one
// rotation per round.
inline uint32_t feistel(uint32_t rotatedR, const uint32_t* k) {
    const uint32_t x = rotatedR ^ k[0];
    const uint32_t y = rotr(rotatedR, 4) ^ k[1];
    return kSp[0][x >> 24] ^ kSp[2][(x >> 16) & 0xff] ^ kSp[4][(x >> 8) & 0xff] ^
           kSp[6][x & 0xff] ^ kSp[7][y >> 24] ^ kSp[1][(y >> 16) & 0xff] ^
           kSp[3][(y >> 8) & 0xff] ^ kSp[5][y & 0xff];
}

// Sixteen rounds and the closing exchange of the halves, on halves rotated right by 3.
template <bool kDecrypt>
inline void rounds(const Schedule& ks, uint32_t& left, uint32_t& right) {
    uint32_t l = left, r = right;  // in registers, not through the references
    for (int i = 0; i < 16; i += 2) {
        l ^= feistel(r, ks.subkeys[kDecrypt ? 15 - i : i]);
        r ^= feistel(l, ks.subkeys[kDecrypt ? 14 - i : i + 1]);
    }
    left = r;
    right = l;
}

uint64_t load64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
    return v;
}

void store64(uint8_t* p, uint64_t v) {
    for (int i = 7; i >= 0; --i, v >>= 8) p[i] = static_cast<uint8_t>(v);
}

void secureZero(void* p, size_t n) {
    volatile uint8_t* b = static_cast<volatile uint8_t*>(p);
    while (n--) *b++ = 0;
}

}  // namespace

void expandKey(Schedule& ks, const uint8_t* key) {
    const uint64_t k = load64(key);
    uint64_t cd = 0;  // 56 bits: C in the upper 28, D in the lower 28
    for (int i = 0; i < 56; ++i) cd |= ((k >> (64 - kPc1[i])) & 1u) << (55 - i);
    uint32_t c = static_cast<uint32_t>(cd >> 28), d = static_cast<uint32_t>(cd & 0xfffffff);
    for (int round = 0; round < 16; ++round) {
        const unsigned s = kShifts[round];
        c = ((c << s) | (c >> (28 - s))) & 0xfffffff;
        d = ((d << s) | (d >> (28 - s))) & 0xfffffff;
        const uint64_t joined = (uint64_t{c} << 28) | d;
        uint64_t sub = 0;
        for (int i = 0; i < 48; ++i) sub |= ((joined >> (56 - kPc2[i])) & 1u) << (47 - i);
        uint32_t g[8];
        for (int i = 0; i < 8; ++i) g[i] = static_cast<uint32_t>((sub >> (42 - 6 * i)) & 0x3f);
        ks.subkeys[round][0] = g[0] << 24 | g[2] << 16 | g[4] << 8 | g[6];
        ks.subkeys[round][1] = g[7] << 24 | g[1] << 16 | g[3] << 8 | g[5];
    }
}

uint64_t cryptBlock(const KeySet& keys, bool decrypt, uint64_t block) {
    uint32_t l = static_cast<uint32_t>(block >> 32), r = static_cast<uint32_t>(block);
    initialPermutation(l, r);
    l = rotr(l, 3);
    r = rotr(r, 3);
    if (keys.count == 1) {
        decrypt ? rounds<true>(keys.keys[0], l, r) : rounds<false>(keys.keys[0], l, r);
    } else if (!decrypt) {
        // The final and initial permutations between the three passes cancel out.
        rounds<false>(keys.keys[0], l, r);
        rounds<true>(keys.keys[1], l, r);
        rounds<false>(keys.keys[2], l, r);
    } else {
        rounds<true>(keys.keys[2], l, r);
        rounds<false>(keys.keys[1], l, r);
        rounds<true>(keys.keys[0], l, r);
    }
    l = rotr(l, 29);
    r = rotr(r, 29);
    finalPermutation(l, r);
    return (uint64_t{l} << 32) | r;
}

namespace {

// One state for the whole process; callers serialise (see se_crypto_sym.h).
struct ModuleState {
    uint8_t key[24];
    int32_t keyLength;  // 0 until a key is loaded, then 8 or 24
    uint8_t iv[kBlockSize];
    bool scheduleCurrent;  // cleared by SE_DES_SetKey, set when `keys` is built
    KeySet keys;
};

ModuleState gState{};

enum class Mode { kEcb, kCbc };

// Runs one exported call: `tripleKey` says which key length the call needs.
int32_t run(bool tripleKey, Mode mode, bool decrypt, uint8_t* out, const uint8_t* in,
            int32_t length) {
    if (length < 0 || (length > 0 && (!out || !in))) return -1;
    if (gState.keyLength != (tripleKey ? 24 : 8)) return -1;
    if (!gState.scheduleCurrent) {
        gState.keys.count = tripleKey ? 3 : 1;
        for (int i = 0; i < gState.keys.count; ++i) {
            expandKey(gState.keys.keys[i], gState.key + 8 * i);
        }
        gState.scheduleCurrent = true;
    }
    const size_t n = static_cast<size_t>(length);
    const size_t whole = n - n % kBlockSize;
    uint64_t chain = load64(gState.iv);
    for (size_t off = 0; off < whole; off += kBlockSize) {
        const uint64_t block = load64(in + off);
        if (mode == Mode::kEcb) {
            store64(out + off, cryptBlock(gState.keys, decrypt, block));
        } else if (!decrypt) {
            chain = cryptBlock(gState.keys, false, block ^ chain);
            store64(out + off, chain);
        } else {
            store64(out + off, cryptBlock(gState.keys, true, block) ^ chain);
            chain = block;
        }
    }
    if (mode == Mode::kCbc) store64(gState.iv, chain);
    if (out != in && n > whole) std::memcpy(out + whole, in + whole, n - whole);
    return static_cast<int32_t>(whole);
}

}  // namespace
}  // namespace veld::se::des

using veld::se::des::gState;
using veld::se::des::Mode;
using veld::se::des::run;

extern "C" {

int32_t SE_DES_SetKey(const uint8_t* key, int32_t keyLength, const uint8_t* iv) {
    if (!key || (keyLength != 8 && keyLength != 24)) return -1;
    veld::se::des::secureZero(&gState, sizeof gState);
    std::memcpy(gState.key, key, static_cast<size_t>(keyLength));
    gState.keyLength = keyLength;
    if (iv) std::memcpy(gState.iv, iv, sizeof gState.iv);
    return 0;
}

void SE_DES_SetIV(const uint8_t* iv) {
    if (iv) std::memcpy(gState.iv, iv, sizeof gState.iv);
}

void SE_DES_GetIV(uint8_t* iv) {
    if (iv) std::memcpy(iv, gState.iv, sizeof gState.iv);
}

int32_t SE_DES_EncryptECB(uint8_t* out, const uint8_t* in, int32_t length) {
    return run(false, Mode::kEcb, false, out, in, length);
}
int32_t SE_DES_DecryptECB(uint8_t* out, const uint8_t* in, int32_t length) {
    return run(false, Mode::kEcb, true, out, in, length);
}
int32_t SE_DES_EncryptCBC(uint8_t* out, const uint8_t* in, int32_t length) {
    return run(false, Mode::kCbc, false, out, in, length);
}
int32_t SE_DES_DecryptCBC(uint8_t* out, const uint8_t* in, int32_t length) {
    return run(false, Mode::kCbc, true, out, in, length);
}
int32_t SE_TDES_EncryptECB(uint8_t* out, const uint8_t* in, int32_t length) {
    return run(true, Mode::kEcb, false, out, in, length);
}
int32_t SE_TDES_DecryptECB(uint8_t* out, const uint8_t* in, int32_t length) {
    return run(true, Mode::kEcb, true, out, in, length);
}
int32_t SE_TDES_EncryptCBC(uint8_t* out, const uint8_t* in, int32_t length) {
    return run(true, Mode::kCbc, false, out, in, length);
}
int32_t SE_TDES_DecryptCBC(uint8_t* out, const uint8_t* in, int32_t length) {
    return run(true, Mode::kCbc, true, out, in, length);
}

}  // extern "C"
