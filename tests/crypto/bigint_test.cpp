// Big-integer layer: pool, permanence, normalisation and limits through the C interface, and
// arithmetic checked differentially against OpenSSL's BIGNUM on random values.
#include <gtest/gtest.h>
#include <openssl/bn.h>

#include <memory>
#include <random>
#include <vector>

#include "engine_checks.h"
#include "se_bigint.h"
#include "se_cpu.h"
#include "se_crypto_rsa.h"

namespace {

using BnPtr = std::unique_ptr<BIGNUM, decltype(&BN_free)>;
BnPtr newBn() { return BnPtr(BN_new(), BN_free); }

class BigInt : public ::testing::Test {
protected:
    void SetUp() override {
        // Deliberately misaligned: the layer must cope with any caller buffer.
        SE_BI_InitMem(pool_.data() + 1);
        ASSERT_EQ(SE_BI_Initialize(), 0);
    }
    void TearDown() override {
        SE_BI_Terminate();
        SE_BI_InitMem(nullptr);
    }

    static SE_BigInt* fromBn(const BIGNUM* b) {
        std::vector<uint8_t> bytes(static_cast<size_t>(BN_num_bytes(b)));
        BN_bn2bin(b, bytes.data());
        return SE_BI_Import(bytes.data(), static_cast<int32_t>(bytes.size()));
    }
    static BnPtr toBn(const SE_BigInt* v) {
        const int32_t n = SE_BI_Export(v, nullptr, 0);
        EXPECT_GE(n, 0);
        std::vector<uint8_t> bytes(static_cast<size_t>(n) + 1);
        EXPECT_EQ(SE_BI_Export(v, bytes.data(), n + 1), n + 1);
        BnPtr b = newBn();
        BN_bin2bn(bytes.data(), n + 1, b.get());
        return b;
    }
    static BnPtr randomBn(std::mt19937& rng, int maxBits) {
        BnPtr b = newBn();
        const int bits = std::uniform_int_distribution<int>(1, maxBits)(rng);
        BN_rand(b.get(), bits, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY);
        return b;
    }
    static void expectEqual(const SE_BigInt* ours, const BIGNUM* theirs, const char* what) {
        ASSERT_NE(ours, nullptr) << what;
        BnPtr b = toBn(ours);
        EXPECT_EQ(BN_cmp(b.get(), theirs), 0) << what << ": ours " << BN_bn2hex(b.get())
                                              << " theirs " << BN_bn2hex(theirs);
    }

    std::vector<uint8_t> pool_ = std::vector<uint8_t>(SE_BI_POOL_SIZE + 1);
};

TEST_F(BigInt, ArithmeticMatchesOpenSsl) {
    std::mt19937 rng(7);
    BN_CTX* ctx = BN_CTX_new();
    for (int i = 0; i < 300; ++i) {
        const int maxBits = i % 3 == 0 ? 96 : 4096;
        BnPtr a = randomBn(rng, maxBits), b = randomBn(rng, maxBits);
        if (BN_is_zero(b.get())) BN_one(b.get());
        SE_BigInt* x = fromBn(a.get());
        SE_BigInt* y = fromBn(b.get());
        BnPtr r = newBn(), q = newBn();

        BN_add(r.get(), a.get(), b.get());
        expectEqual(SE_BI_Add(x, y), r.get(), "add");
        BN_mul(r.get(), a.get(), b.get(), ctx);
        expectEqual(SE_BI_Multiply(x, y), r.get(), "multiply");
        const int cmp = BN_cmp(a.get(), b.get());
        EXPECT_EQ(SE_BI_Compare(x, y), cmp < 0 ? -1 : cmp > 0 ? 1 : 0);
        if (cmp >= 0) {
            BN_sub(r.get(), a.get(), b.get());
            expectEqual(SE_BI_subtract(x, y), r.get(), "subtract");
        } else {
            EXPECT_EQ(SE_BI_subtract(x, y), nullptr);
        }
        BN_div(q.get(), r.get(), a.get(), b.get(), ctx);
        SE_BigInt* rem = nullptr;
        expectEqual(SE_BI_Divide(x, y, &rem), q.get(), "quotient");
        expectEqual(rem, r.get(), "remainder");
        // Start each round from an empty pool, keeping the value 1.
        SE_BI_Terminate();
        ASSERT_EQ(SE_BI_Initialize(), 0);
    }
    BN_CTX_free(ctx);
}

TEST_F(BigInt, DivisionCornerCasesMatchOpenSsl) {
    // Quotient digits that need the estimate corrected: divisors with a full top digit and
    // dividends of repeated patterns.
    const char* rows[][2] = {
        {"FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF", "FFFFFFFF00000001"},
        {"800000000000000000000000000000000000000000000000", "800000000000000000000001"},
        {"7FFFFFFF800000010000000000000000", "800000008000000200000005"},
        {"1000000000000000000000000", "FFFFFFFFFFFFFFFF"},
        {"0", "5"},
        {"5", "1000000000000000000000"},
    };
    BN_CTX* ctx = BN_CTX_new();
    for (const auto& row : rows) {
        BIGNUM* a = nullptr;
        BIGNUM* b = nullptr;
        BN_hex2bn(&a, row[0]);
        BN_hex2bn(&b, row[1]);
        BnPtr q = newBn(), r = newBn();
        BN_div(q.get(), r.get(), a, b, ctx);
        SE_BigInt* rem = nullptr;
        expectEqual(SE_BI_Divide(fromBn(a), fromBn(b), &rem), q.get(), row[0]);
        expectEqual(rem, r.get(), row[1]);
        BN_free(a);
        BN_free(b);
    }
    BN_CTX_free(ctx);
}

// The Montgomery engine's products on each row function built for this CPU family (the
// library uses the fast one where the CPU runs it).
class MontEngine : public BigInt, public ::testing::WithParamInterface<veld::se::bn::RowEngine> {
protected:
    void SetUp() override {
        using namespace veld::se::bn;
        if (!rowEngineName(GetParam())) GTEST_SKIP() << "no fast row function in this build";
        if (!rowEngineRunnable(GetParam())) {
            GTEST_SKIP() << "row function " << rowEngineName(GetParam()) << " not run: this CPU "
                         << "lacks its instructions (has: " << veld::se::cpu::describe() << ")";
        }
        BigInt::SetUp();
        saved_ = rowEngine();
        setRowEngine(GetParam());
        ASSERT_EQ(rowEngine(), GetParam());
    }
    void TearDown() override {
        veld::se::bn::setRowEngine(saved_);
        BigInt::TearDown();
    }
    veld::se::bn::RowEngine saved_ = veld::se::bn::RowEngine::kPortable;
};

INSTANTIATE_TEST_SUITE_P(Rows, MontEngine,
                         ::testing::Values(veld::se::bn::RowEngine::kPortable,
                                           veld::se::bn::RowEngine::kFast),
                         [](const auto& info) {
                             return info.param == veld::se::bn::RowEngine::kFast ? "fast" : "portable";
                         });

TEST(MontEngineRows, FastRowMatchesThePortableRow) { EXPECT_EQ(enginecheck::montCheck(), ""); }

TEST_P(MontEngine, ModPowerMatchesOpenSsl) {
    std::mt19937 rng(11);
    BN_CTX* ctx = BN_CTX_new();
    for (int bits : {3, 17, 64, 65, 521, 1024, 2048, 4096}) {
        for (int i = 0; i < (bits >= 2048 ? 1 : 4); ++i) {
            BnPtr m = newBn(), base = randomBn(rng, bits + 40), e = randomBn(rng, bits), r = newBn();
            BN_rand(m.get(), bits, BN_RAND_TOP_ONE, BN_RAND_BOTTOM_ODD);
            BN_mod_exp(r.get(), base.get(), e.get(), m.get(), ctx);
            ASSERT_EQ(SE_BI_SetMod(3, fromBn(m.get())), 0) << bits;
            ASSERT_EQ(SE_BI_SetModOffset(3), 0);
            expectEqual(SE_BI_ModPower(fromBn(base.get()), fromBn(e.get())), r.get(), "modpower");
            SE_BI_Terminate();
            ASSERT_EQ(SE_BI_Initialize(), 0);
        }
    }
    BN_CTX_free(ctx);
}

TEST_F(BigInt, ModPowerEdgeRows) {
    const struct {
        uint32_t modulus, base, exponent, expected;
    } rows[] = {
        {101, 0, 0, 1}, {101, 5, 0, 1}, {101, 0, 7, 0}, {101, 101, 3, 0}, {101, 202 + 3, 1, 3},
        {101, 100, 2, 1}, {3, 2, 5, 2}, {0xFFFFFFFB, 0xFFFFFFFA, 0xFFFFFFFF, 0xFFFFFFFA},
    };
    for (const auto& row : rows) {
        ASSERT_EQ(SE_BI_SetMod(0, SE_BI_IntToBI(row.modulus)), 0);
        ASSERT_EQ(SE_BI_SetModOffset(0), 0);
        SE_BigInt* r = SE_BI_ModPower(SE_BI_IntToBI(row.base), SE_BI_IntToBI(row.exponent));
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(SE_BI_Compare(r, SE_BI_IntToBI(row.expected)), 0)
            << row.base << "^" << row.exponent << " mod " << row.modulus;
        SE_BI_Terminate();
        ASSERT_EQ(SE_BI_Initialize(), 0);
    }
}

TEST_P(MontEngine, CrtMatchesOpenSsl) {
    BN_CTX* ctx = BN_CTX_new();
    for (int bits : {256, 512}) {
        BnPtr p = newBn(), q = newBn(), n = newBn(), c = newBn(), d = newBn(), r = newBn();
        BnPtr dp = newBn(), dq = newBn(), qinv = newBn(), t = newBn();
        BN_generate_prime_ex(p.get(), bits, 0, nullptr, nullptr, nullptr);
        BN_generate_prime_ex(q.get(), bits, 0, nullptr, nullptr, nullptr);
        BN_mul(n.get(), p.get(), q.get(), ctx);
        BN_rand_range(c.get(), n.get());
        BN_rand(d.get(), 2 * bits, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY);
        BN_sub(t.get(), p.get(), BN_value_one());
        BN_mod(dp.get(), d.get(), t.get(), ctx);
        BN_sub(t.get(), q.get(), BN_value_one());
        BN_mod(dq.get(), d.get(), t.get(), ctx);
        BN_mod_inverse(qinv.get(), q.get(), p.get(), ctx);
        // c^d mod n equals the CRT result whenever c is coprime to n (certain here).
        BN_mod_exp(r.get(), c.get(), d.get(), n.get(), ctx);
        ASSERT_EQ(SE_BI_SetMod(1, fromBn(p.get())), 0);
        ASSERT_EQ(SE_BI_SetMod(2, fromBn(q.get())), 0);
        expectEqual(SE_BI_CRT(fromBn(c.get()), fromBn(dp.get()), fromBn(dq.get()), fromBn(qinv.get())),
                    r.get(), "crt");
        // An input at or above p*q is refused.
        EXPECT_EQ(SE_BI_CRT(fromBn(n.get()), fromBn(dp.get()), fromBn(dq.get()), fromBn(qinv.get())),
                  nullptr);
        SE_BI_Terminate();
        ASSERT_EQ(SE_BI_Initialize(), 0);
    }
    BN_CTX_free(ctx);
}

TEST_F(BigInt, ImportNormalisesAndExportPads) {
    const uint8_t bytes[] = {0, 0, 0, 0, 0, 1, 2, 3, 4, 5};
    SE_BigInt* v = SE_BI_Import(bytes, sizeof bytes);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(SE_BI_Export(v, nullptr, 0), 5);
    uint8_t out[8];
    ASSERT_EQ(SE_BI_Export(v, out, 8), 8);
    const uint8_t expected[8] = {0, 0, 0, 1, 2, 3, 4, 5};
    EXPECT_EQ(0, memcmp(out, expected, 8));
    EXPECT_EQ(SE_BI_Export(v, out, 4), -1);  // does not fit

    SE_BigInt* zero = SE_BI_Import(bytes, 4);
    ASSERT_NE(zero, nullptr);
    EXPECT_EQ(SE_BI_Export(zero, nullptr, 0), 0);
    EXPECT_EQ(SE_BI_Compare(zero, SE_BI_IntToBI(0)), 0);
    EXPECT_EQ(SE_BI_Compare(SE_BI_Import(nullptr, 0), zero), 0);

    const uint8_t wide[12] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 0, 1};
    SE_BigInt* copy = SE_BI_IntToBI(0);
    EXPECT_EQ(SE_BI_Copy(copy, SE_BI_Import(wide, 12)), -1);  // too little room
    SE_BigInt* room = SE_BI_Clone(v);
    ASSERT_EQ(SE_BI_Copy(room, SE_BI_IntToBI(9)), 0);
    EXPECT_EQ(SE_BI_Compare(room, SE_BI_IntToBI(9)), 0);
}

TEST_F(BigInt, PermanentValuesSurviveFreeButNotTerminate) {
    SE_BigInt* expected = SE_BI_IntToBI(1234);
    SE_BigInt* keep = SE_BI_IntToBI(1234);
    SE_BigInt* temp = SE_BI_IntToBI(99);
    SE_BI_Permanent(keep);
    SE_BI_Free(keep);
    SE_BI_Free(temp);
    EXPECT_EQ(SE_BI_Compare(temp, keep), -2);  // released values are no longer values
    EXPECT_EQ(SE_BI_Compare(keep, expected), 0);
    SE_BI_Depermanent(keep);
    SE_BI_Free(keep);
    EXPECT_EQ(SE_BI_Compare(keep, keep), -2);
    SE_BI_Free(nullptr);

    SE_BigInt* again = SE_BI_IntToBI(5);
    SE_BI_Permanent(again);
    SE_BI_Terminate();
    EXPECT_EQ(SE_BI_Compare(again, again), -2);
}

TEST_F(BigInt, ExhaustedPoolFailsAndFreedRoomIsReused) {
    std::vector<uint8_t> big(512, 0xA5);
    std::vector<SE_BigInt*> values;
    for (;;) {
        SE_BigInt* v = SE_BI_Import(big.data(), static_cast<int32_t>(big.size()));
        if (!v) break;
        values.push_back(v);
        ASSERT_LT(values.size(), 100u);
    }
    EXPECT_GT(values.size(), 50u);
    EXPECT_EQ(SE_BI_Add(values[0], values[1]), nullptr);
    SE_BI_Free(values[3]);
    SE_BI_Free(values[4]);
    SE_BigInt* sum = SE_BI_Add(values[0], values[1]);
    ASSERT_NE(sum, nullptr);
    EXPECT_EQ(SE_BI_Compare(values[2], values[0]), 0);  // neighbours untouched
}

TEST_F(BigInt, HostileArgumentsAreRefused) {
    std::vector<uint8_t> huge(1100, 0xFF);
    EXPECT_EQ(SE_BI_Import(huge.data(), static_cast<int32_t>(huge.size())), nullptr);
    EXPECT_EQ(SE_BI_Import(huge.data(), -1), nullptr);
    // The largest accepted value squared does not fit a value.
    SE_BigInt* wide = SE_BI_Import(huge.data(), 1032);
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(SE_BI_Multiply(wide, wide), nullptr);

    SE_BigInt* zero = SE_BI_IntToBI(0);
    SE_BigInt* rem = reinterpret_cast<SE_BigInt*>(&huge);
    EXPECT_EQ(SE_BI_Divide(SE_BI_IntToBI(7), zero, &rem), nullptr);
    EXPECT_EQ(rem, nullptr);

    EXPECT_EQ(SE_BI_SetMod(0, SE_BI_IntToBI(10)), -1);  // even
    EXPECT_EQ(SE_BI_SetMod(0, SE_BI_IntToBI(1)), -1);
    EXPECT_EQ(SE_BI_SetMod(4, SE_BI_IntToBI(11)), -1);  // no such slot
    std::vector<uint8_t> m4097(513, 0xFF);
    m4097[0] = 1;
    EXPECT_EQ(SE_BI_SetMod(0, SE_BI_Import(m4097.data(), 513)), -1);
    EXPECT_EQ(SE_BI_SetModOffset(3), -1);  // empty slot
    EXPECT_EQ(SE_BI_ModPower(SE_BI_IntToBI(2), SE_BI_IntToBI(3)), nullptr);

    // Pointers that are not values of the pool.
    SE_BigInt* stray = reinterpret_cast<SE_BigInt*>(huge.data());
    EXPECT_EQ(SE_BI_Compare(stray, zero), -2);
    EXPECT_EQ(SE_BI_Add(stray, zero), nullptr);
    EXPECT_EQ(SE_BI_Export(stray, nullptr, 0), -1);
    // Nor is a pointer into the digits of a value, even one that looks like a header.
    const uint8_t fake[16] = {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 2, 0, 1};
    SE_BigInt* holder = SE_BI_Import(fake, sizeof fake);
    ASSERT_NE(holder, nullptr);
    SE_BigInt* inside = reinterpret_cast<SE_BigInt*>(reinterpret_cast<uint8_t*>(holder) + 8);
    EXPECT_EQ(SE_BI_Compare(inside, holder), -2);
}

TEST(BigIntNoPool, EverythingFailsWithoutAPool) {
    SE_BI_InitMem(nullptr);
    EXPECT_EQ(SE_BI_Initialize(), -1);
    EXPECT_EQ(SE_BI_IntToBI(1), nullptr);
    SE_BI_Terminate();
}

}  // namespace
