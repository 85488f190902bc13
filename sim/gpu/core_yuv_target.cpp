// The software 2D core's planar and semi-planar YUV targets (YV12, NV12, NV16 and their
// swapped forms): the luma plane at the target address, the chroma planes from the extra
// target planes of 0x130C. A draw runs on a working copy of the drawn pixels in A8R8G8B8, then
// each drawn pixel's luma and each touched chroma sample go back (gal_states.h gives the rule:
// the chroma of a sample is the average over its drawn pixels, halves rounded up).
#include <vector>

#include "core2d.h"
#include "gal_states.h"

namespace veld::gpusim {
namespace {

constexpr uint32_t reg(uint32_t byteAddress) { return byteAddress / 4; }

}  // namespace

uint64_t Core2D::renderOnCopy(RasterJob& job, PixelPlanes yuv, const Area& a,
                              std::vector<uint32_t>& copy) {
    const ColourSpace toRgb = ColourSpace::toRgb(targetColourMode_, &registers_[reg(GAL_STATE_CSC_YUV_TO_RGB)]);
    yuv.colourSpace = &toRgb;
    const uint32_t width = uint32_t(a.width());
    copy.assign(size_t(width) * uint32_t(a.height()), 0);
    for (int32_t y = a.top; y < a.bottom; ++y)
        decodeYuvRow(yuv, uint32_t(a.left), uint32_t(y), width, &copy[size_t(y - a.top) * width]);
    job.target.layout = pixelLayout(GAL_HW_FORMAT_A8R8G8B8, 0, false);
    job.target.strides[0] = width * 4;
    job.targetMemory = reinterpret_cast<uint8_t*>(copy.data());
    job.targetLeft = uint32_t(a.left);
    job.targetTop = uint32_t(a.top);
    return render(job);
}

uint64_t Core2D::renderAnyYuvTarget(RasterJob& job, const Area& m) {
    return job.target.layout.kind == PixelKind::PackedYuv ? renderYuvTarget(job, m)
                                                           : renderPlanarYuvTarget(job, m);
}

uint64_t Core2D::renderPlanarYuvTarget(RasterJob& job, const Area& m) {
    if (!job.targetView.plain()) {
        fail("rotated planar YUV target", job.targetView.rotation, 0);
        return 0;
    }
    const PixelLayout layout = job.target.layout;
    const bool semi = layout.kind == PixelKind::SemiPlanarYuv;
    const uint32_t* extra = &registers_[reg(GAL_STATE_MULTI_TARGET)];
    if (extra[0] != (semi ? 1u : 2u)) {
        fail("planar YUV target without its chroma planes", extra[0], 0);
        return 0;
    }
    const bool half = layout.halfHeightChroma;
    const Area chroma{m.left / 2, half ? m.top / 2 : m.top, (m.right - 1) / 2 + 1,
                      half ? (m.bottom - 1) / 2 + 1 : m.bottom};
    PixelPlanes yuv;
    yuv.layout = layout;
    uint8_t* planes[3] = {};
    planes[0] = plane(registers_[reg(GAL_STATE_TARGET_ADDRESS)], job.target.strides[0], m, 1);
    if (!planes[0]) return 0;
    yuv.strides[0] = job.target.strides[0];
    for (uint32_t p = 1; p <= extra[0]; ++p) {
        yuv.strides[p] = extra[2 * p];
        planes[p] = plane(extra[2 * p - 1], extra[2 * p], chroma, semi ? 2 : 1);
        if (!planes[p]) return 0;
    }
    for (int p = 0; p < 3; ++p) yuv.planes[p] = planes[p];
    const ColourSpace toYuv = ColourSpace::toYuv(targetColourMode_, &registers_[reg(GAL_STATE_CSC_RGB_TO_YUV)]);

    // The draw on a working copy of the drawn pixels.
    const uint32_t width = uint32_t(m.width());
    std::vector<uint32_t> copy;
    const uint64_t drawn = renderOnCopy(job, yuv, m, copy);

    // Back to luma per pixel and chroma per sample.
    const int32_t rows = half ? 2 : 1;
    for (int32_t cy = chroma.top; cy < chroma.bottom; ++cy) {
        for (int32_t cx = chroma.left; cx < chroma.right; ++cx) {
            uint32_t u = 0, v = 0, n = 0;
            for (int32_t y = cy * rows; y < cy * rows + rows; ++y) {
                for (int32_t x = 2 * cx; x < 2 * cx + 2; ++x) {
                    if (x < m.left || x >= m.right || y < m.top || y >= m.bottom) continue;
                    const uint32_t value = copy[size_t(y - m.top) * width + uint32_t(x - m.left)];
                    uint32_t out[3];
                    toYuv.apply((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF, out);
                    planes[0][size_t(y) * yuv.strides[0] + uint32_t(x)] = uint8_t(out[0]);
                    u += out[1];
                    v += out[2];
                    ++n;
                }
            }
            const uint8_t cu = uint8_t((u + n / 2) / n), cv = uint8_t((v + n / 2) / n);
            if (semi) {
                uint8_t* pair = planes[1] + size_t(cy) * yuv.strides[1] + size_t(cx) * 2;
                pair[layout.uvSwap ? 1 : 0] = cu;
                pair[layout.uvSwap ? 0 : 1] = cv;
            } else {
                planes[1][size_t(cy) * yuv.strides[1] + uint32_t(cx)] = cu;
                planes[2][size_t(cy) * yuv.strides[2] + uint32_t(cx)] = cv;
            }
        }
    }
    return drawn;
}

}  // namespace veld::gpusim
