// AES engine on the x86-64 AES instructions (AES-NI). Every round is one AESENC/AESDEC
// (AESDEC takes the equivalent-inverse-cipher keys of the schedule as they are), so nothing
// depends on table look-ups: constant time. The operations on independent blocks (ECB, CBC
// decryption, CTR) keep eight blocks in flight, then four, then one, to cover the
// instructions' latency; CBC encryption and the MACs built on it are serial by nature.
#include "se_aes.h"
#include "se_aes_ni.h"

#include "se_cpu.h"

#if defined(__x86_64__)

// Everything below runs only after the engine switch has checked the CPU.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("aes,ssse3"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("aes,ssse3")
#endif

namespace veld::se::aes {
namespace ni {
namespace {

inline __m128i load(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline void store(uint8_t* p, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

template <int N, bool kDecrypt = false>
inline void cipherN(__m128i* s, const Keys& k) {
    #pragma GCC unroll 8
    for (int i = 0; i < N; ++i) s[i] = _mm_xor_si128(s[i], k.rk[0]);
    for (int r = 1; r < k.rounds; ++r) {
        const __m128i key = k.rk[r];
        #pragma GCC unroll 8
        for (int i = 0; i < N; ++i) s[i] = kDecrypt ? _mm_aesdec_si128(s[i], key) : _mm_aesenc_si128(s[i], key);
    }
    #pragma GCC unroll 8
    for (int i = 0; i < N; ++i) {
        s[i] = kDecrypt ? _mm_aesdeclast_si128(s[i], k.rk[k.rounds])
                        : _mm_aesenclast_si128(s[i], k.rk[k.rounds]);
    }
}

// Runs `step.template operator()<N>(first block)` over the blocks, eight, four, then one at
// a time.
template <class Step>
inline void inGroups(size_t blocks, Step step) {
    size_t i = 0;
    for (; i + 8 <= blocks; i += 8) step.template operator()<8>(i);
    for (; i + 4 <= blocks; i += 4) step.template operator()<4>(i);
    for (; i < blocks; ++i) step.template operator()<1>(i);
}

template <bool kDecrypt>
void ecb(const Schedule& ks, uint8_t* out, const uint8_t* in, size_t blocks) {
    const Keys k(kDecrypt ? ks.dec : ks.enc, ks.rounds);
    inGroups(blocks, [&]<int N>(size_t i) {
        __m128i s[N];
        #pragma GCC unroll 8
        for (int j = 0; j < N; ++j) s[j] = load(in + 16 * (i + j));
        cipherN<N, kDecrypt>(s, k);
        #pragma GCC unroll 8
        for (int j = 0; j < N; ++j) store(out + 16 * (i + j), s[j]);
    });
}

constexpr Engine kAesNi{"aesni",      encryptEcb, decryptEcb, encryptCbc,
                        decryptCbc,   ctr,        cpu::kAesNi};

}  // namespace

Keys::Keys(const uint32_t* words, int r) : rounds(r) {
    // Big-endian column words to the byte order of the state.
    const __m128i swap = _mm_set_epi8(12, 13, 14, 15, 8, 9, 10, 11, 4, 5, 6, 7, 0, 1, 2, 3);
    for (int i = 0; i <= r; ++i) rk[i] = _mm_shuffle_epi8(load(reinterpret_cast<const uint8_t*>(words + 4 * i)), swap);
}

Keys::~Keys() {
    volatile __m128i* p = rk;
    for (int i = 0; i <= kMaxRounds; ++i) p[i] = _mm_setzero_si128();
}

Counter::Counter(const uint8_t* b) : hi(0), lo(0) {
    for (int i = 0; i < 8; ++i) {
        hi = (hi << 8) | b[i];
        lo = (lo << 8) | b[8 + i];
    }
}

void Counter::store(uint8_t* b) const {
    for (int i = 0; i < 8; ++i) {
        b[i] = static_cast<uint8_t>(hi >> (56 - 8 * i));
        b[8 + i] = static_cast<uint8_t>(lo >> (56 - 8 * i));
    }
}

void encryptEcb(const Schedule& ks, uint8_t* out, const uint8_t* in, size_t blocks) {
    ecb<false>(ks, out, in, blocks);
}

void decryptEcb(const Schedule& ks, uint8_t* out, const uint8_t* in, size_t blocks) {
    ecb<true>(ks, out, in, blocks);
}

void encryptCbc(const Schedule& ks, uint8_t* iv, uint8_t* out, const uint8_t* in,
                           size_t blocks) {
    const Keys k(ks.enc, ks.rounds);
    __m128i chain = load(iv);
    for (size_t i = 0; i < blocks; ++i) {
        chain = _mm_xor_si128(chain, load(in + 16 * i));
        cipherN<1>(&chain, k);
        store(out + 16 * i, chain);
    }
    store(iv, chain);
}

void decryptCbc(const Schedule& ks, uint8_t* iv, uint8_t* out, const uint8_t* in,
                           size_t blocks) {
    const Keys k(ks.dec, ks.rounds);
    __m128i chain = load(iv);
    inGroups(blocks, [&]<int N>(size_t i) {
        __m128i c[N], s[N];
        #pragma GCC unroll 8
        for (int j = 0; j < N; ++j) s[j] = c[j] = load(in + 16 * (i + j));
        cipherN<N, true>(s, k);
        store(out + 16 * i, _mm_xor_si128(s[0], chain));
        #pragma GCC unroll 8
        for (int j = 1; j < N; ++j) store(out + 16 * (i + j), _mm_xor_si128(s[j], c[j - 1]));
        chain = c[N - 1];
    });
    store(iv, chain);
}

void ctr(const Schedule& ks, uint8_t* counter, uint8_t* out, const uint8_t* in,
                    size_t blocks) {
    const Keys k(ks.enc, ks.rounds);
    Counter c(counter);
    const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    inGroups(blocks, [&]<int N>(size_t i) {
        __m128i s[N];
        #pragma GCC unroll 8
        for (int j = 0; j < N; ++j) {
            // The counter block is the byte-reversed 128-bit little-endian value.
            s[j] = _mm_shuffle_epi8(_mm_set_epi64x(static_cast<long long>(c.hi),
                                                   static_cast<long long>(c.lo)),
                                    reverse);
            if (++c.lo == 0) ++c.hi;
        }
        cipherN<N>(s, k);
        #pragma GCC unroll 8
        for (int j = 0; j < N; ++j) {
            store(out + 16 * (i + j), _mm_xor_si128(s[j], load(in + 16 * (i + j))));
        }
    });
    c.store(counter);
}

}  // namespace ni

const Engine* aesNiEngine() { return &ni::kAesNi; }

}  // namespace veld::se::aes

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#else  // not x86-64

namespace veld::se::aes {

const Engine* aesNiEngine() { return nullptr; }

}  // namespace veld::se::aes

#endif
