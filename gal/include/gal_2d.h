/*
 * gal_2d.h - the 2D engine (gco2D): sources, target, clipping, brushes, raster operations,
 * colour keys and transparency, mirroring, palettes and stretching, and the operations that
 * hand them to the hardware layer (clear, line, blit, batch blit, stretch blit, monochrome blit,
 * multi-source blit), with the rectangle helpers. Setters only validate and store; operations build a 2D frame in
 * the command buffer; nothing runs before a commit.
 */
#ifndef GAL_2D_H
#define GAL_2D_H

#include "gal_hardware.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A point or a size. */
typedef struct gcsPOINT {
    int32_t x, y;
} gcsPOINT;

/* 2D commands. */
enum { gcv2D_CLEAR = 0, gcv2D_LINE = 1, gcv2D_BLT = 2, gcv2D_STRETCH = 3, gcv2D_HOR_FILTER = 4,
       gcv2D_VER_FILTER = 5, gcv2D_MULTI_SOURCE_BLT = 6 };

/* Source types of a slot. */
enum { gcv2D_SOURCE_MASKED = 0, gcv2D_SOURCE_MONO = 1, gcv2D_SOURCE_COLOR = 2,
       gcv2D_SOURCE_INVALID = 3 };

/* The hardware layer's entry points for 2D frames; `engine` is the engine's settings. */
gceSTATUS gcoHARDWARE_StartDE(gcoHARDWARE hardware, gco2D engine, uint32_t command,
                              uint32_t sourceRectCount, const gcsRECT* sourceRects,
                              uint32_t destRectCount, const gcsRECT* destRects);
gceSTATUS gcoHARDWARE_StartDEStream(gcoHARDWARE hardware, gco2D engine, uint32_t streamBytes,
                                    const gcsRECT* destRect, uint32_t** data);
gceSTATUS gcoHARDWARE_Clear2D(gcoHARDWARE hardware, gco2D engine, uint32_t rectCount,
                              const gcsRECT* rects);
/* Both passes of a filter blit from the engine's current source to its target. */
gceSTATUS gcoHARDWARE_FilterBlit(gcoHARDWARE hardware, gco2D engine, const gcsRECT* sourceRect,
                                 const gcsRECT* destRect, const gcsRECT* destSubRect);
/* The split filter blit, for single-plane sources (SplitFilterBlit) and two- or three-plane YUV
 * sources (SplitYUVFilterBlit): when one direction only copies (equal extents and a unit tap at
 * that stepping), the other direction's pass alone, straight into the target. gcvSTATUS_SKIP
 * when it declines (the source does not fit the form, or both directions filter): the plain
 * filter blit then does the work. */
gceSTATUS gcoHARDWARE_SplitFilterBlit(gcoHARDWARE hardware, gco2D engine, const gcsRECT* sourceRect,
                                      const gcsRECT* destRect, const gcsRECT* destSubRect);
gceSTATUS gcoHARDWARE_SplitYUVFilterBlit(gcoHARDWARE hardware, gco2D engine,
                                         const gcsRECT* sourceRect, const gcsRECT* destRect,
                                         const gcsRECT* destSubRect);
/* The extra planes of a two- or three-plane YUV target (U and V, or the chroma pairs) into the
 * 2D frame under way: state 0x130C with 3 or 5 words. -13 for other formats. */
gceSTATUS gcoHARDWARE_SetMultiTarget(gcoHARDWARE hardware, uint32_t format,
                                     const uint32_t* addresses, const uint32_t* strides);
/* The current colour source's rectangle converted one to one into the destination rectangle of
 * the engine's target, which must be a two- or three-plane YUV format (else -13): a plain copy
 * in the engine's YUV colour mode (gco2D_SetYUVColorMode with the top bit set). */
gceSTATUS gcoHARDWARE_MultiPlanarYUVConvert(gcoHARDWARE hardware, gco2D engine,
                                            const gcsRECT* sourceRect, const gcsRECT* destRect);
gceSTATUS gcoHARDWARE_MonoBlit(gcoHARDWARE hardware, gco2D engine, const void* stream,
                               const gcsPOINT* sourceSize, const gcsRECT* streamRect,
                               uint32_t sourcePacking, uint32_t streamPacking,
                               const gcsRECT* destRect);
/* Lines from (left, top) to (right, bottom) of each rectangle, the end pixel not drawn: through
 * the engine's brush, or (Line2DEx) a solid pattern of an A8R8G8B8 colour. */
gceSTATUS gcoHARDWARE_StartDELine(gcoHARDWARE hardware, gco2D engine, uint32_t lineCount,
                                  const gcsRECT* lines);
gceSTATUS gcoHARDWARE_Line2DEx(gcoHARDWARE hardware, gco2D engine, uint32_t lineCount,
                               const gcsRECT* lines, uint32_t colour);
gceSTATUS gcoHARDWARE_ColorPackToARGB8(uint32_t format, uint32_t colour, uint32_t* argb);
gceSTATUS gcoHARDWARE_SetAutoFlushCycles(gcoHARDWARE hardware, uint32_t cycles);

/* Engine. */
gceSTATUS gco2D_Flush(gco2D engine);
gceSTATUS gco2D_SetCurrentSourceIndex(gco2D engine, uint32_t index);
gceSTATUS gco2D_SetColorSourceEx(gco2D engine, uint32_t address, uint32_t stride, uint32_t format,
                                 uint32_t rotation, uint32_t width, uint32_t height,
                                 int32_t relative, uint32_t transparency, uint32_t colorKey);
gceSTATUS gco2D_SetColorSource(gco2D engine, uint32_t address, uint32_t stride, uint32_t format,
                               uint32_t rotation, uint32_t width, int32_t relative,
                               uint32_t transparency, uint32_t colorKey);
gceSTATUS gco2D_SetColorSourceAdvanced(gco2D engine, uint32_t address, uint32_t stride,
                                       uint32_t format, uint32_t rotation, uint32_t width,
                                       uint32_t height, int32_t relative);
gceSTATUS gco2D_SetMaskedSourceEx(gco2D engine, uint32_t address, uint32_t stride,
                                  uint32_t format, int32_t relative, uint32_t monoPacking,
                                  uint32_t rotation, uint32_t width, uint32_t height);
gceSTATUS gco2D_SetMaskedSource(gco2D engine, uint32_t address, uint32_t stride, uint32_t format,
                                int32_t relative, uint32_t monoPacking);
gceSTATUS gco2D_SetMonochromeSource(gco2D engine, int32_t colorConvert,
                                    uint32_t monoTransparency, uint32_t dataPacking,
                                    int32_t relative, uint32_t transparency, uint32_t foreground,
                                    uint32_t background);
gceSTATUS gco2D_SetGenericSource(gco2D engine, const uint32_t* addresses, uint32_t addressCount,
                                 const uint32_t* strides, uint32_t strideCount, uint32_t tiling,
                                 uint32_t format, uint32_t rotation, uint32_t width,
                                 uint32_t height);
gceSTATUS gco2D_SetSource(gco2D engine, const gcsRECT* sourceRect);
gceSTATUS gco2D_SetTargetEx(gco2D engine, uint32_t address, uint32_t stride, uint32_t rotation,
                            uint32_t width, uint32_t height);
gceSTATUS gco2D_SetTarget(gco2D engine, uint32_t address, uint32_t stride, uint32_t rotation,
                          uint32_t width);
gceSTATUS gco2D_SetGenericTarget(gco2D engine, const uint32_t* addresses, uint32_t addressCount,
                                 const uint32_t* strides, uint32_t strideCount, uint32_t tiling,
                                 uint32_t format, uint32_t rotation, uint32_t width,
                                 uint32_t height);
gceSTATUS gco2D_SetClipping(gco2D engine, const gcsRECT* rect);
gceSTATUS gco2D_SetROP(gco2D engine, uint8_t foreground, uint8_t background);
gceSTATUS gco2D_SetBitBlitMirror(gco2D engine, int32_t horizontal, int32_t vertical);
gceSTATUS gco2D_SetTransparencyAdvanced(gco2D engine, uint32_t source, uint32_t destination,
                                        uint32_t pattern);
gceSTATUS gco2D_SetTransparencyAdvancedEx(gco2D engine, uint32_t source, uint32_t destination,
                                          uint32_t pattern, int32_t useColorKey);
gceSTATUS gco2D_SetSourceColorKeyRangeAdvanced(gco2D engine, uint32_t low, uint32_t high);
gceSTATUS gco2D_SetSourceColorKeyAdvanced(gco2D engine, uint32_t key);
gceSTATUS gco2D_SetTargetColorKeyRangeAdvanced(gco2D engine, uint32_t low, uint32_t high);
gceSTATUS gco2D_SetTargetColorKeyAdvanced(gco2D engine, uint32_t key);
gceSTATUS gco2D_SetSourceGlobalColorAdvanced(gco2D engine, uint32_t colour);
gceSTATUS gco2D_SetTargetGlobalColorAdvanced(gco2D engine, uint32_t colour);
gceSTATUS gco2D_SetPixelMultiplyModeAdvanced(gco2D engine, uint32_t sourcePremultiply,
                                             uint32_t targetPremultiply, uint32_t globalMultiply,
                                             uint32_t targetDemultiply);
gceSTATUS gco2D_EnableAlphaBlend(gco2D engine, uint8_t sourceAlpha, uint8_t targetAlpha,
                                 uint32_t sourceAlphaMode, uint32_t targetAlphaMode,
                                 uint32_t sourceGlobalMode, uint32_t targetGlobalMode,
                                 uint32_t sourceFactor, uint32_t targetFactor,
                                 uint32_t sourceColorMode, uint32_t targetColorMode);
gceSTATUS gco2D_EnableAlphaBlendAdvanced(gco2D engine, uint32_t sourceAlphaMode,
                                         uint32_t targetAlphaMode, uint32_t sourceGlobalMode,
                                         uint32_t targetGlobalMode, uint32_t sourceFactor,
                                         uint32_t targetFactor);
gceSTATUS gco2D_SetPorterDuffBlending(gco2D engine, uint32_t rule);
gceSTATUS gco2D_DisableAlphaBlend(gco2D engine);
gceSTATUS gco2D_SetStretchFactors(gco2D engine, uint32_t horizontal, uint32_t vertical);
gceSTATUS gco2D_SetStretchRectFactors(gco2D engine, const gcsRECT* sourceRect,
                                      const gcsRECT* destRect);
gceSTATUS gco2D_CalcStretchFactor(gco2D engine, int32_t sourceSize, int32_t destSize,
                                  uint32_t* factor);
gceSTATUS gco2D_SetGdiStretchMode(gco2D engine, int32_t enable);
gceSTATUS gco2D_SetKernelSize(gco2D engine, uint8_t horizontal, uint8_t vertical);
gceSTATUS gco2D_SetFilterType(gco2D engine, uint32_t type);
gceSTATUS gco2D_EnableDither(gco2D engine, int32_t enable);
gceSTATUS gco2D_SetAutoFlushCycles(gco2D engine, uint32_t cycles);
gceSTATUS gco2D_LoadPalette(gco2D engine, uint32_t firstIndex, uint32_t count,
                            const uint32_t* entries, int32_t colorConvert);
gceSTATUS gco2D_LoadSolidBrush(gco2D engine, uint32_t format, int32_t colorConvert,
                               uint32_t colour, uint64_t mask);
gceSTATUS gco2D_LoadMonochromeBrush(gco2D engine, uint32_t originX, uint32_t originY,
                                    int32_t colorConvert, uint32_t foreground,
                                    uint32_t background, uint64_t bits, uint64_t mask);
gceSTATUS gco2D_LoadColorBrush(gco2D engine, uint32_t originX, uint32_t originY,
                               uint32_t address, uint32_t format, uint64_t mask);

gceSTATUS gco2D_SetTargetRect(gco2D engine, const gcsRECT* rect);
gceSTATUS gco2D_SetYUVColorMode(gco2D engine, uint32_t mode);
gceSTATUS gco2D_SetSourceTileStatus(gco2D engine, uint32_t config, uint32_t format,
                                    uint32_t clear, uint32_t address);
gceSTATUS gco2D_SetTargetTileStatus(gco2D engine, uint32_t config, uint32_t format,
                                    uint32_t clear, uint32_t address);
gceSTATUS gco2D_SetStateU32(gco2D engine, uint32_t key, uint32_t value);
gceSTATUS gco2D_SetStateArrayU32(gco2D engine, uint32_t key, const uint32_t* values,
                                 uint32_t count);
gceSTATUS gco2D_SetStateArrayI32(gco2D engine, uint32_t key, const int32_t* values,
                                 uint32_t count);
gceSTATUS gco2D_SetUserFilterKernel(gco2D engine, uint32_t pass, const uint16_t* kernel);
gceSTATUS gco2D_EnableUserFilterPasses(gco2D engine, int32_t horizontal, int32_t vertical);
gceSTATUS gco2D_FreeFilterBuffer(gco2D engine);
gceSTATUS gco2D_ProfileEngine(gco2D engine, void* counters);

/* Operations. */
gceSTATUS gco2D_Clear(gco2D engine, uint32_t rectCount, const gcsRECT* rects, uint32_t colour,
                      uint8_t foreground, uint8_t background, uint32_t targetFormat);
gceSTATUS gco2D_Blit(gco2D engine, uint32_t rectCount, const gcsRECT* destRects,
                     uint8_t foreground, uint8_t background, uint32_t targetFormat);
gceSTATUS gco2D_BatchBlit(gco2D engine, uint32_t rectCount, const gcsRECT* sourceRects,
                          const gcsRECT* destRects, uint8_t foreground, uint8_t background,
                          uint32_t targetFormat);
gceSTATUS gco2D_StretchBlit(gco2D engine, uint32_t rectCount, const gcsRECT* destRects,
                            uint8_t foreground, uint8_t background, uint32_t targetFormat);
gceSTATUS gco2D_MonoBlit(gco2D engine, const void* stream, const gcsPOINT* sourceSize,
                         const gcsRECT* streamRect, uint32_t sourcePacking,
                         uint32_t streamPacking, const gcsRECT* destRect, uint8_t foreground,
                         uint8_t background, uint32_t targetFormat);

/* A monochrome blit from a 1-bpp stream in memory (`stride` bytes per row, leftmost pixel in
 * bit 7 of each byte, `width` x `height` pixels): each destination rectangle of the engine's
 * target reads the stream from pixel (x, y) on; 1 bits draw the foreground colour through the
 * foreground ROP, 0 bits the background colour through the background ROP (0xAA leaves them
 * transparent). Colours are A8R8G8B8. Refused (-13) on the reduced engine. */
gceSTATUS gco2D_MonoBlitEx(gco2D engine, const void* stream, int32_t stride, int32_t width,
                           int32_t height, int32_t x, int32_t y, uint32_t foreground,
                           uint32_t background, uint32_t rectCount, const gcsRECT* destRects,
                           uint8_t foregroundRop, uint8_t backgroundRop);

/* Limits and queries. */
/* A brush object of the brush cache (owned by the cache; see gcoBRUSH_Construct*). */
typedef struct _gcoBRUSH* gcoBRUSH;

/* Lines (rectangles read as start and end points, the end pixel not drawn) with a brush object,
 * or the engine's loaded brush when `brush` is null; ROPs that use the source are refused. */
gceSTATUS gco2D_Line(gco2D engine, uint32_t lineCount, const gcsRECT* lines, gcoBRUSH brush,
                     uint8_t foreground, uint8_t background, uint32_t targetFormat);
/* Lines in one A8R8G8B8 colour. */
gceSTATUS gco2D_ColorLine(gco2D engine, uint32_t lineCount, const gcsRECT* lines, uint32_t colour,
                          uint8_t foreground, uint8_t background, uint32_t targetFormat);
/* The colour sources of `sourceMask` (bits 0 to 7) blitted one after another, each with its own
 * rectangle, ROPs, keys and blending, into each destination rectangle of the target. */
gceSTATUS gco2D_MultiSourceBlit(gco2D engine, uint32_t sourceMask, const gcsRECT* destRects,
                                uint32_t rectCount);

uint32_t gco2D_GetMaximumDataCount(void);
uint32_t gco2D_GetMaximumRectCount(void);
/*
 * Filter blits: the source rectangle scaled onto the destination rectangle through the
 * engine's kernels (gco2D_SetKernelSize, gco2D_SetFilterType, gco2D_SetUserFilterKernel); only
 * the destination sub-rectangle (in the destination rectangle's own coordinates; null: all of
 * it) is written. Sources of 1 to 3 planes, single-plane targets. The source becomes the
 * current source and the target the engine's target.
 */
gceSTATUS gco2D_FilterBlit(gco2D engine, uint32_t sourceAddress, uint32_t sourceStride,
                           uint32_t sourceUAddress, uint32_t sourceUStride,
                           uint32_t sourceVAddress, uint32_t sourceVStride, uint32_t sourceFormat,
                           uint32_t sourceRotation, uint32_t sourceWidth, const gcsRECT* sourceRect,
                           uint32_t destAddress, uint32_t destStride, uint32_t destFormat,
                           uint32_t destRotation, uint32_t destWidth, const gcsRECT* destRect,
                           const gcsRECT* destSubRect);
gceSTATUS gco2D_FilterBlitEx(gco2D engine, uint32_t sourceAddress, uint32_t sourceStride,
                             uint32_t sourceUAddress, uint32_t sourceUStride,
                             uint32_t sourceVAddress, uint32_t sourceVStride, uint32_t sourceFormat,
                             uint32_t sourceRotation, uint32_t sourceWidth, uint32_t sourceHeight,
                             const gcsRECT* sourceRect, uint32_t destAddress, uint32_t destStride,
                             uint32_t destFormat, uint32_t destRotation, uint32_t destWidth,
                             uint32_t destHeight, const gcsRECT* destRect,
                             const gcsRECT* destSubRect);
gceSTATUS gco2D_FilterBlitEx2(gco2D engine, const uint32_t* sourceAddresses,
                              uint32_t sourceAddressCount, const uint32_t* sourceStrides,
                              uint32_t sourceStrideCount, uint32_t sourceTiling,
                              uint32_t sourceFormat, uint32_t sourceRotation, uint32_t sourceWidth,
                              uint32_t sourceHeight, const gcsRECT* sourceRect,
                              const uint32_t* destAddresses, uint32_t destAddressCount,
                              const uint32_t* destStrides, uint32_t destStrideCount,
                              uint32_t destTiling, uint32_t destFormat, uint32_t destRotation,
                              uint32_t destWidth, uint32_t destHeight, const gcsRECT* destRect,
                              const gcsRECT* destSubRect);

gceSTATUS gco2D_QueryU32(gco2D engine, uint32_t item, uint32_t* value);
gceSTATUS gco2D_GetPixelAlignment(uint32_t format, uint32_t* alignment);
gceSTATUS gco2D_GetPackSize(uint32_t packing, uint32_t* bits, uint32_t* count);

/* Rectangles. */
gceSTATUS gcsRECT_Set(gcsRECT* rect, int32_t left, int32_t top, int32_t right, int32_t bottom);
gceSTATUS gcsRECT_Width(const gcsRECT* rect, int32_t* width);
gceSTATUS gcsRECT_Height(const gcsRECT* rect, int32_t* height);
gceSTATUS gcsRECT_Normalize(gcsRECT* rect);
gceSTATUS gcsRECT_IsEqual(const gcsRECT* a, const gcsRECT* b, int32_t* equal);
gceSTATUS gcsRECT_IsOfEqualSize(const gcsRECT* a, const gcsRECT* b, int32_t* equal);
gceSTATUS gcsRECT_RelativeRotation(uint32_t orientation, uint32_t* rotation);
gceSTATUS gcsRECT_Rotate(gcsRECT* rect, uint32_t rotation, uint32_t targetRotation,
                         int32_t surfaceWidth, int32_t surfaceHeight);

#ifdef __cplusplus
}
#endif

#endif /* GAL_2D_H */
