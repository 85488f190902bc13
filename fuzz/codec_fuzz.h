// The body shared by the Base64 and Base32 fuzz targets.
//
// Every input is decoded into a heap buffer of exactly the documented bound so that the
// sanitizers catch any write past it. What the decoder accepts must re-encode to exactly the
// input (only canonical text is accepted) and must not fit in one byte less, and every input
// taken as raw bytes must survive an encode/decode round trip.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

struct CodecUnderTest {
    int32_t (*encode)(char*, const uint8_t*, int32_t);
    int32_t (*decode)(uint8_t*, const char*, int32_t);
    std::optional<size_t> (*decodeInto)(std::string_view, std::span<uint8_t>);
    size_t (*encodedSize)(size_t);
    size_t (*decodedBound)(size_t);
};

inline int fuzzCodec(const CodecUnderTest& c, const uint8_t* data, size_t size) {
    if (size > (1u << 16)) return 0;
    const auto length = static_cast<int32_t>(size);
    const char* text = reinterpret_cast<const char*>(data);

    // Decode as text.
    const size_t bound = c.decodedBound(size);
    std::unique_ptr<uint8_t[]> decoded(new uint8_t[bound]);
    const int32_t n = c.decode(decoded.get(), text, length);
    if (n < -1 || (n >= 0 && static_cast<size_t>(n) > bound) || (size == 0 && n != 0)) __builtin_trap();
    if (n > 0) {
        std::unique_ptr<char[]> again(new char[c.encodedSize(static_cast<size_t>(n))]);
        if (c.encode(again.get(), decoded.get(), n) != length) __builtin_trap();
        if (std::memcmp(again.get(), text, size) != 0) __builtin_trap();
        const size_t shortBy1 = static_cast<size_t>(n) - 1;
        std::unique_ptr<uint8_t[]> small(new uint8_t[shortBy1]);
        if (c.decodeInto(std::string_view(text, size), std::span(small.get(), shortBy1))) __builtin_trap();
    }

    // Encode the raw bytes and decode them back.
    const size_t chars = c.encodedSize(size);
    std::unique_ptr<char[]> encoded(new char[chars]);
    if (c.encode(encoded.get(), data, length) != static_cast<int32_t>(chars)) __builtin_trap();
    std::unique_ptr<uint8_t[]> back(new uint8_t[c.decodedBound(chars)]);
    if (c.decode(back.get(), encoded.get(), static_cast<int32_t>(chars)) != length) __builtin_trap();
    if (size != 0 && std::memcmp(back.get(), data, size) != 0) __builtin_trap();
    return 0;
}
