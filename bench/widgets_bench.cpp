// Widget costs: wrapping a 64 KiB text into a text view, and rendering a full chart of 1100
// samples. Each is measured beside its baseline in the same run: a plain memcpy of the text
// and a straightforward std::string wrap with the same rules for the text view; a memset of
// the chart's rectangle and the 1100 bare line calls of its polyline for the chart. The
// times (µs per operation) and the ratios are printed at the end.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "widgets/xgraph_wgt.h"
#include "widgets/xtext_wgt.h"
#include "xdrv.h"
#include "xgrp.h"
#include "xwindow.h"

namespace {

constexpr size_t kTextBytes = 64 * 1024;
constexpr uint16_t kTextWidth = 940;  // a text app's view on a 960-pixel window
constexpr int32_t kSamples = 1100;
constexpr uint16_t kDisplayWidth = 1280;
constexpr uint16_t kDisplayHeight = 720;
const XPosInfo kChartBox{30, 40, 900, 270};

// Lines of 20 to 199 printable characters, as a kernel status file would give.
const std::string& text() {
    static const std::string t = [] {
        std::string s;
        uint32_t seed = 12345;
        while (s.size() < kTextBytes) {
            seed = seed * 1103515245u + 12345u;
            const size_t length = 20 + (seed >> 16) % 180;
            for (size_t i = 0; i < length && s.size() < kTextBytes - 1; ++i)
                s += char('!' + (seed + i * 7) % 94);
            s += '\n';
        }
        s.resize(kTextBytes);
        return s;
    }();
    return t;
}

// A form on a display of our own memory, so that rendering writes real pixels.
struct Screen {
    std::vector<uint8_t> pixels = std::vector<uint8_t>(size_t(kDisplayWidth) * kDisplayHeight);
    XDisplay display{};
    XWindow form{};

    Screen() {
        const XPosInfo whole{0, 0, kDisplayWidth, kDisplayHeight};
        XWIN_Create(&form, 0, nullptr, 2, 0, 0, nullptr, nullptr, &whole);
        display.width = kDisplayWidth;
        display.height = kDisplayHeight;
        display.pixels = pixels.data();
        form.pixels = pixels.data();
        form.pitch = kDisplayWidth;
        form.display = &display;
    }
    ~Screen() {
        form.pixels = nullptr;  // nothing to paint over when the form goes
        XWIN_Destroy(&form, 0);
    }
};

void Wrap64K_TextView(benchmark::State& state) {
    Screen screen;
    const XPosInfo box{10, 10, kTextWidth, 600};
    XTextWgt* widget = XTextWgt_Create(&screen.form, 0, 1, &box);
    const std::string& t = text();
    for (auto _ : state) {
        XTextWgt_UpdateText(widget, uint32_t(t.size()), t.data(), 1);
        benchmark::DoNotOptimize(widget->totalLines);
    }
    state.counters["lines"] = widget->totalLines;
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(t.size()));
}

// The same rules written the obvious way: a vector of strings, one per line.
void Wrap64K_StdString(benchmark::State& state) {
    const std::string& t = text();
    for (auto _ : state) {
        std::vector<std::string> lines;
        std::string line;
        int width = 0;
        for (char c : t) {
            if (c == '\n' || c == '\r') {
                lines.push_back(std::move(line));
                line.clear();
                width = 0;
                continue;
            }
            if (!line.empty() && width + 8 >= kTextWidth) {
                lines.push_back(std::move(line));
                line.clear();
                width = 0;
            }
            line += c;
            width += 8;
        }
        if (!line.empty()) lines.push_back(std::move(line));
        benchmark::DoNotOptimize(lines.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(t.size()));
}

void Wrap64K_Memcpy(benchmark::State& state) {
    const std::string& t = text();
    std::vector<char> copy(t.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), t.data(), t.size());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(t.size()));
}

// A full ring of a CPU-load-like curve over the chart's x range.
XGraphWgt* fullChart(Screen& screen) {
    XGraphWgt* chart = XGraphWgt_CreateWgt(&screen.form, 0, 111, kSamples, &kChartBox);
    XGraphWgt_SetXRange(chart, 0, 2 * kSamples, 500);
    XGraphWgt_SetYRange(chart, 0, 400, 50);
    XGraphWgt_SetYLabel(chart, "0 %", "400%");
    for (int32_t i = 0; i < kSamples; ++i) {
        const XGraphSample sample{2 * i, (i * 37) % 400, {}};
        XGraphWgt_AddData(chart, &sample);
    }
    return chart;
}

void Chart1100_Render(benchmark::State& state) {
    Screen screen;
    XGraphWgt* chart = fullChart(screen);
    for (auto _ : state) {
        XWIN_Render(&chart->window);
        benchmark::ClobberMemory();
    }
}

// The polyline alone: the same 1100 points through the drawing call, mapped beforehand.
void Chart1100_BareLines(benchmark::State& state) {
    Screen screen;
    XGraphWgt* chart = fullChart(screen);
    std::vector<std::pair<int16_t, int16_t>> points;
    for (int32_t i = 0; i < kSamples; ++i) {
        int32_t px = 0;
        int32_t py = 0;
        veld::xwgt::mapGraphPoint(*chart, chart->samples[i].x, chart->samples[i].y, &px, &py);
        points.emplace_back(int16_t(kChartBox.x + px), int16_t(kChartBox.y + py));
    }
    screen.form.gc.fillColor = 12;
    for (auto _ : state) {
        for (size_t i = 1; i < points.size(); ++i)
            XGRP_DrawLine(&screen.form, points[i - 1].first, points[i - 1].second, points[i].first,
                          points[i].second);
        benchmark::ClobberMemory();
    }
}

void Chart1100_Memset(benchmark::State& state) {
    Screen screen;
    for (auto _ : state) {
        for (int y = 0; y < kChartBox.height; ++y)
            std::memset(screen.pixels.data() + size_t(kChartBox.y + y) * kDisplayWidth + kChartBox.x,
                        1, kChartBox.width);
        benchmark::ClobberMemory();
    }
}

double maxOf(const std::vector<double>& v) { return v.empty() ? 0.0 : *std::max_element(v.begin(), v.end()); }
double minOf(const std::vector<double>& v) { return v.empty() ? 0.0 : *std::min_element(v.begin(), v.end()); }
#define WIDGET_BENCH(f) \
    BENCHMARK(f)->Repetitions(5)->ReportAggregatesOnly(true)->ComputeStatistics("min", minOf)->Unit(benchmark::kMicrosecond)

WIDGET_BENCH(Wrap64K_TextView);
WIDGET_BENCH(Wrap64K_StdString);
WIDGET_BENCH(Wrap64K_Memcpy);
WIDGET_BENCH(Chart1100_Render);
WIDGET_BENCH(Chart1100_BareLines);
WIDGET_BENCH(Chart1100_Memset);

// Keeps the console output and remembers each benchmark's best time per operation (µs).
class TimeReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            if (r.error_occurred || r.run_type != Run::RT_Aggregate || r.aggregate_name != "min")
                continue;
            micros[r.run_name.function_name] = r.GetAdjustedCPUTime();  // in the run's unit: µs
        }
    }
    std::map<std::string, double> micros;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    TimeReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto get = [&](const char* name) {
        auto it = reporter.micros.find(name);
        return it == reporter.micros.end() ? 0.0 : it->second;
    };
    const auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
    const double wrap = get("Wrap64K_TextView"), naive = get("Wrap64K_StdString"),
                 copy = get("Wrap64K_Memcpy");
    const double chart = get("Chart1100_Render"), lines = get("Chart1100_BareLines"),
                 fill = get("Chart1100_Memset");
    std::printf("\nCPU µs per operation (best of 5)\n");
    std::printf("wrap 64 KiB text view   %9.1f   std::string wrap %9.1f (ratio %.2f)   memcpy %7.1f (ratio %.1f)\n",
                wrap, naive, ratio(wrap, naive), copy, ratio(wrap, copy));
    std::printf("render 1100-sample chart %8.1f   bare polyline    %9.1f (ratio %.2f)   memset %7.1f (ratio %.1f)\n",
                chart, lines, ratio(chart, lines), fill, ratio(chart, fill));
    benchmark::Shutdown();
    return 0;
}
