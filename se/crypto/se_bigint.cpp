// The big-integer layer's module state and C interface: the caller's work pool with its
// first-fit allocator, the permanence marks, the moduli table and the SE_BI_ operations.
//
// The pool is a run of blocks, each an SE_BigInt header followed by its digits, from the
// (8-aligned) start of the caller's buffer up to a high-water mark. Freed blocks are wiped and
// merged with free neighbours; the top free block gives its room back to the high-water mark.
#include <algorithm>
#include <cstring>

#include "se_bigint.h"
#include "se_crypto_rsa.h"

namespace veld::se::bn {
namespace {

struct Layer {
    uint8_t* start = nullptr;  // first block (8-aligned)
    uint8_t* end = nullptr;    // end of usable room
    uint8_t* top = nullptr;    // end of the last block
    uint8_t* highWater = nullptr;  // end of everything used since the last clear
    Mont moduli[kModuliSlots];
    int current = 0;           // slot that SE_BI_ModPower uses
    SE_BigInt* one = nullptr;
};

Layer gLayer;

size_t blockBytes(const SE_BigInt* b) { return sizeof(SE_BigInt) + 4u * b->capacity; }
SE_BigInt* blockAt(uint8_t* p) { return reinterpret_cast<SE_BigInt*>(p); }

// Clears secrets in a way the compiler may not drop as a dead store.
void wipe(void* p, size_t n) {
    std::memset(p, 0, n);
    __asm__ __volatile__("" : : "r"(p) : "memory");
}

// Merges runs of free blocks and returns a free top block to the high-water mark.
void coalesce() {
    SE_BigInt* last = nullptr;
    for (uint8_t* p = gLayer.start; p < gLayer.top;) {
        SE_BigInt* b = blockAt(p);
        if (!b->inUse) {
            for (;;) {
                uint8_t* np = p + blockBytes(b);
                if (np >= gLayer.top) break;
                SE_BigInt* nb = blockAt(np);
                if (nb->inUse) break;
                const size_t merged = (blockBytes(b) + blockBytes(nb) - sizeof(SE_BigInt)) / 4;
                if (merged > 0xFFFF) break;
                b->capacity = static_cast<uint16_t>(merged);
                wipe(nb, sizeof(SE_BigInt));
            }
        }
        last = b;
        p += blockBytes(b);
    }
    if (last && !last->inUse) {
        gLayer.top = reinterpret_cast<uint8_t*>(last);
        wipe(last, sizeof(SE_BigInt));
    }
}

SE_BigInt* resultOf(const uint32_t* digits, size_t n) { return makeValue({digits, n}); }

}  // namespace

void poolAttach(void* pool) {
    for (Mont& m : gLayer.moduli) montClear(m);
    gLayer.one = nullptr;
    gLayer.current = 0;
    if (!pool) {
        gLayer.start = gLayer.end = gLayer.top = gLayer.highWater = nullptr;
        return;
    }
    const uintptr_t raw = reinterpret_cast<uintptr_t>(pool);
    const uintptr_t aligned = (raw + 7) & ~uintptr_t{7};
    gLayer.start = reinterpret_cast<uint8_t*>(aligned);
    gLayer.end = reinterpret_cast<uint8_t*>((raw + kPoolSize) & ~uintptr_t{7});
    // From here on the pool is all zero outside live values, so later clears need only wipe
    // what was used.
    wipe(gLayer.start, static_cast<size_t>(gLayer.end - gLayer.start));
    gLayer.top = gLayer.highWater = gLayer.start;
}

bool poolAttached() { return gLayer.start != nullptr; }

void poolClear() {
    for (Mont& m : gLayer.moduli) montClear(m);
    gLayer.one = nullptr;
    gLayer.current = 0;
    if (!gLayer.start) return;
    // Only the part used since the last clear can hold anything.
    wipe(gLayer.start, static_cast<size_t>(gLayer.highWater - gLayer.start));
    gLayer.top = gLayer.highWater = gLayer.start;
}

SE_BigInt* allocValue(int digits) {
    if (!gLayer.start || digits < 1 || digits > 0xFFFE) return nullptr;
    const size_t need = (static_cast<size_t>(digits) + 1) & ~size_t{1};  // keep blocks 8-aligned
    for (uint8_t* p = gLayer.start; p < gLayer.top;) {
        SE_BigInt* b = blockAt(p);
        if (!b->inUse && b->capacity >= need) {
            // Split when the rest can hold a header and two digits.
            if (b->capacity >= need + 4) {
                SE_BigInt* rest = blockAt(p + sizeof(SE_BigInt) + 4 * need);
                *rest = SE_BigInt{};
                rest->capacity = static_cast<uint16_t>(b->capacity - need - 2);
                b->capacity = static_cast<uint16_t>(need);
            }
            b->inUse = 1;
            b->permanent = 0;
            b->length = 1;
            std::memset(digitsOf(b), 0, 4u * b->capacity);
            return b;
        }
        p += blockBytes(b);
    }
    const size_t bytes = sizeof(SE_BigInt) + 4 * need;
    if (static_cast<size_t>(gLayer.end - gLayer.top) < bytes) return nullptr;
    SE_BigInt* b = blockAt(gLayer.top);
    *b = SE_BigInt{};
    b->capacity = static_cast<uint16_t>(need);
    b->inUse = 1;
    b->length = 1;
    std::memset(digitsOf(b), 0, 4 * need);
    gLayer.top += bytes;
    gLayer.highWater = std::max(gLayer.highWater, gLayer.top);
    return b;
}

bool isValue(const SE_BigInt* v) {
    if (!v || !gLayer.start) return false;
    const auto* p = reinterpret_cast<const uint8_t*>(v);
    if (p < gLayer.start || p + sizeof(SE_BigInt) > gLayer.top) return false;
    if ((reinterpret_cast<uintptr_t>(p) & 7) != 0) return false;
    if (!v->inUse || v->length < 1 || v->length > v->capacity) return false;
    // Only a block boundary is a value: walk the blocks (there are a few dozen at most).
    for (uint8_t* b = gLayer.start; b < gLayer.top; b += blockBytes(blockAt(b))) {
        if (b == p) return true;
        if (b > p) return false;
    }
    return false;
}

void freeValue(SE_BigInt* v, bool force) {
    if (!isValue(v) || (v->permanent && !force)) return;
    wipe(digitsOf(v), 4u * v->capacity);
    v->inUse = 0;
    v->permanent = 0;
    v->length = 0;
    coalesce();
}

SE_BigInt* makeValue(std::span<const uint32_t> digits) {
    const int n = normLength(digits);
    if (n > kMaxValueDigits) return nullptr;
    SE_BigInt* v = allocValue(n);
    if (!v) return nullptr;
    for (int i = 0; i < n && static_cast<size_t>(i) < digits.size(); ++i) digitsOf(v)[i] = digits[i];
    v->length = static_cast<uint16_t>(n);
    return v;
}

const Mont* modulusSlot(int index) {
    if (index < 0 || index >= kModuliSlots || gLayer.moduli[index].limbs == 0) return nullptr;
    return &gLayer.moduli[index];
}

}  // namespace veld::se::bn

using namespace veld::se::bn;

extern "C" {

void SE_BI_InitMem(void* pool) { poolAttach(pool); }

int32_t SE_BI_Initialize(void) {
    if (!poolAttached()) return -1;
    for (Mont& m : gLayer.moduli) montClear(m);
    gLayer.current = 0;
    if (!isValue(gLayer.one)) {
        const uint32_t one = 1;
        gLayer.one = makeValue({&one, 1});
        if (!gLayer.one) return -1;
        gLayer.one->permanent = 1;
    }
    return 0;
}

void SE_BI_Terminate(void) { poolClear(); }

void SE_BI_Free(SE_BigInt* value) { freeValue(value, false); }

void SE_BI_Permanent(SE_BigInt* value) {
    if (isValue(value)) value->permanent = 1;
}

void SE_BI_Depermanent(SE_BigInt* value) {
    if (isValue(value) && value != gLayer.one) value->permanent = 0;
}

SE_BigInt* SE_BI_Import(const uint8_t* in, int32_t length) {
    if (length < 0 || (length > 0 && !in)) return nullptr;
    size_t skip = 0;
    while (skip < static_cast<size_t>(length) && in[skip] == 0) ++skip;
    const size_t bytes = static_cast<size_t>(length) - skip;
    if (bytes > static_cast<size_t>(kMaxValueDigits) * 4) return nullptr;
    uint32_t digits[kMaxValueDigits] = {};
    if (bytes) bytesToDigits(digits, in + skip, bytes);
    return resultOf(digits, std::max<size_t>(1, (bytes + 3) / 4));
}

int32_t SE_BI_Export(const SE_BigInt* value, uint8_t* out, int32_t length) {
    if (!isValue(value)) return -1;
    const int32_t bytes = (bitLength(view(value)) + 7) / 8;
    if (!out) return bytes;
    if (length < 0) return -1;
    return digitsToBytes(out, static_cast<size_t>(length), view(value)) ? length : -1;
}

SE_BigInt* SE_BI_IntToBI(uint32_t value) { return resultOf(&value, 1); }

int32_t SE_BI_Copy(SE_BigInt* dst, const SE_BigInt* src) {
    if (!isValue(dst) || !isValue(src) || dst->capacity < src->length) return -1;
    if (dst == src) return 0;
    std::memset(digitsOf(dst), 0, 4u * dst->capacity);
    std::memcpy(digitsOf(dst), digitsOf(src), 4u * src->length);
    dst->length = src->length;
    return 0;
}

SE_BigInt* SE_BI_Clone(const SE_BigInt* src) {
    return isValue(src) ? makeValue(view(src)) : nullptr;
}

SE_BigInt* SE_BI_Add(const SE_BigInt* a, const SE_BigInt* b) {
    if (!isValue(a) || !isValue(b)) return nullptr;
    uint32_t r[kMaxValueDigits + 1];
    const size_t n = std::max(a->length, b->length);
    add(r, view(a), view(b));
    return resultOf(r, n + 1);
}

SE_BigInt* SE_BI_subtract(const SE_BigInt* a, const SE_BigInt* b) {
    if (!isValue(a) || !isValue(b) || compare(view(a), view(b)) < 0) return nullptr;
    uint32_t r[kMaxValueDigits];
    subtract(r, view(a), view(b));
    return resultOf(r, a->length);
}

SE_BigInt* SE_BI_Multiply(const SE_BigInt* a, const SE_BigInt* b) {
    if (!isValue(a) || !isValue(b)) return nullptr;
    uint32_t r[2 * kMaxValueDigits];
    multiply(r, view(a), view(b));
    return resultOf(r, static_cast<size_t>(a->length) + b->length);
}

SE_BigInt* SE_BI_Divide(const SE_BigInt* a, const SE_BigInt* b, SE_BigInt** remainder) {
    if (remainder) *remainder = nullptr;
    if (!isValue(a) || !isValue(b)) return nullptr;
    uint32_t q[kMaxValueDigits + 1] = {};
    uint32_t r[kMaxValueDigits + 1] = {};
    if (!divide(q, r, view(a), view(b))) return nullptr;
    const size_t nb = static_cast<size_t>(normLength(view(b)));
    const size_t nq = a->length >= nb ? a->length - nb + 1 : 1;
    SE_BigInt* quotient = resultOf(q, nq);
    if (!quotient) return nullptr;
    if (remainder) {
        *remainder = resultOf(r, nb);
        if (!*remainder) {
            freeValue(quotient);
            return nullptr;
        }
    }
    return quotient;
}

int32_t SE_BI_Compare(const SE_BigInt* a, const SE_BigInt* b) {
    if (!isValue(a) || !isValue(b)) return -2;
    return compare(view(a), view(b));
}

int32_t SE_BI_SetMod(int32_t index, const SE_BigInt* modulus) {
    if (index < 0 || index >= kModuliSlots || !isValue(modulus)) return -1;
    return montSetup(gLayer.moduli[index], view(modulus)) ? 0 : -1;
}

void SE_BI_FreeMod(int32_t index) {
    if (index >= 0 && index < kModuliSlots) montClear(gLayer.moduli[index]);
}

int32_t SE_BI_SetModOffset(int32_t index) {
    if (!modulusSlot(index)) return -1;
    gLayer.current = index;
    return 0;
}

SE_BigInt* SE_BI_ModPower(const SE_BigInt* base, const SE_BigInt* exponent) {
    const Mont* m = modulusSlot(gLayer.current);
    if (!m || !isValue(base) || !isValue(exponent)) return nullptr;
    uint32_t r[kMaxModulusDigits];
    const int bits = std::max(1, static_cast<int>(exponent->length) * 32);
    if (!modPower(r, view(base), view(exponent), bits, *m, true)) return nullptr;
    return resultOf(r, static_cast<size_t>(m->limbs) * kDigitsPerLimb);
}

SE_BigInt* SE_BI_CRT(const SE_BigInt* input, const SE_BigInt* dp, const SE_BigInt* dq,
                     const SE_BigInt* qinv) {
    const Mont* p = modulusSlot(1);
    const Mont* q = modulusSlot(2);
    if (!p || !q || p->limbs != q->limbs) return nullptr;
    if (!isValue(input) || !isValue(dp) || !isValue(dq) || !isValue(qinv)) return nullptr;
    const int pd = p->limbs * kDigitsPerLimb;
    uint32_t pDigits[kMaxModulusDigits], qDigits[kMaxModulusDigits];
    for (int i = 0; i < pd; ++i) {
        pDigits[i] = static_cast<uint32_t>(p->mod[i / kDigitsPerLimb] >> (32 * (i % kDigitsPerLimb)));
        qDigits[i] = static_cast<uint32_t>(q->mod[i / kDigitsPerLimb] >> (32 * (i % kDigitsPerLimb)));
    }
    const std::span<const uint32_t> ps{pDigits, static_cast<size_t>(pd)};
    const std::span<const uint32_t> qs{qDigits, static_cast<size_t>(pd)};
    uint32_t n[2 * kMaxModulusDigits];
    multiply(n, ps, qs);
    if (compare(view(input), {n, static_cast<size_t>(2 * pd)}) >= 0) return nullptr;
    if (compare(view(dp), ps) >= 0 || compare(view(dq), qs) >= 0 || compare(view(qinv), ps) >= 0) {
        return nullptr;
    }
    uint32_t r[2 * kMaxModulusDigits];
    if (!crtPower(r, view(input), *p, *q, view(dp), view(dq), view(qinv))) {
        return nullptr;
    }
    return resultOf(r, static_cast<size_t>(2 * pd));
}

}  // extern "C"
