// Rectangles and lines: the clipped canvas primitives, the graphics context defaults, and the
// XGRP_ calls that map a form onto its display surface.
//
// Every primitive cuts its work at the surface's edges before touching memory, so a caller's
// coordinates can never make it write outside the display; inside, the pixels are exactly
// those of the unclipped operation.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "xdrv.h"
#include "xgrp.h"
#include "xwindow.h"

namespace veld::xgrp {

FormView formView(const XWindow* form) {
    // Only a form on a display has display memory; a control or a detached form draws
    // nothing rather than guess where its surface ends.
    if (form == nullptr || form->pixels == nullptr || form->display == nullptr) return {};
    const XDisplay& display = *form->display;
    FormView view;
    view.canvas.pixels = form->pixels;
    view.canvas.pitch = form->pitch;
    view.canvas.width = static_cast<int32_t>(std::min<uint32_t>(display.width, form->pitch));
    view.canvas.height = display.height;
    view.originX = form->position.x;
    view.originY = form->position.y;
    return view;
}

void fillRect(const Canvas& canvas, int32_t x, int32_t y, int32_t w, int32_t h, uint8_t colour) {
    if (canvas.empty() || w <= 0 || h <= 0) return;
    const int64_t left = std::max<int64_t>(x, 0);
    const int64_t right = std::min<int64_t>(int64_t{x} + w, canvas.width);
    const int64_t top = std::max<int64_t>(y, 0);
    const int64_t bottom = std::min<int64_t>(int64_t{y} + h, canvas.height);
    if (left >= right || top >= bottom) return;

    const size_t span = static_cast<size_t>(right - left);
    uint8_t* row = canvas.pixels + static_cast<size_t>(top) * canvas.pitch + left;
    if (span == canvas.pitch) {
        // Whole lines of a surface without padding are one block.
        std::memset(row, colour, span * static_cast<size_t>(bottom - top));
        return;
    }
    for (int64_t line = top; line < bottom; ++line, row += canvas.pitch) std::memset(row, colour, span);
}

void drawLine(const Canvas& canvas, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
              uint8_t colour) {
    // Horizontal and vertical lines leave out their end point and are drawn only left to
    // right or top to bottom.
    if (y1 == y2) {
        if (x2 > x1) fillRect(canvas, x1, y1, x2 - x1, 1, colour);
        return;
    }
    if (x1 == x2) {
        if (y2 > y1) fillRect(canvas, x1, y1, 1, y2 - y1, colour);
        return;
    }
    if (canvas.empty()) return;

    // Two accumulators step x and y over n = max(|dx|, |dy|); the start point is plotted twice
    // and the last point plotted is the end point. Differences are taken in 32 bits so that
    // lines longer than 32767 pixels keep their direction.
    const int32_t dx = x2 - x1;
    const int32_t dy = y2 - y1;
    const int32_t adx = std::abs(dx);
    const int32_t ady = std::abs(dy);
    const int32_t sx = dx > 0 ? 1 : -1;
    const int32_t sy = dy > 0 ? 1 : -1;
    const int32_t n = std::max(adx, ady);
    int32_t ex = 0;
    int32_t ey = 0;
    int32_t x = x1;
    int32_t y = y1;
    for (int32_t step = 0; step < n + 2; ++step) {
        ex += adx;
        ey += ady;
        if (x >= 0 && x < canvas.width && y >= 0 && y < canvas.height)
            canvas.pixels[static_cast<size_t>(y) * canvas.pitch + static_cast<size_t>(x)] = colour;
        if (ex > n) {
            ex -= n;
            x += sx;
        }
        if (ey > n) {
            ey -= n;
            y += sy;
        }
    }
}

void drawRect(const Canvas& canvas, const XGC& gc, int32_t x, int32_t y, int32_t w, int32_t h) {
    if (gc.mode & XGC_MODE_FILL) fillRect(canvas, x, y, w, h, gc.fillColor);
    if (gc.mode & XGC_MODE_BORDER) {
        const int32_t b = gc.borderWidth;
        fillRect(canvas, x, y, b, h, gc.borderColor);          // left
        fillRect(canvas, x, y, w, b, gc.borderColor);          // top
        fillRect(canvas, x + w - b, y, b, h, gc.borderColor);  // right
        fillRect(canvas, x, y + h - b, w, b, gc.borderColor);  // bottom
    }
}

}  // namespace veld::xgrp

using veld::xgrp::formView;

extern "C" {

void XGRP_InitGC(XGC* gc) {
    if (gc == nullptr) return;
    gc->textColor = 0;
    gc->fillColor = 0;
    gc->borderColor = 0;
    gc->reserved0 = 0;
    gc->borderWidth = 1;
    gc->reserved1 = 0;
    gc->mode = XGC_MODE_FILL;
}

int32_t XGRP_SetPalette(const uint32_t* entries) {
    if (entries == nullptr) return -5;
    return XDRV_SetPalette(entries);
}

void XGRP_DrawLine(XWindow* form, int16_t x1, int16_t y1, int16_t x2, int16_t y2) {
    const auto view = formView(form);
    if (view.canvas.empty()) return;
    veld::xgrp::drawLine(view.canvas, view.originX + x1, view.originY + y1, view.originX + x2,
                         view.originY + y2, form->gc.fillColor);
}

void XGRP_DrawRect(XWindow* form, int16_t x, int16_t y, uint16_t width, uint16_t height) {
    const auto view = formView(form);
    if (view.canvas.empty()) return;
    veld::xgrp::drawRect(view.canvas, form->gc, view.originX + x, view.originY + y, width, height);
}

}  // extern "C"
