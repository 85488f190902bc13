// Chart apps and the DNN app: samples taken from kernel-file fixtures on the sampling event,
// the zoom levels and labels, the PCR difference without overflow, the DNN windows chosen by the
// command line, and clean stops.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "monitor_apps_fixture.h"
#include "ssm_charts.h"
#include "ssm_viewers.h"
#include "widgets/xwgt_common.h"

namespace {

using veld::test::MonitorApps;
using namespace std::chrono_literals;

class Charts : public MonitorApps {
protected:
    void SetUp() override {
        MonitorApps::SetUp();
        root_.writeFile("/proc/uptime", "123.45 99.00\n");
    }

    static XGraphWgt* graph() { return veld::ssm::chartWidget(appForm()); }
    static veld::ssm::ChartContext* chart() { return veld::ssm::chartContext(appForm()); }
    static int32_t sample() { return XWIN_ExecSimpleKeyFn(appForm(), static_cast<uint16_t>(SSM_EVENT_SAMPLE), 0); }
    static const XGraphSample* newest() {
        XGraphWgt* g = graph();
        return g && g->newest >= 0 ? &g->samples[g->newest] : nullptr;
    }
    static std::string labels() {
        XGraphWgt* g = graph();
        return std::string(g->bottomLabel) + " .. " + g->topLabel;
    }
};

TEST_F(Charts, TemperatureOutsideOneTo199IsDrawnAsZero) {
    SSM_APP_Run(522, nullptr);
    ASSERT_NE(graph(), nullptr);
    EXPECT_EQ(graph()->capacity, 1000);
    struct Case {
        const char* status;
        int32_t y;
    };
    const Case cases[] = {
        {"avs: on\ntemp: 250\n", 0}, {"temp: 75\n", 75},          {"temp: 199\n", 199},
        {"temp: 0\n", 0},            {"temp: 40\ntemp: 90\n", 40}, {"avs: on\n", 0},
    };
    for (const Case& c : cases) {
        root_.writeFile("/proc/qv/pm/status", c.status);
        ASSERT_EQ(sample(), 0);
        ASSERT_NE(newest(), nullptr);
        EXPECT_EQ(newest()->y, c.y) << c.status;
        EXPECT_EQ(newest()->x, 12345);
    }
    EXPECT_EQ(graph()->xMin, 12345 - 3000);
    EXPECT_EQ(graph()->xMax, 12345);
    EXPECT_EQ(graph()->xStep, 500);
}

TEST_F(Charts, LoadSumKeeps400AndDrops401) {
    SSM_APP_Run(523, nullptr);
    struct Case {
        const char* status;
        int32_t y;
    };
    const Case cases[] = {{"loadsum: 400\n", 400}, {"loadsum: 401\n", 0}, {"temp: 60\nloadsum: 1\n", 1}, {"loadsum: -4\n", 0}};
    for (const Case& c : cases) {
        root_.writeFile("/proc/qv/pm/status", c.status);
        ASSERT_EQ(sample(), 0);
        EXPECT_EQ(newest()->y, c.y) << c.status;
    }
    EXPECT_EQ(graph()->xMin, 12345 - 2000);
}

TEST_F(Charts, FailedReadsAddNothing) {
    SSM_APP_Run(522, nullptr);
    ASSERT_EQ(sample(), 0);
    EXPECT_EQ(newest(), nullptr);
    EXPECT_TRUE(logged("[xErr] can't open TEMP info proc\n"));
    root_.writeFile("/proc/qv/pm/status", "temp: 70\n");
    std::remove(root_.path("/proc/uptime").c_str());
    ASSERT_EQ(sample(), 0);
    EXPECT_EQ(newest(), nullptr);
    EXPECT_TRUE(logged("[xErr] can't open /proc/uptime proc\n"));
}

TEST_F(Charts, ZoomLevelsAndLabels) {
    SSM_APP_Run(521, nullptr);  // PCR starts at level 4
    EXPECT_EQ(chart()->zoom, 4);
    EXPECT_EQ(graph()->yMin, -1000);
    XWM_ExecAppKeyEvent(XKEY_UP);
    EXPECT_EQ(chart()->zoom, 5) << "up at level 4 goes to 5";
    EXPECT_EQ(graph()->yMin, -1000);
    EXPECT_EQ(graph()->yMax, 1000);
    EXPECT_EQ(graph()->yStep, 200);
    EXPECT_EQ(labels(), "-1ms .. +1ms");
    XWM_ExecAppKeyEvent(XKEY_UP);
    EXPECT_EQ(chart()->zoom, 5) << "5 is the top";
    for (int i = 0; i < 6; ++i) XWM_ExecAppKeyEvent(XKEY_DOWN);
    EXPECT_EQ(chart()->zoom, 0);
    EXPECT_EQ(graph()->yMin, -20000);
    EXPECT_EQ(graph()->yStep, 4000);
    EXPECT_EQ(labels(), "-20ms .. +20ms");
    XWM_ExecAppKeyEvent(XKEY_UP);
    EXPECT_EQ(labels(), "-10ms .. +10ms");

    SSM_APP_Run(522, nullptr);  // TEMP starts at 1
    EXPECT_EQ(labels(), "50'C .. 150'C");
    XWM_ExecAppKeyEvent(XKEY_DOWN);
    EXPECT_EQ(graph()->yMax, 160);
    EXPECT_EQ(labels(), "0 'C .. 160'C");

    SSM_APP_Run(523, nullptr);  // CPULOAD starts at 2, reaches 3
    EXPECT_EQ(graph()->yStep, 100);
    XWM_ExecAppKeyEvent(XKEY_DOWN);
    EXPECT_EQ(graph()->yStep, 50);
    for (int i = 0; i < 4; ++i) XWM_ExecAppKeyEvent(XKEY_UP);
    EXPECT_EQ(chart()->zoom, 3);
    EXPECT_EQ(graph()->yStep, 100);
    EXPECT_EQ(labels(), "0 % .. 400%");
}

TEST_F(Charts, PcrDifferenceBeyond24msDoesNotOverflow) {
    root_.writeFile("/proc/qv/sdec/pcr_recovery",
                    "PCR\nCH\n"
                    " 0 0 0 100 1000 2000 27000000 10\n"  // not the selected channel
                    "garbage\n"
                    " 3 1 0 1fff 100000000 100000a8c 27000000 4e20\n"  // 2700 ticks: 30 ms
                    " 4 1 0 1abc 0 5 27000000 4e21\n");
    SSM_APP_Run(521, nullptr);
    ASSERT_EQ(sample(), 0);
    ASSERT_NE(newest(), nullptr);
    EXPECT_EQ(newest()->x, 20000);
    EXPECT_EQ(newest()->y, 30000);
    EXPECT_EQ(newest()->extra[0], 0xa8cu);
    EXPECT_EQ(newest()->extra[1], 0u);
    EXPECT_EQ(chart()->channel, 3);
    EXPECT_EQ(chart()->pid, 0x1fffu);
    EXPECT_EQ(chart()->frequency, 27000000);
    EXPECT_EQ(chart()->counters[0], 0x100000000ull);
    EXPECT_EQ(chart()->counters[1], 0x100000a8cull);
    EXPECT_EQ(graph()->xMin, 0);
    EXPECT_EQ(graph()->xMax, 20000);

    root_.writeFile("/proc/qv/sdec/pcr_recovery", "PCR\n 0 0 0 100 1000 2000 27000000 10\n");
    ASSERT_EQ(sample(), 0);
    EXPECT_EQ(newest()->x, 20000) << "no qualifying line: no point";
}

TEST(ClockDifference, MicrosecondsComputedWideAndNarrowedBySaturation) {
    struct Case {
        uint64_t earlier, later;
        int32_t micros;
    };
    const Case cases[] = {
        {0, 90, 1000},
        {0, 2160, 24000},
        {0, 2700, 30000},
        {2700, 0, -30000},
        {0x1fffffff0ull, 0x200000010ull, 355},  // the low words wrap
        {0, 0x7fffffff, INT32_MAX},
        {0, 0x80000000, INT32_MIN},
    };
    for (const Case& c : cases)
        EXPECT_EQ(veld::ssm::clockDifferenceMicros(c.earlier, c.later), c.micros) << c.earlier << " " << c.later;
}

TEST_F(Charts, GpioChartReadsItsPinAndTheLastLevel) {
    root_.writeFile("/proc/qv/gpio/debugpin", "gpio debug\nDEBUG PIN: 17\n");
    root_.writeFile("/proc/qv/gpio/val", "0\n1\n");
    SSM_APP_Run(524, nullptr);
    EXPECT_EQ(gpiodebugpin, 17);
    EXPECT_EQ(labels(), "low .. high");
    ASSERT_EQ(sample(), 0);
    EXPECT_EQ(newest()->y, 1);
    EXPECT_EQ(newest()->x, 12345);
    std::remove(root_.path("/proc/qv/gpio/val").c_str());
    XGraphSample untouched{};
    EXPECT_EQ(SSM_GPIOInfoReadProc(&untouched), -5);
    EXPECT_TRUE(logged("[xErr] can't open GPIO val proc[/proc/qv/gpio/val] \n"));
    std::remove(root_.path("/proc/qv/gpio/debugpin").c_str());
    EXPECT_EQ(SSM_GPIOPIN_Ready(), -5);
}

TEST_F(Charts, EveryChartDraws) {
    root_.writeFile("/proc/qv/pm/status", "temp: 70\nloadsum: 200\n");
    for (uint32_t id : {521u, 522u, 523u, 524u}) {
        SSM_APP_Run(id, nullptr);
        ASSERT_NE(graph(), nullptr) << id;
        EXPECT_EQ(appForm()->position.width, 960);
        EXPECT_EQ(appForm()->position.height, 360);
        EXPECT_EQ(graph()->window.position.width, 900);
        sample();
        XWM_RefreshScreen(1);
        // The form's background in the colour 1 left of the chart, the title's text colour 3.
        const XWindow* form = appForm();
        const uint8_t* pixels = form->pixels;
        const auto at = [&](int x, int y) { return pixels[size_t(form->position.y + y) * form->pitch + size_t(form->position.x + x)]; };
        EXPECT_EQ(at(5, 100), 1) << id;
        int text = 0;
        for (int y = 10; y < 28; ++y)
            for (int x = 10; x < 400; ++x) text += at(x, y) == 3;
        EXPECT_GT(text, 0) << "a title is drawn for " << id;
    }
}

TEST_F(Charts, StoppingJoinsTheSamplerAndFreesTheContext) {
    SSM_APP_Run(523, nullptr);
    XEvent event{};
    ASSERT_TRUE(nextSampleEvent(event)) << "the sampler paces the chart";
    XWM_ExecAppKeyEvent(SSM_KEY_CLOSE);
    EXPECT_FALSE(created(appForm()));
    EXPECT_EQ(veld::ssm::formData(appForm()), nullptr);
    EXPECT_EQ(SSM_APP_GetDesc(523)->state, 0);
    drainQueue();
    EXPECT_FALSE(nextSampleEvent(event, 300ms)) << "no sampler left";
}

TEST_F(Charts, SwitchingBetweenChartsLeavesMemoryFlat) {
    root_.writeFile("/proc/cmdline", "ssm.dnn_app.cpu_win=1");
    root_.writeFile("/proc/qv/pm/status", "temp: 70\nloadsum: 200\n");
    root_.writeFile("/proc/qv/de/dnn_value", "1 2 3 4\n");
    quietLog();
    const auto cycle = [] {
        for (uint32_t id : {521u, 522u, 523u, 524u, 525u}) {
            SSM_APP_Run(id, "DNN Info");  // starting one stops the one before
            XEvent event{};
            while (pollEvent(event)) XWM_ExecAppAnyEvent(&event);
            sample();
        }
        XWM_ExecAppKeyEvent(SSM_KEY_CLOSE);
        clockTick();
    };
    for (int i = 0; i < 5; ++i) cycle();
    const size_t start = heapInUse();
    for (int i = 0; i < 25; ++i) cycle();
    drainQueue();
    EXPECT_LE(heapInUse(), start + 2048) << "from " << start;
    EXPECT_FALSE(created(appForm()));
    EXPECT_FALSE(created(XDB_GetForm(veld::ssm::kDnnFormId)));
}

// ---- DNN ------------------------------------------------------------------------------------

using Dnn = Charts;

TEST_F(Dnn, CommandLineChoosesTheWindows) {
    struct Case {
        const char* cmdline;
        int32_t result;
        bool classWindow, cpuWindow;
    };
    const Case cases[] = {
        {"", -5, true, false},
        {"ssm.dnn_app.dnn_win=0 ssm.dnn_app.cpu_win=1", 0, false, true},
        {"ssm.dnn_app.dnn_win=1 ssm.dnn_app.cpu_win=1", 0, true, true},
        {"ssm.dnn_app.dnn_win=0", -5, false, false},
        {"ssm.dnn_app.cpu_win=0 ssm.dnn_app.dnn_win=10", -5, true, false},
    };
    XWindow* classForm = XDB_GetForm(veld::ssm::kDnnFormId);
    for (const Case& c : cases) {
        root_.writeFile("/proc/cmdline", c.cmdline);
        EXPECT_EQ(SSM_APP_DNNInfoAction(0, "DNN Info"), c.result) << c.cmdline;
        EXPECT_EQ(created(classForm), c.classWindow) << c.cmdline;
        EXPECT_EQ(created(appForm()), c.cpuWindow) << c.cmdline;
        if (c.classWindow) {
            EXPECT_EQ(classForm->position.x, 1920 - 170);
            EXPECT_EQ(classForm->position.width, 150);
            EXPECT_EQ(classForm->position.height, 128);
        }
        if (c.cpuWindow) {
            EXPECT_EQ(appForm()->position.width, 120);
            EXPECT_EQ(appForm()->position.height, 52);
        }
        EXPECT_EQ(SSM_APP_DNNInfoAction(1, "DNN Info"), c.result);
        EXPECT_FALSE(created(classForm)) << "mode 1 closes the class window";
        EXPECT_FALSE(created(appForm()));
    }
}

TEST_F(Dnn, ClassCountsInReverseOrderAndNegativesAsZero) {
    root_.writeFile("/proc/qv/de/dnn_value", "-3 5 7 9\n");
    SSM_APP_DNNInfoAction(0, "DNN Info");
    XWindow* classForm = XDB_GetForm(veld::ssm::kDnnFormId);
    ASSERT_TRUE(created(classForm));
    ASSERT_EQ(XWIN_ExecSimpleKeyFn(classForm, XMSG_TIME_TICK, 0), 0);
    int32_t counts[4] = {};
    ASSERT_TRUE(veld::ssm::dnnClassCounts(counts));
    EXPECT_EQ(counts[0], 9);  // "4K Good"
    EXPECT_EQ(counts[1], 7);  // "4K Normal"
    EXPECT_EQ(counts[2], 5);  // "2K Normal"
    EXPECT_EQ(counts[3], 0);  // "2K Bad"
    XWM_RefreshScreen(1);
    // Row 0: a 32 x 32 square framed in colour 10 and filled with the dimmed colour 1.
    const auto at = [&](int x, int y) {
        return classForm->pixels[size_t(classForm->position.y + y) * classForm->pitch + size_t(classForm->position.x + x)];
    };
    EXPECT_EQ(at(0, 0), 10);
    EXPECT_EQ(at(31, 31), 10);
    EXPECT_EQ(at(1, 1), XUTIL_GetDimmingColor(1));
    EXPECT_EQ(at(100, 31), 1) << "the form's own background beside the class name";

    std::remove(root_.path("/proc/qv/de/dnn_value").c_str());
    XWIN_ExecSimpleKeyFn(classForm, XMSG_TIME_TICK, 0);
    ASSERT_TRUE(veld::ssm::dnnClassCounts(counts));
    EXPECT_EQ(counts[0], 0);
    EXPECT_TRUE(logged("[xErr] can't open /proc/qv/de/dnn_value\n"));

    SSM_APP_DNNInfoAction(0, "DNN Info");  // again: the open window stays as it is
    EXPECT_TRUE(created(classForm));
    SSM_APP_DNNInfoAction(1, "DNN Info");
    EXPECT_FALSE(veld::ssm::dnnClassCounts(counts));
}

TEST_F(Dnn, CpuGpuReadOut) {
    root_.writeFile("/proc/cmdline", "ssm.dnn_app.cpu_win=1 ssm.dnn_app.dnn_win=0");
    root_.writeFile("/sys/kernel/debug/mali0/gpu_utilization", "mali0\ngpu util: 42\n");
    ASSERT_EQ(SSM_APP_DNNInfoAction(0, "DNN Info"), 0);
    XWindow* widget = veld::ssm::textAppWidget(appForm());
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(shownText(widget), "CPU:   0.0%\nGPU:  42.0%\n");
}

}  // namespace
