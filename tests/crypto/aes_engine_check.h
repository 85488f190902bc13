// Test helper: one AES engine against another on every bulk operation, both key sizes, runs
// that fill the engines' parallel lanes and leave a tail, and a counter that carries inside
// the run.
#pragma once

#include <gtest/gtest.h>

#include <random>

#include "se_aes.h"
#include "sym_test_util.h"

namespace symtest {

inline void expectSameEngine(const veld::se::aes::Engine& reference,
                             const veld::se::aes::Engine& tested) {
    using namespace veld::se::aes;
    SCOPED_TRACE(tested.name);
    std::mt19937 rng(5);
    for (size_t keyBytes : {16u, 32u}) {
        Schedule ks;
        const Bytes key = randomBytes(rng, keyBytes);
        expandKey(ks, key.data(), keyBytes);
        for (size_t blocks : {1u, 3u, 8u, 9u, 33u}) {
            SCOPED_TRACE(blocks);
            const Bytes data = randomBytes(rng, blocks * 16);
            Bytes iv1 = randomBytes(rng, 16);
            iv1[15] = 0xfe;  // make the counter carry inside the run
            Bytes iv2 = iv1;
            Bytes a(data.size()), b(data.size());
            reference.encryptEcb(ks, a.data(), data.data(), blocks);
            tested.encryptEcb(ks, b.data(), data.data(), blocks);
            EXPECT_EQ(a, b);
            reference.decryptEcb(ks, a.data(), data.data(), blocks);
            tested.decryptEcb(ks, b.data(), data.data(), blocks);
            EXPECT_EQ(a, b);
            reference.encryptCbc(ks, iv1.data(), a.data(), data.data(), blocks);
            tested.encryptCbc(ks, iv2.data(), b.data(), data.data(), blocks);
            EXPECT_EQ(a, b);
            EXPECT_EQ(iv1, iv2);
            reference.decryptCbc(ks, iv1.data(), a.data(), data.data(), blocks);
            tested.decryptCbc(ks, iv2.data(), b.data(), data.data(), blocks);
            EXPECT_EQ(a, b);
            reference.ctr(ks, iv1.data(), a.data(), data.data(), blocks);
            tested.ctr(ks, iv2.data(), b.data(), data.data(), blocks);
            EXPECT_EQ(a, b);
            EXPECT_EQ(iv1, iv2);
        }
    }
}

}  // namespace symtest
