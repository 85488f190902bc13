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
        const std::string program = builtProgram("sim/veld_tw");
        ASSERT_TRUE(tw_.start(program, {program, "--root", root_.root()}, {},
                              root_.path("/tw.log")));
        struct stat st{};
        ASSERT_TRUE(eventually([&] { return ::stat(seam::simSocket("tw").c_str(), &st) == 0; }))
            << root_.readFile("/tw.log");
        control_ = wire::connectSimulator();
        ASSERT_GE(control_, 0);
    }

    void TearDown() override {
        VELD_SE_Shutdown();
        if (control_ >= 0) ::close(control_);
        if (tw_.pid() > 0) {
            tw_.kill(SIGTERM);
            EXPECT_EQ(tw_.wait(std::chrono::seconds(5)), 0) << "the simulator ends cleanly on SIGTERM";
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
    Process tw_;
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

}  // namespace veld::test
