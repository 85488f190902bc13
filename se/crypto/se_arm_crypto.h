// The ARMv8 crypto extensions for the engines that use them (se_aes_arm.cpp, se_sha_arm.cpp):
// the code generation switch for the file and the NEON intrinsics, on AArch64 and on AArch32
// (ARMv8 cores running the 32-bit armhf system). Include first, and only from those files:
// everything after it may use the extensions, so it must run only after the engine switch has
// checked the CPU's capability words.
#pragma once

#if defined(__aarch64__)
#pragma GCC target("+crypto")
#define VELD_ARM_CRYPTO 1
#elif defined(__arm__) && !defined(__SOFTFP__)
#pragma GCC target("arch=armv8-a,fpu=crypto-neon-fp-armv8")
#define VELD_ARM_CRYPTO 1
#endif

#if defined(VELD_ARM_CRYPTO)
#include <arm_neon.h>
#endif
