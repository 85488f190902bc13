/*
 * veldcore.h - the platform library contract.
 *
 * Every VELD_* service the daemon, the window system and the secure engine use, with what is
 * passed and what callers rely on. On a television the vendor's libveldcore.so provides these;
 * on a PC our own host implementation does (daemon/platform/host). Nothing in the product may
 * rely on more than is written here.
 *
 * Plain C so that C callers and the vendor's headers agree. Statuses are signed 32-bit, 0 on
 * success, unless a result is named.
 */
#ifndef VELDCORE_H
#define VELDCORE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define VELD_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define VELD_PRINTF(fmt, args)
#endif

/* ---- System ------------------------------------------------------------------------------ */

/* First call of a process; the result may be ignored. */
int32_t VELD_InitSystem(int argc, char** argv);
/* Last call of a process that refuses to start. */
int32_t VELD_ShutdownSystem(void);

/* ---- Log --------------------------------------------------------------------------------- */

/* Registers a log object by name and returns its handle (>= 0), negative on failure.
 * Registering a name twice returns the same handle. All levels start disabled. */
int32_t VELD_LOGM_ObjRegister(const char* name);
/* Forgets a log object; negative when the name is not registered. */
int32_t VELD_LOGM_ObjDeregister(const char* name);
/* Enables or disables one level (0..31) of a registered object. */
int32_t VELD_LOGM_BitMaskEnable(int32_t handle, uint32_t level);
int32_t VELD_LOGM_BitMaskDisable(int32_t handle, uint32_t level);
/* Writes one printf-style line when the level is enabled for the handle. A disabled level
 * costs no formatting. An invalid handle writes nothing. */
int32_t VELD_LOGM_WriteLog(int32_t handle, uint32_t level, const char* function, int32_t line,
                           const char* format, ...) VELD_PRINTF(5, 6);

/* The platform library's own log object. */
extern int32_t g_global_vdk_logm_fd;

/* ---- Threads ----------------------------------------------------------------------------- */

typedef uintptr_t VELD_THREAD; /* 0 = no thread */
typedef void* (*VELD_THREAD_ENTRY)(void* argument);

/* Starts a joinable thread named `name` (shown by the system, first 15 bytes; the thread
 * carries it by the time this returns). A stack size of 0 takes the platform default. Returns
 * 0 on failure. The thread is a POSIX thread and the library makes no use of the handle once
 * the thread runs, so a thread that nobody will join may detach itself
 * (pthread_detach(pthread_self())) and is released when it ends. */
VELD_THREAD VELD_OSA_CreateThread(const char* name, VELD_THREAD_ENTRY entry, void* argument,
                                  uint32_t stackBytes, int32_t priority, uint32_t flags);
/* Waits for the thread to end and releases it; its return value goes to *result when not
 * null. */
int32_t VELD_OSA_JoinThread(VELD_THREAD thread, void** result);

/* ---- Message endpoint -------------------------------------------------------------------- */

/* Every message on an endpoint is one record of this many bytes. */
#define VELD_IPC_MSG_BYTES 32

/* Opens the server end of a message endpoint at `path` (a fixed system path) and returns its
 * handle, 0 on failure. `depth` is the number of messages the endpoint should hold. */
uint32_t VELD_OSA_OpenIPCServer(const char* path, uint32_t depth);
/* Receives the next message into `message` (VELD_IPC_MSG_BYTES). Waits up to timeoutMs
 * (-1 = for ever). Returns 0 with a filled message, non-zero on time-out or failure.
 * Anything that is not one whole message is dropped by the platform and waiting goes on. */
int32_t VELD_OSA_RecvIPCMsg(uint32_t handle, void* message, int32_t timeoutMs);
/* Sends `message` (VELD_IPC_MSG_BYTES) to the sender of the message last received on the
 * handle. Never blocks. */
int32_t VELD_OSA_SendIPCMsg(uint32_t handle, const void* message);

/* ---- Named memory and semaphores --------------------------------------------------------- */

typedef uintptr_t VELD_HANDLE; /* 0 = failure */

/* Opens (creating when needed, zero-filled) the inter-process region `name` of `size` bytes.
 * Returns 0 on failure. */
VELD_HANDLE VELD_OSA_OpenMemory(const char* name, uint32_t size);
/* Address of the region in this process, NULL on failure. */
void* VELD_OSA_GetMemory(VELD_HANDLE region);
/* Unmaps the region in this process; the region itself stays for other processes. */
int32_t VELD_OSA_CloseMemory(VELD_HANDLE region);

/* Opens (creating when needed with `initial` units) the named semaphore `name`. `flags` is
 * passed as 17 (0x11) by every caller. Returns 0 on failure. */
VELD_HANDLE VELD_OSA_OpenSema(const char* name, uint32_t flags, uint32_t initial);
/* Takes one unit, waiting up to timeoutMs (-1 = for ever). 0 when taken. */
int32_t VELD_OSA_LockSema(VELD_HANDLE sema, int32_t timeoutMs);
int32_t VELD_OSA_UnlockSema(VELD_HANDLE sema);

/* ---- Time -------------------------------------------------------------------------------- */

uint32_t VELD_OSA_ReadMsTicks(void); /* monotonic milliseconds, wraps */
uint64_t VELD_OSA_ReadNsTicks(void); /* monotonic nanoseconds */
int32_t VELD_OSA_SleepMsec(uint32_t milliseconds);

/* ---- Kernel command line ----------------------------------------------------------------- */

/* Room callers give for a command-line value; longer values are cut to fit. */
#define VELD_CMDLINE_VALUE_MAX 64

/* `pattern` is "key=%s". Returns 0 when the key is on the kernel command line and copies its
 * value (up to the next blank, at most VELD_CMDLINE_VALUE_MAX bytes with the terminator) into
 * `value`; non-zero otherwise. */
int32_t VELD_UTIL_ScanKernelCmdline(const char* pattern, char* value);

/* ---- Board ------------------------------------------------------------------------------- */

int32_t VELD_SYS_RegReadSimple(uint32_t physicalAddress, uint32_t* value);
int32_t VELD_SYS_RegWriteSimple(uint32_t physicalAddress, uint32_t value);
int32_t VELD_SYS_EnterLowPowerMode(void);
int32_t VELD_SYS_ExitLowPowerMode(void);
/* Non-zero when the TE firmware was loaded. */
int32_t VELD_TE_Open(void);
/* 0 when the HDR event monitor thread started. */
int32_t VELD_HDR_DOLBY_event_Monitor(void);
int32_t VELD_AFE_Init_OTP_Thread(void);
/* Chip identifier; 35 and 36 have the low-power command file. */
int32_t qz_chip(void);

/* ---- Graphics surfaces and frame buffer -------------------------------------------------- */

/* The platform's surface record. Callers read words 3 (bytes per line), 4 (width) and 5
 * (height); the rest belongs to the platform. */
typedef struct VELD_GAL_SURFACE {
    uint32_t word[8];
} VELD_GAL_SURFACE;

typedef struct VELD_GAL_PALETTE {
    uint32_t entries[256];
    uint32_t count;
} VELD_GAL_PALETTE;

typedef struct VELD_FBDEV_PALETTE {
    uint32_t count;
    uint32_t reserved;
    const uint32_t* entries;
} VELD_FBDEV_PALETTE;

int32_t VELD_GAL_Open(int32_t device, uint32_t flags, uint32_t width, uint32_t height);
/* A surface of width x height; type 1, format 2 is one byte per pixel (palette index).
 * NULL on failure. */
VELD_GAL_SURFACE* VELD_GAL_AllocSurface(uint32_t type, uint32_t format, uint32_t width,
                                        uint32_t height, uint32_t flags, uint32_t reserved);
/* Fills `rect` ({x, y, width, height}, NULL = whole surface) with `color`. */
int32_t VELD_GAL_FillRectNoFx(VELD_GAL_SURFACE* surface, const int32_t* rect, uint32_t color);
/* With `mode` 1 maps the surface memory: info[0] receives its address (0 on failure). */
int32_t VELD_GAL_SurfaceMmapCtrl(int32_t device, VELD_GAL_SURFACE* surface, uintptr_t info[3],
                                 int32_t mode);
int32_t VELD_GAL_SetPalette(VELD_GAL_SURFACE* surface, const VELD_GAL_PALETTE* palette);

int32_t VELD_FBDEV_Open(int32_t layer);
/* control[0] = 1 switches software composition on. */
int32_t VELD_FBDEV_SetSWComposerCtrl(const uint32_t control[2]);
int32_t VELD_FBDEV_SetVisible(int32_t layer, int32_t visible);
int32_t VELD_FBDEV_SetPalette(int32_t layer, const VELD_FBDEV_PALETTE* palette);
/* Shows the surface's contents on the layer. */
int32_t VELD_FBDEV_UpdateScreenBySurface(int32_t layer, VELD_GAL_SURFACE* surface);

/* ---- Replay-protected eMMC (512-byte frames) --------------------------------------------- */

int32_t VELD_MMC_rpmb_read_writecounter(uint8_t* frame);
int32_t VELD_MMC_rpmb_read_block(uint8_t* frame);
int32_t VELD_MMC_rpmb_write_block(uint8_t* frame);
int32_t VELD_MMC_rpmb_key_write(const uint8_t* key, uint32_t length);

/* ---- Console input ----------------------------------------------------------------------- */

int32_t VELD_DBG_GetHexInput(const char* prompt, uint32_t* value);
int32_t VELD_DBG_GetDecimalInput(const char* prompt, uint32_t* value);
int32_t VELD_DBG_ReadCmdString(const char* prompt, char* buffer, uint32_t size);

#ifdef __cplusplus
}
#endif

#endif /* VELDCORE_H */
