// veldctl sim: the simulators of a root start once, show in status, and a simulator that died
// on its own shows as died until it is started again.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "seam.h"
#include "test_root.h"

namespace {

using veld::test::Process;
using veld::test::TestRoot;

bool fileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

class SimCommand : public testing::Test {
protected:
    // Runs veldctl with `args`; returns its exit status and leaves its output in `output`.
    int veldctl(const std::vector<std::string>& args, std::string& output) {
        std::vector<std::string> argv{veld::test::builtProgram("tools/veldctl")};
        argv.insert(argv.end(), args.begin(), args.end());
        const std::string outPath = root_.path("/veldctl.out");
        std::remove(outPath.c_str());
        Process p;
        if (!p.start(argv[0], argv, {}, outPath)) return -1;
        const int status = p.wait(std::chrono::seconds(15));
        std::ifstream in(outPath);
        std::stringstream text;
        text << in.rdbuf();
        output = text.str();
        return status;
    }

    pid_t boardPid() {
        std::ifstream in(root_.path("/tmp/veld-sim/" + root_.ns() + "/board.pid"));
        pid_t pid = 0;
        in >> pid;
        return pid;
    }

    void TearDown() override {
        std::string out;
        veldctl({"sim", "stop"}, out);
    }

    TestRoot root_;
};

TEST_F(SimCommand, StartsOnceShowsADeadSimulatorAndStops) {
    std::string out;
    EXPECT_EQ(veldctl({"sim", "status"}, out), 1);
    EXPECT_NE(out.find("board  not running"), std::string::npos) << out;

    ASSERT_EQ(veldctl({"sim", "start"}, out), 0) << out;
    EXPECT_NE(out.find("board  started (pid "), std::string::npos) << out;
    const pid_t first = boardPid();
    ASSERT_GT(first, 0);
    EXPECT_TRUE(std::ifstream(root_.path("/proc/qv/fbdev/fb0/fbmem")).good());
    EXPECT_NE(out.find("tw     started (pid "), std::string::npos) << out;
    EXPECT_EQ(access(root_.path("/tmp/veld-sim/" + root_.ns() + "/tw.sock").c_str(), F_OK), 0);
    EXPECT_NE(out.find("emmc   started (pid "), std::string::npos) << out;
    EXPECT_TRUE(fileExists(root_.path("/var/veld-sim/emmc-rpmb.bin"))) << "the part lives under the root";

    ASSERT_EQ(veldctl({"sim", "start"}, out), 0) << out;  // a second start is harmless
    EXPECT_NE(out.find("already running (pid " + std::to_string(first) + ")"), std::string::npos)
        << out;
    EXPECT_EQ(boardPid(), first);

    ::kill(first, SIGKILL);
    ASSERT_TRUE(veld::test::eventually([&] {
        return veldctl({"sim", "status"}, out) == 1 && out.find("died (pid") != std::string::npos;
    })) << out;
    EXPECT_NE(out.find("board.log"), std::string::npos) << out;

    ASSERT_EQ(veldctl({"sim", "start"}, out), 0) << out;
    EXPECT_NE(boardPid(), first);
    EXPECT_EQ(veldctl({"sim", "status"}, out), 0) << out;
    EXPECT_NE(out.find("board  running"), std::string::npos) << out;

    EXPECT_EQ(veldctl({"sim", "stop"}, out), 0) << out;
    EXPECT_NE(out.find("board  stopped"), std::string::npos) << out;
    EXPECT_NE(out.find("tw     stopped"), std::string::npos) << out;
    EXPECT_NE(out.find("emmc   stopped"), std::string::npos) << out;
    EXPECT_NE(root_.readFile("/tmp/veld-sim/" + root_.ns() + "/tw.log").find("veld_tw stopping"),
              std::string::npos)
        << "the trusted world ends cleanly on SIGTERM";
    EXPECT_EQ(veldctl({"sim", "status"}, out), 1) << out;
    EXPECT_NE(out.find("board  not running"), std::string::npos) << out;
}

// The board's flash: erased partition files of their sizes named in /proc/partinfo; a later
// start keeps what was written to them, as flash keeps it across reboots.
TEST_F(SimCommand, StartMakesErasedFlashPartitionsThatLaterStartsKeep) {
    std::string out;
    ASSERT_EQ(veldctl({"sim", "start"}, out), 0) << out;
    const std::string partinfo = root_.readFile("/proc/partinfo");
    EXPECT_NE(partinfo.find("part12: 0x00080000 \"sestore\"\n"), std::string::npos) << partinfo;
    EXPECT_NE(partinfo.find("part13: 0x00040000 \"sedata\"\n"), std::string::npos) << partinfo;
    const std::string sestore = root_.readFile("/dev/mmcblk0p12");
    EXPECT_EQ(sestore, std::string(0x80000, '\xFF'));
    EXPECT_EQ(root_.readFile("/dev/mmcblk0p13"), std::string(0x40000, '\xFF'));

    {
        std::fstream f(root_.path("/dev/mmcblk0p12"), std::ios::in | std::ios::out | std::ios::binary);
        f.write("SE", 2);
    }
    ASSERT_EQ(veldctl({"sim", "stop"}, out), 0) << out;
    ASSERT_EQ(veldctl({"sim", "start"}, out), 0) << out;
    EXPECT_EQ(root_.readFile("/dev/mmcblk0p12").substr(0, 3), "SE\xFF");
}

TEST_F(SimCommand, RefusesWithoutAPrivateRoot) {
    std::string out;
    unsetenv("VELD_ROOT");
    EXPECT_EQ(veldctl({"sim", "start"}, out), 1);
    setenv("VELD_ROOT", root_.root().c_str(), 1);
    EXPECT_NE(out.find("VELD_ROOT is not set"), std::string::npos) << out;
    EXPECT_EQ(veldctl({"sim", "restart"}, out), 2);
    EXPECT_NE(out.find("restart"), std::string::npos) << out;
}

// The GPU simulator: veldctl gpu status shows its memory, nodes, signals and faults, and a stop
// leaves no socket or shared memory behind.
TEST_F(SimCommand, GpuShowsItsStatusAndStopsCleanly) {
    std::string out;
    EXPECT_EQ(veldctl({"gpu", "status"}, out), 1);
    EXPECT_NE(out.find("no GPU simulator serves this root"), std::string::npos) << out;

    ASSERT_EQ(veldctl({"sim", "start"}, out), 0) << out;
    EXPECT_NE(out.find("gpu    started (pid "), std::string::npos) << out;
    ASSERT_EQ(veldctl({"gpu", "status"}, out), 0) << out;
    for (const char* line : {"chip: profile plain", "version: 5.0.11 build 23085",
                             "video memory: /" , "  external   physical 0x", "nodes: 0",
                             "GPU faults: 0", "clients: 0 processes"})
        EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
    const std::string shm = "/dev/shm" + veld::seam::ipcName("/veld-gpu-vidmem");
    EXPECT_TRUE(fileExists(shm)) << shm;

    ASSERT_EQ(veldctl({"sim", "stop"}, out), 0) << out;
    EXPECT_NE(out.find("gpu    stopped"), std::string::npos) << out;
    EXPECT_FALSE(fileExists(shm)) << "the video memory is removed at SIGTERM";
    EXPECT_FALSE(fileExists(veld::seam::simSocket("gpu")));
    EXPECT_NE(root_.readFile("/tmp/veld-sim/" + root_.ns() + "/gpu.log").find("veld_gpu: stopped"),
              std::string::npos);
}

}  // namespace
