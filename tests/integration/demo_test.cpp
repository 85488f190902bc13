// scripts/demo as a user runs it: a demo whose daemon cannot start fails, says which step and
// why, and still stops what it started.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "test_root.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

TEST(Demo, FailsWhenVelddCannotStart) {
    veld::test::TestRoot root;
    // A build folder whose veldd only complains; veldctl is the real one, and finds the
    // simulators beside its own build.
    const std::string build = root.path("/build");
    fs::create_directories(build + "/daemon");
    fs::create_directories(build + "/tools");
    fs::create_directories(build + "/sim");
    root.writeFile("/build/daemon/veldd", "#!/bin/sh\necho 'veldd: cannot start (test)' >&2\nexit 1\n");
    chmod((build + "/daemon/veldd").c_str(), 0755);
    fs::create_symlink(veld::test::builtProgram("tools/veldctl"), build + "/tools/veldctl");

    const std::string demo = fs::canonical(VELD_FIXTURES "/../../scripts/demo").string();
    veld::test::Process run;
    ASSERT_TRUE(run.start("/bin/bash", {"bash", demo},
                          {{"VELD_BUILD", build}, {"VELD_DEMO_BUILD", "0"}, {"VELD_DEMO_DIR", root.path("/demo")}},
                          root.path("/demo.out")));
    EXPECT_EQ(run.wait(30s), 1);
    const std::string out = root.readFile("/demo.out");
    EXPECT_NE(out.find("demo: step 2 failed: veldd did not answer within 5 s"), std::string::npos) << out;
    EXPECT_NE(out.find("veldd: cannot start (test)"), std::string::npos) << "its output is shown: " << out;
    EXPECT_EQ(out.find("[ 3]"), std::string::npos) << "no step after the failure: " << out;
    EXPECT_NE(out.find("stopped: veldd ("), std::string::npos) << out;
    EXPECT_NE(out.find("the simulators ("), std::string::npos)
        << "the simulators were started and stopped: " << out;
}

}  // namespace
