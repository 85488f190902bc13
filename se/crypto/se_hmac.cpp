// HMAC (RFC 2104) for the crypto library and the exported SE_HMAC_* functions.
//
// The module keeps one key (up to 128 bytes) set by SE_HMAC_SetKey; SE_HMAC_GetValue computes
// on private hash contexts, so a streaming SE_SHA* message in progress is not disturbed. Pads
// and intermediate digests are wiped before returning because they are key material.
#include "se_hmac.h"

#include <array>
#include <cstring>

#include "se_crypto_hash.h"

namespace veld::se::hmac {
namespace {

void wipe(void* p, size_t n) {
    volatile uint8_t* v = static_cast<volatile uint8_t*>(p);
    for (size_t i = 0; i < n; ++i) v[i] = 0;
}

struct ModuleKey {
    std::array<uint8_t, kMaxKeySize> bytes{};
    size_t length = 0;
};

ModuleKey gKey;

}  // namespace

sha::Algorithm algorithmForSelector(int32_t selector) {
    switch (selector) {
    case 1: return sha::Algorithm::Sha224;
    case 2: return sha::Algorithm::Sha256;
    case 3: return sha::Algorithm::Sha384;
    case 4: return sha::Algorithm::Sha512;
    default: return sha::Algorithm::Sha1;
    }
}

void compute(sha::Algorithm a, std::span<const uint8_t> key, std::span<const uint8_t> data, uint8_t* out) {
    const size_t block = sha::blockSize(a);
    const size_t size = sha::digestSize(a);
    uint8_t pad[sha::kMaxBlockSize] = {};
    uint8_t inner[sha::kMaxDigestSize];

    // The key zero-padded to the block; a longer key is replaced by its digest.
    if (key.size() > block) {
        sha::digest(a, key, pad);
    } else if (!key.empty()) {
        std::memcpy(pad, key.data(), key.size());
    }

    sha::Hasher h(a);
    for (size_t i = 0; i < block; ++i) pad[i] ^= 0x36;
    h.update(pad, block);
    h.update(data);
    h.finish(inner);

    for (size_t i = 0; i < block; ++i) pad[i] ^= 0x36 ^ 0x5C;
    h.update(pad, block);
    h.update(inner, size);
    h.finish(out);

    wipe(pad, sizeof pad);
    wipe(inner, sizeof inner);
    h.clear();
}

}  // namespace veld::se::hmac

using namespace veld::se;

extern "C" {

int32_t SE_HMAC_SetKey(const uint8_t* key, int32_t length) {
    if (length < 0 || static_cast<size_t>(length) > hmac::kMaxKeySize || (!key && length != 0)) return -1;
    auto& k = hmac::gKey;
    hmac::wipe(k.bytes.data(), k.bytes.size());
    if (length != 0) std::memcpy(k.bytes.data(), key, static_cast<size_t>(length));
    k.length = static_cast<size_t>(length);
    return 0;
}

int32_t SE_HMAC_GetValue(uint8_t* out, const uint8_t* data, int32_t length, int32_t selector) {
    if (!out || length < 0 || (!data && length != 0)) return -1;
    const auto& k = hmac::gKey;
    hmac::compute(hmac::algorithmForSelector(selector), std::span(k.bytes.data(), k.length),
                  std::span(data, static_cast<size_t>(length)), out);
    return 0;
}

}  // extern "C"
