// Panels and the panel column, on the real window system in a private root and namespace.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "ssm_app.h"
#include "ssm_sys.h"
#include "test_root.h"
#include "veld_framebuffer.h"
#include "veldcore_host.h"
#include "veldd_log.h"
#include "xdrv.h"
#include "xwin/log_lines.h"
#include "xwm.h"

namespace {

using veld::test::TestRoot;
using veld::ssm::LOGPanel_Timer;

class Panels : public ::testing::Test {
protected:
    void SetUp() override {
        root_.writeFile("/proc/qv/fbdev/fb0/fbmem", "0 0 1920 1080\n");
        root_.writeFile("/proc/stat", "cpu  100 0 100 800\ncpu0 50 0 50 400\n");
        root_.writeFile("/proc/meminfo", "MemTotal: 1048576 kB\nMemFree: 0 kB\n");
        root_.writeFile("/proc/vmstat", "nr_free_pages 1\n");
        veld::ssm::resetApps();
        veld::ssm::resetCollectors();
        ASSERT_EQ(INITIALIZE_TASK(0), 0);
        ASSERT_EQ(XWM_Init(), 0);
        SSM_RC_Init();
    }
    void TearDown() override {
        XWM_DestroyAllObjects();
        VELD_HOST_FB_Unlink(1);
        veld::test::removeQueue(veld::xdrv::queueKey("uxm-evq"));
    }

    std::string refresh(uint32_t formId) {
        XWIN_ExecSimpleKeyFn(XDB_GetForm(formId), XMSG_TIME_TICK, 0);
        const XString t = veld::ssm::panelText(formId);
        return std::string(t.data, t.length);
    }

    TestRoot root_;
};

TEST_F(Panels, CpuPanelShowsPlaceholdersForMissingCpus) {
    ASSERT_EQ(SSM_APP_CPUPanel(0, nullptr), 0);
    root_.writeFile("/proc/stat", "cpu  200 0 200 1600\ncpu0 100 0 100 800\n");
    refresh(SSM_FORM_CPU_PANEL);  // the first refresh reports the counts since boot
    root_.writeFile("/proc/stat", "cpu  300 0 300 1600\ncpu0 150 0 150 800\n");
    const std::string text = refresh(SSM_FORM_CPU_PANEL);
    EXPECT_EQ(text,
              "cpu   %ratio   %user   %sys  %idle\n\n"
              "ALL            50.00  50.00   0.00\n"
              "cpu0 ( 50.0)   50.00  50.00   0.00\n"
              "---- ( --.-)   --.--  --.--  --.--\n"
              "---- ( --.-)   --.--  --.--  --.--\n"
              "---- ( --.-)   --.--  --.--  --.--\n");
}

TEST_F(Panels, FrameRateBandwidthAndMemoryTexts) {
    ASSERT_EQ(SSM_APP_FPSPanel(0, nullptr), 0);
    ASSERT_EQ(SSM_APP_PMTPanel(0, nullptr), 0);
    ASSERT_EQ(SSM_APP_MEMPanel(0, nullptr), 0);
    veld::ssm::sampleFpsOnce();
    EXPECT_EQ(refresh(SSM_FORM_FPS_PANEL), "FB0:  0.0fps ") << "only FB0 when every rate is 0";
    EXPECT_EQ(refresh(SSM_FORM_PMT_PANEL), "") << "no bus monitor: an empty panel";
    const std::string mem = refresh(SSM_FORM_MEM_PANEL);
    EXPECT_EQ(mem.substr(0, mem.find('\n') + 1), "mem_total: 1024.0 MB (L:   0 H:   0)\n");
    EXPECT_NE(mem.find("mem_free:     0.0 MB"), std::string::npos) << mem;
    EXPECT_NE(mem.find("reclaim:      0.0 MB\n"), std::string::npos) << mem;
}

TEST_F(Panels, ColumnAtTheRightEdgeAndHiddenPanelsTakeNoPlace) {
    for (uint32_t id : {257u, 258u, 260u, 259u}) SSM_APP_Run(id, nullptr);
    SSM_APP_LayoutPanels();
    const auto position = [](uint32_t form) { return XDB_GetForm(form)->position; };
    EXPECT_EQ(position(SSM_FORM_CPU_PANEL).x, 1580);
    EXPECT_EQ(position(SSM_FORM_CPU_PANEL).y, 20);
    EXPECT_EQ(position(SSM_FORM_MEM_PANEL).y, 148);
    EXPECT_EQ(position(SSM_FORM_PMT_PANEL).y, 411);
    EXPECT_EQ(position(SSM_FORM_FPS_PANEL).y, 452);

    SSM_APP_Toggle(258);  // memory hidden: the panels below move up
    EXPECT_FALSE(XDB_GetForm(SSM_FORM_MEM_PANEL)->flags & veld::xwin::kFlagVisible);
    EXPECT_EQ(position(SSM_FORM_PMT_PANEL).y, 148);
    EXPECT_EQ(position(SSM_FORM_FPS_PANEL).y, 189);

    SSM_APP_TogglePanels();  // everything flips: only memory would be shown
    EXPECT_FALSE(XDB_GetForm(SSM_FORM_CPU_PANEL)->flags & veld::xwin::kFlagVisible);
    EXPECT_EQ(position(SSM_FORM_MEM_PANEL).y, 20);
}

TEST_F(Panels, ADestroyedPanelFormReleasesItsContext) {
    ASSERT_EQ(SSM_APP_MEMPanel(0, nullptr), 0);
    XWindow* form = XDB_GetForm(SSM_FORM_MEM_PANEL);
    ASSERT_NE(veld::ssm::formData(form), nullptr);
    ASSERT_EQ(XWIN_Destroy(form, 0), 0);
    EXPECT_EQ(veld::ssm::formData(form), nullptr);
    ASSERT_EQ(SSM_APP_MEMPanel(0, nullptr), 0);  // and a new one starts afresh
    EXPECT_NE(refresh(SSM_FORM_MEM_PANEL).find("mem_total:"), std::string::npos);
}

TEST_F(Panels, AppTableLookupsAndFailedStarts) {
    EXPECT_EQ(SSM_APP_GetDesc(529), nullptr);
    EXPECT_EQ(SSM_APP_GetDesc(514), nullptr);
    ASSERT_NE(SSM_APP_GetDesc(528 - 1), nullptr);
    EXPECT_EQ(SSM_APP_GetDesc(257)->formId, SSM_FORM_CPU_PANEL);
    int rows = 0;
    for (const SSM_APP_DESC* row = veld::ssm::appTable(); rows < SSM_APP_ROWS; ++row, ++rows)
        EXPECT_EQ(row->state, 0);
    // An app whose start fails stays stopped and inactive: the DNN app without its CPU/GPU
    // window on the command line reports -5.
    SSM_APP_Run(525, nullptr);
    EXPECT_EQ(SSM_APP_GetDesc(525)->state, 0);
    EXPECT_EQ(SSM_APP_GetActiveAppDesc(), nullptr);
    EXPECT_EQ(g_ssm_palette[128 + 2], XGRP_DimEntry(0xf0ff6410u));
    EXPECT_EQ(g_ssm_palette[13], 0u);
}

TEST_F(Panels, LogPanelLineCarriesTheCpuAndEachLoadedDdr) {
    veld::test::LogLines log;
    ASSERT_EQ(SSM_APP_LOGPanel(0), 0);  // the mutex first, so the panels report to it
    ASSERT_EQ(SSM_APP_CPUPanel(0, nullptr), 0);
    refresh(SSM_FORM_CPU_PANEL);  // user 10 % + system 10 % since boot

    // "[%5d.%06d] " from the nanosecond tick, then the loads; the line is written under the
    // timer's own name at level 9.
    const std::regex kLine(R"(^[0-9]+\.[0-9]{6} veldd\[9\] LOGPanel_Timer:[0-9]+ \[([ 0-9]{5,})\.([0-9]{6})\] (.*)\n$)");
    auto loadLine = [&](size_t index) {
        const auto lines = log.withText("CPU: ");
        EXPECT_GT(lines.size(), index);
        if (lines.size() <= index) return std::string();
        std::smatch m;
        EXPECT_TRUE(std::regex_match(lines[index], m, kLine)) << lines[index];
        if (m.empty()) return std::string();
        const double seconds = std::stod(m[1].str());
        EXPECT_NEAR(seconds, static_cast<double>(XUTIL_GetNsTick() / 1000000000ull), 1.0);
        return m[3].str();
    };
    // Only the CPU panel has reported: "BW: " with nothing after it.
    LOGPanel_Timer(nullptr, 0);
    EXPECT_EQ(loadLine(0), "CPU: 20.0%  BW: ");

    // DDR 0 at 40 %, DDR 1 idle (left out), DDR 2 at 2.5 %: "%4.1f%% " each.
    root_.writeFile("/proc/qv/qvbus/pmtctrl", "");
    root_.writeFile("/proc/qv/qvbus/pmtopts", "");
    root_.writeFile("/proc/qv/qvbus/status",
                    "ddr_num: 3\nddr0.max_bw: 1000\nddr1.max_bw: 500\nddr2.max_bw: 1000\n");
    root_.writeFile("/proc/qv/qvbus/pmtinfo", "TOTAL 100 300 0 0 25 0\n");
    SSM_SYS_Init();
    veld::ssm::samplePmtOnce();
    ASSERT_EQ(SSM_APP_PMTPanel(0, nullptr), 0);
    refresh(SSM_FORM_PMT_PANEL);
    LOGPanel_Timer(nullptr, 0);
    EXPECT_EQ(loadLine(1), "CPU: 20.0%  BW: 40.0%  2.5% ");

    ASSERT_EQ(SSM_APP_LOGPanel(1), 0);
    LOGPanel_Timer(nullptr, 0);
    EXPECT_EQ(log.withText("CPU: ").size(), 2u) << "level 9 is off with the panel";
}

}  // namespace
