// The byte permute and the helpers of se_aes_vperm_core.h on one 128-bit x86 register, for the
// SSSE3 engine and for the AVX2 engine's single blocks (which get the VEX encoding from their
// file's target). No include guard: included once per engine, inside its namespace.
using V = __m128i;
inline V load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const V*>(p)); }
inline V broadcast16(const uint8_t* p) { return load(p); }
inline void store(uint8_t* p, V v) { _mm_storeu_si128(reinterpret_cast<V*>(p), v); }
inline V vxor(V a, V b) { return _mm_xor_si128(a, b); }
// t[index] per byte; an index with its top bit set gives 0.
inline V lookup(V t, V index) { return _mm_shuffle_epi8(t, index); }
inline V lowNibbles(V x) { return _mm_and_si128(x, _mm_set1_epi8(0x0f)); }
inline V highNibbles(V x) { return _mm_and_si128(_mm_srli_epi16(x, 4), _mm_set1_epi8(0x0f)); }
