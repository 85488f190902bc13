// Reference renderer tests: a pixman image over the memory of a SurfaceBuffer, so that pixman
// and the reference draw into the same kind of memory. pixman needs strides in whole 32-bit
// words: 16-bit surfaces need even widths, 8-bit ones widths that are multiples of 4 (YV12: 8).
#pragma once

#include "formats.h"

#include <pixman.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace galref {

inline pixman_format_code_t pixmanFormat(Format format) {
  switch (format) {
    case A8R8G8B8: return PIXMAN_a8r8g8b8;
    case X8R8G8B8: return PIXMAN_x8r8g8b8;
    case A8B8G8R8: return PIXMAN_a8b8g8r8;
    case X8B8G8R8: return PIXMAN_x8b8g8r8;
    case B8G8R8A8: return PIXMAN_b8g8r8a8;
    case B8G8R8X8: return PIXMAN_b8g8r8x8;
    case R8G8B8A8: return PIXMAN_r8g8b8a8;
    case R8G8B8X8: return PIXMAN_r8g8b8x8;
    case R5G6B5: return PIXMAN_r5g6b5;
    case B5G6R5: return PIXMAN_b5g6r5;
    case A1R5G5B5: return PIXMAN_a1r5g5b5;
    case X1R5G5B5: return PIXMAN_x1r5g5b5;
    case A1B5G5R5: return PIXMAN_a1b5g5r5;
    case X1B5G5R5: return PIXMAN_x1b5g5r5;
    case A4R4G4B4: return PIXMAN_a4r4g4b4;
    case X4R4G4B4: return PIXMAN_x4r4g4b4;
    case A4B4G4R4: return PIXMAN_a4b4g4r4;
    case X4B4G4R4: return PIXMAN_x4b4g4r4;
    case A8: return PIXMAN_a8;
    case INDEX8: return PIXMAN_c8;
    case YUY2: return PIXMAN_yuy2;
    case YV12: return PIXMAN_yv12;
    default: break;
  }
  std::fprintf(stderr, "pixman does not know %s\n", formatName(format).c_str());
  std::abort();
}

class PixmanImage {
 public:
  // palette: 256 A8R8G8B8 entries for INDEX8.
  explicit PixmanImage(SurfaceBuffer& buffer, const uint32_t* palette = nullptr) {
    const Surface& s = buffer.surface;
    image = pixman_image_create_bits(pixmanFormat(s.format), static_cast<int>(s.width),
                                     static_cast<int>(s.height),
                                     reinterpret_cast<uint32_t*>(buffer.data()),
                                     static_cast<int>(s.strides[0]));
    if (s.format == INDEX8 && palette != nullptr) {
      indexed_ = std::make_unique<pixman_indexed_t>();
      indexed_->color = 1;
      for (int i = 0; i < 256; ++i) indexed_->rgba[i] = palette[i];
      pixman_image_set_indexed(image, indexed_.get());
    }
  }
  ~PixmanImage() { pixman_image_unref(image); }
  PixmanImage(const PixmanImage&) = delete;
  PixmanImage& operator=(const PixmanImage&) = delete;

  pixman_image_t* image = nullptr;

 private:
  std::unique_ptr<pixman_indexed_t> indexed_;
};

}  // namespace galref
