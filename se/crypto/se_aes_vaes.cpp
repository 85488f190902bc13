// AES engine on the vector AES instructions (VAES with AVX2): one VAESENC works on two blocks
// in a 256-bit register, so the independent-block operations (ECB, CBC decryption, CTR) keep
// sixteen blocks in eight registers in flight, then eight, then the AES-NI engine finishes the
// rest. CBC encryption is serial and is the AES-NI engine's. Constant time like AES-NI.
#include "se_aes.h"
#include "se_aes_ni.h"
#include "se_cpu.h"

#if defined(__x86_64__)

// Everything below runs only after the engine switch has checked the CPU.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("aes,vaes,avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("aes,vaes,avx2")
#endif

namespace veld::se::aes {
namespace {

using ni::Keys;

// Round keys copied into both halves of a 256-bit register.
struct WideKeys {
    __m256i rk[kMaxRounds + 1];
    int rounds;
    explicit WideKeys(const Keys& k) : rounds(k.rounds) {
        for (int i = 0; i <= rounds; ++i) rk[i] = _mm256_broadcastsi128_si256(k.rk[i]);
    }
    ~WideKeys() {
        volatile __m256i* p = rk;
        for (int i = 0; i <= kMaxRounds; ++i) p[i] = _mm256_setzero_si256();
    }
    WideKeys(const WideKeys&) = delete;
    WideKeys& operator=(const WideKeys&) = delete;
};

inline __m256i load2(const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
inline void store2(uint8_t* p, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

template <int N, bool kDecrypt>
inline void cipherN(__m256i* s, const WideKeys& k) {
    #pragma GCC unroll 8
    for (int i = 0; i < N; ++i) s[i] = _mm256_xor_si256(s[i], k.rk[0]);
    for (int r = 1; r < k.rounds; ++r) {
        const __m256i key = k.rk[r];
        #pragma GCC unroll 8
        for (int i = 0; i < N; ++i) {
            s[i] = kDecrypt ? _mm256_aesdec_epi128(s[i], key) : _mm256_aesenc_epi128(s[i], key);
        }
    }
    #pragma GCC unroll 8
    for (int i = 0; i < N; ++i) {
        s[i] = kDecrypt ? _mm256_aesdeclast_epi128(s[i], k.rk[k.rounds])
                        : _mm256_aesenclast_epi128(s[i], k.rk[k.rounds]);
    }
}

// Runs step<N>(first block) over groups of 2N blocks: N = 8, then 4; returns the blocks done.
template <class Step>
inline size_t inWideGroups(size_t blocks, Step step) {
    size_t i = 0;
    for (; i + 16 <= blocks; i += 16) step.template operator()<8>(i);
    for (; i + 8 <= blocks; i += 8) step.template operator()<4>(i);
    return i;
}

template <bool kDecrypt>
void ecb(const Schedule& ks, uint8_t* out, const uint8_t* in, size_t blocks) {
    size_t done;
    {
        const Keys k(kDecrypt ? ks.dec : ks.enc, ks.rounds);
        const WideKeys w(k);
        done = inWideGroups(blocks, [&]<int N>(size_t i) {
            __m256i s[N];
            #pragma GCC unroll 8
            for (int j = 0; j < N; ++j) s[j] = load2(in + 16 * (i + 2 * j));
            cipherN<N, kDecrypt>(s, w);
            #pragma GCC unroll 8
            for (int j = 0; j < N; ++j) store2(out + 16 * (i + 2 * j), s[j]);
        });
    }
    if (done == blocks) return;
    (kDecrypt ? ni::decryptEcb : ni::encryptEcb)(ks, out + 16 * done, in + 16 * done,
                                                 blocks - done);
}

void vaesEncryptEcb(const Schedule& ks, uint8_t* out, const uint8_t* in,
                              size_t blocks) {
    ecb<false>(ks, out, in, blocks);
}

void vaesDecryptEcb(const Schedule& ks, uint8_t* out, const uint8_t* in,
                              size_t blocks) {
    ecb<true>(ks, out, in, blocks);
}

void vaesDecryptCbc(const Schedule& ks, uint8_t* iv, uint8_t* out, const uint8_t* in,
                              size_t blocks) {
    size_t done;
    {
        const Keys k(ks.dec, ks.rounds);
        const WideKeys w(k);
        __m128i chain = _mm_loadu_si128(reinterpret_cast<const __m128i*>(iv));
        done = inWideGroups(blocks, [&]<int N>(size_t i) {
            __m256i c[N], s[N];
            #pragma GCC unroll 8
            for (int j = 0; j < N; ++j) s[j] = c[j] = load2(in + 16 * (i + 2 * j));
            cipherN<N, true>(s, w);
            // The vectors to XOR are the ciphertext blocks one position earlier.
            __m256i prev[N];
            prev[0] = _mm256_inserti128_si256(_mm256_castsi128_si256(chain),
                                              _mm256_castsi256_si128(c[0]), 1);
            #pragma GCC unroll 8
            for (int j = 1; j < N; ++j) prev[j] = load2(in + 16 * (i + 2 * j) - 16);
            #pragma GCC unroll 8
            for (int j = 0; j < N; ++j) store2(out + 16 * (i + 2 * j), _mm256_xor_si256(s[j], prev[j]));
            chain = _mm256_extracti128_si256(c[N - 1], 1);
        });
        _mm_storeu_si128(reinterpret_cast<__m128i*>(iv), chain);
    }
    if (done < blocks) ni::decryptCbc(ks, iv, out + 16 * done, in + 16 * done, blocks - done);
}

void vaesCtr(const Schedule& ks, uint8_t* counter, uint8_t* out, const uint8_t* in,
                       size_t blocks) {
    size_t done;
    {
        const Keys k(ks.enc, ks.rounds);
        const WideKeys w(k);
        ni::Counter c(counter);
        const __m256i reverse = _mm256_broadcastsi128_si256(
            _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
        const __m256i step2 = _mm256_set_epi64x(0, 2, 0, 2);
        done = inWideGroups(blocks, [&]<int N>(size_t i) {
            __m256i s[N];
            if (c.lo <= ~uint64_t{0} - 2 * N) {
                // No carry into the high half within the group: count in the vector lanes.
                __m256i v = _mm256_set_epi64x(static_cast<long long>(c.hi),
                                              static_cast<long long>(c.lo + 1),
                                              static_cast<long long>(c.hi),
                                              static_cast<long long>(c.lo));
                #pragma GCC unroll 8
                for (int j = 0; j < N; ++j) {
                    s[j] = _mm256_shuffle_epi8(v, reverse);
                    v = _mm256_add_epi64(v, step2);
                }
                c.lo += 2 * N;
            } else {
                #pragma GCC unroll 8
                for (int j = 0; j < N; ++j) {
                    const uint64_t hi0 = c.hi, lo0 = c.lo;
                    if (++c.lo == 0) ++c.hi;
                    s[j] = _mm256_shuffle_epi8(
                        _mm256_set_epi64x(static_cast<long long>(c.hi), static_cast<long long>(c.lo),
                                          static_cast<long long>(hi0), static_cast<long long>(lo0)),
                        reverse);
                    if (++c.lo == 0) ++c.hi;
                }
            }
            cipherN<N, false>(s, w);
            #pragma GCC unroll 8
            for (int j = 0; j < N; ++j) {
                store2(out + 16 * (i + 2 * j), _mm256_xor_si256(s[j], load2(in + 16 * (i + 2 * j))));
            }
        });
        c.store(counter);
    }
    if (done < blocks) ni::ctr(ks, counter, out + 16 * done, in + 16 * done, blocks - done);
}

constexpr Engine kVaes{"vaes",         vaesEncryptEcb, vaesDecryptEcb, ni::encryptCbc,
                       vaesDecryptCbc, vaesCtr,        cpu::kAesNi | cpu::kVaes | cpu::kAvx2};

}  // namespace

const Engine* vaesEngine() { return &kVaes; }

}  // namespace veld::se::aes

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#else  // not x86-64

namespace veld::se::aes {

const Engine* vaesEngine() { return nullptr; }

}  // namespace veld::se::aes

#endif
