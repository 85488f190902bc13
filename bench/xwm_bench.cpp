// The window manager's full screen refresh: XWM_RefreshScreen(1) over five 320 x 255 forms on
// a 1920 x 1080 display, each form drawing its background and frame and holding three text
// controls of five lines each (the shape of the monitor's panels). Measured against the same
// drawing done directly (the same XGRP calls on the same forms, then one screen push), which
// is the baseline the window tree's walks, render dispatch and colour bookkeeping add to, and
// against a bare memset of the five form areas.
// After the Google Benchmark rows it prints interleaved medians and the ratios.
#include <benchmark/benchmark.h>

#include "bench_support.h"
#include <stdlib.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "seam.h"
#include "veld_framebuffer.h"
#include "xdrv.h"
#include "xgrp.h"
#include "xstring.h"
#include "xwindow.h"
#include "xwm.h"

namespace {

constexpr int kForms = 5;
constexpr int kControls = 3;       // per form
constexpr int kLinesPerControl = 5;
constexpr uint16_t kFormWidth = 320;
constexpr uint16_t kFormHeight = 255;
constexpr uint16_t kControlHeight = 5 * 17;
constexpr int kLineChars = 40;

std::string gRoot;
XWindow gForms[kForms];
XWindow gControls[kForms][kControls];

const std::vector<std::string>& lines() {
    static const std::vector<std::string> text = [] {
        std::vector<std::string> v;
        for (int i = 0; i < kLinesPerControl * kControls; ++i) {
            char buffer[64];
            std::snprintf(buffer, sizeof buffer, "CPU%-2d %5.1f%%  MEM %7d kB  FPS %2d.%d", i,
                          12.5 * (i + 1), 123456 + 977 * i, 50 + i % 10, i % 10);
            std::string line(buffer);
            line.resize(kLineChars, ' ');
            v.push_back(line);
        }
        return v;
    }();
    return text;
}

int32_t renderForm(XWindow* form) {
    form->gc.mode = XGC_MODE_FILL | XGC_MODE_BORDER;
    form->gc.fillColor = 1;
    form->gc.borderColor = 2;
    XGRP_DrawRect(form, 0, 0, form->position.width, form->position.height);
    return 0;
}

int32_t renderText(XWindow* control) {
    XWindow* form = XWIN_GetParentWindow(control);
    XPosInfo box{0, 0, control->position.width, control->position.height};
    XWIN_WindowToScreenRect(control, &box);
    form->gc.textColor = 3;
    for (int i = 0; i < kLinesPerControl; ++i) {
        const std::string& line = lines()[size_t(control->id * kLinesPerControl + i)];
        XString text = XUTIL_MakeString(line.data(), uint32_t(line.size()));
        XGRP_DrawTextEx(form, &text, box.x, int16_t(box.y + 16 + 17 * i), box.width,
                        XGRP_ALIGN_LEFT, XGRP_OVERFLOW_ELLIPSIS);
    }
    return 0;
}

void buildForms() {
    for (int f = 0; f < kForms; ++f) {
        const XPosInfo where{int16_t(40 + (f % 5) * 370), int16_t(40 + (f / 5) * 300), kFormWidth,
                             kFormHeight};
        XWIN_Create(&gForms[f], 0, nullptr, kControls, 0, 0, nullptr, &renderForm, &where);
        for (int c = 0; c < kControls; ++c) {
            const XPosInfo box{4, int16_t(4 + c * kControlHeight), kFormWidth - 8,
                               kControlHeight};
            XWIN_Create(&gControls[f][c], 1, &gForms[f], 0, uint16_t(c), 0, nullptr, &renderText,
                        &box);
            XWIN_AttachChild(&gForms[f], uint16_t(c), &gControls[f][c]);
        }
    }
}

void refresh() { XWM_RefreshScreen(1); }

// The same pixels without the window manager: every render function called directly, then
// one push of the screen.
void drawDirectly() {
    for (int f = 0; f < kForms; ++f) {
        renderForm(&gForms[f]);
        for (int c = 0; c < kControls; ++c) renderText(&gControls[f][c]);
    }
    XDRV_UpdateScreen(&veld::xwm::state().display);
}

void memsetAreas() {
    const XWindow& any = gForms[0];
    for (const XWindow& form : gForms) {
        for (int y = 0; y < form.position.height; ++y)
            std::memset(any.pixels + size_t(form.position.y + y) * any.pitch + form.position.x,
                        1, form.position.width);
    }
}

// ---- Google Benchmark rows ------------------------------------------------------------------

void BM_RefreshScreenFull_FiveForms(benchmark::State& state) {
    for (auto _ : state) {
        refresh();
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_RefreshScreenFull_FiveForms);

void BM_DirectDrawAndPush_FiveForms(benchmark::State& state) {
    for (auto _ : state) {
        drawDirectly();
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_DirectDrawAndPush_FiveForms);

void BM_MemsetFormAreas(benchmark::State& state) {
    for (auto _ : state) {
        memsetAreas();
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_MemsetFormAreas);

// ---- Interleaved medians and ratios ----------------------------------------------------------

using veld::bench::median;
using veld::bench::nanosEach;

void printRatios() {
    constexpr int kRounds = 15;
    std::vector<double> full, direct, bytes;
    // Rounds alternate the peers so that all see the same machine load.
    for (int r = 0; r < kRounds; ++r) {
        direct.push_back(nanosEach([](int) { drawDirectly(); }, 40));
        full.push_back(nanosEach([](int) { refresh(); }, 40));
        bytes.push_back(nanosEach([](int) { memsetAreas(); }, 40));
    }
    const double f = median(full), d = median(direct), m = median(bytes);
    std::printf("\nmedians of %d interleaved rounds (thread CPU time), %d forms of %ux%u with %d text controls:\n",
                kRounds, kForms, kFormWidth, kFormHeight, kControls);
    std::printf("  XWM_RefreshScreen(1) %.1f us, direct drawing and push %.1f us, ratio %.2f\n",
                f / 1000, d / 1000, f / d);
    std::printf("  memset of the form areas %.1f us; refresh / memset %.1f\n", m / 1000, f / m);
}

bool setUp() {
    char pattern[] = "/tmp/vwmb.XXXXXX";
    gRoot = mkdtemp(pattern);
    setenv("VELD_ROOT", gRoot.c_str(), 1);
    setenv("VELD_NS", ("vwmbench" + std::to_string(getpid())).c_str(), 1);
    std::filesystem::create_directories(gRoot + "/proc/qv/fbdev/fb0");
    std::ofstream(veld::seam::path(veld::xdrv::kSizeFile)) << "0 0 1920 1080\n";
    INITIALIZE_TASK(0);
    if (XWM_Init() != 0) return false;
    buildForms();
    return true;
}

void tearDown() {
    XWM_DestroyAllObjects();
    const int id = msgget(veld::seam::sysvKey(veld::xdrv::queueKey(veld::xdrv::kEventQueueName)), 0);
    if (id >= 0) msgctl(id, IPC_RMID, nullptr);
    VELD_HOST_FB_Unlink(veld::xdrv::kLayer);
    // The display surface lives in named shared memory of this namespace.
    const std::string prefix = std::string(veld::seam::ns()) + ".";
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ec)) {
        if (entry.path().filename().string().rfind(prefix, 0) == 0)
            std::filesystem::remove(entry.path(), ec);
    }
    std::filesystem::remove_all(gRoot);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!setUp()) {
        std::fprintf(stderr, "xwm_bench: cannot set up the display\n");
        tearDown();
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    printRatios();
    tearDown();
    return 0;
}
