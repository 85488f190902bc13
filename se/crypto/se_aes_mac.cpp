// AES message authentication codes: AES-CMAC (NIST SP 800-38B, RFC 4493) and AES-XCBC-MAC
// (RFC 3566). Both are a CBC-MAC whose last block is masked with one of two subkeys, chosen by
// whether that block is complete; they differ in how the subkeys and the chaining key are
// derived and in the padding of an incomplete last block (both pad 0x80 then zeros).
#include <algorithm>
#include <cstring>

#include "se_aes_modes.h"
#include "se_crypto_sym.h"

namespace veld::se::aes {
namespace {

void secureZero(void* p, size_t n) {
    volatile uint8_t* b = static_cast<volatile uint8_t*>(p);
    while (n--) *b++ = 0;
}

// Doubling in GF(2^128) with the polynomial x^128 + x^7 + x^2 + x + 1 (Rb = 0x87), in
// constant time with respect to the secret value.
void doubleBlock(uint8_t* out, const uint8_t* in) {
    const uint8_t carry = static_cast<uint8_t>(in[0] >> 7);
    for (size_t i = 0; i + 1 < kBlockSize; ++i) {
        out[i] = static_cast<uint8_t>((in[i] << 1) | (in[i + 1] >> 7));
    }
    out[kBlockSize - 1] =
        static_cast<uint8_t>((in[kBlockSize - 1] << 1) ^ (0x87 & (0u - carry)));
}

// CBC-MAC from a zero chain over `data`, the last block (complete or padded) XORed with
// `completeKey` or `partialKey`.
void maskedCbcMac(const Schedule& ks, const uint8_t* completeKey, const uint8_t* partialKey,
                  const uint8_t* data, size_t length, uint8_t* mac) {
    uint8_t chain[kBlockSize] = {};
    // Every block but the last goes through the chain; an empty message has one padded block.
    const size_t leading = length == 0 ? 0 : (length - 1) / kBlockSize;
    uint8_t scratch[16 * kBlockSize];
    for (size_t done = 0; done < leading;) {
        const size_t n = std::min(leading - done, sizeof scratch / kBlockSize);
        engine().encryptCbc(ks, chain, scratch, data + done * kBlockSize, n);
        done += n;
    }
    const size_t lastLength = length - leading * kBlockSize;
    uint8_t last[kBlockSize] = {};
    if (length) std::memcpy(last, data + leading * kBlockSize, lastLength);
    const uint8_t* subkey = completeKey;
    if (lastLength < kBlockSize) {
        last[lastLength] = 0x80;
        subkey = partialKey;
    }
    for (size_t i = 0; i < kBlockSize; ++i) last[i] ^= subkey[i];
    engine().encryptCbc(ks, chain, mac, last, 1);
    secureZero(scratch, sizeof scratch);
    secureZero(last, sizeof last);
}

bool validMacArgs(const uint8_t* out, const uint8_t* key, const uint8_t* data, int32_t length) {
    return out && key && length >= 0 && (data || length == 0);
}

}  // namespace
}  // namespace veld::se::aes

using namespace veld::se::aes;

extern "C" {

int32_t SE_AES128_CMAC(uint8_t* out, const uint8_t* key, const uint8_t* data, int32_t length) {
    if (!validMacArgs(out, key, data, length)) return -1;
    if (SE_AES_SetKey(key, 16, nullptr) != 0) return -1;
    const Schedule* ks = moduleSchedule();
    uint8_t k1[kBlockSize], k2[kBlockSize];
    engine().encryptEcb(*ks, k1, SE_ZERO_IV, 1);  // L = AES(K, 0)
    doubleBlock(k1, k1);
    doubleBlock(k2, k1);
    maskedCbcMac(*ks, k1, k2, data, static_cast<size_t>(length), out);
    secureZero(k1, sizeof k1);
    secureZero(k2, sizeof k2);
    return 0;
}

int32_t SE_AES_XCBCMAC(uint8_t* out, const uint8_t* key, const uint8_t* data, int32_t length) {
    if (!validMacArgs(out, key, data, length)) return -1;
    if (SE_AES_SetKey(key, 16, nullptr) != 0) return -1;
    // K1, K2, K3 = AES(K, 0x01..), AES(K, 0x02..), AES(K, 0x03..).
    uint8_t constants[3 * kBlockSize];
    for (size_t i = 0; i < 3; ++i) std::memset(constants + i * kBlockSize, int(i + 1), kBlockSize);
    uint8_t derived[3 * kBlockSize];
    engine().encryptEcb(*moduleSchedule(), derived, constants, 3);
    SE_AES_SetKey(derived, 16, nullptr);
    maskedCbcMac(*moduleSchedule(), derived + kBlockSize, derived + 2 * kBlockSize, data,
                 static_cast<size_t>(length), out);
    secureZero(derived, sizeof derived);
    return 0;
}

}  // extern "C"
