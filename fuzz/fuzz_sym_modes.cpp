// Round trips every symmetric mode on fuzzer-chosen keys, vectors and lengths: decryption must
// restore the input, in place or not, and nothing may touch memory outside the buffers
// (the sanitizers watch that).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "se_crypto_sym.h"

namespace {

using CryptFn = int32_t (*)(uint8_t*, const uint8_t*, int32_t);

struct ModePair {
    CryptFn encrypt;
    CryptFn decrypt;
};

const ModePair kAesModes[] = {
    {SE_AES_EncryptECB, SE_AES_DecryptECB},       {SE_AES_EncryptCBC, SE_AES_DecryptCBC},
    {SE_AES_EncryptCTR, SE_AES_DecryptCTR},       {SE_AES_EncryptCBCCTS, SE_AES_DecryptCBCCTS},
    {SE_AES_EncryptCBCOFB, SE_AES_DecryptCBCOFB},
};
const ModePair kDesModes[] = {
    {SE_DES_EncryptECB, SE_DES_DecryptECB},
    {SE_DES_EncryptCBC, SE_DES_DecryptCBC},
};
const ModePair kTdesModes[] = {
    {SE_TDES_EncryptECB, SE_TDES_DecryptECB},
    {SE_TDES_EncryptCBC, SE_TDES_DecryptCBC},
};

void roundTrip(const ModePair& m, bool aes, bool inPlace, const uint8_t* iv,
               const uint8_t* data, size_t n) {
    // Exactly sized heap buffers so that any overrun is reported.
    std::vector<uint8_t> enc(data, data + n), dec(n);
    const auto len = static_cast<int32_t>(n);
    if (aes) SE_AES_SetIV(iv); else SE_DES_SetIV(iv);
    if (m.encrypt(enc.data(), inPlace ? enc.data() : data, len) < 0) std::abort();
    if (aes) SE_AES_SetIV(iv); else SE_DES_SetIV(iv);
    if (inPlace) {
        dec = enc;
        if (m.decrypt(dec.data(), dec.data(), len) < 0) std::abort();
    } else if (m.decrypt(dec.data(), enc.data(), len) < 0) {
        std::abort();
    }
    if (n && std::memcmp(dec.data(), data, n) != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 + 32 + 16) return 0;
    const uint8_t control = data[0];
    const uint8_t* key = data + 1;
    const uint8_t* iv = data + 33;
    const uint8_t* payload = data + 49;
    const size_t n = size - 49;
    const bool inPlace = control & 0x80;
    switch (control % 4) {
        case 0:
        case 1:
            if (SE_AES_SetKey(key, control % 4 ? 32 : 16, iv) != 0) std::abort();
            for (const auto& m : kAesModes) roundTrip(m, true, inPlace, iv, payload, n);
            break;
        case 2:
            if (SE_DES_SetKey(key, 8, iv) != 0) std::abort();
            for (const auto& m : kDesModes) roundTrip(m, false, inPlace, iv, payload, n);
            break;
        default:
            if (SE_DES_SetKey(key, 24, iv) != 0) std::abort();
            for (const auto& m : kTdesModes) roundTrip(m, false, inPlace, iv, payload, n);
            break;
    }
    uint8_t mac[16];
    if (SE_AES128_CMAC(mac, key, payload, static_cast<int32_t>(n)) != 0) std::abort();
    if (SE_AES_XCBCMAC(mac, key, payload, static_cast<int32_t>(n)) != 0) std::abort();
    return 0;
}
