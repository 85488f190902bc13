// Byte-wise XOR, AND and OR of a buffer with a repeating key (SE_XOR, SE_AND, SE_OR):
// out[i] = in[i] op key[i mod keyLength]. `out` may be `in`. A key of no bytes has no defined
// repetition, so it is refused rather than divided by.
#include <cstddef>
#include <cstdint>

#include "se_crypto_hash.h"

namespace {

template <class Op>
int32_t combine(uint8_t* out, const uint8_t* in, int32_t length, const uint8_t* key, int32_t keyLength, Op op) {
    if (length < 0) return -1;
    if (length == 0) return 0;
    if (!out || !in || !key || keyLength < 1) return -1;
    const size_t n = static_cast<size_t>(length);
    const size_t k = static_cast<size_t>(keyLength);
    size_t j = 0;
    for (size_t i = 0; i < n; ++i) {
        out[i] = op(in[i], key[j]);
        if (++j == k) j = 0;
    }
    return length;
}

}  // namespace

extern "C" {

int32_t SE_XOR(uint8_t* out, const uint8_t* in, int32_t length, const uint8_t* key, int32_t keyLength) {
    return combine(out, in, length, key, keyLength, [](uint8_t a, uint8_t b) { return static_cast<uint8_t>(a ^ b); });
}
int32_t SE_AND(uint8_t* out, const uint8_t* in, int32_t length, const uint8_t* key, int32_t keyLength) {
    return combine(out, in, length, key, keyLength, [](uint8_t a, uint8_t b) { return static_cast<uint8_t>(a & b); });
}
int32_t SE_OR(uint8_t* out, const uint8_t* in, int32_t length, const uint8_t* key, int32_t keyLength) {
    return combine(out, in, length, key, keyLength, [](uint8_t a, uint8_t b) { return static_cast<uint8_t>(a | b); });
}

}  // extern "C"
