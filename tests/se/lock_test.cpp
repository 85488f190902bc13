// The engine's cross-process lock: exclusive between processes, taken over from a holder that
// was killed, recursive for its owner thread, refused to a thread that does not hold it; its
// holder record names the process and thread that hold it (a forked child too), its trace
// lines follow the log level, and a shutdown waits for another thread's group of calls.
#include <gtest/gtest.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <sys/syscall.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "captured_log.h"
#include "se_core.h"
#include "se_engine.h"
#include "se_log.h"
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

TEST_F(Lock, TraceLinesFollowTheLevelAndNameTheHolder) {
    const std::string pid = std::to_string(getpid());
    ASSERT_EQ(VELD_SE_L000(), 0);
    ASSERT_EQ(VELD_SE_L001(), 0);
    EXPECT_FALSE(CapturedLog::contains("SE_LOCK <BEGIN>")) << "tracing is off by default";

    ASSERT_EQ(VELD_LOGM_BitMaskEnable(veld::se::logHandle(), veld::se::kTraceLevel), 0);
    ASSERT_EQ(VELD_SE_L000(), 0);
    ASSERT_EQ(VELD_SE_L001(), 0);
    VELD_LOGM_BitMaskDisable(veld::se::logHandle(), veld::se::kTraceLevel);
    EXPECT_TRUE(CapturedLog::contains("SE_LOCK <BEGIN> pid=" + pid));
    EXPECT_TRUE(CapturedLog::contains("SE_UNLOCK <END> pid=" + pid + " (" + pid + ")"));

    CapturedLog::clear();
    ASSERT_EQ(VELD_SE_L000(), 0);
    ASSERT_EQ(VELD_SE_L001(), 0);
    EXPECT_FALSE(CapturedLog::contains("SE_LOCK <BEGIN>")) << "switched off again";
}

TEST_F(Lock, AForkedChildRecordsItselfAsTheHolder) {
    // The parent has asked for its ids before the fork; the child must not reuse them.
    ASSERT_EQ(VELD_SE_L000(), 0);
    ASSERT_EQ(VELD_SE_L001(), 0);
    const veld::se::SharedRecord& s = *veld::se::processRecord().pSharedInfo;
    const pid_t child = forkChild([&] {
        if (VELD_SE_L000() != 0) return 1;
        const bool recorded = s.lockPid == getpid() &&
                              s.bk.holderTid == static_cast<uint32_t>(::syscall(SYS_gettid));
        if (VELD_SE_L001() != 0) return 2;
        return recorded && s.lockPid == -1 ? 0 : 3;
    });
    EXPECT_EQ(waitChild(child), 0);
    EXPECT_EQ(semaphoreValue(), 1);
}

TEST_F(Lock, AShutdownWaitsForAnotherThreadsGroupOfCalls) {
    std::atomic<int> step{0};
    std::thread group([&] {
        ASSERT_EQ(VELD_SE_L000(), 0);
        step = 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        step = 2;
        EXPECT_EQ(VELD_SE_L001(), 0);
    });
    while (step.load() == 0) std::this_thread::yield();
    VELD_SE_Shutdown();
    EXPECT_EQ(step.load(), 2) << "the shutdown unmapped the lock under a running group";
    group.join();

    // A shutdown by the holder itself ends its group, and leaves no wait behind for the next.
    ASSERT_EQ(VELD_SE_L000(), 0);
    VELD_SE_Shutdown();
    std::thread([] { VELD_SE_Shutdown(); }).join();
    ASSERT_EQ(veld::se::lockInit(), 0);
    EXPECT_EQ(semaphoreValue(), 1);
}

}  // namespace
