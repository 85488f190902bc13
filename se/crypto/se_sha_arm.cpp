// SHA-1 and SHA-256 block functions on the ARMv8 crypto extensions, for AArch64 and for
// AArch32 on ARMv8 cores. SHA256H/SHA256H2 do four rounds on ABCD and EFGH, SHA256SU0/SU1
// extend the schedule four words at a time; SHA1C/SHA1P/SHA1M do four rounds of each function
// group with E carried through SHA1H, SHA1SU0/SU1 extend the schedule.
#include "se_arm_crypto.h"
#include "se_cpu.h"
#include "se_sha.h"

#if defined(VELD_ARM_CRYPTO)

namespace veld::se::sha {
namespace {

inline uint32x4_t loadWords(const uint8_t* p) { return vreinterpretq_u32_u8(vrev32q_u8(vld1q_u8(p))); }

void sha256Arm(uint32_t state[8], const uint8_t* data, size_t blocks) {
    uint32x4_t abcd = vld1q_u32(state), efgh = vld1q_u32(state + 4);
    for (; blocks != 0; --blocks, data += 64) {
        const uint32x4_t saveAbcd = abcd, saveEfgh = efgh;
        uint32x4_t w[4];
#pragma GCC unroll 16
        for (int g = 0; g < 16; ++g) {
            uint32x4_t& cur = w[g & 3];
            if (g < 4) {
                cur = loadWords(data + 16 * g);
            } else {
                cur = vsha256su1q_u32(vsha256su0q_u32(cur, w[(g + 1) & 3]), w[(g + 2) & 3],
                                      w[(g + 3) & 3]);
            }
            const uint32x4_t wk = vaddq_u32(cur, vld1q_u32(kK256 + 4 * g));
            const uint32x4_t before = abcd;
            abcd = vsha256hq_u32(abcd, efgh, wk);
            efgh = vsha256h2q_u32(efgh, before, wk);
        }
        abcd = vaddq_u32(abcd, saveAbcd);
        efgh = vaddq_u32(efgh, saveEfgh);
    }
    vst1q_u32(state, abcd);
    vst1q_u32(state + 4, efgh);
}

void sha1Arm(uint32_t state[5], const uint8_t* data, size_t blocks) {
    static constexpr uint32_t kK[4] = {0x5A827999, 0x6ED9EBA1, 0x8F1BBCDC, 0xCA62C1D6};
    uint32x4_t abcd = vld1q_u32(state);
    uint32_t e = state[4];
    for (; blocks != 0; --blocks, data += 64) {
        const uint32x4_t saveAbcd = abcd;
        const uint32_t saveE = e;
        uint32x4_t w[4];
#pragma GCC unroll 20
        for (int g = 0; g < 20; ++g) {
            uint32x4_t& cur = w[g & 3];
            if (g < 4) {
                cur = loadWords(data + 16 * g);
            } else {
                cur = vsha1su1q_u32(vsha1su0q_u32(cur, w[(g + 1) & 3], w[(g + 2) & 3]), w[(g + 3) & 3]);
            }
            const uint32x4_t wk = vaddq_u32(cur, vdupq_n_u32(kK[g / 5]));
            const uint32_t nextE = vsha1h_u32(vgetq_lane_u32(abcd, 0));
            if (g < 5) {
                abcd = vsha1cq_u32(abcd, e, wk);
            } else if (g >= 10 && g < 15) {
                abcd = vsha1mq_u32(abcd, e, wk);
            } else {
                abcd = vsha1pq_u32(abcd, e, wk);
            }
            e = nextE;
        }
        abcd = vaddq_u32(abcd, saveAbcd);
        e += saveE;
    }
    vst1q_u32(state, abcd);
    state[4] = e;
}

constexpr BlockEngine kArmCe{"armv8_ce", sha1Arm, sha256Arm,
                             cpu::kNeon | cpu::kArmSha1 | cpu::kArmSha2};

}  // namespace

const BlockEngine* armCeBlockEngine() { return &kArmCe; }

}  // namespace veld::se::sha

#else  // no ARMv8 crypto extensions in this build

namespace veld::se::sha {

const BlockEngine* armCeBlockEngine() { return nullptr; }

}  // namespace veld::se::sha

#endif
