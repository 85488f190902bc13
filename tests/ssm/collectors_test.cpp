// The monitor's collectors against small kernel files in a private root.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "ssm_sys.h"
#include "test_root.h"
#include "xdrv.h"
#include "xstring.h"

namespace {

using veld::test::TestRoot;

class Collectors : public ::testing::Test {
protected:
    void SetUp() override { veld::ssm::resetCollectors(); }
    TestRoot root_;
};

TEST_F(Collectors, CpuDeltasPerLineAndMissingLines) {
    root_.writeFile("/proc/stat",
                    "cpu  100 10 50 840 0 0 0\ncpu0 60 5 30 405\nintr 1 2 3\n");
    SSM_CPU_DATA block{};
    ASSERT_EQ(SSM_SYS_GetCPUData(&block), 0);
    EXPECT_EQ(block.delta[0].total, 1000u) << "the first call reports the counts since boot";
    root_.writeFile("/proc/stat", "cpu  150 10 100 940\ncpu0 90 5 50 455\n");
    ASSERT_EQ(SSM_SYS_GetCPUData(&block), 0);
    EXPECT_EQ(block.delta[0].user, 50u);
    EXPECT_EQ(block.delta[0].system, 50u);
    EXPECT_EQ(block.delta[0].idle, 100u);
    EXPECT_EQ(block.delta[0].total, 200u);
    EXPECT_EQ(block.delta[1].total, 100u);
    for (int i = 2; i < SSM_CPU_RECORDS; ++i) EXPECT_EQ(block.delta[i].total, 0u) << "cpu" << i - 1;

    float busy = -1;
    SSM_SYS_GetCPUUsageInfo(&busy);
    EXPECT_FLOAT_EQ(busy, 50.0f);
    SSM_CPU_RECORD last{};
    SSM_SYS_GetCPUInfo(&last);
    EXPECT_EQ(last.total, 200u);
}

TEST_F(Collectors, CpuUsageWithoutTicksAndGarbageFiles) {
    root_.writeFile("/proc/stat", "cpu  1 1 1 1\n");
    SSM_CPU_DATA block{};
    ASSERT_EQ(SSM_SYS_GetCPUData(&block), 0);
    ASSERT_EQ(SSM_SYS_GetCPUData(&block), 0);  // nothing moved: a zero total delta
    float busy = -1;
    SSM_SYS_GetCPUUsageInfo(&busy);
    EXPECT_EQ(busy, 0.0f);

    for (const std::string& garbage : {std::string("cpu \n"), std::string("cpu0 x y z\n"),
                                       std::string("cpu  99999999999999999999 -5 abc\n"),
                                       std::string(5000, 'c')}) {
        root_.writeFile("/proc/stat", garbage);
        EXPECT_EQ(SSM_SYS_GetCPUData(&block), 0) << garbage;
    }
    std::remove(root_.path("/proc/stat").c_str());
    EXPECT_EQ(SSM_SYS_GetCPUData(&block), -5);
}

TEST_F(Collectors, MemoryKeysArePrefixMatchesAndTheLastLineWins) {
    root_.writeFile("/proc/meminfo",
                    "MemTotal:        2048000 kB\nMemFree:    1024 kB\nInactive:  500 kB\n"
                    "Inactive(anon):  300 kB\nInactive(file):  200 kB\nCmaTotal: 99999999999 kB\n");
    root_.writeFile("/proc/vmstat", "nr_free_pages 256\nnr_anon_pages 7\n");
    int32_t data[SSM_MEM_WORDS];
    ASSERT_EQ(SSM_SYS_GetMemoryData(data), 0);
    EXPECT_EQ(data[0], 2048000);
    EXPECT_EQ(data[1], 1024);
    EXPECT_EQ(data[2], 0) << "absent keys are 0";
    EXPECT_EQ(data[13], 200) << "Inactive(file) is the last prefix match";
    EXPECT_EQ(data[9], INT32_MAX) << "over-long numbers stay within 32 bits";
    EXPECT_EQ(data[16], 256);
    EXPECT_EQ(data[17], 7);
    EXPECT_EQ(data[18], 0);

    std::remove(root_.path("/proc/vmstat").c_str());
    EXPECT_EQ(SSM_SYS_GetMemoryData(data), -5);
    EXPECT_EQ(data[0], 2048000) << "meminfo figures stay when vmstat is missing";
}

TEST_F(Collectors, BusMonitorRatiosRawTextAndDdrCount) {
    int32_t ignored[SSM_MEM_WORDS];
    (void)ignored;
    SSM_PMT_DATA pmt{};
    EXPECT_EQ(SSM_SYS_GetPmtData(&pmt), -5) << "not valid before the first read";

    root_.writeFile("/proc/qv/qvbus/pmtinfo", "ddr bandwidth\nTOTAL 100 300 50 50 1 1\n");
    veld::ssm::samplePmtOnce();  // ddr_num 3, but no limits known yet: ratios stay 0
    ASSERT_EQ(SSM_SYS_GetPmtData(&pmt), 0);
    EXPECT_EQ(pmt.ratio[0], 0.0f);

    char text[4096];
    XString raw{0, text};
    ASSERT_EQ(SSM_SYS_GetRawPmtText(&raw, sizeof text), 0);
    EXPECT_EQ(std::string(text, raw.length), "ddr bandwidth\nTOTAL 100 300 50 50 1 1\n");
    XString small{0, text};
    ASSERT_EQ(SSM_SYS_GetRawPmtText(&small, 5), 0);
    EXPECT_EQ(small.length, 5u);
}

TEST_F(Collectors, BusMonitorInitReadsLimitsAndDdrNumTwo) {
    root_.writeFile("/proc/qv/qvbus/pmtctrl", "");
    root_.writeFile("/proc/qv/qvbus/pmtopts", "");
    root_.writeFile("/proc/qv/qvbus/status", "ddr_num: 2\nddr0.max_bw: 1000\nddr1.max_bw: 500\n");
    root_.writeFile("/proc/qv/qvbus/pmtinfo", "TOTAL 100 300 50 50 7 7\n");
    SSM_SYS_Init();
    EXPECT_EQ(root_.readFile("/proc/qv/qvbus/pmtctrl"), " 1");
    EXPECT_EQ(root_.readFile("/proc/qv/qvbus/pmtopts"), " -pmt_sync +pmt_bw_org +pmt_bw_dummy");
    veld::ssm::samplePmtOnce();
    SSM_PMT_DATA pmt{};
    ASSERT_EQ(SSM_SYS_GetPmtData(&pmt), 0);
    EXPECT_EQ(pmt.ddrNum, 2);
    EXPECT_FLOAT_EQ(pmt.ratio[0], 40.0f);
    EXPECT_FLOAT_EQ(pmt.ratio[1], 20.0f);
    EXPECT_EQ(pmt.ratio[2], 0.0f) << "only ddr_num DDRs are computed";

    // Without a TOTAL line the ratios keep their values; the raw text is still refreshed.
    root_.writeFile("/proc/qv/qvbus/pmtinfo", "nothing here\n");
    veld::ssm::samplePmtOnce();
    ASSERT_EQ(SSM_SYS_GetPmtData(&pmt), 0);
    EXPECT_FLOAT_EQ(pmt.ratio[0], 40.0f);

    // A long text is cut after the line that takes it past 3975 bytes.
    std::string longText;
    for (int i = 0; i < 100; ++i) longText += std::string(49, 'a' + i % 26) + "\n";
    root_.writeFile("/proc/qv/qvbus/pmtinfo", longText);
    veld::ssm::samplePmtOnce();
    char text[4096];
    XString raw{0, text};
    ASSERT_EQ(SSM_SYS_GetRawPmtText(&raw, sizeof text), 0);
    EXPECT_EQ(raw.length, 4000u);
}

TEST(FlipRate, CountsOverElapsedTime) {
    struct Case {
        uint64_t count, previous;
        uint32_t elapsed;
        uint32_t expected;
    } cases[] = {
        {1060, 1000, 1000, 600},          // 60.0 frames per second
        {1030, 1000, 1000, 300},
        {0, 1000, 1000, 0},               // no counter: 0
        {1060, 1000, 0, 0},               // no time passed: nothing to divide by
        {0x100000010ull, 0xFFFFFFF0ull, 1000, 320},  // the low 32 bits wrapped
        {5, 1000, 1, UINT32_MAX},         // a counter that went back stays representable
    };
    for (const Case& c : cases)
        EXPECT_EQ(veld::ssm::flipRate(c.count, c.previous, c.elapsed), c.expected) << c.count;
}

TEST_F(Collectors, FirstFrameRatePassOnlyRecordsCounters) {
    root_.writeFile("/proc/qv/fbdev/fb0/status", "layer 0\nflip_count 1000\n");
    veld::ssm::sampleFpsOnce();
    uint32_t fps[4] = {9, 9, 9, 9};
    ASSERT_EQ(SSM_SYS_GetOSDFpsData(fps), 0);
    for (uint32_t v : fps) EXPECT_EQ(v, 0u);
}

TEST_F(Collectors, LaterFrameRatePassesMeasureFromTheTickAndCarryTheCounts) {
    // fb0 and fb1 flip, fb2 has no status file, fb3 has a status without a counter line.
    auto counters = [&](uint64_t fb0, uint64_t fb1) {
        root_.writeFile("/proc/qv/fbdev/fb0/status", "layer 0\nflip_count " + std::to_string(fb0) + "\n");
        root_.writeFile("/proc/qv/fbdev/fb1/status", "flip_count\t" + std::to_string(fb1) + " total\n");
        root_.writeFile("/proc/qv/fbdev/fb3/status", "layer 3\n");
    };
    // The tick before and after a pass: the pass took its own reading in between.
    struct Pass {
        uint32_t before, after;
    };
    auto pass = [] {
        Pass p{XUTIL_GetTick(), 0};
        veld::ssm::sampleFpsOnce();
        p.after = XUTIL_GetTick();
        return p;
    };
    // The rates lie between those over the longest and the shortest possible elapsed time.
    auto expectRates = [](const Pass& earlier, const Pass& later, const uint64_t (&counts)[4],
                          const uint64_t (&previous)[4]) {
        uint32_t fps[4] = {};
        ASSERT_EQ(SSM_SYS_GetOSDFpsData(fps), 0);
        for (int n = 0; n < 4; ++n) {
            const uint32_t slowest = veld::ssm::flipRate(counts[n], previous[n], later.after - earlier.before);
            const uint32_t fastest = veld::ssm::flipRate(counts[n], previous[n], later.before - earlier.after);
            EXPECT_GE(fps[n], slowest) << "fb" << n;
            EXPECT_LE(fps[n], fastest) << "fb" << n;
        }
    };

    counters(1000, 500);
    const Pass first = pass();
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    counters(1060, 530);
    const Pass second = pass();
    expectRates(first, second, {1060, 530, 0, 0}, {1000, 500, 0, 0});
    uint32_t fps[4] = {};
    ASSERT_EQ(SSM_SYS_GetOSDFpsData(fps), 0);
    EXPECT_GT(fps[0], 600u) << "60 flips in well under a second are more than 60 per second";

    // The third pass counts from the second's counters, not the first's.
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
    counters(1090, 530);
    const Pass third = pass();
    expectRates(second, third, {1090, 530, 0, 0}, {1060, 530, 0, 0});
    ASSERT_EQ(SSM_SYS_GetOSDFpsData(fps), 0);
    EXPECT_EQ(fps[1], 0u) << "no flips since the last pass";
}

TEST_F(Collectors, DumpTextFileStopsAtCapacity) {
    root_.writeFile("/proc/qv/base/status", "line one\nline two\nline three\n");
    char buffer[32] = {};
    XString s{0, buffer};
    ASSERT_EQ(SSM_SYS_DumpTextFile("/proc/qv/base/status", &s, 20), 0);
    EXPECT_EQ(std::string(buffer, s.length), "line one\nline two\n");
    EXPECT_EQ(SSM_SYS_DumpTextFile("/proc/missing", &s, 20), -5);
    EXPECT_EQ(s.length, 0u);
}

}  // namespace
