// libFuzzer target for the DER key readers (PKCS #1 public and private, PKCS #8, PKCS #3),
// the public-key writer and the Diffie-Hellman blob.
//
// Every reader writes into a heap buffer of exactly its documented size so the sanitizers
// catch a write past it. What a reader accepts must import (RSA) or take a private value (DH),
// and a public key it accepts must write out and read back to the same blob.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "se_crypto_rsa.h"

namespace {

[[noreturn]] void fail() { __builtin_trap(); }

using Reader = int32_t (*)(uint8_t*, const uint8_t*, int32_t);

std::vector<uint8_t>& pool() {
    static std::vector<uint8_t> p(SE_BI_POOL_SIZE);
    return p;
}

// Runs one reader; returns the blob it produced (empty on failure).
std::vector<uint8_t> run(Reader reader, const uint8_t* data, size_t size, size_t room) {
    std::unique_ptr<uint8_t[]> out(new uint8_t[room]);
    const int32_t n = reader(out.get(), data, static_cast<int32_t>(size));
    if (n < -1 || n > static_cast<int32_t>(room)) fail();
    if (n <= 0) return {};
    return std::vector<uint8_t>(out.get(), out.get() + n);
}

void checkPublicRoundTrip(const std::vector<uint8_t>& blob) {
    const int32_t size = SE_RSA_ExportPKCS1_PublicKey(nullptr, blob.data(), static_cast<int32_t>(blob.size()));
    if (size <= 0 || size > static_cast<int32_t>(blob.size()) + 10) fail();
    std::unique_ptr<uint8_t[]> der(new uint8_t[static_cast<size_t>(size)]);
    if (SE_RSA_ExportPKCS1_PublicKey(der.get(), blob.data(), static_cast<int32_t>(blob.size())) != size) fail();
    const std::vector<uint8_t> back = run(SE_RSA_ReadPKCS1_PublicKey, der.get(), static_cast<size_t>(size),
                                          static_cast<size_t>(size));
    // Blobs from the readers carry minimal fields, so n and e come back byte for byte.
    size_t prefix = 0;
    for (int i = 0; i < 2; ++i) prefix += 2 + (blob[prefix] | (blob[prefix + 1] << 8));
    if (back.size() != prefix || std::memcmp(back.data(), blob.data(), prefix) != 0) fail();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 8192) return 0;
    SE_RSA_Init(pool().data());

    for (Reader reader : {SE_RSA_ReadPKCS1_PublicKey, SE_RSA_ReadPKCS1_PrivateKey, SE_RSA_ReadPKCS8}) {
        const std::vector<uint8_t> blob = run(reader, data, size, size);
        if (blob.empty()) continue;
        checkPublicRoundTrip(blob);
        // The key may still be refused (even modulus, p q != n, ...), but never misread.
        if (SE_RSA_SetKey(blob.data(), static_cast<int32_t>(blob.size())) == 0) {
            if (SE_RSA_Exponentiation(nullptr, nullptr, 0, 0) <= 0) fail();
        }
    }

    std::vector<uint8_t> dh = run(SE_RSA_ReadPKCS3, data, size, 2 * size);
    if (!dh.empty() && SE_RSA_GenDiffieHellmanKey(dh.data(), static_cast<int32_t>(dh.size())) !=
                           static_cast<int32_t>(dh.size())) {
        fail();
    }

    // The input as a blob for the writer and the key import.
    const int32_t size32 = static_cast<int32_t>(size);
    const int32_t derSize = SE_RSA_ExportPKCS1_PublicKey(nullptr, data, size32);
    if (derSize > size32 + 10) fail();
    if (derSize > 0) {
        std::unique_ptr<uint8_t[]> der(new uint8_t[static_cast<size_t>(derSize)]);
        if (SE_RSA_ExportPKCS1_PublicKey(der.get(), data, size32) != derSize) fail();
    }
    std::vector<uint8_t> copy(data, data + size);
    SE_RSA_GenDiffieHellmanKey(copy.data(), size32);
    SE_RSA_SetKey(data, size32);
    SE_RSA_Init(nullptr);
    return 0;
}
