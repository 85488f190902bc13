// Info viewer apps: the pages of the builders from small kernel-file fixtures, the generic text
// app in the shared app form, the top view with a stand-in "top", and clean stops.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "monitor_apps_fixture.h"
#include "ssm_viewers.h"

namespace {

using veld::test::MonitorApps;
using namespace std::chrono_literals;

constexpr const char* kDashes = "---------------------------------------------------------\n";
constexpr const char* kPoolsHeader =
    "     pool name:   size  (usage)    used   freed    peak   atime    #obj\n"
    "-----------------------------------------------------------------------\n";
constexpr const char* kPoolsFooter = " \nsize, used, freed, peak : MByte/sec\natime : msec\n";

using Viewers = MonitorApps;

TEST_F(Viewers, LogCountsListOnlyModulesWithErrors) {
    root_.writeFile("/proc/logm/vdec", "module vdec\n\terror log count=5\n");
    root_.writeFile("/proc/logm/adec", "\terror log count=0\n");
    root_.writeFile("/proc/logm/de", "\twarn log count=7\n\terror log count=12\n\terror log count=99\n");
    root_.writeFile("/proc/logm/gpu", "no counts here\n");
    for (const char* skipped : {"status", "lmsg", "ldump"}) root_.writeFile(std::string("/proc/logm/") + skipped, "\terror log count=9\n");

    const std::string page = take(veld::ssm::logErrorCountsPage());
    EXPECT_NE(page.find("err(       5) for vdec\n"), std::string::npos) << page;
    EXPECT_NE(page.find("err(      12) for de\n"), std::string::npos) << "the first count line counts: " << page;
    EXPECT_EQ(page.size(), std::string("err(       5) for vdec\nerr(      12) for de\n").size()) << page;
}

TEST_F(Viewers, LogCountsWithoutTheFolderAreAnEmptyPage) {
    EXPECT_EQ(take(veld::ssm::logErrorCountsPage()), "");
}

TEST_F(Viewers, FileViewShowsEveryRowOfTheLabel) {
    root_.writeFile("/proc/qv/te/mcu0/status", "mcu0: running\nheartbeat: 7\n");
    root_.writeFile("/proc/qv/mpro/status", "regions: 4\n");
    root_.writeFile("/proc/meminfo", "MemTotal: 1 kB\n");
    struct Case {
        const char* label;
        std::string page;
    };
    const Case cases[] = {
        {"TE MCU Info", std::string("/proc/qv/te/mcu0/status\n") + kDashes + "mcu0: running\nheartbeat: 7\n" +
                            "/proc/qv/te/mcu1/status\n" + kDashes + "can't open /proc/qv/te/mcu1/status\n"},
        {"MPROT Info", std::string("/proc/qv/mpro/status\n") + kDashes + "regions: 4\n"},  // the menu's label
        {"MPROT  Status", ""},
        {"linux/meminfo", std::string("/proc/meminfo\n") + kDashes + "MemTotal: 1 kB\n"},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(take(veld::ssm::fileViewPage(c.label)), c.page) << c.label;
}

TEST_F(Viewers, OnePoolInFullReadsSizesInHexadecimal) {
    root_.writeFile("/proc/hma/surface/debug",
                    "name = surface\nsize = 0x100000\nfree_size = 0x80000\npeak_size=0xc0000\n"
                    "max_available_size = 0x40000\nmax_available_size_hint = 0x10\nlonely\n\n\tcount\t= 3\n");
    root_.writeFile("/proc/hma/surface/status", "obj 0 used\n");
    EXPECT_EQ(take(veld::ssm::poolPage("hma/surface")),
              "[/proc/hma/surface/debug]\n"
              "              name: surface   \n"
              "              size: 0x100000   (  1024.0KB)\n"
              "         free_size: 0x80000    (   512.0KB)\n"
              "         peak_size: 0xc0000    (   768.0KB)\n"
              "max_available_size: 0x40000    (   256.0KB)\n"
              "max_available_size_hint: 0x10      \n"
              "            lonely: n/a       \n"
              "             count: 3         \n"
              "\n"
              "[/proc/hma/surface/status]\n"
              "obj 0 used\n");
    EXPECT_EQ(take(veld::ssm::poolPage("hma/none")),
              "[/proc/hma/none/debug]\n<!> can't open proc\n\n[/proc/hma/none/status]\n<!> can't open proc\n");
}

TEST_F(Viewers, AllPoolsLeaveOutCmaPoolsAndFilesAndKeepTheWorkingDirectory) {
    root_.writeFile("/proc/hma/surface/debug",
                    "size = 0x200000\nfree_size = 0x80000\npeak_size = 0x180000\nalloc_maxtime = 2500000\n");
    root_.writeFile("/proc/hma/surface/status", "obj used\nobj notused\nobj used\n");
    root_.writeFile("/proc/hma/gfx_cma/debug", "size = 0x100000\n");
    root_.writeFile("/proc/hma/readme", "not a pool\n");
    ASSERT_EQ(mkdir(root_.path("/proc/hma/empty").c_str(), 0755), 0);
    char before[PATH_MAX], after[PATH_MAX];
    ASSERT_NE(getcwd(before, sizeof before), nullptr);

    const std::string page = take(veld::ssm::allPoolsPage());

    ASSERT_NE(getcwd(after, sizeof after), nullptr);
    EXPECT_STREQ(after, before);
    const std::string surface = "       surface:   2.00 ( 75.0%)    1.50    0.50    1.50       2       2\n";
    const std::string empty = "         empty:   0.00 (  0.0%)    0.00    0.00    0.00       0       0\n";
    EXPECT_EQ(page.rfind(kPoolsHeader, 0), 0u) << page;
    EXPECT_NE(page.find(surface), std::string::npos) << page;
    EXPECT_NE(page.find(empty), std::string::npos) << page;
    EXPECT_EQ(page.find("cma"), std::string::npos) << page;
    EXPECT_EQ(page.find("readme"), std::string::npos) << page;
    EXPECT_EQ(page.size(), std::string(kPoolsHeader).size() + surface.size() + empty.size() +
                               std::string(kPoolsFooter).size());
    EXPECT_EQ(page.substr(page.size() - std::string(kPoolsFooter).size()), kPoolsFooter);
}

TEST_F(Viewers, AllPoolsWithoutTheFolder) {
    EXPECT_EQ(take(veld::ssm::allPoolsPage()), std::string(kPoolsHeader) + "can't open /proc/hma\n");
}

TEST_F(Viewers, BoardMemoryMapIsTheWholeFileOrNothing) {
    EXPECT_EQ(take(veld::ssm::boardMemoryMapPage()), "");
    EXPECT_TRUE(logged("[xErr] can't read /proc/qv/base/status\n"));
    root_.writeFile("/proc/qv/base/status", "kernel 0x0 0xfffffff\nfb 0x3c000000 0x3fffffff\n");
    EXPECT_EQ(take(veld::ssm::boardMemoryMapPage()), "kernel 0x0 0xfffffff\nfb 0x3c000000 0x3fffffff\n");
}

TEST_F(Viewers, LogLinesCarryTheDocumentedFunctionNames) {
    ASSERT_EQ(mkdir(root_.path("/proc/logm").c_str(), 0755), 0);
    ASSERT_EQ(symlink("gone", root_.path("/proc/logm/vdec").c_str()), 0);  // can't be opened
    root_.writeFile("/proc/hma/surface/debug", "size=0x100\n");
    XEvent key{};
    key.type = XEVENT_KEY;
    key.key.code = 0x99;
    SSM_GlobalEventHandler(&key, 0);
    take(veld::ssm::logErrorCountsPage());
    take(veld::ssm::boardMemoryMapPage());
    take(veld::ssm::fileViewPage("MPROT Info"));
    take(veld::ssm::poolPage("hma/surface"));
    take(veld::ssm::allPoolsPage());
    SSM_SYS_Init();  // no bus monitor in this root

    struct Row {
        const char* function;
        const char* text;
    } rows[] = {
        {"SSM_GlobalEventHandler", "[xDbg] global key handler : 0x99\n"},
        {"SSM_APP_AnalyzeLogmFile", "[xErr] can't open /proc/logm/vdec\n"},
        {"SSM_APP_ReadBSPMemMapStatus", "[xErr] can't read /proc/qv/base/status\n"},
        {"SSM_APP_FileViewDataHandler", "[xDbg] dump MPROT Info\n"},
        {"SSM_APP_HMAFullInfoDataHandler", "[xDbg] ++ reading /proc/hma/surface/debug\n"},
        {"SSM_APP_HMAFullInfoDataHandler", "[xDbg] ++ reading /proc/hma/surface/status\n"},
        {"SSM_APP_GetBriefHMAInfo", "[xDbg] Readling /proc/hma/surface/debug...\n"},
        {"SSM_APP_GetBriefHMAInfo", "[xDbg] Readling /proc/hma/surface/status...\n"},
        {"SSM_SYS_Init", "[xErr] can't open /proc/qv/qvbus/pmtctrl\n"},
    };
    for (const Row& row : rows) EXPECT_TRUE(loggedBy(row.function, row.text)) << row.function << ": " << row.text;
}

TEST_F(Viewers, TextAppRunsInTheAppFormRebuildsOnOkAndStopsWithKey109) {
    root_.writeFile("/proc/logm/vdec", "\terror log count=5\n");
    SSM_APP_Run(513, "LOGM Info");
    ASSERT_EQ(SSM_APP_GetActiveAppDesc(), SSM_APP_GetDesc(513));
    XWindow* form = appForm();
    ASSERT_TRUE(created(form));
    EXPECT_EQ(form->position.x, 20);
    EXPECT_EQ(form->position.width, 400);
    EXPECT_EQ(form->position.height, 460);
    EXPECT_STREQ(veld::ssm::textAppLabel(form), "LOGM Info");
    XWindow* widget = veld::ssm::textAppWidget(form);
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->position.width, 380);
    EXPECT_EQ(widget->position.height, 410) << "30 pixels left for the footer";
    EXPECT_EQ(widget->options & 3u, 3u) << "scroll bar";
    EXPECT_EQ(shownText(widget), "err(       5) for vdec\n");

    XWM_RefreshScreen(1);  // the footer line, right-aligned at the bottom
    int footer = 0;
    for (int y = 460 - 30; y < 460; ++y)
        for (int x = 200; x < 380; ++x)
            footer += form->pixels[size_t(20 + y) * form->pitch + size_t(20 + x)] == 3;
    EXPECT_GT(footer, 0);

    root_.writeFile("/proc/logm/adec", "\terror log count=2\n");
    root_.writeFile("/proc/logm/vdec", "\terror log count=0\n");
    XWM_ExecAppKeyEvent(SSM_KEY_SELECT);
    EXPECT_EQ(shownText(widget), "err(       2) for adec\n");

    XWM_ExecAppKeyEvent(SSM_KEY_CLOSE);
    EXPECT_FALSE(created(form));
    EXPECT_EQ(veld::ssm::formData(form), nullptr);
    EXPECT_EQ(SSM_APP_GetDesc(513)->state, 0);
}

TEST_F(Viewers, ViewerWindowSizes) {
    struct Case {
        uint32_t id;
        const char* label;
        uint16_t width, height;
    };
    const Case cases[] = {
        {515, "BSP MemMap", 820, 460}, {516, "PMT Info", 520, 740},     {517, "linux/none", 800, 460},
        {518, "TE MCU Info", 520, 460}, {519, "hma/surface", 960, 640}, {520, "HMA Info", 640, 460},
    };
    for (const Case& c : cases) {
        SSM_APP_Run(c.id, c.label);
        ASSERT_TRUE(created(appForm())) << c.id;
        EXPECT_EQ(appForm()->position.width, c.width) << c.id;
        EXPECT_EQ(appForm()->position.height, c.height) << c.id;
    }
    SSM_APP_Exit(520, nullptr);
    EXPECT_FALSE(created(appForm()));
}

TEST_F(Viewers, ALongLabelIsCut) {
    const std::string label(40, 'x');
    ASSERT_EQ(SSM_APP_FileMonitorwAction(0, label.c_str()), 0);
    EXPECT_EQ(std::string(veld::ssm::textAppLabel(appForm())), std::string(31, 'x'));
    EXPECT_EQ(SSM_APP_FileMonitorwAction(1, nullptr), 0);
}

class TopView : public Viewers {
protected:
    void SetUp() override {
        Viewers::SetUp();
        // A stand-in "top": its arguments, then 49 numbered lines.
        root_.writeFile("/bin/top",
                        "#!/bin/sh\necho \"top $*\"\ni=2\nwhile [ $i -le 50 ]; do echo \"line $i\"; i=$((i+1)); done\n");
        chmod(root_.path("/bin/top").c_str(), 0755);
        const char* path = std::getenv("PATH");
        savedPath_ = path ? path : "";
        setenv("PATH", (root_.path("/bin") + ":" + savedPath_).c_str(), 1);
    }
    void TearDown() override {
        Viewers::TearDown();
        setenv("PATH", savedPath_.c_str(), 1);
    }
    std::string savedPath_;
};

TEST_F(TopView, ShowsTheFirstThirtyLines) {
    SSM_APP_Run(517, "linux/cpu top");
    ASSERT_TRUE(created(appForm()));
    XWindow* widget = veld::ssm::textAppWidget(appForm());
    EXPECT_EQ(shownText(widget), "") << "the view opens empty";
    XEvent event{};
    ASSERT_TRUE(nextSampleEvent(event));
    XWM_ExecAppAnyEvent(&event);
    std::string expected = "top -n 1 -b\n";
    for (int i = 2; i <= 30; ++i) expected += "line " + std::to_string(i) + "\n";
    EXPECT_EQ(shownText(widget), expected);

    XWM_ExecAppKeyEvent(SSM_KEY_SELECT);
    EXPECT_EQ(shownText(widget), expected) << "OK does not rebuild the top view";

    SSM_APP_Exit(517, nullptr);
    EXPECT_FALSE(created(appForm()));
    drainQueue();
    EXPECT_FALSE(nextSampleEvent(event, 1500ms)) << "the reader thread has ended";
}

TEST_F(TopView, AMissingCommandShowsItsErrorOnThePage) {
    setenv("PATH", root_.path("/bin").c_str(), 1);  // a stand-in top, but no iotop
    SSM_APP_Run(517, "linux/io top");
    XEvent event{};
    ASSERT_TRUE(nextSampleEvent(event));
    XWM_ExecAppAnyEvent(&event);
    const std::string page = shownText(veld::ssm::textAppWidget(appForm()));
    EXPECT_NE(page.find("iotop"), std::string::npos) << page;
    EXPECT_NE(page.find("not found"), std::string::npos) << page;
    SSM_APP_Exit(517, nullptr);
}

TEST_F(TopView, APageArrivingAfterTheStopIsIgnored) {
    SSM_APP_Run(517, "linux/cpu top");
    XEvent event{};
    ASSERT_TRUE(nextSampleEvent(event));
    SSM_APP_Exit(517, nullptr);  // the page of `event` was still in flight: the stop freed it
    SSM_APP_Run(517, "linux/no top");  // a top view again, but one that brings no pages
    XWindow* widget = veld::ssm::textAppWidget(appForm());
    XWM_ExecAppAnyEvent(&event);
    EXPECT_EQ(shownText(widget), "") << "the late page is not shown (nor freed twice)";
    EXPECT_TRUE(created(appForm()));
}

TEST_F(TopView, UnknownLabelEndsTheReader) {
    SSM_APP_Run(517, "linux/mem top");
    EXPECT_TRUE(created(appForm()));
    EXPECT_TRUE(veld::test::eventually([this] { return logged("[xErr] unknown top app (linux/mem top)\n"); }));
    XEvent event{};
    EXPECT_FALSE(nextSampleEvent(event, 1500ms));
}

TEST_F(TopView, SwitchingBetweenViewersLeavesMemoryFlat) {
    root_.writeFile("/proc/logm/vdec", "\terror log count=5\n");
    root_.writeFile("/proc/hma/surface/debug", "size = 0x200000\n");
    root_.writeFile("/proc/qv/te/mcu0/status", "mcu0: running\n");
    quietLog();
    const auto cycle = [] {
        SSM_APP_Run(513, nullptr);
        SSM_APP_Run(520, nullptr);  // stops 513 first
        SSM_APP_Run(518, "TE MCU Info");
        SSM_APP_Run(517, "linux/cpu top");
        XEvent event{};
        while (pollEvent(event)) XWM_ExecAppAnyEvent(&event);
        XWM_ExecAppKeyEvent(SSM_KEY_CLOSE);
        clockTick();
    };
    for (int i = 0; i < 10; ++i) cycle();
    const size_t start = heapInUse();
    for (int i = 0; i < 60; ++i) cycle();
    drainQueue();
    EXPECT_LE(heapInUse(), start + 2048) << "from " << start;
    EXPECT_FALSE(created(appForm()));
}

}  // namespace
