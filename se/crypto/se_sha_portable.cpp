// Portable block functions of SHA-1, SHA-256 and SHA-512 (FIPS 180-4).
//
// Plain C++ for any target: rounds fully unrolled with the eight working variables renamed
// instead of moved, big-endian loads through memcpy and the compiler's byte swap. SHA-256 and
// SHA-512 compute their message schedule four (two) words at a time in the compiler's generic
// vectors, interleaved with the rounds, which keeps the integer units free for the rounds; a
// compiler without generic vector shuffles gets the scalar schedule (a rolling window of 16
// named words), which is always built so that tests can hold the two against each other.
// The SHA extensions of x86-64 and ARMv8 have their own files (se_sha_ni.cpp, se_sha_arm.cpp);
// these functions are their reference.
#include "se_sha.h"

#include <bit>
#include <cstring>

namespace veld::se::sha {
namespace {

inline uint32_t load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap32(v);
    return v;
}

inline uint64_t load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
    return v;
}

// Choose and majority with one operation fewer than the textbook forms.
template <class W>
inline W ch(W x, W y, W z) {
    return ((y ^ z) & x) ^ z;
}
template <class W>
inline W maj(W x, W y, W z) {
    return (x & y) | (z & (x | y));
}

// ---------------------------------------------------------------------------------- SHA-1

inline uint32_t parity(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }

// One round: e receives the new value, b is rotated; the caller renames the variables.
#define SHA1_ROUND(f, k, a, b, c, d, e, w)                       \
    do {                                                         \
        e += std::rotl(a, 5) + f(b, c, d) + (k) + (w);           \
        b = std::rotl(b, 30);                                    \
    } while (0)

// w[t] for t >= 16 in place of w[t - 16].
#define SHA1_EXPAND(t0, t2, t8, t13) (t0 = std::rotl((t13) ^ (t8) ^ (t2) ^ (t0), 1))

#define SHA1_FIVE(f, k, w0, w1, w2, w3, w4)         \
    SHA1_ROUND(f, k, a, b, c, d, e, w0);            \
    SHA1_ROUND(f, k, e, a, b, c, d, w1);            \
    SHA1_ROUND(f, k, d, e, a, b, c, w2);            \
    SHA1_ROUND(f, k, c, d, e, a, b, w3);            \
    SHA1_ROUND(f, k, b, c, d, e, a, w4)

// Sixteen expanded words w[t..t+15] in the window x0..x15, indices taken mod 16.
#define X(i) x##i
#define SHA1_W(i0, i2, i8, i13) SHA1_EXPAND(X(i0), X(i2), X(i8), X(i13))

inline uint32_t sha1Ch(uint32_t x, uint32_t y, uint32_t z) { return ch(x, y, z); }
inline uint32_t sha1Maj(uint32_t x, uint32_t y, uint32_t z) { return maj(x, y, z); }

}  // namespace

void sha1BlocksPortable(uint32_t state[5], const uint8_t* data, size_t blocks) {
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
    constexpr uint32_t k0 = 0x5A827999, k1 = 0x6ED9EBA1, k2 = 0x8F1BBCDC, k3 = 0xCA62C1D6;
    for (; blocks != 0; --blocks, data += 64) {
        const uint32_t a0 = a, b0 = b, c0 = c, d0 = d, e0 = e;
        uint32_t x0 = load32(data), x1 = load32(data + 4), x2 = load32(data + 8), x3 = load32(data + 12);
        uint32_t x4 = load32(data + 16), x5 = load32(data + 20), x6 = load32(data + 24), x7 = load32(data + 28);
        uint32_t x8 = load32(data + 32), x9 = load32(data + 36), x10 = load32(data + 40), x11 = load32(data + 44);
        uint32_t x12 = load32(data + 48), x13 = load32(data + 52), x14 = load32(data + 56), x15 = load32(data + 60);

        // Rounds 0-19.
        SHA1_FIVE(sha1Ch, k0, x0, x1, x2, x3, x4);
        SHA1_FIVE(sha1Ch, k0, x5, x6, x7, x8, x9);
        SHA1_FIVE(sha1Ch, k0, x10, x11, x12, x13, x14);
        SHA1_FIVE(sha1Ch, k0, x15, SHA1_W(0, 2, 8, 13), SHA1_W(1, 3, 9, 14), SHA1_W(2, 4, 10, 15),
                  SHA1_W(3, 5, 11, 0));
        // Rounds 20-39.
        SHA1_FIVE(parity, k1, SHA1_W(4, 6, 12, 1), SHA1_W(5, 7, 13, 2), SHA1_W(6, 8, 14, 3),
                  SHA1_W(7, 9, 15, 4), SHA1_W(8, 10, 0, 5));
        SHA1_FIVE(parity, k1, SHA1_W(9, 11, 1, 6), SHA1_W(10, 12, 2, 7), SHA1_W(11, 13, 3, 8),
                  SHA1_W(12, 14, 4, 9), SHA1_W(13, 15, 5, 10));
        SHA1_FIVE(parity, k1, SHA1_W(14, 0, 6, 11), SHA1_W(15, 1, 7, 12), SHA1_W(0, 2, 8, 13),
                  SHA1_W(1, 3, 9, 14), SHA1_W(2, 4, 10, 15));
        SHA1_FIVE(parity, k1, SHA1_W(3, 5, 11, 0), SHA1_W(4, 6, 12, 1), SHA1_W(5, 7, 13, 2),
                  SHA1_W(6, 8, 14, 3), SHA1_W(7, 9, 15, 4));
        // Rounds 40-59.
        SHA1_FIVE(sha1Maj, k2, SHA1_W(8, 10, 0, 5), SHA1_W(9, 11, 1, 6), SHA1_W(10, 12, 2, 7),
                  SHA1_W(11, 13, 3, 8), SHA1_W(12, 14, 4, 9));
        SHA1_FIVE(sha1Maj, k2, SHA1_W(13, 15, 5, 10), SHA1_W(14, 0, 6, 11), SHA1_W(15, 1, 7, 12),
                  SHA1_W(0, 2, 8, 13), SHA1_W(1, 3, 9, 14));
        SHA1_FIVE(sha1Maj, k2, SHA1_W(2, 4, 10, 15), SHA1_W(3, 5, 11, 0), SHA1_W(4, 6, 12, 1),
                  SHA1_W(5, 7, 13, 2), SHA1_W(6, 8, 14, 3));
        SHA1_FIVE(sha1Maj, k2, SHA1_W(7, 9, 15, 4), SHA1_W(8, 10, 0, 5), SHA1_W(9, 11, 1, 6),
                  SHA1_W(10, 12, 2, 7), SHA1_W(11, 13, 3, 8));
        // Rounds 60-79.
        SHA1_FIVE(parity, k3, SHA1_W(12, 14, 4, 9), SHA1_W(13, 15, 5, 10), SHA1_W(14, 0, 6, 11),
                  SHA1_W(15, 1, 7, 12), SHA1_W(0, 2, 8, 13));
        SHA1_FIVE(parity, k3, SHA1_W(1, 3, 9, 14), SHA1_W(2, 4, 10, 15), SHA1_W(3, 5, 11, 0),
                  SHA1_W(4, 6, 12, 1), SHA1_W(5, 7, 13, 2));
        SHA1_FIVE(parity, k3, SHA1_W(6, 8, 14, 3), SHA1_W(7, 9, 15, 4), SHA1_W(8, 10, 0, 5),
                  SHA1_W(9, 11, 1, 6), SHA1_W(10, 12, 2, 7));
        SHA1_FIVE(parity, k3, SHA1_W(11, 13, 3, 8), SHA1_W(12, 14, 4, 9), SHA1_W(13, 15, 5, 10),
                  SHA1_W(14, 0, 6, 11), SHA1_W(15, 1, 7, 12));

        a += a0;
        b += b0;
        c += c0;
        d += d0;
        e += e0;
    }
    state[0] = a;
    state[1] = b;
    state[2] = c;
    state[3] = d;
    state[4] = e;
}

// ----------------------------------------------------------------------- SHA-256 / SHA-512

namespace {

alignas(16) constexpr uint64_t kK512[80] = {
    0x428a2f98d728ae22, 0x7137449123ef65cd, 0xb5c0fbcfec4d3b2f, 0xe9b5dba58189dbbc, 0x3956c25bf348b538,
    0x59f111f1b605d019, 0x923f82a4af194f9b, 0xab1c5ed5da6d8118, 0xd807aa98a3030242, 0x12835b0145706fbe,
    0x243185be4ee4b28c, 0x550c7dc3d5ffb4e2, 0x72be5d74f27b896f, 0x80deb1fe3b1696b1, 0x9bdc06a725c71235,
    0xc19bf174cf692694, 0xe49b69c19ef14ad2, 0xefbe4786384f25e3, 0x0fc19dc68b8cd5b5, 0x240ca1cc77ac9c65,
    0x2de92c6f592b0275, 0x4a7484aa6ea6e483, 0x5cb0a9dcbd41fbd4, 0x76f988da831153b5, 0x983e5152ee66dfab,
    0xa831c66d2db43210, 0xb00327c898fb213f, 0xbf597fc7beef0ee4, 0xc6e00bf33da88fc2, 0xd5a79147930aa725,
    0x06ca6351e003826f, 0x142929670a0e6e70, 0x27b70a8546d22ffc, 0x2e1b21385c26c926, 0x4d2c6dfc5ac42aed,
    0x53380d139d95b3df, 0x650a73548baf63de, 0x766a0abb3c77b2a8, 0x81c2c92e47edaee6, 0x92722c851482353b,
    0xa2bfe8a14cf10364, 0xa81a664bbc423001, 0xc24b8b70d0f89791, 0xc76c51a30654be30, 0xd192e819d6ef5218,
    0xd69906245565a910, 0xf40e35855771202a, 0x106aa07032bbd1b8, 0x19a4c116b8d2d0c8, 0x1e376c085141ab53,
    0x2748774cdf8eeb99, 0x34b0bcb5e19b48a8, 0x391c0cb3c5c95a63, 0x4ed8aa4ae3418acb, 0x5b9cca4f7763e373,
    0x682e6ff3d6b2b8a3, 0x748f82ee5defb2fc, 0x78a5636f43172f60, 0x84c87814a1f0ab72, 0x8cc702081a6439ec,
    0x90befffa23631e28, 0xa4506cebde82bde9, 0xbef9a3f7b2c67915, 0xc67178f2e372532b, 0xca273eceea26619c,
    0xd186b8c721c0c207, 0xeada7dd6cde0eb1e, 0xf57d4f7fee6ed178, 0x06f067aa72176fba, 0x0a637dc5a2c898a6,
    0x113f9804bef90dae, 0x1b710b35131c471b, 0x28db77f523047d84, 0x32caab7b40c72493, 0x3c9ebe0a15c9bebc,
    0x431d67c49c100d4c, 0x4cc5d4becb3e42b6, 0x597f299cfc657e2a, 0x5fcb6fab3ad6faec, 0x6c44198c4a475817};

inline uint32_t bigSigma0(uint32_t x) { return std::rotr(x, 2) ^ std::rotr(x, 13) ^ std::rotr(x, 22); }
inline uint32_t bigSigma1(uint32_t x) { return std::rotr(x, 6) ^ std::rotr(x, 11) ^ std::rotr(x, 25); }
// Nested rotations need fewer register copies on two-operand instruction sets.
inline uint32_t smallSigma0(uint32_t x) { return std::rotr(x ^ std::rotr(x, 11), 7) ^ (x >> 3); }
inline uint32_t smallSigma1(uint32_t x) { return std::rotr(x ^ std::rotr(x, 2), 17) ^ (x >> 10); }

inline uint64_t bigSigma0(uint64_t x) { return std::rotr(x, 28) ^ std::rotr(x, 34) ^ std::rotr(x, 39); }
inline uint64_t bigSigma1(uint64_t x) { return std::rotr(x, 14) ^ std::rotr(x, 18) ^ std::rotr(x, 41); }
inline uint64_t smallSigma0(uint64_t x) { return std::rotr(x, 1) ^ std::rotr(x, 8) ^ (x >> 7); }
inline uint64_t smallSigma1(uint64_t x) { return std::rotr(x, 19) ^ std::rotr(x, 61) ^ (x >> 6); }

// Adds the block's result into the chaining value and carries it on in the working variables.
template <class W>
inline void feedForward(W* state, W& a, W& b, W& c, W& d, W& e, W& f, W& g, W& h) {
    a = state[0] += a;
    b = state[1] += b;
    c = state[2] += c;
    d = state[3] += d;
    e = state[4] += e;
    f = state[5] += f;
    g = state[6] += g;
    h = state[7] += h;
}

// Sixteen big-endian words of the block at `data` into x0..x15.
#define SHA2_LOAD_WINDOW(W, load)                                                              \
    W x0 = load(data), x1 = load(data + 1 * sizeof(W)), x2 = load(data + 2 * sizeof(W));       \
    W x3 = load(data + 3 * sizeof(W)), x4 = load(data + 4 * sizeof(W));                        \
    W x5 = load(data + 5 * sizeof(W)), x6 = load(data + 6 * sizeof(W));                        \
    W x7 = load(data + 7 * sizeof(W)), x8 = load(data + 8 * sizeof(W));                        \
    W x9 = load(data + 9 * sizeof(W)), x10 = load(data + 10 * sizeof(W));                      \
    W x11 = load(data + 11 * sizeof(W)), x12 = load(data + 12 * sizeof(W));                    \
    W x13 = load(data + 13 * sizeof(W)), x14 = load(data + 14 * sizeof(W));                    \
    W x15 = load(data + 15 * sizeof(W))

// One SHA-2 round; h becomes the new a and d the new e, the caller renames the variables.
// The additions are ordered so that the terms depending on e (and then a) come last, which
// keeps the chain from one round's e to the next short. Majority is ((a ^ b) & (b ^ c)) ^ b, and this round's a ^ b is the next round's b ^ c, so
// `bc` carries it over (set to b ^ c before the first round).
#define SHA2_ROUND(a, b, c, d, e, f, g, h, kw)                     \
    do {                                                           \
        h += (kw);                                                 \
        h += ch(e, f, g);                                          \
        h += bigSigma1(e);                                         \
        d += h;                                                    \
        const auto ab = a ^ b;                                     \
        h += ((ab & bc) ^ b);                                      \
        h += bigSigma0(a);                                         \
        bc = ab;                                                   \
    } while (0)

// w[t] for t >= 16 in place of w[t - 16].
#define SHA2_EXPAND(t0, t1, t9, t14) (t0 += smallSigma1(t14) + (t9) + smallSigma0(t1))

#define SHA2_EIGHT(K, i, w0, w1, w2, w3, w4, w5, w6, w7)       \
    SHA2_ROUND(a, b, c, d, e, f, g, h, K[(i) + 0] + (w0));     \
    SHA2_ROUND(h, a, b, c, d, e, f, g, K[(i) + 1] + (w1));     \
    SHA2_ROUND(g, h, a, b, c, d, e, f, K[(i) + 2] + (w2));     \
    SHA2_ROUND(f, g, h, a, b, c, d, e, K[(i) + 3] + (w3));     \
    SHA2_ROUND(e, f, g, h, a, b, c, d, K[(i) + 4] + (w4));     \
    SHA2_ROUND(d, e, f, g, h, a, b, c, K[(i) + 5] + (w5));     \
    SHA2_ROUND(c, d, e, f, g, h, a, b, K[(i) + 6] + (w6));     \
    SHA2_ROUND(b, c, d, e, f, g, h, a, K[(i) + 7] + (w7))

#define SHA2_W(i0, i1, i9, i14) SHA2_EXPAND(X(i0), X(i1), X(i9), X(i14))

// Sixteen rounds on freshly expanded words, starting at round i (a multiple of 16).
#define SHA2_SIXTEEN_EXPANDED(K, i)                                                              \
    SHA2_EIGHT(K, i, SHA2_W(0, 1, 9, 14), SHA2_W(1, 2, 10, 15), SHA2_W(2, 3, 11, 0),            \
               SHA2_W(3, 4, 12, 1), SHA2_W(4, 5, 13, 2), SHA2_W(5, 6, 14, 3), SHA2_W(6, 7, 15, 4), \
               SHA2_W(7, 8, 0, 5));                                                              \
    SHA2_EIGHT(K, (i) + 8, SHA2_W(8, 9, 1, 6), SHA2_W(9, 10, 2, 7), SHA2_W(10, 11, 3, 8),       \
               SHA2_W(11, 12, 4, 9), SHA2_W(12, 13, 5, 10), SHA2_W(13, 14, 6, 11),               \
               SHA2_W(14, 15, 7, 12), SHA2_W(15, 0, 8, 13))

}  // namespace

void sha256BlocksScalar(uint32_t state[8], const uint8_t* data, size_t blocks) {
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (; blocks != 0; --blocks, data += 64) {
        SHA2_LOAD_WINDOW(uint32_t, load32);
        uint32_t bc = b ^ c;

        SHA2_EIGHT(kK256, 0, x0, x1, x2, x3, x4, x5, x6, x7);
        SHA2_EIGHT(kK256, 8, x8, x9, x10, x11, x12, x13, x14, x15);
        SHA2_SIXTEEN_EXPANDED(kK256, 16);
        SHA2_SIXTEEN_EXPANDED(kK256, 32);
        SHA2_SIXTEEN_EXPANDED(kK256, 48);

        feedForward(state, a, b, c, d, e, f, g, h);
    }
}

void sha512BlocksScalar(uint64_t state[8], const uint8_t* data, size_t blocks) {
    uint64_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint64_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (; blocks != 0; --blocks, data += 128) {
        SHA2_LOAD_WINDOW(uint64_t, load64);
        uint64_t bc = b ^ c;

        SHA2_EIGHT(kK512, 0, x0, x1, x2, x3, x4, x5, x6, x7);
        SHA2_EIGHT(kK512, 8, x8, x9, x10, x11, x12, x13, x14, x15);
        SHA2_SIXTEEN_EXPANDED(kK512, 16);
        SHA2_SIXTEEN_EXPANDED(kK512, 32);
        SHA2_SIXTEEN_EXPANDED(kK512, 48);
        SHA2_SIXTEEN_EXPANDED(kK512, 64);

        feedForward(state, a, b, c, d, e, f, g, h);
    }
}

#if defined(__has_builtin)
#if __has_builtin(__builtin_shufflevector)
#define SE_SHA_VECTOR_SCHEDULE 1
#endif
#endif

#ifdef SE_SHA_VECTOR_SCHEDULE

namespace {

// Generic 128-bit vectors: SSE2 on x86-64, NEON on ARM, plain words elsewhere.
using Vec32 = uint32_t __attribute__((vector_size(16)));
using Vec64 = uint64_t __attribute__((vector_size(16)));

template <class V, class W>
inline V loadVec(const W* p) {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
template <class V, class W>
inline void storeVec(W* p, V v) {
    std::memcpy(p, &v, sizeof v);
}

// The small sigmas as shifts (generic vectors have no rotate).
inline Vec32 smallSigma0(Vec32 x) { return (x >> 7) ^ (x >> 18) ^ (x >> 3) ^ (x << 25) ^ (x << 14); }
inline Vec32 smallSigma1(Vec32 x) { return (x >> 17) ^ (x >> 19) ^ (x >> 10) ^ (x << 15) ^ (x << 13); }
// (x >> 1 ^ x >> 8) as ((x >> 7 ^ x) >> 1): fewer register copies, measurably faster.
inline Vec64 smallSigma0(Vec64 x) { return ((((x >> 7) ^ x) >> 1) ^ (x >> 7)) ^ (((x << 7) ^ x) << 56); }
inline Vec64 smallSigma1(Vec64 x) { return (x >> 19) ^ (x >> 61) ^ (x >> 6) ^ (x << 45) ^ (x << 3); }

// SHA-256: x0..x3 hold w[t-16..t-1]; x0 is replaced by w[t..t+3] and K + w goes to kw[t..].
// The last two new words depend on the first two through sigma1(w[t-2]), hence two steps.
#define SHA256_SCHEDULE(x0, x1, x2, x3, t)                                                     \
    do {                                                                                      \
        Vec32 next = x0 + smallSigma0(__builtin_shufflevector(x0, x1, 1, 2, 3, 4)) +          \
                     __builtin_shufflevector(x2, x3, 1, 2, 3, 4);                             \
        next += smallSigma1(__builtin_shufflevector(x3, zero, 2, 3, 4, 4));                   \
        next += smallSigma1(__builtin_shufflevector(zero, next, 0, 0, 4, 5));                 \
        x0 = next;                                                                            \
        storeVec(kw + (t), next + loadVec<Vec32>(kK256 + (t)));                               \
    } while (0)

#define SHA256_FOUR_A(i)                                 \
    SHA2_ROUND(a, b, c, d, e, f, g, h, kw[(i) + 0]);     \
    SHA2_ROUND(h, a, b, c, d, e, f, g, kw[(i) + 1]);     \
    SHA2_ROUND(g, h, a, b, c, d, e, f, kw[(i) + 2]);     \
    SHA2_ROUND(f, g, h, a, b, c, d, e, kw[(i) + 3])
#define SHA256_FOUR_B(i)                                 \
    SHA2_ROUND(e, f, g, h, a, b, c, d, kw[(i) + 0]);     \
    SHA2_ROUND(d, e, f, g, h, a, b, c, kw[(i) + 1]);     \
    SHA2_ROUND(c, d, e, f, g, h, a, b, kw[(i) + 2]);     \
    SHA2_ROUND(b, c, d, e, f, g, h, a, kw[(i) + 3])

// SHA-512: x0..x7 hold w[t-16..t-1] two words each; both new words need only older ones.
#define SHA512_SCHEDULE(x0, x1, x4, x5, x7, t)                                                 \
    do {                                                                                      \
        const Vec64 next = x0 + smallSigma0(__builtin_shufflevector(x0, x1, 1, 2)) +          \
                           __builtin_shufflevector(x4, x5, 1, 2) + smallSigma1(x7);           \
        x0 = next;                                                                            \
        storeVec(kw + (t), next + loadVec<Vec64>(kK512 + (t)));                               \
    } while (0)

#define SHA512_TWO_0(i) SHA2_ROUND(a, b, c, d, e, f, g, h, kw[i]); SHA2_ROUND(h, a, b, c, d, e, f, g, kw[(i) + 1])
#define SHA512_TWO_1(i) SHA2_ROUND(g, h, a, b, c, d, e, f, kw[i]); SHA2_ROUND(f, g, h, a, b, c, d, e, kw[(i) + 1])
#define SHA512_TWO_2(i) SHA2_ROUND(e, f, g, h, a, b, c, d, kw[i]); SHA2_ROUND(d, e, f, g, h, a, b, c, kw[(i) + 1])
#define SHA512_TWO_3(i) SHA2_ROUND(c, d, e, f, g, h, a, b, kw[i]); SHA2_ROUND(b, c, d, e, f, g, h, a, kw[(i) + 1])

// Sixteen rounds from round i while the words of rounds i+16..i+31 are scheduled.
#define SHA512_SIXTEEN(i)                                                                     \
    SHA512_TWO_0(i);                                                                          \
    SHA512_SCHEDULE(y0, y1, y4, y5, y7, (i) + 16);                                            \
    SHA512_TWO_1((i) + 2);                                                                    \
    SHA512_SCHEDULE(y1, y2, y5, y6, y0, (i) + 18);                                            \
    SHA512_TWO_2((i) + 4);                                                                    \
    SHA512_SCHEDULE(y2, y3, y6, y7, y1, (i) + 20);                                            \
    SHA512_TWO_3((i) + 6);                                                                    \
    SHA512_SCHEDULE(y3, y4, y7, y0, y2, (i) + 22);                                            \
    SHA512_TWO_0((i) + 8);                                                                    \
    SHA512_SCHEDULE(y4, y5, y0, y1, y3, (i) + 24);                                            \
    SHA512_TWO_1((i) + 10);                                                                   \
    SHA512_SCHEDULE(y5, y6, y1, y2, y4, (i) + 26);                                            \
    SHA512_TWO_2((i) + 12);                                                                   \
    SHA512_SCHEDULE(y6, y7, y2, y3, y5, (i) + 28);                                            \
    SHA512_TWO_3((i) + 14);                                                                   \
    SHA512_SCHEDULE(y7, y0, y3, y4, y6, (i) + 30)

}  // namespace

void sha256BlocksPortable(uint32_t state[8], const uint8_t* data, size_t blocks) {
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    const Vec32 zero = {0, 0, 0, 0};
    for (; blocks != 0; --blocks, data += 64) {
        alignas(16) uint32_t w[16];
        alignas(16) uint32_t kw[64];  // K + w of every round
        for (size_t i = 0; i < 16; ++i) w[i] = load32(data + 4 * i);
        Vec32 x0 = loadVec<Vec32>(w), x1 = loadVec<Vec32>(w + 4);
        Vec32 x2 = loadVec<Vec32>(w + 8), x3 = loadVec<Vec32>(w + 12);
        storeVec(kw, x0 + loadVec<Vec32>(kK256));
        storeVec(kw + 4, x1 + loadVec<Vec32>(kK256 + 4));
        storeVec(kw + 8, x2 + loadVec<Vec32>(kK256 + 8));
        storeVec(kw + 12, x3 + loadVec<Vec32>(kK256 + 12));
        uint32_t bc = b ^ c;

        // Each group of four rounds runs beside the schedule of the words 16 rounds ahead.
        SHA256_FOUR_A(0);
        SHA256_SCHEDULE(x0, x1, x2, x3, 16);
        SHA256_FOUR_B(4);
        SHA256_SCHEDULE(x1, x2, x3, x0, 20);
        SHA256_FOUR_A(8);
        SHA256_SCHEDULE(x2, x3, x0, x1, 24);
        SHA256_FOUR_B(12);
        SHA256_SCHEDULE(x3, x0, x1, x2, 28);
        SHA256_FOUR_A(16);
        SHA256_SCHEDULE(x0, x1, x2, x3, 32);
        SHA256_FOUR_B(20);
        SHA256_SCHEDULE(x1, x2, x3, x0, 36);
        SHA256_FOUR_A(24);
        SHA256_SCHEDULE(x2, x3, x0, x1, 40);
        SHA256_FOUR_B(28);
        SHA256_SCHEDULE(x3, x0, x1, x2, 44);
        SHA256_FOUR_A(32);
        SHA256_SCHEDULE(x0, x1, x2, x3, 48);
        SHA256_FOUR_B(36);
        SHA256_SCHEDULE(x1, x2, x3, x0, 52);
        SHA256_FOUR_A(40);
        SHA256_SCHEDULE(x2, x3, x0, x1, 56);
        SHA256_FOUR_B(44);
        SHA256_SCHEDULE(x3, x0, x1, x2, 60);
        SHA256_FOUR_A(48);
        SHA256_FOUR_B(52);
        SHA256_FOUR_A(56);
        SHA256_FOUR_B(60);

        feedForward(state, a, b, c, d, e, f, g, h);
    }
}

void sha512BlocksPortable(uint64_t state[8], const uint8_t* data, size_t blocks) {
    uint64_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint64_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (; blocks != 0; --blocks, data += 128) {
        alignas(16) uint64_t w[16];
        alignas(16) uint64_t kw[80];  // K + w of every round
        for (size_t i = 0; i < 16; ++i) w[i] = load64(data + 8 * i);
        Vec64 y0 = loadVec<Vec64>(w), y1 = loadVec<Vec64>(w + 2), y2 = loadVec<Vec64>(w + 4);
        Vec64 y3 = loadVec<Vec64>(w + 6), y4 = loadVec<Vec64>(w + 8), y5 = loadVec<Vec64>(w + 10);
        Vec64 y6 = loadVec<Vec64>(w + 12), y7 = loadVec<Vec64>(w + 14);
        for (size_t i = 0; i < 16; i += 2) storeVec(kw + i, loadVec<Vec64>(w + i) + loadVec<Vec64>(kK512 + i));
        uint64_t bc = b ^ c;

        SHA512_SIXTEEN(0);
        SHA512_SIXTEEN(16);
        SHA512_SIXTEEN(32);
        SHA512_SIXTEEN(48);
        SHA512_TWO_0(64);
        SHA512_TWO_1(66);
        SHA512_TWO_2(68);
        SHA512_TWO_3(70);
        SHA512_TWO_0(72);
        SHA512_TWO_1(74);
        SHA512_TWO_2(76);
        SHA512_TWO_3(78);

        feedForward(state, a, b, c, d, e, f, g, h);
    }
}

#undef SHA256_SCHEDULE
#undef SHA256_FOUR_A
#undef SHA256_FOUR_B
#undef SHA512_SCHEDULE
#undef SHA512_TWO_0
#undef SHA512_TWO_1
#undef SHA512_TWO_2
#undef SHA512_TWO_3
#undef SHA512_SIXTEEN

#else  // no generic vector shuffles: the scalar schedule

void sha256BlocksPortable(uint32_t state[8], const uint8_t* data, size_t blocks) {
    sha256BlocksScalar(state, data, blocks);
}
void sha512BlocksPortable(uint64_t state[8], const uint8_t* data, size_t blocks) {
    sha512BlocksScalar(state, data, blocks);
}

#endif

#undef SHA1_ROUND
#undef SHA1_EXPAND
#undef SHA1_FIVE
#undef SHA1_W
#undef SHA2_ROUND
#undef SHA2_EXPAND
#undef SHA2_EIGHT
#undef SHA2_W
#undef SHA2_SIXTEEN_EXPANDED
#undef SHA2_LOAD_WINDOW
#undef X

const BlockEngine& portableBlockEngine() {
    static constexpr BlockEngine kPortable{"portable", sha1BlocksPortable, sha256BlocksPortable};
    return kPortable;
}

}  // namespace veld::se::sha
