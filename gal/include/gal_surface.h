/*
 * gal_surface.h - surfaces (gcoSURF) and the format table: an image in video memory or in user
 * memory with its format, size, alignment and plane layout, locking, user-memory mapping, and
 * its use as a 2D source or target.
 */
#ifndef GAL_SURFACE_H
#define GAL_SURFACE_H

#include "gal_2d.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _gcoSURF* gcoSURF;

/* Format classes and data types. */
enum { gcvFORMAT_CLASS_RGBA = 4500, gcvFORMAT_CLASS_YUV = 4501, gcvFORMAT_CLASS_INDEX = 4502,
       gcvFORMAT_CLASS_LUMINANCE = 4503, gcvFORMAT_CLASS_BUMP = 4504,
       gcvFORMAT_CLASS_DEPTH = 4505, gcvFORMAT_CLASS_ASTC = 4506,
       gcvFORMAT_CLASS_COMPRESSED = 4507 };

/* Surface types. */
enum { gcvSURF_RENDER_TARGET = 3, gcvSURF_BITMAP = 6 };
/* Hints in the type argument. */
#define gcvSURF_NO_VIDMEM 0x200u
#define gcvSURF_CACHEABLE 0x400u

/* One entry of the format table (100 bytes on the 32-bit target). Component descriptors:
 * first word alpha start | alpha width << 8 | red start << 16 | red width << 24, second word
 * green and blue alike; a width with bit 7 set is padding. */
typedef struct gcsSURF_FORMAT_INFO {
    const char* formatName;
    uint32_t format;
    uint32_t formatClass;
    uint32_t dataType;
    uint32_t bitsPerPixel;
    uint32_t blockWidth;
    uint32_t blockHeight;
    uint32_t blockSize; /* bits */
    uint32_t layers;
    uint32_t components[2];
    uint32_t interleavedComponents[2];
    uint32_t closestRenderFormat;
    uint32_t renderFormat; /* hardware code */
    uint32_t closestTextureFormat;
    uint32_t textureFormat; /* hardware code */
    uint32_t hardwareSupported;
    uint32_t format2D;      /* the 2D core's format code, 0xFFFFFFFF outside the 2D set */
    uint32_t swizzle2D;
    uint32_t uvSwap2D;
    uint32_t planes;
    uint32_t reserved[3];
} gcsSURF_FORMAT_INFO;

/* A node of video memory (inside a surface, also used for internal buffers). */
typedef struct gcsSURF_NODE {
    uint32_t pool; /* 8: user memory */
    uint32_t node; /* kernel handle */
    uint32_t size;
    uint32_t valid;
    uint32_t lockCount;
    uint32_t locked;
    uint32_t physical;  /* GPU address while locked */
    uint32_t lockedType;
    void* logical;
    uint32_t cacheable;
    uint32_t mappingInfo; /* user memory */
    uint32_t mappedSize;
} gcsSURF_NODE;

gceSTATUS gcoSURF_QueryFormat(uint32_t format, gcsSURF_FORMAT_INFO** info);
gceSTATUS gcoHARDWARE_QueryFormat(uint32_t format, gcsSURF_FORMAT_INFO** info);
gceSTATUS gcoSURF_ComputeColorMask(const gcsSURF_FORMAT_INFO* info, uint32_t* mask);
gceSTATUS gcoSURF_GetAlignment(uint32_t type, uint32_t format, uint32_t* addressAlignment,
                               uint32_t* xAlignment, uint32_t* yAlignment);

gceSTATUS gcoSURF_Construct(gcoHAL hal, uint32_t width, uint32_t height, uint32_t depth,
                            uint32_t type, uint32_t format, uint32_t pool, gcoSURF* surface);
gceSTATUS gcoSURF_ConstructWrapper(gcoHAL hal, gcoSURF* surface);
gceSTATUS gcoSURF_Destroy(gcoSURF surface);
gceSTATUS gcoSURF_ReferenceSurface(gcoSURF surface);
gceSTATUS gcoSURF_QueryReferenceCount(gcoSURF surface, uint32_t* count);
gceSTATUS gcoSURF_IsValid(gcoSURF surface);
gceSTATUS gcoSURF_Lock(gcoSURF surface, uint32_t* addresses, void** memory);
gceSTATUS gcoSURF_Unlock(gcoSURF surface, void* memory);
gceSTATUS gcoSURF_GetSize(gcoSURF surface, uint32_t* width, uint32_t* height, uint32_t* depth);
gceSTATUS gcoSURF_GetAlignedSize(gcoSURF surface, uint32_t* width, uint32_t* height,
                                 int32_t* stride);
gceSTATUS gcoSURF_GetFormat(gcoSURF surface, uint32_t* type, uint32_t* format);
gceSTATUS gcoSURF_GetFormatInfo(gcoSURF surface, gcsSURF_FORMAT_INFO** info);
gceSTATUS gcoSURF_GetTiling(gcoSURF surface, uint32_t* tiling);
gceSTATUS gcoSURF_QueryVidMemNode(gcoSURF surface, uint32_t* node, uint32_t* pool,
                                  uint32_t* bytes);
gceSTATUS gcoSURF_QueryFlags(gcoSURF surface, uint32_t flag);
gceSTATUS gcoSURF_SetFlags(gcoSURF surface, uint32_t flag, int32_t value);
gceSTATUS gcoSURF_QueryOrientation(gcoSURF surface, uint32_t* orientation);
gceSTATUS gcoSURF_SetOrientation(gcoSURF surface, uint32_t orientation);
gceSTATUS gcoSURF_SetRotation(gcoSURF surface, uint32_t rotation);
gceSTATUS gcoSURF_GetColorType(gcoSURF surface, uint32_t* colorType);
gceSTATUS gcoSURF_SetColorType(gcoSURF surface, uint32_t colorType);
gceSTATUS gcoSURF_GetColorSpace(gcoSURF surface, uint32_t* colorSpace);
gceSTATUS gcoSURF_SetColorSpace(gcoSURF surface, uint32_t colorSpace);
gceSTATUS gcoSURF_SetDither(gcoSURF surface, int32_t dither);
gceSTATUS gcoSURF_SetOffset(gcoSURF surface, uint32_t offset);
gceSTATUS gcoSURF_QueryTimeStamp(gcoSURF surface, uint64_t* stamp);
gceSTATUS gcoSURF_UpdateTimeStamp(gcoSURF surface);
gceSTATUS gcoSURF_SetResolvability(gcoSURF surface, int32_t resolvable);
gceSTATUS gcoSURF_MapUserSurface(gcoSURF surface, uint32_t alignment, void* memory,
                                 uint32_t physical);
gceSTATUS gcoSURF_WrapSurface(gcoSURF surface, uint32_t alignment, void* memory,
                              uint32_t physical);
gceSTATUS gcoSURF_SetBuffer(gcoSURF surface, uint32_t type, uint32_t format, uint32_t stride,
                            void* logical, uint32_t physical);
gceSTATUS gcoSURF_SetWindow(gcoSURF surface, uint32_t x, uint32_t y, uint32_t width,
                            uint32_t height);

gceSTATUS gcoSURF_Set2DSource(gcoSURF surface, uint32_t rotation);
gceSTATUS gcoSURF_Set2DTarget(gcoSURF surface, uint32_t rotation);
gceSTATUS gcoSURF_Clear2D(gcoSURF surface, uint32_t rectCount, const gcsRECT* rects,
                          uint32_t colour);
/* Lines drawn with a brush into the surface (locked for the call); see gco2D_Line. */
gceSTATUS gcoSURF_Line(gcoSURF surface, uint32_t lineCount, const gcsRECT* lines,
                       gcoBRUSH brush, uint8_t foreground, uint8_t background);
/* A monochrome stream expanded into the surface: set bits in the foreground colour, clear bits
 * in the background colour (both A8R8G8B8); see gco2D_MonoBlit. */
gceSTATUS gcoSURF_MonoBlit(gcoSURF surface, const void* stream, const gcsPOINT* sourceSize,
                           const gcsRECT* streamRect, uint32_t sourcePacking,
                           uint32_t streamPacking, const gcsRECT* destRect,
                           uint32_t foregroundColour, uint32_t backgroundColour,
                           uint8_t foreground, uint8_t background);
/* A filter blit from one surface onto another (both locked for its length); see
 * gco2D_FilterBlitEx. A null destination sub-rectangle writes the whole destination rectangle. */
gceSTATUS gcoSURF_FilterBlit(gcoSURF source, gcoSURF target, const gcsRECT* sourceRect,
                             const gcsRECT* destRect, const gcsRECT* destSubRect);
gceSTATUS gcoSURF_Blit(gcoSURF source, gcoSURF target, uint32_t rectCount,
                       const gcsRECT* sourceRects, const gcsRECT* destRects, void* brush,
                       uint8_t foreground, uint8_t background, uint32_t transparency,
                       uint32_t transparencyColor, const void* mask, uint32_t maskPacking);
gceSTATUS gcoSURF_Fill(gcoSURF surface);
gceSTATUS gcoSURF_Blend(gcoSURF surface);
gceSTATUS gcoSURF_CPUCacheOperation(gcoSURF surface, uint32_t operation);
gceSTATUS gcoSURF_GetBottomBufferOffset(gcoSURF surface, uint32_t* offset);
gceSTATUS gcoSURF_SetClipping(gcoSURF surface);
gceSTATUS gcoSURF_ResetSurWH(gcoSURF surface, uint32_t width, uint32_t height,
                             uint32_t alignedWidth, uint32_t alignedHeight, uint32_t format);
gceSTATUS gcoSURF_SetAlignment(gcoSURF surface, uint32_t alignment);
gceSTATUS gcoSURF_Flush(gcoSURF surface);
gceSTATUS gcoSURF_EnableAlphaBlend(gcoSURF surface, uint8_t sourceAlpha, uint8_t targetAlpha,
                                   uint32_t sourceAlphaMode, uint32_t targetAlphaMode,
                                   uint32_t sourceGlobalMode, uint32_t targetGlobalMode,
                                   uint32_t sourceFactor, uint32_t targetFactor,
                                   uint32_t sourceColorMode, uint32_t targetColorMode);
gceSTATUS gcoSURF_DisableAlphaBlend(gcoSURF surface);

/* Video-memory nodes (also used for internal buffers). */
gceSTATUS gcsSURF_NODE_Construct(gcsSURF_NODE* node, size_t bytes, uint32_t alignment,
                                 uint32_t type, uint32_t flags, uint32_t pool);
gceSTATUS gcoSURF_LockNode(gcsSURF_NODE* node, uint32_t* address, void** memory);
gceSTATUS gcoSURF_UnLockNode(gcsSURF_NODE* node, uint32_t type);
gceSTATUS gcoSURF_NODE_Cache(gcsSURF_NODE* node, void* logical, size_t bytes,
                             uint32_t operation);
gceSTATUS gcoSURF_NODE_CPUCacheOperation(gcsSURF_NODE* node, uint32_t type, uint32_t offset,
                                         size_t bytes, uint32_t operation);
gceSTATUS gcoHARDWARE_ScheduleVideoMemory(gcsSURF_NODE* node);

/* Settings shared with other processes through the kernel's shared buffers. */
gceSTATUS gcoSURF_AllocShBuffer(gcoSURF surface, uint64_t* id);
gceSTATUS gcoSURF_BindShBuffer(gcoSURF surface, uint64_t id);
gceSTATUS gcoSURF_PushSharedInfo(gcoSURF surface);
gceSTATUS gcoSURF_PopSharedInfo(gcoSURF surface);

#ifdef __cplusplus
}
#endif

#endif /* GAL_SURFACE_H */
