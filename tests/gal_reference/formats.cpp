// Reference renderer, pixel formats: the table of 2D formats and per-pixel reads and writes.
#include "formats.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace galref {

namespace {

constexpr Channel none{0, 0};
constexpr Channel ch(uint8_t shift, uint8_t bits) { return Channel{shift, bits}; }
constexpr uint32_t pad(uint32_t shift, uint32_t bits) { return ((1u << bits) - 1) << shift; }

using K = FormatKind;

// clang-format off
constexpr std::array kFormats{
  FormatInfo{INDEX8,   "INDEX8",   K::Index, 8,  1, none,      none,      none,      none,      0},
  FormatInfo{X4R4G4B4, "X4R4G4B4", K::Rgb,  16, 1, none,      ch(8, 4),  ch(4, 4),  ch(0, 4),  pad(12, 4)},
  FormatInfo{A4R4G4B4, "A4R4G4B4", K::Rgb,  16, 1, ch(12, 4), ch(8, 4),  ch(4, 4),  ch(0, 4),  0},
  FormatInfo{R4G4B4A4, "R4G4B4A4", K::Rgb,  16, 1, ch(0, 4),  ch(12, 4), ch(8, 4),  ch(4, 4),  0},
  FormatInfo{X1R5G5B5, "X1R5G5B5", K::Rgb,  16, 1, none,      ch(10, 5), ch(5, 5),  ch(0, 5),  pad(15, 1)},
  FormatInfo{A1R5G5B5, "A1R5G5B5", K::Rgb,  16, 1, ch(15, 1), ch(10, 5), ch(5, 5),  ch(0, 5),  0},
  FormatInfo{R5G5B5A1, "R5G5B5A1", K::Rgb,  16, 1, ch(0, 1),  ch(11, 5), ch(6, 5),  ch(1, 5),  0},
  FormatInfo{R5G6B5,   "R5G6B5",   K::Rgb,  16, 1, none,      ch(11, 5), ch(5, 6),  ch(0, 5),  0},
  FormatInfo{X8R8G8B8, "X8R8G8B8", K::Rgb,  32, 1, none,      ch(16, 8), ch(8, 8),  ch(0, 8),  pad(24, 8)},
  FormatInfo{A8R8G8B8, "A8R8G8B8", K::Rgb,  32, 1, ch(24, 8), ch(16, 8), ch(8, 8),  ch(0, 8),  0},
  FormatInfo{R8G8B8A8, "R8G8B8A8", K::Rgb,  32, 1, ch(0, 8),  ch(24, 8), ch(16, 8), ch(8, 8),  0},
  FormatInfo{R8G8B8X8, "R8G8B8X8", K::Rgb,  32, 1, none,      ch(24, 8), ch(16, 8), ch(8, 8),  pad(0, 8)},
  FormatInfo{R5G5B5X1, "R5G5B5X1", K::Rgb,  16, 1, none,      ch(11, 5), ch(6, 5),  ch(1, 5),  pad(0, 1)},
  FormatInfo{R4G4B4X4, "R4G4B4X4", K::Rgb,  16, 1, none,      ch(12, 4), ch(8, 4),  ch(4, 4),  pad(0, 4)},
  FormatInfo{A4B4G4R4, "A4B4G4R4", K::Rgb,  16, 1, ch(12, 4), ch(0, 4),  ch(4, 4),  ch(8, 4),  0},
  FormatInfo{A1B5G5R5, "A1B5G5R5", K::Rgb,  16, 1, ch(15, 1), ch(0, 5),  ch(5, 5),  ch(10, 5), 0},
  FormatInfo{B5G6R5,   "B5G6R5",   K::Rgb,  16, 1, none,      ch(0, 5),  ch(5, 6),  ch(11, 5), 0},
  FormatInfo{X8B8G8R8, "X8B8G8R8", K::Rgb,  32, 1, none,      ch(0, 8),  ch(8, 8),  ch(16, 8), pad(24, 8)},
  FormatInfo{A8B8G8R8, "A8B8G8R8", K::Rgb,  32, 1, ch(24, 8), ch(0, 8),  ch(8, 8),  ch(16, 8), 0},
  FormatInfo{B4G4R4A4, "B4G4R4A4", K::Rgb,  16, 1, ch(0, 4),  ch(4, 4),  ch(8, 4),  ch(12, 4), 0},
  FormatInfo{B5G5R5A1, "B5G5R5A1", K::Rgb,  16, 1, ch(0, 1),  ch(1, 5),  ch(6, 5),  ch(11, 5), 0},
  FormatInfo{B8G8R8X8, "B8G8R8X8", K::Rgb,  32, 1, none,      ch(8, 8),  ch(16, 8), ch(24, 8), pad(0, 8)},
  FormatInfo{B8G8R8A8, "B8G8R8A8", K::Rgb,  32, 1, ch(0, 8),  ch(8, 8),  ch(16, 8), ch(24, 8), 0},
  FormatInfo{X4B4G4R4, "X4B4G4R4", K::Rgb,  16, 1, none,      ch(0, 4),  ch(4, 4),  ch(8, 4),  pad(12, 4)},
  FormatInfo{X1B5G5R5, "X1B5G5R5", K::Rgb,  16, 1, none,      ch(0, 5),  ch(5, 5),  ch(10, 5), pad(15, 1)},
  FormatInfo{B4G4R4X4, "B4G4R4X4", K::Rgb,  16, 1, none,      ch(4, 4),  ch(8, 4),  ch(12, 4), pad(0, 4)},
  FormatInfo{B5G5R5X1, "B5G5R5X1", K::Rgb,  16, 1, none,      ch(1, 5),  ch(6, 5),  ch(11, 5), pad(0, 1)},
  FormatInfo{YUY2,     "YUY2",     K::Yuv,  16, 1, none,      none,      none,      none,      0},
  FormatInfo{UYVY,     "UYVY",     K::Yuv,  16, 1, none,      none,      none,      none,      0},
  FormatInfo{YV12,     "YV12",     K::Yuv,   8, 3, none,      none,      none,      none,      0},
  FormatInfo{I420,     "I420",     K::Yuv,   8, 3, none,      none,      none,      none,      0},
  FormatInfo{NV12,     "NV12",     K::Yuv,   8, 2, none,      none,      none,      none,      0},
  FormatInfo{NV21,     "NV21",     K::Yuv,   8, 2, none,      none,      none,      none,      0},
  FormatInfo{NV16,     "NV16",     K::Yuv,   8, 2, none,      none,      none,      none,      0},
  FormatInfo{NV61,     "NV61",     K::Yuv,   8, 2, none,      none,      none,      none,      0},
  FormatInfo{YVYU,     "YVYU",     K::Yuv,  16, 1, none,      none,      none,      none,      0},
  FormatInfo{VYUY,     "VYUY",     K::Yuv,  16, 1, none,      none,      none,      none,      0},
  FormatInfo{A8,       "A8",       K::Rgb,   8, 1, ch(0, 8),  none,      none,      none,      0},
  FormatInfo{R8,       "R8",       K::Rgb,   8, 1, none,      ch(0, 8),  none,      none,      0},
  FormatInfo{RG16,     "RG16",     K::Rgb,  16, 1, none,      ch(0, 8),  ch(8, 8),  none,      0},
};
// clang-format on

const FormatInfo& infoOf(Format format) {
  for (const FormatInfo& info : kFormats) {
    if (info.format == format) return info;
  }
  // Every Format value has an entry; reaching here means a cast from an unchecked code.
  std::fprintf(stderr, "galref: format %u is not a 2D format\n", static_cast<unsigned>(format));
  std::abort();
}

uint32_t field(uint32_t raw, Channel c) { return (raw >> c.shift) & ((1u << c.bits) - 1); }

uint32_t bytesPerPixel(const FormatInfo& info) { return info.bitsPerPixel / 8; }

const uint8_t* pixelAddress(const Surface& s, uint32_t plane, uint32_t x, uint32_t y,
                            uint32_t bytes) {
  return s.planes[plane] + static_cast<size_t>(y) * s.strides[plane] + static_cast<size_t>(x) * bytes;
}

// Y, U and V samples of a pixel of a YUV surface.
struct YuvSample {
  uint32_t y, u, v;
};

YuvSample readYuv(const Surface& s, uint32_t x, uint32_t y) {
  const uint8_t* pair = pixelAddress(s, 0, x & ~1u, y, 2);
  const uint32_t second = x & 1;
  switch (s.format) {
    case YUY2: return {pair[second ? 2 : 0], pair[1], pair[3]};
    case UYVY: return {pair[second ? 3 : 1], pair[0], pair[2]};
    case YVYU: return {pair[second ? 2 : 0], pair[3], pair[1]};
    case VYUY: return {pair[second ? 3 : 1], pair[2], pair[0]};
    default: break;
  }
  const uint32_t luma = *pixelAddress(s, 0, x, y, 1);
  switch (s.format) {
    case YV12: return {luma, *pixelAddress(s, 2, x / 2, y / 2, 1), *pixelAddress(s, 1, x / 2, y / 2, 1)};
    case I420: return {luma, *pixelAddress(s, 1, x / 2, y / 2, 1), *pixelAddress(s, 2, x / 2, y / 2, 1)};
    default: break;
  }
  // Semi-planar: one interleaved chroma plane, half height for NV12/NV21, full for NV16/NV61.
  const uint32_t row = (s.format == NV12 || s.format == NV21) ? y / 2 : y;
  const uint8_t* chroma = pixelAddress(s, 1, x / 2, row, 2);
  const bool uFirst = s.format == NV12 || s.format == NV16;
  return {luma, uFirst ? chroma[0] : chroma[1], uFirst ? chroma[1] : chroma[0]};
}

uint32_t clampChannel(double v) {
  const double r = std::floor(v + 0.5);
  return r < 0 ? 0 : r > 255 ? 255 : static_cast<uint32_t>(r);
}

}  // namespace

std::span<const FormatInfo> allFormats() { return kFormats; }

std::optional<FormatInfo> formatInfo(uint32_t code) {
  for (const FormatInfo& info : kFormats) {
    if (info.format == code) return info;
  }
  return std::nullopt;
}

std::string formatName(uint32_t code) {
  if (auto info = formatInfo(code)) return std::string(info->name);
  return "format " + std::to_string(code);
}

uint32_t widenChannel(uint32_t value, uint32_t bits) {
  if (bits == 0) return 0;
  if (bits >= 8) return value >> (bits - 8);
  // Repeat the bits from the top down until eight are filled: 5-bit abcde → abcdeabc.
  uint32_t out = 0;
  int filled = 0;
  while (filled < 8) {
    out = (out << bits) | value;
    filled += static_cast<int>(bits);
  }
  return out >> (filled - 8);
}

uint32_t narrowChannel(uint32_t value8, uint32_t bits) {
  if (bits == 0) return 0;
  return value8 >> (8 - bits);
}

uint32_t rawToArgb(Format format, uint32_t raw, const uint32_t* palette) {
  const FormatInfo& info = infoOf(format);
  if (info.kind == FormatKind::Index) return palette ? palette[raw & 0xFF] : 0;
  const uint32_t a = info.a.bits ? widenChannel(field(raw, info.a), info.a.bits) : 0xFF;
  const uint32_t r = widenChannel(field(raw, info.r), info.r.bits);
  const uint32_t g = widenChannel(field(raw, info.g), info.g.bits);
  const uint32_t b = widenChannel(field(raw, info.b), info.b.bits);
  return argb(a, r, g, b);
}

uint32_t argbToRaw(Format format, uint32_t colour) {
  const FormatInfo& info = infoOf(format);
  uint32_t raw = 0;
  auto put = [&raw](Channel c, uint32_t value8) {
    if (c.bits) raw |= narrowChannel(value8, c.bits) << c.shift;
  };
  put(info.a, alphaOf(colour));
  put(info.r, redOf(colour));
  put(info.g, greenOf(colour));
  put(info.b, blueOf(colour));
  return raw;
}

std::optional<uint32_t> colorPackToArgb8(uint32_t format, uint32_t key) {
  const auto info = formatInfo(format);
  if (!info) return std::nullopt;
  if (info->kind == FormatKind::Index) return key;
  if (info->kind == FormatKind::Yuv) return std::nullopt;  // keys on YUV sources: not modelled
  const uint32_t a = info->a.bits ? field(key, info->a) : 0xFF;
  return argb(a, field(key, info->r), field(key, info->g), field(key, info->b));
}

uint32_t yuvToArgb(uint32_t y, uint32_t u, uint32_t v, YuvMode mode) {
  const double c = static_cast<double>(y) - 16;
  const double d = static_cast<double>(u) - 128;
  const double e = static_cast<double>(v) - 128;
  const bool bt709 = mode == YuvMode::Bt709;
  const double r = 1.164 * c + (bt709 ? 1.793 : 1.596) * e;
  const double g = 1.164 * c - (bt709 ? 0.213 : 0.392) * d - (bt709 ? 0.533 : 0.813) * e;
  const double b = 1.164 * c + (bt709 ? 2.112 : 2.017) * d;
  return argb(0xFF, clampChannel(r), clampChannel(g), clampChannel(b));
}

uint32_t readRaw(const Surface& s, uint32_t x, uint32_t y) {
  const FormatInfo& info = infoOf(s.format);
  const uint32_t bytes = bytesPerPixel(info);
  const uint8_t* p = pixelAddress(s, 0, x, y, bytes);
  // Pixels are stored as little-endian words of their size.
  uint32_t raw = 0;
  for (uint32_t i = 0; i < bytes; ++i) raw |= static_cast<uint32_t>(p[i]) << (8 * i);
  return raw;
}

void writeRaw(const Surface& s, uint32_t x, uint32_t y, uint32_t raw) {
  const FormatInfo& info = infoOf(s.format);
  const uint32_t bytes = bytesPerPixel(info);
  uint8_t* p = s.planes[0] + static_cast<size_t>(y) * s.strides[0] + static_cast<size_t>(x) * bytes;
  for (uint32_t i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(raw >> (8 * i));
}

uint32_t readArgb(const Surface& s, uint32_t x, uint32_t y) {
  const FormatInfo& info = infoOf(s.format);
  if (info.kind == FormatKind::Yuv) {
    const YuvSample sample = readYuv(s, x, y);
    return yuvToArgb(sample.y, sample.u, sample.v, s.yuvMode);
  }
  return rawToArgb(s.format, readRaw(s, x, y), s.palette);
}

void writeArgb(const Surface& s, uint32_t x, uint32_t y, uint32_t colour) {
  writeRaw(s, x, y, argbToRaw(s.format, colour));
}

SurfaceBuffer::SurfaceBuffer(Format format, uint32_t width, uint32_t height) {
  surface.format = format;
  surface.width = width;
  surface.height = height;
  const FormatInfo& info = infoOf(format);
  size_t planeBytes[3] = {0, 0, 0};
  if (info.planes == 1) {
    surface.strides[0] = width * info.bitsPerPixel / 8;
    planeBytes[0] = static_cast<size_t>(surface.strides[0]) * height;
  } else {
    surface.strides[0] = width;
    planeBytes[0] = static_cast<size_t>(width) * height;
    if (info.planes == 3) {
      surface.strides[1] = surface.strides[2] = width / 2;
      planeBytes[1] = planeBytes[2] = static_cast<size_t>(width / 2) * (height / 2);
    } else {
      surface.strides[1] = width;
      const bool halfHeight = format == NV12 || format == NV21;
      planeBytes[1] = static_cast<size_t>(width) * (halfHeight ? height / 2 : height);
    }
  }
  offsets_[1] = planeBytes[0];
  offsets_[2] = planeBytes[0] + planeBytes[1];
  memory_.assign(planeBytes[0] + planeBytes[1] + planeBytes[2], 0);
  pointPlanes();
}

SurfaceBuffer::SurfaceBuffer(const SurfaceBuffer& other)
    : surface(other.surface), memory_(other.memory_) {
  std::copy(std::begin(other.offsets_), std::end(other.offsets_), offsets_);
  pointPlanes();
}

SurfaceBuffer& SurfaceBuffer::operator=(const SurfaceBuffer& other) {
  surface = other.surface;
  memory_ = other.memory_;
  std::copy(std::begin(other.offsets_), std::end(other.offsets_), offsets_);
  pointPlanes();
  return *this;
}

void SurfaceBuffer::pointPlanes() {
  const uint32_t planes = infoOf(surface.format).planes;
  for (uint32_t p = 0; p < 3; ++p) surface.planes[p] = p < planes ? memory_.data() + offsets_[p] : nullptr;
}

std::string compareSurfaces(std::string_view operation, const Surface& expected,
                            const Surface& actual, uint32_t tolerance) {
  char line[256];
  if (expected.format != actual.format || expected.width != actual.width ||
      expected.height != actual.height) {
    std::snprintf(line, sizeof line, "%.*s: surfaces differ in kind: %s %ux%u against %s %ux%u",
                  static_cast<int>(operation.size()), operation.data(),
                  formatName(expected.format).c_str(), expected.width, expected.height,
                  formatName(actual.format).c_str(), actual.width, actual.height);
    return line;
  }
  const FormatInfo& info = infoOf(expected.format);
  const bool byColour = tolerance > 0 || info.kind == FormatKind::Yuv;
  uint64_t differing = 0;
  uint32_t firstX = 0, firstY = 0, firstExpected = 0, firstActual = 0;
  for (uint32_t y = 0; y < expected.height; ++y) {
    for (uint32_t x = 0; x < expected.width; ++x) {
      uint32_t e, a;
      bool same;
      if (byColour) {
        e = readArgb(expected, x, y);
        a = readArgb(actual, x, y);
        same = true;
        for (int shift = 0; shift < 32; shift += 8) {
          const int d = static_cast<int>((e >> shift) & 0xFF) - static_cast<int>((a >> shift) & 0xFF);
          if (static_cast<uint32_t>(d < 0 ? -d : d) > tolerance) same = false;
        }
      } else {
        e = readRaw(expected, x, y) & ~info.paddingMask;
        a = readRaw(actual, x, y) & ~info.paddingMask;
        same = e == a;
      }
      if (same) continue;
      if (differing++ == 0) {
        firstX = x;
        firstY = y;
        firstExpected = e;
        firstActual = a;
      }
    }
  }
  if (differing == 0) return "";
  std::snprintf(line, sizeof line,
                "%.*s %s: first differing pixel (%u, %u): expected 0x%0*X, got 0x%0*X%s "
                "(%llu pixels differ)",
                static_cast<int>(operation.size()), operation.data(),
                std::string(info.name).c_str(), firstX, firstY,
                byColour ? 8 : static_cast<int>(info.bitsPerPixel / 4), firstExpected,
                byColour ? 8 : static_cast<int>(info.bitsPerPixel / 4), firstActual,
                byColour ? " as A8R8G8B8" : "", static_cast<unsigned long long>(differing));
  return line;
}

}  // namespace galref
