/*
 * gal_kernel.h - the interface between the 2D GPU driver and the GPU kernel driver: the one
 * ioctl request, its argument record, the 264-byte request record and its command codes, and
 * the records the kernel reads from the driver's memory by address (command buffers and
 * queued events).
 *
 * Every layout here is the same in 32-bit and 64-bit builds: addresses travel in 64-bit slots
 * that keep all their bits. The command-specific fields of a request are reached by byte
 * offset ("u+N" is offset 32 + N).
 */
#ifndef GAL_KERNEL_H
#define GAL_KERNEL_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The device nodes, tried in this order, and the one ioctl request. */
#define GAL_DEVICE_PATH "/dev/galcore"
#define GAL_DEVICE_PATH_ALT "/dev/graphics/galcore"
#define GAL_IOCTL_REQUEST 30000u

/* The driver version the kernel must report. */
#define GAL_VERSION_MAJOR 5
#define GAL_VERSION_MINOR 0
#define GAL_VERSION_PATCH 11
#define GAL_VERSION_BUILD 23085

/* Command codes (field `command`). */
enum {
    CMD_QUERY_VIDEO_MEMORY = 0,
    CMD_QUERY_CHIP_IDENTITY = 1,
    CMD_ALLOCATE_NON_PAGED_MEMORY = 2,
    CMD_FREE_NON_PAGED_MEMORY = 3,
    CMD_ALLOCATE_CONTIGUOUS_MEMORY = 4,
    CMD_FREE_CONTIGUOUS_MEMORY = 5,
    CMD_ALLOCATE_VIDEO_MEMORY = 7,
    CMD_RELEASE_VIDEO_MEMORY = 8,
    CMD_MAP_MEMORY = 9,
    CMD_UNMAP_MEMORY = 10,
    CMD_MAP_USER_MEMORY = 11,
    CMD_UNMAP_USER_MEMORY = 12,
    CMD_LOCK_VIDEO_MEMORY = 13,
    CMD_UNLOCK_VIDEO_MEMORY = 14,
    CMD_EVENT_COMMIT = 15,
    CMD_USER_SIGNAL = 16,
    CMD_SIGNAL = 17,
    CMD_COMMIT = 19,
    CMD_READ_REGISTER = 21,
    CMD_WRITE_REGISTER = 22,
    CMD_SET_PROFILE_SETTING = 24,
    CMD_PROFILE_REGISTERS_2D = 26,
    CMD_SET_POWER_MANAGEMENT_STATE = 27,
    CMD_QUERY_POWER_MANAGEMENT_STATE = 28,
    CMD_GET_BASE_ADDRESS = 29,
    CMD_CACHE = 35,
    CMD_TIMESTAMP = 36,
    CMD_VERSION = 38,
    CMD_CHIP_INFO = 39,
    CMD_ATTACH = 40,
    CMD_DETACH = 41,
    CMD_SET_TIMEOUT = 43,
    CMD_ALLOCATE_COMMAND_BUFFER = 49,
    CMD_FREE_COMMAND_BUFFER = 50,
    CMD_NAME_VIDEO_MEMORY = 53,
    CMD_IMPORT_VIDEO_MEMORY = 54,
    CMD_SHBUF = 61,
    CMD_CONFIG_POWER_MANAGEMENT = 62
};

/* Sub-commands of CMD_USER_SIGNAL (u+0). */
enum {
    USER_SIGNAL_CREATE = 0,
    USER_SIGNAL_DESTROY = 1,
    USER_SIGNAL_SIGNAL = 2,
    USER_SIGNAL_WAIT = 3,
    USER_SIGNAL_MAP = 4,
    USER_SIGNAL_UNMAP = 5
};

/* Sub-commands of CMD_SHBUF (u+0). */
enum { SHBUF_ALLOCATE = 0, SHBUF_FREE = 1, SHBUF_MAP = 2, SHBUF_WRITE = 3, SHBUF_READ = 4 };

/* Video-memory pools (CMD_ALLOCATE_VIDEO_MEMORY u+16). Pool 8 is user memory that the kernel
 * does not own. */
enum {
    GAL_POOL_DEFAULT = 1,
    GAL_POOL_LOCAL = 2,
    GAL_POOL_LOCAL_INTERNAL = 3,
    GAL_POOL_LOCAL_EXTERNAL = 4,
    GAL_POOL_UNIFIED = 5,
    GAL_POOL_SYSTEM = 6,
    GAL_POOL_VIRTUAL = 7,
    GAL_POOL_USER = 8,
    GAL_POOL_CONTIGUOUS = 9
};

/* CMD_COMMIT: u+8 the command-buffer record, u+16 the state delta, u+24 the event queue's head.
 * u+32 may name a signal of the caller's that it waits on right after the commit (its stall);
 * a kernel that has already reached that signal within the commit takes it for the caller and
 * answers 1 at u+40, which saves the caller its wait. A kernel that does not know the field
 * leaves u+40 at 0 and the caller waits as usual. */
#define GAL_COMMIT_WAIT_SIGNAL 32u
#define GAL_COMMIT_WAIT_REACHED 40u

/* Sources of a deferred CMD_SIGNAL (u+24). */
enum { GAL_SIGNAL_SOURCE_BUFFER = 0, GAL_SIGNAL_SOURCE_STALL = 4 };

/* The kernel request record: 264 bytes, input and output at once. */
typedef struct gcsIO_REQUEST {
    uint32_t command;      /* command code */
    uint32_t hardwareType; /* the calling thread's current type (2 before initialisation) */
    int32_t status;        /* written by the kernel */
    uint8_t unfilled[20];  /* not filled by the driver */
    uint8_t u[232];        /* command-specific fields */
} gcsIO_REQUEST;

/* The ioctl's argument record: input pointer, input size, output pointer, output size. */
typedef struct gcsIO_ARGS {
    uint64_t inPointer;
    uint64_t inSize;
    uint64_t outPointer;
    uint64_t outSize;
} gcsIO_ARGS;

/* A command buffer as the kernel reads it at CMD_COMMIT (96 bytes, magic "CMDB"). The bytes
 * to execute are logical + [startOffset, offset). */
typedef struct gcsCMDBUF_RECORD {
    uint32_t magic;
    uint32_t size;         /* bytes of the buffer */
    uint64_t physical;     /* physical address of the buffer */
    uint64_t logical;      /* the buffer in the committing process */
    uint32_t startOffset;  /* where this submission starts */
    uint32_t offset;       /* where the next reservation goes */
    uint32_t freeBytes;
    uint32_t lastOffset;   /* offset of the last reservation */
    uint64_t lastReserve;  /* address of the last reservation */
    uint32_t using2D;
    uint32_t using3D;
    uint32_t entryPipe;
    uint32_t exitPipe;
    uint64_t signal;       /* set by the GPU when it has finished with the buffer */
    uint64_t previous;     /* ring links */
    uint64_t next;
    uint64_t reserved;
} gcsCMDBUF_RECORD;

/* A queued event: a link to the next one and a copy of one request (272 bytes). */
typedef struct gcsQUEUE_EVENT {
    uint64_t next;
    gcsIO_REQUEST request;
} gcsQUEUE_EVENT;

#define GAL_CMDBUF_MAGIC 0x42444D43u /* "CMDB" */

#ifdef __cplusplus
}

static_assert(sizeof(gcsIO_REQUEST) == 264);
static_assert(offsetof(gcsIO_REQUEST, hardwareType) == 4);
static_assert(offsetof(gcsIO_REQUEST, status) == 8);
static_assert(offsetof(gcsIO_REQUEST, u) == 32);
static_assert(sizeof(gcsIO_ARGS) == 32);
static_assert(offsetof(gcsIO_ARGS, outSize) == 24);
static_assert(sizeof(gcsCMDBUF_RECORD) == 96);
static_assert(offsetof(gcsCMDBUF_RECORD, logical) == 16);
static_assert(offsetof(gcsCMDBUF_RECORD, startOffset) == 24);
static_assert(offsetof(gcsCMDBUF_RECORD, signal) == 64);
static_assert(offsetof(gcsCMDBUF_RECORD, next) == 80);
static_assert(sizeof(gcsQUEUE_EVENT) == 272);
static_assert(offsetof(gcsQUEUE_EVENT, request) == 8);
#else
_Static_assert(sizeof(gcsIO_REQUEST) == 264, "request record");
_Static_assert(sizeof(gcsQUEUE_EVENT) == 272, "event record");
#endif

#endif /* GAL_KERNEL_H */
