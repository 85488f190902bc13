// Diffie-Hellman private values over the blob {16-bit little-endian length, prime p},
// {16-bit length, private value x} that SE_RSA_ReadPKCS3 produces.
#pragma once

#include <cstddef>
#include <cstdint>

namespace veld::se::dh {

// Field offsets of a blob of `length` bytes; false when the blob is shorter than its lengths.
struct BlobLayout {
    size_t primeOffset = 0, primeLength = 0;
    size_t valueOffset = 0, valueLength = 0;
};
bool parseBlob(const uint8_t* blob, size_t length, BlobLayout& layout);

}  // namespace veld::se::dh
