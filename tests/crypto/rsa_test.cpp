// RSA through the exported functions, against OpenSSL: keys of 1024, 2048 and 4096 bits made
// by OpenSSL and read through our DER readers; raw operations, v1.5 and OAEP in both
// directions, PSS signatures verified both ways; padding and key-blob failure rows.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "se_crypto_hash.h"
#include "se_crypto_rsa.h"
#include "se_random.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes readFixture(const std::string& name) {
    std::ifstream in(std::string(VELD_FIXTURES) + "/crypto/" + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// A key as both sides see it.
struct Key {
    int bits = 0;
    int k = 0;
    Bytes privateBlob;   // all eight fields
    Bytes publicBlob;    // n, e
    Bytes noPrimesBlob;  // n, e, d
    EVP_PKEY* pkey = nullptr;

    Key() = default;
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key() { EVP_PKEY_free(pkey); }
};

// Length of the first `fields` fields of a blob.
size_t blobPrefix(const Bytes& blob, int fields) {
    size_t pos = 0;
    for (int i = 0; i < fields; ++i) pos += 2 + (blob[pos] | (blob[pos + 1] << 8));
    return pos;
}

const Key& key(int bits) {
    static std::map<int, Key> keys;
    Key& key = keys[bits];
    if (key.pkey) return key;
    const Bytes der = readFixture("rsa" + std::to_string(bits) + "-pkcs1.der");
    EXPECT_FALSE(der.empty());
    key.bits = bits;
    key.k = (bits + 7) / 8;
    key.privateBlob.resize(der.size());
    const int32_t n = SE_RSA_ReadPKCS1_PrivateKey(key.privateBlob.data(), der.data(),
                                                   static_cast<int32_t>(der.size()));
    EXPECT_GT(n, 0);
    key.privateBlob.resize(static_cast<size_t>(std::max(n, 0)));
    key.publicBlob.assign(key.privateBlob.begin(), key.privateBlob.begin() + blobPrefix(key.privateBlob, 2));
    key.noPrimesBlob.assign(key.privateBlob.begin(), key.privateBlob.begin() + blobPrefix(key.privateBlob, 3));
    const uint8_t* p = der.data();
    key.pkey = d2i_PrivateKey(EVP_PKEY_RSA, nullptr, &p, static_cast<long>(der.size()));
    EXPECT_NE(key.pkey, nullptr);
    return key;
}

// ---- OpenSSL side ------------------------------------------------------------------------

const EVP_MD* mdFor(int selectorOrLength) {
    switch (selectorOrLength) {
    case 2: case 32: return EVP_sha256();
    case 48: return EVP_sha384();
    default: return EVP_sha1();
    }
}

void setPadding(EVP_PKEY_CTX* ctx, int padding, const EVP_MD* md) {
    ASSERT_GT(EVP_PKEY_CTX_set_rsa_padding(ctx, padding), 0);
    if (padding == RSA_PKCS1_OAEP_PADDING) {
        ASSERT_GT(EVP_PKEY_CTX_set_rsa_oaep_md(ctx, md), 0);
        ASSERT_GT(EVP_PKEY_CTX_set_rsa_mgf1_md(ctx, md), 0);
    }
}

Bytes sslEncrypt(const Key& k, int padding, const Bytes& msg, const EVP_MD* md = nullptr) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(k.pkey, nullptr);
    EXPECT_GT(EVP_PKEY_encrypt_init(ctx), 0);
    setPadding(ctx, padding, md);
    size_t len = static_cast<size_t>(k.k);
    Bytes out(len);
    EXPECT_GT(EVP_PKEY_encrypt(ctx, out.data(), &len, msg.data(), msg.size()), 0);
    EVP_PKEY_CTX_free(ctx);
    out.resize(len);
    return out;
}

bool sslDecrypt(const Key& k, int padding, const Bytes& ct, Bytes& msg, const EVP_MD* md = nullptr) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(k.pkey, nullptr);
    EXPECT_GT(EVP_PKEY_decrypt_init(ctx), 0);
    setPadding(ctx, padding, md);
    size_t len = static_cast<size_t>(k.k);
    msg.assign(len, 0);
    const bool ok = EVP_PKEY_decrypt(ctx, msg.data(), &len, ct.data(), ct.size()) > 0;
    EVP_PKEY_CTX_free(ctx);
    msg.resize(ok ? len : 0);
    return ok;
}

Bytes sslSignPss(const Key& k, const Bytes& mHash, int saltLen) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(k.pkey, nullptr);
    EXPECT_GT(EVP_PKEY_sign_init(ctx), 0);
    EXPECT_GT(EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PSS_PADDING), 0);
    EXPECT_GT(EVP_PKEY_CTX_set_signature_md(ctx, mdFor(static_cast<int>(mHash.size()))), 0);
    EXPECT_GT(EVP_PKEY_CTX_set_rsa_pss_saltlen(ctx, saltLen), 0);
    size_t len = static_cast<size_t>(k.k);
    Bytes sig(len);
    EXPECT_GT(EVP_PKEY_sign(ctx, sig.data(), &len, mHash.data(), mHash.size()), 0);
    EVP_PKEY_CTX_free(ctx);
    sig.resize(len);
    return sig;
}

bool sslVerifyPss(const Key& k, const Bytes& mHash, const Bytes& sig, int saltLen) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(k.pkey, nullptr);
    EXPECT_GT(EVP_PKEY_verify_init(ctx), 0);
    EXPECT_GT(EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PSS_PADDING), 0);
    EXPECT_GT(EVP_PKEY_CTX_set_signature_md(ctx, mdFor(static_cast<int>(mHash.size()))), 0);
    EXPECT_GT(EVP_PKEY_CTX_set_rsa_pss_saltlen(ctx, saltLen), 0);
    const bool ok = EVP_PKEY_verify(ctx, sig.data(), sig.size(), mHash.data(), mHash.size()) == 1;
    EVP_PKEY_CTX_free(ctx);
    return ok;
}

// MGF1 for crafting OAEP encodings by hand.
void mgf1Xor(const EVP_MD* md, uint8_t* buf, size_t len, const uint8_t* seed, size_t seedLen) {
    for (uint32_t counter = 0; len > 0; ++counter) {
        Bytes in(seed, seed + seedLen);
        for (int s = 24; s >= 0; s -= 8) in.push_back(static_cast<uint8_t>(counter >> s));
        uint8_t block[EVP_MAX_MD_SIZE];
        unsigned int bl = 0;
        EVP_Digest(in.data(), in.size(), block, &bl, md, nullptr);
        const size_t take = std::min<size_t>(len, bl);
        for (size_t i = 0; i < take; ++i) buf[i] ^= block[i];
        buf += take;
        len -= take;
    }
}

// ---- our side -----------------------------------------------------------------------------

class Rsa : public ::testing::Test {
protected:
    void SetUp() override { SE_RSA_Init(pool_.data()); }
    void TearDown() override {
        veld::se::setRandomSource(nullptr, nullptr);
        SE_RSA_Init(nullptr);
    }
    static void setKey(const Bytes& blob) {
        ASSERT_EQ(SE_RSA_SetKey(blob.data(), static_cast<int32_t>(blob.size())), 0);
    }
    static Bytes random(size_t n, uint32_t seed) {
        std::mt19937 rng(seed);
        Bytes b(n);
        for (auto& x : b) x = static_cast<uint8_t>(rng());
        return b;
    }
    // Our raw public operation on a chosen encoding (for crafted ciphertexts).
    static Bytes rawPublic(const Key& k, const Bytes& em) {
        setKey(k.publicBlob);
        Bytes out(static_cast<size_t>(k.k));
        EXPECT_EQ(SE_RSA_Exponentiation(out.data(), em.data(), static_cast<int32_t>(em.size()), 0), k.k);
        return out;
    }

    std::vector<uint8_t> pool_ = std::vector<uint8_t>(SE_BI_POOL_SIZE);
};

class RsaKeys : public Rsa, public ::testing::WithParamInterface<int> {};

TEST_P(RsaKeys, RawOperationsMatchOpenSsl) {
    const Key& k = key(GetParam());
    Bytes m = random(static_cast<size_t>(k.k), 1);
    m[0] = 0;
    const Bytes c = sslEncrypt(k, RSA_NO_PADDING, m);
    Bytes out(static_cast<size_t>(k.k));

    setKey(k.publicBlob);
    ASSERT_EQ(SE_RSA_Exponentiation(out.data(), m.data(), k.k, 0), k.k);
    EXPECT_EQ(out, c);
    for (const Bytes* blob : {&k.privateBlob, &k.noPrimesBlob}) {
        setKey(*blob);
        std::fill(out.begin(), out.end(), 0);
        ASSERT_EQ(SE_RSA_Exponentiation(out.data(), c.data(), k.k, 1), k.k);
        EXPECT_EQ(out, m) << (blob == &k.privateBlob ? "CRT" : "without primes");
    }
}

TEST_P(RsaKeys, V15InteroperatesBothWays) {
    const Key& k = key(GetParam());
    for (int len : {0, 1, k.k - 11}) {
        const Bytes msg = random(static_cast<size_t>(len), static_cast<uint32_t>(len));
        Bytes out(static_cast<size_t>(k.k));
        setKey(k.privateBlob);
        const Bytes c = sslEncrypt(k, RSA_PKCS1_PADDING, msg);
        ASSERT_EQ(SE_RSA_15_Decrypt(out.data(), c.data(), static_cast<int32_t>(c.size())), len);
        EXPECT_TRUE(std::equal(msg.begin(), msg.end(), out.begin()));

        setKey(k.publicBlob);
        ASSERT_EQ(SE_RSA_15_Encrypt(out.data(), msg.data(), len), k.k);
        Bytes back;
        ASSERT_TRUE(sslDecrypt(k, RSA_PKCS1_PADDING, out, back));
        EXPECT_EQ(back, msg);
    }
    setKey(k.publicBlob);
    const Bytes tooLong(static_cast<size_t>(k.k - 10), 1);
    Bytes out(static_cast<size_t>(k.k));
    EXPECT_EQ(SE_RSA_15_Encrypt(out.data(), tooLong.data(), k.k - 10), -1);
}

TEST_P(RsaKeys, OaepInteroperatesBothWays) {
    const Key& k = key(GetParam());
    for (int selector : {0, 2}) {
        const EVP_MD* md = mdFor(selector);
        const int h = EVP_MD_get_size(md);
        for (int len : {0, 1, k.k - 2 * h - 2}) {
            const Bytes msg = random(static_cast<size_t>(len), static_cast<uint32_t>(len + selector));
            Bytes out(static_cast<size_t>(k.k));
            setKey(k.privateBlob);
            const Bytes c = sslEncrypt(k, RSA_PKCS1_OAEP_PADDING, msg, md);
            ASSERT_EQ(SE_RSA_OAEP_Decrypt(out.data(), c.data(), k.k, selector), len) << selector;
            EXPECT_TRUE(std::equal(msg.begin(), msg.end(), out.begin()));

            setKey(k.publicBlob);
            ASSERT_EQ(SE_RSA_OAEP_Encrypt(out.data(), msg.data(), len, selector), k.k);
            Bytes back;
            ASSERT_TRUE(sslDecrypt(k, RSA_PKCS1_OAEP_PADDING, out, back, md));
            EXPECT_EQ(back, msg);

            setKey(k.publicBlob);
            const Bytes seed = random(static_cast<size_t>(h), 99);
            ASSERT_EQ(SE_RSA_OAEP_EncryptWithSeed(out.data(), msg.data(), len, selector, seed.data()), k.k);
            ASSERT_TRUE(sslDecrypt(k, RSA_PKCS1_OAEP_PADDING, out, back, md));
            EXPECT_EQ(back, msg);
        }
        setKey(k.publicBlob);
        const Bytes tooLong(static_cast<size_t>(k.k - 2 * h - 1), 1);
        Bytes out(static_cast<size_t>(k.k));
        EXPECT_EQ(SE_RSA_OAEP_Encrypt(out.data(), tooLong.data(), static_cast<int32_t>(tooLong.size()), selector), -1);
    }
}

TEST_P(RsaKeys, PssSignaturesVerifyBothWays) {
    const Key& k = key(GetParam());
    for (int hashLength : {20, 32, 48}) {
        const Bytes mHash = random(static_cast<size_t>(hashLength), static_cast<uint32_t>(hashLength));
        // Ours signs, OpenSSL verifies.
        Bytes em(static_cast<size_t>(k.k)), sig(static_cast<size_t>(k.k));
        ASSERT_EQ(SE_RSA_AddPKCS1PSS(em.data(), k.bits, mHash.data(), hashLength, hashLength), k.k);
        setKey(k.privateBlob);
        ASSERT_EQ(SE_RSA_Exponentiation(sig.data(), em.data(), k.k, 1), k.k);
        EXPECT_TRUE(sslVerifyPss(k, mHash, sig, hashLength)) << hashLength;

        // OpenSSL signs (hash-length and maximal salts), ours verifies.
        for (int salt : {hashLength, RSA_PSS_SALTLEN_MAX}) {
            const Bytes theirs = sslSignPss(k, mHash, salt);
            setKey(k.publicBlob);
            ASSERT_EQ(SE_RSA_Exponentiation(em.data(), theirs.data(), k.k, 0), k.k);
            EXPECT_EQ(SE_RSA_VerifyPKCS1PSS(em.data(), k.k, k.bits, mHash.data(), hashLength, -1), 0);
            if (salt == hashLength) {
                EXPECT_EQ(SE_RSA_VerifyPKCS1PSS(em.data(), k.k, k.bits, mHash.data(), hashLength, hashLength), 0);
            } else {
                EXPECT_EQ(SE_RSA_VerifyPKCS1PSS(em.data(), k.k, k.bits, mHash.data(), hashLength, hashLength), -1);
            }
            Bytes other = mHash;
            other[0] ^= 1;
            EXPECT_EQ(SE_RSA_VerifyPKCS1PSS(em.data(), k.k, k.bits, other.data(), hashLength, -1), -1);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, RsaKeys, ::testing::Values(1024, 2048, 4096));

TEST_F(Rsa, V15PaddingRows) {
    const Key& k = key(1024);
    struct Row {
        const char* what;
        uint8_t first, type;
        int zeroAt;  // index of the separator, -1 for none
        int expected;  // message length or -1
    };
    const Row rows[] = {
        {"valid, eight padding bytes", 0, 2, 10, k.k - 11},
        {"valid, long padding", 0, 2, 60, k.k - 61},
        {"valid, empty message", 0, 2, k.k - 1, 0},
        {"seven padding bytes", 0, 2, 9, -1},
        {"separator right after the type", 0, 2, 2, -1},
        {"no separator", 0, 2, -1, -1},
        {"block type 1", 0, 1, 20, -1},
        {"leading byte not zero", 1, 2, 20, -1},
    };
    for (const Row& row : rows) {
        Bytes em = random(static_cast<size_t>(k.k), 5);
        for (auto& b : em) b |= 1;  // no accidental zeros
        em[0] = row.first;
        em[1] = row.type;
        if (row.zeroAt >= 0) em[static_cast<size_t>(row.zeroAt)] = 0;
        const Bytes c = rawPublic(k, em);
        setKey(k.privateBlob);
        Bytes out(static_cast<size_t>(k.k), 0xEE);
        EXPECT_EQ(SE_RSA_15_Decrypt(out.data(), c.data(), k.k), row.expected) << row.what;
        if (row.expected > 0) {
            EXPECT_TRUE(std::equal(em.end() - row.expected, em.end(), out.begin())) << row.what;
        }
    }
}

TEST_F(Rsa, OaepPaddingRows) {
    const Key& k = key(1024);
    const EVP_MD* md = EVP_sha1();
    const int h = 20;
    uint8_t lHash[20];
    unsigned int lLen = 0;
    EVP_Digest("", 0, lHash, &lLen, md, nullptr);
    struct Row {
        const char* what;
        uint8_t y;
        bool badLabel;
        int oneAt;        // index in DB of the separator, -1 for none
        uint8_t separator;
        int expected;
    };
    const int dbLen = k.k - h - 1;
    const Row rows[] = {
        {"valid, longest message", 0, false, h, 1, dbLen - h - 1},
        {"valid, empty message", 0, false, dbLen - 1, 1, 0},
        {"leading byte not zero", 1, false, h + 5, 1, -1},
        {"label hash differs", 0, true, h + 5, 1, -1},
        {"no separator", 0, false, -1, 1, -1},
        {"separator 2", 0, false, h + 5, 2, -1},
    };
    for (const Row& row : rows) {
        Bytes db(static_cast<size_t>(dbLen), 0);
        std::copy(lHash, lHash + h, db.begin());
        if (row.badLabel) db[3] ^= 0x40;
        if (row.oneAt >= 0) {
            db[static_cast<size_t>(row.oneAt)] = row.separator;
            for (int i = row.oneAt + 1; i < dbLen; ++i) db[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
        }
        Bytes seed = random(static_cast<size_t>(h), 3);
        mgf1Xor(md, db.data(), db.size(), seed.data(), seed.size());
        mgf1Xor(md, seed.data(), seed.size(), db.data(), db.size());
        Bytes em{row.y};
        em.insert(em.end(), seed.begin(), seed.end());
        em.insert(em.end(), db.begin(), db.end());
        const Bytes c = rawPublic(k, em);
        setKey(k.privateBlob);
        Bytes out(static_cast<size_t>(k.k));
        EXPECT_EQ(SE_RSA_OAEP_Decrypt(out.data(), c.data(), k.k, 0), row.expected) << row.what;
    }
}

TEST_F(Rsa, CiphertextOutOfRangeFails) {
    const Key& k = key(1024);
    Bytes out(static_cast<size_t>(k.k));
    const Bytes all(static_cast<size_t>(k.k), 0xFF);  // above n
    setKey(k.privateBlob);
    EXPECT_EQ(SE_RSA_15_Decrypt(out.data(), all.data(), k.k), -1);
    setKey(k.privateBlob);
    EXPECT_EQ(SE_RSA_OAEP_Decrypt(out.data(), all.data(), k.k, 2), -1);
    setKey(k.publicBlob);
    const Bytes longer(static_cast<size_t>(k.k + 1), 0);
    EXPECT_EQ(SE_RSA_Exponentiation(out.data(), longer.data(), k.k + 1, 0), -1);
    setKey(k.publicBlob);
    EXPECT_EQ(SE_RSA_Exponentiation(out.data(), all.data(), 0, 0), -1);
    setKey(k.publicBlob);  // a public key cannot decrypt
    EXPECT_EQ(SE_RSA_Exponentiation(out.data(), out.data(), k.k - 1, 1), -1);
}

TEST_F(Rsa, KeyServesOneOperation) {
    const Key& k = key(1024);
    Bytes out(static_cast<size_t>(k.k));
    const Bytes m(8, 3);
    EXPECT_EQ(SE_RSA_Exponentiation(out.data(), m.data(), 8, 0), -1);  // no key yet
    setKey(k.publicBlob);
    EXPECT_EQ(SE_RSA_Exponentiation(nullptr, m.data(), 8, 0), k.k);     // size query keeps it
    EXPECT_EQ(SE_RSA_Exponentiation(out.data(), m.data(), 8, 0), k.k);
    EXPECT_EQ(SE_RSA_Exponentiation(out.data(), m.data(), 8, 0), -1);
    EXPECT_EQ(SE_RSA_Exponentiation(nullptr, m.data(), 8, 0), -1);
}

TEST_F(Rsa, OperationsLeaveNoKeyMaterialInThePool) {
    const Key& k = key(1024);
    const Bytes c = sslEncrypt(k, RSA_PKCS1_PADDING, Bytes{1, 2, 3});
    Bytes out(static_cast<size_t>(k.k));
    setKey(k.privateBlob);
    EXPECT_TRUE(std::any_of(pool_.begin(), pool_.end(), [](uint8_t b) { return b != 0; }));
    ASSERT_EQ(SE_RSA_15_Decrypt(out.data(), c.data(), k.k), 3);
    EXPECT_TRUE(std::all_of(pool_.begin(), pool_.end(), [](uint8_t b) { return b == 0; }));
    setKey(k.privateBlob);
    EXPECT_EQ(SE_RSA_15_Decrypt(out.data(), out.data(), 0), -1);  // failures wipe as well
    EXPECT_TRUE(std::all_of(pool_.begin(), pool_.end(), [](uint8_t b) { return b == 0; }));
}

TEST_F(Rsa, KeyBlobRows) {
    const Key& k = key(1024);
    const Bytes& full = k.privateBlob;
    const size_t afterN = blobPrefix(full, 1), afterE = blobPrefix(full, 2), afterD = blobPrefix(full, 3);
    struct Row {
        const char* what;
        Bytes blob;
        int expected;
    };
    auto cut = [&](size_t n) { return Bytes(full.begin(), full.begin() + static_cast<long>(n)); };
    auto with = [&](Bytes b, size_t at, uint8_t v) { b[at] = v; return b; };
    Bytes evenN = full;
    evenN[afterN - 1] &= 0xFE;
    Bytes badQinv = full;
    badQinv[full.size() - 1] ^= 1;  // q^-1 mod p changes: fine as a value, checked by the fault test
    Bytes wrongP = full;
    wrongP[blobPrefix(full, 4) - 1] ^= 2;
    const Row rows[] = {
        {"public key", cut(afterE), 0},
        {"key without primes", cut(afterD), 0},
        {"whole key", full, 0},
        {"ends after n", cut(afterN), -1},
        {"one byte after e", cut(afterE + 1), -1},
        {"ends inside d", cut(afterE + 10), -1},
        {"ends after p", cut(blobPrefix(full, 4)), -1},
        {"n longer than the blob", with(cut(afterE), 1, 0xFF), -1},
        {"empty n", with(with(cut(afterE), 0, 0), 1, 0), -1},
        {"even modulus", evenN, -1},
        {"p times q is not n", wrongP, -1},
        {"too short", cut(3), -1},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(SE_RSA_SetKey(row.blob.data(), static_cast<int32_t>(row.blob.size())), row.expected)
            << row.what;
    }
    // A wrong CRT coefficient gives a wrong result, which the check catches.
    setKey(badQinv);
    const Bytes c = sslEncrypt(k, RSA_NO_PADDING, Bytes(static_cast<size_t>(k.k), 0x11));
    Bytes out(static_cast<size_t>(k.k));
    EXPECT_EQ(SE_RSA_Exponentiation(out.data(), c.data(), k.k, 1), -1);
    EXPECT_EQ(SE_RSA_SetKey(full.data(), static_cast<int32_t>(full.size())), 0);
    SE_RSA_Init(nullptr);
    EXPECT_EQ(SE_RSA_SetKey(full.data(), static_cast<int32_t>(full.size())), -1);  // no pool
}

// A deterministic source: a counter, or zeros for the first `zeros` bytes.
struct Source {
    uint8_t next = 1;
    int zeros = 0;
    static int fill(uint8_t* out, size_t n, void* ctx) {
        auto* s = static_cast<Source*>(ctx);
        for (size_t i = 0; i < n; ++i) {
            if (s->zeros != 0) {
                out[i] = 0;
                if (s->zeros > 0) --s->zeros;
            } else {
                out[i] = s->next++;
            }
        }
        return 0;
    }
};

TEST_F(Rsa, OaepRandomSeedComesFromTheSource) {
    const Key& k = key(1024);
    Source src;
    veld::se::setRandomSource(Source::fill, &src);
    const Bytes msg = {1, 2, 3};
    Bytes a(static_cast<size_t>(k.k)), b(static_cast<size_t>(k.k));
    setKey(k.publicBlob);
    ASSERT_EQ(SE_RSA_OAEP_Encrypt(a.data(), msg.data(), 3, 2), k.k);
    Bytes seed(32);
    for (size_t i = 0; i < seed.size(); ++i) seed[i] = static_cast<uint8_t>(i + 1);
    setKey(k.publicBlob);
    ASSERT_EQ(SE_RSA_OAEP_EncryptWithSeed(b.data(), msg.data(), 3, 2, seed.data()), k.k);
    EXPECT_EQ(a, b);
}

TEST_F(Rsa, V15PaddingNeverContainsZeroBytes) {
    const Key& k = key(1024);
    Source src;
    src.zeros = 40;  // the first draws are all zero
    veld::se::setRandomSource(Source::fill, &src);
    const Bytes msg = {7, 7, 7};
    Bytes c(static_cast<size_t>(k.k));
    setKey(k.publicBlob);
    ASSERT_EQ(SE_RSA_15_Encrypt(c.data(), msg.data(), 3), k.k);
    Bytes back;
    ASSERT_TRUE(sslDecrypt(k, RSA_PKCS1_PADDING, c, back));
    EXPECT_EQ(back, msg);

    src.zeros = -1;  // a broken source: zeros for ever
    setKey(k.publicBlob);
    EXPECT_EQ(SE_RSA_15_Encrypt(c.data(), msg.data(), 3), -1);
}

TEST_F(Rsa, PssRejectsBadEncodings) {
    const Key& k = key(1024);
    const Bytes mHash = random(32, 8);
    Bytes em(static_cast<size_t>(k.k));
    ASSERT_EQ(SE_RSA_AddPKCS1PSS(em.data(), k.bits, mHash.data(), 32, 32), k.k);
    EXPECT_EQ(SE_RSA_VerifyPKCS1PSS(em.data(), k.k, k.bits, mHash.data(), 32, 32), 0);
    struct Row {
        const char* what;
        size_t at;
        uint8_t xorWith;
    };
    const Row rows[] = {
        {"trailer", em.size() - 1, 0x01},
        {"top bit", 0, 0x80},
        {"masked data", 10, 0x04},
        {"hash", em.size() - 5, 0x10},
    };
    for (const Row& row : rows) {
        Bytes bad = em;
        bad[row.at] ^= row.xorWith;
        EXPECT_EQ(SE_RSA_VerifyPKCS1PSS(bad.data(), k.k, k.bits, mHash.data(), 32, -1), -1) << row.what;
    }
    EXPECT_EQ(SE_RSA_VerifyPKCS1PSS(em.data(), k.k - 1, k.bits, mHash.data(), 32, 32), -1);
    EXPECT_EQ(SE_RSA_VerifyPKCS1PSS(em.data(), k.k, k.bits, mHash.data(), 33, 32), -1);
    // Hash and salt must fit the modulus.
    EXPECT_EQ(SE_RSA_AddPKCS1PSS(em.data(), 512, mHash.data(), 32, 31), -1);
    EXPECT_EQ(SE_RSA_AddPKCS1PSS(em.data(), 512, mHash.data(), 32, 30), 64);
}

}  // namespace
