// Reference renderer, YUV targets: working values stored into a YUV surface (packed, planar or
// semi-planar) as the 2D engine stores them.
//
// Rules of the reference (the chroma subsampling rule is the one the driver's core follows):
// - each drawn pixel takes its own luma;
// - each chroma sample (a pixel pair of packed and 4:2:2 formats, a 2 x 2 block of 4:2:0
//   formats) takes the average of the chromas of the drawn pixels it covers, rounded half up;
//   a sample that covers no drawn pixel keeps its value;
// - RGB to YUV in BT.601 (mode 0) or BT.709 (mode 1), video range, computed exactly and
//   rounded once at the end.
#pragma once

#include "formats.h"
#include "reference.h"

#include <cstdint>
#include <functional>

namespace galref {

// The exact Y, U and V of a working value.
void argbToYuv(uint32_t colour, YuvMode mode, double yuv[3]);

// Stores `value(x, y)` (a working value) into the drawn pixels of a YUV target: the memory
// pixels inside `area` for which `drawn(x, y)` is true. Rotation 0 only.
Status writeYuvArea(const Surface& target, const Rect& area, YuvMode mode,
                    const std::function<bool(uint32_t, uint32_t)>& drawn,
                    const std::function<uint32_t(uint32_t, uint32_t)>& value);

// Compares the Y, U and V samples of two YUV surfaces of the same format and size byte by byte
// within `tolerance`; "" when they agree, else the first difference and the count.
std::string compareYuvSurfaces(std::string_view operation, const Surface& expected,
                               const Surface& actual, uint32_t tolerance);

}  // namespace galref
