// The seams: fixed paths under VELD_ROOT, names in VELD_NS, the kernel command line.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "seam.h"
#include "test_root.h"
#include "veldcore.h"

namespace {

TEST(Seam, PathsAndNamesFollowRootAndNamespace) {
    unsetenv("VELD_ROOT");
    unsetenv("VELD_NS");
    EXPECT_EQ(veld::seam::path("/proc/stat"), "/proc/stat");
    EXPECT_EQ(veld::seam::ipcName("veld-board"), "/veld-board");
    EXPECT_EQ(veld::seam::sysvKey(0x00149FBD), 0x00149FBD);

    setenv("VELD_ROOT", "/tmp/r/", 1);
    setenv("VELD_NS", "abc", 1);
    EXPECT_EQ(veld::seam::path("/proc/stat"), "/tmp/r/proc/stat");
    EXPECT_EQ(veld::seam::ipcName("/veld-board"), "/abc.veld-board");
    const key_t a = veld::seam::sysvKey(0x00149FBD);
    EXPECT_NE(a, 0x00149FBD);
    setenv("VELD_NS", "abd", 1);
    EXPECT_NE(veld::seam::sysvKey(0x00149FBD), a) << "namespaces must not share queues";
    unsetenv("VELD_ROOT");
    unsetenv("VELD_NS");
}

TEST(Seam, CommandLineValues) {
    struct Case {
        const char* cmdline;
        const char* key;
        bool found;
        const char* value;
    } cases[] = {
        {"console=ttyS0 ssm.auto_start=1 quiet", "ssm.auto_start", true, "1"},
        {"ssm.auto_start=10\n", "ssm.auto_start", true, "10"},
        {"ssm.auto_start= x", "ssm.auto_start", true, ""},
        {"xssm.auto_start=1", "ssm.auto_start", false, ""},   // whole words only
        {"ssm.auto_starts=1", "ssm.auto_start", false, ""},
        {"ssm.auto_start", "ssm.auto_start", false, ""},      // no value at all
        {"", "ssm.keyboard", false, ""},
    };
    for (const Case& c : cases) {
        bool found = true;
        EXPECT_EQ(veld::seam::cmdlineValue(c.cmdline, c.key, found), c.value) << c.cmdline;
        EXPECT_EQ(found, c.found) << c.cmdline;
    }
}

TEST(Seam, ScanKernelCmdlineReadsVeldCmdlineOrTheRootsFile) {
    veld::test::TestRoot root;
    char value[VELD_CMDLINE_VALUE_MAX] = {};
    root.writeFile("/proc/cmdline", "root=/dev/mmcblk0 ssm.keyboard=1\n");
    unsetenv("VELD_CMDLINE");
    EXPECT_EQ(VELD_UTIL_ScanKernelCmdline("ssm.keyboard=%s", value), 0);
    EXPECT_STREQ(value, "1");
    EXPECT_NE(VELD_UTIL_ScanKernelCmdline("ssm.auto_start=%s", value), 0);

    const std::string longValue(200, '7');
    setenv("VELD_CMDLINE", ("ssm.auto_start=" + longValue).c_str(), 1);
    EXPECT_EQ(VELD_UTIL_ScanKernelCmdline("ssm.auto_start=%s", value), 0);
    EXPECT_EQ(std::string(value), longValue.substr(0, VELD_CMDLINE_VALUE_MAX - 1));
    EXPECT_NE(VELD_UTIL_ScanKernelCmdline("ssm.keyboard=%s", value), 0)
        << "VELD_CMDLINE replaces the file";
    unsetenv("VELD_CMDLINE");
}

}  // namespace
