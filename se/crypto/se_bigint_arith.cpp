// Multi-precision arithmetic of the big-integer layer: schoolbook operations and long division
// on 32-bit digits (Knuth's algorithm D), and the Montgomery engine with fixed-window,
// constant-time exponentiation and the blinded Chinese-remainder private operation.
//
// The Montgomery multiplication is the interleaved (CIOS) form with a branch-free final
// subtraction; secret exponents are scanned in fixed windows whose table entries are read in
// full on every look-up, so neither the time nor the memory trace depends on secret bits.
#include <algorithm>
#include <cstring>

#include "se_bigint.h"
#include "se_bigint_rows.h"
#include "se_random.h"

namespace veld::se::bn {
namespace {

inline uint32_t lo32(uint64_t v) { return static_cast<uint32_t>(v); }

// All-ones when a == b, zero otherwise, without a branch.
inline Limb eqMask(Limb a, Limb b) {
    const Limb x = a ^ b;
    return ((x | (0 - x)) >> (kLimbBits - 1)) - 1;
}

void toLimbs(Limb* out, int limbs, std::span<const uint32_t> d) {
    std::fill(out, out + limbs, Limb{0});
    const size_t n = std::min(d.size(), static_cast<size_t>(limbs) * kDigitsPerLimb);
    for (size_t i = 0; i < n; ++i) {
        out[i / kDigitsPerLimb] |= static_cast<Limb>(d[i]) << (32 * (i % kDigitsPerLimb));
    }
}

void fromLimbs(uint32_t* d, int digits, const Limb* l, int limbs) {
    for (int i = 0; i < digits; ++i) {
        const int li = i / kDigitsPerLimb;
        d[i] = li < limbs ? static_cast<uint32_t>(l[li] >> (32 * (i % kDigitsPerLimb))) : 0;
    }
}

Limb addLimbs(Limb* r, const Limb* a, const Limb* b, int n) {
    Limb carry = 0;
    for (int i = 0; i < n; ++i) {
        const WideLimb s = static_cast<WideLimb>(a[i]) + b[i] + carry;
        r[i] = static_cast<Limb>(s);
        carry = static_cast<Limb>(s >> kLimbBits);
    }
    return carry;
}

Limb subLimbs(Limb* r, const Limb* a, const Limb* b, int n) {
    Limb borrow = 0;
    for (int i = 0; i < n; ++i) {
        const WideLimb s = static_cast<WideLimb>(a[i]) - b[i] - borrow;
        r[i] = static_cast<Limb>(s);
        borrow = static_cast<Limb>(s >> kLimbBits) & 1;
    }
    return borrow;
}

// r = mask ? a : b, limb by limb.
void selectLimbs(Limb* r, Limb mask, const Limb* a, const Limb* b, int n) {
    for (int i = 0; i < n; ++i) r[i] = (a[i] & mask) | (b[i] & ~mask);
}

// r = t - m when t (n limbs plus the top limb `top`) is at least m, else t; branch-free.
void finalSubtract(Limb* r, const Limb* t, Limb top, const Mont& m) {
    Limb d[kMaxModulusLimbs];
    const Limb borrow = subLimbs(d, t, m.mod, m.limbs);
    const Limb useDiff = top | (borrow ^ 1);
    selectLimbs(r, 0 - useDiff, d, t, m.limbs);
}

// t[0..n) += a[0..n) * b; returns the carry limb. Every product of the engine goes through
// one such row function, which keeps the carry chain in registers; each CPU family may have
// its own (se_bigint_rows.h), chosen once per process (rowEngine()).
struct PortableRow {
    static inline Limb run(Limb* __restrict t, const Limb* __restrict a, Limb b, int n) {
        Limb c = 0;
#if defined(__x86_64__) && defined(__GNUC__) && !defined(VELD_SE_LIMB32)
        // x86-64: one mul and two add/adc pairs per limb, a shape compilers do not find from
        // the portable code below (about a tenth faster for RSA).
        for (int j = 0; j < n; ++j) {
            Limb lo = a[j];
            Limb hi;
            __asm__("mulq %[b]\n\t"
                    "addq %[t], %[lo]\n\t"
                    "adcq $0, %[hi]\n\t"
                    "addq %[c], %[lo]\n\t"
                    "adcq $0, %[hi]"
                    : [lo] "+&a"(lo), [hi] "=&d"(hi)
                    : [b] "rm"(b), [t] "rm"(t[j]), [c] "rm"(c)
                    : "cc");
            t[j] = lo;
            c = hi;
        }
#else
#pragma GCC unroll 4
        for (int j = 0; j < n; ++j) {
            // Written as two single-limb additions with their carries so that compilers emit
            // add/adc pairs instead of full double-width arithmetic.
            const WideLimb p = static_cast<WideLimb>(a[j]) * b;
            Limb lo = static_cast<Limb>(p);
            Limb hi = static_cast<Limb>(p >> kLimbBits);
            lo += t[j];
            hi += lo < t[j];
            lo += c;
            hi += lo < c;
            t[j] = lo;
            c = hi;
        }
#endif
        return c;
    }
};

// r = a * b over n limbs each, 2n limbs out; r distinct from a and b.
template <class Row>
void mulLimbs(Limb* r, const Limb* a, const Limb* b, int n) {
    std::fill(r, r + 2 * n, Limb{0});
    for (int i = 0; i < n; ++i) r[i + n] = Row::run(r + i, a, b[i], n);
}

// r = a^2 over n limbs, 2n limbs out: the cross products once, doubled, plus the squares.
template <class Row>
void sqrLimbs(Limb* r, const Limb* a, int n) {
    std::fill(r, r + 2 * n, Limb{0});
    for (int i = 0; i + 1 < n; ++i) r[i + n] = Row::run(r + 2 * i + 1, a + i + 1, a[i], n - i - 1);
    Limb top = 0;
    for (int i = 0; i < 2 * n; ++i) {
        const Limb v = r[i];
        r[i] = (v << 1) | top;
        top = v >> (kLimbBits - 1);
    }
    Limb c = 0;
    for (int i = 0; i < n; ++i) {
        const WideLimb sq = static_cast<WideLimb>(a[i]) * a[i];
        WideLimb s = static_cast<WideLimb>(r[2 * i]) + static_cast<Limb>(sq) + c;
        r[2 * i] = static_cast<Limb>(s);
        s = static_cast<WideLimb>(r[2 * i + 1]) + static_cast<Limb>(sq >> kLimbBits) + (s >> kLimbBits);
        r[2 * i + 1] = static_cast<Limb>(s);
        c = static_cast<Limb>(s >> kLimbBits);
    }
}

// r = t * R^-1 mod m for a value t of 2n limbs below m*R (Montgomery reduction).
template <class Row>
void montReduceWith(Limb* r, const Limb* wide, const Mont& m) {
    const int n = m.limbs;
    Limb t[2 * kMaxModulusLimbs];
    std::copy(wide, wide + 2 * n, t);
    Limb top = 0;  // carry out of position i + n, owed to position i + n + 1
    for (int i = 0; i < n; ++i) {
        const Limb c = Row::run(t + i, m.mod, t[i] * m.m0inv, n);
        const WideLimb s = static_cast<WideLimb>(t[i + n]) + c + top;
        t[i + n] = static_cast<Limb>(s);
        top = static_cast<Limb>(s >> kLimbBits);
    }
    finalSubtract(r, t + n, top, m);
}

template <class Row>
void montMulWith(Limb* r, const Limb* a, const Limb* b, const Mont& m) {
    Limb wide[2 * kMaxModulusLimbs];
    mulLimbs<Row>(wide, a, b, m.limbs);
    montReduceWith<Row>(r, wide, m);
}

template <class Row>
void montSqrWith(Limb* r, const Limb* a, const Mont& m) {
    Limb wide[2 * kMaxModulusLimbs];
    sqrLimbs<Row>(wide, a, m.limbs);
    montReduceWith<Row>(r, wide, m);
}

RowEngine& selectedRows() {
    static RowEngine e = rowEngineRunnable(RowEngine::kFast) && !cpu::forcePortable()
                             ? RowEngine::kFast
                             : RowEngine::kPortable;
    return e;
}

// Calls f.template operator()<Row>() with the row function of the selected engine.
template <class F>
inline void withRows(F f) {
#if defined(VELD_SE_FAST_ROW)
    if (selectedRows() == RowEngine::kFast) return f.template operator()<FastRow>();
#endif
    f.template operator()<PortableRow>();
}

// r = a * b * R^-1 mod m for a, b with a*b < m*R; r may alias a or b.
void montMul(Limb* r, const Limb* a, const Limb* b, const Mont& m) {
    withRows([&]<class Row>() { montMulWith<Row>(r, a, b, m); });
}

// r = a^2 R^-1 mod m; r may alias a.
void montSqr(Limb* r, const Limb* a, const Mont& m) {
    withRows([&]<class Row>() { montSqrWith<Row>(r, a, m); });
}

void montReduce(Limb* r, const Limb* wide, const Mont& m) {
    withRows([&]<class Row>() { montReduceWith<Row>(r, wide, m); });
}

void mulLimbs(Limb* r, const Limb* a, const Limb* b, int n) {
    withRows([&]<class Row>() { mulLimbs<Row>(r, a, b, n); });
}

// Bits [pos, pos+width) of a digit string (zero beyond its end).
inline unsigned windowAt(std::span<const uint32_t> e, int pos, int width) {
    unsigned v = 0;
    for (int k = width - 1; k >= 0; --k) {
        const int bit = pos + k;
        const size_t di = static_cast<size_t>(bit) / 32;
        const unsigned b = di < e.size() ? (e[di] >> (bit % 32)) & 1u : 0u;
        v = (v << 1) | b;
    }
    return v;
}

int windowWidth(int bits) {
    if (bits > 512) return 5;
    if (bits > 160) return 4;
    if (bits > 32) return 3;
    return 1;
}

// Scoped pool block for scratch limbs; released (wiped) on every path.
class PoolScratch {
public:
    explicit PoolScratch(int limbs) {
        const long digits = static_cast<long>(limbs) * kDigitsPerLimb;
        block_ = digits <= 0xFFFF ? allocValue(static_cast<int>(digits)) : nullptr;
    }
    ~PoolScratch() {
        if (block_) freeValue(block_, true);
    }
    PoolScratch(const PoolScratch&) = delete;
    PoolScratch& operator=(const PoolScratch&) = delete;
    Limb* limbs() { return block_ ? reinterpret_cast<Limb*>(digitsOf(block_)) : nullptr; }

private:
    SE_BigInt* block_ = nullptr;
};

// One in Montgomery form: R mod m = montMul(1, R^2).
void montOne(Limb* one, const Mont& m) {
    Limb unit[kMaxModulusLimbs] = {1};
    montMul(one, unit, m.rr, m);
}

// r = a R^-1 mod m: back from Montgomery form with one reduction.
void montFrom(Limb* r, const Limb* a, const Mont& m) {
    Limb wide[2 * kMaxModulusLimbs] = {};
    std::copy(a, a + m.limbs, wide);
    montReduce(r, wide, m);
}

// acc = base^e in Montgomery form (base given in Montgomery form).
bool montPowerMont(Limb* acc, const Limb* baseM, std::span<const uint32_t> e, int ebits,
                   const Mont& m, bool secret) {
    const int n = m.limbs;
    if (!secret) {
        // Public exponent: left-to-right square and multiply from its top bit.
        int top = ebits - 1;
        while (top >= 0 && !windowAt(e, top, 1)) --top;
        if (top < 0) {
            montOne(acc, m);
            return true;
        }
        std::copy(baseM, baseM + n, acc);
        for (int bit = top - 1; bit >= 0; --bit) {
            montSqr(acc, acc, m);
            if (windowAt(e, bit, 1)) montMul(acc, acc, baseM, m);
        }
        return true;
    }
    Limb oneM[kMaxModulusLimbs];
    montOne(oneM, m);
    const int w = windowWidth(ebits);
    const int entries = 1 << w;
    PoolScratch scratch(entries * n);
    Limb* table = scratch.limbs();
    if (!table) return false;
    std::copy(oneM, oneM + n, table);
    std::copy(baseM, baseM + n, table + n);
    for (int i = 2; i < entries; ++i) montMul(table + i * n, table + (i - 1) * n, baseM, m);

    Limb pick[kMaxModulusLimbs];
    auto select = [&](unsigned index) {
        std::fill(pick, pick + n, Limb{0});
        for (int i = 0; i < entries; ++i) {
            const Limb mask = eqMask(static_cast<Limb>(i), index);
            const Limb* row = table + i * n;
            for (int j = 0; j < n; ++j) pick[j] |= row[j] & mask;
        }
    };
    const int windows = (ebits + w - 1) / w;
    select(windowAt(e, (windows - 1) * w, w));
    std::copy(pick, pick + n, acc);
    for (int k = windows - 2; k >= 0; --k) {
        for (int s = 0; s < w; ++s) montSqr(acc, acc, m);
        select(windowAt(e, k * w, w));
        montMul(acc, acc, pick, m);
    }
    return true;
}


}  // namespace

// ---- digits ----------------------------------------------------------------------------------

int normLength(std::span<const uint32_t> a) {
    size_t n = a.size();
    while (n > 1 && a[n - 1] == 0) --n;
    return n == 0 ? 1 : static_cast<int>(n);
}

int bitLength(std::span<const uint32_t> a) {
    for (size_t i = a.size(); i-- > 0;) {
        if (a[i] != 0) return static_cast<int>(i * 32) + 32 - __builtin_clz(a[i]);
    }
    return 0;
}

int compare(std::span<const uint32_t> a, std::span<const uint32_t> b) {
    const size_t n = std::max(a.size(), b.size());
    for (size_t i = n; i-- > 0;) {
        const uint32_t x = i < a.size() ? a[i] : 0;
        const uint32_t y = i < b.size() ? b[i] : 0;
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

void add(uint32_t* r, std::span<const uint32_t> a, std::span<const uint32_t> b) {
    const size_t n = std::max(a.size(), b.size());
    uint64_t carry = 0;
    for (size_t i = 0; i < n; ++i) {
        carry += static_cast<uint64_t>(i < a.size() ? a[i] : 0) + (i < b.size() ? b[i] : 0);
        r[i] = lo32(carry);
        carry >>= 32;
    }
    r[n] = lo32(carry);
}

void subtract(uint32_t* r, std::span<const uint32_t> a, std::span<const uint32_t> b) {
    int64_t borrow = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const int64_t d = static_cast<int64_t>(a[i]) - (i < b.size() ? b[i] : 0) + borrow;
        r[i] = static_cast<uint32_t>(d);
        borrow = d >> 32;  // 0 or -1
    }
}

void multiply(uint32_t* r, std::span<const uint32_t> a, std::span<const uint32_t> b) {
    std::fill(r, r + a.size() + b.size(), 0u);
    for (size_t i = 0; i < b.size(); ++i) {
        uint64_t carry = 0;
        for (size_t j = 0; j < a.size(); ++j) {
            carry += static_cast<uint64_t>(a[j]) * b[i] + r[i + j];
            r[i + j] = lo32(carry);
            carry >>= 32;
        }
        r[i + a.size()] = lo32(carry);
    }
}

bool divide(uint32_t* q, uint32_t* rem, std::span<const uint32_t> a, std::span<const uint32_t> b) {
    const int nb = normLength(b);
    if (b.empty() || (nb == 1 && b[0] == 0)) return false;
    const int na = static_cast<int>(a.size());
    if (na > kMaxValueDigits + 1 || nb > kMaxValueDigits + 1) return false;
    if (na < nb) {
        if (rem) {
            for (int i = 0; i < nb; ++i) rem[i] = i < na ? a[i] : 0;
        }
        if (q) q[0] = 0;
        return true;
    }
    if (nb == 1) {
        uint64_t r = 0;
        for (int i = na - 1; i >= 0; --i) {
            const uint64_t cur = (r << 32) | a[i];
            if (q) q[i] = lo32(cur / b[0]);
            r = cur % b[0];
        }
        if (rem) rem[0] = lo32(r);
        return true;
    }
    // Normalise so that the divisor's top bit is set, then one quotient digit per step.
    uint32_t un[kMaxValueDigits + 2];
    uint32_t vn[kMaxValueDigits + 1];
    const int s = __builtin_clz(b[nb - 1]);
    for (int i = nb - 1; i > 0; --i) {
        vn[i] = s ? (b[i] << s) | (b[i - 1] >> (32 - s)) : b[i];
    }
    vn[0] = b[0] << s;
    un[na] = s ? a[na - 1] >> (32 - s) : 0;
    for (int i = na - 1; i > 0; --i) {
        un[i] = s ? (a[i] << s) | (a[i - 1] >> (32 - s)) : a[i];
    }
    un[0] = a[0] << s;

    constexpr uint64_t kBase = 1ull << 32;
    for (int j = na - nb; j >= 0; --j) {
        const uint64_t num = (static_cast<uint64_t>(un[j + nb]) << 32) | un[j + nb - 1];
        uint64_t qhat = num / vn[nb - 1];
        uint64_t rhat = num % vn[nb - 1];
        while (qhat >= kBase || qhat * vn[nb - 2] > ((rhat << 32) | un[j + nb - 2])) {
            --qhat;
            rhat += vn[nb - 1];
            if (rhat >= kBase) break;
        }
        int64_t borrow = 0;
        uint64_t carry = 0;
        for (int i = 0; i < nb; ++i) {
            const uint64_t p = qhat * vn[i] + carry;
            carry = p >> 32;
            const int64_t t = static_cast<int64_t>(un[i + j]) - lo32(p) + borrow;
            un[i + j] = static_cast<uint32_t>(t);
            borrow = t >> 32;
        }
        const int64_t t = static_cast<int64_t>(un[j + nb]) - static_cast<int64_t>(carry) + borrow;
        un[j + nb] = static_cast<uint32_t>(t);
        if (t < 0) {
            // The estimate was one too large: add the divisor back.
            --qhat;
            uint64_t c = 0;
            for (int i = 0; i < nb; ++i) {
                c += static_cast<uint64_t>(un[i + j]) + vn[i];
                un[i + j] = lo32(c);
                c >>= 32;
            }
            un[j + nb] += lo32(c);
        }
        if (q) q[j] = lo32(qhat);
    }
    if (rem) {
        for (int i = 0; i < nb; ++i) {
            rem[i] = s ? (un[i] >> s) | (un[i + 1] << (32 - s)) : un[i];
        }
    }
    return true;
}

void bytesToDigits(uint32_t* out, const uint8_t* in, size_t length) {
    const size_t digits = (length + 3) / 4;
    std::fill(out, out + digits, 0u);
    for (size_t i = 0; i < length; ++i) {
        const size_t fromEnd = length - 1 - i;
        out[fromEnd / 4] |= static_cast<uint32_t>(in[i]) << (8 * (fromEnd % 4));
    }
}

bool digitsToBytes(uint8_t* out, size_t length, std::span<const uint32_t> a) {
    const size_t needed = (static_cast<size_t>(bitLength(a)) + 7) / 8;
    if (needed > length) return false;
    for (size_t i = 0; i < length; ++i) {
        const size_t fromEnd = length - 1 - i;
        const size_t di = fromEnd / 4;
        out[i] = di < a.size() ? static_cast<uint8_t>(a[di] >> (8 * (fromEnd % 4))) : 0;
    }
    return true;
}

// ---- Montgomery engine -----------------------------------------------------------------------

void montClear(Mont& m) {
    volatile Limb* p = m.mod;
    for (int i = 0; i < kMaxModulusLimbs; ++i) p[i] = 0;
    p = m.rr;
    for (int i = 0; i < kMaxModulusLimbs; ++i) p[i] = 0;
    m.limbs = 0;
    m.bits = 0;
    m.m0inv = 0;
}

bool montSetup(Mont& m, std::span<const uint32_t> modulus) {
    montClear(m);
    const int digits = normLength(modulus);
    const std::span<const uint32_t> mod = modulus.first(static_cast<size_t>(digits));
    const int bits = bitLength(mod);
    if (bits < 2 || bits > kMaxModulusBits || (mod[0] & 1) == 0) return false;
    m.limbs = (digits + kDigitsPerLimb - 1) / kDigitsPerLimb;
    m.bits = bits;
    toLimbs(m.mod, m.limbs, mod);

    // Newton's iteration doubles the correct low bits of the inverse each round.
    Limb inv = m.mod[0];
    for (int i = 0; i < 6; ++i) inv *= 2 - m.mod[0] * inv;
    m.m0inv = 0 - inv;

    // R^2 mod m by one long division of 2^(2 * limbs * kLimbBits).
    const int rrDigits = 2 * m.limbs * kDigitsPerLimb;
    uint32_t pow[kMaxValueDigits + 1] = {};
    pow[rrDigits] = 1;
    uint32_t rem[kMaxValueDigits + 1];
    if (!divide(nullptr, rem, {pow, static_cast<size_t>(rrDigits + 1)}, mod)) return false;
    toLimbs(m.rr, m.limbs, {rem, static_cast<size_t>(digits)});
    return true;
}

bool modPower(uint32_t* r, std::span<const uint32_t> base, std::span<const uint32_t> exponent,
              int exponentBits, const Mont& m, bool secret) {
    const int n = m.limbs;
    if (n == 0 || exponentBits < 0) return false;
    const int outDigits = n * kDigitsPerLimb;
    uint32_t reduced[kMaxModulusLimbs * kDigitsPerLimb];
    uint32_t modDigits[kMaxModulusLimbs * kDigitsPerLimb];
    fromLimbs(modDigits, outDigits, m.mod, n);
    const std::span<const uint32_t> mod{modDigits, static_cast<size_t>(normLength({modDigits, static_cast<size_t>(outDigits)}))};
    const std::span<const uint32_t> b{base.data(), static_cast<size_t>(normLength(base))};
    if (compare(b, mod) >= 0) {
        if (!divide(nullptr, reduced, b, mod)) return false;
        std::fill(reduced + mod.size(), reduced + outDigits, 0u);
    } else {
        std::fill(reduced, reduced + outDigits, 0u);
        std::copy(b.begin(), b.end(), reduced);
    }
    Limb x[kMaxModulusLimbs], acc[kMaxModulusLimbs];
    toLimbs(x, n, {reduced, static_cast<size_t>(outDigits)});
    montMul(x, x, m.rr, m);
    if (!montPowerMont(acc, x, exponent, exponentBits, m, secret)) return false;
    montFrom(acc, acc, m);
    fromLimbs(r, outDigits, acc, n);
    return true;
}

namespace {

// dBlind = d + k * (prime - 1) for a random 64-bit k; `out` gets |prime| + 3 digits.
bool blindExponent(uint32_t* out, std::span<const uint32_t> d, const Mont& prime) {
    const int pd = prime.limbs * kDigitsPerLimb;
    uint32_t pm1[kMaxModulusDigits];
    fromLimbs(pm1, pd, prime.mod, prime.limbs);
    pm1[0] &= ~1u;  // the prime is odd
    uint32_t k[2];
    if (randomBytes(reinterpret_cast<uint8_t*>(k), sizeof k) != 0) return false;
    uint32_t prod[kMaxModulusDigits + 2];
    multiply(prod, {pm1, static_cast<size_t>(pd)}, k);
    add(out, {prod, static_cast<size_t>(pd + 2)}, d);
    std::fill(prod, prod + pd + 2, 0u);
    return true;
}

}  // namespace

bool crtPower(uint32_t* r, std::span<const uint32_t> c, const Mont& p, const Mont& q,
              std::span<const uint32_t> dp, std::span<const uint32_t> dq,
              std::span<const uint32_t> qinv) {
    const int n = p.limbs;
    if (n <= 0 || n > kMaxModulusLimbs || q.limbs != n) return false;
    const int pd = n * kDigitsPerLimb;
    if (static_cast<int>(c.size()) > 2 * pd || static_cast<int>(dp.size()) > pd ||
        static_cast<int>(dq.size()) > pd || static_cast<int>(qinv.size()) > pd) {
        return false;
    }
    Limb wide[2 * kMaxModulusLimbs];
    toLimbs(wide, 2 * n, c);

    // Both halves: c mod prime without division (reduce, then undo the R^-1), then the
    // blinded exponentiation in Montgomery form.
    Limb m1[kMaxModulusLimbs], m2[kMaxModulusLimbs];
    auto half = [&](Limb* out, const Mont& mod, std::span<const uint32_t> d) {
        Limb x[kMaxModulusLimbs];
        montReduce(x, wide, mod);      // c R^-1
        montMul(x, x, mod.rr, mod);    // c
        montMul(x, x, mod.rr, mod);    // c R
        uint32_t blinded[kMaxModulusDigits + 3];
        const size_t bd = static_cast<size_t>(pd + 3);
        if (!blindExponent(blinded, d, mod)) return false;
        const bool ok = montPowerMont(out, x, {blinded, bd}, mod.bits + 65, mod, true);
        std::fill(blinded, blinded + bd, 0u);
        montFrom(out, out, mod);
        return ok;
    };
    if (!half(m1, p, dp) || !half(m2, q, dq)) return false;

    // h = (m1 - m2) * qinv mod p, all in constant time; m2 < q < R so m2 R mod p is one
    // Montgomery product with R^2.
    Limb a[kMaxModulusLimbs], b[kMaxModulusLimbs], h[kMaxModulusLimbs] = {}, t[kMaxModulusLimbs];
    montMul(a, m1, p.rr, p);
    montMul(b, m2, p.rr, p);
    const Limb borrow = subLimbs(h, a, b, n);
    addLimbs(t, h, p.mod, n);
    selectLimbs(h, 0 - borrow, t, h, n);
    Limb qi[kMaxModulusLimbs];
    toLimbs(qi, n, qinv);
    montMul(h, h, qi, p);

    // r = m2 + h q (< p q, so 2n limbs hold it).
    Limb prod[2 * kMaxModulusLimbs], m2w[2 * kMaxModulusLimbs] = {};
    mulLimbs(prod, h, q.mod, n);
    std::copy(m2, m2 + n, m2w);
    addLimbs(prod, prod, m2w, 2 * n);
    fromLimbs(r, 2 * pd, prod, 2 * n);
    return true;
}

const char* rowEngineName(RowEngine e) {
    if (e == RowEngine::kPortable) return "portable";
#if defined(VELD_SE_FAST_ROW)
    return FastRow::kName;
#else
    return nullptr;
#endif
}

bool rowEngineRunnable(RowEngine e) {
    if (e == RowEngine::kPortable) return true;
#if defined(VELD_SE_FAST_ROW)
    return FastRow::runnable();
#else
    return false;
#endif
}

RowEngine rowEngine() { return selectedRows(); }

void setRowEngine(RowEngine e) {
    if (rowEngineRunnable(e)) selectedRows() = e;
}

}  // namespace veld::se::bn
