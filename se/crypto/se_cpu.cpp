// CPU feature detection for the crypto engines: CPUID (with the operating system's AVX state
// check) on x86-64, the kernel's hardware capability words on 32- and 64-bit ARM.
#include "se_cpu.h"

#include <cstdlib>
#include <cstring>

#if defined(__x86_64__)
#include <cpuid.h>
#elif defined(__aarch64__) || defined(__arm__)
#include <sys/auxv.h>
#endif

namespace veld::se::cpu {
namespace {

#if defined(__x86_64__)

// YMM state enabled by the operating system (XCR0 bits 1 and 2).
bool osSavesYmm() {
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_OSXSAVE)) return false;
    unsigned lo, hi;
    __asm__("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    return (lo & 6u) == 6u;
}

uint32_t detect() {
    uint32_t f = 0;
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return 0;
    if (c & bit_SSSE3) f |= kSsse3;
    if ((c & bit_AES) && (c & bit_SSSE3)) f |= kAesNi;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return f;
    const bool ymm = osSavesYmm();
    if ((b & bit_AVX2) && ymm) f |= kAvx2;
    if ((c & bit_VAES) && (f & kAvx2) && (f & kAesNi)) f |= kVaes;
    if ((b & bit_SHA) && (f & kSsse3)) f |= kShaNi;
    if (c & bit_GFNI) f |= kGfni;
    if (b & bit_BMI2) f |= kBmi2;
    if (b & bit_ADX) f |= kAdx;
    return f;
}

#elif defined(__aarch64__)

uint32_t detect() {
    const unsigned long hw = getauxval(AT_HWCAP);
    uint32_t f = 0;
    if (hw & (1ul << 1)) f |= kNeon;      // HWCAP_ASIMD
    if (hw & (1ul << 3)) f |= kArmAes;    // HWCAP_AES
    if (hw & (1ul << 5)) f |= kArmSha1;   // HWCAP_SHA1
    if (hw & (1ul << 6)) f |= kArmSha2;   // HWCAP_SHA2
    return f;
}

#elif defined(__arm__)

uint32_t detect() {
    const unsigned long hw = getauxval(AT_HWCAP), hw2 = getauxval(AT_HWCAP2);
    uint32_t f = 0;
    if (hw & (1ul << 12)) f |= kNeon;      // HWCAP_NEON
    if (!(f & kNeon)) return f;            // the crypto instructions live in the NEON unit
    if (hw2 & (1ul << 0)) f |= kArmAes;    // HWCAP2_AES
    if (hw2 & (1ul << 2)) f |= kArmSha1;   // HWCAP2_SHA1
    if (hw2 & (1ul << 3)) f |= kArmSha2;   // HWCAP2_SHA2
    return f;
}

#else

uint32_t detect() { return 0; }

#endif

bool flagSet(const char* name) {
    const char* v = std::getenv(name);
    return v && v[0] == '1';
}

}  // namespace

uint32_t features() {
    static const uint32_t f = detect();
    return f;
}

bool forcePortable() { return flagSet("VELD_CRYPTO_PORTABLE") || flagSet("VELD_AES_PORTABLE"); }

const char* aesEngineOverride() {
    const char* v = std::getenv("VELD_AES_ENGINE");
    return v && *v ? v : nullptr;
}

std::string describe() {
    static const struct {
        Feature f;
        const char* name;
    } kNames[] = {{kSsse3, "ssse3"}, {kAesNi, "aes"},        {kAvx2, "avx2"},
                  {kVaes, "vaes"},   {kShaNi, "sha_ni"},     {kGfni, "gfni"},
                  {kBmi2, "bmi2"},   {kAdx, "adx"},          {kNeon, "neon"},
                  {kArmAes, "aes"},  {kArmSha1, "sha1"},     {kArmSha2, "sha2"}};
    std::string out;
    for (const auto& n : kNames) {
        if (!has(n.f)) continue;
        if (!out.empty()) out += ' ';
        out += n.name;
    }
    return out.empty() ? "(none)" : out;
}

}  // namespace veld::se::cpu
