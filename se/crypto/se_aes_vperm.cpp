// Vector-permute AES engine: constant time on CPUs with byte permutes but no AES
// instructions (SSSE3 PSHUFB on x86-64, NEON TBL on ARM). Every S-box is computed, not looked
// up: the inversion in GF(2^8) runs in a tower field where it takes five 16-entry look-ups
// by nibble, and each 16-entry table sits in one register, so the permute instruction reads all
// of it whatever the index (the tables and the reasoning are in se_aes_vperm_tables.h).
// MixColumns/InvMixColumns are folded into the output tables plus row rotations. Independent
// blocks (ECB, CBC decryption, CTR) run four at a time.
#include "se_aes.h"
#include "se_cpu.h"

#if defined(__x86_64__)
#pragma GCC target("ssse3")
#include <tmmintrin.h>
#define VELD_VPERM 1
#elif defined(__aarch64__) || (defined(__arm__) && !defined(__SOFTFP__))
#if defined(__arm__)
#pragma GCC target("fpu=neon")
#endif
#include <arm_neon.h>
#define VELD_VPERM 1
#endif

#if defined(VELD_VPERM)

#include <cstring>

#include "se_aes_vperm_tables.h"

namespace veld::se::aes {
namespace {

using vperm::kTables;
using vperm::Table;

// ---- the byte permute of each instruction set -----------------------------------------------

#if defined(__x86_64__)
using V = __m128i;
inline V load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const V*>(p)); }
inline void store(uint8_t* p, V v) { _mm_storeu_si128(reinterpret_cast<V*>(p), v); }
inline V vxor(V a, V b) { return _mm_xor_si128(a, b); }
// t[index] per byte; an index with its top bit set gives 0.
inline V lookup(V t, V index) { return _mm_shuffle_epi8(t, index); }
inline V lowNibbles(V x) { return _mm_and_si128(x, _mm_set1_epi8(0x0f)); }
inline V highNibbles(V x) { return _mm_and_si128(_mm_srli_epi16(x, 4), _mm_set1_epi8(0x0f)); }
constexpr uint32_t kNeeds = cpu::kSsse3;
#else
using V = uint8x16_t;
inline V load(const uint8_t* p) { return vld1q_u8(p); }
inline void store(uint8_t* p, V v) { vst1q_u8(p, v); }
inline V vxor(V a, V b) { return veorq_u8(a, b); }
// t[index] per byte; an index of 16 or more gives 0.
#if defined(__aarch64__)
inline V lookup(V t, V index) { return vqtbl1q_u8(t, index); }
#else
inline V lookup(V t, V index) {
    const uint8x8x2_t table = {{vget_low_u8(t), vget_high_u8(t)}};
    return vcombine_u8(vtbl2_u8(table, vget_low_u8(index)), vtbl2_u8(table, vget_high_u8(index)));
}
#endif
inline V lowNibbles(V x) { return vandq_u8(x, vdupq_n_u8(0x0f)); }
inline V highNibbles(V x) { return vshrq_n_u8(x, 4); }
constexpr uint32_t kNeeds = cpu::kNeon;
#endif

inline V table(const Table& t) { return load(t.data()); }

// ---- constants ------------------------------------------------------------------------------

// Byte permutations of the state (byte 4 * column + row): ShiftRows, InvShiftRows, and each
// column's rows rotated up by one and by two.
struct Permutation {
    uint8_t index[16];
};
constexpr Permutation permutation(int shift, int rotate) {
    Permutation p{};
    for (int col = 0; col < 4; ++col) {
        for (int row = 0; row < 4; ++row) {
            const int from = (col + shift * row + 16) % 4;
            p.index[4 * col + row] = static_cast<uint8_t>(4 * from + (row + rotate) % 4);
        }
    }
    return p;
}
constexpr Permutation kShiftRows = permutation(1, 0), kInvShiftRows = permutation(-1, 0);
constexpr Permutation kRot1 = permutation(0, 1), kRot2 = permutation(0, 2);
constexpr Permutation kWordSwap = {{3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12}};

struct Consts {
    V inv, invScaled, shiftRows, invShiftRows, rot1, rot2;
    V outIo[4], outJo[4];  // encryption: S, 2S; decryption: 14, 11, 13, 9 times the inverse
    V lastIo, lastJo;
    explicit Consts(bool decrypt)
        : inv(table(kTables.inv)), invScaled(table(kTables.invScaled)),
          shiftRows(load(kShiftRows.index)), invShiftRows(load(kInvShiftRows.index)),
          rot1(load(kRot1.index)), rot2(load(kRot2.index)) {
        const Table* io[4] = {&kTables.encIo, &kTables.enc2Io, nullptr, nullptr};
        const Table* jo[4] = {&kTables.encJo, &kTables.enc2Jo, nullptr, nullptr};
        if (decrypt) {
            const Table* dio[4] = {&kTables.dec14Io, &kTables.dec11Io, &kTables.dec13Io, &kTables.dec9Io};
            const Table* djo[4] = {&kTables.dec14Jo, &kTables.dec11Jo, &kTables.dec13Jo, &kTables.dec9Jo};
            std::memcpy(io, dio, sizeof io);
            std::memcpy(jo, djo, sizeof jo);
        }
        for (int i = 0; i < 4; ++i) {
            outIo[i] = io[i] ? table(*io[i]) : V{};
            outJo[i] = jo[i] ? table(*jo[i]) : V{};
        }
        lastIo = table(decrypt ? kTables.decLastIo : kTables.lastIo);
        lastJo = table(decrypt ? kTables.decLastJo : kTables.lastJo);
    }
};

inline V mapBytes(const vperm::NibbleMap& m, V x) {
    return vxor(lookup(table(m.lo), lowNibbles(x)), lookup(table(m.hi), highNibbles(x)));
}

V splat(uint8_t b) {
    uint8_t bytes[16];
    std::memset(bytes, b, 16);
    return load(bytes);
}

// Round keys in the state's representation: the tower for the inner rounds (with the affine
// constant folded in), plain bytes for the last. Wiped when the bulk call ends.
struct Keys {
    V rk[kMaxRounds + 1];
    int rounds;
    bool decrypt;
    Keys(const Schedule& ks, bool dec) : rounds(ks.rounds), decrypt(dec) {
        const uint32_t* words = dec ? ks.dec : ks.enc;
        const vperm::NibbleMap& map = dec ? kTables.toDecTower : kTables.toTower;
        // Encryption folds SubBytes' 0x63 into every key after the first; decryption carries
        // InvSubBytes' 0x05 (its constant before the inversion) in the state.
        const V inner = dec ? splat(vperm::kMaps.toTower[0x05])
                            : mapBytes(map, splat(0x63));
        const V swap = load(kWordSwap.index);
        for (int r = 0; r <= rounds; ++r) {
            const V bytes = lookup(load(reinterpret_cast<const uint8_t*>(words + 4 * r)), swap);
            if (r == rounds) {
                rk[r] = dec ? bytes : vxor(bytes, splat(0x63));
            } else if (r == 0) {
                rk[r] = dec ? vxor(mapBytes(map, bytes), inner) : mapBytes(map, bytes);
            } else {
                rk[r] = vxor(mapBytes(map, bytes), inner);
            }
        }
    }
    ~Keys() {
        volatile uint8_t* p = reinterpret_cast<volatile uint8_t*>(rk);
        for (size_t i = 0; i < sizeof rk; ++i) p[i] = 0;
    }
    Keys(const Keys&) = delete;
    Keys& operator=(const Keys&) = delete;
};

// ---- rounds ---------------------------------------------------------------------------------

// The two nibble values that determine the inverse of each byte (see the tables' header).
inline void inverseParts(V s, const Consts& c, V& io, V& jo) {
    const V i = highNibbles(s), k = lowNibbles(s), j = vxor(i, k);
    const V mk = lookup(c.invScaled, k);
    io = vxor(j, lookup(c.inv, vxor(lookup(c.inv, i), mk)));
    jo = vxor(i, lookup(c.inv, vxor(lookup(c.inv, j), mk)));
}

template <int N>
void encryptN(V* s, const Keys& k, const Consts& c, const vperm::NibbleMap& in) {
#pragma GCC unroll 8
    for (int b = 0; b < N; ++b) s[b] = vxor(mapBytes(in, s[b]), k.rk[0]);
    for (int r = 1; r < k.rounds; ++r) {
#pragma GCC unroll 8
        for (int b = 0; b < N; ++b) {
            V io, jo;
            inverseParts(lookup(s[b], c.shiftRows), c, io, jo);
            const V u = vxor(lookup(c.outIo[0], io), lookup(c.outJo[0], jo));
            const V v = vxor(lookup(c.outIo[1], io), lookup(c.outJo[1], jo));
            // MixColumns: 2u_r ^ 3u_r+1 ^ u_r+2 ^ u_r+3 with v = 2u.
            const V mixed = vxor(vxor(v, lookup(vxor(v, u), c.rot1)),
                                 lookup(vxor(u, lookup(u, c.rot1)), c.rot2));
            s[b] = vxor(mixed, k.rk[r]);
        }
    }
#pragma GCC unroll 8
    for (int b = 0; b < N; ++b) {
        V io, jo;
        inverseParts(lookup(s[b], c.shiftRows), c, io, jo);
        s[b] = vxor(vxor(lookup(c.lastIo, io), lookup(c.lastJo, jo)), k.rk[k.rounds]);
    }
}

template <int N>
void decryptN(V* s, const Keys& k, const Consts& c, const vperm::NibbleMap& in) {
#pragma GCC unroll 8
    for (int b = 0; b < N; ++b) s[b] = vxor(mapBytes(in, s[b]), k.rk[0]);
    for (int r = 1; r < k.rounds; ++r) {
#pragma GCC unroll 8
        for (int b = 0; b < N; ++b) {
            V io, jo;
            inverseParts(lookup(s[b], c.invShiftRows), c, io, jo);
            V t[4];
#pragma GCC unroll 8
            for (int f = 0; f < 4; ++f) t[f] = vxor(lookup(c.outIo[f], io), lookup(c.outJo[f], jo));
            // InvMixColumns: 14y_r ^ 11y_r+1 ^ 13y_r+2 ^ 9y_r+3.
            const V mixed = vxor(t[0], lookup(vxor(t[1], lookup(vxor(t[2], lookup(t[3], c.rot1)), c.rot1)), c.rot1));
            s[b] = vxor(mixed, k.rk[r]);
        }
    }
#pragma GCC unroll 8
    for (int b = 0; b < N; ++b) {
        V io, jo;
        inverseParts(lookup(s[b], c.invShiftRows), c, io, jo);
        s[b] = vxor(vxor(lookup(c.lastIo, io), lookup(c.lastJo, jo)), k.rk[k.rounds]);
    }
}

// The key, tables and round functions of one bulk call in one direction.
template <bool kDecrypt>
struct Cipher {
    Keys keys;
    Consts consts;
    explicit Cipher(const Schedule& ks) : keys(ks, kDecrypt), consts(kDecrypt) {}
    template <int N>
    void run(V* s) const {
        if constexpr (kDecrypt) {
            decryptN<N>(s, keys, consts, kTables.toDecTower);
        } else {
            encryptN<N>(s, keys, consts, kTables.toTower);
        }
    }
};

constexpr size_t kWide = 8;

// Runs step<N>(first block) over the blocks, four at a time, then one at a time.
template <class Step>
inline void inGroups(size_t blocks, Step step) {
    size_t i = 0;
    for (; i + kWide <= blocks; i += kWide) step.template operator()<kWide>(i);
    for (; i < blocks; ++i) step.template operator()<1>(i);
}

template <bool kDecrypt>
void ecb(const Schedule& ks, uint8_t* out, const uint8_t* in, size_t blocks) {
    const Cipher<kDecrypt> cipher(ks);
    inGroups(blocks, [&]<size_t N>(size_t i) {
        V s[N];
        for (size_t j = 0; j < N; ++j) s[j] = load(in + 16 * (i + j));
        cipher.template run<N>(s);
        for (size_t j = 0; j < N; ++j) store(out + 16 * (i + j), s[j]);
    });
}

void vpEncryptEcb(const Schedule& ks, uint8_t* out, const uint8_t* in, size_t blocks) {
    ecb<false>(ks, out, in, blocks);
}

void vpDecryptEcb(const Schedule& ks, uint8_t* out, const uint8_t* in, size_t blocks) {
    ecb<true>(ks, out, in, blocks);
}

void vpEncryptCbc(const Schedule& ks, uint8_t* iv, uint8_t* out, const uint8_t* in,
                  size_t blocks) {
    const Cipher<false> cipher(ks);
    V chain = load(iv);
    for (size_t i = 0; i < blocks; ++i) {
        chain = vxor(chain, load(in + 16 * i));
        cipher.template run<1>(&chain);
        store(out + 16 * i, chain);
    }
    store(iv, chain);
}

void vpDecryptCbc(const Schedule& ks, uint8_t* iv, uint8_t* out, const uint8_t* in,
                  size_t blocks) {
    const Cipher<true> cipher(ks);
    V chain = load(iv);
    inGroups(blocks, [&]<size_t N>(size_t i) {
        V c[N], s[N];
        for (size_t j = 0; j < N; ++j) s[j] = c[j] = load(in + 16 * (i + j));
        cipher.template run<N>(s);
        store(out + 16 * i, vxor(s[0], chain));
        for (size_t j = 1; j < N; ++j) store(out + 16 * (i + j), vxor(s[j], c[j - 1]));
        chain = c[N - 1];
    });
    store(iv, chain);
}

void vpCtr(const Schedule& ks, uint8_t* counter, uint8_t* out, const uint8_t* in,
           size_t blocks) {
    const Cipher<false> cipher(ks);
    uint8_t next[16];
    std::memcpy(next, counter, 16);
    inGroups(blocks, [&]<size_t N>(size_t i) {
        V s[N];
        for (size_t j = 0; j < N; ++j) {
            s[j] = load(next);
            incrementCounter(next);
        }
        cipher.template run<N>(s);
        for (size_t j = 0; j < N; ++j) store(out + 16 * (i + j), vxor(s[j], load(in + 16 * (i + j))));
    });
    std::memcpy(counter, next, 16);
}

constexpr Engine kVperm{"vperm", vpEncryptEcb, vpDecryptEcb, vpEncryptCbc,
                        vpDecryptCbc, vpCtr, kNeeds};

}  // namespace

const Engine* vpermEngine() { return &kVperm; }

}  // namespace veld::se::aes

#else  // no byte permutes in this build

namespace veld::se::aes {

const Engine* vpermEngine() { return nullptr; }

}  // namespace veld::se::aes

#endif
