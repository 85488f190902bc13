/*
 * gal_hardware.h - the 2D GPU driver's hardware object (gcoHARDWARE) and its event queue
 * (gcoQUEUE): the chip identity and its feature flags, the kernel context, the submission of
 * queued events, commits and stalls. A null hardware argument means the calling thread's
 * hardware for its current type.
 */
#ifndef GAL_HARDWARE_H
#define GAL_HARDWARE_H

#include "gal_os.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _gcoQUEUE* gcoQUEUE;
typedef struct _gcoBUFFER* gcoBUFFER;
typedef gcsCMDBUF_RECORD* gcoCMDBUF;
typedef struct gcsSTATE_DELTA gcsSTATE_DELTA;

/* Command buffers: 128 KB each, a ring of 2 to 8. */
#define gcdCMDBUF_BYTES 0x20000u
#define gcdCMDBUF_MAX_COUNT 8u
#define gcdCMDBUF_ALIGNMENT 8u
#define gcdCMDBUF_RESERVED_HEAD 32u
#define gcdCMDBUF_RESERVED_TAIL 8u
#define gcdTEMP_CMDBUF_BYTES 0x20000u

/* A rectangle: left and top inside, right and bottom outside. */
typedef struct gcsRECT {
    int32_t left, top, right, bottom;
} gcsRECT;

/* The temporary command buffer handed out by gcoBUFFER_StartTEMPCMDBUF. */
typedef struct gcsTEMPCMDBUF {
    uint32_t currentByteSize; /* bytes the caller wrote */
    void* buffer;
    int32_t inUse;
} gcsTEMPCMDBUF;

/* The atomic-mode record of a command buffer, shared with whoever watches its submissions:
 * while `state` is non-zero every reservation keeps 8 bytes more in hand than it takes; a
 * commit runs with state 0, then shows 2 while it counts itself in `counter` (at most 63), and
 * leaves state 1. */
typedef struct gcsBUFFER_ATOMIC {
    volatile uint32_t state;
    volatile uint32_t counter;
} gcsBUFFER_ATOMIC;

gceSTATUS gcoHARDWARE_Construct(gcoHAL hal, uint32_t type, gcoHARDWARE* hardware);
gceSTATUS gcoHARDWARE_Destroy(gcoHARDWARE hardware, int32_t threadDefault);
gceSTATUS gcoHARDWARE_Commit(gcoHARDWARE hardware);
gceSTATUS gcoHARDWARE_Stall(gcoHARDWARE hardware);
gceSTATUS gcoHARDWARE_CallEvent(gcoHARDWARE hardware, gcsIO_REQUEST* request);
gceSTATUS gcoHARDWARE_SelectPipe(gcoHARDWARE hardware, uint32_t pipe, uint32_t** cursor);
gceSTATUS gcoHARDWARE_FlushPipe(gcoHARDWARE hardware, uint32_t** cursor);
gceSTATUS gcoHARDWARE_InvalidateCache(gcoHARDWARE hardware);

gceSTATUS gcoHARDWARE_QueryChipIdentity(gcoHARDWARE hardware, uint32_t* model,
                                        uint32_t* revision, uint32_t* features,
                                        uint32_t* minorFeatures, uint32_t* minorFeatures1,
                                        uint32_t* minorFeatures2, uint32_t* minorFeatures3,
                                        uint32_t* minorFeatures4, uint32_t* minorFeatures5);
gceSTATUS gcoHARDWARE_GetProductName(gcoHARDWARE hardware, char** productName);
gceSTATUS gcoHARDWARE_IsFeatureAvailable(gcoHARDWARE hardware, uint32_t feature);
gceSTATUS gcoHARDWARE_IsSwwaNeeded(gcoHARDWARE hardware, uint32_t workaround);
gceSTATUS gcoHARDWARE_Is2DAvailable(gcoHARDWARE hardware);
gceSTATUS gcoHARDWARE_IsMultiPipes(gcoHARDWARE hardware);
gceSTATUS gcoHARDWARE_Query3DCoreCount(gcoHARDWARE hardware, uint32_t* count);
gceSTATUS gcoHARDWARE_QueryTileSize(int32_t* tileWidth2D, int32_t* tileHeight2D,
                                    int32_t* tileWidth3D, int32_t* tileHeight3D,
                                    uint32_t* stride);
gceSTATUS gcoHARDWARE_GetContext(gcoHARDWARE hardware, uint32_t* context);
gceSTATUS gcoHARDWARE_Get2DHardware(gcoHARDWARE* hardware);
gceSTATUS gcoHARDWARE_Set2DHardware(gcoHARDWARE hardware);
gceSTATUS gcoHARDWARE_DetectProcess(gcoHARDWARE hardware);

/* State loads: `address` is a byte address of the register file. */
gceSTATUS gcoHARDWARE_LoadState(gcoHARDWARE hardware, uint32_t address, uint32_t count,
                                const uint32_t* data);
gceSTATUS gcoHARDWARE_LoadState32(gcoHARDWARE hardware, uint32_t address, uint32_t value);
gceSTATUS gcoHARDWARE_LoadState32x(gcoHARDWARE hardware, uint32_t address, uint32_t value);
gceSTATUS gcoHARDWARE_LoadState32WithMask(gcoHARDWARE hardware, uint32_t address, uint32_t mask,
                                          uint32_t value);
gceSTATUS gcoHARDWARE_LoadState64(gcoHARDWARE hardware, uint32_t address, uint32_t low,
                                  uint32_t high);
gceSTATUS gcoHARDWARE_QueryCommandBuffer(gcoHARDWARE hardware, uint32_t* alignment,
                                         uint32_t* reservedHead, uint32_t* reservedTail,
                                         uint32_t* kernelAllocated);

/* The 2D command window: a frame's words are written into reserved command-buffer space.
 * Without a window only the word index advances, which measures a frame. */
gceSTATUS gcoHARDWARE_Load2DState(gcoHARDWARE hardware, uint32_t address, uint32_t count,
                                  const uint32_t* data);
gceSTATUS gcoHARDWARE_Load2DState32(gcoHARDWARE hardware, uint32_t address, uint32_t value);
gceSTATUS gcoHARDWARE_2DAppendNop(gcoHARDWARE hardware);
gceSTATUS gcoHARDWARE_End2DFrame(gcoHARDWARE hardware);
gceSTATUS gcoHARDWARE_TranslateCommand(uint32_t command, uint32_t* hwCommand);
uint32_t gcoHARDWARE_GetStretchFactor(int32_t gdiStretch, int32_t source, int32_t destination);
gceSTATUS gcoHARDWARE_GetStretchFactors(int32_t gdiStretch, const gcsRECT* sourceRect,
                                        const gcsRECT* destRect, uint32_t* horizontal,
                                        uint32_t* vertical);

gceSTATUS gcoBUFFER_Construct(gcoHAL hal, gcoHARDWARE hardware, uint32_t context, size_t bytes,
                              uint32_t type, gcoBUFFER* buffer);
gceSTATUS gcoBUFFER_Destroy(gcoBUFFER buffer);
gceSTATUS gcoBUFFER_Reserve(gcoBUFFER buffer, size_t bytes, int32_t aligned, uint32_t usage,
                            gcoCMDBUF* cmdbuf);
gceSTATUS gcoBUFFER_Write(gcoBUFFER buffer, const void* data, size_t bytes, int32_t aligned);
gceSTATUS gcoBUFFER_Commit(gcoBUFFER buffer, uint32_t pipe, gcsSTATE_DELTA* delta,
                           gcoQUEUE queue);
/* Turns atomic mode on (state 1) with `record`, or off (state 0, record let go). */
gceSTATUS gcoBUFFER_SetAtomic(gcoBUFFER buffer, gcsBUFFER_ATOMIC* record, int32_t enable);
gceSTATUS gcoBUFFER_StartTEMPCMDBUF(gcoBUFFER buffer, gcsTEMPCMDBUF** temp);
gceSTATUS gcoBUFFER_EndTEMPCMDBUF(gcoBUFFER buffer);
gceSTATUS gcoCMDBUF_Construct(gcoOS os, gcoHARDWARE hardware, size_t bytes, void* info,
                              gcoCMDBUF* cmdbuf);
gceSTATUS gcoCMDBUF_Destroy(void* info, gcoCMDBUF cmdbuf);

gceSTATUS gcoQUEUE_Construct(gcoOS os, gcoQUEUE* queue);
gceSTATUS gcoQUEUE_Destroy(gcoQUEUE queue);
gceSTATUS gcoQUEUE_AppendEvent(gcoQUEUE queue, gcsIO_REQUEST* request);
gceSTATUS gcoQUEUE_Commit(gcoQUEUE queue, int32_t stall);
gceSTATUS gcoQUEUE_Free(gcoQUEUE queue);

/* The 2D engine object; its operations come with the surfaces. */
gceSTATUS gco2D_Construct(gcoHAL hal, gco2D* engine);
gceSTATUS gco2D_Destroy(gco2D engine);
gceSTATUS gco2D_Set2DEngine(gco2D engine);
gceSTATUS gco2D_UnSet2DEngine(gco2D engine);
gceSTATUS gco2D_Get2DEngine(gco2D* engine);

#ifdef __cplusplus
}
#endif

#endif /* GAL_HARDWARE_H */
