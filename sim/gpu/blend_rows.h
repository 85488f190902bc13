// Alpha blending of whole rows of A8R8G8B8 working values, for the 2D core's blits that blend
// without rotation or transparency tests. The per-pixel blendPixel (raster.h) is the rule; the
// row kernels here give exactly its results, faster: settings that are plain Porter-Duff on
// premultiplied colour (no multiply modes, alpha and global-alpha modes 0) take a kernel that
// works on two channels per 32-bit word and that the compiler vectorises; every other setting
// runs blendPixel over the row. On x86-64 the vector kernel is built for AVX2 and for the
// baseline, and the AVX2 build is chosen at run time when the processor has it.
#pragma once

#include <cstdint>
#include <span>

#include "raster.h"

namespace veld::gpusim {

// Blends `source` into `target` pixel by pixel (n pixels each), writing the results to `target`.
void blendRow(const BlendSettings& blend, const uint32_t* source, uint32_t* target, uint32_t n);

// Blits that blend without transparency tests, rotation, mirror or horizontal stretch, between
// RGB surfaces that do not overlap, go row by row: source and target rows are decoded into
// working values (A8R8G8B8 rows are used in place), blended and encoded. Returns the pixels.
bool blendsByRows(const RasterJob& job);
uint64_t blendRows(const RasterJob& job);

// True when `blend` takes the Porter-Duff kernel.
bool porterDuffKernel(const BlendSettings& blend);

// The builds of the Porter-Duff kernel this processor can run, with their names ("avx2",
// "baseline"), so that tests check each against blendPixel.
using PorterDuffRow = void (*)(uint32_t sourceFactor, uint32_t targetFactor, const uint32_t* source,
                               uint32_t* target, uint32_t n);
struct PorterDuffBuild {
    const char* name;
    PorterDuffRow row;
};
std::span<const PorterDuffBuild> porterDuffBuilds();

}  // namespace veld::gpusim
