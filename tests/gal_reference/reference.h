// Reference renderer, 2D operations: clear, line, blit, stretch blit and monochrome blit with the
// ternary raster operations, brushes, colour keys and transparency modes, rotation, mirroring and
// clipping, one destination pixel at a time over plain memory.
//
// Tests of the driver and of the GPU simulator's 2D core run the same operation here and compare
// the pixels with compareSurfaces (formats.h). Nothing here depends on gal/ or sim/.
//
// Pixel rules of the reference (each a decision where the driver's own description stops):
// - Coordinates. Rectangles are left, top, right, bottom with right and bottom exclusive, and
//   must satisfy 0 <= left < right < 0x10000 (the same for top and bottom). The clip is cut to
//   0..32767 and then to the target; nothing outside dest ∩ clip ∩ target changes.
// - Rotation of a surface (0 to 3 quarter turns, 4 horizontal flip, 5 vertical flip) maps the
//   engine's view of the surface onto memory of width W and height H; a view pixel (x, y) is
//   stored at 0: (x, y); 1: (W-1-y, x); 2: (W-1-x, H-1-y); 3: (y, H-1-x); 4: (W-1-x, y);
//   5: (x, H-1-y). Rotations 1 and 3 swap the view's width and height. This is the rectangle
//   rotation of the engine (gcsRECT_Rotate) taken pixel by pixel.
// - Source positions. Destination pixel (left + i, top + j) reads the source view at
//   (source left + ((i' × horizontal factor) >> 16), source top + ((j' × vertical factor) >> 16)),
//   with i' = width-1-i under a horizontal mirror (else i) and j' likewise; a plain blit uses
//   factors of 0x10000. The clip never moves this mapping. A source read outside the source
//   view refuses the whole operation (SourceOutside) before anything is written.
// - Raster operation: result bit = bit (P << 2 | S << 1 | D) of the ROP byte, applied to the
//   A8R8G8B8 working values of pattern, source and destination, then written in the target's
//   format. The foreground ROP applies where no transparency test says "transparent", else the
//   background ROP.
// - Transparency modes (0 opaque, 1 keyed, 2 masked):
//   source keyed: the source pixel, repacked like a colour key (colorPackToArgb8), lying within
//     the source key range in every byte is transparent;
//   source masked: a masked source's mask bit 0 is transparent; a monochrome source's bit equal
//     to the stream's transparency value is transparent;
//   destination keyed: only destination pixels within the target key range (every byte) take
//     the foreground ROP; all others are transparent;
//   pattern masked: a monochrome brush's bit 0 is transparent.
//   Destination masked and pattern keyed have no meaning here (Unsupported).
// - Brushes are 8 × 8 patterns; the brush origin (ox, oy) is the pattern pixel that lands on
//   the target view's pixel (0, 0), so pixel (x, y) uses pattern ((x + ox) & 7, (y + oy) & 7).
//   A monochrome brush keeps row r in byte r of its 64 bits, leftmost pixel in bit 7.
// - Monochrome streams store each row in whole packing units (8, 16 or 32 bits, see
//   monoStreamStride), bytes in memory order, leftmost pixel in bit 7 of each byte; bit 1 takes
//   the foreground colour, bit 0 the background colour.
// - Clear: the clear colour (A8R8G8B8) is the ROP's source, the pattern reads 0, no
//   transparency; so ROP 0xCC writes the colour in the target's format.
// - INDEX8 and YUV surfaces are sources only; as targets they are Unsupported.
#pragma once

#include "blend.h"
#include "formats.h"

#include <cstdint>
#include <optional>

namespace galref {

struct Rect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
  int32_t width() const { return right - left; }
  int32_t height() const { return bottom - top; }
};

// The clip when none is set.
constexpr Rect kDefaultClip{0, 0, 32767, 32767};

enum class Status {
  Ok,
  InvalidRectangle,  // a rectangle outside 0 <= left < right < 0x10000 (top, bottom alike)
  SourceOutside,     // a source read would fall outside the source surface
  MissingInput,      // the ROPs or modes use a source or pattern that was not given
  Unsupported,       // a target format or mode combination the reference does not define
};
const char* statusName(Status status);

// Rotation of a surface (see above).
uint32_t viewWidth(const Surface& surface);
uint32_t viewHeight(const Surface& surface);
// Memory position of view pixel (x, y).
void viewToMemory(const Surface& surface, uint32_t x, uint32_t y, uint32_t& mx, uint32_t& my);

// The ternary raster operation on working values.
uint32_t rop3(uint8_t rop, uint32_t pattern, uint32_t source, uint32_t destination);
bool ropUsesSource(uint8_t rop);
bool ropUsesPattern(uint8_t rop);
bool ropUsesDestination(uint8_t rop);

// Transparency modes.
enum TransparencyMode : uint32_t { kOpaque = 0, kKeyed = 1, kMasked = 2 };

// The surface transparency of the source setters (0 to 3) as (source mode, pattern mode);
// false for any other value.
bool surfaceTransparency(uint32_t transparency, uint32_t& sourceMode, uint32_t& patternMode);

// A colour argument with its colour-convert flag: converted colours are A8R8G8B8; the others are
// already raw values of the target format. Returns the working value.
uint32_t colourArgument(bool colourConvert, uint32_t value, Format targetFormat);

// Palette load for INDEX8 sources: count entries into palette from the first index on, each
// through colourArgument. Refused (false, nothing changed) when the first index is 256 or more,
// the count 0 or above 256, or the entries would run past entry 255.
bool loadPalette(uint32_t (&palette)[256], uint32_t firstIndex, uint32_t count,
                 const uint32_t* entries, bool colourConvert, Format targetFormat);

// Stretch factor for one direction (16.16): ((s - 1) << 16) / (d - 1) without GDI stretch when
// both are at least 2, else (s << 16) / d when both are positive, else 0.
uint32_t stretchFactor(bool gdiStretch, uint32_t source, uint32_t destination);

// Row length in bytes of a monochrome stream of the given width for packing 0 (8-bit units),
// 1 (16-bit units), 2 or 3 (32-bit units).
uint32_t monoStreamStride(uint32_t width, uint32_t packing);

struct MonoStream {
  const uint8_t* bits = nullptr;
  uint32_t stride = 0;  // bytes per row
  uint32_t foreground = 0;  // working values for bits 1 and 0 (monochrome sources)
  uint32_t background = 0;
  uint32_t transparency = 0;  // the bit value that is transparent under source mode masked
};
// Bit of stream pixel (x, y).
uint32_t monoBit(const MonoStream& stream, uint32_t x, uint32_t y);

enum class BrushType { None, Solid, Monochrome, Color };

struct Brush {
  BrushType type = BrushType::None;
  uint32_t originX = 0;
  uint32_t originY = 0;
  uint32_t colour = 0;        // solid: working value
  uint64_t bits = 0;          // monochrome: row r in byte r, leftmost pixel in bit 7
  uint32_t foreground = 0;    // monochrome: working values for bits 1 and 0
  uint32_t background = 0;
  const Surface* pattern = nullptr;  // colour: an 8 × 8 single-plane surface
};
// Pattern working value at target view pixel (x, y), and the monochrome bit there.
uint32_t brushPixel(const Brush& brush, uint32_t x, uint32_t y);
uint32_t brushBit(const Brush& brush, uint32_t x, uint32_t y);

enum class SourceType { None, Color, Monochrome, Masked };

struct Source {
  SourceType type = SourceType::None;
  const Surface* surface = nullptr;  // Color and Masked
  Rect rect;                         // in the source's view: origin, and size for stretching
  MonoStream stream;                 // Monochrome: the pixels; Masked: the mask
  uint32_t streamX = 0;              // stream pixel under the destination rectangle's first
  uint32_t streamY = 0;
};

// Settings of one operation, in the engine's terms.
struct Raster {
  uint8_t foregroundRop = 0xCC;
  uint8_t backgroundRop = 0xCC;
  uint32_t sourceMode = kOpaque;
  uint32_t destinationMode = kOpaque;
  uint32_t patternMode = kOpaque;
  uint32_t sourceKeyLow = 0;  // colour keys in A8R8G8B8 lanes (colorPackToArgb8)
  uint32_t sourceKeyHigh = 0;
  uint32_t targetKeyLow = 0;
  uint32_t targetKeyHigh = 0;
  bool mirrorHorizontal = false;
  bool mirrorVertical = false;
  std::optional<Blend> blend;  // alpha blending in place of the foreground ROP (blend.h)
};

// Fills rect ∩ clip of the target with the clear colour through the ROPs.
Status clear(const Surface& target, const Rect& rect, const Rect& clip, uint32_t colour,
             uint8_t foregroundRop = 0xCC, uint8_t backgroundRop = 0xCC);

// Blit: destination pixels of rect ∩ clip from the source (its rectangle's origin), the brush and
// the target, through the ROPs and transparency tests.
Status blit(const Source& source, const Surface& target, const Rect& destination,
            const Rect& clip, const Brush& brush, const Raster& raster);

// Stretch blit: as the blit with the given 16.16 factors (stretchFactor).
Status stretchBlit(const Source& source, const Surface& target, const Rect& destination,
                   const Rect& clip, const Brush& brush, const Raster& raster,
                   uint32_t horizontalFactor, uint32_t verticalFactor);

// Monochrome blit: a blit whose source is the stream, its pixel (streamX, streamY) under the
// destination rectangle's top-left pixel.
Status monoBlit(const MonoStream& stream, uint32_t streamX, uint32_t streamY,
                const Surface& target, const Rect& destination, const Rect& clip,
                const Brush& brush, const Raster& raster);

// Line from (ends.left, ends.top) to (ends.right, ends.bottom), either way round, the end pixel
// not drawn: along the longer axis one pixel per step (n = the longer extent), the other
// coordinate at step k being start + round(k × its extent / n), halves rounded away from the
// start; each pixel inside clip ∩ target through the foreground ROP with the brush as pattern
// (the pattern pixel at the line pixel's position) and no source. Every coordinate must lie in
// 0 .. 0xFFFF.
Status line(const Surface& target, const Rect& ends, const Rect& clip, const Brush& brush,
            uint8_t rop);

}  // namespace galref
