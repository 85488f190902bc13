// AES engine on the ARMv8 crypto extensions, for AArch64 and for AArch32 on ARMv8 cores.
// AESE/AESMC make one encryption round, AESD/AESIMC one decryption round of the equivalent
// inverse cipher (the schedule's decryption keys as they are): constant time. Independent
// blocks (ECB, CBC decryption, CTR) are interleaved eight wide on AArch64 (32 vector
// registers) and four wide on AArch32 (16).
#include "se_arm_crypto.h"
#include "se_aes.h"
#include "se_cpu.h"

#if defined(VELD_ARM_CRYPTO)

#include <cstring>

namespace veld::se::aes {
namespace {

#if defined(__aarch64__)
constexpr size_t kWide = 8;
#else
constexpr size_t kWide = 4;
#endif

struct Keys {
    uint8x16_t rk[kMaxRounds + 1];
    int rounds;
    Keys(const uint32_t* words, int r) : rounds(r) {
        // Big-endian column words to the byte order of the state.
        for (int i = 0; i <= r; ++i) {
            rk[i] = vrev32q_u8(vld1q_u8(reinterpret_cast<const uint8_t*>(words + 4 * i)));
        }
    }
    ~Keys() {
        volatile uint8_t* p = reinterpret_cast<volatile uint8_t*>(rk);
        for (size_t i = 0; i < sizeof rk; ++i) p[i] = 0;
    }
    Keys(const Keys&) = delete;
    Keys& operator=(const Keys&) = delete;
};

template <size_t N, bool kDecrypt = false>
inline void cipherN(uint8x16_t* s, const Keys& k) {
    for (int r = 0; r + 1 < k.rounds; ++r) {
#pragma GCC unroll 8
        for (size_t i = 0; i < N; ++i) {
            s[i] = kDecrypt ? vaesimcq_u8(vaesdq_u8(s[i], k.rk[r])) : vaesmcq_u8(vaeseq_u8(s[i], k.rk[r]));
        }
    }
#pragma GCC unroll 8
    for (size_t i = 0; i < N; ++i) {
        s[i] = kDecrypt ? vaesdq_u8(s[i], k.rk[k.rounds - 1]) : vaeseq_u8(s[i], k.rk[k.rounds - 1]);
        s[i] = veorq_u8(s[i], k.rk[k.rounds]);
    }
}

// Runs step<N>(first block) over the blocks, kWide at a time, then one at a time.
template <class Step>
inline void inGroups(size_t blocks, Step step) {
    size_t i = 0;
    for (; i + kWide <= blocks; i += kWide) step.template operator()<kWide>(i);
    for (; i < blocks; ++i) step.template operator()<1>(i);
}

template <bool kDecrypt>
void ecb(const Schedule& ks, uint8_t* out, const uint8_t* in, size_t blocks) {
    const Keys k(kDecrypt ? ks.dec : ks.enc, ks.rounds);
    inGroups(blocks, [&]<size_t N>(size_t i) {
        uint8x16_t s[N];
#pragma GCC unroll 8
        for (size_t j = 0; j < N; ++j) s[j] = vld1q_u8(in + 16 * (i + j));
        cipherN<N, kDecrypt>(s, k);
#pragma GCC unroll 8
        for (size_t j = 0; j < N; ++j) vst1q_u8(out + 16 * (i + j), s[j]);
    });
}

void armEncryptEcb(const Schedule& ks, uint8_t* out, const uint8_t* in, size_t blocks) {
    ecb<false>(ks, out, in, blocks);
}

void armDecryptEcb(const Schedule& ks, uint8_t* out, const uint8_t* in, size_t blocks) {
    ecb<true>(ks, out, in, blocks);
}

void armEncryptCbc(const Schedule& ks, uint8_t* iv, uint8_t* out, const uint8_t* in,
                   size_t blocks) {
    const Keys k(ks.enc, ks.rounds);
    uint8x16_t chain = vld1q_u8(iv);
    for (size_t i = 0; i < blocks; ++i) {
        chain = veorq_u8(chain, vld1q_u8(in + 16 * i));
        cipherN<1>(&chain, k);
        vst1q_u8(out + 16 * i, chain);
    }
    vst1q_u8(iv, chain);
}

void armDecryptCbc(const Schedule& ks, uint8_t* iv, uint8_t* out, const uint8_t* in,
                   size_t blocks) {
    const Keys k(ks.dec, ks.rounds);
    uint8x16_t chain = vld1q_u8(iv);
    inGroups(blocks, [&]<size_t N>(size_t i) {
        uint8x16_t c[N], s[N];
#pragma GCC unroll 8
        for (size_t j = 0; j < N; ++j) s[j] = c[j] = vld1q_u8(in + 16 * (i + j));
        cipherN<N, true>(s, k);
        vst1q_u8(out + 16 * i, veorq_u8(s[0], chain));
#pragma GCC unroll 8
        for (size_t j = 1; j < N; ++j) vst1q_u8(out + 16 * (i + j), veorq_u8(s[j], c[j - 1]));
        chain = c[N - 1];
    });
    vst1q_u8(iv, chain);
}

void armCtr(const Schedule& ks, uint8_t* counter, uint8_t* out, const uint8_t* in,
            size_t blocks) {
    const Keys k(ks.enc, ks.rounds);
    uint8_t next[16];
    std::memcpy(next, counter, 16);
    inGroups(blocks, [&]<size_t N>(size_t i) {
        uint8x16_t s[N];
        for (size_t j = 0; j < N; ++j) {
            s[j] = vld1q_u8(next);
            incrementCounter(next);
        }
        cipherN<N>(s, k);
#pragma GCC unroll 8
        for (size_t j = 0; j < N; ++j) {
            vst1q_u8(out + 16 * (i + j), veorq_u8(s[j], vld1q_u8(in + 16 * (i + j))));
        }
    });
    std::memcpy(counter, next, 16);
}

constexpr Engine kArmCe{"armv8_ce",    armEncryptEcb, armDecryptEcb, armEncryptCbc,
                        armDecryptCbc, armCtr,        cpu::kNeon | cpu::kArmAes};

}  // namespace

const Engine* armCeEngine() { return &kArmCe; }

}  // namespace veld::se::aes

#else  // no ARMv8 crypto extensions in this build

namespace veld::se::aes {

const Engine* armCeEngine() { return nullptr; }

}  // namespace veld::se::aes

#endif
