// SHA-1 and SHA-256 block functions on the x86-64 SHA extensions (SHA-NI).
//
// SHA-256 keeps the working variables as the instructions want them, ABEF and CDGH; each
// SHA256RNDS2 does two rounds, the message schedule is SHA256MSG1, an ALIGNR and SHA256MSG2
// per four words. SHA-1 keeps ABCD in one register and E in the top lane of another;
// SHA1RNDS4 does four rounds, SHA1NEXTE derives the next E, SHA1MSG1/SHA1MSG2 extend the
// schedule.
#include "se_cpu.h"
#include "se_sha.h"

#if defined(__x86_64__)

#include <immintrin.h>

// Everything below runs only after the engine switch has checked the CPU.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("sha,sse4.1,ssse3"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("sha,sse4.1,ssse3")
#endif

namespace veld::se::sha {
namespace {

inline __m128i load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

void sha256Ni(uint32_t state[8], const uint8_t* data, size_t blocks) {
    // Big-endian words of the message into the lanes.
    const __m128i swap = _mm_set_epi8(12, 13, 14, 15, 8, 9, 10, 11, 4, 5, 6, 7, 0, 1, 2, 3);
    __m128i t = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0xB1);  // CDAB
    __m128i s1 = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4)), 0x1B);  // EFGH
    __m128i s0 = _mm_alignr_epi8(t, s1, 8);       // ABEF
    s1 = _mm_blend_epi16(s1, t, 0xF0);            // CDGH
    for (; blocks != 0; --blocks, data += 64) {
        const __m128i save0 = s0, save1 = s1;
        __m128i w[4];
#pragma GCC unroll 16
        for (int g = 0; g < 16; ++g) {
            __m128i& cur = w[g & 3];
            if (g < 4) {
                cur = _mm_shuffle_epi8(load(data + 16 * g), swap);
            } else {
                // w[t..t+3] = sigma1 terms + w[t-7..t-4] + sigma0(w[t-15..]) + w[t-16..].
                const __m128i x = _mm_add_epi32(_mm_sha256msg1_epu32(cur, w[(g + 1) & 3]),
                                                _mm_alignr_epi8(w[(g + 3) & 3], w[(g + 2) & 3], 4));
                cur = _mm_sha256msg2_epu32(x, w[(g + 3) & 3]);
            }
            __m128i m = _mm_add_epi32(cur, _mm_load_si128(reinterpret_cast<const __m128i*>(kK256 + 4 * g)));
            s1 = _mm_sha256rnds2_epu32(s1, s0, m);
            m = _mm_shuffle_epi32(m, 0x0E);
            s0 = _mm_sha256rnds2_epu32(s0, s1, m);
        }
        s0 = _mm_add_epi32(s0, save0);
        s1 = _mm_add_epi32(s1, save1);
    }
    t = _mm_shuffle_epi32(s0, 0x1B);      // FEBA
    s1 = _mm_shuffle_epi32(s1, 0xB1);     // DCHG
    s0 = _mm_blend_epi16(t, s1, 0xF0);    // DCBA
    s1 = _mm_alignr_epi8(s1, t, 8);       // HGFE
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), s0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), s1);
}

// Four SHA-1 rounds of function group F (0..3) on words `w`, with E derived from `prev`.
template <int F>
inline void sha1Four(__m128i& abcd, __m128i& prev, __m128i e) {
    prev = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, e, F);
}

void sha1Ni(uint32_t state[5], const uint8_t* data, size_t blocks) {
    // The whole block reversed: word 0 of the message in the top lane, big-endian.
    const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
    __m128i e = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
    for (; blocks != 0; --blocks, data += 64) {
        const __m128i saveAbcd = abcd, saveE = e;
        __m128i w[4], prev = abcd;
#pragma GCC unroll 20
        for (int g = 0; g < 20; ++g) {
            __m128i& cur = w[g & 3];
            if (g < 4) {
                cur = _mm_shuffle_epi8(load(data + 16 * g), reverse);
            } else {
                cur = _mm_sha1msg2_epu32(
                    _mm_xor_si128(_mm_sha1msg1_epu32(cur, w[(g + 1) & 3]), w[(g + 2) & 3]),
                    w[(g + 3) & 3]);
            }
            const __m128i eIn = g == 0 ? _mm_add_epi32(e, cur) : _mm_sha1nexte_epu32(prev, cur);
            switch (g / 5) {
            case 0: sha1Four<0>(abcd, prev, eIn); break;
            case 1: sha1Four<1>(abcd, prev, eIn); break;
            case 2: sha1Four<2>(abcd, prev, eIn); break;
            default: sha1Four<3>(abcd, prev, eIn); break;
            }
        }
        e = _mm_sha1nexte_epu32(prev, saveE);
        abcd = _mm_add_epi32(abcd, saveAbcd);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1B));
    state[4] = static_cast<uint32_t>(_mm_extract_epi32(e, 3));
}

constexpr BlockEngine kShaNi{"sha_ni", sha1Ni, sha256Ni, cpu::kShaNi | cpu::kSsse3};

}  // namespace

const BlockEngine* shaNiBlockEngine() { return &kShaNi; }

}  // namespace veld::se::sha

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#else  // not x86-64

namespace veld::se::sha {

const BlockEngine* shaNiBlockEngine() { return nullptr; }

}  // namespace veld::se::sha

#endif
