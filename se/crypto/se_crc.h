// The engine's CRC-32 variant: polynomial 0x04C11DB7, data most significant bit first, no
// reflection, no final XOR, and the polynomial applied when the data bit EQUALS the register's
// top bit. That is the usual MSB-first CRC-32 with initial value 0 over the complemented data,
// which is how the table form below computes it.
#pragma once

#include <cstdint>
#include <span>

namespace veld::se::crc {

inline constexpr uint32_t kPolynomial = 0x04C11DB7;

// One byte into a running value, bit by bit (the definition).
constexpr uint32_t updateBitwise(uint32_t crc, uint8_t byte) {
    for (int bit = 7; bit >= 0; --bit) {
        const uint32_t dataBit = (byte >> bit) & 1u;
        const uint32_t topBit = crc >> 31;
        crc <<= 1;
        if (dataBit == topBit) crc ^= kPolynomial;
    }
    return crc;
}

// Bytes into a running value, a table step per byte.
uint32_t update(uint32_t crc, std::span<const uint8_t> data);

}  // namespace veld::se::crc
