// veldctl metrics on known series: the summary's figures, the live line's width, and the plot
// of a recorded CSV checked on its pixels (and read back from the PNG).
#include <gtest/gtest.h>
#include <png.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "metrics.h"
#include "metrics_plot.h"
#include "test_root.h"

namespace {

namespace m = veld::ssm::metrics;
using veld::tools::ColumnSummary;

TEST(MetricsSummary, FiguresOfKnownSeries) {
    std::vector<double> hundred;
    for (int i = 100; i >= 1; --i) hundred.push_back(i);  // order must not matter
    struct Case {
        std::vector<double> values;
        ColumnSummary expected;
    } cases[] = {
        {hundred, {100, 1, 50.5, 100, 99}},
        {{7}, {1, 7, 7, 7, 7}},
        {{1, 1, 1, 1, 1, 1, 1, 1, 1, 50}, {10, 1, 5.9, 50, 50}},  // p99 of ten is the largest
        {{-3, 3}, {2, -3, 0, 3, 3}},
        {{}, {0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        const ColumnSummary s = veld::tools::summarize(c.values);
        EXPECT_EQ(s.count, c.expected.count);
        EXPECT_DOUBLE_EQ(s.min, c.expected.min);
        EXPECT_DOUBLE_EQ(s.avg, c.expected.avg);
        EXPECT_DOUBLE_EQ(s.max, c.expected.max);
        EXPECT_DOUBLE_EQ(s.p99, c.expected.p99) << c.values.size() << " values";
    }
}

SSM_METRICS_SAMPLE cpuSample(uint32_t n, float cpu) {
    SSM_METRICS_SAMPLE s{};
    s.sample = n;
    s.monoNs = n * 1000000000ull;
    s.valid = SSM_METRICS_CPU;
    for (float& c : s.cpu) c = cpu;
    return s;
}

TEST(MetricsSummary, PrintedTablePerColumn) {
    veld::tools::MetricsSummary summary;
    for (uint32_t n = 1; n <= 4; ++n) summary.add(cpuSample(n, static_cast<float>(n * 10)));
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    summary.print(out);
    std::fclose(out);
    const std::string table(text, size);
    std::free(text);
    EXPECT_NE(table.find("summary of 4 samples over 3.0 s"), std::string::npos) << table;
    EXPECT_NE(table.find("cpu_pct        %                10.00      25.00      40.00      40.00\n"), std::string::npos)
        << table;
    EXPECT_NE(table.find("fb0_fps        fps                  -          -          -          -\n"), std::string::npos)
        << "columns without values say so\n" << table;
}

TEST(MetricsLive, LinesFitOneHundredColumnsWithUnits) {
    const std::string header = veld::tools::liveHeader();
    const size_t newline = header.find('\n');
    EXPECT_LE(newline, 100u);
    EXPECT_LE(header.size() - newline - 2, 100u);
    EXPECT_NE(header.find("MB/s"), std::string::npos);
    EXPECT_NE(header.find("fps"), std::string::npos);

    SSM_METRICS_SAMPLE s = cpuSample(1, 100);
    s.valid = SSM_METRICS_CPU | SSM_METRICS_MEMORY | SSM_METRICS_BUS | SSM_METRICS_FPS | SSM_METRICS_CHART;
    s.memTotalKb = 4000000000u;  // the largest figures each cell may meet
    s.ddrNum = 3;
    for (float& d : s.ddrLoad) d = 100;
    for (float& d : s.ddrMBps) d = 99999;
    for (uint32_t& f : s.fps) f = 2400;
    s.chartApp = 521;
    s.chartValue = -2000000;
    for (double t : {0.0, 99999.9, 99999.97, 3e7}) {
        const std::string line = veld::tools::liveLine(t, s);
        EXPECT_LE(line.size() - 1, 100u) << line;
        EXPECT_EQ(line.size(), newline + 1) << "cells line up under the header\n" << header << line;
    }
    const std::string empty = veld::tools::liveLine(1, SSM_METRICS_SAMPLE{});
    EXPECT_EQ(empty.size(), newline + 1);
    EXPECT_NE(empty.find("     -"), std::string::npos) << "missing figures are a dash: " << empty;
}

// A known run: CPU constant at 50 %, memory used rising from 100 to 200 MB over 10 s while the
// available memory falls from 900 to 800 MB.
std::string knownCsv() {
    std::string text = m::csvHeader();
    for (int i = 0; i <= 10; ++i) {
        SSM_METRICS_SAMPLE s = cpuSample(static_cast<uint32_t>(i + 1), 50);
        s.monoNs = 1000000000ull * static_cast<uint64_t>(100 + i);
        s.valid |= SSM_METRICS_MEMORY;
        s.memTotalKb = 1024u * 1000;
        s.memAvailKb = 1024u * static_cast<uint32_t>(900 - 10 * i);
        text += m::csvRow(s);
    }
    return text + "111.0000";  // a torn last line is skipped
}

TEST(MetricsPlot, KnownSeriesOnPixels) {
    veld::test::TestRoot root;
    root.writeFile("/run.csv", knownCsv());
    veld::tools::MetricsTable table;
    std::string error;
    ASSERT_TRUE(veld::tools::readMetricsCsv(root.path("/run.csv"), table, error)) << error;
    ASSERT_EQ(table.time.size(), 11u);
    EXPECT_DOUBLE_EQ(table.time.back(), 10.0) << "time counts from the first row";

    std::vector<veld::tools::PlotPanel> panels;
    const veld::tools::RgbCanvas c = veld::tools::drawMetrics(table, &panels);
    ASSERT_EQ(panels.size(), 2u) << "CPU and memory only: nothing else has values";
    const auto& cpu = panels[0];
    const auto& mem = panels[1];
    EXPECT_EQ(cpu.quantity, m::Quantity::kCpu);
    EXPECT_EQ(mem.quantity, m::Quantity::kMemory);
    EXPECT_LT(cpu.y + cpu.height, mem.y) << "stacked from the top";
    EXPECT_EQ(cpu.low, 0);
    EXPECT_EQ(cpu.high, 100);
    EXPECT_EQ(mem.high, 1000) << "a round axis top above the largest value (900 MB available)";

    // 50 % sits on the middle row of the CPU area all along; above and below it is background.
    const int middle = cpu.y + (cpu.height - 1) / 2;
    // All five CPU series lie on each other; the last one drawn (cpu3) shows.
    const uint32_t cpu3 = veld::tools::plotSeriesColour(4);
    for (int x : {cpu.x, cpu.x + cpu.width / 3, cpu.x + cpu.width - 1}) {
        EXPECT_TRUE(c.at(x, middle) == cpu3 || c.at(x, middle + 1) == cpu3) << "x " << x;
        EXPECT_EQ(c.at(x, cpu.y + 10), veld::tools::kPlotBackground) << x;
        EXPECT_EQ(c.at(x, cpu.y + cpu.height - 10), veld::tools::kPlotBackground) << x;
    }
    // Memory used rises linearly: 150 MB at 5 s lies 85 % of the way down an axis of 0..1000.
    const int x5 = mem.x + (mem.width - 1) / 2;
    const int y150 = mem.y + static_cast<int>(std::lround(0.85 * (mem.height - 1)));
    bool found = false;
    for (int dy = -2; dy <= 2; ++dy) found |= c.at(x5, y150 + dy) == veld::tools::plotSeriesColour(0);
    EXPECT_TRUE(found) << "used memory passes (" << x5 << ", " << y150 << ")";
    EXPECT_EQ(c.at(mem.x - 1, mem.y + 20), 0x404040u) << "the frame";

    // The PNG holds the same picture.
    ASSERT_TRUE(veld::tools::plotCsvFile(root.path("/run.csv"), root.path("/run.png"), error)) << error;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, root.path("/run.png").c_str()));
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr));
    ASSERT_EQ(static_cast<int>(image.width), c.width);
    ASSERT_EQ(static_cast<int>(image.height), c.height);
    EXPECT_EQ(rgb, c.rgb);
}

TEST(MetricsPlot, FilesThatAreNoMetricsCsv) {
    veld::test::TestRoot root;
    root.writeFile("/empty.csv", "");
    root.writeFile("/other.csv", "a,b,c\n1,2,3\n");
    root.writeFile("/header.csv", m::csvHeader());
    std::string error;
    for (const char* name : {"/missing.csv", "/empty.csv", "/other.csv", "/header.csv"}) {
        error.clear();
        EXPECT_FALSE(veld::tools::plotCsvFile(root.path(name), root.path("/out.png"), error)) << name;
        EXPECT_NE(error.find(name), std::string::npos) << error;
    }
    EXPECT_FALSE(std::ifstream(root.path("/out.png")).good());
}

}  // namespace
