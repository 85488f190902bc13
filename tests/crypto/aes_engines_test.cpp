// Every AES engine built for this CPU family against the table engine (the reference) and the
// FIPS-197 vectors, on each bulk operation, with and without aliasing, across the group sizes
// and counter carries of the wide engines; and the run-time choice of the engine.
//
// An engine whose instructions the CPU lacks is reported as skipped with the missing features
// named; the same tests run again under qemu-x86_64 -cpu max (crypto_engines_emulated), which
// emulates AES-NI and VAES, and under -cpu qemu64, which has no SSSE3 at all.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "se_aes.h"
#include "se_cpu.h"
#include "sym_test_util.h"

namespace {

using namespace veld::se::aes;
using symtest::Bytes;
using symtest::hex;

std::vector<std::string> engineNames() {
    std::vector<std::string> names;
    for (const Engine* e : engines()) names.emplace_back(e->name);
    return names;
}

class AesEngine : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        e_ = engineNamed(GetParam().c_str());
        ASSERT_NE(e_, nullptr);
        if (!runnable(*e_)) {
            GTEST_SKIP() << "engine " << e_->name << " not run: this CPU lacks some of its "
                         << "instructions (has: " << veld::se::cpu::describe()
                         << "); the emulated run covers it";
        }
    }
    const Engine* e_ = nullptr;
};

TEST_P(AesEngine, Fips197Vectors) {
    struct Row {
        const char* key;
        const char* cipher;
    } rows[] = {{"000102030405060708090a0b0c0d0e0f", "69c4e0d86a7b0430d8cdb78070b4c55a"},
                {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
                 "8ea2b7ca516745bfeafc49904b496089"}};
    const Bytes plain = hex("00112233445566778899aabbccddeeff");
    for (const Row& r : rows) {
        const Bytes key = hex(r.key);
        Schedule ks;
        expandKey(ks, key.data(), key.size());
        // Nine copies reach every group path of the wide engines (8 + 1) once.
        Bytes in, expected;
        for (int i = 0; i < 17; ++i) {
            in.insert(in.end(), plain.begin(), plain.end());
            const Bytes c = hex(r.cipher);
            expected.insert(expected.end(), c.begin(), c.end());
        }
        Bytes out(in.size());
        e_->encryptEcb(ks, out.data(), in.data(), 17);
        EXPECT_EQ(out, expected);
        e_->decryptEcb(ks, out.data(), out.data(), 17);
        EXPECT_EQ(out, in);
    }
}

TEST_P(AesEngine, EveryOperationMatchesTheTableEngine) {
    const Engine& ref = portableEngine();
    std::mt19937 rng(11);
    for (size_t keyBytes : {16u, 32u}) {
        Schedule ks;
        const Bytes key = symtest::randomBytes(rng, keyBytes);
        expandKey(ks, key.data(), keyBytes);
        for (size_t blocks : {0u, 1u, 2u, 3u, 4u, 5u, 7u, 8u, 9u, 12u, 15u, 16u, 17u, 24u, 31u, 33u, 100u}) {
            for (bool inPlace : {false, true}) {
                SCOPED_TRACE(testing::Message() << keyBytes << "-byte key, " << blocks
                                                << " blocks" << (inPlace ? ", in place" : ""));
                const Bytes data = symtest::randomBytes(rng, blocks * 16);
                Bytes iv = symtest::randomBytes(rng, 16);
                // A low counter half close to its end: the carry into the high half falls
                // inside the run.
                for (int i = 8; i < 16; ++i) iv[i] = 0xff;
                iv[15] = static_cast<uint8_t>(0xff - blocks / 2);
                auto check = [&](auto op) {
                    Bytes a(data.size()), b = data, ivA = iv, ivB = iv;
                    op(ref, ivA.data(), a.data(), data.data());
                    op(*e_, ivB.data(), b.data(), inPlace ? b.data() : data.data());
                    EXPECT_EQ(a, b);
                    EXPECT_EQ(ivA, ivB);
                };
                check([&](const Engine& e, uint8_t*, uint8_t* o, const uint8_t* i) { e.encryptEcb(ks, o, i, blocks); });
                check([&](const Engine& e, uint8_t*, uint8_t* o, const uint8_t* i) { e.decryptEcb(ks, o, i, blocks); });
                check([&](const Engine& e, uint8_t* v, uint8_t* o, const uint8_t* i) { e.encryptCbc(ks, v, o, i, blocks); });
                check([&](const Engine& e, uint8_t* v, uint8_t* o, const uint8_t* i) { e.decryptCbc(ks, v, o, i, blocks); });
                check([&](const Engine& e, uint8_t* v, uint8_t* o, const uint8_t* i) { e.ctr(ks, v, o, i, blocks); });
            }
        }
    }
}

TEST_P(AesEngine, CounterOfAllOnesWrapsToZero) {
    Schedule ks;
    const Bytes key = hex("2b7e151628aed2a6abf7158809cf4f3c");
    expandKey(ks, key.data(), 16);
    const Bytes zeros(40 * 16, 0);
    Bytes a(zeros.size()), b(zeros.size());
    Bytes ivA(16, 0xff), ivB(16, 0xff);
    ivA[15] = ivB[15] = 0xf0;
    portableEngine().ctr(ks, ivA.data(), a.data(), zeros.data(), 40);
    e_->ctr(ks, ivB.data(), b.data(), zeros.data(), 40);
    EXPECT_EQ(a, b);
    EXPECT_EQ(ivA, ivB);
    EXPECT_EQ(ivB, hex("00000000000000000000000000000018"));
}

INSTANTIATE_TEST_SUITE_P(Built, AesEngine, ::testing::ValuesIn(engineNames()),
                         [](const auto& info) { return info.param; });

TEST(AesEngineChoice, LibraryUsesAConstantTimeEngineTheCpuRuns) {
    const Engine& e = engine();
    EXPECT_TRUE(e.constantTime) << e.name;
    EXPECT_TRUE(runnable(e)) << e.name;
    EXPECT_FALSE(portableEngine().constantTime);
    // The table engine is listed (so it can be named) but is the last resort of nothing.
    EXPECT_STREQ(engines().items[engines().count - 1]->name, "table");
    if (veld::se::cpu::forcePortable()) {
        EXPECT_STREQ(e.name, "bitsliced");
    } else if (const Engine* first = [] {
                   for (const Engine* c : engines()) {
                       if (c->constantTime && runnable(*c)) return c;
                   }
                   return static_cast<const Engine*>(nullptr);
               }();
               first && !veld::se::cpu::aesEngineOverride()) {
        EXPECT_EQ(&e, first);
    }
}

}  // namespace
