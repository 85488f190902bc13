/*
 * gal_brush.h - brush objects (gcoBRUSH) and the brush cache (gcoBRUSH_CACHE) of the 2D
 * engine: 8 by 8 pattern brushes (solid, monochrome or colour) kept once per signature, and
 * the bounded set of 256-byte video-memory buffers that colour patterns are uploaded into.
 *
 * Each engine has one cache; the gcoBRUSH_Construct* calls use the calling thread's engine.
 * Ownership: every successful Construct hands out one reference, which gcoBRUSH_Destroy gives
 * back; constructing a brush equal to a cached one returns the cached object. A brush records
 * the caller's colour pattern by copy. Colour brushes are uploaded when they are loaded
 * (gcoBRUSH_CACHE_FlushBrush); a pattern buffer is written again only after the GPU has
 * finished every command queued so far that may read it.
 */
#ifndef GAL_BRUSH_H
#define GAL_BRUSH_H

#include "gal_2d.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _gcoBRUSH* gcoBRUSH;
typedef struct _gcoBRUSH_CACHE* gcoBRUSH_CACHE;
/* A pattern buffer of the cache: a 256-byte node of video memory. */
typedef struct gcsBRUSH_BUFFER gcsBRUSH_BUFFER;

/* The size of buffer gcoBRUSH_GetBrushData and the cache's signature calls need: ten words
 * and up to 256 bytes of pattern. */
#define gcdBRUSH_SIGNATURE_BYTES 296u
/* Buffers a new cache may hold. */
#define gcdBRUSH_BUFFER_LIMIT 8u

/* Brush objects. A colour convert above 1 or a null out argument is -1. */
gceSTATUS gcoBRUSH_ConstructSingleColor(gcoHAL hal, uint32_t colorConvert, uint32_t colour,
                                        uint64_t mask, gcoBRUSH* brush);
gceSTATUS gcoBRUSH_ConstructMonochrome(gcoHAL hal, uint32_t originX, uint32_t originY,
                                       uint32_t colorConvert, uint32_t foreground,
                                       uint32_t background, uint64_t bits, uint64_t mask,
                                       gcoBRUSH* brush);
/* `pattern`: 8 rows of 8 pixels of `format`, rows packed (8 x bits per pixel bytes). */
gceSTATUS gcoBRUSH_ConstructColor(gcoHAL hal, uint32_t originX, uint32_t originY,
                                  const void* pattern, uint32_t format, uint64_t mask,
                                  gcoBRUSH* brush);
gceSTATUS gcoBRUSH_Destroy(gcoBRUSH brush);
gceSTATUS gcoBRUSH_Delete(gcoBRUSH brush);
/* Writes the signature into `signature` (*size at least gcdBRUSH_SIGNATURE_BYTES, else -14
 * with the needed size in *size) and its length into *size. */
gceSTATUS gcoBRUSH_GetBrushData(gcoBRUSH brush, void* signature, uint32_t* size);
/* Loads the brush into its engine; a colour brush reads its pattern from `buffer`, written
 * first when `upload` is set. */
gceSTATUS gcoBRUSH_FlushBrush(gcoBRUSH brush, int32_t upload, gcsBRUSH_BUFFER* buffer);

/* The brush cache. Lookups and deletes of brushes it does not hold are -1. */
gceSTATUS gcoBRUSH_CACHE_Construct(gcoHAL hal, gcoBRUSH_CACHE* cache);
gceSTATUS gcoBRUSH_CACHE_Destroy(gcoBRUSH_CACHE cache);
gceSTATUS gcoBRUSH_CACHE_SetBrushLimit(gcoBRUSH_CACHE cache, uint32_t limit);
gceSTATUS gcoBRUSH_CACHE_GetBrushID(gcoBRUSH_CACHE cache, const void* signature, uint32_t size,
                                    uint32_t* id);
gceSTATUS gcoBRUSH_CACHE_GetBrush(gcoBRUSH_CACHE cache, uint32_t id, const void* signature,
                                  uint32_t size, gcoBRUSH* brush);
gceSTATUS gcoBRUSH_CACHE_AddBrush(gcoBRUSH_CACHE cache, gcoBRUSH brush, uint32_t id,
                                  int32_t needsBuffer);
gceSTATUS gcoBRUSH_CACHE_DeleteBrush(gcoBRUSH_CACHE cache, gcoBRUSH brush);
gceSTATUS gcoBRUSH_CACHE_FlushBrush(gcoBRUSH_CACHE cache, gcoBRUSH brush);

/* The engine's brush objects and cache; under feature 85 the constructors are -13. */
gceSTATUS gco2D_ConstructSingleColorBrush(gco2D engine, uint32_t colorConvert, uint32_t colour,
                                          uint64_t mask, gcoBRUSH* brush);
gceSTATUS gco2D_ConstructMonochromeBrush(gco2D engine, uint32_t originX, uint32_t originY,
                                         uint32_t colorConvert, uint32_t foreground,
                                         uint32_t background, uint64_t bits, uint64_t mask,
                                         gcoBRUSH* brush);
gceSTATUS gco2D_ConstructColorBrush(gco2D engine, uint32_t originX, uint32_t originY,
                                    const void* pattern, uint32_t format, uint64_t mask,
                                    gcoBRUSH* brush);
gceSTATUS gco2D_GetBrushCache(gco2D engine, gcoBRUSH_CACHE* cache);
gceSTATUS gco2D_SetBrushLimit(gco2D engine, uint32_t limit);
/* Loads `brush` through the engine's cache; the brush keeps its own format. */
gceSTATUS gco2D_FlushBrush(gco2D engine, gcoBRUSH brush, uint32_t format);

#ifdef __cplusplus
}
#endif

#endif /* GAL_BRUSH_H */
