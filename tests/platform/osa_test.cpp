// Threads, named memory, semaphores, clocks and the simulated board.
#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>

#include "test_root.h"
#include "veldcore.h"
#include "veldcore_host.h"

namespace {

std::atomic<bool> gRelease{false};

void* waitForRelease(void* argument) {
    while (!gRelease) VELD_OSA_SleepMsec(1);
    return argument;
}

bool threadNamed(const std::string& name) {
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string text;
        std::getline(comm, text);
        if (text == name) return true;
    }
    return false;
}

TEST(Osa, ThreadsCarryTheirNameAndJoinWithTheirResult) {
    gRelease = false;
    int token = 0;
    const VELD_THREAD t =
        VELD_OSA_CreateThread("reg_tool_task_with_long_name", waitForRelease, &token, 32768, 2, 0);
    ASSERT_NE(t, 0u);
    EXPECT_TRUE(threadNamed("reg_tool_task_w")) << "names are cut to what the system shows";
    gRelease = true;
    void* result = nullptr;
    EXPECT_EQ(VELD_OSA_JoinThread(t, &result), 0);
    EXPECT_EQ(result, &token);
    EXPECT_EQ(VELD_OSA_CreateThread("x", nullptr, nullptr, 0, 2, 0), 0u);
}

std::atomic<int> gEnded{0};

void* detachAndEnd(void*) {
    pthread_detach(pthread_self());
    ++gEnded;
    return nullptr;
}

size_t mappings() {
    std::ifstream maps("/proc/self/maps");
    size_t n = 0;
    for (std::string line; std::getline(maps, line);) ++n;
    return n;
}

TEST(Osa, ThreadsThatDetachThemselvesAreReleasedWhenTheyEnd) {
    // Each ends at once, often before its creator is back: the library must not touch the
    // handle after creation, and nothing of an ended thread may stay behind.
    auto run = [](int count) {
        gEnded = 0;
        for (int i = 0; i < count; ++i)
            ASSERT_NE(VELD_OSA_CreateThread("detached", detachAndEnd, nullptr, 32768, 2, 0), 0u);
        ASSERT_TRUE(veld::test::eventually([&] { return gEnded == count && !threadNamed("detached"); }));
    };
    run(20);
    const size_t before = mappings();
    run(200);
    EXPECT_LE(mappings(), before + 16) << "from " << before;
}

TEST(Osa, NamedMemoryIsSharedByName) {
    veld::test::TestRoot root;
    const VELD_HANDLE a = VELD_OSA_OpenMemory("/osa-test", 4096);
    const VELD_HANDLE b = VELD_OSA_OpenMemory("/osa-test", 4096);
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    auto* pa = static_cast<uint32_t*>(VELD_OSA_GetMemory(a));
    auto* pb = static_cast<uint32_t*>(VELD_OSA_GetMemory(b));
    ASSERT_NE(pa, pb);
    EXPECT_EQ(pa[10], 0u) << "new regions are zero-filled";
    pa[10] = 0xC0FFEE;
    EXPECT_EQ(pb[10], 0xC0FFEEu);
    EXPECT_EQ(VELD_OSA_CloseMemory(a), 0);
    EXPECT_EQ(VELD_OSA_CloseMemory(b), 0);
    EXPECT_EQ(VELD_HOST_UnlinkMemory("/osa-test"), 0);
    EXPECT_EQ(VELD_OSA_OpenMemory("/osa-test", 0), 0u);
    EXPECT_EQ(VELD_OSA_GetMemory(0), nullptr);
}

TEST(Osa, SemaphoreIsAMutexWithTimeout) {
    veld::test::TestRoot root;
    const VELD_HANDLE s = VELD_OSA_OpenSema("osa-sema", 17, 1);
    ASSERT_NE(s, 0u);
    EXPECT_EQ(VELD_OSA_LockSema(s, -1), 0);
    const uint32_t start = VELD_OSA_ReadMsTicks();
    EXPECT_NE(VELD_OSA_LockSema(s, 50), 0) << "held: the second lock times out";
    EXPECT_GE(VELD_OSA_ReadMsTicks() - start, 45u);
    EXPECT_EQ(VELD_OSA_UnlockSema(s), 0);
    EXPECT_EQ(VELD_OSA_LockSema(s, 0), 0);
    EXPECT_EQ(VELD_OSA_UnlockSema(s), 0);
    EXPECT_EQ(VELD_HOST_UnlinkSema("osa-sema"), 0);
}

TEST(Osa, ClocksAreMonotonicAndSleepWaits) {
    const uint64_t ns = VELD_OSA_ReadNsTicks();
    const uint32_t ms = VELD_OSA_ReadMsTicks();
    EXPECT_EQ(VELD_OSA_SleepMsec(20), 0);
    EXPECT_GE(VELD_OSA_ReadNsTicks() - ns, 20000000u);
    EXPECT_GE(VELD_OSA_ReadMsTicks() - ms, 19u);
}

TEST(Board, RegistersAndLowPowerAreSharedState) {
    veld::test::TestRoot root;
    uint32_t value = 1;
    EXPECT_EQ(VELD_SYS_RegReadSimple(0x1234, &value), 0);
    EXPECT_EQ(value, 0u) << "never written reads 0";
    EXPECT_EQ(VELD_SYS_RegWriteSimple(0x1234, 0xDEADBEEF), 0);
    EXPECT_EQ(VELD_SYS_RegWriteSimple(0x1234, 0xFEEDF00D), 0);
    EXPECT_EQ(VELD_SYS_RegReadSimple(0x1234, &value), 0);
    EXPECT_EQ(value, 0xFEEDF00Du);
    EXPECT_EQ(VELD_SYS_EnterLowPowerMode(), 0);
    VELD_BOARD_STATE state{};
    VELD_BOARD_REGISTER regs[4];
    ASSERT_EQ(VELD_HOST_BoardSnapshot(&state, regs, 4), 0);
    EXPECT_EQ(state.lowPower, 1u);
    EXPECT_EQ(state.registerCount, 1u);
    EXPECT_EQ(regs[0].address, 0x1234u);
    EXPECT_EQ(VELD_SYS_ExitLowPowerMode(), 0);
    ASSERT_EQ(VELD_HOST_BoardSnapshot(&state, nullptr, 0), 0);
    EXPECT_EQ(state.lowPower, 0u);
    EXPECT_EQ(state.lowPowerEnters, 1u);
    EXPECT_EQ(state.lowPowerExits, 1u);
}

TEST(Board, ChipComesFromVeldChip) {
    setenv("VELD_CHIP", "36", 1);
    EXPECT_EQ(qz_chip(), 36);
    unsetenv("VELD_CHIP");
    EXPECT_EQ(qz_chip(), 0);
}

}  // namespace
