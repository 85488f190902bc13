// The eMMC's replay-protected memory block (RPMB) data frame: 512 bytes in the layout of the
// JEDEC eMMC standard, multi-byte fields big-endian. The secure engine fills and reads it, the
// trusted world signs and checks it, the part (or its simulator) answers it; all of them use
// this one definition.
#pragma once

#include <cstddef>
#include <cstdint>

namespace veld::rpmb {

constexpr uint32_t kBlocks = 1024;      // blocks of the partition
constexpr uint32_t kBlockBytes = 256;   // data bytes of a block (one frame)
constexpr uint32_t kKeyBytes = 32;
constexpr uint32_t kNonceBytes = 16;
// The MAC (HMAC-SHA256 under the programmed key) covers the frame from the data to its end.
constexpr size_t kMacFrom = 228;
constexpr size_t kMacBytes = 512 - kMacFrom;  // 284

struct Frame {
    uint8_t stuff[196];
    uint8_t keyMac[32];  // the key of a key-programming request, else the MAC
    uint8_t data[256];
    uint8_t nonce[16];
    uint8_t writeCounter[4];
    uint8_t address[2];
    uint8_t blockCount[2];
    uint8_t result[2];
    uint8_t type[2];  // request or response type
};
static_assert(sizeof(Frame) == 512, "RPMB frame: 512 bytes");
static_assert(offsetof(Frame, keyMac) == 196 && offsetof(Frame, data) == kMacFrom, "frame MAC");
static_assert(offsetof(Frame, nonce) == 484 && offsetof(Frame, writeCounter) == 500, "frame nonce");
static_assert(offsetof(Frame, address) == 504 && offsetof(Frame, type) == 510, "frame words");

// Request types; a response carries its request's type shifted into the high byte.
enum : uint16_t {
    kProgramKey = 0x0001,
    kReadCounter = 0x0002,
    kWrite = 0x0003,
    kRead = 0x0004,
    kResultRead = 0x0005,
};
constexpr uint16_t responseOf(uint16_t request) { return static_cast<uint16_t>(request << 8); }

// Result codes of a response (the low seven bits); bit 0x80 says the write counter expired.
enum : uint16_t {
    kOk = 0x0000,
    kGeneralFailure = 0x0001,
    kAuthFailure = 0x0002,
    kCounterFailure = 0x0003,
    kAddressFailure = 0x0004,
    kWriteFailure = 0x0005,
    kReadFailure = 0x0006,
    kKeyNotProgrammed = 0x0007,
    kCounterExpired = 0x0080,
};

inline uint16_t get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline uint32_t get32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
inline void put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
inline void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

inline uint16_t typeOf(const Frame& f) { return get16(f.type); }
inline uint16_t resultOf(const Frame& f) { return get16(f.result); }
inline uint16_t addressOf(const Frame& f) { return get16(f.address); }
inline uint32_t counterOf(const Frame& f) { return get32(f.writeCounter); }
inline const uint8_t* macInput(const Frame& f) { return reinterpret_cast<const uint8_t*>(&f) + kMacFrom; }

}  // namespace veld::rpmb
