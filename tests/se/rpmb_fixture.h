// Test fixture of replay-protected storage: the trusted world and the eMMC simulator of a
// private root, the eMMC's control interface, the secure-engine daemon for indirect transfers,
// and a "reboot" that forgets everything but what the root keeps (the part, the OTP).
#pragma once

#include <signal.h>

#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "board_flash.h"
#include "emmc_device.h"
#include "rpmb_frame.h"
#include "se_daemon.h"
#include "se_rpmb.h"
#include "se_rpmb_shared.h"
#include "tw_fixture.h"

namespace veld::test {

namespace emmcWire = veld::emmcDevice::wire;

class RpmbFixture : public TrustedWorld {
protected:
    void SetUp() override {
        TrustedWorld::SetUp();
        ASSERT_EQ(veld::sim::makeBoardFlash(), "");  // the store's partitions, as on the board
        ASSERT_TRUE(emmc_.ready()) << root_.readFile("/emmc.log");
    }

    void TearDown() override {
        if (daemon_.pid() > 0) daemon_.kill(SIGKILL);
        TrustedWorld::TearDown();
        EXPECT_EQ(emmc_.stop(), 0) << "the eMMC simulator ends cleanly on SIGTERM";
    }

    // A control operation of the eMMC simulator; true when it was accepted.
    bool emmcControl(emmcWire::ControlOp op, std::initializer_list<uint32_t> words = {}) {
        const int fd = emmcWire::connectSimulator();
        if (fd < 0) return false;
        const std::vector<uint32_t> data(words);
        emmcWire::Request request{emmcWire::kControl, op, static_cast<uint32_t>(data.size() * 4), 0};
        emmcWire::Reply reply{};
        uint8_t out[64];
        const bool ok = emmcWire::call(fd, request, data.data(), reply, out, sizeof out) >= 0 &&
                        reply.result == 0;
        ::close(fd);
        return ok;
    }

    emmcWire::Stats emmcStats() {
        emmcWire::Stats s{};
        const int fd = emmcWire::connectSimulator();
        if (fd < 0) return s;
        emmcWire::Request request{emmcWire::kControl, emmcWire::kStats, 0, 0};
        emmcWire::Reply reply{};
        emmcWire::call(fd, request, nullptr, reply, &s, sizeof s);
        ::close(fd);
        return s;
    }

    // What a reboot leaves: the root's files. The engine detaches, the shared memories and
    // semaphores of the namespace go, and both simulators start afresh.
    void reboot() {
        VELD_SE_Shutdown();
        const std::string prefix = root_.ns() + ".";
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ec)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind(prefix, 0) == 0 || name.rfind("sem." + prefix, 0) == 0)
                std::filesystem::remove(entry.path(), ec);
        }
        ::close(control_);
        ASSERT_TRUE(sim_.start());
        ASSERT_TRUE(emmc_.start());
        control_ = wire::connectSimulator();
        ASSERT_GE(control_, 0);
    }

    // Starts se_veldd and waits until it serves the driver's netlink side.
    bool startDaemon() {
        const std::string program = builtProgram("daemon/se_veldd");
        return daemon_.start(program, {program}, {{"VELD_LOG", root_.path("/se_veldd.log")}},
                             root_.path("/se_veldd.out")) &&
               eventually([&] { return stats().netlinkPid == static_cast<uint32_t>(daemon_.pid()); });
    }
    std::string daemonLog() const { return root_.readFile("/se_veldd.log"); }

    // A block whose first bytes are `text`, the rest a pattern of `seed`.
    static std::vector<uint8_t> block(const std::string& text, uint8_t seed = 0) {
        std::vector<uint8_t> b(256);
        for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
        std::memset(b.data(), 0, 64);
        std::memcpy(b.data(), text.data(), text.size());
        return b;
    }

    EmmcSim emmc_{root_};
    Process daemon_;
};

}  // namespace veld::test
