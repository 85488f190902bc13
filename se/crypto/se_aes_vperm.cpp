// Vector-permute AES engine: constant time on CPUs with byte permutes but no AES
// instructions (SSSE3 PSHUFB on x86-64, NEON TBL on ARM), one block per vector; the rounds are
// in se_aes_vperm_core.h. Independent blocks (ECB, CBC decryption, CTR) run four at a time.
#include "se_aes.h"
#include "se_cpu.h"

#if defined(__x86_64__)
#include <tmmintrin.h>
// Everything below runs only after the engine switch has checked the CPU.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("ssse3"))), apply_to = function)
#else
#pragma GCC target("ssse3")
#endif
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

// ---- the byte permute of each instruction set -----------------------------------------------

#if defined(__x86_64__)
#include "se_aes_vperm_x86.h"
constexpr uint32_t kNeeds = cpu::kSsse3;
#else
using V = uint8x16_t;
inline V load(const uint8_t* p) { return vld1q_u8(p); }
inline V broadcast16(const uint8_t* p) { return load(p); }
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

#define VELD_VPERM_ONE_BLOCK_PER_VECTOR 1
#include "se_aes_vperm_core.h"

constexpr size_t kWide = 4;

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
    encryptCbcSerial(ks, iv, out, in, blocks);
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

#if defined(__x86_64__) && defined(__clang__)
#pragma clang attribute pop
#endif

#else  // no byte permutes in this build

namespace veld::se::aes {

const Engine* vpermEngine() { return nullptr; }

}  // namespace veld::se::aes

#endif
