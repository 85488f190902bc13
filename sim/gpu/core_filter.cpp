// The software 2D core's filter passes (hardware commands 5 and 6) and its packed YUV targets.
//
// A filter pass filters the source rectangle of 0x1210 / 0x1214 along one direction with the
// kernel of that direction (17 phases x 9 taps at 0x1800 or 0x1A00) and writes the draw
// rectangle as it is, without raster operation, keys or blending; the sampling rule is the one
// gal_states.h gives. A YUV target is drawn through a working copy of its pixels in A8R8G8B8:
// the draw runs on the copy, then each drawn pixel pair is converted back (two lumas, chroma
// averaged over the drawn pixels of the pair).
#include <algorithm>
#include <vector>

#include "core2d.h"
#include "gal_states.h"

namespace veld::gpusim {
namespace {

constexpr uint32_t reg(uint32_t byteAddress) { return byteAddress / 4; }

using Kernel = int16_t[17][9];

// Where destination index i of a direction samples its source: the taps of its phase that
// are not zero, each with the source index it reads (clamped to the extent).
struct Sample {
    uint32_t count = 0;
    uint32_t index[9];
    int64_t weight[9];
};

Sample sampleAt(const Kernel& kernel, uint32_t i, uint32_t factor, uint32_t extent) {
    const int64_t u = int64_t(i) * factor;
    const int64_t c = (u + 0x8000) >> 16;
    const int64_t d = u - (c << 16);
    const bool mirrored = d > 0;
    const int64_t fromBefore = mirrored ? 0x8000 - d : d + 0x8000;
    const int16_t* taps = kernel[(fromBefore * 32 + 0x8000) >> 16];
    Sample s;
    for (int t = 0; t < 9; ++t) {
        if (taps[t] == 0) continue;
        const int64_t k = mirrored ? c - (t - 4) : c + (t - 4);
        s.index[s.count] = uint32_t(std::clamp<int64_t>(k, 0, int64_t(extent) - 1));
        s.weight[s.count++] = taps[t];
    }
    return s;
}

uint32_t clampedChannel(int64_t sum) { return uint32_t(std::clamp<int64_t>((sum + 8192) >> 14, 0, 255)); }

// One filtered working value: `values[s.index[t] * step]` are the taps' pixels. Two channels
// share each 64-bit sum, 32 bits apart: every channel's sum stays far inside 31 bits.
uint32_t filtered(const Sample& s, const uint32_t* values, size_t step) {
    int64_t low = 0, high = 0;  // channels 0 and 1, channels 2 and 3
    for (uint32_t t = 0; t < s.count; ++t) {
        const uint64_t pixel = values[size_t(s.index[t]) * step];
        low += s.weight[t] * int64_t((pixel & 0xFF) | (pixel & 0xFF00) << 24);
        high += s.weight[t] * int64_t((pixel >> 16 & 0xFF) | (pixel >> 24) << 32);
    }
    const int64_t c0 = int32_t(uint32_t(low)), c2 = int32_t(uint32_t(high));
    const int64_t c1 = (low - c0) >> 32, c3 = (high - c2) >> 32;
    return clampedChannel(c0) | clampedChannel(c1) << 8 | clampedChannel(c2) << 16 | clampedChannel(c3) << 24;
}

// Working values of n pixels of a source view row from view column x on.
void viewRow(const RasterJob& j, uint32_t y, uint32_t x, uint32_t n, uint32_t* out) {
    const PixelPlanes& s = j.sourcePlanes;
    if (!j.sourceView.plain()) {
        for (uint32_t i = 0; i < n; ++i) {
            uint32_t mx, my;
            j.sourceView.toMemory(x + i, y, mx, my);
            out[i] = readArgb(s, mx, my, false);
        }
        return;
    }
    if (s.layout.kind == PixelKind::Rgb || s.layout.kind == PixelKind::Index) {
        decodeRow(s.layout, s.planes[0] + size_t(y) * s.strides[0] + size_t(x) * s.layout.bytes, n, out, s.palette);
        return;
    }
    decodeYuvRow(s, x, y, n, out);
}

}  // namespace

void Core2D::filterPass(RasterJob& job, const Command& c, uint32_t command) {
    const bool horizontal = command == GAL_HW_FILTER_H;
    const uint32_t size = registers_[reg(GAL_STATE_SOURCE_SIZE)];
    const uint32_t sw = size & 0xFFFF, sh = size >> 16;
    if (sw == 0 || sh == 0) {
        fail("2D filter pass without a source rectangle", sw, sh);
        return;
    }
    // The whole source rectangle is resolved and checked like a blit that reads it once.
    RasterJob from;
    from.rect = from.area = Area{0, 0, int32_t(sw), int32_t(sh)};
    if (!source(from, c)) return;
    if (from.source != SourceKind::Colour) {
        fail("2D filter pass needs a colour source", 0, 0);
        return;
    }
    const Area& a = job.area;
    const uint32_t n = uint32_t(a.width()), rows = uint32_t(a.height());
    // The drawn area must lie in video memory before anything is computed for it.
    if (!plane(registers_[reg(GAL_STATE_TARGET_ADDRESS)], job.target.strides[0], job.targetView.toMemory(a),
               job.target.layout.bytes))
        return;
    // The pass keeps the other direction: draw row r reads source row r, or draw column c
    // source column c.
    const uint32_t keptEnd = horizontal ? uint32_t(a.bottom - job.rect.top) : uint32_t(a.right - job.rect.left);
    if (keptEnd > (horizontal ? sh : sw)) {
        fail("2D filter pass larger than its source rectangle", keptEnd, horizontal ? sh : sw);
        return;
    }
    Kernel kernel;
    const uint32_t* words = &registers_[reg(horizontal ? GAL_STATE_FILTER_KERNEL_H : GAL_STATE_FILTER_KERNEL_V)];
    for (uint32_t k = 0; k < 153; ++k) kernel[k / 9][k % 9] = int16_t(words[k / 2] >> (16 * (k % 2)));
    const uint32_t factor = registers_[reg(horizontal ? GAL_STATE_STRETCH_H : GAL_STATE_STRETCH_V)];
    const uint32_t startWord = registers_[reg(GAL_STATE_FILTER_START)];
    const uint32_t start = horizontal ? startWord & 0xFFFF : startWord >> 16;

    std::vector<uint32_t> out(size_t(n) * rows);
    if (horizontal) {
        std::vector<Sample> samples(n);
        for (uint32_t i = 0; i < n; ++i)
            samples[i] = sampleAt(kernel, uint32_t(a.left - job.rect.left) + i + start, factor, sw);
        std::vector<uint32_t> row(sw);
        for (uint32_t r = 0; r < rows; ++r) {
            viewRow(from, from.originY + uint32_t(a.top - job.rect.top) + r, from.originX, sw, row.data());
            for (uint32_t i = 0; i < n; ++i) out[size_t(r) * n + i] = filtered(samples[i], row.data(), 1);
        }
    } else {
        std::vector<Sample> samples(rows);
        uint32_t lowest = sh, highest = 0;
        for (uint32_t r = 0; r < rows; ++r) {
            samples[r] = sampleAt(kernel, uint32_t(a.top - job.rect.top) + r + start, factor, sh);
            for (uint32_t t = 0; t < samples[r].count; ++t) {
                lowest = std::min(lowest, samples[r].index[t]);
                highest = std::max(highest, samples[r].index[t]);
            }
        }
        if (lowest > highest) lowest = highest = 0;  // a kernel without taps reads nothing
        // The source rows the taps reach, over the drawn columns.
        std::vector<uint32_t> columns(size_t(highest - lowest + 1) * n);
        const uint32_t firstColumn = from.originX + uint32_t(a.left - job.rect.left);
        for (uint32_t k = lowest; k <= highest; ++k)
            viewRow(from, from.originY + k, firstColumn, n, &columns[size_t(k - lowest) * n]);
        for (uint32_t r = 0; r < rows; ++r) {
            Sample s = samples[r];
            for (uint32_t t = 0; t < s.count; ++t) s.index[t] -= lowest;
            for (uint32_t i = 0; i < n; ++i) out[size_t(r) * n + i] = filtered(s, &columns[i], n);
        }
    }

    // The values go to the target as a copy of a plain A8R8G8B8 source would.
    RasterJob write = job;
    write.source = SourceKind::Colour;
    write.sourcePlanes = PixelPlanes{};
    write.sourcePlanes.layout = pixelLayout(GAL_HW_FORMAT_A8R8G8B8, 0, false);
    write.sourcePlanes.planes[0] = reinterpret_cast<const uint8_t*>(out.data());
    write.sourcePlanes.strides[0] = n * 4;
    write.sourceView = View{};
    // Pixel (0, 0) of `out` lies under the area's first pixel.
    write.originX = write.originY = 0;
    write.rect = a;
    write.foregroundRop = write.backgroundRop = 0xCC;
    write.blend = false;
    write.sourceMode = write.patternMode = write.destinationMode = kOpaque;
    write.brush = BrushKind::None;
    write.horizontalFactor = write.verticalFactor = 0x10000;
    write.mirrorHorizontal = write.mirrorVertical = false;
    const Area m = write.targetView.toMemory(a);
    if (write.target.layout.kind != PixelKind::Rgb && write.target.layout.kind != PixelKind::Index) {
        pixels_ += renderAnyYuvTarget(write, m);
        return;
    }
    write.targetMemory = plane(registers_[reg(GAL_STATE_TARGET_ADDRESS)], write.target.strides[0], m,
                               write.target.layout.bytes);
    if (!write.targetMemory) return;
    pixels_ += render(write);
}

uint64_t Core2D::renderYuvTarget(RasterJob& job, const Area& m) {
    // Whole pixel pairs of the target's memory.
    const Area pairs{m.left & ~1, m.top, (m.right + 1) & ~1, m.bottom};
    const uint32_t stride = job.target.strides[0];
    uint8_t* memory = plane(registers_[reg(GAL_STATE_TARGET_ADDRESS)], stride, pairs, 2);
    if (!memory) return 0;
    PixelPlanes yuv;
    yuv.layout = job.target.layout;
    yuv.planes[0] = memory;
    yuv.strides[0] = stride;
    const ColourSpace toYuv = ColourSpace::toYuv(targetColourMode_, &registers_[reg(GAL_STATE_CSC_RGB_TO_YUV)]);
    const uint32_t width = uint32_t(pairs.width());
    std::vector<uint32_t> copy;
    const uint64_t drawn = renderOnCopy(job, yuv, pairs, copy);

    const PixelLayout& l = yuv.layout;
    for (int32_t y = m.top; y < m.bottom; ++y) {
        uint8_t* row = memory + size_t(y) * stride;
        const uint32_t* values = &copy[size_t(y - pairs.top) * width];
        for (int32_t x = pairs.left; x < pairs.right; x += 2) {
            const bool first = x >= m.left, second = x + 1 < m.right;
            uint32_t a[3] = {0, 0, 0}, b[3] = {0, 0, 0};
            const uint32_t va = values[x - pairs.left], vb = values[x + 1 - pairs.left];
            toYuv.apply((va >> 16) & 0xFF, (va >> 8) & 0xFF, va & 0xFF, a);
            toYuv.apply((vb >> 16) & 0xFF, (vb >> 8) & 0xFF, vb & 0xFF, b);
            uint8_t* pair = row + size_t(x) * 2;
            if (first) pair[l.y0] = uint8_t(a[0]);
            if (second) pair[l.y1] = uint8_t(b[0]);
            const uint32_t u = first && second ? (a[1] + b[1] + 1) / 2 : first ? a[1] : b[1];
            const uint32_t v = first && second ? (a[2] + b[2] + 1) / 2 : first ? a[2] : b[2];
            pair[l.u] = uint8_t(u);
            pair[l.v] = uint8_t(v);
        }
    }
    return drawn;
}

}  // namespace veld::gpusim
