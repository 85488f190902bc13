/*
 * veld_framebuffer.h - the simulated frame buffer of our PC platform library.
 *
 * Every VELD_FBDEV_UpdateScreenBySurface publishes the surface's pixels and the layer's
 * palette as a new frame into a named shared-memory region per layer ("/veld-fb<layer>",
 * namespaced by VELD_NS), so that other processes (veldctl screenshot, tests) can read what is
 * on screen. The region outlives the process that wrote it, as a screen keeps its picture.
 *
 * Consistency: the header's `sequence` is a sequence lock. A writer makes it odd, writes the
 * frame and makes it even again; a reader copies the frame between two reads of an equal, even
 * sequence and otherwise tries again, so it never sees a torn frame. Every word of a frame is
 * written and read with atomic operations, so the protocol holds between processes and
 * between threads alike.
 *
 * Host-only: the product never includes this; on a television the vendor's frame buffer is
 * the screen itself.
 */
#ifndef VELD_FRAMEBUFFER_H
#define VELD_FRAMEBUFFER_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VELD_FB_REGION_PREFIX "/veld-fb" /* followed by the layer number */
#define VELD_FB_MAGIC 0x31424656u         /* "VFB1" */
#define VELD_FB_VERSION 1u
#define VELD_FB_LAYERS 4
#define VELD_FB_MAX_WIDTH 4096u
#define VELD_FB_MAX_HEIGHT 2160u
/* Room for the pixels of the largest frame: the region is sized for it once (unused pages of
 * a shared-memory object cost nothing). */
#define VELD_FB_PIXEL_CAPACITY (VELD_FB_MAX_WIDTH * VELD_FB_MAX_HEIGHT)
#define VELD_FB_HEADER_BYTES 4096u
#define VELD_FB_REGION_BYTES (VELD_FB_HEADER_BYTES + VELD_FB_PIXEL_CAPACITY)

/* Pixel formats. */
#define VELD_FB_FORMAT_INDEX8 2u /* one byte per pixel: an index into the 256-entry palette */

/* Header at the start of the region; the pixels of the frame follow at VELD_FB_HEADER_BYTES,
 * `height` rows of `pitch` bytes of which the first `width` are the picture. Palette entries
 * are 0xAARRGGBB. */
typedef struct VELD_FB_HEADER {
    uint32_t magic;       /* VELD_FB_MAGIC once the region is set up */
    uint32_t version;     /* VELD_FB_VERSION */
    uint32_t headerBytes; /* VELD_FB_HEADER_BYTES: offset of the pixels */
    uint32_t capacity;    /* VELD_FB_PIXEL_CAPACITY: room for pixels */
    uint32_t layer;
    uint32_t visible;     /* VELD_FBDEV_SetVisible; not part of a frame */
    uint32_t composer;    /* VELD_FBDEV_SetSWComposerCtrl word 0; not part of a frame */
    uint32_t publisher;   /* pid of the process that published the latest frame */
    /* Sequence lock: odd while a frame is being written. */
    uint32_t sequence;
    /* ---- the frame, valid while `sequence` is even and unchanged ---- */
    uint32_t frame;       /* frames published so far: the number of the latest frame */
    uint32_t width;
    uint32_t height;
    uint32_t format;      /* VELD_FB_FORMAT_INDEX8 */
    uint32_t pitch;       /* bytes per row in the region, a multiple of 8 */
    uint64_t publishedNs; /* monotonic time of the publication */
    uint32_t palette[256];
} VELD_FB_HEADER;

/* A frame as a reader receives it; its pixels are packed (height rows of width bytes). */
typedef struct VELD_FB_FRAME {
    uint32_t frame;
    uint32_t layer;
    uint32_t width;
    uint32_t height;
    uint32_t format;
    uint32_t visible;
    uint64_t publishedNs;
    uint32_t palette[256];
    uint32_t publisher; /* pid of the process that published it (it may have ended since) */
} VELD_FB_FRAME;

/* Results of VELD_HOST_FB_Read. */
#define VELD_FB_OK 0
#define VELD_FB_ERR_ARGUMENT (-1) /* bad layer or null frame */
#define VELD_FB_ERR_ABSENT (-2)   /* no frame buffer for the layer (nothing was ever shown) */
#define VELD_FB_ERR_TIMEOUT (-3)  /* the wanted frame did not come in time */
#define VELD_FB_ERR_SPACE (-4)    /* `pixels` too small; `frame` tells the size needed */
#define VELD_FB_ERR_FORMAT (-5)   /* the region is not a frame buffer this library knows */

/* Copies the latest frame of `layer` whose number is at least `minFrame` (1: any frame that
 * was published) into `frame` and `pixels` (height rows of width bytes; `capacity` bytes of
 * room). Waits up to timeoutMs (0: not at all, -1: for ever) for that frame, and for the
 * region to appear. */
int32_t VELD_HOST_FB_Read(int32_t layer, uint32_t minFrame, int32_t timeoutMs,
                          VELD_FB_FRAME* frame, uint8_t* pixels, size_t capacity);

/* Removes the frame buffer region of `layer` from the namespace (tests). 0 on success. */
int32_t VELD_HOST_FB_Unlink(int32_t layer);

#ifdef __cplusplus
}  /* extern "C" */

static_assert(sizeof(VELD_FB_HEADER) == 64 + 4 * 256, "frame buffer header layout");
static_assert(offsetof(VELD_FB_HEADER, publisher) == 28, "frame buffer header layout");
static_assert(offsetof(VELD_FB_HEADER, sequence) == 32, "frame buffer header layout");
static_assert(offsetof(VELD_FB_HEADER, frame) == 36, "frame buffer header layout");
static_assert(offsetof(VELD_FB_HEADER, publishedNs) == 56, "frame buffer header layout");
static_assert(offsetof(VELD_FB_HEADER, palette) == 64, "frame buffer header layout");
static_assert(sizeof(VELD_FB_HEADER) <= VELD_FB_HEADER_BYTES, "header fits before the pixels");
static_assert(VELD_FB_HEADER_BYTES % 8 == 0 && VELD_FB_PIXEL_CAPACITY % 8 == 0,
              "pixels are copied in whole words");
#endif

#endif /* VELD_FRAMEBUFFER_H */
