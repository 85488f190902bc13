// Reference renderer, YUV targets: see yuv_target.h.
#include "yuv_target.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace galref {

namespace {

bool packed(Format f) { return f == YUY2 || f == UYVY || f == YVYU || f == VYUY; }
bool halfHeight(Format f) { return f == YV12 || f == I420 || f == NV12 || f == NV21; }

uint8_t* at(const Surface& s, uint32_t plane, uint32_t x, uint32_t y) {
  return s.planes[plane] + static_cast<size_t>(y) * s.strides[plane] + x;
}

uint8_t rounded(double v) {
  const double r = std::floor(v + 0.5);
  return static_cast<uint8_t>(r < 0 ? 0 : r > 255 ? 255 : r);
}

// Where the luma of pixel (x, y) and the chroma sample covering it live.
struct Samples {
  uint8_t* y;
  uint8_t* u;
  uint8_t* v;
};

Samples samplesOf(const Surface& s, uint32_t x, uint32_t y) {
  if (packed(s.format)) {
    uint8_t* pair = at(s, 0, (x & ~1u) * 2, y);
    const uint32_t second = x & 1;
    switch (s.format) {
      case YUY2: return {pair + (second ? 2 : 0), pair + 1, pair + 3};
      case UYVY: return {pair + (second ? 3 : 1), pair + 0, pair + 2};
      case YVYU: return {pair + (second ? 2 : 0), pair + 3, pair + 1};
      default: return {pair + (second ? 3 : 1), pair + 2, pair + 0};  // VYUY
    }
  }
  uint8_t* luma = at(s, 0, x, y);
  const uint32_t row = halfHeight(s.format) ? y / 2 : y;
  switch (s.format) {
    case YV12: return {luma, at(s, 2, x / 2, row), at(s, 1, x / 2, row)};
    case I420: return {luma, at(s, 1, x / 2, row), at(s, 2, x / 2, row)};
    default: break;
  }
  uint8_t* chroma = at(s, 1, (x / 2) * 2, row);
  const bool uFirst = s.format == NV12 || s.format == NV16;
  return {luma, uFirst ? chroma : chroma + 1, uFirst ? chroma + 1 : chroma};
}

}  // namespace

void argbToYuv(uint32_t colour, YuvMode mode, double yuv[3]) {
  static const double kMatrix[2][9] = {
      {0.257, 0.504, 0.098, -0.148, -0.291, 0.439, 0.439, -0.368, -0.071},
      {0.183, 0.614, 0.062, -0.101, -0.339, 0.439, 0.439, -0.399, -0.040}};
  const double* m = kMatrix[mode == YuvMode::Bt709 ? 1 : 0];
  const double rgb[3] = {double(redOf(colour)), double(greenOf(colour)), double(blueOf(colour))};
  for (int k = 0; k < 3; ++k) {
    yuv[k] = (k == 0 ? 16.0 : 128.0);
    for (int j = 0; j < 3; ++j) yuv[k] += m[3 * k + j] * rgb[j];
  }
}

Status writeYuvArea(const Surface& target, const Rect& area, YuvMode mode,
                    const std::function<bool(uint32_t, uint32_t)>& drawn,
                    const std::function<uint32_t(uint32_t, uint32_t)>& value) {
  const auto info = formatInfo(target.format);
  if (!info || info->kind != FormatKind::Yuv || target.rotation != 0) return Status::Unsupported;
  const int32_t blockH = halfHeight(target.format) ? 2 : 1;
  const int32_t top = area.top / blockH * blockH, left = area.left & ~1;
  for (int32_t by = top; by < area.bottom; by += blockH) {
    for (int32_t bx = left; bx < area.right; bx += 2) {
      double u = 0, v = 0;
      int n = 0;
      for (int32_t y = by; y < by + blockH; ++y) {
        for (int32_t x = bx; x < bx + 2; ++x) {
          if (x < area.left || x >= area.right || y < area.top || y >= area.bottom) continue;
          if (x >= int32_t(target.width) || y >= int32_t(target.height)) continue;
          if (!drawn(uint32_t(x), uint32_t(y))) continue;
          double yuv[3];
          argbToYuv(value(uint32_t(x), uint32_t(y)), mode, yuv);
          *samplesOf(target, uint32_t(x), uint32_t(y)).y = rounded(yuv[0]);
          u += yuv[1];
          v += yuv[2];
          ++n;
        }
      }
      if (n == 0) continue;
      const Samples s = samplesOf(target, uint32_t(bx), uint32_t(by));
      *s.u = rounded(u / n);
      *s.v = rounded(v / n);
    }
  }
  return Status::Ok;
}

std::string compareYuvSurfaces(std::string_view operation, const Surface& expected,
                               const Surface& actual, uint32_t tolerance) {
  std::string first;
  uint64_t differing = 0;
  // Every luma and chroma byte, through the samples of each pixel.
  for (uint32_t y = 0; y < expected.height; ++y) {
    for (uint32_t x = 0; x < expected.width; ++x) {
      const Samples e = samplesOf(expected, x, y), a = samplesOf(actual, x, y);
      const uint8_t* pairs[3][2] = {{e.y, a.y}, {e.u, a.u}, {e.v, a.v}};
      static const char* kNames[3] = {"Y", "U", "V"};
      for (int k = 0; k < 3; ++k) {
        if (uint32_t(std::abs(int(*pairs[k][0]) - int(*pairs[k][1]))) <= tolerance) continue;
        if (k > 0 && ((x & 1) || (halfHeight(expected.format) && (y & 1)))) continue;  // counted once
        if (++differing == 1)
          first = std::string(kNames[k]) + " at pixel " + std::to_string(x) + "," + std::to_string(y) +
                  ": expected " + std::to_string(*pairs[k][0]) + ", got " + std::to_string(*pairs[k][1]);
      }
    }
  }
  if (differing == 0) return "";
  return std::string(operation) + " " + formatName(expected.format) + ": " + first + " (" +
         std::to_string(differing) + " samples differ)";
}

}  // namespace galref
