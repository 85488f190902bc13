// Every AES engine built for this CPU family against the table engine (the reference) and the
// FIPS-197 vectors, on each bulk operation, with and without aliasing, across the group sizes
// and counter carries of the wide engines; and the run-time choice of the engine.
//
// An engine whose instructions the CPU lacks is reported as skipped, with the CPU's features.
// The same tests run again under qemu-x86_64 -cpu max (crypto_engines_x86_emulated), which
// emulates AES-NI, SSSE3 and AVX2 but gets VAES wrong and has no SHA-NI or GFNI, and under
// -cpu qemu64 (crypto_engines_x86_baseline), which has no SSSE3; the ARM engines run under
// qemu-arm/qemu-aarch64 (crypto_engines_armhf, crypto_engines_aarch64).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "se_aes.h"
#include "se_cpu.h"
#include "engine_checks.h"

namespace {

using namespace veld::se::aes;

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
                         << "instructions (has: " << veld::se::cpu::describe() << ")";
        }
    }
    const Engine* e_ = nullptr;
};

TEST_P(AesEngine, Fips197Vectors) { EXPECT_EQ(enginecheck::aesVectors(*e_), ""); }

TEST_P(AesEngine, EveryOperationMatchesTheTableEngine) {
    EXPECT_EQ(enginecheck::aesAgainst(*e_, portableEngine()), "");
}

INSTANTIATE_TEST_SUITE_P(Built, AesEngine, ::testing::ValuesIn(engineNames()),
                         [](const auto& info) { return info.param; });

TEST(AesEngineChoice, LibraryUsesAConstantTimeEngineTheCpuRuns) {
    const Engine& e = engine();
    EXPECT_TRUE(runnable(e)) << e.name;
    EXPECT_FALSE(portableEngine().constantTime);
    // The table engine is listed, so that it can be named, and only then chosen.
    EXPECT_STREQ(engines().items[engines().count - 1]->name, "table");
    if (veld::se::cpu::aesEngineOverride()) return;  // whatever was asked for
    EXPECT_TRUE(e.constantTime) << e.name;
    if (veld::se::cpu::forcePortable()) {
        EXPECT_STREQ(e.name, "bitsliced");
        return;
    }
    for (const Engine* c : engines()) {
        if (c->constantTime && runnable(*c)) {
            EXPECT_EQ(&e, c) << "chosen " << e.name << ", first runnable " << c->name;
            break;
        }
    }
}

}  // namespace
