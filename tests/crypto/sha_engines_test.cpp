// Every SHA-1/SHA-256 block engine built for this CPU family against the portable block
// functions and the FIPS 180 "abc" vectors. An engine the CPU cannot run is reported as
// skipped with the missing features named (qemu 7.2 does not emulate SHA-NI, so on a CPU
// without it that engine stays unrun and says so).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "se_cpu.h"
#include "se_sha.h"
#include "engine_checks.h"

namespace {

using namespace veld::se::sha;

std::vector<std::string> engineNames() {
    std::vector<std::string> names;
    for (const BlockEngine* e : blockEngines()) names.emplace_back(e->name);
    return names;
}

class ShaEngine : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        for (const BlockEngine* e : blockEngines()) {
            if (GetParam() == e->name) e_ = e;
        }
        ASSERT_NE(e_, nullptr);
        if (!runnable(*e_)) {
            GTEST_SKIP() << "engine " << e_->name << " not run: this CPU lacks some of its "
                         << "instructions (has: " << veld::se::cpu::describe() << ")";
        }
    }
    const BlockEngine* e_ = nullptr;
};

TEST_P(ShaEngine, VectorsAndThePortableFunctions) { EXPECT_EQ(enginecheck::shaCheck(*e_), ""); }

INSTANTIATE_TEST_SUITE_P(Built, ShaEngine, ::testing::ValuesIn(engineNames()),
                         [](const auto& info) { return info.param; });

TEST(ShaEngineChoice, LibraryUsesTheFirstEngineTheCpuRuns) {
    const BlockEngine& chosen = blockEngine();
    EXPECT_TRUE(runnable(chosen));
    if (veld::se::cpu::forcePortable()) {
        EXPECT_EQ(&chosen, &portableBlockEngine());
        return;
    }
    for (const BlockEngine* e : blockEngines()) {
        if (runnable(*e)) {
            EXPECT_EQ(&chosen, e);
            break;
        }
    }
}

}  // namespace
