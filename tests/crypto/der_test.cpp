// DER key readers and writer, the length writer and Diffie-Hellman private values: fixtures
// made by the openssl command compared with OpenSSL's own view of the keys, hand-made rows of
// malformed input, and every truncation and many mutations of real keys.
#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "se_crypto_rsa.h"
#include "se_random.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes readFixture(const std::string& name) {
    std::ifstream in(std::string(VELD_FIXTURES) + "/crypto/" + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

Bytes hex(const std::string& text) {
    Bytes out;
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        if (text[i] == ' ') {
            --i;
            continue;
        }
        out.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    }
    return out;
}

// Splits a blob into its fields.
std::vector<Bytes> fields(const Bytes& blob) {
    std::vector<Bytes> out;
    for (size_t pos = 0; pos + 2 <= blob.size();) {
        const size_t n = blob[pos] | (blob[pos + 1] << 8);
        out.emplace_back(blob.begin() + static_cast<long>(pos + 2), blob.begin() + static_cast<long>(pos + 2 + n));
        pos += 2 + n;
    }
    return out;
}

using Reader = int32_t (*)(uint8_t*, const uint8_t*, int32_t);

// Runs a reader with an output of exactly the documented size on the heap, so that a write
// past it is caught by the address sanitizer build.
int32_t read(Reader reader, const Bytes& der, Bytes* blob = nullptr, size_t room = 0) {
    Bytes out(room ? room : std::max<size_t>(der.size(), 1));
    const int32_t n = reader(out.data(), der.data(), static_cast<int32_t>(der.size()));
    if (blob && n >= 0) blob->assign(out.begin(), out.begin() + n);
    return n;
}

class DerKeys : public ::testing::TestWithParam<int> {};

TEST_P(DerKeys, ReadersAgreeWithOpenSsl) {
    const std::string base = "rsa" + std::to_string(GetParam());
    const Bytes pkcs1 = readFixture(base + "-pkcs1.der"), pkcs8 = readFixture(base + "-pkcs8.der"),
                pub = readFixture(base + "-pub.der");
    Bytes blob1, blob8, blobPub;
    ASSERT_GT(read(SE_RSA_ReadPKCS1_PrivateKey, pkcs1, &blob1), 0);
    ASSERT_GT(read(SE_RSA_ReadPKCS8, pkcs8, &blob8), 0);
    ASSERT_GT(read(VELD_SE_OTH001, pkcs8, nullptr), 0);
    ASSERT_GT(read(SE_RSA_ReadPKCS1_PublicKey, pub, &blobPub), 0);
    EXPECT_EQ(blob1, blob8);

    const uint8_t* p = pkcs1.data();
    EVP_PKEY* pkey = d2i_PrivateKey(EVP_PKEY_RSA, nullptr, &p, static_cast<long>(pkcs1.size()));
    ASSERT_NE(pkey, nullptr);
    const char* names[] = {OSSL_PKEY_PARAM_RSA_N, OSSL_PKEY_PARAM_RSA_E, OSSL_PKEY_PARAM_RSA_D,
                           OSSL_PKEY_PARAM_RSA_FACTOR1, OSSL_PKEY_PARAM_RSA_FACTOR2,
                           OSSL_PKEY_PARAM_RSA_EXPONENT1, OSSL_PKEY_PARAM_RSA_EXPONENT2,
                           OSSL_PKEY_PARAM_RSA_COEFFICIENT1};
    const std::vector<Bytes> ours = fields(blob1);
    ASSERT_EQ(ours.size(), 8u);
    for (size_t i = 0; i < 8; ++i) {
        BIGNUM* bn = nullptr;
        ASSERT_EQ(EVP_PKEY_get_bn_param(pkey, names[i], &bn), 1);
        Bytes theirs(static_cast<size_t>(BN_num_bytes(bn)));
        BN_bn2bin(bn, theirs.data());
        EXPECT_EQ(ours[i], theirs) << names[i];
        BN_free(bn);
    }
    EVP_PKEY_free(pkey);
    const std::vector<Bytes> pubFields = fields(blobPub);
    ASSERT_EQ(pubFields.size(), 2u);
    EXPECT_EQ(pubFields[0], ours[0]);
    EXPECT_EQ(pubFields[1], ours[1]);

    // The writer gives back OpenSSL's own encoding of the public key.
    const int32_t size = SE_RSA_ExportPKCS1_PublicKey(nullptr, blob1.data(), static_cast<int32_t>(blob1.size()));
    ASSERT_EQ(size, static_cast<int32_t>(pub.size()));
    Bytes der(blob1.size() + 10);
    ASSERT_EQ(SE_RSA_ExportPKCS1_PublicKey(der.data(), blob1.data(), static_cast<int32_t>(blob1.size())), size);
    der.resize(static_cast<size_t>(size));
    EXPECT_EQ(der, pub);
}

TEST_P(DerKeys, EveryTruncationAndTrailingByteFails) {
    const std::string base = "rsa" + std::to_string(GetParam());
    const struct {
        const char* file;
        Reader reader;
    } cases[] = {{"-pkcs1.der", SE_RSA_ReadPKCS1_PrivateKey},
                 {"-pkcs8.der", SE_RSA_ReadPKCS8},
                 {"-pub.der", SE_RSA_ReadPKCS1_PublicKey}};
    for (const auto& c : cases) {
        const Bytes der = readFixture(base + c.file);
        for (size_t n = 0; n < der.size(); ++n) {
            const Bytes cut(der.begin(), der.begin() + static_cast<long>(n));
            ASSERT_EQ(read(c.reader, cut), -1) << c.file << " cut to " << n;
        }
        Bytes longer = der;
        longer.push_back(0);
        EXPECT_EQ(read(c.reader, longer), -1) << c.file;
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, DerKeys, ::testing::Values(1024, 2048, 4096));

TEST(Der, MutatedKeysNeverEscapeTheirBuffers) {
    const struct {
        const char* file;
        Reader reader;
    } cases[] = {{"rsa1024-pkcs1.der", SE_RSA_ReadPKCS1_PrivateKey},
                 {"rsa1024-pkcs8.der", SE_RSA_ReadPKCS8},
                 {"rsa1024-pub.der", SE_RSA_ReadPKCS1_PublicKey},
                 {"dh1024.der", SE_RSA_ReadPKCS3}};
    std::mt19937 rng(5);
    for (const auto& c : cases) {
        const Bytes der = readFixture(c.file);
        ASSERT_FALSE(der.empty());
        const size_t room = c.reader == SE_RSA_ReadPKCS3 ? 2 * der.size() : der.size();
        for (int i = 0; i < 2000; ++i) {
            Bytes m = der;
            const int edits = 1 + static_cast<int>(rng() % 3);
            for (int e = 0; e < edits; ++e) m[rng() % m.size()] = static_cast<uint8_t>(rng());
            const int32_t n = read(c.reader, m, nullptr, room);
            EXPECT_GE(n, -1);
            EXPECT_LE(n, static_cast<int32_t>(room));
        }
    }
}

TEST(Der, PublicKeyRows) {
    struct Row {
        const char* what;
        const char* der;
        int expected;
    };
    const Row rows[] = {
        {"minimal key", "3006 02010F 020103", 6},
        {"0x81 length form", "308106 02010F 020103", 6},
        {"0x82 length form", "30820006 02010F 020103", 6},
        {"0x81 form of an integer", "3007 0281010F 020103", 6},
        {"leading zero of a positive integer", "3007 0202008F 020103", 6},
        {"empty input", "", -1},
        {"tag only", "30", -1},
        {"one integer", "3003 02010F", -1},
        {"sequence longer than the input", "3008 02010F 020103", -1},
        {"integer longer than the sequence", "3006 02020F 020103", -1},
        {"trailing byte", "3006 02010F 020103 00", -1},
        {"extra element", "3009 02010F 020103 020101", -1},
        {"0x83 length form", "3083000006 02010F 020103", -1},
        {"indefinite length", "3080 02010F 020103 0000", -1},
        {"0x84 length form", "308400000006 02010F 020103", -1},
        {"negative integer", "3006 02018F 020103", -1},
        {"integer with a redundant zero", "3007 0202000F 020103", -1},
        {"empty integer", "3005 0200 020103", -1},
        {"set instead of sequence", "3106 02010F 020103", -1},
        {"octet string instead of integer", "3006 04010F 020103", -1},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(read(SE_RSA_ReadPKCS1_PublicKey, hex(row.der)), row.expected) << row.what;
    }
    // A modulus above 4096 bits is refused; one of exactly 4096 bits is read.
    for (const auto& [bytes, expected] : {std::pair{513, -1}, std::pair{512, 2 + 512 + 2 + 1}}) {
        Bytes der = {0x30, 0x82, 0, 0, 0x02, 0x82, static_cast<uint8_t>(bytes >> 8), static_cast<uint8_t>(bytes)};
        der.insert(der.end(), static_cast<size_t>(bytes), 0x7F);
        der.insert(der.end(), {0x02, 0x01, 0x03});
        const size_t body = der.size() - 4;
        der[2] = static_cast<uint8_t>(body >> 8);
        der[3] = static_cast<uint8_t>(body);
        EXPECT_EQ(read(SE_RSA_ReadPKCS1_PublicKey, der), expected) << bytes;
    }
}

TEST(Der, PrivateKeyRows) {
    const Bytes pkcs1 = readFixture("rsa1024-pkcs1.der");
    const Bytes pkcs8 = readFixture("rsa1024-pkcs8.der");
    // version is the first integer: 30 82 LL LL 02 01 00
    Bytes v1 = pkcs1;
    ASSERT_EQ(v1[6], 0);
    v1[6] = 1;  // multi-prime version
    EXPECT_EQ(read(SE_RSA_ReadPKCS1_PrivateKey, v1), -1);
    // PKCS #8: 30 82 LL LL 02 01 00 30 0D 06 09 <oid> 05 00 04 82 ...
    Bytes badOid = pkcs8;
    ASSERT_EQ(badOid[19], 0x01);
    badOid[19] = 0x0A;  // RSASSA-PSS instead of rsaEncryption
    EXPECT_EQ(read(SE_RSA_ReadPKCS8, badOid), -1);
    Bytes v2 = pkcs8;
    v2[6] = 2;
    EXPECT_EQ(read(SE_RSA_ReadPKCS8, v2), -1);
    Bytes v1ok = pkcs8;
    v1ok[6] = 1;  // OneAsymmetricKey version 1 carries the same key
    EXPECT_GT(read(SE_RSA_ReadPKCS8, v1ok), 0);
    // A PKCS #1 key is not a PKCS #8 one and the other way round.
    EXPECT_EQ(read(SE_RSA_ReadPKCS8, pkcs1), -1);
    EXPECT_EQ(read(SE_RSA_ReadPKCS1_PrivateKey, pkcs8), -1);
}

TEST(Der, BerWriteLengthRows) {
    struct Row {
        int32_t length;
        Bytes expected;  // empty: -1
    };
    const Row rows[] = {
        {0, {0x00}}, {126, {0x7E}}, {127, {0x81, 0x7F}}, {128, {0x81, 0x80}}, {254, {0x81, 0xFE}},
        {255, {0x82, 0x00, 0xFF}}, {256, {0x82, 0x01, 0x00}}, {65535, {0x82, 0xFF, 0xFF}},
        {65536, {}}, {-1, {}},
    };
    for (const Row& row : rows) {
        uint8_t out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
        const int32_t n = _BER_WriteLength(out, row.length);
        EXPECT_EQ(_BER_WriteLength(nullptr, row.length), n) << row.length;
        if (row.expected.empty()) {
            EXPECT_EQ(n, -1) << row.length;
            continue;
        }
        ASSERT_EQ(n, static_cast<int32_t>(row.expected.size())) << row.length;
        EXPECT_EQ(Bytes(out, out + n), row.expected) << row.length;
        EXPECT_EQ(out[n], 0xEE);
    }
}

TEST(Der, ExportedKeysReadBackIncludingLongFormLengths) {
    // n of 126 bytes with the top bit set makes an INTEGER of 127 bytes (written 0x81 0x7F);
    // n of 254 bytes makes one of 255 (written 0x82 0x00 0xFF).
    for (size_t nBytes : {size_t{1}, size_t{126}, size_t{254}, size_t{300}}) {
        Bytes blob = {static_cast<uint8_t>(nBytes), static_cast<uint8_t>(nBytes >> 8)};
        blob.insert(blob.end(), nBytes, 0xC3);
        blob.insert(blob.end(), {3, 0, 0x01, 0x00, 0x01});
        const int32_t size = SE_RSA_ExportPKCS1_PublicKey(nullptr, blob.data(), static_cast<int32_t>(blob.size()));
        ASSERT_GT(size, 0);
        ASSERT_LE(size, static_cast<int32_t>(blob.size()) + 10);
        Bytes der(static_cast<size_t>(size));
        ASSERT_EQ(SE_RSA_ExportPKCS1_PublicKey(der.data(), blob.data(), static_cast<int32_t>(blob.size())), size);
        Bytes back;
        ASSERT_EQ(read(SE_RSA_ReadPKCS1_PublicKey, der, &back), static_cast<int32_t>(blob.size())) << nBytes;
        EXPECT_EQ(back, blob);
        // OpenSSL reads the same key.
        const uint8_t* p = der.data();
        EVP_PKEY* pkey = d2i_PublicKey(EVP_PKEY_RSA, nullptr, &p, size);
        EXPECT_NE(pkey, nullptr) << nBytes;
        EVP_PKEY_free(pkey);
    }
    const Bytes bad[] = {{}, {5, 0, 1, 2}, {1, 0, 7}, {0, 0, 1, 0, 3}, {1, 0, 7, 1}};
    for (const Bytes& b : bad) {
        EXPECT_EQ(SE_RSA_ExportPKCS1_PublicKey(nullptr, b.data(), static_cast<int32_t>(b.size())), -1);
    }
}

TEST(Der, Pkcs3ParametersAndPrivateValues) {
    const Bytes der = readFixture("dh1024.der");
    Bytes blob;
    const int32_t n = read(SE_RSA_ReadPKCS3, der, &blob, 2 * der.size());
    ASSERT_EQ(n, 4 + 128 + 128);
    EXPECT_EQ(read(VELD_SE_OTH002, der, nullptr, 2 * der.size()), n);
    const std::vector<Bytes> f = fields(blob);
    ASSERT_EQ(f.size(), 2u);
    EXPECT_TRUE(std::equal(f[0].begin(), f[0].end(), der.end() - 3 - 128));
    EXPECT_EQ(f[1], Bytes(128, 0));

    // A deterministic source shows where x comes from; its top bit is set.
    struct Ctx {
        static int fill(uint8_t* out, size_t len, void*) {
            for (size_t i = 0; i < len; ++i) out[i] = static_cast<uint8_t>(i + 1);
            return 0;
        }
    };
    veld::se::setRandomSource(Ctx::fill, nullptr);
    EXPECT_EQ(SE_RSA_GenDiffieHellmanKey(blob.data(), n), n);
    veld::se::setRandomSource(nullptr, nullptr);
    const Bytes x(blob.begin() + 4 + 128, blob.end());
    EXPECT_EQ(x[0], 0x81);
    EXPECT_EQ(x[127], 128);
    EXPECT_EQ(SE_RSA_GenDiffieHellmanKey(blob.data(), n - 1), -1);
    EXPECT_EQ(SE_RSA_GenDiffieHellmanKey(blob.data(), 3), -1);

    struct Row {
        const char* what;
        const char* der;
        int expected;
    };
    const Row rows[] = {
        {"with privateValueLength", "300B 020300C35B 020102 02010C", 4 + 2 + 2},
        {"without privateValueLength", "3007 020200C5 020102", 4 + 1 + 1},
        {"privateValueLength zero", "300B 020300C35B 020102 020100", -1},
        {"privateValueLength beyond the prime", "300B 020300C35B 020102 020111", -1},
        {"even prime", "3007 020200C4 020102", -1},
        {"base one", "3007 020200C5 020101", -1},
        {"no base", "3004 020200C5", -1},
        {"trailing element", "300E 020300C35B 020102 02010C 020101", -1},
    };
    for (const Row& row : rows) {
        const Bytes d = hex(row.der);
        EXPECT_EQ(read(SE_RSA_ReadPKCS3, d, nullptr, 2 * d.size()), row.expected) << row.what;
    }
}

}  // namespace
