/*
 * gal_os.h - the 2D GPU driver's operating-system layer (gcoOS): the process-wide record
 * gcPLS, the per-thread record, the one path of every kernel request (gcoOS_DeviceControl),
 * and the wrappers of memory, files, sockets, threads, mutexes, atoms, signals, time, dynamic
 * libraries, strings and debug output.
 *
 * Every function returns a gceSTATUS unless stated otherwise. The first argument of most of
 * them is an object handle that is accepted and ignored (pass NULL); the process's objects are
 * found through gcPLS. Ownership: what a Create/Construct/Allocate call hands out is freed by
 * its Destroy/Delete/Free partner; every other pointer is borrowed for the call.
 */
#ifndef GAL_OS_H
#define GAL_OS_H

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

#include "gal_kernel.h"
#include "gal_status.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _gcoOS* gcoOS;
typedef struct _gcoHAL* gcoHAL;
typedef struct _gcoHARDWARE* gcoHARDWARE;
typedef struct _gco2D* gco2D;
typedef struct _gcoDUMP* gcoDUMP;
typedef struct _gcoHEAP* gcoHEAP;
typedef struct gcsATOM* gcsATOM_PTR;
typedef void* gcsSIGNAL_PTR;  /* a kernel signal: its id */
typedef void* gcsMUTEX_PTR;
typedef void* gcsFILE_PTR;    /* a stdio stream */

/* One video-memory pool as queried from the kernel and mapped into the process. */
typedef struct gcsPOOL_INFO {
    uint64_t bytes;
    uint64_t physical;
    void* logical;
} gcsPOOL_INFO;

/* The process-wide record gcPLS. */
typedef struct gcsPROCESS_DATA gcsPROCESS_DATA;
typedef void (*gctPLS_DESTRUCTOR)(gcsPROCESS_DATA* pls, gcsATOM_PTR reference);
struct gcsPROCESS_DATA {
    gcoOS os;                    /* NULL before first use */
    gcoHAL hal;
    gcsPOOL_INFO internalPool;
    gcsPOOL_INFO externalPool;
    gcsPOOL_INFO contiguousPool;
    uintptr_t plsValue[3];       /* for the library's clients; value 2 starts as 212 */
    gcsATOM_PTR reference;       /* threads using the library, plus the process itself */
    uint32_t processId;          /* 0: not initialised */
    uint32_t mainThreadId;
    uint32_t exiting;            /* set by the process-exit hook */
    gctPLS_DESTRUCTOR destructor; /* PLS value 3 */
    gcsMUTEX_PTR accessLock;     /* recursive; gcoOS_LockPLS / gcoOS_UnLockPLS */
};

/* The per-thread record. */
typedef struct gcsTHREAD_DATA gcsTHREAD_DATA;
typedef void (*gctTLS_DESTRUCTOR)(gcsTHREAD_DATA* record);
struct gcsTHREAD_DATA {
    uint32_t currentType;        /* hardware type of this thread's requests; starts as 2 */
    gcoHARDWARE currentHardware;
    gcoHARDWARE defaultHardware; /* type 1 */
    gcoHARDWARE hardware2D;      /* the separate 2D core */
    gco2D engine2D;
    gctTLS_DESTRUCTOR destructor;
    uint32_t copied;             /* made by gcoOS_CopyTLS: owns nothing */
    void* libraryHandle;         /* the library pin of a non-main thread */
    uint32_t engineBorrowed;     /* installed by gco2D_Set2DEngine: not destroyed at exit */
};

#define gcdOPTION_COUNT 52

extern gcsPROCESS_DATA gcPLS;
extern uint32_t gcOptions[gcdOPTION_COUNT];
extern uint32_t gcFrameInfos[4];
extern uint32_t gcUserDebugOption;

/* Process and thread state. */
gceSTATUS gcoOS_GetTLS(gcsTHREAD_DATA** record);
gceSTATUS gcoOS_CopyTLS(gcsTHREAD_DATA* source);
gceSTATUS gcoOS_FreeThreadData(void);
gceSTATUS gcoOS_Construct(void* context, gcoOS* os);
gceSTATUS gcoOS_Destroy(gcoOS os);
uintptr_t gcoOS_GetPLSValue(uint32_t n);
void gcoOS_SetPLSValue(uint32_t n, uintptr_t value);
void gcoOS_LockPLS(void);
void gcoOS_UnLockPLS(void);

/* Kernel requests. */
gceSTATUS gcoOS_DeviceControl(gcoOS os, uint32_t ioctlCode, void* in, uint32_t inSize,
                              void* out, uint32_t outSize);

/* Memory. */
gceSTATUS gcoOS_Allocate(gcoOS os, size_t bytes, void** memory);
gceSTATUS gcoOS_Free(gcoOS os, void* memory);
gceSTATUS gcoOS_AllocateMemory(gcoOS os, size_t bytes, void** memory);
gceSTATUS gcoOS_FreeMemory(gcoOS os, void* memory);
gceSTATUS gcoOS_AllocateSharedMemory(gcoOS os, size_t bytes, void** memory);
gceSTATUS gcoOS_FreeSharedMemory(gcoOS os, void* memory);
gceSTATUS gcoOS_GetMemorySize(gcoOS os, void* memory, size_t* bytes);
gceSTATUS gcoOS_AllocateNonPagedMemory(gcoOS os, int32_t userCached, size_t* bytes,
                                       uint64_t* physical, void** logical);
gceSTATUS gcoOS_FreeNonPagedMemory(gcoOS os, size_t bytes, uint64_t physical, void* logical);
gceSTATUS gcoOS_AllocateContiguous(gcoOS os, int32_t cacheable, size_t* bytes,
                                   uint64_t* physical, void** logical);
gceSTATUS gcoOS_FreeContiguous(gcoOS os, uint64_t physical, void* logical, size_t bytes);
gceSTATUS gcoOS_AllocateVideoMemory(gcoOS os, int32_t cacheable, size_t* bytes,
                                    uint32_t* physical, void** logical, uint32_t* node);
gceSTATUS gcoOS_FreeVideoMemory(gcoOS os, uint32_t node);
gceSTATUS gcoOS_MapUserMemory(gcoOS os, void* memory, size_t size, uint32_t* info,
                              uint32_t* address);
gceSTATUS gcoOS_MapUserMemoryEx(gcoOS os, void* memory, uint64_t physical, size_t size,
                                uint32_t* info, uint32_t* address);
gceSTATUS gcoOS_UnmapUserMemory(gcoOS os, void* memory, size_t size, uint32_t info,
                                uint32_t address);
gceSTATUS gcoOS_QueryVideoMemory(gcoOS os, uint64_t* internalPhysical, size_t* internalBytes,
                                 uint64_t* externalPhysical, size_t* externalBytes,
                                 uint64_t* contiguousPhysical, size_t* contiguousBytes);
gceSTATUS gcoOS_GetBaseAddress(gcoOS os, uint32_t* baseAddress);
gceSTATUS gcoOS_CPUPhysicalToGPUPhysical(uint32_t cpuPhysical, uint32_t* gpuPhysical);

/* A heap of arenas (gcoHEAP): blocks come from arenas of `allocationSize` bytes (0: 64 KB)
 * taken from the system; freed blocks are merged and emptied arenas given back when an
 * allocation finds no room. Thread-safe. The driver's own records do not use it (they come
 * from the system allocator); it serves callers that construct one. Destroy frees every arena,
 * blocks still allocated included. Free of a block that is not in use is -6 (heap corrupted);
 * of a pointer the heap did not hand out -1. GetMemorySize gives the block's size with its
 * 8-byte header. ProfileStart clears the statistics; ProfileEnd does nothing. */
gceSTATUS gcoHEAP_Construct(gcoOS os, size_t allocationSize, gcoHEAP* heap);
gceSTATUS gcoHEAP_Destroy(gcoHEAP heap);
gceSTATUS gcoHEAP_Allocate(gcoHEAP heap, size_t bytes, void** memory);
gceSTATUS gcoHEAP_Free(gcoHEAP heap, void* memory);
gceSTATUS gcoHEAP_GetMemorySize(gcoHEAP heap, void* memory, size_t* bytes);
gceSTATUS gcoHEAP_ProfileStart(gcoHEAP heap);
gceSTATUS gcoHEAP_ProfileEnd(gcoHEAP heap, const char* title);

/* Cache and registers. */
gceSTATUS gcoOS_CacheClean(gcoOS os, uint32_t node, void* logical, size_t bytes);
gceSTATUS gcoOS_CacheInvalidate(gcoOS os, uint32_t node, void* logical, size_t bytes);
gceSTATUS gcoOS_CacheFlush(gcoOS os, uint32_t node, void* logical, size_t bytes);
gceSTATUS gcoOS_MemoryBarrier(gcoOS os, void* logical);
gceSTATUS gcoOS_ReadRegister(gcoOS os, uint32_t address, uint32_t* data);
gceSTATUS gcoOS_WriteRegister(gcoOS os, uint32_t address, uint32_t data);

/* Files: mode 0 "wb", 1 "ab", 2 "rb", 3 "w", 4 "a", 5 "r". */
gceSTATUS gcoOS_Open(gcoOS os, const char* path, uint32_t mode, gcsFILE_PTR* file);
gceSTATUS gcoOS_Close(gcoOS os, gcsFILE_PTR file);
gceSTATUS gcoOS_Read(gcoOS os, gcsFILE_PTR file, size_t bytes, void* buffer, size_t* bytesRead);
gceSTATUS gcoOS_Write(gcoOS os, gcsFILE_PTR file, size_t bytes, const void* buffer);
gceSTATUS gcoOS_Flush(gcoOS os, gcsFILE_PTR file);
gceSTATUS gcoOS_Seek(gcoOS os, gcsFILE_PTR file, int32_t delta, uint32_t whence);
gceSTATUS gcoOS_GetPos(gcoOS os, gcsFILE_PTR file, uint32_t* position);
gceSTATUS gcoOS_SetPos(gcoOS os, gcsFILE_PTR file, uint32_t position);
gceSTATUS gcoOS_Stat(gcoOS os, const char* path, void* statBuffer);
gceSTATUS gcoOS_DupFD(gcoOS os, int fd, int* newFd);
gceSTATUS gcoOS_CloseFD(gcoOS os, int fd);
gceSTATUS gcoOS_GetCwd(gcoOS os, int32_t size, char* buffer);
gceSTATUS gcoOS_GetEnv(gcoOS os, const char* name, char** value);
gceSTATUS gcoOS_SetEnv(gcoOS os, const char* name, const char* value);

/* Sockets (IPv4). */
gceSTATUS gcoOS_Socket(gcoOS os, int domain, int type, int protocol, int* socketFd);
gceSTATUS gcoOS_CloseSocket(gcoOS os, int socketFd);
gceSTATUS gcoOS_Shutdown(gcoOS os, int socketFd, int how);
gceSTATUS gcoOS_Send(gcoOS os, int socketFd, size_t bytes, const void* data, int flags);
gceSTATUS gcoOS_WaitForSend(gcoOS os, int socketFd, int seconds, int microseconds);
gceSTATUS gcoOS_Connect(gcoOS os, int socketFd, const char* host, uint32_t port);

/* Threads and time. */
typedef void* (*gctTHREAD_ROUTINE)(void* argument);
gceSTATUS gcoOS_CreateThread(gcoOS os, gctTHREAD_ROUTINE routine, void* argument, void** thread);
gceSTATUS gcoOS_CloseThread(gcoOS os, void* thread);
uint32_t gcoOS_GetCurrentProcessID(void);
uint32_t gcoOS_GetCurrentThreadID(void);
gceSTATUS gcoOS_Delay(gcoOS os, uint32_t milliseconds);
uint32_t gcoOS_GetTicks(void);
gceSTATUS gcoOS_GetTime(uint64_t* microseconds);
gceSTATUS gcoOS_GetCPUTime(uint64_t* microseconds);
gceSTATUS gcoOS_GetMemoryUsage(uint32_t* maxResidentSize, uint32_t* integralSharedSize,
                               uint32_t* integralUnsharedDataSize,
                               uint32_t* integralUnsharedStackSize);
gceSTATUS gcoOS_GetProfileTick(uint64_t* tick);
gceSTATUS gcoOS_QueryProfileTickRate(uint64_t* tickRate);

/* Mutexes (recursive) and atoms. Time-outs in milliseconds; 0xFFFFFFFF waits for ever. */
gceSTATUS gcoOS_CreateMutex(gcoOS os, gcsMUTEX_PTR* mutex);
gceSTATUS gcoOS_DeleteMutex(gcoOS os, gcsMUTEX_PTR mutex);
gceSTATUS gcoOS_AcquireMutex(gcoOS os, gcsMUTEX_PTR mutex, uint32_t timeout);
gceSTATUS gcoOS_ReleaseMutex(gcoOS os, gcsMUTEX_PTR mutex);
gceSTATUS gcoOS_AtomConstruct(gcoOS os, gcsATOM_PTR* atom);
gceSTATUS gcoOS_AtomDestroy(gcoOS os, gcsATOM_PTR atom);
gceSTATUS gcoOS_AtomGet(gcoOS os, gcsATOM_PTR atom, int32_t* value);
gceSTATUS gcoOS_AtomSet(gcoOS os, gcsATOM_PTR atom, int32_t value);
gceSTATUS gcoOS_AtomIncrement(gcoOS os, gcsATOM_PTR atom, int32_t* previous);
gceSTATUS gcoOS_AtomDecrement(gcoOS os, gcsATOM_PTR atom, int32_t* previous);

/* Kernel signals. `wait` in milliseconds; 0xFFFFFFFF waits for ever. */
gceSTATUS gcoOS_CreateSignal(gcoOS os, int32_t manualReset, gcsSIGNAL_PTR* signal);
gceSTATUS gcoOS_DestroySignal(gcoOS os, gcsSIGNAL_PTR signal);
gceSTATUS gcoOS_Signal(gcoOS os, gcsSIGNAL_PTR signal, int32_t state);
gceSTATUS gcoOS_WaitSignal(gcoOS os, gcsSIGNAL_PTR signal, uint32_t wait);
gceSTATUS gcoOS_MapSignal(gcsSIGNAL_PTR signal, gcsSIGNAL_PTR* mapped);
gceSTATUS gcoOS_UnmapSignal(gcsSIGNAL_PTR signal);
gceSTATUS gcoOS_AddSignalHandler(uint32_t type);

/* Dynamic libraries. */
gceSTATUS gcoOS_LoadLibrary(gcoOS os, const char* name, void** handle);
gceSTATUS gcoOS_FreeLibrary(gcoOS os, void* handle);
gceSTATUS gcoOS_GetProcAddress(gcoOS os, void* handle, const char* name, void** function);

/* Strings. */
gceSTATUS gcoOS_StrStr(const char* string, const char* sub, char** output);
gceSTATUS gcoOS_StrFindReverse(const char* string, int8_t character, char** output);
gceSTATUS gcoOS_StrCopySafe(char* destination, size_t size, const char* source);
gceSTATUS gcoOS_StrCatSafe(char* destination, size_t size, const char* source);
gceSTATUS gcoOS_StrCmp(const char* a, const char* b);
gceSTATUS gcoOS_StrNCmp(const char* a, const char* b, size_t count);
gceSTATUS gcoOS_StrToInt(const char* string, int32_t* value);
gceSTATUS gcoOS_StrToFloat(const char* string, float* value);
gceSTATUS gcoOS_HexStrToInt(const char* string, int32_t* value);
gceSTATUS gcoOS_HexStrToFloat(const char* string, float* value);
gceSTATUS gcoOS_MemCmp(const void* a, const void* b, size_t bytes);
gceSTATUS gcoOS_PrintStrSafe(char* string, size_t size, uint32_t* offset, const char* format, ...);
gceSTATUS gcoOS_PrintStrVSafe(char* string, size_t size, uint32_t* offset, const char* format,
                              va_list arguments);
gceSTATUS gcoOS_StrDup(gcoOS os, const char* string, char** copy);

/* Processes: 1 when the name occurs in the command line, else 0. */
int32_t gcoOS_DetectProcessByNamePid(const char* name, uint32_t pid);
int32_t gcoOS_DetectProcessByName(const char* name);
int32_t gcoOS_DetectProcessByEncryptedName(const char* name);

/* Debug output and profiling. */
void gcoOS_Print(const char* format, ...);
void gcoOS_DebugTrace(uint32_t level, const char* format, ...);
void gcoOS_DebugTraceZone(uint32_t level, uint32_t zone, const char* format, ...);
void gcoOS_SetDebugLevel(uint32_t level);
void gcoOS_GetDebugLevel(uint32_t* level);
void gcoOS_SetDebugZone(uint32_t zone);
void gcoOS_GetDebugZone(uint32_t zone, uint32_t* zones);
void gcoOS_SetDebugLevelZone(uint32_t level, uint32_t zone);
void gcoOS_SetDebugZones(uint32_t zones, int32_t enable);
void gcoOS_SetDebugFile(const char* fileName);
gcsFILE_PTR gcoOS_ReplaceDebugFile(gcsFILE_PTR file);
void gcoOS_DebugBreak(void);
void gcoOS_DebugFatal(int32_t reserved, const char* format, ...);
const char* gcoOS_DebugStatus2Name(gceSTATUS status);
void gcoOS_StackPush(int8_t* identity, const char* function, uint32_t line, const char* text, ...);
void gcoOS_StackPop(int8_t* identity, const char* function);
void gcoOS_StackDump(void);
void gcoOS_SysTraceBegin(const char* name);
void gcoOS_SysTraceEnd(void);
void gcoOS_BinaryTrace(const char* function, int32_t line, const char* text, ...);
gceSTATUS gcoOS_Verify(gceSTATUS status);
gceSTATUS gcoOS_EnableDebugBuffer(uint32_t size);
gceSTATUS gcoOS_WriteToStorage(void);
gceSTATUS gcoOS_Compact(gcoOS os);
gceSTATUS gcoOS_RecordAllocation(void);
gceSTATUS gcoOS_EndRecordAllocation(void);
gceSTATUS gcoOS_AddRecordAllocation(size_t size);
gceSTATUS gcoOS_ProfileStart(gcoOS os);
gceSTATUS gcoOS_ProfileEnd(gcoOS os, const char* title);
gceSTATUS gcoOS_SetProfileSetting(gcoOS os, int32_t enable, const char* fileName);
gceSTATUS gcoOS_ProfileDB(const char* title, int32_t line);

#ifdef __cplusplus
}

/* Layouts, the same on 32-bit ARM and on 64-bit PCs apart from pointer width. */
static_assert(sizeof(gcsPOOL_INFO) == 24);
static_assert(offsetof(gcsPROCESS_DATA, internalPool) == (sizeof(void*) == 4 ? 8 : 16));
static_assert(offsetof(gcsPROCESS_DATA, contiguousPool) == (sizeof(void*) == 4 ? 56 : 64));
static_assert(offsetof(gcsPROCESS_DATA, plsValue) == (sizeof(void*) == 4 ? 80 : 88));
static_assert(offsetof(gcsPROCESS_DATA, reference) == (sizeof(void*) == 4 ? 92 : 112));
static_assert(offsetof(gcsPROCESS_DATA, processId) == (sizeof(void*) == 4 ? 96 : 120));
static_assert(offsetof(gcsPROCESS_DATA, exiting) == (sizeof(void*) == 4 ? 104 : 128));
static_assert(offsetof(gcsPROCESS_DATA, destructor) == (sizeof(void*) == 4 ? 108 : 136));
static_assert(offsetof(gcsPROCESS_DATA, accessLock) == (sizeof(void*) == 4 ? 112 : 144));
static_assert(sizeof(gcsPROCESS_DATA) == (sizeof(void*) == 4 ? 120 : 152));
static_assert(offsetof(gcsTHREAD_DATA, currentHardware) == (sizeof(void*) == 4 ? 4 : 8));
static_assert(offsetof(gcsTHREAD_DATA, engine2D) == (sizeof(void*) == 4 ? 16 : 32));
static_assert(offsetof(gcsTHREAD_DATA, copied) == (sizeof(void*) == 4 ? 24 : 48));
static_assert(offsetof(gcsTHREAD_DATA, libraryHandle) == (sizeof(void*) == 4 ? 28 : 56));
static_assert(sizeof(gcsTHREAD_DATA) == (sizeof(void*) == 4 ? 36 : 72));
#endif

#endif /* GAL_OS_H */
