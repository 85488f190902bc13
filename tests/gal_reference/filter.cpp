// Reference renderer, filter blits: kernel construction step by step, and the two passes.
#include "filter.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace galref {

namespace {

constexpr float kPi = 3.1415927f;

void sincPhase(uint32_t n, float scale, uint32_t phase, std::array<int16_t, kFilterTaps>& taps) {
  const int first = static_cast<int>(9 - n) / 2;
  const int half = static_cast<int>(n) / 2;
  const float offset = 0.5f - static_cast<float>(phase) / 32.0f;
  float weights[kFilterTaps] = {};
  float sum = 0.0f;
  for (int t = 0; t < 9; ++t) {
    const int i = t - first;
    if (i < 0 || i >= static_cast<int>(n)) continue;
    const float x = (static_cast<float>(i - half) + offset) * scale;
    float w;
    if (n == 1 || x == 0.0f) {
      w = 1.0f;
    } else if (std::fabs(x) > static_cast<float>(half)) {
      w = 0.0f;
    } else {
      const float px = kPi * x;
      const float pxWindow = kPi * x / static_cast<float>(half);
      w = std::sin(px) / px * std::sin(pxWindow) / pxWindow;
    }
    weights[t] = w;
    sum += w;
  }
  int16_t sum16 = 0;
  for (int t = 0; t < 9; ++t) {
    const int i = t - first;
    if (i < 0 || i >= static_cast<int>(n)) {
      taps[t] = 0;
      continue;
    }
    const float v = weights[t] / sum;
    const int16_t c = v >= 1.0f ? 16384 : v <= -1.0f ? -16384 : static_cast<int16_t>(v * 16384.0f);
    taps[t] = c;
    sum16 = static_cast<int16_t>(sum16 + c);
  }
  // Spread the rounding error over the middle taps so that the phase sums to 1.0.
  const int d = 16384 - sum16;
  const int count = std::min(std::abs(d), 9);
  const int start = (9 - count) / 2;
  for (int k = 0; k < count; ++k) taps[start + k] = static_cast<int16_t>(taps[start + k] + (d > 0 ? 1 : -1));
}

// One filtered value along a direction: destination index i, the direction's factor and source
// extent; fetch(k) gives the working value of source pixel k (0-based) of the direction.
template <typename Fetch>
uint32_t filterAt(const FilterKernel& kernel, uint32_t i, uint32_t factor, uint32_t extent,
                  Fetch fetch) {
  const int64_t u = static_cast<int64_t>(i) * factor;
  const int64_t c = (u + 0x8000) >> 16;
  const int64_t d = u - (c << 16);
  const bool mirrored = d > 0;
  const int64_t fromBefore = mirrored ? 0x8000 - d : d + 0x8000;  // 0 .. 0x8000
  const uint32_t phase = static_cast<uint32_t>((fromBefore * 32 + 0x8000) >> 16);
  int64_t sums[4] = {0, 0, 0, 0};
  for (int t = 0; t < 9; ++t) {
    const int64_t k = mirrored ? c - (t - 4) : c + (t - 4);
    const uint32_t pixel = fetch(static_cast<uint32_t>(std::clamp<int64_t>(k, 0, extent - 1)));
    for (int ch = 0; ch < 4; ++ch) sums[ch] += kernel[phase][t] * static_cast<int64_t>((pixel >> (8 * ch)) & 0xFF);
  }
  uint32_t out = 0;
  for (int ch = 0; ch < 4; ++ch) {
    const int64_t v = std::clamp<int64_t>((sums[ch] + 8192) >> 14, 0, 255);
    out |= static_cast<uint32_t>(v) << (8 * ch);
  }
  return out;
}

bool validFilterRect(const Rect& r) {
  return r.left >= 0 && r.top >= 0 && r.left < r.right && r.top < r.bottom && r.right < 32768 &&
         r.bottom < 32768;
}

uint32_t readView(const Surface& s, uint32_t x, uint32_t y) {
  uint32_t mx, my;
  viewToMemory(s, x, y, mx, my);
  return readArgb(s, mx, my);
}

}  // namespace

bool filterKernel(uint32_t type, uint32_t kernelSize, uint32_t sourceSize,
                  uint32_t destinationSize, FilterKernel& kernel) {
  if (kernelSize < 1 || kernelSize > 9 || kernelSize % 2 == 0) return false;
  if (type == kBoxFilter) {
    const int first = static_cast<int>(9 - kernelSize) / 2;
    const int16_t value = kernelSize == 1 ? 16384 : static_cast<int16_t>(16384 / kernelSize);
    for (auto& phase : kernel) {
      for (int t = 0; t < 9; ++t) {
        const int i = t - first;
        phase[t] = (i >= 0 && i < static_cast<int>(kernelSize)) ? value : 0;
      }
    }
    return true;
  }
  if (type != kSincFilter) return false;
  float scale = 1.0f;
  if (sourceSize > 0 && destinationSize > 0) {
    scale = std::min(1.0f, static_cast<float>(destinationSize) / static_cast<float>(sourceSize));
  }
  for (uint32_t p = 0; p < kFilterPhases; ++p) sincPhase(kernelSize, scale, p, kernel[p]);
  return true;
}

FilterKernel userFilterKernel(std::span<const uint8_t, 306> bytes) {
  FilterKernel kernel;
  for (uint32_t k = 0; k < kFilterPhases * kFilterTaps; ++k) {
    kernel[k / kFilterTaps][k % kFilterTaps] =
        static_cast<int16_t>(bytes[2 * k] | (bytes[2 * k + 1] << 8));
  }
  return kernel;
}

std::array<uint32_t, 77> filterKernelWords(const FilterKernel& kernel, bool exchangeHalves) {
  uint16_t coefficients[154] = {};
  for (uint32_t k = 0; k < kFilterPhases * kFilterTaps; ++k) {
    coefficients[k] = static_cast<uint16_t>(kernel[k / kFilterTaps][k % kFilterTaps]);
  }
  std::array<uint32_t, 77> words{};
  for (uint32_t w = 0; w < 77; ++w) {
    const uint32_t low = coefficients[2 * w];
    const uint32_t high = coefficients[2 * w + 1];
    words[w] = exchangeHalves ? (high | low << 16) : (low | high << 16);
  }
  return words;
}

Status filterBlit(const Surface& source, const Rect& sourceRect, const Surface& target,
                  const Rect& destinationRect, const Rect& subRect,
                  const FilterKernel& horizontal, const FilterKernel& vertical) {
  if (!validFilterRect(sourceRect) || !validFilterRect(destinationRect)) {
    return Status::InvalidRectangle;
  }
  const auto targetInfo = formatInfo(target.format);
  if (!targetInfo || targetInfo->kind != FormatKind::Rgb) return Status::Unsupported;
  if (static_cast<uint32_t>(sourceRect.right) > viewWidth(source) ||
      static_cast<uint32_t>(sourceRect.bottom) > viewHeight(source)) {
    return Status::SourceOutside;
  }
  const uint32_t sw = static_cast<uint32_t>(sourceRect.width());
  const uint32_t sh = static_cast<uint32_t>(sourceRect.height());
  const uint32_t dw = static_cast<uint32_t>(destinationRect.width());
  const uint32_t dh = static_cast<uint32_t>(destinationRect.height());
  const uint32_t hFactor = stretchFactor(false, sw, dw);
  const uint32_t vFactor = stretchFactor(false, sh, dh);

  // Horizontal pass: destination width × source height.
  std::vector<uint32_t> middle(static_cast<size_t>(dw) * sh);
  for (uint32_t y = 0; y < sh; ++y) {
    for (uint32_t i = 0; i < dw; ++i) {
      middle[static_cast<size_t>(y) * dw + i] = filterAt(horizontal, i, hFactor, sw, [&](uint32_t k) {
        return readView(source, sourceRect.left + k, sourceRect.top + y);
      });
    }
  }
  // Vertical pass into the destination, inside the sub-rectangle and the target.
  for (uint32_t j = 0; j < dh; ++j) {
    for (uint32_t i = 0; i < dw; ++i) {
      const int32_t si = static_cast<int32_t>(i), sj = static_cast<int32_t>(j);
      if (si < subRect.left || si >= subRect.right || sj < subRect.top || sj >= subRect.bottom) continue;
      const uint32_t x = destinationRect.left + i;
      const uint32_t y = destinationRect.top + j;
      if (x >= viewWidth(target) || y >= viewHeight(target)) continue;
      const uint32_t value = filterAt(vertical, j, vFactor, sh, [&](uint32_t k) {
        return middle[static_cast<size_t>(k) * dw + i];
      });
      uint32_t mx, my;
      viewToMemory(target, x, y, mx, my);
      writeArgb(target, mx, my, value);
    }
  }
  return Status::Ok;
}

}  // namespace galref
