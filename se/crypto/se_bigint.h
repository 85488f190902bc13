// Big integers of the crypto library: the value record that lives in the caller's work pool,
// the pool allocator, plain multi-precision arithmetic on 32-bit digits and the Montgomery
// engine (moduli, constant-time exponentiation, blinded CRT) that RSA and Diffie-Hellman use.
//
// Values are non-negative. Digits are 32 bits, least significant first. The Montgomery engine
// works on machine words ("limbs"): two digits per limb where the compiler offers a 128-bit
// product, one digit per limb otherwise, so the same code serves the 32-bit television and
// 64-bit PCs. Every buffer is sized for moduli of up to kMaxModulusBits; larger inputs are
// refused rather than truncated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// The value record as it sits in the pool: a header and then `capacity` digits. The public
// header only names the type; callers hold pointers into their pool.
struct SE_BigInt {
    uint16_t length;     // digits in use, at least 1, normalised (no zero digit on top)
    uint16_t capacity;   // digits that follow the header
    uint8_t permanent;   // survives SE_BI_Free
    uint8_t inUse;       // 0 for a free block of the pool
    uint16_t reserved;
};
static_assert(sizeof(SE_BigInt) == 8);

namespace veld::se::bn {

constexpr int kMaxModulusBits = 4096;
constexpr int kMaxModulusDigits = kMaxModulusBits / 32;
// Products of two values modulo the largest modulus, and a little headroom.
constexpr int kMaxValueDigits = 2 * kMaxModulusDigits + 2;
constexpr size_t kPoolSize = 32768;
constexpr int kModuliSlots = 4;

// VELD_SE_LIMB32 forces the 32-bit limbs of the television on any host (to test them).
#if defined(__SIZEOF_INT128__) && !defined(VELD_SE_LIMB32)
using Limb = uint64_t;
using WideLimb = unsigned __int128;
#else
using Limb = uint32_t;
using WideLimb = uint64_t;
#endif
constexpr int kLimbBits = static_cast<int>(sizeof(Limb) * 8);
constexpr int kDigitsPerLimb = kLimbBits / 32;
constexpr int kMaxModulusLimbs = kMaxModulusBits / kLimbBits;

inline uint32_t* digitsOf(SE_BigInt* v) { return reinterpret_cast<uint32_t*>(v + 1); }
inline const uint32_t* digitsOf(const SE_BigInt* v) {
    return reinterpret_cast<const uint32_t*>(v + 1);
}
inline std::span<const uint32_t> view(const SE_BigInt* v) { return {digitsOf(v), v->length}; }

// ---- pool ------------------------------------------------------------------------------------

// Takes the caller's pool (kPoolSize bytes); null forgets it. Clears nothing in it.
void poolAttach(void* pool);
bool poolAttached();
// Wipes the whole pool and forgets every value.
void poolClear();
// A zero value with room for `digits` digits; null when the pool is missing or full or the
// size is out of range.
SE_BigInt* allocValue(int digits);
// Releases a value (wiping its digits); permanent values are kept unless `force`.
void freeValue(SE_BigInt* v, bool force = false);
// True for a pointer to a live value of the attached pool.
bool isValue(const SE_BigInt* v);
// A new value holding `digits` (normalised); null when the pool is full or it is too long.
SE_BigInt* makeValue(std::span<const uint32_t> digits);

// ---- digits (variable time; for public values and set-up) ------------------------------------

int normLength(std::span<const uint32_t> a);  // at least 1
int bitLength(std::span<const uint32_t> a);   // 0 for zero
int compare(std::span<const uint32_t> a, std::span<const uint32_t> b);
// r gets max(|a|,|b|)+1 digits.
void add(uint32_t* r, std::span<const uint32_t> a, std::span<const uint32_t> b);
// a >= b; r gets |a| digits.
void subtract(uint32_t* r, std::span<const uint32_t> a, std::span<const uint32_t> b);
// r (distinct from a and b) gets |a|+|b| digits. No branch depends on digit values.
void multiply(uint32_t* r, std::span<const uint32_t> a, std::span<const uint32_t> b);
// q gets |a|-|b|+1 digits (when |a| >= |b|), rem gets |b| digits. |a| <= kMaxValueDigits + 1,
// b normalised and non-zero; returns false otherwise. Either output may be null.
bool divide(uint32_t* q, uint32_t* rem, std::span<const uint32_t> a, std::span<const uint32_t> b);

// Big-endian bytes to digits: `out` gets ceil(length/4) digits.
void bytesToDigits(uint32_t* out, const uint8_t* in, size_t length);
// Digits to exactly `length` big-endian bytes; false when the value does not fit.
bool digitsToBytes(uint8_t* out, size_t length, std::span<const uint32_t> a);

// ---- Montgomery engine -----------------------------------------------------------------------

struct Mont {
    int limbs = 0;  // 0: not set
    int bits = 0;
    Limb m0inv = 0;  // -m^-1 mod 2^kLimbBits
    Limb mod[kMaxModulusLimbs] = {};
    Limb rr[kMaxModulusLimbs] = {};  // R^2 mod m, R = 2^(limbs * kLimbBits)
};

// Prepares an odd modulus of 3..kMaxModulusBits bits; false otherwise.
bool montSetup(Mont& m, std::span<const uint32_t> modulus);
void montClear(Mont& m);

// r = base^exponent mod m. `base` is any value (reduced first); `exponentBits` bits of
// `exponent` are scanned. With `secret` the scan has a fixed pattern and table look-ups read
// every entry, so the time does not depend on the exponent or the base; the window table is
// taken from the pool. r gets m's digit count. False when the pool is short.
bool modPower(uint32_t* r, std::span<const uint32_t> base, std::span<const uint32_t> exponent,
              int exponentBits, const Mont& m, bool secret);

// r = c^d mod p*q from dp, dq and qinv, in constant time, with both exponents blinded by
// random multiples of p-1 and q-1. c < p*q, qinv < p; p and q have equal limb counts.
// r gets 2 * (p's limb count) * kDigitsPerLimb digits. False on bad input or a short pool.
bool crtPower(uint32_t* r, std::span<const uint32_t> c, const Mont& p, const Mont& q,
              std::span<const uint32_t> dp, std::span<const uint32_t> dq,
              std::span<const uint32_t> qinv);

// The row function (t += a * b over a row of limbs) under every product of the engine: the
// portable one, or the CPU family's own (mulx/adcx/adox on x86-64 with BMI2 and ADX, UMAAL
// on 32-bit ARM). The fast one is chosen when built and runnable, unless
// VELD_CRYPTO_PORTABLE=1; tests and benchmarks may switch (not while another thread computes).
enum class RowEngine { kPortable, kFast };
const char* rowEngineName(RowEngine e);  // "portable", "adx", "umaal"; null when not built
bool rowEngineRunnable(RowEngine e);
RowEngine rowEngine();
void setRowEngine(RowEngine e);  // ignored when not runnable

// The moduli table of the C interface (slot 0 the RSA modulus, 1 and 2 its primes).
const Mont* modulusSlot(int index);

}  // namespace veld::se::bn
