// SHA-1 and the SHA-2 family for the crypto library: the C++ hashing contexts that the exported
// SE_SHA* functions, HMAC and the RSA paddings share, and the block functions they run on.
//
// A context is a plain value (no allocation); `finish` writes the digest and leaves the context
// started again for the same algorithm. SHA-1 and SHA-256 run on the block functions of the
// engine chosen at first use (se_sha_engines.cpp): the SHA extensions of x86-64 or ARMv8
// where the CPU has them, the portable code otherwise.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace veld::se::sha {

enum class Algorithm { Sha1, Sha224, Sha256, Sha384, Sha512 };

// Compress `blocks` whole blocks (64 bytes for SHA-1/256, 128 for SHA-512) into `state`.
void sha1BlocksPortable(uint32_t state[5], const uint8_t* data, size_t blocks);
void sha256BlocksPortable(uint32_t state[8], const uint8_t* data, size_t blocks);
void sha512BlocksPortable(uint64_t state[8], const uint8_t* data, size_t blocks);
// The same with a purely scalar message schedule: what the portable functions fall back to
// on compilers without generic vectors.
void sha256BlocksScalar(uint32_t state[8], const uint8_t* data, size_t blocks);
void sha512BlocksScalar(uint64_t state[8], const uint8_t* data, size_t blocks);

// The SHA-256 round constants.
alignas(16) inline constexpr uint32_t kK256[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

// Block functions of one instruction set, for SHA-1 and SHA-256.
struct BlockEngine {
    const char* name;
    void (*sha1)(uint32_t state[5], const uint8_t* data, size_t blocks);
    void (*sha256)(uint32_t state[8], const uint8_t* data, size_t blocks);
    uint32_t needs = 0;  // the cpu::Feature bits the engine runs on
};

// The portable engine (se_sha_portable.cpp); the reference of the others.
const BlockEngine& portableBlockEngine();
// The SHA extensions of x86-64 (se_sha_ni.cpp) and of ARMv8 (se_sha_arm.cpp); null when not
// built for this CPU family.
const BlockEngine* shaNiBlockEngine();
const BlockEngine* armCeBlockEngine();
// Every engine built for this CPU family, preferred first, and whether the CPU runs it.
struct BlockEngineList {
    const BlockEngine* const* items;
    size_t count;
    const BlockEngine* const* begin() const { return items; }
    const BlockEngine* const* end() const { return items + count; }
};
BlockEngineList blockEngines();
bool runnable(const BlockEngine& e);
// The engine the library uses: the first runnable one, or the portable one when
// VELD_CRYPTO_PORTABLE=1.
const BlockEngine& blockEngine();

// The Merkle-Damgard framing shared by all five hashes: a chaining value of `kWords` words,
// a byte count and a partial block. `Traits` supplies the word type, block size, block
// function and the length field width.
template <class Traits>
class MdContext {
public:
    using Word = typename Traits::Word;
    static constexpr size_t kBlockSize = Traits::kBlockSize;
    static constexpr size_t kWords = Traits::kWords;

    constexpr explicit MdContext(const std::array<Word, kWords>& iv) : iv_(iv), h_(iv) {}

    // Starts a new message from `iv`.
    constexpr void start(const std::array<Word, kWords>& iv) {
        iv_ = iv;
        restart();
    }

    // Starts a new message from the last starting value.
    constexpr void restart() {
        h_ = iv_;
        count_ = 0;
        used_ = 0;
    }

    void update(const uint8_t* data, size_t length) {
        if (length == 0) return;
        count_ += length;
        if (used_ != 0) {
            const size_t take = length < kBlockSize - used_ ? length : kBlockSize - used_;
            copyBytes(buffer_.data() + used_, data, take);
            used_ += take;
            data += take;
            length -= take;
            if (used_ < kBlockSize) return;
            Traits::blocks(h_.data(), buffer_.data(), 1);
            used_ = 0;
        }
        const size_t whole = length / kBlockSize;
        if (whole != 0) {
            Traits::blocks(h_.data(), data, whole);
            data += whole * kBlockSize;
            length -= whole * kBlockSize;
        }
        copyBytes(buffer_.data(), data, length);
        used_ = length;
    }

    void update(std::span<const uint8_t> data) { update(data.data(), data.size()); }

    // Pads, writes the first `outLength` bytes of the big-endian chaining value and restarts.
    void finish(uint8_t* out, size_t outLength) {
        constexpr size_t kLengthBytes = Traits::kLengthBytes;
        buffer_[used_++] = 0x80;
        if (used_ > kBlockSize - kLengthBytes) {
            fillZero(used_, kBlockSize);
            Traits::blocks(h_.data(), buffer_.data(), 1);
            used_ = 0;
        }
        fillZero(used_, kBlockSize - 8);
        // The message length in bits, big-endian; the bits above 64 (SHA-512's 128-bit field)
        // are the top three bits of the byte count.
        if constexpr (kLengthBytes == 16) buffer_[kBlockSize - 9] = static_cast<uint8_t>(count_ >> 61);
        const uint64_t bits = count_ << 3;
        for (size_t i = 0; i < 8; ++i) buffer_[kBlockSize - 1 - i] = static_cast<uint8_t>(bits >> (8 * i));
        Traits::blocks(h_.data(), buffer_.data(), 1);

        uint8_t digest[kWords * sizeof(Word)];
        for (size_t w = 0; w < kWords; ++w) {
            for (size_t b = 0; b < sizeof(Word); ++b) {
                digest[w * sizeof(Word) + b] = static_cast<uint8_t>(h_[w] >> (8 * (sizeof(Word) - 1 - b)));
            }
        }
        copyBytes(out, digest, outLength < sizeof(digest) ? outLength : sizeof(digest));
        wipe(digest, sizeof(digest));
        wipe(buffer_.data(), buffer_.size());
        restart();
    }

    // Clears everything that depends on the message (keys hashed through HMAC included).
    void clear() {
        wipe(buffer_.data(), buffer_.size());
        restart();
    }

private:
    static void copyBytes(uint8_t* to, const uint8_t* from, size_t n) {
        if (n != 0) std::memcpy(to, from, n);
    }
    void fillZero(size_t from, size_t to) {
        if (to > from) std::memset(buffer_.data() + from, 0, to - from);
    }
    static void wipe(uint8_t* p, size_t n) {
        volatile uint8_t* v = p;
        for (size_t i = 0; i < n; ++i) v[i] = 0;
    }

    std::array<Word, kWords> iv_;
    std::array<Word, kWords> h_;
    uint64_t count_ = 0;  // message bytes so far
    size_t used_ = 0;     // bytes waiting in buffer_
    std::array<uint8_t, kBlockSize> buffer_{};
};

struct Sha1Traits {
    using Word = uint32_t;
    static constexpr size_t kBlockSize = 64;
    static constexpr size_t kWords = 5;
    static constexpr size_t kLengthBytes = 8;
    static void blocks(uint32_t* h, const uint8_t* p, size_t n) { blockEngine().sha1(h, p, n); }
};
struct Sha256Traits {
    using Word = uint32_t;
    static constexpr size_t kBlockSize = 64;
    static constexpr size_t kWords = 8;
    static constexpr size_t kLengthBytes = 8;
    static void blocks(uint32_t* h, const uint8_t* p, size_t n) { blockEngine().sha256(h, p, n); }
};
struct Sha512Traits {
    using Word = uint64_t;
    static constexpr size_t kBlockSize = 128;
    static constexpr size_t kWords = 8;
    static constexpr size_t kLengthBytes = 16;
    static void blocks(uint64_t* h, const uint8_t* p, size_t n) { sha512BlocksPortable(h, p, n); }
};

inline constexpr std::array<uint32_t, 5> kSha1Iv{0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
inline constexpr std::array<uint32_t, 8> kSha224Iv{0xc1059ed8, 0x367cd507, 0x3070dd17, 0xf70e5939,
                                                   0xffc00b31, 0x68581511, 0x64f98fa7, 0xbefa4fa4};
inline constexpr std::array<uint32_t, 8> kSha256Iv{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                                   0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
inline constexpr std::array<uint64_t, 8> kSha384Iv{
    0xcbbb9d5dc1059ed8, 0x629a292a367cd507, 0x9159015a3070dd17, 0x152fecd8f70e5939,
    0x67332667ffc00b31, 0x8eb44a8768581511, 0xdb0c2e0d64f98fa7, 0x47b5481dbefa4fa4};
inline constexpr std::array<uint64_t, 8> kSha512Iv{
    0x6a09e667f3bcc908, 0xbb67ae8584caa73b, 0x3c6ef372fe94f82b, 0xa54ff53a5f1d36f1,
    0x510e527fade682d1, 0x9b05688c2b3e6c1f, 0x1f83d9abfb41bd6b, 0x5be0cd19137e2179};

using Sha1Context = MdContext<Sha1Traits>;
using Sha256Context = MdContext<Sha256Traits>;  // also SHA-224
using Sha512Context = MdContext<Sha512Traits>;  // also SHA-384

inline constexpr size_t kMaxDigestSize = 64;
inline constexpr size_t kMaxBlockSize = 128;

constexpr size_t digestSize(Algorithm a) {
    switch (a) {
    case Algorithm::Sha1: return 20;
    case Algorithm::Sha224: return 28;
    case Algorithm::Sha256: return 32;
    case Algorithm::Sha384: return 48;
    case Algorithm::Sha512: return 64;
    }
    return 0;
}

constexpr size_t blockSize(Algorithm a) {
    return a == Algorithm::Sha384 || a == Algorithm::Sha512 ? 128 : 64;
}

// Any one of the five hashes behind one interface, for code that picks the hash at run time
// (HMAC, MGF1, PSS). Holds the largest context; no allocation.
class Hasher {
public:
    explicit Hasher(Algorithm a);
    Algorithm algorithm() const { return algorithm_; }
    size_t size() const { return digestSize(algorithm_); }
    void update(const uint8_t* data, size_t length);
    void update(std::span<const uint8_t> data) { update(data.data(), data.size()); }
    // Writes size() bytes and starts again.
    void finish(uint8_t* out);
    void clear();

private:
    Algorithm algorithm_;
    Sha1Context sha1_{kSha1Iv};
    Sha256Context sha256_{kSha256Iv};
    Sha512Context sha512_{kSha512Iv};
};

// One-shot digest of `data` into `out` (digestSize(a) bytes).
void digest(Algorithm a, std::span<const uint8_t> data, uint8_t* out);

}  // namespace veld::se::sha
