// AES-CMAC and AES-XCBC-MAC through SE_AES128_CMAC and SE_AES_XCBCMAC: RFC 4493 and RFC 3566
// vectors, argument checks, the module key they leave behind, and differential runs against
// OpenSSL (its CMAC, and XCBC built from its AES-ECB).
#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include "se_crypto_sym.h"
#include "sym_test_util.h"

namespace {

using symtest::Bytes;
using symtest::hex;

using MacFn = int32_t (*)(uint8_t*, const uint8_t*, const uint8_t*, int32_t);

Bytes counting(size_t n, uint8_t start = 0) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(start + i);
    return b;
}

struct MacVector {
    const char* name;
    MacFn fn;
    Bytes key;
    Bytes data;
    const char* mac;
};

const Bytes kRfc4493Key = hex("2b7e151628aed2a6abf7158809cf4f3c");
const Bytes kRfc4493Message = hex(
    "6bc1bee22e409f96e93d7e117393172a ae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52ef f69f2445df4f9b17ad2b417be66c3710");

Bytes prefix(const Bytes& b, size_t n) { return Bytes(b.begin(), b.begin() + n); }

const MacVector kMacVectors[] = {
    {"RFC4493 example 1 (empty)", SE_AES128_CMAC, kRfc4493Key, {},
     "bb1d6929e95937287fa37d129b756746"},
    {"RFC4493 example 2 (16 bytes)", SE_AES128_CMAC, kRfc4493Key, prefix(kRfc4493Message, 16),
     "070a16b46b4d4144f79bdd9dd04a287c"},
    {"RFC4493 example 3 (40 bytes)", SE_AES128_CMAC, kRfc4493Key, prefix(kRfc4493Message, 40),
     "dfa66747de9ae63030ca32611497c827"},
    {"RFC4493 example 4 (64 bytes)", SE_AES128_CMAC, kRfc4493Key, kRfc4493Message,
     "51f0bebf7e3b9d92fc49741779363cfe"},
    {"RFC3566 test 1 (empty)", SE_AES_XCBCMAC, counting(16), {},
     "75f0251d528ac01c4573dfd584d79f29"},
    {"RFC3566 test 2 (3 bytes)", SE_AES_XCBCMAC, counting(16), counting(3),
     "5b376580ae2f19afe7219ceef172756f"},
    {"RFC3566 test 3 (16 bytes)", SE_AES_XCBCMAC, counting(16), counting(16),
     "d2a246fa349b68a79998a4394ff7a263"},
    {"RFC3566 test 4 (20 bytes)", SE_AES_XCBCMAC, counting(16), counting(20),
     "47f51b4564966215b8985c63055ed308"},
    {"RFC3566 test 5 (32 bytes)", SE_AES_XCBCMAC, counting(16), counting(32),
     "f54f0ec8d2b9f3d36807734bd5283fd4"},
    {"RFC3566 test 6 (34 bytes)", SE_AES_XCBCMAC, counting(16), counting(34),
     "becbb3bccdb518a30677d5481fb6b4d8"},
    {"RFC3566 test 7 (1000 zero bytes)", SE_AES_XCBCMAC, counting(16), Bytes(1000, 0),
     "f0dafee895db30253761103b5d84528f"},
};

TEST(AesMacVectors, PublishedVectors) {
    for (const auto& v : kMacVectors) {
        SCOPED_TRACE(v.name);
        uint8_t mac[16];
        EXPECT_EQ(v.fn(mac, v.key.data(), v.data.data(), static_cast<int32_t>(v.data.size())),
                  0);
        EXPECT_EQ(Bytes(mac, mac + 16), hex(v.mac));
    }
}

TEST(AesMac, BadArgumentsFail) {
    uint8_t mac[16], data[16] = {};
    const uint8_t* key = kRfc4493Key.data();
    for (MacFn fn : {SE_AES128_CMAC, SE_AES_XCBCMAC}) {
        EXPECT_EQ(fn(nullptr, key, data, 16), -1);
        EXPECT_EQ(fn(mac, nullptr, data, 16), -1);
        EXPECT_EQ(fn(mac, key, nullptr, 16), -1);
        EXPECT_EQ(fn(mac, key, data, -1), -1);
        EXPECT_EQ(fn(mac, key, nullptr, 0), 0);
    }
}

// Encrypts `block` under `key` with the plain module calls.
Bytes ecbUnder(const Bytes& key, const Bytes& block) {
    Bytes out(16);
    EXPECT_EQ(SE_AES_SetKey(key.data(), 16, nullptr), 0);
    SE_AES_EncryptECB(out.data(), block.data(), 16);
    return out;
}

TEST(AesMac, CmacLeavesItsKeyInTheModuleAndXcbcLeavesK1) {
    const Bytes probe = counting(16, 0x40);
    uint8_t mac[16], iv[16], block[16];
    const Bytes cmacKey = ecbUnder(kRfc4493Key, probe);

    SE_AES_SetIV(probe.data());
    ASSERT_EQ(SE_AES128_CMAC(mac, kRfc4493Key.data(), nullptr, 0), 0);
    SE_AES_GetIV(iv);
    EXPECT_EQ(Bytes(iv, iv + 16), Bytes(16, 0));
    SE_AES_EncryptECB(block, probe.data(), 16);
    EXPECT_EQ(Bytes(block, block + 16), cmacKey);

    // K1 = AES(K, 0x01 * 16) is the chaining key of XCBC.
    const Bytes k = counting(16);
    const Bytes underK1 = ecbUnder(ecbUnder(k, Bytes(16, 0x01)), probe);
    ASSERT_EQ(SE_AES_XCBCMAC(mac, k.data(), probe.data(), 16), 0);
    SE_AES_EncryptECB(block, probe.data(), 16);
    EXPECT_EQ(Bytes(block, block + 16), underK1);
}

Bytes sslCmac(const Bytes& key, const Bytes& data) {
    EVP_MAC* mac = EVP_MAC_fetch(nullptr, "CMAC", nullptr);
    EVP_MAC_CTX* ctx = EVP_MAC_CTX_new(mac);
    char cipher[] = "AES-128-CBC";
    const OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_CIPHER, cipher, 0),
        OSSL_PARAM_construct_end()};
    Bytes out(16);
    size_t len = 0;
    const bool ok = EVP_MAC_init(ctx, key.data(), key.size(), params) == 1 &&
                    EVP_MAC_update(ctx, data.data(), data.size()) == 1 &&
                    EVP_MAC_final(ctx, out.data(), &len, out.size()) == 1;
    EVP_MAC_CTX_free(ctx);
    EVP_MAC_free(mac);
    EXPECT_TRUE(ok);
    return out;
}

// RFC 3566 spelled out on OpenSSL's AES-128-ECB.
Bytes referenceXcbc(const Bytes& key, const Bytes& data) {
    auto ecb = [](const Bytes& k, const Bytes& block) {
        return symtest::sslCrypt(EVP_aes_128_ecb(), k, nullptr, block, true);
    };
    const Bytes k1 = ecb(key, Bytes(16, 1)), k2 = ecb(key, Bytes(16, 2)), k3 = ecb(key, Bytes(16, 3));
    Bytes e(16, 0);
    size_t off = 0;
    while (data.size() - off > 16) {
        for (size_t i = 0; i < 16; ++i) e[i] ^= data[off + i];
        e = ecb(k1, e);
        off += 16;
    }
    const size_t rest = data.size() - off;
    Bytes last(16, 0);
    std::copy(data.begin() + off, data.end(), last.begin());
    if (rest < 16) last[rest] = 0x80;
    const Bytes& mask = rest == 16 ? k2 : k3;
    for (size_t i = 0; i < 16; ++i) e[i] ^= last[i] ^ mask[i];
    return ecb(k1, e);
}

TEST(AesMacDifferential, RandomKeysAndLengthsMatchTheReference) {
    std::mt19937 rng(4493);
    for (int round = 0; round < 200; ++round) {
        const Bytes key = symtest::randomBytes(rng, 16);
        const size_t n = round < 180 ? rng() % 100 : 1000 + rng() % 5000;
        const Bytes data = symtest::randomBytes(rng, n);
        SCOPED_TRACE(n);
        uint8_t mac[16];
        ASSERT_EQ(SE_AES128_CMAC(mac, key.data(), data.data(), static_cast<int32_t>(n)), 0);
        EXPECT_EQ(Bytes(mac, mac + 16), sslCmac(key, data));
        ASSERT_EQ(SE_AES_XCBCMAC(mac, key.data(), data.data(), static_cast<int32_t>(n)), 0);
        EXPECT_EQ(Bytes(mac, mac + 16), referenceXcbc(key, data));
    }
}

}  // namespace
