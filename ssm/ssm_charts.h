// The monitor's chart apps (PCR, TEMP, CPULOAD, GPIO) and the DNN app. A chart runs in the
// shared app form 4097 with one graph widget; its sampler thread only paces it by pushing the
// sampling event 16384, and every sample is read and added on the monitor task.
//
// Ownership: a chart's context belongs to form 4097 while the app runs; destroying the form
// (stop, or any other end of the form) stops and joins the sampler and releases the context,
// the graph widget releases itself.
#pragma once

#include <atomic>
#include <cstdint>

#include "ssm_app.h"
#include "veldcore.h"
#include "xevent.h"
#include "widgets/xgraph_wgt.h"
#include "xwindow.h"

extern "C" {

// The debug GPIO pin shown by the GPIO chart, read when that app starts.
extern int32_t gpiodebugpin;

// Reads the pin number from "/proc/qv/gpio/debugpin": 0, or -5.
int32_t SSM_GPIOPIN_Ready(void);
// Reads the pin level from "/proc/qv/gpio/val" into sample->y: 0, or -5 (sample untouched).
int32_t SSM_GPIOInfoReadProc(XGraphSample* sample);
// Stores the zoom level and sets the GPIO chart's y axis.
int32_t SSM_GPIOInfoChangeYResolution(XWindow* form, int32_t level);
int32_t SSM_GPIOInfoKeyHandler(XWindow* form, XKeyData* key, uint32_t arg);
int32_t SSM_GPIOInfoRender(XWindow* form);
void* SSM_GPIOInfoCollectionThread(void* form);

}  // extern "C"

namespace veld::ssm {

constexpr uint32_t kDnnFormId = SSM_FORM_DNN_CLASS;

struct ChartContext;

// What makes one chart app: pacing, axes, zoom, the sample reader and the texts around it.
struct ChartFooter {
    const char* text;
    uint8_t align;
};

struct ChartKind {
    const char* threadName;
    uint32_t samplerSleepMs;  // pace of the sampling events
    uint32_t tickMs;          // redraw tick of the form
    int32_t capacity;         // samples the graph keeps
    int32_t xSpan;            // the x range ends at the newest sample and is this wide
    int32_t xStep;
    int32_t initialZoom;
    int32_t zoomCeiling;      // up raises the level while it is at most this
    void (*applyZoom)(XGraphWgt* graph, int32_t level);
    // Reads one sample; false when nothing is to be added (the reason is logged).
    bool (*takeSample)(ChartContext& chart, XGraphSample& sample);
    // Draws the title line(s) into the box with the form's current colours.
    void (*drawTitle)(XWindow* form, const ChartContext& chart, const XPosInfo& box);
    ChartFooter footers[2];   // a null text ends the list
    XWinKeyFn keyFn;
    XWinRenderFn renderFn;
    VELD_THREAD_ENTRY sampler;
    uint32_t appId;           // the row of the app table, as the metrics record names it
};

// What a running chart keeps (the form's data while it runs).
struct ChartContext {
    const ChartKind* kind;
    VELD_THREAD thread;
    std::atomic<uint32_t> running;
    int32_t zoom;
    // PCR: the last line taken.
    int32_t channel;
    uint32_t pid;
    int32_t frequency;
    uint64_t counters[2];  // the fifth and sixth numbers of the line (90 kHz clocks)
};

// Mode 0 starts the chart in form 4097, mode 1 stops it; other modes do nothing. 0, or -5
// when the chart can't be started.
int32_t chartAction(uint32_t mode, const ChartKind& kind);
// The key function, render function and sampler thread body every chart uses.
int32_t chartKey(XWindow* form, XKeyData* key, uint32_t arg);
int32_t chartRender(XWindow* form);
void* chartSampler(void* form);
// Stores the zoom level, sets the y axis for it and invalidates the form.
void setChartZoom(XWindow* form, int32_t level);
// Draws a text into a box of the form with the form's current colours.
void drawChartText(XWindow* form, const char* text, const XPosInfo& box, uint8_t align);

// The context of the chart in `form`, null when no chart runs there.
ChartContext* chartContext(XWindow* form);
// The chart's graph widget, null when no chart runs.
XGraphWgt* chartWidget(XWindow* form);

// The difference of two 90 kHz clock counters (later - earlier, low 32 bits, wrapping) in
// microseconds. Computed in 64 bits and narrowed by saturating, so that differences beyond
// about 24 ms stay right and very large ones stay at the edge instead of wrapping around.
int32_t clockDifferenceMicros(uint64_t earlier, uint64_t later);

// The counts the DNN class window shows, row by row ("4K Good" first); false when it is not
// open.
bool dnnClassCounts(int32_t (&counts)[4]);

// Hundredths of a second since boot from "/proc/uptime"; false when it can't be read.
bool uptimeHundredths(uint32_t& out);

}  // namespace veld::ssm
