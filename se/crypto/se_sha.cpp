// The exported SHA-1 / SHA-2 functions over the module-wide hash states, the run-time
// selectable Hasher and the one-shot digests.
//
// The library keeps one streaming state for SHA-1, one shared by SHA-224 and SHA-256 and one
// shared by SHA-384 and SHA-512; callers serialise their use. The states start out ready for
// SHA-1, SHA-256 and SHA-512, so an Update before any Init still hashes a real message.
#include "se_sha.h"

#include "se_crypto_hash.h"

namespace veld::se::sha {

Hasher::Hasher(Algorithm a) : algorithm_(a) {
    switch (a) {
    case Algorithm::Sha224: sha256_.start(kSha224Iv); break;
    case Algorithm::Sha384: sha512_.start(kSha384Iv); break;
    default: break;
    }
}

void Hasher::update(const uint8_t* data, size_t length) {
    switch (algorithm_) {
    case Algorithm::Sha1: sha1_.update(data, length); break;
    case Algorithm::Sha224:
    case Algorithm::Sha256: sha256_.update(data, length); break;
    case Algorithm::Sha384:
    case Algorithm::Sha512: sha512_.update(data, length); break;
    }
}

void Hasher::finish(uint8_t* out) {
    switch (algorithm_) {
    case Algorithm::Sha1: sha1_.finish(out, size()); break;
    case Algorithm::Sha224:
    case Algorithm::Sha256: sha256_.finish(out, size()); break;
    case Algorithm::Sha384:
    case Algorithm::Sha512: sha512_.finish(out, size()); break;
    }
}

void Hasher::clear() {
    sha1_.clear();
    sha256_.clear();
    sha512_.clear();
}

void digest(Algorithm a, std::span<const uint8_t> data, uint8_t* out) {
    Hasher h(a);
    h.update(data);
    h.finish(out);
}

namespace {

Sha1Context gSha1{kSha1Iv};
Sha256Context gSha256{kSha256Iv};  // shared by SHA-224 and SHA-256
Sha512Context gSha512{kSha512Iv};  // shared by SHA-384 and SHA-512

bool validInput(const uint8_t* data, int32_t length) { return length >= 0 && (data || length == 0); }

template <class Context>
int32_t updateState(Context& ctx, const uint8_t* data, int32_t length) {
    if (!validInput(data, length)) return -1;
    ctx.update(data, static_cast<size_t>(length));
    return 0;
}

template <class Context>
int32_t doneState(Context& ctx, uint8_t* out, size_t size) {
    if (!out) return -1;
    ctx.finish(out, size);
    return 0;
}

int32_t oneShot(Algorithm a, uint8_t* out, const uint8_t* data, int32_t length) {
    if (!out || !validInput(data, length)) return -1;
    Hasher h(a);
    h.update(data, static_cast<size_t>(length));
    h.finish(out);
    return 0;
}

}  // namespace
}  // namespace veld::se::sha

using namespace veld::se::sha;

extern "C" {

int32_t SE_SHA1_Init(void) {
    gSha1.start(kSha1Iv);
    return 0;
}
int32_t SE_SHA1_Update(const uint8_t* data, int32_t length) { return updateState(gSha1, data, length); }
int32_t SE_SHA1_Done(uint8_t* out) { return doneState(gSha1, out, SE_SHA1_DIGEST_SIZE); }

int32_t SE_SHA224_Init(void) {
    gSha256.start(kSha224Iv);
    return 0;
}
int32_t SE_SHA224_Update(const uint8_t* data, int32_t length) { return updateState(gSha256, data, length); }
int32_t SE_SHA224_Done(uint8_t* out) { return doneState(gSha256, out, SE_SHA224_DIGEST_SIZE); }

int32_t SE_SHA256_Init(void) {
    gSha256.start(kSha256Iv);
    return 0;
}
int32_t SE_SHA256_Update(const uint8_t* data, int32_t length) { return updateState(gSha256, data, length); }
int32_t SE_SHA256_Done(uint8_t* out) { return doneState(gSha256, out, SE_SHA256_DIGEST_SIZE); }

int32_t SE_SHA384_Init(void) {
    gSha512.start(kSha384Iv);
    return 0;
}
int32_t SE_SHA384_Update(const uint8_t* data, int32_t length) { return updateState(gSha512, data, length); }
int32_t SE_SHA384_Done(uint8_t* out) { return doneState(gSha512, out, SE_SHA384_DIGEST_SIZE); }

int32_t SE_SHA512_Init(void) {
    gSha512.start(kSha512Iv);
    return 0;
}
int32_t SE_SHA512_Update(const uint8_t* data, int32_t length) { return updateState(gSha512, data, length); }
int32_t SE_SHA512_Done(uint8_t* out) { return doneState(gSha512, out, SE_SHA512_DIGEST_SIZE); }

int32_t SE_SHA1_Digest(uint8_t* out, const uint8_t* data, int32_t length) {
    return oneShot(Algorithm::Sha1, out, data, length);
}
int32_t SE_SHA224_Digest(uint8_t* out, const uint8_t* data, int32_t length) {
    return oneShot(Algorithm::Sha224, out, data, length);
}
int32_t SE_SHA256_Digest(uint8_t* out, const uint8_t* data, int32_t length) {
    return oneShot(Algorithm::Sha256, out, data, length);
}
int32_t SE_SHA384_Digest(uint8_t* out, const uint8_t* data, int32_t length) {
    return oneShot(Algorithm::Sha384, out, data, length);
}
int32_t SE_SHA512_Digest(uint8_t* out, const uint8_t* data, int32_t length) {
    return oneShot(Algorithm::Sha512, out, data, length);
}

}  // extern "C"
