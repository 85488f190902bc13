// What every chart app shares: starting one in form 4097 with its graph widget, tick and
// sampler thread, stopping it (the sampler is joined before the form and its context go), the
// common key function (tick, zoom, sampling event) and render function (background, title,
// footer), and the uptime clock of the charts.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

#include "ssm_app.h"
#include "ssm_charts.h"
#include "ssm_kernel_file.h"
#include "ssm_metrics.h"
#include "ssm_viewers.h"
#include "veldd_log.h"
#include "widgets/xwgt_common.h"
#include "xwm.h"

using namespace veld::loglevel;

namespace veld::ssm {
namespace {

constexpr uint32_t kFormOptions = 0x800100;
constexpr uint16_t kFormHeight = 360;
constexpr uint32_t kGraphOptions = 111;
constexpr uint32_t kStackBytes = 0x80000;

bool isChartKey(XWinKeyFn fn) { return fn == chartKey || fn == SSM_GPIOInfoKeyHandler; }

// Ends the sampler: it sees the flag within one sleep and is joined. Safe to repeat.
void stopSampler(ChartContext& chart) {
    chart.running.store(0);
    if (chart.thread) XUTIL_JoinThread(chart.thread);
    chart.thread = 0;
}

// The form is going away: nothing reads the context after this message.
void releaseChart(XWindow* form) {
    ChartContext* chart = chartContext(form);
    if (!chart) return;
    stopSampler(*chart);
    metrics::clearChart();
    setFormData(form, nullptr);
    chart->~ChartContext();
    void* block = chart;
    XMEM_FreeSafe(&block);
}

void takeSample(XWindow* form, ChartContext& chart) {
    XGraphSample sample{};
    XGraphWgt* graph = chartWidget(form);
    if (!graph || !chart.kind->takeSample(chart, sample)) return;
    XGraphWgt_AddData(graph, &sample);
    metrics::publishChart(chart.kind->appId, sample.y);
    const int64_t low = std::max<int64_t>(int64_t{sample.x} - chart.kind->xSpan, INT32_MIN);
    XGraphWgt_SetXRange(graph, static_cast<int32_t>(low), sample.x, chart.kind->xStep);
}

int32_t startChart(const ChartKind& kind) {
    XWindow* form = XDB_GetForm(SSM_FORM_APP);
    if (!form) return -5;
    // The app form is shared: whatever still lives in it goes first (and releases its own).
    if (form->state & veld::xwin::kStateCreated) XWIN_Destroy(form, 0);
    setFormData(form, nullptr);
    const uint16_t width = appWindowWidth();
    const XPosInfo place{20, 20, width, kFormHeight};
    if (XWIN_Create(form, 0, nullptr, 1, 0, kFormOptions, kind.keyFn, kind.renderFn, &place) != 0) return -5;
    void* block = XMEM_Alloc(sizeof(ChartContext));
    if (!block) {
        XWIN_Destroy(form, 0);
        return -5;
    }
    auto* chart = new (block) ChartContext{};
    chart->kind = &kind;
    setFormData(form, chart);

    const XPosInfo box{30, 40, static_cast<uint16_t>(width - 60), 270};
    XGraphWgt* graph = XGraphWgt_CreateWgt(form, 0, kGraphOptions, kind.capacity, &box);
    if (!graph) {
        XWIN_Destroy(form, 0);
        return -5;
    }
    XGraphWgt_SetXRange(graph, 0, kind.xSpan, kind.xStep);
    setChartZoom(form, kind.initialZoom);
    XWIN_SetInitialFocus(form, 0);
    XWIN_StartTimeTick(form, kind.tickMs);
    XWIN_Run(form);

    chart->running.store(1);
    chart->thread = XUTIL_CreateThread(kind.threadName, kStackBytes, kind.sampler, form);
    if (!chart->thread) {
        XWIN_Destroy(form, 0);
        return -5;
    }
    return 0;
}

int32_t stopChart() {
    XWindow* form = XDB_GetForm(SSM_FORM_APP);
    if (!form) return 0;
    if (ChartContext* chart = chartContext(form)) stopSampler(*chart);
    if (form->state & veld::xwin::kStateCreated) XWIN_Destroy(form, 0);
    return 0;
}

}  // namespace

ChartContext* chartContext(XWindow* form) {
    if (!form || !isChartKey(form->keyFn)) return nullptr;
    return static_cast<ChartContext*>(formData(form));
}

XGraphWgt* chartWidget(XWindow* form) {
    if (!chartContext(form)) return nullptr;
    const auto children = veld::xwin::attachedChildren(form);
    return children.empty() ? nullptr : reinterpret_cast<XGraphWgt*>(children[0]);
}

int32_t chartAction(uint32_t mode, const ChartKind& kind) {
    if (mode == 0) return startChart(kind);
    if (mode == 1) return stopChart();
    return 0;
}

void setChartZoom(XWindow* form, int32_t level) {
    ChartContext* chart = chartContext(form);
    if (!chart) return;
    chart->zoom = level;
    if (XGraphWgt* graph = chartWidget(form)) chart->kind->applyZoom(graph, level);
    XWIN_Invalidate(form);
}

int32_t chartKey(XWindow* form, XKeyData* key, uint32_t /*arg*/) {
    ChartContext* chart = chartContext(form);
    if (!chart || !key) return XWIN_NOT_HANDLED;  // XMSG_CREATE comes before the context
    switch (key->code) {
        case XMSG_TIME_TICK:
            XWIN_Invalidate(form);
            return 0;
        case XKEY_DOWN:
            if (chart->zoom > 0) setChartZoom(form, chart->zoom - 1);
            return 0;
        case XKEY_UP:
            if (chart->zoom <= chart->kind->zoomCeiling) setChartZoom(form, chart->zoom + 1);
            return 0;
        case XMSG_DESTROY:
            releaseChart(form);
            return 0;
        case SSM_EVENT_SAMPLE:
            takeSample(form, *chart);
            return 0;
        default:
            return XWIN_NOT_HANDLED;
    }
}

int32_t chartRender(XWindow* form) {
    const ChartContext* chart = chartContext(form);
    const bool dim = XWM_GetFocus() != form;
    form->gc.textColor = dim ? XUTIL_GetDimmingColor(3) : 3;
    form->gc.fillColor = 1;
    form->gc.mode = XGC_MODE_FILL;
    const uint16_t w = form->position.width, h = form->position.height;
    XGRP_DrawRect(form, 0, 0, w, h);
    if (!chart) return 0;
    const XPosInfo title{10, 10, static_cast<uint16_t>(w - 20), 18};
    chart->kind->drawTitle(form, *chart, title);
    form->gc.textColor = 3;
    form->gc.fillColor = 1;
    const XPosInfo footer{20, static_cast<int16_t>(h - 30), static_cast<uint16_t>(w - 40), 30};
    for (const ChartFooter& line : chart->kind->footers)
        if (line.text) drawChartText(form, line.text, footer, line.align);
    return 0;
}

void* chartSampler(void* form) {
    // The context is attached before this thread starts and released only after it is joined.
    ChartContext* chart = chartContext(static_cast<XWindow*>(form));
    if (!chart) return nullptr;
    while (chart->running.load()) {
        XUTIL_Sleep(chart->kind->samplerSleepMs);
        if (!chart->running.load()) break;
        XWM_PushKeyEvent(static_cast<uint16_t>(SSM_EVENT_SAMPLE), 1);
    }
    return nullptr;
}

void drawChartText(XWindow* form, const char* text, const XPosInfo& box, uint8_t align) {
    const XString s = XUTIL_MakeString(text, static_cast<uint32_t>(std::strlen(text)));
    XGRP_DrawTextBox(form, &s, &box, align, XGRP_OVERFLOW_NONE);
}

bool uptimeHundredths(uint32_t& out) {
    KernelFile file("/proc/uptime");
    char line[160];
    double seconds = 0;
    // Read in double precision: a float loses the hundredths after about two days of uptime.
    if (!file || !file.readLine(line) || std::sscanf(line, "%lf", &seconds) != 1 || seconds < 0) {
        VELDD_LOG(kError, "[xErr] can't open /proc/uptime proc\n");
        return false;
    }
    out = static_cast<uint32_t>(static_cast<uint64_t>(seconds * 100.0));
    return true;
}

int32_t clockDifferenceMicros(uint64_t earlier, uint64_t later) {
    const auto ticks = static_cast<int32_t>(static_cast<uint32_t>(later) - static_cast<uint32_t>(earlier));
    const int64_t micros = int64_t{ticks} * 1000000 / 90000;
    return static_cast<int32_t>(std::clamp<int64_t>(micros, INT32_MIN, INT32_MAX));
}

}  // namespace veld::ssm
