// Constant-time AES engine for x86 CPUs with the Galois-field instructions (GFNI) and SSSE3:
// the engine of se_aes_gfni.h over the instructions themselves. It does not use the AES
// instructions; it is chosen at run time when the CPU reports GFNI, and VELD_AES_PORTABLE=1
// forces the portable engine instead (se_aes.cpp).
#include "se_aes.h"

#if defined(__x86_64__)

#include <cpuid.h>
#include <immintrin.h>

#include <initializer_list>

#define VELD_GFNI __attribute__((target("gfni,ssse3")))

namespace veld::se::aes {
namespace {

template <int kImm>
VELD_GFNI inline __m128i affineInverse(__m128i x, __m128i matrix) {
    return _mm_gf2p8affineinv_epi64_epi8(x, matrix, kImm);
}

template <int kImm>
VELD_GFNI inline __m128i affine(__m128i x, __m128i matrix) {
    return _mm_gf2p8affine_epi64_epi8(x, matrix, kImm);
}

VELD_GFNI inline __m128i gfMultiply(__m128i a, __m128i b) { return _mm_gf2p8mul_epi8(a, b); }

}  // namespace

#include "se_aes_gfni.h"

namespace {

constexpr Engine kGfni = gfniEngine("gfni");

bool cpuHasGfni() {
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_SSSE3)) return false;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
    return (c & (1u << 8)) != 0;  // CPUID.(EAX=7,ECX=0):ECX bit 8 = GFNI
}

}  // namespace

const Engine* hardwareEngine() {
    static const bool available = cpuHasGfni();
    return available ? &kGfni : nullptr;
}

}  // namespace veld::se::aes

#else  // not x86-64

namespace veld::se::aes {

const Engine* hardwareEngine() { return nullptr; }

}  // namespace veld::se::aes

#endif
