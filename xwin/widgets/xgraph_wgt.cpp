// The chart: the sample ring, the axis settings, the mapping of data points to pixels and
// the renderer (grid, frame, labels, data polyline). All arithmetic on data values is done
// in 64 bits, so no range or step a caller sets can overflow or divide by zero.
#include "xgraph_wgt.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "veldd_log.h"
#include "xstring.h"
#include "xwgt_common.h"

using namespace veld::loglevel;
using namespace veld::xwgt;

namespace {

constexpr uint8_t kLabelTextColour = 3;
constexpr uint8_t kLabelFillColour = 1;
constexpr uint8_t kFrameColour = 9;
constexpr uint8_t kGridColour = 10;
constexpr uint8_t kAxisColour = 11;
constexpr uint8_t kDataColour = 12;
constexpr int32_t kLabelWidth = 40;
constexpr int32_t kLabelHeight = 16;
constexpr int64_t kAxisMultiple = 5000;
// More grid lines than this would cover every pixel many times over; a range that asks for
// more only gets the first ones rather than stalling the monitor's task.
constexpr int kMaxGridLines = 65536;

XGraphWgt& graphOf(XWindow* window) { return *reinterpret_cast<XGraphWgt*>(window); }

// x pixel of a data x, relative to the widget; none outside the range or for an empty range.
std::optional<int64_t> mapX(const XGraphWgt& widget, int64_t x) {
    const int64_t span = int64_t{widget.xMax} - widget.xMin;
    if (span <= 0 || x < widget.xMin || x > widget.xMax) return std::nullopt;
    const int64_t plotWidth = int64_t{widget.window.position.width} - XGRAPHWGT_LABEL_MARGIN;
    return XGRAPHWGT_LABEL_MARGIN + (x - widget.xMin) * plotWidth / span;
}

// y pixel of a data y, relative to the widget: the top edge is y maximum.
std::optional<int64_t> mapY(const XGraphWgt& widget, int64_t y) {
    const int64_t span = int64_t{widget.yMax} - widget.yMin;
    if (span <= 0 || y < widget.yMin || y > widget.yMax) return std::nullopt;
    const int64_t height = widget.window.position.height;
    return height - height * (y - widget.yMin) / span;
}

// The smallest multiple of step that is not below minimum (step > 0), for a negative minimum
// too: the quotient is truncated toward zero and raised only when that left it below.
int64_t firstMultiple(int64_t minimum, int64_t step) {
    int64_t q = minimum / step;  // truncates toward zero
    if (q * step < minimum) ++q;
    return q * step;
}

// Calls visit(v) for the multiples of step from the first not below minimum while below
// maximum. Nothing for a step of 0 or less.
template <typename Visit>
void forGridValues(int32_t minimum, int32_t maximum, int32_t step, const Visit& visit) {
    if (step <= 0) return;
    int64_t v = firstMultiple(minimum, step);
    for (int n = 0; v < maximum && n < kMaxGridLines; v += step, ++n) visit(v);
}

// Draws on the form with the widget's origin added, coordinates held to the 16-bit range of
// the drawing calls.
struct Pen {
    XWindow* form;
    int64_t originX;
    int64_t originY;

    void line(int64_t x1, int64_t y1, int64_t x2, int64_t y2, uint8_t colour) const {
        form->gc.fillColor = colour;
        XGRP_DrawLine(form, clamp16(originX + x1), clamp16(originY + y1), clamp16(originX + x2),
                      clamp16(originY + y2));
    }
    static int16_t clamp16(int64_t v) {
        return static_cast<int16_t>(std::clamp<int64_t>(v, INT16_MIN, INT16_MAX));
    }
};

size_t labelLength(const char* label) {
    return static_cast<size_t>(std::find(label, label + XGRAPHWGT_LABEL_BYTES, '\0') - label);
}

void copyLabel(char* to, const char* from) {
    std::memset(to, 0, XGRAPHWGT_LABEL_BYTES);
    // Up to 32 characters; a label that fills the field is kept without its terminator.
    for (size_t i = 0; from != nullptr && i < XGRAPHWGT_LABEL_BYTES && from[i] != '\0'; ++i)
        to[i] = from[i];
}

void setAxis(int32_t& min, int32_t& max, int32_t& step, int32_t minimum, int32_t maximum,
             int32_t spacing) {
    min = minimum;
    max = maximum;
    step = spacing;
}

// Whether the ring indices describe a usable ring (a caller could have written the record).
bool ringHolds(const XGraphWgt& widget) {
    const int32_t cap = widget.capacity;
    return widget.samples != nullptr && cap > 0 && widget.oldest >= 0 && widget.oldest < cap &&
           widget.newest >= 0 && widget.newest < cap;
}

void drawData(const XGraphWgt& widget, const Pen& pen, uint8_t colour) {
    if (!ringHolds(widget)) return;
    const int32_t cap = widget.capacity;
    const int32_t count = (widget.newest - widget.oldest + cap) % cap + 1;
    bool started = false;
    int64_t lastX = 0;
    int64_t lastY = 0;
    for (int32_t i = 0; i < count; ++i) {
        const XGraphSample& sample = widget.samples[(widget.oldest + i) % cap];
        const auto px = mapX(widget, sample.x);
        if (!px) continue;
        const auto py = mapY(widget, std::clamp(sample.y, std::min(widget.yMin, widget.yMax),
                                                std::max(widget.yMin, widget.yMax)));
        if (!py) continue;
        if (started) pen.line(lastX, lastY, *px, *py, colour);
        started = true;
        lastX = *px;
        lastY = *py;
    }
}

int32_t graphRender(XWindow* window) {
    const XGraphWgt& widget = graphOf(window);
    XWindow* form = XWIN_GetParentWindow(window);
    GcGuard guard(form);
    const bool dim = (window->options & XGRAPHWGT_OPT_DIM) != 0 && !hasFocus(form);
    const uint32_t options = window->options;
    const int64_t width = window->position.width;
    const int64_t height = window->position.height;
    int32_t ox = 0;
    int32_t oy = 0;
    XWIN_WindowToScreenPos(window, &ox, &oy);
    const Pen pen{form, ox, oy};
    constexpr int64_t left = XGRAPHWGT_LABEL_MARGIN;

    if (options & XGRAPHWGT_OPT_HGRID) {
        forGridValues(widget.yMin, widget.yMax, widget.yStep, [&](int64_t y) {
            const bool axis = (options & XGRAPHWGT_OPT_Y0_LINE) && y == 0;
            // y minimum maps to the row just below the widget; that line would lie under
            // the frame's bottom edge, outside the widget, and is left out.
            const auto py = mapY(widget, y);
            if (py && *py < height)
                pen.line(left, *py, width - 1, *py, colourFor(axis ? kAxisColour : kGridColour, dim));
        });
    }
    if (options & XGRAPHWGT_OPT_VGRID) {
        forGridValues(widget.xMin, widget.xMax, widget.xStep, [&](int64_t x) {
            const bool axis = (options & XGRAPHWGT_OPT_X0_LINE)
                                  ? x == 0
                                  : (options & XGRAPHWGT_OPT_X5000_LINES) && x % kAxisMultiple == 0;
            const auto px = mapX(widget, x);
            if (px && *px < width)
                pen.line(*px, 0, *px, height - 1, colourFor(axis ? kAxisColour : kGridColour, dim));
        });
    }

    const uint8_t frame = colourFor(kFrameColour, dim);
    pen.line(left, 0, width - 1, 0, frame);
    pen.line(left, height - 1, width - 1, height - 1, frame);
    pen.line(left, 0, left, height - 1, frame);
    pen.line(width - 1, 0, width - 1, height - 1, frame);

    form->gc.textColor = colourFor(kLabelTextColour, dim);
    form->gc.fillColor = colourFor(kLabelFillColour, dim);
    const XPosInfo bottomBox = makeRect(ox, oy + height - kLabelHeight, kLabelWidth, kLabelHeight);
    const XPosInfo topBox = makeRect(ox, oy, kLabelWidth, kLabelHeight);
    drawTextBox(form, {widget.bottomLabel, labelLength(widget.bottomLabel)}, bottomBox,
                XGRP_ALIGN_RIGHT, XGRP_OVERFLOW_NONE);
    drawTextBox(form, {widget.topLabel, labelLength(widget.topLabel)}, topBox, XGRP_ALIGN_RIGHT,
                XGRP_OVERFLOW_NONE);

    drawData(widget, pen, colourFor(kDataColour, dim));
    return 0;
}

int32_t graphKey(XWindow* window, XKeyData* key, uint32_t /*arg*/) {
    if (window != nullptr && key != nullptr && key->code == XMSG_DESTROY) {
        // The window system reads nothing of a control after this message.
        void* ring = graphOf(window).samples;
        XMEM_FreeSafe(&ring);
        void* record = window;
        XMEM_FreeSafe(&record);
        return 0;
    }
    return XWIN_NOT_HANDLED;
}

}  // namespace

namespace veld::xwgt {

int32_t mapGraphPoint(const XGraphWgt& widget, int64_t x, int64_t y, int32_t* px, int32_t* py) {
    const auto mx = mapX(widget, x);
    const auto my = mapY(widget, y);
    if (!mx || !my) return -5;
    if (px) *px = static_cast<int32_t>(*mx);
    if (py) *py = static_cast<int32_t>(*my);
    return 0;
}

}  // namespace veld::xwgt

extern "C" {

XGraphWgt* XGraphWgt_CreateWgt(XWindow* parent, uint16_t id, uint32_t options, int32_t capacity,
                               const XPosInfo* position) {
    auto* widget = static_cast<XGraphWgt*>(XMEM_Alloc(sizeof(XGraphWgt)));
    const size_t kept = capacity > 0 ? static_cast<size_t>(capacity) : 0;
    auto* ring = static_cast<XGraphSample*>(XMEM_Alloc(kept * sizeof(XGraphSample)));
    if (widget == nullptr || ring == nullptr) {
        VELDD_LOG(kError, "[xErr] out of memory\n");
        void* r = ring;
        XMEM_FreeSafe(&r);
        void* w = widget;
        XMEM_FreeSafe(&w);
        return nullptr;
    }
    XWIN_Create(&widget->window, 1, parent, 0, id, options, &graphKey, &graphRender, position);
    widget->oldest = -1;
    widget->newest = -1;
    widget->capacity = static_cast<int32_t>(kept);
    widget->samples = ring;
    XWIN_AttachChild(parent, id, &widget->window);
    return widget;
}

int32_t XGraphWgt_SetXRange(XGraphWgt* widget, int32_t minimum, int32_t maximum, int32_t step) {
    if (widget == nullptr) return -5;
    setAxis(widget->xMin, widget->xMax, widget->xStep, minimum, maximum, step);
    return 0;
}

int32_t XGraphWgt_SetYRange(XGraphWgt* widget, int32_t minimum, int32_t maximum, int32_t step) {
    if (widget == nullptr) return -5;
    setAxis(widget->yMin, widget->yMax, widget->yStep, minimum, maximum, step);
    return 0;
}

int32_t XGraphWgt_SetYLabel(XGraphWgt* widget, const char* bottom, const char* top) {
    if (widget == nullptr) return -5;
    copyLabel(widget->bottomLabel, bottom);
    copyLabel(widget->topLabel, top);
    return 0;
}

int32_t XGraphWgt_AddData(XGraphWgt* widget, const XGraphSample* sample) {
    if (widget == nullptr || sample == nullptr || widget->samples == nullptr ||
        widget->capacity <= 0)
        return -5;
    int32_t slot = 0;
    if (!ringHolds(*widget)) {
        widget->oldest = 0;  // empty: the first sample starts the ring at slot 0
    } else {
        slot = (widget->newest + 1) % widget->capacity;
        if (slot == widget->oldest) widget->oldest = (widget->oldest + 1) % widget->capacity;
    }
    widget->newest = slot;
    std::memcpy(&widget->samples[slot], sample, sizeof(XGraphSample));
    return 0;
}

}  // extern "C"
