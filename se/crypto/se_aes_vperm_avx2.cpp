// Vector-permute AES engine on AVX2: the rounds of se_aes_vperm_core.h with two blocks in each
// 256-bit register (VPSHUFB permutes within each 128-bit lane, so every table is simply copied
// into both lanes). Constant time like the SSSE3 engine, for the x86-64 CPUs that have AVX2 but
// no AES instructions. Independent blocks (ECB, CBC decryption, CTR) run eight at a time in
// four registers; CBC encryption, which is serial, runs one block per 128-bit register in the
// VEX encoding, and a last odd block is the SSSE3 engine's.
#include "se_aes.h"
#include "se_cpu.h"

#if defined(__x86_64__)

#include <immintrin.h>

#include <cstring>

// Everything below runs only after the engine switch has checked the CPU.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC target("avx2")
#endif

#include "se_aes_vperm_tables.h"

namespace veld::se::aes {
namespace {

using V = __m256i;
inline V broadcast16(const uint8_t* p) {
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}
inline V load2(const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const V*>(p)); }
inline void store2(uint8_t* p, V v) { _mm256_storeu_si256(reinterpret_cast<V*>(p), v); }
inline V vxor(V a, V b) { return _mm256_xor_si256(a, b); }
inline V lookup(V t, V index) { return _mm256_shuffle_epi8(t, index); }
inline V lowNibbles(V x) { return _mm256_and_si256(x, _mm256_set1_epi8(0x0f)); }
inline V highNibbles(V x) { return _mm256_and_si256(_mm256_srli_epi16(x, 4), _mm256_set1_epi8(0x0f)); }

#include "se_aes_vperm_core.h"

// One block per 128-bit register, for CBC encryption (serial): the same rounds as the SSSE3
// engine's, in the three-operand VEX encoding, which needs no register copies.
namespace single {
#include "se_aes_vperm_x86.h"
#define VELD_VPERM_ONE_BLOCK_PER_VECTOR 1
#include "se_aes_vperm_core.h"
#undef VELD_VPERM_ONE_BLOCK_PER_VECTOR
}  // namespace single

constexpr size_t kWide = 4;  // registers, two blocks each

// Runs step<N>(first block) over pairs of blocks, four registers at a time, then one; returns
// the blocks done (all but a last odd one).
template <class Step>
inline size_t inPairs(size_t blocks, Step step) {
    size_t i = 0;
    for (; i + 2 * kWide <= blocks; i += 2 * kWide) step.template operator()<kWide>(i);
    for (; i + 2 <= blocks; i += 2) step.template operator()<1>(i);
    return i;
}

template <bool kDecrypt>
void ecb(const Schedule& ks, uint8_t* out, const uint8_t* in, size_t blocks) {
    size_t done;
    {
        const Cipher<kDecrypt> cipher(ks);
        done = inPairs(blocks, [&]<size_t N>(size_t i) {
            V s[N];
            for (size_t j = 0; j < N; ++j) s[j] = load2(in + 16 * (i + 2 * j));
            cipher.template run<N>(s);
            for (size_t j = 0; j < N; ++j) store2(out + 16 * (i + 2 * j), s[j]);
        });
    }
    if (done == blocks) return;
    const Engine& one = *vpermEngine();
    (kDecrypt ? one.decryptEcb : one.encryptEcb)(ks, out + 16 * done, in + 16 * done, blocks - done);
}

void encryptEcb2(const Schedule& ks, uint8_t* out, const uint8_t* in, size_t blocks) {
    ecb<false>(ks, out, in, blocks);
}

void decryptEcb2(const Schedule& ks, uint8_t* out, const uint8_t* in, size_t blocks) {
    ecb<true>(ks, out, in, blocks);
}

void encryptCbc2(const Schedule& ks, uint8_t* iv, uint8_t* out, const uint8_t* in, size_t blocks) {
    single::encryptCbcSerial(ks, iv, out, in, blocks);
}

void decryptCbc2(const Schedule& ks, uint8_t* iv, uint8_t* out, const uint8_t* in, size_t blocks) {
    size_t done;
    {
        const Cipher<true> cipher(ks);
        __m128i chain = _mm_loadu_si128(reinterpret_cast<const __m128i*>(iv));
        done = inPairs(blocks, [&]<size_t N>(size_t i) {
            V c[N], s[N], prev[N];
            for (size_t j = 0; j < N; ++j) s[j] = c[j] = load2(in + 16 * (i + 2 * j));
            // The ciphertext one block earlier, read before `out` (maybe `in`) changes.
            prev[0] = _mm256_inserti128_si256(_mm256_castsi128_si256(chain), _mm256_castsi256_si128(c[0]), 1);
            for (size_t j = 1; j < N; ++j) prev[j] = load2(in + 16 * (i + 2 * j) - 16);
            chain = _mm256_extracti128_si256(c[N - 1], 1);
            cipher.template run<N>(s);
            for (size_t j = 0; j < N; ++j) store2(out + 16 * (i + 2 * j), vxor(s[j], prev[j]));
        });
        _mm_storeu_si128(reinterpret_cast<__m128i*>(iv), chain);
    }
    if (done < blocks) vpermEngine()->decryptCbc(ks, iv, out + 16 * done, in + 16 * done, blocks - done);
}

void ctr2(const Schedule& ks, uint8_t* counter, uint8_t* out, const uint8_t* in, size_t blocks) {
    size_t done;
    {
        const Cipher<false> cipher(ks);
        done = inPairs(blocks, [&]<size_t N>(size_t i) {
            uint8_t stream[32 * N];
            for (size_t j = 0; j < 2 * N; ++j) {
                std::memcpy(stream + 16 * j, counter, 16);
                incrementCounter(counter);
            }
            V s[N];
            for (size_t j = 0; j < N; ++j) s[j] = load2(stream + 32 * j);
            cipher.template run<N>(s);
            for (size_t j = 0; j < N; ++j) {
                store2(out + 16 * (i + 2 * j), vxor(s[j], load2(in + 16 * (i + 2 * j))));
            }
        });
    }
    if (done < blocks) vpermEngine()->ctr(ks, counter, out + 16 * done, in + 16 * done, blocks - done);
}

constexpr Engine kVpermAvx2{"vperm_avx2", encryptEcb2, decryptEcb2, encryptCbc2,
                            decryptCbc2,  ctr2,        cpu::kSsse3 | cpu::kAvx2};

}  // namespace

const Engine* vpermAvx2Engine() { return &kVpermAvx2; }

}  // namespace veld::se::aes

#if defined(__clang__)
#pragma clang attribute pop
#endif

#else  // not x86-64

namespace veld::se::aes {

const Engine* vpermAvx2Engine() { return nullptr; }

}  // namespace veld::se::aes

#endif
