// Base64 and Base32 (RFC 4648, standard alphabets, "=" padding, no line breaks) for the crypto
// library. The decoders take outside input: they accept only whole, correctly padded,
// canonical text in the alphabet and never write past the output they are given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace veld::se::encoding {

// Characters the encoders produce for `bytes` input bytes.
constexpr size_t base64EncodedSize(size_t bytes) { return (bytes + 2) / 3 * 4; }
constexpr size_t base32EncodedSize(size_t bytes) { return (bytes + 4) / 5 * 8; }
// Most bytes the decoders can produce from `chars` characters.
constexpr size_t base64DecodedBound(size_t chars) { return chars / 4 * 3; }
constexpr size_t base32DecodedBound(size_t chars) { return chars / 8 * 5; }

// Encode `in` into `out`; the number of characters, or nothing when `out` is too small.
std::optional<size_t> encodeBase64(std::span<const uint8_t> in, std::span<char> out);
std::optional<size_t> encodeBase32(std::span<const uint8_t> in, std::span<char> out);

// Decode `in` into `out`; the number of bytes, or nothing for malformed input or when the
// result does not fit in `out` (then `out` may hold part of it).
std::optional<size_t> decodeBase64(std::string_view in, std::span<uint8_t> out);
std::optional<size_t> decodeBase32(std::string_view in, std::span<uint8_t> out);

}  // namespace veld::se::encoding
