// What the VAES engine (se_aes_vaes.cpp) takes from the AES-NI engine (se_aes_ni.cpp): the
// round keys as byte vectors and the serial operations, which gain nothing from wider
// registers. x86-64 only.
#pragma once

#if defined(__x86_64__)

#include <immintrin.h>

#include "se_aes.h"

#define VELD_AESNI __attribute__((target("aes,ssse3")))

namespace veld::se::aes::ni {

// Round keys in the instructions' byte order, wiped when the bulk call ends.
struct Keys {
    __m128i rk[kMaxRounds + 1];
    int rounds;
    VELD_AESNI Keys(const uint32_t* words, int rounds);
    VELD_AESNI ~Keys();
    Keys(const Keys&) = delete;
    Keys& operator=(const Keys&) = delete;
};

void encryptCbc(const Schedule& ks, uint8_t* iv, uint8_t* out, const uint8_t* in,
                size_t blocks);
void encryptEcb(const Schedule& ks, uint8_t* out, const uint8_t* in, size_t blocks);
void decryptEcb(const Schedule& ks, uint8_t* out, const uint8_t* in, size_t blocks);
void decryptCbc(const Schedule& ks, uint8_t* iv, uint8_t* out, const uint8_t* in,
                size_t blocks);
void ctr(const Schedule& ks, uint8_t* counter, uint8_t* out, const uint8_t* in, size_t blocks);

// The 128-bit big-endian counter as two native halves, and back.
struct Counter {
    uint64_t hi, lo;
    explicit Counter(const uint8_t* bytes);
    void store(uint8_t* bytes) const;
};

}  // namespace veld::se::aes::ni

#endif
