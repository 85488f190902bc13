// HMAC through SE_HMAC_SetKey / SE_HMAC_GetValue: RFC 2202 and RFC 4231 vectors, every hash
// selector, the 128-byte key limit, and differential runs against OpenSSL.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "hash_test_util.h"
#include "se_crypto_hash.h"
#include "se_hmac.h"

namespace {

std::string range(int first, int last) {
    std::string s;
    for (int b = first; b <= last; ++b) s += static_cast<char>(b);
    return s;
}


struct Selector {
    int32_t value;
    size_t size;
    const EVP_MD* (*peer)();
};
const Selector kSha1{SE_HMAC_SHA1, 20, EVP_sha1};
const Selector kSha224{SE_HMAC_SHA224, 28, EVP_sha224};
const Selector kSha256{SE_HMAC_SHA256, 32, EVP_sha256};
const Selector kSha384{SE_HMAC_SHA384, 48, EVP_sha384};
const Selector kSha512{SE_HMAC_SHA512, 64, EVP_sha512};

// Code under the module key, as hex, first `truncate` bytes (0: all).
std::string mac(const Selector& s, const std::string& data, size_t truncate = 0) {
    uint8_t out[65];
    out[s.size] = 0xEE;
    EXPECT_EQ(SE_HMAC_GetValue(out, bytesOf(data), lengthOf(data), s.value), 0);
    EXPECT_EQ(out[s.size], 0xEE) << "wrote past the code";
    return toHex(out, truncate ? truncate : s.size);
}

std::string peer(const Selector& s, const std::string& key, const std::string& data) {
    uint8_t out[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EXPECT_NE(HMAC(s.peer(), key.data(), static_cast<int>(key.size()), bytesOf(data), data.size(), out, &n), nullptr);
    return toHex(out, n);
}

struct Vector {
    const Selector* selector;
    std::string key;
    std::string data;
    size_t truncate;
    const char* code;
};

const std::string kJefe = "Jefe";
const std::string kWhat = "what do ya want for nothing?";
const std::string kKey25 = range(1, 25);
const std::string kTrunc = "Test With Truncation";
const std::string kHashKeyFirst = "Test Using Larger Than Block-Size Key - Hash Key First";

// RFC 2202 (HMAC-SHA-1) and RFC 4231 test cases 1-5 (keys within the module's 128 bytes).
const Vector kVectors[] = {
    {&kSha1, std::string(20, '\x0b'), "Hi There", 0, "b617318655057264e28bc0b6fb378c8ef146be00"},
    {&kSha1, kJefe, kWhat, 0, "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
    {&kSha1, std::string(20, '\xaa'), std::string(50, '\xdd'), 0, "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
    {&kSha1, kKey25, std::string(50, '\xcd'), 0, "4c9007f4026250c6bc8414f9bf50c86c2d7235da"},
    {&kSha1, std::string(20, '\x0c'), kTrunc, 12, "4c1a03424b55e07fe7f27be1"},
    {&kSha1, std::string(80, '\xaa'), kHashKeyFirst, 0, "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
    {&kSha1, std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data", 0,
     "e8e99d0f45237d786d6bbaa7965c7808bbff1a91"},

    {&kSha224, std::string(20, '\x0b'), "Hi There", 0, "896fb1128abbdf196832107cd49df33f47b4b1169912ba4f53684b22"},
    {&kSha256, std::string(20, '\x0b'), "Hi There", 0,
     "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
    {&kSha384, std::string(20, '\x0b'), "Hi There", 0,
     "afd03944d84895626b0825f4ab46907f15f9dadbe4101ec682aa034c7cebc59cfaea9ea9076ede7f4af152e8b2fa9cb6"},
    {&kSha512, std::string(20, '\x0b'), "Hi There", 0,
     "87aa7cdea5ef619d4ff0b4241a1d6cb02379f4e2ce4ec2787ad0b30545e17cde"
     "daa833b7d6b8a702038b274eaea3f4e4be9d914eeb61f1702e696c203a126854"},

    {&kSha224, kJefe, kWhat, 0, "a30e01098bc6dbbf45690f3a7e9e6d0f8bbea2a39e6148008fd05e44"},
    {&kSha256, kJefe, kWhat, 0, "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
    {&kSha384, kJefe, kWhat, 0,
     "af45d2e376484031617f78d2b58a6b1b9c7ef464f5a01b47e42ec3736322445e8e2240ca5e69e2c78b3239ecfab21649"},
    {&kSha512, kJefe, kWhat, 0,
     "164b7a7bfcf819e2e395fbe73b56e0a387bd64222e831fd610270cd7ea250554"
     "9758bf75c05a994a6d034f65f8f0e6fdcaeab1a34d4a6b4b636e070a38bce737"},

    {&kSha224, std::string(20, '\xaa'), std::string(50, '\xdd'), 0,
     "7fb3cb3588c6c1f6ffa9694d7d6ad2649365b0c1f65d69d1ec8333ea"},
    {&kSha256, std::string(20, '\xaa'), std::string(50, '\xdd'), 0,
     "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"},
    {&kSha384, std::string(20, '\xaa'), std::string(50, '\xdd'), 0,
     "88062608d3e6ad8a0aa2ace014c8a86f0aa635d947ac9febe83ef4e55966144b2a5ab39dc13814b94e3ab6e101a34f27"},
    {&kSha512, std::string(20, '\xaa'), std::string(50, '\xdd'), 0,
     "fa73b0089d56a284efb0f0756c890be9b1b5dbdd8ee81a3655f83e33b2279d39"
     "bf3e848279a722c806b485a47e67c807b946a337bee8942674278859e13292fb"},

    {&kSha224, kKey25, std::string(50, '\xcd'), 0, "6c11506874013cac6a2abc1bb382627cec6a90d86efc012de7afec5a"},
    {&kSha256, kKey25, std::string(50, '\xcd'), 0,
     "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b"},
    {&kSha384, kKey25, std::string(50, '\xcd'), 0,
     "3e8a69b7783c25851933ab6290af6ca77a9981480850009cc5577c6e1f573b4e6801dd23c4a7d679ccf8a386c674cffb"},
    {&kSha512, kKey25, std::string(50, '\xcd'), 0,
     "b0ba465637458c6990e5a8c5f61d4af7e576d97ff94b872de76f8050361ee3db"
     "a91ca5c11aa25eb4d679275cc5788063a5f19741120c4f2de2adebeb10a298dd"},

    {&kSha224, std::string(20, '\x0c'), kTrunc, 16, "0e2aea68a90c8d37c988bcdb9fca6fa8"},
    {&kSha256, std::string(20, '\x0c'), kTrunc, 16, "a3b6167473100ee06e0c796c2955552b"},
    {&kSha384, std::string(20, '\x0c'), kTrunc, 16, "3abf34c3503b2a23a46efc619baef897"},
    {&kSha512, std::string(20, '\x0c'), kTrunc, 16, "415fad6271580a531d4179bc891d87a6"},
};

TEST(Hmac, PublishedVectors) {
    for (const Vector& v : kVectors) {
        SCOPED_TRACE("selector " + std::to_string(v.selector->value) + ", key of " + std::to_string(v.key.size()));
        ASSERT_EQ(SE_HMAC_SetKey(bytesOf(v.key), lengthOf(v.key)), 0);
        EXPECT_EQ(mac(*v.selector, v.data, v.truncate), v.code);
    }
}

// RFC 4231 cases 6 and 7 use a 131-byte key: beyond what the module keeps, so the exported
// call refuses it and the library's own routine (no key limit) is checked instead.
TEST(Hmac, KeysLongerThanTheModuleLimit) {
    const std::string key(131, '\xaa');
    EXPECT_EQ(SE_HMAC_SetKey(bytesOf(key), lengthOf(key)), -1);
    EXPECT_EQ(SE_HMAC_SetKey(bytesOf(key), 129), -1);

    const std::string data7 =
        "This is a test using a larger than block-size key and a larger than block-size data. The key needs to "
        "be hashed before being used by the HMAC algorithm.";
    struct Case {
        veld::se::sha::Algorithm algorithm;
        std::string data;
        const char* code;
    };
    using veld::se::sha::Algorithm;
    const Case cases[] = {
        {Algorithm::Sha224, kHashKeyFirst, "95e9a0db962095adaebe9b2d6f0dbce2d499f112f2d2b7273fa6870e"},
        {Algorithm::Sha256, kHashKeyFirst, "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
        {Algorithm::Sha384, kHashKeyFirst,
         "4ece084485813e9088d2c63a041bc5b44f9ef1012a2b588f3cd11f05033ac4c60c2ef6ab4030fe8296248df163f44952"},
        {Algorithm::Sha512, kHashKeyFirst,
         "80b24263c7c1a3ebb71493c1dd7be8b49b46d1f41b4aeec1121b013783f8f352"
         "6b56d037e05f2598bd0fd2215d6a1e5295e64f73f63f0aec8b915a985d786598"},
        {Algorithm::Sha224, data7, "3a854166ac5d9f023f54d517d0b39dbd946770db9c2b95c9f6f565d1"},
        {Algorithm::Sha256, data7, "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
        {Algorithm::Sha384, data7,
         "6617178e941f020d351e2f254e8fd32c602420feb0b8fb9adccebb82461e99c5a678cc31e799176d3860e6110c46523e"},
        {Algorithm::Sha512, data7,
         "e37b6a775dc87dbaa4dfa9f96e5e3ffddebd71f8867289865df5a32d20cdc944"
         "b6022cac3c4982b10d5eeb55c3e4de15134676fb6de0446065c97440fa8c6a58"},
    };
    for (const Case& c : cases) {
        uint8_t out[64];
        veld::se::hmac::compute(c.algorithm, std::span(bytesOf(key), key.size()), std::span(bytesOf(c.data), c.data.size()), out);
        EXPECT_EQ(toHex(out, veld::se::sha::digestSize(c.algorithm)), c.code);
    }
}

TEST(Hmac, RefusedKeyKeepsThePreviousOne) {
    ASSERT_EQ(SE_HMAC_SetKey(bytesOf(kJefe), lengthOf(kJefe)), 0);
    const std::string tooLong(129, 'k');
    EXPECT_EQ(SE_HMAC_SetKey(bytesOf(tooLong), lengthOf(tooLong)), -1);
    EXPECT_EQ(SE_HMAC_SetKey(bytesOf(kJefe), -1), -1);
    EXPECT_EQ(SE_HMAC_SetKey(nullptr, 4), -1);
    EXPECT_EQ(mac(kSha256, kWhat), "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
}

TEST(Hmac, UnknownSelectorsMeanSha1) {
    ASSERT_EQ(SE_HMAC_SetKey(bytesOf(kJefe), lengthOf(kJefe)), 0);
    for (int32_t selector : {0, 5, 6, -1, 1000, INT32_MIN}) {
        uint8_t out[64];
        ASSERT_EQ(SE_HMAC_GetValue(out, bytesOf(kWhat), lengthOf(kWhat), selector), 0);
        EXPECT_EQ(toHex(out, 20), "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79") << selector;
    }
}

TEST(Hmac, MatchesOpenSslForRandomKeysAndMessages) {
    std::mt19937 rng(99);
    std::vector<size_t> keyLengths = {0, 1, 63, 64, 65, 111, 112, 127, 128};
    for (int i = 0; i < 20; ++i) keyLengths.push_back(rng() % 129);
    for (size_t k : keyLengths) {
        std::string key(k, '\0');
        for (auto& c : key) c = static_cast<char>(rng());
        ASSERT_EQ(SE_HMAC_SetKey(k ? bytesOf(key) : nullptr, static_cast<int32_t>(k)), 0);
        for (const Selector* s : {&kSha1, &kSha224, &kSha256, &kSha384, &kSha512}) {
            std::string data(rng() % 700, '\0');
            for (auto& c : data) c = static_cast<char>(rng());
            EXPECT_EQ(mac(*s, data), peer(*s, key, data)) << "key " << k << ", selector " << s->value;
        }
    }
}

TEST(Hmac, LeavesStreamingHashesAlone) {
    ASSERT_EQ(SE_SHA256_Init(), 0);
    ASSERT_EQ(SE_SHA256_Update(bytesOf(std::string("ab")), 2), 0);
    ASSERT_EQ(SE_HMAC_SetKey(bytesOf(kJefe), lengthOf(kJefe)), 0);
    uint8_t out[64];
    ASSERT_EQ(SE_HMAC_GetValue(out, bytesOf(kWhat), lengthOf(kWhat), SE_HMAC_SHA256), 0);
    ASSERT_EQ(SE_SHA256_Update(bytesOf(std::string("c")), 1), 0);
    ASSERT_EQ(SE_SHA256_Done(out), 0);
    EXPECT_EQ(toHex(out, 32), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(Hmac, BadArgumentsFail) {
    ASSERT_EQ(SE_HMAC_SetKey(bytesOf(kJefe), lengthOf(kJefe)), 0);
    uint8_t out[64];
    EXPECT_EQ(SE_HMAC_GetValue(nullptr, bytesOf(kWhat), lengthOf(kWhat), SE_HMAC_SHA256), -1);
    EXPECT_EQ(SE_HMAC_GetValue(out, nullptr, 5, SE_HMAC_SHA256), -1);
    EXPECT_EQ(SE_HMAC_GetValue(out, bytesOf(kWhat), -1, SE_HMAC_SHA256), -1);
    EXPECT_EQ(SE_HMAC_GetValue(out, nullptr, 0, SE_HMAC_SHA256), 0);
    EXPECT_EQ(toHex(out, 32), peer(kSha256, kJefe, ""));
}

}  // namespace
