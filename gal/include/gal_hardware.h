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
