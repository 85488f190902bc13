// Reference renderer, alpha blending: the engine's blend settings and what they do to one pixel.
//
// Rules of the reference (the engine's settings name the modes; these fix their arithmetic):
// - All products of two 8-bit values are rounded: mul(a, b) = round(a × b / 255), the
//   arithmetic of premultiplied compositing, so Porter-Duff on premultiplied colour gives exactly
//   what pixman gives.
// - Alpha modes: 0 the pixel's alpha, 1 its inverse (255 - alpha).
// - Global alpha modes: 0 off (the pixel's alpha after its alpha mode), 1 the global alpha value
//   instead, 2 the pixel's alpha scaled by the global alpha value.
// - Multiply modes, before blending: source premultiply multiplies the source colour by the
//   source pixel's alpha (after its alpha mode, before the global alpha: the global alpha has a
//   multiply mode of its own, so that straight colour under a scaled global alpha is multiplied
//   by alpha × global once); global-colour multiply 1 multiplies the source colour
//   by the source global alpha value, 2 each channel by that channel of the source global colour;
//   target premultiply multiplies the target colour by the target pixel's alpha (after its alpha
//   mode). After blending, target
//   demultiply divides the colour by the result alpha (rounded; 0 where the alpha is 0).
// - Factor modes: 0 zero, 1 one, 2 straight alpha, 3 inverse alpha; the source factor reads the
//   target's alpha and the target factor the source's alpha.
// - Result: colour and alpha = min(255, mul(source, source factor) + mul(target, target factor)).
// - In a blit, blending takes the place of the foreground ROP; transparent pixels still take the
//   background ROP.
#pragma once

#include <cstdint>

namespace galref {

enum FactorMode : uint32_t { kZero = 0, kOne = 1, kStraight = 2, kInverse = 3 };

struct Blend {
  uint8_t sourceAlpha = 0xFF;  // global alpha values
  uint8_t targetAlpha = 0xFF;
  uint32_t sourceAlphaMode = 0;  // 0 normal, 1 inverse
  uint32_t targetAlphaMode = 0;
  uint32_t sourceGlobalAlphaMode = 0;  // 0 off, 1 global, 2 scaled
  uint32_t targetGlobalAlphaMode = 0;
  uint32_t sourceFactorMode = kOne;
  uint32_t targetFactorMode = kZero;
  bool sourcePremultiply = false;
  bool targetPremultiply = false;
  uint32_t globalColorMultiply = 0;  // 0 off, 1 by the global alpha, 2 by the global colour
  uint32_t sourceGlobalColour = 0;   // A8R8G8B8
  bool targetDemultiply = false;
};

// The Porter-Duff rules 0 to 11 (Clear, Src, SrcOver, DstOver, SrcIn, DstIn, SrcOut, DstOut,
// SrcAtop, DstAtop, Add, Xor) as blend settings with alpha and global-alpha modes 0; false for
// any other rule.
bool porterDuff(uint32_t rule, Blend& blend);

// round(a × b / 255) for 8-bit a and b.
uint32_t mul255(uint32_t a, uint32_t b);

// One source and one target working value blended.
uint32_t blendPixel(const Blend& blend, uint32_t source, uint32_t target);

}  // namespace galref
