// Reference renderer, filter blits: the engine's filter kernels (17 phases × 9 taps of signed
// 16-bit coefficients, 16384 = 1.0), their upload words, and a plain two-pass filter blit.
//
// The kernels follow the engine's construction exactly (box, windowed sinc with its rounding
// spread, or a user kernel of 306 bytes). How a filter blit applies them is the reference's own
// rule, since the engine leaves it open:
// - Phase p of a kernel weighs the source pixel of tap t, c + t - 4, by its distance
//   (t - 4) + 0.5 - p / 32 from the sample point, so the 17 phases cover sample points from half a
//   pixel before pixel c up to c itself; a sample point after c uses the mirrored phase, with tap
//   t on pixel c - (t - 4).
// - Destination pixel i of a direction samples the source at source start + i × factor / 65536
//   (factor: stretchFactor without GDI stretch, the stepping of the stretch blit); c is the
//   nearest pixel (halves round up) and the phase the nearest 32nd of a pixel.
// - Taps falling outside the source rectangle read its nearest edge pixel.
// - Each channel of the A8R8G8B8 working value is filtered on its own:
//   (sum of coefficient × value + 8192) >> 14, clamped to 0..255 (arithmetic shift).
// - The horizontal pass runs first into an intermediate of destination width × source height,
//   stored as 8-bit working values; the vertical pass then writes the destination.
#pragma once

#include "formats.h"
#include "reference.h"

#include <array>
#include <cstdint>
#include <span>

namespace galref {

constexpr uint32_t kFilterPhases = 17;
constexpr uint32_t kFilterTaps = 9;
using FilterKernel = std::array<std::array<int16_t, kFilterTaps>, kFilterPhases>;

enum FilterType : uint32_t { kSincFilter = 0, kBoxFilter = 1, kUserFilter = 2 };

// The kernel of filter type 0 (windowed sinc) or 1 (box) for an odd kernel size of 1 to 9 and the
// direction's source and destination sizes. false for any other type or size.
bool filterKernel(uint32_t type, uint32_t kernelSize, uint32_t sourceSize,
                  uint32_t destinationSize, FilterKernel& kernel);

// A user kernel: 306 bytes of little-endian coefficients, phase by phase.
FilterKernel userFilterKernel(std::span<const uint8_t, 306> bytes);

// The 77 state words that carry a kernel: two coefficients per word, the low half first, or
// the halves exchanged on chips that need it.
std::array<uint32_t, 77> filterKernelWords(const FilterKernel& kernel, bool exchangeHalves);

// Filter blit from the source rectangle to the destination rectangle with one kernel per
// direction; only pixels inside the destination sub-rectangle (in the destination rectangle's
// own coordinates) and the target are written.
Status filterBlit(const Surface& source, const Rect& sourceRect, const Surface& target,
                  const Rect& destinationRect, const Rect& subRect,
                  const FilterKernel& horizontal, const FilterKernel& vertical);

}  // namespace galref
