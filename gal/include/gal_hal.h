/*
 * gal_hal.h - the 2D GPU driver's hardware abstraction layer (gcoHAL): the kernel version
 * check, the chip's cores, the per-thread hardware type and hardware objects, and the memory,
 * power, timer and shared-buffer requests of the kernel interface. The process has one gcoHAL,
 * created on first use; the `hal` argument of the calls is accepted and ignored.
 */
#ifndef GAL_HAL_H
#define GAL_HAL_H

#include "gal_os.h"

#ifdef __cplusplus
extern "C" {
#endif

gceSTATUS gcoHAL_ConstructEx(void* context, gcoOS os, gcoHAL* hal);
gceSTATUS gcoHAL_Construct(void* context, gcoOS os, gcoHAL* hal);
gceSTATUS gcoHAL_DestroyEx(gcoHAL hal);
gceSTATUS gcoHAL_Destroy(gcoHAL hal);
/* Sends `request` (264 bytes) and returns the call's failure, else the request's status. */
gceSTATUS gcoHAL_Call(gcoHAL hal, gcsIO_REQUEST* request);

/* Hardware type and objects of the calling thread. */
gceSTATUS gcoHAL_SetHardwareType(gcoHAL hal, uint32_t type);
gceSTATUS gcoHAL_GetHardwareType(gcoHAL hal, uint32_t* type);
gceSTATUS gcoHAL_GetHardware(gcoHAL hal, gcoHARDWARE* hardware);
gceSTATUS gcoHAL_GetProductName(gcoHAL hal, char** productName);
gceSTATUS gcoHAL_Get2DEngine(gcoHAL hal, gco2D* engine);

/* Chip queries. */
gceSTATUS gcoHAL_QueryChipIdentity(gcoHAL hal, uint32_t* model, uint32_t* revision,
                                   uint32_t* features, uint32_t* minorFeatures);
gceSTATUS gcoHAL_QueryChipMinorFeatures(gcoHAL hal, uint32_t* count, uint32_t* words);
gceSTATUS gcoHAL_QueryChipCount(gcoHAL hal, int32_t* count);
gceSTATUS gcoHAL_QuerySeparated2D(gcoHAL hal);
gceSTATUS gcoHAL_Is3DAvailable(gcoHAL hal);
gceSTATUS gcoHAL_QueryChipFeature(gcoHAL hal, int32_t chip, uint32_t feature);
gceSTATUS gcoHAL_IsFeatureAvailable(gcoHAL hal, uint32_t feature);
gceSTATUS gcoHAL_IsFeatureAvailable1(gcoHAL hal, uint32_t feature);
gceSTATUS gcoHAL_IsSwwaNeeded(gcoHAL hal, uint32_t workaround);
gceSTATUS gcoHAL_Query3DCoreCount(gcoHAL hal, uint32_t* count);
gceSTATUS gcoHAL_QueryTiled(gcoHAL hal, int32_t* tiled2D, int32_t* tiled3D);
gceSTATUS gcoHAL_QueryChipLimits(gcoHAL hal, int32_t chip, void* limits);

/* Memory. */
gceSTATUS gcoHAL_QueryVideoMemory(gcoHAL hal, uint64_t* internalPhysical, size_t* internalBytes,
                                  uint64_t* externalPhysical, size_t* externalBytes,
                                  uint64_t* contiguousPhysical, size_t* contiguousBytes);
gceSTATUS gcoHAL_MapMemory(gcoHAL hal, uint64_t physical, size_t bytes, void** logical);
gceSTATUS gcoHAL_UnmapMemory(gcoHAL hal, uint64_t physical, size_t bytes, void* logical);
gceSTATUS gcoHAL_MapUserMemory(gcoHAL hal, void* memory, uint64_t physical, size_t size,
                               uint32_t* info, uint32_t* address);
gceSTATUS gcoHAL_UnmapUserMemory(gcoHAL hal, void* memory, size_t size, uint32_t info,
                                 uint32_t address);
gceSTATUS gcoHAL_ScheduleUnmapMemory(gcoHAL hal, uint64_t physical, size_t bytes, void* logical);
gceSTATUS gcoHAL_ScheduleUnmapUserMemory(gcoHAL hal, uint32_t info, size_t size,
                                         uint32_t address, void* memory);
gceSTATUS gcoHAL_NameVideoMemory(uint32_t node, uint32_t* name);
gceSTATUS gcoHAL_ImportVideoMemory(uint32_t name, uint32_t* node);
gceSTATUS gcoHAL_DestroySurface(gcoHAL hal, void* surface);

/* Submission. */
gceSTATUS gcoHAL_Commit(gcoHAL hal, int32_t stall);
gceSTATUS gcoHAL_ScheduleEvent(gcoHAL hal, gcsIO_REQUEST* request);

/* Power and timers. */
gceSTATUS gcoHAL_SetPowerManagementState(gcoHAL hal, uint32_t state);
gceSTATUS gcoHAL_QueryPowerManagementState(gcoHAL hal, uint32_t* state);
gceSTATUS gcoHAL_ConfigPowerManagement(int32_t enable);
gceSTATUS gcoHAL_SetTimeOut(gcoHAL hal, uint32_t timeout);
gceSTATUS gcoHAL_GetTimerTime(gcoHAL hal, uint32_t timer, uint64_t* time);
gceSTATUS gcoHAL_SetTimer(gcoHAL hal, uint32_t timer, int32_t start);
gceSTATUS gcoHAL_ProfileStart(gcoHAL hal);
gceSTATUS gcoHAL_ProfileEnd(gcoHAL hal, const char* title);

/* Shared buffers. */
gceSTATUS gcoHAL_CreateShBuffer(uint32_t size, uint64_t* id);
gceSTATUS gcoHAL_DestroyShBuffer(uint64_t id);
gceSTATUS gcoHAL_MapShBuffer(uint64_t id);
gceSTATUS gcoHAL_WriteShBuffer(uint64_t id, const void* data, uint32_t bytes);
gceSTATUS gcoHAL_ReadShBuffer(uint64_t id, void* data, uint32_t bytes, uint32_t* bytesRead);

/* Options and counters. */
gceSTATUS gcoHAL_GetOption(gcoHAL hal, uint32_t option);
uint32_t* gcGetUserDebugOption(void);
gceSTATUS gcoHAL_FrameInfoOps(gcoHAL hal, uint32_t counter, uint32_t operation, uint32_t* value);
gceSTATUS gcoHAL_AddFrameDB(void);
gceSTATUS gcoHAL_DumpFrameDB(const char* fileName);

#ifdef __cplusplus
}
#endif

#endif /* GAL_HAL_H */
