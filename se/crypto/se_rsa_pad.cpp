// RSA paddings of PKCS #1 v2.1 (RFC 8017): v1.5 encryption (EME-PKCS1-v1_5), OAEP
// (EME-OAEP with MGF1 and an empty label) and PSS (EMSA-PSS), with MGF1 over the library's
// SHA functions.
//
// Decryption checks its padding with masks rather than branches and copies the message out
// of a fixed window, so every failure - whatever its cause - takes the same path and returns
// the same -1.
#include <algorithm>
#include <cstring>

#include "se_crypto_hash.h"
#include "se_crypto_rsa.h"
#include "se_random.h"
#include "se_rsa.h"

namespace veld::se::rsa {
namespace {

using Digest = int32_t (*)(uint8_t*, const uint8_t*, int32_t);

struct Hash {
    Digest digest;
    int length;
};

constexpr int kMaxHash = 64;
const uint8_t kEmptyLabel[1] = {0};

Hash hashBySelector(int32_t selector) {
    return selector == 2 ? Hash{SE_SHA256_Digest, 32} : Hash{SE_SHA1_Digest, 20};
}

bool hashByLength(int32_t length, Hash& out) {
    switch (length) {
    case 20: out = {SE_SHA1_Digest, 20}; return true;
    case 28: out = {SE_SHA224_Digest, 28}; return true;
    case 32: out = {SE_SHA256_Digest, 32}; return true;
    case 48: out = {SE_SHA384_Digest, 48}; return true;
    case 64: out = {SE_SHA512_Digest, 64}; return true;
    default: return false;
    }
}

// XORs MGF1(seed) over `length` bytes of `buf`.
void mgf1Xor(const Hash& h, uint8_t* buf, size_t length, const uint8_t* seed, size_t seedLength) {
    uint8_t input[kMaxModulusBytes + 4];
    std::memcpy(input, seed, seedLength);
    uint8_t block[kMaxHash];
    for (uint32_t counter = 0; length > 0; ++counter) {
        input[seedLength] = static_cast<uint8_t>(counter >> 24);
        input[seedLength + 1] = static_cast<uint8_t>(counter >> 16);
        input[seedLength + 2] = static_cast<uint8_t>(counter >> 8);
        input[seedLength + 3] = static_cast<uint8_t>(counter);
        h.digest(block, input, static_cast<int32_t>(seedLength + 4));
        const size_t take = std::min<size_t>(length, static_cast<size_t>(h.length));
        for (size_t i = 0; i < take; ++i) buf[i] ^= block[i];
        buf += take;
        length -= take;
    }
}

void wipe(void* p, size_t n) {
    volatile uint8_t* v = static_cast<volatile uint8_t*>(p);
    while (n--) *v++ = 0;
}

// Constant-time helpers on 32-bit masks (all ones for true).
inline uint32_t ctIsZero(uint32_t x) { return ((~x & (x - 1)) >> 31) * 0xFFFFFFFFu; }
inline uint32_t ctEq(uint32_t a, uint32_t b) { return ctIsZero(a ^ b); }
// a >= b for values below 2^31.
inline uint32_t ctGe(uint32_t a, uint32_t b) { return ((a - b) >> 31) - 1u; }
inline uint32_t ctSelect(uint32_t mask, uint32_t a, uint32_t b) { return (a & mask) | (b & ~mask); }

// Moves buf[shift..len) to the front (zero-filling the end) in time independent of `shift`
// (< len), by shifting in powers of two under masks.
void ctShiftLeft(uint8_t* buf, size_t len, uint32_t shift) {
    for (size_t step = 1; step < len; step <<= 1) {
        const uint32_t mask = 0u - ((shift / static_cast<uint32_t>(step)) & 1u);
        for (size_t i = 0; i < len; ++i) {
            const uint8_t moved = i + step < len ? buf[i + step] : 0;
            buf[i] = static_cast<uint8_t>(ctSelect(mask, moved, buf[i]));
        }
    }
}

// Common tail of both decryptions: the message of `good` padding sits in em[from..k) where
// `from` is secret; it is moved out of a window starting at em[minFrom] without a branch.
int32_t releaseMessage(uint8_t* out, uint8_t* em, int k, int minFrom, uint32_t from, uint32_t good) {
    const size_t window = static_cast<size_t>(k - minFrom);
    const uint32_t shift = ctSelect(good, from - static_cast<uint32_t>(minFrom), 0);
    ctShiftLeft(em + minFrom, window, shift);
    const int32_t length = static_cast<int32_t>(ctSelect(good, static_cast<uint32_t>(k) - from, 0));
    // From here on the outcome is public: the caller learns it from the result anyway.
    const bool ok = good != 0;
    if (ok) std::memcpy(out, em + minFrom, static_cast<size_t>(length));
    wipe(em, static_cast<size_t>(k));
    return ok ? length : -1;
}

int32_t encryptV15(uint8_t* out, const uint8_t* in, int32_t length) {
    const int k = modulusLength();
    if (k == 0 || !out || length < 0 || (length > 0 && !in) || length > k - 11) return -1;
    uint8_t em[kMaxModulusBytes];
    const int ps = k - length - 3;
    em[0] = 0;
    em[1] = 2;
    if (randomBytes(em + 2, static_cast<size_t>(ps)) != 0) return -1;
    // Zero bytes would end the padding early: draw them again so the string stays uniform
    // over the non-zero bytes.
    // A source that keeps answering zeros is broken; give up rather than spin.
    for (int i = 2; i < 2 + ps; ++i) {
        for (int attempt = 0; em[i] == 0; ++attempt) {
            if (attempt == 64 || randomBytes(em + i, 1) != 0) return -1;
        }
    }
    em[2 + ps] = 0;
    if (length > 0) std::memcpy(em + 3 + ps, in, static_cast<size_t>(length));
    const int32_t r = rawOperation(out, em, k, false);
    wipe(em, sizeof em);
    return r;
}

int32_t decryptV15(uint8_t* out, const uint8_t* in, int32_t length) {
    const int k = modulusLength();
    if (k < 11 || !out) return -1;
    uint8_t em[kMaxModulusBytes];
    if (rawOperation(em, in, length, true) != k) return -1;

    uint32_t good = ctEq(em[0], 0) & ctEq(em[1], 2);
    uint32_t looking = ~0u;
    uint32_t zeroAt = 0;
    for (int i = 2; i < k; ++i) {
        const uint32_t isZero = ctIsZero(em[i]);
        zeroAt = ctSelect(looking & isZero, static_cast<uint32_t>(i), zeroAt);
        looking &= ~isZero;
    }
    good &= ~looking;
    good &= ctGe(zeroAt, 10);  // at least eight padding bytes
    return releaseMessage(out, em, k, 11, zeroAt + 1, good);
}

int32_t encryptOaep(uint8_t* out, const uint8_t* in, int32_t length, int32_t selector,
                    const uint8_t* seed) {
    const Hash h = hashBySelector(selector);
    const int k = modulusLength();
    const int hl = h.length;
    if (k == 0 || !out || length < 0 || (length > 0 && !in) || k < 2 * hl + 2 ||
        length > k - 2 * hl - 2) {
        return -1;
    }
    uint8_t em[kMaxModulusBytes];
    uint8_t* maskedSeed = em + 1;
    uint8_t* db = em + 1 + hl;
    const size_t dbLen = static_cast<size_t>(k - hl - 1);
    em[0] = 0;
    if (seed) {
        std::memcpy(maskedSeed, seed, static_cast<size_t>(hl));
    } else if (randomBytes(maskedSeed, static_cast<size_t>(hl)) != 0) {
        return -1;
    }
    h.digest(db, kEmptyLabel, 0);  // hash of the empty label
    std::memset(db + hl, 0, dbLen - static_cast<size_t>(hl));
    db[dbLen - static_cast<size_t>(length) - 1] = 1;
    if (length > 0) std::memcpy(db + dbLen - length, in, static_cast<size_t>(length));
    mgf1Xor(h, db, dbLen, maskedSeed, static_cast<size_t>(hl));
    mgf1Xor(h, maskedSeed, static_cast<size_t>(hl), db, dbLen);
    const int32_t r = rawOperation(out, em, k, false);
    wipe(em, sizeof em);
    return r;
}

int32_t decryptOaep(uint8_t* out, const uint8_t* in, int32_t length, int32_t selector) {
    const Hash h = hashBySelector(selector);
    const int k = modulusLength();
    const int hl = h.length;
    if (k == 0 || !out || k < 2 * hl + 2) {
        consumeKey();
        return -1;
    }
    uint8_t em[kMaxModulusBytes];
    if (rawOperation(em, in, length, true) != k) return -1;
    uint8_t* seed = em + 1;
    uint8_t* db = em + 1 + hl;
    const size_t dbLen = static_cast<size_t>(k - hl - 1);
    mgf1Xor(h, seed, static_cast<size_t>(hl), db, dbLen);
    mgf1Xor(h, db, dbLen, seed, static_cast<size_t>(hl));

    uint8_t lHash[kMaxHash];
    h.digest(lHash, kEmptyLabel, 0);
    uint32_t good = ctIsZero(em[0]);
    for (int i = 0; i < hl; ++i) good &= ctEq(db[i], lHash[i]);
    // After the label hash: zeros, then 0x01, then the message.
    uint32_t looking = ~0u;
    uint32_t oneAt = 0;
    for (size_t i = static_cast<size_t>(hl); i < dbLen; ++i) {
        const uint32_t isZero = ctIsZero(db[i]);
        const uint32_t isOne = ctEq(db[i], 1);
        const uint32_t here = looking & ~isZero;
        good &= ~here | isOne;
        oneAt = ctSelect(here, static_cast<uint32_t>(i), oneAt);
        looking &= isZero;
    }
    good &= ~looking;
    // Message starts after the 0x01 byte: em offset 1 + hl + oneAt + 1.
    const int minFrom = 2 * hl + 2;
    return releaseMessage(out, em, k, minFrom, static_cast<uint32_t>(1 + hl + 1) + oneAt, good);
}

struct PssLayout {
    Hash h;
    int k = 0;       // representative length
    int emLen = 0;   // encoded message length (k or k - 1)
    int topBits = 0; // bits to clear in the first encoded byte
};

bool pssLayout(int32_t modulusBits, int32_t hashLength, PssLayout& l) {
    if (modulusBits < 16 || modulusBits > kMaxModulusBytes * 8) return false;
    if (!hashByLength(hashLength, l.h)) return false;
    const int emBits = modulusBits - 1;
    l.k = (modulusBits + 7) / 8;
    l.emLen = (emBits + 7) / 8;
    l.topBits = 8 * l.emLen - emBits;
    return true;
}

// H = Hash(8 zero bytes || mHash || salt).
void pssHash(const Hash& h, uint8_t* out, const uint8_t* mHash, const uint8_t* salt, int saltLen) {
    uint8_t m[8 + kMaxHash + kMaxModulusBytes] = {};
    std::memcpy(m + 8, mHash, static_cast<size_t>(h.length));
    if (saltLen > 0) std::memcpy(m + 8 + h.length, salt, static_cast<size_t>(saltLen));
    h.digest(out, m, 8 + h.length + saltLen);
}

int32_t addPss(uint8_t* out, int32_t modulusBits, const uint8_t* mHash, int32_t hashLength,
               int32_t saltLength) {
    PssLayout l;
    if (!out || !mHash || !pssLayout(modulusBits, hashLength, l)) return -1;
    const int hl = l.h.length;
    if (saltLength < 0 || l.emLen < hl + saltLength + 2) return -1;
    uint8_t* em = out + (l.k - l.emLen);
    if (l.k != l.emLen) out[0] = 0;
    const int dbLen = l.emLen - hl - 1;
    uint8_t salt[kMaxModulusBytes] = {};
    if (saltLength > 0 && randomBytes(salt, static_cast<size_t>(saltLength)) != 0) return -1;
    uint8_t* hOut = em + dbLen;
    pssHash(l.h, hOut, mHash, salt, saltLength);
    std::memset(em, 0, static_cast<size_t>(dbLen - saltLength - 1));
    em[dbLen - saltLength - 1] = 1;
    if (saltLength > 0) std::memcpy(em + dbLen - saltLength, salt, static_cast<size_t>(saltLength));
    mgf1Xor(l.h, em, static_cast<size_t>(dbLen), hOut, static_cast<size_t>(hl));
    em[0] &= static_cast<uint8_t>(0xFF >> l.topBits);
    em[l.emLen - 1] = 0xBC;
    return l.k;
}

int32_t verifyPss(const uint8_t* message, int32_t length, int32_t modulusBits,
                  const uint8_t* mHash, int32_t hashLength, int32_t saltLength) {
    PssLayout l;
    if (!message || !mHash || !pssLayout(modulusBits, hashLength, l) || length != l.k) return -1;
    const int hl = l.h.length;
    if (saltLength < -1 || l.emLen < hl + std::max(saltLength, 0) + 2) return -1;
    if (l.k != l.emLen && message[0] != 0) return -1;
    const uint8_t* emIn = message + (l.k - l.emLen);
    if (emIn[l.emLen - 1] != 0xBC) return -1;
    if ((emIn[0] & static_cast<uint8_t>(0xFF00 >> l.topBits)) != 0) return -1;
    const int dbLen = l.emLen - hl - 1;
    uint8_t db[kMaxModulusBytes];
    std::memcpy(db, emIn, static_cast<size_t>(dbLen));
    const uint8_t* hIn = emIn + dbLen;
    mgf1Xor(l.h, db, static_cast<size_t>(dbLen), hIn, static_cast<size_t>(hl));
    db[0] &= static_cast<uint8_t>(0xFF >> l.topBits);
    int one = 0;
    while (one < dbLen && db[one] == 0) ++one;
    if (one == dbLen || db[one] != 1) return -1;
    const int salt = dbLen - one - 1;
    if (saltLength >= 0 && salt != saltLength) return -1;
    uint8_t hCheck[kMaxHash];
    pssHash(l.h, hCheck, mHash, db + one + 1, salt);
    return std::memcmp(hCheck, hIn, static_cast<size_t>(hl)) == 0 ? 0 : -1;
}

}  // namespace
}  // namespace veld::se::rsa

using namespace veld::se::rsa;

extern "C" {

int32_t SE_RSA_15_Encrypt(uint8_t* out, const uint8_t* in, int32_t length) {
    const int32_t r = encryptV15(out, in, length);
    consumeKey();
    return r;
}

int32_t SE_RSA_15_Decrypt(uint8_t* out, const uint8_t* in, int32_t length) {
    const int32_t r = decryptV15(out, in, length);
    consumeKey();
    return r;
}

int32_t SE_RSA_OAEP_Encrypt(uint8_t* out, const uint8_t* in, int32_t length, int32_t hash) {
    return SE_RSA_OAEP_EncryptWithSeed(out, in, length, hash, nullptr);
}

int32_t SE_RSA_OAEP_EncryptWithSeed(uint8_t* out, const uint8_t* in, int32_t length,
                                    int32_t hash, const uint8_t* seed) {
    const int32_t r = encryptOaep(out, in, length, hash, seed);
    consumeKey();
    return r;
}

int32_t SE_RSA_OAEP_Decrypt(uint8_t* out, const uint8_t* in, int32_t length, int32_t hash) {
    const int32_t r = decryptOaep(out, in, length, hash);
    consumeKey();
    return r;
}

int32_t SE_RSA_AddPKCS1PSS(uint8_t* out, int32_t modulusBits, const uint8_t* hash,
                           int32_t hashLength, int32_t saltLength) {
    return addPss(out, modulusBits, hash, hashLength, saltLength);
}

int32_t SE_RSA_VerifyPKCS1PSS(const uint8_t* message, int32_t length, int32_t modulusBits,
                              const uint8_t* hash, int32_t hashLength, int32_t saltLength) {
    return verifyPss(message, length, modulusBits, hash, hashLength, saltLength);
}

}  // extern "C"
