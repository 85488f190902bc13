// Helpers shared by the symmetric-cipher tests: hex conversion, random bytes and a one-shot
// OpenSSL cipher call used as the independent reference.
#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace symtest {

using Bytes = std::vector<uint8_t>;

inline Bytes hex(std::string_view text) {
    Bytes out;
    int high = -1;
    for (char c : text) {
        int v;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        else continue;  // spaces group the digits
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<uint8_t>(high << 4 | v));
            high = -1;
        }
    }
    return out;
}

inline Bytes randomBytes(std::mt19937& rng, size_t n) {
    Bytes out(n);
    for (auto& b : out) b = static_cast<uint8_t>(rng());
    return out;
}

// Runs `cipher` once over `data` without padding (data must be whole blocks for block modes).
inline Bytes sslCrypt(const EVP_CIPHER* cipher, const Bytes& key, const uint8_t* iv,
                      const Bytes& data, bool encrypt, const OSSL_PARAM* params = nullptr) {
    if (!cipher) throw std::runtime_error("cipher not available");
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    Bytes out(data.size() + 32);
    int n1 = 0, n2 = 0;
    const bool ok =
        EVP_CipherInit_ex2(ctx, cipher, key.data(), iv, encrypt ? 1 : 0, params) == 1 &&
        EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
        EVP_CipherUpdate(ctx, out.data(), &n1, data.data(), static_cast<int>(data.size())) == 1 &&
        EVP_CipherFinal_ex(ctx, out.data() + n1, &n2) == 1;
    EVP_CIPHER_CTX_free(ctx);
    if (!ok) throw std::runtime_error("OpenSSL cipher failed");
    out.resize(static_cast<size_t>(n1 + n2));
    return out;
}

}  // namespace symtest
