// Base64 and Base32 (RFC 4648) for the crypto library and the exported SE_Encode/Decode
// functions with their numbered aliases (VELD_SE_OTH003, VELD_SE_OTH004).
//
// Decoding is strict because the text comes from outside: the length must be a whole number
// of quanta, padding may only end the last quantum and only in the amounts the encoding
// produces, every other character must be in the alphabet (no white space), and the bits a
// short final quantum leaves over must be zero, so that every accepted text is exactly what
// the encoder writes for its bytes. The output size is known from the padding before anything
// is written, so a result that does not fit is refused up front.
#include "se_base64.h"

#include <array>
#include <climits>

#include "se_crypto_hash.h"

namespace veld::se::encoding {
namespace {

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kBase32Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
constexpr char kPad = '=';
constexpr uint8_t kInvalid = 0xFF;

template <size_t N>
constexpr std::array<uint8_t, 256> makeDecodeTable(const char (&alphabet)[N]) {
    std::array<uint8_t, 256> t{};
    for (auto& v : t) v = kInvalid;
    for (size_t i = 0; i + 1 < N; ++i) t[static_cast<uint8_t>(alphabet[i])] = static_cast<uint8_t>(i);
    return t;
}

constexpr auto kBase64Values = makeDecodeTable(kBase64Alphabet);
constexpr auto kBase32Values = makeDecodeTable(kBase32Alphabet);

// Padding at the end of `in` (at most `limit` characters).
size_t trailingPad(std::string_view in, size_t limit) {
    size_t n = 0;
    while (n < limit && n < in.size() && in[in.size() - 1 - n] == kPad) ++n;
    return n;
}

// Decodes one quantum of `chars` characters of `bits` bits each into `bytes` bytes at `out`.
// `dataChars` of them are alphabet characters, the rest padding. Fails on a character outside
// the alphabet or set bits beyond the last whole byte.
bool decodeQuantum(const char* in, size_t chars, size_t dataChars, unsigned bits, const std::array<uint8_t, 256>& values,
                   size_t bytes, uint8_t* out) {
    uint64_t acc = 0;
    uint8_t bad = 0;
    for (size_t i = 0; i < chars; ++i) {
        uint8_t v = 0;
        if (i < dataChars) {
            v = values[static_cast<uint8_t>(in[i])];
            bad |= static_cast<uint8_t>(v == kInvalid);
        }
        acc = (acc << bits) | (v & ((1u << bits) - 1));
    }
    const size_t total = chars * bits;
    const size_t leftover = total - 8 * bytes;
    if (bad || (acc & ((uint64_t{1} << leftover) - 1)) != 0) return false;
    for (size_t i = 0; i < bytes; ++i) out[i] = static_cast<uint8_t>(acc >> (total - 8 * (i + 1)));
    return true;
}

}  // namespace

std::optional<size_t> encodeBase64(std::span<const uint8_t> in, std::span<char> out) {
    const size_t size = base64EncodedSize(in.size());
    if (out.size() < size) return std::nullopt;
    size_t o = 0;
    size_t i = 0;
    for (; i + 3 <= in.size(); i += 3) {
        const uint32_t v = uint32_t{in[i]} << 16 | uint32_t{in[i + 1]} << 8 | in[i + 2];
        out[o++] = kBase64Alphabet[v >> 18];
        out[o++] = kBase64Alphabet[(v >> 12) & 63];
        out[o++] = kBase64Alphabet[(v >> 6) & 63];
        out[o++] = kBase64Alphabet[v & 63];
    }
    const size_t rest = in.size() - i;
    if (rest != 0) {
        const uint32_t v = uint32_t{in[i]} << 16 | (rest == 2 ? uint32_t{in[i + 1]} << 8 : 0);
        out[o++] = kBase64Alphabet[v >> 18];
        out[o++] = kBase64Alphabet[(v >> 12) & 63];
        out[o++] = rest == 2 ? kBase64Alphabet[(v >> 6) & 63] : kPad;
        out[o++] = kPad;
    }
    return o;
}

std::optional<size_t> encodeBase32(std::span<const uint8_t> in, std::span<char> out) {
    const size_t size = base32EncodedSize(in.size());
    if (out.size() < size) return std::nullopt;
    // Characters carrying data for a final group of 0..4 bytes; the rest of the 8 is padding.
    constexpr size_t kDataChars[] = {0, 2, 4, 5, 7};
    size_t o = 0;
    for (size_t i = 0; i < in.size(); i += 5) {
        const size_t n = in.size() - i < 5 ? in.size() - i : 5;
        uint64_t v = 0;
        for (size_t k = 0; k < 5; ++k) v = v << 8 | (k < n ? in[i + k] : 0);
        const size_t dataChars = n == 5 ? 8 : kDataChars[n];
        for (size_t k = 0; k < 8; ++k) out[o++] = k < dataChars ? kBase32Alphabet[(v >> (35 - 5 * k)) & 31] : kPad;
    }
    return o;
}

std::optional<size_t> decodeBase64(std::string_view in, std::span<uint8_t> out) {
    if (in.size() % 4 != 0) return std::nullopt;
    if (in.empty()) return size_t{0};
    const size_t pad = trailingPad(in, 2);
    const size_t size = in.size() / 4 * 3 - pad;
    if (out.size() < size) return std::nullopt;
    const size_t quanta = in.size() / 4;
    for (size_t q = 0; q + 1 < quanta; ++q) {
        if (!decodeQuantum(in.data() + 4 * q, 4, 4, 6, kBase64Values, 3, out.data() + 3 * q)) return std::nullopt;
    }
    const size_t last = quanta - 1;
    if (!decodeQuantum(in.data() + 4 * last, 4, 4 - pad, 6, kBase64Values, 3 - pad, out.data() + 3 * last)) {
        return std::nullopt;
    }
    return size;
}

std::optional<size_t> decodeBase32(std::string_view in, std::span<uint8_t> out) {
    if (in.size() % 8 != 0) return std::nullopt;
    if (in.empty()) return size_t{0};
    // Bytes in a final quantum with 0..6 padding characters; 2 and 5 never occur.
    constexpr int kBytesForPad[] = {5, 4, -1, 3, 2, -1, 1};
    const size_t pad = trailingPad(in, 6);
    if (kBytesForPad[pad] < 0) return std::nullopt;
    const size_t lastBytes = static_cast<size_t>(kBytesForPad[pad]);
    const size_t quanta = in.size() / 8;
    const size_t size = (quanta - 1) * 5 + lastBytes;
    if (out.size() < size) return std::nullopt;
    for (size_t q = 0; q + 1 < quanta; ++q) {
        if (!decodeQuantum(in.data() + 8 * q, 8, 8, 5, kBase32Values, 5, out.data() + 5 * q)) return std::nullopt;
    }
    const size_t last = quanta - 1;
    if (!decodeQuantum(in.data() + 8 * last, 8, 8 - pad, 5, kBase32Values, lastBytes, out.data() + 5 * last)) {
        return std::nullopt;
    }
    return size;
}

}  // namespace veld::se::encoding

namespace {

using namespace veld::se::encoding;

using Encoder = std::optional<size_t> (*)(std::span<const uint8_t>, std::span<char>);
using Decoder = std::optional<size_t> (*)(std::string_view, std::span<uint8_t>);

int32_t encodeC(Encoder encode, size_t (*encodedSize)(size_t), char* out, const uint8_t* in, int32_t length) {
    if (length < 0) return -1;
    if (length == 0) return 0;
    const size_t size = encodedSize(static_cast<size_t>(length));
    if (!in || !out || size > static_cast<size_t>(INT32_MAX)) return -1;
    const auto n = encode(std::span(in, static_cast<size_t>(length)), std::span(out, size));
    return n ? static_cast<int32_t>(*n) : -1;
}

int32_t decodeC(Decoder decode, size_t (*decodedBound)(size_t), uint8_t* out, const char* in, int32_t length) {
    if (length < 0) return -1;
    if (length == 0) return 0;
    if (!in || !out) return -1;
    const auto n = decode(std::string_view(in, static_cast<size_t>(length)),
                          std::span(out, decodedBound(static_cast<size_t>(length))));
    return n ? static_cast<int32_t>(*n) : -1;
}

size_t base64Size(size_t n) { return base64EncodedSize(n); }
size_t base32Size(size_t n) { return base32EncodedSize(n); }
size_t base64Bound(size_t n) { return base64DecodedBound(n); }
size_t base32Bound(size_t n) { return base32DecodedBound(n); }

}  // namespace

extern "C" {

int32_t SE_EncodeBase64(char* out, const uint8_t* in, int32_t length) {
    return encodeC(encodeBase64, base64Size, out, in, length);
}
int32_t SE_DecodeBase64(uint8_t* out, const char* in, int32_t length) {
    return decodeC(decodeBase64, base64Bound, out, in, length);
}
int32_t SE_EncodeBase32(char* out, const uint8_t* in, int32_t length) {
    return encodeC(encodeBase32, base32Size, out, in, length);
}
int32_t SE_DecodeBase32(uint8_t* out, const char* in, int32_t length) {
    return decodeC(decodeBase32, base32Bound, out, in, length);
}

int32_t VELD_SE_OTH003(char* out, const uint8_t* in, int32_t length) { return SE_EncodeBase64(out, in, length); }
int32_t VELD_SE_OTH004(uint8_t* out, const char* in, int32_t length) { return SE_DecodeBase64(out, in, length); }

}  // extern "C"
