// Reference renderer, 2D operations: one destination pixel at a time, in the order the rules of
// reference.h describe them.
#include "reference.h"

#include <algorithm>
#include <cstdlib>

namespace galref {

namespace {

bool validRect(const Rect& r) {
  return r.left >= 0 && r.top >= 0 && r.left < r.right && r.top < r.bottom && r.right < 0x10000 &&
         r.bottom < 0x10000;
}

// destination ∩ clip (cut to 0..32767) ∩ target view; may be empty.
Rect drawArea(const Surface& target, const Rect& destination, const Rect& clip) {
  auto clamp15 = [](int32_t v) { return std::clamp(v, 0, 32767); };
  Rect area;
  area.left = std::max({destination.left, clamp15(clip.left), 0});
  area.top = std::max({destination.top, clamp15(clip.top), 0});
  area.right = std::min({destination.right, clamp15(clip.right),
                         static_cast<int32_t>(viewWidth(target))});
  area.bottom = std::min({destination.bottom, clamp15(clip.bottom),
                          static_cast<int32_t>(viewHeight(target))});
  return area;
}

bool writableTarget(const Surface& target) {
  const auto info = formatInfo(target.format);
  return info && info->kind == FormatKind::Rgb;
}

// Every byte of value within [low, high] of the same byte.
bool inKeyRange(uint32_t value, uint32_t low, uint32_t high) {
  for (int shift = 0; shift < 32; shift += 8) {
    const uint32_t v = (value >> shift) & 0xFF;
    if (v < ((low >> shift) & 0xFF) || v > ((high >> shift) & 0xFF)) return false;
  }
  return true;
}

// The raw value of a colour pixel in key lanes.
uint32_t keyLanesOfPixel(const Surface& s, uint32_t mx, uint32_t my) {
  return colorPackToArgb8(s.format, readRaw(s, mx, my)).value_or(0);
}

// One source pixel: its working value and whether a source transparency test fires.
struct SourcePixel {
  uint32_t colour = 0;
  bool transparent = false;
};

// Offset i (0-based across the destination rectangle) to the source offset.
uint32_t step(uint32_t i, uint32_t extent, bool mirror, uint32_t factor) {
  const uint64_t k = mirror ? extent - 1 - i : i;
  return static_cast<uint32_t>((k * factor) >> 16);
}

// The whole operation: checks, then every pixel of the draw area.
Status render(const Source& source, const Surface& target, const Rect& destination,
              const Rect& clip, const Brush& brush, const Raster& raster, uint32_t hFactor,
              uint32_t vFactor, const uint32_t* clearColour) {
  if (!validRect(destination)) return Status::InvalidRectangle;
  if (!writableTarget(target)) return Status::Unsupported;
  if (raster.destinationMode == kMasked || raster.patternMode == kKeyed ||
      raster.sourceMode > kMasked || raster.destinationMode > kMasked ||
      raster.patternMode > kMasked) {
    return Status::Unsupported;
  }
  const uint8_t fg = raster.foregroundRop;
  const uint8_t bg = raster.backgroundRop;
  const bool usesSource = clearColour == nullptr && (ropUsesSource(fg) || ropUsesSource(bg) ||
                                                     raster.sourceMode != kOpaque || raster.blend);
  const bool usesPattern =
      clearColour == nullptr && (ropUsesPattern(fg) || ropUsesPattern(bg) || raster.patternMode != kOpaque);
  if (usesSource && source.type == SourceType::None) return Status::MissingInput;
  if (usesPattern && brush.type == BrushType::None) return Status::MissingInput;
  if (usesSource && source.type != SourceType::Monochrome) {
    if (source.surface == nullptr) return Status::MissingInput;
    if (source.rect.left < 0 || source.rect.top < 0) return Status::SourceOutside;
  }
  if (usesPattern && brush.type == BrushType::Color && brush.pattern == nullptr) {
    return Status::MissingInput;
  }

  const Rect area = drawArea(target, destination, clip);
  if (area.left >= area.right || area.top >= area.bottom) return Status::Ok;
  const uint32_t dw = static_cast<uint32_t>(destination.width());
  const uint32_t dh = static_cast<uint32_t>(destination.height());

  // Every source read must lie inside the source view; check before writing anything.
  if (usesSource && source.type != SourceType::Monochrome) {
    const uint32_t sw = viewWidth(*source.surface);
    const uint32_t sh = viewHeight(*source.surface);
    for (int32_t x = area.left; x < area.right; ++x) {
      const uint32_t i = static_cast<uint32_t>(x - destination.left);
      if (source.rect.left + step(i, dw, raster.mirrorHorizontal, hFactor) >= sw) {
        return Status::SourceOutside;
      }
    }
    for (int32_t y = area.top; y < area.bottom; ++y) {
      const uint32_t j = static_cast<uint32_t>(y - destination.top);
      if (source.rect.top + step(j, dh, raster.mirrorVertical, vFactor) >= sh) {
        return Status::SourceOutside;
      }
    }
  }

  for (int32_t y = area.top; y < area.bottom; ++y) {
    for (int32_t x = area.left; x < area.right; ++x) {
      const uint32_t i = static_cast<uint32_t>(x - destination.left);
      const uint32_t j = static_cast<uint32_t>(y - destination.top);

      SourcePixel s;
      if (clearColour != nullptr) {
        s.colour = *clearColour;
      } else if (usesSource && source.type == SourceType::Monochrome) {
        const uint32_t bit = monoBit(source.stream, source.streamX + i, source.streamY + j);
        s.colour = bit ? source.stream.foreground : source.stream.background;
        s.transparent = raster.sourceMode == kMasked && bit == source.stream.transparency;
      } else if (usesSource) {
        const uint32_t sx = source.rect.left + step(i, dw, raster.mirrorHorizontal, hFactor);
        const uint32_t sy = source.rect.top + step(j, dh, raster.mirrorVertical, vFactor);
        uint32_t mx, my;
        viewToMemory(*source.surface, sx, sy, mx, my);
        s.colour = readArgb(*source.surface, mx, my);
        if (raster.sourceMode == kKeyed) {
          s.transparent =
              inKeyRange(keyLanesOfPixel(*source.surface, mx, my), raster.sourceKeyLow, raster.sourceKeyHigh);
        } else if (raster.sourceMode == kMasked && source.type == SourceType::Masked) {
          s.transparent = monoBit(source.stream, source.streamX + i, source.streamY + j) == 0;
        }
      }

      uint32_t p = 0;
      bool patternTransparent = false;
      if (usesPattern) {
        p = brushPixel(brush, static_cast<uint32_t>(x), static_cast<uint32_t>(y));
        patternTransparent = raster.patternMode == kMasked && brush.type == BrushType::Monochrome &&
                             brushBit(brush, static_cast<uint32_t>(x), static_cast<uint32_t>(y)) == 0;
      }

      uint32_t mx, my;
      viewToMemory(target, static_cast<uint32_t>(x), static_cast<uint32_t>(y), mx, my);
      const uint32_t d = readArgb(target, mx, my);
      bool destinationTransparent = false;
      if (raster.destinationMode == kKeyed) {
        destinationTransparent =
            !inKeyRange(keyLanesOfPixel(target, mx, my), raster.targetKeyLow, raster.targetKeyHigh);
      }

      const bool transparent = s.transparent || patternTransparent || destinationTransparent;
      uint32_t result;
      if (transparent) {
        result = rop3(bg, p, s.colour, d);
      } else if (raster.blend) {
        result = blendPixel(*raster.blend, s.colour, d);
      } else {
        result = rop3(fg, p, s.colour, d);
      }
      writeArgb(target, mx, my, result);
    }
  }
  return Status::Ok;
}

}  // namespace

const char* statusName(Status status) {
  switch (status) {
    case Status::Ok: return "Ok";
    case Status::InvalidRectangle: return "InvalidRectangle";
    case Status::SourceOutside: return "SourceOutside";
    case Status::MissingInput: return "MissingInput";
    case Status::Unsupported: return "Unsupported";
  }
  return "?";
}

uint32_t viewWidth(const Surface& s) {
  return (s.rotation == 1 || s.rotation == 3) ? s.height : s.width;
}

uint32_t viewHeight(const Surface& s) {
  return (s.rotation == 1 || s.rotation == 3) ? s.width : s.height;
}

void viewToMemory(const Surface& s, uint32_t x, uint32_t y, uint32_t& mx, uint32_t& my) {
  const uint32_t w = s.width;
  const uint32_t h = s.height;
  switch (s.rotation) {
    case 1: mx = w - 1 - y; my = x; return;
    case 2: mx = w - 1 - x; my = h - 1 - y; return;
    case 3: mx = y; my = h - 1 - x; return;
    case 4: mx = w - 1 - x; my = y; return;
    case 5: mx = x; my = h - 1 - y; return;
    default: mx = x; my = y; return;
  }
}

uint32_t rop3(uint8_t rop, uint32_t pattern, uint32_t source, uint32_t destination) {
  uint32_t out = 0;
  for (int bit = 0; bit < 32; ++bit) {
    const uint32_t p = (pattern >> bit) & 1;
    const uint32_t s = (source >> bit) & 1;
    const uint32_t d = (destination >> bit) & 1;
    out |= ((rop >> (p << 2 | s << 1 | d)) & 1u) << bit;
  }
  return out;
}

// An input is used when flipping it can change the result for some value of the others.
bool ropUsesSource(uint8_t rop) { return ((rop >> 2) ^ rop) & 0x33; }
bool ropUsesPattern(uint8_t rop) { return ((rop >> 4) ^ rop) & 0x0F; }
bool ropUsesDestination(uint8_t rop) { return ((rop >> 1) ^ rop) & 0x55; }

bool surfaceTransparency(uint32_t transparency, uint32_t& sourceMode, uint32_t& patternMode) {
  static constexpr uint32_t kSource[] = {kOpaque, kKeyed, kMasked, kOpaque};
  static constexpr uint32_t kPattern[] = {kOpaque, kOpaque, kOpaque, kMasked};
  if (transparency > 3) return false;
  sourceMode = kSource[transparency];
  patternMode = kPattern[transparency];
  return true;
}

uint32_t colourArgument(bool colourConvert, uint32_t value, Format targetFormat) {
  return colourConvert ? value : rawToArgb(targetFormat, value);
}

bool loadPalette(uint32_t (&palette)[256], uint32_t firstIndex, uint32_t count,
                 const uint32_t* entries, bool colourConvert, Format targetFormat) {
  if (firstIndex >= 256 || count == 0 || count > 256 || firstIndex + count > 256) return false;
  for (uint32_t i = 0; i < count; ++i) {
    palette[firstIndex + i] = colourArgument(colourConvert, entries[i], targetFormat);
  }
  return true;
}

uint32_t stretchFactor(bool gdiStretch, uint32_t source, uint32_t destination) {
  if (!gdiStretch && source >= 2 && destination >= 2) return ((source - 1) << 16) / (destination - 1);
  if (source > 0 && destination > 0) return (source << 16) / destination;
  return 0;
}

uint32_t monoStreamStride(uint32_t width, uint32_t packing) {
  const uint32_t unitBits = packing == 0 ? 8 : packing == 1 ? 16 : 32;
  return (width + unitBits - 1) / unitBits * (unitBits / 8);
}

uint32_t monoBit(const MonoStream& stream, uint32_t x, uint32_t y) {
  const uint8_t byte = stream.bits[static_cast<size_t>(y) * stream.stride + x / 8];
  return (byte >> (7 - x % 8)) & 1;
}

uint32_t brushBit(const Brush& brush, uint32_t x, uint32_t y) {
  const uint32_t px = (x + brush.originX) & 7;
  const uint32_t py = (y + brush.originY) & 7;
  return static_cast<uint32_t>(brush.bits >> (8 * py + 7 - px)) & 1;
}

uint32_t brushPixel(const Brush& brush, uint32_t x, uint32_t y) {
  switch (brush.type) {
    case BrushType::Solid: return brush.colour;
    case BrushType::Monochrome: return brushBit(brush, x, y) ? brush.foreground : brush.background;
    case BrushType::Color:
      return readArgb(*brush.pattern, (x + brush.originX) & 7, (y + brush.originY) & 7);
    case BrushType::None: break;
  }
  return 0;
}

Status clear(const Surface& target, const Rect& rect, const Rect& clip, uint32_t colour,
             uint8_t foregroundRop, uint8_t backgroundRop) {
  Raster raster;
  raster.foregroundRop = foregroundRop;
  raster.backgroundRop = backgroundRop;
  return render(Source{}, target, rect, clip, Brush{}, raster, 0x10000, 0x10000, &colour);
}

Status blit(const Source& source, const Surface& target, const Rect& destination,
            const Rect& clip, const Brush& brush, const Raster& raster) {
  return render(source, target, destination, clip, brush, raster, 0x10000, 0x10000, nullptr);
}

Status stretchBlit(const Source& source, const Surface& target, const Rect& destination,
                   const Rect& clip, const Brush& brush, const Raster& raster,
                   uint32_t horizontalFactor, uint32_t verticalFactor) {
  return render(source, target, destination, clip, brush, raster, horizontalFactor,
                verticalFactor, nullptr);
}

Status monoBlit(const MonoStream& stream, uint32_t streamX, uint32_t streamY,
                const Surface& target, const Rect& destination, const Rect& clip,
                const Brush& brush, const Raster& raster) {
  Source source;
  source.type = SourceType::Monochrome;
  source.stream = stream;
  source.streamX = streamX;
  source.streamY = streamY;
  return render(source, target, destination, clip, brush, raster, 0x10000, 0x10000, nullptr);
}

Status line(const Surface& target, const Rect& ends, const Rect& clip, const Brush& brush,
            uint8_t rop) {
  for (int32_t v : {ends.left, ends.top, ends.right, ends.bottom}) {
    if (v < 0 || v >= 0x10000) return Status::InvalidRectangle;
  }
  if (!writableTarget(target)) return Status::Unsupported;
  if (ropUsesSource(rop)) return Status::MissingInput;
  if (ropUsesPattern(rop) && (brush.type == BrushType::None ||
                              (brush.type == BrushType::Color && brush.pattern == nullptr))) {
    return Status::MissingInput;
  }
  const Rect area = drawArea(target, Rect{0, 0, 0xFFFF, 0xFFFF}, clip);
  const int64_t dx = ends.right - ends.left, dy = ends.bottom - ends.top;
  const int64_t n = std::max(std::abs(dx), std::abs(dy));
  // round(k × d / n) with halves away from the start, for either sign of d.
  auto along = [n](int64_t k, int64_t d) {
    const int64_t magnitude = (2 * k * std::abs(d) + n) / (2 * n);
    return d < 0 ? -magnitude : magnitude;
  };
  for (int64_t k = 0; k < n; ++k) {
    const int32_t x = static_cast<int32_t>(ends.left + along(k, dx));
    const int32_t y = static_cast<int32_t>(ends.top + along(k, dy));
    if (x < area.left || x >= area.right || y < area.top || y >= area.bottom) continue;
    uint32_t mx, my;
    viewToMemory(target, static_cast<uint32_t>(x), static_cast<uint32_t>(y), mx, my);
    const uint32_t p = ropUsesPattern(rop) ? brushPixel(brush, static_cast<uint32_t>(x),
                                                        static_cast<uint32_t>(y))
                                           : 0;
    writeArgb(target, mx, my, rop3(rop, p, 0, readArgb(target, mx, my)));
  }
  return Status::Ok;
}

}  // namespace galref
