// The AVX2 row engine (see row_engines.h): eight working values a step, packed to 16 bits for
// the 2-byte layouts. Compiled with -mavx2; it includes nothing with inline functions that a
// baseline file could share.
#include <immintrin.h>

#include "row_engines.h"

namespace veld::gpusim {

void encodeRowAvx2(const PixelLayout& l, const uint32_t* in, uint32_t n, uint8_t* out) {
    const ChannelMoves m = channelMoves(l);
    const __m256i k0 = _mm256_set1_epi32(int(m.mask[0])), k1 = _mm256_set1_epi32(int(m.mask[1]));
    const __m256i k2 = _mm256_set1_epi32(int(m.mask[2])), k3 = _mm256_set1_epi32(int(m.mask[3]));
    auto encode8 = [&](const uint32_t* p) {
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const __m256i a = _mm256_and_si256(_mm256_sll_epi32(_mm256_srl_epi32(c, m.right[0]), m.left[0]), k0);
        const __m256i r = _mm256_and_si256(_mm256_sll_epi32(_mm256_srl_epi32(c, m.right[1]), m.left[1]), k1);
        const __m256i g = _mm256_and_si256(_mm256_sll_epi32(_mm256_srl_epi32(c, m.right[2]), m.left[2]), k2);
        const __m256i b = _mm256_and_si256(_mm256_sll_epi32(_mm256_srl_epi32(c, m.right[3]), m.left[3]), k3);
        return _mm256_or_si256(_mm256_or_si256(a, r), _mm256_or_si256(g, b));
    };
    uint32_t i = 0;
    if (l.bytes == 2) {
        for (; i + 16 <= n; i += 16) {
            // The values fit 16 bits, so the saturating pack is exact; it interleaves the
            // 128-bit halves, which the permute puts back in order.
            const __m256i packed = _mm256_packus_epi32(encode8(in + i), encode8(in + i + 8));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + size_t(i) * 2),
                                _mm256_permute4x64_epi64(packed, 0xD8));
        }
    } else {
        for (; i + 8 <= n; i += 8)
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + size_t(i) * 4), encode8(in + i));
    }
    encodeRowPortable(l, in + i, n - i, out + size_t(i) * l.bytes);
}

}  // namespace veld::gpusim
