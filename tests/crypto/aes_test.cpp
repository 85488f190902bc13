// AES modes through the exported SE_AES_* calls: published vectors (FIPS-197, SP 800-38A),
// the module-state, tail and limit rules, and differential runs against OpenSSL's libcrypto.
#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <cstdlib>
#include <cstring>

#include "aes_engine_check.h"
#include "se_aes.h"
#include "se_crypto_sym.h"
#include "sym_test_util.h"

namespace {

using symtest::Bytes;
using symtest::hex;

enum class Mode { kEcb, kCbc, kCtr };

using CryptFn = int32_t (*)(uint8_t*, const uint8_t*, int32_t);

CryptFn encryptFn(Mode m) {
    switch (m) {
        case Mode::kEcb: return SE_AES_EncryptECB;
        case Mode::kCbc: return SE_AES_EncryptCBC;
        case Mode::kCtr: return SE_AES_EncryptCTR;
    }
    return nullptr;
}

CryptFn decryptFn(Mode m) {
    switch (m) {
        case Mode::kEcb: return SE_AES_DecryptECB;
        case Mode::kCbc: return SE_AES_DecryptCBC;
        case Mode::kCtr: return SE_AES_DecryptCTR;
    }
    return nullptr;
}

const char* kSp800Plain =
    "6bc1bee22e409f96e93d7e117393172a ae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52ef f69f2445df4f9b17ad2b417be66c3710";
const char* kKey128 = "2b7e151628aed2a6abf7158809cf4f3c";
const char* kKey256 = "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4";

struct Vector {
    const char* name;
    Mode mode;
    const char* key;
    const char* iv;  // empty for ECB
    const char* plain;
    const char* cipher;
};

const Vector kVectors[] = {
    {"FIPS-197 C.1", Mode::kEcb, "000102030405060708090a0b0c0d0e0f", "",
     "00112233445566778899aabbccddeeff", "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {"FIPS-197 C.3", Mode::kEcb,
     "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", "",
     "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089"},
    {"SP800-38A ECB-AES128", Mode::kEcb, kKey128, "", kSp800Plain,
     "3ad77bb40d7a3660a89ecaf32466ef97 f5d3d58503b9699de785895a96fdbaaf"
     "43b1cd7f598ece23881b00e3ed030688 7b0c785e27e8ad3f8223207104725dd4"},
    {"SP800-38A ECB-AES256", Mode::kEcb, kKey256, "", kSp800Plain,
     "f3eed1bdb5d2a03c064b5a7e3db181f8 591ccb10d410ed26dc5ba74a31362870"
     "b6ed21b99ca6f4f9f153e7b1beafed1d 23304b7a39f9f3ff067d8d8f9e24ecc7"},
    {"SP800-38A CBC-AES128", Mode::kCbc, kKey128, "000102030405060708090a0b0c0d0e0f",
     kSp800Plain,
     "7649abac8119b246cee98e9b12e9197d 5086cb9b507219ee95db113a917678b2"
     "73bed6b8e3c1743b7116e69e22229516 3ff1caa1681fac09120eca307586e1a7"},
    {"SP800-38A CBC-AES256", Mode::kCbc, kKey256, "000102030405060708090a0b0c0d0e0f",
     kSp800Plain,
     "f58c4c04d6e5f1ba779eabfb5f7bfbd6 9cfc4e967edb808d679f777bc6702c7d"
     "39f23369a9d9bacfa530e26304231461 b2eb05e2c39be9fcda6c19078c6a9d1b"},
    {"SP800-38A CTR-AES128", Mode::kCtr, kKey128, "f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff",
     kSp800Plain,
     "874d6191b620e3261bef6864990db6ce 9806f66b7970fdff8617187bb9fffdff"
     "5ae4df3edbd5d35e5b4f09020db03eab 1e031dda2fbe03d1792170a0f3009cee"},
    {"SP800-38A CTR-AES256", Mode::kCtr, kKey256, "f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff",
     kSp800Plain,
     "601ec313775789a5b7a7f504bbf3d228 f443e3ca4d62b59aca84e990cacaf5c5"
     "2b0930daa23de94ce87017ba2d84988d dfc9c58db67aada613c2dd08457941a6"},
};

void loadKey(const Bytes& key, const Bytes& iv) {
    ASSERT_EQ(SE_AES_SetKey(key.data(), static_cast<int32_t>(key.size()),
                            iv.empty() ? nullptr : iv.data()),
              0);
}

TEST(AesVectors, EncryptAndDecryptPublishedVectors) {
    for (const auto& v : kVectors) {
        SCOPED_TRACE(v.name);
        const Bytes key = hex(v.key), iv = hex(v.iv), plain = hex(v.plain),
                    cipher = hex(v.cipher);
        const auto n = static_cast<int32_t>(plain.size());
        Bytes out(plain.size());
        loadKey(key, iv);
        EXPECT_EQ(encryptFn(v.mode)(out.data(), plain.data(), n), n);
        EXPECT_EQ(out, cipher);
        // Decrypt in place.
        loadKey(key, iv);
        EXPECT_EQ(decryptFn(v.mode)(out.data(), out.data(), n), n);
        EXPECT_EQ(out, plain);
    }
}

TEST(AesState, SetKeyRejectsBadKeysAndKeepsThePreviousKey) {
    const Bytes key = hex(kKey128);
    const Bytes block = hex("00112233445566778899aabbccddeeff");
    Bytes expected(16), out(16);
    loadKey(key, {});
    SE_AES_EncryptECB(expected.data(), block.data(), 16);

    const uint8_t big[33] = {};
    struct Row {
        const uint8_t* key;
        int32_t length;
    } rows[] = {{nullptr, 16}, {big, 0}, {big, 15}, {big, 24}, {big, 33}, {big, -16}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.length);
        EXPECT_EQ(SE_AES_SetKey(r.key, r.length, nullptr), -1);
        EXPECT_EQ(SE_AES_EncryptECB(out.data(), block.data(), 16), 16);
        EXPECT_EQ(out, expected);
    }
}

TEST(AesState, NullVectorLoadsZerosAndSetGetIvRoundTrip) {
    const Bytes key = hex(kKey128);
    const Bytes iv = hex("000102030405060708090a0b0c0d0e0f");
    uint8_t got[16];
    loadKey(key, iv);
    SE_AES_GetIV(got);
    EXPECT_EQ(Bytes(got, got + 16), iv);
    loadKey(key, {});
    SE_AES_GetIV(got);
    EXPECT_EQ(0, std::memcmp(got, SE_ZERO_IV, 16));
    SE_AES_SetIV(iv.data());
    SE_AES_GetIV(got);
    EXPECT_EQ(Bytes(got, got + 16), iv);
    SE_AES_SetIV(nullptr);  // ignored
    SE_AES_GetIV(got);
    EXPECT_EQ(Bytes(got, got + 16), iv);
}

TEST(AesState, BadArgumentsFailAndEmptyInputIsZero) {
    loadKey(hex(kKey128), {});
    uint8_t buf[32] = {};
    CryptFn all[] = {SE_AES_EncryptECB,    SE_AES_DecryptECB,    SE_AES_EncryptCBC,
                     SE_AES_DecryptCBC,    SE_AES_EncryptCTR,    SE_AES_DecryptCTR,
                     SE_AES_EncryptCBCCTS, SE_AES_DecryptCBCCTS, SE_AES_EncryptCBCOFB,
                     SE_AES_DecryptCBCOFB};
    for (CryptFn fn : all) {
        EXPECT_EQ(fn(buf, buf, -1), -1);
        EXPECT_EQ(fn(nullptr, buf, 16), -1);
        EXPECT_EQ(fn(buf, nullptr, 16), -1);
        EXPECT_EQ(fn(nullptr, nullptr, 0), 0);
    }
}

TEST(AesState, EcbAndCbcProcessWholeBlocksAndCopyTheTail) {
    const Bytes key = hex(kKey128);
    const Bytes plain = hex(kSp800Plain);
    const Bytes iv = hex("000102030405060708090a0b0c0d0e0f");
    for (Mode mode : {Mode::kEcb, Mode::kCbc}) {
        Bytes out(20, 0xee);
        loadKey(key, iv);
        EXPECT_EQ(encryptFn(mode)(out.data(), plain.data(), 20), 16);
        const Bytes expectedFirst = mode == Mode::kEcb
                                        ? hex("3ad77bb40d7a3660a89ecaf32466ef97")
                                        : hex("7649abac8119b246cee98e9b12e9197d");
        EXPECT_EQ(Bytes(out.begin(), out.begin() + 16), expectedFirst);
        EXPECT_EQ(Bytes(out.begin() + 16, out.end()), Bytes(plain.begin() + 16, plain.begin() + 20));
        loadKey(key, iv);
        EXPECT_EQ(decryptFn(mode)(out.data(), out.data(), 20), 16);
        EXPECT_EQ(out, Bytes(plain.begin(), plain.begin() + 20));
    }
}

TEST(AesState, CbcCallsChainThroughTheStoredVector) {
    const Bytes key = hex(kKey256), iv = hex("000102030405060708090a0b0c0d0e0f");
    const Bytes plain = hex(kSp800Plain);
    Bytes out(64);
    loadKey(key, iv);
    SE_AES_EncryptCBC(out.data(), plain.data(), 16);
    SE_AES_EncryptCBC(out.data() + 16, plain.data() + 16, 48);
    EXPECT_EQ(out, hex(kVectors[5].cipher));
    uint8_t stored[16];
    SE_AES_GetIV(stored);
    EXPECT_EQ(Bytes(stored, stored + 16), Bytes(out.end() - 16, out.end()));

    Bytes back(64);
    loadKey(key, iv);
    SE_AES_DecryptCBC(back.data(), out.data(), 32);
    SE_AES_DecryptCBC(back.data() + 32, out.data() + 32, 32);
    EXPECT_EQ(back, plain);
}

TEST(AesCtr, CounterOfAllOnesWrapsToZero) {
    const Bytes key = hex(kKey128);
    const Bytes zeros(32, 0);
    Bytes stream(32);
    loadKey(key, Bytes(SE_DEFAULT_CTR_MASK, SE_DEFAULT_CTR_MASK + 16));
    EXPECT_EQ(SE_AES_EncryptCTR(stream.data(), zeros.data(), 32), 32);
    uint8_t counter[16];
    SE_AES_GetIV(counter);
    Bytes expectedCounter(16, 0);
    expectedCounter[15] = 1;
    EXPECT_EQ(Bytes(counter, counter + 16), expectedCounter);
    // The second key-stream block is AES(0).
    Bytes aesOfZero(16);
    SE_AES_EncryptECB(aesOfZero.data(), SE_ZERO_IV, 16);
    EXPECT_EQ(Bytes(stream.begin() + 16, stream.end()), aesOfZero);
}

TEST(AesCtr, CarryRunsThroughAllBytesAndPartialBlockAdvancesTheCounter) {
    const Bytes key = hex(kKey128);
    loadKey(key, hex("00000000000000ffffffffffffffffff"));
    Bytes data(21, 0x5a), out(21);
    EXPECT_EQ(SE_AES_EncryptCTR(out.data(), data.data(), 21), 21);
    uint8_t counter[16];
    SE_AES_GetIV(counter);
    EXPECT_EQ(Bytes(counter, counter + 16), hex("00000000000001000000000000000001"));
    // Decrypting restarts from the same counter.
    SE_AES_SetIV(hex("00000000000000ffffffffffffffffff").data());
    EXPECT_EQ(SE_AES_DecryptCTR(out.data(), out.data(), 21), 21);
    EXPECT_EQ(out, data);
}

TEST(AesCts, ShortInputIsCopiedAndWholeBlocksArePlainCbc) {
    const Bytes key = hex(kKey128), iv = hex("000102030405060708090a0b0c0d0e0f");
    const Bytes plain = hex(kSp800Plain);
    Bytes out(15);
    loadKey(key, iv);
    EXPECT_EQ(SE_AES_EncryptCBCCTS(out.data(), plain.data(), 15), 0);
    EXPECT_EQ(out, Bytes(plain.begin(), plain.begin() + 15));
    out.assign(32, 0);
    loadKey(key, iv);
    EXPECT_EQ(SE_AES_EncryptCBCCTS(out.data(), plain.data(), 32), 32);
    const Bytes cbc = hex(kVectors[4].cipher);
    EXPECT_EQ(out, Bytes(cbc.begin(), cbc.begin() + 32));
}

// OpenSSL's CBC-CTS in its "CS2" variant: swap the last two blocks only when the last is
// partial, which is the layout of this library.
Bytes sslCts(const Bytes& key, const Bytes& iv, const Bytes& data, bool encrypt) {
    const char* name = key.size() == 16 ? "AES-128-CBC-CTS" : "AES-256-CBC-CTS";
    EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, name, nullptr);
    char mode[] = "CS2";
    const OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_CIPHER_PARAM_CTS_MODE, mode, 0),
        OSSL_PARAM_construct_end()};
    Bytes out = symtest::sslCrypt(cipher, key, iv.data(), data, encrypt, params);
    EVP_CIPHER_free(cipher);
    return out;
}

// CBC over whole blocks with the OFB-style tail, built from OpenSSL's CBC and ECB.
Bytes referenceCbcOfb(const Bytes& key, const Bytes& iv, const Bytes& data, bool encrypt) {
    const EVP_CIPHER* cbc = key.size() == 16 ? EVP_aes_128_cbc() : EVP_aes_256_cbc();
    const EVP_CIPHER* ecb = key.size() == 16 ? EVP_aes_128_ecb() : EVP_aes_256_ecb();
    const size_t whole = data.size() / 16 * 16;
    Bytes out = symtest::sslCrypt(cbc, key, iv.data(), Bytes(data.begin(), data.begin() + whole),
                                  encrypt);
    Bytes last = whole ? Bytes((encrypt ? out : data).begin() + whole - 16,
                               (encrypt ? out : data).begin() + whole)
                       : iv;
    const Bytes stream = symtest::sslCrypt(ecb, key, nullptr, last, true);
    for (size_t i = whole; i < data.size(); ++i) out.push_back(data[i] ^ stream[i - whole]);
    return out;
}

struct DiffCase {
    size_t keyBytes;
    bool inPlace;
};

class AesDifferential : public ::testing::TestWithParam<DiffCase> {};

TEST_P(AesDifferential, EveryModeMatchesOpenSsl) {
    const DiffCase c = GetParam();
    std::mt19937 rng(static_cast<unsigned>(c.keyBytes * 7 + c.inPlace));
    const bool k128 = c.keyBytes == 16;
    for (int round = 0; round < 60; ++round) {
        const Bytes key = symtest::randomBytes(rng, c.keyBytes);
        const Bytes iv = symtest::randomBytes(rng, 16);
        const size_t n = round < 50 ? rng() % 200 : 4096 + rng() % 64;
        const Bytes data = symtest::randomBytes(rng, n);
        const size_t whole = n / 16 * 16;
        const Bytes wholeData(data.begin(), data.begin() + whole);
        SCOPED_TRACE(testing::Message() << "length " << n);

        auto ours = [&](CryptFn fn, bool withIv) {
            Bytes out = data;
            loadKey(key, withIv ? iv : Bytes());
            const int32_t r = c.inPlace ? fn(out.data(), out.data(), static_cast<int32_t>(n))
                                        : fn(out.data(), data.data(), static_cast<int32_t>(n));
            return std::make_pair(r, out);
        };
        auto withTail = [&](Bytes head) {
            head.insert(head.end(), data.begin() + whole, data.end());
            return head;
        };

        // ECB and CBC: OpenSSL on the whole blocks, the tail copied.
        auto [re, ecbOut] = ours(SE_AES_EncryptECB, false);
        EXPECT_EQ(re, static_cast<int32_t>(whole));
        EXPECT_EQ(ecbOut, withTail(symtest::sslCrypt(k128 ? EVP_aes_128_ecb() : EVP_aes_256_ecb(),
                                                     key, nullptr, wholeData, true)));
        auto [rd, ecbBack] = ours(SE_AES_DecryptECB, false);
        EXPECT_EQ(ecbBack, withTail(symtest::sslCrypt(k128 ? EVP_aes_128_ecb() : EVP_aes_256_ecb(),
                                                      key, nullptr, wholeData, false)));
        const EVP_CIPHER* cbc = k128 ? EVP_aes_128_cbc() : EVP_aes_256_cbc();
        EXPECT_EQ(ours(SE_AES_EncryptCBC, true).second,
                  withTail(symtest::sslCrypt(cbc, key, iv.data(), wholeData, true)));
        EXPECT_EQ(ours(SE_AES_DecryptCBC, true).second,
                  withTail(symtest::sslCrypt(cbc, key, iv.data(), wholeData, false)));

        // CTR: OpenSSL's counter is the same 128-bit big-endian counter.
        const EVP_CIPHER* ctr = k128 ? EVP_aes_128_ctr() : EVP_aes_256_ctr();
        auto [rc, ctrOut] = ours(SE_AES_EncryptCTR, true);
        EXPECT_EQ(rc, static_cast<int32_t>(n));
        EXPECT_EQ(ctrOut, symtest::sslCrypt(ctr, key, iv.data(), data, true));

        // CBC-CTS (from one block up) and CBC with the OFB-style tail.
        if (n >= 16) {
            EXPECT_EQ(ours(SE_AES_EncryptCBCCTS, true).second, sslCts(key, iv, data, true));
            EXPECT_EQ(ours(SE_AES_DecryptCBCCTS, true).second, sslCts(key, iv, data, false));
        }
        EXPECT_EQ(ours(SE_AES_EncryptCBCOFB, true).second, referenceCbcOfb(key, iv, data, true));
        EXPECT_EQ(ours(SE_AES_DecryptCBCOFB, true).second, referenceCbcOfb(key, iv, data, false));
    }
}

INSTANTIATE_TEST_SUITE_P(KeysAndAliasing, AesDifferential,
                         ::testing::Values(DiffCase{16, false}, DiffCase{16, true},
                                           DiffCase{32, false}, DiffCase{32, true}),
                         [](const auto& info) {
                             return "Aes" + std::to_string(info.param.keyBytes * 8) +
                                    (info.param.inPlace ? "InPlace" : "Separate");
                         });

TEST(AesCts, DecryptionRestoresAndLeavesTheSameVectorAsEncryption) {
    std::mt19937 rng(99);
    const Bytes key = symtest::randomBytes(rng, 32), iv = symtest::randomBytes(rng, 16);
    for (size_t n : {16u, 17u, 31u, 33u, 47u, 64u, 100u}) {
        SCOPED_TRACE(n);
        const Bytes data = symtest::randomBytes(rng, n);
        Bytes enc(n), dec(n);
        uint8_t ivAfterEnc[16], ivAfterDec[16];
        loadKey(key, iv);
        SE_AES_EncryptCBCCTS(enc.data(), data.data(), static_cast<int32_t>(n));
        SE_AES_GetIV(ivAfterEnc);
        loadKey(key, iv);
        SE_AES_DecryptCBCCTS(dec.data(), enc.data(), static_cast<int32_t>(n));
        SE_AES_GetIV(ivAfterDec);
        EXPECT_EQ(dec, data);
        EXPECT_EQ(0, std::memcmp(ivAfterEnc, ivAfterDec, 16));
    }
}

// The GFNI engine, where the CPU has it, agrees with the portable one on every bulk operation.
// (Which engine the library runs is checked with the other engines; the GFNI engine's own
// logic is checked on every CPU in aes_gfni_test.cpp.)
TEST(AesEngines, GfniEngineWhereAvailableMatchesPortable) {
    using namespace veld::se::aes;
    if (const Engine* gfni = hardwareEngine()) symtest::expectSameEngine(portableEngine(), *gfni);
}

}  // namespace
