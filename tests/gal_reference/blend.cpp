// Reference renderer, alpha blending of one pixel, step by step as blend.h describes it.
#include "blend.h"

#include "formats.h"

#include <algorithm>

namespace galref {

namespace {

uint32_t effectiveAlpha(uint32_t alpha, uint32_t alphaMode, uint32_t globalMode, uint32_t global) {
  if (alphaMode == 1) alpha = 255 - alpha;
  if (globalMode == 1) return global;
  if (globalMode == 2) return mul255(alpha, global);
  return alpha;
}

uint32_t factor(uint32_t mode, uint32_t otherAlpha) {
  switch (mode) {
    case kOne: return 255;
    case kStraight: return otherAlpha;
    case kInverse: return 255 - otherAlpha;
    default: return 0;
  }
}

struct Rgb {
  uint32_t r, g, b;
};

Rgb colourOf(uint32_t c) { return {redOf(c), greenOf(c), blueOf(c)}; }
Rgb scaled(Rgb c, uint32_t by) { return {mul255(c.r, by), mul255(c.g, by), mul255(c.b, by)}; }

}  // namespace

bool porterDuff(uint32_t rule, Blend& blend) {
  static constexpr uint32_t kFactors[12][2] = {
      {kZero, kZero},         {kOne, kZero},          {kOne, kInverse},     {kInverse, kOne},
      {kStraight, kZero},     {kZero, kStraight},     {kInverse, kZero},    {kZero, kInverse},
      {kStraight, kInverse},  {kInverse, kStraight},  {kOne, kOne},         {kInverse, kInverse},
  };
  if (rule > 11) return false;
  blend.sourceAlphaMode = blend.targetAlphaMode = 0;
  blend.sourceGlobalAlphaMode = blend.targetGlobalAlphaMode = 0;
  blend.sourceFactorMode = kFactors[rule][0];
  blend.targetFactorMode = kFactors[rule][1];
  return true;
}

uint32_t mul255(uint32_t a, uint32_t b) {
  const uint32_t t = a * b + 128;
  return (t + (t >> 8)) >> 8;
}

uint32_t blendPixel(const Blend& blend, uint32_t source, uint32_t target) {
  const uint32_t as = effectiveAlpha(alphaOf(source), blend.sourceAlphaMode,
                                     blend.sourceGlobalAlphaMode, blend.sourceAlpha);
  const uint32_t ad = effectiveAlpha(alphaOf(target), blend.targetAlphaMode,
                                     blend.targetGlobalAlphaMode, blend.targetAlpha);
  Rgb cs = colourOf(source);
  Rgb cd = colourOf(target);
  if (blend.sourcePremultiply)
    cs = scaled(cs, effectiveAlpha(alphaOf(source), blend.sourceAlphaMode, 0, 0));
  if (blend.globalColorMultiply == 1) cs = scaled(cs, blend.sourceAlpha);
  if (blend.globalColorMultiply == 2) {
    const Rgb g = colourOf(blend.sourceGlobalColour);
    cs = {mul255(cs.r, g.r), mul255(cs.g, g.g), mul255(cs.b, g.b)};
  }
  if (blend.targetPremultiply)
    cd = scaled(cd, effectiveAlpha(alphaOf(target), blend.targetAlphaMode, 0, 0));

  const uint32_t fs = factor(blend.sourceFactorMode, ad);
  const uint32_t fd = factor(blend.targetFactorMode, as);
  auto mix = [fs, fd](uint32_t s, uint32_t d) { return std::min(255u, mul255(s, fs) + mul255(d, fd)); };
  const uint32_t a = mix(as, ad);
  Rgb c{mix(cs.r, cd.r), mix(cs.g, cd.g), mix(cs.b, cd.b)};
  if (blend.targetDemultiply) {
    auto divide = [a](uint32_t v) { return a == 0 ? 0 : std::min(255u, (v * 255 + a / 2) / a); };
    c = {divide(c.r), divide(c.g), divide(c.b)};
  }
  return argb(a, c.r, c.g, c.b);
}

}  // namespace galref
