// SHA-1 and SHA-2 through the exported C functions: published examples, module-wide state
// rules, argument errors, and differential runs against OpenSSL with random Update splits.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "hash_test_util.h"
#include "se_crypto_hash.h"
#include "se_sha.h"

namespace {

struct HashApi {
    const char* name;
    int32_t (*init)();
    int32_t (*update)(const uint8_t*, int32_t);
    int32_t (*done)(uint8_t*);
    int32_t (*digest)(uint8_t*, const uint8_t*, int32_t);
    size_t size;
    const EVP_MD* (*peer)();
};

const HashApi kSha1{"SHA-1", SE_SHA1_Init, SE_SHA1_Update, SE_SHA1_Done, SE_SHA1_Digest, 20, EVP_sha1};
const HashApi kSha224{"SHA-224", SE_SHA224_Init, SE_SHA224_Update, SE_SHA224_Done, SE_SHA224_Digest, 28, EVP_sha224};
const HashApi kSha256{"SHA-256", SE_SHA256_Init, SE_SHA256_Update, SE_SHA256_Done, SE_SHA256_Digest, 32, EVP_sha256};
const HashApi kSha384{"SHA-384", SE_SHA384_Init, SE_SHA384_Update, SE_SHA384_Done, SE_SHA384_Digest, 48, EVP_sha384};
const HashApi kSha512{"SHA-512", SE_SHA512_Init, SE_SHA512_Update, SE_SHA512_Done, SE_SHA512_Digest, 64, EVP_sha512};
const HashApi* const kAll[] = {&kSha1, &kSha224, &kSha256, &kSha384, &kSha512};

std::string streamed(const HashApi& api, const std::string& message, size_t repeat = 1) {
    uint8_t out[64] = {};
    EXPECT_EQ(api.init(), 0);
    for (size_t i = 0; i < repeat; ++i) EXPECT_EQ(api.update(bytesOf(message), static_cast<int32_t>(message.size())), 0);
    EXPECT_EQ(api.done(out), 0);
    return toHex(out, api.size);
}

std::string oneShot(const HashApi& api, const std::string& message) {
    uint8_t out[64] = {};
    EXPECT_EQ(api.digest(out, bytesOf(message), static_cast<int32_t>(message.size())), 0);
    return toHex(out, api.size);
}

std::string peer(const HashApi& api, const uint8_t* data, size_t n) {
    uint8_t out[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EXPECT_EQ(EVP_Digest(data, n, out, &len, api.peer(), nullptr), 1);
    EXPECT_EQ(len, api.size);
    return toHex(out, len);
}

const std::string kTwoBlock = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
const std::string kTwoBlock1024 =
    "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu";

struct Vector {
    const HashApi* api;
    std::string message;
    size_t repeat;
    const char* digest;
};

// FIPS 180-4 examples: one block, two blocks, a million 'a' (as 10,000 updates of 100), and
// the empty message.
const Vector kVectors[] = {
    {&kSha1, "abc", 1, "a9993e364706816aba3e25717850c26c9cd0d89d"},
    {&kSha1, kTwoBlock, 1, "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
    {&kSha1, std::string(100, 'a'), 10000, "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
    {&kSha1, "", 1, "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
    {&kSha224, "abc", 1, "23097d223405d8228642a477bda255b32aadbce4bda0b3f7e36c9da7"},
    {&kSha224, kTwoBlock, 1, "75388b16512776cc5dba5da1fd890150b0c6455cb4f58b1952522525"},
    {&kSha224, std::string(100, 'a'), 10000, "20794655980c91d8bbb4c1ea97618a4bf03f42581948b2ee4ee7ad67"},
    {&kSha224, "", 1, "d14a028c2a3a2bc9476102bb288234c415a2b01f828ea62ac5b3e42f"},
    {&kSha256, "abc", 1, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {&kSha256, kTwoBlock, 1, "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {&kSha256, std::string(100, 'a'), 10000, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    {&kSha256, "", 1, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {&kSha384, "abc", 1,
     "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7"},
    {&kSha384, kTwoBlock1024, 1,
     "09330c33f71147e83d192fc782cd1b4753111b173b3b05d22fa08086e3b0f712fcc7c71a557e2db966c3e9fa91746039"},
    {&kSha384, std::string(100, 'a'), 10000,
     "9d0e1809716474cb086e834e310a4a1ced149e9c00f248527972cec5704c2a5b07b8b3dc38ecc4ebae97ddd87f3d8985"},
    {&kSha384, "", 1,
     "38b060a751ac96384cd9327eb1b1e36a21fdb71114be07434c0cc7bf63f6e1da274edebfe76f65fbd51ad2f14898b95b"},
    {&kSha512, "abc", 1,
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
     "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
    {&kSha512, kTwoBlock1024, 1,
     "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018"
     "501d289e4900f7e4331b99dec4b5433ac7d329eeb6dd26545e96e55b874be909"},
    {&kSha512, std::string(100, 'a'), 10000,
     "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973eb"
     "de0ff244877ea60a4cb0432ce577c31beb009c5c2c49aa2e4eadb217ad8cc09b"},
    {&kSha512, "", 1,
     "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce"
     "47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81a538327af927da3e"},
};

TEST(Sha, PublishedExamplesStreamedAndOneShot) {
    for (const Vector& v : kVectors) {
        SCOPED_TRACE(std::string(v.api->name) + " of " + std::to_string(v.message.size() * v.repeat) + " bytes");
        EXPECT_EQ(streamed(*v.api, v.message, v.repeat), v.digest);
        std::string whole;
        for (size_t i = 0; i < v.repeat; ++i) whole += v.message;
        EXPECT_EQ(oneShot(*v.api, whole), v.digest);
    }
}

TEST(Sha, MatchesOpenSslForRandomMessagesAndUpdateSplits) {
    std::mt19937 rng(20261210);
    std::vector<size_t> lengths;
    // Every length around the padding boundaries, then random ones up to several blocks.
    for (size_t n = 0; n <= 260; ++n) lengths.push_back(n);
    for (int i = 0; i < 60; ++i) lengths.push_back(rng() % 5000);
    for (const HashApi* api : kAll) {
        SCOPED_TRACE(api->name);
        for (size_t n : lengths) {
            std::vector<uint8_t> data(n);
            for (auto& b : data) b = static_cast<uint8_t>(rng());
            const std::string expected = peer(*api, data.data(), n);

            uint8_t out[64];
            ASSERT_EQ(api->digest(out, data.data(), static_cast<int32_t>(n)), 0);
            ASSERT_EQ(toHex(out, api->size), expected) << "one-shot, length " << n;

            ASSERT_EQ(api->init(), 0);
            size_t at = 0;
            while (at < n) {
                // Mostly small pieces so that partial-block buffering is exercised hard.
                const size_t piece = std::min(n - at, rng() % 4 == 0 ? size_t(rng() % 300) : size_t(rng() % 9));
                ASSERT_EQ(api->update(data.data() + at, static_cast<int32_t>(piece)), 0);
                at += piece;
            }
            ASSERT_EQ(api->done(out), 0);
            ASSERT_EQ(toHex(out, api->size), expected) << "streamed, length " << n;
        }
    }
}

TEST(Sha, DoneStartsTheSameHashAgain) {
    for (const HashApi* api : kAll) {
        SCOPED_TRACE(api->name);
        uint8_t out[64];
        ASSERT_EQ(api->init(), 0);
        ASSERT_EQ(api->update(bytesOf("first message"), 13), 0);
        ASSERT_EQ(api->done(out), 0);
        // No Init: the next message is hashed from a clean start with the same algorithm.
        ASSERT_EQ(api->update(bytesOf("abc"), 3), 0);
        ASSERT_EQ(api->done(out), 0);
        EXPECT_EQ(toHex(out, api->size), peer(*api, bytesOf("abc"), 3));
    }
}

TEST(Sha, InitDiscardsAPendingMessage) {
    for (const HashApi* api : kAll) {
        SCOPED_TRACE(api->name);
        uint8_t out[64];
        ASSERT_EQ(api->init(), 0);
        ASSERT_EQ(api->update(bytesOf("stale bytes"), 11), 0);
        ASSERT_EQ(api->init(), 0);
        ASSERT_EQ(api->update(bytesOf("abc"), 3), 0);
        ASSERT_EQ(api->done(out), 0);
        EXPECT_EQ(toHex(out, api->size), peer(*api, bytesOf("abc"), 3));
    }
}

// SHA-224/256 share one state, as do SHA-384/512: Init picks the starting value, any Update
// of the pair feeds it, and Done picks how many bytes come out.
TEST(Sha, PairsShareOneState) {
    struct Case {
        int32_t (*init)();
        int32_t (*otherUpdate)(const uint8_t*, int32_t);
        int32_t (*done)(uint8_t*);
        const HashApi* expected;
    };
    const Case cases[] = {
        {SE_SHA224_Init, SE_SHA256_Update, SE_SHA224_Done, &kSha224},
        {SE_SHA256_Init, SE_SHA224_Update, SE_SHA256_Done, &kSha256},
        {SE_SHA384_Init, SE_SHA512_Update, SE_SHA384_Done, &kSha384},
        {SE_SHA512_Init, SE_SHA384_Update, SE_SHA512_Done, &kSha512},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected->name);
        uint8_t out[65];
        std::fill(std::begin(out), std::end(out), 0xEE);
        ASSERT_EQ(c.init(), 0);
        ASSERT_EQ(c.otherUpdate(bytesOf("abc"), 3), 0);
        ASSERT_EQ(c.done(out), 0);
        EXPECT_EQ(toHex(out, c.expected->size), peer(*c.expected, bytesOf("abc"), 3));
        EXPECT_EQ(out[c.expected->size], 0xEE) << "wrote past the digest";
    }
    // Starting SHA-256 replaces a SHA-224 message in progress.
    uint8_t out[32];
    ASSERT_EQ(SE_SHA224_Init(), 0);
    ASSERT_EQ(SE_SHA224_Update(bytesOf("ab"), 2), 0);
    ASSERT_EQ(SE_SHA256_Init(), 0);
    ASSERT_EQ(SE_SHA256_Update(bytesOf("abc"), 3), 0);
    ASSERT_EQ(SE_SHA256_Done(out), 0);
    EXPECT_EQ(toHex(out, 32), peer(kSha256, bytesOf("abc"), 3));
}

TEST(Sha, OneShotLeavesTheStreamingStateAlone) {
    for (const HashApi* api : kAll) {
        SCOPED_TRACE(api->name);
        uint8_t out[64];
        ASSERT_EQ(api->init(), 0);
        ASSERT_EQ(api->update(bytesOf("ab"), 2), 0);
        ASSERT_EQ(api->digest(out, bytesOf("something else"), 14), 0);
        ASSERT_EQ(api->update(bytesOf("c"), 1), 0);
        ASSERT_EQ(api->done(out), 0);
        EXPECT_EQ(toHex(out, api->size), peer(*api, bytesOf("abc"), 3));
    }
}

TEST(Sha, BadArgumentsFailWithoutTouchingTheState) {
    for (const HashApi* api : kAll) {
        SCOPED_TRACE(api->name);
        uint8_t out[64];
        ASSERT_EQ(api->init(), 0);
        ASSERT_EQ(api->update(bytesOf("ab"), 2), 0);
        EXPECT_EQ(api->update(bytesOf("xyz"), -1), -1);
        EXPECT_EQ(api->update(nullptr, 5), -1);
        EXPECT_EQ(api->update(nullptr, 0), 0);
        EXPECT_EQ(api->done(nullptr), -1);
        ASSERT_EQ(api->update(bytesOf("c"), 1), 0);
        ASSERT_EQ(api->done(out), 0);
        EXPECT_EQ(toHex(out, api->size), peer(*api, bytesOf("abc"), 3));

        EXPECT_EQ(api->digest(nullptr, bytesOf("abc"), 3), -1);
        EXPECT_EQ(api->digest(out, nullptr, 3), -1);
        EXPECT_EQ(api->digest(out, bytesOf("abc"), -3), -1);
        ASSERT_EQ(api->digest(out, nullptr, 0), 0);
        EXPECT_EQ(toHex(out, api->size), peer(*api, nullptr, 0));
    }
}

}  // namespace

// The block functions with the vector schedule and the scalar fallback must agree on any
// input, so that a build on a compiler without generic vectors hashes the same.
TEST(ShaBlocks, VectorAndScalarSchedulesAgree) {
    std::mt19937_64 rng(7);
    std::vector<uint8_t> data(128 * 9);
    for (int round = 0; round < 20; ++round) {
        for (auto& b : data) b = static_cast<uint8_t>(rng());
        uint32_t s256a[8], s256b[8];
        uint64_t s512a[8], s512b[8];
        for (int i = 0; i < 8; ++i) {
            s256a[i] = s256b[i] = static_cast<uint32_t>(rng());
            s512a[i] = s512b[i] = rng();
        }
        veld::se::sha::sha256BlocksPortable(s256a, data.data(), data.size() / 64);
        veld::se::sha::sha256BlocksScalar(s256b, data.data(), data.size() / 64);
        veld::se::sha::sha512BlocksPortable(s512a, data.data(), data.size() / 128);
        veld::se::sha::sha512BlocksScalar(s512b, data.data(), data.size() / 128);
        EXPECT_TRUE(std::equal(std::begin(s256a), std::end(s256a), s256b));
        EXPECT_TRUE(std::equal(std::begin(s512a), std::end(s512a), s512b));
    }
}
