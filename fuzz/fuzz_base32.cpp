// libFuzzer target for the Base32 decoder (SE_DecodeBase32) and encoder.
//
// Every input is decoded into a heap buffer of exactly the documented bound so that the
// sanitizers catch any write past it. What the decoder accepts must re-encode to exactly the
// input (only canonical text is accepted), must not fit in one byte less, and every input
// taken as raw bytes must survive an encode/decode round trip.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string_view>

#include "se_base64.h"
#include "se_crypto_hash.h"

namespace {

[[noreturn]] void fail() { __builtin_trap(); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 16)) return 0;
    const auto length = static_cast<int32_t>(size);
    const char* text = reinterpret_cast<const char*>(data);

    // Decode as text.
    const size_t bound = size / 8 * 5;
    std::unique_ptr<uint8_t[]> decoded(new uint8_t[bound]);
    const int32_t n = SE_DecodeBase32(decoded.get(), text, length);
    if (n < -1 || (n >= 0 && static_cast<size_t>(n) > bound) || (size == 0 && n != 0)) fail();
    if (n > 0) {
        const size_t chars = veld::se::encoding::base32EncodedSize(static_cast<size_t>(n));
        std::unique_ptr<char[]> again(new char[chars]);
        if (SE_EncodeBase32(again.get(), decoded.get(), n) != length) fail();
        if (std::memcmp(again.get(), text, size) != 0) fail();
        std::unique_ptr<uint8_t[]> small(new uint8_t[static_cast<size_t>(n) - 1]);
        if (veld::se::encoding::decodeBase32(std::string_view(text, size), std::span(small.get(), static_cast<size_t>(n) - 1))) {
            fail();
        }
    }

    // Encode the raw bytes and decode them back.
    const size_t chars = veld::se::encoding::base32EncodedSize(size);
    std::unique_ptr<char[]> encoded(new char[chars]);
    if (SE_EncodeBase32(encoded.get(), data, length) != static_cast<int32_t>(chars)) fail();
    std::unique_ptr<uint8_t[]> back(new uint8_t[veld::se::encoding::base32DecodedBound(chars)]);
    if (SE_DecodeBase32(back.get(), encoded.get(), static_cast<int32_t>(chars)) != length) fail();
    if (size != 0 && std::memcmp(back.get(), data, size) != 0) fail();
    return 0;
}
