// The simulated trusted world's RSA operation (command 98, see tw_world.h): a raw private or
// public operation under a 2,048-bit key that the trusted world makes on first use and never
// shows.
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <cstring>

#include "tw_world.h"

namespace veld::tw {
namespace {

constexpr uint32_t kModulusBytes = 256;
constexpr int32_t kIllegalArgument = -8005;
constexpr int32_t kFail = -8000;

}  // namespace

int32_t World::rsa() {
    uint32_t* p = param();
    const uint32_t direction = p[0], length = p[5];
    uint8_t* src = physical(p[3], length);
    uint8_t* dst = physical(p[4], kModulusBytes);
    if (direction > 1 || length != kModulusBytes || !src || !dst) {
        debugText("rsa: 256 bytes in and out, inside the window");
        return kIllegalArgument;
    }
    if (!rsaKey_) rsaKey_ = EVP_RSA_gen(2048);
    if (!rsaKey_) return kFail;
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(rsaKey_, nullptr);
    size_t outLength = kModulusBytes;
    uint8_t out[kModulusBytes];
    const bool ok = ctx &&
                    (direction == 0 ? EVP_PKEY_decrypt_init(ctx) : EVP_PKEY_encrypt_init(ctx)) == 1 &&
                    EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_NO_PADDING) == 1 &&
                    (direction == 0 ? EVP_PKEY_decrypt(ctx, out, &outLength, src, length)
                                    : EVP_PKEY_encrypt(ctx, out, &outLength, src, length)) == 1;
    EVP_PKEY_CTX_free(ctx);
    if (!ok) {
        debugText("rsa: the input is not below the modulus");
        return kIllegalArgument;
    }
    std::memcpy(dst, out, outLength);
    p[6] = static_cast<uint32_t>(outLength);
    dmaUsage_ += 2 * kModulusBytes;
    return 0;
}

}  // namespace veld::tw
