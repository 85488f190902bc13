// Test fixture of the secure engine: a private root and namespace, the trusted-world simulator
// serving them (VELD_SIM=1), the engine's log captured, and its control interface for faults.
// The engine is detached and the simulator stopped after each test.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

#include "captured_log.h"
#include "se_core.h"
#include "se_device.h"
#include "se_engine.h"
#include "seam.h"
#include "test_root.h"
#include "veldcore_host.h"

namespace veld::test {

namespace wire = veld::seDevice::wire;

class TrustedWorld : public testing::Test {
protected:
    void SetUp() override {
        setenv("VELD_SIM", "1", 1);
        VELD_HOST_SetLogSink(CapturedLog::sink, nullptr);
        CapturedLog::clear();
        ASSERT_TRUE(sim_.ready()) << root_.readFile("/tw.log");
        control_ = wire::connectSimulator();
        ASSERT_GE(control_, 0);
    }

    void TearDown() override {
        VELD_SE_Shutdown();
        if (control_ >= 0) ::close(control_);
        if (sim_.process().pid() > 0) {
            EXPECT_EQ(sim_.stop(), 0) << "the simulator ends cleanly on SIGTERM";
        }
        VELD_HOST_SetLogSink(nullptr, nullptr);
        unsetenv("VELD_SIM");
    }

    // Sends a control operation to the simulator; true when it was accepted.
    bool control(wire::ControlOp op, std::initializer_list<uint32_t> words = {}) {
        const std::vector<uint32_t> data(words);
        wire::Request request{wire::kControl, op, 0, 0, static_cast<uint32_t>(data.size() * 4), 0};
        wire::Reply reply{};
        uint8_t out[64];
        return wire::call(control_, request, data.data(), reply, out, sizeof out) >= 0 &&
               reply.result == 0;
    }

    wire::Stats stats() {
        wire::Request request{wire::kControl, wire::kStats, 0, 0, 0, 0};
        wire::Reply reply{};
        wire::Stats s{};
        wire::call(control_, request, nullptr, reply, &s, sizeof s);
        return s;
    }

    veld::se::SharedRecord& shared() { return *veld::se::processRecord().pSharedInfo; }

    TestRoot root_;
    TrustedWorldSim sim_{root_};
    int control_ = -1;
};

// Runs `body` in a child process; returns its exit status (the body's result), or -1.
template <typename F>
pid_t forkChild(F body) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(body());
    return pid;
}

inline int waitChild(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Starts a child that takes the engine's lock (attached to the device first when `attach`)
// and keeps it until it is killed; returns once the child holds the lock, -1 on failure.
inline pid_t forkLockHolder(bool attach) {
    int ready[2];
    if (::pipe(ready) != 0) return -1;
    const pid_t holder = forkChild([&] {
        if ((attach && VELD_SE_Initialize(nullptr) != 0) || VELD_SE_L000() != 0) return 1;
        const char c = 'x';
        if (::write(ready[1], &c, 1) != 1) return 2;
        ::pause();
        return 0;
    });
    char c = 0;
    const bool held = ::read(ready[0], &c, 1) == 1;
    ::close(ready[0]);
    ::close(ready[1]);
    return held ? holder : -1;
}

}  // namespace veld::test
