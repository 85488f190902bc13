// The GFNI AES engine on every x86-64 CPU, with or without GFNI: the engine's body built over
// a software model of the three Galois-field instructions it uses and checked against the
// portable engine, and the model itself checked against the instructions: against outputs
// recorded on a CPU with GFNI everywhere, and against the instructions themselves on every
// input where the CPU has them.
#include <gtest/gtest.h>

#if defined(__x86_64__)

#include <cpuid.h>
#include <immintrin.h>

#include <array>
#include <initializer_list>
#include <iostream>
#include <random>

#include "aes_engine_check.h"
#include "se_aes.h"

namespace veld::se::aes::gfni_model {
namespace {

using Lanes = std::array<uint8_t, 16>;

Lanes lanesOf(__m128i v) {
    Lanes b;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(b.data()), v);
    return b;
}

__m128i vectorOf(const Lanes& b) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(b.data())); }

// Multiplication in GF(2^8) modulo x^8 + x^4 + x^3 + x + 1.
uint8_t multiply(uint8_t a, uint8_t b) {
    uint8_t product = 0;
    for (; b != 0; b >>= 1) {
        if (b & 1) product ^= a;
        a = static_cast<uint8_t>(a << 1 ^ (a & 0x80 ? 0x1b : 0));
    }
    return product;
}

// The multiplicative inverse, 0 for 0, found by search once.
uint8_t inverse(uint8_t x) {
    static const std::array<uint8_t, 256> table = [] {
        std::array<uint8_t, 256> t{};
        for (int a = 1; a < 256; ++a)
            for (int b = 1; b < 256; ++b)
                if (multiply(static_cast<uint8_t>(a), static_cast<uint8_t>(b)) == 1) t[a] = static_cast<uint8_t>(b);
        return t;
    }();
    return table[x];
}

// Bit i of the result is the parity of (byte 7 - i of the lane's matrix AND the input byte),
// then XOR bit i of the constant; each 64-bit lane has its own matrix.
__m128i affineModel(__m128i x, __m128i matrix, uint8_t constant, bool invertFirst) {
    const Lanes in = lanesOf(x), m = lanesOf(matrix);
    Lanes out{};
    for (int j = 0; j < 16; ++j) {
        const uint8_t byte = invertFirst ? inverse(in[j]) : in[j];
        const int lane = j / 8;
        uint8_t result = 0;
        for (int bit = 0; bit < 8; ++bit) {
            const uint8_t row = m[8 * lane + 7 - bit];
            result |= static_cast<uint8_t>(__builtin_parity(row & byte) << bit);
        }
        out[j] = result ^ constant;
    }
    return vectorOf(out);
}

// The three operations the engine's body asks for, over the model; the rest is SSSE3.
#define VELD_GFNI __attribute__((target("ssse3")))

template <int kImm>
__m128i affineInverse(__m128i x, __m128i matrix) {
    return affineModel(x, matrix, kImm, true);
}

template <int kImm>
__m128i affine(__m128i x, __m128i matrix) {
    return affineModel(x, matrix, kImm, false);
}

__m128i gfMultiply(__m128i a, __m128i b) {
    const Lanes x = lanesOf(a), y = lanesOf(b);
    Lanes out{};
    for (int j = 0; j < 16; ++j) out[j] = multiply(x[j], y[j]);
    return vectorOf(out);
}

}  // namespace

#include "se_aes_gfni.h"

#undef VELD_GFNI

namespace {

constexpr Engine kModelled = gfniEngine("gfni over the model");

bool cpuHas(unsigned leaf1Ecx, unsigned leaf7Ecx) {
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d) || (c & leaf1Ecx) != leaf1Ecx) return false;
    return leaf7Ecx == 0 || (__get_cpuid_count(7, 0, &a, &b, &c, &d) && (c & leaf7Ecx) == leaf7Ecx);
}

bool cpuHasGfni() { return cpuHas(bit_SSSE3, 1u << 8); }

#define VELD_REAL_GFNI __attribute__((target("gfni,ssse3")))

template <int kImm>
VELD_REAL_GFNI __m128i realAffineInverse(__m128i x, __m128i matrix) {
    return _mm_gf2p8affineinv_epi64_epi8(x, matrix, kImm);
}

template <int kImm>
VELD_REAL_GFNI __m128i realAffine(__m128i x, __m128i matrix) {
    return _mm_gf2p8affine_epi64_epi8(x, matrix, kImm);
}

VELD_REAL_GFNI __m128i realMultiply(__m128i a, __m128i b) { return _mm_gf2p8mul_epi8(a, b); }

TEST(AesGfniModel, MatchesOutputsRecordedOnAGfniCpu) {
    Lanes x, y;
    for (int i = 0; i < 16; ++i) {
        x[i] = static_cast<uint8_t>(i * 37 + 11);
        y[i] = static_cast<uint8_t>(i * 91 + 200);
    }
    const __m128i matrix = _mm_set_epi64x(static_cast<long long>(0x8f3ac5102e7749b1ull), 0x0123456789abcdefll);
    EXPECT_EQ(lanesOf(affine<0x5a>(vectorOf(x), matrix)),
              (Lanes{0xff, 0xf0, 0xa5, 0x66, 0xc3, 0xaa, 0xc3, 0xcc, 0x94, 0xc7, 0xa5, 0x5e, 0x58, 0x6f, 0x15, 0x44}));
    EXPECT_EQ(lanesOf(affineInverse<0xa5>(vectorOf(x), matrix)),
              (Lanes{0x99, 0x33, 0xc3, 0x99, 0x0f, 0xc3, 0xff, 0x00, 0x15, 0x5c, 0x3c, 0x42, 0x15, 0xe8, 0x0d, 0x75}));
    EXPECT_EQ(lanesOf(gfMultiply(vectorOf(x), vectorOf(y))),
              (Lanes{0x59, 0x0a, 0x8e, 0x86, 0x1f, 0xf1, 0x3c, 0x9b, 0xd2, 0x14, 0xf6, 0xc1, 0x53, 0x25, 0x56, 0x08}));
    // The textbook pair: 0x53 and 0xca are inverses, and SubBytes(0x53) is 0xed.
    EXPECT_EQ(inverse(0x53), 0xca);
    EXPECT_EQ(lanesOf(affineInverse<0x63>(_mm_set1_epi8(0x53), _mm_set1_epi64x(static_cast<long long>(kAffine))))[0], 0xed);
}

TEST(AesGfniModel, MatchesTheInstructionsWhereTheCpuHasThem) {
    if (!cpuHasGfni()) {
        // Said out loud rather than skipped: the recorded outputs above stand in for the CPU.
        std::cout << "[   NOTE   ] no GFNI on this CPU: the model is checked against recorded outputs only\n";
        return;
    }
    std::mt19937_64 rng(7);
    for (int round = 0; round < 64; ++round) {
        Lanes bytes;
        for (int i = 0; i < 16; ++i) bytes[i] = static_cast<uint8_t>(16 * round + i);  // every byte value
        const __m128i x = vectorOf(bytes);
        const __m128i matrix = _mm_set_epi64x(static_cast<long long>(rng()), static_cast<long long>(rng()));
        const __m128i y = _mm_set_epi64x(static_cast<long long>(rng()), static_cast<long long>(rng()));
        EXPECT_EQ(lanesOf(affine<0x05>(x, matrix)), lanesOf(realAffine<0x05>(x, matrix))) << round;
        EXPECT_EQ(lanesOf(affineInverse<0x63>(x, matrix)), lanesOf(realAffineInverse<0x63>(x, matrix))) << round;
        EXPECT_EQ(lanesOf(affineInverse<0>(x, matrix)), lanesOf(realAffineInverse<0>(x, matrix))) << round;
        EXPECT_EQ(lanesOf(gfMultiply(x, y)), lanesOf(realMultiply(x, y))) << round;
    }
}

TEST(AesGfniEngine, OverTheModelMatchesPortableOnEveryCpu) {
    // SSSE3 is all the modelled engine needs; every x86-64 CPU of the last fifteen years has it.
    ASSERT_TRUE(cpuHas(bit_SSSE3, 0)) << "the GFNI engine's body needs SSSE3";
    symtest::expectSameEngine(portableEngine(), kModelled);
}

}  // namespace
}  // namespace veld::se::aes::gfni_model

#endif  // __x86_64__
