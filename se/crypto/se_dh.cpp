// Diffie-Hellman private value generation: x is filled with random bytes from the engine's
// random source and its top bit set, so that it has the full length the parameters ask for.
#include "se_dh.h"

#include "se_crypto_rsa.h"
#include "se_random.h"

namespace veld::se::dh {

bool parseBlob(const uint8_t* blob, size_t length, BlobLayout& layout) {
    if (!blob || length < 2) return false;
    layout.primeOffset = 2;
    layout.primeLength = blob[0] | (static_cast<size_t>(blob[1]) << 8);
    if (layout.primeLength > length - 2 || length - 2 - layout.primeLength < 2) return false;
    const size_t at = 2 + layout.primeLength;
    layout.valueOffset = at + 2;
    layout.valueLength = blob[at] | (static_cast<size_t>(blob[at + 1]) << 8);
    return layout.valueLength <= length - layout.valueOffset;
}

}  // namespace veld::se::dh

extern "C" int32_t SE_RSA_GenDiffieHellmanKey(uint8_t* blob, int32_t length) {
    using namespace veld::se;
    dh::BlobLayout l;
    if (length <= 0 || !dh::parseBlob(blob, static_cast<size_t>(length), l) || l.valueLength == 0) {
        return -1;
    }
    uint8_t* x = blob + l.valueOffset;
    if (randomBytes(x, l.valueLength) != 0) return -1;
    x[0] |= 0x80;
    return static_cast<int32_t>(l.valueOffset + l.valueLength);
}
