// The body of the constant-time GFNI AES engine, written against three Galois-field
// operations that the file including it provides, in the namespace it includes this into:
//
//   template <int kImm> __m128i affineInverse(__m128i x, __m128i matrix);  // GF2P8AFFINEINVQB
//   template <int kImm> __m128i affine(__m128i x, __m128i matrix);         // GF2P8AFFINEQB
//   __m128i gfMultiply(__m128i a, __m128i b);                              // GF2P8MULB
//
// and VELD_GFNI, the target attribute of every function here. se_aes_x86.cpp includes it over
// the instructions themselves; the engine's test includes it over a software model of them, so
// that the engine's own logic (matrices, shuffles, rounds, modes) is checked on every x86-64
// CPU, with or without GFNI. Everything else it uses is SSSE3. The includer includes
// <immintrin.h>, <initializer_list> and se_aes.h first.
//
// SubBytes is one affine-inverse (inversion in GF(2^8) followed by the AES affine map),
// InvSubBytes is the inverse affine map followed by the inversion, MixColumns is byte
// rotations within columns (PSHUFB with fixed patterns) and a doubling in GF(2^8): no memory
// access depends on the key or the data, so the engine does not leak through the cache.
#pragma once

namespace {

// 8x8 bit matrices in the instruction's encoding: output bit i is the parity of
// (byte 7-i of the operand AND the input byte). The maps used here are circulant: output bit i
// is the XOR of the input bits i + tap (mod 8).
constexpr uint64_t circulantMatrix(std::initializer_list<int> taps) {
    uint64_t m = 0;
    for (int i = 0; i < 8; ++i) {
        uint8_t row = 0;
        for (int tap : taps) row |= static_cast<uint8_t>(1u << ((i + tap) & 7));
        m |= uint64_t{row} << (8 * (7 - i));
    }
    return m;
}

// The AES affine map: s_i = b_i ^ b_{i+4} ^ b_{i+5} ^ b_{i+6} ^ b_{i+7} ^ 0x63_i.
constexpr uint64_t kAffine = circulantMatrix({0, 4, 5, 6, 7});
// Its inverse: b_i = s_{i+2} ^ s_{i+5} ^ s_{i+7} ^ 0x05_i.
constexpr uint64_t kInverseAffine = circulantMatrix({2, 5, 7});
constexpr uint64_t kIdentity = circulantMatrix({0});
static_assert(kIdentity == 0x0102040810204080ull);

struct Consts {
    __m128i affine, inverseAffine, identity;
    __m128i shiftRows, shiftRows1;  // ShiftRows; ShiftRows then each column up by one row
    __m128i invShiftRows, rot1, rot2;
    __m128i two, four;
    __m128i wordSwap;  // big-endian column words to bytes
};

// Byte i of the state is row i % 4 of column i / 4.
VELD_GFNI __m128i shuffle(const int (&idx)[16]) {
    alignas(16) int8_t b[16];
    for (int i = 0; i < 16; ++i) b[i] = static_cast<int8_t>(idx[i]);
    return _mm_load_si128(reinterpret_cast<const __m128i*>(b));
}

VELD_GFNI Consts makeConsts() {
    Consts c;
    c.affine = _mm_set1_epi64x(static_cast<long long>(kAffine));
    c.inverseAffine = _mm_set1_epi64x(static_cast<long long>(kInverseAffine));
    c.identity = _mm_set1_epi64x(static_cast<long long>(kIdentity));
    int sr[16], isr[16];
    for (int col = 0; col < 4; ++col) {
        for (int row = 0; row < 4; ++row) {
            sr[4 * col + row] = 4 * ((col + row) % 4) + row;
            isr[4 * col + row] = 4 * ((col - row + 4) % 4) + row;
        }
    }
    // Rotations within each column by k rows: out[row] = in[row + k], composed with ShiftRows.
    auto composed = [&](int k, const int* base) {
        int idx[16];
        for (int col = 0; col < 4; ++col) {
            for (int row = 0; row < 4; ++row) idx[4 * col + row] = base[4 * col + (row + k) % 4];
        }
        return shuffle(idx);
    };
    int identity[16];
    for (int i = 0; i < 16; ++i) identity[i] = i;
    c.shiftRows = composed(0, sr);
    c.shiftRows1 = composed(1, sr);
    c.invShiftRows = composed(0, isr);
    c.rot1 = composed(1, identity);
    c.rot2 = composed(2, identity);
    c.two = _mm_set1_epi8(2);
    c.four = _mm_set1_epi8(4);
    int swap[16];
    for (int i = 0; i < 16; ++i) swap[i] = (i & ~3) + 3 - (i & 3);
    c.wordSwap = shuffle(swap);
    return c;
}

const Consts& consts() {
    static const Consts c = makeConsts();
    return c;
}

// Round keys as byte vectors, converted once per bulk call.
struct Keys {
    __m128i rk[kMaxRounds + 1];
    int rounds;
};

VELD_GFNI void loadKeys(Keys& k, const uint32_t* words, int rounds, const Consts& c) {
    k.rounds = rounds;
    for (int r = 0; r <= rounds; ++r) {
        const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(words + 4 * r));
        k.rk[r] = _mm_shuffle_epi8(w, c.wordSwap);
    }
}

VELD_GFNI void wipeKeys(Keys& k) {
    volatile __m128i* p = k.rk;
    for (int r = 0; r <= kMaxRounds; ++r) p[r] = _mm_setzero_si128();
}

// One inner encryption round on N independent blocks.
template <int N>
VELD_GFNI inline void encryptRound(__m128i (&s)[N], __m128i rk, const Consts& c) {
    for (int i = 0; i < N; ++i) {
        const __m128i sub = affineInverse<0x63>(s[i], c.affine);
        const __m128i a = _mm_shuffle_epi8(sub, c.shiftRows);
        const __m128i r1 = _mm_shuffle_epi8(sub, c.shiftRows1);
        // MixColumns: b = 2(a ^ r1) ^ r1 ^ r2 ^ r3, and r2 ^ r3 is (a ^ r1) rotated by two.
        const __m128i t = _mm_xor_si128(a, r1);
        const __m128i doubled = gfMultiply(t, c.two);
        const __m128i rest = _mm_xor_si128(_mm_shuffle_epi8(t, c.rot2), _mm_xor_si128(r1, rk));
        s[i] = _mm_xor_si128(doubled, rest);
    }
}

template <int N>
VELD_GFNI inline void encryptBlocks(__m128i (&s)[N], const Keys& k, const Consts& c) {
    for (int i = 0; i < N; ++i) s[i] = _mm_xor_si128(s[i], k.rk[0]);
    for (int r = 1; r < k.rounds; ++r) encryptRound(s, k.rk[r], c);
    for (int i = 0; i < N; ++i) {
        const __m128i sub = affineInverse<0x63>(s[i], c.affine);
        s[i] = _mm_xor_si128(_mm_shuffle_epi8(sub, c.shiftRows), k.rk[k.rounds]);
    }
}

// Equivalent inverse cipher with the decryption round keys of the schedule.
template <int N>
VELD_GFNI inline void decryptBlocks(__m128i (&s)[N], const Keys& k, const Consts& c) {
    for (int i = 0; i < N; ++i) s[i] = _mm_xor_si128(s[i], k.rk[0]);
    for (int r = 1; r <= k.rounds; ++r) {
        for (int i = 0; i < N; ++i) {
            const __m128i shifted = _mm_shuffle_epi8(s[i], c.invShiftRows);
            const __m128i pre = affine<0x05>(shifted, c.inverseAffine);
            __m128i x = affineInverse<0>(pre, c.identity);
            if (r < k.rounds) {
                // InvMixColumns = MixColumns after x_i ^= 4(x_i ^ x_{i+2}).
                const __m128i x2 = _mm_shuffle_epi8(x, c.rot2);
                x = _mm_xor_si128(x, gfMultiply(_mm_xor_si128(x, x2), c.four));
                const __m128i r1 = _mm_shuffle_epi8(x, c.rot1);
                const __m128i t = _mm_xor_si128(x, r1);
                x = _mm_xor_si128(gfMultiply(t, c.two),
                                  _mm_xor_si128(_mm_shuffle_epi8(t, c.rot2), r1));
            }
            s[i] = _mm_xor_si128(x, k.rk[r]);
        }
    }
}

VELD_GFNI inline __m128i load(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
VELD_GFNI inline void store(uint8_t* p, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

constexpr size_t kLanes = 8;

template <bool kDecrypt>
VELD_GFNI void ecb(const Schedule& ks, uint8_t* out, const uint8_t* in, size_t blocks) {
    const Consts& c = consts();
    Keys k;
    loadKeys(k, kDecrypt ? ks.dec : ks.enc, ks.rounds, c);
    size_t i = 0;
    for (; i + kLanes <= blocks; i += kLanes) {
        __m128i s[kLanes];
        for (size_t j = 0; j < kLanes; ++j) s[j] = load(in + 16 * (i + j));
        kDecrypt ? decryptBlocks(s, k, c) : encryptBlocks(s, k, c);
        for (size_t j = 0; j < kLanes; ++j) store(out + 16 * (i + j), s[j]);
    }
    for (; i < blocks; ++i) {
        __m128i s[1] = {load(in + 16 * i)};
        kDecrypt ? decryptBlocks(s, k, c) : encryptBlocks(s, k, c);
        store(out + 16 * i, s[0]);
    }
    wipeKeys(k);
}

VELD_GFNI void gfniEncryptEcb(const Schedule& ks, uint8_t* out, const uint8_t* in,
                              size_t blocks) {
    ecb<false>(ks, out, in, blocks);
}

VELD_GFNI void gfniDecryptEcb(const Schedule& ks, uint8_t* out, const uint8_t* in,
                              size_t blocks) {
    ecb<true>(ks, out, in, blocks);
}

VELD_GFNI void gfniEncryptCbc(const Schedule& ks, uint8_t* iv, uint8_t* out, const uint8_t* in,
                              size_t blocks) {
    const Consts& c = consts();
    Keys k;
    loadKeys(k, ks.enc, ks.rounds, c);
    __m128i chain[1] = {load(iv)};
    for (size_t i = 0; i < blocks; ++i) {
        chain[0] = _mm_xor_si128(chain[0], load(in + 16 * i));
        encryptBlocks(chain, k, c);
        store(out + 16 * i, chain[0]);
    }
    store(iv, chain[0]);
    wipeKeys(k);
}

VELD_GFNI void gfniDecryptCbc(const Schedule& ks, uint8_t* iv, uint8_t* out, const uint8_t* in,
                              size_t blocks) {
    const Consts& c = consts();
    Keys k;
    loadKeys(k, ks.dec, ks.rounds, c);
    __m128i chain = load(iv);
    size_t i = 0;
    for (; i + kLanes <= blocks; i += kLanes) {
        __m128i cipher[kLanes], s[kLanes];
        for (size_t j = 0; j < kLanes; ++j) s[j] = cipher[j] = load(in + 16 * (i + j));
        decryptBlocks(s, k, c);
        store(out + 16 * i, _mm_xor_si128(s[0], chain));
        for (size_t j = 1; j < kLanes; ++j) {
            store(out + 16 * (i + j), _mm_xor_si128(s[j], cipher[j - 1]));
        }
        chain = cipher[kLanes - 1];
    }
    for (; i < blocks; ++i) {
        const __m128i cipher = load(in + 16 * i);
        __m128i s[1] = {cipher};
        decryptBlocks(s, k, c);
        store(out + 16 * i, _mm_xor_si128(s[0], chain));
        chain = cipher;
    }
    store(iv, chain);
    wipeKeys(k);
}

VELD_GFNI void gfniCtr(const Schedule& ks, uint8_t* counter, uint8_t* out, const uint8_t* in,
                       size_t blocks) {
    const Consts& c = consts();
    Keys k;
    loadKeys(k, ks.enc, ks.rounds, c);
    uint64_t hi = 0, lo = 0;
    for (int b = 0; b < 8; ++b) {
        hi = (hi << 8) | counter[b];
        lo = (lo << 8) | counter[8 + b];
    }
    auto block = [&]() {
        const __m128i v = _mm_set_epi64x(static_cast<long long>(__builtin_bswap64(lo)),
                                         static_cast<long long>(__builtin_bswap64(hi)));
        if (++lo == 0) ++hi;
        return v;
    };
    size_t i = 0;
    for (; i + kLanes <= blocks; i += kLanes) {
        __m128i s[kLanes];
        for (size_t j = 0; j < kLanes; ++j) s[j] = block();
        encryptBlocks(s, k, c);
        for (size_t j = 0; j < kLanes; ++j) {
            store(out + 16 * (i + j), _mm_xor_si128(s[j], load(in + 16 * (i + j))));
        }
    }
    for (; i < blocks; ++i) {
        __m128i s[1] = {block()};
        encryptBlocks(s, k, c);
        store(out + 16 * i, _mm_xor_si128(s[0], load(in + 16 * i)));
    }
    for (int b = 7; b >= 0; --b, hi >>= 8, lo >>= 8) {
        counter[b] = static_cast<uint8_t>(hi);
        counter[8 + b] = static_cast<uint8_t>(lo);
    }
    wipeKeys(k);
}

// The engine over the includer's instructions, under `name`.
constexpr Engine gfniEngine(const char* name) {
    return {name, gfniEncryptEcb, gfniDecryptEcb, gfniEncryptCbc, gfniDecryptCbc, gfniCtr};
}

}  // namespace
