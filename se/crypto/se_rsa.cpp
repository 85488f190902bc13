// RSA key import and raw exponentiation (PKCS #1 v2.1 RSAEP/RSADP): the module-wide key, its
// blob format, and the private operation with the Chinese remainder theorem when the primes
// are known. Private operations run in constant time with blinded exponents and are checked by
// the public operation before their result leaves, so a computing fault cannot leak a prime.
#include <algorithm>
#include <cstring>

#include "se_bigint.h"
#include "se_crypto_rsa.h"
#include "se_random.h"
#include "se_rsa.h"

namespace veld::se::rsa {
namespace {

using namespace veld::se::bn;

enum Field { kN, kE, kD, kP, kQ, kDp, kDq, kQinv, kFieldCount };

struct Key {
    SE_BigInt* field[kFieldCount] = {};
    int fields = 0;       // 2 (public), 3 (with d) or 8 (with the primes)
    int modulusBytes = 0;
    int modulusBits = 0;
};

Key gKey;

void forgetKey() {
    SE_BI_Terminate();
    gKey = Key{};
}

std::span<const uint32_t> part(Field f) { return view(gKey.field[f]); }

// Parses the blob into the pool; false for any malformed or out-of-range field.
bool importBlob(const uint8_t* blob, int32_t length) {
    size_t pos = 0;
    const size_t total = static_cast<size_t>(length);
    for (int f = 0; f < kFieldCount; ++f) {
        // A public key ends after e; a key without its primes ends after d.
        if ((f == kD || f == kP) && pos == total) break;
        if (total - pos < 2) return false;
        const size_t flen = blob[pos] | (static_cast<size_t>(blob[pos + 1]) << 8);
        pos += 2;
        if (flen == 0 || flen > total - pos) return false;
        SE_BigInt* v = SE_BI_Import(blob + pos, static_cast<int32_t>(flen));
        if (!v) return false;
        SE_BI_Permanent(v);
        gKey.field[f] = v;
        gKey.fields = f + 1;
        pos += flen;
    }
    return gKey.fields == 2 || gKey.fields == 3 || gKey.fields == kFieldCount;
}

bool validKey() {
    const auto n = part(kN);
    const int bits = bitLength(n);
    if (bits > kMaxModulusBits || (n[0] & 1) == 0 || bits < 2) return false;
    const uint32_t two = 2;
    if (compare(part(kE), {&two, 1}) < 0 || compare(part(kE), n) >= 0) return false;
    if (gKey.fields >= 3) {
        if (bitLength(part(kD)) == 0 || compare(part(kD), n) >= 0) return false;
    }
    if (gKey.fields == kFieldCount) {
        const auto p = part(kP), q = part(kQ);
        if (bitLength(p) < 2 || bitLength(q) < 2) return false;
        uint32_t pq[2 * kMaxModulusDigits + 2];
        if (p.size() + q.size() > std::size(pq)) return false;
        multiply(pq, p, q);
        if (compare({pq, p.size() + q.size()}, n) != 0) return false;
        if (compare(part(kDp), p) >= 0 || compare(part(kDq), q) >= 0 ||
            compare(part(kQinv), p) >= 0) {
            return false;
        }
    }
    return true;
}

// d' = d + k (e d - 1) for a random 64-bit k: e d - 1 is a multiple of the group exponent, so
// d' acts as d while its bits change on every call. `out` gets kMaxValueDigits + 4 digits.
bool blindPrivateExponent(uint32_t* out, size_t& digits) {
    const auto e = part(kE), d = part(kD);
    uint32_t ed[kMaxValueDigits + 2] = {};
    multiply(ed, e, d);
    const size_t edLen = e.size() + d.size();
    const uint32_t one = 1;
    subtract(ed, {ed, edLen}, {&one, 1});
    uint32_t k[2];
    if (veld::se::randomBytes(reinterpret_cast<uint8_t*>(k), sizeof k) != 0) return false;
    uint32_t prod[kMaxValueDigits + 4] = {};
    multiply(prod, {ed, edLen}, k);
    add(out, {prod, edLen + 2}, d);
    digits = edLen + 3;
    std::fill(std::begin(ed), std::end(ed), 0u);
    std::fill(std::begin(prod), std::end(prod), 0u);
    return true;
}

bool privatePower(uint32_t* r, std::span<const uint32_t> c, const Mont& mn) {
    if (gKey.fields < 3) return false;
    const Mont* p = modulusSlot(1);
    const Mont* q = modulusSlot(2);
    if (p && q && p->limbs == q->limbs) {
        return crtPower(r, c, *p, *q, part(kDp), part(kDq), part(kQinv));
    }
    uint32_t blinded[kMaxValueDigits + 4];
    size_t digits = 0;
    if (!blindPrivateExponent(blinded, digits)) return false;
    const int bits = bitLength(part(kE)) + bitLength(part(kD)) + 65;
    const bool ok = modPower(r, c, {blinded, digits}, bits, mn, true);
    std::fill(std::begin(blinded), std::end(blinded), 0u);
    return ok;
}

int32_t runOperation(uint8_t* out, const uint8_t* in, int32_t length, bool isPrivate) {
    if (!in || length < 1 || length > gKey.modulusBytes) return -1;
    const Mont* mn = modulusSlot(0);
    if (!mn) return -1;
    uint32_t c[kMaxModulusDigits];
    bytesToDigits(c, in, static_cast<size_t>(length));
    const std::span<const uint32_t> cs{c, (static_cast<size_t>(length) + 3) / 4};
    if (compare(cs, part(kN)) >= 0) return -1;

    const auto e = part(kE);
    uint32_t r[2 * kMaxModulusDigits] = {};
    if (!isPrivate) {
        if (!modPower(r, cs, e, bitLength(e), *mn, false)) return -1;
    } else {
        if (!privatePower(r, cs, *mn)) return -1;
        // Check the result with the public exponent before it leaves.
        uint32_t back[kMaxModulusDigits];
        const size_t nd = part(kN).size();
        if (!modPower(back, {r, nd}, e, bitLength(e), *mn, false) ||
            compare({back, static_cast<size_t>(mn->limbs * kDigitsPerLimb)}, cs) != 0) {
            std::fill(std::begin(r), std::end(r), 0u);
            return -1;
        }
    }
    const size_t outDigits = static_cast<size_t>(mn->limbs * kDigitsPerLimb);
    const bool ok = digitsToBytes(out, static_cast<size_t>(gKey.modulusBytes), {r, outDigits});
    std::fill(std::begin(r), std::end(r), 0u);
    return ok ? gKey.modulusBytes : -1;
}

}  // namespace

int modulusLength() { return gKey.modulusBytes; }
int modulusBits() { return gKey.modulusBits; }

void consumeKey() { forgetKey(); }

int32_t rawOperation(uint8_t* out, const uint8_t* in, int32_t length, bool isPrivate) {
    if (gKey.modulusBytes == 0) return -1;
    const int32_t result = out ? runOperation(out, in, length, isPrivate) : -1;
    forgetKey();
    return result;
}

}  // namespace veld::se::rsa

using namespace veld::se;

extern "C" {

void SE_RSA_Init(void* pool) {
    rsa::consumeKey();
    SE_BI_InitMem(pool);
}

int32_t SE_RSA_SetKey(const uint8_t* blob, int32_t length) {
    using namespace rsa;
    if (!bn::poolAttached()) return -1;
    forgetKey();
    if (!blob || length < 4 || SE_BI_Initialize() != 0 || !importBlob(blob, length) ||
        !validKey()) {
        forgetKey();
        return -1;
    }
    for (int slot = 0; slot < 3; ++slot) {
        if (slot > 0 && gKey.fields != kFieldCount) break;
        const SE_BigInt* m = gKey.field[slot == 0 ? kN : slot == 1 ? kP : kQ];
        if (SE_BI_SetMod(slot, m) != 0) {
            forgetKey();
            return -1;
        }
    }
    gKey.modulusBits = bn::bitLength(part(kN));
    gKey.modulusBytes = (gKey.modulusBits + 7) / 8;
    return 0;
}

int32_t SE_RSA_Exponentiation(uint8_t* out, const uint8_t* in, int32_t length, int32_t isPrivate) {
    if (!out) return rsa::modulusLength() > 0 ? rsa::modulusLength() : -1;
    return rsa::rawOperation(out, in, length, isPrivate != 0);
}

}  // extern "C"
