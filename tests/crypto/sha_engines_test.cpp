// Every SHA-1/SHA-256 block engine built for this CPU family against the portable block
// functions and the FIPS 180 "abc" vectors. An engine the CPU cannot run is reported as
// skipped with the missing features named (qemu 7.2 does not emulate SHA-NI, so on a CPU
// without it that engine stays unrun and says so).
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "se_cpu.h"
#include "se_sha.h"
#include "sym_test_util.h"

namespace {

using namespace veld::se::sha;
using symtest::Bytes;

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

// "abc" padded to one block.
Bytes abcBlock() {
    Bytes b(64, 0);
    b[0] = 'a';
    b[1] = 'b';
    b[2] = 'c';
    b[3] = 0x80;
    b[63] = 24;
    return b;
}

TEST_P(ShaEngine, AbcVectors) {
    const Bytes block = abcBlock();
    std::array<uint32_t, 5> h1 = kSha1Iv;
    e_->sha1(h1.data(), block.data(), 1);
    EXPECT_EQ(h1, (std::array<uint32_t, 5>{0xa9993e36, 0x4706816a, 0xba3e2571, 0x7850c26c, 0x9cd0d89d}));
    std::array<uint32_t, 8> h2 = kSha256Iv;
    e_->sha256(h2.data(), block.data(), 1);
    EXPECT_EQ(h2, (std::array<uint32_t, 8>{0xba7816bf, 0x8f01cfea, 0x414140de, 0x5dae2223,
                                           0xb00361a3, 0x96177a9c, 0xb410ff61, 0xf20015ad}));
}

TEST_P(ShaEngine, BlocksMatchThePortableFunctions) {
    std::mt19937 rng(21);
    for (size_t blocks : {0u, 1u, 2u, 3u, 7u, 64u}) {
        SCOPED_TRACE(blocks);
        const Bytes data = symtest::randomBytes(rng, 64 * blocks);
        std::array<uint32_t, 5> a1, b1;
        std::array<uint32_t, 8> a2, b2;
        for (auto& w : a1) w = static_cast<uint32_t>(rng());
        for (auto& w : a2) w = static_cast<uint32_t>(rng());
        b1 = a1;
        b2 = a2;
        sha1BlocksPortable(a1.data(), data.data(), blocks);
        e_->sha1(b1.data(), data.data(), blocks);
        EXPECT_EQ(a1, b1);
        sha256BlocksPortable(a2.data(), data.data(), blocks);
        e_->sha256(b2.data(), data.data(), blocks);
        EXPECT_EQ(a2, b2);
    }
}

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
