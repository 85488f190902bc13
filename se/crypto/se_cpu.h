// CPU features of the crypto engines and the switches that override the engine choice.
//
// Every hardware engine of the library names the features it needs; the features of the
// running CPU are read once (CPUID on x86-64, getauxval(AT_HWCAP/AT_HWCAP2) on ARM). Two
// environment variables steer the choice, for tests and benchmarks:
//   VELD_CRYPTO_PORTABLE=1   every algorithm runs its portable engine (VELD_AES_PORTABLE=1,
//                            the older name, does the same);
//   VELD_AES_ENGINE=<names>  AES runs the first engine of the comma-separated list that the
//                            CPU can run ("table" selects the table engine, which is never
//                            chosen otherwise).
#pragma once

#include <cstdint>
#include <string>

namespace veld::se::cpu {

enum Feature : uint32_t {
    kSsse3 = 1u << 0,
    kAesNi = 1u << 1,
    kAvx2 = 1u << 2,
    kVaes = 1u << 3,
    kShaNi = 1u << 4,
    kGfni = 1u << 5,
    kBmi2 = 1u << 6,
    kAdx = 1u << 7,
    kNeon = 1u << 8,
    kArmAes = 1u << 9,
    kArmSha1 = 1u << 10,
    kArmSha2 = 1u << 11,
};

// The features of the running CPU.
uint32_t features();

// True when the running CPU has every feature in `required`.
inline bool has(uint32_t required) { return (features() & required) == required; }

// True when VELD_CRYPTO_PORTABLE=1 (or VELD_AES_PORTABLE=1) is set.
bool forcePortable();

// The value of VELD_AES_ENGINE, or null.
const char* aesEngineOverride();

// The features of the running CPU as names ("aes vaes avx2 sha_ni ..."), for benchmark output.
std::string describe();

}  // namespace veld::se::cpu
