// Drawing speed on a 1920 x 1080 byte-per-pixel surface:
//  - a full-surface fill through XGRP_DrawRect against memset of the same bytes (the physical
//    baseline; target within 1.3x), with a padded pitch as well, where the fill goes row by
//    row;
//  - text drawing in glyphs per second (XGRP_DrawText, 40-character lines);
//  - the redraw of a full 320 x 255 panel of text: background, frame and 15 lines through
//    XGRP_DrawTextEx, the way a panel's render function draws.
// After the Google Benchmark rows it prints interleaved medians and their ratios.
#include <benchmark/benchmark.h>

#include "bench_support.h"

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "xdrv.h"
#include "xgrp.h"
#include "xstring.h"
#include "xwindow.h"

namespace {

constexpr uint16_t kWidth = 1920;
constexpr uint16_t kHeight = 1080;
constexpr uint32_t kPaddedPitch = 2048;
constexpr uint16_t kPanelWidth = 320;
constexpr uint16_t kPanelHeight = 255;
constexpr int kPanelLines = 15;  // 17-pixel lines in 255 rows
constexpr int kLineChars = 40;   // 320 pixels of 8-pixel glyphs

// A display surface in ordinary memory with one form on it.
struct Screen {
    explicit Screen(uint32_t pitch) : memory(size_t(pitch) * kHeight) {
        display.width = kWidth;
        display.height = kHeight;
        display.pixels = memory.data();
        XGRP_InitGC(&form.gc);
        form.pixels = memory.data();
        form.pitch = pitch;
        form.display = &display;
    }
    std::vector<uint8_t> memory;
    XDisplay display{};
    XWindow form{};
};

Screen& screen() {
    static Screen s(kWidth);
    return s;
}
Screen& paddedScreen() {
    static Screen s(kPaddedPitch);
    return s;
}

// Panel-like lines: labels and figures.
const std::vector<std::string>& panelLines() {
    static const std::vector<std::string> lines = [] {
        std::vector<std::string> v;
        for (int i = 0; i < kPanelLines; ++i) {
            char buffer[64];
            std::snprintf(buffer, sizeof buffer, "CPU%-2d %5.1f%%  MEM %7d kB  FPS %2d.%d", i,
                          12.5 * (i + 1), 123456 + 977 * i, 50 + i % 10, i % 10);
            std::string line(buffer);
            line.resize(kLineChars, ' ');
            v.push_back(line);
        }
        return v;
    }();
    return lines;
}

void fillScreen(Screen& s, uint8_t colour) {
    s.form.gc.mode = XGC_MODE_FILL;
    s.form.gc.fillColor = colour;
    XGRP_DrawRect(&s.form, 0, 0, kWidth, kHeight);
}

void memsetScreen(Screen& s, uint8_t colour) {
    std::memset(s.memory.data(), colour, size_t(kWidth) * kHeight);
}

// One pass of text over the surface: every line of the panel text, row after row, from the
// top left, wrapping round at the bottom. Returns glyphs drawn.
int64_t drawTextPass(Screen& s, int rows) {
    static int row = 0;
    int64_t glyphs = 0;
    s.form.gc.textColor = 3;
    for (int i = 0; i < rows; ++i) {
        const std::string& line = panelLines()[size_t(i) % panelLines().size()];
        XString text = XUTIL_MakeString(line.data(), uint32_t(line.size()));
        const int16_t y = int16_t(16 + (row % 63) * 17);
        const int16_t x = int16_t((row / 63 % 6) * kPanelWidth);
        XGRP_DrawText(&s.form, &text, x, y);
        glyphs += int64_t(line.size());
        ++row;
    }
    return glyphs;
}

// A panel in the bottom right corner: background, frame, and its lines.
void redrawPanel(Screen& s) {
    XWindow& form = s.form;
    form.position = {int16_t(kWidth - kPanelWidth - 40), int16_t(kHeight - kPanelHeight - 40),
                     kPanelWidth, kPanelHeight};
    form.gc.mode = XGC_MODE_FILL | XGC_MODE_BORDER;
    form.gc.fillColor = 1;
    form.gc.borderColor = 2;
    form.gc.borderWidth = 1;
    form.gc.textColor = 3;
    XGRP_DrawRect(&form, 0, 0, kPanelWidth, kPanelHeight);
    int16_t baseline = 16;
    for (const std::string& line : panelLines()) {
        XString text = XUTIL_MakeString(line.data(), uint32_t(line.size()));
        XGRP_DrawTextEx(&form, &text, 0, baseline, kPanelWidth, XGRP_ALIGN_LEFT,
                        XGRP_OVERFLOW_ELLIPSIS);
        baseline = int16_t(baseline + 17);
    }
    form.position = {};
}

// ---- Google Benchmark rows ------------------------------------------------------------------

void BM_FillSurface_XgrpDrawRect(benchmark::State& state) {
    uint8_t colour = 0;
    for (auto _ : state) {
        fillScreen(screen(), ++colour);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kWidth * kHeight);
}
BENCHMARK(BM_FillSurface_XgrpDrawRect);

void BM_FillSurface_Memset(benchmark::State& state) {
    uint8_t colour = 0;
    for (auto _ : state) {
        memsetScreen(screen(), ++colour);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kWidth * kHeight);
}
BENCHMARK(BM_FillSurface_Memset);

void BM_FillSurface_PaddedPitch(benchmark::State& state) {
    uint8_t colour = 0;
    for (auto _ : state) {
        fillScreen(paddedScreen(), ++colour);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kWidth * kHeight);
}
BENCHMARK(BM_FillSurface_PaddedPitch);

void BM_DrawText(benchmark::State& state) {
    int64_t glyphs = 0;
    for (auto _ : state) {
        glyphs += drawTextPass(screen(), 63);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(glyphs);  // items = glyphs
}
BENCHMARK(BM_DrawText);

void BM_PanelRedraw(benchmark::State& state) {
    for (auto _ : state) {
        redrawPanel(screen());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_PanelRedraw);

// ---- Interleaved medians and ratios ----------------------------------------------------------

using veld::bench::median;
using veld::bench::nanosEach;

void printRatios() {
    constexpr int kRounds = 15;
    std::vector<double> fill, base, padded, text, panel;
    // Rounds alternate the peers so that both see the same machine load.
    for (int r = 0; r < kRounds; ++r) {
        base.push_back(nanosEach([](int i) { memsetScreen(screen(), uint8_t(i)); }, 40));
        fill.push_back(nanosEach([](int i) { fillScreen(screen(), uint8_t(i)); }, 40));
        padded.push_back(nanosEach([](int i) { fillScreen(paddedScreen(), uint8_t(i)); }, 40));
        text.push_back(nanosEach([](int) { drawTextPass(screen(), 63); }, 40) / (63.0 * kLineChars));
        panel.push_back(nanosEach([](int) { redrawPanel(screen()); }, 200));
    }
    const double m = median(base), f = median(fill), p = median(padded);
    std::printf("\nmedians of %d interleaved rounds (thread CPU time):\n", kRounds);
    std::printf("  full-surface fill %ux%u: XGRP_DrawRect %.1f us, memset %.1f us, ratio %.2f"
                " (target <= 1.30)\n",
                kWidth, kHeight, f / 1000, m / 1000, f / m);
    std::printf("  same fill with a %u-byte pitch (row by row): %.1f us, ratio to memset %.2f\n",
                kPaddedPitch, p / 1000, p / m);
    std::printf("  text: %.1f ns per glyph, %.1f M glyphs/s\n", median(text),
                1000.0 / median(text));
    std::printf("  full %ux%u panel of text (%d lines of %d glyphs, background and frame):"
                " %.1f us per redraw\n",
                kPanelWidth, kPanelHeight, kPanelLines, kLineChars, median(panel) / 1000);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    printRatios();
    return 0;
}
