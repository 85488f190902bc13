// Reference renderer, pixel formats: the 2D formats of the driver's format table, how a pixel of
// each is read into the A8R8G8B8 working value and written back, and plain surface descriptors.
//
// This code shares nothing with the driver (gal/) or the GPU simulator on purpose: tests compare
// their pixels against it. It is written for clarity, one pixel at a time, never for speed.
//
// Rules chosen here (the driver's tables fix names, codes and bit positions; these fix the rest):
// - format names read from the most significant bit down (A8R8G8B8 is the word 0xAARRGGBB);
// - a channel narrower than 8 bits widens by repeating its bits (5-bit 0x1F → 0xFF), and narrows
//   by keeping its top bits (truncation, no rounding, no dither);
// - a format without alpha reads as alpha 0xFF; a missing colour channel reads as 0; padding
//   ("X") bits are written as 0 and ignored when surfaces are compared;
// - RG16 keeps red in the low byte and green in the high byte;
// - INDEX8 reads through a 256-entry palette of A8R8G8B8 words;
// - YUV formats convert with BT.601 (mode 0) or BT.709 (mode 1) limited-range coefficients;
//   a chroma sample serves the pixels it covers (no interpolation).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace galref {

// Format codes as the driver's format table gives them; only the formats of the 2D engine.
enum Format : uint32_t {
  INDEX8 = 102,
  X4R4G4B4 = 203,
  A4R4G4B4 = 204,
  R4G4B4A4 = 205,
  X1R5G5B5 = 206,
  A1R5G5B5 = 207,
  R5G5B5A1 = 208,
  R5G6B5 = 209,
  X8R8G8B8 = 211,
  A8R8G8B8 = 212,
  R8G8B8A8 = 213,
  R8G8B8X8 = 223,
  R5G5B5X1 = 224,
  R4G4B4X4 = 225,
  A4B4G4R4 = 300,
  A1B5G5R5 = 301,
  B5G6R5 = 302,
  X8B8G8R8 = 305,
  A8B8G8R8 = 306,
  B4G4R4A4 = 313,
  B5G5R5A1 = 314,
  B8G8R8X8 = 315,
  B8G8R8A8 = 316,
  X4B4G4R4 = 317,
  X1B5G5R5 = 318,
  B4G4R4X4 = 319,
  B5G5R5X1 = 320,
  YUY2 = 500,
  UYVY = 501,
  YV12 = 502,
  I420 = 503,
  NV12 = 504,
  NV21 = 505,
  NV16 = 506,
  NV61 = 507,
  YVYU = 508,
  VYUY = 509,
  A8 = 701,
  R8 = 1100,
  RG16 = 1115,
};

// Where a channel sits in a single-plane pixel; bits 0 means the format has no such channel.
struct Channel {
  uint8_t shift = 0;
  uint8_t bits = 0;
};

enum class FormatKind { Rgb, Index, Yuv };

struct FormatInfo {
  Format format;
  std::string_view name;
  FormatKind kind;
  uint32_t bitsPerPixel;  // of the luma plane for planar YUV (the table's 12 is the average)
  uint32_t planes;
  Channel a, r, g, b;
  uint32_t paddingMask;  // the "X" bits
};

// Every 2D format, in code order.
std::span<const FormatInfo> allFormats();
// The entry of a 2D format; nullopt for any other code.
std::optional<FormatInfo> formatInfo(uint32_t code);
std::string formatName(uint32_t code);

// The working value: A8R8G8B8 in one word (0xAARRGGBB).
constexpr uint32_t argb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
  return (a << 24) | (r << 16) | (g << 8) | b;
}
constexpr uint32_t alphaOf(uint32_t c) { return c >> 24; }
constexpr uint32_t redOf(uint32_t c) { return (c >> 16) & 0xFF; }
constexpr uint32_t greenOf(uint32_t c) { return (c >> 8) & 0xFF; }
constexpr uint32_t blueOf(uint32_t c) { return c & 0xFF; }

// Channel widening and narrowing between n bits and 8 bits.
uint32_t widenChannel(uint32_t value, uint32_t bits);
uint32_t narrowChannel(uint32_t value8, uint32_t bits);

// Single-plane RGB and alpha formats: a raw pixel value to the working value and back.
// INDEX8 needs the palette (256 A8R8G8B8 words) to read and cannot be written from a colour.
uint32_t rawToArgb(Format format, uint32_t raw, const uint32_t* palette = nullptr);
uint32_t argbToRaw(Format format, uint32_t colour);

// A colour key given in a format, repacked into A8R8G8B8 lanes without scaling: each channel
// keeps its value in the low bits of its own byte; formats without alpha get 0xFF there; A8 moves
// to the alpha byte; INDEX8 keys stay as they are. Raw pixels are repacked the same way before
// they are compared with a key. nullopt for a format the 2D engine does not take.
std::optional<uint32_t> colorPackToArgb8(uint32_t format, uint32_t key);

// YUV to RGB conversion modes of the reference.
enum class YuvMode : uint32_t { Bt601 = 0, Bt709 = 1 };
uint32_t yuvToArgb(uint32_t y, uint32_t u, uint32_t v, YuvMode mode);

// A surface as memory holds it. width and height are the stored size in pixels; rotation (0 to
// 3 quarter turns, 4 and 5 the two flips) says how the engine's view of the surface maps onto
// that memory (see reference.h). Planes: one for RGB and packed YUV, the Y plane first for
// planar YUV followed by the chroma planes in memory order of the format's name (YV12: V then U;
// I420: U then V; NV12..NV61: the interleaved chroma plane).
struct Surface {
  Format format = A8R8G8B8;
  uint32_t width = 0;
  uint32_t height = 0;
  uint8_t* planes[3] = {nullptr, nullptr, nullptr};
  uint32_t strides[3] = {0, 0, 0};
  uint32_t rotation = 0;
  const uint32_t* palette = nullptr;  // INDEX8 sources
  YuvMode yuvMode = YuvMode::Bt601;
};

// A surface with its own zeroed memory and tight strides. Planar YUV planes follow one another
// in one buffer: Y (stride = width), then the chroma planes in the format's order (YV12 and I420
// with stride width / 2 and height / 2 rows; NV12 and NV21 with stride width and height / 2 rows;
// NV16 and NV61 with stride width and height rows). Copies own their memory.
class SurfaceBuffer {
 public:
  SurfaceBuffer(Format format, uint32_t width, uint32_t height);
  SurfaceBuffer(const SurfaceBuffer& other);
  SurfaceBuffer& operator=(const SurfaceBuffer& other);
  // Random bytes in every plane.
  template <typename Random>
  void fillRandom(Random& random) {
    for (uint8_t& byte : memory_) byte = static_cast<uint8_t>(random());
  }
  uint8_t* data() { return memory_.data(); }
  size_t size() const { return memory_.size(); }

  Surface surface;

 private:
  void pointPlanes();
  std::vector<uint8_t> memory_;
  size_t offsets_[3] = {0, 0, 0};
};

// Raw value of a single-plane pixel at memory position (x, y), and its write.
uint32_t readRaw(const Surface& surface, uint32_t x, uint32_t y);
void writeRaw(const Surface& surface, uint32_t x, uint32_t y, uint32_t raw);
// The working value of any 2D format's pixel at memory position (x, y).
uint32_t readArgb(const Surface& surface, uint32_t x, uint32_t y);
// Writes a working value at memory position (x, y): single-plane RGB and alpha formats only.
void writeArgb(const Surface& surface, uint32_t x, uint32_t y, uint32_t colour);

// Compares two surfaces of the same format and size pixel by pixel, ignoring padding bits.
// With a tolerance, the working values may differ by that much per channel. Returns "" when they
// agree, else one line naming the operation, the format, the first differing pixel with both
// values and the number of differing pixels.
std::string compareSurfaces(std::string_view operation, const Surface& expected,
                            const Surface& actual, uint32_t tolerance = 0);

}  // namespace galref
