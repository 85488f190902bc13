// The AVX-512 row engine (see row_engines.h): sixteen working values a step, narrowed to
// 16 bits with one instruction for the 2-byte layouts. Compiled with -mavx512f -mavx512bw;
// it includes nothing with inline functions that a baseline file could share.
#include <immintrin.h>

#include "row_engines.h"

namespace veld::gpusim {

void encodeRowAvx512(const PixelLayout& l, const uint32_t* in, uint32_t n, uint8_t* out) {
    const ChannelMoves m = channelMoves(l);
    const __m512i k0 = _mm512_set1_epi32(int(m.mask[0])), k1 = _mm512_set1_epi32(int(m.mask[1]));
    const __m512i k2 = _mm512_set1_epi32(int(m.mask[2])), k3 = _mm512_set1_epi32(int(m.mask[3]));
    uint32_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m512i c = _mm512_loadu_si512(in + i);
        const __m512i a = _mm512_and_si512(_mm512_sll_epi32(_mm512_srl_epi32(c, m.right[0]), m.left[0]), k0);
        const __m512i r = _mm512_and_si512(_mm512_sll_epi32(_mm512_srl_epi32(c, m.right[1]), m.left[1]), k1);
        const __m512i g = _mm512_and_si512(_mm512_sll_epi32(_mm512_srl_epi32(c, m.right[2]), m.left[2]), k2);
        const __m512i b = _mm512_and_si512(_mm512_sll_epi32(_mm512_srl_epi32(c, m.right[3]), m.left[3]), k3);
        const __m512i v = _mm512_or_si512(_mm512_or_si512(a, r), _mm512_or_si512(g, b));
        if (l.bytes == 2)
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + size_t(i) * 2), _mm512_cvtepi32_epi16(v));
        else
            _mm512_storeu_si512(out + size_t(i) * 4, v);
    }
    encodeRowPortable(l, in + i, n - i, out + size_t(i) * l.bytes);
}

}  // namespace veld::gpusim
