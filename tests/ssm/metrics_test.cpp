// The metrics record (sequence lock, publishing, the readers' mapping), its CSV columns and the
// daemon's start-up log (bounded, rotating once, whole lines only).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "ssm_metrics.h"
#include "ssm_sys.h"
#include "test_root.h"

namespace {

namespace m = veld::ssm::metrics;
using veld::test::TestRoot;

// Every field of the sample follows from n, so a sample mixed from two writes shows.
SSM_METRICS_SAMPLE derived(uint32_t n) {
    SSM_METRICS_SAMPLE s{};
    s.monoNs = uint64_t{n} * 1000003u;
    s.wallNs = ~s.monoNs;
    s.publishedNs = s.monoNs + n;
    s.sample = n;
    s.valid = n * 7u;
    for (int i = 0; i < 5; ++i) s.cpu[i] = static_cast<float>(n % 1000 + i);
    s.memTotalKb = n ^ 0x55555555u;
    s.memFreeKb = n + 1;
    s.memAvailKb = n + 2;
    s.ddrNum = static_cast<int32_t>(n);
    for (int i = 0; i < 4; ++i) s.fps[i] = n * 3u + i;
    s.chartApp = n;
    s.chartValue = -static_cast<int32_t>(n);
    return s;
}

bool consistent(const SSM_METRICS_SAMPLE& s) {
    const SSM_METRICS_SAMPLE expected = derived(s.sample);
    return std::memcmp(&s, &expected, sizeof s) == 0;
}

SSM_METRICS_RECORD freshRecord() {
    SSM_METRICS_RECORD r{};
    r.magic = SSM_METRICS_MAGIC;
    r.version = SSM_METRICS_VERSION;
    r.recordBytes = sizeof r;
    return r;
}

TEST(MetricsRecord, ReaderThreadNeverSeesATornSampleFromTheWriterThread) {
    SSM_METRICS_RECORD record = freshRecord();
    m::write(record, derived(0));
    std::atomic<bool> stop{false};
    std::atomic<uint32_t> written{0};
    std::thread writer([&] {
        for (uint32_t n = 1; !stop.load(std::memory_order_relaxed); ++n) {
            m::write(record, derived(n));
            written.store(n, std::memory_order_relaxed);
        }
    });
    size_t reads = 0, torn = 0;
    uint32_t last = 0;
    bool backwards = false;
    // Both threads run for a while, so that the reader meets the writer mid-sample many times.
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(400);
    while (std::chrono::steady_clock::now() < end || written.load() < 1000) {
        SSM_METRICS_SAMPLE s{};
        if (m::read(record, s) != m::ReadResult::kOk) continue;
        ++reads;
        torn += consistent(s) ? 0 : 1;
        backwards |= s.sample < last;
        last = s.sample;
    }
    stop = true;
    writer.join();
    EXPECT_EQ(torn, 0u) << "of " << reads << " reads";
    EXPECT_FALSE(backwards);
    EXPECT_GT(last, 0u);
}

TEST(MetricsRecord, UnknownLayoutsAndAWriterThatDiedHalfWay) {
    SSM_METRICS_RECORD record = freshRecord();
    SSM_METRICS_SAMPLE s{};
    record.version = 2;
    EXPECT_EQ(m::read(record, s), m::ReadResult::kFormat);
    record = freshRecord();
    record.magic = 0;
    EXPECT_EQ(m::read(record, s), m::ReadResult::kFormat) << "a record not yet set up";

    record = freshRecord();
    record.sequence = 7;  // a writer stopped between its two sequence steps
    EXPECT_EQ(m::read(record, s, 50), m::ReadResult::kBusy) << "readers do not take a half sample";
    m::write(record, derived(9));  // the next writer finishes the job
    ASSERT_EQ(m::read(record, s), m::ReadResult::kOk);
    EXPECT_TRUE(consistent(s));
    EXPECT_EQ(record.sequence % 2, 0u);
}

TEST(MetricsRecord, CollectorsPublishIntoTheNamespacedRecord) {
    TestRoot root;
    unsetenv("VELD_CMDLINE");
    m::RecordView before;
    std::string error;
    EXPECT_FALSE(before.open(error)) << "no record before the collectors start";
    EXPECT_NE(error.find("no metrics record"), std::string::npos) << error;

    m::start();
    ASSERT_TRUE(std::filesystem::exists("/dev/shm/" + root.ns() + ".ssm-metrics"));
    // The real collectors publish as they read.
    root.writeFile("/proc/stat", "cpu  100 0 100 800\ncpu0 50 0 50 400\ncpu1 50 0 50 400\n");
    root.writeFile("/proc/meminfo", "MemTotal: 2048000 kB\nMemFree: 512000 kB\nMemAvailable: 1024000 kB\n");
    root.writeFile("/proc/vmstat", "nr_free_pages 1\n");
    SSM_CPU_DATA cpu{};
    ASSERT_EQ(SSM_SYS_GetCPUData(&cpu), 0);
    int32_t memory[SSM_MEM_WORDS];
    ASSERT_EQ(SSM_SYS_GetMemoryData(memory), 0);
    m::publishChart(522, 47);

    m::RecordView view;
    ASSERT_TRUE(view.open(error)) << error;
    EXPECT_TRUE(view.writerAlive());
    SSM_METRICS_SAMPLE s{};
    ASSERT_EQ(m::read(*view.record(), s), m::ReadResult::kOk);
    EXPECT_EQ(s.sample, 1u) << "the CPU pass closes a sample";
    EXPECT_EQ(s.valid, SSM_METRICS_CPU | SSM_METRICS_MEMORY | SSM_METRICS_CHART);
    EXPECT_FLOAT_EQ(s.cpu[0], 20.0f);
    EXPECT_FLOAT_EQ(s.cpu[1], 20.0f);
    EXPECT_TRUE(std::isnan(s.cpu[3])) << "cpu2 has no line";
    EXPECT_EQ(s.memAvailKb, 1024000u);
    double used = 0;
    ASSERT_TRUE(m::columnValue(s, 5, used));
    EXPECT_DOUBLE_EQ(used, 1000.0);
    double value = 0;
    EXPECT_FALSE(m::columnValue(s, 3, value)) << "a CPU without a line has no figure";
    EXPECT_FALSE(m::columnValue(s, 7, value)) << "the bus monitor has not published";

    m::clearChart();
    ASSERT_EQ(m::read(*view.record(), s), m::ReadResult::kOk);
    EXPECT_EQ(s.chartApp, 0u);
    EXPECT_EQ(s.valid & SSM_METRICS_CHART, 0u);
    m::stop();
}

TEST(MetricsCsv, HeaderAndRowOfAKnownSample) {
    EXPECT_EQ(m::csvHeader(),
              "mono_s,wall_utc,sample,cpu_pct,cpu0_pct,cpu1_pct,cpu2_pct,cpu3_pct,mem_used_MB,mem_avail_MB,"
              "ddr0_pct,ddr1_pct,ddr2_pct,bw_MBps,fb0_fps,fb1_fps,fb2_fps,fb3_fps,chart_value,chart\n");
    SSM_METRICS_SAMPLE s{};
    s.monoNs = 12345678901ull;
    s.wallNs = 1700000000123456789ull;
    s.sample = 42;
    s.valid = SSM_METRICS_CPU | SSM_METRICS_MEMORY | SSM_METRICS_BUS | SSM_METRICS_FPS | SSM_METRICS_CHART;
    const float cpu[5] = {12.5f, 25, 0, 100, std::nanf("")};
    std::copy(cpu, cpu + 5, s.cpu);
    s.memTotalKb = 4096;
    s.memAvailKb = 1024;
    s.ddrNum = 2;  // ddr2 has no figure
    s.ddrLoad[0] = 10.25f;
    s.ddrLoad[1] = 5;
    s.ddrMBps[0] = 1000;
    s.ddrMBps[1] = 500.5f;
    s.ddrMBps[2] = 999;
    s.fps[0] = 600;
    s.fps[1] = 299;
    s.chartApp = 521;
    s.chartValue = -1500;
    EXPECT_EQ(m::csvRow(s),
              "12.345678,2023-11-14T22:13:20.123Z,42,12.50,25.0,0.0,100.0,,3.0,1.0,10.25,5.00,,1500.5,"
              "60.00,29.90,0.00,0.00,-1500,pcr_us\n");

    s.valid = 0;
    const std::string empty = m::csvRow(s);
    EXPECT_EQ(empty.substr(empty.find(",42,")), ",42" + std::string(17, ',') + "\n") << "nothing published: empty cells";
}

class StartupLogFiles : public ::testing::Test {
protected:
    std::string read(const std::string& path) {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::string path() const { return root_.path("/tmp/metrics.csv"); }
    TestRoot root_;
};

TEST_F(StartupLogFiles, BoundedRotatingOnceAndOnlyWholeLines) {
    m::StartupLog log;
    std::string error;
    ASSERT_TRUE(log.open(path(), 2048, error)) << error;
    SSM_METRICS_SAMPLE s{};
    s.valid = SSM_METRICS_CPU | SSM_METRICS_MEMORY;
    for (uint32_t n = 1; n <= 60; ++n) {
        s.sample = n;
        s.monoNs = n * 1000000000ull;
        ASSERT_TRUE(log.append(m::csvRow(s)));
    }
    const std::string current = read(path()), previous = read(path() + ".1");
    for (const std::string* file : {&current, &previous}) {
        EXPECT_LE(file->size(), 2048u);
        EXPECT_EQ(file->rfind(m::csvHeader(), 0), 0u) << "every file starts with the header";
        EXPECT_EQ(file->back(), '\n');
    }
    EXPECT_NE(current.find(",60,"), std::string::npos) << "the newest row is in the current file";
    EXPECT_EQ(previous.find(",1,"), std::string::npos) << "older files than FILE.1 are not kept";
    EXPECT_FALSE(std::filesystem::exists(path() + ".2"));
}

TEST_F(StartupLogFiles, ATornLastLineIsCutAndThePreviousRunKept) {
    root_.writeFile("/tmp/metrics.csv", m::csvHeader() + "1.000000,x,1\n2.000000,x,2\n3.00");
    m::StartupLog log;
    std::string error;
    ASSERT_TRUE(log.open(path(), 4096, error)) << error;
    EXPECT_EQ(read(path() + ".1"), m::csvHeader() + "1.000000,x,1\n2.000000,x,2\n");
    EXPECT_EQ(read(path()), m::csvHeader());

    TestRoot other;
    m::StartupLog missing;
    EXPECT_FALSE(missing.open(other.path("/no/such/folder/m.csv"), 4096, error));
    EXPECT_FALSE(error.empty());
}

TEST_F(StartupLogFiles, TheDaemonLogsFromTheCommandLineKey) {
    setenv("VELD_CMDLINE", "quiet ssm.metrics_log=/tmp/metrics.csv ssm.metrics_log_kb=1", 1);
    m::start();
    root_.writeFile("/proc/stat", "cpu  1 0 1 8\n");
    SSM_CPU_DATA cpu{};
    for (int i = 0; i < 20; ++i) ASSERT_EQ(SSM_SYS_GetCPUData(&cpu), 0);
    m::stop();
    unsetenv("VELD_CMDLINE");
    EXPECT_LE(read(path()).size(), 1024u);
    EXPECT_LE(read(path() + ".1").size(), 1024u);
    EXPECT_NE(read(path()).find(",20,"), std::string::npos) << read(path());
}

}  // namespace
