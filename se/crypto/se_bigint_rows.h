// The fast row function of the Montgomery engine for this CPU family: t[0..n) += a[0..n) * b,
// returning the carry limb (the portable one is in se_bigint_arith.cpp). Defines
// VELD_SE_FAST_ROW when the build has one.
//   x86-64 with BMI2 and ADX: MULX leaves the flags alone, so ADCX (carry flag) adds the
//     row's old limbs and ADOX (overflow flag) the previous high halves, two carry chains that
//     never wait on each other. The loop counts with LEA/JRCXZ, which keep the flags too.
//   32-bit ARM (ARMv6 and later): UMAAL computes a*b + t + c in one instruction.
#pragma once

#include "se_bigint.h"
#include "se_cpu.h"

namespace veld::se::bn {

#if defined(__x86_64__) && defined(__GNUC__) && !defined(VELD_SE_LIMB32)
#define VELD_SE_FAST_ROW 1

struct FastRow {
    static constexpr const char* kName = "adx";
    static bool runnable() { return cpu::has(cpu::kBmi2 | cpu::kAdx); }
    static inline Limb run(Limb* t, const Limb* a, Limb b, int n) {
        if (n <= 0) return 0;
        Limb carry, lo, hi;
        size_t single = static_cast<size_t>(n) % 4, quads = static_cast<size_t>(n) / 4;
#define VELD_ADX_STEP(off)                        \
    "mulxq " off "(%[a]), %[lo], %[hi]\n\t"     \
    "adcxq " off "(%[t]), %[lo]\n\t"            \
    "adoxq %[c], %[lo]\n\t"                     \
    "movq %[lo], " off "(%[t])\n\t"             \
    "movq %[hi], %[c]\n\t"
        __asm__ volatile(
            "xorl %k[c], %k[c]\n\t"  // c = 0; clears CF and OF
            "jrcxz 3f\n"
            "1:\n\t"                 // n % 4 single limbs
            VELD_ADX_STEP("0")
            "leaq 8(%[a]), %[a]\n\t"
            "leaq 8(%[t]), %[t]\n\t"
            "leaq -1(%[n]), %[n]\n\t"
            "jrcxz 3f\n\t"
            "jmp 1b\n"
            "3:\n\t"
            "movq %[q], %[n]\n\t"
            "jrcxz 5f\n"
            "4:\n\t"                 // then four limbs per turn
            VELD_ADX_STEP("0")
            VELD_ADX_STEP("8")
            VELD_ADX_STEP("16")
            VELD_ADX_STEP("24")
            "leaq 32(%[a]), %[a]\n\t"
            "leaq 32(%[t]), %[t]\n\t"
            "leaq -1(%[n]), %[n]\n\t"
            "jrcxz 5f\n\t"
            "jmp 4b\n"
            "5:\n\t"
            "movl $0, %k[lo]\n\t"
            "adcxq %[lo], %[c]\n\t"
            "adoxq %[lo], %[c]"
            : [c] "=&r"(carry), [lo] "=&r"(lo), [hi] "=&r"(hi), [a] "+r"(a), [t] "+r"(t),
              [n] "+c"(single)
            : "d"(b), [q] "r"(quads)
            : "cc", "memory");
#undef VELD_ADX_STEP
        return carry;
    }
};

#elif defined(__arm__) && defined(__GNUC__) && __ARM_ARCH >= 6 && !defined(__thumb1__)
#define VELD_SE_FAST_ROW 1

struct FastRow {
    static constexpr const char* kName = "umaal";
    static bool runnable() { return true; }
    static inline Limb run(Limb* __restrict t, const Limb* __restrict a, Limb b, int n) {
        Limb c = 0;
#pragma GCC unroll 4
        for (int j = 0; j < n; ++j) {
            Limb lo = t[j];
            __asm__("umaal %[lo], %[c], %[a], %[b]" : [lo] "+r"(lo), [c] "+r"(c) : [a] "r"(a[j]), [b] "r"(b));
            t[j] = lo;
        }
        return c;
    }
};

#endif

}  // namespace veld::se::bn
