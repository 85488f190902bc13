// The engine's cross-process lock: exclusive between processes, taken over from a holder that
// was killed, recursive for its owner thread, refused to a thread that does not hold it.
#include <gtest/gtest.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "captured_log.h"
#include "se_core.h"
#include "se_engine.h"
#include "test_root.h"
#include "tw_fixture.h"
#include "veldcore_host.h"

namespace {

using namespace veld::test;

class Lock : public testing::Test {
protected:
    void SetUp() override {
        VELD_HOST_SetLogSink(CapturedLog::sink, nullptr);
        CapturedLog::clear();
        ASSERT_EQ(veld::se::lockInit(), 0);
    }
    void TearDown() override {
        VELD_SE_Shutdown();
        VELD_HOST_SetLogSink(nullptr, nullptr);
    }
    int semaphoreValue() {
        int value = -1;
        sem_getvalue(veld::se::processRecord().pLockSema, &value);
        return value;
    }
    TestRoot root_;
};

TEST_F(Lock, TwoProcessesIncrementingUnderTheLockLoseNoCount) {
    constexpr int kRounds = 100000;
    auto* counter = static_cast<volatile uint64_t*>(
        mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(counter, MAP_FAILED);
    *counter = 0;
    auto work = [&] {
        for (int i = 0; i < kRounds; ++i) {
            if (VELD_SE_L000() != 0) return 1;
            const uint64_t v = *counter;  // non-atomic on purpose
            *counter = v + 1;
            if (VELD_SE_L001() != 0) return 2;
        }
        return 0;
    };
    const pid_t a = forkChild(work), b = forkChild(work);
    EXPECT_EQ(waitChild(a), 0);
    EXPECT_EQ(waitChild(b), 0);
    EXPECT_EQ(*counter, 2u * kRounds);
    EXPECT_EQ(semaphoreValue(), 1);
    munmap(const_cast<uint64_t*>(counter), 4096);
}

TEST_F(Lock, AHolderKilledWithTheLockIsTakenOverWithinTwoSeconds) {
    const pid_t holder = forkLockHolder(false);
    ASSERT_GT(holder, 0);
    kill(holder, SIGKILL);
    EXPECT_EQ(waitChild(holder), 128 + SIGKILL);

    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(VELD_SE_L000(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_TRUE(CapturedLog::contains("close before unlock(" + std::to_string(holder) +
                                      ") - forced unlock"));
    EXPECT_EQ(semaphoreValue(), 0);
    ASSERT_EQ(VELD_SE_L001(), 0);
    EXPECT_EQ(semaphoreValue(), 1);
}

TEST_F(Lock, RecursiveOwnerPassesNestedLocksAndPostsOnceAtTheEnd) {
    ASSERT_EQ(veld::se::seLockRecursive(), 0);
    ASSERT_EQ(veld::se::seLockRecursive(), 0);  // nested recursive form keeps a depth
    EXPECT_EQ(veld::se::seLock(), 0);
    EXPECT_EQ(veld::se::seUnlock(), 0);
    EXPECT_EQ(semaphoreValue(), 0);
    EXPECT_EQ(veld::se::seUnlockRecursive(), 0);
    EXPECT_EQ(semaphoreValue(), 0) << "the outer recursive hold still stands";
    EXPECT_EQ(veld::se::seUnlockRecursive(), 0);
    EXPECT_EQ(semaphoreValue(), 1);
    EXPECT_EQ(veld::se::seUnlockRecursive(), -1) << "not the recursive owner any more";
}

TEST_F(Lock, OnlyTheHoldingThreadMayUnlock) {
    ASSERT_EQ(VELD_SE_L000(), 0);
    int other = 0;
    std::thread([&] { other = VELD_SE_L001(); }).join();
    EXPECT_EQ(other, -1);
    EXPECT_TRUE(CapturedLog::contains("unlock refused"));
    EXPECT_EQ(semaphoreValue(), 0);
    EXPECT_EQ(VELD_SE_L000(), -1) << "a second lock by the holder would wait for itself";
    EXPECT_EQ(VELD_SE_L001(), 0);
    EXPECT_EQ(VELD_SE_L001(), -1) << "a second unlock would be a double post";
    EXPECT_EQ(semaphoreValue(), 1);
}

}  // namespace
