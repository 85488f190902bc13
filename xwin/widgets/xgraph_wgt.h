// The chart XGraphWgt: a control that keeps a bounded history of samples in a ring and draws
// them as a polyline over a framed plot area with optional grid lines and two axis labels.
// The record begins with its XWindow, so the widget is a window of type 1 wherever a window
// is expected.
//
// Ownership: XGraphWgt_CreateWgt allocates the record and the sample ring; both are released
// when the window system destroys the widget (XMSG_DESTROY), so nothing of it may be used
// after XWIN_Destroy. Samples and labels are copied in.
#pragma once

#include <cstddef>
#include <cstdint>

#include "xwindow.h"

extern "C" {

// One sample, copied in whole; the chart draws x and y and carries the other words.
struct XGraphSample {
    int32_t x;
    int32_t y;
    uint32_t extra[4];
};
static_assert(sizeof(XGraphSample) == 24 && offsetof(XGraphSample, y) == 4 &&
              offsetof(XGraphSample, extra) == 8);

constexpr size_t XGRAPHWGT_LABEL_BYTES = 32;

struct XGraphWgt {
    XWindow window;
    int32_t xMin;   // data range of the x axis
    int32_t xMax;
    int32_t xStep;  // spacing of the vertical grid lines
    int32_t yMin;   // data range of the y axis
    int32_t yMax;
    int32_t yStep;  // spacing of the horizontal grid lines
    char bottomLabel[XGRAPHWGT_LABEL_BYTES];  // beside y minimum; unterminated when full
    char topLabel[XGRAPHWGT_LABEL_BYTES];     // beside y maximum; unterminated when full
    int32_t oldest;    // ring index of the oldest sample, -1 when empty
    int32_t newest;    // ring index of the newest sample, -1 when empty
    int32_t capacity;  // samples the ring keeps
    XGraphSample* samples;  // the ring, capacity entries
};
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(XGraphWgt) == 188);
static_assert(offsetof(XGraphWgt, xMin) == 84 && offsetof(XGraphWgt, yMin) == 96 &&
              offsetof(XGraphWgt, bottomLabel) == 108 && offsetof(XGraphWgt, topLabel) == 140 &&
              offsetof(XGraphWgt, oldest) == 172 && offsetof(XGraphWgt, capacity) == 180 &&
              offsetof(XGraphWgt, samples) == 184);
#else
static_assert(sizeof(XGraphWgt) == 248);
static_assert(offsetof(XGraphWgt, xMin) == 136 && offsetof(XGraphWgt, yMin) == 148 &&
              offsetof(XGraphWgt, bottomLabel) == 160 && offsetof(XGraphWgt, topLabel) == 192 &&
              offsetof(XGraphWgt, oldest) == 224 && offsetof(XGraphWgt, capacity) == 232 &&
              offsetof(XGraphWgt, samples) == 240);
#endif

// Option bits of the chart.
constexpr uint32_t XGRAPHWGT_OPT_DIM = 0x1;          // dim while the form has not the focus
constexpr uint32_t XGRAPHWGT_OPT_VGRID = 0x4;        // vertical grid lines every x step
constexpr uint32_t XGRAPHWGT_OPT_HGRID = 0x8;        // horizontal grid lines every y step
constexpr uint32_t XGRAPHWGT_OPT_X0_LINE = 0x10;     // the vertical line at x = 0 stands out
constexpr uint32_t XGRAPHWGT_OPT_Y0_LINE = 0x20;     // the horizontal line at y = 0 stands out
constexpr uint32_t XGRAPHWGT_OPT_X5000_LINES = 0x40; // vertical lines at multiples of 5000 do
                                                      // (when 0x10 is clear)

// Left margin of the plot area, where the labels go.
constexpr int32_t XGRAPHWGT_LABEL_MARGIN = 50;

// Allocates the record and a zeroed ring of `capacity` samples, creates the widget as a
// control of `parent` (its key function handles no key) and attaches it at `id`. A capacity
// of 0 or less keeps no samples. Null when the memory cannot be allocated.
XGraphWgt* XGraphWgt_CreateWgt(XWindow* parent, uint16_t id, uint32_t options, int32_t capacity,
                               const XPosInfo* position);
// Store the range and grid spacing of an axis. 0, or -5 for a null widget.
int32_t XGraphWgt_SetXRange(XGraphWgt* widget, int32_t minimum, int32_t maximum, int32_t step);
int32_t XGraphWgt_SetYRange(XGraphWgt* widget, int32_t minimum, int32_t maximum, int32_t step);
// Copies up to 32 characters of each label (a null label is empty). 0, or -5.
int32_t XGraphWgt_SetYLabel(XGraphWgt* widget, const char* bottom, const char* top);
// Copies the sample into the ring after the newest one, overwriting the oldest when the ring
// is full. 0, or -5 for a null widget or sample or a chart that keeps no samples.
int32_t XGraphWgt_AddData(XGraphWgt* widget, const XGraphSample* sample);

}  // extern "C"

namespace veld::xwgt {

// Maps a data point to a pixel of the widget (relative to its top left corner): 0, or -5
// when the point lies outside the ranges or a range is empty or reversed. Exposed for tests.
int32_t mapGraphPoint(const XGraphWgt& widget, int64_t x, int64_t y, int32_t* px, int32_t* py);

}  // namespace veld::xwgt
