// DES and Triple DES through the exported SE_DES_* / SE_TDES_* calls: known-answer vectors
// (FIPS 81 examples, NIST known answers, a three-key Triple DES example), the key and tail
// rules, and differential runs against OpenSSL (single DES from its legacy provider).
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <cstring>

#include "se_crypto_sym.h"
#include "sym_test_util.h"

namespace {

using symtest::Bytes;
using symtest::hex;

using CryptFn = int32_t (*)(uint8_t*, const uint8_t*, int32_t);

struct DesVector {
    const char* name;
    CryptFn encrypt;
    CryptFn decrypt;
    const char* key;
    const char* iv;
    const char* plain;
    const char* cipher;
};

const DesVector kVectors[] = {
    {"classic worked example", SE_DES_EncryptECB, SE_DES_DecryptECB, "133457799bbcdff1", "",
     "0123456789abcdef", "85e813540f0ab405"},
    {"NIST variable plaintext, bit 1", SE_DES_EncryptECB, SE_DES_DecryptECB,
     "0101010101010101", "", "8000000000000000", "95f8a5e5dd31d900"},
    {"FIPS 81 ECB", SE_DES_EncryptECB, SE_DES_DecryptECB, "0123456789abcdef", "",
     "4e6f772069732074 68652074696d6520 666f7220616c6c20",
     "3fa40e8a984d4815 6a271787ab8883f9 893d51ec4b563b53"},
    {"FIPS 81 CBC", SE_DES_EncryptCBC, SE_DES_DecryptCBC, "0123456789abcdef",
     "1234567890abcdef", "4e6f772069732074 68652074696d6520 666f7220616c6c20",
     "e5c7cdde872bf27c 43e934008c389c0f 683788499a7c05f6"},
    {"Triple DES three keys ECB", SE_TDES_EncryptECB, SE_TDES_DecryptECB,
     "0123456789abcdef 23456789abcdef01 456789abcdef0123", "",
     "5468652071756663 6b2062726f776e20 666f78206a756d70",
     "a826fd8ce53b855f cce21c8112256fe6 68d5c05dd9b6b900"},
};

void loadKey(const Bytes& key, const Bytes& iv) {
    ASSERT_EQ(SE_DES_SetKey(key.data(), static_cast<int32_t>(key.size()),
                            iv.empty() ? nullptr : iv.data()),
              0);
}

TEST(DesVectors, KnownAnswers) {
    for (const auto& v : kVectors) {
        SCOPED_TRACE(v.name);
        const Bytes key = hex(v.key), iv = hex(v.iv), plain = hex(v.plain),
                    cipher = hex(v.cipher);
        const auto n = static_cast<int32_t>(plain.size());
        Bytes out(plain.size());
        loadKey(key, iv);
        EXPECT_EQ(v.encrypt(out.data(), plain.data(), n), n);
        EXPECT_EQ(out, cipher);
        loadKey(key, iv);
        EXPECT_EQ(v.decrypt(out.data(), out.data(), n), n);
        EXPECT_EQ(out, plain);
    }
}

TEST(DesState, SetKeyAcceptsOnly8Or24Bytes) {
    const uint8_t key[32] = {1, 2, 3, 4, 5, 6, 7, 8};
    struct Row {
        const uint8_t* key;
        int32_t length;
        int32_t expected;
    } rows[] = {{key, 8, 0},     {key, 24, 0},  {nullptr, 8, -1}, {key, 0, -1},
                {key, 7, -1},    {key, 16, -1}, {key, 25, -1},    {key, -8, -1}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.length);
        EXPECT_EQ(SE_DES_SetKey(r.key, r.length, nullptr), r.expected);
    }
}

TEST(DesState, EachFamilyNeedsItsKeyLength) {
    const Bytes key24 = hex(kVectors[4].key);
    uint8_t buf[16] = {};
    loadKey(Bytes(key24.begin(), key24.begin() + 8), {});
    EXPECT_EQ(SE_DES_EncryptECB(buf, buf, 16), 16);
    for (CryptFn fn : {SE_TDES_EncryptECB, SE_TDES_DecryptECB, SE_TDES_EncryptCBC,
                       SE_TDES_DecryptCBC}) {
        EXPECT_EQ(fn(buf, buf, 16), -1);
    }
    loadKey(key24, {});
    EXPECT_EQ(SE_TDES_EncryptECB(buf, buf, 16), 16);
    for (CryptFn fn : {SE_DES_EncryptECB, SE_DES_DecryptECB, SE_DES_EncryptCBC,
                       SE_DES_DecryptCBC}) {
        EXPECT_EQ(fn(buf, buf, 16), -1);
    }
}

TEST(DesState, BadArgumentsFail) {
    loadKey(hex("0123456789abcdef"), {});
    uint8_t buf[16] = {};
    for (CryptFn fn : {SE_DES_EncryptECB, SE_DES_DecryptCBC}) {
        EXPECT_EQ(fn(buf, buf, -8), -1);
        EXPECT_EQ(fn(nullptr, buf, 8), -1);
        EXPECT_EQ(fn(buf, nullptr, 8), -1);
        EXPECT_EQ(fn(nullptr, nullptr, 0), 0);
    }
}

TEST(DesState, CbcChainsThroughTheVectorAndCopiesTheTail) {
    const DesVector& v = kVectors[3];
    const Bytes key = hex(v.key), iv = hex(v.iv), plain = hex(v.plain), cipher = hex(v.cipher);
    Bytes in = plain;
    in.insert(in.end(), {0xa1, 0xa2, 0xa3});
    Bytes out(in.size(), 0);
    loadKey(key, iv);
    EXPECT_EQ(SE_DES_EncryptCBC(out.data(), in.data(), 8), 8);
    EXPECT_EQ(SE_DES_EncryptCBC(out.data() + 8, in.data() + 8, 19), 16);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 24), cipher);
    EXPECT_EQ(Bytes(out.begin() + 24, out.end()), Bytes({0xa1, 0xa2, 0xa3}));
    uint8_t stored[8];
    SE_DES_GetIV(stored);
    EXPECT_EQ(Bytes(stored, stored + 8), Bytes(cipher.end() - 8, cipher.end()));
    SE_DES_SetIV(iv.data());
    SE_DES_GetIV(stored);
    EXPECT_EQ(Bytes(stored, stored + 8), iv);
}

class DesDifferential : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Single DES lives in OpenSSL 3's legacy provider; loading a provider explicitly stops
        // the default one from loading implicitly, so load it too. Both stay for the process
        // (the other crypto tests share it).
        legacy_ = OSSL_PROVIDER_load(nullptr, "legacy");
        default_ = OSSL_PROVIDER_load(nullptr, "default");
    }
    static inline OSSL_PROVIDER* legacy_ = nullptr;
    static inline OSSL_PROVIDER* default_ = nullptr;
};

TEST_F(DesDifferential, RandomKeysAndLengthsMatchOpenSsl) {
    ASSERT_NE(legacy_, nullptr) << "OpenSSL legacy provider (single DES) not available";
    struct Family {
        size_t keyBytes;
        CryptFn ecbEnc, ecbDec, cbcEnc, cbcDec;
        const EVP_CIPHER* ecb;
        const EVP_CIPHER* cbc;
    } families[] = {
        {8, SE_DES_EncryptECB, SE_DES_DecryptECB, SE_DES_EncryptCBC, SE_DES_DecryptCBC,
         EVP_des_ecb(), EVP_des_cbc()},
        {24, SE_TDES_EncryptECB, SE_TDES_DecryptECB, SE_TDES_EncryptCBC, SE_TDES_DecryptCBC,
         EVP_des_ede3_ecb(), EVP_des_ede3_cbc()},
    };
    std::mt19937 rng(46);
    for (const auto& f : families) {
        for (int round = 0; round < 100; ++round) {
            const Bytes key = symtest::randomBytes(rng, f.keyBytes);
            const Bytes iv = symtest::randomBytes(rng, 8);
            const size_t n = round < 90 ? rng() % 100 : 2048 + rng() % 16;
            const Bytes data = symtest::randomBytes(rng, n);
            const size_t whole = n / 8 * 8;
            const Bytes head(data.begin(), data.begin() + whole);
            SCOPED_TRACE(testing::Message() << "key " << f.keyBytes << " length " << n);
            auto ours = [&](CryptFn fn, bool inPlace) {
                Bytes out = data;
                loadKey(key, iv);
                EXPECT_EQ(inPlace ? fn(out.data(), out.data(), static_cast<int32_t>(n))
                                  : fn(out.data(), data.data(), static_cast<int32_t>(n)),
                          static_cast<int32_t>(whole));
                return Bytes(out.begin(), out.begin() + whole);
            };
            const bool inPlace = round % 2;
            EXPECT_EQ(ours(f.ecbEnc, inPlace), symtest::sslCrypt(f.ecb, key, nullptr, head, true));
            EXPECT_EQ(ours(f.ecbDec, inPlace), symtest::sslCrypt(f.ecb, key, nullptr, head, false));
            EXPECT_EQ(ours(f.cbcEnc, inPlace), symtest::sslCrypt(f.cbc, key, iv.data(), head, true));
            EXPECT_EQ(ours(f.cbcDec, inPlace),
                      symtest::sslCrypt(f.cbc, key, iv.data(), head, false));
        }
    }
}

}  // namespace
