// The monitor apps' costs, in-process on the real window system in a private root: one chart
// sample (the sampling event reads the power manager's status and the uptime and adds the
// point), the chart's redraw at its tick with a full ring of 1100 samples, and the all-pools
// page for 12 memory pools. Each is measured beside its physical baseline in the same run: a
// plain read of the same kernel files (the sample, the pools page) and a memset of the app
// window (the redraw). The times (µs per operation) and the ratios are printed at the end,
// with the cost per sample of a chart at its pace (50 samples, 5 redraws a second).
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "seam.h"
#include "ssm_app.h"
#include "ssm_charts.h"
#include "ssm_viewers.h"
#include "veld_framebuffer.h"
#include "xdrv.h"
#include "xwm.h"

namespace {

namespace fs = std::filesystem;
std::string gRoot;
constexpr int kPools = 12;

void write(const std::string& fixedPath, const std::string& text) {
    fs::create_directories(fs::path(gRoot + fixedPath).parent_path());
    std::ofstream(gRoot + fixedPath) << text;
}

void makeRoot() {
    char pattern[] = "/tmp/vab.XXXXXX";
    gRoot = mkdtemp(pattern);
    write("/proc/qv/fbdev/fb0/fbmem", "0 0 1920 1080\n");
    write("/proc/qv/pm/status", "avs: on\nvcore: 900 mV\ntemp: 70\nloadsum: 161\nfreq: 1400 MHz\n");
    write("/proc/uptime", "20.00 35.00\n");
    for (int i = 0; i < kPools; ++i) {
        const std::string pool = "/proc/hma/pool" + std::to_string(i);
        char debug[256];
        std::snprintf(debug, sizeof debug,
                      "name = pool%d\nsize = 0x%x\nfree_size = 0x%x\npeak_size = 0x%x\n"
                      "max_available_size = 0x%x\nalloc_count = 9\nalloc_maxtime = 2500000\n",
                      i, (i + 1) << 24, (i + 1) << 22, (i + 1) << 23, (i + 1) << 21);
        write(pool + "/debug", debug);
        std::string status = "obj  addr        size      state\n";
        for (int k = 0; k < 12; ++k)
            status += "  " + std::to_string(k) + "  0x10000000  0x100000  " + (k < 9 ? "used\n" : "notused\n");
        write(pool + "/status", status);
    }
    write("/proc/hma/video_cma/debug", "size = 0x1000000\n");  // left out of the page
    setenv("VELD_ROOT", gRoot.c_str(), 1);
    setenv("VELD_NS", ("vab" + std::to_string(getpid())).c_str(), 1);
    setenv("VELD_CMDLINE", "", 1);
}

void cleanup() {
    const int q = msgget(veld::seam::sysvKey(veld::xdrv::queueKey("uxm-evq")), 0);
    if (q >= 0) msgctl(q, IPC_RMID, nullptr);
    VELD_HOST_FB_Unlink(1);
    const std::string ns = std::getenv("VELD_NS");
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/dev/shm", ec))
        if (e.path().filename().string().find(ns) != std::string::npos) fs::remove(e.path(), ec);
    fs::remove_all(gRoot, ec);
}

// The window system with the CPU load chart running, its ring full over the x range.
class RunningChart {
public:
    RunningChart() {
        veld::ssm::resetApps();
        INITIALIZE_TASK(0);
        XWM_Init();
        SSM_RC_Init();
        SSM_APP_Run(523, nullptr);
        form = XDB_GetForm(SSM_FORM_APP);
        XGraphWgt* chart = veld::ssm::chartWidget(form);
        for (int32_t i = 0; i < chart->capacity; ++i) {
            const XGraphSample sample{i * 2000 / chart->capacity, 100 + (i * 37) % 200, {}};
            XGraphWgt_AddData(chart, &sample);
        }
        XGraphWgt_SetXRange(chart, 0, 2000, 500);
        XWM_RefreshScreen(1);
    }
    ~RunningChart() {
        SSM_APP_Exit(523, nullptr);
        XWM_DestroyAllObjects();
        // The sampler's events have nobody to read them here.
        XEvent event{};
        struct {
            long type;
            XEvent event;
        } message{};
        while (msgrcv(veld::xdrv::eventQueueId(), &message, sizeof event, 0, IPC_NOWAIT) >= 0) {
        }
    }
    XWindow* form = nullptr;
};

void ChartSample_ReadAndAdd(benchmark::State& state) {
    RunningChart chart;
    for (auto _ : state) XWIN_ExecSimpleKeyFn(chart.form, static_cast<uint16_t>(SSM_EVENT_SAMPLE), 0);
}

void ChartSample_RawRead(benchmark::State& state) {
    char buffer[4096];
    const std::string files[] = {gRoot + "/proc/qv/pm/status", gRoot + "/proc/uptime"};
    for (auto _ : state) {
        for (const std::string& f : files) {
            const int fd = open(f.c_str(), O_RDONLY);
            while (read(fd, buffer, sizeof buffer) > 0) {
            }
            close(fd);
        }
        benchmark::ClobberMemory();
    }
}

void ChartTick_Redraw(benchmark::State& state) {
    RunningChart chart;
    for (auto _ : state) {
        XWIN_ExecSimpleKeyFn(chart.form, XMSG_TIME_TICK, 0);
        XWM_RefreshScreen(0);
    }
}

void ChartTick_Memset(benchmark::State& state) {
    RunningChart chart;
    const XWindow* form = chart.form;
    for (auto _ : state) {
        for (int y = 0; y < form->position.height; ++y)
            std::memset(form->pixels + size_t(form->position.y + y) * form->pitch + size_t(form->position.x), 1,
                        form->position.width);
        benchmark::ClobberMemory();
    }
}

void AllPools12_Page(benchmark::State& state) {
    for (auto _ : state) {
        XString page = veld::ssm::allPoolsPage();
        benchmark::DoNotOptimize(page.length);
        XUTIL_FreeString(page);
    }
}

// The same folder walk and the same 24 files, read raw.
void AllPools12_RawRead(benchmark::State& state) {
    char buffer[4096];
    const std::string hma = gRoot + "/proc/hma";
    for (auto _ : state) {
        DIR* dir = opendir(hma.c_str());
        while (dirent* e = readdir(dir)) {
            struct stat st{};
            if (e->d_name[0] == '.' || fstatat(dirfd(dir), e->d_name, &st, 0) != 0 || std::strstr(e->d_name, "_cma"))
                continue;
            for (const char* file : {"/debug", "/status"}) {
                const int fd = open((hma + "/" + e->d_name + file).c_str(), O_RDONLY);
                while (read(fd, buffer, sizeof buffer) > 0) {
                }
                close(fd);
            }
        }
        closedir(dir);
        benchmark::ClobberMemory();
    }
}

double minOf(const std::vector<double>& v) { return v.empty() ? 0.0 : *std::min_element(v.begin(), v.end()); }
#define APPS_BENCH(f) \
    BENCHMARK(f)->Repetitions(5)->ReportAggregatesOnly(true)->ComputeStatistics("min", minOf)->Unit(benchmark::kMicrosecond)

APPS_BENCH(ChartSample_ReadAndAdd);
APPS_BENCH(ChartSample_RawRead);
APPS_BENCH(ChartTick_Redraw);
APPS_BENCH(ChartTick_Memset);
APPS_BENCH(AllPools12_Page);
APPS_BENCH(AllPools12_RawRead);

// Keeps the console output and remembers each benchmark's best time per operation (µs).
class TimeReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            if (r.error_occurred || r.run_type != Run::RT_Aggregate || r.aggregate_name != "min") continue;
            micros[r.run_name.function_name] = r.GetAdjustedCPUTime();  // in the run's unit: µs
        }
    }
    std::map<std::string, double> micros;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    makeRoot();
    TimeReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto get = [&](const char* name) {
        const auto it = reporter.micros.find(name);
        return it == reporter.micros.end() ? 0.0 : it->second;
    };
    const auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
    const double sample = get("ChartSample_ReadAndAdd"), raw = get("ChartSample_RawRead");
    const double redraw = get("ChartTick_Redraw"), fill = get("ChartTick_Memset");
    const double pools = get("AllPools12_Page"), poolsRaw = get("AllPools12_RawRead");
    std::printf("\nCPU µs per operation (best of 5)\n");
    std::printf("chart sample (read, add)      %8.1f   raw read of the 2 files  %8.1f (ratio %.2f)\n", sample, raw,
                ratio(sample, raw));
    std::printf("chart redraw at the tick      %8.1f   memset of the window     %8.1f (ratio %.1f)\n", redraw, fill,
                ratio(redraw, fill));
    std::printf("per sample at 50/s, 5 redraws/s %6.1f   (sample + redraw / 10)\n", sample + redraw / 10);
    std::printf("all-pools page, 12 pools      %8.1f   raw walk and 24 reads    %8.1f (ratio %.2f)\n", pools,
                poolsRaw, ratio(pools, poolsRaw));
    benchmark::Shutdown();
    cleanup();
    return 0;
}
