// The engine's CRC-32 variant, Base64/Base32 (RFC 4648) both ways including rejected input,
// and the byte-wise XOR/AND/OR, through the exported C functions.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "se_base64.h"
#include "hash_test_util.h"
#include "se_crypto_hash.h"

namespace {

// ----------------------------------------------------------------------------------- CRC

// The usual MSB-first CRC-32 (polynomial 0x04C11DB7, initial value 0, no reflection, no final
// XOR) over the complemented bytes: what the engine's variant must equal.
uint32_t referenceCrc(const std::vector<uint8_t>& data) {
    uint32_t crc = 0;
    for (uint8_t b : data) {
        crc ^= uint32_t{static_cast<uint8_t>(~b)} << 24;
        for (int i = 0; i < 8; ++i) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

TEST(Crc, KnownValuesAndDegenerateLengths) {
    EXPECT_EQ(SE_CalcDataCRC32(bytesOf("abc"), 3), 0x6473448Cu);
    EXPECT_EQ(SE_CalcDataCRC32(bytesOf("abc"), 0), 0u);
    EXPECT_EQ(SE_CalcDataCRC32(bytesOf("abc"), -1), 0u);
    EXPECT_EQ(SE_CalcDataCRC32(nullptr, 3), 0u);
}

TEST(Crc, ByteStepsChainToTheBufferValueAndMatchTheComplementRule) {
    std::mt19937 rng(3);
    for (int n : {1, 2, 7, 64, 1000}) {
        std::vector<uint8_t> data(static_cast<size_t>(n));
        for (auto& b : data) b = static_cast<uint8_t>(rng());
        uint32_t stepped = 0, alias = 0;
        for (uint8_t b : data) {
            stepped = SE_CalcCRC32(stepped, b);
            alias = VELD_SE_OTH000(alias, b);
        }
        EXPECT_EQ(stepped, SE_CalcDataCRC32(data.data(), n)) << n;
        EXPECT_EQ(alias, stepped) << n;
        EXPECT_EQ(stepped, referenceCrc(data)) << n;
    }
    // A running value other than 0 is carried on, not restarted.
    EXPECT_EQ(SE_CalcCRC32(SE_CalcCRC32(SE_CalcCRC32(0, 'a'), 'b'), 'c'), 0x6473448Cu);
}

// --------------------------------------------------------------------------- Base64/32

struct Codec {
    const char* name;
    int32_t (*encode)(char*, const uint8_t*, int32_t);
    int32_t (*decode)(uint8_t*, const char*, int32_t);
    size_t charsPerQuantum;
    size_t bytesPerQuantum;
};

const Codec kBase64{"Base64", SE_EncodeBase64, SE_DecodeBase64, 4, 3};
const Codec kBase32{"Base32", SE_EncodeBase32, SE_DecodeBase32, 8, 5};
const Codec kBase64Alias{"Base64 (numbered)", VELD_SE_OTH003, VELD_SE_OTH004, 4, 3};

std::string encode(const Codec& c, const std::string& in) {
    std::string out((in.size() + c.bytesPerQuantum - 1) / c.bytesPerQuantum * c.charsPerQuantum + 1, '#');
    const int32_t n = c.encode(out.data(), bytesOf(in), lengthOf(in));
    EXPECT_GE(n, 0);
    EXPECT_EQ(out.back(), '#') << "wrote past the encoded length";
    return out.substr(0, static_cast<size_t>(std::max(n, 0)));
}

// Decodes into a buffer of exactly the documented bound; -1 or the decoded text.
std::pair<int32_t, std::string> decode(const Codec& c, const std::string& in) {
    std::vector<uint8_t> out(in.size() / c.charsPerQuantum * c.bytesPerQuantum + 1, 0xA5);
    const int32_t n = c.decode(out.data(), in.data(), lengthOf(in));
    EXPECT_EQ(out.back(), 0xA5) << "wrote past the bound";
    if (n < 0) return {n, ""};
    return {n, std::string(out.begin(), out.begin() + n)};
}

struct Row {
    const Codec* codec;
    std::string plain;
    std::string text;
};

// RFC 4648, section 10.
const Row kVectors[] = {
    {&kBase64, "", ""},         {&kBase64, "f", "Zg=="},         {&kBase64, "fo", "Zm8="},
    {&kBase64, "foo", "Zm9v"},  {&kBase64, "foob", "Zm9vYg=="},  {&kBase64, "fooba", "Zm9vYmE="},
    {&kBase64, "foobar", "Zm9vYmFy"},
    {&kBase64Alias, "foob", "Zm9vYg=="},
    {&kBase32, "", ""},                {&kBase32, "f", "MY======"},         {&kBase32, "fo", "MZXQ===="},
    {&kBase32, "foo", "MZXW6==="},     {&kBase32, "foob", "MZXW6YQ="},      {&kBase32, "fooba", "MZXW6YTB"},
    {&kBase32, "foobar", "MZXW6YTBOI======"},
};

TEST(Encoding, PublishedVectorsBothWays) {
    for (const Row& r : kVectors) {
        SCOPED_TRACE(std::string(r.codec->name) + " \"" + r.plain + "\"");
        EXPECT_EQ(encode(*r.codec, r.plain), r.text);
        const auto [n, plain] = decode(*r.codec, r.text);
        EXPECT_EQ(n, lengthOf(r.plain));
        EXPECT_EQ(plain, r.plain);
    }
}

// Malformed text is refused with -1: truncated or over-long quanta, padding in the wrong place
// or amount, characters outside the alphabet (white space, URL-safe, lower case for Base32),
// and set bits left over in a short final quantum (only one text may stand for given bytes).
const Row kRejected[] = {
    {&kBase64, "", "Zg="},        {&kBase64, "", "Zg"},         {&kBase64, "", "Zm9vY"},
    {&kBase64, "", "Zm9vYg==="},  {&kBase64, "", "Zh=="},       {&kBase64, "", "Zm9="},
    {&kBase64, "", "Z==="},       {&kBase64, "", "===="},       {&kBase64, "", "Zg==Zg=="},
    {&kBase64, "", "Zg=a"},       {&kBase64, "", "Zm9v===="},   {&kBase64, "", "Zm 9"},
    {&kBase64, "", "Zm9v\nZm9"}, {&kBase64, "", "Zm9-"},       {&kBase64, "", "Zm9_"},
    {&kBase64, "", std::string("Zm\0v", 4)},                    {&kBase64, "", "Zm9\xff"},
    {&kBase32, "", "MY====="},    {&kBase32, "", "MY======="},  {&kBase32, "", "MZXW6YQ"},
    {&kBase32, "", "M======="},   {&kBase32, "", "========"},   {&kBase32, "", "MZXW6Y=="},
    {&kBase32, "", "MZX====="},   {&kBase32, "", "MZXW6YT="},   {&kBase32, "", "MZ======"},
    {&kBase32, "", "mzxw6ytb"},   {&kBase32, "", "MZXW6YT1"},   {&kBase32, "", "MY======MY======"},
    {&kBase32, "", "MZXW=6YT"},   {&kBase32, "", "MZXW6YT "},
};

TEST(Encoding, MalformedTextIsRejected) {
    for (const Row& r : kRejected) {
        SCOPED_TRACE(std::string(r.codec->name) + " \"" + r.text + "\"");
        EXPECT_EQ(decode(*r.codec, r.text).first, -1);
    }
}

TEST(Encoding, BadArgumentsFail) {
    for (const Codec* c : {&kBase64, &kBase32}) {
        SCOPED_TRACE(c->name);
        char text[16];
        uint8_t raw[16];
        EXPECT_EQ(c->encode(text, bytesOf("abc"), -1), -1);
        EXPECT_EQ(c->encode(nullptr, bytesOf("abc"), 3), -1);
        EXPECT_EQ(c->encode(text, nullptr, 3), -1);
        EXPECT_EQ(c->encode(nullptr, nullptr, 0), 0);
        EXPECT_EQ(c->decode(raw, "AAAAAAAA", -8), -1);
        EXPECT_EQ(c->decode(nullptr, "AAAAAAAA", 8), -1);
        EXPECT_EQ(c->decode(raw, nullptr, 8), -1);
        EXPECT_EQ(c->decode(nullptr, nullptr, 0), 0);
    }
    // An input whose encoding would not fit in a signed 32-bit count is refused before anything
    // is read.
    uint8_t one = 0;
    char sink[4];
    EXPECT_EQ(SE_EncodeBase64(sink, &one, INT32_MAX), -1);
    EXPECT_EQ(SE_EncodeBase32(sink, &one, INT32_MAX), -1);
}

TEST(Encoding, DecodersRefuseOutputThatDoesNotFit) {
    using namespace veld::se::encoding;
    uint8_t out[8];
    std::memset(out, 0xA5, sizeof out);
    // "foobar" needs 6 bytes.
    EXPECT_FALSE(decodeBase64("Zm9vYmFy", std::span(out, 5)).has_value());
    EXPECT_FALSE(decodeBase32("MZXW6YTBOI======", std::span(out, 5)).has_value());
    EXPECT_EQ(out[0], 0xA5) << "nothing is written when the result cannot fit";
    EXPECT_EQ(decodeBase64("Zm9vYmFy", std::span(out, 6)), std::optional<size_t>(6));
    EXPECT_EQ(decodeBase32("MZXW6YTBOI======", std::span(out, 6)), std::optional<size_t>(6));
    char text[8];
    EXPECT_FALSE(encodeBase64(std::span(reinterpret_cast<const uint8_t*>("foob"), 4), std::span(text, 7)).has_value());
    EXPECT_FALSE(encodeBase32(std::span(reinterpret_cast<const uint8_t*>("f"), 1), std::span(text, 7)).has_value());
}

TEST(Encoding, Base64MatchesOpenSslAndRandomBytesRoundTrip) {
    std::mt19937 rng(11);
    for (int n = 0; n < 300; ++n) {
        std::string plain(static_cast<size_t>(n), '\0');
        for (auto& ch : plain) ch = static_cast<char>(rng());
        std::string peer(4 * ((plain.size() + 2) / 3) + 1, '\0');
        const int m = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(peer.data()), bytesOf(plain), n);
        peer.resize(static_cast<size_t>(m));
        EXPECT_EQ(encode(kBase64, plain), peer) << n;
        for (const Codec* c : {&kBase64, &kBase32}) {
            const auto [k, back] = decode(*c, encode(*c, plain));
            EXPECT_EQ(k, n) << c->name;
            EXPECT_EQ(back, plain) << c->name;
        }
    }
}

// Whatever a decoder accepts must be exactly what the encoder writes for the decoded bytes;
// random edits of valid text probe every rejection path.
TEST(Encoding, AcceptedTextIsCanonical) {
    std::mt19937 rng(5);
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=-_ \n";
    for (const Codec* c : {&kBase64, &kBase32}) {
        int accepted = 0;
        for (int i = 0; i < 4000; ++i) {
            std::string plain(rng() % 12, '\0');
            for (auto& ch : plain) ch = static_cast<char>(rng());
            std::string text = encode(*c, plain);
            if (text.empty()) continue;
            text[rng() % text.size()] = alphabet[rng() % alphabet.size()];
            const auto [n, back] = decode(*c, text);
            if (n < 0) continue;
            ++accepted;
            EXPECT_EQ(encode(*c, back), text) << c->name;
        }
        EXPECT_GT(accepted, 0) << c->name;
    }
}

// --------------------------------------------------------------------------- XOR/AND/OR

TEST(BitOps, KeyRepeatsOverTheInput) {
    const uint8_t in[] = {0x00, 0xFF, 0x0F, 0xF0, 0x55, 0xAA, 0x12};
    const uint8_t key[] = {0x0F, 0xF0, 0x3C};
    struct Case {
        const char* name;
        int32_t (*op)(uint8_t*, const uint8_t*, int32_t, const uint8_t*, int32_t);
        uint8_t expected[7];
    };
    const Case cases[] = {
        {"XOR", SE_XOR, {0x0F, 0x0F, 0x33, 0xFF, 0xA5, 0x96, 0x1D}},
        {"AND", SE_AND, {0x00, 0xF0, 0x0C, 0x00, 0x50, 0x28, 0x02}},
        {"OR", SE_OR, {0x0F, 0xFF, 0x3F, 0xFF, 0xF5, 0xBE, 0x1F}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        uint8_t out[8];
        std::memset(out, 0xEE, sizeof out);
        EXPECT_EQ(c.op(out, in, 7, key, 3), 7);
        EXPECT_EQ(std::memcmp(out, c.expected, 7), 0);
        EXPECT_EQ(out[7], 0xEE);
        // In place gives the same.
        uint8_t buf[7];
        std::memcpy(buf, in, 7);
        EXPECT_EQ(c.op(buf, buf, 7, key, 3), 7);
        EXPECT_EQ(std::memcmp(buf, c.expected, 7), 0);
    }
}

TEST(BitOps, BadArgumentsFail) {
    uint8_t buf[4] = {1, 2, 3, 4};
    const uint8_t key[1] = {9};
    for (auto op : {SE_XOR, SE_AND, SE_OR}) {
        EXPECT_EQ(op(buf, buf, 4, key, 0), -1);  // no key bytes to repeat
        EXPECT_EQ(op(buf, buf, 4, key, -2), -1);
        EXPECT_EQ(op(buf, buf, -1, key, 1), -1);
        EXPECT_EQ(op(buf, buf, 4, nullptr, 1), -1);
        EXPECT_EQ(op(nullptr, buf, 4, key, 1), -1);
        EXPECT_EQ(op(buf, nullptr, 4, key, 1), -1);
        EXPECT_EQ(op(nullptr, nullptr, 0, nullptr, 0), 0);
    }
    EXPECT_EQ(buf[0], 1);
}

}  // namespace
