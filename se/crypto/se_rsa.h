// RSA key state shared by the exported RSA operations: the imported key (one per process, it
// serves one operation) and the raw exponentiation that the paddings build on.
#pragma once

#include <cstdint>

namespace veld::se::rsa {

constexpr int kMaxModulusBytes = 512;

// Modulus length in bytes and bits of the imported key; 0 without a key.
int modulusLength();
int modulusBits();

// Raw m^e or c^d of `length` (1..modulus length) big-endian bytes below n into `out`
// (modulus length bytes). Consumes the key: the pool is wiped and the key forgotten whether
// it succeeds or not. Returns the modulus length or -1.
int32_t rawOperation(uint8_t* out, const uint8_t* in, int32_t length, bool isPrivate);

// Forgets the key and wipes the pool (after an operation that did not reach rawOperation).
void consumeKey();

}  // namespace veld::se::rsa
