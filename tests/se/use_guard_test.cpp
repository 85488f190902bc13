// The guard between the engine's calls and VELD_SE_Shutdown: a shutdown waits for calls of
// other threads that are inside, a call that starts during a shutdown waits for its end, a
// thread may enter again while inside, and a forked child is not held up by the parent's other
// threads.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <shared_mutex>
#include <thread>

#include "se_use_guard.h"

namespace {

using veld::se::UseGuard;
using namespace std::chrono_literals;

TEST(UseGuard, ShutdownAndCallsExcludeEachOther) {
    UseGuard guard;
    std::atomic<int> phase{0};
    std::atomic<bool> shutdownDone{false};
    std::thread call([&] {
        std::shared_lock use(guard);
        {
            std::shared_lock again(guard);  // nested entry never waits
        }
        phase = 1;
        std::this_thread::sleep_for(100ms);
        EXPECT_FALSE(shutdownDone.load()) << "the shutdown ran while a call was inside";
    });
    while (phase.load() == 0) std::this_thread::yield();
    std::thread shutdown([&] {
        std::unique_lock closing(guard);
        shutdownDone = true;
        std::this_thread::sleep_for(100ms);
        shutdownDone = false;
    });
    call.join();
    while (!shutdownDone.load()) std::this_thread::yield();
    // A call that starts now waits for the shutdown to end.
    std::shared_lock use(guard);
    EXPECT_FALSE(shutdownDone.load()) << "a call entered during the shutdown";
    use.unlock();
    shutdown.join();
}

TEST(UseGuard, ManyThreadsAgainstRepeatedShutdowns) {
    UseGuard guard;
    std::atomic<int> inside{0};
    std::atomic<bool> stop{false}, overlap{false};
    std::vector<std::thread> calls;
    for (int t = 0; t < 4; ++t)
        calls.emplace_back([&] {
            while (!stop.load()) {
                std::shared_lock use(guard);
                inside.fetch_add(1);
                inside.fetch_sub(1);
            }
        });
    for (int i = 0; i < 200; ++i) {
        std::unique_lock closing(guard);
        if (inside.load() != 0) overlap = true;
    }
    stop = true;
    for (auto& c : calls) c.join();
    EXPECT_FALSE(overlap.load());
}

TEST(UseGuard, AForkedChildIsNotHeldByTheParentsOtherThreads) {
    UseGuard guard;
    std::atomic<bool> entered{false}, release{false};
    std::thread call([&] {
        std::shared_lock use(guard);
        entered = true;
        while (!release.load()) std::this_thread::sleep_for(1ms);
    });
    while (!entered.load()) std::this_thread::yield();
    const pid_t child = fork();
    if (child == 0) {
        guard.lock();  // the thread inside does not exist here
        guard.unlock();
        _exit(0);
    }
    int status = -1;
    for (int i = 0; i < 500 && waitpid(child, &status, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(10ms);
    if (!WIFEXITED(status)) kill(child, SIGKILL), waitpid(child, &status, 0);
    release = true;
    call.join();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child's shutdown hung";
}

}  // namespace
